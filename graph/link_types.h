// Link types as the matrix and the picture show them: name, short code and colour.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct LinkTypeStyle {
    std::string name;    // "XGMI", "PCIe", or "unknown (<type>)"
    std::string code;    // in matrix cells: letters, or "(<type>)" for a type without a row
    std::string colour;  // of the picture's edges, "#rrggbb"
};

/// The name of an IO link type: the report's names, and those of the header's types that the
/// report leaves unnamed; nothing for a type the header does not name.
std::optional<std::string> linkTypeName(std::uint32_t type);

/// The style of an IO link type: the report's names, and those of the header's types that the
/// report leaves unnamed.
LinkTypeStyle linkTypeStyle(std::uint32_t type);
