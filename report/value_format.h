// Value formatting: name tables, identifier names, PCI locations and decimal text.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

/// One row of a value-to-name pair list.
struct NamePair {
    std::int32_t value;
    std::string_view name;
};

/// 16 identifier bytes in memory order.
using UuidBytes = std::array<std::uint8_t, 16>;

/// One row of an identifier-to-name pair list.
struct UuidNamePair {
    UuidBytes bytes;
    std::string_view name;
};

/// Value to name; keys compare as signed 32-bit integers.
using NameTable = std::map<std::int32_t, std::string>;
/// Identifier to name; keys compare byte by byte in memory order.
using UuidNameTable = std::map<UuidBytes, std::string>;

/// Builds a table from a pair list; the first pair of a repeated value wins.
template <std::size_t N>
NameTable makeNameTable(const std::array<NamePair, N>& pairs) {
    NameTable table;
    for (const NamePair& pair : pairs) {
        table.emplace(pair.value, pair.name);
    }
    return table;
}

/// Builds an identifier table from a pair list; the first pair of a repeated key wins.
template <std::size_t N>
UuidNameTable makeUuidNameTable(const std::array<UuidNamePair, N>& pairs) {
    UuidNameTable table;
    for (const UuidNamePair& pair : pairs) {
        table.emplace(pair.bytes, pair.name);
    }
    return table;
}

/// The name of a value, or "unknown (<value as signed decimal>)".
std::string valueName(const NameTable& table, std::int32_t value);

/// The name of an identifier, or "unknown (<8-4-4-4-12 hex of the bytes in memory order>)".
std::string uuidName(const UuidNameTable& table, const UuidBytes& bytes);

/// "bb:dd.f" from a PCI location, with " [0x<8 hex digits>]" when bits 16 to 31 are set.
std::string locationIdString(std::uint32_t location);

/// Plain decimal digits, "-" first for a negative value.
std::string decimalText(std::int64_t value);
