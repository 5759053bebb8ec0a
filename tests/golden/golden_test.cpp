// Golden tests: kfdtopo run over kfdsim fixtures, stdout and stderr compared byte for byte.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/paths.h"
#include "tests/support/process.h"

namespace {
struct GoldenCase {
    // tests/data/<name>.json (or the captured tree tests/data/<name>/), <name>.out and, when
    // stderr is expected, <name>.err
    std::string_view name;
    int exitStatus;
    std::string_view purpose;
};

// "default" runs the built-in topology of kfdsim (no fixture file).
constexpr std::array goldenCases{
    GoldenCase{"default", 0, "the built-in CPU and GPU machine, full report"},
    GoldenCase{"sweep", 0, "the failure sweep's machine: CPU, GPU and bare nodes"},
    GoldenCase{"0-nodes", 0, "a system without nodes prints the System section only"},
    GoldenCase{"fault-open", 2, "a failed open prints nothing on stdout"},
    GoldenCase{"fault-version", 2, "a failed version query leaves only the System title"},
    GoldenCase{"fault-acquire", 2, "a failed acquire leaves the title and the version line"},
    GoldenCase{"fault-release", 2, "a failed release keeps the report and skips the close"},
    GoldenCase{"fault-close", 2, "a failed close keeps the whole report"},
    GoldenCase{"counters-worked-example", 0, "a GPU node's counters grouped by key, IDs as runs"},
    GoldenCase{"fault-counters-node1", 0, "a failed counter query is one error line in node 1"},
    GoldenCase{"2cpu-1gpu-banks-links", 0, "every heap type, links with and without flags"},
    GoldenCase{"fault-memory-node1", 0, "a failed bank query is one error line; links follow"},
    GoldenCase{"fault-iolinks-node0", 0, "a failed link query is one error line; node 1 follows"},
    GoldenCase{"count-mismatch", 0, "counts wrapping negative fail, extra records are zeros"},
    GoldenCase{"bad-missing-file", 2, "a fixture that does not exist cannot open KFD"},
    GoldenCase{"bad-invalid-json", 2, "a fixture that is not JSON cannot open KFD"},
    GoldenCase{"bad-unknown-key", 2, "a misspelt key is refused"},
    GoldenCase{"bad-out-of-range", 2, "a number too wide for its field is refused"},
    GoldenCase{"bad-long-name", 2, "a marketing name of 65 units is refused"},
    GoldenCase{"bad-wrong-type", 2, "a string where a number belongs is refused"},
    GoldenCase{"captures/mi308x-cpx", 0, "captured MI308X CPX host, 34 nodes, p2p after io links"},
    GoldenCase{"captures/mi300x-cpx", 0, "captured MI300X CPX host, 65 nodes, banks zero-filled"},
    GoldenCase{"captures/mi210-x8-2socket", 0, "captured 8x MI210 in two hives, with overlay"},
    GoldenCase{"captures/vega10-mi25", 0, "captured 2018 Vega 10, version from device table"},
};

void PrintTo(const GoldenCase& golden, std::ostream* out) { *out << golden.name; }

std::string readFile(const std::string& path, bool& found) {
    std::ifstream in(path, std::ios::binary);
    found = static_cast<bool>(in);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Where two texts first differ, with the line of the expected text there.
std::string firstDifference(const std::string& expected, const std::string& actual) {
    std::size_t offset = 0;
    while (offset < expected.size() && offset < actual.size() &&
           expected[offset] == actual[offset]) {
        ++offset;
    }
    const std::size_t line =
        1 + static_cast<std::size_t>(std::count(
                expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
    const std::size_t lineStart = expected.rfind('\n', offset == 0 ? 0 : offset - 1);
    const std::size_t from = lineStart == std::string::npos || offset == 0 ? 0 : lineStart + 1;
    auto lineAt = [from](const std::string& text) {
        return from < text.size() ? text.substr(from, text.find('\n', from) - from) : "<end>";
    };
    std::ostringstream message;
    message << "first difference at byte " << offset << ", line " << line
            << "\n  expected: " << lineAt(expected) << "\n  actual:   " << lineAt(actual);
    return message.str();
}

class GoldenTest : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenTest, OutputMatchesGolden) {
    const GoldenCase& golden = GetParam();
    const std::string name(golden.name);
    const std::string base = std::string(testDataDir) + "/" + name;
    const bool captured = std::filesystem::is_directory(base);
    const ProcessResult result = runKfdtopoOnSim(name == "default" ? ""
                                                 : captured        ? name
                                                                   : name + ".json");

    bool hasOut = false;
    bool hasErr = false;
    const std::string expectedOut = readFile(base + ".out", hasOut);
    const std::string expectedErr = readFile(base + ".err", hasErr);

    const char* update = std::getenv("KFDTOPO_UPDATE_GOLDEN");
    if (update != nullptr && std::string_view(update) == "1") {
        writeFile(base + ".out", result.out);
        if (result.err.empty()) {
            unlink((base + ".err").c_str());
        } else {
            writeFile(base + ".err", result.err);
        }
        GTEST_SKIP() << "golden files rewritten";
    }

    ASSERT_TRUE(hasOut) << base << ".out is missing";
    EXPECT_EQ(result.exitStatus, golden.exitStatus) << golden.purpose;
    EXPECT_TRUE(result.out == expectedOut)
        << golden.purpose << ": stdout " << firstDifference(expectedOut, result.out);
    EXPECT_TRUE(result.err == expectedErr)
        << golden.purpose << ": stderr " << firstDifference(expectedErr, result.err);
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenTest, ::testing::ValuesIn(goldenCases),
                         [](const ::testing::TestParamInfo<GoldenCase>& param) {
                             std::string name;
                             for (char c : param.param.name) {
                                 name += (c == '-' || c == '/') ? '_' : c;
                             }
                             return name;
                         });

TEST(Kfdtopo, RefusesAnyArgumentWithoutOpeningKfd) {
    // A fault on open would show on stderr if the tool opened KFD.
    for (const std::string& argument : {std::string("--help"), std::string()}) {
        const ProcessResult result = runKfdtopoOnSim("fault-open.json", {argument});
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "No arguments expected!\n");
    }
}

TEST(Kfdtopo, RealLibraryWithoutKfdDeviceFailsToOpen) {
    if (access("/dev/kfd", F_OK) == 0) {
        GTEST_SKIP() << "this machine has /dev/kfd";
    }
    const ProcessResult result =
        runProcess(std::string(kfdtopoBinary), {}, {"LD_LIBRARY_PATH", "KFDSIM_TOPOLOGY"});
    EXPECT_NE(result.exitStatus, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "HSAKMT Error 20: Could not open KFD\n");
}
}  // namespace
