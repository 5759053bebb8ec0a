// Built-in topology: an EPYC 9654 socket and an Instinct MI300X, as their driver reports them.
#include "sim/default_topology.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <vector>

namespace {

// HsaCounterFlags bits.
constexpr HSAuint32 counterGlobal = 1u << 0;
constexpr HSAuint32 counterResettable = 1u << 1;
constexpr HSAuint32 counterReadOnly = 1u << 2;
constexpr HSAuint32 counterStream = 1u << 3;

// HSA_LINKPROPERTY bit: the record, not the link type, describes the link.
constexpr HSAuint32 linkOverride = 1u << 0;

// A run of consecutive counter ids of one kind; consecutive runs of one block form the block.
struct CounterRun {
    const HSA_UUID* block;
    HSAuint32 blockConcurrent;
    HSA_PROFILE_TYPE type;
    HSAuint64 firstId;
    HSAuint32 count;
    HSAuint32 sizeInBits;
    HSAuint32 flags;
};

constexpr HSA_PROFILE_TYPE privileged = HSA_PROFILE_TYPE_PRIVILEGED_IMMEDIATE;
constexpr HSA_PROFILE_TYPE user = HSA_PROFILE_TYPE_NONPRIV_IMMEDIATE;
constexpr HSA_PROFILE_TYPE userStream = HSA_PROFILE_TYPE_NONPRIV_STREAMING;

// The GPU's counters, in CounterRun's field order.
// clang-format off
constexpr CounterRun mi300xCounterRuns[] = {
    {&HSA_PROFILEBLOCK_AMD_SQ,   8, user,           0,  256, 64, counterResettable},
    {&HSA_PROFILEBLOCK_AMD_SQ,   8, userStream,   256,    4, 64, counterStream},
    {&HSA_PROFILEBLOCK_AMD_TCC,  4, user,           0,  128, 64, counterResettable},
    {&HSA_PROFILEBLOCK_AMD_TCP,  4, user,           0,   64, 32, counterResettable},
    {&HSA_PROFILEBLOCK_AMD_TA,   2, user,           0,   32, 32, counterResettable},
    {&HSA_PROFILEBLOCK_AMD_TD,   2, user,           0,   32, 32, counterResettable},
    {&HSA_PROFILEBLOCK_AMD_GRBM, 2, user,           0,   32, 32, counterGlobal | counterResettable},
    {&HSA_PROFILEBLOCK_AMD_GRBM, 2, privileged, 0x100,    4, 64, counterGlobal | counterReadOnly},
    {&HSA_PROFILEBLOCK_AMD_CPF,  2, user,           0,   16, 32, counterResettable},
    {&HSA_PROFILEBLOCK_AMD_SPI,  2, user,           0,   48, 32, counterResettable},
};
// clang-format on
static_assert(std::size(mi300xCounterRuns) == 10);

template <typename Unit, std::size_t size>
void setName(Unit (&name)[size], std::string_view ascii) {
    std::transform(ascii.begin(), ascii.end(), std::begin(name),
                   [](char c) { return static_cast<Unit>(c); });
}

HsaMemoryProperties memoryBank(HSA_HEAPTYPE heapType, HSAuint64 sizeInBytes, HSAuint32 width,
                               HSAuint32 memoryClockMax, HSAuint64 virtualBaseAddress) {
    HsaMemoryProperties bank{};
    bank.HeapType = heapType;
    bank.SizeInBytes = sizeInBytes;
    bank.Width = width;
    bank.MemoryClockMax = memoryClockMax;
    bank.VirtualBaseAddress = virtualBaseAddress;
    return bank;
}

// A PCIe 5.0 x16 link as the driver reports it.
HsaIoLinkProperties pcieLink(HSAuint32 nodeFrom, HSAuint32 nodeTo, HSAuint32 flags) {
    HsaIoLinkProperties link{};
    link.IoLinkType = HSA_IOLINKTYPE_PCIEXPRESS;
    link.NodeFrom = nodeFrom;
    link.NodeTo = nodeTo;
    link.Weight = 20;
    link.MinimumBandwidth = 250;    // MB/s, one 2.5 GT/s lane
    link.MaximumBandwidth = 63015;  // MB/s, sixteen 32 GT/s lanes
    link.Flags.LinkProperty = flags;
    return link;
}

template <std::size_t size>
CounterSet counterSet(HSAuint32 numConcurrent, const CounterRun (&runs)[size]) {
    CounterSet set;
    set.numConcurrent = numConcurrent;
    const HSA_UUID* block = nullptr;
    for (const CounterRun& run : runs) {
        if (run.block != block) {
            block = run.block;
            set.blocks.push_back({*run.block, run.blockConcurrent, {}});
        }
        for (HSAuint32 i = 0; i < run.count; ++i) {
            HsaCounter counter{};
            counter.Type = run.type;
            counter.CounterId = run.firstId + i;
            counter.CounterSizeInBits = run.sizeInBits;
            counter.CounterMask =
                run.sizeInBits >= 64 ? ~HSAuint64{0} : (HSAuint64{1} << run.sizeInBits) - 1;
            counter.Flags.Value = run.flags;
            counter.BlockIndex = static_cast<HSAuint32>(set.blocks.size() - 1);
            set.blocks.back().counters.push_back(counter);
        }
    }
    return set;
}

// The counts that the node's arrays define.
void countRecords(TopologyNode& node) {
    node.properties.NumMemoryBanks = static_cast<HSAuint32>(node.memBanks.size());
    node.properties.NumIOLinks = static_cast<HSAuint32>(node.ioLinks.size());
}

TopologyNode cpuNode() {
    TopologyNode node;
    HsaNodeProperties& p = node.properties;
    p.NumCPUCores = 192;  // 96 cores, two threads each
    p.NumCaches = 300;    // 96 L1 data, 96 L1 instruction, 96 L2, 12 L3
    p.CComputeIdLo = 0;
    p.MaxEngineClockMhzCCompute = 3707;
    setName(p.MarketingName, "AMD EPYC 9654 96-Core Processor");

    node.clock.CPUClockCounter = 4170924863126;
    node.clock.SystemClockCounter = 4170924861542;
    node.clock.SystemClockFrequencyHz = 1000000000;

    // Twelve 64 GiB DDR5-4800 DIMMs, less what firmware and kernel keep.
    node.memBanks.push_back(memoryBank(HSA_HEAPTYPE_SYSTEM, 810884792320, 64, 4800, 0));
    node.ioLinks.push_back(pcieLink(0, 1, 0));
    countRecords(node);
    return node;
}

TopologyNode gpuNode() {
    TopologyNode node;
    HsaNodeProperties& p = node.properties;
    p.NumFComputeCores = 1216;  // 304 CUs of 4 SIMDs
    p.NumCaches = 617;  // per XCC 38 L1 vector, 19 L1 scalar, 19 L1 instruction, 1 L2; 1 MALL
    p.FComputeIdLo = 0x80001000;
    // Watch points (2^2), doorbell type 1, AQL double map, debug trap, wave launch trap
    // override and mode, precise memory operations, memory EDC, RAS event notify, SRAM EDC,
    // SVM API, debug-capable firmware.
    p.Capability.Value = 0x2C37D280;
    p.MaxWavesPerSIMD = 8;
    p.LDSSizeInKB = 64;
    p.WaveFrontSize = 64;
    // 8 XCCs of 4 shader engines with 10 CU slots each; 2 CUs per XCC are harvested.
    p.NumShaderBanks = 32;
    p.NumArrays = 1;
    p.NumCUPerArray = 10;
    p.NumSIMDPerCU = 4;
    p.MaxSlotsScratchCU = 32;
    p.EngineId.Value = 151 | 9u << 10 | 4u << 16 | 2u << 24;  // MEC firmware 151, GFX 9.4.2
    p.VendorId = 0x1002;
    p.DeviceId = 0x74a1;
    p.LocationId = 0x0c00;  // bus 0c, device 0, function 0
    p.LocalMemSize = 205822885888;
    p.MaxEngineClockMhzFCompute = 2100;
    p.MaxEngineClockMhzCCompute = 3707;
    p.DrmRenderMinor = 128;
    setName(p.MarketingName, "AMD Instinct MI300X");
    setName(p.AMDName, "gfx942");
    p.uCodeEngineVersions.Value = 19;  // SDMA firmware
    // Watch address mask bits 7 to 30; dispatch info always valid.
    p.DebugProperties.Value = 7 | 30u << 4 | 1u << 10;
    p.HiveID = 0x9b6c3e2f58d4a710;
    p.NumSdmaEngines = 2;
    p.NumSdmaXgmiEngines = 14;
    p.NumSdmaQueuesPerEngine = 8;
    p.NumCpQueues = 24;
    p.NumGws = 64;
    p.Integrated = 0;
    p.Domain = 0;
    p.UniqueID = 0x3cb5d0a7e91f2468;
    p.VGPRSizePerCU = 0x80000;
    p.SGPRSizePerCU = 0x4000;
    p.NumXcc = 8;
    p.KFDGpuID = 0xb1f7;
    p.FamilyID = 141;  // AMDGPU_FAMILY_AI

    node.clock.GPUClockCounter = 417092487;
    node.clock.CPUClockCounter = 4170924871305;
    node.clock.SystemClockCounter = 4170924869721;
    node.clock.SystemClockFrequencyHz = 1000000000;

    // The HBM3 framebuffer, then the apertures the library adds for a GPU.
    node.memBanks.push_back(
        memoryBank(HSA_HEAPTYPE_FRAME_BUFFER_PUBLIC, 205822885888, 8192, 2600, 0));
    node.memBanks.push_back(memoryBank(HSA_HEAPTYPE_GPU_LDS, 0x10000, 0, 0, 0x1000000000000));
    node.memBanks.push_back(
        memoryBank(HSA_HEAPTYPE_GPU_SCRATCH, 0x100000000, 0, 0, 0x2000000000000));
    node.memBanks.push_back(
        memoryBank(HSA_HEAPTYPE_DEVICE_SVM, 0x7fffffffffff + 1 - 0x200000, 0, 0, 0x200000));
    node.memBanks.push_back(memoryBank(HSA_HEAPTYPE_MMIO_REMAP, 0x1000, 0, 0, 0x7f1a4c3fe000));
    node.ioLinks.push_back(pcieLink(1, 0, linkOverride));
    countRecords(node);

    node.counters = counterSet(8, mi300xCounterRuns);
    return node;
}

}  // namespace

Topology defaultTopology() {
    Topology topology;
    topology.version.KernelInterfaceMajorVersion = 1;
    topology.version.KernelInterfaceMinorVersion = 17;
    topology.system.PlatformOem = 0x20444d41;  // "AMD " of the CRAT's OEM id
    topology.system.PlatformId = 0x54415243;   // "CRAT" of its table id
    topology.system.PlatformRev = 1;
    topology.nodes.push_back(cpuNode());
    topology.nodes.push_back(gpuNode());
    topology.system.NumNodes = static_cast<HSAuint32>(topology.nodes.size());
    return topology;
}
