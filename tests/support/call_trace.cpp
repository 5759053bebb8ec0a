// Call trace: a library for LD_PRELOAD that appends every libhsakmt call of a program to the file
// named by KFDTOPO_CALL_TRACE, one line each: "hsaKmtGetNodeMemoryProperties(1, 4, records) = 0".
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <string>

#include <hsakmt/hsakmt.h>

namespace {
// The function of that name in the libraries loaded after this one: kfdsim or libhsakmt.
template <typename Function>
Function* next(const char* name) {
    void* found = dlsym(RTLD_NEXT, name);
    if (found == nullptr) {
        std::fprintf(stderr, "call trace: no %s to pass the call on to\n", name);
        std::abort();
    }
    return reinterpret_cast<Function*>(found);
}

// Appends "<call> = <status>" to the trace file, when one is named.
HSAKMT_STATUS traced(const std::string& call, HSAKMT_STATUS status) {
    const char* path = std::getenv("KFDTOPO_CALL_TRACE");
    if (path == nullptr) {
        return status;
    }
    std::FILE* trace = std::fopen(path, "a");
    // A lost line would make two traces compare wrongly.
    if (trace == nullptr ||
        std::fprintf(trace, "%s = %d\n", call.c_str(), static_cast<int>(status)) < 0 ||
        std::fclose(trace) != 0) {
        std::fprintf(stderr, "call trace: cannot append to %s\n", path);
        std::abort();
    }
    return status;
}

std::string node(HSAuint32 nodeId) { return std::to_string(nodeId); }

// The record count argument and whether records were passed for it.
std::string records(HSAuint32 count, const void* array) {
    return std::to_string(count) + (array == nullptr ? ", null" : ", records");
}
}  // namespace

HSAKMT_STATUS HSAKMTAPI hsaKmtOpenKFD() {
    return traced("hsaKmtOpenKFD()", next<decltype(hsaKmtOpenKFD)>("hsaKmtOpenKFD")());
}

HSAKMT_STATUS HSAKMTAPI hsaKmtCloseKFD() {
    return traced("hsaKmtCloseKFD()", next<decltype(hsaKmtCloseKFD)>("hsaKmtCloseKFD")());
}

HSAKMT_STATUS HSAKMTAPI hsaKmtGetVersion(HsaVersionInfo* VersionInfo) {
    return traced("hsaKmtGetVersion()",
                  next<decltype(hsaKmtGetVersion)>("hsaKmtGetVersion")(VersionInfo));
}

HSAKMT_STATUS HSAKMTAPI hsaKmtAcquireSystemProperties(HsaSystemProperties* SystemProperties) {
    return traced("hsaKmtAcquireSystemProperties()",
                  next<decltype(hsaKmtAcquireSystemProperties)>("hsaKmtAcquireSystemProperties")(
                      SystemProperties));
}

HSAKMT_STATUS HSAKMTAPI hsaKmtReleaseSystemProperties() {
    return traced("hsaKmtReleaseSystemProperties()",
                  next<decltype(hsaKmtReleaseSystemProperties)>("hsaKmtReleaseSystemProperties")());
}

HSAKMT_STATUS HSAKMTAPI hsaKmtGetNodeProperties(HSAuint32 NodeId,
                                                HsaNodeProperties* NodeProperties) {
    return traced(
        "hsaKmtGetNodeProperties(" + node(NodeId) + ")",
        next<decltype(hsaKmtGetNodeProperties)>("hsaKmtGetNodeProperties")(NodeId, NodeProperties));
}

HSAKMT_STATUS HSAKMTAPI hsaKmtGetClockCounters(HSAuint32 NodeId, HsaClockCounters* Counters) {
    return traced(
        "hsaKmtGetClockCounters(" + node(NodeId) + ")",
        next<decltype(hsaKmtGetClockCounters)>("hsaKmtGetClockCounters")(NodeId, Counters));
}

HSAKMT_STATUS HSAKMTAPI hsaKmtGetNodeMemoryProperties(HSAuint32 NodeId, HSAuint32 NumBanks,
                                                      HsaMemoryProperties* MemoryProperties) {
    return traced("hsaKmtGetNodeMemoryProperties(" + node(NodeId) + ", " +
                      records(NumBanks, MemoryProperties) + ")",
                  next<decltype(hsaKmtGetNodeMemoryProperties)>("hsaKmtGetNodeMemoryProperties")(
                      NodeId, NumBanks, MemoryProperties));
}

HSAKMT_STATUS HSAKMTAPI hsaKmtGetNodeIoLinkProperties(HSAuint32 NodeId, HSAuint32 NumIoLinks,
                                                      HsaIoLinkProperties* IoLinkProperties) {
    return traced("hsaKmtGetNodeIoLinkProperties(" + node(NodeId) + ", " +
                      records(NumIoLinks, IoLinkProperties) + ")",
                  next<decltype(hsaKmtGetNodeIoLinkProperties)>("hsaKmtGetNodeIoLinkProperties")(
                      NodeId, NumIoLinks, IoLinkProperties));
}

HSAKMT_STATUS HSAKMTAPI hsaKmtPmcGetCounterProperties(HSAuint32 NodeId,
                                                      HsaCounterProperties** CounterProperties) {
    return traced("hsaKmtPmcGetCounterProperties(" + node(NodeId) + ")",
                  next<decltype(hsaKmtPmcGetCounterProperties)>("hsaKmtPmcGetCounterProperties")(
                      NodeId, CounterProperties));
}
