// Node printer: the properties of one node, its clock, then its sub-reports.
#include "node/node_printer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <hsakmt/hsakmt.h>

#include "reader/topology_reader.h"
#include "report/report_lines.h"
#include "report/report_writer.h"
#include "report/status_check.h"
#include "report/value_format.h"
#include "text/unicode_text.h"

namespace {
constexpr std::array doorbellTypeNames{
    NamePair{0, "pre-1.0"},
    NamePair{1, "post-1.0"},
};
static_assert(doorbellTypeNames.size() == 2);

// Bits [first, first + count) of a word.
constexpr std::uint64_t bits(std::uint64_t word, unsigned first, unsigned count) {
    return (word >> first) & ((std::uint64_t{1} << count) - 1);
}

constexpr bool bit(std::uint64_t word, unsigned index) { return bits(word, index, 1) != 0; }

// The bytes of a fixed-size name up to its first zero byte (all of them without one).
std::string_view byteName(const HSAuint8 (&name)[HSA_PUBLIC_NAME_SIZE]) {
    const void* end = std::memchr(name, 0, sizeof name);
    const std::size_t length =
        end == nullptr ? sizeof name
                       : static_cast<std::size_t>(static_cast<const HSAuint8*>(end) - name);
    return {reinterpret_cast<const char*>(name), length};
}

// The UTF-8 form of units[0, count) up to the first zero unit, as one insertion; an unpaired
// surrogate throws std::range_error, as the standard library's converter does, before anything
// is written.
void printUtf16(ReportWriter& writer, const std::uint16_t* units, std::size_t count) {
    const std::uint16_t* end = std::find(units, units + count, 0);
    const std::optional<std::string> text =
        utf8FromUtf16(units, static_cast<std::size_t>(end - units));
    if (!text) {
        throw std::range_error("wstring_convert::to_bytes");
    }
    writer << *text;
}
}  // namespace

