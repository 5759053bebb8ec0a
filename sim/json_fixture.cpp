// JSON fixture loader: the fixture's keys mapped onto the libhsakmt records.
#include "sim/json_fixture.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <type_traits>
#include <utility>
#include <vector>

#include "sim/json_document.h"

namespace {

// clang-format off
constexpr std::pair<KfdCall, std::string_view> kfdCallNames[] = {
    {KfdCall::OpenKFD,                  "hsaKmtOpenKFD"},
    {KfdCall::CloseKFD,                 "hsaKmtCloseKFD"},
    {KfdCall::GetVersion,               "hsaKmtGetVersion"},
    {KfdCall::AcquireSystemProperties,  "hsaKmtAcquireSystemProperties"},
    {KfdCall::ReleaseSystemProperties,  "hsaKmtReleaseSystemProperties"},
    {KfdCall::GetNodeProperties,        "hsaKmtGetNodeProperties"},
    {KfdCall::GetClockCounters,         "hsaKmtGetClockCounters"},
    {KfdCall::GetNodeMemoryProperties,  "hsaKmtGetNodeMemoryProperties"},
    {KfdCall::GetNodeIoLinkProperties,  "hsaKmtGetNodeIoLinkProperties"},
    {KfdCall::PmcGetCounterProperties,  "hsaKmtPmcGetCounterProperties"},
};
// clang-format on
static_assert(std::size(kfdCallNames) == 10);

constexpr std::size_t nameSize = HSA_PUBLIC_NAME_SIZE;
constexpr std::string_view uuidForm = "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx";

bool givesKey(const std::optional<JsonValue>& object, std::string_view key) {
    return object && object->json().contains(key);
}

template <typename Record>
HSAuint32 count(const std::vector<Record>& records) {
    return static_cast<HSAuint32>(records.size());
}

// Element i of the array is laid over records[i]; missing records start zero-filled.
template <typename Record, typename Reader>
void overlayRecords(const JsonValue& array, std::vector<Record>& records, Reader read) {
    const std::vector<JsonValue> elements = array.elements();
    if (records.size() < elements.size()) {
        records.resize(elements.size());
    }
    for (std::size_t i = 0; i < elements.size(); ++i) {
        read(elements[i], records[i]);
    }
}

// UTF-16 code units of UTF-8 text; std::nullopt when the text is not valid UTF-8.
std::optional<std::vector<HSAuint16>> utf16Units(std::string_view text) {
    constexpr std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};  // overlong below these
    std::vector<HSAuint16> units;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80             ? 1
                                   : (lead & 0xE0) == 0xC0 ? 2
                                   : (lead & 0xF0) == 0xE0 ? 3
                                   : (lead & 0xF8) == 0xF0 ? 4
                                                           : 0;
        if (length == 0 || text.size() - i < length) {
            return std::nullopt;
        }
        std::uint32_t point = length == 1 ? lead : lead & (0x7Fu >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return std::nullopt;
            }
            point = (point << 6) | (next & 0x3Fu);
        }
        if (point < smallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
            return std::nullopt;
        }
        if (point < 0x10000) {
            units.push_back(static_cast<HSAuint16>(point));
        } else {
            point -= 0x10000;
            units.push_back(static_cast<HSAuint16>(0xD800 + (point >> 10)));
            units.push_back(static_cast<HSAuint16>(0xDC00 + (point & 0x3FF)));
        }
        i += length;
    }
    return units;
}

