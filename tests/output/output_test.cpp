// The programs' output writer on every kind of path, as listed in tests/data/output/paths.txt:
// what each path is afterwards, what it holds, the exit status and the message.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/paths.h"
#include "tests/support/process.h"
#include "tests/support/text_files.h"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view exportBinary = KFDTOPO_EXPORT_BINARY;
constexpr std::string_view graphBinary = KFDTOPO_GRAPH_BINARY;

// The mode of a file made beforehand, unlike any default, so that a kept mode shows.
constexpr mode_t madeFileMode = S_IRUSR | S_IWUSR | S_IROTH;

// Device numbers of the kernel's null and full devices, made anew in the scratch folder.
constexpr unsigned memoryMajor = 1;
constexpr unsigned nullMinor = 3;
constexpr unsigned fullMinor = 7;

struct PathCase {
    std::string tool;
    int exitStatus = 0;
    std::string before;
    std::string path;
    std::string afterKind;
    std::string afterContent;
    std::string message;
    std::string purpose;
};

void PrintTo(const PathCase& row, std::ostream* out) {
    *out << row.tool << " " << row.before << " " << row.path;
}

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? ""
                                      : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::vector<PathCase> loadCases() {
    std::vector<PathCase> cases;
    for (std::string line : lines(readFile(std::string(testDataDir) + "/output/paths.txt"))) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        PathCase row;
        if (const std::size_t hash = line.find(" # "); hash != std::string::npos) {
            row.purpose = trimmed(line.substr(hash + 3));
            line.erase(hash);
        }
        if (const std::size_t arrow = line.find(" => "); arrow != std::string::npos) {
            row.message = trimmed(line.substr(arrow + 4)) + "\n";
            line.erase(arrow);
        }
        std::istringstream words(line);
        std::string after;
        words >> row.tool >> row.exitStatus >> row.before >> row.path >> after;
        row.afterKind = after.substr(0, after.find(':'));
        row.afterContent = after.substr(after.find(':') + 1);
        cases.push_back(row);
    }
    return cases;
}

std::string caseName(const ::testing::TestParamInfo<PathCase>& param) {
    std::string name = param.param.tool + "_" + param.param.before + "_" + param.param.path;
    std::replace_if(
        name.begin(), name.end(),
        [](char c) { return std::isalnum(static_cast<unsigned char>(c)) == 0; }, '_');
    return name;
}

std::string kindOf(const std::string& path) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        return "nothing";
    }
    for (const auto& [bits, name] : {std::pair<mode_t, const char*>{S_IFREG, "file"},
                                     {S_IFLNK, "symlink"},
                                     {S_IFIFO, "fifo"},
                                     {S_IFCHR, "char"},
                                     {S_IFDIR, "directory"}}) {
        if ((status.st_mode & S_IFMT) == bits) {
            return name;
        }
    }
    return "other";
}

// A row that this machine cannot run, such as a container without the right to make devices.
struct NotHere : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void check(bool made, const std::string& what) {
    if (!made) {
        throw std::runtime_error("cannot make " + what + ": " + std::strerror(errno));
    }
}

