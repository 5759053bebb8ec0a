// Hexadecimal text.
#include "text/hex_text.h"

#include <string_view>

std::string hexText(std::uint64_t value, std::size_t width) {
    constexpr std::string_view digits = "0123456789abcdef";
    std::string text;
    for (; value != 0 || text.size() < width; value >>= 4) {
        text.insert(text.begin(), digits[value & 0xF]);
    }
    return text;
}

std::optional<unsigned> hexDigitValue(char digit) {
    if (digit >= '0' && digit <= '9') {
        return static_cast<unsigned>(digit - '0');
    }
    if (digit >= 'a' && digit <= 'f') {
        return static_cast<unsigned>(digit - 'a' + 10);
    }
    if (digit >= 'A' && digit <= 'F') {
        return static_cast<unsigned>(digit - 'A' + 10);
    }
    return std::nullopt;
}
