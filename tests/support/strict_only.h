// A fixture as only the strict loader reads it, to compare with the usual fixture reader.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

/// The same fixture with its first key's first byte written as a \u escape, which the usual
/// reader leaves to the strict loader; nothing when it has no key to escape.
inline std::optional<std::string> strictOnly(const std::string& text) {
    const std::size_t brace = text.find('{');
    const std::size_t quote = text.find('"', brace);
    if (brace == std::string::npos || quote == std::string::npos || quote + 1 >= text.size()) {
        return std::nullopt;
    }
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(text[quote + 1]));
    return text.substr(0, quote + 1) + escape + text.substr(quote + 2);
}
