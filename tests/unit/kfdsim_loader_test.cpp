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

#include "sim/counter_record.h"
#include "sim/default_topology.h"
#include "sim/json_fixture.h"
#include "sim/topology.h"
#include "sim/topology_source.h"

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

TEST(JsonFixture, EveryNodePropertyLandsInItsMember) {
    const HsaNodeProperties p = properties(R"(
        "NumCPUCores": 1, "NumFComputeCores": 2, "NumMemoryBanks": 3, "NumCaches": 4,
        "NumIOLinks": 5, "CComputeIdLo": 6, "FComputeIdLo": 7, "Capability": 8,
        "MaxWavesPerSIMD": 9, "LDSSizeInKB": 10, "GDSSizeInKB": 11, "WaveFrontSize": 12,
        "NumShaderBanks": 13, "NumArrays": 14, "NumCUPerArray": 15, "NumSIMDPerCU": 16,
        "MaxSlotsScratchCU": 17, "EngineId": 18, "VendorId": 19, "DeviceId": 20,
        "LocationId": 21, "LocalMemSize": 22000000000000, "MaxEngineClockMhzFCompute": 23,
        "MaxEngineClockMhzCCompute": 24, "DrmRenderMinor": -25, "MarketingName": "M",
        "AMDName": "A", "uCodeEngineVersions": 26, "DebugProperties": 27000000000000,
        "HiveID": 28000000000000, "NumSdmaEngines": 29, "NumSdmaXgmiEngines": 30,
        "NumSdmaQueuesPerEngine": 31, "NumCpQueues": 32, "NumGws": 33, "Integrated": 34,
        "Domain": 35, "UniqueID": 36000000000000, "VGPRSizePerCU": 37, "SGPRSizePerCU": 38,
        "NumXcc": 39, "KFDGpuID": 40, "FamilyID": 41)");
    EXPECT_EQ(p.NumCPUCores, 1u);
    EXPECT_EQ(p.NumFComputeCores, 2u);
    EXPECT_EQ(p.NumMemoryBanks, 3u);
    EXPECT_EQ(p.NumCaches, 4u);
    EXPECT_EQ(p.NumIOLinks, 5u);
    EXPECT_EQ(p.CComputeIdLo, 6u);
    EXPECT_EQ(p.FComputeIdLo, 7u);
    EXPECT_EQ(p.Capability.Value, 8u);
    EXPECT_EQ(p.MaxWavesPerSIMD, 9u);
    EXPECT_EQ(p.LDSSizeInKB, 10u);
    EXPECT_EQ(p.GDSSizeInKB, 11u);
    EXPECT_EQ(p.WaveFrontSize, 12u);
    EXPECT_EQ(p.NumShaderBanks, 13u);
    EXPECT_EQ(p.NumArrays, 14u);
    EXPECT_EQ(p.NumCUPerArray, 15u);
    EXPECT_EQ(p.NumSIMDPerCU, 16u);
    EXPECT_EQ(p.MaxSlotsScratchCU, 17u);
    EXPECT_EQ(p.EngineId.Value, 18u);
    EXPECT_EQ(p.VendorId, 19u);
    EXPECT_EQ(p.DeviceId, 20u);
    EXPECT_EQ(p.LocationId, 21u);
    EXPECT_EQ(copied(p.LocalMemSize), 22000000000000u);
    EXPECT_EQ(p.MaxEngineClockMhzFCompute, 23u);
    EXPECT_EQ(p.MaxEngineClockMhzCCompute, 24u);
    EXPECT_EQ(p.DrmRenderMinor, -25);
    EXPECT_EQ(marketingName(p), padded<HSAuint16>({'M'}));
    EXPECT_EQ(amdName(p), padded<HSAuint8>({'A'}));
    EXPECT_EQ(p.uCodeEngineVersions.Value, 26u);
    EXPECT_EQ(copied(p.DebugProperties.Value), 27000000000000u);
    EXPECT_EQ(copied(p.HiveID), 28000000000000u);
    EXPECT_EQ(p.NumSdmaEngines, 29u);
    EXPECT_EQ(p.NumSdmaXgmiEngines, 30u);
    EXPECT_EQ(p.NumSdmaQueuesPerEngine, 31u);
    EXPECT_EQ(p.NumCpQueues, 32u);
    EXPECT_EQ(p.NumGws, 33u);
    EXPECT_EQ(p.Integrated, 34u);
    EXPECT_EQ(p.Domain, 35u);
    EXPECT_EQ(copied(p.UniqueID), 36000000000000u);
    EXPECT_EQ(p.VGPRSizePerCU, 37u);
    EXPECT_EQ(p.SGPRSizePerCU, 38u);
    EXPECT_EQ(p.NumXcc, 39u);
    EXPECT_EQ(p.KFDGpuID, 40u);
    EXPECT_EQ(p.FamilyID, 41u);
}

