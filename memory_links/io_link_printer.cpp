// IO link printer: one section per IO link of a node.
#include "memory_links/io_link_printer.h"

#include <array>
#include <cstddef>

#include <hsakmt/hsakmt.h>

#include "memory_links/io_link_type_names.h"
#include "report/report_lines.h"
#include "report/report_writer.h"
#include "report/status_check.h"
#include "report/value_format.h"

namespace {
// Bits of HSA_LINKPROPERTY, read from the whole word. Bits 1 to 4 deny a capability.
constexpr std::uint32_t overrideBit = 1U << 0;
constexpr std::uint32_t nonCoherentBit = 1U << 1;
constexpr std::uint32_t noAtomics32bitBit = 1U << 2;
constexpr std::uint32_t noAtomics64bitBit = 1U << 3;
constexpr std::uint32_t noPeerToPeerDmaBit = 1U << 4;

void printLink(ReportWriter& writer, std::size_t index, const HsaIoLinkProperties& link) {
    Section section(writer, "IO Link " + decimalText(static_cast<std::int64_t>(index)));
    const std::uint32_t flags = link.Flags.LinkProperty;
    textLine(writer, "Type: ",
             valueName(makeNameTable(ioLinkTypeNames), static_cast<std::int32_t>(link.IoLinkType)));
    writer << "Version: " << link.VersionMajor << "." << link.VersionMinor << "\n";
    writer << "Links: " << link.NodeFrom << " -> " << link.NodeTo << "\n";
    numberLine(writer, "Weight: ", link.Weight);
    numberLine(writer, "Minimum latency: ", link.MinimumLatency, " ns\n");
    numberLine(writer, "Maximum latency: ", link.MaximumLatency, " ns\n");
    numberLine(writer, "Minimum bandwidth: ", link.MinimumBandwidth, " MiB/s\n");
    numberLine(writer, "Maximum bandwidth: ", link.MaximumBandwidth, " MiB/s\n");
    numberLine(writer, "Recommended transfer size: ", link.RecTransferSize, " B\n");
    if ((flags & overrideBit) != 0) {
        flagLine(writer, "Coherent: ", (flags & nonCoherentBit) == 0);
        flagLine(writer, "32-bit atomics: ", (flags & noAtomics32bitBit) == 0);
        flagLine(writer, "64-bit atomics: ", (flags & noAtomics64bitBit) == 0);
        flagLine(writer, "Peer DMA: ", (flags & noPeerToPeerDmaBit) == 0);
    }
}
}  // namespace

void printIoLinks(ReportWriter& writer, const RecordsAnswer<HsaIoLinkProperties>& links) {
    if (printedFailure(writer, links.status, callAction(KfdCall::GetNodeIoLinkProperties),
                       links.notAsked)) {
        return;
    }
    for (std::size_t i = 0; i < links.records.size(); ++i) {
        printLink(writer, i, links.records[i]);
    }
}
