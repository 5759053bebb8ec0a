// Device model: nodes folded into devices, links into cells, device pairs and bundles.
#include "graph/device_model.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>
#include <string_view>
#include <tuple>
#include <utility>

#include <hsakmt/hsakmt.h>

#include "fixture/topology.h"
#include "report/value_format.h"
#include "text/hex_text.h"
#include "text/unicode_text.h"

namespace {
// DRM numbers render nodes from 128; a node without one has 0.
constexpr HSAint32 firstRenderMinor = 128;

// Reasons to leave a link out, in the order they are checked.
constexpr std::array<std::string_view, 3> leftOutReasons{
    "NodeFrom is not the listing node",
    "NodeTo is NodeFrom",
    "NodeTo is not a node of the machine",
};

// Links of one type between two devices (the same one for partitions), while they are counted.
struct BundleTally {
    std::set<std::pair<std::uint32_t, std::uint32_t>> nodePairs;
    std::uint32_t weight = 0;
    std::uint32_t maxBandwidth = 0;
    bool forward = false;
    bool backward = false;
};

using BundleKey = std::tuple<std::size_t, std::size_t, std::uint32_t>;  // first, second, type

// "GFX090402" for gfx942, "GFX0b0501" for gfx1151: the CAL name the library makes of the GFX
// version alone, two hexadecimal digits a part.
std::string targetCalName(std::uint32_t engineId) {
    std::string name = "GFX";
    for (const std::uint32_t shift : {10U, 16U, 24U}) {
        name += hexText((engineId >> shift) & (shift == 10 ? 0x3FU : 0xFFU), 2);
    }
    return name;
}

std::string productName(const HsaNodeProperties& properties) {
    const std::uint16_t* units = properties.MarketingName;
    const std::uint16_t* end = std::find(units, units + HSA_PUBLIC_NAME_SIZE, 0);
    // An unpaired surrogate: the CAL name instead.
    if (std::optional<std::string> name =
            utf8FromUtf16(units, static_cast<std::size_t>(end - units));
        name && !name->empty()) {
        return *name;
    }
    const auto* calName = reinterpret_cast<const char*>(properties.AMDName);
    std::string name(calName, strnlen(calName, sizeof properties.AMDName));
    // A name that only spells the GFX target says nothing the target does not.
    return name == targetCalName(properties.EngineId.Value) ? "" : name;
}

// The CPUs of a CPU node's NUMA node, where the capture recorded them.
std::string cpuList(const Topology& machine, std::uint32_t node) {
    if (!machine.origin) {
        return "";
    }
    for (const NumaCpus& numa : machine.origin->numa) {
        if (numa.node == node) {
            return numa.cpuList;
        }
    }
    return "";
}

// The devices of the nodes, CPUs first; returns the device of each node.
std::vector<std::size_t> foldNodes(const Topology& machine, std::vector<Device>& devices) {
    std::vector<std::size_t> deviceOf(machine.nodes.size());
    std::uint32_t agents = 0;
    for (const DeviceKind kind : {DeviceKind::Cpu, DeviceKind::Gpu}) {
        std::int64_t count = 0;
        for (std::uint32_t node = 0; node < machine.nodes.size(); ++node) {
            const HsaNodeProperties& properties = machine.nodes[node].properties;
            if ((properties.NumFComputeCores != 0) != (kind == DeviceKind::Gpu)) {
                continue;
            }
            auto device = std::find_if(devices.begin(), devices.end(), [&](const Device& d) {
                return kind == DeviceKind::Gpu && d.kind == kind && properties.UniqueID != 0 &&
                       machine.nodes[d.nodes.front()].properties.UniqueID == properties.UniqueID;
            });
            if (device == devices.end()) {
                Device made;
                made.kind = kind;
                made.name = (kind == DeviceKind::Cpu ? "CPU" : "GPU") + decimalText(count++);
                made.hiveId = properties.HiveID;
                made.domain = properties.Domain;
                made.location = properties.LocationId;
                made.engineId = properties.EngineId.Value;
                made.productName = productName(properties);
                if (kind == DeviceKind::Cpu) {
                    made.numaNode = node;
                    made.cpuList = cpuList(machine, node);
                }
                devices.push_back(made);
                device = devices.end() - 1;
            }
            device->nodes.push_back(node);
            if (kind == DeviceKind::Gpu) {
                device->agents.push_back(agents++);
            }
            if (kind == DeviceKind::Gpu && properties.DrmRenderMinor >= firstRenderMinor) {
                device->renderMinors.push_back(
                    static_cast<std::uint32_t>(properties.DrmRenderMinor));
            }
            device->cpuThreads += properties.NumCPUCores;
            device->xccs += properties.NumXcc;
            deviceOf[node] = static_cast<std::size_t>(device - devices.begin());
        }
    }
    return deviceOf;
}

void numberHives(DeviceGraph& graph) {
    for (Device& device : graph.devices) {
        if (device.kind != DeviceKind::Gpu || device.hiveId == 0) {
            continue;
        }
        const auto known = std::find(graph.hives.begin(), graph.hives.end(), device.hiveId);
        device.hive = static_cast<std::size_t>(known - graph.hives.begin()) + 1;
        if (known == graph.hives.end()) {
            graph.hives.push_back(device.hiveId);
        }
    }
}

// Index of the reason a link listed by `node` is left out for, or leftOutReasons.size().
std::size_t leftOutReason(const HsaIoLinkProperties& link, std::uint32_t node,
                          std::size_t nodeCount) {
    if (link.NodeFrom != node) {
        return 0;
    }
    if (link.NodeTo == link.NodeFrom) {
        return 1;
    }
    if (link.NodeTo >= nodeCount) {
        return 2;
    }
    return leftOutReasons.size();
}

LinkBundle bundleOf(std::uint32_t type, const BundleTally& tally) {
    return {type, tally.weight, tally.nodePairs.size(), tally.maxBandwidth};
}

bool stronger(const LinkBundle& a, const LinkBundle& b) {
    return std::tie(a.weight, a.type) < std::tie(b.weight, b.type);
}

// The lowest weight between two devices, either way.
std::optional<std::uint32_t> pairWeight(const DeviceGraph& graph, std::size_t a, std::size_t b) {
    const std::optional<LinkCell>& there = graph.cells[a][b];
    const std::optional<LinkCell>& back = graph.cells[b][a];
    if (there && back) {
        return std::min(there->weight, back->weight);
    }
    return there ? std::optional(there->weight) : back ? std::optional(back->weight) : std::nullopt;
}

void markRoutes(DeviceGraph& graph) {
    for (DevicePair& pair : graph.pairs) {
        const std::uint64_t weight = *pairWeight(graph, pair.first, pair.second);
        if (pair.bundles.front().type != HSA_IOLINKTYPE_PCIEXPRESS) {
            continue;
        }
        for (std::size_t via = 0; via < graph.devices.size() && !pair.routed; ++via) {
            const auto toVia = via == pair.first || via == pair.second
                                   ? std::nullopt
                                   : pairWeight(graph, pair.first, via);
            const auto fromVia = toVia ? pairWeight(graph, via, pair.second) : std::nullopt;
            pair.routed = fromVia && std::uint64_t{*toVia} + *fromVia == weight;
        }
    }
}

void chooseCpus(DeviceGraph& graph) {
    for (std::size_t gpu = 0; gpu < graph.devices.size(); ++gpu) {
        if (graph.devices[gpu].kind != DeviceKind::Gpu) {
            continue;
        }
        for (std::size_t cpu = 0; cpu < graph.devices.size(); ++cpu) {
            const std::optional<LinkCell>& cell = graph.cells[gpu][cpu];
            std::optional<std::size_t>& chosen = graph.devices[gpu].cpu;
            if (graph.devices[cpu].kind == DeviceKind::Cpu && cell &&
                (!chosen || cell->weight < graph.cells[gpu][*chosen]->weight)) {
                chosen = cpu;
            }
        }
        if (const std::optional<std::size_t> cpu = graph.devices[gpu].cpu) {
            graph.devices[gpu].numaNode = graph.devices[*cpu].numaNode;
            graph.devices[gpu].cpuList = graph.devices[*cpu].cpuList;
        }
    }
}
}  // namespace

