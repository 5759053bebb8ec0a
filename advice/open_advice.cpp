// Open advice: why KFD would not open, as far as the machine shows without opening the devices.
#include "advice/open_advice.h"

#include <algorithm>
#include <cctype>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <iomanip>
#include <pwd.h>
#include <sstream>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A device file the user cannot read and write.
struct BlockedDevice {
    std::string path;
    gid_t group;
    mode_t mode;
};

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The texts one after another, `separator` between two.
std::string joined(const std::vector<std::string>& texts, const std::string& separator) {
    std::string text;
    for (const std::string& part : texts) {
        text += (text.empty() ? "" : separator) + part;
    }
    return text;
}

bool holdsGroup(const DeviceUser& user, gid_t group) {
    return std::find(user.groups.begin(), user.groups.end(), group) != user.groups.end();
}

// Read and write by the owner's bits for the owner, else the group's for a member, else the
// others'.
bool canReadWrite(const struct stat& info, const DeviceUser& user) {
    const mode_t readWrite = info.st_uid == user.uid         ? S_IRUSR | S_IWUSR
                             : holdsGroup(user, info.st_gid) ? S_IRGRP | S_IWGRP
                                                             : S_IROTH | S_IWOTH;
    return user.uid == 0 || (info.st_mode & readWrite) == readWrite;
}

std::string groupName(gid_t group) {
    const struct group* entry = getgrgid(group);
    return entry != nullptr ? entry->gr_name : std::to_string(group);
}

std::string octalMode(mode_t mode) {
    std::ostringstream text;
    text << std::oct << std::setfill('0') << std::setw(4)
         << (mode & (S_ISUID | S_ISGID | S_ISVTX | S_IRWXU | S_IRWXG | S_IRWXO));
    return text.str();
}

// The render nodes in `dri` (renderD128, renderD129, ...), in name order; none when it is
// missing or unreadable.
std::vector<std::string> renderNodes(const std::string& dri) {
    std::vector<std::string> nodes;
    std::error_code error;
    for (fs::directory_iterator entry(dri, error); !error && entry != fs::directory_iterator();
         entry.increment(error)) {
        if (startsWith(entry->path().filename().string(), "renderD")) {
            nodes.push_back(entry->path().string());
        }
    }
    std::sort(nodes.begin(), nodes.end());
    return nodes;
}

// "a, b (group g, mode 0660); c (group h, mode 0600)": paths of one group and mode together.
std::string describeBlocked(const std::vector<BlockedDevice>& blocked) {
    std::string text;
    for (std::size_t i = 0; i < blocked.size(); ++i) {
        text += blocked[i].path;
        const bool lastOfKind = i + 1 == blocked.size() ||
                                blocked[i + 1].group != blocked[i].group ||
                                blocked[i + 1].mode != blocked[i].mode;
        if (lastOfKind) {
            text += " (group " + groupName(blocked[i].group) + ", mode " +
                    octalMode(blocked[i].mode) + ")";
        }
        if (i + 1 < blocked.size()) {
            text += lastOfKind ? "; " : ", ";
        }
    }
    return text;
}

void appendUnique(std::vector<std::string>& names, const std::string& name) {
    if (std::find(names.begin(), names.end(), name) == names.end()) {
        names.push_back(name);
    }
}

// What to do about the blocked devices: join their groups, or have udev give them one.
std::string remedy(const std::vector<BlockedDevice>& blocked, const DeviceUser& user) {
    std::vector<std::string> toJoin;
    std::vector<std::string> heldWithoutAccess;
    bool rootOwned = false;
    for (const BlockedDevice& device : blocked) {
        if (device.group == 0) {
            rootOwned = true;
        } else {
            appendUnique(holdsGroup(user, device.group) ? heldWithoutAccess : toJoin,
                         groupName(device.group));
        }
    }
    std::vector<std::string> steps;
    if (rootOwned) {
        steps.push_back(
            "group root means no udev rule gives the device a group: add one, such as "
            "GROUP=\"render\", MODE=\"0660\", then join that group");
    }
    if (!toJoin.empty()) {
        steps.push_back("join with \"usermod -aG " + joined(toJoin, ",") + " " + user.name +
                        "\" (as root), then log in again");
    }
    if (!heldWithoutAccess.empty()) {
        steps.push_back("group " + joined(heldWithoutAccess, ",") +
                        " lacks read and write: a udev rule must set MODE=\"0660\"");
    }
    std::string text = joined(steps, "; ");
    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text + ".";
}

