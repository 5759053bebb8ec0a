// Performance counter printer: counter blocks and groups of like counters of a node.
#pragma once

#include <cstdint>

class ReportWriter;

/// Prints the "Performance Counters" section of a node; a failure becomes an error line.
void printPerformanceCounters(ReportWriter& writer, std::uint32_t nodeId);
