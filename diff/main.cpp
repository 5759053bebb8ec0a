// kfdtopo-diff entry point: compares this machine, or a named one, with a reference machine.
#include <algorithm>
#include <exception>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "diff/machine_source.h"
#include "diff/topology_diff.h"
#include "fixture/json_fixture.h"
#include "fixture/topology.h"
#include "output/output_writer.h"

namespace {

constexpr OptionSpec diffOptions[] = {
    {"--all", "", "also compare the fields left out by default (listed below)"},
};

constexpr ProgramSpec program = {
    "kfdtopo-diff",
    "Usage: kfdtopo-diff [--all] REFERENCE [MACHINE]",
    "Compares MACHINE (default: this machine, through libhsakmt) with REFERENCE, each a\n"
    "fixture of kfdtopo-export (.json, .json.gz) or a captured KFD topology tree: CPUs by\n"
    "their order, GPUs by PCI location, partitions by PCI function, one difference a line,\n"
    "then their count. Exit status: 0 same, 1 different, 2 trouble.\n",
    diffOptions,
    std::size(diffOptions),
    2,
};

// Like diff(1), a wrong command line is trouble.
enum ExitStatus : int {
    sameStatus = 0,
    differStatus = 1,
    troubleStatus = 2,
};

std::string help() {
    std::string text = helpText(program) + "Left out by default:\n";
    for (const std::string& line : leftOutFields()) {
        text += "  " + line + "\n";
    }
    return text;
}

// A fixture of a newer format is compared on what this one knows of it.
void warnIgnoredKeys(const Topology& topology, const std::string& path) {
    const std::string warning = ignoredKeysWarning(topology, path);
    if (!warning.empty()) {
        std::cerr << "kfdtopo-diff: " << warning << "\n";
    }
}

std::string counted(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " difference" : " differences");
}

int run(int argc, char** argv) {
    CommandLine line;
    try {
        line = parseCommandLine(program, argc, argv);
        if (line.request != Request::run) {
            std::cout << (line.request == Request::help ? help() : versionText(program));
            return sameStatus;
        }
        if (line.arguments.empty()) {
            throw UsageError("REFERENCE is missing");
        }
    } catch (const UsageError& wrong) {
        std::cerr << usageErrorText(program, wrong);
        return troubleStatus;
    }
    const std::vector<std::string>& paths = line.arguments;
    try {
        Topology reference;
        try {
            reference = readMachineFile(paths[0]);
        } catch (const std::exception& failure) {
            throw std::runtime_error("reference " + std::string(failure.what()));
        }
        warnIgnoredKeys(reference, paths[0]);
        requireMachine(reference, "reference " + paths[0]);
        Topology machine;
        if (paths.size() == 2) {
            machine = readMachineFile(paths[1]);
            warnIgnoredKeys(machine, paths[1]);
            requireMachine(machine, paths[1]);
        } else {
            machine = readLiveMachine();
        }
        const std::vector<std::string> lines =
            diffTopologies(reference, machine, DiffOptions{line.has("--all")});
        std::string text;
        for (const std::string& difference : lines) {
            text += difference + "\n";
        }
        writeOutput("-", text + counted(lines.size()) + "\n", true);
        return lines.empty() ? sameStatus : differStatus;
    } catch (const std::exception& failure) {
        // Each line of a message, advice after a failed open too, names the program.
        const std::string message = failure.what();
        for (std::size_t start = 0; start < message.size();) {
            const std::size_t end = std::min(message.find('\n', start), message.size());
            std::cerr << "kfdtopo-diff: " << message.substr(start, end - start) << "\n";
            start = end + 1;
        }
        return troubleStatus;
    }
}
}  // namespace

int main(int argc, char** argv) {
    return statusAfterClosingStandardOutput("kfdtopo-diff", run(argc, argv), troubleStatus);
}
