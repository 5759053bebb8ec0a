// Report structure check: a walk over the lines with a stack of open sections.
#include "tests/random/report_structure.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <vector>

namespace {
enum class Kind { Root, System, Node, Memory, IoLink, PerformanceCounters, Block, CounterType };

// How a value is written; each form has one pattern.
enum class Form {
    Decimal,
    Signed,
    Hex,      // "0x" and lowercase digits
    BareHex,  // lowercase digits only
    YesNo,
    Version,
    Gfxip,
    Links,
    WatchBits,
    IdRuns,
    Location,
    Doorbell,
    HeapType,
    LinkType,
    CounterType,
    BlockId,
    Scratch,
    Dispatch,
    ShareKind,
    Text,  // any bytes
};

struct LabelRule {
    Kind kind;
    std::string_view label;
    Form form;
    std::string_view unit = "";
    bool overrideFlag = false;  // an IO link's four flag lines stand all together or not at all
};

// Every line of every section, in report order.
// clang-format off
constexpr std::array labelRules{
    LabelRule{Kind::System, "HSAKMT Version", Form::Version},
    LabelRule{Kind::System, "Number of nodes", Form::Decimal},
    LabelRule{Kind::System, "Platform OEM", Form::Hex},
    LabelRule{Kind::System, "Platform ID", Form::Hex},
    LabelRule{Kind::System, "Platform revision", Form::Decimal},

    LabelRule{Kind::Node, "CPU threads", Form::Decimal},
    LabelRule{Kind::Node, "GPU SIMDs", Form::Decimal},
    LabelRule{Kind::Node, "Memory banks", Form::Decimal},
    LabelRule{Kind::Node, "Caches", Form::Decimal},
    LabelRule{Kind::Node, "IO links", Form::Decimal},
    LabelRule{Kind::Node, "CPU compute ID", Form::Hex},
    LabelRule{Kind::Node, "GPU compute ID", Form::Hex},
    LabelRule{Kind::Node, "Hot pluggable", Form::YesNo},
    LabelRule{Kind::Node, "Has ATS/PRI 1.1 compatible translation agent", Form::YesNo},
    LabelRule{Kind::Node, "Shared with graphics", Form::YesNo},
    LabelRule{Kind::Node, "Queues must be power of two", Form::YesNo},
    LabelRule{Kind::Node, "32-bit queue size", Form::YesNo},
    LabelRule{Kind::Node, "Notification on queue idle", Form::YesNo},
    LabelRule{Kind::Node, "Limited virtual address range", Form::YesNo},
    LabelRule{Kind::Node, "Watchpoints supported", Form::YesNo},
    LabelRule{Kind::Node, "Maximum watchpoints", Form::Decimal},
    LabelRule{Kind::Node, "Doorbell type", Form::Doorbell},
    LabelRule{Kind::Node, "Double virtual address map required", Form::YesNo},
    LabelRule{Kind::Node, "Debug trap supported", Form::YesNo},
    LabelRule{Kind::Node, "Wave launch trap override supported", Form::YesNo},
    LabelRule{Kind::Node, "Wave launch mode supported", Form::YesNo},
    LabelRule{Kind::Node, "Precise memory operations supported", Form::YesNo},
    LabelRule{Kind::Node, "SRAM EDC support (deprecated)", Form::YesNo},
    LabelRule{Kind::Node, "Memory EDC support", Form::YesNo},
    LabelRule{Kind::Node, "RAS event notify", Form::YesNo},
    LabelRule{Kind::Node, "ASIC revision", Form::Decimal},
    LabelRule{Kind::Node, "SRAM EDC support", Form::YesNo},
    LabelRule{Kind::Node, "SVM API supported", Form::YesNo},
    LabelRule{Kind::Node, "Coherent host access", Form::YesNo},
    LabelRule{Kind::Node, "Debug supported firmware", Form::YesNo},
    LabelRule{Kind::Node, "Maximum waves per GPU SIMD", Form::Decimal},
    LabelRule{Kind::Node, "LDS size", Form::Decimal, " KiB"},
    LabelRule{Kind::Node, "GDS size", Form::Decimal, " KiB"},
    LabelRule{Kind::Node, "Wavefront size", Form::Decimal},
    LabelRule{Kind::Node, "Shader engines", Form::Decimal},
    LabelRule{Kind::Node, "SIMD arrays per shader engine", Form::Decimal},
    LabelRule{Kind::Node, "Compute units per SIMD array", Form::Decimal},
    LabelRule{Kind::Node, "SIMDs per compute unit", Form::Decimal},
    LabelRule{Kind::Node, "Maximum scratch wave slots per CU", Form::Scratch},
    LabelRule{Kind::Node, "Engine ID microcode packet processor version", Form::Decimal},
    LabelRule{Kind::Node, "Engine ID GFXIP version", Form::Gfxip},
    LabelRule{Kind::Node, "Vendor ID", Form::Hex},
    LabelRule{Kind::Node, "Device ID", Form::Hex},
    LabelRule{Kind::Node, "Location ID", Form::Location},
    LabelRule{Kind::Node, "Local memory size", Form::Decimal, " B"},
    LabelRule{Kind::Node, "Maximum GPU clock frequency", Form::Decimal, " MHz"},
    LabelRule{Kind::Node, "Maximum CPU clock frequency", Form::Decimal, " MHz"},
    LabelRule{Kind::Node, "DRM render device ID", Form::Signed},
    LabelRule{Kind::Node, "Marketing name", Form::Text},
    LabelRule{Kind::Node, "CAL name", Form::Text},
    LabelRule{Kind::Node, "Engine SDMA microcode version", Form::Decimal},
    LabelRule{Kind::Node, "Watch address mask bits", Form::WatchBits},
    LabelRule{Kind::Node, "Dispatch info always valid", Form::Dispatch},
    LabelRule{Kind::Node, "Address watchpoint share kind", Form::ShareKind},
    LabelRule{Kind::Node, "Hive ID", Form::Decimal},
    LabelRule{Kind::Node, "SDMA engines", Form::Decimal},
    LabelRule{Kind::Node, "SDMA XGMI engines", Form::Decimal},
    LabelRule{Kind::Node, "SDMA queues per engine", Form::Decimal},
    LabelRule{Kind::Node, "CP queues", Form::Decimal},
    LabelRule{Kind::Node, "GWS barriers", Form::Decimal},
    LabelRule{Kind::Node, "PCIe domain", Form::Hex},
    LabelRule{Kind::Node, "Unique ID", Form::Hex},
    LabelRule{Kind::Node, "VGPR size per CU", Form::Decimal, " B"},
    LabelRule{Kind::Node, "SGPR size per CU", Form::Decimal, " B"},
    LabelRule{Kind::Node, "XCCs", Form::Decimal},
    LabelRule{Kind::Node, "KFD GPU ID", Form::Hex},
    LabelRule{Kind::Node, "Family ID", Form::Hex},
    LabelRule{Kind::Node, "System clock frequency", Form::Decimal, " Hz"},

    LabelRule{Kind::Memory, "Type", Form::HeapType},
    LabelRule{Kind::Memory, "Size", Form::Decimal, " B"},
    LabelRule{Kind::Memory, "Hot pluggable", Form::YesNo},
    LabelRule{Kind::Memory, "Non-volatile", Form::YesNo},
    LabelRule{Kind::Memory, "Width", Form::Decimal, " bits"},
    LabelRule{Kind::Memory, "Maximum clock frequency", Form::Decimal, " MHz"},
    LabelRule{Kind::Memory, "Virtual base address", Form::Hex},

    LabelRule{Kind::IoLink, "Type", Form::LinkType},
    LabelRule{Kind::IoLink, "Version", Form::Version},
    LabelRule{Kind::IoLink, "Links", Form::Links},
    LabelRule{Kind::IoLink, "Weight", Form::Decimal},
    LabelRule{Kind::IoLink, "Minimum latency", Form::Decimal, " ns"},
    LabelRule{Kind::IoLink, "Maximum latency", Form::Decimal, " ns"},
    LabelRule{Kind::IoLink, "Minimum bandwidth", Form::Decimal, " MiB/s"},
    LabelRule{Kind::IoLink, "Maximum bandwidth", Form::Decimal, " MiB/s"},
    LabelRule{Kind::IoLink, "Recommended transfer size", Form::Decimal, " B"},
    LabelRule{Kind::IoLink, "Coherent", Form::YesNo, "", true},
    LabelRule{Kind::IoLink, "32-bit atomics", Form::YesNo, "", true},
    LabelRule{Kind::IoLink, "64-bit atomics", Form::YesNo, "", true},
    LabelRule{Kind::IoLink, "Peer DMA", Form::YesNo, "", true},

    LabelRule{Kind::PerformanceCounters, "Blocks", Form::Decimal},
    LabelRule{Kind::PerformanceCounters, "Concurrent blocks", Form::Decimal},

    LabelRule{Kind::Block, "Block ID", Form::BlockId},
    LabelRule{Kind::Block, "Counters", Form::Decimal},
    LabelRule{Kind::Block, "Concurrent counters", Form::Decimal},

    LabelRule{Kind::CounterType, "IDs", Form::IdRuns},
    LabelRule{Kind::CounterType, "Type", Form::CounterType},
    LabelRule{Kind::CounterType, "Size", Form::Decimal, " bits"},
    LabelRule{Kind::CounterType, "Mask", Form::BareHex},
    LabelRule{Kind::CounterType, "Global", Form::YesNo},
    LabelRule{Kind::CounterType, "Resettable", Form::YesNo},
    LabelRule{Kind::CounterType, "Read only", Form::YesNo},
    LabelRule{Kind::CounterType, "Stream", Form::YesNo},
    LabelRule{Kind::CounterType, "Block index", Form::Decimal},
};
// clang-format on
static_assert(labelRules.size() == 5 + 68 + 7 + 13 + 2 + 3 + 9);

constexpr std::array<std::string_view, 2> doorbellNames{"pre-1.0", "post-1.0"};
constexpr std::array<std::string_view, 8> heapTypeNames{
    "System",  "Public framebuffer", "Private framebuffer", "GPU GDS",
    "GPU LDS", "GPU scratch",        "Device SVM",          "MMIO remap"};
constexpr std::array<std::string_view, 9> linkTypeNames{"Undefined", "HyperTransport", "PCIe",
                                                        "AMBA",      "MIPI",           "QPI 1.1",
                                                        "RapidIO",   "InfiniBand",     "Other"};
constexpr std::array<std::string_view, 4> counterTypeNames{
    "Privileged immediate", "Privileged streaming", "Non-privileged immediate",
    "Non-privileged streaming"};
constexpr std::array<std::string_view, 23> blockNames{"CB (Colour Buffer)",
                                                      "CPF",
                                                      "CPG",
                                                      "DB",
                                                      "GDS",
                                                      "GRBM",
                                                      "GRBMSE",
                                                      "IA",
                                                      "MC (Memory Controller)",
                                                      "PASC",
                                                      "PASU",
                                                      "SPI",
                                                      "SRBM",
                                                      "SQ",
                                                      "SX",
                                                      "TA",
                                                      "TCA (Texture Cache)",
                                                      "TCC (Texture Cache)",
                                                      "TCP",
                                                      "TCS",
                                                      "TD",
                                                      "VGT",
                                                      "WD"};

constexpr std::string_view boldOn = "\x1b[1m";
constexpr std::string_view boldOff = "\x1b[0m";
constexpr std::string_view errorPrefix = "\x1b[31;1mError\x1b[m: ";
constexpr std::uint64_t int32Max = 0x7FFFFFFF;

const std::string decimal = "(0|[1-9][0-9]*)";
const std::string run = decimal + "( - " + decimal + ")?";
const std::string hexDigits = "(0|[1-9a-f][0-9a-f]*)";

std::string escaped(std::string_view text) {
    std::string result;
    for (char c : text) {
        if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) {
            result += '\\';
        }
        result += c;
    }
    return result;
}

