// Open advice: each situation of the machine, built in a temporary directory.
#include "app/open_advice.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

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

// A text file under the test's directory, such as a sign of a container.
struct TextFile {
    const char* path;
    std::string text;
};

struct Situation {
    const char* name;
    const char* pci;  // "address vendor class" triples; nullptr: no sys/bus/pci/devices at all
    bool driverLoaded;
    std::vector<TextFile> texts;
    std::vector<DeviceFile> files;
    std::vector<gid_t> userGroups;
    std::vector<std::string> expected;  // "@" stands for the directory
};

// A host bridge (AMD's CPU vendor ID), a GPU and its HDMI audio function.
constexpr const char* oneGpu =
    "0000:00:00.0 0x1022 0x060000 0000:c1:00.0 0x1002 0x038000 0000:c1:00.1 0x1002 0x040300";
// Virtual machine: a host bridge and virtio devices.
constexpr const char* virtio =
    "0000:00:00.0 0x8086 0x060000 0000:00:02.0 0x1af4 0x018000 0000:00:03.0 0x1af4 0x020000";

const std::string noGpuHint =
    "Without a GPU, \"kfdtopo-replay machine.json.gz\" shows the report of a machine captured on "
    "it with \"kfdtopo-export machine.json.gz\", as bug reports attach.";
const std::string containerRemedy = "Start it with --device=/dev/kfd --device=/dev/dri.";

