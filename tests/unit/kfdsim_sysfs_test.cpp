// Unit tests of kfdsim's sysfs replay: the key-value reader, the records of a tree, refused trees.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <hsakmt/hsakmt.h>

#include "sim/fixture/json_fixture.h"
#include "sim/sysfs/sysfs_properties.h"
#include "sim/sysfs/sysfs_replay.h"
#include "sim/topology.h"
#include "tests/support/expect_failure.h"
#include "tests/support/sim_fixture.h"

namespace fs = std::filesystem;

namespace {

// Packed 64-bit members are copied out: EXPECT_EQ would bind references to them.
template <typename T>
T copied(T value) {
    return value;
}

using Pairs = std::vector<std::pair<std::string, std::uint64_t>>;

Pairs pairs(std::string_view text) {
    Pairs result;
    for (const SysfsProperty& p : parseSysfsProperties(text, "f")) {
        result.emplace_back(p.key, p.value);
    }
    return result;
}

std::string amdName(const HsaNodeProperties& p) {
    return std::string(reinterpret_cast<const char*>(p.AMDName),
                       strnlen(reinterpret_cast<const char*>(p.AMDName), sizeof p.AMDName));
}

struct Version {
    std::uint32_t major, minor, stepping;
    bool operator==(const Version& o) const {
        return major == o.major && minor == o.minor && stepping == o.stepping;
    }
};

Version gfxVersion(const HsaNodeProperties& p) {
    return {p.EngineId.ui32.Major, p.EngineId.ui32.Minor, p.EngineId.ui32.Stepping};
}

// A directory tree in the temporary directory, removed with the object.
class TempTree {
  public:
    TempTree() {
        static int serial = 0;
        root = fs::temp_directory_path() /
               ("kfdsim-sysfs-test-" + std::to_string(getpid()) + "-" + std::to_string(++serial));
        fs::remove_all(root);
        fs::create_directories(root);
    }
    ~TempTree() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    void write(const std::string& relative, const std::string& text) const {
        fs::create_directories((root / relative).parent_path());
        std::ofstream(root / relative, std::ios::binary) << text;
    }

    // A copy of a bundled capture, writable whatever the modes of the originals.
    void copyCapture(const std::string& name) const {
        fs::copy(testDataPath("captures/" + name), root, fs::copy_options::recursive);
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
            fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
        }
    }

    std::string path(const std::string& relative = "") const {
        return relative.empty() ? root.string() : (root / relative).string();
    }

    fs::path root;
};

// Minimal node files: a CPU with `cpu` extra lines, a GPU with `gpu` extra lines.
std::string cpuNode(const std::string& extra = "") {
    return "cpu_cores_count 8\nsimd_count 0\nmem_banks_count 0\n" + extra;
}
std::string gpuNode(const std::string& extra = "") {
    return "cpu_cores_count 0\nsimd_count 80\nmem_banks_count 0\n" + extra;
}

// A tree with generation_id and the given node properties files.
void writeTree(const TempTree& tree, const std::vector<std::string>& nodes) {
    tree.write("generation_id", "1\n");
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        tree.write("nodes/" + std::to_string(i) + "/properties", nodes[i]);
    }
}

std::string link(unsigned from, unsigned to, unsigned type, unsigned weight) {
    return "type " + std::to_string(type) + "\nnode_from " + std::to_string(from) + "\nnode_to " +
           std::to_string(to) + "\nweight " + std::to_string(weight) + "\n";
}

// Each link of `node` as "<from>-<to> type <t> weight <w>".
std::vector<std::string> linkTexts(const TopologyNode& node) {
    std::vector<std::string> texts;
    for (const HsaIoLinkProperties& l : node.ioLinks) {
        texts.push_back(std::to_string(l.NodeFrom) + "-" + std::to_string(l.NodeTo) + " type " +
                        std::to_string(l.IoLinkType) + " weight " + std::to_string(l.Weight));
    }
    return texts;
}

