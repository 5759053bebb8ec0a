// SVG rendering through the kfdtopo-svg module, found beside the running executable and loaded
// only when an SVG is asked for, so that kfdtopo-graph itself needs nothing of Graphviz.
#include "graph/svg_render.h"

#include <dlfcn.h>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string_view>

namespace {
// Relative to the executable's folder: bin/ of the build tree and of an installation.
constexpr std::string_view modulePath = "../lib/kfdtopo/svg/kfdtopo-svg.so";
constexpr const char* entryPoint = "kfdtopoRenderSvg";

constexpr std::string_view alternative = "; kfdtopo-graph --dot | dot -Tsvg draws the same";

using RenderFunction = void (*)(const std::string* dot, std::string* svg);

struct ModuleCloser {
    void operator()(void* module) const { dlclose(module); }
};

std::string loaderError() {
    const char* error = dlerror();
    return error != nullptr ? error : "unknown error";
}
}  // namespace

std::string renderSvg(const std::string& dot) {
    const std::filesystem::path module =
        std::filesystem::read_symlink("/proc/self/exe").parent_path() / modulePath;
    if (!std::filesystem::exists(module)) {
        throw std::runtime_error(
            "--svg needs Graphviz: install the package kfdtopo-svg, or build kfdtopo with "
            "libgraphviz-dev" +
            std::string(alternative));
    }
    // Never unmapped, Graphviz with it: its caches outlive its free calls, and leak checkers
    // name them by library.
    const std::unique_ptr<void, ModuleCloser> handle(
        dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE));
    if (!handle) {
        throw std::runtime_error("--svg needs Graphviz's libraries (apt install libgvc6): " +
                                 loaderError() + std::string(alternative));
    }
    void* symbol = dlsym(handle.get(), entryPoint);
    if (symbol == nullptr) {
        throw std::runtime_error(module.string() +
                                 " is not kfdtopo-graph's SVG module: " + loaderError());
    }
    std::string svg;
    reinterpret_cast<RenderFunction>(symbol)(&dot, &svg);
    return svg;
}
