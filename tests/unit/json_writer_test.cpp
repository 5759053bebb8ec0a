// Unit tests of the kfdsim fixture writer: field order and layout, names, block ids, reloading.
#include "sim/fixture/json_writer.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <hsakmt/hsakmt.h>

#include "sim/api/counter_record.h"
#include "sim/fixture/json_fixture.h"
#include "sim/topology.h"

namespace {

// A topology in which every field has its own value, so a field written under the wrong key
// shows. NumNodes, NumMemoryBanks and NumIOLinks differ from their arrays' lengths.
Topology distinctTopology() {
    Topology t;
    t.version = {1, 2};
    t.system.NumNodes = 3;
    t.system.PlatformOem = 4;
    t.system.PlatformId = 5;
    t.system.PlatformRev = 6;

    TopologyNode node;
    HsaNodeProperties& p = node.properties;
    p.NumCPUCores = 101;
    p.NumFComputeCores = 102;
    p.NumMemoryBanks = 103;
    p.NumCaches = 104;
    p.NumIOLinks = 105;
    p.CComputeIdLo = 106;
    p.FComputeIdLo = 107;
    p.Capability.Value = 108;
    p.MaxWavesPerSIMD = 109;
    p.LDSSizeInKB = 110;
    p.GDSSizeInKB = 111;
    p.WaveFrontSize = 112;
    p.NumShaderBanks = 113;
    p.NumArrays = 114;
    p.NumCUPerArray = 115;
    p.NumSIMDPerCU = 116;
    p.MaxSlotsScratchCU = 117;
    p.EngineId.Value = 118;
    p.VendorId = 119;
    p.DeviceId = 120;
    p.LocationId = 121;
    p.LocalMemSize = 122000000000122;
    p.MaxEngineClockMhzFCompute = 123;
    p.MaxEngineClockMhzCCompute = 124;
    p.DrmRenderMinor = -125;
    p.MarketingName[0] = 'M';
    p.MarketingName[1] = 0xE9;  // e with acute accent
    p.AMDName[0] = 'g';
    p.uCodeEngineVersions.Value = 126;
    p.DebugProperties.Value = 127000000000127;
    p.HiveID = 128000000000128;
    p.NumSdmaEngines = 129;
    p.NumSdmaXgmiEngines = 130;
    p.NumSdmaQueuesPerEngine = 131;
    p.NumCpQueues = 132;
    p.NumGws = 133;
    p.Integrated = 134;
    p.Domain = 135;
    p.UniqueID = 136000000000136;
    p.VGPRSizePerCU = 137;
    p.SGPRSizePerCU = 138;
    p.NumXcc = 139;
    p.KFDGpuID = 140;
    p.FamilyID = 141;

    node.clock = {201, 202, 203, 204};

    HsaMemoryProperties bank{};
    bank.HeapType = static_cast<HSA_HEAPTYPE>(301);
    bank.SizeInBytes = 302000000000302;
    bank.Flags.MemoryProperty = 303;
    bank.Width = 304;
    bank.MemoryClockMax = 305;
    bank.VirtualBaseAddress = 306000000000306;
    node.memBanks.push_back(bank);

    HsaIoLinkProperties link{};
    link.IoLinkType = static_cast<HSA_IOLINKTYPE>(401);
    link.VersionMajor = 402;
    link.VersionMinor = 403;
    link.NodeFrom = 404;
    link.NodeTo = 405;
    link.Weight = 406;
    link.MinimumLatency = 407;
    link.MaximumLatency = 408;
    link.MinimumBandwidth = 409;
    link.MaximumBandwidth = 410;
    link.RecTransferSize = 411;
    link.Flags.LinkProperty = 412;
    node.ioLinks.push_back(link);

    HsaCounter counter{};
    counter.Type = static_cast<HSA_PROFILE_TYPE>(501);
    counter.CounterId = 502000000000502;
    counter.CounterSizeInBits = 503;
    counter.CounterMask = 504000000000504;
    counter.Flags.Value = 505;
    counter.BlockIndex = 506;
    const HSA_UUID blockId{
        0x01234567, 0x89ab, 0xcdef, {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef}};
    node.counters = CounterSet{601, {CounterBlock{blockId, 602, {counter}}, CounterBlock{}}};

    t.nodes.push_back(node);
    t.faults.push_back({KfdCall::GetClockCounters, 0, -701});
    t.faults.push_back({KfdCall::CloseKFD, std::nullopt, 702});
    return t;
}

const std::string distinctText = R"({
  "version": { "KernelInterfaceMajorVersion": 1, "KernelInterfaceMinorVersion": 2 },
  "system": { "NumNodes": 3, "PlatformOem": 4, "PlatformId": 5, "PlatformRev": 6 },
  "nodes": [
    {
      "properties": {
        "NumCPUCores": 101,
        "NumFComputeCores": 102,
        "NumMemoryBanks": 103,
        "NumCaches": 104,
        "NumIOLinks": 105,
        "CComputeIdLo": 106,
        "FComputeIdLo": 107,
        "Capability": 108,
        "MaxWavesPerSIMD": 109,
        "LDSSizeInKB": 110,
        "GDSSizeInKB": 111,
        "WaveFrontSize": 112,
        "NumShaderBanks": 113,
        "NumArrays": 114,
        "NumCUPerArray": 115,
        "NumSIMDPerCU": 116,
        "MaxSlotsScratchCU": 117,
        "EngineId": 118,
        "VendorId": 119,
        "DeviceId": 120,
        "LocationId": 121,
        "LocalMemSize": 122000000000122,
        "MaxEngineClockMhzFCompute": 123,
        "MaxEngineClockMhzCCompute": 124,
        "DrmRenderMinor": -125,
        "MarketingName": "Mé",
        "AMDName": "g",
        "uCodeEngineVersions": 126,
        "DebugProperties": 127000000000127,
        "HiveID": 128000000000128,
        "NumSdmaEngines": 129,
        "NumSdmaXgmiEngines": 130,
        "NumSdmaQueuesPerEngine": 131,
        "NumCpQueues": 132,
        "NumGws": 133,
        "Integrated": 134,
        "Domain": 135,
        "UniqueID": 136000000000136,
        "VGPRSizePerCU": 137,
        "SGPRSizePerCU": 138,
        "NumXcc": 139,
        "KFDGpuID": 140,
        "FamilyID": 141
      },
      "clock": { "GPUClockCounter": 201, "CPUClockCounter": 202, "SystemClockCounter": 203, "SystemClockFrequencyHz": 204 },
      "mem_banks": [
        { "HeapType": 301, "SizeInBytes": 302000000000302, "Flags": 303, "Width": 304, "MemoryClockMax": 305, "VirtualBaseAddress": 306000000000306 }
      ],
      "io_links": [
        { "IoLinkType": 401, "VersionMajor": 402, "VersionMinor": 403, "NodeFrom": 404, "NodeTo": 405, "Weight": 406, "MinimumLatency": 407, "MaximumLatency": 408, "MinimumBandwidth": 409, "MaximumBandwidth": 410, "RecTransferSize": 411, "Flags": 412 }
      ],
      "counters": {
        "NumConcurrent": 601,
        "blocks": [
          {
            "BlockId": "01234567-89ab-cdef-0123-456789abcdef",
            "NumConcurrent": 602,
            "counters": [
              { "Type": 501, "CounterId": 502000000000502, "CounterSizeInBits": 503, "CounterMask": 504000000000504, "Flags": 505, "BlockIndex": 506 }
            ]
          },
          { "BlockId": "00000000-0000-0000-0000-000000000000", "NumConcurrent": 0, "counters": [] }
        ]
      }
    }
  ],
  "faults": [
    { "call": "hsaKmtGetClockCounters", "node": 0, "status": -701 },
    { "call": "hsaKmtCloseKFD", "status": 702 }
  ]
}
)";

