// Unit tests of the kfdsim C functions, called through the built library.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>
#include <hsakmt/hsakmt.h>

namespace {

// Packed 64-bit members are copied out: EXPECT_EQ would bind references to them.
template <typename T>
T copied(T value) {
    return value;
}

// A node with two banks and one link, a node with counters, and one more node announced.
constexpr const char* twoNodes = R"({
    "version": {"KernelInterfaceMajorVersion": 1, "KernelInterfaceMinorVersion": 16},
    "system": {"NumNodes": 3, "PlatformOem": 7},
    "nodes": [
        {"properties": {"NumCPUCores": 16, "NumMemoryBanks": 5, "MarketingName": "CPU",
                        "FamilyID": 99},
         "clock": {"SystemClockFrequencyHz": 1000000000},
         "mem_banks": [{"SizeInBytes": 1024, "Width": 64}, {"HeapType": 1, "SizeInBytes": 2048}],
         "io_links": [{"IoLinkType": 2, "NodeFrom": 0, "NodeTo": 1, "Weight": 20}]},
        {"properties": {"NumFComputeCores": 304},
         "clock": {"GPUClockCounter": 12345, "SystemClockFrequencyHz": 100000000},
         "counters": {"NumConcurrent": 8, "blocks": [
             {"BlockId": "b5c396b6-d310-47e4-86fc-5cc3043af508", "NumConcurrent": 4,
              "counters": [{"Type": 2, "CounterId": 0, "CounterSizeInBits": 64},
                           {"Type": 2, "CounterId": 1, "CounterSizeInBits": 64}]},
             {"BlockId": "848ce855-d805-4566-a8ab-73e884cc6bff", "NumConcurrent": 2,
              "counters": [{"Type": 0, "CounterId": 4294967296, "CounterMask": 255,
                            "Flags": 5, "BlockIndex": 1}]}]}}
    ]})";

// Fills `record` with a byte pattern the library never writes.
template <typename Record>
Record sentinel() {
    Record record;
    std::memset(&record, 0xa5, sizeof record);
    return record;
}

template <typename Record>
bool same(const Record& a, const Record& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class KfdsimApi : public testing::Test {
  protected:
    void SetUp() override { unsetenv("KFDSIM_TOPOLOGY"); }

    void TearDown() override {
        hsaKmtCloseKFD();
        unsetenv("KFDSIM_TOPOLOGY");
        std::error_code ignored;
        std::filesystem::remove(fixturePath, ignored);
    }

    // Writes `json` to the fixture file and names it in KFDSIM_TOPOLOGY.
    void useFixture(const std::string& json) {
        std::ofstream(fixturePath, std::ios::binary) << json;
        setenv("KFDSIM_TOPOLOGY", fixturePath.c_str(), 1);
    }

    // Opens KFD on `json` and acquires its topology.
    void openAndAcquire(const std::string& json) {
        useFixture(json);
        ASSERT_EQ(hsaKmtOpenKFD(), HSAKMT_STATUS_SUCCESS);
        HsaSystemProperties system{};
        ASSERT_EQ(hsaKmtAcquireSystemProperties(&system), HSAKMT_STATUS_SUCCESS);
    }

    // The status of each node query for `node`, in a fixed order.
    static std::vector<HSAKMT_STATUS> nodeQueries(HSAuint32 node) {
        HsaNodeProperties properties{};
        HsaClockCounters clock{};
        HsaMemoryProperties bank{};
        HsaIoLinkProperties link{};
        HsaCounterProperties* counters = nullptr;
        return {hsaKmtGetNodeProperties(node, &properties), hsaKmtGetClockCounters(node, &clock),
                hsaKmtGetNodeMemoryProperties(node, 1, &bank),
                hsaKmtGetNodeIoLinkProperties(node, 1, &link),
                hsaKmtPmcGetCounterProperties(node, &counters)};
    }

    const std::string fixturePath = (std::filesystem::temp_directory_path() /
                                     ("kfdsim-api-test-" + std::to_string(getpid()) + ".json"))
                                        .string();
};

std::vector<HSAKMT_STATUS> all(HSAKMT_STATUS status) { return std::vector(5, status); }

TEST_F(KfdsimApi, SecondOpenReturnsAlreadyOpenedUntilClosed) {
    useFixture(twoNodes);
    EXPECT_EQ(hsaKmtOpenKFD(), HSAKMT_STATUS_SUCCESS);
    EXPECT_EQ(hsaKmtOpenKFD(), HSAKMT_STATUS_KERNEL_ALREADY_OPENED);
    EXPECT_EQ(hsaKmtCloseKFD(), HSAKMT_STATUS_SUCCESS);
    EXPECT_EQ(hsaKmtOpenKFD(), HSAKMT_STATUS_SUCCESS);
}

TEST_F(KfdsimApi, EveryCallBeforeOpenOrAfterCloseReturnsNotOpened) {
    useFixture(twoNodes);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "before open" : "after close");
        HsaVersionInfo version{};
        HsaSystemProperties system{};
        EXPECT_EQ(hsaKmtCloseKFD(), HSAKMT_STATUS_KERNEL_IO_CHANNEL_NOT_OPENED);
        EXPECT_EQ(hsaKmtGetVersion(&version), HSAKMT_STATUS_KERNEL_IO_CHANNEL_NOT_OPENED);
        EXPECT_EQ(hsaKmtAcquireSystemProperties(&system),
                  HSAKMT_STATUS_KERNEL_IO_CHANNEL_NOT_OPENED);
        EXPECT_EQ(hsaKmtReleaseSystemProperties(), HSAKMT_STATUS_KERNEL_IO_CHANNEL_NOT_OPENED);
        EXPECT_EQ(nodeQueries(0), all(HSAKMT_STATUS_KERNEL_IO_CHANNEL_NOT_OPENED));

        ASSERT_EQ(hsaKmtOpenKFD(), HSAKMT_STATUS_SUCCESS);
        ASSERT_EQ(hsaKmtAcquireSystemProperties(&system), HSAKMT_STATUS_SUCCESS);
        ASSERT_EQ(hsaKmtCloseKFD(), HSAKMT_STATUS_SUCCESS);
    }
}