// A name from a string (UTF-16 units for MarketingName, bytes for AMDName) or an array of raw
// units; the units after the given ones are 0.
template <typename Unit>
void readName(const JsonValue& value, Unit (&name)[nameSize]) {
    constexpr bool utf16 = std::is_same_v<Unit, HSAuint16>;
    std::vector<Unit> units;
    if (value.json().is_string()) {
        if constexpr (utf16) {
            std::optional<std::vector<HSAuint16>> decoded = utf16Units(value.text());
            if (!decoded) {
                value.fail("not valid UTF-8");
            }
            units = std::move(*decoded);
        } else {
            const std::string& text = value.text();
            std::transform(text.begin(), text.end(), std::back_inserter(units),
                           [](char c) { return static_cast<Unit>(c); });
        }
    } else if (value.json().is_array()) {
        for (const JsonValue& element : value.elements()) {
            units.push_back(element.integer<Unit>());
        }
    } else {
        value.failType("a string or an array");
    }
    if (units.size() > nameSize) {
        value.fail(std::to_string(units.size()) + (utf16 ? " UTF-16 units" : " bytes") +
                   ", at most " + std::to_string(nameSize) + " fit");
    }
    std::fill(std::begin(name), std::end(name), Unit{0});
    std::copy(units.begin(), units.end(), std::begin(name));
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The identifier written as 8-4-4-4-12 hex digits, each field most significant digit first.
std::optional<HSA_UUID> uuidFromText(std::string_view text) {
    if (text.size() != uuidForm.size()) {
        return std::nullopt;
    }
    HSAuint8 written[16] = {};  // the bytes in the order they are written
    std::size_t nibble = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (uuidForm[i] == '-') {
            if (text[i] != '-') {
                return std::nullopt;
            }
            continue;
        }
        const int digit = hexDigit(text[i]);
        if (digit < 0) {
            return std::nullopt;
        }
        HSAuint8& byte = written[nibble / 2];
        byte = static_cast<HSAuint8>(byte << 4 | digit);
        ++nibble;
    }
    HSA_UUID id{};
    id.Data1 = static_cast<HSAuint32>(written[0]) << 24 | static_cast<HSAuint32>(written[1]) << 16 |
               static_cast<HSAuint32>(written[2]) << 8 | written[3];
    id.Data2 = static_cast<HSAuint16>(written[4] << 8 | written[5]);
    id.Data3 = static_cast<HSAuint16>(written[6] << 8 | written[7]);
    std::copy(std::begin(written) + 8, std::end(written), std::begin(id.Data4));
    return id;
}

HSA_UUID readBlockId(const JsonValue& value) {
    if (value.json().is_string()) {
        const std::optional<HSA_UUID> id = uuidFromText(value.text());
        if (!id) {
            value.fail(value.json().dump() + " is not of the form " + std::string(uuidForm));
        }
        return *id;
    }
    if (!value.json().is_array()) {
        value.failType("a string or an array");
    }
    const std::vector<JsonValue> elements = value.elements();
    HSAuint8 bytes[sizeof(HSA_UUID)] = {};
    if (elements.size() != std::size(bytes)) {
        value.fail(std::to_string(elements.size()) + " bytes, expected " +
                   std::to_string(std::size(bytes)));
    }
    for (std::size_t i = 0; i < elements.size(); ++i) {
        bytes[i] = elements[i].integer<HSAuint8>();
    }
    HSA_UUID id{};
    std::memcpy(&id, bytes, sizeof id);
    return id;
}

void readVersion(const JsonValue& value, HsaVersionInfo& r) {
    JsonObject in(value);
    r.KernelInterfaceMajorVersion =
        in.integer("KernelInterfaceMajorVersion", r.KernelInterfaceMajorVersion);
    r.KernelInterfaceMinorVersion =
        in.integer("KernelInterfaceMinorVersion", r.KernelInterfaceMinorVersion);
    in.rejectUnknownKeys();
}

void readSystem(const JsonValue& value, HsaSystemProperties& r) {
    JsonObject in(value);
    r.NumNodes = in.integer("NumNodes", r.NumNodes);
    r.PlatformOem = in.integer("PlatformOem", r.PlatformOem);
    r.PlatformId = in.integer("PlatformId", r.PlatformId);
    r.PlatformRev = in.integer("PlatformRev", r.PlatformRev);
    in.rejectUnknownKeys();
}