// The names of a table, or its "unknown (" fallback with `unknown` inside.
template <std::size_t N>
std::string namesOr(const std::array<std::string_view, N>& names, const std::string& unknown) {
    std::string pattern = "(";
    for (std::string_view name : names) {
        pattern += escaped(name) + "|";
    }
    return pattern + "unknown \\(" + unknown + "\\))";
}

std::string pattern(Form form) {
    const std::string signedValue = "(0|-?[1-9][0-9]*)";
    switch (form) {
        case Form::Decimal:
            return decimal;
        case Form::Signed:
            return signedValue;
        case Form::Hex:
            return "0x" + hexDigits;
        case Form::BareHex:
            return hexDigits;
        case Form::YesNo:
            return "(yes|no)";
        case Form::Version:
            return decimal + "\\." + decimal;
        case Form::Gfxip:
            return decimal + "\\." + decimal + "\\." + decimal;
        case Form::Links:
            return decimal + " -> " + decimal;
        case Form::WatchBits:
            return decimal + " - " + decimal;
        case Form::IdRuns:
            return run + "(, " + run + ")*";
        case Form::Location:
            return "[0-9a-f]{2}:[01][0-9a-f]\\.[0-7]( \\[0x[0-9a-f]{8}\\])?";
        case Form::Doorbell:
            return namesOr(doorbellNames, signedValue);
        case Form::HeapType:
            return namesOr(heapTypeNames, signedValue);
        case Form::LinkType:
            return namesOr(linkTypeNames, signedValue);
        case Form::CounterType:
            return namesOr(counterTypeNames, signedValue);
        case Form::BlockId:
            return namesOr(blockNames,
                           "[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}");
        case Form::Scratch:
            return "(unlimited|[1-9][0-9]*)";
        case Form::Dispatch:
            return "(yes|per-process)";
        case Form::ShareKind:
            return "(unshared|shared/unsupported)";
        case Form::Text:
            break;
    }
    return "[\\s\\S]*";
}

