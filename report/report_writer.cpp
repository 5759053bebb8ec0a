// Report writer: buffered, indenting output of the report.
#include "report/report_writer.h"

#include <iostream>
#include <string>

namespace {
constexpr std::string_view boldOn = "\x1b[1m";
constexpr std::string_view boldOffAndNewline = "\x1b[0m\n";
}  // namespace

ReportWriter::ReportWriter() { buffer << std::dec; }

ReportWriter& ReportWriter::operator<<(std::string_view text) {
    buffer << text;
    flush();
    return *this;
}

ReportWriter& ReportWriter::operator<<(std::uint64_t value) {
    buffer << value;
    flush();
    return *this;
}

ReportWriter& ReportWriter::operator<<(std::uint32_t value) {
    return *this << std::uint64_t{value};
}

ReportWriter& ReportWriter::operator<<(std::int32_t value) {
    buffer << value;
    flush();
    return *this;
}

void ReportWriter::hex() {
    buffer << std::hex;
    flush();
}

void ReportWriter::dec() {
    buffer << std::dec;
    flush();
}

void ReportWriter::openSection(std::string_view title) {
    *this << boldOn << title << boldOffAndNewline;
    ++indentLevel;
}

void ReportWriter::closeSection() { --indentLevel; }

// Copies the pending text character by character, indenting each line start.
void ReportWriter::flush() {
    char c = 0;
    while (buffer.get(c)) {
        if (atLineStart) {
            for (std::uint32_t i = 0; i < indentLevel; ++i) {
                std::cout << "    ";
            }
        }
        atLineStart = false;
        std::cout << c;
        if (c == '\n') {
            atLineStart = true;
        }
    }
    // Reading to the end set eofbit; start an empty buffer. The base survives both.
    buffer.clear();
    buffer.str(std::string());
}

Section::Section(ReportWriter& writer, std::string_view title) : owner(writer) {
    owner.openSection(title);
}

Section::~Section() { owner.closeSection(); }