void readNodeProperties(const JsonValue& value, HsaNodeProperties& r) {
    JsonObject in(value);
    r.NumCPUCores = in.integer("NumCPUCores", r.NumCPUCores);
    r.NumFComputeCores = in.integer("NumFComputeCores", r.NumFComputeCores);
    r.NumMemoryBanks = in.integer("NumMemoryBanks", r.NumMemoryBanks);
    r.NumCaches = in.integer("NumCaches", r.NumCaches);
    r.NumIOLinks = in.integer("NumIOLinks", r.NumIOLinks);
    r.CComputeIdLo = in.integer("CComputeIdLo", r.CComputeIdLo);
    r.FComputeIdLo = in.integer("FComputeIdLo", r.FComputeIdLo);
    r.Capability.Value = in.integer("Capability", r.Capability.Value);
    r.MaxWavesPerSIMD = in.integer("MaxWavesPerSIMD", r.MaxWavesPerSIMD);
    r.LDSSizeInKB = in.integer("LDSSizeInKB", r.LDSSizeInKB);
    r.GDSSizeInKB = in.integer("GDSSizeInKB", r.GDSSizeInKB);
    r.WaveFrontSize = in.integer("WaveFrontSize", r.WaveFrontSize);
    r.NumShaderBanks = in.integer("NumShaderBanks", r.NumShaderBanks);
    r.NumArrays = in.integer("NumArrays", r.NumArrays);
    r.NumCUPerArray = in.integer("NumCUPerArray", r.NumCUPerArray);
    r.NumSIMDPerCU = in.integer("NumSIMDPerCU", r.NumSIMDPerCU);
    r.MaxSlotsScratchCU = in.integer("MaxSlotsScratchCU", r.MaxSlotsScratchCU);
    r.EngineId.Value = in.integer("EngineId", r.EngineId.Value);
    r.VendorId = in.integer("VendorId", r.VendorId);
    r.DeviceId = in.integer("DeviceId", r.DeviceId);
    r.LocationId = in.integer("LocationId", r.LocationId);
    r.LocalMemSize = in.integer("LocalMemSize", r.LocalMemSize);
    r.MaxEngineClockMhzFCompute =
        in.integer("MaxEngineClockMhzFCompute", r.MaxEngineClockMhzFCompute);
    r.MaxEngineClockMhzCCompute =
        in.integer("MaxEngineClockMhzCCompute", r.MaxEngineClockMhzCCompute);
    r.DrmRenderMinor = in.integer("DrmRenderMinor", r.DrmRenderMinor);
    if (const std::optional<JsonValue> name = in.find("MarketingName")) {
        readName(*name, r.MarketingName);
    }
    if (const std::optional<JsonValue> name = in.find("AMDName")) {
        readName(*name, r.AMDName);
    }
    r.uCodeEngineVersions.Value = in.integer("uCodeEngineVersions", r.uCodeEngineVersions.Value);
    r.DebugProperties.Value = in.integer("DebugProperties", r.DebugProperties.Value);
    r.HiveID = in.integer("HiveID", r.HiveID);
    r.NumSdmaEngines = in.integer("NumSdmaEngines", r.NumSdmaEngines);
    r.NumSdmaXgmiEngines = in.integer("NumSdmaXgmiEngines", r.NumSdmaXgmiEngines);
    r.NumSdmaQueuesPerEngine = in.integer("NumSdmaQueuesPerEngine", r.NumSdmaQueuesPerEngine);
    r.NumCpQueues = in.integer("NumCpQueues", r.NumCpQueues);
    r.NumGws = in.integer("NumGws", r.NumGws);
    r.Integrated = in.integer("Integrated", r.Integrated);
    r.Domain = in.integer("Domain", r.Domain);
    r.UniqueID = in.integer("UniqueID", r.UniqueID);
    r.VGPRSizePerCU = in.integer("VGPRSizePerCU", r.VGPRSizePerCU);
    r.SGPRSizePerCU = in.integer("SGPRSizePerCU", r.SGPRSizePerCU);
    r.NumXcc = in.integer("NumXcc", r.NumXcc);
    r.KFDGpuID = in.integer("KFDGpuID", r.KFDGpuID);
    r.FamilyID = in.integer("FamilyID", r.FamilyID);
    in.rejectUnknownKeys();
}

