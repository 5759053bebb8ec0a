// Machine query: the library calls, in kfdtopo's order, without the clock, banks and counters.
#include "graph/machine_query.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "advice/open_kfd.h"
#include "report/status_check.h"

namespace {
NodeRecords queryNode(std::uint32_t nodeId) {
    NodeRecords node;
    checkStatus(hsaKmtGetNodeProperties(nodeId, &node.properties), "get node properties");
    const std::uint32_t linkCount = node.properties.NumIOLinks;
    if (linkCount != 0) {
        // A count with bit 31 set is negative to kfdtopo, which asks for none.
        if (static_cast<std::int32_t>(linkCount) < 0) {
            throw std::runtime_error("Node " + std::to_string(nodeId) + " announces " +
                                     std::to_string(linkCount) + " IO links");
        }
        node.links.resize(linkCount);
        checkStatus(hsaKmtGetNodeIoLinkProperties(nodeId, linkCount, node.links.data()),
                    "get node IO link properties");
    }
    return node;
}
}  // namespace

MachineRecords queryMachine() {
    openKfd();
    MachineRecords machine;
    checkStatus(hsaKmtGetVersion(&machine.version), "get HSAKMT version");
    checkStatus(hsaKmtAcquireSystemProperties(&machine.system), "acquire system properties");
    // NumNodes is signed to kfdtopo: a count with bit 31 set asks for no node.
    const auto nodeCount = static_cast<std::int32_t>(machine.system.NumNodes);
    for (std::int32_t node = 0; node < nodeCount; ++node) {
        machine.nodes.push_back(queryNode(static_cast<std::uint32_t>(node)));
    }
    checkStatus(hsaKmtReleaseSystemProperties(), "release system properties");
    checkStatus(hsaKmtCloseKFD(), "close KFD");
    return machine;
}
