// Machine source: fixtures and trees through kfdsim's loaders, this machine through the capture.
#include "diff/machine_source.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include <hsakmt/hsakmt.h>

#include "app/open_advice.h"
#include "export/fixture_origin.h"
#include "export/topology_capture.h"
#include "fixture/fixture_error.h"
#include "fixture/json_fixture.h"
#include "report/status_check.h"
#include "sim/api/topology_source.h"

Topology readMachine(const std::string& path) {
    // An empty name would be kfdsim's built-in machine.
    if (path.empty()) {
        throw FixtureError("\"\": an empty name, of no fixture or tree");
    }
    return loadTopologySource(path);
}

void requireMachine(const Topology& topology, const std::string& name) {
    const auto fault =
        std::find_if(topology.faults.begin(), topology.faults.end(), [](const Fault& f) {
            return f.call == KfdCall::OpenKFD || f.call == KfdCall::GetVersion ||
                   f.call == KfdCall::AcquireSystemProperties;
        });
    if (fault != topology.faults.end()) {
        throw std::runtime_error(name + ": holds no machine, " +
                                 std::string(kfdCallName(fault->call)) + " failed with status " +
                                 std::to_string(fault->status));
    }
}

Topology readLiveMachine() {
    Topology topology = captureTopology();
    for (const Fault& fault : topology.faults) {
        if (fault.call != KfdCall::OpenKFD) {
            continue;
        }
        // kfdtopo's own message, and its advice where the device files are at fault.
        try {
            checkStatus(fault.status, "open KFD");
        } catch (const std::runtime_error& failure) {
            std::string message = failure.what();
            if (fault.status == HSAKMT_STATUS_KERNEL_IO_CHANNEL_NOT_OPENED) {
                for (const std::string& line : openAdvice(DevicePaths{}, currentUser())) {
                    message += "\n" + line;
                }
            }
            throw std::runtime_error(message);
        }
    }
    requireMachine(topology, "this machine");
    topology.origin = machineOrigin();
    return topology;
}
