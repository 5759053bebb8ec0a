// Golden runner: the cases of tests/data/cases.txt and the rows of tests/data/refusals/refusals.txt
// run through kfdsim, compared byte for byte.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "advice/open_advice.h"
#include "fixture/recent_fields.h"
#include "tests/support/call_trace_file.h"
#include "tests/support/paths.h"
#include "tests/support/process.h"
#include "tests/support/text_files.h"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view exporterBinary = KFDTOPO_EXPORT_BINARY;
// Programs that read the machine through the same reader as kfdtopo, by the name they go by.
constexpr std::pair<std::string_view, std::string_view> readerPrograms[] = {
    {"kfdtopo-export", KFDTOPO_EXPORT_BINARY},
    {"kfdtopo-graph", KFDTOPO_GRAPH_BINARY},
    {"bench/floor", KFDTOPO_FLOOR_BINARY},
};

struct GoldenCase {
    std::string tool;  // "kfdtopo", "export" or "merged"
    std::string name;  // the expected files' path in tests/data, without their endings
    int exitStatus = 0;
    std::string topology;           // KFDSIM_TOPOLOGY, "" for the built-in machine
    std::vector<std::string> args;  // the command line's arguments
    std::vector<std::string> env;   // "NAME=value"
    std::string purpose;
};

void PrintTo(const GoldenCase& golden, std::ostream* out) { *out << golden.name; }

std::string dataPath(const std::string& name) { return std::string(testDataDir) + "/" + name; }

// The words of a row before " # ", which starts its purpose; a word in double quotes may hold
// spaces or be empty.
std::vector<std::string> rowWords(const std::string& line, std::string& purpose) {
    std::vector<std::string> words;
    std::size_t at = line.find_first_not_of(' ');
    while (at != std::string::npos && line[at] != '#') {
        const bool quoted = line[at] == '"';
        const std::size_t from = at + (quoted ? 1 : 0);
        const std::size_t end = line.find(quoted ? '"' : ' ', from);
        if (quoted && end == std::string::npos) {
            throw std::runtime_error("unclosed quote in: " + line);
        }
        words.push_back(line.substr(from, end - from));
        at = end == std::string::npos ? end : line.find_first_not_of(' ', end + (quoted ? 1 : 0));
    }
    purpose = at == std::string::npos ? "" : line.substr(line.find_first_not_of("# ", at));
    return words;
}

// Rows "<tool> <case> <exit status> <topology> [word...] # <purpose>": a word NAME=value sets
// the environment, any other is an argument. A line starting with '#' is a comment.
std::vector<GoldenCase> loadCases() {
    static const std::regex variable("[A-Z_][A-Z0-9_]*=.*");
    std::vector<GoldenCase> cases;
    for (const std::string& line : lines(readFile(dataPath("cases.txt")))) {
        GoldenCase golden;
        const std::vector<std::string> words = rowWords(line, golden.purpose);
        if (words.empty()) {
            continue;
        }
        if (words.size() < 4) {
            throw std::runtime_error("a case needs a tool, a name, a status and a topology: " +
                                     line);
        }
        golden.tool = words[0];
        golden.name = words[1];
        golden.exitStatus = std::stoi(words[2]);
        golden.topology = words[3] == "default" ? "" : words[3];
        for (auto word = words.begin() + 4; word != words.end(); ++word) {
            (std::regex_match(*word, variable) ? golden.env : golden.args).push_back(*word);
        }
        cases.push_back(golden);
    }
    return cases;
}

// The case's environment: its own "NAME=value" words, after the caller's GFX version overrides
// are removed, which would change what kfdsim replays.
std::vector<std::string> environmentOf(const GoldenCase& golden) {
    std::vector<std::string> changes;
    constexpr std::string_view override = "HSA_OVERRIDE_GFX_VERSION";
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view variable = *entry;
        if (variable.compare(0, override.size(), override) == 0) {
            changes.emplace_back(variable.substr(0, variable.find('=')));
        }
    }
    changes.insert(changes.end(), golden.env.begin(), golden.env.end());
    return changes;
}

