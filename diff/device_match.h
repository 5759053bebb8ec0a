// Device match: a machine's nodes named by what they are, CPUs by their order and GPUs by their
// PCI location, so that two machines compare device by device whatever their node numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fixture/topology.h"

/// A CPU node, or the GPU nodes that share a non-zero UniqueID (the partitions of one GPU; GPU
/// nodes without one fold by PCI domain, bus and device).
struct IdentifiedDevice {
    bool gpu = false;
    std::string name;                        // "CPU 0", "GPU 0000:05:00"
    std::vector<std::uint32_t> nodes;        // its partitions, by PCI function, else as listed
    std::vector<std::string> partitionKeys;  // after the name: ".3", or " partition 2"
    std::uint32_t domain = 0;                // of the first partition
    std::uint32_t bus = 0;
    std::uint32_t slot = 0;  // the PCI device number
    std::size_t repeat = 0;  // 1 for the second GPU of one PCI location, and so on
};

/// The devices of a machine, CPUs in node order, then GPUs by PCI location.
struct MachineDevices {
    std::vector<IdentifiedDevice> devices;
    std::vector<std::size_t> deviceOfNode;     // node number -> device
    std::vector<std::size_t> partitionOfNode;  // node number -> index in that device's nodes
};

/// Folds the nodes of `topology` into devices.
MachineDevices identifyDevices(const Topology& topology);

/// A device of the reference, of the machine, or of both.
struct DeviceMatch {
    std::optional<std::size_t> reference;
    std::optional<std::size_t> machine;
    bool moved = false;  // a GPU found at another PCI location: same device ID and partitions
};

/// Pairs devices of the same name; a GPU left alone on each side with the same device ID and
/// partition count is taken as moved. In the order of the reference's names, a machine's extra
/// device at the place its name sorts to.
std::vector<DeviceMatch> matchDevices(const Topology& reference,
                                      const MachineDevices& referenceDevices,
                                      const Topology& machine,
                                      const MachineDevices& machineDevices);

/// Pairs the partitions of two matched devices by key (function or order); indices into their
/// `nodes`, in the reference's order, the machine's extra ones last.
std::vector<std::pair<std::optional<std::size_t>, std::optional<std::size_t>>> matchPartitions(
    const IdentifiedDevice& reference, const IdentifiedDevice& machine);
