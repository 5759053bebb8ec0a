// Open KFD: the open's failure, with what the machine shows when it fails for lack of devices.
#include "advice/open_kfd.h"

#include <stdexcept>
#include <string>

#include <hsakmt/hsakmt.h>

#include "advice/open_advice.h"
#include "report/status_check.h"

void checkOpen(std::int32_t status) {
    try {
        checkStatus(status, "open KFD");
    } catch (const std::runtime_error& failure) {
        if (status != HSAKMT_STATUS_KERNEL_IO_CHANNEL_NOT_OPENED) {
            throw;
        }
        std::string message = failure.what();
        for (const std::string& line : openAdvice(DevicePaths{}, currentUser())) {
            message += "\n" + line;
        }
        throw std::runtime_error(message);
    }
}