std::string_view kindName(Kind kind) {
    switch (kind) {
        case Kind::Root:
            return "top level";
        case Kind::System:
            return "System";
        case Kind::Node:
            return "Node";
        case Kind::Memory:
            return "Memory";
        case Kind::IoLink:
            return "IO Link";
        case Kind::PerformanceCounters:
            return "Performance Counters";
        case Kind::Block:
            return "Block";
        case Kind::CounterType:
            break;
    }
    return "Counter type";
}

// How often a title stands in its parent section: once, or repeated, with its number counted
// from 0 after the title's word or without a number.
enum class Times { Once, Numbered, Repeated };

// A section title allowed directly inside a section of kind `parent`.
struct TitleRule {
    Kind parent;
    Kind kind;
    std::string_view word;
    Times times;
};

constexpr std::array titleRules{
    TitleRule{Kind::Root, Kind::System, "System", Times::Once},
    TitleRule{Kind::Root, Kind::Node, "Node ", Times::Numbered},
    TitleRule{Kind::Node, Kind::Memory, "Memory ", Times::Numbered},
    TitleRule{Kind::Node, Kind::IoLink, "IO Link ", Times::Numbered},
    TitleRule{Kind::Node, Kind::PerformanceCounters, "Performance Counters", Times::Once},
    TitleRule{Kind::PerformanceCounters, Kind::Block, "Block ", Times::Numbered},
    TitleRule{Kind::Block, Kind::CounterType, "Counter type", Times::Repeated},
};

