// Open advice: each situation of the device files, built in a temporary directory.
#include "app/open_advice.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

constexpr int absent = -1;
constexpr gid_t video = 44;  // fixed by Debian's base-passwd

struct Setup {
    int kfdMode;  // absent: no device file
    gid_t kfdGroup;
    bool driverLoaded;
    int renderMode;  // absent: no render node; else renderD128 of group video
    std::vector<gid_t> userGroups;
};

struct Situation {
    const char* name;
    Setup setup;
    std::vector<std::string> expected;  // "@" stands for the directory
};

const Situation situations[] = {
    {"NoDriver",
     {absent, 0, false, absent, {1000}},
     {"@/kfd does not exist: the amdgpu driver is not loaded (no @/amdgpu).",
      "Load it with \"modprobe amdgpu\" (as root); \"dmesg | grep -i amdgpu\" says why it did "
      "not load."}},
    {"Container",
     {absent, 0, true, absent, {1000}},
     {"@/kfd does not exist, yet the amdgpu driver is loaded: this looks like a container "
      "started without the GPU devices.",
      "Start it with --device=/dev/kfd --device=/dev/dri."}},
    {"NotInGroup",
     {0660, video, true, 0660, {1000}},
     {"User alice cannot read and write @/kfd, @/dri/renderD128 (group video, mode 0660).",
      "Join with \"usermod -aG video alice\" (as root), then log in again."}},
    {"GroupRoot",
     {0600, 0, true, 0666, {1000}},
     {"User alice cannot read and write @/kfd (group root, mode 0600).",
      "Group root means no udev rule gives the device a group: add one, such as "
      "GROUP=\"render\", MODE=\"0660\", then join that group."}},
    {"GroupWithoutAccess",
     {0600, video, true, 0666, {1000, video}},
     {"User alice cannot read and write @/kfd (group video, mode 0600).",
      "Group video lacks read and write: a udev rule must set MODE=\"0660\"."}},
    {"RenderNodeBlocked",
     {0666, video, true, 0660, {1000}},
     {"User alice cannot read and write @/dri/renderD128 (group video, mode 0660).",
      "Join with \"usermod -aG video alice\" (as root), then log in again."}},
    {"NoRenderNodes",
     {0666, 0, true, absent, {1000}},
     {"@/dri holds no render nodes (renderD*), which the library needs for every GPU.",
      "A container needs --device=/dev/dri as well; on a host, \"dmesg | grep -i amdgpu\" "
      "shows whether the GPUs came up."}},
    {"AllAccessible",
     {0660, video, true, 0660, {1000, video}},
     {"@/kfd and the render nodes are readable and writable for user alice: the driver "
      "refused the open.",
      "The kernel log says why, an unsupported GPU for one: dmesg | grep -i kfd"}},
};

void makeFile(const std::string& path, int mode, gid_t group) {
    std::ofstream{path};
    ASSERT_EQ(chown(path.c_str(), 0, group), 0) << path;
    ASSERT_EQ(chmod(path.c_str(), static_cast<mode_t>(mode)), 0) << path;
}

class OpenAdvice : public ::testing::TestWithParam<Situation> {};

TEST_P(OpenAdvice, NamesWhatTheDeviceFilesShowAndWhatToDo) {
    const Situation& situation = GetParam();
    char pattern[] = "/tmp/open-advice-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const DevicePaths paths{dir + "/kfd", dir + "/dri", dir + "/amdgpu"};
    fs::create_directory(paths.dri);
    if (situation.setup.driverLoaded) {
        fs::create_directory(paths.amdgpuModule);
    }
    if (situation.setup.kfdMode != absent) {
        makeFile(paths.kfd, situation.setup.kfdMode, situation.setup.kfdGroup);
    }
    if (situation.setup.renderMode != absent) {
        makeFile(paths.dri + "/renderD128", situation.setup.renderMode, video);
        makeFile(paths.dri + "/card0", 0600, 0);  // not a render node: never named
    }
    std::vector<std::string> expected = situation.expected;
    for (std::string& line : expected) {
        for (std::size_t at = line.find('@'); at != std::string::npos; at = line.find('@', at)) {
            line.replace(at, 1, dir);
        }
    }
    EXPECT_EQ(openAdvice(paths, {"alice", 1000, situation.setup.userGroups}), expected);
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Situations, OpenAdvice, ::testing::ValuesIn(situations),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
