// UTF-16 text of the library's records as UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// The UTF-8 form of UTF-16 code units, surrogate pairs joined. Throws
/// std::range_error("wstring_convert::to_bytes") on an unpaired surrogate.
std::string utf8FromUtf16(const std::vector<std::uint16_t>& units);