// One node whose properties are `properties`, without banks, links or counters.
Topology withProperties(const HsaNodeProperties& properties) {
    Topology t;
    t.nodes.emplace_back();
    t.nodes.back().properties = properties;
    t.system.NumNodes = 1;
    return t;
}

// The text of the line that holds `key` in `text`, after "<key>: " and without the comma.
std::string writtenValue(const std::string& text, const char* key) {
    const std::string label = "\"" + std::string(key) + "\": ";
    const std::size_t start = text.find(label);
    if (start == std::string::npos) {
        return "<absent>";
    }
    const std::size_t from = start + label.size();
    std::string value = text.substr(from, text.find('\n', from) - from);
    if (!value.empty() && value.back() == ',') {
        value.pop_back();
    }
    return value;
}

// A name of 64 units `unit`, with no terminator, as the JSON array the writer gives it.
std::string unterminatedArray(int unit) {
    std::string array;
    for (int i = 0; i < HSA_PUBLIC_NAME_SIZE; ++i) {
        array += (i == 0 ? "[" : ", ") + std::to_string(unit);
    }
    return array + "]";
}

struct NameCase {
    std::vector<HSAuint16> units;  // the name's first units; the rest are 0
    std::string written;           // the JSON value written for it
};

TEST(JsonWriter, WritesEveryFieldInHeaderOrderOneRecordPerLine) {
    EXPECT_EQ(writeJsonFixture(distinctTopology()), distinctText);
}

