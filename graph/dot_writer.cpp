// DOT writer: boxes, hive clusters, one edge per device pair, a legend.
#include "graph/dot_writer.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include <hsakmt/hsakmt.h>

#include "graph/device_model.h"
#include "graph/link_types.h"
#include "graph/device_text.h"
#include "report/value_format.h"

namespace {
constexpr std::size_t partitionsPerRow = 4;

// Text inside a DOT string, its line ends as DOT's centred line breaks.
std::string quoted(const std::string& text) {
    std::string result = "\"";
    for (const char c : text) {
        if (c == '\n') {
            result += "\\n";
            continue;
        }
        if (c == '"' || c == '\\') {
            result += '\\';
        }
        result += c;
    }
    return result + "\"";
}

// Text inside an HTML-like label.
std::string escaped(const std::string& text) {
    std::string result;
    for (const char c : text) {
        switch (c) {
        case '&': result += "&amp;"; break;
        case '<': result += "&lt;"; break;
        case '>': result += "&gt;"; break;
        case '"': result += "&quot;"; break;
        default: result += c;
        }
    }
    return result;
}

std::string number(std::size_t value) { return decimalText(static_cast<std::int64_t>(value)); }

std::string cpuNode(const Device& device) {
    return "    " + device.name + " [label=" +
           quoted(device.name + "\nnode " + nodeRuns(device.nodes) + "\n" +
                  counted(device.cpuThreads, "thread")) +
           "];\n";
}

std::string gpuNode(const Device& device) {
    const std::size_t partitions = device.nodes.size();
    const std::string span = number(std::min(partitions, partitionsPerRow));
    auto row = [&span](const std::string& cell) {
        return "<tr><td colspan=\"" + span + "\">" + cell + "</td></tr>";
    };
    std::string label = "<<table border=\"0\" cellborder=\"0\" cellspacing=\"2\">" +
                        row("<b>" + device.name + "</b>") +
                        row(escaped(gfxName(device.engineId) +
                                    (device.productName.empty() ? "" : " " + device.productName))) +
                        row(escaped(pciLocation(device.domain, device.location)) + ", " +
                            counted(device.xccs, "XCC")) +
                        row((partitions == 1 ? "node " : "nodes ") + nodeRuns(device.nodes));
    if (partitions > 1) {
        label += row(counted(partitions, "partition") + ":");
        for (std::size_t i = 0; i < partitions; ++i) {
            label += (i % partitionsPerRow == 0 ? "<tr>" : "");
            label += "<td border=\"1\">" + decimalText(device.nodes[i]) + "</td>";
            label += (i % partitionsPerRow == partitionsPerRow - 1 || i + 1 == partitions)
                         ? "</tr>"
                         : "";
        }
    }
    return "        " + device.name + " [label=" + label + "</table>>];\n";
}

std::string edgeLabel(const DevicePair& pair) {
    std::string label = pair.forward && pair.backward ? "" : "one-way\n";
    for (const LinkBundle& bundle : pair.bundles) {
        label += (&bundle == &pair.bundles.front() ? "" : "\n") +
                 linkTypeStyle(bundle.type).name + " x" + number(bundle.nodePairs) +
                 (bundle.maxBandwidth == 0
                      ? ""
                      : ", " + decimalText(bundle.maxBandwidth) + " MiB/s");
    }
    return label;
}

bool insideHive(const DeviceGraph& graph, const DevicePair& pair) {
    const std::size_t hive = graph.devices[pair.first].hive;
    return hive != 0 && graph.devices[pair.second].hive == hive;
}

// The cluster's label counts the labels of the links inside it, which a full mesh would
// otherwise pile up.
std::string hiveCluster(const DeviceGraph& graph, std::size_t hive) {
    std::vector<std::pair<std::string, std::size_t>> labels;
    for (const DevicePair& pair : graph.pairs) {
        if (insideHive(graph, pair) && graph.devices[pair.first].hive == hive) {
            const std::string label = edgeLabel(pair);
            auto known = std::find_if(labels.begin(), labels.end(),
                                      [&label](const auto& entry) { return entry.first == label; });
            if (known == labels.end()) {
                labels.emplace_back(label, 0);
                known = labels.end() - 1;
            }
            ++known->second;
        }
    }
    std::string title = "XGMI hive " + number(hive) + "\n" + std::to_string(graph.hives[hive - 1]);
    for (const auto& [label, count] : labels) {
        std::string line = label;
        std::replace(line.begin(), line.end(), '\n', ' ');
        title += "\n" + counted(count, "GPU pair") + ": " + line;
    }
    const std::string colour = linkTypeStyle(HSA_IOLINK_TYPE_XGMI).colour;
    std::string text = "    subgraph cluster_hive" + number(hive) + " {\n        label=" +
                       quoted(title) + ";\n        style=\"rounded,dashed\";\n        color=" +
                       quoted(colour) + ";\n        fontcolor=" + quoted(colour) + ";\n";
    std::vector<std::string> members;
    for (const Device& device : graph.devices) {
        if (device.hive == hive) {
            text += gpuNode(device);
            members.push_back(device.name);
        }
    }
    // Rows of 2 GPUs up to 4, of 4 beyond, each GPU under the one a row before it.
    const std::size_t gpusPerRow = members.size() <= 4 ? 2 : 4;
    for (std::size_t i = gpusPerRow; i < members.size(); ++i) {
        text += "        " + members[i - gpusPerRow] + " -- " + members[i] + " [style=invis];\n";
    }
    return text + "    }\n";
}

std::string edge(const DeviceGraph& graph, const DevicePair& pair) {
    const Device& first = graph.devices[pair.first];
    const Device& second = graph.devices[pair.second];
    const std::string label = edgeLabel(pair);
    // Only the edge to a GPU's own CPU places the GPU; the others follow.
    const bool placing = (second.cpu && *second.cpu == pair.first) ||
                         (first.cpu && *first.cpu == pair.second);
    // Routes fade (half transparent), so that the links they take stand out.
    std::string text = "    " + first.name + " -- " + second.name + " [tooltip=" + quoted(label) +
                       ", color=" +
                       quoted(linkTypeStyle(pair.bundles.front().type).colour +
                              (pair.routed ? "80" : ""));
    if (!placing) {
        text += ", constraint=false";
    }
    if (pair.routed) {
        text += ", style=dashed, penwidth=0.7";
    } else if (!insideHive(graph, pair)) {
        // External labels take no room in the layout, which stays compact. (Graphviz 2.43 also
        // frees the layout of labelled edges within one rank twice.)
        text += ", xlabel=" + quoted(label);
    }
    if (!pair.backward) {
        text += ", dir=forward";
    } else if (!pair.forward) {
        text += ", dir=back";
    }
    return text + "];\n";
}

std::string legendNode(const DeviceGraph& graph) {
    std::vector<std::uint32_t> types;
    bool oneWay = false;
    bool routed = false;
    for (const DevicePair& pair : graph.pairs) {
        routed = routed || pair.routed;
        const std::uint32_t type = pair.bundles.front().type;
        if (std::find(types.begin(), types.end(), type) == types.end()) {
            types.push_back(type);
        }
        oneWay = oneWay || !(pair.forward && pair.backward);
    }
    if (types.empty()) {
        return "";
    }
    std::sort(types.begin(), types.end());
    std::string label = "<<table border=\"0\" cellborder=\"0\" cellspacing=\"4\">"
                        "<tr><td colspan=\"2\"><b>strongest link</b></td></tr>";
    for (const std::uint32_t type : types) {
        const LinkTypeStyle style = linkTypeStyle(type);
        label += "<tr><td bgcolor=" + quoted(style.colour) +
                 " width=\"24\" height=\"6\"></td><td align=\"left\">" + escaped(style.name) +
                 "</td></tr>";
    }
    if (routed) {
        label += "<tr><td colspan=\"2\" align=\"left\">dashed: a route through others</td></tr>";
    }
    if (oneWay) {
        label += "<tr><td colspan=\"2\" align=\"left\">arrow: one way only</td></tr>";
    }
    return "    legend [shape=plain, style=\"\", label=" + label + "</table>>];\n";
}
}  // namespace

