// Failure sweep: every libhsakmt call fails in turn, per node, with several statuses.
#include <array>
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/escapes.h"
#include "tests/support/paths.h"
#include "tests/support/process.h"

namespace {
constexpr std::array<int, 6> statuses{1, 5, 20, -1, 2147483647, -2147483647 - 1};
constexpr std::string_view baseFixture = "sweep";
constexpr int runFailureExit = 2;

using Lines = std::vector<std::string>;

Lines splitLines(const std::string& text) {
    Lines lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start + 1));
        start = end + 1;
    }
    return lines;
}

std::string joinLines(const Lines& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
    }
    return text;
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string message(int status, const std::string& action) {
    return "HSAKMT Error " + std::to_string(status) + ": Could not " + action;
}

std::string errorLine(int level, int status, const std::string& action) {
    return std::string(4 * static_cast<std::size_t>(level), ' ') + errorPrefix +
           message(status, action) + "\n";
}

// The report of the fault-free run, cut where the rules of each failure cut it.
class Report {
  public:
    explicit Report(Lines reportLines) : lines(std::move(reportLines)) {}

    std::size_t nodeCount() const {
        std::size_t count = 0;
        for (const std::string& line : lines) {
            count += startsWith(line, bold + "Node ") ? 1 : 0;
        }
        return count;
    }

    // Lines [0, end of node's title line].
    Lines upToNodeTitle(std::size_t node) const {
        const std::size_t title = nodeTitle(node);
        return Lines(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(title) + 1);
    }

    Lines firstLines(std::size_t count) const {
        return Lines(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(count));
    }

    const Lines& all() const { return lines; }

    // The node's property line that starts with label, as printed.
    std::string property(std::size_t node, const std::string& label) const {
        for (std::size_t i = nodeTitle(node) + 1; i < nodeEnd(node); ++i) {
            if (startsWith(lines[i], "    " + label)) {
                return lines[i].substr(4 + label.size(), lines[i].size() - 5 - label.size());
            }
        }
        return "";
    }

    // The report with the node's sections whose titles start with titlePrefix (and their
    // lines) replaced by one line; unchanged when the node has no such section.
    Lines replaceSections(std::size_t node, const std::string& titlePrefix,
                          const std::string& replacement) const {
        std::size_t first = 0;
        std::size_t last = 0;
        for (std::size_t i = nodeTitle(node) + 1; i < nodeEnd(node); ++i) {
            if (startsWith(lines[i], "    " + bold + titlePrefix)) {
                first = first == 0 ? i : first;
                last = i + 1;
                while (last < nodeEnd(node) && startsWith(lines[last], "        ")) {
                    ++last;
                }
            }
        }
        Lines result = lines;
        if (first == 0) {
            return result;
        }
        result.erase(result.begin() + static_cast<std::ptrdiff_t>(first),
                     result.begin() + static_cast<std::ptrdiff_t>(last));
        result.insert(result.begin() + static_cast<std::ptrdiff_t>(first), replacement);
        return result;
    }

    // The report with a line inserted right after the node's line that starts with label.
    Lines insertAfter(std::size_t node, const std::string& label,
                      const std::string& inserted) const {
        Lines result = lines;
        for (std::size_t i = nodeTitle(node) + 1; i < nodeEnd(node); ++i) {
            if (startsWith(lines[i], "    " + label)) {
                result.insert(result.begin() + static_cast<std::ptrdiff_t>(i) + 1, inserted);
                break;
            }
        }
        return result;
    }

    Lines replaceLine(std::size_t node, const std::string& label,
                      const std::string& replacement) const {
        Lines result = lines;
        for (std::size_t i = nodeTitle(node) + 1; i < nodeEnd(node); ++i) {
            if (startsWith(lines[i], "    " + label)) {
                result[i] = replacement;
            }
        }
        return result;
    }

  private:
    std::size_t nodeTitle(std::size_t node) const {
        const std::string title = titleLine("Node " + std::to_string(node));
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i] == title) {
                return i;
            }
        }
        ADD_FAILURE() << "no title of node " << node;
        return 0;
    }

    std::size_t nodeEnd(std::size_t node) const {
        std::size_t end = nodeTitle(node) + 1;
        while (end < lines.size() && !startsWith(lines[end], bold)) {
            ++end;
        }
        return end;
    }

    Lines lines;
};

struct Expected {
    int exitStatus;
    Lines out;
    std::string err;
};

class FailureSweep : public ::testing::Test {
  protected:
    void SetUp() override {
        const ProcessResult clean = runKfdtopoOnSim(std::string(baseFixture) + ".json");
        ASSERT_EQ(clean.exitStatus, 0);
        ASSERT_EQ(clean.err, "");
        base = splitLines(clean.out);
        ASSERT_GE(Report(base).nodeCount(), 3u);
    }