TEST(JsonWriter, LoaderReadsBackEveryFieldItWrites) {
    const std::string text = writeJsonFixture(distinctTopology());
    const Topology reloaded = parseJsonFixture(text, "written.json");
    EXPECT_EQ(writeJsonFixture(reloaded), text);
    EXPECT_EQ(reloaded.system.NumNodes, 3u);
    EXPECT_EQ(reloaded.nodes.at(0).properties.NumMemoryBanks, 103u);
    EXPECT_EQ(reloaded.nodes.at(0).properties.NumIOLinks, 105u);
    ASSERT_TRUE(reloaded.nodes.at(0).counters);
    EXPECT_EQ(buildCounterRecord(*reloaded.nodes.at(0).counters),
              buildCounterRecord(*distinctTopology().nodes.at(0).counters));
}

TEST(JsonWriter, CountsAreWrittenOnlyWhereTheyDifferFromTheArrays) {
    Topology t;
    t.nodes.resize(2);
    t.nodes[0].memBanks.resize(2);
    t.nodes[0].properties.NumMemoryBanks = 2;
    t.nodes[1].properties.NumMemoryBanks = 4294967295;  // negative for kfdtopo: never fetched
    t.nodes[1].properties.NumIOLinks = 2147483648;
    t.system.NumNodes = 2;
    std::string text = writeJsonFixture(t);
    EXPECT_EQ(writtenValue(text, "NumNodes"), "<absent>");
    EXPECT_EQ(writtenValue(text, "NumMemoryBanks"), "4294967295");
    EXPECT_EQ(writtenValue(text, "NumIOLinks"), "2147483648");
    Topology reloaded = parseJsonFixture(text, "counts.json");
    EXPECT_EQ(reloaded.nodes.at(0).properties.NumMemoryBanks, 2u);
    EXPECT_EQ(reloaded.nodes.at(1).properties.NumMemoryBanks, 4294967295u);
    EXPECT_EQ(reloaded.nodes.at(1).properties.NumIOLinks, 2147483648u);

    t.system.NumNodes = 0;
    text = writeJsonFixture(t);
    EXPECT_NE(text.find(R"("system": { "NumNodes": 0, "PlatformOem": 0,)"), std::string::npos);
    EXPECT_EQ(parseJsonFixture(text, "counts.json").system.NumNodes, 0u);
}

TEST(JsonWriter, MarketingNameIsTextOnlyWhenValidUtf16UpToTheTerminator) {
    const std::vector<NameCase> cases = {
        {{}, "\"\""},
        {{'A', 'b', ' ', 'c'}, "\"Ab c\""},
        {{0xD83D, 0xDE00, 0xE9}, "\"\xf0\x9f\x98\x80\xc3\xa9\""},  // a surrogate pair, then é
        {{0x01, '"', '\\'}, "\"\\u0001\\\"\\\\\""},
        {{'A', 0xD800, 'B'}, "[65, 55296, 66]"},  // a high surrogate alone
        {{0xDC00, 'B'}, "[56320, 66]"},           // a low surrogate alone
        {{'A', 0xD800}, "[65, 55296]"},           // a high surrogate before the terminator
        {{'A', 0, 'B'}, "[65, 0, 66]"},           // units after the terminator
        {std::vector<HSAuint16>(HSA_PUBLIC_NAME_SIZE, 'x'), unterminatedArray('x')},
    };
    for (const NameCase& name : cases) {
        HsaNodeProperties p{};
        std::copy(name.units.begin(), name.units.end(), std::begin(p.MarketingName));
        const std::string text = writeJsonFixture(withProperties(p));
        EXPECT_EQ(writtenValue(text, "MarketingName"), name.written);
        const HsaNodeProperties reloaded =
            parseJsonFixture(text, "name.json").nodes.at(0).properties;
        EXPECT_TRUE(std::equal(std::begin(p.MarketingName), std::end(p.MarketingName),
                               std::begin(reloaded.MarketingName)))
            << name.written;
    }
}

