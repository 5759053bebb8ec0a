// Memory bank printer: one section per memory bank of a node.
#pragma once

#include <cstdint>

class ReportWriter;

/// Prints a "Memory <i>" section for each bank; a failure becomes an error line.
void printMemoryBanks(ReportWriter& writer, std::uint32_t nodeId, std::int32_t bankCount);
