// kfdtopo-export entry point: writes what libhsakmt answers kfdtopo's queries as a kfdsim fixture.
#include <algorithm>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "app/open_advice.h"
#include "export/fixture_origin.h"
#include "export/output_file.h"
#include "export/topology_capture.h"
#include "fixture/json_fixture.h"
#include "fixture/json_writer.h"

namespace {

constexpr const char* usage = "Usage: kfdtopo-export [OUTPUT.json[.gz]]\n";

constexpr int writeFailedStatus = 2;

// The capture holds no machine: KFD could not be opened, or its version or system properties
// could not be read. The fixture still replays that failure.
constexpr int noMachineStatus = 3;

void writeStandardOutput(const std::string& text) {
    std::cout << text << std::flush;
    if (!std::cout) {
        throw std::runtime_error("cannot write to standard output");
    }
}

// One line on standard error for each call that failed, so that a capture of a machine whose
// driver refuses is not taken for a good one.
void reportFaults(const Topology& topology) {
    for (const Fault& fault : topology.faults) {
        std::cerr << "kfdtopo-export: " << kfdCallName(fault.call);
        if (fault.node) {
            std::cerr << " for node " << *fault.node;
        }
        std::cerr << " failed with status " << fault.status << ", recorded as a fault\n";
        // The library could not open or use the device files.
        if (fault.call == KfdCall::OpenKFD &&
            fault.status == HSAKMT_STATUS_KERNEL_IO_CHANNEL_NOT_OPENED) {
            for (const std::string& line : openAdvice(DevicePaths{}, currentUser())) {
                std::cerr << "kfdtopo-export: " << line << "\n";
            }
        }
    }
}

bool holdsNoMachine(const Topology& topology) {
    return std::any_of(topology.faults.begin(), topology.faults.end(), [](const Fault& fault) {
        return fault.call == KfdCall::OpenKFD || fault.call == KfdCall::GetVersion ||
               fault.call == KfdCall::AcquireSystemProperties;
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::cout << usage;
        return 0;
    }
    // One optional output path; anything that looks like an option is not taken for one.
    if (argc > 2 || (argc == 2 && (argv[1][0] == '-' || argv[1][0] == '\0'))) {
        std::cerr << usage;
        return 1;
    }
    try {
        Topology topology = captureTopology();
        topology.origin = machineOrigin();
        const bool noMachine = holdsNoMachine(topology);
        const std::string text = writeJsonFixture(topology);
        // The failures first, so that they are known even when the file cannot be written.
        reportFaults(topology);
        if (argc == 1) {
            writeStandardOutput(text);
        } else if (!writeOutputFile(argv[1], text, !noMachine)) {
            // A capture that an earlier run left there is worth more than a failure's fixture.
            std::cerr << "kfdtopo-export: " << argv[1]
                      << " already exists and was kept as it was; the failure's fixture was not"
                         " written (name a new file for it)\n";
        }
        return noMachine ? noMachineStatus : 0;
    } catch (const std::exception& failure) {
        std::cerr << "kfdtopo-export: " << failure.what() << "\n";
        return writeFailedStatus;
    }
}
