// Failure sweep: every libhsakmt call fails in turn, on every node, with several statuses; the
// expected report is the fault-free one cut or mended where the failure lands.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/call_trace_file.h"
#include "tests/support/escapes.h"
#include "tests/support/paths.h"
#include "tests/support/process.h"

namespace {
constexpr int statuses[] = {1, 5, 20, -1, 2147483647, -2147483647 - 1};

using Lines = std::vector<std::string>;  // each with its line end

std::string message(int status, const std::string& action) {
    return "HSAKMT Error " + std::to_string(status) + ": Could not " + action;
}

std::string fault(const std::string& call, int status, int node = -1) {
    return R"({ "call": ")" + call + (node < 0 ? "" : R"(", "node": )" + std::to_string(node)) +
           (node < 0 ? R"(", "status": )" : R"(, "status": )") + std::to_string(status) + " }";
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

class FailureSweep : public ::testing::Test {
  protected:
    void SetUp() override {
        std::ifstream in(std::string(testDataDir) + "/report/sweep.json", std::ios::binary);
        fixture.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        // The fault-free run, and the calls it makes: those the faults below can land on.
        const CallTraceFile trace;
        const ProcessResult clean =
            runProcess(std::string(kfdtopoBinary), {},
                       trace.environment({"KFDSIM_TOPOLOGY=report/sweep.json",
                                          "LD_LIBRARY_PATH=" + std::string(kfdsimDir)}),
                       std::string(testDataDir));
        ASSERT_EQ(clean.exitStatus, 0);
        calls = trace.calls();
        ASSERT_FALSE(calls.empty()) << "the call trace library was not called";
        for (std::size_t at = 0; at < clean.out.size();) {
            const std::size_t end = clean.out.find('\n', at) + 1;
            base.push_back(clean.out.substr(at, end - at));
            at = end;
        }
        for (const std::string& line : base) {
            nodes += startsWith(line, bold + "Node ") ? 1 : 0;
        }
        ASSERT_GE(nodes, 3);
    }

    // Runs kfdtopo on the sweep's machine with the given faults and checks what it prints.
    void check(const std::string& faults, int exitStatus, const Lines& out,
               const std::string& err) {
        std::string text = fixture.substr(0, fixture.rfind('}'));
        text += ", \"faults\": [" + faults + "] }\n";
        const std::string path =
            ::testing::TempDir() + "kfdtopo-sweep-" + std::to_string(getpid()) + ".json";
        std::ofstream(path, std::ios::binary) << text;
        const ProcessResult result = runKfdtopoOnSim(path);
        std::remove(path.c_str());
        std::string expected;
        for (const std::string& line : out) {
            expected += line;
        }
        EXPECT_EQ(result.exitStatus, exitStatus) << faults;
        EXPECT_EQ(result.out, expected) << faults;
        // A failure kfdsim replays gets no advice about this machine, status 20 included.
        EXPECT_EQ(result.err, err) << faults;
    }

    // Index of the node's title line and of the line after its section.
    std::size_t title(int node) const {
        std::size_t at = 0;
        while (at < base.size() && base[at] != titleLine("Node " + std::to_string(node))) {
            ++at;
        }
        return at;
    }
    std::size_t end(int node) const {
        std::size_t at = title(node) + 1;
        while (at < base.size() && !startsWith(base[at], bold)) {
            ++at;
        }
        return at;
    }

    // The report with the node's sections whose titles start with prefix, or else its line
    // after the one that starts with after (none: no change), replaced by one line.
    Lines mended(int node, const std::string& prefix, const std::string& line,
                 const std::string& after = "") const {
        Lines result = base;
        std::size_t first = 0;
        std::size_t last = 0;
        for (std::size_t i = title(node) + 1; i < end(node); ++i) {
            if (startsWith(base[i], "    " + bold + prefix)) {
                first = first == 0 ? i : first;
                for (last = i + 1; last < end(node) && startsWith(base[last], "        ");) {
                    ++last;
                }
            } else if (first == 0 && !after.empty() && startsWith(base[i], "    " + after)) {
                first = last = i + 1;
            }
        }
        if (first != 0) {
            result.erase(result.begin() + static_cast<std::ptrdiff_t>(first),
                         result.begin() + static_cast<std::ptrdiff_t>(last));
            result.insert(result.begin() + static_cast<std::ptrdiff_t>(first), line);
        }
        return result;
    }

