// The simulated clock: setting it, advancing it across second, day, month
// and year boundaries, the day of the week it derives, and Sleep.
#include "winsim_test.h"

#include <chrono>
#include <ostream>
#include <stdexcept>

namespace {

struct Moment {
    WORD year, month, day, hour, minute, second, ms;
};

SYSTEMTIME At(const Moment& m) {
    SYSTEMTIME t{};
    t.wYear = m.year;
    t.wMonth = m.month;
    t.wDay = m.day;
    t.wHour = m.hour;
    t.wMinute = m.minute;
    t.wSecond = m.second;
    t.wMilliseconds = m.ms;
    t.wDayOfWeek = 3;  // deliberately wrong: the clock derives its own
    return t;
}

struct Advance {
    const char* what;
    Moment from;
    DWORD milliseconds;
    Moment to;
    WORD day_of_week;  // 0 = Sunday
};

std::ostream& operator<<(std::ostream& os, const Advance& a) { return os << a.what; }

constexpr DWORD kSecond = 1000;
constexpr DWORD kHour = 3600 * kSecond;
constexpr DWORD kDay = 24 * kHour;

const Advance kAdvances[] = {
    {"nothing", {2021, 3, 2, 9, 5, 3, 7}, 0, {2021, 3, 2, 9, 5, 3, 7}, 2},
    {"milliseconds into seconds", {2021, 3, 2, 9, 5, 3, 999}, 1, {2021, 3, 2, 9, 5, 4, 0}, 2},
    {"seconds into the hour", {2021, 3, 2, 9, 59, 59, 999}, 1, {2021, 3, 2, 10, 0, 0, 0}, 2},
    {"hours into the next day", {2021, 3, 2, 23, 30, 0, 0}, kHour, {2021, 3, 3, 0, 30, 0, 0}, 3},
    {"end of a 31-day month", {2021, 1, 31, 23, 59, 59, 999}, 1, {2021, 2, 1, 0, 0, 0, 0}, 1},
    {"end of a 30-day month", {2021, 4, 30, 12, 0, 0, 0}, kDay, {2021, 5, 1, 12, 0, 0, 0}, 6},
    {"February of a common year", {2021, 2, 28, 23, 0, 0, 0}, kHour, {2021, 3, 1, 0, 0, 0, 0}, 1},
    {"into February 29", {2020, 2, 28, 23, 59, 59, 500}, 500, {2020, 2, 29, 0, 0, 0, 0}, 6},
    {"out of February 29", {2020, 2, 29, 12, 0, 0, 0}, kDay, {2020, 3, 1, 12, 0, 0, 0}, 0},
    {"century year without a leap day", {2100, 2, 28, 12, 0, 0, 0}, kDay, {2100, 3, 1, 12, 0, 0, 0}, 1},
    {"fourth century year with one", {2000, 2, 28, 12, 0, 0, 0}, kDay, {2000, 2, 29, 12, 0, 0, 0}, 2},
    {"end of the year", {2021, 12, 31, 23, 59, 59, 999}, 1, {2022, 1, 1, 0, 0, 0, 0}, 6},
    {"the largest step", {2021, 3, 2, 9, 5, 3, 7}, 0xFFFFFFFF, {2021, 4, 21, 2, 7, 50, 302}, 3},
};

class ClockAdvance : public WinsimTest, public ::testing::WithParamInterface<Advance> {};

TEST_P(ClockAdvance, RollsOverIntoTheRightDateAndWeekday) {
    const Advance& a = GetParam();
    winsim::SetLocalTime(At(a.from));
    winsim::AdvanceClock(a.milliseconds);
    SYSTEMTIME t;
    GetLocalTime(&t);
    EXPECT_EQ(t.wYear, a.to.year);
    EXPECT_EQ(t.wMonth, a.to.month);
    EXPECT_EQ(t.wDay, a.to.day);
    EXPECT_EQ(t.wHour, a.to.hour);
    EXPECT_EQ(t.wMinute, a.to.minute);
    EXPECT_EQ(t.wSecond, a.to.second);
    EXPECT_EQ(t.wMilliseconds, a.to.ms);
    EXPECT_EQ(t.wDayOfWeek, a.day_of_week);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, ClockAdvance, ::testing::ValuesIn(kAdvances));

struct Weekday {
    Moment date;
    WORD day_of_week;
};

std::ostream& operator<<(std::ostream& os, const Weekday& w) {
    return os << w.date.year << '-' << w.date.month << '-' << w.date.day;
}

const Weekday kWeekdays[] = {
    {{1601, 1, 1, 0, 0, 0, 0}, 1},    {{1900, 3, 1, 0, 0, 0, 0}, 4},
    {{1970, 1, 1, 0, 0, 0, 0}, 4},    {{2000, 1, 1, 0, 0, 0, 0}, 6},
    {{2024, 2, 29, 0, 0, 0, 0}, 4},   {{2020, 3, 1, 23, 59, 59, 999}, 0},
    {{9999, 12, 31, 0, 0, 0, 0}, 5},
};

class ClockWeekday : public WinsimTest, public ::testing::WithParamInterface<Weekday> {};

TEST_P(ClockWeekday, IsDerivedFromTheDate) {
    winsim::SetLocalTime(At(GetParam().date));
    SYSTEMTIME t;
    GetLocalTime(&t);
    EXPECT_EQ(t.wDayOfWeek, GetParam().day_of_week);
    EXPECT_EQ(t.wYear, GetParam().date.year);
    EXPECT_EQ(t.wDay, GetParam().date.day);
}

INSTANTIATE_TEST_SUITE_P(KnownDates, ClockWeekday, ::testing::ValuesIn(kWeekdays));

using ClockSetting = WinsimTest;

TEST_F(ClockSetting, RefusesDatesThatDoNotExist) {
    const Moment bad[] = {
        {2021, 2, 29, 0, 0, 0, 0}, {2021, 13, 1, 0, 0, 0, 0}, {2021, 4, 31, 0, 0, 0, 0},
        {2021, 1, 0, 0, 0, 0, 0},  {2021, 1, 1, 24, 0, 0, 0}, {2021, 1, 1, 0, 60, 0, 0},
        {2021, 1, 1, 0, 0, 60, 0}, {2021, 1, 1, 0, 0, 0, 1000}, {1600, 12, 31, 0, 0, 0, 0},
    };
    for (const Moment& m : bad) {
        EXPECT_THROW(winsim::SetLocalTime(At(m)), std::invalid_argument)
            << m.year << '-' << m.month << '-' << m.day << ' ' << m.hour << ':' << m.minute << ':'
            << m.second << '.' << m.ms;
    }
}

TEST_F(ClockSetting, StandsStillUntilAdvanced) {
    SYSTEMTIME a, b;
    GetLocalTime(&a);
    GetLocalTime(&b);
    EXPECT_EQ(a.wMilliseconds, b.wMilliseconds);
    EXPECT_EQ(a.wSecond, b.wSecond);
    winsim::AdvanceClock(2500);
    GetLocalTime(&b);
    EXPECT_EQ(b.wSecond, a.wSecond + 2);
    EXPECT_EQ(b.wMilliseconds, a.wMilliseconds + 500);
}

// ---------------------------------------------------------------------------
// Sleep

using ClockSleep = WinsimTest;

TEST_F(ClockSleep, AdvancesTheClockWithoutWaiting) {
    SYSTEMTIME before;
    GetLocalTime(&before);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 30; ++i) Sleep(1000);
    Sleep(0);
    Sleep(250);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    SYSTEMTIME after;
    GetLocalTime(&after);
    EXPECT_EQ(after.wMinute * 60 + after.wSecond, before.wMinute * 60 + before.wSecond + 30);
    EXPECT_EQ(after.wMilliseconds, before.wMilliseconds + 250);
    EXPECT_EQ(winsim::SleptMilliseconds(), 30250u);
    ASSERT_EQ(winsim::SleepCalls().size(), 32u);
    EXPECT_EQ(winsim::SleepCalls()[0], 1000u);
    EXPECT_EQ(winsim::SleepCalls()[30], 0u);
}

TEST_F(ClockSleep, LeavesTheLastErrorAloneAndIsNoFallibleCall) {
    SetLastError(ERROR_SHARING_VIOLATION);
    Sleep(10);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(winsim::CallLog().empty());
    EXPECT_THROW(winsim::CallCount("Sleep"), std::invalid_argument);
}

TEST_F(ClockSleep, ForeverThrowsInsteadOfHanging) {
    EXPECT_THROW(Sleep(0xFFFFFFFF), std::logic_error);
    EXPECT_TRUE(winsim::SleepCalls().empty());
}

TEST_F(ClockSleep, ResetForgetsTheSleeps) {
    Sleep(5);
    winsim::Reset();
    EXPECT_TRUE(winsim::SleepCalls().empty());
    EXPECT_EQ(winsim::SleptMilliseconds(), 0u);
}

}  // namespace
