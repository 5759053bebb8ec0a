// Reference marks: what of a machine's devices and links differs from a reference machine.
#pragma once

#include <string>

struct DeviceGraph;
struct Topology;

/// Marks in `graph` (built from `machine`) what differs from `reference`, whose devices pair
/// with the machine's as kfdtopo-diff pairs them (CPUs by order, GPUs by PCI location): the
/// reference's devices the machine lacks, a GPU's partitions, its hive, a GPU moved to another
/// PCI location, a device the reference lacks, each matrix cell whose strongest link differs
/// and each device pair linked in the reference only (routes left aside). `name` names the
/// reference in the writers' texts.
void markAgainst(DeviceGraph& graph, const Topology& machine, const Topology& reference,
                 const std::string& name);
