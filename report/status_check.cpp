// Status checks and error lines.
#include "report/status_check.h"

#include <stdexcept>
#include <string>

#include "report/report_writer.h"
#include "report/value_format.h"

namespace {
std::string statusMessage(std::int32_t status, std::string_view action) {
    std::string message = "HSAKMT Error " + decimalText(status);
    if (!action.empty()) {
        message += ": Could not ";
        message += action;
    }
    return message;
}

void printErrorLine(ReportWriter& writer, std::string_view message) {
    writer << "\x1b[31;1mError\x1b[m: " << message << "\n";
}
}  // namespace

void checkStatus(std::int32_t status, std::string_view action) {
    if (status != 0) {
        throw std::runtime_error(statusMessage(status, action));
    }
}

ReportWriter& printError(ReportWriter& writer, const std::exception& failure) {
    printErrorLine(writer, failure.what());
    return writer;
}

bool printedFailure(ReportWriter& writer, std::int32_t status, std::string_view action,
                    std::string_view notAsked) {
    if (!notAsked.empty()) {
        printErrorLine(writer, notAsked);
        return true;
    }
    if (status != 0) {
        printErrorLine(writer, statusMessage(status, action));
        return true;
    }
    return false;
}
