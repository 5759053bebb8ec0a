// Unit tests of the kfdsim loader, counter record builder, fault matching and built-in topology.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <hsakmt/hsakmt.h>

#include "sim/api/counter_record.h"
#include "sim/default_topology.h"
#include "sim/fixture/json_fixture.h"
#include "sim/topology.h"
#include "tests/support/expect_failure.h"

namespace {

// Packed 64-bit members are copied out: EXPECT_EQ would bind references to them.
template <typename T>
T copied(T value) {
    return value;
}

// The message that refuses `text`, or "accepted".
std::string refusal(const std::string& text) {
    try {
        parseJsonFixture(text, "f.json");
    } catch (const FixtureError& failure) {
        return failure.what();
    }
    return "accepted";
}

// A fixture with one node whose properties object holds `members`.
std::string withProperties(const std::string& members) {
    return R"({"nodes": [{"properties": {)" + members + "}}]}";
}

HsaNodeProperties properties(const std::string& members) {
    return parseJsonFixture(withProperties(members), "f.json").nodes.at(0).properties;
}

std::vector<HSAuint16> marketingName(const HsaNodeProperties& p) {
    return {std::begin(p.MarketingName), std::end(p.MarketingName)};
}

std::vector<HSAuint8> amdName(const HsaNodeProperties& p) {
    return {std::begin(p.AMDName), std::end(p.AMDName)};
}

// `units` followed by zeros up to the name size.
template <typename Unit>
std::vector<Unit> padded(std::vector<Unit> units) {
    units.resize(HSA_PUBLIC_NAME_SIZE);
    return units;
}

std::vector<HSAuint8> bytesOf(const HSA_UUID& id) {
    std::vector<HSAuint8> bytes(sizeof id);
    std::memcpy(bytes.data(), &id, sizeof id);
    return bytes;
}

// A fixture with one counter block whose BlockId is `id` (JSON text).
std::string withBlockId(const std::string& id) {
    return R"({"nodes": [{"counters": {"blocks": [{"BlockId": )" + id + "}]}}]}";
}

template <typename T>
T readAt(const std::vector<std::byte>& bytes, std::size_t offset) {
    T value{};
    EXPECT_LE(offset + sizeof value, bytes.size());
    if (offset + sizeof value <= bytes.size()) {
        std::memcpy(&value, bytes.data() + offset, sizeof value);
    }
    return value;
}

// A fixture text and the message that refuses it.
struct Refusal {
    std::string text;
    std::string message;
};

void expectRefusals(const std::vector<Refusal>& cases) {
    for (const Refusal& c : cases) {
        EXPECT_EQ(refusal(c.text), c.message) << c.text;
    }
}

// Each field's own value landing in its member is checked by JsonWriter's reload test.

TEST(JsonFixture, AbsentSectionsAreZeroFilledOrEmpty) {
    const Topology empty = parseJsonFixture("{}", "f.json");
    EXPECT_EQ(empty.version.KernelInterfaceMajorVersion, 0u);
    EXPECT_EQ(empty.system.NumNodes, 0u);
    EXPECT_TRUE(empty.nodes.empty());
    EXPECT_TRUE(empty.faults.empty());

    const Topology bare = parseJsonFixture(R"({"nodes": [{}, {"counters": {}}]})", "f.json");
    ASSERT_EQ(bare.nodes.size(), 2u);
    const HsaNodeProperties zero{};
    EXPECT_EQ(std::memcmp(&bare.nodes[0].properties, &zero, sizeof zero), 0);
    EXPECT_EQ(copied(bare.nodes[0].clock.SystemClockFrequencyHz), 0u);
    EXPECT_TRUE(bare.nodes[0].memBanks.empty());
    EXPECT_TRUE(bare.nodes[0].ioLinks.empty());
    EXPECT_FALSE(bare.nodes[0].counters.has_value());
    ASSERT_TRUE(bare.nodes[1].counters.has_value());
    EXPECT_TRUE(bare.nodes[1].counters->blocks.empty());
}

TEST(JsonFixture, CountsDefaultToArrayLengthsAndOtherwiseStayAsWritten) {
    const Topology derived = parseJsonFixture(R"({"system": {"PlatformRev": 1}, "nodes": [
        {"mem_banks": [{}, {}], "io_links": [{}, {}, {}]}, {}]})",
                                              "f.json");
    EXPECT_EQ(derived.system.NumNodes, 2u);
    EXPECT_EQ(derived.nodes.at(0).properties.NumMemoryBanks, 2u);
    EXPECT_EQ(derived.nodes.at(0).properties.NumIOLinks, 3u);

    const Topology written = parseJsonFixture(R"({"system": {"NumNodes": 5}, "nodes": [
        {"properties": {"NumMemoryBanks": 7, "NumIOLinks": 0},
         "mem_banks": [{}, {}], "io_links": [{}]}]})",
                                              "f.json");
    EXPECT_EQ(written.system.NumNodes, 5u);
    EXPECT_EQ(written.nodes.at(0).properties.NumMemoryBanks, 7u);
    EXPECT_EQ(written.nodes.at(0).memBanks.size(), 2u);
    EXPECT_EQ(written.nodes.at(0).properties.NumIOLinks, 0u);
    EXPECT_EQ(written.nodes.at(0).ioLinks.size(), 1u);
}

