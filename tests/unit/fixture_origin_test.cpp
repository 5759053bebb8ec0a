// Where a capture comes from: the NUMA nodes read from a node folder, and the origin that kfdsim
// hands on from the fixture it serves.
#include "export/fixture_origin.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <hsakmt/hsakmt.h>

namespace {

namespace fs = std::filesystem;

using Listed = std::vector<std::pair<std::uint32_t, std::string>>;

Listed listed(const std::vector<NumaCpus>& nodes) {
    Listed result;
    for (const NumaCpus& node : nodes) {
        result.emplace_back(node.node, node.cpuList);
    }
    return result;
}

// Nodes numbered past 9 sort by number; a node without CPUs (memory only), names that are not
// "node<N>" and a node folder without its list are left out.
TEST(FixtureOrigin, NumaNodesAreReadWithTheirCpusByNumber) {
    const fs::path root = fs::temp_directory_path() / ("kfdtopo-numa-" + std::to_string(getpid()));
    const std::vector<std::pair<std::string, std::string>> files{
        {"node10/cpulist", "12\n"}, {"node0/cpulist", "0-3,8-11\n"}, {"node1/cpulist", "4-7\n"},
        {"node2/cpulist", "\n"},    {"nodeX/cpulist", "5\n"},        {"node3/distance", "10\n"},
        {"possible", "0-3\n"}};
    for (const auto& [name, text] : files) {
        fs::create_directories((root / name).parent_path());
        std::ofstream(root / name) << text;
    }
    const std::vector<NumaCpus> found = readNumaCpus(root.string());
    fs::remove_all(root);
    EXPECT_EQ(listed(found), (Listed{{0, "0-3,8-11"}, {1, "4-7"}, {10, "12"}}));
    EXPECT_EQ(listed(readNumaCpus((root / "missing").string())), Listed{});
}

// Under kfdsim the origin is the served fixture's, NUMA nodes included; none for a fixture
// without one.
TEST(FixtureOrigin, KfdsimHandsOnTheServedFixturesOrigin) {
    const fs::path fixture =
        fs::temp_directory_path() / ("kfdtopo-origin-" + std::to_string(getpid()) + ".json");
    auto served = [&fixture](const std::string& text) {
        std::ofstream(fixture) << text;
        setenv("KFDSIM_TOPOLOGY", fixture.c_str(), 1);
        std::optional<FixtureOrigin> origin;
        if (hsaKmtOpenKFD() == HSAKMT_STATUS_SUCCESS) {
            origin = machineOrigin();
            hsaKmtCloseKFD();
        }
        unsetenv("KFDSIM_TOPOLOGY");
        fs::remove(fixture);
        return origin;
    };
    const std::optional<FixtureOrigin> origin =
        served(R"({"format": 1, "origin": {"host": "gpu07", "driver": "6.10.5",)"
               R"( "time": "2026-12-08T07:00:00Z", "numa": [{"node": 0, "cpus": "0-47,96-143"},)"
               R"( {"node": 3, "cpus": "48-95"}]}, "nodes": [{}]})");
    ASSERT_TRUE(origin.has_value());
    EXPECT_EQ(origin->host, "gpu07");
    EXPECT_EQ(origin->driver, "6.10.5");
    EXPECT_EQ(origin->kernel, "");
    EXPECT_EQ(origin->time, "2026-12-08T07:00:00Z");
    EXPECT_EQ(listed(origin->numa), (Listed{{0, "0-47,96-143"}, {3, "48-95"}}));
    EXPECT_FALSE(served(R"({"nodes": [{}]})").has_value());
}

}  // namespace