// Makes one line of <case>.scratch in `scratch`: a file that git cannot store, "fifo PATH",
// "block PATH" (a device node, never opened), "sparse PATH BYTES" or "letters PATH BYTES" (one
// line of BYTES letters, without a newline); or one made from data files, "copy PATH [FROM]"
// (tests/data/FROM, a file or a tree, PATH itself by default), "repeat PATH COUNT FROM" (COUNT
// copies of tests/data/FROM back to back) or "directory PATH" (empty).
void makeScratchEntry(const std::string& line, const std::string& scratch) {
    std::istringstream entry(line);
    std::string kind;
    std::string path;
    entry >> kind >> path;
    const fs::path target = scratch + "/" + path;
    std::uintmax_t count = 0;
    if (kind == "sparse" || kind == "letters" || kind == "repeat") {
        entry >> count;
    }
    std::string from;
    entry >> from;
    from = dataPath(from.empty() ? path : from);
    fs::create_directories(kind == "directory" ? target : target.parent_path());
    if (kind == "sparse") {
        std::ofstream(target).close();
        fs::resize_file(target, count);
    } else if (kind == "letters") {
        std::ofstream(target, std::ios::binary) << std::string(count, 'a');
    } else if (kind == "copy") {
        fs::copy(from, target,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks |
                     fs::copy_options::overwrite_existing);
    } else if (kind == "repeat") {
        const std::string piece = readFile(from);
        std::ofstream out(target, std::ios::binary);
        for (std::uintmax_t i = 0; i < count; ++i) {
            out << piece;
        }
    } else if (kind != "directory" &&
               (kind == "fifo" ? mkfifo(target.c_str(), 0600)
                               : mknod(target.c_str(), S_IFBLK | 0600, makedev(7, 0))) != 0) {
        throw std::runtime_error("cannot make " + line + ": " + std::strerror(errno));
    }
}

// Where a case runs: the data directory, or for a case with <case>.scratch or <case>.files a
// scratch copy of its tree holding the files that <case>.scratch lists.
std::string directoryFor(const std::string& name) {
    bool given = false;
    const std::string made = readFile(dataPath(name + ".scratch"), &given);
    // A case that leaves files runs in a scratch directory too.
    if (!given && !fs::exists(dataPath(name + ".files"))) {
        return std::string(testDataDir);
    }
    char pattern[] = "/tmp/kfdtopo-golden-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("cannot make a scratch directory");
    }
    const std::string scratch = pattern;
    if (fs::is_directory(dataPath(name))) {
        fs::create_directories(fs::path(scratch + "/" + name).parent_path());
        fs::copy(dataPath(name), scratch + "/" + name,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
    for (const std::string& line : lines(made)) {
        makeScratchEntry(line, scratch);
    }
    return scratch;
}

// Runs kfdtopo, kfdtopo-export ("export") or kfdtopo with stderr into stdout ("merged"), with
// the environment changes `env` besides the topology and kfdsim.
ProcessResult runCase(const std::string& tool, const std::string& topology,
                      std::vector<std::string> args, std::vector<std::string> env,
                      std::string_view directory = testDataDir) {
    std::string program(tool == "export" ? exporterBinary : kfdtopoBinary);
    if (tool == "merged") {
        args.insert(args.begin(), {"-c", "exec \"$0\" \"$@\" 2>&1", program});
        program = "/bin/sh";
    }
    env.insert(env.begin(),
               {"KFDSIM_TOPOLOGY=" + topology, "LD_LIBRARY_PATH=" + std::string(kfdsimDir)});
    return runProcess(program, args, env, std::string(directory));
}

// What a gzip file inflates to, by the gzip program, which knows nothing of ours.
ProcessResult gunzip(const std::string& path) { return runProcess("/bin/gzip", {"-dc", path}, {}); }

// Without regard to case, as the exporter's choice of gzip. `end` is in lower case.
bool endsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() &&
           std::equal(end.begin(), end.end(), text.end() - static_cast<std::ptrdiff_t>(end.size()),
                      [](char lower, char given) {
                          return lower == std::tolower(static_cast<unsigned char>(given));
                      });
}

