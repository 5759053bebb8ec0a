// Exception check: the type and the exact message of a failure.
#pragma once

#include <string>

#include <gtest/gtest.h>

/// Runs body and expects it to throw Failure whose what() is exactly message.
template <typename Failure, typename Body>
void expectFailure(Body&& body, const std::string& message) {
    try {
        body();
        ADD_FAILURE() << "no exception; expected: " << message;
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.what(), message);
    }
}
