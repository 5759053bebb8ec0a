// Unicode text: UTF-16 code units to UTF-8 and back, refusing what is not well-formed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

/// The UTF-8 form of `count` UTF-16 code units, surrogate pairs joined; std::nullopt when a
/// surrogate is unpaired.
std::optional<std::string> utf8FromUtf16(const std::uint16_t* units, std::size_t count);

/// The UTF-16 code units of UTF-8 text; std::nullopt unless it is well-formed UTF-8 (no overlong
/// form, no surrogate, nothing past U+10FFFF).
std::optional<std::vector<std::uint16_t>> utf16FromUtf8(std::string_view text);
