// DOT writer: boxes, hive clusters or hive boxes in a grid, one edge per pair of boxes, a legend.
#include "graph/dot_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <vector>

#include <hsakmt/hsakmt.h>

#include "graph/device_model.h"
#include "graph/device_text.h"
#include "graph/link_types.h"
#include "report/value_format.h"

namespace {
constexpr std::size_t partitionsPerRow = 4;
// More GPUs than this fold each hive into one box, unless drawn expanded.
constexpr std::size_t mostUnfoldedGpus = 16;
// A screen's proportions, width to height, which the grid of hives and GPUs keeps near.
constexpr double screenRatio = 16.0 / 9.0;
constexpr double boxRatio = 1.5;
// What differs from a reference: black, drawn so that it survives black and white.
constexpr const char* markColour = "#000000";

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
            case '&':
                result += "&amp;";
                break;
            case '<':
                result += "&lt;";
                break;
            case '>':
                result += "&gt;";
                break;
            case '"':
                result += "&quot;";
                break;
            default:
                result += c;
        }
    }
    return result;
}

std::string number(std::size_t value) { return decimalText(static_cast<std::int64_t>(value)); }

// "NUMA 0, CPUs 0-47,96-143": where the device's jobs run best.
std::string numaLine(const Device& device) {
    return "NUMA " + decimalText(*device.numaNode) + ", CPUs " +
           (device.cpuList.empty() ? "unknown" : device.cpuList);
}

std::string cpuNode(const Device& device) {
    return "    " + device.name + " [label=" +
           quoted(device.name + "\nnode " + nodeRuns(device.nodes) + "\n" +
                  counted(device.cpuThreads, "thread") + "\n" + numaLine(device)) +
           "];\n";
}

// "renderD128, runtime 0", ranges for a GPU of several partitions.
std::string placementLine(const Device& device) {
    const std::string runtime = "runtime " + nodeRuns(device.agents);
    return device.renderMinors.empty() ? runtime
                                       : "renderD" + nodeRuns(device.renderMinors) + ", " + runtime;
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
                        row((partitions == 1 ? "node " : "nodes ") + nodeRuns(device.nodes)) +
                        row(placementLine(device)) +
                        (device.numaNode ? row(escaped(numaLine(device))) : "");
    for (const std::string& difference : device.differences) {
        label += row("<b>" + escaped("\u2260 " + difference) + "</b>");
    }
    if (partitions > 1) {
        label += row(counted(partitions, "partition") + ":");
        for (std::size_t i = 0; i < partitions; ++i) {
            label += (i % partitionsPerRow == 0 ? "<tr>" : "");
            label += "<td border=\"1\">" + decimalText(device.nodes[i]) + "</td>";
            label += (i % partitionsPerRow == partitionsPerRow - 1 || i + 1 == partitions) ? "</tr>"
                                                                                           : "";
        }
    }
    return "        " + device.name + " [label=" + label + "</table>>" +
           (device.differences.empty() ? "" : ", peripheries=2, penwidth=2") + "];\n";
}

// Links between two boxes: a device pair's, or those of all the pairs between two folded hives or
// a folded hive and another box.
struct DrawnPair {
    std::string first;
    std::string second;
    std::vector<LinkBundle> bundles;  // by type, strongest first
    bool forward = false;
    bool backward = false;
    bool routed = true;    // every pair in it is a route
    bool placing = false;  // an edge from a GPU to its own CPU
    std::size_t hive = 0;  // of both GPUs, in one hive drawn as a cluster
    bool missing = false;  // linked in the reference only
};

std::string bundlesLabel(const std::vector<LinkBundle>& bundles, bool forward, bool backward) {
    std::string label = forward && backward ? "" : "one-way\n";
    for (const LinkBundle& bundle : bundles) {
        label +=
            (&bundle == &bundles.front() ? "" : "\n") + linkTypeStyle(bundle.type).name +
            (bundle.nodePairs == 1 ? "" : ", " + counted(bundle.nodePairs, "link")) +
            (bundle.maxBandwidth == 0 ? "" : ", " + decimalText(bundle.maxBandwidth) + " MiB/s");
    }
    return label;
}

std::string edgeLabel(const DrawnPair& pair) {
    return (pair.missing ? "missing: " : "") +
           bundlesLabel(pair.bundles, pair.forward, pair.backward);
}

