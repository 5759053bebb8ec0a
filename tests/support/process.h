// Runs a program with a chosen environment and captures its stdout, stderr and exit status.
#pragma once

#include <string>
#include <vector>

struct ProcessResult {
    int exitStatus = -1;  // the exit code, or 128 + signal number
    std::string out;
    std::string err;
};

/// Runs program with args in directory cwd (empty: the current one); env entries
/// "NAME=value" are added to (or replace in) the current environment, entries "NAME"
/// alone remove that variable.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env, const std::string& cwd = "");

/// Runs the built kfdtopo against kfdsim serving the given topology (empty: the default),
/// from the test data directory, so that relative fixture names work.
ProcessResult runKfdtopoOnSim(const std::string& topology,
                              const std::vector<std::string>& args = {});
