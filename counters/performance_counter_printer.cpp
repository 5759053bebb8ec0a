// Performance counter printer: counter blocks and groups of like counters of a node.
#include "counters/performance_counter_printer.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <map>
#include <tuple>
#include <vector>

#include <hsakmt/hsakmt.h>

#include "counters/counter_block_names.h"
#include "report/report_lines.h"
#include "report/report_writer.h"
#include "report/status_check.h"
#include "report/value_format.h"

namespace {
// The record is variable-length and 4-byte packed: fields are copied out byte-wise at the
// header's offsets, as a 64-bit field such as CounterId is not 8-byte aligned.
static_assert(sizeof(HSA_UUID) == 16);
static_assert(sizeof(HSA_PROFILE_TYPE) == sizeof(std::uint32_t));
static_assert(sizeof(HsaCounterFlags) == sizeof(std::uint32_t));
static_assert(offsetof(HsaCounterProperties, Blocks) == 8);
static_assert(offsetof(HsaCounterBlockProperties, Counters) == 24);
static_assert(sizeof(HsaCounter) == 32);
static_assert(offsetof(HsaCounter, CounterId) == 4);

constexpr std::array counterTypeNames{
    NamePair{HSA_PROFILE_TYPE_PRIVILEGED_IMMEDIATE, "Privileged immediate"},
    NamePair{HSA_PROFILE_TYPE_PRIVILEGED_STREAMING, "Privileged streaming"},
    NamePair{HSA_PROFILE_TYPE_NONPRIV_IMMEDIATE, "Non-privileged immediate"},
    NamePair{HSA_PROFILE_TYPE_NONPRIV_STREAMING, "Non-privileged streaming"},
};
static_assert(counterTypeNames.size() == 4);

template <typename Field>
Field readField(const unsigned char* record, std::size_t offset) {
    Field value{};
    std::memcpy(&value, record + offset, sizeof value);
    return value;
}

// A counter's properties without its ID; counters with equal keys form one group.
struct CounterKey {
    std::uint32_t type;
    std::uint32_t sizeInBits;
    std::uint64_t mask;
    bool global;
    bool resettable;
    bool readOnly;
    bool stream;
    std::uint32_t blockIndex;

    bool operator==(const CounterKey& other) const {
        return type == other.type && sizeInBits == other.sizeInBits && mask == other.mask &&
               global == other.global && resettable == other.resettable &&
               readOnly == other.readOnly && stream == other.stream &&
               blockIndex == other.blockIndex;
    }

