// IO link printer: one section per IO link of a node.
#pragma once

#include <cstdint>

class ReportWriter;

/// Prints an "IO Link <i>" section for each link; a failure becomes an error line.
void printIoLinks(ReportWriter& writer, std::uint32_t nodeId, std::int32_t linkCount);
