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

#include "sim/default_topology.h"
#include "sim/json_fixture.h"
#include "sim/json_writer.h"
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

TEST_F(TopologyCapture, TakesEveryRecordOfTheDefaultTopology) {
    const Topology captured = capture("");
    EXPECT_TRUE(captured.faults.empty());
    EXPECT_EQ(writeJsonFixture(captured), writeJsonFixture(defaultTopology()));
}

TEST_F(TopologyCapture, WalksCounterBlocksOfAnySize) {
    // Blocks of 0, 2 and 1 counters: each next block starts after the last counter.
    const TempFixture fixture(R"({"nodes": [{
        "properties": {"NumFComputeCores": 1},
        "counters": {"NumConcurrent": 3, "blocks": [
            {"BlockId": "0e176789-46ed-4b02-972a-916d2fac244a", "NumConcurrent": 1},
            {"BlockId": "b5c396b6-d310-47e4-86fc-5cc3043af508", "NumConcurrent": 2, "counters": [
                {"Type": 1, "CounterId": 18446744073709551615, "CounterSizeInBits": 48,
                 "CounterMask": 281474976710655, "Flags": 4294967295, "BlockIndex": 1},
                {"Type": 4294967295, "CounterId": 7, "CounterSizeInBits": 4294967295,
                 "CounterMask": 1, "Flags": 9, "BlockIndex": 4294967295}]},
            {"BlockId": [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16],
             "NumConcurrent": 4294967295, "counters": [{"CounterId": 12}]}]}}]})");
    const Topology captured = capture(fixture.path);
    EXPECT_TRUE(captured.faults.empty());
    EXPECT_EQ(writeJsonFixture(captured), writeJsonFixture(loadJsonFixture(fixture.path)));
}

TEST_F(TopologyCapture, FailedOpenEndsTheCapture) {
    const Topology captured = capture(testDataPath("fault-open.json"));
    EXPECT_EQ(faultTexts(captured), std::vector<std::string>{"hsaKmtOpenKFD status 5"});
    EXPECT_TRUE(captured.nodes.empty());
}

TEST_F(TopologyCapture, FailedVersionOrAcquireEndsTheCapture) {
    // The acquire fault of fault-version is never reached, like in kfdtopo.
    Topology captured = capture(testDataPath("fault-version.json"));
    EXPECT_EQ(faultTexts(captured), std::vector<std::string>{"hsaKmtGetVersion status -1"});
    EXPECT_TRUE(captured.nodes.empty());
    static_cast<void>(hsaKmtCloseKFD());

    captured = capture(testDataPath("fault-acquire.json"));
    EXPECT_EQ(faultTexts(captured),
              std::vector<std::string>{"hsaKmtAcquireSystemProperties status 2147483647"});
    EXPECT_EQ(captured.version.KernelInterfaceMinorVersion, 16u);
    EXPECT_TRUE(captured.nodes.empty());
}

TEST_F(TopologyCapture, FailedReleaseSkipsTheClose) {
    const Topology captured = capture(testDataPath("fault-release.json"));
    EXPECT_EQ(faultTexts(captured),
              std::vector<std::string>{"hsaKmtReleaseSystemProperties status 20"});
    EXPECT_EQ(captured.nodes.size(), 1u);
}

TEST_F(TopologyCapture, FailedNodeQueryLeavesAZeroNodeAndTheNextNodesFollow) {
    const Topology captured = capture(testDataPath("node-values.json"));
    EXPECT_EQ(faultTexts(captured),
              (std::vector<std::string>{"hsaKmtGetClockCounters node 1 status 5",
                                        "hsaKmtGetNodeProperties node 4 status 7"}));
    ASSERT_EQ(captured.nodes.size(), 6u);
    EXPECT_EQ(captured.nodes[4].properties.NumFComputeCores, 0u);
    EXPECT_EQ(captured.nodes[4].properties.Capability.Value, 0u);
    EXPECT_EQ(captured.nodes[5].properties.Capability.Value, 8192u);
    const HSAuint64 frequency = captured.nodes[0].clock.SystemClockFrequencyHz;  // packed
    EXPECT_EQ(frequency, 255u);
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

TEST_F(TopologyCapture, RecordsBeyondWhatTheLibraryFillsStayZero) {
    const Topology captured = capture(testDataPath("count-mismatch.json"));
    ASSERT_EQ(captured.nodes.size(), 2u);
    const TopologyNode& node = captured.nodes[1];
    ASSERT_EQ(node.memBanks.size(), 2u);
    EXPECT_EQ(node.memBanks[0].Width, 64u);
    EXPECT_EQ(node.memBanks[1].Width, 0u);
    EXPECT_EQ(node.ioLinks.size(), 1u);
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
