// Sysfs "key value" files: the pairs of a KFD topology properties file, read as libhsakmt reads
// them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

/// The library reads at most one page of each file.
constexpr std::size_t sysfsPageSize = 4096;

/// One pair of a properties file; the value is unsigned 64-bit, as the library scans it.
struct SysfsProperty {
    std::string key;
    std::uint64_t value = 0;
};

/// The pairs of `text` in file order: whitespace-separated key and value tokens, only the first
/// page read. A value is decimal digits with an optional sign (a negative one wraps, a too large
/// one saturates, like strtoull). Throws FixtureError "<source>: line <n>: "<line>" is not a
/// number" for any other value, or "... has no value" on the line of a key when no token follows
/// or the next one, on a later line, is no number.
std::vector<SysfsProperty> parseSysfsProperties(std::string_view text, const std::string& source);

/// The single number of a file such as gpu_id or generation_id (its first token; what follows is
/// ignored). Throws FixtureError naming `source` when the file holds no number.
std::uint64_t parseSysfsNumber(std::string_view text, const std::string& source);
