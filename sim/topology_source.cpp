// Topology source: chooses between the built-in topology and a fixture file.
#include "sim/topology_source.h"

#include <filesystem>
#include <system_error>

#include "sim/default_topology.h"
#include "sim/json_fixture.h"

Topology loadTopologySource(const std::string& source) {
    if (source.empty()) {
        return defaultTopology();
    }
    std::error_code ignored;
    if (std::filesystem::is_directory(source, ignored)) {
        // TODO: replay a captured sysfs topology tree here; its reader is not written yet.
        throw FixtureError(
            oneLine(source + ": replaying a captured sysfs topology is not supported yet"));
    }
    return loadJsonFixture(source);
}
