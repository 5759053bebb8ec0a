// Matrix writer: fixed columns, cut into blocks at the width, never misaligned.
#include "graph/matrix_writer.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "graph/device_model.h"
#include "graph/device_text.h"
#include "graph/link_types.h"
#include "report/value_format.h"
#include "text/number_runs.h"

namespace {
using Row = std::vector<std::string>;

constexpr std::size_t gap = 2;

// Rows in columns of the given widths, gap spaces apart, without trailing spaces.
std::string columns(const std::vector<Row>& rows, const std::vector<std::size_t>& widths) {
    std::string text;
    for (const Row& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) {
                line += std::string(widths[i] + gap - row[i].size(), ' ');
            }
        }
        text += line + "\n";
    }
    return text;
}

// Rows in columns as wide as their widest cell.
std::string table(const std::vector<Row>& rows) {
    std::vector<std::size_t> widths;
    for (const Row& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    return columns(rows, widths);
}

// Words joined by spaces into lines of at most width characters (0: one line).
std::string wrapped(const std::vector<std::string>& words, std::size_t width) {
    std::string text;
    std::string line;
    for (const std::string& word : words) {
        if (!line.empty() && width != 0 && line.size() + 1 + word.size() > width) {
            text += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    return text + line + "\n";
}

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> result;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find(' ', start), text.size());
        result.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

std::string cellText(const std::optional<LinkCell>& cell) {
    return cell ? linkTypeStyle(cell->type).code + decimalText(cell->weight) : "-";
}

// A cell, marked "!" where it differs from the reference's.
std::string markedCell(const DeviceGraph& graph, std::size_t row, std::size_t column) {
    const bool marked = !graph.referenceCells.empty() && graph.referenceCells[row][column];
    return cellText(graph.cells[row][column]) + (marked ? "!" : "");
}

// A device's name, marked "!" where it differs from the reference's device.
std::string markedName(const Device& device) {
    return device.name + (device.differences.empty() ? "" : "!");
}

std::string matrix(const DeviceGraph& graph, std::size_t width) {
    const std::size_t count = graph.devices.size();
    std::size_t nameWidth = 0;
    std::size_t cellWidth = 0;
    for (std::size_t row = 0; row < count; ++row) {
        nameWidth = std::max(nameWidth, graph.devices[row].name.size());
        for (std::size_t column = 0; column < count; ++column) {
            cellWidth = std::max(cellWidth, markedCell(graph, row, column).size());
        }
    }
    cellWidth = std::max(cellWidth, nameWidth);
    // At least one column per block, however narrow the width.
    const std::size_t perBlock = width == 0 || width < nameWidth + gap + cellWidth
                                     ? (width == 0 ? count : 1)
                                     : (width - nameWidth) / (gap + cellWidth);
    std::string text;
    for (std::size_t from = 0; from < count; from += perBlock) {
        const std::size_t to = std::min(count, from + perBlock);
        std::vector<Row> rows{Row{""}};
        for (std::size_t column = from; column < to; ++column) {
            rows[0].push_back(graph.devices[column].name);
        }
        for (std::size_t row = 0; row < count; ++row) {
            rows.push_back(Row{graph.devices[row].name});
            for (std::size_t column = from; column < to; ++column) {
                rows.back().push_back(markedCell(graph, row, column));
            }
        }
        std::vector<std::size_t> widths(to - from + 1, cellWidth);
        widths[0] = nameWidth;
        text += (from == 0 ? "" : "\n") + columns(rows, widths);
    }
    return text;
}

std::string legend(const DeviceGraph& graph, std::size_t width) {
    std::vector<std::uint32_t> types;
    for (const auto& row : graph.cells) {
        for (const std::optional<LinkCell>& cell : row) {
            if (cell && std::find(types.begin(), types.end(), cell->type) == types.end()) {
                types.push_back(cell->type);
            }
        }
    }
    std::sort(types.begin(), types.end(), [](std::uint32_t a, std::uint32_t b) {
        return linkTypeStyle(a).code < linkTypeStyle(b).code;
    });
    std::string text = wrapped(words("Each cell: the strongest IO link from the row's device "
                                     "to the column's (the lowest weight), by type and weight; "
                                     "- for none."),
                               width);
    std::vector<std::string> codes;
    for (std::size_t i = 0; i < types.size(); ++i) {
        const LinkTypeStyle style = linkTypeStyle(types[i]);
        std::vector<std::string> entry = words(style.name + (i + 1 < types.size() ? "," : "."));
        entry.front() = style.code + " " + entry.front();
        codes.insert(codes.end(), entry.begin(), entry.end());
    }
    return codes.empty() ? text : text + wrapped(codes, width);
}

std::string numaText(const Device& device) {
    return device.numaNode ? decimalText(*device.numaNode) : "-";
}

std::string cpuListText(const Device& device) {
    return !device.numaNode ? "-" : device.cpuList.empty() ? "unknown" : device.cpuList;
}

std::string cpuTable(const DeviceGraph& graph) {
    std::vector<Row> rows{{"CPU", "nodes", "threads", "NUMA", "CPU list"}};
    for (const Device& device : graph.devices) {
        if (device.kind == DeviceKind::Cpu) {
            rows.push_back({markedName(device), nodeRuns(device.nodes),
                            decimalText(device.cpuThreads), numaText(device), cpuListText(device)});
        }
    }
    return rows.size() == 1 ? "" : "\n" + table(rows);
}

// Where a job finds each GPU: its runtime indices, render nodes and NUMA node's CPUs.
std::string placementTable(const DeviceGraph& graph, std::size_t width) {
    std::vector<Row> rows{{"GPU", "runtime", "render nodes", "NUMA", "CPU list"}};
    for (const Device& device : graph.devices) {
        if (device.kind == DeviceKind::Gpu) {
            rows.push_back(
                {device.name, nodeRuns(device.agents),
                 device.renderMinors.empty() ? "-" : "renderD" + nodeRuns(device.renderMinors),
                 numaText(device), cpuListText(device)});
        }
    }
    if (rows.size() == 1) {
        return "";
    }
    return "\n" + table(rows) + "\n" +
           wrapped(words("runtime: the indices a runtime gives the GPU's agents, as "
                         "HIP_VISIBLE_DEVICES and ROCR_VISIBLE_DEVICES take them (GPU nodes "
                         "in node order, one per partition). Render nodes are in /dev/dri. "
                         "NUMA: a CPU node's own number, as libhsakmt takes it; a GPU's is its "
                         "CPU's. CPU list: that NUMA node's, where the capture recorded it."),
                   width);
}

std::string gpuTable(const DeviceGraph& graph) {
    std::vector<Row> rows{
        {"GPU", "nodes", "CPU", "hive", "PCI", "partitions", "XCCs", "GFX", "name"}};
    for (const Device& device : graph.devices) {
        if (device.kind != DeviceKind::Gpu) {
            continue;
        }
        rows.push_back(
            {markedName(device), nodeRuns(device.nodes),
             device.cpu ? graph.devices[*device.cpu].name : "-",
             device.hive == 0 ? "-" : decimalText(static_cast<std::int64_t>(device.hive)),
             pciLocation(device.domain, device.location),
             decimalText(static_cast<std::int64_t>(device.nodes.size())), decimalText(device.xccs),
             gfxName(device.engineId), device.productName.empty() ? "-" : device.productName});
    }
    return rows.size() == 1 ? "" : "\n" + table(rows);
}

std::string hiveTable(const DeviceGraph& graph) {
    std::vector<Row> rows{{"hive", "ID", "GPUs"}};
    for (std::size_t hive = 1; hive <= graph.hives.size(); ++hive) {
        std::vector<std::size_t> members;
        for (std::size_t device = 0; device < graph.devices.size(); ++device) {
            if (graph.devices[device].hive == hive) {
                members.push_back(device);
            }
        }
        rows.push_back({decimalText(static_cast<std::int64_t>(hive)),
                        std::to_string(graph.hives[hive - 1]), deviceRuns(graph, members)});
    }
    return rows.size() == 1 ? "" : "\n" + table(rows);
}

// What differs from the reference, one line each: the devices, the marked cells with the
// reference's value, the devices it has and this machine lacks.
std::string referenceLines(const DeviceGraph& graph, std::size_t width) {
    if (graph.reference.empty()) {
        return "";
    }
    std::vector<std::string> lines;
    for (const Device& device : graph.devices) {
        for (const std::string& difference : device.differences) {
            lines.push_back(device.name + ": " + difference);
        }
    }
    for (std::size_t row = 0; row < graph.devices.size(); ++row) {
        for (std::size_t column = 0; column < graph.devices.size(); ++column) {
            if (const auto& there = graph.referenceCells[row][column]) {
                lines.push_back(graph.devices[row].name + " to " + graph.devices[column].name +
                                ": " + cellText(graph.cells[row][column]) + ", reference " +
                                cellText(*there));
            }
        }
    }
    for (const std::string& device : graph.missingDevices) {
        lines.push_back("missing: " + device);
    }
    std::string text =
        "\n" + wrapped(words("Against " + graph.reference + ": " +
                             (lines.empty() ? "no differences."
                                            : counted(lines.size(), "difference") + ", marked !")),
                       width);
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

std::string leftOutLines(const DeviceGraph& graph) {
    std::string text;
    for (const LeftOutLinks& links : graph.leftOut) {
        text += "Left out: " + counted(links.count, "IO link") + " of " +
                (links.listedBy.size() == 1 ? "node " : "nodes ") + nodeRuns(links.listedBy) +
                ": " + links.reason + "\n";
    }
    return text.empty() ? "" : "\n" + text;
}
}  // namespace

std::string matrixText(const DeviceGraph& graph, std::size_t width) {
    std::string text = summaryLine(graph) + "\n";
    if (graph.devices.empty()) {
        return text;
    }
    text += "\n" + matrix(graph, width) + "\n" + legend(graph, width);
    return text + cpuTable(graph) + gpuTable(graph) + placementTable(graph, width) +
           hiveTable(graph) + leftOutLines(graph) + referenceLines(graph, width);
}
