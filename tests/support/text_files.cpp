// Text files for the golden runners: reading, writing, comparing, and the update switch.
#include "tests/support/text_files.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

std::string readFile(const std::string& path, bool* found) {
    std::ifstream in(path, std::ios::binary);
    if (found != nullptr) {
        *found = static_cast<bool>(in);
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

std::string firstDifference(const std::string& expected, const std::string& actual) {
    const auto at = std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
    const std::size_t offset = static_cast<std::size_t>(at.first - expected.begin());
    const auto line = 1 + std::count(expected.begin(), at.first, '\n');
    const std::size_t from = offset == 0 ? 0 : expected.rfind('\n', offset - 1) + 1;
    auto lineAt = [from](const std::string& text) {
        return from < text.size() ? text.substr(from, text.find('\n', from) - from) : "<end>";
    };
    return "first difference at byte " + std::to_string(offset) + ", line " + std::to_string(line) +
           "\n  expected: " + lineAt(expected) + "\n  actual:   " + lineAt(actual);
}

bool updatingGolden() {
    const char* update = std::getenv("KFDTOPO_UPDATE_GOLDEN");
    return update != nullptr && std::string_view(update) == "1";
}
