// Fixture origin: read from the system, without opening any device.
#include "export/fixture_origin.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/utsname.h>
#include <unistd.h>

#include <hsakmt/hsakmt.h>

#include "fixture/json_fixture.h"

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

// kfdsim hands out the origin of the fixture it serves, as the fixture gives it.
std::optional<FixtureOrigin> servedOrigin(void* originFunction) {
    using OriginFunction = const char* (*)();
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): dlsym gives an address.
    const char* text = reinterpret_cast<OriginFunction>(originFunction)();
    if (text == nullptr) {
        return std::nullopt;
    }
    return parseJsonFixture(text, "kfdsim").origin;
}

}  // namespace

std::vector<NumaCpus> readNumaCpus(const std::string& nodes) {
    std::vector<NumaCpus> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(nodes, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() <= 4 || name.compare(0, 4, "node") != 0 ||
            name.find_first_not_of("0123456789", 4) != std::string::npos || name.size() > 13) {
            continue;
        }
        std::ifstream file(entry.path() / "cpulist");
        std::string cpus;
        if (std::getline(file, cpus) && !cpus.empty()) {
            found.push_back({static_cast<std::uint32_t>(std::stoul(name.substr(4))), cpus});
        }
    }
    std::sort(found.begin(), found.end(),
              [](const NumaCpus& a, const NumaCpus& b) { return a.node < b.node; });
    return found;
}

std::optional<FixtureOrigin> machineOrigin() {
    if (dlsym(RTLD_DEFAULT, "kfdsimLibraryName") != nullptr) {
        void* served = dlsym(RTLD_DEFAULT, "kfdsimFixtureOrigin");
        return served == nullptr ? std::nullopt : servedOrigin(served);
    }
    return FixtureOrigin{hostName(),
                         kernelRelease(),
                         driverVersion(),
                         libraryFile(),
                         KFDTOPO_VERSION,
                         utcNow(),
                         readNumaCpus("/sys/devices/system/node")};
}
