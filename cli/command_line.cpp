// Command line: a tool's declared options read the same way by every tool.
#include "cli/command_line.h"

#include <algorithm>

#include "text/hex_text.h"

namespace {

constexpr std::string_view helpOption = "--help";
constexpr std::string_view versionOption = "--version";
// Option help starts in this column, as far as the option's own text allows.
constexpr std::size_t helpColumn = 19;

const OptionSpec* findOption(const ProgramSpec& program, std::string_view name) {
    const OptionSpec* end = program.options + program.optionCount;
    const OptionSpec* found = std::find_if(
        program.options, end, [name](const OptionSpec& option) { return option.name == name; });
    return found == end ? nullptr : found;
}

std::string optionLine(std::string_view names, std::string_view help) {
    std::string line = "  " + std::string(names);
    // Names too long for the column: the help starts on the next line.
    line += line.size() + 1 < helpColumn ? std::string(helpColumn - line.size(), ' ')
                                         : "\n" + std::string(helpColumn, ' ');
    // A help of several lines goes on in the same column.
    for (const char c : help) {
        line.push_back(c);
        if (c == '\n') {
            line.append(helpColumn, ' ');
        }
    }
    return line + "\n";
}

// A flag given as "--flag=value".
void refuseValue(std::string_view name, bool hasValue) {
    if (hasValue) {
        throw UsageError(std::string(name) + " takes no value");
    }
}

}  // namespace

bool CommandLine::has(std::string_view name) const { return options.find(name) != options.end(); }

std::optional<std::string> CommandLine::value(std::string_view name) const {
    const auto found = options.find(name);
    if (found == options.end()) {
        return std::nullopt;
    }
    return found->second;
}

CommandLine parseCommandLine(const ProgramSpec& program, int argc, const char* const* argv) {
    CommandLine line;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view given = argv[i];
        // A lone "-" names standard output, as an argument.
        if (optionsEnded || given.empty() || given.front() != '-' || given == "-") {
            if (line.arguments.size() == program.maxArguments) {
                throw UsageError("unexpected argument " + quoted(given));
            }
            line.arguments.emplace_back(given);
            continue;
        }
        if (given == "--") {
            optionsEnded = true;
            continue;
        }
        const std::size_t equals = given.find('=');
        const bool hasValue = equals != std::string_view::npos && given.substr(0, 2) == "--";
        const std::string_view name = hasValue ? given.substr(0, equals) : given;
        if (name == helpOption || name == "-h") {
            refuseValue(name, hasValue);
            line.request = Request::help;
            return line;
        }
        if (name == versionOption) {
            refuseValue(name, hasValue);
            line.request = Request::version;
            return line;
        }
        const OptionSpec* option = findOption(program, name);
        if (option == nullptr) {
            throw UsageError("unknown option " + quoted(name));
        }
        if (option->value.empty()) {
            refuseValue(name, hasValue);
            line.options[std::string(name)];
        } else if (hasValue) {
            line.options[std::string(name)] = given.substr(equals + 1);
        } else if (i + 1 < argc) {
            line.options[std::string(name)] = argv[++i];
        } else {
            throw UsageError(std::string(name) + " needs a value (" + std::string(option->value) +
                             ")");
        }
    }
    return line;
}

std::string helpText(const ProgramSpec& program) {
    std::string text = std::string(program.usage) + "\n       " + std::string(program.name) +
                       " --help | --version\n" + std::string(program.description);
    for (std::size_t i = 0; i < program.optionCount; ++i) {
        const OptionSpec& option = program.options[i];
        std::string names(option.name);
        if (!option.value.empty()) {
            names.append(" ").append(option.value);
        }
        text += optionLine(names, option.help);
    }
    text += optionLine("-h, --help", "print this help");
    return text + optionLine("--version", "print the version");
}

std::string versionText(const ProgramSpec& program) {
    return std::string(program.name) + " " + KFDTOPO_VERSION + "\n";
}

std::string usageErrorText(const ProgramSpec& program, const UsageError& wrong) {
    return std::string(program.name) + ": " + wrong.what() + "\n" + std::string(program.usage) +
           "\n";
}

std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7e || c == '"' || c == '\\') {
            out.append("\\x").append(hexText(byte, 2));
        } else {
            out.push_back(c);
        }
    }
    return out + "\"";
}
