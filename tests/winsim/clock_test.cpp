// The simulated clock: set and advanced across second, day, month and year
// boundaries, the day of the week it derives, refused dates, and Sleep.
#include "winsim_test.h"

#include <chrono>
#include <cstdio>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The clock as "2021-03-02 09:05:03.007 day 2"; day 0 is a Sunday.
std::string Now() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u day %u", t.wYear,
                  t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds, t.wDayOfWeek);
    return text;
}

constexpr DWORD kHour = 3600 * 1000;
constexpr DWORD kDay = 24 * kHour;

struct Advance {
    const char* from;
    DWORD milliseconds;
    const char* to;
};

std::ostream& operator<<(std::ostream& os, const Advance& a) {
    return os << a.from << " + " << a.milliseconds;
}

const Advance kAdvances[] = {
    {"2021-03-02 09:05:03.999", 1, "2021-03-02 09:05:04.000 day 2"},
    {"2021-03-02 09:59:59.999", 1, "2021-03-02 10:00:00.000 day 2"},
    {"2021-03-02 23:30:00.000", kHour, "2021-03-03 00:30:00.000 day 3"},
    {"2021-01-31 23:59:59.999", 1, "2021-02-01 00:00:00.000 day 1"},   // out of a 31-day month
    {"2021-04-30 12:00:00.000", kDay, "2021-05-01 12:00:00.000 day 6"},  // out of a 30-day month
    {"2021-02-28 23:00:00.000", kHour, "2021-03-01 00:00:00.000 day 1"},  // common year
    {"2020-02-28 23:59:59.500", 500, "2020-02-29 00:00:00.000 day 6"},   // leap year
    {"2020-02-29 12:00:00.000", kDay, "2020-03-01 12:00:00.000 day 0"},
    {"2100-02-28 12:00:00.000", kDay, "2100-03-01 12:00:00.000 day 1"},  // century: no leap day
    {"2000-02-28 12:00:00.000", kDay, "2000-02-29 12:00:00.000 day 2"},  // fourth century: one
    {"2021-12-31 23:59:59.999", 1, "2022-01-01 00:00:00.000 day 6"},
    {"2021-03-02 09:05:03.007", 0xFFFFFFFF, "2021-04-21 02:07:50.302 day 3"},  // the largest step
    // The day of the week of dates set.
    {"1601-01-01 00:00:00.000", 0, "1601-01-01 00:00:00.000 day 1"},
    {"1900-03-01 00:00:00.000", 0, "1900-03-01 00:00:00.000 day 4"},
    {"1970-01-01 00:00:00.000", 0, "1970-01-01 00:00:00.000 day 4"},
    {"2000-01-01 00:00:00.000", 0, "2000-01-01 00:00:00.000 day 6"},
    {"2024-02-29 00:00:00.000", 0, "2024-02-29 00:00:00.000 day 4"},
    {"9999-12-31 00:00:00.000", 0, "9999-12-31 00:00:00.000 day 5"},
};

class ClockAdvance : public WinsimTest, public ::testing::WithParamInterface<Advance> {};

TEST_P(ClockAdvance, RollsOverIntoTheRightDateAndDayOfTheWeek) {
    winsim::SetLocalTime(LocalTimeAt(GetParam().from));
    winsim::AdvanceClock(GetParam().milliseconds);
    EXPECT_EQ(Now(), GetParam().to);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, ClockAdvance, ::testing::ValuesIn(kAdvances));

using Clock = WinsimTest;

TEST_F(Clock, RefusesDatesThatDoNotExist) {
    for (const char* date : {"2021-02-29 00:00:00.000", "2021-13-01 00:00:00.000",
                             "2021-04-31 00:00:00.000", "2021-01-00 00:00:00.000",
                             "2021-01-01 24:00:00.000", "2021-01-01 00:60:00.000",
                             "2021-01-01 00:00:60.000", "2021-01-01 00:00:00.1000",
                             "1600-12-31 00:00:00.000"}) {
        EXPECT_THROW(winsim::SetLocalTime(LocalTimeAt(date)), std::invalid_argument) << date;
    }
}

TEST_F(Clock, SleepAdvancesTheClockWithoutWaitingAndIsRecorded) {
    const std::string before = Now();
    EXPECT_EQ(Now(), before) << "the clock stands still between calls";
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 30; ++i) Sleep(1000);
    SetLastError(ERROR_SHARING_VIOLATION);
    Sleep(0);
    Sleep(250);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(Now(), "2021-03-02 09:05:33.257 day 2");
    EXPECT_EQ(winsim::SleptMilliseconds(), 30250u);
    std::vector<DWORD> calls(30, 1000);
    calls.push_back(0);
    calls.push_back(250);
    EXPECT_EQ(winsim::SleepCalls(), calls);
}

TEST_F(Clock, SleepingForeverThrowsInsteadOfHanging) {
    EXPECT_THROW(Sleep(0xFFFFFFFF), std::logic_error);
    EXPECT_TRUE(winsim::SleepCalls().empty());
}

}  // namespace
