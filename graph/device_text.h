// Device text: how the matrix and the picture name nodes, devices, GPU targets and locations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct DeviceGraph;

/// Node numbers as runs, "2-9" or "0,3,5-7".
std::string nodeRuns(const std::vector<std::uint32_t>& nodes);

/// The GFX target of an EngineId ("gfx90a": major in decimal, minor and stepping in
/// hexadecimal), "-" when all three are 0.
std::string gfxName(std::uint32_t engineId);

/// "1 link", "2 links": a count and its noun, plural with an "s" but for 1.
std::string counted(std::size_t count, const std::string& noun);

/// The summary line without its line end: nodes, CPUs, GPUs (with their partitions when
/// there are more), XGMI hives and the library's version.
std::string summaryLine(const DeviceGraph& graph);

/// "63:00.0", with "dddd:" first for a domain that is not 0.
std::string pciLocation(std::uint32_t domain, std::uint32_t location);

/// Devices by their names as runs, "GPU0-GPU2 GPU4": `devices` are ascending indices.
std::string deviceRuns(const DeviceGraph& graph, const std::vector<std::size_t>& devices);
