// Sysfs "key value" files: a tokenizer with the rules of the library's scanf loop.
#include "sim/sysfs/sysfs_properties.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "fixture/fixture_error.h"

namespace {

constexpr bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The text the library sees: one page, up to a NUL byte.
std::string_view visibleText(std::string_view text) {
    text = text.substr(0, sysfsPageSize);
    return text.substr(0, text.find('\0'));
}

// Walks the whitespace-separated tokens of a text.
class Tokens {
  public:
    explicit Tokens(std::string_view text) : text_(text) {}

    // The next token, or an empty view at the end; `start` is its offset.
    std::string_view next(std::size_t& start) {
        while (position_ < text_.size() && isSpace(text_[position_])) {
            ++position_;
        }
        start = position_;
        while (position_ < text_.size() && !isSpace(text_[position_])) {
            ++position_;
        }
        return text_.substr(start, position_ - start);
    }

  private:
    std::string_view text_;
    std::size_t position_ = 0;
};

// strtoull's reading of a whole token: a sign, then digits only.
std::optional<std::uint64_t> unsignedValue(std::string_view token) {
    const bool negative = !token.empty() && token.front() == '-';
    if (!token.empty() && (token.front() == '-' || token.front() == '+')) {
        token.remove_prefix(1);
    }
    if (token.empty()) {
        return std::nullopt;
    }
    constexpr std::uint64_t largest = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    bool saturated = false;
    for (const char c : token) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        saturated = saturated || value > (largest - digit) / 10;
        value = value * 10 + digit;
    }
    if (saturated) {
        return largest;
    }
    return negative ? 0 - value : value;
}

// Refuses the line holding byte `offset` (a token's first byte, never a newline), quoted:
// "<source>: line <n>: "<line>" <problem>".
[[noreturn]] void failLine(std::string_view text, std::size_t offset, const std::string& source,
                           std::string_view problem) {
    const std::size_t newline = text.rfind('\n', offset);
    const std::size_t lineStart = newline == std::string_view::npos ? 0 : newline + 1;
    const std::size_t lineEnd = std::min(text.find('\n', offset), text.size());
    const auto lineNumber = 1 + std::count(text.begin(), text.begin() + lineStart, '\n');
    throw FixtureError(oneLine(source + ": line " + std::to_string(lineNumber) + ": \"" +
                               excerpt(text.substr(lineStart, lineEnd - lineStart)) + "\" " +
                               std::string(problem)));
}

}  // namespace

std::vector<SysfsProperty> parseSysfsProperties(std::string_view text, const std::string& source) {
    text = visibleText(text);
    Tokens tokens(text);
    std::vector<SysfsProperty> properties;
    for (;;) {
        std::size_t keyStart = 0;
        std::size_t start = 0;
        const std::string_view key = tokens.next(keyStart);
        const std::string_view valueText = tokens.next(start);
        if (key.empty()) {
            return properties;
        }
        const std::optional<std::uint64_t> value = unsignedValue(valueText);
        if (!value && (valueText.empty() || text.substr(keyStart, start - keyStart).find('\n') !=
                                                std::string_view::npos)) {
            failLine(text, keyStart, source, "has no value");
        }
        if (!value) {
            failLine(text, start, source, "is not a number");
        }
        properties.push_back({std::string(key), *value});
    }
}

std::uint64_t parseSysfsNumber(std::string_view text, const std::string& source) {
    text = visibleText(text);
    std::size_t start = 0;
    const std::string_view token = Tokens(text).next(start);
    const std::optional<std::uint64_t> value = unsignedValue(token);
    if (!value) {
        if (token.empty()) {
            throw FixtureError(oneLine(source + ": holds no number"));
        }
        failLine(text, start, source, "is not a number");
    }
    return *value;
}
