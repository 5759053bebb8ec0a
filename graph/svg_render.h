// SVG rendering: a DOT graph laid out and drawn by Graphviz's libraries, which kfdtopo-graph loads
// at run time through its own module, lib/kfdtopo/svg/kfdtopo-svg.so (package kfdtopo-svg).
#pragma once

#include <string>

/// The SVG of the DOT text, laid out by Graphviz's dot layout. Throws std::runtime_error, in one
/// line, when the module or Graphviz is missing (saying what to install), or when Graphviz refuses
/// the text or has no dot layout or SVG renderer.
std::string renderSvg(const std::string& dot);
