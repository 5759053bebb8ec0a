// Device text: how the matrix and the picture name nodes, devices, GPU targets and locations.
#include "graph/device_text.h"

#include "graph/device_model.h"
#include "report/value_format.h"
#include "text/hex_text.h"
#include "text/number_runs.h"

std::string nodeRuns(const std::vector<std::uint32_t>& nodes) {
    std::string text;
    for (const auto& [first, last] : numberRuns(nodes)) {
        text += (text.empty() ? "" : ",") + decimalText(first);
        if (last != first) {
            text += "-" + decimalText(last);
        }
    }
    return text;
}

std::string gfxName(std::uint32_t engineId) {
    if ((engineId >> 10) == 0) {
        return "-";
    }
    return "gfx" + decimalText((engineId >> 10) & 0x3F) + hexText((engineId >> 16) & 0xFF) +
           hexText((engineId >> 24) & 0xFF);
}

std::string counted(std::size_t count, const std::string& noun) {
    return decimalText(static_cast<std::int64_t>(count)) + " " + noun + (count == 1 ? "" : "s");
}

std::string summaryLine(const DeviceGraph& graph) {
    std::size_t cpus = 0;
    std::size_t gpus = 0;
    std::size_t partitions = 0;
    for (const Device& device : graph.devices) {
        (device.kind == DeviceKind::Cpu ? cpus : gpus) += 1;
        partitions += device.kind == DeviceKind::Gpu ? device.nodes.size() : 0;
    }
    return counted(graph.nodeCount, "node") + ": " + counted(cpus, "CPU") + ", " +
           counted(gpus, "GPU") +
           (partitions == gpus ? "" : " (" + counted(partitions, "partition") + ")") + ", " +
           counted(graph.hives.size(), "XGMI hive") + "; HSAKMT " +
           decimalText(graph.versionMajor) + "." + decimalText(graph.versionMinor);
}

std::string pciLocation(std::uint32_t domain, std::uint32_t location) {
    return (domain == 0 ? "" : hexText(domain, 4) + ":") + locationIdString(location);
}

std::string deviceRuns(const DeviceGraph& graph, const std::vector<std::size_t>& devices) {
    std::string text;
    for (const auto& [first, last] : numberRuns(devices)) {
        text += (text.empty() ? "" : " ") + graph.devices[first].name;
        if (last != first) {
            text += "-" + graph.devices[last].name;
        }
    }
    return text;
}
