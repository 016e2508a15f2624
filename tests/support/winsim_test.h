// Base fixture of the host tests: every test starts on a fresh simulated
// machine and must leave no handle open and no allocation live.
#pragma once

#include <gtest/gtest.h>
#include <winsim/machine.h>

class WinsimTest : public ::testing::Test {
protected:
    void SetUp() override { winsim::Reset(); }
    void TearDown() override {
        EXPECT_EQ(winsim::OpenHandleCount(), 0u) << "a handle was left open";
        EXPECT_EQ(winsim::LiveAllocationCount(), 0u) << "an allocation was not freed";
    }
};
