// Open advice: the situations of tests/data/advice/situations.txt, each built in a temporary
// directory, and the defaults against this machine.
#include "advice/open_advice.h"

#include <filesystem>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/paths.h"
#include "tests/support/process.h"
#include "tests/support/text_files.h"

namespace {

namespace fs = std::filesystem;

struct Situation {
    std::string name;
    std::vector<std::string> rows;  // after the name, in order
};

// Its name, for the test's listing.
void PrintTo(const Situation& situation, std::ostream* out) { *out << situation.name; }

std::vector<Situation> loadSituations() {
    std::vector<Situation> situations;
    for (const std::string& row :
         lines(readFile(std::string(testDataDir) + "/advice/situations.txt"))) {
        if (row.rfind("situation ", 0) == 0) {
            situations.push_back({row.substr(row.find(' ') + 1), {}});
        } else if (!row.empty() && row[0] != '#') {
            situations.back().rows.push_back(row);
        }
    }
    return situations;
}

// The text with \0 and \n as a NUL and a line end.
std::string unescaped(const std::string& text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool escape = text[i] == '\\' && i + 1 < text.size();
        bytes += !escape ? text[i] : text[++i] == '0' ? '\0' : '\n';
    }
    return bytes;
}

void writeText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

class OpenAdvice : public ::testing::TestWithParam<Situation> {};

TEST_P(OpenAdvice, NamesWhatTheMachineShowsAndWhatToDo) {
    char pattern[] = "/tmp/open-advice-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const DevicePaths paths{dir + "/kfd",
                            dir + "/dri",
                            dir + "/sys",
                            dir + "/.dockerenv",
                            dir + "/run/.containerenv",
                            dir + "/proc/1/environ",
                            dir + "/proc/self/cgroup"};
    DeviceUser user{"alice", 1000, {1000}};
    std::vector<std::string> expected;
    for (const std::string& row : GetParam().rows) {
        std::istringstream words(row);
        std::string key;
        std::string path;
        words >> key;
        if (key == "pci") {
            fs::create_directories(paths.sys + "/bus/pci/devices");
            for (std::string vendor, pciClass; words >> path >> vendor >> pciClass;) {
                writeText(paths.sys + "/bus/pci/devices/" + path + "/vendor", vendor + "\n");
                writeText(paths.sys + "/bus/pci/devices/" + path + "/class", pciClass + "\n");
            }
        } else if (key == "amdgpu") {
            fs::create_directories(paths.sys + "/module/amdgpu");
        } else if (key == "text") {
            std::string text;
            std::getline(words >> path >> std::ws, text);
            writeText(dir + "/" + path, unescaped(text));
        } else if (key == "device") {
            mode_t mode = 0;
            gid_t group = 0;
            uid_t owner = 0;
            words >> path >> std::oct >> mode >> std::dec >> group >> owner;
            writeText(dir + "/" + path, "");
            ASSERT_EQ(chown((dir + "/" + path).c_str(), owner, group), 0) << row;
            ASSERT_EQ(chmod((dir + "/" + path).c_str(), mode), 0) << row;
        } else if (key == "user") {
            user.groups.clear();
            words >> user.name >> user.uid;
            for (gid_t group = 0; words >> group;) {
                user.groups.push_back(group);
            }
        } else {
            ASSERT_EQ(key, "expect") << row;
            std::string line = row.substr(key.size() + 1);
            for (std::size_t at = line.find('@'); at != std::string::npos; at = line.find('@')) {
                line.replace(at, 1, dir);
            }
            expected.push_back(line);
        }
    }
    EXPECT_EQ(machineAdvice(paths, user), expected);
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Situations, OpenAdvice, ::testing::ValuesIn(loadSituations()),
                         [](const auto& situation) { return situation.param.name; });

// This test program runs on kfdsim, which the advice recognises: its failures were replayed from
// another machine, whatever this one shows.
TEST(OpenAdvice, NoneWhenTheLibraryIsKfdsim) {
    EXPECT_EQ(openAdvice(DevicePaths{}, currentUser()), std::vector<std::string>{});
}