// What is wrong with the files a case leaves in its scratch directory, "" when nothing: a line
// "PATH EXPECTED" of <case>.files names a file that must hold the bytes of tests/data/EXPECTED
// (once inflated, when PATH ends in .gz), and nothing may be there but those files, the case's
// tree and what its .scratch made (a temporary file left behind, for one).
std::string filesLeftWrong(const std::string& name, const std::string& directory) {
    std::vector<std::string> allowed{name};
    for (const std::string& line : lines(readFile(dataPath(name + ".scratch")))) {
        std::string kind;
        allowed.emplace_back();
        std::istringstream(line) >> kind >> allowed.back();
    }
    std::string wrong;
    for (const std::string& line : lines(readFile(dataPath(name + ".files")))) {
        std::string expected;
        allowed.emplace_back();
        std::istringstream(line) >> allowed.back() >> expected;
        const std::string path = directory + "/" + allowed.back();
        bool found = true;
        ProcessResult inflated;
        const std::string actual =
            endsWith(path, ".gz") ? (inflated = gunzip(path)).out : readFile(path, &found);
        if (!found || inflated.exitStatus > 0) {
            wrong += allowed.back() + " is missing or unreadable: " + inflated.err + "\n";
        } else if (actual != readFile(dataPath(expected))) {
            wrong += allowed.back() + " against " + expected + ": " +
                     firstDifference(readFile(dataPath(expected)), actual) + "\n";
        }
    }
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(directory)) {
        const std::string left = fs::relative(entry.path(), directory).string();
        const bool madeOrListed =
            std::any_of(allowed.begin(), allowed.end(), [&left](const std::string& path) {
                return left == path || left.rfind(path + "/", 0) == 0;
            });
        if (!fs::is_directory(entry.symlink_status()) && !madeOrListed) {
            wrong += left + " was left in the run directory\n";
        }
    }
    return wrong;
}

// A non-zero value in a field that libhsakmt 6.4 added to its records.
bool showsRecentFields(const std::string& fixture) {
    static const std::regex recent("\"(NumNeuralCores|OverrideEngineId|RecSdmaEngIdMask)\": [1-9]");
    return std::regex_search(fixture, recent);
}

class Golden : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(Golden, OutputMatchesExpectedFiles) {
    const GoldenCase& golden = GetParam();
    const std::string base =
        dataPath(golden.name) + (golden.tool == "kfdtopo" ? "" : "." + golden.tool);
    const std::string outPath = base + (golden.tool == "export" ? ".json" : ".out");
    const std::string directory = directoryFor(golden.name);
    const ProcessResult result =
        runCase(golden.tool, golden.topology, golden.args, environmentOf(golden), directory);
    const std::string filesWrong =
        directory == testDataDir ? "" : filesLeftWrong(golden.name, directory);
    if (directory != testDataDir) {
        fs::remove_all(directory);
    }

    if (updatingGolden()) {
        if (result.out.empty() && golden.exitStatus != 0) {
            unlink(outPath.c_str());
        } else {
            writeFile(outPath, result.out);
        }
        if (result.err.empty()) {
            unlink((base + ".err").c_str());
        } else {
            writeFile(base + ".err", result.err);
        }
        GTEST_SKIP() << "expected files rewritten: review them line by line";
    }
    bool hasOut = false;
    const std::string expectedOut = readFile(outPath, &hasOut);
    const std::string expectedErr = readFile(base + ".err");
    // A failing case may leave stdout empty and its expected file out.
    ASSERT_TRUE(hasOut || golden.exitStatus != 0) << outPath << " is missing";
    if (!recentFieldsInHeader && golden.tool == "export" && showsRecentFields(expectedOut)) {
        GTEST_SKIP() << "the fixture holds fields this libhsakmt header's records lack";
    }
    EXPECT_EQ(result.exitStatus, golden.exitStatus) << golden.purpose;
    EXPECT_TRUE(result.out == expectedOut)
        << golden.purpose << ": stdout " << firstDifference(expectedOut, result.out);
    EXPECT_TRUE(result.err == expectedErr)
        << golden.purpose << ": stderr " << firstDifference(expectedErr, result.err);
    EXPECT_TRUE(filesWrong.empty()) << golden.purpose << ": files\n" << filesWrong;
}

