// JSON fixture writer: records as ordered JSON objects, laid out one record per line.
#include "sim/json_writer.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/json_fixture.h"

namespace {

using Json = nlohmann::ordered_json;

constexpr std::size_t nameSize = HSA_PUBLIC_NAME_SIZE;

// A field as a JSON number; the copy keeps references off the header's packed members.
template <typename T>
Json number(T value) {
    return Json(value);
}

void appendUtf8(std::string& text, char32_t point) {
    if (point < 0x80) {
        text += static_cast<char>(point);
    } else if (point < 0x800) {
        text += static_cast<char>(0xC0 | (point >> 6));
        text += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        text += static_cast<char>(0xE0 | (point >> 12));
        text += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (point >> 18));
        text += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (point & 0x3F));
    }
}

constexpr bool isHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool isLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The UTF-8 form of UTF-16 units; std::nullopt when a surrogate is unpaired.
std::optional<std::string> utf8FromUtf16(const HSAuint16* units, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        const char32_t unit = units[i];
        if (isHighSurrogate(unit) && i + 1 < count && isLowSurrogate(units[i + 1])) {
            const char32_t low = units[++i];
            appendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
            return std::nullopt;
        } else {
            appendUtf8(text, unit);
        }
    }
    return text;
}

// Whether `bytes` are UTF-8 that a JSON string can hold: no overlong form, no surrogate, nothing
// past U+10FFFF.
bool isUtf8(std::string_view bytes) {
    constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = lead < 0x80             ? 1
                                   : (lead & 0xE0) == 0xC0 ? 2
                                   : (lead & 0xF0) == 0xE0 ? 3
                                   : (lead & 0xF8) == 0xF0 ? 4
                                                           : 0;
        if (length == 0 || bytes.size() - i < length) {
            return false;
        }
        char32_t point = length == 1 ? lead : lead & (0x7Fu >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            point = (point << 6) | (next & 0x3Fu);
        }
        if (point < smallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

// The number of units before the first zero, when there is one and only zeros follow it.
template <typename Unit>
std::optional<std::size_t> terminatedLength(const Unit (&name)[nameSize]) {
    const Unit* zero = std::find(std::begin(name), std::end(name), Unit{0});
    if (zero == std::end(name) ||
        !std::all_of(zero, std::end(name), [](Unit unit) { return unit == 0; })) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(zero - std::begin(name));
}

// The raw units; the trailing zeros are left to the loader's zero fill.
template <typename Unit>
Json unitArray(const Unit (&name)[nameSize]) {
    std::size_t length = nameSize;
    while (length > 0 && name[length - 1] == 0) {
        --length;
    }
    Json units = Json::array();
    for (std::size_t i = 0; i < length; ++i) {
        units.push_back(number(name[i]));
    }
    return units;
}

Json marketingName(const HSAuint16 (&name)[nameSize]) {
    if (const std::optional<std::size_t> length = terminatedLength(name)) {
        if (std::optional<std::string> text = utf8FromUtf16(name, *length)) {
            return Json(std::move(*text));
        }
    }
    return unitArray(name);
}

Json amdName(const HSAuint8 (&name)[nameSize]) {
    if (const std::optional<std::size_t> length = terminatedLength(name)) {
        std::string text(reinterpret_cast<const char*>(name), *length);
        if (isUtf8(text)) {
            return Json(std::move(text));
        }
    }
    return unitArray(name);
}

// All digits of the field, leading zeros included.
template <typename Field>
void appendHex(std::string& text, Field value) {
    constexpr std::string_view hexDigits = "0123456789abcdef";
    for (int shift = 8 * static_cast<int>(sizeof value) - 4; shift >= 0; shift -= 4) {
        text += hexDigits[(value >> shift) & 0xFu];
    }
}

// xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx, each field most significant digit first.
std::string blockIdText(const HSA_UUID& id) {
    std::string text;
    appendHex(text, id.Data1);
    text += '-';
    appendHex(text, id.Data2);
    text += '-';
    appendHex(text, id.Data3);
    text += '-';
    for (std::size_t i = 0; i < std::size(id.Data4); ++i) {
        if (i == 2) {
            text += '-';
        }
        appendHex(text, id.Data4[i]);
    }
    return text;
}

Json versionJson(const HsaVersionInfo& r) {
    Json out = Json::object();
    out["KernelInterfaceMajorVersion"] = number(r.KernelInterfaceMajorVersion);
    out["KernelInterfaceMinorVersion"] = number(r.KernelInterfaceMinorVersion);
    return out;
}

Json systemJson(const HsaSystemProperties& r, std::size_t nodeCount) {
    Json out = Json::object();
    if (r.NumNodes != nodeCount) {
        out["NumNodes"] = number(r.NumNodes);
    }
    out["PlatformOem"] = number(r.PlatformOem);
    out["PlatformId"] = number(r.PlatformId);
    out["PlatformRev"] = number(r.PlatformRev);
    return out;
}

Json propertiesJson(const TopologyNode& node) {
    const HsaNodeProperties& r = node.properties;
    Json out = Json::object();
    out["NumCPUCores"] = number(r.NumCPUCores);
    out["NumFComputeCores"] = number(r.NumFComputeCores);
    if (r.NumMemoryBanks != node.memBanks.size()) {
        out["NumMemoryBanks"] = number(r.NumMemoryBanks);
    }
    out["NumCaches"] = number(r.NumCaches);
    if (r.NumIOLinks != node.ioLinks.size()) {
        out["NumIOLinks"] = number(r.NumIOLinks);
    }
    out["CComputeIdLo"] = number(r.CComputeIdLo);
    out["FComputeIdLo"] = number(r.FComputeIdLo);
    out["Capability"] = number(r.Capability.Value);
    out["MaxWavesPerSIMD"] = number(r.MaxWavesPerSIMD);
    out["LDSSizeInKB"] = number(r.LDSSizeInKB);
    out["GDSSizeInKB"] = number(r.GDSSizeInKB);
    out["WaveFrontSize"] = number(r.WaveFrontSize);
    out["NumShaderBanks"] = number(r.NumShaderBanks);
    out["NumArrays"] = number(r.NumArrays);
    out["NumCUPerArray"] = number(r.NumCUPerArray);
    out["NumSIMDPerCU"] = number(r.NumSIMDPerCU);
    out["MaxSlotsScratchCU"] = number(r.MaxSlotsScratchCU);
    out["EngineId"] = number(r.EngineId.Value);
    out["VendorId"] = number(r.VendorId);
    out["DeviceId"] = number(r.DeviceId);
    out["LocationId"] = number(r.LocationId);
    out["LocalMemSize"] = number(r.LocalMemSize);
    out["MaxEngineClockMhzFCompute"] = number(r.MaxEngineClockMhzFCompute);
    out["MaxEngineClockMhzCCompute"] = number(r.MaxEngineClockMhzCCompute);
    out["DrmRenderMinor"] = number(r.DrmRenderMinor);
    out["MarketingName"] = marketingName(r.MarketingName);
    out["AMDName"] = amdName(r.AMDName);
    out["uCodeEngineVersions"] = number(r.uCodeEngineVersions.Value);
    out["DebugProperties"] = number(r.DebugProperties.Value);
    out["HiveID"] = number(r.HiveID);
    out["NumSdmaEngines"] = number(r.NumSdmaEngines);
    out["NumSdmaXgmiEngines"] = number(r.NumSdmaXgmiEngines);
    out["NumSdmaQueuesPerEngine"] = number(r.NumSdmaQueuesPerEngine);
    out["NumCpQueues"] = number(r.NumCpQueues);
    out["NumGws"] = number(r.NumGws);
    out["Integrated"] = number(r.Integrated);
    out["Domain"] = number(r.Domain);
    out["UniqueID"] = number(r.UniqueID);
    out["VGPRSizePerCU"] = number(r.VGPRSizePerCU);
    out["SGPRSizePerCU"] = number(r.SGPRSizePerCU);
    out["NumXcc"] = number(r.NumXcc);
    out["KFDGpuID"] = number(r.KFDGpuID);
    out["FamilyID"] = number(r.FamilyID);
    return out;
}

Json clockJson(const HsaClockCounters& r) {
    Json out = Json::object();
    out["GPUClockCounter"] = number(r.GPUClockCounter);
    out["CPUClockCounter"] = number(r.CPUClockCounter);
    out["SystemClockCounter"] = number(r.SystemClockCounter);
    out["SystemClockFrequencyHz"] = number(r.SystemClockFrequencyHz);
    return out;
}

Json memoryBankJson(const HsaMemoryProperties& r) {
    Json out = Json::object();
    out["HeapType"] = number(static_cast<HSAuint32>(r.HeapType));
    out["SizeInBytes"] = number(r.SizeInBytes);
    out["Flags"] = number(r.Flags.MemoryProperty);
    out["Width"] = number(r.Width);
    out["MemoryClockMax"] = number(r.MemoryClockMax);
    out["VirtualBaseAddress"] = number(r.VirtualBaseAddress);
    return out;
}

Json ioLinkJson(const HsaIoLinkProperties& r) {
    Json out = Json::object();
    out["IoLinkType"] = number(static_cast<HSAuint32>(r.IoLinkType));
    out["VersionMajor"] = number(r.VersionMajor);
    out["VersionMinor"] = number(r.VersionMinor);
    out["NodeFrom"] = number(r.NodeFrom);
    out["NodeTo"] = number(r.NodeTo);
    out["Weight"] = number(r.Weight);
    out["MinimumLatency"] = number(r.MinimumLatency);
    out["MaximumLatency"] = number(r.MaximumLatency);
    out["MinimumBandwidth"] = number(r.MinimumBandwidth);
    out["MaximumBandwidth"] = number(r.MaximumBandwidth);
    out["RecTransferSize"] = number(r.RecTransferSize);
    out["Flags"] = number(r.Flags.LinkProperty);
    return out;
}

Json counterJson(const HsaCounter& r) {
    Json out = Json::object();
    out["Type"] = number(static_cast<HSAuint32>(r.Type));
    out["CounterId"] = number(r.CounterId);
    out["CounterSizeInBits"] = number(r.CounterSizeInBits);
    out["CounterMask"] = number(r.CounterMask);
    out["Flags"] = number(r.Flags.Value);
    out["BlockIndex"] = number(r.BlockIndex);
    return out;
}

template <typename Record, typename ToJson>
Json arrayJson(const std::vector<Record>& records, ToJson toJson) {
    Json out = Json::array();
    for (const Record& record : records) {
        out.push_back(toJson(record));
    }
    return out;
}

Json counterBlockJson(const CounterBlock& block) {
    Json out = Json::object();
    out["BlockId"] = blockIdText(block.blockId);
    out["NumConcurrent"] = number(block.numConcurrent);
    out["counters"] = arrayJson(block.counters, counterJson);
    return out;
}

Json countersJson(const std::optional<CounterSet>& counters) {
    if (!counters) {
        return nullptr;
    }
    Json out = Json::object();
    out["NumConcurrent"] = number(counters->numConcurrent);
    out["blocks"] = arrayJson(counters->blocks, counterBlockJson);
    return out;
}

Json nodeJson(const TopologyNode& node) {
    Json out = Json::object();
    out["properties"] = propertiesJson(node);
    out["clock"] = clockJson(node.clock);
    out["mem_banks"] = arrayJson(node.memBanks, memoryBankJson);
    out["io_links"] = arrayJson(node.ioLinks, ioLinkJson);
    out["counters"] = countersJson(node.counters);
    return out;
}

Json faultJson(const Fault& fault) {
    Json out = Json::object();
    out["call"] = kfdCallName(fault.call);
    if (fault.node) {
        out["node"] = number(*fault.node);
    }
    out["status"] = number(fault.status);
    return out;
}

Json topologyJson(const Topology& topology) {
    Json out = Json::object();
    out["version"] = versionJson(topology.version);
    out["system"] = systemJson(topology.system, topology.nodes.size());
    out["nodes"] = arrayJson(topology.nodes, nodeJson);
    out["faults"] = arrayJson(topology.faults, faultJson);
    return out;
}

// Whether a value holds no object and no array of objects or arrays: one record, one line.
bool isFlat(const Json& value) {
    return std::none_of(value.begin(), value.end(), [](const Json& member) {
        return member.is_object() ||
               (member.is_array() && std::any_of(member.begin(), member.end(),
                                                 [](const Json& e) { return e.is_structured(); }));
    });
}

void writeInline(std::string& text, const Json& value) {
    if (!value.is_structured()) {
        text += value.dump();
        return;
    }
    if (value.empty()) {
        text += value.is_object() ? "{}" : "[]";
        return;
    }
    const bool object = value.is_object();
    text += object ? "{ " : "[";
    bool first = true;
    for (const auto& member : value.items()) {
        text += first ? "" : ", ";
        first = false;
        if (object) {
            text += Json(member.key()).dump() + ": ";
        }
        writeInline(text, member.value());
    }
    text += object ? " }" : "]";
}

// Records stay on one line; node properties take one line per field, too many for one.
void writeValue(std::string& text, const Json& value, std::string_view key, std::size_t indent) {
    if (!value.is_structured() || (key != "properties" && isFlat(value))) {
        writeInline(text, value);
        return;
    }
    const bool object = value.is_object();
    const std::string inner(indent + 2, ' ');
    text += object ? "{\n" : "[\n";
    bool first = true;
    for (const auto& member : value.items()) {
        text += first ? inner : ",\n" + inner;
        first = false;
        if (object) {
            text += Json(member.key()).dump() + ": ";
        }
        writeValue(text, member.value(), object ? member.key() : std::string(), indent + 2);
    }
    text += "\n" + std::string(indent, ' ') + (object ? "}" : "]");
}

}  // namespace

std::string writeJsonFixture(const Topology& topology) {
    std::string text;
    writeValue(text, topologyJson(topology), {}, 0);
    return text + "\n";
}
