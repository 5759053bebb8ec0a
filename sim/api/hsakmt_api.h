// Simulated libhsakmt API: the in-process entry of the C functions in hsakmt_api.cpp.
#pragma once

#include "fixture/topology.h"

/// Makes the next hsaKmtOpenKFD of this process serve `topology` instead of the one that
/// KFDSIM_TOPOLOGY names, for programs that link the simulated functions in (fuzzers). Not
/// exported from the shared library. Throws only std::system_error, from locking.
void serveAtNextOpen(Topology topology);