// The defaults against this machine. Every Linux machine has the bus, the modules and the
// process files; the device files are those that the library opens.
TEST(OpenAdviceDefaults, PathsAreThoseOfThisMachineAndTheLibrary) {
    const DevicePaths paths;
    for (const std::string& path : {paths.initEnviron, paths.cgroup}) {
        EXPECT_TRUE(fs::exists(path)) << path;
    }
    // A chroot, such as the suite's Debian 13 root, may have no sysfs of its own.
    if (fs::exists("/sys/bus")) {
        for (const std::string& path : {paths.sys + "/bus/pci/devices", paths.sys + "/module"}) {
            EXPECT_TRUE(fs::exists(path)) << path;
        }
    }
    const std::string library = readFile(KFDTOPO_HSAKMT_LIBRARY);
    EXPECT_NE(library.find('\0' + paths.kfd + '\0'), std::string::npos) << paths.kfd;
    EXPECT_NE(library.find('\0' + paths.dri + "/renderD"), std::string::npos) << paths.dri;
    // Absolute, or the advice would depend on the working directory.
    for (const std::string& path : {paths.kfd, paths.dri, paths.sys, paths.dockerEnv,
                                    paths.containerEnv, paths.initEnviron, paths.cgroup}) {
        EXPECT_EQ(path.rfind('/', 0), 0u) << path;
    }
}

// In a docker container, the advice tells it by /.dockerenv once the bus and driver say nothing.
TEST(OpenAdviceDefaults, DockerContainerByItsFile) {
    if (!fs::exists("/.dockerenv")) {
        GTEST_SKIP() << "not a docker container";
    }
    char pattern[] = "/tmp/open-advice-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    DevicePaths paths;
    paths.kfd = dir + "/kfd";
    paths.sys = dir + "/sys";
    writeText(paths.sys + "/bus/pci/devices/0000:c1:00.0/vendor", "0x1002\n");
    writeText(paths.sys + "/bus/pci/devices/0000:c1:00.0/class", "0x038000\n");
    fs::create_directories(paths.sys + "/module/amdgpu");
    const std::vector<std::string> advice = machineAdvice(paths, currentUser());
    fs::remove_all(dir);
    EXPECT_EQ(advice.at(0), dir +
                                "/kfd does not exist and this looks like a container "
                                "(/.dockerenv) started without the GPU devices.");
}

std::string idOutput(const std::string& option) {
    const ProcessResult result = runProcess("/usr/bin/id", {option}, {});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    return result.out.substr(0, result.out.find('\n'));
}

// The user as id prints it: user ID, name and the group IDs, whatever their order.
void expectUserOfId() {
    const DeviceUser user = currentUser();
    EXPECT_EQ(std::to_string(user.uid), idOutput("-u"));
    EXPECT_EQ(user.name, idOutput("-un"));
    std::istringstream ids(idOutput("-G"));
    std::set<gid_t> groups;
    for (gid_t group = 0; ids >> group;) {
        groups.insert(group);
    }
    EXPECT_EQ(std::set<gid_t>(user.groups.begin(), user.groups.end()), groups);
}

// As this user and, run by root, as nobody with and without supplementary groups: its
// effective group must then be added to them.
TEST(OpenAdviceDefaults, CurrentUserIsTheOneIdPrints) {
    expectUserOfId();
    const struct passwd* nobody = getpwnam("nobody");
    if (geteuid() != 0 || nobody == nullptr) {
        return;
    }
    for (const std::vector<gid_t>& groups : {std::vector<gid_t>{}, std::vector<gid_t>{44, 29}}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const bool dropped = setgroups(groups.size(), groups.data()) == 0 &&
                                 setgid(nobody->pw_gid) == 0 && setuid(nobody->pw_uid) == 0;
            if (dropped) {
                expectUserOfId();
            }
            _exit(dropped && !::testing::Test::HasFailure() ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_EQ(status, 0) << "as nobody with " << groups.size() << " supplementary groups";
    }
}

}  // namespace
