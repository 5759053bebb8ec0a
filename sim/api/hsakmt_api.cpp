// The libhsakmt functions kfdsim simulates, answered from the topology loaded at open.
#include "sim/api/hsakmt_api.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <hsakmt/hsakmt.h>

#include "fixture/json_fixture.h"
#include "fixture/json_writer.h"
#include "fixture/topology.h"
#include "sim/api/counter_record.h"
#include "sim/api/topology_source.h"

namespace {

// What an open KFD holds.
struct Session {
    Topology topology;
    std::vector<std::optional<std::vector<std::byte>>> counterRecords;  // by node, handed out
    bool held = false;  // acquired and not yet released
};

struct Library {
    std::mutex mutex;
    std::optional<Session> session;
    std::optional<Topology> nextTopology;  // given in-process, served by the next open
    std::optional<std::string> origin;     // of the fixture last opened, as fixture text
};

// The process-wide state behind the C functions.
Library& library() {
    static Library instance;
    return instance;
}

Session openSession(Topology topology) {
    Session session;
    for (const TopologyNode& node : topology.nodes) {
        session.counterRecords.push_back(
            node.counters ? std::optional(buildCounterRecord(*node.counters)) : std::nullopt);
    }
    session.topology = std::move(topology);
    return session;
}

// The status of the first fault that matches `call`, if any. Entries with a node match only
// calls for that node; calls without a node argument pass std::nullopt.
std::optional<HSAint32> injectedFault(const std::vector<Fault>& faults, KfdCall call,
                                      std::optional<HSAuint32> node) {
    for (const Fault& fault : faults) {
        if (fault.call == call && (!fault.node || fault.node == node)) {
            return fault.status;
        }
    }
    return std::nullopt;
}

// Fault statuses are any non-zero 32-bit value; the caller reads them as such.
HSAKMT_STATUS toStatus(HSAint32 status) { return static_cast<HSAKMT_STATUS>(status); }

// Runs `body` with the library locked; no exception crosses the C boundary.
template <typename Body>
HSAKMT_STATUS locked(Body body) noexcept {
    try {
        Library& lib = library();
        const std::lock_guard lock(lib.mutex);
        return body(lib);
    } catch (const std::bad_alloc&) {
        return HSAKMT_STATUS_NO_MEMORY;
    } catch (const std::exception&) {
        return HSAKMT_STATUS_ERROR;
    }
}

// A call on an open KFD: not opened, then injected faults, then `body`.
template <typename Body>
HSAKMT_STATUS onSession(KfdCall call, std::optional<HSAuint32> nodeId, Body body) noexcept {
    return locked([&](Library& lib) {
        if (!lib.session) {
            return HSAKMT_STATUS_KERNEL_IO_CHANNEL_NOT_OPENED;
        }
        if (const std::optional<HSAint32> fault =
                injectedFault(lib.session->topology.faults, call, nodeId)) {
            return toStatus(*fault);
        }
        return body(*lib.session);
    });
}

// A node query: after the session checks, the output pointer, the held topology, the node.
template <typename Body>
HSAKMT_STATUS onNode(KfdCall call, HSAuint32 nodeId, bool outputValid, Body body) noexcept {
    return onSession(call, nodeId, [&](Session& session) {
        if (!outputValid) {
            return HSAKMT_STATUS_INVALID_PARAMETER;
        }
        if (!session.held || nodeId >= session.topology.nodes.size()) {
            return HSAKMT_STATUS_INVALID_NODE_UNIT;
        }
        return body(session, nodeId);
    });
}

// Copies the first min(count, records) records; the caller's others stay as they were.
template <typename Record>
void copyRecords(const std::vector<Record>& records, HSAuint32 count, Record* out) {
    const std::size_t n = std::min<std::size_t>(count, records.size());
    std::copy_n(records.begin(), n, out);
}

}  // namespace

HSAKMT_STATUS HSAKMTAPI hsaKmtOpenKFD() {
    return locked([](Library& lib) {
        if (lib.session) {
            return HSAKMT_STATUS_KERNEL_ALREADY_OPENED;
        }
        const char* source = std::getenv("KFDSIM_TOPOLOGY");
        std::optional<Session> session;
        try {
            std::optional<Topology> given = std::exchange(lib.nextTopology, std::nullopt);
            session = openSession(given ? std::move(*given)
                                        : loadTopologySource(source != nullptr ? source : ""));
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception& refusal) {
            std::fprintf(stderr, "kfdsim: %s\n", refusal.what());
            return HSAKMT_STATUS_ERROR;
        }
        // A fixture of a newer format replays, with the keys it left unread said once.
        const std::string ignored =
            ignoredKeysWarning(session->topology, source != nullptr ? source : "");
        if (!ignored.empty()) {
            std::fprintf(stderr, "kfdsim: %s\n", ignored.c_str());
        }
        if (const std::optional<HSAint32> fault =
                injectedFault(session->topology.faults, KfdCall::OpenKFD, std::nullopt)) {
            return toStatus(*fault);
        }
        lib.origin.reset();
        if (const std::optional<FixtureOrigin>& origin = session->topology.origin) {
            Topology described;
            described.origin = origin;
            lib.origin = writeJsonFixture(described);
        }
        lib.session = std::move(session);
        return HSAKMT_STATUS_SUCCESS;
    });
}

void serveAtNextOpen(Topology topology) {
    Library& lib = library();
    const std::lock_guard lock(lib.mutex);
    lib.nextTopology = std::move(topology);
}

