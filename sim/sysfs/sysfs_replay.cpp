// Sysfs replay: reads a captured topology tree file by file, mapped as libhsakmt maps it.
#include "sim/sysfs/sysfs_replay.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>

#include "fixture/input_file.h"
#include "fixture/input_limits.h"
#include "fixture/json_document.h"
#include "fixture/json_fixture.h"
#include "fixture/recent_fields.h"
#include "kernel/kernel_facts.h"
#include "sim/sysfs/gpu_apertures.h"
#include "sim/sysfs/sysfs_properties.h"
#include "sim/tables/library_tables.h"
#include "text/hex_text.h"

namespace {

using Value = std::uint64_t;

// What a node's properties file gives beyond the fields of its record.
struct NodeFile {
    HsaNodeProperties properties{};
    Value arrayCount = 0;
    Value gfxTargetVersion = 0;
    Value ioLinksCount = 0;
    Value p2pLinksCount = 0;
};

template <typename Record>
struct KeyField {
    std::string_view key;
    void (*set)(Record& record, Value value);
};

// The field's width: the library assigns the 64-bit value scanned, so wider bits are lost.
template <typename Field>
constexpr Field low(Value value) {
    return static_cast<Field>(value);
}

// Firmware versions keep 10 bits.
constexpr HSAuint32 low10(Value value) { return static_cast<HSAuint32>(value & 0x3FF); }

// clang-format off
constexpr KeyField<NodeFile> nodeKeys[] = {
    {"cpu_cores_count",            [](NodeFile& n, Value v) { n.properties.NumCPUCores = low<HSAuint32>(v); }},
    {"simd_count",                 [](NodeFile& n, Value v) { n.properties.NumFComputeCores = low<HSAuint32>(v); }},
    {"mem_banks_count",            [](NodeFile& n, Value v) { n.properties.NumMemoryBanks = low<HSAuint32>(v); }},
    {"caches_count",               [](NodeFile& n, Value v) { n.properties.NumCaches = low<HSAuint32>(v); }},
    {"io_links_count",             [](NodeFile& n, Value v) { n.ioLinksCount = v; }},
    {"p2p_links_count",            [](NodeFile& n, Value v) { n.p2pLinksCount = v; }},
    {"cpu_core_id_base",           [](NodeFile& n, Value v) { n.properties.CComputeIdLo = low<HSAuint32>(v); }},
    {"simd_id_base",               [](NodeFile& n, Value v) { n.properties.FComputeIdLo = low<HSAuint32>(v); }},
    {"max_waves_per_simd",         [](NodeFile& n, Value v) { n.properties.MaxWavesPerSIMD = low<HSAuint32>(v); }},
    {"lds_size_in_kb",             [](NodeFile& n, Value v) { n.properties.LDSSizeInKB = low<HSAuint32>(v); }},
    {"gds_size_in_kb",             [](NodeFile& n, Value v) { n.properties.GDSSizeInKB = low<HSAuint32>(v); }},
    {"num_gws",                    [](NodeFile& n, Value v) { n.properties.NumGws = low<HSAuint8>(v); }},
    {"wave_front_size",            [](NodeFile& n, Value v) { n.properties.WaveFrontSize = low<HSAuint32>(v); }},
    {"array_count",                [](NodeFile& n, Value v) { n.arrayCount = low<HSAuint32>(v); }},
    {"simd_arrays_per_engine",     [](NodeFile& n, Value v) { n.properties.NumArrays = low<HSAuint32>(v); }},
    {"cu_per_simd_array",          [](NodeFile& n, Value v) { n.properties.NumCUPerArray = low<HSAuint32>(v); }},
    {"simd_per_cu",                [](NodeFile& n, Value v) { n.properties.NumSIMDPerCU = low<HSAuint32>(v); }},
    {"max_slots_scratch_cu",       [](NodeFile& n, Value v) { n.properties.MaxSlotsScratchCU = low<HSAuint32>(v); }},
    {"gfx_target_version",         [](NodeFile& n, Value v) { n.gfxTargetVersion = low<HSAuint32>(v); }},
    {"vendor_id",                  [](NodeFile& n, Value v) { n.properties.VendorId = low<HSAuint16>(v); }},
    {"device_id",                  [](NodeFile& n, Value v) { n.properties.DeviceId = low<HSAuint16>(v); }},
    {"location_id",                [](NodeFile& n, Value v) { n.properties.LocationId = low<HSAuint32>(v); }},
    {"domain",                     [](NodeFile& n, Value v) { n.properties.Domain = low<HSAuint32>(v); }},
    {"drm_render_minor",           [](NodeFile& n, Value v) { n.properties.DrmRenderMinor = low<HSAint32>(v); }},
    {"hive_id",                    [](NodeFile& n, Value v) { n.properties.HiveID = v; }},
    {"num_sdma_engines",           [](NodeFile& n, Value v) { n.properties.NumSdmaEngines = low<HSAuint32>(v); }},
    {"num_sdma_xgmi_engines",      [](NodeFile& n, Value v) { n.properties.NumSdmaXgmiEngines = low<HSAuint32>(v); }},
    {"num_sdma_queues_per_engine", [](NodeFile& n, Value v) { n.properties.NumSdmaQueuesPerEngine = low<HSAuint8>(v); }},
    {"num_cp_queues",              [](NodeFile& n, Value v) { n.properties.NumCpQueues = low<HSAuint8>(v); }},
    {"max_engine_clk_fcompute",    [](NodeFile& n, Value v) { n.properties.MaxEngineClockMhzFCompute = low<HSAuint32>(v); }},
    {"local_mem_size",             [](NodeFile& n, Value v) { n.properties.LocalMemSize = v; }},
    {"fw_version",                 [](NodeFile& n, Value v) { n.properties.EngineId.Value = low10(v); }},
    {"capability",                 [](NodeFile& n, Value v) { n.properties.Capability.Value = low<HSAuint32>(v); }},
    {"debug_prop",                 [](NodeFile& n, Value v) { n.properties.DebugProperties.Value = v; }},
    {"sdma_fw_version",            [](NodeFile& n, Value v) { n.properties.uCodeEngineVersions.Value = low10(v); }},
    {"unique_id",                  [](NodeFile& n, Value v) { n.properties.UniqueID = v; }},
    {"num_xcc",                    [](NodeFile& n, Value v) { n.properties.NumXcc = low<HSAuint32>(v); }},
    {"max_engine_clk_ccompute",    [](NodeFile& n, Value v) { n.properties.MaxEngineClockMhzCCompute = low<HSAuint32>(v); }},
};
static_assert(std::size(nodeKeys) == 38);

constexpr KeyField<HsaMemoryProperties> bankKeys[] = {
    {"heap_type",     [](HsaMemoryProperties& b, Value v) { b.HeapType = static_cast<HSA_HEAPTYPE>(low<HSAuint32>(v)); }},
    {"size_in_bytes", [](HsaMemoryProperties& b, Value v) { b.SizeInBytes = v; }},
    {"flags",         [](HsaMemoryProperties& b, Value v) { b.Flags.MemoryProperty = low<HSAuint32>(v); }},
    {"width",         [](HsaMemoryProperties& b, Value v) { b.Width = low<HSAuint32>(v); }},
    {"mem_clk_max",   [](HsaMemoryProperties& b, Value v) { b.MemoryClockMax = low<HSAuint32>(v); }},
};
static_assert(std::size(bankKeys) == 5);

constexpr KeyField<HsaIoLinkProperties> linkKeys[] = {
    {"type",                            [](HsaIoLinkProperties& l, Value v) { l.IoLinkType = static_cast<HSA_IOLINKTYPE>(low<HSAuint32>(v)); }},
    {"version_major",                   [](HsaIoLinkProperties& l, Value v) { l.VersionMajor = low<HSAuint32>(v); }},
    {"version_minor",                   [](HsaIoLinkProperties& l, Value v) { l.VersionMinor = low<HSAuint32>(v); }},
    {"node_from",                       [](HsaIoLinkProperties& l, Value v) { l.NodeFrom = low<HSAuint32>(v); }},
    {"node_to",                         [](HsaIoLinkProperties& l, Value v) { l.NodeTo = low<HSAuint32>(v); }},
    {"weight",                          [](HsaIoLinkProperties& l, Value v) { l.Weight = low<HSAuint32>(v); }},
    {"min_latency",                     [](HsaIoLinkProperties& l, Value v) { l.MinimumLatency = low<HSAuint32>(v); }},
    {"max_latency",                     [](HsaIoLinkProperties& l, Value v) { l.MaximumLatency = low<HSAuint32>(v); }},
    {"min_bandwidth",                   [](HsaIoLinkProperties& l, Value v) { l.MinimumBandwidth = low<HSAuint32>(v); }},
    {"max_bandwidth",                   [](HsaIoLinkProperties& l, Value v) { l.MaximumBandwidth = low<HSAuint32>(v); }},
    {"recommended_transfer_size",       [](HsaIoLinkProperties& l, Value v) { l.RecTransferSize = low<HSAuint32>(v); }},
    {"recommended_sdma_engine_id_mask", [](HsaIoLinkProperties& l, Value v) { setRecSdmaEngIdMask(l, low<HSAuint32>(v)); }},
    {"flags",                           [](HsaIoLinkProperties& l, Value v) { l.Flags.LinkProperty = low<HSAuint32>(v); }},
};
static_assert(std::size(linkKeys) == 13);

constexpr KeyField<HsaSystemProperties> systemKeys[] = {
    {"platform_oem", [](HsaSystemProperties& s, Value v) { s.PlatformOem = low<HSAuint32>(v); }},
    {"platform_id",  [](HsaSystemProperties& s, Value v) { s.PlatformId = low<HSAuint32>(v); }},
    {"platform_rev", [](HsaSystemProperties& s, Value v) { s.PlatformRev = low<HSAuint32>(v); }},
};
static_assert(std::size(systemKeys) == 3);
// clang-format on

constexpr HSAuint32 sgprSizePerCU = 0x4000;

// VGPR file size by gfx version.
HSAuint32 vgprSizePerCU(const GfxVersion& v) {
    const bool gfx9Large =
        v.major == 9 && ((v.minor == 0 && (v.stepping == 8 || v.stepping == 10)) || v.minor == 4 ||
                         (v.minor == 5 && v.stepping == 0));
    const bool gfx11Or12Large =
        (v.major == 11 || v.major == 12) && v.minor == 0 && (v.stepping == 0 || v.stepping == 1);
    return gfx9Large ? 0x80000 : gfx11Or12Large ? 0x60000 : 0x40000;
}

// The first page of a file of the tree, or nothing when the file does not exist.
std::optional<std::string> readTreeFile(const std::string& path) {
    return readInputFile(path, sysfsPageSize, ReadExtent::FirstBytes, IfMissing::GiveNothing);
}

std::string requireTreeFile(const std::string& path) {
    return *readInputFile(path, sysfsPageSize, ReadExtent::FirstBytes, IfMissing::Refuse);
}

// Lays the pairs of a properties file over `record`; keys the library does not read are skipped.
template <typename Record, std::size_t size>
void applyProperties(const std::string& text, const std::string& path,
                     const KeyField<Record> (&keys)[size], Record& record) {
    for (const SysfsProperty& property : parseSysfsProperties(text, path)) {
        const auto known = std::find_if(std::begin(keys), std::end(keys), [&](const auto& field) {
            return field.key == property.key;
        });
        if (known != std::end(keys)) {
            known->set(record, property.value);
        }
    }
}

// A node's directory in the tree, the tree's node count and the records made so far.
struct NodeDirectory {
    std::string path;
    HSAuint32 node = 0;
    HSAuint32 nodeCount = 0;
    std::size_t* records = nullptr;
};

// Counts `more` records, refused before they are read when the topology would pass its cap.
void addRecords(const NodeDirectory& directory, std::size_t more) {
    *directory.records += more;
    requireTopologyRecords(*directory.records, directory.path + "/properties");
}

std::string indexPath(const NodeDirectory& directory, std::string_view kind, Value index) {
    return directory.path + "/" + std::string(kind) + "/" + std::to_string(index) + "/properties";
}

// The names of the entries of the node's directory `kind`, so that records announced without
// a file cost no lookup each.
std::set<std::string> presentEntries(const NodeDirectory& directory, std::string_view kind) {
    std::set<std::string> present;
    std::error_code error;
    std::filesystem::directory_iterator entries(directory.path + "/" + std::string(kind), error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        present.insert(entries->path().filename().string());
    }
    return present;
}

// Kernels report a handful of banks per node; a count far beyond that is a broken file, which
// the library could not allocate records for either.
std::vector<HsaMemoryProperties> readBanks(const NodeDirectory& directory, HSAuint32 count) {
    if (count > maxListRecords) {
        throw FixtureError(oneLine(directory.path + "/properties: mem_banks_count " +
                                   std::to_string(count) + " is more than the " +
                                   std::to_string(maxListRecords) + " banks kfdsim replays"));
    }
    addRecords(directory, count);
    const std::set<std::string> present = presentEntries(directory, "mem_banks");
    std::vector<HsaMemoryProperties> banks;
    banks.resize(count);
    for (HSAuint32 bank = 0; bank < count; ++bank) {
        if (present.count(std::to_string(bank)) != 0) {
            const std::string path = indexPath(directory, "mem_banks", bank);
            if (const std::optional<std::string> text = readTreeFile(path)) {
                applyProperties(*text, path, bankKeys, banks[bank]);
            }
        }
    }
    return banks;
}

// Appends the links of io_links/ or p2p_links/ while there is room, one link to each other
// node. A missing file is a zero-filled link; a link to a node outside the tree is dropped.
void readLinks(const NodeDirectory& directory, std::string_view kind, Value count,
               std::vector<HsaIoLinkProperties>& links) {
    const std::size_t room = directory.nodeCount - 1;
    addRecords(directory, static_cast<std::size_t>(std::min<Value>(count, room - links.size())));
    const std::set<std::string> present = presentEntries(directory, kind);
    for (Value index = 0; index < count && links.size() < room; ++index) {
        if (present.count(std::to_string(index)) == 0) {
            links.emplace_back();
            continue;
        }
        const std::string path = indexPath(directory, kind, index);
        const std::optional<std::string> text = readTreeFile(path);
        HsaIoLinkProperties link{};
        if (text) {
            applyProperties(*text, path, linkKeys, link);
            if (link.NodeFrom != directory.node) {
                throw FixtureError(
                    oneLine(path + ": node_from is " + std::to_string(link.NodeFrom) +
                            ", not the number of its node, " + std::to_string(directory.node)));
            }
            if (link.NodeTo >= directory.nodeCount) {
                continue;
            }
        }
        links.push_back(link);
    }
}

// The version the library gives a GPU: its table's for a known device up to gfx10, else the
// decoded gfx_target_version; none without either.
std::optional<GfxVersion> gfxVersion(const NodeFile& file, std::string& name) {
    const Value target = file.gfxTargetVersion;
    const auto major = static_cast<HSAuint32>(target / 10000 % 100);
    // Kept as EngineId keeps it: the major in 6 bits.
    const GfxVersion decoded{major & 0x3F, static_cast<HSAuint32>(target / 100 % 100),
                             static_cast<HSAuint32>(target % 100)};
    const DeviceRow* known = findDevice(file.properties.DeviceId);
    if (known != nullptr && major <= 10) {
        name = known->name;
        return known->version;
    }
    if (target == 0) {
        return std::nullopt;
    }
    name = "GFX";
    for (const HSAuint32 part : {decoded.major, decoded.minor, decoded.stepping}) {
        name += hexText(part, 2);
    }
    return decoded;
}

// The Major, Minor and Stepping bits of an engine id.
constexpr HSAuint32 engineVersion(const GfxVersion& v) {
    return (v.major & 0x3F) << 10 | (v.minor & 0xFF) << 16 | (v.stepping & 0xFF) << 24;
}

// scanf's %u: blanks, a sign, then digits read as strtoul reads them, kept to 32 bits.
std::optional<HSAuint32> scanUnsigned(std::string_view& text) {
    while (!text.empty() &&
           (text.front() == ' ' || (text.front() >= '\t' && text.front() <= '\r'))) {
        text.remove_prefix(1);
    }
    const bool negative = !text.empty() && text.front() == '-';
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        text.remove_prefix(1);
    }
    constexpr std::uint64_t largest = ~std::uint64_t{0};
    std::uint64_t value = 0;
    bool saturated = false;
    std::size_t digits = 0;
    for (; digits < text.size() && text[digits] >= '0' && text[digits] <= '9'; ++digits) {
        const auto digit = static_cast<std::uint64_t>(text[digits] - '0');
        saturated = saturated || value > (largest - digit) / 10;
        value = value * 10 + digit;
    }
    if (digits == 0) {
        return std::nullopt;
    }
    text.remove_prefix(digits);
    return static_cast<HSAuint32>(saturated ? largest : negative ? 0 - value : value);
}

