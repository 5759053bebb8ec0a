// kfdtopo-graph entry point: the machine's devices and links as a matrix, DOT or SVG.
#include <exception>
#include <iostream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>

#include "cli/command_line.h"
#include "diff/machine_source.h"
#include "export/fixture_origin.h"
#include "graph/device_model.h"
#include "graph/dot_writer.h"
#include "graph/matrix_writer.h"
#include "graph/reference_marks.h"
#include "graph/svg_render.h"
#include "output/output_writer.h"
#include "reader/model_builder.h"
#include "reader/topology_reader.h"
#include "report/status_check.h"

namespace {
constexpr OptionSpec graphOptions[] = {
    {"--dot", "", "write the graph in Graphviz's DOT language instead"},
    {"--svg", "FILE", "draw the graph as SVG into FILE instead"},
    {"--width", "COLUMNS",
     "cut the matrix into blocks of at most COLUMNS characters\n"
     "(default 80; 0 for one block)"},
    {"--routes", "", "draw the links the kernel derives through a third device"},
    {"--expand", "", "draw every GPU of a machine of more than 16 GPUs,\nwhose hives are folded"},
    {"--against", "REFERENCE",
     "mark what differs from REFERENCE, a fixture or a captured\ntopology tree"},
};

constexpr ProgramSpec program = {
    "kfdtopo-graph",
    "Usage: kfdtopo-graph [--dot | --svg FILE] [--against REFERENCE] [OPTION]...",
    "Shows the CPUs, GPUs and IO links that libhsakmt reports: by default a matrix of the\n"
    "strongest link between each two devices, then the CPUs, GPUs and XGMI hives.\n",
    graphOptions,
    std::size(graphOptions),
    0,
};

enum ExitStatus : int {
    drawn = 0,
    usageStatus = 1,
    libraryStatus = 2,
    drawingStatus = 3,
};

struct Options {
    bool dot = false;
    std::optional<std::string> svg;
    std::size_t width = 80;
    DrawOptions drawing;
    std::optional<std::string> against;
};

std::size_t columnCount(const std::string& text) {
    if (text.empty() || text.size() > 6 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        throw UsageError("--width takes a number of columns, not " + quoted(text));
    }
    return std::stoul(text);
}

Options parseOptions(const CommandLine& line) {
    Options options;
    options.dot = line.has("--dot");
    options.svg = line.value("--svg");
    options.drawing.routes = line.has("--routes");
    options.drawing.expand = line.has("--expand");
    options.against = line.value("--against");
    if (const std::optional<std::string> width = line.value("--width")) {
        options.width = columnCount(*width);
    }
    if (options.dot && options.svg) {
        throw UsageError("--dot and --svg exclude each other");
    }
    if (options.svg && options.svg->empty()) {
        throw UsageError("--svg needs a file name");
    }
    return options;
}

// The links are what the graph shows: a node whose links cannot be read fails the run with
// kfdtopo's message for that call.
void requireLinks(const Topology& machine) {
    for (const Fault& fault : machine.faults) {
        if (fault.call == KfdCall::GetNodeIoLinkProperties) {
            checkStatus(fault.status, callAction(fault.call));
        }
    }
}

int run(int argc, char** argv) {
    Options options;
    try {
        const CommandLine line = parseCommandLine(program, argc, argv);
        if (line.request != Request::run) {
            std::cout << (line.request == Request::help ? helpText(program) : versionText(program));
            return drawn;
        }
        options = parseOptions(line);
    } catch (const UsageError& wrong) {
        std::cerr << usageErrorText(program, wrong);
        return usageStatus;
    }
    std::optional<Topology> reference;
    if (options.against) {
        try {
            reference = readMachineFile(*options.against);
            requireMachine(*reference, *options.against);
        } catch (const std::exception& failure) {
            std::cerr << "kfdtopo-graph: " << failure.what() << "\n";
            return libraryStatus;
        }
    }
    DeviceGraph graph;
    try {
        Topology machine = readMachine();
        requireLinks(machine);
        machine.origin = machineOrigin();
        graph = buildDeviceGraph(machine);
        if (reference) {
            markAgainst(graph, machine, *reference, *options.against);
        }
    } catch (const std::exception& failure) {
        // kfdtopo's message, status and advice.
        std::cerr << failure.what() << "\n";
        return libraryStatus;
    }
    try {
        if (options.svg) {
            writeOutput(*options.svg, renderSvg(dotText(graph, options.drawing)), true);
        } else {
            writeOutput(
                "-",
                options.dot ? dotText(graph, options.drawing) : matrixText(graph, options.width),
                true);
        }
    } catch (const std::exception& failure) {
        std::cerr << "kfdtopo-graph: " << failure.what() << "\n";
        return drawingStatus;
    }
    return drawn;
}
}  // namespace

int main(int argc, char** argv) {
    return statusAfterClosingStandardOutput("kfdtopo-graph", run(argc, argv), drawingStatus);
}
