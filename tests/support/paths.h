// Paths of the built tool, the simulated library, the test data and the call trace library.
#pragma once

#include <string_view>

constexpr std::string_view kfdtopoBinary = KFDTOPO_BINARY;
constexpr std::string_view kfdsimDir = KFDSIM_DIR;
constexpr std::string_view testDataDir = KFDTOPO_TEST_DATA;
constexpr std::string_view callTraceLibrary = KFDTOPO_CALL_TRACE_LIBRARY;
