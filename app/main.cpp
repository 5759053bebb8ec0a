// kfdtopo entry point: refuses arguments, runs the report, gives the exit status.
#include <exception>
#include <iostream>

#include "app/report_run.h"

int main(int argc, char** /*argv*/) {
    if (argc != 1) {
        std::cerr << "No arguments expected!\n";
        return 1;
    }
    try {
        runReport();
    } catch (const std::exception& failure) {
        // cerr is tied to cout: the report so far comes out before the failure.
        std::cerr << failure.what() << "\n";
        return 2;
    }
    return 0;
}