// A report case that loads, on its own fixture or tree, without arguments or scratch files.
bool roundTrips(const GoldenCase& golden) {
    const bool own = golden.topology.empty() || golden.topology == golden.name ||
                     golden.topology == golden.name + ".json";
    const bool refused = fs::path(golden.name).filename().string().rfind("bad-", 0) == 0;
    return golden.tool == "kfdtopo" && golden.args.empty() && own && !refused &&
           !fs::exists(dataPath(golden.name + ".scratch"));
}

std::vector<GoldenCase> roundTripCases() {
    std::vector<GoldenCase> cases = loadCases();
    cases.erase(std::remove_if(cases.begin(), cases.end(),
                               [](const GoldenCase& golden) { return !roundTrips(golden); }),
                cases.end());
    return cases;
}

class RoundTrip : public ::testing::TestWithParam<GoldenCase> {};

// A program that reads the machine through kfdtopo's reader makes kfdtopo's calls (with their
// nodes, counts and statuses) first, and no more where kfdtopo completes its report. After a
// run-level failure it may go on: the exporter past a failed node, the others past a name
// kfdtopo cannot print.
void expectKfdtoposCalls(const std::string& program, const std::vector<std::string>& calls,
                         const std::vector<std::string>& kfdtopo, int kfdtopoStatus) {
    ASSERT_FALSE(kfdtopo.empty()) << "the call trace library was not called";
    const std::size_t compared = kfdtopoStatus == 0 ? calls.size() : kfdtopo.size();
    const std::vector<std::string> first(
        calls.begin(),
        calls.begin() + static_cast<std::ptrdiff_t>(std::min(compared, calls.size())));
    EXPECT_EQ(first, kfdtopo) << "calls of " << program;
}

// Exported and replayed, a report case prints the same; the export of the export, written to a
// .gz file, inflates to the same fixture, and the replay reads that file. The exporter,
// kfdtopo-graph and the floor ask the library what kfdtopo asks.
TEST_P(RoundTrip, ExportReplaysTheSameReport) {
    const GoldenCase& golden = GetParam();
    char pattern[] = "/tmp/kfdtopo-export-XXXXXX";
    const int fd = mkstemp(pattern);
    ASSERT_NE(fd, -1);
    close(fd);
    const std::string exported(pattern);

    const std::vector<std::string> env = environmentOf(golden);
    const CallTraceFile originalCalls;
    const ProcessResult original =
        runCase("kfdtopo", golden.topology, {}, originalCalls.environment(env));
    std::vector<std::string> readerEnv{"KFDSIM_TOPOLOGY=" + golden.topology,
                                       "LD_LIBRARY_PATH=" + std::string(kfdsimDir)};
    readerEnv.insert(readerEnv.end(), env.begin(), env.end());
    ProcessResult first;
    for (const auto& [program, binary] : readerPrograms) {
        const CallTraceFile calls;
        const ProcessResult result = runProcess(
            std::string(binary), {}, calls.environment(readerEnv), std::string(testDataDir));
        expectKfdtoposCalls(std::string(program), calls.calls(), originalCalls.calls(),
                            original.exitStatus);
        if (program == "kfdtopo-export") {
            first = result;
        }
    }
    writeFile(exported, first.out);
    const std::string packed = exported + ".gz";
    const ProcessResult second = runCase("export", exported, {packed}, env);
    const ProcessResult replayed = runCase("kfdtopo", packed, {}, env);
    const ProcessResult inflated = gunzip(packed);
    unlink(exported.c_str());
    unlink(packed.c_str());

    EXPECT_EQ(replayed.exitStatus, original.exitStatus);
    EXPECT_TRUE(replayed.out == original.out)
        << "stdout of the replay: " << firstDifference(original.out, replayed.out);
    EXPECT_TRUE(replayed.err == original.err)
        << "stderr of the replay: " << firstDifference(original.err, replayed.err);
    EXPECT_EQ(second.out, "");
    EXPECT_TRUE(inflated.out == first.out)
        << "export of the export: " << firstDifference(first.out, inflated.out);
}

