// IO link printer tests, served by kfdsim from tests/data/io-links.json.
#include "memory_links/io_link_printer.h"

#include <cstdint>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "report/report_writer.h"
#include "tests/support/escapes.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/stdout_capture.h"

namespace {
// io-links.json: node 0 has one link per named type, then types 6, 11, 17 and 0xFFFFFFFF;
// node 1 four links with varied fields and flags 0x1E, 1, 0x1F, 0xFFFFFFE1; node 2 links
// with flags 3, 5, 9, 0x11 and 0; node 3 one link behind a failing query (status 5);
// node 4 no links.
class IoLinkPrinter : public SimFixture {
  protected:
    void SetUp() override { openTopology("io-links"); }
};

const std::string vectorTooLong = "cannot create std::vector larger than max_size()";

TEST_F(IoLinkPrinter, EveryLinkTypeHasItsNameAndOtherTypesFallBack) {
    StdoutCapture capture;
    ReportWriter writer;
    printIoLinks(writer, 0, 13);

    const std::string zeroLines =
        "    Version: 0.0\n"
        "    Links: 0 -> 0\n"
        "    Weight: 0\n"
        "    Minimum latency: 0 ns\n"
        "    Maximum latency: 0 ns\n"
        "    Minimum bandwidth: 0 MiB/s\n"
        "    Maximum bandwidth: 0 MiB/s\n"
        "    Recommended transfer size: 0 B\n";
    EXPECT_EQ(capture.text(),
              titleLine("IO Link 0") + "    Type: Undefined\n" + zeroLines +
                  titleLine("IO Link 1") + "    Type: HyperTransport\n" + zeroLines +
                  titleLine("IO Link 2") + "    Type: PCIe\n" + zeroLines + titleLine("IO Link 3") +
                  "    Type: AMBA\n" + zeroLines + titleLine("IO Link 4") + "    Type: MIPI\n" +
                  zeroLines + titleLine("IO Link 5") + "    Type: QPI 1.1\n" + zeroLines +
                  titleLine("IO Link 6") + "    Type: RapidIO\n" + zeroLines +
                  titleLine("IO Link 7") + "    Type: InfiniBand\n" + zeroLines +
                  titleLine("IO Link 8") + "    Type: Other\n" + zeroLines +
                  titleLine("IO Link 9") + "    Type: unknown (6)\n" + zeroLines +
                  titleLine("IO Link 10") + "    Type: unknown (11)\n" + zeroLines +
                  titleLine("IO Link 11") + "    Type: unknown (17)\n" + zeroLines +
                  titleLine("IO Link 12") + "    Type: unknown (-1)\n" + zeroLines);
}

TEST_F(IoLinkPrinter, PrintsEachFieldInDecimalAndFlagLinesOnlyWithOverride) {
    StdoutCapture capture;
    ReportWriter writer;
    printIoLinks(writer, 1, 4);

    EXPECT_EQ(capture.text(), titleLine("IO Link 0") +
                                  "    Type: PCIe\n"
                                  "    Version: 0.0\n"
                                  "    Links: 0 -> 1\n"
                                  "    Weight: 20\n"
                                  "    Minimum latency: 100 ns\n"
                                  "    Maximum latency: 4294967295 ns\n"
                                  "    Minimum bandwidth: 0 MiB/s\n"
                                  "    Maximum bandwidth: 65536 MiB/s\n"
                                  "    Recommended transfer size: 4096 B\n" +
                                  titleLine("IO Link 1") +
                                  "    Type: unknown (11)\n"
                                  "    Version: 3.12\n"
                                  "    Links: 1 -> 0\n"
                                  "    Weight: 15\n"
                                  "    Minimum latency: 1 ns\n"
                                  "    Maximum latency: 2 ns\n"
                                  "    Minimum bandwidth: 3 MiB/s\n"
                                  "    Maximum bandwidth: 4 MiB/s\n"
                                  "    Recommended transfer size: 5 B\n"
                                  "    Coherent: yes\n"
                                  "    32-bit atomics: yes\n"
                                  "    64-bit atomics: yes\n"
                                  "    Peer DMA: yes\n" +
                                  titleLine("IO Link 2") +
                                  "    Type: Other\n"
                                  "    Version: 4294967295.10\n"
                                  "    Links: 1 -> 4294967295\n"
                                  "    Weight: 255\n"
                                  "    Minimum latency: 0 ns\n"
                                  "    Maximum latency: 0 ns\n"
                                  "    Minimum bandwidth: 0 MiB/s\n"
                                  "    Maximum bandwidth: 0 MiB/s\n"
                                  "    Recommended transfer size: 0 B\n"
                                  "    Coherent: no\n"
                                  "    32-bit atomics: no\n"
                                  "    64-bit atomics: no\n"
                                  "    Peer DMA: no\n" +
                                  titleLine("IO Link 3") +
                                  "    Type: InfiniBand\n"
                                  "    Version: 0.0\n"
                                  "    Links: 0 -> 0\n"
                                  "    Weight: 0\n"
                                  "    Minimum latency: 0 ns\n"
                                  "    Maximum latency: 0 ns\n"
                                  "    Minimum bandwidth: 0 MiB/s\n"
                                  "    Maximum bandwidth: 0 MiB/s\n"
                                  "    Recommended transfer size: 0 B\n"
                                  "    Coherent: yes\n"
                                  "    32-bit atomics: yes\n"
                                  "    64-bit atomics: yes\n"
                                  "    Peer DMA: yes\n");
}

TEST_F(IoLinkPrinter, EachFlagBitDeniesItsOwnCapability) {
    StdoutCapture capture;
    ReportWriter writer;
    printIoLinks(writer, 2, 5);

    const std::string linkLines =
        "    Type: HyperTransport\n"
        "    Version: 0.0\n"
        "    Links: 0 -> 0\n"
        "    Weight: 0\n"
        "    Minimum latency: 0 ns\n"
        "    Maximum latency: 0 ns\n"
        "    Minimum bandwidth: 0 MiB/s\n"
        "    Maximum bandwidth: 0 MiB/s\n"
        "    Recommended transfer size: 0 B\n";
    EXPECT_EQ(capture.text(), titleLine("IO Link 0") + linkLines +
                                  "    Coherent: no\n"
                                  "    32-bit atomics: yes\n"
                                  "    64-bit atomics: yes\n"
                                  "    Peer DMA: yes\n" +
                                  titleLine("IO Link 1") + linkLines +
                                  "    Coherent: yes\n"
                                  "    32-bit atomics: no\n"
                                  "    64-bit atomics: yes\n"
                                  "    Peer DMA: yes\n" +
                                  titleLine("IO Link 2") + linkLines +
                                  "    Coherent: yes\n"
                                  "    32-bit atomics: yes\n"
                                  "    64-bit atomics: no\n"
                                  "    Peer DMA: yes\n" +
                                  titleLine("IO Link 3") + linkLines +
                                  "    Coherent: yes\n"
                                  "    32-bit atomics: yes\n"
                                  "    64-bit atomics: yes\n"
                                  "    Peer DMA: no\n" +
                                  titleLine("IO Link 4") + linkLines);
}

TEST_F(IoLinkPrinter, LinksNestOneLevelBelowTheEnclosingSection) {
    // Node 4 has no links: records the library does not fill stay zero-filled.
    StdoutCapture capture;
    ReportWriter writer;
    {
        Section node(writer, "Node 4");
        printIoLinks(writer, 4, 2);
        writer << "after\n";
    }
    writer << "outside\n";

    const std::string zeroLines =
        "        Type: Undefined\n"
        "        Version: 0.0\n"
        "        Links: 0 -> 0\n"
        "        Weight: 0\n"
        "        Minimum latency: 0 ns\n"
        "        Maximum latency: 0 ns\n"
        "        Minimum bandwidth: 0 MiB/s\n"
        "        Maximum bandwidth: 0 MiB/s\n"
        "        Recommended transfer size: 0 B\n";
    EXPECT_EQ(capture.text(), titleLine("Node 4") + "    " + titleLine("IO Link 0") + zeroLines +
                                  "    " + titleLine("IO Link 1") + zeroLines +
                                  "    after\n"
                                  "outside\n");
}

TEST_F(IoLinkPrinter, ZeroCountPrintsNothingButStillQueries) {
    for (const std::uint32_t node : {1U, 4U}) {
        StdoutCapture capture;
        ReportWriter writer;
        printIoLinks(writer, node, 0);
        EXPECT_EQ(capture.text(), "") << "node " << node;
    }
    // Only a query made with count 0 can meet node 3's fault.
    StdoutCapture capture;
    ReportWriter writer;
    printIoLinks(writer, 3, 0);
    EXPECT_EQ(capture.text(),
              errorPrefix + "HSAKMT Error 5: Could not get node IO link properties\n");
}

TEST_F(IoLinkPrinter, NegativeCountFailsToAllocateWithoutQuerying) {
    // Node 3's fault would show if the library were asked.
    StdoutCapture capture;
    ReportWriter writer;
    {
        Section node(writer, "Node 3");
        printIoLinks(writer, 3, -1);
        printIoLinks(writer, 3, std::numeric_limits<std::int32_t>::min());
        writer << "after\n";
    }

    EXPECT_EQ(capture.text(), titleLine("Node 3") + "    " + errorPrefix + vectorTooLong + "\n" +
                                  "    " + errorPrefix + vectorTooLong + "\n" + "    after\n");
}
}  // namespace
