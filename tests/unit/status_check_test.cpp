// Status check tests: failure messages and error lines.
#include "report/status_check.h"

#include <stdexcept>

#include <gtest/gtest.h>
#include <hsakmt/hsakmt.h>

#include "report/report_writer.h"
#include "tests/support/escapes.h"
#include "tests/support/expect_failure.h"
#include "tests/support/stdout_capture.h"

namespace {
TEST(StatusCheck, SuccessRaisesNothing) {
    EXPECT_NO_THROW(checkStatus(HSAKMT_STATUS_SUCCESS, "open KFD"));
    EXPECT_NO_THROW(checkStatus(HSAKMT_STATUS_SUCCESS, ""));
}

TEST(StatusCheck, FailureMessageNamesStatusAndAction) {
    expectFailure<std::runtime_error>(
        [] { checkStatus(HSAKMT_STATUS_INVALID_NODE_UNIT, "get node properties"); },
        "HSAKMT Error 5: Could not get node properties");
    expectFailure<std::runtime_error>([] { checkStatus(-1, "open KFD"); },
                                      "HSAKMT Error -1: Could not open KFD");
    expectFailure<std::runtime_error>([] { checkStatus(-2147483647 - 1, "close KFD"); },
                                      "HSAKMT Error -2147483648: Could not close KFD");
    expectFailure<std::runtime_error>([] { checkStatus(2147483647, "close KFD"); },
                                      "HSAKMT Error 2147483647: Could not close KFD");
}

TEST(StatusCheck, EmptyActionLeavesOnlyTheStatus) {
    expectFailure<std::runtime_error>([] { checkStatus(HSAKMT_STATUS_ERROR, ""); },
                                      "HSAKMT Error 1");
}

TEST(PrintError, WritesOneRedLineAtTheCurrentLevel) {
    StdoutCapture capture;
    ReportWriter writer;
    Section section(writer, "Node 0");
    printError(writer, std::runtime_error("HSAKMT Error 5: Could not get clock counters"));
    printError(writer, std::length_error("vector"));  // any standard exception
    EXPECT_EQ(capture.text(), titleLine("Node 0") + "    " + errorPrefix +
                                  "HSAKMT Error 5: Could not get clock counters\n    " +
                                  errorPrefix + "vector\n");
}

TEST(PrintError, ContinuesAnUnfinishedLine) {
    StdoutCapture capture;
    ReportWriter writer;
    Section section(writer, "Node 0");
    writer << "Marketing name: ";
    printError(writer, std::range_error("wstring_convert::to_bytes"));
    EXPECT_EQ(capture.text(), titleLine("Node 0") + "    Marketing name: " + errorPrefix +
                                  "wstring_convert::to_bytes\n");
}
}  // namespace