TEST(SysfsProperties, PairsAreReadLikeTheLibraryReadsThem) {
    std::string page;  // a page whose end cuts "cut 12345" after "cut 12"
    while (page.size() + 6 <= sysfsPageSize - 6) {
        page += "pad 0\n";
    }
    Pairs paged(page.size() / 6, {"pad", 0});
    page.append(sysfsPageSize - 6 - page.size(), '\n');
    page += "cut 12345\nafter 1\n";
    paged.emplace_back("cut", 12);

    struct Case {
        std::string text;
        Pairs read;
    };
    const Case cases[] = {
        {"a 1\nb\t2\r\n  c   3\n\n", {{"a", 1}, {"b", 2}, {"c", 3}}},  // any whitespace
        {"a 1 b 2", {{"a", 1}, {"b", 2}}},
        {"", {}},
        // Unsigned 64-bit, like strtoull.
        {"max 18446744073709551615\nover 99999999999999999999\nneg -1\nplus +7\nzero 007\n",
         {{"max", UINT64_MAX},
          {"over", UINT64_MAX},
          {"neg", UINT64_MAX},
          {"plus", 7},
          {"zero", 7}}},
        {"a 1\ntruncated", {{"a", 1}}},  // a key without value ends the scan
        {"a 1\ntruncated \n", {{"a", 1}}},
        {std::string("a 1\0b 2\n", 8), {{"a", 1}}},  // up to a NUL byte
        {page, paged},                               // the first page only
    };
    for (const Case& c : cases) {
        EXPECT_EQ(pairs(c.text), c.read) << c.text.substr(0, 40);
    }
}

TEST(SysfsProperties, AValueThatIsNotANumberIsRefusedWithItsLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"a 1\nsimd_count abc\nb 2\n", "f: line 2: \"simd_count abc\" is not a number"},
        {"x 12abc", "f: line 1: \"x 12abc\" is not a number"},
        {"x 0x10\r\n", "f: line 1: \"x 0x10 \" is not a number"},
        {"x -\n", "f: line 1: \"x -\" is not a number"},
    };
    for (const auto& [text, message] : cases) {
        expectFailure<FixtureError>([text = text] { pairs(text); }, message);
    }
}

TEST(SysfsProperties, NumberFilesHoldOneNumber) {
    EXPECT_EQ(parseSysfsNumber("13261\n", "gpu_id"), 13261u);
    EXPECT_EQ(parseSysfsNumber("  80 trailing", "gpu_id"), 80u);
    expectFailure<FixtureError>([] { parseSysfsNumber("\n", "gpu_id"); },
                                "gpu_id: holds no number");
    expectFailure<FixtureError>([] { parseSysfsNumber("abc\n", "gpu_id"); },
                                "gpu_id: line 1: \"abc\" is not a number");
}

TEST(SysfsReplay, ValuesAreCastToTheWidthOfTheirField) {
    const TempTree tree;
    writeTree(tree, {gpuNode("vendor_id 65538\ndevice_id 4294967295\nnum_gws 300\n"
                             "num_cp_queues 257\nnum_sdma_queues_per_engine 511\n"
                             "fw_version 2140\nsdma_fw_version 2150\nsimd_id_base 4294967297\n"
                             "drm_render_minor 4294967295\nhive_id 18446744073709551615\n"
                             "gfx_target_version 110000\nunknown_key 5\n")});
    const HsaNodeProperties p = loadSysfsTopology(tree.path()).nodes.at(0).properties;
    EXPECT_EQ(p.VendorId, 2u);
    EXPECT_EQ(p.DeviceId, 0xFFFFu);
    EXPECT_EQ(p.NumGws, 44u);
    EXPECT_EQ(p.NumCpQueues, 1u);
    EXPECT_EQ(p.NumSdmaQueuesPerEngine, 255u);
    EXPECT_EQ(p.EngineId.ui32.uCode, 92u);  // gfx11 firmware above 1023 wraps
    EXPECT_EQ(p.uCodeEngineVersions.Value, 102u);
    EXPECT_EQ(p.FComputeIdLo, 1u);
    EXPECT_EQ(p.DrmRenderMinor, -1);
    EXPECT_EQ(copied(p.HiveID), UINT64_MAX);
}

