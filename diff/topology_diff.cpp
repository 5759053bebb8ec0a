// Topology diff: devices matched by identity, then their records compared field by field.
#include "diff/topology_diff.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <tuple>
#include <utility>

#include <hsakmt/hsakmt.h>

#include "counters/counter_block_names.h"
#include "diff/device_match.h"
#include "fixture/fixture_error.h"
#include "fixture/json_fixture.h"
#include "fixture/recent_fields.h"
#include "graph/link_types.h"
#include "text/hex_text.h"
#include "text/unicode_text.h"

namespace {

std::string dec(std::uint64_t value) { return std::to_string(value); }

std::string hex(std::uint64_t value) { return "0x" + hexText(value); }

std::string marketingName(const HsaNodeProperties& p) {
    const std::uint16_t* units = p.MarketingName;
    const std::uint16_t* end = std::find(units, units + HSA_PUBLIC_NAME_SIZE, 0);
    const std::optional<std::string> name =
        utf8FromUtf16(units, static_cast<std::size_t>(end - units));
    return name ? oneLine(*name) : "(not UTF-16)";
}

std::string amdName(const HsaNodeProperties& p) {
    const auto* name = reinterpret_cast<const char*>(p.AMDName);
    return oneLine(std::string(name, strnlen(name, sizeof p.AMDName)));
}

std::string gfxVersion(const HSA_ENGINE_ID& id) {
    return dec(id.ui32.Major) + "." + dec(id.ui32.Minor) + "." + dec(id.ui32.Stepping);
}

using PropertyText = std::string (*)(const HsaNodeProperties&);

struct PropertyField {
    std::string_view name;
    PropertyText text;
    std::string_view leftOut;  // why it is not compared by default; empty: compared
};

constexpr std::string_view matchedBy = "the devices are matched by it";
constexpr std::string_view identity = "an identity of the device, other on every machine";

// The node's properties as the fixture names them; bit-field words split where they hold
// separate versions. NumMemoryBanks and NumIOLinks are compared as the banks and links.
// clang-format off
constexpr std::array<PropertyField, 48> propertyFields{{
    {"NumCPUCores",                [](const HsaNodeProperties& p) { return dec(p.NumCPUCores); }, ""},
    {"NumFComputeCores",           [](const HsaNodeProperties& p) { return dec(p.NumFComputeCores); }, ""},
    {"NumNeuralCores",             [](const HsaNodeProperties& p) { return dec(numNeuralCores(p)); }, ""},
    {"NumCaches",                  [](const HsaNodeProperties& p) { return dec(p.NumCaches); }, ""},
    {"CComputeIdLo",               [](const HsaNodeProperties& p) { return dec(p.CComputeIdLo); }, ""},
    {"FComputeIdLo",               [](const HsaNodeProperties& p) { return dec(p.FComputeIdLo); }, ""},
    {"Capability",                 [](const HsaNodeProperties& p) { return hex(p.Capability.Value); }, ""},
    {"MaxWavesPerSIMD",            [](const HsaNodeProperties& p) { return dec(p.MaxWavesPerSIMD); }, ""},
    {"LDSSizeInKB",                [](const HsaNodeProperties& p) { return dec(p.LDSSizeInKB); }, ""},
    {"GDSSizeInKB",                [](const HsaNodeProperties& p) { return dec(p.GDSSizeInKB); }, ""},
    {"WaveFrontSize",              [](const HsaNodeProperties& p) { return dec(p.WaveFrontSize); }, ""},
    {"NumShaderBanks",             [](const HsaNodeProperties& p) { return dec(p.NumShaderBanks); }, ""},
    {"NumArrays",                  [](const HsaNodeProperties& p) { return dec(p.NumArrays); }, ""},
    {"NumCUPerArray",              [](const HsaNodeProperties& p) { return dec(p.NumCUPerArray); }, ""},
    {"NumSIMDPerCU",               [](const HsaNodeProperties& p) { return dec(p.NumSIMDPerCU); }, ""},
    {"MaxSlotsScratchCU",          [](const HsaNodeProperties& p) { return dec(p.MaxSlotsScratchCU); }, ""},
    {"EngineId.uCode",             [](const HsaNodeProperties& p) { return dec(p.EngineId.ui32.uCode); }, ""},
    {"EngineId (GFX version)",     [](const HsaNodeProperties& p) { return gfxVersion(p.EngineId); }, ""},
    {"OverrideEngineId",           [](const HsaNodeProperties& p) { return hex(overrideEngineId(p)); }, ""},
    {"VendorId",                   [](const HsaNodeProperties& p) { return hex(p.VendorId); }, ""},
    {"DeviceId",                   [](const HsaNodeProperties& p) { return hex(p.DeviceId); }, ""},
    {"LocationId",                 [](const HsaNodeProperties& p) { return hex(p.LocationId); }, matchedBy},
    {"Domain",                     [](const HsaNodeProperties& p) { return hex(p.Domain); }, matchedBy},
    {"LocalMemSize",               [](const HsaNodeProperties& p) { return dec(p.LocalMemSize); }, ""},
    {"MaxEngineClockMhzFCompute",  [](const HsaNodeProperties& p) { return dec(p.MaxEngineClockMhzFCompute); }, ""},
    {"MaxEngineClockMhzCCompute",  [](const HsaNodeProperties& p) { return dec(p.MaxEngineClockMhzCCompute); }, ""},
    {"DrmRenderMinor",             [](const HsaNodeProperties& p) { return dec(static_cast<std::uint32_t>(p.DrmRenderMinor)); }, identity},
    {"MarketingName",              [](const HsaNodeProperties& p) { return "\"" + marketingName(p) + "\""; }, ""},
    {"AMDName",                    [](const HsaNodeProperties& p) { return "\"" + amdName(p) + "\""; }, ""},
    {"uCodeEngineVersions.uCodeSDMA", [](const HsaNodeProperties& p) { return dec(p.uCodeEngineVersions.uCodeSDMA); }, ""},
    {"uCodeEngineVersions.uCodeRes",  [](const HsaNodeProperties& p) { return dec(p.uCodeEngineVersions.uCodeRes); }, ""},
    {"uCodeEngineVersions.Reserved",  [](const HsaNodeProperties& p) { return hex(p.uCodeEngineVersions.Reserved); }, ""},
    {"DebugProperties",            [](const HsaNodeProperties& p) { return hex(p.DebugProperties.Value); }, ""},
    {"HiveID",                     [](const HsaNodeProperties& p) { return hex(p.HiveID); }, "an identity of the hive; compared as hive membership"},
    {"NumSdmaEngines",             [](const HsaNodeProperties& p) { return dec(p.NumSdmaEngines); }, ""},
    {"NumSdmaXgmiEngines",         [](const HsaNodeProperties& p) { return dec(p.NumSdmaXgmiEngines); }, ""},
    {"NumSdmaQueuesPerEngine",     [](const HsaNodeProperties& p) { return dec(p.NumSdmaQueuesPerEngine); }, ""},
    {"NumCpQueues",                [](const HsaNodeProperties& p) { return dec(p.NumCpQueues); }, ""},
    {"NumGws",                     [](const HsaNodeProperties& p) { return dec(p.NumGws); }, ""},
    {"Integrated",                 [](const HsaNodeProperties& p) { return dec(p.Integrated); }, ""},
    {"UniqueID",                   [](const HsaNodeProperties& p) { return hex(p.UniqueID); }, identity},
    {"VGPRSizePerCU",              [](const HsaNodeProperties& p) { return dec(p.VGPRSizePerCU); }, ""},
    {"SGPRSizePerCU",              [](const HsaNodeProperties& p) { return dec(p.SGPRSizePerCU); }, ""},
    {"NumXcc",                     [](const HsaNodeProperties& p) { return dec(p.NumXcc); }, ""},
    {"KFDGpuID",                   [](const HsaNodeProperties& p) { return dec(p.KFDGpuID); }, identity},
    {"FamilyID",                   [](const HsaNodeProperties& p) { return dec(p.FamilyID); }, ""},
    {"NumMemoryBanks",             [](const HsaNodeProperties& p) { return dec(p.NumMemoryBanks); }, "compared as the banks themselves"},
    {"NumIOLinks",                 [](const HsaNodeProperties& p) { return dec(p.NumIOLinks); }, "compared as the links themselves"},
}};
// clang-format on
static_assert(!propertyFields.back().name.empty(), "48 filled rows");

constexpr std::string_view runToRun = "counts on from run to run";
constexpr std::string_view mappedAnew = "mapped anew in every run";

using LinkValue = std::uint64_t (*)(const HsaIoLinkProperties&);

struct LinkField {
    std::string_view name;
    LinkValue value;
    bool hexadecimal;
};

// Compared over the links of one type between two devices, as the range of their values;
// NodeFrom and NodeTo are the devices themselves.
// clang-format off
constexpr std::array<LinkField, 10> linkFields{{
    {"Weight",           [](const HsaIoLinkProperties& l) -> std::uint64_t { return l.Weight; }, false},
    {"MinimumLatency",   [](const HsaIoLinkProperties& l) -> std::uint64_t { return l.MinimumLatency; }, false},
    {"MaximumLatency",   [](const HsaIoLinkProperties& l) -> std::uint64_t { return l.MaximumLatency; }, false},
    {"MinimumBandwidth", [](const HsaIoLinkProperties& l) -> std::uint64_t { return l.MinimumBandwidth; }, false},
    {"MaximumBandwidth", [](const HsaIoLinkProperties& l) -> std::uint64_t { return l.MaximumBandwidth; }, false},
    {"RecTransferSize",  [](const HsaIoLinkProperties& l) -> std::uint64_t { return l.RecTransferSize; }, false},
    {"VersionMajor",     [](const HsaIoLinkProperties& l) -> std::uint64_t { return l.VersionMajor; }, false},
    {"VersionMinor",     [](const HsaIoLinkProperties& l) -> std::uint64_t { return l.VersionMinor; }, false},
    {"Flags",            [](const HsaIoLinkProperties& l) -> std::uint64_t { return l.Flags.LinkProperty; }, true},
    {"RecSdmaEngIdMask", [](const HsaIoLinkProperties& l) -> std::uint64_t { return recSdmaEngIdMask(l); }, true},
}};

// A link type by its name, by its number where it has none.
std::string linkTypeText(std::uint32_t type) {
    return linkTypeName(type).value_or("type " + dec(type));
}

enum class Section { Presence, Hive, Properties, Memory, Counters, Links, Queries };

// What one section of a device says; partition-level ones fold into the device when every
// matched partition says the same.
struct Finding {
    std::size_t owner = 0;  // 0 for the system, else the device match + 1
    Section section = Section::Presence;
    std::optional<std::size_t> partition;  // index into the partition matches
    std::string what;
    std::string values;
};

std::string values(const std::string& reference, const std::string& machine) {
    return "reference " + reference + ", machine " + machine;
}

// The two machines with their devices and how they pair.
struct Comparison {
    const Topology& reference;
    const Topology& machine;
    MachineDevices referenceDevices;
    MachineDevices machineDevices;
    std::vector<DeviceMatch> matches;
    // Per match: pairs of partition indices.
    std::vector<std::vector<std::pair<std::optional<std::size_t>, std::optional<std::size_t>>>>
        partitions;
    std::vector<std::size_t> matchOfReference;  // reference device -> match
    std::vector<std::size_t> matchOfMachine;
    DiffOptions options;
    std::vector<Finding> findings;