TEST(JsonFixture, IntegersUpToTheirFieldsEdgesAreAccepted) {
    EXPECT_EQ(copied(properties(R"("LocalMemSize": 18446744073709551615)").LocalMemSize),
              18446744073709551615u);
    EXPECT_EQ(properties(R"("DrmRenderMinor": -2147483648)").DrmRenderMinor, INT32_MIN);
    EXPECT_EQ(properties(R"("DrmRenderMinor": 2147483647)").DrmRenderMinor, INT32_MAX);
    EXPECT_EQ(properties(R"("NumCPUCores": 4294967295)").NumCPUCores, UINT32_MAX);
    EXPECT_EQ(properties(R"("VendorId": 65535)").VendorId, UINT16_MAX);
    EXPECT_EQ(properties(R"("Integrated": 255)").Integrated, UINT8_MAX);
}

TEST(JsonFixture, NumbersOutsideTheirFieldOrNotIntegersAreRefused) {
    const std::string at = "f.json: nodes[0].properties.";
    const std::string u32 = " does not fit an unsigned 32-bit field";
    const std::string s32 = " does not fit a signed 32-bit field";
    expectRefusals({
        {withProperties(R"("LocalMemSize": 18446744073709551616)"),
         at + "LocalMemSize: 18446744073709551616 does not fit an unsigned 64-bit field"},
        {withProperties(R"("LocalMemSize": -1)"),
         at + "LocalMemSize: -1 does not fit an unsigned 64-bit field"},
        {withProperties(R"("DrmRenderMinor": -2147483649)"),
         at + "DrmRenderMinor: -2147483649" + s32},
        {withProperties(R"("DrmRenderMinor": 2147483648)"),
         at + "DrmRenderMinor: 2147483648" + s32},
        {withProperties(R"("NumCPUCores": 4294967296)"), at + "NumCPUCores: 4294967296" + u32},
        {withProperties(R"("VendorId": 65536)"),
         at + "VendorId: 65536 does not fit an unsigned 16-bit field"},
        {withProperties(R"("Integrated": 256)"),
         at + "Integrated: 256 does not fit an unsigned 8-bit field"},
        {R"({"nodes": [{"mem_banks": [{"HeapType": -1}]}]})",
         "f.json: nodes[0].mem_banks[0].HeapType: -1" + u32},
        {withProperties(R"("NumCaches": 1.5)"), at + "NumCaches: 1.5 is not an integer"},
        {withProperties(R"("NumCaches": 2.0)"), at + "NumCaches: 2.0 is not an integer"},
        {withProperties(R"("NumCaches": 1e3)"), at + "NumCaches: 1e3 is not an integer"},
        {withProperties(R"("NumCaches": true)"),
         at + "NumCaches: expected an integer, got boolean"},
        {withProperties(R"("NumCaches": "7")"), at + "NumCaches: expected an integer, got string"},
        {withProperties(R"("NumCaches": null)"), at + "NumCaches: expected an integer, got null"},
        {withProperties(R"("NumCaches": [7])"), at + "NumCaches: expected an integer, got array"},
    });
}