TEST(SysfsReplay, GfxVersionComesFromTheTableUpToGfx10ElseFromTheTarget) {
    struct Case {
        const char* lines;
        Version version;
        const char* name;
        std::uint32_t vgpr;
        std::uint32_t sgpr;
    };
    const Case cases[] = {
        {"device_id 29857\ngfx_target_version 90402\n", {9, 4, 2}, "GFX090402", 0x80000, 0x4000},
        {"device_id 29711\ngfx_target_version 90010\n", {9, 0, 10}, "Aldebaran", 0x80000, 0x4000},
        {"device_id 29631\n", {10, 3, 0}, "SIENNA_CICHLID", 0x40000, 0x4000},
        {"device_id 29631\ngfx_target_version 110001\n", {11, 0, 1}, "GFX0b0001", 0x60000, 0x4000},
        {"gfx_target_version 110501\n", {11, 5, 1}, "GFX0b0501", 0x40000, 0x4000},
        {"gfx_target_version 120001\n", {12, 0, 1}, "GFX0c0001", 0x60000, 0x4000},
        {"gfx_target_version 90008\n", {9, 0, 8}, "GFX090008", 0x80000, 0x4000},
        {"device_id 4660\n", {0, 0, 0}, "", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines);
        const TempTree tree;
        writeTree(tree, {gpuNode(std::string(c.lines) + "fw_version 5\n")});
        const HsaNodeProperties p = loadSysfsTopology(tree.path()).nodes.at(0).properties;
        EXPECT_EQ(gfxVersion(p), c.version);
        EXPECT_EQ(p.EngineId.ui32.uCode, 5u);
        EXPECT_EQ(amdName(p), c.name);
        EXPECT_EQ(p.VGPRSizePerCU, c.vgpr);
        EXPECT_EQ(p.SGPRSizePerCU, c.sgpr);
    }
}

TEST(SysfsReplay, GpuDerivedFieldsNeedSimds) {
    const TempTree tree;
    const std::string shared =
        "array_count 8\nsimd_arrays_per_engine 2\ngfx_target_version 90402\n";
    writeTree(tree, {cpuNode(shared), gpuNode(shared + "num_xcc 0\n"),
                     gpuNode("array_count 8\nnum_xcc 6\n")});
    const Topology t = loadSysfsTopology(tree.path());
    const HsaNodeProperties& cpu = t.nodes.at(0).properties;
    EXPECT_EQ(cpu.NumShaderBanks, 0u);
    EXPECT_EQ(cpu.NumXcc, 0u);
    EXPECT_EQ(gfxVersion(cpu), (Version{0, 0, 0}));
    EXPECT_EQ(amdName(cpu), "");
    EXPECT_EQ(cpu.SGPRSizePerCU, 0u);
    const HsaNodeProperties& gpu = t.nodes.at(1).properties;
    EXPECT_EQ(gpu.NumShaderBanks, 4u);
    EXPECT_EQ(gpu.NumArrays, 2u);
    EXPECT_EQ(gpu.NumXcc, 1u);
    EXPECT_EQ(gfxVersion(gpu), (Version{9, 4, 2}));
    const HsaNodeProperties& noArrays = t.nodes.at(2).properties;
    EXPECT_EQ(noArrays.NumShaderBanks, 0u);  // no division by a zero simd_arrays_per_engine
    EXPECT_EQ(noArrays.NumXcc, 6u);
}

