// Node printer tests: property lines, base switches, clock and name failures, sub-reports.
#include "node/node_printer.h"

#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "report/report_writer.h"
#include "tests/support/escapes.h"
#include "tests/support/expect_failure.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/stdout_capture.h"

namespace {
// The report lines, without their line ends.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class NodePrinter : public SimFixture {
  protected:
    void SetUp() override { openTopology("node-values"); }

    std::string report(std::uint32_t nodeId) {
        StdoutCapture capture;
        ReportWriter writer;
        printNode(writer, nodeId);
        return capture.text();
    }

    // The property line that starts with label, e.g. "    CP queues: 5".
    std::string line(std::uint32_t nodeId, const std::string& label) {
        for (const std::string& text : linesOf(report(nodeId))) {
            if (text.rfind("    " + label, 0) == 0) {
                return text;
            }
        }
        return "<no line " + label + ">";
    }
};

TEST_F(NodePrinter, EveryCapabilityBitSet) {
    const std::vector<std::string> lines = linesOf(report(0));
    const std::vector<std::string> capabilityLines(lines.begin() + 8, lines.begin() + 31);
    EXPECT_EQ(capabilityLines, (std::vector<std::string>{
                                   "    Hot pluggable: yes",
                                   "    Has ATS/PRI 1.1 compatible translation agent: yes",
                                   "    Shared with graphics: yes",
                                   "    Queues must be power of two: yes",
                                   "    32-bit queue size: yes",
                                   "    Notification on queue idle: yes",
                                   "    Limited virtual address range: yes",
                                   "    Watchpoints supported: yes",
                                   "    Maximum watchpoints: 32768",
                                   "    Doorbell type: unknown (3)",
                                   "    Double virtual address map required: yes",
                                   "    Debug trap supported: yes",
                                   "    Wave launch trap override supported: yes",
                                   "    Wave launch mode supported: yes",
                                   "    Precise memory operations supported: yes",
                                   "    SRAM EDC support (deprecated): yes",
                                   "    Memory EDC support: yes",
                                   "    RAS event notify: yes",
                                   "    ASIC revision: 15",
                                   "    SRAM EDC support: yes",
                                   "    SVM API supported: yes",
                                   "    Coherent host access: yes",
                                   "    Debug supported firmware: yes",
                               }));
}

TEST_F(NodePrinter, CapabilityWordZero) {
    const std::vector<std::string> lines = linesOf(report(1));
    ASSERT_GE(lines.size(), 31u);
    for (std::size_t i = 8; i < 31; ++i) {
        if (i == 16) {
            EXPECT_EQ(lines[i], "    Maximum watchpoints: 1");
        } else if (i == 17) {
            EXPECT_EQ(lines[i], "    Doorbell type: pre-1.0");
        } else if (i == 26) {
            EXPECT_EQ(lines[i], "    ASIC revision: 0");
        } else {
            EXPECT_EQ(lines[i].substr(lines[i].size() - 4), ": no") << lines[i];
        }
    }
}

TEST_F(NodePrinter, DoorbellTypesByName) {
    EXPECT_EQ(line(2, "Doorbell type: "), "    Doorbell type: post-1.0");
    EXPECT_EQ(line(5, "Doorbell type: "), "    Doorbell type: unknown (2)");
}

TEST_F(NodePrinter, HexSpansEndBeforeTheNextDecimalValue) {
    EXPECT_EQ(line(0, "CPU threads: "), "    CPU threads: 4294967295");
    EXPECT_EQ(line(0, "CPU compute ID: 0x"), "    CPU compute ID: 0xff");
    EXPECT_EQ(line(0, "GPU compute ID: 0x"), "    GPU compute ID: 0xffffffff");
    EXPECT_EQ(line(0, "Maximum waves per GPU SIMD: "), "    Maximum waves per GPU SIMD: 255");
    EXPECT_EQ(line(0, "Vendor ID: 0x"), "    Vendor ID: 0x1002");
    EXPECT_EQ(line(0, "Device ID: 0x"), "    Device ID: 0x74a1");
    EXPECT_EQ(line(0, "Local memory size: "), "    Local memory size: 18446744073709551615 B");
    EXPECT_EQ(line(0, "PCIe domain: 0x"), "    PCIe domain: 0xff");
    EXPECT_EQ(line(0, "Unique ID: 0x"), "    Unique ID: 0xff");
    EXPECT_EQ(line(0, "VGPR size per CU: "), "    VGPR size per CU: 255 B");
    EXPECT_EQ(line(0, "KFD GPU ID: 0x"), "    KFD GPU ID: 0xabcd");
    EXPECT_EQ(line(0, "Family ID: 0x"), "    Family ID: 0xff");
    EXPECT_EQ(line(0, "System clock frequency: "), "    System clock frequency: 255 Hz");
}

TEST_F(NodePrinter, ValuesKeepTheirWidthAndSignedness) {
    EXPECT_EQ(line(0, "DRM render device ID: "), "    DRM render device ID: -1");
    EXPECT_EQ(line(0, "SDMA queues per engine: "), "    SDMA queues per engine: 255");
    EXPECT_EQ(line(0, "CP queues: "), "    CP queues: 5");
    EXPECT_EQ(line(0, "GWS barriers: "), "    GWS barriers: 0");
    EXPECT_EQ(line(0, "Hive ID: "), "    Hive ID: 255");
    EXPECT_EQ(line(0, "XCCs: "), "    XCCs: 8");
    EXPECT_EQ(line(0, "Location ID: "), "    Location ID: c0:00.0");
}

