// Built-in topology: the machine kfdsim serves when no fixture is named.
#pragma once

#include "fixture/topology.h"

/// One socket of an AMD EPYC 9654 (node 0) and one AMD Instinct MI300X (node 1), with memory
/// banks, IO links both ways, clock counters and the GPU's performance counters.
Topology defaultTopology();
