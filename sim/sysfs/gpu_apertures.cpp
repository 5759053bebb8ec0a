// GPU apertures: the kernel's aperture layout, by GFX version.
#include "sim/sysfs/gpu_apertures.h"

#include "kernel/kernel_facts.h"

namespace {

struct ApertureLayout {
    HSAuint64 ldsBase;
    HSAuint64 scratchBase;
    HSAuint64 gpuvmLimit;
};

// GFX 9 and newer; also a node whose version is unknown, as old kernels gave the Vega 10.
constexpr ApertureLayout gfx9Layout{KernelApertures::ldsBase, KernelApertures::scratchBase,
                                    KernelApertures::gpuvmLimit};
// GFX 7 and 8: a 64 GiB GPUVM range.
constexpr ApertureLayout gfx7Layout{0x2000000000000000, 0x2000000100000000, 0xfffffffff};

constexpr HSAuint64 scratchSize = KernelApertures::size;
constexpr HSAuint64 svmBase = KernelApertures::gpuvmBase;
constexpr HSAuint64 pageSize = 0x1000;
// One page per node from here: user space, page-aligned, never a real mapping's address.
constexpr HSAuint64 mmioRemapBase = 0x7ff000000000;

HsaMemoryProperties bank(HSA_HEAPTYPE heapType, HSAuint64 size, HSAuint64 base) {
    HsaMemoryProperties record{};
    record.HeapType = heapType;
    record.SizeInBytes = size;
    record.VirtualBaseAddress = base;
    return record;
}

}  // namespace

std::vector<HsaMemoryProperties> gpuApertureBanks(HSAuint32 nodeId, HSAuint32 gfxMajor,
                                                  HSAuint32 ldsSizeInKB) {
    const ApertureLayout& layout = gfxMajor == 7 || gfxMajor == 8 ? gfx7Layout : gfx9Layout;
    return {
        bank(HSA_HEAPTYPE_GPU_LDS, HSAuint64{ldsSizeInKB} * 1024, layout.ldsBase),
        bank(HSA_HEAPTYPE_GPU_SCRATCH, scratchSize, layout.scratchBase),
        bank(HSA_HEAPTYPE_DEVICE_SVM, layout.gpuvmLimit + 1 - svmBase, svmBase),
        bank(HSA_HEAPTYPE_MMIO_REMAP, pageSize, mmioRemapBase + HSAuint64{nodeId} * pageSize),
    };
}
