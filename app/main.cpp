// kfdtopo entry point: refuses arguments, runs the report, gives the exit status.
#include <exception>
#include <iostream>

#include "app/report_run.h"

namespace {
enum ExitStatus : int {
    complete = 0,
    argumentsGiven = 1,
    runFailed = 2,  // a library call outside the node reports' guarded steps failed
};
}  // namespace

int main(int argc, char** /*argv*/) {
    if (argc != 1) {
        std::cerr << "No arguments expected!\n";
        return argumentsGiven;
    }
    try {
        runReport();
    } catch (const std::exception& failure) {
        // cerr is tied to cout: the report so far comes out before the failure.
        std::cerr << failure.what() << "\n";
        return runFailed;
    }
    return complete;
}