DeviceGraph buildDeviceGraph(const Topology& machine) {
    DeviceGraph graph;
    graph.versionMajor = machine.version.KernelInterfaceMajorVersion;
    graph.versionMinor = machine.version.KernelInterfaceMinorVersion;
    graph.nodeCount = machine.nodes.size();
    const std::vector<std::size_t> deviceOf = foldNodes(machine, graph.devices);
    numberHives(graph);
    const std::size_t deviceCount = graph.devices.size();
    graph.cells.assign(deviceCount, std::vector<std::optional<LinkCell>>(deviceCount));

    std::array<LeftOutLinks, leftOutReasons.size()> leftOut{};
    std::map<BundleKey, BundleTally> tallies;
    for (std::uint32_t node = 0; node < machine.nodes.size(); ++node) {
        for (const HsaIoLinkProperties& link : machine.nodes[node].ioLinks) {
            const std::size_t reason = leftOutReason(link, node, graph.nodeCount);
            if (reason < leftOutReasons.size()) {
                ++leftOut[reason].count;
                if (leftOut[reason].listedBy.empty() || leftOut[reason].listedBy.back() != node) {
                    leftOut[reason].listedBy.push_back(node);
                }
                continue;
            }
            const std::size_t from = deviceOf[node];
            const std::size_t to = deviceOf[link.NodeTo];
            const auto type = static_cast<std::uint32_t>(link.IoLinkType);
            std::optional<LinkCell>& cell = graph.cells[from][to];
            if (!cell || link.Weight < cell->weight) {
                cell = LinkCell{type, link.Weight};
            }
            const BundleKey key{std::min(from, to), std::max(from, to), type};
            const bool fresh = tallies.count(key) == 0;
            BundleTally& tally = tallies[key];
            tally.nodePairs.insert(std::minmax(node, link.NodeTo));
            tally.weight = fresh ? link.Weight : std::min(tally.weight, link.Weight);
            tally.maxBandwidth = std::max(tally.maxBandwidth, link.MaximumBandwidth);
            (from <= to ? tally.forward : tally.backward) = true;
        }
    }
    for (std::size_t reason = 0; reason < leftOutReasons.size(); ++reason) {
        if (leftOut[reason].count != 0) {
            leftOut[reason].reason = std::string(leftOutReasons[reason]);
            graph.leftOut.push_back(leftOut[reason]);
        }
    }

    // The map runs in the order of first, second and type: one pair after the other.
    for (const auto& [key, tally] : tallies) {
        const auto [first, second, type] = key;
        if (first == second) {
            graph.devices[first].partitionLinks.push_back(bundleOf(type, tally));
            continue;
        }
        if (graph.pairs.empty() || graph.pairs.back().first != first ||
            graph.pairs.back().second != second) {
            DevicePair made;
            made.first = first;
            made.second = second;
            graph.pairs.push_back(made);
        }
        DevicePair& pair = graph.pairs.back();
        pair.forward = pair.forward || tally.forward;
        pair.backward = pair.backward || tally.backward;
        pair.bundles.push_back(bundleOf(type, tally));
    }
    for (DevicePair& pair : graph.pairs) {
        std::sort(pair.bundles.begin(), pair.bundles.end(), stronger);
    }
    for (Device& device : graph.devices) {
        std::sort(device.partitionLinks.begin(), device.partitionLinks.end(), stronger);
    }
    markRoutes(graph);
    chooseCpus(graph);
    return graph;
}
