// Performance counter printer: counter blocks and groups of like counters of a node.
#pragma once

#include <cstdint>

#include "fixture/topology.h"

class ReportWriter;

/// Prints the "Performance Counters" section of a node's counters; a failed query (status not
/// 0) becomes an error line, and no record (null) prints nothing.
void printPerformanceCounters(ReportWriter& writer, std::int32_t status,
                              const CounterSet* counters);
