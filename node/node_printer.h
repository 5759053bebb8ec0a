// Node printer: the properties of one node and its clock line.
#pragma once

#include <cstdint>

#include <hsakmt/hsakmt.h>

class ReportWriter;

/// Prints the node's property lines. Throws std::range_error when the marketing name holds an
/// unpaired surrogate, before that line is written.
void printNodeProperties(ReportWriter& writer, const HsaNodeProperties& props);

/// Prints the "System clock frequency" line, or the error line of a failed query.
void printClock(ReportWriter& writer, std::int32_t status, const HsaClockCounters& clock);