void readClock(const JsonValue& value, HsaClockCounters& r) {
    JsonObject in(value);
    r.GPUClockCounter = in.integer("GPUClockCounter", r.GPUClockCounter);
    r.CPUClockCounter = in.integer("CPUClockCounter", r.CPUClockCounter);
    r.SystemClockCounter = in.integer("SystemClockCounter", r.SystemClockCounter);
    r.SystemClockFrequencyHz = in.integer("SystemClockFrequencyHz", r.SystemClockFrequencyHz);
    in.rejectUnknownKeys();
}

void readMemoryBank(const JsonValue& value, HsaMemoryProperties& r) {
    JsonObject in(value);
    r.HeapType = in.integer("HeapType", r.HeapType);
    r.SizeInBytes = in.integer("SizeInBytes", r.SizeInBytes);
    r.Flags.MemoryProperty = in.integer("Flags", r.Flags.MemoryProperty);
    r.Width = in.integer("Width", r.Width);
    r.MemoryClockMax = in.integer("MemoryClockMax", r.MemoryClockMax);
    r.VirtualBaseAddress = in.integer("VirtualBaseAddress", r.VirtualBaseAddress);
    in.rejectUnknownKeys();
}

void readIoLink(const JsonValue& value, HsaIoLinkProperties& r) {
    JsonObject in(value);
    r.IoLinkType = in.integer("IoLinkType", r.IoLinkType);
    r.VersionMajor = in.integer("VersionMajor", r.VersionMajor);
    r.VersionMinor = in.integer("VersionMinor", r.VersionMinor);
    r.NodeFrom = in.integer("NodeFrom", r.NodeFrom);
    r.NodeTo = in.integer("NodeTo", r.NodeTo);
    r.Weight = in.integer("Weight", r.Weight);
    r.MinimumLatency = in.integer("MinimumLatency", r.MinimumLatency);
    r.MaximumLatency = in.integer("MaximumLatency", r.MaximumLatency);
    r.MinimumBandwidth = in.integer("MinimumBandwidth", r.MinimumBandwidth);
    r.MaximumBandwidth = in.integer("MaximumBandwidth", r.MaximumBandwidth);
    r.RecTransferSize = in.integer("RecTransferSize", r.RecTransferSize);
    r.Flags.LinkProperty = in.integer("Flags", r.Flags.LinkProperty);
    in.rejectUnknownKeys();
}

HsaCounter readCounter(const JsonValue& value) {
    JsonObject in(value);
    HsaCounter r{};
    r.Type = in.integer("Type", r.Type);
    r.CounterId = in.integer("CounterId", r.CounterId);
    r.CounterSizeInBits = in.integer("CounterSizeInBits", r.CounterSizeInBits);
    r.CounterMask = in.integer("CounterMask", r.CounterMask);
    r.Flags.Value = in.integer("Flags", r.Flags.Value);
    r.BlockIndex = in.integer("BlockIndex", r.BlockIndex);
    in.rejectUnknownKeys();
    return r;
}

CounterBlock readCounterBlock(const JsonValue& value) {
    JsonObject in(value);
    CounterBlock block;
    if (const std::optional<JsonValue> id = in.find("BlockId")) {
        block.blockId = readBlockId(*id);
    }
    block.numConcurrent = in.integer("NumConcurrent", block.numConcurrent);
    if (const std::optional<JsonValue> counters = in.find("counters")) {
        for (const JsonValue& counter : counters->elements()) {
            block.counters.push_back(readCounter(counter));
        }
    }
    in.rejectUnknownKeys();
    return block;
}

std::optional<CounterSet> readCounters(const JsonValue& value) {
    if (value.json().is_null()) {
        return std::nullopt;
    }
    if (!value.json().is_object()) {
        value.failType("an object or null");
    }
    JsonObject in(value);
    CounterSet counters;
    counters.numConcurrent = in.integer("NumConcurrent", counters.numConcurrent);
    if (const std::optional<JsonValue> blocks = in.find("blocks")) {
        for (const JsonValue& block : blocks->elements()) {
            counters.blocks.push_back(readCounterBlock(block));
        }
    }
    in.rejectUnknownKeys();
    return counters;
}

