// Machine source: the topology a command-line argument names, or this machine's, read live.
#pragma once

#include <string>

#include "fixture/topology.h"

/// The machine of a fixture (`.json`, `.json.gz`) or of a captured KFD topology tree at
/// `path`. Throws FixtureError, one line naming the file and what is wrong with it.
Topology readMachine(const std::string& path);

/// This machine, as libhsakmt answers. Throws std::runtime_error when it holds no machine:
/// KFD's open failure with its advice lines, or the call that failed.
Topology readLiveMachine();

/// Throws std::runtime_error naming `name` and the call when `topology` records a failure that
/// leaves no machine: the open, the version or the system properties.
void requireMachine(const Topology& topology, const std::string& name);
