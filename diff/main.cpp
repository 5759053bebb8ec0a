// kfdtopo-diff entry point: compares this machine, or a named one, with a reference machine.
#include <algorithm>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "diff/machine_source.h"
#include "diff/topology_diff.h"
#include "fixture/json_fixture.h"
#include "fixture/topology.h"

namespace {

constexpr const char* usage = "Usage: kfdtopo-diff [--all] REFERENCE [MACHINE]\n";

constexpr int sameStatus = 0;
constexpr int differStatus = 1;
constexpr int troubleStatus = 2;

std::string help() {
    std::string text = usage;
    text +=
        "Compares MACHINE (default: this machine, through libhsakmt) with REFERENCE, each a\n"
        "fixture of kfdtopo-export (.json, .json.gz) or a captured KFD topology tree: CPUs by\n"
        "their order, GPUs by PCI location, partitions by PCI function, one difference a line,\n"
        "then their count. Exit status: 0 same, 1 different, 2 trouble.\n"
        "  --all   also compare the fields left out by default:\n";
    for (const std::string& line : leftOutFields()) {
        text += "            " + line + "\n";
    }
    return text;
}

struct Arguments {
    bool allFields = false;
    std::vector<std::string> paths;
};

// Throws std::invalid_argument for arguments that name no comparison.
Arguments parseArguments(int argc, char** argv) {
    Arguments arguments;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && argument == "--all") {
            arguments.allFields = true;
        } else if (!optionsEnded && argument.size() > 1 && argument.front() == '-') {
            throw std::invalid_argument("unknown option " + std::string(argument));
        } else {
            arguments.paths.emplace_back(argument);
        }
    }
    if (arguments.paths.empty() || arguments.paths.size() > 2) {
        throw std::invalid_argument("one REFERENCE and at most one MACHINE");
    }
    return arguments;
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

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::cout << help();
        return sameStatus;
    }
    Arguments arguments;
    try {
        arguments = parseArguments(argc, argv);
    } catch (const std::exception& failure) {
        std::cerr << "kfdtopo-diff: " << failure.what() << "\n" << usage;
        return troubleStatus;
    }
    try {
        Topology reference;
        try {
            reference = readMachineFile(arguments.paths[0]);
        } catch (const std::exception& failure) {
            throw std::runtime_error("reference " + std::string(failure.what()));
        }
        warnIgnoredKeys(reference, arguments.paths[0]);
        requireMachine(reference, "reference " + arguments.paths[0]);
        Topology machine;
        if (arguments.paths.size() == 2) {
            machine = readMachineFile(arguments.paths[1]);
            warnIgnoredKeys(machine, arguments.paths[1]);
            requireMachine(machine, arguments.paths[1]);
        } else {
            machine = readLiveMachine();
        }
        const std::vector<std::string> lines =
            diffTopologies(reference, machine, DiffOptions{arguments.allFields});
        for (const std::string& line : lines) {
            std::cout << line << "\n";
        }
        std::cout << counted(lines.size()) << "\n" << std::flush;
        if (!std::cout) {
            throw std::runtime_error("cannot write to standard output");
        }
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
