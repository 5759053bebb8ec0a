// Fixture origin: read from the system, without opening any device.
#include "export/fixture_origin.h"

#include <array>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <fstream>
#include <string>
#include <sys/utsname.h>
#include <unistd.h>

#include <hsakmt/hsakmt.h>

namespace {

std::string hostName() {
    std::array<char, HOST_NAME_MAX + 1> name{};
    return gethostname(name.data(), name.size() - 1) == 0 ? std::string(name.data()) : "";
}

std::string kernelRelease() {
    utsname system{};
    return uname(&system) == 0 ? std::string(system.release) : "";
}

// The in-tree driver publishes no version; a driver built apart does.
std::string driverVersion() {
    std::ifstream file("/sys/module/amdgpu/version");
    std::string version;
    std::getline(file, version);
    return version;
}

std::string libraryFile() {
    Dl_info info{};
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): dladdr takes any address.
    if (dladdr(reinterpret_cast<void*>(&hsaKmtOpenKFD), &info) == 0 || info.dli_fname == nullptr) {
        return "";
    }
    std::array<char, PATH_MAX> resolved{};
    return realpath(info.dli_fname, resolved.data()) != nullptr ? resolved.data() : info.dli_fname;
}

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    std::array<char, 32> text{};
    if (gmtime_r(&now, &utc) == nullptr ||
        std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%SZ", &utc) == 0) {
        return "";
    }
    return text.data();
}

}  // namespace

std::optional<FixtureOrigin> machineOrigin() {
    if (dlsym(RTLD_DEFAULT, "kfdsimLibraryName") != nullptr) {
        return std::nullopt;
    }
    return FixtureOrigin{hostName(),    kernelRelease(), driverVersion(),
                         libraryFile(), KFDTOPO_VERSION, utcNow()};
}
