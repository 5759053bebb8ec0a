// System printer tests: the System section and the node count it returns.
#include "node/system_printer.h"

#include <cstdlib>
#include <stdexcept>

#include <gtest/gtest.h>
#include <hsakmt/hsakmt.h>

#include "report/report_writer.h"
#include "tests/support/escapes.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/stdout_capture.h"

namespace {
class SystemPrinter : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("KFDSIM_TOPOLOGY", testDataPath("system-values.json").c_str(), 1);
        ASSERT_EQ(hsaKmtOpenKFD(), HSAKMT_STATUS_SUCCESS);
    }
    void TearDown() override {
        hsaKmtReleaseSystemProperties();
        hsaKmtCloseKFD();
        unsetenv("KFDSIM_TOPOLOGY");
    }
};

TEST_F(SystemPrinter, PrintsVersionCountAndPlatformThenReturnsCount) {
    StdoutCapture capture;
    ReportWriter writer;
    // NumNodes is returned as the library gives it, whatever the node list holds.
    EXPECT_EQ(printSystem(writer), 3);
    writer << std::uint64_t{255} << "\n";  // decimal again after the section
    EXPECT_EQ(capture.text(), titleLine("System") +
                                  "    HSAKMT Version: 1.17\n"
                                  "    Number of nodes: 3\n"
                                  "    Platform OEM: 0x0\n"
                                  "    Platform ID: 0xabcde\n"
                                  "    Platform revision: 255\n"
                                  "255\n");
}

}  // namespace