// Makes what the row names at `path` in the scratch folder.
void makeBefore(const std::string& kind, const std::string& scratch, const std::string& path) {
    const std::string at = scratch + "/" + path;
    const auto makeFile = [](const std::string& file) {
        writeFile(file, "old");
        check(chmod(file.c_str(), madeFileMode) == 0, file);
    };
    if (kind == "file") {
        makeFile(at);
    } else if (kind == "symlink" || kind == "dangling") {
        check(symlink("target", at.c_str()) == 0, at);
        if (kind == "symlink") {
            makeFile(scratch + "/target");
        }
    } else if (kind == "fifo") {
        check(mkfifo(at.c_str(), S_IRUSR | S_IWUSR) == 0, at);
    } else if (kind == "null" || kind == "full") {
        const dev_t device = makedev(memoryMajor, kind == "null" ? nullMinor : fullMinor);
        if (mknod(at.c_str(), S_IFCHR | S_IRUSR | S_IWUSR, device) != 0 && errno == EPERM) {
            throw NotHere("device nodes cannot be made here");
        }
        check(kindOf(at) == "char", at);
    } else if (kind == "directory") {
        check(mkdir(at.c_str(), S_IRWXU) == 0, at);
    } else if (kind == "readonly") {
        if (runProcess("/usr/bin/unshare", {"--mount", "true"}, {}).exitStatus != 0) {
            throw NotHere("no mount namespace can be made here");
        }
        check(mkdir(fs::path(at).parent_path().c_str(), S_IRWXU) == 0, at);
        makeFile(at);
    } else if (kind != "nothing") {
        throw std::runtime_error("unknown kind " + kind);
    }
}

// Runs the row's tool in `scratch`: with the path as argument, or with standard output sent to
// it; for "readonly", in a mount namespace of its own where the path's folder is read-only.
ProcessResult runTool(const PathCase& row, const std::string& scratch, const std::string& path) {
    const std::size_t redirect = row.path.find('>');
    const std::string argument = row.path.substr(0, redirect);
    std::vector<std::string> args = {"-c", "exec \"$@\"", "sh"};
    if (redirect != std::string::npos) {
        args[1] += " " + row.path.substr(redirect);
    }
    if (row.before == "readonly") {
        const std::string folder = fs::path(path).parent_path();
        args[1] = "mount --bind -o ro " + folder + " " + folder + " && " + args[1];
        args.insert(args.begin(), {"--mount", "--propagation", "private", "/bin/sh"});
    }
    args.emplace_back(row.tool == "export" ? exportBinary : graphBinary);
    if (!argument.empty()) {
        if (row.tool == "graph") {
            args.emplace_back("--svg");
        }
        args.push_back(argument);
    }
    return runProcess(row.before == "readonly" ? "/usr/bin/unshare" : "/bin/sh", args,
                      {"KFDSIM_TOPOLOGY=", "LD_LIBRARY_PATH=" + std::string(kfdsimDir)}, scratch);
}

// What the tool writes when the path is a plain one.
std::string expectedOutput(const PathCase& row) {
    if (row.tool == "export") {
        return readFile(std::string(testDataDir) + "/export/default.export.json");
    }
    PathCase plain = row;
    plain.path = row.path[0] == '>' ? "" : "-";
    plain.before = "nothing";
    const ProcessResult drawn = runTool(plain, "/tmp", plain.path);
    if (drawn.exitStatus != 0 || drawn.out.empty()) {
        throw std::runtime_error("kfdtopo-graph failed to draw: " + drawn.err);
    }
    return drawn.out;
}

// Reads a FIFO whole on a thread of its own, while the tool writes it.
class FifoReader {
  public:
    explicit FifoReader(const std::string& path)
        : held_(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)), thread_([this, path] {
              const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
              char buffer[4096];
              for (ssize_t got = 0; fd >= 0 && (got = read(fd, buffer, sizeof buffer)) > 0;) {
                  text_.append(buffer, static_cast<std::size_t>(got));
              }
              if (fd >= 0) {
                  close(fd);
              }
          }) {}
    ~FifoReader() { finish(); }
    FifoReader(const FifoReader&) = delete;
    FifoReader& operator=(const FifoReader&) = delete;

    // What was read. A writer that never came is stood in for, through the FIFO held open
    // (its name may be another file by now), so that the reader ends.
    const std::string& finish() {
        if (thread_.joinable()) {
            const std::string held = "/proc/self/fd/" + std::to_string(held_);
            const int fd = open(held.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                close(fd);
            }
            thread_.join();
            close(held_);
        }
        return text_;
    }

  private:
    int held_;
    std::string text_;
    std::thread thread_;
};