TEST(SysfsReplay, P2pLinksFollowIoLinksWithinRoomForTheOtherNodesInTheTree) {
    struct Case {
        const char* name;
        std::size_t nodes;
        std::string counts;
        std::vector<std::pair<std::string, std::string>> files;  // under nodes/0/
        std::vector<std::string> links;
    };
    const Case cases[] = {
        {"io links fill the room",
         3,
         "io_links_count 2\np2p_links_count 2\n",
         {{"io_links/0", link(0, 1, 2, 20)},
          {"io_links/1", link(0, 2, 2, 21)},
          {"p2p_links/0", link(0, 1, 11, 41)},
          {"p2p_links/1", link(0, 2, 11, 52)}},
         {"0-1 type 2 weight 20", "0-2 type 2 weight 21"}},
        {"p2p links after io links",
         3,
         "io_links_count 1\np2p_links_count 2\n",
         {{"io_links/0", link(0, 1, 2, 20)},
          {"p2p_links/0", link(0, 2, 11, 41)},
          {"p2p_links/1", link(0, 1, 11, 52)}},
         {"0-1 type 2 weight 20", "0-2 type 11 weight 41"}},
        {"links to nodes outside the tree dropped",
         2,
         "io_links_count 2\n",
         {{"io_links/0", link(0, 5, 2, 20)}, {"io_links/1", link(0, 1, 2, 21)}},
         {"0-1 type 2 weight 21"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TempTree tree;
        std::vector<std::string> nodes(c.nodes, gpuNode());
        nodes[0] = cpuNode(c.counts);
        writeTree(tree, nodes);
        for (const auto& [file, text] : c.files) {
            tree.write("nodes/0/" + file + "/properties", text);
        }
        const TopologyNode node = loadSysfsTopology(tree.path()).nodes.at(0);
        EXPECT_EQ(linkTexts(node), c.links);
        EXPECT_EQ(node.properties.NumIOLinks, c.links.size());
    }
}

TEST(SysfsReplay, AnnouncedFilesMissingFromTheCopyAreZeroRecords) {
    const TempTree tree;
    writeTree(tree, {cpuNode("io_links_count 2\n"),
                     gpuNode("io_links_count 1\np2p_links_count 1\n") + "mem_banks_count 2\n",
                     gpuNode()});
    tree.write("nodes/0/io_links/1/properties", link(0, 1, 2, 20));
    tree.write("nodes/1/mem_banks/1/properties", "heap_type 1\nsize_in_bytes 1024\nwidth 64\n");
    tree.write("nodes/1/io_links/0/properties", link(1, 0, 2, 20));
    const Topology t = loadSysfsTopology(tree.path());
    const HsaIoLinkProperties zeroLink{};
    ASSERT_EQ(t.nodes.at(0).ioLinks.size(), 2u);
    EXPECT_EQ(std::memcmp(&t.nodes[0].ioLinks[0], &zeroLink, sizeof zeroLink), 0);
    EXPECT_EQ(t.nodes[0].ioLinks[1].NodeTo, 1u);
    ASSERT_EQ(t.nodes.at(1).ioLinks.size(), 2u);
    EXPECT_EQ(t.nodes[1].ioLinks[0].NodeTo, 0u);
    EXPECT_EQ(std::memcmp(&t.nodes[1].ioLinks[1], &zeroLink, sizeof zeroLink), 0);
    EXPECT_EQ(t.nodes[1].properties.NumIOLinks, 2u);
    ASSERT_EQ(t.nodes[1].memBanks.size(), 2u);
    const HsaMemoryProperties zeroBank{};
    EXPECT_EQ(std::memcmp(&t.nodes[1].memBanks[0], &zeroBank, sizeof zeroBank), 0);
    EXPECT_EQ(copied(t.nodes[1].memBanks[1].SizeInBytes), 1024u);
    EXPECT_EQ(t.nodes[1].memBanks[1].Width, 64u);
    EXPECT_EQ(t.nodes[1].properties.NumMemoryBanks, 2u);
}

TEST(SysfsReplay, MissingTopLevelFilesAndGpuIdLeaveZeros) {
    const TempTree tree;
    writeTree(tree, {gpuNode()});
    const Topology t = loadSysfsTopology(tree.path());
    EXPECT_EQ(t.system.PlatformOem, 0u);
    EXPECT_EQ(t.system.NumNodes, 1u);
    EXPECT_EQ(t.nodes.at(0).properties.KFDGpuID, 0u);
    EXPECT_EQ(t.nodes.at(0).properties.NumXcc, 1u);  // a GPU by its SIMDs
}

TEST(SysfsReplay, TheTopologyDirectoryOrItsParentMayBeNamed) {
    const TempTree tree;
    tree.copyCapture("vega10-mi25");
    for (const std::string& named :
         {tree.path(), tree.path() + "/", tree.path("topology"), tree.path("topology/")}) {
        SCOPED_TRACE(named);
        const Topology t = loadSysfsTopology(named);
        ASSERT_EQ(t.nodes.size(), 2u);
        EXPECT_EQ(t.nodes[1].properties.KFDGpuID, 13261u);
    }
}

TEST(SysfsReplay, OverlayReplacesWhatItGivesAndAddsCountersClockAndFaults) {
    // How an overlay merges is checked by JsonFixture's overlay test.
    const TempTree tree;
    tree.copyCapture("vega10-mi25");
    tree.write("kfdsim.json", R"({
        "nodes": [{}, {"properties": {"FamilyID": 141}, "clock": {"GPUClockCounter": 5},
                       "counters": {"blocks": [{}]}}],
        "faults": [{"call": "hsaKmtGetClockCounters", "node": 0, "status": 5}]})");
    const Topology t = loadSysfsTopology(tree.path());
    const HsaNodeProperties& gpu = t.nodes.at(1).properties;
    EXPECT_EQ(gpu.FamilyID, 141u);
    EXPECT_EQ(gpu.KFDGpuID, 13261u);
    EXPECT_EQ(copied(t.nodes[1].clock.GPUClockCounter), 5u);
    EXPECT_EQ(copied(t.nodes[1].clock.SystemClockFrequencyHz), 0u);  // the clock as written
    EXPECT_EQ(copied(t.nodes[0].clock.SystemClockFrequencyHz), 1000000000u);
    ASSERT_TRUE(t.nodes[1].counters.has_value());
    EXPECT_EQ(t.nodes[1].counters->blocks.size(), 1u);
    ASSERT_EQ(t.faults.size(), 1u);
    EXPECT_EQ(t.faults[0].call, KfdCall::GetClockCounters);
}

TEST(SysfsReplay, OverlayGenerationIdStandsInForAMissingFile) {
    const TempTree tree;
    tree.copyCapture("vega10-mi25");
    fs::remove(tree.root / "topology/generation_id");
    tree.write("kfdsim.json",
               R"({"generation_id": 7, "nodes": [{"properties": {"NumCaches": 3}}]})");
    const Topology t = loadSysfsTopology(tree.path());
    EXPECT_EQ(t.nodes.at(0).properties.NumCaches, 3u);
    EXPECT_EQ(t.nodes.at(1).properties.NumCaches, 96u);

    tree.write("kfdsim.json", R"({"generation_id": "7"})");
    expectFailure<FixtureError>(
        [&] { loadSysfsTopology(tree.path()); },
        tree.path("kfdsim.json") + ": generation_id: expected an integer, got string");
    // Only a capture's overlay knows the key.
    expectFailure<FixtureError>([] { parseJsonFixture(R"({"generation_id": 7})", "f.json"); },
                                "f.json: generation_id: unknown key");
}

class SysfsReplayOpen : public testing::Test {
  protected:
    void TearDown() override {
        hsaKmtCloseKFD();
        unsetenv("KFDSIM_TOPOLOGY");
    }

    // Opens KFD on `directory`: the status, and what went to standard error.
    static std::pair<HSAKMT_STATUS, std::string> openOn(const std::string& directory) {
        setenv("KFDSIM_TOPOLOGY", directory.c_str(), 1);
        testing::internal::CaptureStderr();
        const HSAKMT_STATUS status = hsaKmtOpenKFD();
        return {status, testing::internal::GetCapturedStderr()};
    }

    // The status and the one line of a refused open.
    static std::pair<HSAKMT_STATUS, std::string> refusal(const std::string& message) {
        return {HSAKMT_STATUS_ERROR, "kfdsim: " + message + "\n"};
    }

    static void expectClosed() {
        HsaVersionInfo version{};
        EXPECT_EQ(hsaKmtGetVersion(&version), HSAKMT_STATUS_KERNEL_IO_CHANNEL_NOT_OPENED);
    }
};

TEST_F(SysfsReplayOpen, BrokenFilesAreRefusedWithOneLineNamingTheFile) {
    struct Case {
        const char* file;  // relative to the copy's topology directory; empty: removed
        const char* text;
        const char* problem;
    };
    const Case cases[] = {
        {"nodes/1/properties", "cpu_cores_count 0\nsimd_count abc\n",
         "line 2: \"simd_count abc\" is not a number"},
        {"nodes/1/io_links/0/properties", "type 2\nnode_from 0\nnode_to 0\n",
         "node_from is 0, not the number of its node, 1"},
        {"generation_id", nullptr,
         "missing; a partial copy replays with \"generation_id\" given in kfdsim.json"},
        {"generation_id", "eighty\n", "line 1: \"eighty\" is not a number"},
        {"nodes/1/gpu_id", "\n", "holds no number"},
        {"nodes/0/mem_banks/0/properties", "heap_type 0\nsize_in_bytes 1.5\n",
         "line 2: \"size_in_bytes 1.5\" is not a number"},
        {"system_properties", "platform_oem -\n", "line 1: \"platform_oem -\" is not a number"},
        {"nodes/1/properties", nullptr, "cannot read: No such file or directory"},
        {"nodes/0/properties", "mem_banks_count 65537\n",
         "mem_banks_count 65537 is more than the 65536 banks kfdsim replays"},
    };
    // One copy, each file broken in turn and put back.
    const TempTree tree;
    tree.copyCapture("vega10-mi25");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + ": " + c.problem);
        const std::string file = tree.path("topology/" + std::string(c.file));
        const std::string saved = tree.path("saved");  // outside the tree
        fs::copy_file(file, saved);
        if (c.text == nullptr) {
            fs::remove(file);
        } else {
            tree.write("topology/" + std::string(c.file), c.text);
        }
        EXPECT_EQ(openOn(tree.path()), refusal(file + ": " + c.problem));
        expectClosed();
        fs::rename(saved, file);
    }
    // Put back, the copy opens again.
    setenv("KFDSIM_TOPOLOGY", tree.path().c_str(), 1);
    EXPECT_EQ(hsaKmtOpenKFD(), HSAKMT_STATUS_SUCCESS);
}

TEST_F(SysfsReplayOpen, ADirectoryWithoutNodesIsRefused) {
    const TempTree tree;
    EXPECT_EQ(openOn(tree.path()),
              refusal(tree.path() +
                      ": no nodes/ directory here or in topology/: not a captured KFD topology"));
    expectClosed();
}

TEST_F(SysfsReplayOpen, RefusedOverlayNamesItsFileAndPath) {
    const TempTree tree;
    tree.copyCapture("vega10-mi25");
    tree.write("kfdsim.json", R"({"nodes": [{"properties": {"NumCPUCore": 4}}]})");
    EXPECT_EQ(openOn(tree.path()),
              refusal(tree.path("kfdsim.json") + ": nodes[0].properties.NumCPUCore: unknown key"));
    expectClosed();
    tree.write("kfdsim.json", "{");
    const auto [status, written] = openOn(tree.path());
    EXPECT_EQ(status, HSAKMT_STATUS_ERROR);
    EXPECT_EQ(written.rfind("kfdsim: " + tree.path("kfdsim.json") + ": invalid JSON: ", 0), 0u);
    expectClosed();
}

}  // namespace