void readNode(const JsonValue& value, TopologyNode& node) {
    JsonObject in(value);
    const std::optional<JsonValue> properties = in.find("properties");
    if (properties) {
        readNodeProperties(*properties, node.properties);
    }
    if (const std::optional<JsonValue> clock = in.find("clock")) {
        node.clock = {};
        readClock(*clock, node.clock);
    }
    if (const std::optional<JsonValue> banks = in.find("mem_banks")) {
        overlayRecords(*banks, node.memBanks, readMemoryBank);
        if (!givesKey(properties, "NumMemoryBanks")) {
            node.properties.NumMemoryBanks = count(node.memBanks);
        }
    }
    if (const std::optional<JsonValue> links = in.find("io_links")) {
        overlayRecords(*links, node.ioLinks, readIoLink);
        if (!givesKey(properties, "NumIOLinks")) {
            node.properties.NumIOLinks = count(node.ioLinks);
        }
    }
    if (const std::optional<JsonValue> counters = in.find("counters")) {
        node.counters = readCounters(*counters);
    }
    in.rejectUnknownKeys();
}

KfdCall readCall(const JsonValue& value) {
    const std::string& name = value.text();
    for (const auto& [call, callName] : kfdCallNames) {
        if (callName == name) {
            return call;
        }
    }
    value.fail(value.json().dump() + " is not a simulated libhsakmt function");
}

Fault readFault(const JsonValue& value) {
    JsonObject in(value);
    Fault fault;
    fault.call = readCall(in.require("call"));
    if (const std::optional<JsonValue> node = in.find("node")) {
        fault.node = node->integer<HSAuint32>();
    }
    const JsonValue status = in.require("status");
    fault.status = status.integer<HSAint32>();
    if (fault.status == 0) {
        status.fail("a fault's status must not be 0");
    }
    in.rejectUnknownKeys();
    return fault;
}

void readTopology(const JsonValue& value, Topology& topology) {
    JsonObject in(value);
    if (const std::optional<JsonValue> version = in.find("version")) {
        readVersion(*version, topology.version);
    }
    const std::optional<JsonValue> system = in.find("system");
    if (system) {
        readSystem(*system, topology.system);
    }
    if (const std::optional<JsonValue> nodes = in.find("nodes")) {
        overlayRecords(*nodes, topology.nodes, readNode);
        if (!givesKey(system, "NumNodes")) {
            topology.system.NumNodes = count(topology.nodes);
        }
    }
    if (const std::optional<JsonValue> faults = in.find("faults")) {
        topology.faults.clear();
        for (const JsonValue& fault : faults->elements()) {
            topology.faults.push_back(readFault(fault));
        }
    }
    in.rejectUnknownKeys();
}

std::string readFixtureFile(const std::string& path) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        throw FixtureError(oneLine(path + ": cannot read: " + std::strerror(EISDIR)));
    }
    errno = 0;
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    if (file) {
        text << file.rdbuf();
    }
    if (!file || file.bad()) {
        const int error = errno;
        throw FixtureError(oneLine(
            path + ": cannot read: " + (error != 0 ? std::strerror(error) : "open failed")));
    }
    return text.str();
}

}  // namespace

Topology loadJsonFixture(const std::string& path) {
    return parseJsonFixture(readFixtureFile(path), path);
}

Topology parseJsonFixture(std::string_view text, const std::string& source) {
    Topology topology;
    overlayJsonFixture(text, source, topology);
    return topology;
}

void overlayJsonFixture(std::string_view text, const std::string& source, Topology& topology) {
    Topology result = topology;
    try {
        const JsonDocument document = parseStrictJson(text);
        readTopology(JsonValue(document.root, {}, document.numberTexts), result);
    } catch (const JsonError& refusal) {
        throw FixtureError(oneLine(source + ": " + refusal.what()));
    }
    topology = std::move(result);
}

std::string_view kfdCallName(KfdCall call) {
    for (const auto& [known, name] : kfdCallNames) {
        if (known == call) {
            return name;
        }
    }
    throw std::invalid_argument("unknown libhsakmt call");
}

std::string oneLine(std::string message) {
    std::replace_if(
        message.begin(), message.end(),
        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\x7f'; }, ' ');
    return message;
}
