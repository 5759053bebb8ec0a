// System printer: library version, node count and platform identifiers.
#include "node/system_printer.h"

#include "report/report_lines.h"
#include "report/report_writer.h"

void printVersion(ReportWriter& writer, const HsaVersionInfo& version) {
    writer << "HSAKMT Version: " << version.KernelInterfaceMajorVersion << "."
           << version.KernelInterfaceMinorVersion << "\n";
}

void printSystemProperties(ReportWriter& writer, const HsaSystemProperties& system) {
    numberLine(writer, "Number of nodes: ", system.NumNodes);
    writer.hex();
    numberLine(writer, "Platform OEM: 0x", system.PlatformOem);
    numberLine(writer, "Platform ID: 0x", system.PlatformId);
    writer.dec();
    numberLine(writer, "Platform revision: ", system.PlatformRev);
}