TEST(JsonWriter, AmdNameIsTextOnlyWhenValidUtf8UpToTheTerminator) {
    const std::vector<NameCase> cases = {
        {{}, "\"\""},
        {{'g', 'f', 'x', '9', '4', '2'}, "\"gfx942\""},
        {{0xC3, 0xA9}, "\"\xc3\xa9\""},                      // é
        {{0xFF}, "[255]"},                                   // never in UTF-8
        {{0xC0, 0x80}, "[192, 128]"},                        // overlong zero
        {{0xED, 0xA0, 0x80}, "[237, 160, 128]"},             // an encoded surrogate
        {{0xF4, 0x90, 0x80, 0x80}, "[244, 144, 128, 128]"},  // past U+10FFFF
        {{'a', 0xE2, 0x82}, "[97, 226, 130]"},               // cut short by the terminator
        {{'a', 0, 'b'}, "[97, 0, 98]"},                      // bytes after the terminator
        {std::vector<HSAuint16>(HSA_PUBLIC_NAME_SIZE, 'a'), unterminatedArray('a')},
    };
    for (const NameCase& name : cases) {
        HsaNodeProperties p{};
        std::transform(name.units.begin(), name.units.end(), std::begin(p.AMDName),
                       [](HSAuint16 unit) { return static_cast<HSAuint8>(unit); });
        const std::string text = writeJsonFixture(withProperties(p));
        EXPECT_EQ(writtenValue(text, "AMDName"), name.written);
        const HsaNodeProperties reloaded =
            parseJsonFixture(text, "name.json").nodes.at(0).properties;
        EXPECT_TRUE(
            std::equal(std::begin(p.AMDName), std::end(p.AMDName), std::begin(reloaded.AMDName)))
            << name.written;
    }
}

TEST(JsonWriter, BlockIdIsTextMostSignificantDigitFirst) {
    const std::vector<std::pair<HSA_UUID, std::string>> cases = {
        {HSA_PROFILEBLOCK_AMD_SQ, "\"b5c396b6-d310-47e4-86fc-5cc3043af508\""},
        {HSA_UUID{1, 2, 3, {0, 0, 0, 0, 0, 0, 0, 4}}, "\"00000001-0002-0003-0000-000000000004\""},
        {HSA_UUID{0xffffffff, 0xffff, 0xffff, {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}},
         "\"ffffffff-ffff-ffff-ffff-ffffffffffff\""},
    };
    for (const auto& [id, written] : cases) {
        Topology t = withProperties({});
        t.nodes[0].counters = CounterSet{1, {CounterBlock{id, 1, {}}}};
        const std::string text = writeJsonFixture(t);
        EXPECT_NE(text.find("{ \"BlockId\": " + written + ", "), std::string::npos) << text;
        const Topology reloaded = parseJsonFixture(text, "block.json");
        EXPECT_EQ(buildCounterRecord(*reloaded.nodes.at(0).counters),
                  buildCounterRecord(*t.nodes[0].counters));
    }
}

TEST(JsonWriter, CountersAreNullWithoutARecordAndAnObjectWithOne) {
    Topology t = withProperties({});
    EXPECT_EQ(writtenValue(writeJsonFixture(t), "counters"), "null");
    EXPECT_FALSE(parseJsonFixture(writeJsonFixture(t), "none.json").nodes.at(0).counters);

    t.nodes[0].counters = CounterSet{};
    const std::string text = writeJsonFixture(t);
    EXPECT_EQ(writtenValue(text, "counters"), "{ \"NumConcurrent\": 0, \"blocks\": [] }");
    EXPECT_TRUE(parseJsonFixture(text, "empty.json").nodes.at(0).counters);
}

TEST(JsonWriter, EmptyTopologyWritesEveryTopLevelKey) {
    EXPECT_EQ(writeJsonFixture(Topology{}),
              "{\n"
              "  \"version\": { \"KernelInterfaceMajorVersion\": 0, "
              "\"KernelInterfaceMinorVersion\": 0 },\n"
              "  \"system\": { \"PlatformOem\": 0, \"PlatformId\": 0, \"PlatformRev\": 0 },\n"
              "  \"nodes\": [],\n"
              "  \"faults\": []\n"
              "}\n");
}

}  // namespace
