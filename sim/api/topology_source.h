// Topology source: the topology that the value of KFDSIM_TOPOLOGY names.
#pragma once

#include <string>

#include "fixture/topology.h"

/// The built-in default topology for an empty `source`, the replayed sysfs tree when it names a
/// directory, else the JSON fixture at that path.
/// Throws FixtureError (one line naming the source) when it cannot be read or is refused.
Topology loadTopologySource(const std::string& source);