TEST(JsonFixture, EveryOtherRecordFieldLandsInItsMember) {
    const Topology t = parseJsonFixture(R"({
        "version": {"KernelInterfaceMajorVersion": 1, "KernelInterfaceMinorVersion": 2},
        "system": {"NumNodes": 3, "PlatformOem": 4, "PlatformId": 5, "PlatformRev": 6},
        "nodes": [{
            "clock": {"GPUClockCounter": 7, "CPUClockCounter": 8, "SystemClockCounter": 9,
                      "SystemClockFrequencyHz": 10},
            "mem_banks": [{"HeapType": 11, "SizeInBytes": 12000000000000, "Flags": 13,
                           "Width": 14, "MemoryClockMax": 15, "VirtualBaseAddress": 16}],
            "io_links": [{"IoLinkType": 17, "VersionMajor": 18, "VersionMinor": 19,
                          "NodeFrom": 20, "NodeTo": 21, "Weight": 22, "MinimumLatency": 23,
                          "MaximumLatency": 24, "MinimumBandwidth": 25,
                          "MaximumBandwidth": 26, "RecTransferSize": 27, "Flags": 28}],
            "counters": {"NumConcurrent": 29, "blocks": [{"NumConcurrent": 30, "counters": [
                {"Type": 31, "CounterId": 32000000000000, "CounterSizeInBits": 33,
                 "CounterMask": 34000000000000, "Flags": 35, "BlockIndex": 36}]}]}
        }]})",
                                        "f.json");
    EXPECT_EQ(t.version.KernelInterfaceMajorVersion, 1u);
    EXPECT_EQ(t.version.KernelInterfaceMinorVersion, 2u);
    EXPECT_EQ(t.system.NumNodes, 3u);
    EXPECT_EQ(t.system.PlatformOem, 4u);
    EXPECT_EQ(t.system.PlatformId, 5u);
    EXPECT_EQ(t.system.PlatformRev, 6u);

    const TopologyNode& node = t.nodes.at(0);
    EXPECT_EQ(copied(node.clock.GPUClockCounter), 7u);
    EXPECT_EQ(copied(node.clock.CPUClockCounter), 8u);
    EXPECT_EQ(copied(node.clock.SystemClockCounter), 9u);
    EXPECT_EQ(copied(node.clock.SystemClockFrequencyHz), 10u);

    const HsaMemoryProperties& bank = node.memBanks.at(0);
    EXPECT_EQ(bank.HeapType, 11);
    EXPECT_EQ(copied(bank.SizeInBytes), 12000000000000u);
    EXPECT_EQ(bank.Flags.MemoryProperty, 13u);
    EXPECT_EQ(bank.Width, 14u);
    EXPECT_EQ(bank.MemoryClockMax, 15u);
    EXPECT_EQ(copied(bank.VirtualBaseAddress), 16u);

    const HsaIoLinkProperties& link = node.ioLinks.at(0);
    EXPECT_EQ(link.IoLinkType, 17);
    EXPECT_EQ(link.VersionMajor, 18u);
    EXPECT_EQ(link.VersionMinor, 19u);
    EXPECT_EQ(link.NodeFrom, 20u);
    EXPECT_EQ(link.NodeTo, 21u);
    EXPECT_EQ(link.Weight, 22u);
    EXPECT_EQ(link.MinimumLatency, 23u);
    EXPECT_EQ(link.MaximumLatency, 24u);
    EXPECT_EQ(link.MinimumBandwidth, 25u);
    EXPECT_EQ(link.MaximumBandwidth, 26u);
    EXPECT_EQ(link.RecTransferSize, 27u);
    EXPECT_EQ(link.Flags.LinkProperty, 28u);

    ASSERT_TRUE(node.counters.has_value());
    EXPECT_EQ(node.counters->numConcurrent, 29u);
    const CounterBlock& block = node.counters->blocks.at(0);
    EXPECT_EQ(block.numConcurrent, 30u);
    const HsaCounter& counter = block.counters.at(0);
    EXPECT_EQ(counter.Type, 31);
    EXPECT_EQ(copied(counter.CounterId), 32000000000000u);
    EXPECT_EQ(counter.CounterSizeInBits, 33u);
    EXPECT_EQ(copied(counter.CounterMask), 34000000000000u);
    EXPECT_EQ(counter.Flags.Value, 35u);
    EXPECT_EQ(counter.BlockIndex, 36u);
}

