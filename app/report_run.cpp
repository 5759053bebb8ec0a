// Report run: opens KFD, prints the report node by node, then closes KFD.
#include "app/report_run.h"

#include <cstdint>
#include <stdexcept>
#include <string>

#include <hsakmt/hsakmt.h>

#include "app/open_advice.h"
#include "node/node_printer.h"
#include "node/system_printer.h"
#include "report/report_writer.h"
#include "report/status_check.h"

namespace {
// Status 20 is the library's answer when it cannot open or use the device files: the failure's
// message is then followed by what the machine shows and what to do.
void openKfd() {
    const HSAKMT_STATUS status = hsaKmtOpenKFD();
    try {
        checkStatus(status, "open KFD");
    } catch (const std::runtime_error& failure) {
        if (status != HSAKMT_STATUS_KERNEL_IO_CHANNEL_NOT_OPENED) {
            throw;
        }
        std::string message = failure.what();
        for (const std::string& line : openAdvice(DevicePaths{}, currentUser())) {
            message += "\n" + line;
        }
        throw std::runtime_error(message);
    }
}
}  // namespace

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
