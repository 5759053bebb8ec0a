// Sim fixture: opens kfdsim on a test topology and holds its system properties.
#pragma once

#include <string>

#include <gtest/gtest.h>

/// Printer tests derive from this; TearDown releases and closes KFD.
class SimFixture : public ::testing::Test {
  protected:
    /// Serves tests/data/<name>.json, opens KFD and acquires the system properties.
    void openTopology(const std::string& name);
    void TearDown() override;

  private:
    bool opened = false;
};

/// The path of tests/data/<name>.
std::string testDataPath(const std::string& name);