    void add(std::size_t match, Section section, std::optional<std::size_t> partition,
             std::string what, std::string text) {
        findings.push_back({match + 1, section, partition, std::move(what), std::move(text)});
    }
};

const IdentifiedDevice& anyDevice(const Comparison& c, std::size_t match) {
    const DeviceMatch& m = c.matches[match];
    return m.reference ? c.referenceDevices.devices[*m.reference]
                       : c.machineDevices.devices[*m.machine];
}

std::string partitionName(const Comparison& c, std::size_t match, std::size_t partition) {
    const DeviceMatch& m = c.matches[match];
    const auto& [r, k] = c.partitions[match][partition];
    if (r) {
        const IdentifiedDevice& device = c.referenceDevices.devices[*m.reference];
        return device.name + device.partitionKeys[*r];
    }
    const IdentifiedDevice& device = c.machineDevices.devices[*m.machine];
    return anyDevice(c, match).name + device.partitionKeys[*k];
}

std::string describe(const Topology& topology, const IdentifiedDevice& device) {
    const HsaNodeProperties& p = topology.nodes[device.nodes.front()].properties;
    std::string name = marketingName(p);
    if (name.empty()) {
        name = amdName(p);
    }
    if (name.empty()) {
        name = device.gpu ? "GPU" : "CPU";
    }
    return device.nodes.size() > 1 ? name + " (" + dec(device.nodes.size()) + " partitions)" : name;
}

void compareProperties(Comparison& c, std::size_t match, std::size_t partition,
                       const TopologyNode& a, const TopologyNode& b) {
    for (const PropertyField& field : propertyFields) {
        if (!field.leftOut.empty() && !c.options.allFields) {
            continue;
        }
        const std::string ours = field.text(a.properties);
        const std::string theirs = field.text(b.properties);
        if (ours != theirs) {
            c.add(match, Section::Properties, partition, "properties " + std::string(field.name),
                  values(ours, theirs));
        }
    }
    // Read by name, not through member pointers: the packed record's fields may be misaligned.
    using ClockField = std::uint64_t (*)(const HsaClockCounters&);
    const std::array<std::pair<std::string_view, ClockField>, 4> clock{{
        {"GPUClockCounter", [](const HsaClockCounters& r) -> std::uint64_t { return r.GPUClockCounter; }},
        {"CPUClockCounter", [](const HsaClockCounters& r) -> std::uint64_t { return r.CPUClockCounter; }},
        {"SystemClockCounter", [](const HsaClockCounters& r) -> std::uint64_t { return r.SystemClockCounter; }},
        {"SystemClockFrequencyHz", [](const HsaClockCounters& r) -> std::uint64_t { return r.SystemClockFrequencyHz; }},
    }};
    for (const auto& [name, field] : clock) {
        const bool counts = name != "SystemClockFrequencyHz";
        if ((counts && !c.options.allFields) || field(a.clock) == field(b.clock)) {
            continue;
        }
        c.add(match, Section::Properties, partition, "clock " + std::string(name),
              values(dec(field(a.clock)), dec(field(b.clock))));
    }
}

std::string bankText(const HsaMemoryProperties& bank) {
    return "HeapType " + dec(static_cast<std::uint32_t>(bank.HeapType)) + " of " +
           dec(bank.SizeInBytes) + " B";
}

void compareBanks(Comparison& c, std::size_t match, std::size_t partition, const TopologyNode& a,
                  const TopologyNode& b) {
    for (std::size_t i = 0; i < std::max(a.memBanks.size(), b.memBanks.size()); ++i) {
        const std::string what = "memory bank " + dec(i);
        if (i >= a.memBanks.size() || i >= b.memBanks.size()) {
            c.add(match, Section::Memory, partition, what,
                  values(i < a.memBanks.size() ? bankText(a.memBanks[i]) : "none",
                         i < b.memBanks.size() ? bankText(b.memBanks[i]) : "none"));
            continue;
        }
        const HsaMemoryProperties& x = a.memBanks[i];
        const HsaMemoryProperties& y = b.memBanks[i];
        const bool remap = x.HeapType == HSA_HEAPTYPE_MMIO_REMAP;
        const std::array<std::tuple<std::string_view, std::string, std::string>, 6> fields{{
            {"HeapType", dec(static_cast<std::uint32_t>(x.HeapType)),
             dec(static_cast<std::uint32_t>(y.HeapType))},
            {"SizeInBytes", dec(x.SizeInBytes), dec(y.SizeInBytes)},
            {"Flags", hex(x.Flags.MemoryProperty), hex(y.Flags.MemoryProperty)},
            {"Width", dec(x.Width), dec(y.Width)},
            {"MemoryClockMax", dec(x.MemoryClockMax), dec(y.MemoryClockMax)},
            {"VirtualBaseAddress", hex(x.VirtualBaseAddress), hex(y.VirtualBaseAddress)},
        }};
        for (const auto& [name, ours, theirs] : fields) {
            const bool leftOut = remap && name == "VirtualBaseAddress" && !c.options.allFields;
            if (ours != theirs && !leftOut) {
                c.add(match, Section::Memory, partition, what + " " + std::string(name),
                      values(ours, theirs));
            }
        }
    }
}

UuidBytes uuidBytes(const HSA_UUID& id) {
    UuidBytes bytes{};
    static_assert(sizeof id == bytes.size(), "a UUID is 16 bytes");
    std::memcpy(bytes.data(), &id, bytes.size());
    return bytes;
}

// Blocks by their ID; a repeated ID by its occurrence.
std::map<std::pair<UuidBytes, std::size_t>, const CounterBlock*> blocksById(const CounterSet& set) {
    std::map<std::pair<UuidBytes, std::size_t>, const CounterBlock*> blocks;
    std::map<UuidBytes, std::size_t> seen;
    for (const CounterBlock& block : set.blocks) {
        const UuidBytes id = uuidBytes(block.blockId);
        blocks[{id, seen[id]++}] = &block;
    }
    return blocks;
}

std::string blockText(const CounterBlock* block) {
    return block ? dec(block->counters.size()) + " counters" : "none";
}

void compareCounters(Comparison& c, std::size_t match, std::size_t partition, const TopologyNode& a,
                     const TopologyNode& b) {
    if (a.counterStatus != b.counterStatus) {
        c.add(match, Section::Counters, partition, "counters query status",
              values(dec(static_cast<std::uint32_t>(a.counterStatus)),
                     dec(static_cast<std::uint32_t>(b.counterStatus))));
    }
    if (!a.counters || !b.counters) {
        if (a.counters || b.counters) {
            c.add(match, Section::Counters, partition, "counters",
                  values(a.counters ? dec(a.counters->blocks.size()) + " blocks" : "none",
                         b.counters ? dec(b.counters->blocks.size()) + " blocks" : "none"));
        }
        return;
    }
    if (a.counters->numConcurrent != b.counters->numConcurrent) {
        c.add(match, Section::Counters, partition, "counters NumConcurrent",
              values(dec(a.counters->numConcurrent), dec(b.counters->numConcurrent)));
    }
    const auto ours = blocksById(*a.counters);
    const auto theirs = blocksById(*b.counters);
    std::set<std::pair<UuidBytes, std::size_t>> ids;
    for (const auto& block : ours) {
        ids.insert(block.first);
    }
    for (const auto& block : theirs) {
        ids.insert(block.first);
    }
    for (const auto& id : ids) {
        const auto x = ours.find(id);
        const auto y = theirs.find(id);
        const CounterBlock* blockA = x == ours.end() ? nullptr : x->second;
        const CounterBlock* blockB = y == theirs.end() ? nullptr : y->second;
        std::string what = "counter block " + counterBlockName(id.first);
        if (id.second != 0) {
            what += " #" + dec(id.second + 1);
        }
        if (!blockA || !blockB || blockA->counters.size() != blockB->counters.size()) {
            c.add(match, Section::Counters, partition, what,
                  values(blockText(blockA), blockText(blockB)));
        } else if (blockA->numConcurrent != blockB->numConcurrent) {
            c.add(match, Section::Counters, partition, what + " NumConcurrent",
                  values(dec(blockA->numConcurrent), dec(blockB->numConcurrent)));
        }
    }
}

void compareDevices(Comparison& c) {
    for (std::size_t match = 0; match < c.matches.size(); ++match) {
        const DeviceMatch& m = c.matches[match];
        if (!m.reference || !m.machine) {
            c.add(
                match, Section::Presence, std::nullopt, "device",
                values(m.reference ? describe(c.reference, c.referenceDevices.devices[*m.reference])
                                   : "none",
                       m.machine ? describe(c.machine, c.machineDevices.devices[*m.machine])
                                 : "none"));
            continue;
        }
        const IdentifiedDevice& ours = c.referenceDevices.devices[*m.reference];
        const IdentifiedDevice& theirs = c.machineDevices.devices[*m.machine];
        if (m.moved) {
            c.add(match, Section::Presence, std::nullopt, "PCI location",
                  values(ours.name.substr(4), theirs.name.substr(4)));
        }
        if (ours.nodes.size() != theirs.nodes.size()) {
            c.add(match, Section::Presence, std::nullopt, "partitions",
                  values(dec(ours.nodes.size()), dec(theirs.nodes.size())));
        }
        for (std::size_t p = 0; p < c.partitions[match].size(); ++p) {
            const auto& [r, k] = c.partitions[match][p];
            if (!r || !k) {
                // A count that differs says it already.
                if (ours.nodes.size() == theirs.nodes.size()) {
                    c.add(match, Section::Presence, p, "partition",
                          values(r ? "present" : "none", k ? "present" : "none"));
                }
                continue;
            }
            const TopologyNode& a = c.reference.nodes[ours.nodes[*r]];
            const TopologyNode& b = c.machine.nodes[theirs.nodes[*k]];
            compareProperties(c, match, p, a, b);
            compareBanks(c, match, p, a, b);
            compareCounters(c, match, p, a, b);
        }
    }
}

// Links of one type between two devices (matches), counted, with each field's range.
struct LinkTally {
    std::size_t count = 0;
    std::array<std::pair<std::uint64_t, std::uint64_t>, linkFields.size()> ranges{};
};

using LinkKey = std::tuple<std::size_t, std::size_t, std::uint32_t>;  // lower, higher, type

std::map<LinkKey, LinkTally> tallyLinks(const Topology& topology, const MachineDevices& devices,
                                        const std::vector<std::size_t>& matchOf,
                                        const std::vector<DeviceMatch>& matches) {
    std::map<LinkKey, LinkTally> tallies;
    for (std::uint32_t node = 0; node < topology.nodes.size(); ++node) {
        for (const HsaIoLinkProperties& link : topology.nodes[node].ioLinks) {
            if (link.NodeTo >= topology.nodes.size()) {
                continue;
            }
            const std::size_t from = matchOf[devices.deviceOfNode[node]];
            const std::size_t to = matchOf[devices.deviceOfNode[link.NodeTo]];
            // Links of a device the other machine lacks: the device's own line says it.
            if (!matches[from].reference || !matches[from].machine || !matches[to].reference ||
                !matches[to].machine) {
                continue;
            }
            LinkTally& tally = tallies[{std::min(from, to), std::max(from, to),
                                        static_cast<std::uint32_t>(link.IoLinkType)}];
            for (std::size_t f = 0; f < linkFields.size(); ++f) {
                const std::uint64_t value = linkFields[f].value(link);
                auto& [low, high] = tally.ranges[f];
                low = tally.count == 0 ? value : std::min(low, value);
                high = tally.count == 0 ? value : std::max(high, value);
            }
            ++tally.count;
        }
    }
    return tallies;
}

std::string rangeText(const std::pair<std::uint64_t, std::uint64_t>& range, bool hexadecimal) {
    auto text = [&](std::uint64_t value) { return hexadecimal ? hex(value) : dec(value); };
    return range.first == range.second ? text(range.first)
                                       : text(range.first) + "-" + text(range.second);
}

std::string peerText(const Comparison& c, std::size_t owner, std::size_t peer) {
    return owner == peer ? "within the device" : "with " + anyDevice(c, peer).name;
}

// Bundles of one type on one side only, as few lines as possible: the device that most of
// them share names its peers in one line, a GPU whose links are all cut in one.
void addOneSided(Comparison& c, std::vector<std::pair<LinkKey, std::size_t>> bundles,
                 bool missing) {
    while (!bundles.empty()) {
        std::map<std::pair<std::size_t, std::uint32_t>, std::size_t> shared;
        for (const auto& [key, count] : bundles) {
            ++shared[{std::get<0>(key), std::get<2>(key)}];
            if (std::get<1>(key) != std::get<0>(key)) {
                ++shared[{std::get<1>(key), std::get<2>(key)}];
            }
        }
        const auto most =
            std::max_element(shared.begin(), shared.end(),
                             [](const auto& a, const auto& b) { return a.second < b.second; });
        const auto [owner, type] = most->first;
        std::string peers;
        std::size_t links = 0;
        auto kept = bundles.begin();
        for (const auto& [key, count] : bundles) {
            const auto [low, high, linkType] = key;
            if (linkType == type && (low == owner || high == owner)) {
                const std::size_t peer = low == owner ? high : low;
                peers += (peers.empty() ? "" : ", ") +
                         (peer == owner ? std::string("itself") : anyDevice(c, peer).name);
                links += count;
            } else {
                *kept++ = {key, count};
            }
        }
        bundles.erase(kept, bundles.end());
        const std::string what = linkTypeText(type) + " links with " + peers;
        c.add(owner, Section::Links, std::nullopt, what,
              missing ? values(dec(links), "none") : values("none", dec(links)));
    }
}

// Links between two devices that are all of another type now.
struct Retyped {
    std::size_t low = 0;
    std::size_t high = 0;
    std::string change;  // "reference XGMI, machine PCIe"
};

// Type changes as few lines as possible: the device that most of one change share names its
// peers in one line, as a GPU whose XGMI links all became PCIe.
void addRetyped(Comparison& c, std::vector<Retyped> retyped) {
    while (!retyped.empty()) {
        std::map<std::pair<std::size_t, std::string>, std::size_t> shared;
        for (const Retyped& r : retyped) {
            ++shared[{r.low, r.change}];
            ++shared[{r.high, r.change}];
        }
        const auto most =
            std::max_element(shared.begin(), shared.end(),
                             [](const auto& a, const auto& b) { return a.second < b.second; });
        const auto [owner, change] = most->first;
        std::string peers;
        auto kept = retyped.begin();
        for (const Retyped& r : retyped) {
            if (r.change == change && (r.low == owner || r.high == owner)) {
                peers += (peers.empty() ? "" : ", ") +
                         anyDevice(c, r.low == owner ? r.high : r.low).name;
            } else {
                *kept++ = r;
            }
        }
        retyped.erase(kept, retyped.end());
        c.add(owner, Section::Links, std::nullopt, "links with " + peers + " IoLinkType", change);
    }
}

void compareLinks(Comparison& c) {
    const auto ours = tallyLinks(c.reference, c.referenceDevices, c.matchOfReference, c.matches);
    const auto theirs = tallyLinks(c.machine, c.machineDevices, c.matchOfMachine, c.matches);
    auto types = [](const std::map<LinkKey, LinkTally>& tallies, std::size_t low,
                    std::size_t high) {
        std::vector<std::uint32_t> found;
        for (auto at = tallies.lower_bound({low, high, 0});
             at != tallies.end() && std::get<0>(at->first) == low && std::get<1>(at->first) == high;
             ++at) {
            found.push_back(std::get<2>(at->first));
        }
        return found;
    };
    auto partitionsDiffer = [&](std::size_t match) {
        const DeviceMatch& m = c.matches[match];
        return c.referenceDevices.devices[*m.reference].nodes.size() !=
               c.machineDevices.devices[*m.machine].nodes.size();
    };
    std::vector<std::pair<LinkKey, std::size_t>> missing;
    std::vector<std::pair<LinkKey, std::size_t>> extra;
    std::vector<Retyped> retyped;
    for (const auto& [key, tally] : ours) {
        const auto [low, high, type] = key;
        const auto found = theirs.find(key);
        if (found == theirs.end()) {
            const auto otherTypes = types(theirs, low, high);
            // One type for another between the same devices: the type changed.
            if (otherTypes.size() == 1 && types(ours, low, high).size() == 1) {
                retyped.push_back(
                    {low, high, values(linkTypeText(type), linkTypeText(otherTypes.front()))});
            } else {
                missing.emplace_back(key, tally.count);
            }
            continue;
        }
        const std::string what = linkTypeText(type) + " links " + peerText(c, low, high);
        if (tally.count != found->second.count && !partitionsDiffer(low) &&
            !partitionsDiffer(high)) {
            c.add(low, Section::Links, std::nullopt, what,
                  values(dec(tally.count), dec(found->second.count)));
        }
        for (std::size_t f = 0; f < linkFields.size(); ++f) {
            const std::string a = rangeText(tally.ranges[f], linkFields[f].hexadecimal);
            const std::string b = rangeText(found->second.ranges[f], linkFields[f].hexadecimal);
            if (a != b) {
                c.add(low, Section::Links, std::nullopt,
                      what + " " + std::string(linkFields[f].name), values(a, b));
            }
        }
    }
    for (const auto& [key, tally] : theirs) {
        const auto [low, high, type] = key;
        if (ours.count(key) == 0 &&
            !(types(theirs, low, high).size() == 1 && types(ours, low, high).size() == 1)) {
            extra.emplace_back(key, tally.count);
        }
    }
    addRetyped(c, retyped);
    addOneSided(c, missing, true);
    addOneSided(c, extra, false);
}

// GPUs present on both sides, grouped by their hive on one side; a GPU without one is alone.
std::map<std::uint64_t, std::vector<std::size_t>> hivesOf(const Comparison& c, bool reference) {
    std::map<std::uint64_t, std::vector<std::size_t>> hives;
    for (std::size_t match = 0; match < c.matches.size(); ++match) {
        const DeviceMatch& m = c.matches[match];
        if (!m.reference || !m.machine || !c.referenceDevices.devices[*m.reference].gpu) {
            continue;
        }
        const Topology& topology = reference ? c.reference : c.machine;
        const IdentifiedDevice& device = reference ? c.referenceDevices.devices[*m.reference]
                                                   : c.machineDevices.devices[*m.machine];
        const std::uint64_t id = topology.nodes[device.nodes.front()].properties.HiveID;
        if (id != 0) {
            hives[id].push_back(match);
        }
    }
    return hives;
}

std::string hiveText(const Comparison& c, const std::vector<std::size_t>& hive) {
    return "the hive of " + anyDevice(c, hive.front()).name + " (" + dec(hive.size()) + " GPUs)";
}

// Each side's hives of the other side's GPUs: a GPU that left its hive, or joined one, is one
// line; a hive that split, or several that merged, is one line at its first GPU.
void compareHiveSide(Comparison& c, bool fromReference) {
    const auto ours = hivesOf(c, fromReference);
    const auto theirs = hivesOf(c, !fromReference);
    std::map<std::size_t, std::uint64_t> theirHive;
    for (const auto& [id, members] : theirs) {
        for (const std::size_t member : members) {
            theirHive[member] = id;
        }
    }
    auto said = [&](const std::string& a, const std::string& b) {
        return fromReference ? values(a, b) : values(b, a);
    };
    for (const auto& [id, members] : ours) {
        // A hive gone whole is one line.
        const bool gone = std::none_of(members.begin(), members.end(), [&](std::size_t member) {
            return theirHive.count(member) != 0;
        });
        if (gone && members.size() > 1) {
            if (fromReference) {
                c.add(members.front(), Section::Hive, std::nullopt, "hive",
                      values(hiveText(c, members), "none, its GPUs outside any hive"));
            }
            continue;
        }
        std::map<std::uint64_t, std::vector<std::size_t>> split;
        for (const std::size_t member : members) {
            const auto found = theirHive.find(member);
            if (found == theirHive.end()) {
                // Seen from the reference only, so that it is said once.
                if (fromReference) {
                    c.add(member, Section::Hive, std::nullopt, "hive",
                          said("in " + hiveText(c, members), "outside any hive"));
                }
            } else {
                split[found->second].push_back(member);
            }
        }
        if (split.size() > 1) {
            std::vector<std::vector<std::size_t>> parts;
            for (const auto& [theirId, part] : split) {
                parts.push_back(part);
            }
            std::sort(parts.begin(), parts.end());
            std::string groups;
            for (const std::vector<std::size_t>& part : parts) {
                groups += (groups.empty() ? "" : " | ") + hiveText(c, part);
            }
            c.add(members.front(), Section::Hive, std::nullopt,
                  fromReference ? "hive split" : "hives merged",
                  said("in " + hiveText(c, members),
                       "in " + dec(split.size()) + " hives: " + groups));
        }
    }
    if (!fromReference) {
        return;
    }
    std::map<std::size_t, std::uint64_t> ourHive;
    for (const auto& [id, members] : ours) {
        for (const std::size_t member : members) {
            ourHive[member] = id;
        }
    }
    for (const auto& [id, members] : theirs) {
        for (const std::size_t member : members) {
            if (ourHive.count(member) == 0) {
                c.add(member, Section::Hive, std::nullopt, "hive",
                      values("outside any hive", "in " + hiveText(c, members)));
            }
        }
    }
}

std::string nodeName(const Comparison& c, bool reference, std::uint32_t node) {
    const MachineDevices& devices = reference ? c.referenceDevices : c.machineDevices;
    if (node >= devices.deviceOfNode.size()) {
        return "node " + dec(node);
    }
    const IdentifiedDevice& device = devices.devices[devices.deviceOfNode[node]];
    const std::size_t match =
        (reference ? c.matchOfReference : c.matchOfMachine)[devices.deviceOfNode[node]];
    return anyDevice(c, match).name + device.partitionKeys[devices.partitionOfNode[node]];
}

void compareSystem(Comparison& c) {
    const std::array<std::tuple<std::string_view, std::uint64_t, std::uint64_t>, 5> fields{{
        {"KernelInterfaceMajorVersion", c.reference.version.KernelInterfaceMajorVersion,
         c.machine.version.KernelInterfaceMajorVersion},
        {"KernelInterfaceMinorVersion", c.reference.version.KernelInterfaceMinorVersion,
         c.machine.version.KernelInterfaceMinorVersion},
        {"PlatformOem", c.reference.system.PlatformOem, c.machine.system.PlatformOem},
        {"PlatformId", c.reference.system.PlatformId, c.machine.system.PlatformId},
        {"PlatformRev", c.reference.system.PlatformRev, c.machine.system.PlatformRev},
    }};
    for (const auto& [name, ours, theirs] : fields) {
        if (ours != theirs) {
            c.findings.push_back({0, Section::Presence, std::nullopt, "system " + std::string(name),
                                  values(dec(ours), dec(theirs))});
        }
    }
    // The software that answered, where both captures say: it explains other differences.
    if (c.reference.origin && c.machine.origin) {
        for (const auto& [name, field] : {std::pair{"driver", &FixtureOrigin::driver},
                                          std::pair{"library", &FixtureOrigin::library}}) {
            const std::string& ours = *c.reference.origin.*field;
            const std::string& theirs = *c.machine.origin.*field;
            if (ours != theirs) {
                c.findings.push_back({0, Section::Presence, std::nullopt,
                                      "system origin " + std::string(name),
                                      values(ours.empty() ? "none" : oneLine(ours),
                                             theirs.empty() ? "none" : oneLine(theirs))});
            }
        }
    }
    // Failed queries, by the call and the node's name.
    std::map<std::pair<std::string, std::string>, std::pair<std::int32_t, std::int32_t>> statuses;
    for (const bool reference : {true, false}) {
        for (const Fault& fault : (reference ? c.reference : c.machine).faults) {
            const std::string where = fault.node ? nodeName(c, reference, *fault.node) : "system";
            auto& [a, b] = statuses[{where, std::string(kfdCallName(fault.call))}];
            (reference ? a : b) = fault.status;
        }
    }
    for (const auto& [key, status] : statuses) {
        if (status.first != status.second) {
            c.findings.push_back(
                {0, Section::Queries, std::nullopt, key.first + " query " + key.second,
                 values("status " + dec(static_cast<std::uint32_t>(status.first)),
                        "status " + dec(static_cast<std::uint32_t>(status.second)))});
        }
    }
}

// Partition findings that every matched partition of a device shares become one device line.
std::vector<std::string> foldedLines(const Comparison& c) {
    std::vector<Finding> findings = c.findings;
    std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
        return std::tie(a.owner, a.section) < std::tie(b.owner, b.section);
    });
    std::vector<std::string> lines;
    for (auto start = findings.begin(); start != findings.end();) {
        const auto end = std::find_if(start, findings.end(), [&](const Finding& f) {
            return f.owner != start->owner || f.section != start->section;
        });
        std::size_t matched = 0;
        if (start->owner != 0) {
            for (const auto& [r, k] : c.partitions[start->owner - 1]) {
                matched += r && k ? 1 : 0;
            }
        }
        std::map<std::pair<std::string, std::string>, std::size_t> shared;
        for (auto f = start; f != end; ++f) {
            shared[{f->what, f->values}] += f->partition ? 1 : 0;
        }
        std::set<std::pair<std::string, std::string>> written;
        for (auto f = start; f != end; ++f) {
            std::string name = "system";
            if (f->owner != 0) {
                const std::size_t match = f->owner - 1;
                const bool whole = !f->partition || shared[{f->what, f->values}] == matched;
                if (whole && !written.insert({f->what, f->values}).second) {
                    continue;
                }
                name = whole ? anyDevice(c, match).name : partitionName(c, match, *f->partition);
            }
            // System lines and failed queries name their record themselves.
            const std::string head = f->owner == 0 ? "" : name + " ";
            lines.push_back(head + f->what + ": " + f->values);
        }
        start = end;
    }
    return lines;
}

}  // namespace