TEST_F(KfdsimApi, NodeQueriesNeedTheAcquiredTopologyAndANodeEntry) {
    useFixture(twoNodes);
    ASSERT_EQ(hsaKmtOpenKFD(), HSAKMT_STATUS_SUCCESS);
    EXPECT_EQ(nodeQueries(0), all(HSAKMT_STATUS_INVALID_NODE_UNIT));

    HsaSystemProperties system{};
    ASSERT_EQ(hsaKmtAcquireSystemProperties(&system), HSAKMT_STATUS_SUCCESS);
    EXPECT_EQ(system.NumNodes, 3u);
    EXPECT_EQ(nodeQueries(1), all(HSAKMT_STATUS_SUCCESS));
    // NumNodes announces a third node, but it has no entry.
    EXPECT_EQ(nodeQueries(2), all(HSAKMT_STATUS_INVALID_NODE_UNIT));
    EXPECT_EQ(nodeQueries(UINT32_MAX), all(HSAKMT_STATUS_INVALID_NODE_UNIT));

    EXPECT_EQ(hsaKmtReleaseSystemProperties(), HSAKMT_STATUS_SUCCESS);
    EXPECT_EQ(nodeQueries(0), all(HSAKMT_STATUS_INVALID_NODE_UNIT));
}

TEST_F(KfdsimApi, NullOutputsAreInvalidParametersExceptEmptyArrays) {
    openAndAcquire(twoNodes);
    EXPECT_EQ(hsaKmtGetVersion(nullptr), HSAKMT_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(hsaKmtAcquireSystemProperties(nullptr), HSAKMT_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(hsaKmtGetNodeProperties(0, nullptr), HSAKMT_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(hsaKmtGetClockCounters(0, nullptr), HSAKMT_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(hsaKmtGetNodeMemoryProperties(0, 1, nullptr), HSAKMT_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(hsaKmtGetNodeIoLinkProperties(0, 1, nullptr), HSAKMT_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(hsaKmtPmcGetCounterProperties(1, nullptr), HSAKMT_STATUS_INVALID_PARAMETER);

    EXPECT_EQ(hsaKmtGetNodeMemoryProperties(0, 0, nullptr), HSAKMT_STATUS_SUCCESS);
    EXPECT_EQ(hsaKmtGetNodeIoLinkProperties(0, 0, nullptr), HSAKMT_STATUS_SUCCESS);
}

TEST_F(KfdsimApi, MemoryAndLinkCallsFillOnlyRecordsThatExistAndWereAskedFor) {
    openAndAcquire(twoNodes);
    const auto untouchedBank = sentinel<HsaMemoryProperties>();
    std::vector<HsaMemoryProperties> banks(4, untouchedBank);
    ASSERT_EQ(hsaKmtGetNodeMemoryProperties(0, 4, banks.data()), HSAKMT_STATUS_SUCCESS);
    EXPECT_EQ(copied(banks[0].SizeInBytes), 1024u);
    EXPECT_EQ(copied(banks[1].SizeInBytes), 2048u);
    EXPECT_TRUE(same(banks[2], untouchedBank));
    EXPECT_TRUE(same(banks[3], untouchedBank));

    std::vector<HsaMemoryProperties> one(2, untouchedBank);
    ASSERT_EQ(hsaKmtGetNodeMemoryProperties(0, 1, one.data()), HSAKMT_STATUS_SUCCESS);
    EXPECT_EQ(copied(one[0].SizeInBytes), 1024u);
    EXPECT_TRUE(same(one[1], untouchedBank));

    const auto untouchedLink = sentinel<HsaIoLinkProperties>();
    std::vector<HsaIoLinkProperties> links(2, untouchedLink);
    ASSERT_EQ(hsaKmtGetNodeIoLinkProperties(0, 2, links.data()), HSAKMT_STATUS_SUCCESS);
    EXPECT_EQ(links[0].Weight, 20u);
    EXPECT_TRUE(same(links[1], untouchedLink));

    // Node 1 has no banks: nothing is filled.
    ASSERT_EQ(hsaKmtGetNodeMemoryProperties(1, 2, banks.data()), HSAKMT_STATUS_SUCCESS);
    EXPECT_EQ(copied(banks[0].SizeInBytes), 1024u);
}

TEST_F(KfdsimApi, RecordsAndCountsComeBackAsWritten) {
    useFixture(twoNodes);
    ASSERT_EQ(hsaKmtOpenKFD(), HSAKMT_STATUS_SUCCESS);
    HsaVersionInfo version{};
    ASSERT_EQ(hsaKmtGetVersion(&version), HSAKMT_STATUS_SUCCESS);
    EXPECT_EQ(version.KernelInterfaceMinorVersion, 16u);
    HsaSystemProperties system{};
    ASSERT_EQ(hsaKmtAcquireSystemProperties(&system), HSAKMT_STATUS_SUCCESS);
    EXPECT_EQ(system.PlatformOem, 7u);

    auto properties = sentinel<HsaNodeProperties>();
    ASSERT_EQ(hsaKmtGetNodeProperties(0, &properties), HSAKMT_STATUS_SUCCESS);
    EXPECT_EQ(properties.NumMemoryBanks, 5u);  // as written, though two banks are listed
    EXPECT_EQ(properties.NumIOLinks, 1u);      // not written: the number of links
    EXPECT_EQ(properties.MarketingName[3], 0u);
    EXPECT_EQ(properties.FamilyID, 99u);  // the last member: the whole record is copied

    auto clock = sentinel<HsaClockCounters>();
    ASSERT_EQ(hsaKmtGetClockCounters(1, &clock), HSAKMT_STATUS_SUCCESS);
    EXPECT_EQ(copied(clock.GPUClockCounter), 12345u);
    EXPECT_EQ(copied(clock.CPUClockCounter), 0u);
}

TEST_F(KfdsimApi, CounterQueryWithoutCountersLeavesThePointerAsGiven) {
    openAndAcquire(R"({"nodes": [{}, {"counters": null}]})");
    HsaCounterProperties elsewhere{};
    for (HSAuint32 node = 0; node < 2; ++node) {
        HsaCounterProperties* counters = &elsewhere;
        EXPECT_EQ(hsaKmtPmcGetCounterProperties(node, &counters), HSAKMT_STATUS_SUCCESS);
        EXPECT_EQ(counters, &elsewhere) << "node " << node;
        counters = nullptr;
        EXPECT_EQ(hsaKmtPmcGetCounterProperties(node, &counters), HSAKMT_STATUS_SUCCESS);
        EXPECT_EQ(counters, nullptr) << "node " << node;
    }
}

TEST_F(KfdsimApi, CounterRecordIsHandedBackAndKeptUntilClose) {
    // The byte layout is checked by CounterRecord and the counters goldens.
    openAndAcquire(twoNodes);
    HsaCounterProperties* counters = nullptr;
    ASSERT_EQ(hsaKmtPmcGetCounterProperties(1, &counters), HSAKMT_STATUS_SUCCESS);
    ASSERT_NE(counters, nullptr);
    EXPECT_EQ(counters->NumBlocks, 2u);
    EXPECT_EQ(counters->NumConcurrent, 8u);
    EXPECT_EQ(counters->Blocks[0].BlockId.Data1, 0xb5c396b6u);
    EXPECT_EQ(counters->Blocks[0].NumCounters, 2u);

    HsaCounterProperties* again = nullptr;
    ASSERT_EQ(hsaKmtReleaseSystemProperties(), HSAKMT_STATUS_SUCCESS);
    HsaSystemProperties system{};
    ASSERT_EQ(hsaKmtAcquireSystemProperties(&system), HSAKMT_STATUS_SUCCESS);
    ASSERT_EQ(hsaKmtPmcGetCounterProperties(1, &again), HSAKMT_STATUS_SUCCESS);
    EXPECT_EQ(again, counters);
    EXPECT_EQ(counters->Blocks[0].NumCounters, 2u);
}

TEST_F(KfdsimApi, FaultsMatchByCallAndNodeFirstEntryWinningAndFillNothing) {
    openAndAcquire(R"({"nodes": [{}, {}], "faults": [
        {"call": "hsaKmtGetClockCounters", "node": 1, "status": 5},
        {"call": "hsaKmtGetNodeProperties", "status": 11},
        {"call": "hsaKmtGetNodeMemoryProperties", "node": 1, "status": 7},
        {"call": "hsaKmtGetNodeMemoryProperties", "status": 12},
        {"call": "hsaKmtGetNodeMemoryProperties", "node": 0, "status": 13}]})");
    struct Case {
        HSAuint32 node;
        std::vector<HSAKMT_STATUS> statuses;  // in the order of nodeQueries
    };
    const Case cases[] = {
        {0,
         {HSAKMT_STATUS_NOT_SUPPORTED, HSAKMT_STATUS_SUCCESS, HSAKMT_STATUS_UNAVAILABLE,
          HSAKMT_STATUS_SUCCESS, HSAKMT_STATUS_SUCCESS}},
        {1,
         {HSAKMT_STATUS_NOT_SUPPORTED, HSAKMT_STATUS_INVALID_NODE_UNIT,
          HSAKMT_STATUS_BUFFER_TOO_SMALL, HSAKMT_STATUS_SUCCESS, HSAKMT_STATUS_SUCCESS}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(nodeQueries(c.node), c.statuses) << "node " << c.node;
    }
    const auto untouched = sentinel<HsaClockCounters>();
    HsaClockCounters clock = untouched;
    EXPECT_EQ(hsaKmtGetClockCounters(1, &clock), HSAKMT_STATUS_INVALID_NODE_UNIT);
    EXPECT_TRUE(same(clock, untouched));
    // The fault comes first, before the check of the output pointer.
    EXPECT_EQ(hsaKmtGetClockCounters(1, nullptr), HSAKMT_STATUS_INVALID_NODE_UNIT);
}

TEST_F(KfdsimApi, CallsWithoutNodeIgnoreFaultsThatNameANode) {
    useFixture(R"({"nodes": [{}], "faults": [
        {"call": "hsaKmtOpenKFD", "node": 0, "status": 1},
        {"call": "hsaKmtGetVersion", "node": 0, "status": 1},
        {"call": "hsaKmtAcquireSystemProperties", "node": 0, "status": 1},
        {"call": "hsaKmtReleaseSystemProperties", "node": 0, "status": 1},
        {"call": "hsaKmtCloseKFD", "node": 0, "status": 1}]})");
    ASSERT_EQ(hsaKmtOpenKFD(), HSAKMT_STATUS_SUCCESS);
    HsaVersionInfo version{};
    EXPECT_EQ(hsaKmtGetVersion(&version), HSAKMT_STATUS_SUCCESS);
    HsaSystemProperties system{};
    EXPECT_EQ(hsaKmtAcquireSystemProperties(&system), HSAKMT_STATUS_SUCCESS);
    EXPECT_EQ(hsaKmtReleaseSystemProperties(), HSAKMT_STATUS_SUCCESS);
    EXPECT_EQ(hsaKmtCloseKFD(), HSAKMT_STATUS_SUCCESS);
}

TEST_F(KfdsimApi, FaultedOpenStaysClosedAcquireHoldsNothingCloseStillCloses) {
    useFixture(R"({"faults": [{"call": "hsaKmtOpenKFD", "status": -3}]})");
    EXPECT_EQ(static_cast<std::int32_t>(hsaKmtOpenKFD()), -3);
    HsaVersionInfo version{};
    EXPECT_EQ(hsaKmtGetVersion(&version), HSAKMT_STATUS_KERNEL_IO_CHANNEL_NOT_OPENED);

    useFixture(R"({"nodes": [{}], "faults": [
        {"call": "hsaKmtAcquireSystemProperties", "status": 12},
        {"call": "hsaKmtCloseKFD", "status": 21}]})");
    ASSERT_EQ(hsaKmtOpenKFD(), HSAKMT_STATUS_SUCCESS);
    const auto untouched = sentinel<HsaSystemProperties>();
    HsaSystemProperties system = untouched;
    EXPECT_EQ(hsaKmtAcquireSystemProperties(&system), HSAKMT_STATUS_UNAVAILABLE);
    EXPECT_TRUE(same(system, untouched));
    EXPECT_EQ(nodeQueries(0), all(HSAKMT_STATUS_INVALID_NODE_UNIT));
    EXPECT_EQ(hsaKmtCloseKFD(), HSAKMT_STATUS_KERNEL_COMMUNICATION_ERROR);
    EXPECT_EQ(hsaKmtOpenKFD(), HSAKMT_STATUS_SUCCESS);
}

TEST_F(KfdsimApi, RefusedFixtureWritesOneLineNamingFileAndProblemAndStaysClosed) {
    // The bad-* goldens cover more kinds end to end; the loader tests every message.
    struct Case {
        std::string json;  // empty: no file at all
        std::string problem;
    };
    const Case cases[] = {
        {"{\"nodes\": [{\"properties\": {\"MarketingName\": \"\xc3\x28\"}}]}",
         "invalid JSON: parse error at line 1, column 47: syntax error while parsing value - "
         "invalid string: ill-formed UTF-8 byte; last read: '\"\xc3\x28'"},
        {R"({"nodes": [{}, {"properties": {"NumCPUCore": 4}}]})",
         "nodes[1].properties.NumCPUCore: unknown key"},
        {R"({"faults": [{"call": "hsaKmtOpen", "status": 1}]})",
         "faults[0].call: \"hsaKmtOpen\" is not a simulated libhsakmt function"},
        {"", "cannot read: No such file or directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        useFixture(c.json);
        if (c.json.empty()) {
            std::filesystem::remove(fixturePath);
        }
        testing::internal::CaptureStderr();
        const HSAKMT_STATUS status = hsaKmtOpenKFD();
        const std::string written = testing::internal::GetCapturedStderr();
        EXPECT_EQ(status, HSAKMT_STATUS_ERROR);
        EXPECT_EQ(written, "kfdsim: " + fixturePath + ": " + c.problem + "\n");
        HsaVersionInfo version{};
        EXPECT_EQ(hsaKmtGetVersion(&version), HSAKMT_STATUS_KERNEL_IO_CHANNEL_NOT_OPENED);
    }
}

}  // namespace
