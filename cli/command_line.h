// Command line: a tool's declared options read the same way by every tool.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

/// One option of a tool: "--name", with a value named `value` when that is not empty; its help
/// may have several lines.
struct OptionSpec {
    std::string_view name;
    std::string_view value;
    std::string_view help;
};

/// What a tool takes: its options, how many other arguments, its usage line and its help.
struct ProgramSpec {
    std::string_view name;
    std::string_view usage;
    std::string_view description;
    const OptionSpec* options;
    std::size_t optionCount;
    std::size_t maxArguments;
};

/// What the command line asks for: a run, the help or the version.
enum class Request { run, help, version };

/// A command line read against a ProgramSpec.
struct CommandLine {
    Request request = Request::run;
    /// The given options by name ("--svg"), each with its last value ("" for a flag).
    std::map<std::string, std::string, std::less<>> options;
    std::vector<std::string> arguments;

    /// Whether the option was given.
    bool has(std::string_view name) const;
    /// The option's last value, if given.
    std::optional<std::string> value(std::string_view name) const;
};

/// A wrong command line; the message says what is wrong, without the program's name.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// Reads `--option value`, `--option=value`, `--help`, `-h`, `--version` and `--` (the rest
/// are arguments). The first --help or --version ends the reading.
/// Throws UsageError for an unknown option, a missing or unwanted value, or too many arguments.
CommandLine parseCommandLine(const ProgramSpec& program, int argc, const char* const* argv);

/// The usage line, the --help and --version line, the description and one line per option.
std::string helpText(const ProgramSpec& program);

/// "<program> <version>" and a line end.
std::string versionText(const ProgramSpec& program);

/// "<program>: <what is wrong>", then the usage line, each with a line end.
std::string usageErrorText(const ProgramSpec& program, const UsageError& wrong);

/// `text` in double quotes, bytes outside printable ASCII written as \xHH.
std::string quoted(std::string_view text);
