// Text files for the golden runners: reading, writing, comparing, and the update switch.
#pragma once

#include <string>
#include <vector>

/// The file's bytes; `found`, when given, tells whether it could be opened.
std::string readFile(const std::string& path, bool* found = nullptr);

/// Writes `text` as the file's whole content.
void writeFile(const std::string& path, const std::string& text);

/// The lines of `text`, without their line ends.
std::vector<std::string> lines(const std::string& text);

/// Where two texts first differ: byte offset, line number and that line of each.
std::string firstDifference(const std::string& expected, const std::string& actual);

/// Whether KFDTOPO_UPDATE_GOLDEN=1 asks the runners to rewrite expected files.
bool updatingGolden();
