// Sim fixture: kfdsim served from a tests/data fixture for in-process printer tests.
#include "tests/support/sim_fixture.h"

#include <cstdlib>

#include <hsakmt/hsakmt.h>

#include "tests/support/paths.h"

std::string testDataPath(const std::string& name) { return std::string(testDataDir) + "/" + name; }

void SimFixture::openTopology(const std::string& name) {
    setenv("KFDSIM_TOPOLOGY", testDataPath(name + ".json").c_str(), 1);
    ASSERT_EQ(hsaKmtOpenKFD(), HSAKMT_STATUS_SUCCESS);
    opened = true;
    HsaSystemProperties system{};
    ASSERT_EQ(hsaKmtAcquireSystemProperties(&system), HSAKMT_STATUS_SUCCESS);
}

void SimFixture::TearDown() {
    if (opened) {
        hsaKmtReleaseSystemProperties();
        hsaKmtCloseKFD();
    }
    unsetenv("KFDSIM_TOPOLOGY");
}
