// DOT writer: the machine as a Graphviz graph.
#pragma once

#include <string>

struct DeviceGraph;

/// The DOT text: CPUs and GPUs as boxes (a GPU's partitions inside its box), each XGMI hive a
/// cluster, one edge per linked device pair labelled with each link type, its count of node
/// pairs and its highest maximum bandwidth, coloured by the strongest type, and a legend of
/// the colours.
std::string dotText(const DeviceGraph& graph);
