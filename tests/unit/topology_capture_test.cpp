// Unit tests of the exporter's capture, run in process against kfdsim.
#include "export/topology_capture.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>
#include <hsakmt/hsakmt.h>

#include "sim/fixture/json_fixture.h"
#include "tests/support/sim_fixture.h"

namespace {

// A fixture file written for one test and removed after it.
class TempFixture {
  public:
    explicit TempFixture(const std::string& text) {
        std::string pattern = "/tmp/kfdtopo-capture-XXXXXX";
        const int fd = mkstemp(pattern.data());
        if (fd < 0) {
            throw std::runtime_error("mkstemp failed");
        }
        close(fd);
        path = pattern;
        std::ofstream(path, std::ios::binary) << text;
    }
    ~TempFixture() { unlink(path.c_str()); }
    TempFixture(const TempFixture&) = delete;
    TempFixture& operator=(const TempFixture&) = delete;

    std::string path;
};

// Each fault as "<call>[ node <n>] status <s>", to compare lists at a glance.
std::vector<std::string> faultTexts(const Topology& topology) {
    std::vector<std::string> texts;
    for (const Fault& fault : topology.faults) {
        std::string text(kfdCallName(fault.call));
        if (fault.node) {
            text += " node " + std::to_string(*fault.node);
        }
        texts.push_back(text + " status " + std::to_string(fault.status));
    }
    return texts;
}

class TopologyCapture : public ::testing::Test {
  protected:
    static Topology capture(const std::string& source) {
        setenv("KFDSIM_TOPOLOGY", source.c_str(), 1);
        return captureTopology();
    }

    void TearDown() override {
        // A capture that stops at a failure leaves KFD open, as kfdtopo does; the next test
        // opens it again.
        static_cast<void>(hsaKmtCloseKFD());
        unsetenv("KFDSIM_TOPOLOGY");
    }
};

// Every record of every fixture is compared by the round trip tests; these check which calls
// the capture makes and where it stops.

TEST_F(TopologyCapture, FailuresAreRecordedAndEndTheCaptureWhereKfdtopoStops) {
    struct Case {
        const char* fixture;
        std::vector<std::string> faults;
        std::size_t nodes;
    };
    const Case cases[] = {
        {"fault-open.json", {"hsaKmtOpenKFD status 5"}, 0},
        // The acquire fault of fault-version is never reached, like in kfdtopo.
        {"fault-version.json", {"hsaKmtGetVersion status -1"}, 0},
        {"fault-acquire.json", {"hsaKmtAcquireSystemProperties status 2147483647"}, 0},
        {"fault-release.json", {"hsaKmtReleaseSystemProperties status 20"}, 1},
        // A failed node query leaves a zero node; the next nodes follow.
        {"node-values.json",
         {"hsaKmtGetClockCounters node 1 status 5", "hsaKmtGetNodeProperties node 4 status 7"},
         6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        const Topology captured = capture(testDataPath(c.fixture));
        EXPECT_EQ(faultTexts(captured), c.faults);
        EXPECT_EQ(captured.nodes.size(), c.nodes);
        static_cast<void>(hsaKmtCloseKFD());
    }
}

TEST_F(TopologyCapture, AsksForSubRecordsOnlyWhereKfdtopoDoes) {
    // Every sub-query of both nodes fails, so each call made shows as a fault. Node 0 has no
    // banks, links or SIMDs: only its banks are asked for, with a count of 0.
    const TempFixture fixture(R"({
        "nodes": [{}, {"properties": {"NumMemoryBanks": 1, "NumIOLinks": 1,
                                      "NumFComputeCores": 1}}],
        "faults": [{"call": "hsaKmtGetNodeMemoryProperties", "status": 5},
                   {"call": "hsaKmtGetNodeIoLinkProperties", "status": 6},
                   {"call": "hsaKmtPmcGetCounterProperties", "status": 7}]})");
    const Topology captured = capture(fixture.path);
    EXPECT_EQ(faultTexts(captured),
              (std::vector<std::string>{"hsaKmtGetNodeMemoryProperties node 0 status 5",
                                        "hsaKmtGetNodeMemoryProperties node 1 status 5",
                                        "hsaKmtGetNodeIoLinkProperties node 1 status 6",
                                        "hsaKmtPmcGetCounterProperties node 1 status 7"}));
    ASSERT_EQ(captured.nodes.size(), 2u);
    EXPECT_TRUE(captured.nodes[1].memBanks.empty());
    EXPECT_TRUE(captured.nodes[1].ioLinks.empty());
    EXPECT_FALSE(captured.nodes[1].counters);
}

TEST_F(TopologyCapture, NegativeCountsAreNeverAskedFor) {
    const TempFixture fixture(R"({
        "nodes": [{"properties": {"NumMemoryBanks": 4294967295, "NumIOLinks": 2147483648},
                   "mem_banks": [{"Width": 1}], "io_links": [{"Weight": 1}]}],
        "faults": [{"call": "hsaKmtGetNodeMemoryProperties", "status": 5},
                   {"call": "hsaKmtGetNodeIoLinkProperties", "status": 5}]})");
    const Topology captured = capture(fixture.path);
    EXPECT_TRUE(captured.faults.empty());
    ASSERT_EQ(captured.nodes.size(), 1u);
    EXPECT_TRUE(captured.nodes[0].memBanks.empty());
    EXPECT_TRUE(captured.nodes[0].ioLinks.empty());
    EXPECT_EQ(captured.nodes[0].properties.NumMemoryBanks, 4294967295u);
    EXPECT_EQ(captured.nodes[0].properties.NumIOLinks, 2147483648u);
}

TEST_F(TopologyCapture, NodeCountOfTwoToThe31OrMoreAsksForNoNode) {
    const TempFixture fixture(R"({"system": {"NumNodes": 2147483648}, "nodes": [{}],
        "faults": [{"call": "hsaKmtGetNodeProperties", "status": 5}]})");
    const Topology captured = capture(fixture.path);
    EXPECT_TRUE(captured.faults.empty());
    EXPECT_TRUE(captured.nodes.empty());
    EXPECT_EQ(captured.system.NumNodes, 2147483648u);
}

TEST_F(TopologyCapture, NodeCountBeyondTheNodesStopsAfter16FailuresInARow) {
    const TempFixture fixture(R"({"system": {"NumNodes": 1000}, "nodes": [{}],
        "faults": [{"call": "hsaKmtCloseKFD", "status": 9}]})");
    const Topology captured = capture(fixture.path);
    std::vector<std::string> expected;
    for (int node = 1; node <= 16; ++node) {
        expected.push_back("hsaKmtGetNodeProperties node " + std::to_string(node) + " status 5");
    }
    expected.emplace_back("hsaKmtCloseKFD status 9");
    EXPECT_EQ(faultTexts(captured), expected);
    EXPECT_EQ(captured.nodes.size(), 17u);
}

}  // namespace
