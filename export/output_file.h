// Output file: a fixture written whole beside its target, then renamed into place.
#pragma once

#include <string>
#include <string_view>

/// Writes `text` to a temporary file in the directory of `path`, gzip-compressed when `path`
/// ends in ".gz", syncs it and renames it to `path`. With `replace` false a file that already
/// stands at `path` is left as it is and nothing is written: returns false. The temporary file
/// is removed on every failure. Throws std::runtime_error "<path>: cannot write: <cause>".
bool writeOutputFile(const std::string& path, std::string_view text, bool replace);