// An override's "major.minor.stepping" as the library scans it ("%u.%u.%u%c" matching exactly
// three), within the fields of an engine id; nothing for any other text.
std::optional<GfxVersion> parseGfxOverride(std::string_view text) {
    GfxVersion version;
    HSAuint32* const parts[] = {&version.major, &version.minor, &version.stepping};
    for (std::size_t i = 0; i < std::size(parts); ++i) {
        if (i > 0) {
            if (text.empty() || text.front() != '.') {
                return std::nullopt;
            }
            text.remove_prefix(1);
        }
        const std::optional<HSAuint32> part = scanUnsigned(text);
        if (!part) {
            return std::nullopt;
        }
        *parts[i] = *part;
    }
    if (!text.empty() || version.major > 63 || version.minor > 255 || version.stepping > 255) {
        return std::nullopt;
    }
    return version;
}

// The node's own override variable wins over the one for all nodes, even when it is empty.
const char* gfxOverride(HSAuint32 node) {
    const std::string own = "HSA_OVERRIDE_GFX_VERSION_" + std::to_string(node);
    const char* value = std::getenv(own.c_str());
    return value != nullptr ? value : std::getenv("HSA_OVERRIDE_GFX_VERSION");
}

// Sets OverrideEngineId from the node's override variable, if one is set; false when its value
// is invalid, which fails the snapshot.
bool applyGfxOverride(HSAuint32 node, HsaNodeProperties& p) {
    const char* value = gfxOverride(node);
    if (value == nullptr) {
        return true;
    }
    const std::optional<GfxVersion> version = parseGfxOverride(value);
    if (version) {
        setOverrideEngineId(p, engineVersion(*version));
    }
    return version.has_value();
}

