// Paths of the built tool, the simulated library and the test data.
#pragma once

#include <string_view>

constexpr std::string_view kfdtopoBinary = KFDTOPO_BINARY;
constexpr std::string_view kfdsimDir = KFDSIM_DIR;
constexpr std::string_view testDataDir = KFDTOPO_TEST_DATA;
