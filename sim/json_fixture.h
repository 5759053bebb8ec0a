// JSON fixture loader: fills the topology model from a kfdsim fixture.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "sim/topology.h"

/// A fixture that cannot be read or is refused. The message is one line:
/// "<source>: <JSON path>: <problem>" (no path for the file itself or the top-level value).
class FixtureError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// Reads and parses the fixture file at `path`; throws FixtureError.
Topology loadJsonFixture(const std::string& path);

/// Parses fixture text; `source` names it in messages. Throws FixtureError.
Topology parseJsonFixture(std::string_view text, const std::string& source);

/// Lays fixture text over `topology`: each key given replaces that field, node, bank and link
/// arrays are laid element by element (extra elements are added), and `clock`, `counters` and
/// `faults` replace the whole value. Throws FixtureError and leaves `topology` unchanged.
void overlayJsonFixture(std::string_view text, const std::string& source, Topology& topology);

/// `message` with line breaks and other control characters replaced, so it prints as one line.
std::string oneLine(std::string message);

/// The libhsakmt function name that fixtures give for `call` ("hsaKmtOpenKFD", ...); throws
/// std::invalid_argument for a value that names none.
std::string_view kfdCallName(KfdCall call);
