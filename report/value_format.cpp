// Value formatting helpers shared by the printers.
#include "report/value_format.h"

#include "text/hex_text.h"

std::string valueName(const NameTable& table, std::int32_t value) {
    for (std::size_t i = 0; i < table.size; ++i) {
        if (table.pairs[i].value == value) {
            return std::string(table.pairs[i].name);
        }
    }
    return "unknown (" + decimalText(value) + ")";
}

std::string uuidName(const UuidNameTable& table, const UuidBytes& bytes) {
    for (std::size_t i = 0; i < table.size; ++i) {
        if (table.pairs[i].bytes == bytes) {
            return std::string(table.pairs[i].name);
        }
    }
    std::string text = "unknown (";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text += '-';
        }
        text += hexText(bytes[i], 2);
    }
    return text + ")";
}

std::string locationIdString(std::uint32_t location) {
    std::string text;
    text += hexText((location >> 8) & 0xFF, 2);
    text += ':';
    text += hexText((location >> 3) & 0x1F, 2);
    text += '.';
    text += hexText(location & 0x7, 1);
    if (location >= 0x10000) {
        text += " [0x";
        text += hexText(location, 8);
        text += ']';
    }
    return text;
}

std::string decimalText(std::int64_t value) { return std::to_string(value); }
