// System printer: the "System" section that opens the report.
#pragma once

#include <cstdint>

class ReportWriter;

/// Prints the "System" section and acquires the system properties (held until released).
/// Returns their node count; throws std::runtime_error when a library call fails.
std::int32_t printSystem(ReportWriter& writer);
