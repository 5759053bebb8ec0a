// Number runs: a list of numbers cut into runs of successive values.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

/// The runs of successive values (each one more than the one before) in list order, as {first,
/// last} pairs; a lone value is a run of its own, with first == last.
template <typename Number>
std::vector<std::pair<Number, Number>> numberRuns(const std::vector<Number>& numbers) {
    std::vector<std::pair<Number, Number>> runs;
    for (const Number number : numbers) {
        if (!runs.empty() && number == runs.back().second + 1) {
            runs.back().second = number;
        } else {
            runs.emplace_back(number, number);
        }
    }
    return runs;
}
