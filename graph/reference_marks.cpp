// Reference marks: the devices paired as kfdtopo-diff pairs them, then compared as the graph
// shows them.
#include "graph/reference_marks.h"

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

#include "diff/device_match.h"
#include "graph/device_model.h"
#include "report/value_format.h"

namespace {

// The graph's device of each identified device, by the node both start from.
std::vector<std::optional<std::size_t>> graphDevices(const DeviceGraph& graph,
                                                     const MachineDevices& identified) {
    std::vector<std::optional<std::size_t>> devices(identified.devices.size());
    for (std::size_t device = 0; device < graph.devices.size(); ++device) {
        const std::uint32_t node = graph.devices[device].nodes.front();
        if (node < identified.deviceOfNode.size()) {
            devices[identified.deviceOfNode[node]] = device;
        }
    }
    return devices;
}

// Each reference hive stays where most of its GPUs are here: a GPU of it elsewhere is outside its
// hive; a GPU in a hive here that is in none there has joined one.
void markHives(DeviceGraph& graph, const DeviceGraph& there,
               const std::vector<std::optional<std::size_t>>& here,
               const std::vector<std::optional<std::size_t>>& back) {
    std::vector<std::optional<std::size_t>> hiveHere(there.hives.size() + 1);  // by hive there
    for (std::size_t hive = 1; hive <= there.hives.size(); ++hive) {
        std::map<std::size_t, std::size_t> votes;
        for (std::size_t r = 0; r < there.devices.size(); ++r) {
            if (there.devices[r].hive == hive && here[r] && graph.devices[*here[r]].hive != 0) {
                ++votes[graph.devices[*here[r]].hive];
            }
        }
        const auto most =
            std::max_element(votes.begin(), votes.end(),
                             [](const auto& a, const auto& b) { return a.second < b.second; });
        if (most != votes.end()) {
            hiveHere[hive] = most->first;
        }
    }
    for (std::size_t m = 0; m < graph.devices.size(); ++m) {
        if (!back[m]) {
            continue;
        }
        const std::size_t hiveThere = there.devices[*back[m]].hive;
        const std::size_t hive = graph.devices[m].hive;
        if (hiveThere != 0 && hiveHere[hiveThere] != hive) {
            graph.devices[m].differences.emplace_back("outside its XGMI hive");
        } else if (hive != 0 && hiveThere == 0) {
            graph.devices[m].differences.emplace_back("joined an XGMI hive");
        }
    }
}

bool sameCell(const std::optional<LinkCell>& a, const std::optional<LinkCell>& b) {
    return a.has_value() == b.has_value() && (!a || (a->type == b->type && a->weight == b->weight));
}

}  // namespace

void markAgainst(DeviceGraph& graph, const Topology& machine, const Topology& reference,
                 const std::string& name) {
    const DeviceGraph there = buildDeviceGraph(reference);
    const MachineDevices referenceIds = identifyDevices(reference);
    const MachineDevices machineIds = identifyDevices(machine);
    const auto referenceGraph = graphDevices(there, referenceIds);
    const auto machineGraph = graphDevices(graph, machineIds);

    graph.reference = name;
    // here[d]: the machine's device of the reference's device d; back[d] the other way.
    std::vector<std::optional<std::size_t>> here(there.devices.size());
    std::vector<std::optional<std::size_t>> back(graph.devices.size());
    for (const DeviceMatch& match : matchDevices(reference, referenceIds, machine, machineIds)) {
        const auto r = match.reference ? referenceGraph[*match.reference] : std::nullopt;
        const auto m = match.machine ? machineGraph[*match.machine] : std::nullopt;
        if (r && !m) {
            graph.missingDevices.push_back(referenceIds.devices[*match.reference].name + " (" +
                                           there.devices[*r].name + " there)");
        } else if (m && !r) {
            graph.devices[*m].differences.emplace_back("not in the reference");
        } else if (r && m) {
            here[*r] = m;
            back[*m] = r;
            if (match.moved) {
                graph.devices[*m].differences.push_back(
                    "moved from " + referenceIds.devices[*match.reference].name);
            }
        }
    }
    for (std::size_t m = 0; m < graph.devices.size(); ++m) {
        if (!back[m]) {
            continue;
        }
        const Device& ours = there.devices[*back[m]];
        Device& device = graph.devices[m];
        if (ours.nodes.size() != device.nodes.size()) {
            device.differences.push_back(
                decimalText(static_cast<std::int64_t>(device.nodes.size())) + " of " +
                decimalText(static_cast<std::int64_t>(ours.nodes.size())) + " partitions");
        }
    }
    markHives(graph, there, here, back);
    const std::size_t count = graph.devices.size();
    graph.referenceCells.assign(count, std::vector<std::optional<std::optional<LinkCell>>>(count));
    for (std::size_t from = 0; from < count; ++from) {
        for (std::size_t to = 0; to < count; ++to) {
            if (back[from] && back[to] &&
                !sameCell(graph.cells[from][to], there.cells[*back[from]][*back[to]])) {
                graph.referenceCells[from][to] = there.cells[*back[from]][*back[to]];
            }
        }
    }
    for (const DevicePair& pair : there.pairs) {
        const auto first = here[pair.first];
        const auto second = here[pair.second];
        if (pair.routed || !first || !second) {
            continue;
        }
        const bool linked =
            std::any_of(graph.pairs.begin(), graph.pairs.end(), [&](const DevicePair& p) {
                return std::minmax(p.first, p.second) == std::minmax(*first, *second);
            });
        if (!linked) {
            DevicePair missing = pair;
            missing.first = std::min(*first, *second);
            missing.second = std::max(*first, *second);
            if (*first > *second) {
                std::swap(missing.forward, missing.backward);
            }
            graph.missingPairs.push_back(missing);
        }
    }
}