std::optional<std::uint64_t> number(std::string_view digits) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return value;
}

struct Frame {
    Kind kind;
    std::string title;
    std::size_t titleLine;
    std::map<std::string_view, std::string> values;  // by label
    std::size_t lastRule = 0;                        // index in labelRules of the last line
    std::map<Kind, std::uint64_t> children;
    Kind lastChild = Kind::Root;
    std::uint64_t ids = 0;  // IDs listed by the counter groups of a block
};

class Checker {
  public:
    std::string check(std::string_view report) {
        std::size_t lineNumber = 0;
        bool afterTitle = false;
        std::size_t start = 0;
        while (start < report.size()) {
            const std::size_t end = report.find('\n', start);
            if (end == std::string_view::npos) {
                return "line " + std::to_string(lineNumber + 1) +
                       ": the report does not end with a line break";
            }
            const std::string_view line = report.substr(start, end - start);
            start = end + 1;
            ++lineNumber;
            std::string problem = checkLine(line, lineNumber, afterTitle);
            if (!problem.empty()) {
                return "line " + std::to_string(lineNumber) + ": " + problem + "\n  " + shown(line);
            }
        }
        if (afterTitle) {
            return "end: the last title has no lines";
        }
        while (!stack.empty()) {
            std::string problem = close();
            if (!problem.empty()) {
                return "end: " + problem;
            }
        }
        return "";
    }

  private:
    static std::string shown(std::string_view line) {
        std::string text;
        for (char c : line) {
            text += c == '\x1b' ? std::string("\\e") : std::string(1, c);
        }
        return text;
    }