const Situation situations[] = {
    // Without /dev/kfd: the PCI bus, the driver, the signs of a container.
    {"NoAmdDeviceOnTheBus",
     virtio,
     false,
     {},
     {},
     {alice},
     {"This machine has no AMD GPU: @/sys/bus/pci/devices holds no display or accelerator "
      "device of vendor 0x1002, so it has no KFD.",
      noGpuHint}},
    {"AmdDevicesThatAreNoGpu",
     "0000:00:08.1 0x1002 0x0c0330 0000:00:08.3 0x1002 0x040300 0000:00:14.0 0x1022 0x120000 "
     "0000:00:15.0 0x1002 0x03",
     true,
     {},
     {},
     {alice},
     {"This machine has no AMD GPU: @/sys/bus/pci/devices holds no display or accelerator "
      "device of vendor 0x1002, so it has no KFD.",
      noGpuHint}},
    // A container sees the host's bus: without a GPU there, no device option brings one.
    {"NoAmdGpuUnderADockerenv",
     virtio,
     false,
     {{".dockerenv", ""}},
     {},
     {alice},
     {"This machine has no AMD GPU: @/sys/bus/pci/devices holds no display or accelerator "
      "device of vendor 0x1002, so it has no KFD.",
      noGpuHint}},
    {"GpuWithoutDriver",
     oneGpu,
     false,
     {},
     {},
     {alice},
     {"@/kfd does not exist: the amdgpu driver is not loaded (no @/sys/module/amdgpu), though "
      "the PCI bus has an AMD GPU at 0000:c1:00.0.",
      "Load it with \"modprobe amdgpu\" (as root); \"dmesg | grep -i amdgpu\" says why it did "
      "not load."}},
    // The host's modules show in a container too: the driver must be loaded there first.
    {"AcceleratorsWithoutDriverInAContainer",
     "0000:15:00.0 0x1002 0x120000 0000:35:00.0 0x1002 0x120000 0000:05:00.0 0x1002 0x120000 "
     "0000:25:00.0 0x1002 0x120000",
     false,
     {{".dockerenv", ""}},
     {},
     {alice},
     {"@/kfd does not exist: the amdgpu driver is not loaded (no @/sys/module/amdgpu), though "
      "the PCI bus has 4 AMD GPUs, the first at 0000:05:00.0.",
      "Load it with \"modprobe amdgpu\" (as root); \"dmesg | grep -i amdgpu\" says why it did "
      "not load."}},
    {"DriverLoadedWithoutKfd",
     oneGpu,
     true,
     {{"proc/1/environ", "HOME=/\0container=\0TERM=linux\0"s},
      {"proc/self/cgroup",
       "1:name=systemd:/system.slice/lxcfs.service\n0::/user.slice/"
       "user-1000.slice/session-2.scope\n"}},
     {},
     {alice},
     {"@/kfd does not exist, though the amdgpu driver is loaded and the PCI bus has an AMD GPU "
      "at 0000:c1:00.0: the driver did not create it.",
      "The kernel may lack KFD (CONFIG_HSA_AMD), or this /dev is not the machine's own (a "
      "chroot): \"dmesg | grep -i kfd\" shows whether KFD started."}},
    {"DockerContainer",
     oneGpu,
     true,
     {{".dockerenv", ""}, {"proc/self/cgroup", "0::/\n"}},
     {},
     {alice},
     {"@/kfd does not exist and this looks like a container (@/.dockerenv) started without the "
      "GPU devices.",
      containerRemedy}},
    {"KubernetesContainerByItsCgroup",
     oneGpu,
     true,
     {{"proc/self/cgroup", "12:memory:/kubepods/burstable/pod5c1e/0a3f\n0::/\n"}},
     {},
     {alice},
     {"@/kfd does not exist and this looks like a container (kubepods in @/proc/self/cgroup) "
      "started without the GPU devices.",
      containerRemedy}},
    {"SystemdScopeOfAContainer",
     oneGpu,
     true,
     {{"proc/self/cgroup", "0::/system.slice/docker-0a3f.scope\n"}},
     {},
     {alice},
     {"@/kfd does not exist and this looks like a container (docker in @/proc/self/cgroup) "
      "started without the GPU devices.",
      containerRemedy}},
    // A container may not see the bus at all.
    {"PodmanContainerWithoutBus",
     nullptr,
     false,
     {{"run/.containerenv", ""}},
     {},
     {alice},
     {"@/kfd does not exist and this looks like a container (@/run/.containerenv) started "
      "without the GPU devices.",
      containerRemedy}},
    {"ContainerByInitEnvironmentWithEmptyBus",
     "",
     false,
     {{"proc/1/environ", "HOME=/\0container=lxc\0"s}},
     {},
     {alice},
     {"@/kfd does not exist and this looks like a container (container=lxc in @/proc/1/environ) "
      "started without the GPU devices.",
      containerRemedy}},
    // A chroot without /sys: nothing to tell a GPU by.
    {"NoBus",
     nullptr,
     false,
     {},
     {},
     {alice},
     {"@/kfd does not exist, and with no devices in @/sys/bus/pci/devices kfdtopo cannot tell "
      "whether this machine has an AMD GPU.",
      "Run it where /sys and /dev are the machine's own (not in a chroot) to know more; without "
      "a GPU, \"kfdtopo-replay machine.json\" replays a captured machine."}},
    {"EmptyBus",
     "",
     true,
     {},
     {},
     {alice},
     {"@/kfd does not exist, and with no devices in @/sys/bus/pci/devices kfdtopo cannot tell "
      "whether this machine has an AMD GPU.",
      "Run it where /sys and /dev are the machine's own (not in a chroot) to know more; without "
      "a GPU, \"kfdtopo-replay machine.json\" replays a captured machine."}},
    // With /dev/kfd: who may read and write the device files.
    {"NotInGroup",
     oneGpu,
     true,
     {},
     {{"kfd", 0660, video, 0}, {"dri/renderD128", 0660, video, 0}, {"dri/card0", 0600, 0, 0}},
     {alice},
     {"User alice cannot read and write @/kfd, @/dri/renderD128 (group video, mode 0660).",
      "Join with \"usermod -aG video alice\" (as root), then log in again."}},
    {"GroupRoot",
     oneGpu,
     true,
     {},
     {{"kfd", 0600, 0, 0}, {"dri/renderD128", 0666, video, 0}},
     {alice},
     {"User alice cannot read and write @/kfd (group root, mode 0600).",
      "Group root means no udev rule gives the device a group: add one, such as "
      "GROUP=\"render\", MODE=\"0660\", then join that group."}},
    {"GroupWithoutAccess",
     oneGpu,
     true,
     {},
     {{"kfd", 0600, video, 0}, {"dri/renderD128", 0666, video, 0}},
     {alice, video},
     {"User alice cannot read and write @/kfd (group video, mode 0600).",
      "Group video lacks read and write: a udev rule must set MODE=\"0660\"."}},
    {"OwnerBitsForTheOwner",
     oneGpu,
     true,
     {},
     {{"kfd", 02066, video, alice}, {"dri/renderD128", 0066, video, alice}},
     {alice, video},
     {"User alice cannot read and write @/kfd (group video, mode 2066); @/dri/renderD128 (group "
      "video, mode 0066).",
      "Group video lacks read and write: a udev rule must set MODE=\"0660\"."}},
    {"RenderNodesInNameOrderGroupedByKind",
     oneGpu,
     true,
     {},
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
     oneGpu,
     true,
     {},
     {{"kfd", 0600, 0, 0}, {"dri/renderD128", 0660, video, 0}, {"dri/renderD129", 0600, audio, 0}},
     {alice, audio},
     {"User alice cannot read and write @/kfd (group root, mode 0600); @/dri/renderD128 (group "
      "video, mode 0660); @/dri/renderD129 (group audio, mode 0600).",
      "Group root means no udev rule gives the device a group: add one, such as "
      "GROUP=\"render\", MODE=\"0660\", then join that group; join with \"usermod -aG video "
      "alice\" (as root), then log in again; group audio lacks read and write: a udev rule must "
      "set MODE=\"0660\"."}},
    {"RenderNodeBlocked",
     oneGpu,
     true,
     {},
     {{"kfd", 0666, video, 0}, {"dri/renderD128", 0664, video, 0}},
     {alice},
     {"User alice cannot read and write @/dri/renderD128 (group video, mode 0664).",
      "Join with \"usermod -aG video alice\" (as root), then log in again."}},
    {"NoRenderNodes",
     oneGpu,
     true,
     {},
     {{"kfd", 0666, 0, 0}, {"dri/card0", 0666, video, 0}},
     {alice},
     {"@/dri holds no render nodes (renderD*), which the library needs for every GPU.",
      "A container needs --device=/dev/dri as well; on a host, \"dmesg | grep -i amdgpu\" "
      "shows whether the GPUs came up."}},
    {"AllAccessible",
     oneGpu,
     true,
     {},
     {{"kfd", 0660, video, 0}, {"dri/renderD128", 0660, video, 0}},
     {alice, video},
     {"@/kfd and the render nodes are readable and writable for user alice: the driver "
      "refused the open.",
      "The kernel log says why, an unsupported GPU for one: dmesg | grep -i kfd"}},
};

