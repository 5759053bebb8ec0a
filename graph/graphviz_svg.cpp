// kfdtopo-svg, the module that kfdtopo-graph loads for --svg: the DOT text laid out and drawn by
// libgvc and libcgraph, in memory.
#include <graphviz/cgraph.h>
#include <graphviz/gvc.h>
#include <memory>
#include <stdexcept>
#include <string>

namespace {
struct ContextDeleter {
    void operator()(GVC_t* context) const { gvFreeContext(context); }
};
struct GraphDeleter {
    void operator()(Agraph_t* graph) const { agclose(graph); }
};

// A laid-out graph's layout, freed before the graph.
class Layout {
  public:
    Layout(GVC_t* context, Agraph_t* graph) : context_(context), graph_(graph) {
        if (gvLayout(context, graph, "dot") != 0) {
            throw std::runtime_error("Graphviz could not lay out the graph with dot");
        }
    }
    ~Layout() { gvFreeLayout(context_, graph_); }
    Layout(const Layout&) = delete;
    Layout& operator=(const Layout&) = delete;

  private:
    GVC_t* context_;
    Agraph_t* graph_;
};

std::string drawSvg(const std::string& dot) {
    const std::unique_ptr<GVC_t, ContextDeleter> context(gvContext());
    if (!context) {
        throw std::runtime_error("Graphviz could not start");
    }
    const std::unique_ptr<Agraph_t, GraphDeleter> graph(agmemread(dot.c_str()));
    if (!graph) {
        throw std::runtime_error("Graphviz could not read the graph");
    }
    const Layout layout(context.get(), graph.get());
    char* data = nullptr;
    unsigned int length = 0;
    if (gvRenderData(context.get(), graph.get(), "svg", &data, &length) != 0 || data == nullptr) {
        throw std::runtime_error("Graphviz could not draw the graph as SVG");
    }
    std::string svg(data, length);
    gvFreeRenderData(data);
    return svg;
}
}  // namespace

/// The entry point that kfdtopo-graph looks up: the SVG of *dot into *svg. Throws
/// std::runtime_error when Graphviz cannot lay out or draw the graph.
extern "C" [[gnu::visibility("default")]] void kfdtopoRenderSvg(const std::string* dot,
                                                                std::string* svg) {
    *svg = drawSvg(*dot);
}
