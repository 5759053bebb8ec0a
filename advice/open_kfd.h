// Open KFD: the library's open, with what the machine shows when it fails for lack of devices.
#pragma once

/// Calls hsaKmtOpenKFD. A failure throws std::runtime_error with the status message of
/// checkStatus; after status 20 (the device files could not be opened or used) the lines of
/// openAdvice follow, one each.
void openKfd();
