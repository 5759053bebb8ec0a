// Random topologies: fixtures built field by field from one seeded engine.
#include "tests/random/random_topology.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <random>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace {
using Json = nlohmann::json;
using Rng = std::mt19937_64;

constexpr std::size_t nameSize = 64;  // units of MarketingName, bytes of AMDName
constexpr std::uint64_t maxId = std::numeric_limits<std::uint64_t>::max();

// The unsigned fields of HsaNodeProperties and their widths; the counts come from the arrays.
// clang-format off
constexpr std::array<std::pair<std::string_view, unsigned>, 38> nodeFields{{
    {"NumCPUCores", 32},           {"NumFComputeCores", 32},          {"NumCaches", 32},
    {"CComputeIdLo", 32},          {"FComputeIdLo", 32},              {"Capability", 32},
    {"MaxWavesPerSIMD", 32},       {"LDSSizeInKB", 32},               {"GDSSizeInKB", 32},
    {"WaveFrontSize", 32},         {"NumShaderBanks", 32},            {"NumArrays", 32},
    {"NumCUPerArray", 32},         {"NumSIMDPerCU", 32},              {"MaxSlotsScratchCU", 32},
    {"EngineId", 32},              {"VendorId", 16},                  {"DeviceId", 16},
    {"LocationId", 32},            {"LocalMemSize", 64},              {"MaxEngineClockMhzFCompute", 32},
    {"MaxEngineClockMhzCCompute", 32}, {"uCodeEngineVersions", 32},   {"DebugProperties", 64},
    {"HiveID", 64},                {"NumSdmaEngines", 32},            {"NumSdmaXgmiEngines", 32},
    {"NumSdmaQueuesPerEngine", 8}, {"NumCpQueues", 8},                {"NumGws", 8},
    {"Integrated", 8},             {"Domain", 32},                    {"UniqueID", 64},
    {"VGPRSizePerCU", 32},         {"SGPRSizePerCU", 32},             {"NumXcc", 32},
    {"KFDGpuID", 32},              {"FamilyID", 32},
}};

// The identifiers of the known counter blocks, in the fixture's text form.
constexpr std::array<std::string_view, 23> knownBlockIds{
    "9ba429c6-af2d-4b38-b349-157271beac6a", "2b0ad2b5-1c43-4f46-a7bc-e119411ea6c9",
    "590ec94d-20f0-448f-8dff-316c679de7ff", "3d1a47fc-0013-4ed4-8306-822ca0b7a6c2",
    "f59276ec-2526-4bf8-8ec0-118f77700dc9", "8f00933c-c33d-4801-97b7-7007f78573ad",
    "34ebd8d7-7c8b-4d15-88fa-0e4e4af59ac1", "34276944-4264-4fcd-9d6e-ae264582ec51",
    "13900b57-4956-4d98-81d0-68521937f59c", "b0e7fb5d-0efc-4744-b516-5d23dc1fd56c",
    "9a152b6a-1fad-45f2-a5bf-f163826bd0cd", "eda81044-d62c-47eb-af89-4f6fbf3b38e0",
    "9f8040e0-6830-4019-acc8-463c9e445b89", "b5c396b6-d310-47e4-86fc-5cc3043af508",
    "bdb8d737-43cc-4162-be52-51cfb847beaf", "c01ee43d-ad92-44b1-8ab9-be5e696ceea7",
    "333e393f-e147-4f49-a6d1-60914c7086b0", "848ce855-d805-4566-a8ab-73e884cc6bff",
    "e10a013b-17d4-4bf5-b089-429591059b60", "4126245c-4d96-4d1a-8aed-a939d4cc8ec9",
    "7d7c0fe4-fe41-4fea-92c9-4544d7706dc6", "0b6a8cb7-7a01-409f-a22c-3014854f1359",
    "0e176789-46ed-4b02-972a-916d2fac244a",
};
// clang-format on

// A number below `n`. Plain modulo keeps a seed's fixture the same with every standard library.
std::uint64_t below(Rng& rng, std::uint64_t n) { return rng() % n; }

bool chance(Rng& rng, unsigned percent) { return below(rng, 100) < percent; }

// A field of `bits` bits: 0, 1, its maximum, the maximum - 1, a small value or any value.
std::uint64_t unsignedValue(Rng& rng, unsigned bits) {
    const std::uint64_t max = bits == 64 ? maxId : (std::uint64_t{1} << bits) - 1;
    switch (below(rng, 6)) {
        case 0:
            return 0;
        case 1:
            return 1;
        case 2:
            return max;
        case 3:
            return max - 1;
        case 4:
            return below(rng, 1000) & max;
        default:
            return rng() & max;
    }
}

