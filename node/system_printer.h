// System printer: the lines of the "System" section that opens the report.
#pragma once

#include <hsakmt/hsakmt.h>

class ReportWriter;

/// Prints the "HSAKMT Version" line.
void printVersion(ReportWriter& writer, const HsaVersionInfo& version);

/// Prints the node count and the platform identifiers.
void printSystemProperties(ReportWriter& writer, const HsaSystemProperties& system);