// Fields the library derives for nodes with SIMDs; the version, when there is one.
std::optional<GfxVersion> deriveGpuFields(const NodeFile& file, HsaNodeProperties& p) {
    if (p.NumArrays != 0) {
        p.NumShaderBanks = static_cast<HSAuint32>(file.arrayCount / p.NumArrays);
    }
    if (p.NumXcc == 0) {
        p.NumXcc = 1;
    }
    std::string name;
    const std::optional<GfxVersion> version = gfxVersion(file, name);
    if (version) {
        p.EngineId.Value = (p.EngineId.Value & 0x3FF) | engineVersion(*version);
        p.VGPRSizePerCU = vgprSizePerCU(*version);
        p.SGPRSizePerCU = sgprSizePerCU;
        std::copy(name.begin(), name.end(), std::begin(p.AMDName));
    }
    return version;
}

// What the library adds to a GPU node from the kernel's apertures and its own counter tables.
void addGpuRecords(HSAuint32 node, const std::optional<GfxVersion>& version, TopologyNode& gpu) {
    const GfxVersion v = version.value_or(GfxVersion{});
    const std::vector<HsaMemoryProperties> banks =
        gpuApertureBanks(node, v.major, gpu.properties.LDSSizeInKB);
    gpu.memBanks.insert(gpu.memBanks.end(), banks.begin(), banks.end());
    gpu.properties.NumMemoryBanks += static_cast<HSAuint32>(banks.size());
    gpu.counters = libraryCounters(v, gpu.properties.DeviceId);
    if (!gpu.counters) {
        gpu.counterStatus = HSAKMT_STATUS_INVALID_PARAMETER;
    }
}

