// Memory bank printer tests, served by kfdsim from tests/data/memory-banks.json.
#include "memory_links/memory_bank_printer.h"

#include <cstdint>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "report/report_writer.h"
#include "tests/support/escapes.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/stdout_capture.h"

namespace {
// memory-banks.json: node 0 has one bank per heap type 0 to 7, then 8 and 0xFFFFFFFF;
// node 1 four banks with varied fields; node 2 one bank; node 3 one bank behind a failing
// query (status 5); node 4 no banks.
class MemoryBankPrinter : public SimFixture {
  protected:
    void SetUp() override { openTopology("memory-banks"); }
};

const std::string vectorTooLong = "cannot create std::vector larger than max_size()";

TEST_F(MemoryBankPrinter, EveryHeapTypeHasItsNameAndOtherTypesFallBack) {
    StdoutCapture capture;
    ReportWriter writer;
    printMemoryBanks(writer, 0, 10);

    const std::string zeroLines =
        "    Size: 0 B\n"
        "    Hot pluggable: no\n"
        "    Non-volatile: no\n"
        "    Width: 0 bits\n"
        "    Maximum clock frequency: 0 MHz\n"
        "    Virtual base address: 0x0\n";
    EXPECT_EQ(capture.text(), titleLine("Memory 0") + "    Type: System\n" + zeroLines +
                                  titleLine("Memory 1") + "    Type: Public framebuffer\n" +
                                  zeroLines + titleLine("Memory 2") +
                                  "    Type: Private framebuffer\n" + zeroLines +
                                  titleLine("Memory 3") + "    Type: GPU GDS\n" + zeroLines +
                                  titleLine("Memory 4") + "    Type: GPU LDS\n" + zeroLines +
                                  titleLine("Memory 5") + "    Type: GPU scratch\n" + zeroLines +
                                  titleLine("Memory 6") + "    Type: Device SVM\n" + zeroLines +
                                  titleLine("Memory 7") + "    Type: MMIO remap\n" + zeroLines +
                                  titleLine("Memory 8") + "    Type: unknown (8)\n" + zeroLines +
                                  titleLine("Memory 9") + "    Type: unknown (-1)\n" + zeroLines);
}

TEST_F(MemoryBankPrinter, PrintsEachFieldWithOnlyTheAddressInHex) {
    StdoutCapture capture;
    ReportWriter writer;
    printMemoryBanks(writer, 1, 4);
    // The writer is left decimal.
    writer << std::uint64_t{4096} << "\n";

    EXPECT_EQ(capture.text(), titleLine("Memory 0") +
                                  "    Type: Public framebuffer\n"
                                  "    Size: 18446744073709551615 B\n"
                                  "    Hot pluggable: yes\n"
                                  "    Non-volatile: yes\n"
                                  "    Width: 256 bits\n"
                                  "    Maximum clock frequency: 1600 MHz\n"
                                  "    Virtual base address: 0xfedcba9876543210\n" +
                                  titleLine("Memory 1") +
                                  "    Type: Private framebuffer\n"
                                  "    Size: 4096 B\n"
                                  "    Hot pluggable: no\n"
                                  "    Non-volatile: no\n"
                                  "    Width: 64 bits\n"
                                  "    Maximum clock frequency: 2000 MHz\n"
                                  "    Virtual base address: 0x0\n" +
                                  titleLine("Memory 2") +
                                  "    Type: System\n"
                                  "    Size: 1000 B\n"
                                  "    Hot pluggable: yes\n"
                                  "    Non-volatile: no\n"
                                  "    Width: 32 bits\n"
                                  "    Maximum clock frequency: 10 MHz\n"
                                  "    Virtual base address: 0x1000\n" +
                                  titleLine("Memory 3") +
                                  "    Type: System\n"
                                  "    Size: 255 B\n"
                                  "    Hot pluggable: no\n"
                                  "    Non-volatile: yes\n"
                                  "    Width: 16 bits\n"
                                  "    Maximum clock frequency: 11 MHz\n"
                                  "    Virtual base address: 0xff\n"
                                  "4096\n");
}

TEST_F(MemoryBankPrinter, BanksNestOneLevelBelowTheEnclosingSection) {
    StdoutCapture capture;
    ReportWriter writer;
    {
        Section node(writer, "Node 2");
        printMemoryBanks(writer, 2, 1);
        writer << "after\n";
    }
    writer << "outside\n";

    EXPECT_EQ(capture.text(), titleLine("Node 2") + "    " + titleLine("Memory 0") +
                                  "        Type: GPU scratch\n"
                                  "        Size: 65536 B\n"
                                  "        Hot pluggable: yes\n"
                                  "        Non-volatile: no\n"
                                  "        Width: 8 bits\n"
                                  "        Maximum clock frequency: 100 MHz\n"
                                  "        Virtual base address: 0xabcd\n"
                                  "    after\n"
                                  "outside\n");
}

TEST_F(MemoryBankPrinter, CountDecidesHowManyBanksArePrinted) {
    {
        // Records the library does not fill stay zero-filled.
        StdoutCapture capture;
        ReportWriter writer;
        printMemoryBanks(writer, 2, 3);
        EXPECT_EQ(capture.text(), titleLine("Memory 0") +
                                      "    Type: GPU scratch\n"
                                      "    Size: 65536 B\n"
                                      "    Hot pluggable: yes\n"
                                      "    Non-volatile: no\n"
                                      "    Width: 8 bits\n"
                                      "    Maximum clock frequency: 100 MHz\n"
                                      "    Virtual base address: 0xabcd\n" +
                                      titleLine("Memory 1") +
                                      "    Type: System\n"
                                      "    Size: 0 B\n"
                                      "    Hot pluggable: no\n"
                                      "    Non-volatile: no\n"
                                      "    Width: 0 bits\n"
                                      "    Maximum clock frequency: 0 MHz\n"
                                      "    Virtual base address: 0x0\n" +
                                      titleLine("Memory 2") +
                                      "    Type: System\n"
                                      "    Size: 0 B\n"
                                      "    Hot pluggable: no\n"
                                      "    Non-volatile: no\n"
                                      "    Width: 0 bits\n"
                                      "    Maximum clock frequency: 0 MHz\n"
                                      "    Virtual base address: 0x0\n");
    }
    {
        StdoutCapture capture;
        ReportWriter writer;
        printMemoryBanks(writer, 1, 1);
        EXPECT_EQ(capture.text(), titleLine("Memory 0") +
                                      "    Type: Public framebuffer\n"
                                      "    Size: 18446744073709551615 B\n"
                                      "    Hot pluggable: yes\n"
                                      "    Non-volatile: yes\n"
                                      "    Width: 256 bits\n"
                                      "    Maximum clock frequency: 1600 MHz\n"
                                      "    Virtual base address: 0xfedcba9876543210\n");
    }
}

TEST_F(MemoryBankPrinter, ZeroCountPrintsNothingButStillQueries) {
    for (const std::uint32_t node : {1U, 4U}) {
        StdoutCapture capture;
        ReportWriter writer;
        printMemoryBanks(writer, node, 0);
        EXPECT_EQ(capture.text(), "") << "node " << node;
    }
    // Only a query made with count 0 can meet node 3's fault.
    StdoutCapture capture;
    ReportWriter writer;
    printMemoryBanks(writer, 3, 0);
    EXPECT_EQ(capture.text(),
              errorPrefix + "HSAKMT Error 5: Could not get node memory properties\n");
}

TEST_F(MemoryBankPrinter, NegativeCountFailsToAllocateWithoutQuerying) {
    // Node 3's fault would show if the library were asked.
    StdoutCapture capture;
    ReportWriter writer;
    {
        Section node(writer, "Node 3");
        printMemoryBanks(writer, 3, -1);
        printMemoryBanks(writer, 3, std::numeric_limits<std::int32_t>::min());
        writer << "after\n";
    }

    EXPECT_EQ(capture.text(), titleLine("Node 3") + "    " + errorPrefix + vectorTooLong + "\n" +
                                  "    " + errorPrefix + vectorTooLong + "\n" + "    after\n");
}
}  // namespace
