// Hexadecimal text: digits of a number, and the value of a digit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

/// `value` in lowercase hexadecimal digits without a prefix, at least `width` of them (leading
/// zeros fill up to it).
std::string hexText(std::uint64_t value, std::size_t width = 1);

/// The value of a hexadecimal digit of either case; std::nullopt for any other character.
std::optional<unsigned> hexDigitValue(char digit);
