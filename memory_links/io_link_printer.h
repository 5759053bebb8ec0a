// IO link printer: one section per IO link of a node.
#pragma once

#include <hsakmt/hsakmt.h>

#include "reader/topology_reader.h"

class ReportWriter;

/// Prints an "IO Link <i>" section for each link of the answer; a failed or refused query
/// becomes an error line.
void printIoLinks(ReportWriter& writer, const RecordsAnswer<HsaIoLinkProperties>& links);
