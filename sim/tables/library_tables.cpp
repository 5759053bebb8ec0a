// The library's tables: generated rows and the rule that picks a counter table.
#include "sim/tables/library_tables.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

namespace {

// Counter IDs first to last.
struct IdRun {
    HSAuint64 first;
    HSAuint64 last;
};

// A counter block; its counters share every property but the ID, which come from its runs.
struct CounterBlockRow {
    HSA_UUID blockId;
    HSAuint32 numConcurrent;
    HSAuint32 blockIndex;
    HSAuint32 type;
    HSAuint32 sizeInBits;
    HSAuint64 mask;
    HSAuint32 flags;
    std::size_t firstRun;
    std::size_t runCount;
};

// A family's table: its blocks, in record order.
struct CounterTableRow {
    std::string_view family;
    HSAuint32 numConcurrent;
    std::size_t firstBlock;
    std::size_t blockCount;
};

#include "sim/tables/library_tables.inc"

// The family whose table the library uses for a GPU; none for 8.0.2, gfx11 and newer, and 0.x.x.
std::string_view counterFamily(const GfxVersion& v, HSAuint16 deviceId) {
    switch (v.major) {
        case 7:
            return v.minor == 0 && v.stepping == 0 ? "kaveri" : "hawaii";
        case 8:
            if (v.minor == 0 && v.stepping == 1) {
                return "carrizo";
            }
            if (v.minor == 0 && v.stepping == 2) {
                return {};
            }
            return deviceId == 0x7300 || deviceId == 0x730F ? "fiji" : "polaris";
        case 9:
            return "vega";
        case 10:
            return "navi";
        default:
            return {};
    }
}

CounterBlock counterBlock(const CounterBlockRow& row) {
    CounterBlock block{row.blockId, row.numConcurrent, {}};
    HsaCounter counter{};
    counter.Type = static_cast<HSA_PROFILE_TYPE>(row.type);
    counter.CounterSizeInBits = row.sizeInBits;
    counter.CounterMask = row.mask;
    counter.Flags.Value = row.flags;
    counter.BlockIndex = row.blockIndex;
    const IdRun* first = counterIdRuns + row.firstRun;
    const IdRun* last = first + row.runCount;
    for (const IdRun* run = first; run != last; ++run) {
        for (HSAuint64 id = run->first; id <= run->last; ++id) {
            counter.CounterId = id;
            block.counters.push_back(counter);
        }
    }
    return block;
}

}  // namespace

const DeviceRow* findDevice(HSAuint16 deviceId) {
    const auto row = std::find_if(std::begin(deviceRows), std::end(deviceRows),
                                  [&](const DeviceRow& r) { return r.deviceId == deviceId; });
    return row != std::end(deviceRows) ? &*row : nullptr;
}

std::optional<CounterSet> libraryCounters(const GfxVersion& version, HSAuint16 deviceId) {
    const std::string_view family = counterFamily(version, deviceId);
    const auto table = std::find_if(
        std::begin(counterTableRows), std::end(counterTableRows),
        [&](const CounterTableRow& t) { return !family.empty() && t.family == family; });
    if (table == std::end(counterTableRows)) {
        return std::nullopt;
    }
    CounterSet counters;
    counters.numConcurrent = table->numConcurrent;
    for (std::size_t b = table->firstBlock; b < table->firstBlock + table->blockCount; ++b) {
        counters.blocks.push_back(counterBlock(counterBlockRows[b]));
    }
    return counters;
}
