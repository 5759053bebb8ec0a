// Topology diff: a machine against a reference, device by device, one finding per line.
#pragma once

#include <string>
#include <vector>

#include "fixture/topology.h"

struct DiffOptions {
    bool allFields = false;  // compare the fields that differ between runs and devices too
};

/// The differences of `machine` from `reference`, one line each (without a line end) that names
/// the device, the record, the field and both values, in the order of the reference's devices:
/// CPUs by their order, GPUs by PCI location.
std::vector<std::string> diffTopologies(const Topology& reference, const Topology& machine,
                                        const DiffOptions& options);

/// The fields left out unless DiffOptions::allFields, one line each with the reason.
std::vector<std::string> leftOutFields();
