// Machine source: the topology a command-line argument names, or this machine's, read live.
#pragma once

#include <string>

#include "fixture/topology.h"

/// The machine of a fixture (`.json`, `.json.gz`) or of a captured KFD topology tree at
/// `path`. Throws FixtureError, one line naming the file and what is wrong with it.
Topology readMachineFile(const std::string& path);

/// This machine, as libhsakmt answers, with its origin. Throws std::runtime_error with
/// kfdtopo's message for a call that ends kfdtopo's run (after a failed open, with its advice).
Topology readLiveMachine();

/// Throws std::runtime_error naming `name` and the call when `topology` records a failure that
/// leaves no machine: the open, the version or the system properties.
void requireMachine(const Topology& topology, const std::string& name);
