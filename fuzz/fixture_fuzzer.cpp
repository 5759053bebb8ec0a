// Fixture fuzzer: arbitrary bytes as a kfdsim fixture; each accepted one runs the whole report
// in process, where a crash, sanitizer report, leak or hang fails the run.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string_view>
#include <utility>

#include <hsakmt/hsakmt.h>

#include "node/node_printer.h"
#include "node/system_printer.h"
#include "report/report_writer.h"
#include "report/status_check.h"
#include "sim/api/hsakmt_api.h"
#include "sim/fixture/json_fixture.h"
#include "sim/topology.h"
#include "tests/support/stdout_capture.h"

namespace {
// Bank and link counts above this make reports of millions of sections: slow, and no more
// telling than small ones.
constexpr HSAuint32 largestCount = 4096;
constexpr HSAuint32 int32Max = 0x7FFFFFFF;

bool isOneLine(std::string_view message) {
    for (char c : message) {
        if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') {
            return false;
        }
    }
    return true;
}

// Whether the report of `topology` stays small enough to run at fuzzing speed. Counts of 2^31
// and more are negative to the report, which refuses them at once.
bool smallEnough(const Topology& topology) {
    for (const TopologyNode& node : topology.nodes) {
        for (HSAuint32 count : {node.properties.NumMemoryBanks, node.properties.NumIOLinks}) {
            if (count > largestCount && count <= int32Max) {
                return false;
            }
        }
    }
    return true;
}

// The run sequence of app/main.cpp.
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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::optional<Topology> topology;
    try {
        const std::string_view text(reinterpret_cast<const char*>(data), size);
        topology = parseJsonFixture(text, "input");
    } catch (const FixtureError& refusal) {
        // kfdsim writes a refusal as one line of standard error.
        if (!isOneLine(refusal.what())) {
            std::abort();
        }
        return 0;
    }
    if (!smallEnough(*topology)) {
        return 0;
    }
    serveAtNextOpen(std::move(*topology));
    {
        const StdoutCapture capture;
        try {
            runReport();
        } catch (const std::exception&) {
            // kfdtopo prints a run-level failure and exits non-zero
        }
    }
    // After a run-level failure KFD may still be open; each input starts closed.
    static_cast<void>(hsaKmtCloseKFD());
    return 0;
}
