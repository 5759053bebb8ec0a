// Topology capture: kfdtopo's run sequence with every record kept instead of printed.
#include "export/topology_capture.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <hsakmt/hsakmt.h>

#include "fixture/input_limits.h"
#include "fixture/json_fixture.h"

namespace {

// Failed node queries in a row after which the capture stops asking: a node count far beyond
// the library's nodes would otherwise mean a failing query for each.
constexpr int failedNodesBeforeStop = 16;

// Whether the call succeeded; a failure becomes a fault for `call` (and `node`).
// The status is taken as a plain number: the library may return codes the enumeration lacks.
bool succeeded(std::vector<Fault>& faults, HSAint32 status, KfdCall call,
               std::optional<HSAuint32> node = std::nullopt) {
    if (status == HSAKMT_STATUS_SUCCESS) {
        return true;
    }
    faults.push_back({call, node, status});
    return false;
}

// The records a bank or link query fills for `count`, taken as signed like kfdtopo takes it: a
// count that is negative or cannot be allocated is never asked for, one past what a fixture
// may list is refused.
template <typename Record, typename Query>
std::vector<Record> captureRecords(std::vector<Fault>& faults, KfdCall call, HSAuint32 nodeId,
                                   HSAuint32 count, Query query) {
    if (static_cast<std::int32_t>(count) < 0) {
        return {};
    }
    if (count > maxListRecords) {
        throw std::runtime_error(std::string(kfdCallName(call)) + " for node " +
                                 std::to_string(nodeId) + ": " + std::to_string(count) +
                                 " records announced, more than the " +
                                 std::to_string(maxListRecords) + " a fixture may list");
    }
    std::vector<Record> records;
    try {
        records.resize(count);
    } catch (const std::bad_alloc&) {
        return {};
    }
    if (!succeeded(faults, query(nodeId, count, count == 0 ? nullptr : records.data()), call,
                   nodeId)) {
        return {};
    }
    return records;
}

template <typename Field>
Field readField(const unsigned char* record, std::size_t offset) {
    Field value{};
    std::memcpy(&value, record + offset, sizeof value);
    return value;
}

// The library's packed counter record, walked block by block as kfdtopo walks it.
CounterSet readCounterRecord(const unsigned char* record) {
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
        for (HSAuint32 k = 0; k < counterCount; ++k) {
            entry.counters.push_back(readField<HsaCounter>(counter, 0));
            counter += sizeof(HsaCounter);
        }
        counters.blocks.push_back(std::move(entry));
        block = counter;
    }
    return counters;
}

std::optional<CounterSet> captureCounters(std::vector<Fault>& faults, HSAuint32 nodeId) {
    HsaCounterProperties* record = nullptr;
    if (!succeeded(faults, hsaKmtPmcGetCounterProperties(nodeId, &record),
                   KfdCall::PmcGetCounterProperties, nodeId) ||
        record == nullptr) {
        return std::nullopt;
    }
    return readCounterRecord(reinterpret_cast<const unsigned char*>(record));
}

// One node, or std::nullopt when its properties cannot be had. The queries and their conditions
// are printNode's; the golden runner's round trip compares the calls with kfdtopo's.
std::optional<TopologyNode> captureNode(std::vector<Fault>& faults, HSAuint32 nodeId) {
    TopologyNode node;
    if (!succeeded(faults, hsaKmtGetNodeProperties(nodeId, &node.properties),
                   KfdCall::GetNodeProperties, nodeId)) {
        return std::nullopt;
    }
    const HsaNodeProperties& props = node.properties;
    HsaClockCounters clock{};
    if (succeeded(faults, hsaKmtGetClockCounters(nodeId, &clock), KfdCall::GetClockCounters,
                  nodeId)) {
        node.clock = clock;
    }
    node.memBanks =
        captureRecords<HsaMemoryProperties>(faults, KfdCall::GetNodeMemoryProperties, nodeId,
                                            props.NumMemoryBanks, hsaKmtGetNodeMemoryProperties);
    if (props.NumIOLinks != 0) {
        node.ioLinks =
            captureRecords<HsaIoLinkProperties>(faults, KfdCall::GetNodeIoLinkProperties, nodeId,
                                                props.NumIOLinks, hsaKmtGetNodeIoLinkProperties);
    }
    if (props.NumFComputeCores != 0) {
        node.counters = captureCounters(faults, nodeId);
    }
    return node;
}

}  // namespace

Topology captureTopology() {
    Topology topology;
    std::vector<Fault>& faults = topology.faults;
    if (!succeeded(faults, hsaKmtOpenKFD(), KfdCall::OpenKFD)) {
        return topology;
    }
    HsaVersionInfo version{};
    if (!succeeded(faults, hsaKmtGetVersion(&version), KfdCall::GetVersion)) {
        return topology;
    }
    topology.version = version;
    HsaSystemProperties system{};
    if (!succeeded(faults, hsaKmtAcquireSystemProperties(&system),
                   KfdCall::AcquireSystemProperties)) {
        return topology;
    }
    topology.system = system;

    const auto nodeCount = static_cast<std::int32_t>(system.NumNodes);
    int failedInRow = 0;
    for (std::int32_t node = 0; node < nodeCount && failedInRow < failedNodesBeforeStop; ++node) {
        std::optional<TopologyNode> captured = captureNode(faults, static_cast<HSAuint32>(node));
        failedInRow = captured ? 0 : failedInRow + 1;
        topology.nodes.push_back(captured ? std::move(*captured) : TopologyNode{});
    }

    if (!succeeded(faults, hsaKmtReleaseSystemProperties(), KfdCall::ReleaseSystemProperties)) {
        return topology;
    }
    succeeded(faults, hsaKmtCloseKFD(), KfdCall::CloseKFD);
    return topology;
}
