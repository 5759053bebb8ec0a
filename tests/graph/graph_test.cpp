// kfdtopo-graph through kfdsim: matrices, DOT and the structure of the SVG against expected
// files, and its options and failures, as listed in tests/data/graph.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/paths.h"
#include "tests/support/process.h"
#include "tests/support/text_files.h"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view graphBinary = KFDTOPO_GRAPH_BINARY;
constexpr std::string_view sourceDir = KFDTOPO_SOURCE_DIR;
// Whether the build has the SVG module, which needs Graphviz's development files.
constexpr bool svgBuilt = KFDTOPO_GRAPH_SVG != 0;

std::string graphData(const std::string& name) {
    return std::string(testDataDir) + "/graph/" + name;
}

// A row of a case list: its words up to the purpose, then the purpose.
struct GraphCase {
    std::string name;
    int exitStatus = 0;
    std::string topology;  // from tests/data; "-" for kfdsim's built-in machine
    std::string purpose;
};

void PrintTo(const GraphCase& graphCase, std::ostream* out) { *out << graphCase.name; }

// machines.txt rows "<case> <topology> <purpose>"; runs.txt rows "<case> <exit status>
// <topology> <purpose>". '#' starts a comment line.
std::vector<GraphCase> loadCases(const std::string& list, bool withStatus) {
    std::vector<GraphCase> cases;
    for (const std::string& line : lines(readFile(graphData(list)))) {
        std::istringstream row(line);
        GraphCase graphCase;
        if (line.empty() || line[0] == '#' || !(row >> graphCase.name)) {
            continue;
        }
        if (withStatus) {
            row >> graphCase.exitStatus;
        }
        row >> graphCase.topology >> std::ws;
        std::getline(row, graphCase.purpose);
        cases.push_back(graphCase);
    }
    return cases;
}

ProcessResult runGraph(const std::string& topology, const std::vector<std::string>& args,
                       const std::string& directory = std::string(testDataDir)) {
    const std::string path = topology == "-" ? "" : std::string(testDataDir) + "/" + topology;
    return runProcess(std::string(graphBinary), args,
                      {"KFDSIM_TOPOLOGY=" + path, "LD_LIBRARY_PATH=" + std::string(kfdsimDir),
                       "HSA_OVERRIDE_GFX_VERSION"},
                      directory);
}

// Compares a text with its expected file, or rewrites the file when updating.
void expectFile(const std::string& path, const std::string& actual, const std::string& what) {
    if (updatingGolden()) {
        writeFile(path, actual);
        return;
    }
    bool found = false;
    const std::string expected = readFile(path, &found);
    ASSERT_TRUE(found) << path << " is missing";
    EXPECT_TRUE(expected == actual) << what << ": " << firstDifference(expected, actual);
}

// One cluster, box or edge of an SVG drawn by Graphviz: its title and the bounds of its first
// shape.
struct SvgElement {
    std::string kind;
    std::string title;
    std::string shape;  // the first path or polygon element
    double left = 0;
    double right = 0;
    double top = 0;
    double bottom = 0;
};

std::string attribute(const std::string& element, const std::string& name) {
    std::smatch match;
    const std::regex pattern(" " + name + "=\"([^\"]*)\"");
    return std::regex_search(element, match, pattern) ? match[1].str() : "";
}

std::vector<SvgElement> svgElements(const std::string& svg) {
    static const std::regex group("<g id=\"[^\"]*\" class=\"(cluster|node|edge)\">\\s*<title>([^<]*)</title>");
    static const std::regex shape("<(path|polygon) [^>]*>");
    static const std::regex point("(-?[0-9.]+),(-?[0-9.]+)");
    std::vector<SvgElement> elements;
    std::vector<std::size_t> starts;
    for (auto it = std::sregex_iterator(svg.begin(), svg.end(), group); it != std::sregex_iterator();
         ++it) {
        SvgElement element;
        element.kind = (*it)[1].str();
        element.title = std::regex_replace((*it)[2].str(), std::regex("&#45;"), "-");
        elements.push_back(element);
        starts.push_back(static_cast<std::size_t>(it->position() + it->length()));
    }
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : svg.size();
        const std::string body = svg.substr(starts[i], end - starts[i]);
        std::smatch found;
        if (!std::regex_search(body, found, shape)) {
            continue;
        }
        SvgElement& element = elements[i];
        element.shape = found[0].str();
        const std::string coordinates =
            attribute(element.shape, found[1].str() == "path" ? "d" : "points");
        bool first = true;
        for (auto it = std::sregex_iterator(coordinates.begin(), coordinates.end(), point);
             it != std::sregex_iterator(); ++it) {
            const double x = std::stod((*it)[1].str());
            const double y = std::stod((*it)[2].str());
            element.left = first ? x : std::min(element.left, x);
            element.right = first ? x : std::max(element.right, x);
            element.top = first ? y : std::min(element.top, y);
            element.bottom = first ? y : std::max(element.bottom, y);
            first = false;
        }
    }
    return elements;
}

