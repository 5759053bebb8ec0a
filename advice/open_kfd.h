// Open KFD: the open's failure, with what the machine shows when it fails for lack of devices.
#pragma once

#include <cstdint>

/// Returns for status 0; otherwise throws std::runtime_error with the status message of
/// checkStatus for "open KFD"; after status 20 (the device files could not be opened or used)
/// the lines of openAdvice follow, one each.
void checkOpen(std::int32_t status);