// A signed 32-bit field: the values around its limits and 0, or any value.
std::int32_t signedValue(Rng& rng) {
    constexpr std::int32_t min = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t max = std::numeric_limits<std::int32_t>::max();
    constexpr std::array<std::int32_t, 7> extremes{min, min + 1, -1, 0, 1, max - 1, max};
    if (chance(rng, 80)) {
        return extremes[below(rng, extremes.size())];
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(rng()));
}

// A name table key: mostly 0 to `last` (the known keys and neighbours without a row), else all
// bits set or any 32-bit value.
std::uint32_t tableKey(Rng& rng, std::uint32_t last) {
    const std::uint64_t kind = below(rng, 10);
    if (kind < 8) {
        return static_cast<std::uint32_t>(below(rng, std::uint64_t{last} + 1));
    }
    return kind == 8 ? 0xFFFFFFFFU : static_cast<std::uint32_t>(rng());
}

// Sets `key` to a value of `bits` bits, most of the time; absent fields are 0.
void maybeSet(Rng& rng, Json& object, std::string_view key, unsigned bits) {
    if (chance(rng, 90)) {
        object[std::string(key)] = unsignedValue(rng, bits);
    }
}

// A code point of valid text other than NUL and line feed, from every UTF-8 length.
char32_t codePoint(Rng& rng) {
    char32_t point = 0;
    switch (below(rng, 8)) {
        case 0:
            point = static_cast<char32_t>(1 + below(rng, 0x7F));
            break;
        case 1:
            point = static_cast<char32_t>(0x80 + below(rng, 0x780));
            break;
        case 2:
            point = static_cast<char32_t>(0x800 + below(rng, 0xD800 - 0x800));
            break;
        case 3:
            point = static_cast<char32_t>(0xE000 + below(rng, 0x2000));
            break;
        case 4:
            point = static_cast<char32_t>(0x10000 + below(rng, 0x100000));
            break;
        default:
            point = static_cast<char32_t>(0x20 + below(rng, 0x5F));
            break;
    }
    return point == U'\n' ? U' ' : point;
}

std::size_t utf16Length(char32_t point) { return point >= 0x10000 ? 2 : 1; }

std::size_t utf8Length(char32_t point) {
    return point < 0x80 ? 1 : point < 0x800 ? 2 : point < 0x10000 ? 3 : 4;
}

void appendUtf8(std::string& text, char32_t point) {
    const std::size_t length = utf8Length(point);
    if (length == 1) {
        text += static_cast<char>(point);
        return;
    }
    constexpr std::array<unsigned, 5> lead{0, 0, 0xC0, 0xE0, 0xF0};
    text += static_cast<char>(lead[length] | (point >> (6 * (length - 1))));
    for (std::size_t k = length - 1; k > 0; --k) {
        text += static_cast<char>(0x80 | ((point >> (6 * (k - 1))) & 0x3F));
    }
}

void appendUtf16(Json& units, char32_t point) {
    if (point < 0x10000) {
        units.push_back(static_cast<std::uint32_t>(point));
        return;
    }
    const auto offset = static_cast<std::uint32_t>(point - 0x10000);
    units.push_back(0xD800 + (offset >> 10));
    units.push_back(0xDC00 + (offset & 0x3FF));
}

// Code points whose length in `unitsOf` stays within `room`: empty, full, or any length.
template <typename UnitsOf>
std::vector<char32_t> text(Rng& rng, std::size_t room, UnitsOf unitsOf) {
    const std::size_t target = chance(rng, 20) ? room : below(rng, room + 1);
    std::vector<char32_t> points;
    std::size_t used = 0;
    for (int tries = 0; used < target && tries < 200; ++tries) {
        const char32_t point = codePoint(rng);
        if (used + unitsOf(point) <= target) {
            points.push_back(point);
            used += unitsOf(point);
        }
    }
    return points;
}

// What may follow a terminating zero: ignored by the report, so anything, line feeds included.
char32_t anyCodePoint(Rng& rng) { return chance(rng, 20) ? U'\n' : codePoint(rng); }

// A MarketingName: UTF-8 text or raw UTF-16 units, sometimes a zero and ignored units after it.
Json marketingName(Rng& rng) {
    const std::vector<char32_t> points = text(rng, nameSize, utf16Length);
    std::size_t used = 0;
    for (char32_t point : points) {
        used += utf16Length(point);
    }
    const bool tail = used < nameSize && chance(rng, 30);
    const std::size_t tailRoom = tail ? below(rng, nameSize - used) : 0;
    if (chance(rng, 60)) {
        std::string name;
        for (char32_t point : points) {
            appendUtf8(name, point);
        }
        if (tail) {
            name += '\0';
            for (std::size_t tailUsed = 0; tailUsed < tailRoom;) {
                const char32_t point = anyCodePoint(rng);
                const char32_t fitting = tailUsed + utf16Length(point) <= tailRoom ? point : U'\n';
                appendUtf8(name, fitting);
                tailUsed += utf16Length(fitting);
            }
        }
        return name;
    }
    Json units = Json::array();
    for (char32_t point : points) {
        appendUtf16(units, point);
    }
    if (tail) {
        units.push_back(0);
        for (std::size_t i = 0; i < tailRoom; ++i) {
            units.push_back(below(rng, 0x10000));  // unpaired surrogates too
        }
    }
    return units;
}

