// Capture replay tests: kfdtopo's report of each bundled capture against the capture's raw files.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/paths.h"
#include "tests/support/process.h"

namespace fs = std::filesystem;

namespace {

// Sanitized builds run several times slower; the time limit holds for plain builds.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
constexpr bool sanitized = __has_feature(address_sanitizer);
#else
constexpr bool sanitized = false;
#endif

constexpr const char* captureNames[] = {"mi308x-cpx", "mi300x-cpx", "mi210-x8-2socket",
                                        "vega10-mi25"};

// ---- The raw files, read without kfdsim's code.

using RawFile = std::map<std::string, std::uint64_t>;

// The "key value" lines of a file; nothing when the file is not in the copy.
std::optional<RawFile> readRaw(const fs::path& path) {
    std::ifstream in(path);
    if (!in) {
        return std::nullopt;
    }
    RawFile values;
    std::string key;
    std::string value;
    while (in >> key >> value) {
        values[key] = std::stoull(value);
    }
    return values;
}

std::uint64_t get(const RawFile& file, const std::string& key) {
    const auto found = file.find(key);
    return found == file.end() ? 0 : found->second;
}

std::string hex(std::uint64_t value) {
    std::ostringstream text;
    text << "0x" << std::hex << value;
    return text.str();
}

std::string dec(std::uint64_t value) { return std::to_string(value); }

// ---- kfdtopo's report, cut into titled sections of "label: value" lines.

struct Section {
    std::string title;
    std::map<std::string, std::string> lines;
    std::vector<Section> children;
};

std::vector<Section> parseReport(const std::string& report) {
    const std::string bold = "\x1b[1m";
    const std::string reset = "\x1b[0m";
    std::vector<Section> top;
    std::istringstream in(report);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t indent = line.find_first_not_of(' ');
        if (indent == std::string::npos) {
            continue;
        }
        std::string text = line.substr(indent);
        const bool title = text.rfind(bold, 0) == 0;
        if (title) {
            text = text.substr(bold.size(), text.size() - bold.size() - reset.size());
        }
        if (indent == 0 && title) {
            top.push_back({text, {}, {}});
        } else if (indent == 4 && title && !top.empty()) {
            top.back().children.push_back({text, {}, {}});
        } else if (!top.empty()) {
            Section& owner = indent == 4 || top.back().children.empty()
                                 ? top.back()
                                 : top.back().children.back();
            const std::size_t colon = text.find(": ");
            owner.lines[text.substr(0, colon)] =
                colon == std::string::npos ? "" : text.substr(colon + 2);
        }
    }
    return top;
}

std::vector<const Section*> childrenTitled(const Section& node, const std::string& prefix) {
    std::vector<const Section*> found;
    for (const Section& child : node.children) {
        if (child.title.rfind(prefix, 0) == 0) {
            found.push_back(&child);
        }
    }
    return found;
}

// ---- What the mapping derives from the files.

// Devices of the captures that the library's built-in table knows, with their versions and names.
struct TableDevice {
    std::uint64_t deviceId;
    const char* version;
    const char* name;
};
constexpr TableDevice tableDevices[] = {{0x6860, "9.0.0", "Vega10"},
                                        {0x740F, "9.0.10", "Aldebaran"}};

struct Gfx {
    std::string version = "0.0.0";
    std::string name;
    std::uint64_t vgpr = 0;
    std::uint64_t sgpr = 0;
};

Gfx gfxOf(const RawFile& node) {
    Gfx gfx;
    const std::uint64_t target = get(node, "gfx_target_version");
    const std::uint64_t major = target / 10000 % 100;
    const std::uint64_t minor = target / 100 % 100;
    const std::uint64_t stepping = target % 100;
    for (const TableDevice& device : tableDevices) {
        if (device.deviceId == get(node, "device_id") && major <= 10) {
            gfx.version = device.version;
            gfx.name = device.name;
        }
    }
    if (gfx.name.empty() && target != 0) {
        gfx.version = dec(major) + "." + dec(minor) + "." + dec(stepping);
        char name[16];
        std::snprintf(name, sizeof name, "GFX%02x%02x%02x", static_cast<unsigned>(major),
                      static_cast<unsigned>(minor), static_cast<unsigned>(stepping));
        gfx.name = name;
    }
    if (!gfx.name.empty()) {
        const bool large =
            gfx.version == "9.0.8" || gfx.version == "9.0.10" || gfx.version.rfind("9.4.", 0) == 0;
        gfx.vgpr = large ? 0x80000 : 0x40000;  // no gfx11 or gfx12 among the captures
        gfx.sgpr = 0x4000;
    }
    return gfx;
}

std::string locationText(std::uint64_t location) {
    char text[32];
    std::snprintf(text, sizeof text, "%02x:%02x.%x", static_cast<unsigned>(location >> 8 & 0xFF),
                  static_cast<unsigned>(location >> 3 & 0x1F), static_cast<unsigned>(location & 7));
    return text;
}

