// Report writer: buffered, indenting output of the report.
#include "report/report_writer.h"

#include <array>
#include <charconv>
#include <iostream>
#include <stdexcept>

namespace {
constexpr std::string_view boldOn = "\x1b[1m";
constexpr std::string_view boldOffAndNewline = "\x1b[0m\n";
}  // namespace

ReportWriter::ReportWriter() = default;

ReportWriter& ReportWriter::operator<<(std::string_view text) {
    flush(text);
    return *this;
}

ReportWriter& ReportWriter::operator<<(const char* text) { return *this << std::string_view(text); }

ReportWriter& ReportWriter::operator<<(std::uint64_t value) {
    std::array<char, 64> digits{};
    const auto written = std::to_chars(digits.data(), digits.data() + digits.size(), value, base);
    return *this << std::string_view(digits.data(),
                                     static_cast<std::size_t>(written.ptr - digits.data()));
}

ReportWriter& ReportWriter::operator<<(std::uint32_t value) {
    return *this << std::uint64_t{value};
}

ReportWriter& ReportWriter::operator<<(std::int32_t value) {
    if (base == 16) {
        // A stream shows a negative int in hex as its two's complement bits.
        return *this << std::uint64_t{static_cast<std::uint32_t>(value)};
    }
    std::array<char, 16> digits{};
    const auto written = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    return *this << std::string_view(digits.data(),
                                     static_cast<std::size_t>(written.ptr - digits.data()));
}

void ReportWriter::hex() { base = 16; }

void ReportWriter::dec() { base = 10; }

void ReportWriter::openSection(std::string_view title) {
    *this << boldOn << title << boldOffAndNewline;
    ++indentLevel;
}

void ReportWriter::closeSection() {
    if (indentLevel == 0) {
        throw std::logic_error("closeSection without an open section");
    }
    --indentLevel;
}

// Copies an insertion to stdout character by character, indenting each line start. Writes
// to std::cout's stream buffer directly: this runs for every character of the report.
void ReportWriter::flush(std::string_view pending) {
    std::streambuf& out = *std::cout.rdbuf();
    for (const char c : pending) {
        if (atLineStart) {
            for (std::uint32_t i = 0; i < 4 * indentLevel; ++i) {
                out.sputc(' ');
            }
        }
        atLineStart = false;
        out.sputc(c);
        if (c == '\n') {
            atLineStart = true;
        }
    }
}

Section::Section(ReportWriter& writer, std::string_view title) : owner(writer) {
    owner.openSection(title);
}

// The constructor opened a section, so the close never finds the level at 0 and never throws.
// NOLINTNEXTLINE(bugprone-exception-escape)
Section::~Section() { owner.closeSection(); }