TopologyNode readNode(const std::string& nodesDirectory, HSAuint32 node, HSAuint32 nodeCount,
                      std::size_t& records, bool& overrideRefused) {
    const NodeDirectory directory{nodesDirectory + "/" + std::to_string(node), node, nodeCount,
                                  &records};
    const std::string propertiesPath = directory.path + "/properties";
    NodeFile file;
    applyProperties(requireTreeFile(propertiesPath), propertiesPath, nodeKeys, file);

    TopologyNode result;
    HsaNodeProperties& p = file.properties;
    const std::string gpuIdPath = directory.path + "/gpu_id";
    if (const std::optional<std::string> gpuId = readTreeFile(gpuIdPath)) {
        p.KFDGpuID = low<HSAuint32>(parseSysfsNumber(*gpuId, gpuIdPath));
    }
    const bool gpu = p.NumFComputeCores != 0;
    const std::optional<GfxVersion> version = gpu ? deriveGpuFields(file, p) : std::nullopt;
    if (version && !applyGfxOverride(node, p)) {
        overrideRefused = true;
    }
    result.memBanks = readBanks(directory, p.NumMemoryBanks);
    readLinks(directory, "io_links", file.ioLinksCount, result.ioLinks);
    readLinks(directory, "p2p_links", file.p2pLinksCount, result.ioLinks);
    p.NumIOLinks = static_cast<HSAuint32>(result.ioLinks.size());
    result.properties = p;
    if (gpu) {
        addGpuRecords(node, version, result);
    }
    // The kernel's nanosecond clock; the counters themselves come from an ioctl.
    result.clock.SystemClockFrequencyHz = kernelClockFrequencyHz;
    return result;
}

