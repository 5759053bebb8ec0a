// Fixture origin: where a capture is taken, for the fixture's origin record.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "fixture/topology.h"

/// This host's name and kernel release, the amdgpu module's version when the kernel publishes
/// one, the file of the libhsakmt that answers, kfdtopo's version, the time, UTC, and the CPUs of
/// its NUMA nodes. When the library is kfdsim, the origin of the fixture it serves, if any: the
/// machine it serves was captured elsewhere.
std::optional<FixtureOrigin> machineOrigin();

/// The NUMA nodes with CPUs under `nodes` (a folder like /sys/devices/system/node), by number.
std::vector<NumaCpus> readNumaCpus(const std::string& nodes);
