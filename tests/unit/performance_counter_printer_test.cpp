// Performance counter printer tests, served by kfdsim from the counters-*.json fixtures.
#include "counters/performance_counter_printer.h"

#include <chrono>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "report/report_writer.h"
#include "tests/support/escapes.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/stdout_capture.h"

namespace {
class PerformanceCounterPrinter : public SimFixture {};

// One "Counter type" section of a report printed from level 0: title at 8 spaces, lines at
// 12; the flags are "yes" or "no".
std::string counterType(const std::string& ids, const std::string& type, const std::string& size,
                        const std::string& mask, const std::string& global,
                        const std::string& resettable, const std::string& readOnly,
                        const std::string& stream, const std::string& blockIndex) {
    std::string text = "        " + titleLine("Counter type");
    text += "            IDs: " + ids + "\n";
    text += "            Type: " + type + "\n";
    text += "            Size: " + size + " bits\n";
    text += "            Mask: " + mask + "\n";
    text += "            Global: " + global + "\n";
    text += "            Resettable: " + resettable + "\n";
    text += "            Read only: " + readOnly + "\n";
    text += "            Stream: " + stream + "\n";
    text += "            Block index: " + blockIndex + "\n";
    return text;
}

// A counter with every property 0 but its IDs and block index.
std::string plainCounterType(const std::string& ids, const std::string& blockIndex) {
    return counterType(ids, "Privileged immediate", "0", "0", "no", "no", "no", "no", blockIndex);
}

const std::string pmcError =
    errorPrefix + "HSAKMT Error 5: Could not get node performance counter properties\n";

// counters-worked-example.json, node 1: one SQ block with IDs 9 (type 3) then 4 and 5
// (type 2).
TEST_F(PerformanceCounterPrinter, WorkedExamplePrintsGroupsInKeyOrderInsideTheNode) {
    openTopology("counters-worked-example");
    StdoutCapture capture;
    ReportWriter writer;
    {
        const Section node(writer, "Node 1");
        printPerformanceCounters(writer, 1);
        writer << "Next: " << std::uint64_t{255} << "\n";
    }

    EXPECT_EQ(capture.text(), titleLine("Node 1") + "    " + titleLine("Performance Counters") +
                                  "        Blocks: 1\n"
                                  "        Concurrent blocks: 1\n"
                                  "        " +
                                  titleLine("Block 0") +
                                  "            Block ID: SQ\n"
                                  "            Counters: 3\n"
                                  "            Concurrent counters: 2\n"
                                  "            " +
                                  titleLine("Counter type") +
                                  "                IDs: 4 - 5\n"
                                  "                Type: Non-privileged immediate\n"
                                  "                Size: 64 bits\n"
                                  "                Mask: ffffffff\n"
                                  "                Global: yes\n"
                                  "                Resettable: no\n"
                                  "                Read only: no\n"
                                  "                Stream: no\n"
                                  "                Block index: 0\n"
                                  "            " +
                                  titleLine("Counter type") +
                                  "                IDs: 9\n"
                                  "                Type: Non-privileged streaming\n"
                                  "                Size: 32 bits\n"
                                  "                Mask: ff\n"
                                  "                Global: no\n"
                                  "                Resettable: no\n"
                                  "                Read only: no\n"
                                  "                Stream: yes\n"
                                  "                Block index: 0\n"
                                  "    Next: 255\n");
}

// counters-layout.json: node 0 no record, node 1 no blocks, node 2 six blocks, node 3 a
// record behind a failing query (status 5).
TEST_F(PerformanceCounterPrinter, NullRecordPrintsNothing) {
    openTopology("counters-layout");
    StdoutCapture capture;
    ReportWriter writer;
    printPerformanceCounters(writer, 0);
    writer << "Next\n";

    EXPECT_EQ(capture.text(), "Next\n");
}

TEST_F(PerformanceCounterPrinter, ZeroBlocksPrintsTheHeadingAndCountsOnly) {
    openTopology("counters-layout");
    StdoutCapture capture;
    ReportWriter writer;
    printPerformanceCounters(writer, 1);

    EXPECT_EQ(capture.text(), titleLine("Performance Counters") +
                                  "    Blocks: 0\n"
                                  "    Concurrent blocks: 4\n");
}

TEST_F(PerformanceCounterPrinter, BlocksAreWalkedByTheirCountsAndNamedByAllSixteenBytes) {
    // Blocks 0, 3 and 4 have no counters; block 1's identifier is given as memory bytes;
    // blocks 2 to 5 are unknown: other fields, last byte changed, all zero, fields stored
    // most significant byte first.
    openTopology("counters-layout");
    StdoutCapture capture;
    ReportWriter writer;
    printPerformanceCounters(writer, 2);

    EXPECT_EQ(capture.text(),
              titleLine("Performance Counters") +
                  "    Blocks: 6\n"
                  "    Concurrent blocks: 3\n"
                  "    " +
                  titleLine("Block 0") +
                  "        Block ID: WD\n"
                  "        Counters: 0\n"
                  "        Concurrent counters: 1\n"
                  "    " +
                  titleLine("Block 1") +
                  "        Block ID: CB (Colour Buffer)\n"
                  "        Counters: 1\n"
                  "        Concurrent counters: 2\n" +
                  counterType("7", "Privileged streaming", "48", "ffffffffffff", "no", "yes", "yes",
                              "no", "1") +
                  "    " + titleLine("Block 2") +
                  "        Block ID: unknown (67452301-ab89-efcd-0123-456789abcdef)\n"
                  "        Counters: 2\n"
                  "        Concurrent counters: 4294967295\n" +
                  counterType("18446744073709551615, 3", "Privileged immediate", "4294967295", "1",
                              "yes", "no", "no", "yes", "4294967295") +
                  "    " + titleLine("Block 3") +
                  "        Block ID: unknown (c629a49b-2daf-384b-b349-157271beac6b)\n"
                  "        Counters: 0\n"
                  "        Concurrent counters: 0\n"
                  "    " +
                  titleLine("Block 4") +
                  "        Block ID: unknown (00000000-0000-0000-0000-000000000000)\n"
                  "        Counters: 0\n"
                  "        Concurrent counters: 0\n"
                  "    " +
                  titleLine("Block 5") +
                  "        Block ID: unknown (9ba429c6-af2d-4b38-b349-157271beac6a)\n"
                  "        Counters: 1\n"
                  "        Concurrent counters: 5\n" +
                  counterType("12", "Non-privileged immediate", "32", "ffff", "yes", "yes", "yes",
                              "yes", "5"));
}

// counters-groups.json: node 0 eleven groups told apart by block index, their counters
// interleaved; node 1 sixteen counters in descending key order; node 2 full masks.
TEST_F(PerformanceCounterPrinter, IdListsAreCutIntoRunsInRecordOrder) {
    openTopology("counters-groups");
    StdoutCapture capture;
    ReportWriter writer;
    printPerformanceCounters(writer, 0);

    EXPECT_EQ(capture.text(),
              titleLine("Performance Counters") +
                  "    Blocks: 1\n"
                  "    Concurrent blocks: 1\n"
                  "    " +
                  titleLine("Block 0") +
                  "        Block ID: SQ\n"
                  "        Counters: 36\n"
                  "        Concurrent counters: 2\n" +
                  plainCounterType("0 - 3", "0") + plainCounterType("1 - 3, 5, 7 - 8", "1") +
                  plainCounterType("9", "2") + plainCounterType("4, 3", "3") +
                  plainCounterType("5, 5", "4") + plainCounterType("7, 5 - 6", "5") +
                  plainCounterType("18446744073709551614 - 1", "6") +
                  plainCounterType("18446744073709551615 - 0", "7") +
                  plainCounterType("3, 2, 1", "8") + plainCounterType("0 - 2, 0 - 2", "9") +
                  plainCounterType("2, 4, 6", "10"));
}

TEST_F(PerformanceCounterPrinter, GroupsFollowTypeSizeMaskFlagsThenBlockIndexIgnoringHighFlagBits) {
    // IDs 15 (flag bits 4 to 31 set) and 16 (bit 4 and Global) join the groups of 1 and 6.
    openTopology("counters-groups");
    StdoutCapture capture;
    ReportWriter writer;
    printPerformanceCounters(writer, 1);

    const std::string immediate = "Privileged immediate";
    EXPECT_EQ(
        capture.text(),
        titleLine("Performance Counters") +
            "    Blocks: 1\n"
            "    Concurrent blocks: 1\n"
            "    " +
            titleLine("Block 0") +
            "        Block ID: SPI\n"
            "        Counters: 16\n"
            "        Concurrent counters: 16\n" +
            counterType("1, 15", immediate, "32", "0", "no", "no", "no", "no", "0") +
            counterType("2", immediate, "32", "0", "no", "no", "no", "no", "1") +
            counterType("3", immediate, "32", "0", "no", "no", "no", "yes", "0") +
            counterType("4", immediate, "32", "0", "no", "no", "yes", "no", "0") +
            counterType("5", immediate, "32", "0", "no", "yes", "no", "no", "0") +
            counterType("6, 16", immediate, "32", "0", "yes", "no", "no", "no", "0") +
            counterType("7", immediate, "32", "1", "no", "no", "no", "no", "0") +
            counterType("8", immediate, "32", "ffffffff", "no", "no", "no", "no", "0") +
            counterType("9", immediate, "32", "100000000", "no", "no", "no", "no", "0") +
            counterType("10", immediate, "64", "0", "no", "no", "no", "no", "0") +
            counterType("11", "Privileged streaming", "0", "0", "no", "no", "no", "no", "0") +
            counterType("13", "Non-privileged streaming", "32", "0", "no", "no", "no", "no", "0") +
            counterType("14", "unknown (4)", "32", "0", "no", "no", "no", "no", "0") +
            counterType("12", "unknown (-1)", "32", "0", "no", "no", "no", "no", "0"));
}

TEST_F(PerformanceCounterPrinter, OnlyTheMaskIsHexadecimal) {
    openTopology("counters-groups");
    StdoutCapture capture;
    ReportWriter writer;
    printPerformanceCounters(writer, 2);
    writer << std::uint64_t{255} << "\n";

    EXPECT_EQ(capture.text(), titleLine("Performance Counters") +
                                  "    Blocks: 2\n"
                                  "    Concurrent blocks: 2\n"
                                  "    " +
                                  titleLine("Block 0") +
                                  "        Block ID: DB\n"
                                  "        Counters: 2\n"
                                  "        Concurrent counters: 2\n" +
                                  counterType("10", "Privileged immediate", "64",
                                              "ffffffffffffffff", "no", "no", "no", "no", "10") +
                                  counterType("11", "Privileged immediate", "64",
                                              "ffffffffffffffff", "no", "no", "no", "no", "11") +
                                  "    " + titleLine("Block 1") +
                                  "        Block ID: GDS\n"
                                  "        Counters: 0\n"
                                  "        Concurrent counters: 11\n"
                                  "255\n");
}

// counters-large-block.json: 4096 counters with IDs 0 to 4095; counter i belongs to the
// group of block index (i / 4) % 512, so each group holds two runs of four IDs.
TEST_F(PerformanceCounterPrinter, LargeBlockIsGroupedQuickly) {
    openTopology("counters-large-block");
    StdoutCapture capture;
    ReportWriter writer;
    const auto start = std::chrono::steady_clock::now();
    printPerformanceCounters(writer, 0);
    const auto elapsed = std::chrono::steady_clock::now() - start;

    std::string expected = titleLine("Performance Counters") +
                           "    Blocks: 1\n"
                           "    Concurrent blocks: 1\n"
                           "    " +
                           titleLine("Block 0") +
                           "        Block ID: SQ\n"
                           "        Counters: 4096\n"
                           "        Concurrent counters: 8\n";
    for (std::uint64_t group = 0; group < 512; ++group) {
        const std::uint64_t low = 4 * group;
        const std::uint64_t high = low + 2048;
        expected += plainCounterType(std::to_string(low) + " - " + std::to_string(low + 3) + ", " +
                                         std::to_string(high) + " - " + std::to_string(high + 3),
                                     std::to_string(group));
    }
    EXPECT_EQ(capture.text(), expected);
    EXPECT_LT(elapsed, std::chrono::seconds(1));
}
}  // namespace
