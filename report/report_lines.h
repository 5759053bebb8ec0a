// Report lines: one helper per kind of "label: value" line.
#pragma once

#include <cstdint>
#include <string_view>

class ReportWriter;

/// label, the value in the writer's current base, end (a unit text ending in "\n").
void numberLine(ReportWriter& writer, std::string_view label, std::uint64_t value,
                std::string_view end = "\n");
/// label, the value as a signed 32-bit number, "\n".
void signedLine(ReportWriter& writer, std::string_view label, std::int32_t value);
/// label, the value in hexadecimal, back to decimal, "\n".
void hexLine(ReportWriter& writer, std::string_view label, std::uint64_t value);
/// label, "yes" or "no", "\n".
void flagLine(ReportWriter& writer, std::string_view label, bool set);
/// label, the text, "\n".
void textLine(ReportWriter& writer, std::string_view label, std::string_view text);
