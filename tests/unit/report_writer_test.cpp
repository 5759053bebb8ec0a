// Report writer tests: indentation, sections, number bases and failures passing sections.
#include "report/report_writer.h"

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <type_traits>
#include <utility>

#include <gtest/gtest.h>

#include "tests/support/escapes.h"
#include "tests/support/expect_failure.h"
#include "tests/support/stdout_capture.h"

namespace {
// Whether `writer << value` compiles for a value of type T.
template <typename T, typename = void>
struct Insertable : std::false_type {};
template <typename T>
struct Insertable<T, std::void_t<decltype(std::declval<ReportWriter&>() << std::declval<T>())>>
    : std::true_type {};

TEST(ReportWriter, TakesTextAndNumbersButNoCharacterOrFlag) {
    static_assert(Insertable<std::string_view>::value && Insertable<const char*>::value);
    static_assert(Insertable<std::uint64_t>::value && Insertable<std::uint32_t>::value &&
                  Insertable<std::int32_t>::value);
    // '\n' or true would print as 10 or 1.
    static_assert(!Insertable<char>::value && !Insertable<bool>::value);
}

TEST(ReportWriter, LineAtLevelZeroHasNoIndentation) {
    StdoutCapture capture;
    ReportWriter writer;
    writer << "Platform revision: " << std::uint64_t{5} << "\n";
    EXPECT_EQ(capture.text(), "Platform revision: 5\n");
}

TEST(ReportWriter, SectionIndentsItsLinesAndNestedTitles) {
    StdoutCapture capture;
    ReportWriter writer;
    {
        Section node(writer, "Node 0");
        writer << "a\n";
        {
            Section bank(writer, "Memory 0");
            writer << "b\n";
        }
        writer << "c\n";
    }
    writer << "d\n";
    EXPECT_EQ(capture.text(), titleLine("Node 0") + "    a\n    " + titleLine("Memory 0") +
                                  "        b\n    c\nd\n");
}

TEST(ReportWriter, IndentationIsDecidedAtTheFirstCharacterOfALine) {
    StdoutCapture capture;
    ReportWriter writer;
    writer << "start";
    {
        Section section(writer, "Title");  // continues the open line, unindented
        writer << "\n";                    // a blank line still gets its indentation
        writer << "x";
    }
    writer << "y\n";  // same line as x: the level change has no effect on it
    EXPECT_EQ(capture.text(), "start" + bold + "Title" + reset + "\n    \n    xy\n");
}

TEST(ReportWriter, NumberBaseIsStateUntilSwitchedBack) {
    StdoutCapture capture;
    ReportWriter writer;
    writer.hex();
    writer << std::uint64_t{255} << " " << std::uint64_t{0} << " " << std::uint32_t{0xABCDE} << " "
           << std::numeric_limits<std::uint64_t>::max() << "\n";
    writer << "next line " << std::uint64_t{255} << " " << std::int32_t{-1} << "\n";
    writer.dec();
    writer << std::uint64_t{255} << " " << std::int32_t{-1} << " "
           << std::numeric_limits<std::int32_t>::min() << " "
           << std::numeric_limits<std::uint64_t>::max() << "\n";
    EXPECT_EQ(capture.text(),
              "ff 0 abcde ffffffffffffffff\nnext line ff ffffffff\n"
              "255 -1 -2147483648 18446744073709551615\n");
}

TEST(ReportWriter, FailureLeavingNestedSectionsRestoresLevelButNotBase) {
    StdoutCapture capture;
    ReportWriter writer;
    {
        Section outer(writer, "Node 0");
        try {
            Section first(writer, "A");
            Section second(writer, "B");
            Section third(writer, "C");
            writer.hex();
            throw std::runtime_error("failed");
        } catch (const std::runtime_error&) {
            writer << std::uint64_t{255} << "\n";
        }
    }
    EXPECT_EQ(capture.text(), titleLine("Node 0") + "    " + titleLine("A") + "        " +
                                  titleLine("B") + "            " + titleLine("C") + "    ff\n");
}

TEST(ReportWriter, CloseWithoutOpenSectionThrowsAndKeepsTheLevel) {
    StdoutCapture capture;
    ReportWriter writer;
    { Section node(writer, "Node 0"); }
    expectFailure<std::logic_error>([&writer] { writer.closeSection(); },
                                    "closeSection without an open section");
    writer << "System\n";
    EXPECT_EQ(capture.text(), titleLine("Node 0") + "System\n");
}
}  // namespace
