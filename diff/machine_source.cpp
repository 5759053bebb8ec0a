// Machine source: fixtures and trees through kfdsim's loaders, this machine through the reader.
#include "diff/machine_source.h"

#include <cstdint>
#include <stdexcept>

#include "export/fixture_origin.h"
#include "fixture/fixture_error.h"
#include "fixture/json_fixture.h"
#include "reader/model_builder.h"
#include "sim/api/topology_source.h"

Topology readMachineFile(const std::string& path) {
    // An empty name would be kfdsim's built-in machine.
    if (path.empty()) {
        throw FixtureError("\"\": an empty name, of no fixture or tree");
    }
    return loadTopologySource(path);
}

void requireMachine(const Topology& topology, const std::string& name) {
    if (const Fault* fault = noMachineFault(topology)) {
        throw std::runtime_error(name + ": holds no machine, " +
                                 std::string(kfdCallName(fault->call)) + " failed with status " +
                                 std::to_string(fault->status));
    }
}

Topology readLiveMachine() {
    // kfdtopo's own message for a call that ends its run, with its advice after a failed open.
    Topology topology = readMachine();
    topology.origin = machineOrigin();
    return topology;
}
