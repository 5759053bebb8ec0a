// Model builder: a consumer of the reader that fills the fixture's topology model.
#include "reader/model_builder.h"

#include <stdexcept>
#include <string>
#include <utility>

#include "advice/open_kfd.h"
#include "fixture/input_limits.h"
#include "fixture/json_fixture.h"
#include "report/status_check.h"

namespace {

class ModelBuilder final : public TopologyConsumer {
  public:
    Topology topology;

    void opened(std::int32_t status) override { succeeded(status, KfdCall::OpenKFD); }
    void version(std::int32_t status, const HsaVersionInfo& version) override {
        if (succeeded(status, KfdCall::GetVersion)) {
            topology.version = version;
        }
    }
    void systemProperties(std::int32_t status, const HsaSystemProperties& system) override {
        if (succeeded(status, KfdCall::AcquireSystemProperties)) {
            topology.system = system;
        }
    }
    void beforeNode(std::uint32_t /*node*/) override { topology.nodes.emplace_back(); }
    void nodeProperties(std::uint32_t node, std::int32_t status,
                        const HsaNodeProperties& properties) override {
        if (!succeeded(status, KfdCall::GetNodeProperties, node)) {
            return;
        }
        requireListable(KfdCall::GetNodeMemoryProperties, node, properties.NumMemoryBanks);
        if (properties.NumIOLinks != 0) {
            requireListable(KfdCall::GetNodeIoLinkProperties, node, properties.NumIOLinks);
        }
        topology.nodes.back().properties = properties;
    }
    void clockCounters(std::uint32_t node, std::int32_t status,
                       const HsaClockCounters& clock) override {
        if (succeeded(status, KfdCall::GetClockCounters, node)) {
            topology.nodes.back().clock = clock;
        }
    }
    void memoryBanks(std::uint32_t node, const RecordsAnswer<HsaMemoryProperties>& banks) override {
        if (succeeded(banks.status, KfdCall::GetNodeMemoryProperties, node)) {
            topology.nodes.back().memBanks = banks.records;
        }
    }
    void ioLinks(std::uint32_t node, const RecordsAnswer<HsaIoLinkProperties>& links) override {
        if (succeeded(links.status, KfdCall::GetNodeIoLinkProperties, node)) {
            topology.nodes.back().ioLinks = links.records;
        }
    }
    void counters(std::uint32_t node, std::int32_t status, const CounterSet* counters) override {
        if (succeeded(status, KfdCall::PmcGetCounterProperties, node) && counters != nullptr) {
            topology.nodes.back().counters = *counters;
        }
    }
    void released(std::int32_t status) override {
        succeeded(status, KfdCall::ReleaseSystemProperties);
    }
    void closed(std::int32_t status) override { succeeded(status, KfdCall::CloseKFD); }

  private:
    // Whether the call succeeded; a failure becomes a fault for `call` (and `node`).
    bool succeeded(std::int32_t status, KfdCall call, std::optional<HSAuint32> node = {}) {
        if (status == 0) {
            return true;
        }
        topology.faults.push_back({call, node, status});
        return false;
    }

    // A count that is negative to the library's callers asks for no records; one past what a
    // fixture may list is refused.
    static void requireListable(KfdCall call, std::uint32_t node, std::uint32_t count) {
        if (signedCount(count) >= 0 && count > maxListRecords) {
            throw std::runtime_error(std::string(kfdCallName(call)) + " for node " +
                                     std::to_string(node) + ": " + std::to_string(count) +
                                     " records announced, more than the " +
                                     std::to_string(maxListRecords) + " a fixture may list");
        }
    }
};

// The calls whose failure ends kfdtopo's run.
bool endsRun(KfdCall call) {
    return call != KfdCall::GetClockCounters && call != KfdCall::GetNodeMemoryProperties &&
           call != KfdCall::GetNodeIoLinkProperties && call != KfdCall::PmcGetCounterProperties;
}

}  // namespace

Topology captureTopology(FailedNode failedNode) {
    ModelBuilder builder;
    readTopology(builder, failedNode);
    return std::move(builder.topology);
}

Topology readMachine() {
    Topology topology = captureTopology(FailedNode::EndsRead);
    for (const Fault& fault : topology.faults) {
        if (fault.call == KfdCall::OpenKFD) {
            checkOpen(fault.status);
        }
        if (endsRun(fault.call)) {
            checkStatus(fault.status, callAction(fault.call));
        }
    }
    return topology;
}