HSAKMT_STATUS HSAKMTAPI hsaKmtCloseKFD() {
    return locked([](Library& lib) {
        if (!lib.session) {
            return HSAKMT_STATUS_KERNEL_IO_CHANNEL_NOT_OPENED;
        }
        const std::optional<HSAint32> fault =
            injectedFault(lib.session->topology.faults, KfdCall::CloseKFD, std::nullopt);
        // A failed close of the real driver may leave it closed too; closing always frees
        // everything, so nothing outlives a faulted close.
        lib.session.reset();
        return fault ? toStatus(*fault) : HSAKMT_STATUS_SUCCESS;
    });
}

HSAKMT_STATUS HSAKMTAPI hsaKmtGetVersion(HsaVersionInfo* VersionInfo) {
    return onSession(KfdCall::GetVersion, std::nullopt, [&](Session& session) {
        if (VersionInfo == nullptr) {
            return HSAKMT_STATUS_INVALID_PARAMETER;
        }
        *VersionInfo = session.topology.version;
        return HSAKMT_STATUS_SUCCESS;
    });
}

HSAKMT_STATUS HSAKMTAPI hsaKmtAcquireSystemProperties(HsaSystemProperties* SystemProperties) {
    return onSession(KfdCall::AcquireSystemProperties, std::nullopt, [&](Session& session) {
        if (SystemProperties == nullptr) {
            return HSAKMT_STATUS_INVALID_PARAMETER;
        }
        if (session.topology.acquireStatus != 0) {
            return toStatus(session.topology.acquireStatus);
        }
        *SystemProperties = session.topology.system;
        session.held = true;
        return HSAKMT_STATUS_SUCCESS;
    });
}

HSAKMT_STATUS HSAKMTAPI hsaKmtReleaseSystemProperties() {
    return onSession(KfdCall::ReleaseSystemProperties, std::nullopt, [](Session& session) {
        session.held = false;
        return HSAKMT_STATUS_SUCCESS;
    });
}

HSAKMT_STATUS HSAKMTAPI hsaKmtGetNodeProperties(HSAuint32 NodeId,
                                                HsaNodeProperties* NodeProperties) {
    return onNode(KfdCall::GetNodeProperties, NodeId, NodeProperties != nullptr,
                  [&](Session& session, HSAuint32 node) {
                      *NodeProperties = session.topology.nodes[node].properties;
                      return HSAKMT_STATUS_SUCCESS;
                  });
}

HSAKMT_STATUS HSAKMTAPI hsaKmtGetClockCounters(HSAuint32 NodeId, HsaClockCounters* Counters) {
    return onNode(KfdCall::GetClockCounters, NodeId, Counters != nullptr,
                  [&](Session& session, HSAuint32 node) {
                      *Counters = session.topology.nodes[node].clock;
                      return HSAKMT_STATUS_SUCCESS;
                  });
}

HSAKMT_STATUS HSAKMTAPI hsaKmtGetNodeMemoryProperties(HSAuint32 NodeId, HSAuint32 NumBanks,
                                                      HsaMemoryProperties* MemoryProperties) {
    return onNode(
        KfdCall::GetNodeMemoryProperties, NodeId, MemoryProperties != nullptr || NumBanks == 0,
        [&](Session& session, HSAuint32 node) {
            if (MemoryProperties == nullptr && session.topology.nullBankArrayRefused) {
                return HSAKMT_STATUS_INVALID_PARAMETER;
            }
            copyRecords(session.topology.nodes[node].memBanks, NumBanks, MemoryProperties);
            return HSAKMT_STATUS_SUCCESS;
        });
}

HSAKMT_STATUS HSAKMTAPI hsaKmtGetNodeIoLinkProperties(HSAuint32 NodeId, HSAuint32 NumIoLinks,
                                                      HsaIoLinkProperties* IoLinkProperties) {
    return onNode(
        KfdCall::GetNodeIoLinkProperties, NodeId, IoLinkProperties != nullptr || NumIoLinks == 0,
        [&](Session& session, HSAuint32 node) {
            copyRecords(session.topology.nodes[node].ioLinks, NumIoLinks, IoLinkProperties);
            return HSAKMT_STATUS_SUCCESS;
        });
}

HSAKMT_STATUS HSAKMTAPI hsaKmtPmcGetCounterProperties(HSAuint32 NodeId,
                                                      HsaCounterProperties** CounterProperties) {
    return onNode(KfdCall::PmcGetCounterProperties, NodeId, CounterProperties != nullptr,
                  [&](Session& session, HSAuint32 node) {
                      if (const HSAint32 refused = session.topology.nodes[node].counterStatus) {
                          return toStatus(refused);
                      }
                      std::optional<std::vector<std::byte>>& record = session.counterRecords[node];
                      if (record) {
                          *CounterProperties =
                              reinterpret_cast<HsaCounterProperties*>(record->data());
                      }
                      return HSAKMT_STATUS_SUCCESS;
                  });
}

// Not a libhsakmt function: its presence tells a tool that the library answering is kfdsim, so
// that a failure it reports was replayed from a fixture, not met on this machine.
extern "C" const char* kfdsimLibraryName() { return "kfdsim"; }

// Not a libhsakmt function either: where the machine served since the last open was captured, as
// a fixture that gives nothing else; NULL when its fixture says nothing of it.
extern "C" const char* kfdsimFixtureOrigin() {
    Library& lib = library();
    const std::lock_guard lock(lib.mutex);
    return lib.origin ? lib.origin->c_str() : nullptr;
}
