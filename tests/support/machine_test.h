// The fixture of the host tests: a fresh simulated machine for every test,
// which must leave no handle open and no allocation live.
#pragma once

#include "harness.h"

#include <gtest/gtest.h>

class MachineTest : public ::testing::Test {
protected:
    void SetUp() override { winsim::Reset(); }
    void TearDown() override {
        EXPECT_EQ(winsim::OpenHandleCount(), 0u) << "a handle was left open";
        EXPECT_EQ(winsim::LiveAllocationCount(), 0u) << "an allocation was not freed";
    }
};
