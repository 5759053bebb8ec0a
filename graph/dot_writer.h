// DOT writer: the machine as a Graphviz graph.
#pragma once

#include <string>

struct DeviceGraph;

struct DrawOptions {
    bool routes = false;  // draw the links the kernel derives through a third device
    bool expand = false;  // draw every GPU of a machine whose hives would be folded
};

/// The DOT text: CPUs and GPUs as boxes (a GPU's partitions inside its box), each XGMI hive a
/// cluster with its title below its GPUs (or, on a machine of more than 16 GPUs, one box),
/// hives and GPUs without one in a grid of about twice as many columns as rows, one edge per
/// pair of boxes labelled with each link type, its count of node pairs and its highest maximum
/// bandwidth, coloured by the strongest type (a hive that is a full mesh alike says so in its
/// title instead), what differs from a reference marked, and a legend.
std::string dotText(const DeviceGraph& graph, const DrawOptions& options);
