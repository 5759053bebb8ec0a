// The kfdsim C calls as kfdtopo never makes them: a script of calls and what each returns.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <hsakmt/hsakmt.h>

namespace {

// Fills a record with a byte pattern the library never writes.
template <typename Record>
Record sentinel() {
    Record record;
    std::memset(&record, 0xa5, sizeof record);
    return record;
}

template <typename Record>
long long same(const Record& a, const Record& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

struct Step {
    const char* what;
    long long expected;  // a status, or 1 for a check that holds
    std::function<long long()> call;
};

TEST(KfdsimApi, CallsAnswerByStateFaultsAndOutputPointers) {
    const std::string path = std::filesystem::temp_directory_path() /
                             ("kfdsim-api-test-" + std::to_string(getpid()) + ".json");
    const auto use = [&path](const char* json) {
        std::ofstream(path, std::ios::binary) << json;
        setenv("KFDSIM_TOPOLOGY", path.c_str(), 1);
        return 0;
    };
    const char* machine = R"({"nodes": [
        {"mem_banks": [{"Width": 1}, {"Width": 2}], "io_links": [{"Weight": 3}]},
        {"counters": {"blocks": [{"NumConcurrent": 4}]}}, {}], "faults": [
        {"call": "hsaKmtGetClockCounters", "node": 2, "status": 9},
        {"call": "hsaKmtGetClockCounters", "node": 2, "status": 11},
        {"call": "hsaKmtGetVersion", "node": 0, "status": 13},
        {"call": "hsaKmtAcquireSystemProperties", "node": 0, "status": 13},
        {"call": "hsaKmtReleaseSystemProperties", "node": 0, "status": 13},
        {"call": "hsaKmtCloseKFD", "node": 0, "status": 13}]})";
    const char* failing = R"({"nodes": [{}], "faults": [
        {"call": "hsaKmtAcquireSystemProperties", "status": 12},
        {"call": "hsaKmtCloseKFD", "status": 21},
        {"call": "hsaKmtGetClockCounters", "node": 1, "status": 8},
        {"call": "hsaKmtGetClockCounters", "status": 7}]})";
    HsaVersionInfo version{};
    HsaSystemProperties system{};
    HsaNodeProperties node{};
    const auto untouchedClock = sentinel<HsaClockCounters>();
    HsaClockCounters clock = untouchedClock;
    const auto untouchedBank = sentinel<HsaMemoryProperties>();
    std::vector<HsaMemoryProperties> banks(3, untouchedBank);
    HsaIoLinkProperties link{};
    HsaCounterProperties elsewhere{};
    HsaCounterProperties* counters = &elsewhere;
    HsaCounterProperties* first = nullptr;
    const auto nodeQueries = [&](HSAuint32 id) {  // the status shared by all five, else -1
        const HSAKMT_STATUS s = hsaKmtGetNodeProperties(id, &node);
        const bool all = hsaKmtGetClockCounters(id, &clock) == s &&
                         hsaKmtGetNodeMemoryProperties(id, 1, banks.data()) == s &&
                         hsaKmtGetNodeIoLinkProperties(id, 1, &link) == s &&
                         hsaKmtPmcGetCounterProperties(id, &counters) == s;
        return all ? static_cast<long long>(s) : -1;
    };
    const Step steps[] = {
        {"use the machine", 0, [&] { return use(machine); }},
        {"close before open", 20, [] { return hsaKmtCloseKFD(); }},
        {"version before open", 20, [&] { return hsaKmtGetVersion(&version); }},
        {"acquire before open", 20, [&] { return hsaKmtAcquireSystemProperties(&system); }},
        {"release before open", 20, [] { return hsaKmtReleaseSystemProperties(); }},
        {"node queries before open", 20, [&] { return nodeQueries(0); }},
        {"open", 0, [] { return hsaKmtOpenKFD(); }},
        {"second open", 22, [] { return hsaKmtOpenKFD(); }},
        {"node queries before acquire", 5, [&] { return nodeQueries(0); }},
        {"version ignores a fault naming a node", 0, [&] { return hsaKmtGetVersion(&version); }},
        {"acquire", 0, [&] { return hsaKmtAcquireSystemProperties(&system); }},
        {"NULL version", 3, [] { return hsaKmtGetVersion(nullptr); }},
        {"NULL system", 3, [] { return hsaKmtAcquireSystemProperties(nullptr); }},
        {"NULL node", 3, [] { return hsaKmtGetNodeProperties(0, nullptr); }},
        {"NULL banks", 3, [] { return hsaKmtGetNodeMemoryProperties(0, 1, nullptr); }},
        {"NULL links", 3, [] { return hsaKmtGetNodeIoLinkProperties(0, 1, nullptr); }},
        {"NULL counters", 3, [] { return hsaKmtPmcGetCounterProperties(1, nullptr); }},
        {"no banks asked", 0, [] { return hsaKmtGetNodeMemoryProperties(0, 0, nullptr); }},
        {"no links asked", 0, [] { return hsaKmtGetNodeIoLinkProperties(0, 0, nullptr); }},
        {"3 of 2 banks", 0, [&] { return hsaKmtGetNodeMemoryProperties(0, 3, banks.data()); }},
        {"bank 1 filled", 2, [&] { return banks[1].Width; }},
        {"bank 2 untouched", 1, [&] { return same(banks[2], untouchedBank); }},
        {"1 of 2 banks", 0, [&] { return hsaKmtGetNodeMemoryProperties(0, 1, banks.data()); }},
        {"bank 1 kept", 1, [&] { return banks[1].Width == 2; }},
        {"no counters", 0, [&] { return hsaKmtPmcGetCounterProperties(0, &counters); }},
        {"pointer left as given", 1, [&] { return counters == &elsewhere; }},
        {"counters", 0, [&] { return hsaKmtPmcGetCounterProperties(1, &first); }},
        {"clock of node 2: first match", 9, [&] { return hsaKmtGetClockCounters(2, &clock); }},
        {"a fault fills nothing", 1, [&] { return same(clock, untouchedClock); }},
        {"clock of node 1: no entry", 0, [&] { return hsaKmtGetClockCounters(1, &clock); }},
        {"the fault before the pointer", 9, [] { return hsaKmtGetClockCounters(2, nullptr); }},
        {"release", 0, [] { return hsaKmtReleaseSystemProperties(); }},
        {"node queries after release", 5, [&] { return nodeQueries(1); }},
        {"acquire again", 0, [&] { return hsaKmtAcquireSystemProperties(&system); }},
        {"counters again", 0, [&] { return hsaKmtPmcGetCounterProperties(1, &counters); }},
        {"the same record", 1, [&] { return counters == first && first->NumBlocks == 1; }},
        {"close", 0, [] { return hsaKmtCloseKFD(); }},
        {"version after close", 20, [&] { return hsaKmtGetVersion(&version); }},
        {"a failed open", 0,
         [&] { return use(R"({"faults": [{"call": "hsaKmtOpenKFD", "status": -3}]})"); }},
        {"open fails", -3, [] { return static_cast<std::int32_t>(hsaKmtOpenKFD()); }},
        {"and stays closed", 20, [&] { return hsaKmtGetVersion(&version); }},
        {"a refused fixture", 0, [&] { return use("{"); }},
        {"open refused", 1, [] { return hsaKmtOpenKFD(); }},
        {"and stays closed", 20, [&] { return hsaKmtGetVersion(&version); }},
        {"failed acquire and close", 0, [&] { return use(failing); }},
        {"open", 0, [] { return hsaKmtOpenKFD(); }},
        {"acquire fails", 12, [&] { return hsaKmtAcquireSystemProperties(&system); }},
        {"and holds nothing", 5, [&] { return hsaKmtGetNodeProperties(0, &node); }},
        {"clock of node 0: an entry without node", 7,
         [&] { return hsaKmtGetClockCounters(0, &clock); }},
        {"close fails", 21, [] { return hsaKmtCloseKFD(); }},
        {"but closes", 0, [] { return hsaKmtOpenKFD(); }},
        {"close", 21, [] { return hsaKmtCloseKFD(); }},
    };
    testing::internal::CaptureStderr();
    for (const Step& step : steps) {
        EXPECT_EQ(step.call(), step.expected) << step.what;
    }
    testing::internal::GetCapturedStderr();
    unsetenv("KFDSIM_TOPOLOGY");
    std::filesystem::remove(path);
}