TEST(JsonFixture, MalformedDocumentsAreRefusedWithPathAndProblemOnOneLine) {
    expectRefusals({
        // Values of the wrong kind.
        {"[]", "f.json: expected an object, got array"},
        {R"({"version": 1})", "f.json: version: expected an object, got number"},
        {R"({"nodes": {}})", "f.json: nodes: expected an array, got object"},
        {R"({"nodes": [[]]})", "f.json: nodes[0]: expected an object, got array"},
        {R"({"nodes": [{"clock": null}]})", "f.json: nodes[0].clock: expected an object, got null"},
        {R"({"nodes": [{"counters": []}]})",
         "f.json: nodes[0].counters: expected an object or null, got array"},
        {withProperties(R"("MarketingName": 5)"),
         "f.json: nodes[0].properties.MarketingName: expected a string or an array, got number"},
        {R"({"faults": [{"call": 3, "status": 1}]})",
         "f.json: faults[0].call: expected a string, got number"},
        // Keys given twice.
        {withProperties(R"("NumCPUCores": 1, "NumCPUCores": 2)"),
         "f.json: nodes[0].properties.NumCPUCores: key given twice"},
        {R"({"faults": [], "faults": []})", "f.json: faults: key given twice"},
        {R"({"nodes": [{"mem_banks": [{}, {"Width": 1, "Width": 1}]}]})",
         "f.json: nodes[0].mem_banks[1].Width: key given twice"},
        // Invalid JSON, with the parser's position; control characters become spaces.
        {R"({"nodes": [})",
         "f.json: invalid JSON: parse error at line 1, column 12: syntax error "
         "while parsing value - unexpected '}'; expected '[', '{', or a literal"},
        {"{} {}",
         "f.json: invalid JSON: parse error at line 1, column 4: syntax error while "
         "parsing value - unexpected '{'; expected end of input"},
        {"{\n\"nodes\": [\n}",
         "f.json: invalid JSON: parse error at line 3, column 1: syntax error "
         "while parsing value - unexpected '}'; expected '[', '{', or a "
         "literal"},
        {"{\"a\\nb\\u0007\": 1}", "f.json: a b : unknown key"},
    });
    EXPECT_EQ(
        refusal(withProperties("\"MarketingName\": \"\xff\""))
            .rfind("f.json: invalid JSON: parse error at line 1, column 46: syntax error while "
                   "parsing value - invalid string: ill-formed UTF-8 byte",
                   0),
        0u);
}

