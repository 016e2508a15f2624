// Shared by the host tests: the base fixture (every test starts on a fresh
// simulated machine and must leave no handle open and no allocation live)
// and a local time for the simulated clock.
#pragma once

#include <gtest/gtest.h>
#include <winsim/machine.h>

#include <cstdio>

class WinsimTest : public ::testing::Test {
protected:
    void SetUp() override { winsim::Reset(); }
    void TearDown() override {
        EXPECT_EQ(winsim::OpenHandleCount(), 0u) << "a handle was left open";
        EXPECT_EQ(winsim::LiveAllocationCount(), 0u) << "an allocation was not freed";
    }
};

// "2021-03-02 09:05:03.007" as a SYSTEMTIME for winsim::SetLocalTime. Its
// day of the week is left wrong on purpose: the clock derives its own.
inline SYSTEMTIME LocalTimeAt(const char* text) {
    unsigned v[7] = {};
    EXPECT_EQ(std::sscanf(text, "%u-%u-%u %u:%u:%u.%u", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]), 7)
        << text;
    SYSTEMTIME t;
    WORD* fields[] = {&t.wYear, &t.wMonth, &t.wDay, &t.wHour, &t.wMinute, &t.wSecond, &t.wMilliseconds};
    for (int i = 0; i < 7; ++i) *fields[i] = static_cast<WORD>(v[i]);
    t.wDayOfWeek = 3;
    return t;
}
