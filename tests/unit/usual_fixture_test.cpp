// Usual fixture reader: every fixture of the test data reads the same through it as through the
// strict loader, and the exports take it.
#include "fixture/usual_fixture.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#include "fixture/json_fixture.h"
#include "fixture/json_writer.h"
#include "tests/support/paths.h"
#include "tests/support/strict_only.h"
#include "tests/support/text_files.h"

namespace {

TEST(UsualFixture, EveryFixtureReadsAsTheStrictLoaderReadsIt) {
    std::size_t usual = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(testDataDir)) {
        const std::string path = entry.path().string();
        std::error_code unreadable;
        if (!entry.is_regular_file(unreadable) || entry.path().extension() != ".json") {
            continue;
        }
        const std::string text = readFile(path);
        const std::optional<Topology> fast = readUsualFixture(text);
        const std::optional<std::string> escaped = strictOnly(text);
        if (!fast || !escaped) {
            continue;
        }
        ASSERT_FALSE(readUsualFixture(*escaped)) << path;
        ++usual;
        EXPECT_EQ(writeJsonFixture(*fast), writeJsonFixture(parseJsonFixture(*escaped, path)))
            << path;
    }
    EXPECT_GE(usual, 20u);
}

// What kfdtopo-export writes is the usual form, unless it holds faults or names beyond ASCII.
TEST(UsualFixture, ExportsWithoutFaultsTakeIt) {
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(testDataDir) + "/export")) {
        const std::string path = entry.path().string();
        if (path.size() < 12 || path.compare(path.size() - 12, 12, ".export.json") != 0) {
            continue;
        }
        const std::string text = readFile(path);
        const bool usual = text.find("\"faults\": []") != std::string::npos &&
                           std::all_of(text.begin(), text.end(),
                                       [](char c) { return c == '\n' || (c >= ' ' && c < 0x7f); });
        EXPECT_EQ(readUsualFixture(text).has_value(), usual) << path;
    }
}

}  // namespace
