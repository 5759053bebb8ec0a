// Open advice: why KFD would not open, as far as the device files show without opening them.
#include "app/open_advice.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <grp.h>
#include <iomanip>
#include <pwd.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A device file the user cannot read and write.
struct BlockedDevice {
    std::string path;
    gid_t group = 0;
    mode_t mode = 0;
};

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
        if (entry->path().filename().string().rfind("renderD", 0) == 0) {
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

void appendUnique(std::vector<gid_t>& groups, gid_t group) {
    if (std::find(groups.begin(), groups.end(), group) == groups.end()) {
        groups.push_back(group);
    }
}

std::string groupList(const std::vector<gid_t>& groups) {
    std::string text;
    for (const gid_t group : groups) {
        text += (text.empty() ? "" : ",") + groupName(group);
    }
    return text;
}

// What to do about the blocked devices: join their groups, or have udev give them one.
std::string remedy(const std::vector<BlockedDevice>& blocked, const DeviceUser& user) {
    std::vector<gid_t> toJoin;
    std::vector<gid_t> heldWithoutAccess;
    bool rootOwned = false;
    for (const BlockedDevice& device : blocked) {
        if (device.group == 0) {
            rootOwned = true;
        } else if (holdsGroup(user, device.group)) {
            appendUnique(heldWithoutAccess, device.group);
        } else {
            appendUnique(toJoin, device.group);
        }
    }
    std::vector<std::string> steps;
    if (rootOwned) {
        steps.push_back(
            "group root means no udev rule gives the device a group: add one, such as "
            "GROUP=\"render\", MODE=\"0660\", then join that group");
    }
    if (!toJoin.empty()) {
        steps.push_back("join with \"usermod -aG " + groupList(toJoin) + " " + user.name +
                        "\" (as root), then log in again");
    }
    if (!heldWithoutAccess.empty()) {
        steps.push_back("group " + groupList(heldWithoutAccess) +
                        " lacks read and write: a udev rule must set MODE=\"0660\"");
    }
    std::string text;
    for (const std::string& step : steps) {
        text += (text.empty() ? "" : "; ") + step;
    }
    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text + ".";
}

}  // namespace

DeviceUser currentUser() {
    DeviceUser user;
    user.uid = geteuid();
    const struct passwd* entry = getpwuid(user.uid);
    user.name = entry != nullptr ? entry->pw_name : std::to_string(user.uid);
    const int count = getgroups(0, nullptr);
    if (count > 0) {
        user.groups.resize(static_cast<std::size_t>(count));
        const int filled = getgroups(count, user.groups.data());
        user.groups.resize(static_cast<std::size_t>(std::max(filled, 0)));
    }
    user.groups.push_back(getegid());
    return user;
}

std::vector<std::string> openAdvice(const DevicePaths& paths, const DeviceUser& user) {
    struct stat kfd {};
    if (stat(paths.kfd.c_str(), &kfd) != 0) {
        struct stat module {};
        if (stat(paths.amdgpuModule.c_str(), &module) == 0) {
            return {paths.kfd +
                        " does not exist, yet the amdgpu driver is loaded: this looks like "
                        "a container started without the GPU devices.",
                    "Start it with --device=/dev/kfd --device=/dev/dri."};
        }
        return {paths.kfd + " does not exist: the amdgpu driver is not loaded (no " +
                    paths.amdgpuModule + ").",
                "Load it with \"modprobe amdgpu\" (as root); \"dmesg | grep -i amdgpu\" says why "
                "it did not load."};
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