TEST(JsonFixture, UnknownKeysAreRefusedInEveryObject) {
    struct Case {
        const char* text;
        const char* path;
    };
    const Case cases[] = {
        {R"({"nodez": []})", "nodez"},
        {R"({"version": {"Major": 1}})", "version.Major"},
        {R"({"system": {"NumNode": 1}})", "system.NumNode"},
        {R"({"nodes": [{"propertie": {}}]})", "nodes[0].propertie"},
        {R"({"nodes": [{"properties": {"NumCPUCore": 1}}]})", "nodes[0].properties.NumCPUCore"},
        {R"({"nodes": [{"clock": {"SystemClockFrequency": 1}}]})",
         "nodes[0].clock.SystemClockFrequency"},
        {R"({"nodes": [{"mem_banks": [{}, {"SizeInBytesLow": 1}]}]})",
         "nodes[0].mem_banks[1].SizeInBytesLow"},
        {R"({"nodes": [{"io_links": [{"Type": 2}]}]})", "nodes[0].io_links[0].Type"},
        {R"({"nodes": [{"counters": {"NumBlocks": 1}}]})", "nodes[0].counters.NumBlocks"},
        {R"({"nodes": [{"counters": {"blocks": [{"NumCounters": 0}]}}]})",
         "nodes[0].counters.blocks[0].NumCounters"},
        {R"({"nodes": [{"counters": {"blocks": [{"counters": [{"Id": 1}]}]}}]})",
         "nodes[0].counters.blocks[0].counters[0].Id"},
        {R"({"faults": [{"call": "hsaKmtOpenKFD", "status": 1, "nodes": 0}]})", "faults[0].nodes"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(refusal(c.text), "f.json: " + std::string(c.path) + ": unknown key") << c.text;
    }
}

TEST(JsonFixture, NamesAreUtf16OrBytesOrRawArraysZeroPadded) {
    // A, e acute, euro sign, and U+1F600 as a surrogate pair, written or escaped.
    EXPECT_EQ(marketingName(properties(R"("MarketingName": "Aé€😀")")),
              padded<HSAuint16>({0x41, 0xe9, 0x20ac, 0xd83d, 0xde00}));
    EXPECT_EQ(marketingName(properties(R"("MarketingName": "A\ud83d\ude00")")),
              padded<HSAuint16>({0x41, 0xd83d, 0xde00}));
    EXPECT_EQ(marketingName(properties(R"("MarketingName": [55296, 65535, 0, 66])")),
              padded<HSAuint16>({0xd800, 0xffff, 0, 66}));
    EXPECT_EQ(amdName(properties(R"("AMDName": [255, 0, 7])")), padded<HSAuint8>({255, 0, 7}));
    EXPECT_EQ(amdName(properties(R"("AMDName": "gfx942")")),
              padded<HSAuint8>({'g', 'f', 'x', '9', '4', '2'}));
}

TEST(JsonFixture, NamesHoldAtMost64UnitsWithoutTerminator) {
    const std::string x64(64, 'x');
    const HsaNodeProperties full =
        properties(R"("MarketingName": ")" + x64 + R"(", "AMDName": ")" + x64 + "\"");
    EXPECT_EQ(marketingName(full), std::vector<HSAuint16>(64, 'x'));
    EXPECT_EQ(amdName(full), std::vector<HSAuint8>(64, 'x'));

    std::string array65 = "[0";
    for (int i = 1; i < 65; ++i) {
        array65 += ", 0";
    }
    array65 += "]";
    const std::string at = "f.json: nodes[0].properties.";
    const std::string tooLong = "MarketingName: 65 UTF-16 units, at most 64 fit";
    expectRefusals({
        {withProperties(R"("MarketingName": ")" + x64 + "x\""), at + tooLong},
        {withProperties(R"("MarketingName": ")" + x64.substr(1) + "😀\""), at + tooLong},
        {withProperties(R"("MarketingName": )" + array65), at + tooLong},
        {withProperties(R"("AMDName": ")" + x64 + "x\""), at + "AMDName: 65 bytes, at most 64 fit"},
        {withProperties(R"("AMDName": )" + array65), at + "AMDName: 65 bytes, at most 64 fit"},
        {withProperties(R"("MarketingName": [0, 65536])"),
         at + "MarketingName[1]: 65536 does not fit an unsigned 16-bit field"},
        {withProperties(R"("AMDName": [256])"),
         at + "AMDName[0]: 256 does not fit an unsigned 8-bit field"},
    });
}

TEST(JsonFixture, BlockIdTextIsStoredAsTheHeaderLaysOutTheFields) {
    const auto blockId = [](const std::string& id) {
        return bytesOf(
            parseJsonFixture(withBlockId(id), "f.json").nodes.at(0).counters->blocks.at(0).blockId);
    };
    const std::vector<HSAuint8> sq = {0xb6, 0x96, 0xc3, 0xb5, 0x10, 0xd3, 0xe4, 0x47,
                                      0x86, 0xfc, 0x5c, 0xc3, 0x04, 0x3a, 0xf5, 0x08};
    EXPECT_EQ(blockId(R"("b5c396b6-d310-47e4-86fc-5cc3043af508")"), sq);
    EXPECT_EQ(blockId(R"("B5C396B6-D310-47E4-86FC-5CC3043AF508")"), sq);
    EXPECT_EQ(blockId("[1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 255]"),
              std::vector<HSAuint8>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 255}));
    EXPECT_EQ(bytesOf(parseJsonFixture(R"({"nodes": [{"counters": {"blocks": [{}]}}]})", "f.json")
                          .nodes.at(0)
                          .counters->blocks.at(0)
                          .blockId),
              std::vector<HSAuint8>(16, 0));
}