TEST_F(NodePrinter, BitFieldsOfEngineAndDebugWords) {
    EXPECT_EQ(line(0, "Maximum scratch wave slots per CU: "),
              "    Maximum scratch wave slots per CU: 32");
    EXPECT_EQ(line(1, "Maximum scratch wave slots per CU: "),
              "    Maximum scratch wave slots per CU: unlimited");
    EXPECT_EQ(line(0, "Engine ID microcode packet processor version: "),
              "    Engine ID microcode packet processor version: 1023");
    EXPECT_EQ(line(0, "Engine ID GFXIP version: "), "    Engine ID GFXIP version: 9.4.2");
    EXPECT_EQ(line(1, "Engine ID GFXIP version: "), "    Engine ID GFXIP version: 0.0.0");
    EXPECT_EQ(line(0, "Engine SDMA microcode version: "),
              "    Engine SDMA microcode version: 1023");
    EXPECT_EQ(line(0, "Watch address mask bits: "), "    Watch address mask bits: 15 - 63");
    EXPECT_EQ(line(0, "Dispatch info always valid: "), "    Dispatch info always valid: yes");
    EXPECT_EQ(line(1, "Dispatch info always valid: "),
              "    Dispatch info always valid: per-process");
    EXPECT_EQ(line(0, "Address watchpoint share kind: "),
              "    Address watchpoint share kind: unshared");
    EXPECT_EQ(line(1, "Address watchpoint share kind: "),
              "    Address watchpoint share kind: shared/unsupported");
}

TEST_F(NodePrinter, NamesUpToTheirFirstZero) {
    EXPECT_EQ(line(0, "Marketing name: "), "    Marketing name: ");
    EXPECT_EQ(line(0, "CAL name: "), "    CAL name: ");
    // U+00E9 takes two UTF-8 bytes, U+1F600 (a surrogate pair) four.
    EXPECT_EQ(line(2, "Marketing name: "), "    Marketing name: Ab\xc3\xa9\xf0\x9f\x98\x80");
    EXPECT_EQ(line(2, "CAL name: "), "    CAL name: gfx942");
}

TEST_F(NodePrinter, ClockFailureIsAnErrorLineAndTheNodeGoesOn) {
    const std::vector<std::string> lines = linesOf(report(1));
    ASSERT_EQ(lines.size(), 69u);  // title, 67 properties, error line
    EXPECT_EQ(lines[67], "    Family ID: 0x0");
    EXPECT_EQ(lines[68], "    " + errorPrefix + "HSAKMT Error 5: Could not get clock counters");
}

TEST_F(NodePrinter, UnpairedSurrogateLeavesTheNodeAfterTheLabel) {
    StdoutCapture capture;
    ReportWriter writer;
    expectFailure<std::range_error>([&] { printNode(writer, 3); }, "wstring_convert::to_bytes");
    const std::string text = capture.text();
    const std::string tail = "    Marketing name: ";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    writer << "\nafter\n";  // the node's level is gone again
    EXPECT_EQ(capture.text().substr(text.size()), "\nafter\n");
}

TEST_F(NodePrinter, PropertiesFailureLeavesOnlyTheTitle) {
    StdoutCapture capture;
    ReportWriter writer;
    expectFailure<std::runtime_error>([&] { printNode(writer, 4); },
                                      "HSAKMT Error 7: Could not get node properties");
    writer << "after\n";
    EXPECT_EQ(capture.text(), titleLine("Node 4") + "after\n");
}

TEST(PrintUtf16, ConvertsUpToTheFirstZeroUnit) {
    StdoutCapture capture;
    ReportWriter writer;
    const std::uint16_t units[] = {0x41, 0xD83D, 0xDE00, 0x20AC, 0, 0x42};
    printUtf16(writer, units, 6);
    const std::uint16_t noZero[] = {0x7A, 0xFF};
    printUtf16(writer, noZero, 2);
    EXPECT_EQ(capture.text(),
              "A\xf0\x9f\x98\x80\xe2\x82\xac"
              "z\xc3\xbf");
}

TEST(PrintUtf16, UnpairedSurrogatesFailWithoutWriting) {
    const std::vector<std::vector<std::uint16_t>> rejected{
        {0x41, 0xDC00},           // low surrogate alone
        {0x41, 0xD800},           // high surrogate at the end
        {0xD800, 0x41, 0},        // high surrogate before a plain unit
        {0xDBFF, 0xD800, 0xDC00}  // high surrogate before another high one
    };
    for (const std::vector<std::uint16_t>& units : rejected) {
        StdoutCapture capture;
        ReportWriter writer;
        expectFailure<std::range_error>(
            [&] { printUtf16(writer, units.data(), static_cast<std::int32_t>(units.size())); },
            "wstring_convert::to_bytes");
        EXPECT_EQ(capture.text(), "");
    }
}

class NodeSubReports : public SimFixture {
  protected:
    void SetUp() override { openTopology("node-subreport-calls"); }
};

TEST_F(NodeSubReports, CalledInOrderUnderTheirConditions) {
    // Every sub-report query fails; an error line shows which ones were called.
    StdoutCapture capture;
    ReportWriter writer;
    printNode(writer, 0);
    printNode(writer, 1);
    const std::vector<std::string> lines = linesOf(capture.text());
    const std::vector<std::string> errors = {
        "    " + errorPrefix + "HSAKMT Error 11: Could not get node memory properties",
        "    " + errorPrefix + "HSAKMT Error 12: Could not get node IO link properties",
        "    " + errorPrefix + "HSAKMT Error 13: Could not get node performance counter properties",
    };
    // Node 0: title, 67 properties, clock, memory error; node 1 adds all three errors.
    ASSERT_EQ(lines.size(), 70u + 72u);
    EXPECT_EQ(lines[69], errors[0]);
    EXPECT_EQ(lines[70] + "\n", titleLine("Node 1"));
    EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()), errors);
}
}  // namespace