// An AMDName: UTF-8 text or raw bytes without NUL and line feed, sometimes a zero and ignored
// bytes after it.
Json amdName(Rng& rng) {
    if (chance(rng, 50)) {
        std::string name;
        for (char32_t point : text(rng, nameSize, utf8Length)) {
            appendUtf8(name, point);
        }
        return name;
    }
    Json bytes = Json::array();
    const std::size_t length = chance(rng, 20) ? nameSize : below(rng, nameSize + 1);
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint64_t byte = 1 + below(rng, 255);
        bytes.push_back(byte == '\n' ? std::uint64_t{'n'} : byte);
    }
    if (length < nameSize && chance(rng, 30)) {
        bytes.push_back(0);
        for (std::size_t i = below(rng, nameSize - length); i > 0; --i) {
            bytes.push_back(below(rng, 256));
        }
    }
    return bytes;
}

Json nodeProperties(Rng& rng) {
    Json properties = Json::object();
    for (const auto& [key, bits] : nodeFields) {
        maybeSet(rng, properties, key, bits);
    }
    if (chance(rng, 90)) {
        properties["DrmRenderMinor"] = signedValue(rng);
    }
    if (chance(rng, 90)) {
        properties["MarketingName"] = marketingName(rng);
    }
    if (chance(rng, 90)) {
        properties["AMDName"] = amdName(rng);
    }
    return properties;
}

Json clockCounters(Rng& rng) {
    Json clock = Json::object();
    for (std::string_view key :
         {"GPUClockCounter", "CPUClockCounter", "SystemClockCounter", "SystemClockFrequencyHz"}) {
        maybeSet(rng, clock, key, 64);
    }
    return clock;
}

// A word of flags: low bit patterns or extremes.
std::uint64_t flags(Rng& rng, unsigned lowBits) {
    return chance(rng, 50) ? below(rng, std::uint64_t{1} << lowBits) : unsignedValue(rng, 32);
}

Json memoryBank(Rng& rng) {
    Json bank = Json::object();
    if (chance(rng, 90)) {
        bank["HeapType"] = tableKey(rng, 8);
    }
    maybeSet(rng, bank, "SizeInBytes", 64);
    if (chance(rng, 90)) {
        bank["Flags"] = flags(rng, 2);
    }
    maybeSet(rng, bank, "Width", 32);
    maybeSet(rng, bank, "MemoryClockMax", 32);
    maybeSet(rng, bank, "VirtualBaseAddress", 64);
    return bank;
}

Json ioLink(Rng& rng) {
    Json link = Json::object();
    if (chance(rng, 90)) {
        link["IoLinkType"] = tableKey(rng, 17);
    }
    for (std::string_view key :
         {"VersionMajor", "VersionMinor", "NodeFrom", "NodeTo", "Weight", "MinimumLatency",
          "MaximumLatency", "MinimumBandwidth", "MaximumBandwidth", "RecTransferSize"}) {
        maybeSet(rng, link, key, 32);
    }
    if (chance(rng, 90)) {
        link["Flags"] = flags(rng, 5);
    }
    return link;
}

Json blockId(Rng& rng) {
    const std::uint64_t kind = below(rng, 4);
    if (kind < 2) {
        return std::string(knownBlockIds[below(rng, knownBlockIds.size())]);
    }
    if (kind == 2) {
        Json bytes = Json::array();
        for (int i = 0; i < 16; ++i) {
            bytes.push_back(below(rng, 256));
        }
        return bytes;
    }
    std::string id(knownBlockIds.front());
    for (char& c : id) {
        if (c != '-') {
            c = "0123456789abcdefABCDEF"[below(rng, 22)];
        }
    }
    return id;
}

// The properties of a kind of counter; counters of one kind form one group.
Json counterKind(Rng& rng) {
    Json kind = Json::object();
    if (chance(rng, 90)) {
        kind["Type"] = tableKey(rng, 4);
    }
    maybeSet(rng, kind, "CounterSizeInBits", 32);
    maybeSet(rng, kind, "CounterMask", 64);
    if (chance(rng, 90)) {
        kind["Flags"] = flags(rng, 4);
    }
    maybeSet(rng, kind, "BlockIndex", 32);
    return kind;
}