// PCI vendor ID of AMD's GPUs, and the classes of a GPU: display controller, processing
// accelerator.
constexpr std::string_view amdVendor = "0x1002";
constexpr std::string_view gpuClasses[] = {"0x03", "0x12"};

// Container runtimes as they name the cgroups of their containers (docker-<id>.scope,
// /kubepods/..., libpod-<id>.scope, lxc.payload.<name>, ...).
constexpr std::string_view containerRuntimes[] = {"docker", "containerd", "kubepods", "libpod",
                                                  "lxc"};
// The variable that runtimes set for a container's first process: container=<runtime>.
constexpr std::string_view containerVariable = "container=";

// The machine's PCI devices, as sysfs shows them.
struct PciBus {
    bool seen;                         // some device is listed
    std::vector<std::string> amdGpus;  // addresses, in name order
};

std::string firstLine(const fs::path& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

bool isGpuClass(const std::string& pciClass) {
    return pciClass.size() == 8 &&
           std::any_of(std::begin(gpuClasses), std::end(gpuClasses),
                       [&](std::string_view prefix) { return startsWith(pciClass, prefix); });
}

PciBus readPciBus(const std::string& devices) {
    std::vector<fs::path> entries;
    std::error_code error;
    for (fs::directory_iterator entry(devices, error); !error && entry != fs::directory_iterator();
         entry.increment(error)) {
        entries.push_back(entry->path());
    }
    std::sort(entries.begin(), entries.end());
    PciBus bus{!entries.empty(), {}};
    for (const fs::path& device : entries) {
        if (firstLine(device / "vendor") == amdVendor && isGpuClass(firstLine(device / "class"))) {
            bus.amdGpus.push_back(device.filename().string());
        }
    }
    return bus;
}

// "an AMD GPU at A" or "3 AMD GPUs, the first at A".
std::string describeGpus(const std::vector<std::string>& gpus) {
    return gpus.size() == 1 ? "an AMD GPU at " + gpus[0]
                            : std::to_string(gpus.size()) + " AMD GPUs, the first at " + gpus[0];
}

// A cgroup path component that a container runtime named: the runtime's name, then nothing or
// a separator (so that lxcfs.service is not lxc).
bool namesRuntime(std::string_view component, std::string_view runtime) {
    return startsWith(component, runtime) &&
           (component.size() == runtime.size() ||
            std::isalpha(static_cast<unsigned char>(component[runtime.size()])) == 0);
}

// The first sign that this process runs in a container, as a few words naming it; empty when
// there is none.
std::string containerSign(const DevicePaths& paths) {
    std::error_code error;
    for (const std::string& marker : {paths.dockerEnv, paths.containerEnv}) {
        if (fs::exists(marker, error)) {
            return marker;
        }
    }
    std::ifstream environ(paths.initEnviron, std::ios::binary);
    for (std::string entry; std::getline(environ, entry, '\0');) {
        if (startsWith(entry, containerVariable) && entry.size() > containerVariable.size()) {
            return entry + " in " + paths.initEnviron;
        }
    }
    // Lines "id:controllers:path" split at '/': the first component of a line starts with its
    // ID, never a runtime's name, and the last runs on with the line end.
    std::ifstream cgroup(paths.cgroup);
    for (std::string component; std::getline(cgroup, component, '/');) {
        for (std::string_view runtime : containerRuntimes) {
            if (namesRuntime(component, runtime)) {
                return std::string(runtime) + " in " + paths.cgroup;
            }
        }
    }
    return {};
}

// Without the kfd device: what the PCI bus, the loaded modules and the signs of a container
// show. Sysfs is the host's in a container too, so its bus and modules are believed first.
std::vector<std::string> missingKfdAdvice(const DevicePaths& paths) {
    const std::string devices = paths.sys + "/bus/pci/devices";
    const std::string module = paths.sys + "/module/amdgpu";
    const PciBus bus = readPciBus(devices);
    if (bus.seen && bus.amdGpus.empty()) {
        return {"This machine has no AMD GPU: " + devices +
                    " holds no display or accelerator device of vendor 0x1002, so it has no KFD.",
                "Without a GPU, \"kfdtopo-replay machine.json.gz\" shows the report of a machine "
                "captured on it with \"kfdtopo-export machine.json.gz\", as bug reports attach."};
    }
    std::error_code error;
    const bool driverLoaded = fs::exists(module, error);
    if (bus.seen && !driverLoaded) {
        return {paths.kfd + " does not exist: the amdgpu driver is not loaded (no " + module +
                    "), though the PCI bus has " + describeGpus(bus.amdGpus) + ".",
                "Load it with \"modprobe amdgpu\" (as root); \"dmesg | grep -i amdgpu\" says why "
                "it did not load."};
    }
    const std::string sign = containerSign(paths);
    if (!sign.empty()) {
        return {paths.kfd + " does not exist and this looks like a container (" + sign +
                    ") started without the GPU devices.",
                "Start it with --device=/dev/kfd --device=/dev/dri."};
    }
    if (!bus.seen) {
        return {paths.kfd + " does not exist, and with no devices in " + devices +
                    " kfdtopo cannot tell whether this machine has an AMD GPU.",
                "Run it where /sys and /dev are the machine's own (not in a chroot) to know more; "
                "without a GPU, \"kfdtopo-replay machine.json\" replays a captured machine."};
    }
    return {paths.kfd + " does not exist, though the amdgpu driver is loaded and the PCI bus has " +
                describeGpus(bus.amdGpus) + ": the driver did not create it.",
            "The kernel may lack KFD (CONFIG_HSA_AMD), or this /dev is not the machine's own (a "
            "chroot): \"dmesg | grep -i kfd\" shows whether KFD started."};
}

}  // namespace

