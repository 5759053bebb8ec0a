// Counter record builder: the header's structs copied into one buffer at their packed offsets.
#include "sim/api/counter_record.h"

#include <cstddef>
#include <cstring>

namespace {

// The part of each struct before its one-element tail array.
constexpr std::size_t recordHeaderSize = offsetof(HsaCounterProperties, Blocks);
constexpr std::size_t blockHeaderSize = offsetof(HsaCounterBlockProperties, Counters);

static_assert(recordHeaderSize == 8);
static_assert(blockHeaderSize == 24);
static_assert(sizeof(HsaCounter) == 32);

}  // namespace

std::vector<std::byte> buildCounterRecord(const CounterSet& counters) {
    std::size_t size = recordHeaderSize;
    for (const CounterBlock& block : counters.blocks) {
        size += blockHeaderSize + block.counters.size() * sizeof(HsaCounter);
    }
    std::vector<std::byte> bytes(size);

    HsaCounterProperties record{};
    record.NumBlocks = static_cast<HSAuint32>(counters.blocks.size());
    record.NumConcurrent = counters.numConcurrent;
    std::memcpy(bytes.data(), &record, recordHeaderSize);

    std::size_t offset = recordHeaderSize;
    for (const CounterBlock& block : counters.blocks) {
        HsaCounterBlockProperties header{};
        header.BlockId = block.blockId;
        header.NumCounters = static_cast<HSAuint32>(block.counters.size());
        header.NumConcurrent = block.numConcurrent;
        std::memcpy(bytes.data() + offset, &header, blockHeaderSize);
        offset += blockHeaderSize;

        const std::size_t countersSize = block.counters.size() * sizeof(HsaCounter);
        if (countersSize != 0) {
            std::memcpy(bytes.data() + offset, block.counters.data(), countersSize);
        }
        offset += countersSize;
    }
    return bytes;
}
