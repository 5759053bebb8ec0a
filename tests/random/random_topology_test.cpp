// Random topology tests: kfdtopo over seeded random fixtures completes and keeps its structure.
#include "tests/random/random_topology.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <set>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>
#include <hsakmt/hsakmt.h>

#include "counters/counter_block_names.h"
#include "sim/fixture/json_fixture.h"
#include "sim/topology.h"
#include "tests/random/report_structure.h"
#include "tests/support/paths.h"
#include "tests/support/process.h"

namespace {
constexpr std::uint64_t seedCount = 300;
constexpr std::string_view randomTestsBinary = KFDTOPO_RANDOM_TESTS;

// KFDTOPO_RANDOM_SEED, when set: the one seed to run.
const char* chosenSeed() { return std::getenv("KFDTOPO_RANDOM_SEED"); }

// Seeds 1 to seedCount, or only the chosen one.
std::vector<std::uint64_t> seeds() {
    if (const char* seed = chosenSeed()) {
        return {std::stoull(seed)};
    }
    std::vector<std::uint64_t> all;
    for (std::uint64_t seed = 1; seed <= seedCount; ++seed) {
        all.push_back(seed);
    }
    return all;
}

// A seed's fixture in a temporary file, removed with the object unless kept.
class FixtureFile {
  public:
    FixtureFile(std::uint64_t seed, const std::string& text) {
        std::string pattern = "/tmp/kfdtopo-random-" + std::to_string(seed) + "-XXXXXX.json";
        const int fd = mkstemps(pattern.data(), 5);
        if (fd < 0) {
            throw std::runtime_error("mkstemps failed");
        }
        const bool written =
            write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        close(fd);
        path = pattern;
        if (!written) {
            throw std::runtime_error("cannot write " + path);
        }
    }
    ~FixtureFile() {
        if (!kept) {
            unlink(path.c_str());
        }
    }
    FixtureFile(const FixtureFile&) = delete;
    FixtureFile& operator=(const FixtureFile&) = delete;

    void keep() { kept = true; }

    std::string path;

  private:
    bool kept = false;
};

class RandomTopology : public ::testing::TestWithParam<std::uint64_t> {};

TEST_P(RandomTopology, ReportCompletesWithItsStructure) {
    const std::uint64_t seed = GetParam();
    FixtureFile fixture(seed, randomFixture(seed));
    const ProcessResult result = runKfdtopoOnSim(fixture.path);
    const std::string problem = reportStructureProblem(result.out);
    const bool failed = result.exitStatus != 0 || !result.err.empty() || !problem.empty();
    if (failed || chosenSeed() != nullptr) {
        fixture.keep();
    }
    if (chosenSeed() != nullptr) {
        std::cerr << "seed " << seed << ": fixture kept as " << fixture.path << "\n";
    }
    const std::string reproduce =
        "seed " + std::to_string(seed) + ", fixture kept as " + fixture.path +
        "\n  this seed alone: KFDTOPO_RANDOM_SEED=" + std::to_string(seed) + " " +
        std::string(randomTestsBinary) + "\n  the report: KFDSIM_TOPOLOGY=" + fixture.path +
        " LD_LIBRARY_PATH=" + std::string(kfdsimDir) + " " + std::string(kfdtopoBinary);
    EXPECT_EQ(result.exitStatus, 0) << reproduce;
    EXPECT_EQ(result.err, "") << reproduce;
    EXPECT_EQ(problem, "") << reproduce;
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomTopology, ::testing::ValuesIn(seeds()),
                         [](const ::testing::TestParamInfo<std::uint64_t>& seed) {
                             return "Seed" + std::to_string(seed.param);
                         });

TEST(RandomFixture, SeedAloneDecidesTheFixture) {
    EXPECT_EQ(randomFixture(42), randomFixture(42));
    EXPECT_NE(randomFixture(42), randomFixture(43));
}

// What the seeds of the suite put in front of the report, gathered from the loaded fixtures.
struct Coverage {
    std::set<std::size_t> nodeCounts;
    std::set<std::uint32_t> doorbellTypes;
    std::set<std::uint32_t> heapTypes;
    std::set<std::uint32_t> linkTypes;
    std::set<std::uint32_t> counterTypes;
    std::set<std::vector<std::uint8_t>> blockIds;
    bool countAboveRecords = false;
    bool duplicateId = false;
    bool descendingId = false;
    bool largestIdThenZero = false;
    bool surrogatePair = false;
    bool fullMarketingName = false;
    bool highAmdNameByte = false;
};

void gather(const Topology& topology, Coverage& coverage) {
    coverage.nodeCounts.insert(topology.nodes.size());
    for (const TopologyNode& node : topology.nodes) {
        const HsaNodeProperties& p = node.properties;
        coverage.doorbellTypes.insert((p.Capability.Value >> 12) & 3);
        coverage.countAboveRecords = coverage.countAboveRecords ||
                                     p.NumMemoryBanks > node.memBanks.size() ||
                                     p.NumIOLinks > node.ioLinks.size();
        for (const HsaMemoryProperties& bank : node.memBanks) {
            coverage.heapTypes.insert(bank.HeapType);
        }
        for (const HsaIoLinkProperties& link : node.ioLinks) {
            coverage.linkTypes.insert(link.IoLinkType);
        }
        for (HSAuint16 unit : p.MarketingName) {
            coverage.surrogatePair = coverage.surrogatePair || (unit >= 0xD800 && unit <= 0xDBFF);
        }
        coverage.fullMarketingName = coverage.fullMarketingName || p.MarketingName[63] != 0;
        for (HSAuint8 byte : p.AMDName) {
            coverage.highAmdNameByte = coverage.highAmdNameByte || byte >= 0x80;
        }
        if (!node.counters) {
            continue;
        }
        for (const CounterBlock& block : node.counters->blocks) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(&block.blockId);
            coverage.blockIds.emplace(bytes, bytes + sizeof block.blockId);
            for (std::size_t i = 0; i < block.counters.size(); ++i) {
                coverage.counterTypes.insert(block.counters[i].Type);
                if (i == 0) {
                    continue;
                }
                const HSAuint64 previous = block.counters[i - 1].CounterId;
                const HSAuint64 id = block.counters[i].CounterId;
                coverage.duplicateId = coverage.duplicateId || id == previous;
                coverage.descendingId = coverage.descendingId || id + 1 < previous;
                coverage.largestIdThenZero =
                    coverage.largestIdThenZero || (previous == ~HSAuint64{0} && id == 0);
            }
        }
    }
}

