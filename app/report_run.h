// Report run: kfdtopo's library calls from the open of KFD to its close, with the report.
#pragma once

/// Opens KFD, prints the "System" section and every node's section to stdout, releases the
/// system properties and closes KFD. A failure outside the node reports' guarded steps ends
/// the run there and throws std::runtime_error with its message; after a failed open with
/// status 20 the message goes on with what the machine shows, one line each.
void runReport();