std::set<std::string> entries(const std::string& folder) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
        names.insert(entry.path().lexically_relative(folder).string());
    }
    return names;
}

class OutputPath : public ::testing::TestWithParam<PathCase> {};

TEST_P(OutputPath, LeavesThePathWhatItWasWithTheOutputInIt) {
    const PathCase& row = GetParam();
    const bool devices = row.before == "null" || row.before == "full";
    if ((devices || row.before == "readonly") && geteuid() != 0) {
        GTEST_SKIP() << "device nodes and a read-only mount need root; root bypasses permissions";
    }
    // kfdtopo-graph writes files with --svg, which needs the SVG module.
    if (row.tool == "graph" && KFDTOPO_GRAPH_SVG == 0) {
        GTEST_SKIP() << "kfdtopo-graph's SVG: built without Graphviz";
    }
    char pattern[] = "/tmp/kfdtopo-output-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string scratch = pattern;
    const std::unique_ptr<const std::string, void (*)(const std::string*)> removed(
        &scratch, [](const std::string* folder) { fs::remove_all(*folder); });
    const bool standardOutput = row.afterKind == "stdout";
    // The file redirected to, else the argument.
    const std::size_t redirect = row.path.find_last_of('>');
    const std::string path =
        redirect == std::string::npos ? row.path : row.path.substr(redirect + 1);
    const std::string at = scratch + "/" + path;
    try {
        makeBefore(row.before, scratch, path);
    } catch (const NotHere& missing) {
        GTEST_SKIP() << missing.what();
    }
    const std::set<std::string> made = entries(scratch);
    struct stat before {};
    lstat(at.c_str(), &before);

    std::unique_ptr<FifoReader> reader;
    if (row.before == "fifo") {
        reader = std::make_unique<FifoReader>(at);
    }
    const ProcessResult result = runTool(row, scratch, path);
    const std::string read = reader ? reader->finish() : "";

    EXPECT_EQ(result.exitStatus, row.exitStatus) << row.purpose;
    EXPECT_EQ(result.err, row.message) << row.purpose;
    // Only the file written, and the file a link names, may be new: no temporary file left.
    std::set<std::string> left = made;
    if (row.afterKind == "file" || row.afterKind == "symlink") {
        left.insert(path);
    }
    if (row.afterKind == "symlink") {
        left.insert("target");
    }
    EXPECT_EQ(entries(scratch), left) << "files made or removed; " << row.purpose;
    if (!standardOutput) {
        EXPECT_EQ(kindOf(at), row.afterKind) << row.purpose;
        EXPECT_EQ(result.out, "");
    }
    struct stat after {};
    stat(at.c_str(), &after);
    if (row.afterKind == "char") {
        EXPECT_EQ(after.st_rdev, before.st_rdev) << "another device";
    }
    if (row.afterKind == "symlink") {
        EXPECT_EQ(fs::read_symlink(at), "target");
    }
    if (row.before == "file" || row.before == "symlink") {
        EXPECT_EQ(after.st_mode & 07777, madeFileMode) << "permission bits not kept";
    }
    // Devices are never read: a full device reads as endless zeros.
    if (!row.afterContent.empty()) {
        std::string content = standardOutput         ? result.out
                              : row.before == "fifo" ? read
                                                     : readFile(at);
        if (row.afterContent == "gzip") {
            const ProcessResult inflated = runProcess("/bin/gzip", {"-dc", at}, {});
            EXPECT_EQ(inflated.exitStatus, 0) << inflated.err;
            content = inflated.out;
        }
        const std::string expected = row.afterContent == "old"        ? "old"
                                     : row.afterContent == "appended" ? "old" + expectedOutput(row)
                                                                      : expectedOutput(row);
        EXPECT_TRUE(content == expected) << "not what was written: " << content.substr(0, 80);
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, OutputPath, ::testing::ValuesIn(loadCases()), caseName);

}  // namespace
