// Topology reader: kfdtopo's libhsakmt calls, each answer handed on before the next call.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <hsakmt/hsakmt.h>

#include "fixture/topology.h"

/// The answer to a list query (memory banks, IO links): the records the library filled, or
/// why it was not asked.
template <typename Record>
struct RecordsAnswer {
    std::int32_t status = 0;  // the library's; 0 when it was not asked
    std::string notAsked;     // the count fits no array: the failure's text, and no call
    std::vector<Record> records;
};

/// What a program does with each answer. Each method is called as soon as its call returns
/// (the before* ones just before the call), in the reader's order. A consumer may throw to end
/// the read; the exception leaves readTopology as it is.
class TopologyConsumer {
  public:
    TopologyConsumer() = default;
    TopologyConsumer(const TopologyConsumer&) = delete;
    TopologyConsumer& operator=(const TopologyConsumer&) = delete;
    virtual ~TopologyConsumer() = default;

    virtual void opened(std::int32_t /*status*/) {}
    virtual void beforeVersion() {}
    virtual void version(std::int32_t /*status*/, const HsaVersionInfo& /*version*/) {}
    virtual void systemProperties(std::int32_t /*status*/, const HsaSystemProperties& /*system*/) {}
    virtual void beforeNode(std::uint32_t /*node*/) {}
    virtual void nodeProperties(std::uint32_t /*node*/, std::int32_t /*status*/,
                                const HsaNodeProperties& /*properties*/) {}
    virtual void clockCounters(std::uint32_t /*node*/, std::int32_t /*status*/,
                               const HsaClockCounters& /*clock*/) {}
    virtual void memoryBanks(std::uint32_t /*node*/,
                             const RecordsAnswer<HsaMemoryProperties>& /*banks*/) {}
    virtual void ioLinks(std::uint32_t /*node*/,
                         const RecordsAnswer<HsaIoLinkProperties>& /*links*/) {}
    /// `counters` is null when the call failed or the library handed back no record.
    virtual void counters(std::uint32_t /*node*/, std::int32_t /*status*/,
                          const CounterSet* /*counters*/) {}
    virtual void afterNode(std::uint32_t /*node*/) {}
    virtual void released(std::int32_t /*status*/) {}
    virtual void closed(std::int32_t /*status*/) {}
};

/// What a failed node-properties query does to the read.
enum class FailedNode {
    EndsRead,  // kfdtopo's: nothing more is asked
    Skipped,   // the next node is asked; 16 failures in a row end the nodes, then release, close
};

/// Opens KFD, asks for the version and the system properties, then for each node its
/// properties, clock counters, memory banks, IO links (when it has any) and counters (when it
/// has GPU SIMDs), releases the system properties and closes KFD. A failed call other than a
/// node's clock, banks, links or counters ends the read, unless `failedNode` skips a node.
/// Statuses are handed on as plain numbers: the library may return codes the enumeration lacks.
void readTopology(TopologyConsumer& consumer, FailedNode failedNode = FailedNode::EndsRead);

/// What kfdtopo could not do when `call` fails ("open KFD", "get node properties", ...).
std::string_view callAction(KfdCall call);
