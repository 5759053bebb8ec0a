// Sysfs replay: a captured KFD sysfs topology tree turned into the records libhsakmt builds from
// it.
#pragma once

#include <string>

#include "fixture/topology.h"

/// The topology of the tree captured in `directory` (a copy of the KFD topology directory, or a
/// directory holding one as `topology/`), with `directory`/kfdsim.json laid over it when present.
/// Throws FixtureError, one line naming the file and what is wrong with it.
Topology loadSysfsTopology(const std::string& directory);