// What the SVG shows: each cluster with the boxes inside its bounds, by name (Graphviz writes
// clusters in an order of its memory), then each box and each edge with its colour and whether
// it is faded or dashed, in the SVG's order.
std::string svgStructure(const std::string& svg) {
    const std::vector<SvgElement> elements = svgElements(svg);
    std::set<std::string> clusters;
    for (const SvgElement& cluster : elements) {
        if (cluster.kind != "cluster") {
            continue;
        }
        std::string text = "cluster " + cluster.title + ":";
        for (const SvgElement& box : elements) {
            const double x = (box.left + box.right) / 2;
            const double y = (box.top + box.bottom) / 2;
            if (box.kind == "node" && x > cluster.left && x < cluster.right && y > cluster.top &&
                y < cluster.bottom) {
                text += " " + box.title;
            }
        }
        clusters.insert(text + "\n");
    }
    std::string text;
    for (const std::string& cluster : clusters) {
        text += cluster;
    }
    for (const SvgElement& element : elements) {
        if (element.kind == "node") {
            text += "node " + element.title + "\n";
        } else if (element.kind == "edge") {
            text += "edge " + element.title + " " + attribute(element.shape, "stroke") +
                    (attribute(element.shape, "stroke-opacity").empty() ? "" : " faded") +
                    (attribute(element.shape, "stroke-dasharray").empty() ? "" : " dashed") + "\n";
        }
    }
    return text;
}

// The device pairs that more than one edge joins, either way round.
std::vector<std::string> repeatedPairs(const std::string& svg) {
    std::set<std::pair<std::string, std::string>> seen;
    std::vector<std::string> repeated;
    for (const SvgElement& element : svgElements(svg)) {
        const std::size_t dash = element.title.find("--");
        if (element.kind != "edge" || dash == std::string::npos) {
            continue;
        }
        // minmax returns references: copy them before its arguments go.
        const std::pair<std::string, std::string> pair =
            std::minmax(element.title.substr(0, dash), element.title.substr(dash + 2));
        if (!seen.insert(pair).second) {
            repeated.push_back(element.title);
        }
    }
    return repeated;
}

std::string caseName(const ::testing::TestParamInfo<GraphCase>& param) {
    std::string name = param.param.name;
    std::replace_if(
        name.begin(), name.end(),
        [](char c) { return std::isalnum(static_cast<unsigned char>(c)) == 0; }, '_');
    return name;
}

class Machine : public ::testing::TestWithParam<GraphCase> {};

TEST_P(Machine, MatrixMatchesExpectedFile) {
    const GraphCase& machine = GetParam();
    const ProcessResult result = runGraph(machine.topology, {});
    EXPECT_EQ(result.exitStatus, 0) << machine.purpose;
    EXPECT_EQ(result.err, "");
    expectFile(graphData(machine.name + ".matrix"), result.out, machine.purpose);
}

TEST_P(Machine, DotMatchesExpectedFile) {
    const GraphCase& machine = GetParam();
    const ProcessResult result = runGraph(machine.topology, {"--dot"});
    EXPECT_EQ(result.exitStatus, 0) << machine.purpose;
    EXPECT_EQ(result.err, "");
    expectFile(graphData(machine.name + ".dot"), result.out, machine.purpose);
}

