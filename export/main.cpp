// kfdtopo-export entry point: writes what libhsakmt answers kfdtopo's queries as a kfdsim fixture.
#include <exception>
#include <iostream>
#include <string>

#include "advice/open_advice.h"
#include "cli/command_line.h"
#include "export/fixture_origin.h"
#include "fixture/json_fixture.h"
#include "fixture/json_writer.h"
#include "output/output_writer.h"
#include "reader/model_builder.h"

namespace {

constexpr ProgramSpec program = {
    "kfdtopo-export",
    "Usage: kfdtopo-export [OUTPUT.json[.gz] | -]",
    "Writes what libhsakmt answers kfdtopo's queries as a kfdsim fixture: into OUTPUT (gzipped\n"
    "when its name ends in .gz), else to standard output (also for -).\n",
    nullptr,
    0,
    1,
};

enum ExitStatus : int {
    written = 0,
    usageStatus = 1,
    writeFailedStatus = 2,
    // The capture holds no machine: KFD could not be opened, or its version or system
    // properties could not be read. The fixture still replays that failure.
    noMachineStatus = 3,
};

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

int run(int argc, char** argv) {
    CommandLine line;
    try {
        line = parseCommandLine(program, argc, argv);
        if (line.request != Request::run) {
            std::cout << (line.request == Request::help ? helpText(program) : versionText(program));
            return written;
        }
        if (!line.arguments.empty() && line.arguments.front().empty()) {
            throw UsageError("the output is an empty name");
        }
    } catch (const UsageError& wrong) {
        std::cerr << usageErrorText(program, wrong);
        return usageStatus;
    }
    const std::string path = line.arguments.empty() ? "-" : line.arguments.front();
    try {
        Topology topology = captureTopology(FailedNode::Skipped);
        topology.origin = machineOrigin();
        const bool noMachine = noMachineFault(topology) != nullptr;
        const std::string text = writeJsonFixture(topology);
        // The failures first, so that they are known even when the file cannot be written.
        reportFaults(topology);
        if (!writeOutput(path, text, !noMachine)) {
            // A capture that an earlier run left there is worth more than a failure's fixture.
            std::cerr << "kfdtopo-export: " << path
                      << " already exists and was kept as it was; the failure's fixture was not"
                         " written (name a new file for it)\n";
        }
        return noMachine ? noMachineStatus : written;
    } catch (const std::exception& failure) {
        std::cerr << "kfdtopo-export: " << failure.what() << "\n";
        return writeFailedStatus;
    }
}
}  // namespace

int main(int argc, char** argv) {
    return statusAfterClosingStandardOutput("kfdtopo-export", run(argc, argv), writeFailedStatus);
}
