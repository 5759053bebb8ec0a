// Fixture fuzzer: arbitrary bytes as a kfdsim fixture, a sysfs properties file or a small captured
// tree with its overlay; each accepted topology runs the whole report, and a fixture the usual
// reader takes must read the same through the strict loader.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <hsakmt/hsakmt.h>

#include "app/report_run.h"
#include "fixture/json_fixture.h"
#include "fixture/json_writer.h"
#include "fixture/topology.h"
#include "fixture/usual_fixture.h"
#include "sim/api/hsakmt_api.h"
#include "sim/sysfs/sysfs_properties.h"
#include "sim/sysfs/sysfs_replay.h"
#include "tests/support/stdout_capture.h"
#include "tests/support/strict_only.h"

namespace {
// Bank and link counts above this make reports of millions of sections: slow, and no more
// telling than small ones.
constexpr HSAuint32 largestCount = 4096;
constexpr HSAuint32 int32Max = 0x7FFFFFFF;

bool isOneLine(std::string_view message) {
    for (char c : message) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) {
            return false;
        }
    }
    return true;
}

// Whether the report of `topology` stays small enough to run at fuzzing speed. Counts of 2^31
// and more are negative to the report, which refuses them at once.
bool smallEnough(const Topology& topology) {
    for (const TopologyNode& node : topology.nodes) {
        for (HSAuint32 count : {node.properties.NumMemoryBanks, node.properties.NumIOLinks}) {
            if (count > largestCount && count <= int32Max) {
                return false;
            }
        }
    }
    return true;
}

// A two-node tree in a scratch directory from the parts of `text` separated by "\n~\n": the
// properties of node 0 and node 1, of node 0's first bank and first link, and kfdsim.json.
Topology loadTree(std::string_view text) {
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/kfdsim-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::abort();
    }
    struct Scratch {
        std::string path;
        ~Scratch() { fs::remove_all(path); }
    } scratch{pattern};
    for (const char* directory : {"/nodes/0/mem_banks/0", "/nodes/0/io_links/0", "/nodes/1"}) {
        fs::create_directories(scratch.path + directory);
    }
    std::ofstream(scratch.path + "/generation_id") << "1\n";
    for (const char* file :
         {"/nodes/0/properties", "/nodes/1/properties", "/nodes/0/mem_banks/0/properties",
          "/nodes/0/io_links/0/properties", "/kfdsim.json"}) {
        const std::size_t end = std::min(text.find("\n~\n"), text.size());
        std::ofstream(scratch.path + file, std::ios::binary) << text.substr(0, end);
        text.remove_prefix(std::min(end + 3, text.size()));
    }
    return loadSysfsTopology(scratch.path);
}

// A fixture that the usual reader takes must read the same through the strict loader.
void checkUsualReader(std::string_view text) {
    const std::optional<Topology> usual = readUsualFixture(text);
    const std::optional<std::string> escaped = strictOnly(std::string(text));
    if (!usual || !escaped) {
        return;
    }
    try {
        if (writeJsonFixture(*usual) != writeJsonFixture(parseJsonFixture(*escaped, "input"))) {
            std::abort();
        }
    } catch (const FixtureError&) {
        std::abort();
    }
}

// The input's first byte chooses what it is: 'P' a properties file, 'T' a tree, else a fixture.
std::optional<Topology> load(std::string_view text) {
    if (!text.empty() && text.front() == 'P') {
        parseSysfsProperties(text.substr(1), "input");
        parseSysfsNumber(text.substr(1), "input");
        return std::nullopt;
    }
    if (!text.empty() && text.front() == 'T') {
        return loadTree(text.substr(1));
    }
    checkUsualReader(text);
    return parseJsonFixture(text, "input");
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::optional<Topology> topology;
    try {
        const std::string_view text(reinterpret_cast<const char*>(data), size);
        topology = load(text);
    } catch (const FixtureError& refusal) {
        // kfdsim writes a refusal as one line of standard error.
        if (!isOneLine(refusal.what())) {
            std::abort();
        }
        return 0;
    }
    if (!topology || !smallEnough(*topology)) {
        return 0;
    }
    serveAtNextOpen(std::move(*topology));
    {
        const StdoutCapture capture;
        try {
            runReport();
        } catch (const std::exception&) {
            // kfdtopo prints a run-level failure and exits non-zero
        }
    }
    // After a run-level failure KFD may still be open; each input starts closed.
    static_cast<void>(hsaKmtCloseKFD());
    return 0;
}
