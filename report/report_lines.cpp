// Report lines: label, value and line end, each inserted on its own.
#include "report/report_lines.h"

#include "report/report_writer.h"

void numberLine(ReportWriter& writer, std::string_view label, std::uint64_t value,
                std::string_view end) {
    writer << label << value << end;
}

void signedLine(ReportWriter& writer, std::string_view label, std::int32_t value) {
    writer << label << value << "\n";
}

void hexLine(ReportWriter& writer, std::string_view label, std::uint64_t value) {
    writer << label;
    writer.hex();
    writer << value;
    writer.dec();
    writer << "\n";
}

void flagLine(ReportWriter& writer, std::string_view label, bool set) {
    textLine(writer, label, set ? "yes" : "no");
}

void textLine(ReportWriter& writer, std::string_view label, std::string_view text) {
    writer << label << text << "\n";
}
