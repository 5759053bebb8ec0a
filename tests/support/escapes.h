// Escape sequences of the report, named for expected texts.
#pragma once

#include <string>

inline const std::string bold = "\x1b[1m";
inline const std::string reset = "\x1b[0m";
inline const std::string errorPrefix = "\x1b[31;1mError\x1b[m: ";

/// A bold title line as a section writes it, without indentation.
inline std::string titleLine(const std::string& title) { return bold + title + reset + "\n"; }