bool manyGpus(const DeviceGraph& graph) {
    const auto gpus = std::count_if(graph.devices.begin(), graph.devices.end(),
                                    [](const Device& d) { return d.kind == DeviceKind::Gpu; });
    return static_cast<std::size_t>(gpus) > mostUnfoldedGpus;
}

std::string hiveBoxName(std::size_t hive) { return "hive" + number(hive); }

// The box a device is drawn in: its own, or its folded hive's.
std::string boxOf(const DeviceGraph& graph, std::size_t device, bool foldHives) {
    const Device& drawn = graph.devices[device];
    return foldHives && drawn.hive != 0 ? hiveBoxName(drawn.hive) : drawn.name;
}

void addBundles(std::vector<LinkBundle>& into, const std::vector<LinkBundle>& bundles) {
    for (const LinkBundle& bundle : bundles) {
        auto known = std::find_if(into.begin(), into.end(),
                                  [&bundle](const LinkBundle& b) { return b.type == bundle.type; });
        if (known == into.end()) {
            into.push_back(bundle);
            continue;
        }
        known->weight = std::min(known->weight, bundle.weight);
        known->nodePairs += bundle.nodePairs;
        known->maxBandwidth = std::max(known->maxBandwidth, bundle.maxBandwidth);
    }
    std::sort(into.begin(), into.end(), [](const LinkBundle& a, const LinkBundle& b) {
        return std::tie(a.weight, a.type) < std::tie(b.weight, b.type);
    });
}

// The device pairs as pairs of boxes, in the order of the first pair of each.
std::vector<DrawnPair> drawnPairs(const DeviceGraph& graph, const std::vector<DevicePair>& pairs,
                                  bool foldHives, bool missing) {
    std::vector<DrawnPair> drawn;
    std::map<std::pair<std::string, std::string>, std::size_t> index;
    for (const DevicePair& pair : pairs) {
        const std::string first = boxOf(graph, pair.first, foldHives);
        const std::string second = boxOf(graph, pair.second, foldHives);
        if (first == second) {
            continue;
        }
        const Device& a = graph.devices[pair.first];
        const Device& b = graph.devices[pair.second];
        const auto [known, fresh] = index.try_emplace({first, second}, drawn.size());
        if (fresh) {
            DrawnPair made;
            made.first = first;
            made.second = second;
            made.hive = !foldHives && a.hive == b.hive ? a.hive : 0;
            made.missing = missing;
            drawn.push_back(made);
        }
        DrawnPair& into = drawn[known->second];
        addBundles(into.bundles, pair.bundles);
        into.forward = into.forward || pair.forward;
        into.backward = into.backward || pair.backward;
        into.routed = into.routed && pair.routed;
        into.placing =
            into.placing || (b.cpu && *b.cpu == pair.first) || (a.cpu && *a.cpu == pair.second);
    }
    return drawn;
}

std::vector<std::size_t> hiveMembers(const DeviceGraph& graph, std::size_t hive) {
    std::vector<std::size_t> members;
    for (std::size_t device = 0; device < graph.devices.size(); ++device) {
        if (graph.devices[device].hive == hive) {
            members.push_back(device);
        }
    }
    return members;
}

// The labels of the links between a hive's GPUs, with how many GPU pairs have each; whether
// every two of its GPUs are linked (a full mesh, which the title then stands for).
struct HiveLinks {
    std::vector<std::pair<std::string, std::size_t>> labels;
    bool fullMesh = false;
};

HiveLinks hiveLinks(const DeviceGraph& graph, std::size_t hive,
                    const std::vector<DrawnPair>& pairs) {
    HiveLinks links;
    std::size_t linked = 0;
    for (const DrawnPair& pair : pairs) {
        if (pair.hive != hive) {
            continue;
        }
        ++linked;
        const std::string label = bundlesLabel(pair.bundles, pair.forward, pair.backward);
        auto known = std::find_if(links.labels.begin(), links.labels.end(),
                                  [&label](const auto& entry) { return entry.first == label; });
        if (known == links.labels.end()) {
            links.labels.emplace_back(label, 0);
            known = links.labels.end() - 1;
        }
        ++known->second;
    }
    const std::size_t members = hiveMembers(graph, hive).size();
    links.fullMesh = members > 1 && linked == members * (members - 1) / 2;
    return links;
}