std::string heapTypeName(std::uint64_t type) {
    const std::map<std::uint64_t, std::string> names{
        {0, "System"}, {1, "Public framebuffer"}, {2, "Private framebuffer"}};
    return names.count(type) != 0 ? names.at(type) : "unknown (" + dec(type) + ")";
}

std::string linkTypeName(std::uint64_t type) {
    const std::map<std::uint64_t, std::string> names{
        {0, "Undefined"}, {1, "HyperTransport"}, {2, "PCIe"}, {5, "QPI 1.1"}};
    return names.count(type) != 0 ? names.at(type) : "unknown (" + dec(type) + ")";
}

std::map<std::string, std::string> expectedNodeLines(const RawFile& p, std::uint64_t gpuId,
                                                     std::uint64_t linkCount) {
    const bool gpu = get(p, "simd_count") != 0;
    const Gfx gfx = gpu ? gfxOf(p) : Gfx{};
    const std::uint64_t arrays = get(p, "simd_arrays_per_engine");
    const std::uint64_t xcc = get(p, "num_xcc");
    const std::uint64_t capability = get(p, "capability") & 0xFFFFFFFF;
    const std::uint64_t debug = get(p, "debug_prop");
    const std::uint64_t slots = get(p, "max_slots_scratch_cu");
    return {
        {"CPU threads", dec(get(p, "cpu_cores_count"))},
        {"GPU SIMDs", dec(get(p, "simd_count"))},
        {"Memory banks", dec(get(p, "mem_banks_count"))},
        {"Caches", dec(get(p, "caches_count"))},
        {"IO links", dec(linkCount)},
        {"CPU compute ID", hex(get(p, "cpu_core_id_base"))},
        {"GPU compute ID", hex(get(p, "simd_id_base"))},
        {"Hot pluggable", capability & 1 ? "yes" : "no"},
        {"Watchpoints supported", capability >> 7 & 1 ? "yes" : "no"},
        {"ASIC revision", dec(capability >> 22 & 0xF)},
        {"SVM API supported", capability >> 27 & 1 ? "yes" : "no"},
        {"Maximum waves per GPU SIMD", dec(get(p, "max_waves_per_simd"))},
        {"LDS size", dec(get(p, "lds_size_in_kb")) + " KiB"},
        {"GDS size", dec(get(p, "gds_size_in_kb")) + " KiB"},
        {"Wavefront size", dec(get(p, "wave_front_size"))},
        {"Shader engines", dec(gpu && arrays != 0 ? get(p, "array_count") / arrays : 0)},
        {"SIMD arrays per shader engine", dec(arrays)},
        {"Compute units per SIMD array", dec(get(p, "cu_per_simd_array"))},
        {"SIMDs per compute unit", dec(get(p, "simd_per_cu"))},
        {"Maximum scratch wave slots per CU", slots == 0 ? "unlimited" : dec(slots)},
        {"Engine ID microcode packet processor version", dec(get(p, "fw_version") & 0x3FF)},
        {"Engine ID GFXIP version", gfx.version},
        {"Vendor ID", hex(get(p, "vendor_id") & 0xFFFF)},
        {"Device ID", hex(get(p, "device_id") & 0xFFFF)},
        {"Location ID", locationText(get(p, "location_id"))},
        {"Local memory size", dec(get(p, "local_mem_size")) + " B"},
        {"Maximum GPU clock frequency", dec(get(p, "max_engine_clk_fcompute")) + " MHz"},
        {"Maximum CPU clock frequency", dec(get(p, "max_engine_clk_ccompute")) + " MHz"},
        {"DRM render device ID", dec(get(p, "drm_render_minor"))},
        {"Marketing name", ""},
        {"CAL name", gfx.name},
        {"Engine SDMA microcode version", dec(get(p, "sdma_fw_version") & 0x3FF)},
        {"Watch address mask bits", dec(debug & 0xF) + " - " + dec(debug >> 4 & 0x3F)},
        {"Hive ID", dec(get(p, "hive_id"))},
        {"SDMA engines", dec(get(p, "num_sdma_engines"))},
        {"SDMA XGMI engines", dec(get(p, "num_sdma_xgmi_engines"))},
        {"SDMA queues per engine", dec(get(p, "num_sdma_queues_per_engine") & 0xFF)},
        {"CP queues", dec(get(p, "num_cp_queues") & 0xFF)},
        {"GWS barriers", dec(get(p, "num_gws") & 0xFF)},
        {"PCIe domain", hex(get(p, "domain"))},
        {"Unique ID", hex(get(p, "unique_id"))},
        {"VGPR size per CU", dec(gfx.vgpr) + " B"},
        {"SGPR size per CU", dec(gfx.sgpr) + " B"},
        {"XCCs", dec(gpu ? (xcc != 0 ? xcc : 1) : 0)},
        {"KFD GPU ID", hex(gpuId)},
        {"Family ID", "0x0"},
        {"System clock frequency", "1000000000 Hz"},
    };
}

// Each line of `expected` against the section's line of that label.
void expectLines(const Section& section, const std::map<std::string, std::string>& expected) {
    for (const auto& [label, value] : expected) {
        const auto printed = section.lines.find(label);
        if (printed == section.lines.end()) {
            ADD_FAILURE() << section.title << ": no line \"" << label << "\"";
        } else {
            EXPECT_EQ(printed->second, value) << section.title << ": " << label;
        }
    }
}