TEST(JsonFixture, MalformedBlockIdsAreRefused) {
    const std::string at = "f.json: nodes[0].counters.blocks[0].BlockId";
    const std::string form = " is not of the form xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx";
    for (const char* text : {
             R"("b5c396b6-d310-47e4-86fc-5cc3043af50")",    // a digit short
             R"("b5c396b6-d310-47e4-86fc-5cc3043af5080")",  // a digit long
             R"("b5c396b6d-310-47e4-86fc-5cc3043af508")",   // dash misplaced
             R"("g5c396b6-d310-47e4-86fc-5cc3043af508")",   // not a hex digit
             R"("{b5c396b6-d310-47e4-86fc-5cc3043af50}")",  // braces
             R"("b5c396b6-d310-47e4-86fc-5cc3043af5 8")",   // space
         }) {
        EXPECT_EQ(refusal(withBlockId(text)), at + ": " + text + form);
    }
    expectRefusals({
        {withBlockId("[1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15]"),
         at + ": 15 bytes, expected 16"},
        {withBlockId("[1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17]"),
         at + ": 17 bytes, expected 16"},
        {withBlockId("[1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 256]"),
         at + "[15]: 256 does not fit an unsigned 8-bit field"},
        {withBlockId("5"), at + ": expected a string or an array, got number"},
    });
}

TEST(JsonFixture, FaultsKeepTheirOrderNodeAndStatus) {
    const Topology t = parseJsonFixture(R"({"faults": [
        {"call": "hsaKmtGetClockCounters", "node": 4294967295, "status": -2147483648},
        {"call": "hsaKmtCloseKFD", "status": 2147483647}]})",
                                        "f.json");
    ASSERT_EQ(t.faults.size(), 2u);
    EXPECT_EQ(t.faults[0].call, KfdCall::GetClockCounters);
    EXPECT_EQ(t.faults[0].node, UINT32_MAX);
    EXPECT_EQ(t.faults[0].status, INT32_MIN);
    EXPECT_EQ(t.faults[1].call, KfdCall::CloseKFD);
    EXPECT_FALSE(t.faults[1].node.has_value());
    EXPECT_EQ(t.faults[1].status, INT32_MAX);
}

TEST(JsonFixture, FaultsNeedAKnownCallAndANonZeroStatus) {
    expectRefusals({
        {R"({"faults": [{"call": "hsaKmtGetNodeCacheProperties", "status": 1}]})",
         "f.json: faults[0].call: \"hsaKmtGetNodeCacheProperties\" is not a simulated libhsakmt "
         "function"},
        {R"({"faults": [{"call": "hsaKmtOpenKFD", "status": 0}]})",
         "f.json: faults[0].status: a fault's status must not be 0"},
        {R"({"faults": [{"status": 1}]})", "f.json: faults[0]: missing key \"call\""},
        {R"({"faults": [{"call": "hsaKmtOpenKFD"}]})", "f.json: faults[0]: missing key \"status\""},
        {R"({"faults": [{"call": "hsaKmtOpenKFD", "status": 1, "node": -1}]})",
         "f.json: faults[0].node: -1 does not fit an unsigned 32-bit field"},
        {R"({"faults": [{"call": "hsaKmtOpenKFD", "status": 2147483648}]})",
         "f.json: faults[0].status: 2147483648 does not fit a signed 32-bit field"},
    });
}

TEST(JsonFixture, OverlayReplacesOnlyWhatItGives) {
    Topology t = parseJsonFixture(R"({"nodes": [{}, {
        "properties": {"NumCPUCores": 1, "VendorId": 4098, "MarketingName": "Old name"},
        "clock": {"GPUClockCounter": 1, "SystemClockFrequencyHz": 100},
        "mem_banks": [{"SizeInBytes": 1024, "Width": 64}],
        "counters": {"NumConcurrent": 3}}],
        "faults": [{"call": "hsaKmtOpenKFD", "status": 1}]})",
                                  "base.json");
    overlayJsonFixture(R"({"nodes": [{}, {
        "properties": {"NumCPUCores": 9, "MarketingName": "New"},
        "clock": {"GPUClockCounter": 5},
        "mem_banks": [{"Width": 32}, {"HeapType": 1}]}],
        "faults": []})",
                       "over.json", t);
    ASSERT_EQ(t.nodes.size(), 2u);
    const TopologyNode& node = t.nodes[1];
    EXPECT_EQ(node.properties.NumCPUCores, 9u);
    EXPECT_EQ(node.properties.VendorId, 4098u);
    EXPECT_EQ(marketingName(node.properties), padded<HSAuint16>({'N', 'e', 'w'}));
    EXPECT_EQ(copied(node.clock.GPUClockCounter), 5u);
    EXPECT_EQ(copied(node.clock.SystemClockFrequencyHz), 0u);  // the clock is replaced whole
    ASSERT_EQ(node.memBanks.size(), 2u);
    EXPECT_EQ(copied(node.memBanks[0].SizeInBytes), 1024u);
    EXPECT_EQ(node.memBanks[0].Width, 32u);
    EXPECT_EQ(node.memBanks[1].HeapType, HSA_HEAPTYPE_FRAME_BUFFER_PUBLIC);
    EXPECT_EQ(node.properties.NumMemoryBanks, 2u);
    ASSERT_TRUE(node.counters.has_value());
    EXPECT_EQ(node.counters->numConcurrent, 3u);
    EXPECT_TRUE(t.faults.empty());
    EXPECT_EQ(t.system.NumNodes, 2u);

    EXPECT_THROW(
        overlayJsonFixture(R"({"nodes": [{"properties": {"NumCPUCores": 7}}, 5]})", "bad.json", t),
        FixtureError);
    EXPECT_EQ(t.nodes[0].properties.NumCPUCores, 0u);  // a refused overlay changes nothing
}