// Drawn by Graphviz's libraries: a cluster per hive holding its GPUs, one edge per linked pair.
TEST_P(Machine, SvgShowsTheExpectedStructure) {
    if (!svgBuilt) {
        GTEST_SKIP() << "built without Graphviz";
    }
    const GraphCase& machine = GetParam();
    char pattern[] = "/tmp/kfdtopo-graph-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string directory = pattern;
    const ProcessResult result = runGraph(machine.topology, {"--svg", "machine.svg"}, directory);
    const std::string svg = readFile(directory + "/machine.svg");
    fs::remove_all(directory);
    EXPECT_EQ(result.exitStatus, 0) << machine.purpose << ": " << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    ASSERT_EQ(svg.rfind("<?xml", 0), 0U) << "not an SVG document";
    EXPECT_EQ(repeatedPairs(svg), std::vector<std::string>{});
    expectFile(graphData(machine.name + ".svg.txt"), svgStructure(svg), machine.purpose);
}

INSTANTIATE_TEST_SUITE_P(Cases, Machine, ::testing::ValuesIn(loadCases("machines.txt", false)),
                         caseName);

class Run : public ::testing::TestWithParam<GraphCase> {};

// Arguments in <case>.args, one per line; stdout in <case>.out, stderr in <case>.err (absent:
// empty).
TEST_P(Run, OutputMatchesExpectedFiles) {
    const GraphCase& run = GetParam();
    const std::vector<std::string> args = lines(readFile(graphData(run.name + ".args")));
    if (!svgBuilt && run.exitStatus == 3 && std::count(args.begin(), args.end(), "--svg") != 0) {
        GTEST_SKIP() << "draws an SVG: built without Graphviz";
    }
    const ProcessResult result = runGraph(run.topology, args);
    EXPECT_EQ(result.exitStatus, run.exitStatus) << run.purpose;
    for (const auto& [suffix, text] : {std::pair{".out", result.out}, {".err", result.err}}) {
        const std::string path = graphData(run.name + suffix);
        if (updatingGolden()) {
            text.empty() ? static_cast<void>(unlink(path.c_str())) : writeFile(path, text);
            continue;
        }
        const std::string expected = readFile(path);
        EXPECT_TRUE(expected == text) << run.purpose << ": " << suffix << " "
                                      << firstDifference(expected, text);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Run, ::testing::ValuesIn(loadCases("runs.txt", true)), caseName);

// Without its SVG module beside it (a build or an installation without Graphviz), --svg says in
// one line what to install and what does the same, and writes no file.
TEST(GraphSvg, WithoutTheModuleSaysWhatToInstall) {
    char pattern[] = "/tmp/kfdtopo-graph-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string directory = pattern;
    fs::create_directory(directory + "/bin");
    fs::copy_file(std::string(graphBinary), directory + "/bin/kfdtopo-graph");
    const ProcessResult result =
        runProcess(directory + "/bin/kfdtopo-graph", {"--svg", "machine.svg"},
                   {"KFDSIM_TOPOLOGY=", "LD_LIBRARY_PATH=" + std::string(kfdsimDir)}, directory);
    const bool written = fs::exists(directory + "/machine.svg");
    fs::remove_all(directory);
    EXPECT_EQ(result.exitStatus, 3);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, readFile(graphData("svg-unavailable.err")));
    EXPECT_FALSE(written);
}

// The README shows the MI300X machine's matrix as the tool prints it.
TEST(GraphDocs, ReadmeShowsTheMatrixOfTheMi300xMachine) {
    const std::string readme = readFile(std::string(sourceDir) + "/README.md");
    const std::string command = "$ kfdtopo-replay tests/data/captures/mi300x-cpx kfdtopo-graph\n";
    const std::size_t start = readme.find(command);
    ASSERT_NE(start, std::string::npos) << "README.md has no line " << command;
    const std::size_t from = start + command.size();
    const std::string shown = readme.substr(from, readme.find("```\n", from) - from);
    const std::string expected = readFile(graphData("mi300x-cpx.matrix"));
    EXPECT_TRUE(shown == expected) << firstDifference(expected, shown);
}

// The README's picture of the MI210 machine is one the tool draws now.
TEST(GraphDocs, PictureOfTheMi210MachineIsTheToolsDrawing) {
    const std::string svg = readFile(std::string(sourceDir) + "/docs/mi210-x8-2socket.svg");
    const std::string expected = readFile(graphData("mi210-x8-2socket.svg.txt"));
    const std::string shown = svgStructure(svg);
    EXPECT_TRUE(shown == expected) << firstDifference(expected, shown);
}

}  // namespace
