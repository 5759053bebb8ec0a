// Fixture origin: where a capture is taken, for the fixture's origin record.
#pragma once

#include <optional>

#include "fixture/topology.h"

/// This host's name and kernel release, the amdgpu module's version when the kernel publishes
/// one, the file of the libhsakmt that answers, kfdtopo's version and the time, UTC. Nothing
/// when the library is kfdsim: the machine it serves was captured elsewhere.
std::optional<FixtureOrigin> machineOrigin();
