// Open advice: each situation of the device files, built in a temporary directory.
#include "app/open_advice.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

constexpr gid_t video = 44;  // fixed by Debian's base-passwd, as are audio and root
constexpr gid_t audio = 29;
constexpr uid_t alice = 1000;

// A device file under the test's directory, made in the order listed.
struct DeviceFile {
    const char* path;
    mode_t mode;
    gid_t group;
    uid_t owner;
};

struct Situation {
    const char* name;
    bool driverLoaded;
    std::vector<DeviceFile> files;
    std::vector<gid_t> userGroups;
    std::vector<std::string> expected;  // "@" stands for the directory
};

const Situation situations[] = {
    {"NoDriver",
     false,
     {},
     {alice},
     {"@/kfd does not exist: the amdgpu driver is not loaded (no @/amdgpu).",
      "Load it with \"modprobe amdgpu\" (as root); \"dmesg | grep -i amdgpu\" says why it did "
      "not load."}},
    {"Container",
     true,
     {},
     {alice},
     {"@/kfd does not exist, yet the amdgpu driver is loaded: this looks like a container "
      "started without the GPU devices.",
      "Start it with --device=/dev/kfd --device=/dev/dri."}},
    {"NotInGroup",
     true,
     {{"kfd", 0660, video, 0}, {"dri/renderD128", 0660, video, 0}, {"dri/card0", 0600, 0, 0}},
     {alice},
     {"User alice cannot read and write @/kfd, @/dri/renderD128 (group video, mode 0660).",
      "Join with \"usermod -aG video alice\" (as root), then log in again."}},
    {"GroupRoot",
     true,
     {{"kfd", 0600, 0, 0}, {"dri/renderD128", 0666, video, 0}},
     {alice},
     {"User alice cannot read and write @/kfd (group root, mode 0600).",
      "Group root means no udev rule gives the device a group: add one, such as "
      "GROUP=\"render\", MODE=\"0660\", then join that group."}},
    {"GroupWithoutAccess",
     true,
     {{"kfd", 0600, video, 0}, {"dri/renderD128", 0666, video, 0}},
     {alice, video},
     {"User alice cannot read and write @/kfd (group video, mode 0600).",
      "Group video lacks read and write: a udev rule must set MODE=\"0660\"."}},
    {"OwnerBitsForTheOwner",
     true,
     {{"kfd", 02066, video, alice}, {"dri/renderD128", 0066, video, alice}},
     {alice, video},
     {"User alice cannot read and write @/kfd (group video, mode 2066); @/dri/renderD128 (group "
      "video, mode 0066).",
      "Group video lacks read and write: a udev rule must set MODE=\"0660\"."}},
    {"RenderNodesInNameOrderGroupedByKind",
     true,
     {{"dri/renderD131", 0640, audio, 0},
      {"dri/renderD130", 0660, audio, 0},
      {"dri/renderD129", 0660, audio, 0},
      {"dri/renderD128", 0660, video, 0},
      {"kfd", 0660, video, 0}},
     {alice},
     {"User alice cannot read and write @/kfd, @/dri/renderD128 (group video, mode 0660); "
      "@/dri/renderD129, @/dri/renderD130 (group audio, mode 0660); @/dri/renderD131 (group "
      "audio, mode 0640).",
      "Join with \"usermod -aG video,audio alice\" (as root), then log in again."}},
    {"EveryRemedy",
     true,
     {{"kfd", 0600, 0, 0}, {"dri/renderD128", 0660, video, 0}, {"dri/renderD129", 0600, audio, 0}},
     {alice, audio},
     {"User alice cannot read and write @/kfd (group root, mode 0600); @/dri/renderD128 (group "
      "video, mode 0660); @/dri/renderD129 (group audio, mode 0600).",
      "Group root means no udev rule gives the device a group: add one, such as "
      "GROUP=\"render\", MODE=\"0660\", then join that group; join with \"usermod -aG video "
      "alice\" (as root), then log in again; group audio lacks read and write: a udev rule must "
      "set MODE=\"0660\"."}},
    {"RenderNodeBlocked",
     true,
     {{"kfd", 0666, video, 0}, {"dri/renderD128", 0664, video, 0}},
     {alice},
     {"User alice cannot read and write @/dri/renderD128 (group video, mode 0664).",
      "Join with \"usermod -aG video alice\" (as root), then log in again."}},
    {"NoRenderNodes",
     true,
     {{"kfd", 0666, 0, 0}, {"dri/card0", 0666, video, 0}},
     {alice},
     {"@/dri holds no render nodes (renderD*), which the library needs for every GPU.",
      "A container needs --device=/dev/dri as well; on a host, \"dmesg | grep -i amdgpu\" "
      "shows whether the GPUs came up."}},
    {"AllAccessible",
     true,
     {{"kfd", 0660, video, 0}, {"dri/renderD128", 0660, video, 0}},
     {alice, video},
     {"@/kfd and the render nodes are readable and writable for user alice: the driver "
      "refused the open.",
      "The kernel log says why, an unsupported GPU for one: dmesg | grep -i kfd"}},
};

void makeFile(const std::string& path, const DeviceFile& file) {
    std::ofstream{path};
    ASSERT_EQ(chown(path.c_str(), file.owner, file.group), 0) << path;
    ASSERT_EQ(chmod(path.c_str(), file.mode), 0) << path;
}

class OpenAdvice : public ::testing::TestWithParam<Situation> {};

TEST_P(OpenAdvice, NamesWhatTheDeviceFilesShowAndWhatToDo) {
    const Situation& situation = GetParam();
    char pattern[] = "/tmp/open-advice-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const DevicePaths paths{dir + "/kfd", dir + "/dri", dir + "/amdgpu"};
    fs::create_directory(paths.dri);
    if (situation.driverLoaded) {
        fs::create_directory(paths.amdgpuModule);
    }
    for (const DeviceFile& file : situation.files) {
        makeFile(dir + "/" + file.path, file);
    }
    std::vector<std::string> expected = situation.expected;
    for (std::string& line : expected) {
        for (std::size_t at = line.find('@'); at != std::string::npos; at = line.find('@', at)) {
            line.replace(at, 1, dir);
        }
    }
    EXPECT_EQ(openAdvice(paths, {"alice", alice, situation.userGroups}), expected);
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Situations, OpenAdvice, ::testing::ValuesIn(situations),
                         [](const auto& row) { return std::string(row.param.name); });

// This process's user is named from the password database, and holds its effective group.
TEST(OpenAdvice, CurrentUserIsThisProcesssEffectiveUser) {
    const DeviceUser user = currentUser();
    EXPECT_EQ(user.uid, geteuid());
    EXPECT_EQ(user.name, getpwuid(geteuid())->pw_name);
    EXPECT_NE(std::find(user.groups.begin(), user.groups.end(), getegid()), user.groups.end());
}

}  // namespace