    // Runs kfdtopo on the base fixture with the given fault entries added.
    ProcessResult runWithFaults(const std::string& faults) {
        std::string fixture =
            readText(std::string(testDataDir) + "/" + std::string(baseFixture) + ".json");
        fixture.erase(fixture.rfind('}'));
        fixture += ", \"faults\": [" + faults + "] }\n";
        // One file per process: the sweep's tests may run in parallel.
        const std::string path =
            ::testing::TempDir() + "kfdtopo-sweep-" + std::to_string(getpid()) + ".json";
        std::ofstream(path, std::ios::binary) << fixture;
        ProcessResult result = runKfdtopoOnSim(path);
        std::remove(path.c_str());
        return result;
    }

    void check(const std::string& faults, const Expected& expected, const std::string& what) {
        const ProcessResult result = runWithFaults(faults);
        EXPECT_EQ(result.exitStatus, expected.exitStatus) << what;
        EXPECT_EQ(result.out, joinLines(expected.out)) << what;
        EXPECT_EQ(result.err, expected.err) << what;
    }

    static std::string fault(const std::string& call, int status) {
        return R"({ "call": ")" + call + R"(", "status": )" + std::to_string(status) + " }";
    }

    static std::string nodeFault(const std::string& call, std::size_t node, int status) {
        return R"({ "call": ")" + call + R"(", "node": )" + std::to_string(node) +
               R"(, "status": )" + std::to_string(status) + " }";
    }

    Lines base;
};

TEST_F(FailureSweep, RunLevelCallsEndTheRunKeepingTheReportSoFar) {
    const Report report(base);
    for (int status : statuses) {
        const std::string what = "status " + std::to_string(status);
        check(fault("hsaKmtOpenKFD", status),
              {runFailureExit, {}, message(status, "open KFD") + "\n"}, "open, " + what);
        check(fault("hsaKmtGetVersion", status),
              {runFailureExit, report.firstLines(1), message(status, "get HSAKMT version") + "\n"},
              "version, " + what);
        check(fault("hsaKmtAcquireSystemProperties", status),
              {runFailureExit, report.firstLines(2),
               message(status, "acquire system properties") + "\n"},
              "acquire, " + what);
        // After a failed release, close is not called: its own fault would show.
        check(fault("hsaKmtReleaseSystemProperties", status) + ", " + fault("hsaKmtCloseKFD", 99),
              {runFailureExit, report.all(), message(status, "release system properties") + "\n"},
              "release, " + what);
        check(fault("hsaKmtCloseKFD", status),
              {runFailureExit, report.all(), message(status, "close KFD") + "\n"},
              "close, " + what);
    }
}

TEST_F(FailureSweep, NodePropertiesFailureLeavesOnlyTheNodeTitle) {
    const Report report(base);
    for (int status : statuses) {
        for (std::size_t node = 0; node < report.nodeCount(); ++node) {
            // Nothing runs after it: a release fault would show on stderr.
            check(nodeFault("hsaKmtGetNodeProperties", node, status) + ", " +
                      fault("hsaKmtReleaseSystemProperties", 99),
                  {runFailureExit, report.upToNodeTitle(node),
                   message(status, "get node properties") + "\n"},
                  "node " + std::to_string(node) + ", status " + std::to_string(status));
        }
    }
}

TEST_F(FailureSweep, GuardedNodeQueriesBecomeOneErrorLineAndTheReportGoesOn) {
    const Report report(base);
    for (int status : statuses) {
        for (std::size_t node = 0; node < report.nodeCount(); ++node) {
            const std::string what =
                "node " + std::to_string(node) + ", status " + std::to_string(status);
            check(nodeFault("hsaKmtGetClockCounters", node, status),
                  {0,
                   report.replaceLine(node, "System clock frequency: ",
                                      errorLine(1, status, "get clock counters")),
                   ""},
                  "clock, " + what);

            // The bank query is made for every node, also without banks.
            const std::string bankError = errorLine(1, status, "get node memory properties");
            Lines banks = report.replaceSections(node, "Memory ", bankError);
            if (banks == report.all()) {
                banks = report.insertAfter(node, "System clock frequency: ", bankError);
            }
            check(nodeFault("hsaKmtGetNodeMemoryProperties", node, status), {0, banks, ""},
                  "banks, " + what);

            // Links only where the node has some, counters only on GPU nodes.
            const bool hasLinks = report.property(node, "IO links: ") != "0";
            check(nodeFault("hsaKmtGetNodeIoLinkProperties", node, status),
                  {0,
                   hasLinks
                       ? report.replaceSections(node, "IO Link ",
                                                errorLine(1, status, "get node IO link properties"))
                       : report.all(),
                   ""},
                  "links, " + what);
            const bool hasSimds = report.property(node, "GPU SIMDs: ") != "0";
            check(nodeFault("hsaKmtPmcGetCounterProperties", node, status),
                  {0,
                   hasSimds ? report.replaceSections(
                                  node, "Performance Counters",
                                  errorLine(1, status, "get node performance counter properties"))
                            : report.all(),
                   ""},
                  "counters, " + what);
        }
    }
}
}  // namespace