// The ID after `id`: the run goes on (passing from the largest ID to 0), repeats, steps
// back, jumps to the largest ID, or jumps anywhere.
std::uint64_t nextId(Rng& rng, std::uint64_t id) {
    switch (below(rng, 8)) {
        case 0:
        case 1:
        case 2:
        case 3:
            return id + 1;
        case 4:
            return id;
        case 5:
            return id - 1 - below(rng, 4);
        case 6:
            return maxId;
        default:
            return unsignedValue(rng, 64);
    }
}

Json counterList(Rng& rng) {
    std::vector<Json> kinds(1 + below(rng, 3));
    for (Json& kind : kinds) {
        kind = counterKind(rng);
    }
    const std::uint64_t count = chance(rng, 10) ? below(rng, 300) : below(rng, 13);
    Json counters = Json::array();
    std::uint64_t id = unsignedValue(rng, 64);
    for (std::uint64_t i = 0; i < count; ++i) {
        Json counter = kinds[below(rng, kinds.size())];
        if (chance(rng, 15)) {
            // Flag bits 4 to 31 take no part in the group.
            const std::uint64_t low = counter.value("Flags", std::uint64_t{0}) & 0xF;
            counter["Flags"] = low | (rng() & 0xFFFFFFF0);
        }
        counter["CounterId"] = id;
        counters.push_back(std::move(counter));
        id = nextId(rng, id);
    }
    return counters;
}

Json counterSet(Rng& rng) {
    Json set = Json::object();
    maybeSet(rng, set, "NumConcurrent", 32);
    Json blocks = Json::array();
    for (std::uint64_t i = below(rng, 5); i > 0; --i) {
        Json block = Json::object();
        if (chance(rng, 90)) {
            block["BlockId"] = blockId(rng);
        }
        maybeSet(rng, block, "NumConcurrent", 32);
        Json counters = counterList(rng);
        if (!counters.empty() || chance(rng, 50)) {
            block["counters"] = std::move(counters);
        }
        blocks.push_back(std::move(block));
    }
    if (!blocks.empty() || chance(rng, 50)) {
        set["blocks"] = std::move(blocks);
    }
    return set;
}

// Records of one kind for a node, and sometimes a count above their number.
template <typename Record>
void records(Rng& rng, Json& node, Json& properties, std::string_view arrayKey,
             std::string_view countKey, unsigned percent, Record record) {
    std::uint64_t count = 0;
    if (chance(rng, percent)) {
        Json array = Json::array();
        for (std::uint64_t i = below(rng, 5); i > 0; --i) {
            array.push_back(record(rng));
        }
        count = array.size();
        node[std::string(arrayKey)] = std::move(array);
    }
    if (chance(rng, 30)) {
        properties[std::string(countKey)] = count + below(rng, 3);
    }
}

Json topologyNode(Rng& rng) {
    Json node = Json::object();
    Json properties = nodeProperties(rng);
    if (chance(rng, 85)) {
        node["clock"] = clockCounters(rng);
    }
    records(rng, node, properties, "mem_banks", "NumMemoryBanks", 80, memoryBank);
    records(rng, node, properties, "io_links", "NumIOLinks", 70, ioLink);
    const std::uint64_t counters = below(rng, 10);
    if (counters == 4) {
        node["counters"] = nullptr;
    } else if (counters > 4) {
        node["counters"] = counterSet(rng);
    }
    if (!properties.empty()) {
        node["properties"] = std::move(properties);
    }
    return node;
}
}  // namespace

std::string randomFixture(std::uint64_t seed) {
    Rng rng(seed);
    Json fixture = Json::object();
    if (chance(rng, 85)) {
        Json version = Json::object();
        maybeSet(rng, version, "KernelInterfaceMajorVersion", 32);
        maybeSet(rng, version, "KernelInterfaceMinorVersion", 32);
        fixture["version"] = std::move(version);
    }
    Json system = Json::object();
    for (std::string_view key : {"PlatformOem", "PlatformId", "PlatformRev"}) {
        maybeSet(rng, system, key, 32);
    }
    const std::uint64_t nodeCount = below(rng, 10);
    Json nodes = Json::array();
    for (std::uint64_t i = 0; i < nodeCount; ++i) {
        nodes.push_back(topologyNode(rng));
    }
    // NumNodes above the array would fail the run; below it, the report stops early.
    const std::uint64_t numNodes = below(rng, 10);
    if (numNodes >= 7) {
        system["NumNodes"] = numNodes == 9 ? below(rng, nodeCount + 1) : nodeCount;
    }
    if (!system.empty()) {
        fixture["system"] = std::move(system);
    }
    if (nodeCount > 0 || chance(rng, 50)) {
        fixture["nodes"] = std::move(nodes);
    }
    return fixture.dump(2) + "\n";
}