std::string caseName(const ::testing::TestParamInfo<GoldenCase>& param) {
    std::string name = param.param.tool + "_" + param.param.name;
    std::replace_if(
        name.begin(), name.end(),
        [](char c) { return std::isalnum(static_cast<unsigned char>(c)) == 0; }, '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, Golden, ::testing::ValuesIn(loadCases()), caseName);
INSTANTIATE_TEST_SUITE_P(Cases, RoundTrip, ::testing::ValuesIn(roundTripCases()), caseName);

// A row of tests/data/refusals/refusals.txt: an input that kfdsim refuses and its message.
struct Refusal {
    int line = 0;
    std::string kind;  // "fixture", "properties" or "overlay": the input is that text; "path":
                       // the input names the topology; "entries": a count of files in nodes/
    std::string input;
    std::string message;
};

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.input; }

// A fixture's text as a row writes it: each \xHH stands for that byte.
std::string unescaped(const std::string& text) {
    std::string bytes;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text.compare(at, 2, "\\x") == 0 && at + 4 <= text.size()) {
            bytes += static_cast<char>(std::stoi(text.substr(at + 2, 2), nullptr, 16));
            at += 3;
        } else {
            bytes += text[at];
        }
    }
    return bytes;
}

// Rows "<kind> <input> => <message>"; a line starting with '#' is a comment.
std::vector<Refusal> loadRefusals() {
    std::vector<Refusal> refusals;
    int number = 0;
    for (const std::string& line : lines(readFile(dataPath("refusals/refusals.txt")))) {
        ++number;
        const std::size_t space = line.find(' ');
        const std::size_t arrow = line.rfind(" => ");
        if (line.empty() || line[0] == '#') {
            continue;
        }
        if (space == std::string::npos || arrow == std::string::npos || arrow < space) {
            throw std::runtime_error("a refusal needs a kind, an input and a message: " + line);
        }
        refusals.push_back({number, line.substr(0, space),
                            line.substr(space + 1, arrow - space - 1), line.substr(arrow + 4)});
    }
    return refusals;
}

class Refused : public ::testing::TestWithParam<Refusal> {};

// Writes a row's text in `directory`: a fixture as refused.json, a node's properties or an
// overlay in the one-node tree refused/, or the tree refused/ with that many empty files in
// nodes/. Returns the file that the loader's line names, or the tree.
std::string writeRefused(const Refusal& refusal, const std::string& directory) {
    const std::string text = unescaped(refusal.input);
    if (refusal.kind == "fixture") {
        writeFile(directory + "/refused.json", text);
        return "refused.json";
    }
    if (refusal.kind == "entries") {
        fs::create_directories(directory + "/refused/nodes");
        writeFile(directory + "/refused/generation_id", "1\n");
        // Names linked to a few files: making 65536 files takes seconds, naming them does not.
        const unsigned long count = std::stoul(text);
        for (unsigned long entry = 0; entry < count; ++entry) {
            const std::string file = directory + "/entry" + std::to_string(entry / 4096);
            if (entry % 4096 == 0) {
                writeFile(file, "");
            }
            fs::create_hard_link(file, directory + "/refused/nodes/" + std::to_string(entry));
        }
        return "refused";
    }
    if (refusal.kind != "properties" && refusal.kind != "overlay") {
        throw std::runtime_error("unknown kind of refusal: " + refusal.kind);
    }
    fs::create_directories(directory + "/refused/nodes/0");
    writeFile(directory + "/refused/generation_id", "1\n");
    const bool properties = refusal.kind == "properties";
    writeFile(directory + "/refused/nodes/0/properties", properties ? text : "cpu_cores_count 4\n");
    if (!properties) {
        writeFile(directory + "/refused/kfdsim.json", text);
    }
    return properties ? "refused/nodes/0/properties" : "refused/kfdsim.json";
}

