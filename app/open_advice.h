// Open advice: why KFD would not open, as far as the device files show without opening them.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

/// Where the checks look; tests point them at a directory of their own.
struct DevicePaths {
    std::string kfd = "/dev/kfd";
    std::string dri = "/dev/dri";
    std::string amdgpuModule = "/sys/module/amdgpu";
};

/// The user the devices must serve: name, user ID and every group ID held.
struct DeviceUser {
    std::string name;
    uid_t uid = 0;
    std::vector<gid_t> groups;
};

/// This process's effective user, its effective group and its supplementary groups.
DeviceUser currentUser();

/// Two lines, without line ends: what the device files show (driver not loaded, container
/// without the devices, devices this user cannot read and write, or nothing wrong) and what
/// to do about it. Access is judged from the mode bits, owner and group, as the kernel does
/// for a user that is not root.
std::vector<std::string> openAdvice(const DevicePaths& paths, const DeviceUser& user);