std::vector<std::string> diffTopologies(const Topology& reference, const Topology& machine,
                                        const DiffOptions& options) {
    Comparison c{
        reference, machine, identifyDevices(reference), identifyDevices(machine), {}, {}, {}, {},
        options,   {}};
    c.matches = matchDevices(reference, c.referenceDevices, machine, c.machineDevices);
    c.matchOfReference.resize(c.referenceDevices.devices.size());
    c.matchOfMachine.resize(c.machineDevices.devices.size());
    for (std::size_t match = 0; match < c.matches.size(); ++match) {
        const DeviceMatch& m = c.matches[match];
        if (m.reference) {
            c.matchOfReference[*m.reference] = match;
        }
        if (m.machine) {
            c.matchOfMachine[*m.machine] = match;
        }
        c.partitions.push_back(m.reference && m.machine
                                   ? matchPartitions(c.referenceDevices.devices[*m.reference],
                                                     c.machineDevices.devices[*m.machine])
                                   : decltype(c.partitions)::value_type{});
    }
    compareSystem(c);
    compareDevices(c);
    compareHiveSide(c, true);
    compareHiveSide(c, false);
    compareLinks(c);
    return foldedLines(c);
}

std::vector<std::string> leftOutFields() {
    std::vector<std::string> lines;
    for (const PropertyField& field : propertyFields) {
        if (!field.leftOut.empty()) {
            lines.push_back("properties " + std::string(field.name) + ": " +
                            std::string(field.leftOut));
        }
    }
    lines.push_back("clock GPUClockCounter, CPUClockCounter, SystemClockCounter: " +
                    std::string(runToRun));
    lines.push_back("memory bank VirtualBaseAddress of the MMIO remap bank: " +
                    std::string(mappedAnew));
    return lines;
}