TEST(JsonFixture, AbsentSectionsAreZeroFilledOrEmpty) {
    const Topology empty = parseJsonFixture("{}", "f.json");
    EXPECT_EQ(empty.version.KernelInterfaceMajorVersion, 0u);
    EXPECT_EQ(empty.version.KernelInterfaceMinorVersion, 0u);
    EXPECT_EQ(empty.system.NumNodes, 0u);
    EXPECT_EQ(empty.system.PlatformOem, 0u);
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
    EXPECT_EQ(written.nodes.size(), 1u);
    EXPECT_EQ(written.nodes.at(0).properties.NumMemoryBanks, 7u);
    EXPECT_EQ(written.nodes.at(0).memBanks.size(), 2u);
    EXPECT_EQ(written.nodes.at(0).properties.NumIOLinks, 0u);
    EXPECT_EQ(written.nodes.at(0).ioLinks.size(), 1u);
}

TEST(JsonFixture, IntegersAreCheckedAgainstTheirFieldWidthAndSign) {
    EXPECT_EQ(copied(properties(R"("LocalMemSize": 0)").LocalMemSize), 0u);
    EXPECT_EQ(copied(properties(R"("LocalMemSize": 18446744073709551615)").LocalMemSize),
              18446744073709551615u);
    EXPECT_EQ(properties(R"("DrmRenderMinor": -2147483648)").DrmRenderMinor, INT32_MIN);
    EXPECT_EQ(properties(R"("DrmRenderMinor": 2147483647)").DrmRenderMinor, INT32_MAX);
    EXPECT_EQ(properties(R"("NumCPUCores": 4294967295)").NumCPUCores, UINT32_MAX);
    EXPECT_EQ(properties(R"("VendorId": 65535)").VendorId, UINT16_MAX);
    EXPECT_EQ(properties(R"("Integrated": 255)").Integrated, UINT8_MAX);

    const std::string at = "f.json: nodes[0].properties.";
    EXPECT_EQ(refusal(withProperties(R"("LocalMemSize": 18446744073709551616)")),
              at + "LocalMemSize: 18446744073709551616 does not fit an unsigned 64-bit field");
    EXPECT_EQ(refusal(withProperties(R"("LocalMemSize": -1)")),
              at + "LocalMemSize: -1 does not fit an unsigned 64-bit field");
    EXPECT_EQ(refusal(withProperties(R"("DrmRenderMinor": -2147483649)")),
              at + "DrmRenderMinor: -2147483649 does not fit a signed 32-bit field");
    EXPECT_EQ(refusal(withProperties(R"("DrmRenderMinor": 2147483648)")),
              at + "DrmRenderMinor: 2147483648 does not fit a signed 32-bit field");
    EXPECT_EQ(refusal(withProperties(R"("NumCPUCores": 4294967296)")),
              at + "NumCPUCores: 4294967296 does not fit an unsigned 32-bit field");
    EXPECT_EQ(refusal(withProperties(R"("VendorId": 65536)")),
              at + "VendorId: 65536 does not fit an unsigned 16-bit field");
    EXPECT_EQ(refusal(withProperties(R"("Integrated": 256)")),
              at + "Integrated: 256 does not fit an unsigned 8-bit field");
    EXPECT_EQ(refusal(R"({"nodes": [{"mem_banks": [{"HeapType": -1}]}]})"),
              "f.json: nodes[0].mem_banks[0].HeapType: -1 does not fit an unsigned 32-bit field");
}

