// Value formatting: name tables, identifier names, PCI locations and decimal text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
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

/// A value-to-name table over a constant pair list; the first pair of a value wins.
/// Looked up in list order: the lists are short and nothing needs allocating.
struct NameTable {
    const NamePair* pairs;
    std::size_t size;
};

/// An identifier-to-name table over a constant pair list; keys match on all 16 bytes.
struct UuidNameTable {
    const UuidNamePair* pairs;
    std::size_t size;
};

/// The table of a pair list, which must outlive it.
template <std::size_t N>
constexpr NameTable makeNameTable(const std::array<NamePair, N>& pairs) {
    return {pairs.data(), N};
}

/// The identifier table of a pair list, which must outlive it.
template <std::size_t N>
constexpr UuidNameTable makeUuidNameTable(const std::array<UuidNamePair, N>& pairs) {
    return {pairs.data(), N};
}

/// The name of a value, or "unknown (<value as signed decimal>)".
std::string valueName(const NameTable& table, std::int32_t value);

/// The name of an identifier, or "unknown (<8-4-4-4-12 hex of the bytes in memory order>)".
std::string uuidName(const UuidNameTable& table, const UuidBytes& bytes);

/// "bb:dd.f" from a PCI location, with " [0x<8 hex digits>]" when bits 16 to 31 are set.
std::string locationIdString(std::uint32_t location);

/// Plain decimal digits, "-" first for a negative value.
std::string decimalText(std::int64_t value);
