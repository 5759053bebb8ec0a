// Benchmark floor: kfdtopo's library calls, in kfdtopo's order, with nothing printed.
#include <cstdint>
#include <vector>

#include <hsakmt/hsakmt.h>

namespace {
// The queries of one node, made under the same conditions as kfdtopo makes them (printNode); the
// golden runner's round trip compares the calls with kfdtopo's.
bool queryNode(std::uint32_t nodeId) {
    HsaNodeProperties props{};
    if (hsaKmtGetNodeProperties(nodeId, &props) != HSAKMT_STATUS_SUCCESS) {
        return false;
    }
    HsaClockCounters clock{};
    hsaKmtGetClockCounters(nodeId, &clock);

    const auto bankCount = static_cast<std::int32_t>(props.NumMemoryBanks);
    if (bankCount >= 0) {
        std::vector<HsaMemoryProperties> banks(static_cast<std::size_t>(bankCount));
        hsaKmtGetNodeMemoryProperties(nodeId, props.NumMemoryBanks,
                                      bankCount == 0 ? nullptr : banks.data());
    }
    const auto linkCount = static_cast<std::int32_t>(props.NumIOLinks);
    if (linkCount > 0) {
        std::vector<HsaIoLinkProperties> links(static_cast<std::size_t>(linkCount));
        hsaKmtGetNodeIoLinkProperties(nodeId, props.NumIOLinks, links.data());
    }
    if (props.NumFComputeCores != 0) {
        HsaCounterProperties* counters = nullptr;
        hsaKmtPmcGetCounterProperties(nodeId, &counters);
    }
    return true;
}
}  // namespace

int main() {
    if (hsaKmtOpenKFD() != HSAKMT_STATUS_SUCCESS) {
        return 2;
    }
    HsaVersionInfo version{};
    HsaSystemProperties system{};
    if (hsaKmtGetVersion(&version) != HSAKMT_STATUS_SUCCESS ||
        hsaKmtAcquireSystemProperties(&system) != HSAKMT_STATUS_SUCCESS) {
        return 2;
    }
    const auto nodeCount = static_cast<std::int32_t>(system.NumNodes);
    for (std::int32_t node = 0; node < nodeCount; ++node) {
        if (!queryNode(static_cast<std::uint32_t>(node))) {
            return 2;
        }
    }
    if (hsaKmtReleaseSystemProperties() != HSAKMT_STATUS_SUCCESS) {
        return 2;
    }
    return hsaKmtCloseKFD() == HSAKMT_STATUS_SUCCESS ? 0 : 2;
}