TEST(JsonFixture, UnreadableFilesAreRefusedWithTheSystemError) {
    const std::string missing = "/nonexistent-kfdsim-dir/x.json";
    expectFailure<FixtureError>([&] { loadJsonFixture(missing); },
                                missing + ": cannot read: No such file or directory");
    const std::string directory = std::filesystem::temp_directory_path().string();
    expectFailure<FixtureError>([&] { loadJsonFixture(directory); },
                                directory + ": cannot read: Is a directory");
}

TEST(CounterRecord, BlocksAndCountersLieBackToBackWithFourBytePacking) {
    HsaCounter counter{};
    counter.Type = HSA_PROFILE_TYPE_NONPRIV_STREAMING;
    counter.CounterId = 0x1122334455667788;
    counter.CounterSizeInBits = 48;
    counter.CounterMask = 0xffffffffffff;
    counter.Flags.Value = 0xa;
    counter.BlockIndex = 9;
    CounterBlock first;
    const HSAuint8 idBytes[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    std::memcpy(&first.blockId, idBytes, sizeof idBytes);
    first.numConcurrent = 2;
    first.counters = {counter, counter};
    CounterBlock last;
    last.numConcurrent = 6;
    last.counters = {HsaCounter{}};
    last.counters[0].CounterId = 42;
    const std::vector<std::byte> bytes = buildCounterRecord({7, {first, CounterBlock{}, last}});

    EXPECT_EQ(readAt<HSAuint32>(bytes, 0), 3u);  // NumBlocks
    EXPECT_EQ(readAt<HSAuint32>(bytes, 4), 7u);  // NumConcurrent
    // First block at 8: BlockId, NumCounters, NumConcurrent, then counters of 32 bytes.
    EXPECT_EQ(std::memcmp(bytes.data() + 8, idBytes, sizeof idBytes), 0);
    EXPECT_EQ(readAt<HSAuint32>(bytes, 24), 2u);
    EXPECT_EQ(readAt<HSAuint32>(bytes, 28), 2u);
    const std::size_t second = 32 + 32;  // the second counter: every member at its offset
    EXPECT_EQ(readAt<HSAuint32>(bytes, second + 0), 3u);
    EXPECT_EQ(readAt<HSAuint64>(bytes, second + 4), 0x1122334455667788u);
    EXPECT_EQ(readAt<HSAuint32>(bytes, second + 12), 48u);
    EXPECT_EQ(readAt<HSAuint64>(bytes, second + 16), 0xffffffffffffu);
    EXPECT_EQ(readAt<HSAuint32>(bytes, second + 24), 0xau);
    EXPECT_EQ(readAt<HSAuint32>(bytes, second + 28), 9u);
    // The empty block follows at 8 + 24 + 2 * 32, the last one right after its header.
    EXPECT_EQ(readAt<HSAuint32>(bytes, 96 + 16), 0u);
    EXPECT_EQ(readAt<HSAuint32>(bytes, 120 + 16), 1u);
    EXPECT_EQ(readAt<HSAuint32>(bytes, 120 + 20), 6u);
    EXPECT_EQ(readAt<HSAuint64>(bytes, 144 + 4), 42u);
    EXPECT_GE(bytes.size(), 176u);
}

TEST(CounterRecord, NoBlocksStillGivesAWholeZeroRecord) {
    CounterSet set;
    set.numConcurrent = 4;
    const std::vector<std::byte> bytes = buildCounterRecord(set);
    ASSERT_GE(bytes.size(), sizeof(HsaCounterProperties));
    EXPECT_EQ(readAt<HSAuint32>(bytes, 0), 0u);
    EXPECT_EQ(readAt<HSAuint32>(bytes, 4), 4u);
    EXPECT_EQ(readAt<HSAuint32>(bytes, 8 + 16), 0u);
}

TEST(InjectedFault, MatchesByCallNodeAndOrder) {
    const std::vector<Fault> faults = {
        {KfdCall::GetClockCounters, 1u, 5},
        {KfdCall::GetClockCounters, std::nullopt, 7},
        {KfdCall::GetClockCounters, 1u, 9},
        {KfdCall::GetVersion, 0u, 11},
    };
    EXPECT_EQ(injectedFault(faults, KfdCall::GetClockCounters, 1u), 5);
    EXPECT_EQ(injectedFault(faults, KfdCall::GetClockCounters, 0u), 7);
    EXPECT_EQ(injectedFault(faults, KfdCall::GetNodeProperties, 1u), std::nullopt);
    // A call without a node argument skips entries that name a node.
    EXPECT_EQ(injectedFault(faults, KfdCall::GetVersion, std::nullopt), std::nullopt);
}

TEST(DefaultTopology, IsACpuNodeAndAGpuNodeLinkedBothWaysWithConsistentCounters) {
    const Topology t = defaultTopology();
    ASSERT_EQ(t.system.NumNodes, t.nodes.size());
    ASSERT_EQ(t.nodes.size(), 2u);
    std::set<std::pair<HSAuint32, HSAuint32>> links;
    for (std::size_t i = 0; i < t.nodes.size(); ++i) {
        const TopologyNode& node = t.nodes[i];
        EXPECT_EQ(node.properties.NumMemoryBanks, node.memBanks.size()) << "node " << i;
        EXPECT_EQ(node.properties.NumIOLinks, node.ioLinks.size()) << "node " << i;
        for (const HsaIoLinkProperties& link : node.ioLinks) {
            EXPECT_EQ(link.NodeFrom, i);
            links.emplace(link.NodeFrom, link.NodeTo);
        }
    }
    EXPECT_EQ(links, (std::set<std::pair<HSAuint32, HSAuint32>>{{0, 1}, {1, 0}}));

    const HsaNodeProperties& cpu = t.nodes[0].properties;
    const HsaNodeProperties& gpu = t.nodes[1].properties;
    EXPECT_GT(cpu.NumCPUCores, 0u);
    EXPECT_EQ(cpu.NumFComputeCores, 0u);
    EXPECT_FALSE(t.nodes[0].counters.has_value());
    EXPECT_GT(gpu.NumFComputeCores, 0u);
    EXPECT_GE(gpu.NumShaderBanks * gpu.NumArrays * gpu.NumCUPerArray * gpu.NumSIMDPerCU,
              gpu.NumFComputeCores);

    ASSERT_TRUE(t.nodes[1].counters.has_value());
    const CounterSet& counters = *t.nodes[1].counters;
    std::set<std::vector<HSAuint8>> ids;
    std::size_t total = 0;
    for (std::size_t b = 0; b < counters.blocks.size(); ++b) {
        const CounterBlock& block = counters.blocks[b];
        ids.insert(bytesOf(block.blockId));
        total += block.counters.size();
        for (const HsaCounter& counter : block.counters) {
            EXPECT_EQ(counter.BlockIndex, b);
            const HSAuint64 mask = counter.CounterSizeInBits >= 64
                                       ? ~HSAuint64{0}
                                       : (HSAuint64{1} << counter.CounterSizeInBits) - 1;
            EXPECT_EQ(copied(counter.CounterMask), mask) << "counter " << counter.CounterId;
        }
    }
    EXPECT_EQ(ids.size(), counters.blocks.size());  // no block listed twice
    EXPECT_GE(total, 200u);
}

}  // namespace
