// Random topologies: seeded generator of valid kfdsim fixtures.
#pragma once

#include <cstdint>
#include <string>

/// A valid kfdsim fixture drawn from `seed` alone: 0 to 9 nodes whose fields take the extremes
/// of their widths or random values, known and unknown keys of every name table, counters with
/// runs, duplicate and descending IDs, names of valid text without line breaks, counts equal to
/// or above the record arrays, and no faults. The same seed always gives the same text.
std::string randomFixture(std::uint64_t seed);
