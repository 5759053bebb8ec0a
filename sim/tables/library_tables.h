// The library's tables: its device table and its performance counter tables, generated at
// build time from the JSON files beside this header.
#pragma once

#include <optional>
#include <string_view>

#include "fixture/topology.h"

/// A GFX version as major.minor.stepping.
struct GfxVersion {
    HSAuint32 major = 0;
    HSAuint32 minor = 0;
    HSAuint32 stepping = 0;
};

/// A row of the library's device table.
struct DeviceRow {
    HSAuint16 deviceId;
    GfxVersion version;
    std::string_view name;
};

/// The device table's first row for `deviceId`, or nullptr when it has none.
const DeviceRow* findDevice(HSAuint16 deviceId);

/// The counters the library returns for a GPU of `version` and `deviceId`, or std::nullopt
/// when it has no table for that family (the call then fails with status 3).
std::optional<CounterSet> libraryCounters(const GfxVersion& version, HSAuint16 deviceId);