TEST(JsonFixture, NumericFieldsTakeOnlyJsonIntegers) {
    const std::string at = "f.json: nodes[0].properties.NumCaches: ";
    EXPECT_EQ(refusal(withProperties(R"("NumCaches": 1.5)")), at + "1.5 is not an integer");
    EXPECT_EQ(refusal(withProperties(R"("NumCaches": 2.0)")), at + "2.0 is not an integer");
    EXPECT_EQ(refusal(withProperties(R"("NumCaches": 1e3)")), at + "1e3 is not an integer");
    EXPECT_EQ(refusal(withProperties(R"("NumCaches": true)")),
              at + "expected an integer, got boolean");
    EXPECT_EQ(refusal(withProperties(R"("NumCaches": "7")")),
              at + "expected an integer, got string");
    EXPECT_EQ(refusal(withProperties(R"("NumCaches": null)")),
              at + "expected an integer, got null");
    EXPECT_EQ(refusal(withProperties(R"("NumCaches": [7])")),
              at + "expected an integer, got array");
}

TEST(JsonFixture, ValuesOfTheWrongKindAreRefused) {
    EXPECT_EQ(refusal("[]"), "f.json: expected an object, got array");
    EXPECT_EQ(refusal(R"({"version": 1})"), "f.json: version: expected an object, got number");
    EXPECT_EQ(refusal(R"({"nodes": {}})"), "f.json: nodes: expected an array, got object");
    EXPECT_EQ(refusal(R"({"nodes": [[]]})"), "f.json: nodes[0]: expected an object, got array");
    EXPECT_EQ(refusal(R"({"nodes": [{"clock": null}]})"),
              "f.json: nodes[0].clock: expected an object, got null");
    EXPECT_EQ(refusal(R"({"nodes": [{"counters": []}]})"),
              "f.json: nodes[0].counters: expected an object or null, got array");
    EXPECT_EQ(refusal(withProperties(R"("MarketingName": 5)")),
              "f.json: nodes[0].properties.MarketingName: expected a string or an array, got "
              "number");
    EXPECT_EQ(refusal(R"({"faults": [{"call": 3, "status": 1}]})"),
              "f.json: faults[0].call: expected a string, got number");
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

TEST(JsonFixture, KeyGivenTwiceInOneObjectIsRefused) {
    EXPECT_EQ(refusal(withProperties(R"("NumCPUCores": 1, "NumCPUCores": 2)")),
              "f.json: nodes[0].properties.NumCPUCores: key given twice");
    EXPECT_EQ(refusal(R"({"faults": [], "faults": []})"), "f.json: faults: key given twice");
    EXPECT_EQ(refusal(R"({"nodes": [{"mem_banks": [{}, {"Width": 1, "Width": 1}]}]})"),
              "f.json: nodes[0].mem_banks[1].Width: key given twice");
}

TEST(JsonFixture, InvalidJsonIsRefusedWithTheParserPosition) {
    EXPECT_EQ(refusal(R"({"nodes": [})"),
              "f.json: invalid JSON: parse error at line 1, column 12: syntax error while "
              "parsing value - unexpected '}'; expected '[', '{', or a literal");
    EXPECT_EQ(refusal("{} {}"),
              "f.json: invalid JSON: parse error at line 1, column 4: syntax error while parsing "
              "value - unexpected '{'; expected end of input");
    EXPECT_EQ(
        refusal(withProperties("\"MarketingName\": \"\xff\""))
            .rfind("f.json: invalid JSON: parse error at line 1, column 46: syntax error while "
                   "parsing value - invalid string: ill-formed UTF-8 byte",
                   0),
        0u);
}

TEST(JsonFixture, MessagesStayOnOneLine) {
    EXPECT_EQ(refusal("{\"a\\nb\\u0007\": 1}"), "f.json: a b : unknown key");
    EXPECT_EQ(refusal("{\n\"nodes\": [\n}"),
              "f.json: invalid JSON: parse error at line 3, column 1: syntax error while parsing "
              "value - unexpected '}'; expected '[', '{', or a literal");
}

TEST(JsonFixture, MarketingNameTextBecomesUtf16Units) {
    // A, e acute, euro sign, and U+1F600 as a surrogate pair.
    EXPECT_EQ(marketingName(properties(R"("MarketingName": "Aé€😀")")),
              padded<HSAuint16>({0x41, 0xe9, 0x20ac, 0xd83d, 0xde00}));
    EXPECT_EQ(marketingName(properties(R"("MarketingName": "A\ud83d\ude00")")),
              padded<HSAuint16>({0x41, 0xd83d, 0xde00}));
}

TEST(JsonFixture, NameArraysAreRawUnits) {
    EXPECT_EQ(marketingName(properties(R"("MarketingName": [55296, 65535, 0, 66])")),
              padded<HSAuint16>({0xd800, 0xffff, 0, 66}));
    EXPECT_EQ(amdName(properties(R"("AMDName": [255, 0, 7])")), padded<HSAuint8>({255, 0, 7}));
    EXPECT_EQ(amdName(properties(R"("AMDName": "gfx942")")),
              padded<HSAuint8>({'g', 'f', 'x', '9', '4', '2'}));
    EXPECT_EQ(refusal(withProperties(R"("MarketingName": [0, 65536])")),
              "f.json: nodes[0].properties.MarketingName[1]: 65536 does not fit an unsigned "
              "16-bit field");
    EXPECT_EQ(refusal(withProperties(R"("AMDName": [256])")),
              "f.json: nodes[0].properties.AMDName[0]: 256 does not fit an unsigned 8-bit field");
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
    EXPECT_EQ(refusal(withProperties(R"("MarketingName": ")" + x64 + "x\"")),
              at + "MarketingName: 65 UTF-16 units, at most 64 fit");
    EXPECT_EQ(refusal(withProperties(R"("MarketingName": ")" + x64.substr(1) + "😀\"")),
              at + "MarketingName: 65 UTF-16 units, at most 64 fit");
    EXPECT_EQ(refusal(withProperties(R"("MarketingName": )" + array65)),
              at + "MarketingName: 65 UTF-16 units, at most 64 fit");
    EXPECT_EQ(refusal(withProperties(R"("AMDName": ")" + x64 + "x\"")),
              at + "AMDName: 65 bytes, at most 64 fit");
    EXPECT_EQ(refusal(withProperties(R"("AMDName": )" + array65)),
              at + "AMDName: 65 bytes, at most 64 fit");
}

