// kfdtopo entry point: opens KFD, prints the report node by node, then closes KFD.
#include <cstdint>
#include <exception>
#include <iostream>

#include <hsakmt/hsakmt.h>

#include "node/node_printer.h"
#include "node/system_printer.h"
#include "report/report_writer.h"
#include "report/status_check.h"

namespace {
void runReport() {
    checkStatus(hsaKmtOpenKFD(), "open KFD");
    ReportWriter writer;
    const std::int32_t nodeCount = printSystem(writer);
    for (std::int32_t node = 0; node < nodeCount; ++node) {
        printNode(writer, static_cast<std::uint32_t>(node));
    }
    checkStatus(hsaKmtReleaseSystemProperties(), "release system properties");
    checkStatus(hsaKmtCloseKFD(), "close KFD");
}
}  // namespace

int main(int argc, char** /*argv*/) {
    if (argc != 1) {
        std::cerr << "No arguments expected!\n";
        return 1;
    }
    try {
        runReport();
    } catch (const std::exception& failure) {
        std::cout.flush();
        std::cerr << failure.what() << "\n";
        return 2;
    }
    return 0;
}
