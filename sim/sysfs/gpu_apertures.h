// GPU apertures: the memory banks libhsakmt adds to every GPU node from the kernel's apertures.
#pragma once

#include <vector>

#include <hsakmt/hsakmt.h>

/// The banks the library appends after the sysfs banks of GPU node `nodeId` whose GFX major is
/// `gfxMajor`: LDS, scratch, device SVM and MMIO remap, at the kernel's aperture addresses. The
/// MMIO remap page, mapped at run time by the real library, is a fixed address of kfdsim's.
std::vector<HsaMemoryProperties> gpuApertureBanks(HSAuint32 nodeId, HSAuint32 gfxMajor,
                                                  HSAuint32 ldsSizeInKB);
