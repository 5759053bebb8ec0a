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
#include "reader/topology_reader.h"
#include "report/report_lines.h"
#include "report/report_writer.h"
#include "report/status_check.h"
#include "report/value_format.h"
#include "text/number_runs.h"

namespace {
// A counter's fields are copied out byte-wise at the header's offsets: its type may hold a
// value its enumeration lacks, and CounterId is not 8-byte aligned.
static_assert(sizeof(HSA_PROFILE_TYPE) == sizeof(std::uint32_t));
static_assert(sizeof(HsaCounterFlags) == sizeof(std::uint32_t));
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

CounterKey counterKey(const HsaCounter& record) {
    const auto* counter = reinterpret_cast<const unsigned char*>(&record);
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

CounterGroups counterGroups(const std::vector<HsaCounter>& counters) {
    CounterGroups groups;
    // Like counters mostly stand together: a counter with its predecessor's key joins the
    // same group without a look-up (map nodes stay where they are).
    std::vector<std::uint64_t>* ids = nullptr;
    CounterKey previous{};
    for (const HsaCounter& counter : counters) {
        const CounterKey key = counterKey(counter);
        if (ids == nullptr || !(key == previous)) {
            ids = &groups[key];
            previous = key;
        }
        ids->push_back(std::uint64_t{counter.CounterId});
    }
    return groups;
}

// "IDs: " and the list cut into runs of successive IDs, in list order.
void idRunsLine(ReportWriter& writer, const std::vector<std::uint64_t>& ids) {
    writer << "IDs: ";
    const char* separator = "";
    for (const auto& [first, last] : numberRuns(ids)) {
        writer << separator << first;
        if (last != first) {
            writer << " - " << last;
        }
        separator = ", ";
    }
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

void printCounterBlock(ReportWriter& writer, const CounterBlock& block, std::size_t index) {
    const Section section(writer, "Block " + decimalText(static_cast<std::int64_t>(index)));
    UuidBytes blockId{};
    std::memcpy(blockId.data(), &block.blockId, blockId.size());
    textLine(writer, "Block ID: ", counterBlockName(blockId));
    numberLine(writer, "Counters: ", block.counters.size());
    numberLine(writer, "Concurrent counters: ", block.numConcurrent);
    for (const auto& [key, ids] : counterGroups(block.counters)) {
        printCounterGroup(writer, key, ids);
    }
}
}  // namespace

void printPerformanceCounters(ReportWriter& writer, std::int32_t status,
                              const CounterSet* counters) {
    if (printedFailure(writer, status, callAction(KfdCall::PmcGetCounterProperties)) ||
        counters == nullptr) {
        return;
    }
    const Section section(writer, "Performance Counters");
    numberLine(writer, "Blocks: ", counters->blocks.size());
    numberLine(writer, "Concurrent blocks: ", counters->numConcurrent);
    for (std::size_t i = 0; i < counters->blocks.size(); ++i) {
        printCounterBlock(writer, counters->blocks[i], i);
    }
}