std::string hiveTitleLines(const HiveLinks& links) {
    std::size_t linked = 0;
    std::string text;
    for (const auto& [label, count] : links.labels) {
        std::string line = label;
        std::replace(line.begin(), line.end(), '\n', ' ');
        text += "\n" + counted(count, "GPU pair") + (count == 1 ? ": " : ", each: ") + line;
        linked += count;
    }
    if (!links.fullMesh || linked == 1) {
        return text;
    }
    // One label for all: "all 6 GPU pairs, each: XGMI".
    return links.labels.size() == 1 ? "\nall " + text.substr(1)
                                    : "\nall " + counted(linked, "GPU pair") + " linked" + text;
}

std::string hiveColour() { return linkTypeStyle(HSA_IOLINK_TYPE_XGMI).colour; }

// A place in the grid: a box, or a hive's rows of boxes; its first and last row, for the
// invisible edges that stack the grid's rows, and its size in boxes.
struct GridPlace {
    std::vector<std::string> top;
    std::vector<std::string> bottom;
    std::size_t width = 1;
    std::size_t height = 1;
};

std::size_t hiveRowLength(std::size_t gpus) { return gpus <= 4 ? 2 : 4; }

GridPlace hivePlace(const DeviceGraph& graph, const std::vector<std::size_t>& members) {
    const std::size_t length = hiveRowLength(members.size());
    GridPlace place;
    place.width = std::min(length, members.size());
    place.height = (members.size() + length - 1) / length;
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (i < length) {
            place.top.push_back(graph.devices[members[i]].name);
        }
        if (i >= (place.height - 1) * length) {
            place.bottom.push_back(graph.devices[members[i]].name);
        }
    }
    return place;
}

// A hive as a cluster of its GPUs in rows (2 GPUs a row up to 4, 4 beyond), its title below them,
// where no edge from above runs.
std::string hiveCluster(const DeviceGraph& graph, std::size_t hive, const HiveLinks& links) {
    const std::string title = "XGMI hive " + number(hive) + "\n" +
                              std::to_string(graph.hives[hive - 1]) + hiveTitleLines(links);
    std::string text =
        "    subgraph cluster_hive" + number(hive) + " {\n        label=" + quoted(title) +
        ";\n        labelloc=b;\n        style=\"rounded,dashed\";\n"
        "        color=" +
        quoted(hiveColour()) + ";\n        fontcolor=" + quoted(hiveColour()) + ";\n";
    const std::vector<std::size_t> members = hiveMembers(graph, hive);
    for (const std::size_t member : members) {
        text += gpuNode(graph.devices[member]);
    }
    const std::size_t gpusPerRow = hiveRowLength(members.size());
    for (std::size_t i = gpusPerRow; i < members.size(); ++i) {
        text += "        " + graph.devices[members[i - gpusPerRow]].name + " -- " +
                graph.devices[members[i]].name + " [style=invis];\n";
    }
    return text + "    }\n";
}

// A hive folded into one box: its GPUs named, counted and described once.
std::string hiveBox(const DeviceGraph& graph, std::size_t hive, const HiveLinks& links) {
    const std::vector<std::size_t> members = hiveMembers(graph, hive);
    const Device& first = graph.devices[members.front()];
    std::vector<std::uint32_t> agents;
    std::vector<std::string> differences;
    for (const std::size_t member : members) {
        const Device& device = graph.devices[member];
        agents.insert(agents.end(), device.agents.begin(), device.agents.end());
        for (const std::string& difference : device.differences) {
            differences.push_back("\u2260 " + device.name + ": " + difference);
        }
    }
    std::string label = "XGMI hive " + number(hive) + "\n" + counted(members.size(), "GPU") + ": " +
                        deviceRuns(graph, members) + "\n" + gfxName(first.engineId) +
                        (first.productName.empty() ? "" : " " + first.productName) + "\nruntime " +
                        nodeRuns(agents) + hiveTitleLines(links);
    for (const std::string& difference : differences) {
        label += "\n" + difference;
    }
    return "    " + hiveBoxName(hive) + " [label=" + quoted(label) +
           ", color=" + quoted(hiveColour()) + ", style=\"rounded,filled,dashed\"" +
           (differences.empty() ? "" : ", peripheries=2, penwidth=2") + "];\n";
}