std::size_t entriesIn(const fs::path& directory) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(directory), fs::directory_iterator()));
}

class CaptureReplay : public ::testing::TestWithParam<const char*> {};

TEST_P(CaptureReplay, EveryNodeShowsWhatItsFilesSay) {
    const std::string name = GetParam();
    const fs::path topology = fs::path(std::string(testDataDir)) / "captures" / name / "topology";
    const ProcessResult result = runKfdtopoOnSim("captures/" + name);
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.err, "");

    const std::vector<Section> report = parseReport(result.out);
    const std::size_t nodeCount = entriesIn(topology / "nodes");
    ASSERT_EQ(report.size(), 1 + nodeCount);
    const RawFile system = readRaw(topology / "system_properties").value_or(RawFile{});
    ASSERT_EQ(report[0].title, "System");
    expectLines(report[0], {{"HSAKMT Version", "1.16"},
                            {"Number of nodes", dec(nodeCount)},
                            {"Platform OEM", hex(get(system, "platform_oem") & 0xFFFFFFFF)},
                            {"Platform ID", hex(get(system, "platform_id") & 0xFFFFFFFF)},
                            {"Platform revision", dec(get(system, "platform_rev"))}});

    for (std::size_t node = 0; node < nodeCount; ++node) {
        SCOPED_TRACE(name + " node " + dec(node));
        const fs::path directory = topology / "nodes" / dec(node);
        const std::optional<RawFile> properties = readRaw(directory / "properties");
        ASSERT_TRUE(properties.has_value());
        const Section& section = report[1 + node];
        ASSERT_EQ(section.title, "Node " + dec(node));

        // Links of io_links/ then p2p_links/, room for one to each other node; a link file
        // the copy lacks is all zeros.
        std::vector<RawFile> links;
        for (const char* kind : {"io_links", "p2p_links"}) {
            const std::uint64_t count = get(*properties, std::string(kind) + "_count");
            for (std::uint64_t i = 0; i < count && links.size() < nodeCount - 1; ++i) {
                links.push_back(
                    readRaw(directory / kind / dec(i) / "properties").value_or(RawFile{}));
            }
        }
        std::ifstream gpuIdFile(directory / "gpu_id");
        std::uint64_t gpuId = 0;
        gpuIdFile >> gpuId;
        expectLines(section, expectedNodeLines(*properties, gpuId, links.size()));

        const std::vector<const Section*> banks = childrenTitled(section, "Memory ");
        ASSERT_EQ(banks.size(), get(*properties, "mem_banks_count"));
        for (std::size_t b = 0; b < banks.size(); ++b) {
            const RawFile bank =
                readRaw(directory / "mem_banks" / dec(b) / "properties").value_or(RawFile{});
            EXPECT_EQ(banks[b]->title, "Memory " + dec(b));
            expectLines(*banks[b],
                        {{"Type", heapTypeName(get(bank, "heap_type"))},
                         {"Size", dec(get(bank, "size_in_bytes")) + " B"},
                         {"Width", dec(get(bank, "width")) + " bits"},
                         {"Maximum clock frequency", dec(get(bank, "mem_clk_max")) + " MHz"}});
        }

        const std::vector<const Section*> printedLinks = childrenTitled(section, "IO Link ");
        ASSERT_EQ(printedLinks.size(), links.size());
        for (std::size_t l = 0; l < links.size(); ++l) {
            const RawFile& link = links[l];
            EXPECT_EQ(printedLinks[l]->title, "IO Link " + dec(l));
            // Every node of a capture is kept, so NodeIds are the sysfs numbers.
            expectLines(
                *printedLinks[l],
                {{"Type", linkTypeName(get(link, "type"))},
                 {"Links", dec(get(link, "node_from")) + " -> " + dec(get(link, "node_to"))},
                 {"Weight", dec(get(link, "weight"))},
                 {"Minimum bandwidth", dec(get(link, "min_bandwidth")) + " MiB/s"},
                 {"Maximum bandwidth", dec(get(link, "max_bandwidth")) + " MiB/s"}});
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Bundled, CaptureReplay, ::testing::ValuesIn(captureNames),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                             std::string name = param.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST(CaptureReplayBundle, EveryCaptureDirectoryIsTested) {
    std::set<std::string> directories;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(fs::path(std::string(testDataDir)) / "captures")) {
        if (entry.is_directory()) {
            directories.insert(entry.path().filename().string());
        }
    }
    EXPECT_EQ(directories, std::set<std::string>(std::begin(captureNames), std::end(captureNames)));
}

TEST(CaptureReplayBundle, LargestCaptureReportsWellUnderASecond) {
    if (sanitized) {
        GTEST_SKIP() << "timed in plain builds only";
    }
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult result = runKfdtopoOnSim("captures/mi300x-cpx");
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_LT(elapsed, std::chrono::seconds(1));
}

}  // namespace
