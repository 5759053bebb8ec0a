// Node printer: one section per node with its properties, clock and sub-reports.
#pragma once

#include <cstdint>

class ReportWriter;

/// Prints the "Node <id>" section: properties, clock line, memory banks, IO links and
/// performance counters. A failed clock query becomes an error line; a failed
/// node-properties query or marketing-name conversion throws (std::runtime_error,
/// std::range_error) after the level is restored.
void printNode(ReportWriter& writer, std::uint32_t nodeId);