HSAuint32 countEntries(const std::string& directory) {
    std::error_code error;
    std::filesystem::directory_iterator entries(directory, error);
    HSAuint32 count = 0;
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        if (++count > maxListRecords) {
            throw FixtureError(oneLine(directory + ": more than the " +
                                       std::to_string(maxListRecords) +
                                       " node directories kfdsim replays"));
        }
    }
    if (error) {
        throw FixtureError(oneLine(directory + ": cannot read: " + error.message()));
    }
    return count;
}

// An overlay's "generation_id" stands in for the file a partial copy lacks. It is taken out of
// the text, which is then an ordinary fixture.
bool takeGenerationId(std::string& text, const std::string& source) {
    try {
        JsonDocument document = parseStrictJson(text);
        constexpr std::string_view key = "generation_id";
        if (!document.root.is_object() || !document.root.contains(key)) {
            return false;
        }
        JsonValue(document.root.at(std::string(key)), memberPath("", key)).integer<std::uint64_t>();
        document.root.erase(std::string(key));
        text = document.root.dump();
        return true;
    } catch (const JsonError& refusal) {
        throw FixtureError(oneLine(source + ": " + refusal.what()));
    }
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

}  // namespace

Topology loadSysfsTopology(const std::string& directory) {
    const std::string named = withoutTrailingSlashes(directory);
    std::error_code ignored;
    const std::string root =
        std::filesystem::is_directory(named + "/topology", ignored) ? named + "/topology" : named;
    const std::string nodesDirectory = root + "/nodes";
    if (!std::filesystem::is_directory(nodesDirectory, ignored)) {
        throw FixtureError(oneLine(
            named + ": no nodes/ directory here or in topology/: not a captured KFD topology"));
    }

    const std::string overlayPath = named + "/kfdsim.json";
    std::optional<std::string> overlay = readInputFile(
        overlayPath, maxFixtureBytes, ReadExtent::WholeDocument, IfMissing::GiveNothing);
    const bool generationGiven = overlay && takeGenerationId(*overlay, overlayPath);
    if (!generationGiven) {
        const std::string path = root + "/generation_id";
        const std::optional<std::string> generation = readTreeFile(path);
        if (!generation) {
            throw FixtureError(oneLine(path +
                                       ": missing; a partial copy replays with \"generation_id\" "
                                       "given in kfdsim.json"));
        }
        parseSysfsNumber(*generation, path);
    }

    Topology topology;
    topology.version = {kernelInterfaceMajor, kernelInterfaceMinor};
    topology.nullBankArrayRefused = true;
    const std::string systemPath = root + "/system_properties";
    if (const std::optional<std::string> system = readTreeFile(systemPath)) {
        applyProperties(*system, systemPath, systemKeys, topology.system);
    }
    const HSAuint32 nodeCount = countEntries(nodesDirectory);
    topology.system.NumNodes = nodeCount;
    std::size_t records = nodeCount;
    bool overrideRefused = false;
    for (HSAuint32 node = 0; node < nodeCount; ++node) {
        topology.nodes.push_back(
            readNode(nodesDirectory, node, nodeCount, records, overrideRefused));
    }
    if (overrideRefused) {
        topology.acquireStatus = HSAKMT_STATUS_ERROR;
    }
    if (overlay) {
        overlayJsonFixture(*overlay, overlayPath, topology);
    }
    return topology;
}
