// JSON fixture writer: a topology as kfdsim fixture text that the loader reads back unchanged.
#pragma once

#include <string>

#include "sim/topology.h"

/// The fixture text of `topology`, ending in a newline. Every field of every record is written,
/// keys in the header's member order; each record stands on one line, except node properties,
/// which take one line per field. NumNodes, NumMemoryBanks and NumIOLinks are written only
/// where they differ from the length of their array. A name is a string when its units up to
/// the first zero are valid UTF-16 (MarketingName) or UTF-8 (AMDName) and only zeros follow,
/// else an array of its units without the trailing zeros. BlockId is in its text form.
/// Throws std::invalid_argument for a fault whose call is not one of the ten functions.
std::string writeJsonFixture(const Topology& topology);
