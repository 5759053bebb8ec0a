// kfdtopo-export entry point: writes what libhsakmt answers kfdtopo's queries as a kfdsim fixture.
#include <cerrno>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "app/open_advice.h"
#include "export/topology_capture.h"
#include "sim/fixture/json_fixture.h"
#include "sim/fixture/json_writer.h"

namespace {

constexpr const char* usage = "Usage: kfdtopo-export [OUTPUT.json]\n";

// A failed open still writes its fixture, which replays the failure, but is no capture.
constexpr int openFailedStatus = 3;

// Writes to the file at `path`, or to standard output when there is none.
void writeFixture(const std::string& text, const char* path) {
    if (path == nullptr) {
        std::cout << text << std::flush;
        if (!std::cout) {
            throw std::runtime_error("cannot write to standard output");
        }
        return;
    }
    errno = 0;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text << std::flush;
    if (!file) {
        const int error = errno;
        throw std::runtime_error(std::string(path) + ": cannot write: " +
                                 (error != 0 ? std::strerror(error) : "write failed"));
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

bool openFailed(const Topology& topology) {
    return !topology.faults.empty() && topology.faults.front().call == KfdCall::OpenKFD;
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
        const Topology topology = captureTopology();
        writeFixture(writeJsonFixture(topology), argc == 2 ? argv[1] : nullptr);
        reportFaults(topology);
        if (openFailed(topology)) {
            return openFailedStatus;
        }
    } catch (const std::exception& failure) {
        std::cerr << "kfdtopo-export: " << failure.what() << "\n";
        return 2;
    }
    return 0;
}