// kfdtopo on an input kfdsim refuses: the loader's one line, then the failed open; nothing on
// stdout. A message starting with '/' names a file inside the topology.
TEST_P(Refused, LoaderLineThenFailedOpen) {
    const Refusal& refusal = GetParam();
    std::string topology = refusal.input;
    std::string named = refusal.input;
    std::string directory(testDataDir);
    if (refusal.kind != "path") {
        char pattern[] = "/tmp/kfdtopo-refused-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
        named = writeRefused(refusal, directory);
        topology = refusal.kind == "fixture" ? "refused.json" : "refused";
    }
    named += refusal.message[0] == '/' ? "" : ": ";
    const ProcessResult result =
        runCase("kfdtopo", topology, {}, environmentOf(GoldenCase{}), directory);
    if (directory != testDataDir) {
        fs::remove_all(directory);
    }
    const std::string expected =
        "kfdsim: " + named + refusal.message + "\nHSAKMT Error 1: Could not open KFD\n";
    EXPECT_EQ(result.exitStatus, 2) << "line " << refusal.line;
    EXPECT_EQ(result.out, "") << "line " << refusal.line;
    EXPECT_TRUE(result.err == expected)
        << "line " << refusal.line << ": stderr " << firstDifference(expected, result.err);
}

INSTANTIATE_TEST_SUITE_P(Refusals, Refused, ::testing::ValuesIn(loadRefusals()),
                         [](const ::testing::TestParamInfo<Refusal>& param) {
                             return "line" + std::to_string(param.param.line);
                         });

TEST(Kfdtopo, RealLibraryWithoutKfdDeviceFailsToOpen) {
    if (access("/dev/kfd", F_OK) == 0) {
        GTEST_SKIP() << "this machine has /dev/kfd";
    }
    const ProcessResult result =
        runProcess(std::string(kfdtopoBinary), {}, {"LD_LIBRARY_PATH", "KFDSIM_TOPOLOGY"});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.out, "");
    // The failure's line, then two lines on this machine: the real library is not kfdsim.
    std::string expected = "HSAKMT Error 20: Could not open KFD\n";
    for (const std::string& line : machineAdvice(DevicePaths{}, currentUser())) {
        expected += line + "\n";
    }
    EXPECT_EQ(result.err, expected);
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 3) << result.err;
}

// On a machine without KFD, an export onto an earlier capture leaves it as it was.
TEST(KfdtopoExport, RealLibraryWithoutKfdDeviceKeepsAnEarlierCapture) {
    if (access("/dev/kfd", F_OK) == 0) {
        GTEST_SKIP() << "this machine has /dev/kfd";
    }
    char pattern[] = "/tmp/kfdtopo-keep-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string directory = pattern;
    const std::string capture = readFile(dataPath("export/default.export.json"));
    writeFile(directory + "/keep.json", capture);
    const ProcessResult result = runProcess(std::string(exporterBinary), {"keep.json"},
                                            {"LD_LIBRARY_PATH", "KFDSIM_TOPOLOGY"}, directory);
    const std::string kept = readFile(directory + "/keep.json");
    const auto files = std::distance(fs::directory_iterator(directory), fs::directory_iterator{});
    fs::remove_all(directory);
    EXPECT_EQ(result.exitStatus, 3);
    EXPECT_TRUE(kept == capture);
    EXPECT_EQ(files, 1);
    // The failed open and its advice, then what became of the file.
    std::string expected =
        "kfdtopo-export: hsaKmtOpenKFD failed with status 20, recorded as a fault\n";
    for (const std::string& line : machineAdvice(DevicePaths{}, currentUser())) {
        expected += "kfdtopo-export: " + line + "\n";
    }
    expected += "kfdtopo-export: keep.json already exists and was kept as it was;";
    EXPECT_EQ(result.err.rfind(expected, 0), 0u) << result.err;
}
}  // namespace