    std::string checkLine(std::string_view line, std::size_t lineNumber, bool& afterTitle) {
        const std::size_t spaces = std::min(line.find_first_not_of(' '), line.size());
        if (spaces % 4 != 0) {
            return "indentation of " + std::to_string(spaces) + " spaces is not a multiple of four";
        }
        const std::size_t level = spaces / 4;
        const std::size_t depth = stack.size() - 1;
        if (afterTitle && level != depth) {
            return "not one level deeper than the title before it";
        }
        if (level > depth) {
            return "indented deeper than its section";
        }
        while (stack.size() - 1 > level) {
            std::string problem = close();
            if (!problem.empty()) {
                return problem;
            }
        }
        const std::string_view body = line.substr(spaces);
        if (body.substr(0, errorPrefix.size()) == errorPrefix) {
            afterTitle = false;
            return "an error line";
        }
        if (body.substr(0, boldOn.size()) == boldOn) {
            afterTitle = true;
            return open(body, lineNumber);
        }
        afterTitle = false;
        return labelLine(body);
    }

    std::string open(std::string_view body, std::size_t lineNumber) {
        if (body.size() < boldOn.size() + boldOff.size() ||
            body.substr(body.size() - boldOff.size()) != boldOff) {
            return "a bold title without its reset";
        }
        const std::string_view title =
            body.substr(boldOn.size(), body.size() - boldOn.size() - boldOff.size());
        Frame& parent = stack.back();
        for (const TitleRule& rule : titleRules) {
            if (rule.parent != parent.kind || title.substr(0, rule.word.size()) != rule.word) {
                continue;
            }
            const std::string_view index = title.substr(rule.word.size());
            const std::uint64_t expected = parent.children[rule.kind];
            if (rule.times == Times::Numbered && std::to_string(expected) != index) {
                return "title \"" + std::string(title) + "\" where number " +
                       std::to_string(expected) + " of its kind belongs";
            }
            if (rule.times != Times::Numbered && !index.empty()) {
                continue;
            }
            if (rule.times == Times::Once && expected != 0) {
                return "a second \"" + std::string(title) + "\" section";
            }
            if (rule.kind < parent.lastChild) {
                return "title \"" + std::string(title) + "\" after a later kind of section";
            }
            ++parent.children[rule.kind];
            parent.lastChild = rule.kind;
            stack.push_back(
                Frame{rule.kind, std::string(title), lineNumber, {}, 0, {}, Kind::Root, 0});
            return "";
        }
        return "title \"" + std::string(title) + "\" does not belong in " +
               std::string(kindName(parent.kind));
    }

    std::string labelLine(std::string_view body) {
        Frame& frame = stack.back();
        const std::size_t colon = body.find(": ");
        if (colon == std::string_view::npos) {
            return "neither a title nor a \"label: value\" line";
        }
        const std::string_view label = body.substr(0, colon);
        std::string_view value = body.substr(colon + 2);
        std::size_t index = 0;
        while (index < labelRules.size() &&
               (labelRules[index].kind != frame.kind || labelRules[index].label != label)) {
            ++index;
        }
        if (index == labelRules.size()) {
            return "\"" + std::string(label) + "\" does not belong in " +
                   std::string(kindName(frame.kind));
        }
        const LabelRule& rule = labelRules[index];
        if (frame.values.count(rule.label) != 0) {
            return "\"" + std::string(label) + "\" given twice in " + frame.title;
        }
        if (index < frame.lastRule || !frame.children.empty()) {
            return "\"" + std::string(label) + "\" out of order in " + frame.title;
        }
        frame.lastRule = index;
        const bool hasUnit = value.size() >= rule.unit.size() &&
                             value.substr(value.size() - rule.unit.size()) == rule.unit;
        if (rule.form != Form::Text &&
            (!hasUnit || !matches(rule.form, value.substr(0, value.size() - rule.unit.size())))) {
            return "\"" + std::string(label) + "\" has the malformed value \"" +
                   std::string(value) + "\"";
        }
        if (rule.form == Form::IdRuns) {
            std::string problem = countIds(value, frame);
            if (!problem.empty()) {
                return problem;
            }
        }
        frame.values.emplace(rule.label, value);
        return "";
    }

    bool matches(Form form, std::string_view value) {
        auto found = patterns.find(form);
        if (found == patterns.end()) {
            found = patterns.emplace(form, std::regex(pattern(form))).first;
        }
        return std::regex_match(value.begin(), value.end(), found->second);
    }

