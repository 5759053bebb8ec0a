// kfdtopo-export entry point: writes what libhsakmt answers kfdtopo's queries as a kfdsim fixture.
#include <cerrno>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>

#include "export/topology_capture.h"
#include "sim/fixture/json_fixture.h"
#include "sim/fixture/json_writer.h"

namespace {

constexpr const char* usage = "Usage: kfdtopo-export [OUTPUT.json]\n";

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
    }
}

}  // namespace

int main(int argc, char** argv) {
    // One optional output path; anything that looks like an option is not taken for one.
    if (argc > 2 || (argc == 2 && (argv[1][0] == '-' || argv[1][0] == '\0'))) {
        std::cerr << usage;
        return 1;
    }
    try {
        const Topology topology = captureTopology();
        writeFixture(writeJsonFixture(topology), argc == 2 ? argv[1] : nullptr);
        reportFaults(topology);
    } catch (const std::exception& failure) {
        std::cerr << "kfdtopo-export: " << failure.what() << "\n";
        return 2;
    }
    return 0;
}