TEST(JsonFixture, BlockIdTextIsStoredAsTheHeaderLaysOutTheFields) {
    const auto blockId = [](const std::string& id) {
        return parseJsonFixture(withBlockId(id), "f.json")
            .nodes.at(0)
            .counters->blocks.at(0)
            .blockId;
    };
    const std::vector<HSAuint8> sq = {0xb6, 0x96, 0xc3, 0xb5, 0x10, 0xd3, 0xe4, 0x47,
                                      0x86, 0xfc, 0x5c, 0xc3, 0x04, 0x3a, 0xf5, 0x08};
    EXPECT_EQ(bytesOf(blockId(R"("b5c396b6-d310-47e4-86fc-5cc3043af508")")), sq);
    EXPECT_EQ(bytesOf(blockId(R"("B5C396B6-D310-47E4-86FC-5CC3043AF508")")), sq);
    EXPECT_EQ(bytesOf(blockId("[1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 255]")),
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
    EXPECT_EQ(refusal(withBlockId("[1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15]")),
              at + ": 15 bytes, expected 16");
    EXPECT_EQ(refusal(withBlockId("[1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17]")),
              at + ": 17 bytes, expected 16");
    EXPECT_EQ(refusal(withBlockId("[1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 256]")),
              at + "[15]: 256 does not fit an unsigned 8-bit field");
    EXPECT_EQ(refusal(withBlockId("5")), at + ": expected a string or an array, got number");
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
    EXPECT_EQ(refusal(R"({"faults": [{"call": "hsaKmtGetNodeCacheProperties", "status": 1}]})"),
              "f.json: faults[0].call: \"hsaKmtGetNodeCacheProperties\" is not a simulated "
              "libhsakmt function");
    EXPECT_EQ(refusal(R"({"faults": [{"call": "hsaKmtOpenKFD", "status": 0}]})"),
              "f.json: faults[0].status: a fault's status must not be 0");
    EXPECT_EQ(refusal(R"({"faults": [{"status": 1}]})"), "f.json: faults[0]: missing key \"call\"");
    EXPECT_EQ(refusal(R"({"faults": [{"call": "hsaKmtOpenKFD"}]})"),
              "f.json: faults[0]: missing key \"status\"");
    EXPECT_EQ(refusal(R"({"faults": [{"call": "hsaKmtOpenKFD", "status": 1, "node": -1}]})"),
              "f.json: faults[0].node: -1 does not fit an unsigned 32-bit field");
    EXPECT_EQ(refusal(R"({"faults": [{"call": "hsaKmtOpenKFD", "status": 2147483648}]})"),
              "f.json: faults[0].status: 2147483648 does not fit a signed 32-bit field");
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
    try {
        loadJsonFixture(missing);
        ADD_FAILURE() << "a missing file was accepted";
    } catch (const FixtureError& failure) {
        EXPECT_STREQ(failure.what(),
                     (missing + ": cannot read: No such file or directory").c_str());
    }
    const std::string directory = std::filesystem::temp_directory_path().string();
    try {
        loadJsonFixture(directory);
        ADD_FAILURE() << "a directory was accepted";
    } catch (const FixtureError& failure) {
        EXPECT_STREQ(failure.what(), (directory + ": cannot read: Is a directory").c_str());
    }
}

TEST(CounterRecord, BlocksAndCountersLieBackToBackWithFourBytePacking) {
    CounterSet set;
    set.numConcurrent = 7;
    CounterBlock first;
    const HSAuint8 idBytes[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    std::memcpy(&first.blockId, idBytes, sizeof idBytes);
    first.numConcurrent = 2;
    for (HSAuint32 i = 0; i < 2; ++i) {
        HsaCounter counter{};
        counter.Type = HSA_PROFILE_TYPE_NONPRIV_STREAMING;
        counter.CounterId = 0x1122334455667788 + i;
        counter.CounterSizeInBits = 48;
        counter.CounterMask = 0xffffffffffff;
        counter.Flags.Value = 0xa;
        counter.BlockIndex = 9;
        first.counters.push_back(counter);
    }
    CounterBlock empty;
    empty.numConcurrent = 5;
    CounterBlock last;
    last.numConcurrent = 6;
    HsaCounter lastCounter{};
    lastCounter.CounterId = 42;
    last.counters.push_back(lastCounter);
    set.blocks = {first, empty, last};

    const std::vector<std::byte> bytes = buildCounterRecord(set);
    EXPECT_EQ(readAt<HSAuint32>(bytes, 0), 3u);  // NumBlocks
    EXPECT_EQ(readAt<HSAuint32>(bytes, 4), 7u);  // NumConcurrent

    // First block at 8: BlockId, NumCounters, NumConcurrent, then counters of 32 bytes.
    EXPECT_EQ(std::memcmp(bytes.data() + 8, idBytes, sizeof idBytes), 0);
    EXPECT_EQ(readAt<HSAuint32>(bytes, 24), 2u);
    EXPECT_EQ(readAt<HSAuint32>(bytes, 28), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const std::size_t counter = 32 + 32 * i;
        EXPECT_EQ(readAt<HSAuint32>(bytes, counter + 0), 3u);  // Type
        EXPECT_EQ(readAt<HSAuint64>(bytes, counter + 4), 0x1122334455667788 + i);
        EXPECT_EQ(readAt<HSAuint32>(bytes, counter + 12), 48u);
        EXPECT_EQ(readAt<HSAuint64>(bytes, counter + 16), 0xffffffffffffu);
        EXPECT_EQ(readAt<HSAuint32>(bytes, counter + 24), 0xau);
        EXPECT_EQ(readAt<HSAuint32>(bytes, counter + 28), 9u);
    }

    // The empty block follows at 8 + 24 + 2 * 32, the last one right after its header.
    EXPECT_EQ(readAt<HSAuint32>(bytes, 96 + 16), 0u);
    EXPECT_EQ(readAt<HSAuint32>(bytes, 96 + 20), 5u);
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

TEST(DefaultTopology, CountsMatchRecordsAndLinksJoinTheNodesBothWays) {
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
            EXPECT_LT(link.NodeTo, t.nodes.size());
            links.emplace(link.NodeFrom, link.NodeTo);
        }
    }
    EXPECT_EQ(links, (std::set<std::pair<HSAuint32, HSAuint32>>{{0, 1}, {1, 0}}));
}

TEST(DefaultTopology, IsACpuNodeAndAGpuNodeWithConsistentCounters) {
    const Topology t = defaultTopology();
    const HsaNodeProperties& cpu = t.nodes.at(0).properties;
    const HsaNodeProperties& gpu = t.nodes.at(1).properties;
    EXPECT_GT(cpu.NumCPUCores, 0u);
    EXPECT_EQ(cpu.NumFComputeCores, 0u);
    EXPECT_FALSE(t.nodes[0].counters.has_value());
    EXPECT_GT(gpu.NumFComputeCores, 0u);
    EXPECT_GE(gpu.NumShaderBanks * gpu.NumArrays * gpu.NumCUPerArray * gpu.NumSIMDPerCU,
              gpu.NumFComputeCores);
    EXPECT_GT(t.version.KernelInterfaceMajorVersion, 0u);

    const std::string cpuName(std::begin(cpu.MarketingName), std::end(cpu.MarketingName));
    EXPECT_EQ(cpuName.c_str(), std::string("AMD EPYC 9654 96-Core Processor"));
    const std::string gpuName(std::begin(gpu.AMDName), std::end(gpu.AMDName));
    EXPECT_EQ(gpuName.c_str(), std::string("gfx942"));

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

TEST(TopologySource, EmptySourceIsTheBuiltInTopology) {
    const Topology t = loadTopologySource("");
    const Topology builtIn = defaultTopology();
    ASSERT_EQ(t.nodes.size(), builtIn.nodes.size());
    EXPECT_EQ(std::memcmp(&t.nodes[1].properties, &builtIn.nodes[1].properties,
                          sizeof(HsaNodeProperties)),
              0);
}

}  // namespace
