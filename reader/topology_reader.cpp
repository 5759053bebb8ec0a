// Topology reader: opens KFD, asks for every record kfdtopo prints, and closes KFD.
#include "reader/topology_reader.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <utility>

namespace {

// clang-format off
constexpr std::array<std::pair<KfdCall, std::string_view>, 10> callActions{{
    {KfdCall::OpenKFD,                 "open KFD"},
    {KfdCall::CloseKFD,                "close KFD"},
    {KfdCall::GetVersion,              "get HSAKMT version"},
    {KfdCall::AcquireSystemProperties, "acquire system properties"},
    {KfdCall::ReleaseSystemProperties, "release system properties"},
    {KfdCall::GetNodeProperties,       "get node properties"},
    {KfdCall::GetClockCounters,        "get clock counters"},
    {KfdCall::GetNodeMemoryProperties, "get node memory properties"},
    {KfdCall::GetNodeIoLinkProperties, "get node IO link properties"},
    {KfdCall::PmcGetCounterProperties, "get node performance counter properties"},
}};
// clang-format on
static_assert(!callActions.back().second.empty(), "10 filled rows");

// Failed node-properties queries in a row after which a read that skips failed nodes stops
// asking: a node count far beyond the library's nodes would otherwise mean a query for each.
constexpr int failedNodesBeforeStop = 16;

// The records a list query fills for `count`. A count with bit 31 set is negative and wraps
// to a size no vector can have: std::length_error, and the library is not asked.
template <typename Record, typename Query>
RecordsAnswer<Record> listRecords(std::uint32_t nodeId, std::uint32_t count, Query query) {
    RecordsAnswer<Record> answer;
    try {
        std::vector<Record> records(static_cast<std::size_t>(signedCount(count)));
        answer.records = std::move(records);
    } catch (const std::exception& failure) {
        answer.notAsked = failure.what();
        return answer;
    }
    answer.status = static_cast<std::int32_t>(
        query(nodeId, count, count == 0 ? nullptr : answer.records.data()));
    return answer;
}

// The record is variable-length and 4-byte packed: fields are copied out byte-wise at the
// header's offsets, as a 64-bit field such as CounterId is not 8-byte aligned.
static_assert(offsetof(HsaCounterProperties, Blocks) == 8);
static_assert(offsetof(HsaCounterBlockProperties, Counters) == 24);
static_assert(sizeof(HsaCounter) == 32);

template <typename Field>
Field readField(const unsigned char* record, std::size_t offset) {
    Field value{};
    std::memcpy(&value, record + offset, sizeof value);
    return value;
}

// The library's packed counter record, block by block.
CounterSet counterSet(const unsigned char* record) {
    CounterSet counters;
    const auto blockCount = readField<HSAuint32>(record, offsetof(HsaCounterProperties, NumBlocks));
    counters.numConcurrent =
        readField<HSAuint32>(record, offsetof(HsaCounterProperties, NumConcurrent));
    const unsigned char* block = record + offsetof(HsaCounterProperties, Blocks);
    for (HSAuint32 i = 0; i < blockCount; ++i) {
        CounterBlock entry;
        entry.blockId = readField<HSA_UUID>(block, offsetof(HsaCounterBlockProperties, BlockId));
        entry.numConcurrent =
            readField<HSAuint32>(block, offsetof(HsaCounterBlockProperties, NumConcurrent));
        const auto counterCount =
            readField<HSAuint32>(block, offsetof(HsaCounterBlockProperties, NumCounters));
        const unsigned char* counter = block + offsetof(HsaCounterBlockProperties, Counters);
        // The counters' bytes as they stand: their type may hold a value its enumeration lacks.
        entry.counters.resize(counterCount);
        if (counterCount != 0) {
            std::memcpy(entry.counters.data(), counter,
                        std::size_t{counterCount} * sizeof(HsaCounter));
        }
        counters.blocks.push_back(std::move(entry));
        block = counter + std::size_t{counterCount} * sizeof(HsaCounter);
    }
    return counters;
}

void readCounters(TopologyConsumer& consumer, std::uint32_t nodeId) {
    // The record stays the library's: it is only read here.
    HsaCounterProperties* record = nullptr;
    const std::int32_t status =
        static_cast<std::int32_t>(hsaKmtPmcGetCounterProperties(nodeId, &record));
    if (status != 0 || record == nullptr) {
        consumer.counters(nodeId, status, nullptr);
        return;
    }
    const CounterSet counters = counterSet(reinterpret_cast<const unsigned char*>(record));
    consumer.counters(nodeId, status, &counters);
}

// One node's queries; false when its properties cannot be had.
bool readNode(TopologyConsumer& consumer, std::uint32_t nodeId) {
    consumer.beforeNode(nodeId);
    HsaNodeProperties props{};
    const std::int32_t status = static_cast<std::int32_t>(hsaKmtGetNodeProperties(nodeId, &props));
    consumer.nodeProperties(nodeId, status, props);
    if (status != 0) {
        return false;
    }
    HsaClockCounters clock{};
    const std::int32_t clockStatus =
        static_cast<std::int32_t>(hsaKmtGetClockCounters(nodeId, &clock));
    consumer.clockCounters(nodeId, clockStatus, clock);
    consumer.memoryBanks(nodeId, listRecords<HsaMemoryProperties>(nodeId, props.NumMemoryBanks,
                                                                  hsaKmtGetNodeMemoryProperties));
    if (props.NumIOLinks != 0) {
        consumer.ioLinks(nodeId, listRecords<HsaIoLinkProperties>(nodeId, props.NumIOLinks,
                                                                  hsaKmtGetNodeIoLinkProperties));
    }
    if (props.NumFComputeCores != 0) {
        readCounters(consumer, nodeId);
    }
    consumer.afterNode(nodeId);
    return true;
}

}  // namespace

// Statuses are converted as the calls return them: an enumeration variable may not hold a code
// beyond the enumeration's range.
void readTopology(TopologyConsumer& consumer, FailedNode failedNode) {
    const std::int32_t openStatus = static_cast<std::int32_t>(hsaKmtOpenKFD());
    consumer.opened(openStatus);
    if (openStatus != 0) {
        return;
    }
    consumer.beforeVersion();
    HsaVersionInfo version{};
    const std::int32_t versionStatus = static_cast<std::int32_t>(hsaKmtGetVersion(&version));
    consumer.version(versionStatus, version);
    if (versionStatus != 0) {
        return;
    }
    HsaSystemProperties system{};
    const std::int32_t systemStatus =
        static_cast<std::int32_t>(hsaKmtAcquireSystemProperties(&system));
    consumer.systemProperties(systemStatus, system);
    if (systemStatus != 0) {
        return;
    }
    const std::int32_t nodeCount = signedCount(system.NumNodes);
    int failedInRow = 0;
    for (std::int32_t node = 0; node < nodeCount && failedInRow < failedNodesBeforeStop; ++node) {
        if (readNode(consumer, static_cast<std::uint32_t>(node))) {
            failedInRow = 0;
        } else if (failedNode == FailedNode::EndsRead) {
            return;
        } else {
            ++failedInRow;
        }
    }
    const std::int32_t releaseStatus = static_cast<std::int32_t>(hsaKmtReleaseSystemProperties());
    consumer.released(releaseStatus);
    if (releaseStatus != 0) {
        return;
    }
    consumer.closed(static_cast<std::int32_t>(hsaKmtCloseKFD()));
}

std::string_view callAction(KfdCall call) {
    for (const auto& [known, action] : callActions) {
        if (known == call) {
            return action;
        }
    }
    throw std::invalid_argument("unknown libhsakmt call");
}