void printNodeProperties(ReportWriter& writer, const HsaNodeProperties& props) {
    const std::uint32_t capability = props.Capability.Value;
    const std::uint32_t engineId = props.EngineId.Value;
    const std::uint64_t debug = props.DebugProperties.Value;

    numberLine(writer, "CPU threads: ", props.NumCPUCores);
    numberLine(writer, "GPU SIMDs: ", props.NumFComputeCores);
    numberLine(writer, "Memory banks: ", props.NumMemoryBanks);
    numberLine(writer, "Caches: ", props.NumCaches);
    numberLine(writer, "IO links: ", props.NumIOLinks);
    writer.hex();
    numberLine(writer, "CPU compute ID: 0x", props.CComputeIdLo);
    numberLine(writer, "GPU compute ID: 0x", props.FComputeIdLo);
    writer.dec();
    flagLine(writer, "Hot pluggable: ", bit(capability, 0));
    flagLine(writer, "Has ATS/PRI 1.1 compatible translation agent: ", bit(capability, 1));
    flagLine(writer, "Shared with graphics: ", bit(capability, 2));
    flagLine(writer, "Queues must be power of two: ", bit(capability, 3));
    flagLine(writer, "32-bit queue size: ", bit(capability, 4));
    flagLine(writer, "Notification on queue idle: ", bit(capability, 5));
    flagLine(writer, "Limited virtual address range: ", bit(capability, 6));
    flagLine(writer, "Watchpoints supported: ", bit(capability, 7));
    signedLine(writer,
               "Maximum watchpoints: ", static_cast<std::int32_t>(1u << bits(capability, 8, 4)));
    textLine(writer, "Doorbell type: ",
             valueName(makeNameTable(doorbellTypeNames),
                       static_cast<std::int32_t>(bits(capability, 12, 2))));
    flagLine(writer, "Double virtual address map required: ", bit(capability, 14));
    flagLine(writer, "Debug trap supported: ", bit(capability, 15));
    flagLine(writer, "Wave launch trap override supported: ", bit(capability, 16));
    flagLine(writer, "Wave launch mode supported: ", bit(capability, 17));
    flagLine(writer, "Precise memory operations supported: ", bit(capability, 18));
    flagLine(writer, "SRAM EDC support (deprecated): ", bit(capability, 19));
    flagLine(writer, "Memory EDC support: ", bit(capability, 20));
    flagLine(writer, "RAS event notify: ", bit(capability, 21));
    numberLine(writer, "ASIC revision: ", bits(capability, 22, 4));
    flagLine(writer, "SRAM EDC support: ", bit(capability, 26));
    flagLine(writer, "SVM API supported: ", bit(capability, 27));
    flagLine(writer, "Coherent host access: ", bit(capability, 28));
    flagLine(writer, "Debug supported firmware: ", bit(capability, 29));
    numberLine(writer, "Maximum waves per GPU SIMD: ", props.MaxWavesPerSIMD);
    numberLine(writer, "LDS size: ", props.LDSSizeInKB, " KiB\n");
    numberLine(writer, "GDS size: ", props.GDSSizeInKB, " KiB\n");
    numberLine(writer, "Wavefront size: ", props.WaveFrontSize);
    numberLine(writer, "Shader engines: ", props.NumShaderBanks);
    numberLine(writer, "SIMD arrays per shader engine: ", props.NumArrays);
    numberLine(writer, "Compute units per SIMD array: ", props.NumCUPerArray);
    numberLine(writer, "SIMDs per compute unit: ", props.NumSIMDPerCU);
    textLine(writer, "Maximum scratch wave slots per CU: ",
             props.MaxSlotsScratchCU == 0 ? std::string("unlimited")
                                          : decimalText(props.MaxSlotsScratchCU));
    numberLine(writer, "Engine ID microcode packet processor version: ", bits(engineId, 0, 10));
    writer << "Engine ID GFXIP version: " << bits(engineId, 10, 6) << "." << bits(engineId, 16, 8)
           << "." << bits(engineId, 24, 8) << "\n";
    writer.hex();
    numberLine(writer, "Vendor ID: 0x", props.VendorId);
    numberLine(writer, "Device ID: 0x", props.DeviceId);
    writer.dec();
    textLine(writer, "Location ID: ", locationIdString(props.LocationId));
    numberLine(writer, "Local memory size: ", props.LocalMemSize, " B\n");
    numberLine(writer, "Maximum GPU clock frequency: ", props.MaxEngineClockMhzFCompute, " MHz\n");
    numberLine(writer, "Maximum CPU clock frequency: ", props.MaxEngineClockMhzCCompute, " MHz\n");
    signedLine(writer, "DRM render device ID: ", props.DrmRenderMinor);
    writer << "Marketing name: ";
    printUtf16(writer, props.MarketingName, HSA_PUBLIC_NAME_SIZE);
    writer << "\n";
    textLine(writer, "CAL name: ", byteName(props.AMDName));
    numberLine(writer,
               "Engine SDMA microcode version: ", bits(props.uCodeEngineVersions.Value, 0, 10));
    writer << "Watch address mask bits: " << bits(debug, 0, 4) << " - " << bits(debug, 4, 6)
           << "\n";
    textLine(writer, "Dispatch info always valid: ", bit(debug, 10) ? "yes" : "per-process");
    textLine(writer,
             "Address watchpoint share kind: ", bit(debug, 11) ? "unshared" : "shared/unsupported");
    numberLine(writer, "Hive ID: ", props.HiveID);
    numberLine(writer, "SDMA engines: ", props.NumSdmaEngines);
    numberLine(writer, "SDMA XGMI engines: ", props.NumSdmaXgmiEngines);
    signedLine(writer, "SDMA queues per engine: ", props.NumSdmaQueuesPerEngine);
    signedLine(writer, "CP queues: ", props.NumCpQueues);
    signedLine(writer, "GWS barriers: ", props.NumGws);
    hexLine(writer, "PCIe domain: 0x", props.Domain);
    hexLine(writer, "Unique ID: 0x", props.UniqueID);
    numberLine(writer, "VGPR size per CU: ", props.VGPRSizePerCU, " B\n");
    numberLine(writer, "SGPR size per CU: ", props.SGPRSizePerCU, " B\n");
    numberLine(writer, "XCCs: ", props.NumXcc);
    hexLine(writer, "KFD GPU ID: 0x", props.KFDGpuID);
    hexLine(writer, "Family ID: 0x", props.FamilyID);
}

void printClock(ReportWriter& writer, std::int32_t status, const HsaClockCounters& clock) {
    if (!printedFailure(writer, status, callAction(KfdCall::GetClockCounters))) {
        numberLine(writer, "System clock frequency: ", clock.SystemClockFrequencyHz, " Hz\n");
    }
}
