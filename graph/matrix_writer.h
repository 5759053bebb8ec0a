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