    bool operator<(const CounterKey& other) const {
        return std::tie(type, sizeInBits, mask, global, resettable, readOnly, stream, blockIndex) <
               std::tie(other.type, other.sizeInBits, other.mask, other.global, other.resettable,
                        other.readOnly, other.stream, other.blockIndex);
    }
};

// Group key to the group's IDs in record order.
using CounterGroups = std::map<CounterKey, std::vector<std::uint64_t>>;

CounterKey counterKey(const unsigned char* counter) {
    const auto flags = readField<std::uint32_t>(counter, offsetof(HsaCounter, Flags));
    return CounterKey{readField<std::uint32_t>(counter, offsetof(HsaCounter, Type)),
                      readField<std::uint32_t>(counter, offsetof(HsaCounter, CounterSizeInBits)),
                      readField<std::uint64_t>(counter, offsetof(HsaCounter, CounterMask)),
                      (flags & 0x1U) != 0,
                      (flags & 0x2U) != 0,
                      (flags & 0x4U) != 0,
                      (flags & 0x8U) != 0,
                      readField<std::uint32_t>(counter, offsetof(HsaCounter, BlockIndex))};
}

CounterGroups counterGroups(const unsigned char* firstCounter, std::uint32_t counterCount) {
    CounterGroups groups;
    // Like counters mostly stand together: a counter with its predecessor's key joins the
    // same group without a look-up (map nodes stay where they are).
    std::vector<std::uint64_t>* ids = nullptr;
    CounterKey previous{};
    for (std::size_t i = 0; i < counterCount; ++i) {
        const unsigned char* counter = firstCounter + i * sizeof(HsaCounter);
        const CounterKey key = counterKey(counter);
        if (ids == nullptr || !(key == previous)) {
            ids = &groups[key];
            previous = key;
        }
        ids->push_back(readField<std::uint64_t>(counter, offsetof(HsaCounter, CounterId)));
    }
    return groups;
}

void writeRun(ReportWriter& writer, std::uint64_t first, std::uint64_t last, bool single) {
    writer << first;
    if (!single) {
        writer << " - " << last;
    }
}

// "IDs: " and the list cut into runs of successive IDs, in list order.
void idRunsLine(ReportWriter& writer, const std::vector<std::uint64_t>& ids) {
    writer << "IDs: ";
    std::uint64_t first = ids.front();
    std::uint64_t last = first;
    bool single = true;
    for (std::size_t i = 1; i < ids.size(); ++i) {
        if (ids[i] == last + 1) {
            last = ids[i];
            single = false;
            continue;
        }
        writeRun(writer, first, last, single);
        writer << ", ";
        first = ids[i];
        last = first;
        single = true;
    }
    writeRun(writer, first, last, single);
    writer << "\n";
}

void printCounterGroup(ReportWriter& writer, const CounterKey& key,
                       const std::vector<std::uint64_t>& ids) {
    const Section section(writer, "Counter type");
    idRunsLine(writer, ids);
    textLine(writer, "Type: ",
             valueName(makeNameTable(counterTypeNames), static_cast<std::int32_t>(key.type)));
    numberLine(writer, "Size: ", key.sizeInBits, " bits\n");
    hexLine(writer, "Mask: ", key.mask);
    flagLine(writer, "Global: ", key.global);
    flagLine(writer, "Resettable: ", key.resettable);
    flagLine(writer, "Read only: ", key.readOnly);
    flagLine(writer, "Stream: ", key.stream);
    numberLine(writer, "Block index: ", key.blockIndex);
}

// Prints one block record; returns the start of the record after it.
const unsigned char* printCounterBlock(ReportWriter& writer, const unsigned char* block,
                                       std::uint32_t index) {
    const Section section(writer, "Block " + decimalText(index));
    UuidBytes blockId{};
    std::memcpy(blockId.data(), block + offsetof(HsaCounterBlockProperties, BlockId),
                blockId.size());
    const auto counterCount =
        readField<std::uint32_t>(block, offsetof(HsaCounterBlockProperties, NumCounters));
    const unsigned char* firstCounter = block + offsetof(HsaCounterBlockProperties, Counters);
    textLine(writer, "Block ID: ", counterBlockName(blockId));
    numberLine(writer, "Counters: ", counterCount);
    numberLine(writer, "Concurrent counters: ",
               readField<std::uint32_t>(block, offsetof(HsaCounterBlockProperties, NumConcurrent)));
    for (const auto& [key, ids] : counterGroups(firstCounter, counterCount)) {
        printCounterGroup(writer, key, ids);
    }
    return firstCounter + std::size_t{counterCount} * sizeof(HsaCounter);
}

void printCounterProperties(ReportWriter& writer, const unsigned char* record) {
    const Section section(writer, "Performance Counters");
    const auto blockCount =
        readField<std::uint32_t>(record, offsetof(HsaCounterProperties, NumBlocks));
    numberLine(writer, "Blocks: ", blockCount);
    numberLine(writer, "Concurrent blocks: ",
               readField<std::uint32_t>(record, offsetof(HsaCounterProperties, NumConcurrent)));
    const unsigned char* block = record + offsetof(HsaCounterProperties, Blocks);
    for (std::uint32_t i = 0; i < blockCount; ++i) {
        block = printCounterBlock(writer, block, i);
    }
}
}  // namespace

void printPerformanceCounters(ReportWriter& writer, std::uint32_t nodeId) {
    try {
        // The record stays the library's: it is only read here.
        HsaCounterProperties* properties = nullptr;
        checkStatus(hsaKmtPmcGetCounterProperties(nodeId, &properties),
                    "get node performance counter properties");
        if (properties == nullptr) {
            return;
        }
        printCounterProperties(writer, reinterpret_cast<const unsigned char*>(properties));
    } catch (const std::exception& failure) {
        printError(writer, failure);
    }
}
