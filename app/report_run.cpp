// Report run: opens KFD, prints the report node by node, then closes KFD.
#include "app/report_run.h"

#include <cstdint>

#include <hsakmt/hsakmt.h>

#include "advice/open_kfd.h"
#include "node/node_printer.h"
#include "node/system_printer.h"
#include "report/report_writer.h"
#include "report/status_check.h"

void runReport() {
    openKfd();
    ReportWriter writer;
    const std::int32_t nodeCount = printSystem(writer);
    for (std::int32_t node = 0; node < nodeCount; ++node) {
        printNode(writer, static_cast<std::uint32_t>(node));
    }
    checkStatus(hsaKmtReleaseSystemProperties(), "release system properties");
    checkStatus(hsaKmtCloseKFD(), "close KFD");
}
