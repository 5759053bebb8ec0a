// Runs a program through posix_spawn, its output sent to temporary files.
#include "tests/support/process.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/paths.h"

extern char** environ;

namespace {
// A temporary file, removed with the object.
class TempFile {
  public:
    TempFile() {
        std::string pattern = "/tmp/kfdtopo-test-XXXXXX";
        int fd = mkstemp(pattern.data());
        if (fd < 0) {
            throw std::runtime_error("mkstemp failed");
        }
        close(fd);
        path = pattern;
    }
    ~TempFile() { unlink(path.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    std::string contents() const {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string path;
};

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& changes) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        merged.emplace_back(*entry);
    }
    for (const std::string& change : changes) {
        const std::string name = change.substr(0, change.find('='));
        std::vector<std::string> kept;
        for (const std::string& entry : merged) {
            if (entry.compare(0, name.size() + 1, name + "=") != 0) {
                kept.push_back(entry);
            }
        }
        merged = std::move(kept);
        if (change.find('=') != std::string::npos) {
            merged.push_back(change);
        }
    }
    return merged;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (std::string& text : texts) {
        result.push_back(text.data());
    }
    result.push_back(nullptr);
    return result;
}
}  // namespace

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env, const std::string& cwd) {
    TempFile out;
    TempFile err;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.path.c_str(), O_WRONLY | O_TRUNC, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err.path.c_str(), O_WRONLY | O_TRUNC, 0);
    if (!cwd.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    }

    std::vector<std::string> argvTexts{program};
    argvTexts.insert(argvTexts.end(), args.begin(), args.end());
    std::vector<std::string> envTexts = mergedEnvironment(env);
    std::vector<char*> argv = pointers(argvTexts);
    std::vector<char*> envp = pointers(envTexts);

    pid_t pid = 0;
    const int spawned =
        posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::runtime_error("cannot run " + program);
    }
    int status = 0;
    waitpid(pid, &status, 0);

    ProcessResult result;
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = out.contents();
    result.err = err.contents();
    return result;
}

ProcessResult runKfdtopoOnSim(const std::string& topology, const std::vector<std::string>& args) {
    return runProcess(std::string(kfdtopoBinary), args,
                      {"KFDSIM_TOPOLOGY=" + topology, "LD_LIBRARY_PATH=" + std::string(kfdsimDir)},
                      std::string(testDataDir));
}
