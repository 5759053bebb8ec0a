// A stand-in for the amdkfd kernel driver, preloaded under the real libhsakmt: the sysfs
// topology comes from the captured tree that KFDKERNEL_TOPOLOGY names, /dev/kfd answers the
// ioctls of opening KFD and acquiring the system properties as amdkfd on x86-64 does, and
// DRM render nodes open on a plain memory file, which libdrm refuses to initialise.
#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <dlfcn.h>
#include <linux/ioctl.h>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>

#include "kernel/kernel_facts.h"

namespace {

constexpr std::string_view topologyPath = "/sys/devices/virtual/kfd/kfd/topology";
constexpr std::string_view renderNodePath = "/dev/dri/renderD";
// A made-up gpu_id for a GPU node whose capture has none: the library needs one per node.
constexpr std::uint32_t madeUpGpuIdBase = 10000;

// The argument records of the kernel's ioctls answered here, as amdkfd lays them out.
struct VersionArgs {
    std::uint32_t major;
    std::uint32_t minor;
};
struct ClockCounterArgs {
    std::uint64_t gpuClock;
    std::uint64_t cpuClock;
    std::uint64_t systemClock;
    std::uint64_t systemFrequency;
    std::uint32_t gpuId;
    std::uint32_t pad;
};
struct DeviceApertures {
    std::uint64_t ldsBase;
    std::uint64_t ldsLimit;
    std::uint64_t scratchBase;
    std::uint64_t scratchLimit;
    std::uint64_t gpuvmBase;
    std::uint64_t gpuvmLimit;
    std::uint32_t gpuId;
    std::uint32_t pad;
};
struct AperturesArgs {
    std::uint64_t apertures;
    std::uint32_t count;
    std::uint32_t pad;
};
constexpr unsigned long getVersion = _IOR('K', 0x01, VersionArgs);
constexpr unsigned long getClockCounters = _IOWR('K', 0x05, ClockCounterArgs);
constexpr unsigned long getProcessApertures = _IOWR('K', 0x14, AperturesArgs);

struct Kernel {
    int kfdFd = -1;
    std::array<std::uint32_t, 256> gpuIds{};  // by node index, as the library read them
};

Kernel& kernel() {
    static Kernel state;
    return state;
}

template <typename Function>
Function next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// The capture path for a topology path, or the path itself.
std::string redirected(const char* path) {
    const std::string_view text(path);
    if (text.substr(0, topologyPath.size()) != topologyPath) {
        return std::string(text);
    }
    const char* root = std::getenv("KFDKERNEL_TOPOLOGY");
    return std::string(root != nullptr ? root : "") + std::string(text.substr(topologyPath.size()));
}

int memoryFile(const char* path) {
    const int fd = memfd_create(path, MFD_CLOEXEC);
    if (fd >= 0 && ftruncate(fd, 1 << 20) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Node index of ".../nodes/<index>/gpu_id", or -1.
int gpuIdNode(const std::string& path) {
    const std::string tail = "/gpu_id";
    const std::size_t nodes = path.rfind("/nodes/");
    if (nodes == std::string::npos || path.size() < tail.size() ||
        path.compare(path.size() - tail.size(), tail.size(), tail) != 0) {
        return -1;
    }
    const std::string index = path.substr(nodes + 7, path.size() - tail.size() - nodes - 7);
    return index.empty() || index.size() > 4 ||
                   index.find_first_not_of("0123456789") != std::string::npos
               ? -1
               : std::stoi(index);
}

bool isGpuNode(const std::string& nodeDirectory) {
    FILE* file = next<FILE* (*)(const char*, const char*)>("fopen")(
        (nodeDirectory + "/properties").c_str(), "r");
    if (file == nullptr) {
        return false;
    }
    std::array<char, 256> line{};
    unsigned long simds = 0;
    while (std::fgets(line.data(), line.size(), file) != nullptr) {
        std::sscanf(line.data(), "simd_count %lu", &simds);
    }
    std::fclose(file);
    return simds != 0;
}

// Opens a gpu_id file and notes the GPU; one that the capture lacks is made up (0 for a CPU).
FILE* openGpuId(const std::string& path, int node, const char* mode) {
    FILE* file = next<FILE* (*)(const char*, const char*)>("fopen")(path.c_str(), mode);
    std::uint32_t id = 0;
    if (file != nullptr) {
        if (std::fscanf(file, "%u", &id) != 1) {
            id = 0;
        }
        std::rewind(file);
    } else {
        if (isGpuNode(path.substr(0, path.size() - 7))) {
            id = madeUpGpuIdBase + static_cast<std::uint32_t>(node);
        }
        file = std::tmpfile();
        if (file != nullptr) {
            std::fprintf(file, "%u\n", id);
            std::rewind(file);
        }
    }
    if (static_cast<std::size_t>(node) < kernel().gpuIds.size()) {
        kernel().gpuIds.at(static_cast<std::size_t>(node)) = id;
    }
    return file;
}

std::uint64_t nanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_RAW, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * kernelClockFrequencyHz +
           static_cast<std::uint64_t>(now.tv_nsec);
}

void fillApertures(AperturesArgs& args) {
    auto* apertures =
        reinterpret_cast<DeviceApertures*>(static_cast<std::uintptr_t>(args.apertures));
    std::uint32_t count = 0;
    for (const std::uint32_t id : kernel().gpuIds) {
        if (id != 0 && count < args.count) {
            using A = KernelApertures;
            apertures[count++] = DeviceApertures{A::ldsBase,
                                                 A::ldsBase + A::size - 1,
                                                 A::scratchBase,
                                                 A::scratchBase + A::size - 1,
                                                 A::gpuvmBase,
                                                 A::gpuvmLimit,
                                                 id,
                                                 0};
        }
    }
    args.count = count;
}

int kfdIoctl(unsigned long request, void* argument) {
    if (request == getVersion) {
        *static_cast<VersionArgs*>(argument) =
            VersionArgs{kernelInterfaceMajor, kernelInterfaceMinor};
    } else if (request == getClockCounters) {
        auto* args = static_cast<ClockCounterArgs*>(argument);
        const std::uint64_t now = nanoseconds();
        args->gpuClock = now;
        args->cpuClock = now;
        args->systemClock = now;
        args->systemFrequency = kernelClockFrequencyHz;
    } else if (request == getProcessApertures) {
        fillApertures(*static_cast<AperturesArgs*>(argument));
    }
    // Every other request (VM acquisition, memory policy, allocations) succeeds as it is.
    return 0;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    va_list rest;
    va_start(rest, flags);
    const auto mode = va_arg(rest, unsigned);
    va_end(rest);
    const std::string_view text(path);
    if (text == "/dev/kfd") {
        kernel().kfdFd = memoryFile(path);
        return kernel().kfdFd;
    }
    if (text.substr(0, renderNodePath.size()) == renderNodePath) {
        return memoryFile(path);
    }
    return next<int (*)(const char*, int, ...)>("open")(redirected(path).c_str(), flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list rest;
    va_start(rest, flags);
    const auto mode = va_arg(rest, unsigned);
    va_end(rest);
    return open(path, flags, mode);
}

FILE* fopen(const char* path, const char* mode) {
    const std::string target = redirected(path);
    const int node = target == path ? -1 : gpuIdNode(target);
    if (node >= 0) {
        return openGpuId(target, node, mode);
    }
    return next<FILE* (*)(const char*, const char*)>("fopen")(target.c_str(), mode);
}

FILE* fopen64(const char* path, const char* mode) { return fopen(path, mode); }

DIR* opendir(const char* path) {
    return next<DIR* (*)(const char*)>("opendir")(redirected(path).c_str());
}

int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list rest;
    va_start(rest, request);
    void* argument = va_arg(rest, void*);
    va_end(rest);
    if (fd >= 0 && fd == kernel().kfdFd) {
        return kfdIoctl(request, argument);
    }
    return next<int (*)(int, unsigned long, ...)>("ioctl")(fd, request, argument);
}

}  // extern "C"
