// Call trace file: where a program run under the call trace library writes its libhsakmt calls.
#pragma once

#include <string>
#include <vector>

/// An empty scratch file, removed with the object, for the calls of one program run.
class CallTraceFile {
  public:
    CallTraceFile();
    ~CallTraceFile();
    CallTraceFile(const CallTraceFile&) = delete;
    CallTraceFile& operator=(const CallTraceFile&) = delete;

    /// The environment entries that make a program write its calls here (LD_PRELOAD of the
    /// call trace library), added to `env`.
    std::vector<std::string> environment(std::vector<std::string> env = {}) const;
    /// The calls written so far, in order: "hsaKmtGetNodeMemoryProperties(1, 4, records) = 0".
    std::vector<std::string> calls() const;

  private:
    std::string path;
};
