// GetLocalTime and OutputDebugStringA.

#include "conformance.h"

#include <cstring>

namespace {

using LocalTimeTest = PlatformTest;
using DebugOutputTest = PlatformTest;

// Day of the week (0 = Sunday) of a Gregorian date.
int DayOfWeek(int year, int month, int day) {
    static const int offsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 3) year -= 1;
    return (year + year / 4 - year / 100 + year / 400 + offsets[month - 1] + day) % 7;
}

TEST_F(LocalTimeTest, FieldsArePlausible) {
    SYSTEMTIME time;
    std::memset(&time, 0xff, sizeof time);
    GetLocalTime(&time);
    EXPECT_GE(time.wYear, 2000);
    EXPECT_LE(time.wYear, 2200);
    EXPECT_GE(time.wMonth, 1);
    EXPECT_LE(time.wMonth, 12);
    EXPECT_GE(time.wDay, 1);
    EXPECT_LE(time.wDay, 31);
    EXPECT_LT(time.wHour, 24);
    EXPECT_LT(time.wMinute, 60);
    EXPECT_LT(time.wSecond, 60);
    EXPECT_LT(time.wMilliseconds, 1000);
    ASSERT_LE(time.wDayOfWeek, 6);
    if (time.wMonth >= 1 && time.wMonth <= 12) {
        EXPECT_EQ(time.wDayOfWeek, DayOfWeek(time.wYear, time.wMonth, time.wDay));
    }
}

// Without a debugger, Wine's OutputDebugStringA leaves the error of its
// failed look-up of the DBWIN_BUFFER monitor (ERROR_FILE_NOT_FOUND); the
// trace writer restores the value itself afterwards.
TEST_F(DebugOutputTest, KeepsLastErrorValue) {
    const char* lines[] = {"INSTx64: ->main(argc=2)\n", "", "no line end"};
    const DWORD values[] = {kPoison, ERROR_SUCCESS, ERROR_NO_MORE_ITEMS};
    const bool wine = RunningUnderWine();
    if (wine) NoteWineDifference("OutputDebugStringA sets the last error to ERROR_FILE_NOT_FOUND");
    for (const char* line : lines) {
        for (DWORD value : values) {
            SCOPED_TRACE(testing::Message() << '"' << line << "\" with " << value);
            SetLastError(value);
            OutputDebugStringA(line);
            EXPECT_EQ(GetLastError(), wine ? static_cast<DWORD>(ERROR_FILE_NOT_FOUND) : value);
        }
    }
}

}  // namespace
