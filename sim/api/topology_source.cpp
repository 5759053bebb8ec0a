// Topology source: chooses between the built-in topology, a captured tree and a fixture file.
#include "sim/api/topology_source.h"

#include <filesystem>
#include <system_error>

#include "fixture/json_fixture.h"
#include "sim/default_topology.h"
#include "sim/sysfs/sysfs_replay.h"

Topology loadTopologySource(const std::string& source) {
    if (source.empty()) {
        return defaultTopology();
    }
    std::error_code ignored;
    if (std::filesystem::is_directory(source, ignored)) {
        return loadSysfsTopology(source);
    }
    return loadJsonFixture(source);
}