std::string dotText(const DeviceGraph& graph) {
    std::string text =
        "graph kfd {\n"
        "    graph [label=" + quoted(summaryLine(graph)) + ", labelloc=t, fontname=Helvetica, "
        "fontsize=14, newrank=true, nodesep=0.3, ranksep=1.2];\n"
        "    node [shape=box, style=\"rounded,filled\", fillcolor=\"#f4f4f4\", "
        "fontname=Helvetica, fontsize=10];\n"
        "    edge [fontname=Helvetica, fontsize=8, penwidth=1.5];\n";
    std::string cpus;
    for (const Device& device : graph.devices) {
        if (device.kind == DeviceKind::Cpu) {
            text += cpuNode(device);
            cpus += " " + device.name + ";";
        }
    }
    if (!cpus.empty()) {
        text += "    { rank=min;" + cpus + " }\n";
    }
    for (std::size_t hive = 1; hive <= graph.hives.size(); ++hive) {
        text += hiveCluster(graph, hive);
    }
    for (const Device& device : graph.devices) {
        if (device.kind == DeviceKind::Gpu && device.hive == 0) {
            text += gpuNode(device).substr(4);
        }
    }
    for (const DevicePair& pair : graph.pairs) {
        text += edge(graph, pair);
    }
    text += legendNode(graph);
    return text + "}\n";
}