    // The node's line that starts with label, as an index (end(node) when there is none).
    std::size_t find(int node, const std::string& label) const {
        std::size_t at = title(node) + 1;
        while (at < end(node) && !startsWith(base[at], "    " + label)) {
            ++at;
        }
        return at;
    }

    // The report with a failure of the node's call to function: `failed`, where the fault-free
    // run makes that call; else the fault-free report, since no call fails.
    Lines ifCalled(const std::string& function, int node, const Lines& failed) const {
        const std::string called = function + "(" + std::to_string(node);
        for (const std::string& call : calls) {
            if (startsWith(call, called + ")") || startsWith(call, called + ",")) {
                return failed;
            }
        }
        return base;
    }

    std::string fixture;
    Lines base;
    std::vector<std::string> calls;  // of the fault-free run
    int nodes = 0;
};

TEST_F(FailureSweep, RunLevelCallsEndTheRunKeepingTheReportSoFar) {
    for (int status : statuses) {
        check(fault("hsaKmtOpenKFD", status), 2, {}, message(status, "open KFD") + "\n");
        check(fault("hsaKmtGetVersion", status), 2, {base[0]},
              message(status, "get HSAKMT version") + "\n");
        check(fault("hsaKmtAcquireSystemProperties", status), 2, {base[0], base[1]},
              message(status, "acquire system properties") + "\n");
        // After a failed release, close is not called: its own fault would show.
        check(fault("hsaKmtReleaseSystemProperties", status) + ", " + fault("hsaKmtCloseKFD", 99),
              2, base, message(status, "release system properties") + "\n");
        check(fault("hsaKmtCloseKFD", status), 2, base, message(status, "close KFD") + "\n");
        for (int node = 0; node < nodes; ++node) {
            // Nothing runs after it: a release fault would show on stderr.
            check(fault("hsaKmtGetNodeProperties", status, node) + ", " +
                      fault("hsaKmtReleaseSystemProperties", 99),
                  2,
                  Lines(base.begin(), base.begin() + static_cast<std::ptrdiff_t>(title(node)) + 1),
                  message(status, "get node properties") + "\n");
        }
    }
}

TEST_F(FailureSweep, GuardedNodeQueriesBecomeOneErrorLineAndTheReportGoesOn) {
    for (int status : statuses) {
        for (int node = 0; node < nodes; ++node) {
            auto error = [status](const std::string& action) {
                return "    " + errorPrefix + message(status, action) + "\n";
            };
            const std::string clock = "System clock frequency: ";
            Lines clockFailed = base;
            clockFailed[find(node, clock)] = error("get clock counters");
            check(fault("hsaKmtGetClockCounters", status, node), 0,
                  ifCalled("hsaKmtGetClockCounters", node, clockFailed), "");
            check(fault("hsaKmtGetNodeMemoryProperties", status, node), 0,
                  ifCalled("hsaKmtGetNodeMemoryProperties", node,
                           mended(node, "Memory ", error("get node memory properties"), clock)),
                  "");
            check(fault("hsaKmtGetNodeIoLinkProperties", status, node), 0,
                  ifCalled("hsaKmtGetNodeIoLinkProperties", node,
                           mended(node, "IO Link ", error("get node IO link properties"))),
                  "");
            check(fault("hsaKmtPmcGetCounterProperties", status, node), 0,
                  ifCalled("hsaKmtPmcGetCounterProperties", node,
                           mended(node, "Performance Counters",
                                  error("get node performance counter properties"))),
                  "");
        }
    }
}
}  // namespace
