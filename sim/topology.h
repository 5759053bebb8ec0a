// Topology model: the records kfdsim serves, filled from a fixture or built in.
#pragma once

#include <optional>
#include <vector>

#include <hsakmt/hsakmt.h>

/// The libhsakmt functions kfdsim simulates; faults name them.
enum class KfdCall {
    OpenKFD,
    CloseKFD,
    GetVersion,
    AcquireSystemProperties,
    ReleaseSystemProperties,
    GetNodeProperties,
    GetClockCounters,
    GetNodeMemoryProperties,
    GetNodeIoLinkProperties,
    PmcGetCounterProperties,
};

/// One counter block; its NumCounters is the length of `counters`.
struct CounterBlock {
    HSA_UUID blockId{};
    HSAuint32 numConcurrent = 0;
    std::vector<HsaCounter> counters;
};

/// The counters of a node; NumBlocks is the length of `blocks`.
struct CounterSet {
    HSAuint32 numConcurrent = 0;
    std::vector<CounterBlock> blocks;
};

/// Everything the node queries answer for one NodeId.
struct TopologyNode {
    HsaNodeProperties properties{};
    HsaClockCounters clock{};
    std::vector<HsaMemoryProperties> memBanks;
    std::vector<HsaIoLinkProperties> ioLinks;
    std::optional<CounterSet> counters;  // none: the counter query hands back no record
    HSAint32 counterStatus = 0;          // not 0: the counter query fails with this status
};

/// An injected failure: calls of `call` (for `node` only, when given) return `status`.
struct Fault {
    KfdCall call = KfdCall::OpenKFD;
    std::optional<HSAuint32> node;
    HSAint32 status = 0;
};

/// A whole simulated machine; node i answers for NodeId i.
struct Topology {
    HsaVersionInfo version{};
    HsaSystemProperties system{};
    std::vector<TopologyNode> nodes;
    std::vector<Fault> faults;
    // The bank query refuses a NULL array even for a count of 0, as the real library does.
    bool nullBankArrayRefused = false;
    // Not 0: the acquire fails with this status, as the library's snapshot of a tree does when
    // a GFX version override is invalid.
    HSAint32 acquireStatus = 0;
};

/// The status of the first fault that matches `call`, if any. Entries with a node match only
/// calls for that node; calls without a node argument pass std::nullopt.
std::optional<HSAint32> injectedFault(const std::vector<Fault>& faults, KfdCall call,
                                      std::optional<HSAuint32> node);