std::set<std::uint32_t> range(std::uint32_t first, std::uint32_t last) {
    std::set<std::uint32_t> values;
    for (std::uint32_t value = first; value <= last; ++value) {
        values.insert(value);
    }
    return values;
}

bool holds(const std::set<std::uint32_t>& values, const std::set<std::uint32_t>& wanted) {
    for (std::uint32_t value : wanted) {
        if (values.count(value) == 0) {
            return false;
        }
    }
    return true;
}

TEST(RandomFixture, SuiteSeedsAreValidAndReachEveryTableKeyAndIdPattern) {
    Coverage coverage;
    for (std::uint64_t seed = 1; seed <= seedCount; ++seed) {
        try {
            gather(parseJsonFixture(randomFixture(seed), "seed " + std::to_string(seed)), coverage);
        } catch (const FixtureError& refusal) {
            ADD_FAILURE() << refusal.what();
        }
    }
    EXPECT_EQ(coverage.nodeCounts.size(), 10U);
    EXPECT_EQ(coverage.doorbellTypes, range(0, 3));
    EXPECT_TRUE(holds(coverage.heapTypes, range(0, 8)));
    EXPECT_EQ(coverage.heapTypes.count(0xFFFFFFFF), 1U);
    EXPECT_TRUE(holds(coverage.linkTypes, range(0, 17)));
    EXPECT_EQ(coverage.linkTypes.count(0xFFFFFFFF), 1U);
    EXPECT_TRUE(holds(coverage.counterTypes, range(0, 4)));
    EXPECT_EQ(coverage.counterTypes.count(0xFFFFFFFF), 1U);
    std::set<std::string> blockNames;
    for (const std::vector<std::uint8_t>& id : coverage.blockIds) {
        UuidBytes bytes{};
        std::copy(id.begin(), id.end(), bytes.begin());
        const std::string name = counterBlockName(bytes);
        blockNames.insert(name.substr(0, 8) == "unknown " ? "unknown" : name);
    }
    EXPECT_EQ(blockNames.size(), 23U + 1);  // every known block and unknown ones
    EXPECT_TRUE(coverage.countAboveRecords);
    EXPECT_TRUE(coverage.duplicateId);
    EXPECT_TRUE(coverage.descendingId);
    EXPECT_TRUE(coverage.largestIdThenZero);
    EXPECT_TRUE(coverage.surrogatePair);
    EXPECT_TRUE(coverage.fullMarketingName);
    EXPECT_TRUE(coverage.highAmdNameByte);
}
}  // namespace
