// System printer: library version, node count and platform identifiers.
#include "node/system_printer.h"

#include <hsakmt/hsakmt.h>

#include "report/report_lines.h"
#include "report/report_writer.h"
#include "report/status_check.h"

std::int32_t printSystem(ReportWriter& writer) {
    Section section(writer, "System");

    HsaVersionInfo version{};
    checkStatus(hsaKmtGetVersion(&version), "get HSAKMT version");
    writer << "HSAKMT Version: " << version.KernelInterfaceMajorVersion << "."
           << version.KernelInterfaceMinorVersion << "\n";

    HsaSystemProperties system{};
    checkStatus(hsaKmtAcquireSystemProperties(&system), "acquire system properties");
    numberLine(writer, "Number of nodes: ", system.NumNodes);
    writer.hex();
    numberLine(writer, "Platform OEM: 0x", system.PlatformOem);
    numberLine(writer, "Platform ID: 0x", system.PlatformId);
    writer.dec();
    numberLine(writer, "Platform revision: ", system.PlatformRev);
    return static_cast<std::int32_t>(system.NumNodes);
}
