// Memory bank printer: one section per memory bank of a node.
#pragma once

#include <hsakmt/hsakmt.h>

#include "reader/topology_reader.h"

class ReportWriter;

/// Prints a "Memory <i>" section for each bank of the answer; a failed or refused query becomes
/// an error line.
void printMemoryBanks(ReportWriter& writer, const RecordsAnswer<HsaMemoryProperties>& banks);
