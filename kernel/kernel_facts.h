// The kernel's GPU apertures, shared by the replay and the stand-in kernel: the bases of GFX 9
// and newer; the GPUVM base and the 4 GiB of LDS and of scratch hold for GFX 7 and 8 as well.
#pragma once

#include <cstdint>

struct KernelApertures {
    static constexpr std::uint64_t ldsBase = 0x1000000000000;
    static constexpr std::uint64_t scratchBase = 0x2000000000000;
    static constexpr std::uint64_t size = std::uint64_t{1} << 32;
    static constexpr std::uint64_t gpuvmBase = 0x200000;
    static constexpr std::uint64_t gpuvmLimit = 0x7fffffffffff;
};