// What an open by a user other than root writes on stderr, and its status (root reads what
// permissions deny, so a child drops to nobody first).
std::pair<std::string, int> openAsUser(const std::string& topology) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        return {"pipe failed", -1};
    }
    const pid_t child = fork();
    if (child == 0) {
        constexpr uid_t nobody = 65534;
        dup2(pipeEnds[1], STDERR_FILENO);
        close(pipeEnds[0]);
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 ||
             setresuid(nobody, nobody, nobody) != 0)) {
            _exit(100);
        }
        setenv("KFDSIM_TOPOLOGY", topology.c_str(), 1);
        _exit(hsaKmtOpenKFD());
    }
    close(pipeEnds[1]);
    std::string err;
    char buffer[256];
    for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
        err.append(buffer, static_cast<std::size_t>(got));
    }
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return {err, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// A small tree with one part its reader may not read: the open fails with the system's error
// for that part.
TEST(KfdsimApi, TreeItsUserCannotReadIsRefused) {
    const struct {
        const char* unreadable;
        const char* message;
    } parts[] = {
        {"nodes", "/nodes: cannot read: Permission denied"},
        {"generation_id", "/generation_id: cannot read: Permission denied"},
        {"nodes/0/properties", "/nodes/0/properties: cannot read: Permission denied"},
    };
    for (const auto& part : parts) {
        char pattern[] = "/tmp/kfdsim-unreadable-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        const std::string tree = pattern;
        std::filesystem::create_directories(tree + "/nodes/0");
        std::ofstream(tree + "/generation_id") << "1\n";
        std::ofstream(tree + "/nodes/0/properties") << "cpu_cores_count 4\n";
        for (const char* readable : {"", "/nodes", "/nodes/0"}) {
            chmod((tree + readable).c_str(), 0755);
        }
        for (const char* readable : {"/generation_id", "/nodes/0/properties"}) {
            chmod((tree + readable).c_str(), 0644);
        }
        chmod((tree + "/" + part.unreadable).c_str(), 0);
        const auto [err, status] = openAsUser(tree);
        EXPECT_EQ(status, 1) << part.unreadable;
        EXPECT_EQ(err, "kfdsim: " + tree + part.message + "\n") << part.unreadable;
        chmod((tree + "/" + part.unreadable).c_str(), 0700);
        std::filesystem::remove_all(tree);
    }
}

}  // namespace
