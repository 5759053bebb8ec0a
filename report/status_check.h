// Status checks: library statuses become exceptions, caught failures become error lines.
#pragma once

#include <cstdint>
#include <exception>
#include <string_view>

class ReportWriter;

/// Returns for status 0; otherwise throws std::runtime_error with the message
/// "HSAKMT Error <status>: Could not <action>" (no action part when the action is empty).
/// Takes the HSAKMT_STATUS as a plain signed 32-bit value: drivers return codes that the
/// enumeration does not list.
void checkStatus(std::int32_t status, std::string_view action);

/// Writes one line: "Error" in red bold, ": " and the failure's message. Returns the writer.
ReportWriter& printError(ReportWriter& writer, const std::exception& failure);

/// For an answer of a guarded query: writes the error line of `notAsked` (why the library was
/// not asked) when it is not empty, else of checkStatus's failure for `status` and `action`, and
/// returns true; returns false without writing when the query succeeded.
bool printedFailure(ReportWriter& writer, std::int32_t status, std::string_view action,
                    std::string_view notAsked = {});
