// UTF-16 to UTF-8, as the standard library's converter does it.
#include "report/utf16_text.h"

#include <stdexcept>

namespace {
void appendUtf8(std::string& text, char32_t codePoint) {
    if (codePoint < 0x80) {
        text += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        text += static_cast<char>(0xC0 | (codePoint >> 6));
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        text += static_cast<char>(0xE0 | (codePoint >> 12));
        text += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (codePoint >> 18));
        text += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

constexpr bool isHighSurrogate(std::uint16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool isLowSurrogate(std::uint16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
}  // namespace

std::string utf8FromUtf16(const std::vector<std::uint16_t>& units) {
    std::string text;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const std::uint16_t unit = units[i];
        if (isHighSurrogate(unit) && i + 1 < units.size() && isLowSurrogate(units[i + 1])) {
            const char32_t high = unit - 0xD800u;
            const char32_t low = units[++i] - 0xDC00u;
            appendUtf8(text, 0x10000 + ((high << 10) | low));
        } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
            throw std::range_error("wstring_convert::to_bytes");
        } else {
            appendUtf8(text, unit);
        }
    }
    return text;
}
