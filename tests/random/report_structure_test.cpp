// Unit tests of the report structure check: sound goldens pass, each kind of break is found.
#include "tests/random/report_structure.h"

#include <cstddef>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/escapes.h"
#include "tests/support/paths.h"

namespace {
std::string golden(const std::string& name) {
    std::ifstream in(std::string(testDataDir) + "/" + name + ".out", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> lines(const std::string& report) {
    std::vector<std::string> result;
    std::istringstream in(report);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

// The 1-based number of the first line equal to `line`, 0 when there is none.
std::size_t lineNumber(const std::string& report, const std::string& line) {
    const std::vector<std::string> all = lines(report);
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i] == line) {
            return i + 1;
        }
    }
    return 0;
}

// `report` with its first line equal to `line` replaced by `replacement` (which may hold
// several lines, or none).
std::string replaced(const std::string& report, const std::string& line,
                     const std::string& replacement) {
    std::string result;
    bool done = false;
    for (const std::string& each : lines(report)) {
        if (!done && each == line) {
            result += replacement;
            done = true;
        } else {
            result += each + "\n";
        }
    }
    EXPECT_TRUE(done) << "no line \"" << line << "\" to replace";
    return result;
}

// The problem expected at the line `line` of `report`, showing that line.
std::string problemAt(const std::string& report, const std::string& line,
                      const std::string& problem) {
    return "line " + std::to_string(lineNumber(report, line)) + ": " + problem + "\n  " + line;
}

TEST(ReportStructure, CompleteGoldenReportsPass) {
    for (const char* name : {"default", "0-nodes", "2cpu-1gpu-banks-links",
                             "counters-worked-example", "fault-close", "fault-release"}) {
        const std::string report = golden(name);
        ASSERT_FALSE(report.empty()) << name;
        EXPECT_EQ(reportStructureProblem(report), "") << name;
    }
}

TEST(ReportStructure, IndentationNotInStepsOfFourIsFound) {
    const std::string report = replaced(golden("default"), "    Caches: 300", "  Caches: 300\n");
    EXPECT_EQ(
        reportStructureProblem(report),
        problemAt(report, "  Caches: 300", "indentation of 2 spaces is not a multiple of four"));
}

TEST(ReportStructure, HexDigitInDecimalFieldIsFound) {
    const std::string report = replaced(golden("default"), "    Caches: 300", "    Caches: 30a\n");
    EXPECT_EQ(reportStructureProblem(report),
              problemAt(report, "    Caches: 30a", "\"Caches\" has the malformed value \"30a\""));
}

TEST(ReportStructure, HexFieldWithoutPrefixOrWithCapitalsIsFound) {
    const std::string base = golden("default");
    for (const std::string line : {"    Platform OEM: 20444d41", "    Platform OEM: 0x20444D41"}) {
        const std::string report = replaced(base, "    Platform OEM: 0x20444d41", line + "\n");
        EXPECT_EQ(
            reportStructureProblem(report),
            problemAt(report, line,
                      "\"Platform OEM\" has the malformed value \"" + line.substr(18) + "\""));
    }
}

TEST(ReportStructure, LinesMustStandOneLevelUnderTheirTitle) {
    const std::string base = golden("default");
    const std::string flat = replaced(base, "    CPU threads: 192", "CPU threads: 192\n");
    EXPECT_EQ(reportStructureProblem(flat),
              problemAt(flat, "CPU threads: 192", "not one level deeper than the title before it"));
    const std::string deep = replaced(base, "    Caches: 300", "        Caches: 300\n");
    EXPECT_EQ(reportStructureProblem(deep),
              problemAt(deep, "        Caches: 300", "indented deeper than its section"));
}

TEST(ReportStructure, LineOfAnotherSectionIsFound) {
    const std::string report =
        replaced(golden("default"), "    Caches: 300", "    Caches: 300\n    Blocks: 1\n");
    EXPECT_EQ(reportStructureProblem(report),
              problemAt(report, "    Blocks: 1", "\"Blocks\" does not belong in Node"));
}

TEST(ReportStructure, MissingRepeatedOrMovedLineIsFound) {
    const std::string base = golden("default");
    const std::string missing = replaced(base, "    Caches: 300", "");
    EXPECT_EQ(reportStructureProblem(missing),
              "line 93: Node 0 (line 7) lacks \"Caches\"\n  \\e[1mNode 1\\e[0m");
    const std::string twice =
        replaced(base, "    Caches: 300", "    Caches: 300\n    Caches: 300\n");
    EXPECT_EQ(reportStructureProblem(twice),
              "line 12: \"Caches\" given twice in Node 0\n      Caches: 300");
    const std::string moved =
        replaced(missing, "    IO links: 1", "    IO links: 1\n    Caches: 300\n");
    EXPECT_EQ(reportStructureProblem(moved),
              "line 12: \"Caches\" out of order in Node 0\n      Caches: 300");
}

TEST(ReportStructure, TitlesMustBeBoldAllowedAndNumberedFromZero) {
    const std::string base = golden("default");
    const std::string node1 = bold + "Node 1" + reset;
    EXPECT_EQ(reportStructureProblem(replaced(base, node1, bold + "Node 2" + reset + "\n")),
              "line 94: title \"Node 2\" where number 1 of its kind belongs\n"
              "  \\e[1mNode 2\\e[0m");
    EXPECT_EQ(reportStructureProblem(replaced(base, node1, bold + "Node 1\n")),
              "line 94: a bold title without its reset\n  \\e[1mNode 1");
    const std::string block = "    " + bold + "Block 0" + reset;
    EXPECT_EQ(reportStructureProblem(
                  replaced(base, "    Memory banks: 1", "    Memory banks: 1\n" + block + "\n")),
              "line 11: title \"Block 0\" does not belong in Node\n      \\e[1mBlock 0\\e[0m");
    const std::string system = bold + "System" + reset;
    EXPECT_EQ(reportStructureProblem(base + system + "\n    HSAKMT Version: 1.17\n"),
              "line 344: a second \"System\" section\n  \\e[1mSystem\\e[0m");
}

TEST(ReportStructure, CountsMustMatchTheSectionsThatFollow) {
    const std::string nodes =
        replaced(golden("default"), "    Number of nodes: 2", "    Number of nodes: 3\n");
    EXPECT_EQ(reportStructureProblem(nodes),
              "end: the report has 2 node sections, but \"Number of nodes\" announces 3");
    const std::string counters = replaced(golden("counters-worked-example"),
                                          "            Counters: 3", "            Counters: 4\n");
    EXPECT_EQ(reportStructureProblem(counters),
              "end: Block 0 (line 184) has 3 counter IDs, but \"Counters\" announces 4");
}

TEST(ReportStructure, IdRunsMustBeMaximal) {
    const std::string report =
        replaced(golden("counters-worked-example"), "                IDs: 4 - 5",
                 "                IDs: 4, 5\n");
    EXPECT_EQ(reportStructureProblem(report),
              problemAt(report, "                IDs: 4, 5", "a run of IDs cut in two"));
}

TEST(ReportStructure, ErrorLineAndUnendedLastLineAreFound) {
    const std::string base = golden("default");
    const std::string withError = replaced(
        base, "    Caches: 300", "    Caches: 300\n    " + errorPrefix + "HSAKMT Error 5\n");
    EXPECT_EQ(reportStructureProblem(withError),
              "line 12: an error line\n      \\e[31;1mError\\e[m: HSAKMT Error 5");
    EXPECT_EQ(reportStructureProblem(base.substr(0, base.size() - 1)),
              "line 343: the report does not end with a line break");
}
}  // namespace
