// Call trace file: a scratch file and the environment that points the call trace library at it.
#include "tests/support/call_trace_file.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

#include "tests/support/paths.h"

CallTraceFile::CallTraceFile() {
    std::string pattern = "/tmp/kfdtopo-calls-XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) {
        throw std::runtime_error("mkstemp failed");
    }
    close(fd);
    path = pattern;
}

CallTraceFile::~CallTraceFile() { unlink(path.c_str()); }

std::vector<std::string> CallTraceFile::environment(std::vector<std::string> env) const {
    env.push_back("LD_PRELOAD=" + std::string(callTraceLibrary));
    env.push_back("KFDTOPO_CALL_TRACE=" + path);
    // A sanitized program wants its runtime loaded first, before any preloaded library.
    env.emplace_back("ASAN_OPTIONS=verify_asan_link_order=0");
    return env;
}

std::vector<std::string> CallTraceFile::calls() const {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}
