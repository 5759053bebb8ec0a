// Matrix writer: the device matrix and the tables of CPUs, GPUs and hives, as plain text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct DeviceGraph;

/// The text: a summary line, the matrix of the strongest links with its legend, one line per
/// CPU and per GPU, the hives and the links left out. The matrix is cut into blocks of columns
/// that fit `width` characters (0: one block however wide), each block with the row names.
std::string matrixText(const DeviceGraph& graph, std::size_t width);

/// "1 link", "2 links": a count and its noun, plural with an "s" but for 1.
std::string counted(std::size_t count, const std::string& noun);

/// The summary line without its line end: nodes, CPUs, GPUs (with their partitions when
/// there are more), XGMI hives and the library's version.
std::string summaryLine(const DeviceGraph& graph);

/// "63:00.0", with "dddd:" first for a domain that is not 0.
std::string pciLocation(std::uint32_t domain, std::uint32_t location);
