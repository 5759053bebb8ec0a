// Device match: nodes folded into CPUs and GPUs named by PCI location, paired across machines.
#include "diff/device_match.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "text/hex_text.h"

namespace {

constexpr std::uint32_t busShift = 8;
constexpr std::uint32_t slotShift = 3;
constexpr std::uint32_t busMask = 0xFF;
constexpr std::uint32_t slotMask = 0x1F;
constexpr std::uint32_t functionMask = 0x7;

bool isGpu(const TopologyNode& node) { return node.properties.NumFComputeCores != 0; }

// GPU nodes of one device: the same non-zero UniqueID, else the same PCI domain, bus and device.
bool sameGpu(const HsaNodeProperties& a, const HsaNodeProperties& b) {
    if (a.UniqueID != 0 || b.UniqueID != 0) {
        return a.UniqueID == b.UniqueID;
    }
    return a.Domain == b.Domain && (a.LocationId >> slotShift) == (b.LocationId >> slotShift);
}

auto sortKey(const IdentifiedDevice& device) {
    return std::make_tuple(device.gpu, device.domain, device.bus, device.slot, device.repeat,
                           device.gpu ? 0 : device.nodes.front());
}

// Partitions by PCI function when their functions differ, else as the machine lists them.
void keyPartitions(const Topology& topology, IdentifiedDevice& device) {
    std::set<std::uint32_t> functions;
    for (const std::uint32_t node : device.nodes) {
        functions.insert(topology.nodes[node].properties.LocationId & functionMask);
    }
    const bool byFunction = device.gpu && functions.size() == device.nodes.size();
    if (byFunction) {
        std::sort(device.nodes.begin(), device.nodes.end(), [&](std::uint32_t a, std::uint32_t b) {
            return (topology.nodes[a].properties.LocationId & functionMask) <
                   (topology.nodes[b].properties.LocationId & functionMask);
        });
    }
    for (std::size_t i = 0; i < device.nodes.size(); ++i) {
        const std::uint32_t location = topology.nodes[device.nodes[i]].properties.LocationId;
        device.partitionKeys.push_back(!device.gpu  ? std::string()
                                       : byFunction ? "." + hexText(location & functionMask, 1)
                                                    : " partition " + std::to_string(i));
    }
}

std::string gpuName(const IdentifiedDevice& device) {
    std::string name = "GPU " + hexText(device.domain, 4) + ":" + hexText(device.bus, 2) + ":" +
                       hexText(device.slot, 2);
    return device.repeat == 0 ? name : name + " #" + std::to_string(device.repeat + 1);
}

}  // namespace

MachineDevices identifyDevices(const Topology& topology) {
    MachineDevices machine;
    std::vector<IdentifiedDevice>& devices = machine.devices;
    std::size_t cpus = 0;
    for (std::uint32_t node = 0; node < topology.nodes.size(); ++node) {
        const HsaNodeProperties& properties = topology.nodes[node].properties;
        if (!isGpu(topology.nodes[node])) {
            IdentifiedDevice cpu;
            cpu.name = "CPU " + std::to_string(cpus++);
            cpu.nodes.push_back(node);
            devices.push_back(cpu);
            continue;
        }
        auto device = std::find_if(devices.begin(), devices.end(), [&](const IdentifiedDevice& d) {
            return d.gpu && sameGpu(topology.nodes[d.nodes.front()].properties, properties);
        });
        if (device == devices.end()) {
            IdentifiedDevice gpu;
            gpu.gpu = true;
            gpu.domain = properties.Domain;
            gpu.bus = (properties.LocationId >> busShift) & busMask;
            gpu.slot = (properties.LocationId >> slotShift) & slotMask;
            devices.push_back(gpu);
            device = devices.end() - 1;
        }
        device->nodes.push_back(node);
    }
    // Two GPUs at one PCI location (an odd machine) keep apart by their order.
    std::map<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>, std::size_t> seen;
    for (IdentifiedDevice& device : devices) {
        if (device.gpu) {
            device.repeat = seen[{device.domain, device.bus, device.slot}]++;
            device.name = gpuName(device);
        }
        keyPartitions(topology, device);
    }
    std::stable_sort(devices.begin(), devices.end(),
                     [](const IdentifiedDevice& a, const IdentifiedDevice& b) {
                         return sortKey(a) < sortKey(b);
                     });
    machine.deviceOfNode.resize(topology.nodes.size());
    machine.partitionOfNode.resize(topology.nodes.size());
    for (std::size_t d = 0; d < devices.size(); ++d) {
        for (std::size_t p = 0; p < devices[d].nodes.size(); ++p) {
            machine.deviceOfNode[devices[d].nodes[p]] = d;
            machine.partitionOfNode[devices[d].nodes[p]] = p;
        }
    }
    return machine;
}

std::vector<DeviceMatch> matchDevices(const Topology& reference,
                                      const MachineDevices& referenceDevices,
                                      const Topology& machine,
                                      const MachineDevices& machineDevices) {
    const std::vector<IdentifiedDevice>& ours = referenceDevices.devices;
    const std::vector<IdentifiedDevice>& theirs = machineDevices.devices;
    std::vector<DeviceMatch> matches;
    std::vector<bool> taken(theirs.size());
    for (std::size_t r = 0; r < ours.size(); ++r) {
        DeviceMatch match{r, std::nullopt, false};
        for (std::size_t m = 0; m < theirs.size() && !match.machine; ++m) {
            if (!taken[m] && theirs[m].name == ours[r].name) {
                match.machine = m;
                taken[m] = true;
            }
        }
        matches.push_back(match);
    }
    // A GPU missing at one location and an alike one extra at another: the same GPU, moved.
    auto deviceId = [](const Topology& topology, const IdentifiedDevice& device) {
        return topology.nodes[device.nodes.front()].properties.DeviceId;
    };
    for (DeviceMatch& match : matches) {
        const IdentifiedDevice& ref = ours[*match.reference];
        for (std::size_t m = 0; m < theirs.size() && !match.machine && ref.gpu; ++m) {
            if (!taken[m] && theirs[m].gpu && theirs[m].nodes.size() == ref.nodes.size() &&
                deviceId(machine, theirs[m]) == deviceId(reference, ref)) {
                match.machine = m;
                match.moved = true;
                taken[m] = true;
            }
        }
    }
    for (std::size_t m = 0; m < theirs.size(); ++m) {
        if (taken[m]) {
            continue;
        }
        const auto place = std::find_if(matches.begin(), matches.end(), [&](const DeviceMatch& d) {
            return d.reference && sortKey(theirs[m]) < sortKey(ours[*d.reference]);
        });
        matches.insert(place, DeviceMatch{std::nullopt, m, false});
    }
    return matches;
}

std::vector<std::pair<std::optional<std::size_t>, std::optional<std::size_t>>> matchPartitions(
    const IdentifiedDevice& reference, const IdentifiedDevice& machine) {
    std::vector<std::pair<std::optional<std::size_t>, std::optional<std::size_t>>> pairs;
    std::vector<bool> taken(machine.nodes.size());
    for (std::size_t r = 0; r < reference.nodes.size(); ++r) {
        std::optional<std::size_t> found;
        for (std::size_t m = 0; m < machine.nodes.size() && !found; ++m) {
            if (!taken[m] && machine.partitionKeys[m] == reference.partitionKeys[r]) {
                found = m;
                taken[m] = true;
            }
        }
        pairs.emplace_back(r, found);
    }
    for (std::size_t m = 0; m < machine.nodes.size(); ++m) {
        if (!taken[m]) {
            pairs.emplace_back(std::nullopt, m);
        }
    }
    return pairs;
}