void writeText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

void makeFile(const std::string& path, const DeviceFile& file) {
    writeText(path, "");
    ASSERT_EQ(chown(path.c_str(), file.owner, file.group), 0) << path;
    ASSERT_EQ(chmod(path.c_str(), file.mode), 0) << path;
}

// Each device of the triples as sysfs lists it: a directory named by its address, holding its
// vendor and class.
void makePciBus(const fs::path& devices, const char* pci) {
    fs::create_directories(devices);
    std::istringstream triples(pci);
    for (std::string address, vendor, pciClass; triples >> address >> vendor >> pciClass;) {
        writeText(devices / address / "vendor", vendor + "\n");
        writeText(devices / address / "class", pciClass + "\n");
    }
}

class OpenAdvice : public ::testing::TestWithParam<Situation> {};

TEST_P(OpenAdvice, NamesWhatTheMachineShowsAndWhatToDo) {
    const Situation& situation = GetParam();
    char pattern[] = "/tmp/open-advice-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    DevicePaths paths;
    paths.kfd = dir + "/kfd";
    paths.dri = dir + "/dri";
    paths.sys = dir + "/sys";
    paths.dockerEnv = dir + "/.dockerenv";
    paths.containerEnv = dir + "/run/.containerenv";
    paths.initEnviron = dir + "/proc/1/environ";
    paths.cgroup = dir + "/proc/self/cgroup";
    fs::create_directory(paths.dri);
    if (situation.pci != nullptr) {
        makePciBus(paths.sys + "/bus/pci/devices", situation.pci);
    }
    if (situation.driverLoaded) {
        fs::create_directories(paths.sys + "/module/amdgpu");
    }
    for (const TextFile& text : situation.texts) {
        writeText(dir + "/" + text.path, text.text);
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
    EXPECT_EQ(machineAdvice(paths, {"alice", alice, situation.userGroups}), expected);
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Situations, OpenAdvice, ::testing::ValuesIn(situations),
                         [](const auto& row) { return std::string(row.param.name); });

// This test program runs on kfdsim, which the advice recognises: its failures were replayed from
// another machine, whatever this one shows.
TEST(OpenAdvice, NoneWhenTheLibraryIsKfdsim) {
    EXPECT_EQ(openAdvice(DevicePaths{}, currentUser()), std::vector<std::string>{});
}
}  // namespace
