// Round trip tests: each fixture exported through kfdsim, replayed, and exported again.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/paths.h"
#include "tests/support/process.h"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view exporterBinary = KFDTOPO_EXPORT_BINARY;

// A directory for one test's files, removed with it.
class TempDir {
  public:
    TempDir() {
        std::string pattern = "/tmp/kfdtopo-round-trip-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string path;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A topology kfdsim serves: its KFDSIM_TOPOLOGY value, relative to the test data directory.
struct RoundTripCase {
    std::string name;
    std::string topology;  // empty: the built-in default
};

void PrintTo(const RoundTripCase& roundTrip, std::ostream* out) { *out << roundTrip.name; }

// The built-in topology, every fixture in tests/data, and every captured sysfs tree under
// tests/data/captures (a directory holding topology/), as they are when the tests start. The
// bad-* fixtures are left out: kfdsim refuses them by design, naming the file on stderr, so
// their report cannot come back from any fixture.
std::vector<RoundTripCase> roundTripCases() {
    std::vector<RoundTripCase> cases{{"default", ""}};
    std::vector<RoundTripCase> found;
    const fs::path data(testDataDir);
    for (const fs::directory_entry& entry : fs::directory_iterator(data)) {
        const fs::path& path = entry.path();
        if (entry.is_regular_file() && path.extension() == ".json" &&
            path.filename().string().rfind("bad-", 0) != 0) {
            found.push_back({path.stem().string(), path.filename().string()});
        }
    }
    std::error_code missing;
    for (const fs::directory_entry& entry : fs::directory_iterator(data / "captures", missing)) {
        if (fs::is_directory(entry.path() / "topology")) {
            const std::string name = entry.path().filename().string();
            found.push_back({"capture-" + name, "captures/" + name});
        }
    }
    std::sort(found.begin(), found.end(),
              [](const RoundTripCase& a, const RoundTripCase& b) { return a.name < b.name; });
    cases.insert(cases.end(), found.begin(), found.end());
    return cases;
}

std::vector<std::string> simEnvironment(const std::string& topology) {
    return {"KFDSIM_TOPOLOGY=" + topology, "LD_LIBRARY_PATH=" + std::string(kfdsimDir)};
}

ProcessResult runExporterOnSim(const std::string& topology,
                               const std::vector<std::string>& args = {}) {
    return runProcess(std::string(exporterBinary), args, simEnvironment(topology),
                      std::string(testDataDir));
}

// The fixture exported from `topology`, checked to have been written.
std::string exportFixture(const std::string& topology) {
    const ProcessResult result = runExporterOnSim(topology);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    return result.out;
}

// Where two texts first differ, by byte and line; gtest's own diff of large texts takes long.
std::string firstDifference(const std::string& expected, const std::string& actual) {
    const auto [at, ignored] =
        std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
    const auto offset = at - expected.begin();
    const auto line = 1 + std::count(expected.begin(), at, '\n');
    return "first difference at byte " + std::to_string(offset) + ", line " + std::to_string(line);
}

class RoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, ReplayPrintsTheSameReportAndExportsTheSameFixture) {
    const RoundTripCase& roundTrip = GetParam();
    const TempDir dir;
    const std::string exported = dir.path + "/exported.json";

    const ProcessResult original = runKfdtopoOnSim(roundTrip.topology);
    const std::string first = exportFixture(roundTrip.topology);
    writeFile(exported, first);

