// SVG rendering: a DOT graph laid out and drawn by Graphviz's libraries.
#pragma once

#include <string>

/// The SVG of the DOT text, laid out by Graphviz's dot layout. Throws std::runtime_error when
/// Graphviz refuses the text or has no dot layout or SVG renderer.
std::string renderSvg(const std::string& dot);
