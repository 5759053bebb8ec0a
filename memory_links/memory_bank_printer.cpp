// Memory bank printer: one section per memory bank of a node.
#include "memory_links/memory_bank_printer.h"

#include <array>
#include <cstddef>

#include <hsakmt/hsakmt.h>

#include "report/report_lines.h"
#include "report/report_writer.h"
#include "report/status_check.h"
#include "report/value_format.h"

namespace {
// clang-format off
constexpr std::array<NamePair, 8> heapTypeNames{{
    {HSA_HEAPTYPE_SYSTEM,               "System"},
    {HSA_HEAPTYPE_FRAME_BUFFER_PUBLIC,  "Public framebuffer"},
    {HSA_HEAPTYPE_FRAME_BUFFER_PRIVATE, "Private framebuffer"},
    {HSA_HEAPTYPE_GPU_GDS,              "GPU GDS"},
    {HSA_HEAPTYPE_GPU_LDS,              "GPU LDS"},
    {HSA_HEAPTYPE_GPU_SCRATCH,          "GPU scratch"},
    {HSA_HEAPTYPE_DEVICE_SVM,           "Device SVM"},
    {HSA_HEAPTYPE_MMIO_REMAP,           "MMIO remap"},
}};
// clang-format on
// A short list would leave the last row empty.
static_assert(!heapTypeNames.back().name.empty(), "8 filled rows");

// Bits of HSA_MEMORYPROPERTY, read from the whole word.
constexpr std::uint32_t hotPluggableBit = 1U << 0;
constexpr std::uint32_t nonVolatileBit = 1U << 1;

void printBank(ReportWriter& writer, std::size_t index, const HsaMemoryProperties& bank) {
    Section section(writer, "Memory " + decimalText(static_cast<std::int64_t>(index)));
    textLine(writer, "Type: ",
             valueName(makeNameTable(heapTypeNames), static_cast<std::int32_t>(bank.HeapType)));
    numberLine(writer, "Size: ", bank.SizeInBytes, " B\n");
    flagLine(writer, "Hot pluggable: ", (bank.Flags.MemoryProperty & hotPluggableBit) != 0);
    flagLine(writer, "Non-volatile: ", (bank.Flags.MemoryProperty & nonVolatileBit) != 0);
    numberLine(writer, "Width: ", bank.Width, " bits\n");
    numberLine(writer, "Maximum clock frequency: ", bank.MemoryClockMax, " MHz\n");
    hexLine(writer, "Virtual base address: 0x", bank.VirtualBaseAddress);
}
}  // namespace

void printMemoryBanks(ReportWriter& writer, const RecordsAnswer<HsaMemoryProperties>& banks) {
    if (printedFailure(writer, banks.status, callAction(KfdCall::GetNodeMemoryProperties),
                       banks.notAsked)) {
        return;
    }
    for (std::size_t i = 0; i < banks.records.size(); ++i) {
        printBank(writer, i, banks.records[i]);
    }
}
