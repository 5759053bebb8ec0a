// What amdkfd on x86-64 answers, shared by the stand-in kernel and kfdsim's sysfs replay. It
// lives with the kernel, which includes nothing of kfdsim; kfdsim, the library above, reads it.
#pragma once

#include <cstdint>

/// The kernel interface version.
constexpr std::uint32_t kernelInterfaceMajor = 1;
constexpr std::uint32_t kernelInterfaceMinor = 16;

/// The frequency of the kernel's clock counters, which count nanoseconds.
constexpr std::uint64_t kernelClockFrequencyHz = 1000000000;

/// The GPU apertures: the bases of GFX 9 and newer; the GPUVM base and the 4 GiB of LDS and of
/// scratch hold for GFX 7 and 8 as well.
struct KernelApertures {
    static constexpr std::uint64_t ldsBase = 0x1000000000000;
    static constexpr std::uint64_t scratchBase = 0x2000000000000;
    static constexpr std::uint64_t size = std::uint64_t{1} << 32;
    static constexpr std::uint64_t gpuvmBase = 0x200000;
    static constexpr std::uint64_t gpuvmLimit = 0x7fffffffffff;
};