    // Adds the IDs of "a - b, c, ..." to the block; runs must be maximal.
    static std::string countIds(std::string_view runs, Frame& group) {
        std::optional<std::uint64_t> previousLast;
        std::uint64_t total = 0;
        while (!runs.empty()) {
            const std::size_t comma = runs.find(", ");
            const std::string_view text = runs.substr(0, comma);
            runs = comma == std::string_view::npos ? "" : runs.substr(comma + 2);
            const std::size_t dash = text.find(" - ");
            const std::optional<std::uint64_t> first = number(text.substr(0, dash));
            const std::optional<std::uint64_t> last =
                dash == std::string_view::npos ? first : number(text.substr(dash + 3));
            if (!first || !last) {
                return "an ID wider than 64 bits";
            }
            if (dash != std::string_view::npos && *first == *last) {
                return "a run of one ID written as a range";
            }
            if (previousLast && *first == *previousLast + 1) {
                return "a run of IDs cut in two";
            }
            total += *last - *first + 1;
            previousLast = last;
        }
        group.ids = total;
        return "";
    }

    // The value of a count line as the number of sections it announces: counts passed on as
    // signed 32-bit numbers announce none above 2^31 - 1.
    static std::uint64_t announced(const Frame& frame, std::string_view label, bool signedCount) {
        const auto found = frame.values.find(label);
        const std::optional<std::uint64_t> value =
            found == frame.values.end() ? std::nullopt : number(found->second);
        return !value || (signedCount && *value > int32Max) ? 0 : *value;
    }

    // A section named by its title and the line of its title.
    static std::string where(const Frame& frame) {
        return frame.titleLine == 0
                   ? frame.title
                   : frame.title + " (line " + std::to_string(frame.titleLine) + ")";
    }

    static std::string countProblem(const Frame& frame, std::string_view label, bool signedCount,
                                    std::uint64_t actual, std::string_view what) {
        const std::uint64_t expected = announced(frame, label, signedCount);
        if (expected == actual) {
            return "";
        }
        return where(frame) + " has " + std::to_string(actual) + " " + std::string(what) +
               ", but \"" + std::string(label) + "\" announces " + std::to_string(expected);
    }

    // Closes the innermost section: its lines complete, its counts matching its sections.
    std::string close() {
        Frame frame = std::move(stack.back());
        stack.pop_back();
        bool anyFlag = false;
        for (const LabelRule& rule : labelRules) {
            anyFlag = anyFlag || (rule.kind == frame.kind && rule.overrideFlag &&
                                  frame.values.count(rule.label) != 0);
        }
        for (const LabelRule& rule : labelRules) {
            if (rule.kind == frame.kind && frame.values.count(rule.label) == 0 &&
                (!rule.overrideFlag || anyFlag)) {
                return where(frame) + " lacks \"" + std::string(rule.label) + "\"";
            }
        }
        const auto children = [&frame](Kind kind) { return frame.children[kind]; };
        switch (frame.kind) {
            case Kind::Root:
                if (children(Kind::System) != 1) {
                    return "no System section";
                }
                return countProblem(frame, "Number of nodes", true, children(Kind::Node),
                                    "node sections");
            case Kind::System:
                stack.back().values.emplace("Number of nodes", frame.values["Number of nodes"]);
                return "";
            case Kind::Node: {
                std::string problem = countProblem(frame, "Memory banks", true,
                                                   children(Kind::Memory), "memory sections");
                if (problem.empty()) {
                    problem = countProblem(frame, "IO links", true, children(Kind::IoLink),
                                           "IO link sections");
                }
                if (problem.empty() && announced(frame, "GPU SIMDs", false) == 0 &&
                    children(Kind::PerformanceCounters) != 0) {
                    problem = frame.title + " has performance counters without GPU SIMDs";
                }
                return problem;
            }
            case Kind::PerformanceCounters:
                return countProblem(frame, "Blocks", false, children(Kind::Block),
                                    "block sections");
            case Kind::Block:
                return countProblem(frame, "Counters", false, frame.ids, "counter IDs");
            case Kind::CounterType:
                stack.back().ids += frame.ids;
                return "";
            case Kind::Memory:
            case Kind::IoLink:
                break;
        }
        return "";
    }

    std::vector<Frame> stack{Frame{Kind::Root, "the report", 0, {}, 0, {}, Kind::Root, 0}};
    std::map<Form, std::regex> patterns;
};
}  // namespace

std::string reportStructureProblem(std::string_view report) { return Checker().check(report); }