GridPlace boxPlace(const std::string& box) { return {{box}, {box}, 1, 1}; }

// The columns whose grid comes closest to the target proportions, taking a box with the space
// around it as half again as wide as high.
std::size_t gridColumns(const std::vector<GridPlace>& places) {
    const double count = static_cast<double>(places.size());
    std::size_t best = 1;
    double bestError = 0;
    for (std::size_t columns = 1; columns <= places.size(); ++columns) {
        const double rows = std::ceil(count / static_cast<double>(columns));
        const double width = boxRatio * static_cast<double>(columns * places.front().width);
        const double error = std::abs(
            std::log(width / (rows * static_cast<double>(places.front().height)) / screenRatio));
        if (columns == 1 || error < bestError) {
            best = columns;
            bestError = error;
        }
    }
    return best;
}

// The grid's rows stacked by invisible edges; with an anchor (a box above the grid), the first
// row hangs from it, as the edges to the GPUs' CPUs would otherwise hang them.
std::string grid(const std::vector<GridPlace>& places, const std::string& anchor) {
    if (places.empty()) {
        return "";
    }
    const std::size_t columns = gridColumns(places);
    std::string text;
    for (std::size_t i = 0; i < columns && !anchor.empty(); ++i) {
        for (const std::string& box : places[i].top) {
            text += "    " + anchor + " -- " + box + " [style=invis];\n";
        }
    }
    for (std::size_t i = columns; i < places.size(); ++i) {
        const std::vector<std::string>& above = places[i - columns].bottom;
        const std::vector<std::string>& below = places[i].top;
        for (std::size_t j = 0; j < below.size(); ++j) {
            text += "    " + above[j % above.size()] + " -- " + below[j] + " [style=invis];\n";
        }
    }
    return text;
}