DeviceUser currentUser() {
    DeviceUser user;
    user.uid = geteuid();
    const struct passwd* entry = getpwuid(user.uid);
    user.name = entry != nullptr ? entry->pw_name : std::to_string(user.uid);
    // getgroups fails only for a list too short, which the first call rules out.
    user.groups.resize(static_cast<std::size_t>(getgroups(0, nullptr)));
    user.groups.resize(static_cast<std::size_t>(
        getgroups(static_cast<int>(user.groups.size()), user.groups.data())));
    user.groups.push_back(getegid());
    return user;
}

std::vector<std::string> machineAdvice(const DevicePaths& paths, const DeviceUser& user) {
    struct stat kfd {};
    if (stat(paths.kfd.c_str(), &kfd) != 0) {
        return missingKfdAdvice(paths);
    }
    std::vector<BlockedDevice> blocked;
    if (!canReadWrite(kfd, user)) {
        blocked.push_back({paths.kfd, kfd.st_gid, kfd.st_mode});
    }
    const std::vector<std::string> renders = renderNodes(paths.dri);
    for (const std::string& render : renders) {
        struct stat info {};
        if (stat(render.c_str(), &info) == 0 && !canReadWrite(info, user)) {
            blocked.push_back({render, info.st_gid, info.st_mode});
        }
    }
    if (!blocked.empty()) {
        return {"User " + user.name + " cannot read and write " + describeBlocked(blocked) + ".",
                remedy(blocked, user)};
    }
    if (renders.empty()) {
        return {paths.dri +
                    " holds no render nodes (renderD*), which the library needs for "
                    "every GPU.",
                "A container needs --device=/dev/dri as well; on a host, \"dmesg | grep -i "
                "amdgpu\" shows whether the GPUs came up."};
    }
    return {paths.kfd + " and the render nodes are readable and writable for user " + user.name +
                ": the driver refused the open.",
            "The kernel log says why, an unsupported GPU for one: dmesg | grep -i kfd"};
}

std::vector<std::string> openAdvice(const DevicePaths& paths, const DeviceUser& user) {
    if (dlsym(RTLD_DEFAULT, "kfdsimLibraryName") != nullptr) {
        return {};
    }
    return machineAdvice(paths, user);
}
