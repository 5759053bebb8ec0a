// Report writer: the one object through which every piece of the report reaches stdout.
#pragma once

#include <cstdint>
#include <string_view>

/// Flushes each insertion to stdout at once, character by character, indenting every line
/// start by four spaces per open section. The number base stays as set until switched.
class ReportWriter {
  public:
    ReportWriter();
    ReportWriter(const ReportWriter&) = delete;
    ReportWriter& operator=(const ReportWriter&) = delete;

    /// Inserts text unchanged.
    ReportWriter& operator<<(std::string_view text);
    /// Inserts a zero-terminated text unchanged (a literal would otherwise pick bool below).
    ReportWriter& operator<<(const char* text);
    /// Inserts an unsigned number in the current base.
    ReportWriter& operator<<(std::uint64_t value);
    /// Inserts an unsigned 32-bit number in the current base, widened.
    ReportWriter& operator<<(std::uint32_t value);
    /// Inserts a signed number in the current base.
    ReportWriter& operator<<(std::int32_t value);
    /// A character or flag would print as a number: insert text ("\n", "yes") instead.
    ReportWriter& operator<<(char) = delete;
    ReportWriter& operator<<(bool) = delete;
    /// Switches the number base to hexadecimal (lowercase, no prefix).
    void hex();
    /// Switches the number base back to decimal.
    void dec();

    /// Writes a bold title line and raises the indentation.
    void openSection(std::string_view title);
    /// Lowers the indentation again. Throws std::logic_error when no section is open.
    void closeSection();

  private:
    void flush(std::string_view pending);

    bool atLineStart = true;
    std::uint32_t indentLevel = 0;
    int base = 10;  // of the numbers inserted: 10 or 16
};

/// A section for one scope: the title is written on construction, the level lowered on
/// destruction, also when a failure passes out of the section's body.
class Section {
  public:
    Section(ReportWriter& writer, std::string_view title);
    // NOLINTNEXTLINE(bugprone-exception-escape): closes what the constructor opened.
    ~Section();
    Section(const Section&) = delete;
    Section& operator=(const Section&) = delete;

  private:
    ReportWriter& owner;
};
