// Device model: CPU nodes and physical GPUs, their links folded per device pair.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct Topology;

enum class DeviceKind { Cpu, Gpu };

/// The links of one type between two devices (or between the partitions of one GPU).
struct LinkBundle {
    std::uint32_t type = 0;
    std::uint32_t weight = 0;        // the lowest
    std::size_t nodePairs = 0;       // node pairs linked, in either direction
    std::uint32_t maxBandwidth = 0;  // the highest MaximumBandwidth, MiB/s
};

/// A CPU node, or the GPU nodes that share a non-zero UniqueID (the partitions of one GPU).
struct Device {
    DeviceKind kind = DeviceKind::Cpu;
    std::string name;                  // "CPU0", "GPU3": by kind, in the order of first nodes
    std::vector<std::uint32_t> nodes;  // ascending
    std::uint32_t cpuThreads = 0;
    std::uint32_t xccs = 0;  // summed over the partitions
    std::uint64_t hiveId = 0;
    std::size_t hive = 0;      // number of the XGMI hive from 1; 0 without one
    std::uint32_t domain = 0;  // PCI domain and location of the first node
    std::uint32_t location = 0;
    std::uint32_t engineId = 0;
    std::string productName;  // the marketing name, else the CAL name unless it spells the target
    std::vector<std::uint32_t> renderMinors;  // of its nodes with a DRM render node
    std::vector<std::uint32_t> agents;        // runtime indices: GPU nodes in node order
    std::optional<std::uint32_t> numaNode;    // a CPU node's number; a GPU's is its CPU's
    std::string cpuList;                      // of that NUMA node, as Linux lists it; "" unknown
    std::optional<std::size_t> cpu;           // the CPU device it links to with the lowest weight
    std::vector<LinkBundle> partitionLinks;   // between its own nodes, by type
    std::vector<std::string> differences;     // from its reference device, one phrase each
};

/// The strongest link from one device to another: the lowest weight, the first one listed
/// among equals.
struct LinkCell {
    std::uint32_t type = 0;
    std::uint32_t weight = 0;
};

/// An unordered pair of devices with links between their nodes.
struct DevicePair {
    std::size_t first = 0;  // device indices, first < second
    std::size_t second = 0;
    bool forward = false;   // some link runs first -> second
    bool backward = false;  // some link runs second -> first
    // A PCIe link whose weight is the sum of the weights to and from another device: a route
    // through it, as the kernel weighs the links it adds between devices without a direct one.
    bool routed = false;
    std::vector<LinkBundle> bundles;  // by type, strongest (lowest weight) first
};

/// Links that the model leaves out, by the reason, with the nodes that list them.
struct LeftOutLinks {
    std::string reason;
    std::size_t count = 0;
    std::vector<std::uint32_t> listedBy;
};

struct DeviceGraph {
    std::uint32_t versionMajor = 0;
    std::uint32_t versionMinor = 0;
    std::size_t nodeCount = 0;
    std::vector<Device> devices;                              // CPUs, then GPUs
    std::vector<std::uint64_t> hives;                         // the ID of hive number i + 1
    std::vector<std::vector<std::optional<LinkCell>>> cells;  // [from][to]
    std::vector<DevicePair> pairs;                            // in the order of first, then second
    std::vector<LeftOutLinks> leftOut;                        // only reasons that occur
    // Against a reference machine: its name, the cells whose strongest link differs from the
    // reference's, with the reference's cell, the reference's devices this machine lacks and
    // the device pairs the reference links and this machine does not.
    std::string reference;
    std::vector<std::vector<std::optional<std::optional<LinkCell>>>> referenceCells;
    std::vector<std::string> missingDevices;
    std::vector<DevicePair> missingPairs;
};

/// Folds the library's answers into devices. A link is left out when it starts at another
/// node than the one listing it, ends where it starts, or ends at a node that does not exist.
DeviceGraph buildDeviceGraph(const Topology& machine);