    const ProcessResult replayed = runKfdtopoOnSim(exported);
    EXPECT_EQ(replayed.exitStatus, original.exitStatus);
    EXPECT_TRUE(replayed.out == original.out)
        << "stdout of the replay: " << firstDifference(original.out, replayed.out);
    EXPECT_TRUE(replayed.err == original.err)
        << "stderr of the replay: " << firstDifference(original.err, replayed.err);
    const std::string second = exportFixture(exported);
    EXPECT_TRUE(second == first) << "export of the export: " << firstDifference(first, second);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RoundTrip, ::testing::ValuesIn(roundTripCases()),
                         [](const ::testing::TestParamInfo<RoundTripCase>& param) {
                             std::string name = param.param.name;
                             std::replace_if(
                                 name.begin(), name.end(),
                                 [](char c) {
                                     return std::isalnum(static_cast<unsigned char>(c)) == 0;
                                 },
                                 '_');
                             return name;
                         });

TEST(KfdtopoExport, DefaultTopologyExportMatchesItsGolden) {
    // Keys in a fixed order, one record per line: a change shows in review line by line.
    const std::string golden = std::string(testDataDir) + "/default-export.json";
    const std::string exported = exportFixture("");
    const char* update = std::getenv("KFDTOPO_UPDATE_GOLDEN");
    if (update != nullptr && std::string_view(update) == "1") {
        writeFile(golden, exported);
        GTEST_SKIP() << "golden file rewritten";
    }
    const std::string expected = readFile(golden);
    EXPECT_TRUE(exported == expected) << golden << ": " << firstDifference(expected, exported);
}

TEST(KfdtopoExport, WritesToTheGivenPathInsteadOfStandardOutput) {
    const TempDir dir;
    const std::string path = dir.path + "/machine.json";
    const ProcessResult result = runExporterOnSim("", {path});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(readFile(path), exportFixture(""));
}

TEST(KfdtopoExport, RefusesOptionsAndSecondArgumentsWithoutOpeningKfd) {
    // A fault on open would show on stderr if the exporter opened KFD.
    const std::vector<std::vector<std::string>> refused = {
        {"--help"}, {"-"}, {""}, {"a.json", "b.json"}};
    for (const std::vector<std::string>& args : refused) {
        const ProcessResult result = runExporterOnSim("fault-open.json", args);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "Usage: kfdtopo-export [OUTPUT.json]\n");
    }
}

TEST(KfdtopoExport, UnwritableOutputFailsWithItsPath) {
    const TempDir dir;
    const std::string path = dir.path + "/missing/machine.json";
    const ProcessResult result = runExporterOnSim("", {path});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "kfdtopo-export: " + path + ": cannot write: No such file or directory\n");
}

TEST(KfdtopoExport, NamesEachFailedCallOnStandardError) {
    const ProcessResult result = runExporterOnSim("fault-counters-node1.json");
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err,
              "kfdtopo-export: hsaKmtPmcGetCounterProperties for node 1 failed with status 5, "
              "recorded as a fault\n");
    EXPECT_NE(
        result.out.find(R"({ "call": "hsaKmtPmcGetCounterProperties", "node": 1, "status": 5 })"),
        std::string::npos);
}

TEST(KfdtopoExport, RealLibraryWithoutKfdDeviceReplaysAsTheFailedOpen) {
    if (access("/dev/kfd", F_OK) == 0) {
        GTEST_SKIP() << "this machine has /dev/kfd";
    }
    const std::vector<std::string> realLibrary = {"LD_LIBRARY_PATH", "KFDSIM_TOPOLOGY"};
    const ProcessResult exported = runProcess(std::string(exporterBinary), {}, realLibrary);
    EXPECT_EQ(exported.exitStatus, 0);
    EXPECT_EQ(exported.err,
              "kfdtopo-export: hsaKmtOpenKFD failed with status 20, recorded as a fault\n");

    const TempDir dir;
    writeFile(dir.path + "/real.json", exported.out);
    const ProcessResult original = runProcess(std::string(kfdtopoBinary), {}, realLibrary);
    const ProcessResult replayed = runKfdtopoOnSim(dir.path + "/real.json");
    EXPECT_EQ(replayed.exitStatus, original.exitStatus);
    EXPECT_EQ(replayed.out, original.out);
    EXPECT_EQ(replayed.err, original.err);
}

}  // namespace
