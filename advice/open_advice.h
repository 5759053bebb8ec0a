// Open advice: why KFD would not open, as far as the machine shows without opening the devices.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

/// Where the checks look; tests point them at a directory of their own.
struct DevicePaths {
    std::string kfd = "/dev/kfd";
    std::string dri = "/dev/dri";
    std::string sys = "/sys";  // bus/pci/devices and module/amdgpu below it
    // Signs of a container.
    std::string dockerEnv = "/.dockerenv";
    std::string containerEnv = "/run/.containerenv";
    std::string initEnviron = "/proc/1/environ";
    std::string cgroup = "/proc/self/cgroup";
};

/// The user the devices must serve: name, user ID and every group ID held.
struct DeviceUser {
    std::string name;
    uid_t uid;
    std::vector<gid_t> groups;
};

/// This process's effective user, its effective group and its supplementary groups.
DeviceUser currentUser();

/// Two lines, without line ends, on this machine: what it shows and what to do. Without a
/// `kfd` device: no AMD GPU on the PCI bus, a GPU without the amdgpu driver, a driver that did
/// not create the device, a container started without the devices, or a bus that cannot be
/// seen. With it: the devices this user cannot read and write, judged from the mode bits, owner
/// and group as the kernel does for a user that is not root, or nothing wrong.
std::vector<std::string> machineAdvice(const DevicePaths& paths, const DeviceUser& user);

/// What follows a failed open with status 20: the machine's advice, or nothing when the library
/// that answered is kfdsim, whose failure was replayed from another machine.
std::vector<std::string> openAdvice(const DevicePaths& paths, const DeviceUser& user);
