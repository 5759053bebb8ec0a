// Counter record builder: the packed HsaCounterProperties record of one node.
#pragma once

#include <cstddef>
#include <vector>

#include "sim/topology.h"

/// The bytes of the HsaCounterProperties record for `counters`, laid out as the header lays
/// it out (4-byte packing, blocks and their counters back to back). The buffer comes from
/// operator new, so it is aligned for the record; it ends with zero slack so that copying a
/// fixed-size header struct from any block never reads past it.
std::vector<std::byte> buildCounterRecord(const CounterSet& counters);
