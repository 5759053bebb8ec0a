// kfdtopo-graph entry point: the machine's devices and links as a matrix, DOT or SVG.
#include <exception>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "graph/device_model.h"
#include "graph/dot_writer.h"
#include "graph/matrix_writer.h"
#include "graph/svg_render.h"
#include "output/output_writer.h"
#include "reader/model_builder.h"
#include "reader/topology_reader.h"
#include "report/status_check.h"

namespace {
constexpr std::string_view usage =
    "Usage: kfdtopo-graph [--dot | --svg FILE] [--width COLUMNS]\n"
    "       kfdtopo-graph --help | --version\n";

constexpr std::string_view help =
    "Shows the CPUs, GPUs and IO links that libhsakmt reports: by default a matrix of the\n"
    "strongest link between each two devices, then the CPUs, GPUs and XGMI hives.\n"
    "  --dot            write the graph in Graphviz's DOT language instead\n"
    "  --svg FILE       draw the graph as SVG into FILE instead\n"
    "  --width COLUMNS  cut the matrix into blocks of at most COLUMNS characters\n"
    "                   (default 80; 0 for one block)\n"
    "  --help           print this help\n"
    "  --version        print the version\n";

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
};

// A wrong command line, with what is wrong.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::size_t columnCount(const std::string& text) {
    if (text.empty() || text.size() > 6 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        throw UsageError("--width takes a number of columns, not \"" + text + "\"");
    }
    return std::stoul(text);
}

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        const bool takesValue = option == "--svg" || option == "--width";
        if (takesValue && i + 1 == argc) {
            throw UsageError(std::string(option) + " needs a value");
        }
        if (option == "--dot") {
            options.dot = true;
        } else if (option == "--svg") {
            options.svg = argv[++i];
        } else if (option == "--width") {
            options.width = columnCount(argv[++i]);
        } else {
            throw UsageError("unknown argument \"" + std::string(option) + "\"");
        }
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
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::cout << usage << help;
        return drawn;
    }
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::cout << "kfdtopo-graph " << KFDTOPO_VERSION << "\n";
        return drawn;
    }
    Options options;
    try {
        options = parseOptions(argc, argv);
    } catch (const UsageError& wrong) {
        std::cerr << "kfdtopo-graph: " << wrong.what() << "\n" << usage;
        return usageStatus;
    }
    DeviceGraph graph;
    try {
        const Topology machine = readMachine();
        requireLinks(machine);
        graph = buildDeviceGraph(machine);
    } catch (const std::exception& failure) {
        // kfdtopo's message, status and advice.
        std::cerr << failure.what() << "\n";
        return libraryStatus;
    }
    try {
        if (options.svg) {
            writeOutput(*options.svg, renderSvg(dotText(graph)), true);
        } else {
            writeOutput("-", options.dot ? dotText(graph) : matrixText(graph, options.width), true);
        }
    } catch (const std::exception& failure) {
        std::cerr << "kfdtopo-graph: " << failure.what() << "\n";
        return drawingStatus;
    }
    return drawn;
}
}  // namespace

int main(int argc, char** argv) {
    const int status = run(argc, argv);
    try {
        closeStandardOutput();
    } catch (const std::exception& failure) {
        std::cerr << "kfdtopo-graph: " << failure.what() << "\n";
        return drawingStatus;
    }
    return status;
}
