// Counter block names: the display names of the known performance counter blocks.
#pragma once

#include <string>

#include "report/value_format.h"

/// The name of a counter block identifier (16 bytes in memory order), or the
/// "unknown (...)" text of the identifier.
std::string counterBlockName(const UuidBytes& blockId);
