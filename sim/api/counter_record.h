// Counter record builder: the packed HsaCounterProperties record of one node.
#pragma once

#include <cstddef>
#include <vector>

#include "fixture/topology.h"

/// The bytes of the HsaCounterProperties record for `counters`, laid out as the header lays
/// it out (4-byte packing, blocks and their counters back to back). The buffer comes from
/// operator new, so it is aligned for the record; it is exactly as long as the record, as the
/// library allocates it, so that a read past its end shows under AddressSanitizer.
std::vector<std::byte> buildCounterRecord(const CounterSet& counters);