std::string edge(const DrawnPair& pair) {
    const std::string label = edgeLabel(pair);
    const std::string colour =
        pair.missing ? markColour
                     : linkTypeStyle(pair.bundles.front().type).colour + (pair.routed ? "80" : "");
    // Only the edge to a GPU's own CPU places the GPU; the others follow.
    std::string text = "    " + pair.first + " -- " + pair.second + " [tooltip=" + quoted(label) +
                       ", color=" + quoted(colour);
    if (!pair.placing || pair.missing) {
        text += ", constraint=false";
    }
    if (pair.missing) {
        text += ", style=dotted, penwidth=2.5, fontcolor=" + quoted(markColour) +
                ", xlabel=" + quoted(label);
    } else if (pair.routed) {
        text += ", style=dashed, penwidth=0.7";
    } else if (pair.hive == 0) {
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

std::string legendRow(const std::string& text) {
    return "<tr><td colspan=\"2\" align=\"left\">" + escaped(text) + "</td></tr>";
}

struct LegendFacts {
    std::vector<std::uint32_t> types;
    bool counts = false;
    bool bandwidth = false;
    bool routed = false;
    bool oneWay = false;
    std::size_t hiddenRoutes = 0;
    bool foldedHives = false;
};

std::string legendNode(const DeviceGraph& graph, const LegendFacts& facts) {
    if (facts.types.empty() && graph.reference.empty()) {
        return "";
    }
    std::string label =
        "<<table border=\"0\" cellborder=\"0\" cellspacing=\"4\">"
        "<tr><td colspan=\"2\"><b>strongest link</b></td></tr>";
    for (const std::uint32_t type : facts.types) {
        const LinkTypeStyle style = linkTypeStyle(type);
        label += "<tr><td bgcolor=" + quoted(style.colour) +
                 " width=\"24\" height=\"6\"></td><td align=\"left\">" + escaped(style.name) +
                 "</td></tr>";
    }
    if (facts.counts) {
        label += legendRow("N links: the node pairs linked (a partition is a node)");
    }
    if (facts.bandwidth) {
        label += legendRow("MiB/s: the highest maximum bandwidth among them");
    }
    if (facts.routed) {
        label += legendRow("dashed: a route through others");
    }
    if (facts.hiddenRoutes != 0) {
        label += legendRow(counted(facts.hiddenRoutes, "route") +
                           " through a third device not drawn (--routes)");
    }
    if (facts.oneWay) {
        label += legendRow("arrow: one way only");
    }
    if (facts.foldedHives) {
        label += legendRow("a hive's GPUs in one box (--expand draws each)");
    }
    if (!graph.reference.empty()) {
        label += "<tr><td colspan=\"2\"><b>against " + escaped(graph.reference) + "</b></td></tr>";
        const bool differs = !graph.missingPairs.empty() || !graph.missingDevices.empty() ||
                             std::any_of(graph.devices.begin(), graph.devices.end(),
                                         [](const Device& d) { return !d.differences.empty(); });
        label += legendRow(differs ? "double border, \u2260: differs from it" : "no difference");
        if (!graph.missingPairs.empty()) {
            label += legendRow("dotted black, missing: linked there, not here");
        }
        for (const std::string& device : graph.missingDevices) {
            label += legendRow("missing: " + device);
        }
    }
    return "    legend [shape=plain, style=\"\", label=" + label + "</table>>];\n";
}
}  // namespace

std::string dotText(const DeviceGraph& graph, const DrawOptions& options) {
    std::string text =
        "graph kfd {\n"
        "    graph [label=" +
        quoted(summaryLine(graph)) +
        ", labelloc=t, fontname=Helvetica, "
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
    const bool foldHives = !options.expand && manyGpus(graph);
    // Many GPUs drawn one by one: the grid alone places them, under the first CPU.
    const bool gridOnly =
        options.expand && manyGpus(graph) && graph.devices.front().kind == DeviceKind::Cpu;
    const std::vector<DrawnPair> devicePairs = drawnPairs(graph, graph.pairs, false, false);
    const std::vector<DrawnPair> pairs =
        foldHives ? drawnPairs(graph, graph.pairs, true, false) : devicePairs;
    const std::vector<DrawnPair> missing = drawnPairs(graph, graph.missingPairs, foldHives, true);
    std::vector<GridPlace> places;
    std::vector<bool> meshes(graph.hives.size() + 1);  // hives whose title stands for their mesh
    for (std::size_t hive = 1; hive <= graph.hives.size(); ++hive) {
        const HiveLinks links = hiveLinks(graph, hive, devicePairs);
        const std::vector<std::size_t> members = hiveMembers(graph, hive);
        if (foldHives) {
            text += hiveBox(graph, hive, links);
            places.push_back(boxPlace(hiveBoxName(hive)));
            continue;
        }
        text += hiveCluster(graph, hive, links);
        places.push_back(hivePlace(graph, members));
        meshes[hive] = links.fullMesh;
    }
    for (const Device& device : graph.devices) {
        if (device.kind == DeviceKind::Gpu && device.hive == 0) {
            text += gpuNode(device).substr(4);
            places.push_back(boxPlace(device.name));
        }
    }
    text += grid(places, gridOnly ? graph.devices.front().name : "");
    LegendFacts facts;
    for (const DrawnPair& pair : pairs) {
        if (meshes[pair.hive]) {
            continue;
        }
        if (pair.routed && !options.routes) {
            ++facts.hiddenRoutes;
            continue;
        }
        DrawnPair drawn = pair;
        drawn.placing = drawn.placing && !gridOnly;
        text += edge(drawn);
        const std::uint32_t type = pair.bundles.front().type;
        if (std::find(facts.types.begin(), facts.types.end(), type) == facts.types.end()) {
            facts.types.push_back(type);
        }
        facts.routed = facts.routed || pair.routed;
        facts.oneWay = facts.oneWay || !(pair.forward && pair.backward);
        for (const LinkBundle& bundle : pair.bundles) {
            facts.counts = facts.counts || bundle.nodePairs > 1;
            facts.bandwidth = facts.bandwidth || bundle.maxBandwidth != 0;
        }
    }
    for (const DrawnPair& pair : missing) {
        text += edge(pair);
    }
    if (!graph.hives.empty() && std::find(facts.types.begin(), facts.types.end(),
                                          HSA_IOLINK_TYPE_XGMI) == facts.types.end()) {
        facts.types.push_back(HSA_IOLINK_TYPE_XGMI);  // the hives' colour
    }
    std::sort(facts.types.begin(), facts.types.end());
    facts.foldedHives = foldHives && !graph.hives.empty();
    text += legendNode(graph, facts);
    return text + "}\n";
}
