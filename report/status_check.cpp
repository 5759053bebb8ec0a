// Status checks and error lines.
#include "report/status_check.h"

#include <stdexcept>
#include <string>

#include "report/report_writer.h"
#include "report/value_format.h"

void checkStatus(std::int32_t status, std::string_view action) {
    if (status == 0) {
        return;
    }
    std::string message = "HSAKMT Error " + decimalText(status);
    if (!action.empty()) {
        message += ": Could not ";
        message += action;
    }
    throw std::runtime_error(message);
}

ReportWriter& printError(ReportWriter& writer, const std::exception& failure) {
    return writer << "\x1b[31;1mError\x1b[m: " << failure.what() << "\n";
}
