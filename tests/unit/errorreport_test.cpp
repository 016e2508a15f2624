// Error-code reporting: the system's text in the log, and the last-error
// value that device-installation callers read afterwards.
#include "common.h"
#include "trace_harness.h"
#include "winsim_test.h"

#include <string>

namespace {

using Lines = std::vector<std::string>;

constexpr DWORD kNoSuchDevInst = 0xE000020B;  // SetupAPI code: no system text

class ErrorReportTest : public WinsimTest {};

TEST_F(ErrorReportTest, CodeWithSystemTextEndsInItsLineEnd) {
    QV_FormatErrorCode(ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Trace(), (Lines{"QV_FormatErrorCode: ErrorCode(2):The system cannot find the file specified.\r\n"}));
}

TEST_F(ErrorReportTest, CodeWithoutTextIsLoggedAsANegativeNumberWithoutLineEnd) {
    QV_FormatErrorCode(kNoSuchDevInst);
    EXPECT_EQ(Trace(), (Lines{"QV_FormatErrorCode: ErrorCode(-536870389)"}));
}

TEST_F(ErrorReportTest, DisplayErrorAddsTheSystemTextAndItsOwnLineEnd) {
    SetLastError(ERROR_ACCESS_DENIED);
    QV_DisplayError("SetupDiGetINFClass");
    EXPECT_EQ(Trace(), (Lines{"QV_DisplayError: SetupDiGetINFClass FAILURE: Code=5 : Access is denied.\r\n\n"}));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(ErrorReportTest, DisplayErrorRestoresTheCodeAfterAFailedLookup) {
    SetLastError(kNoSuchDevInst);
    QV_DisplayError("UpdateDriverForPlugAndPlayDevices");
    EXPECT_EQ(Trace(), (Lines{"QV_DisplayError: UpdateDriverForPlugAndPlayDevices FAILURE: Code=-536870389\n"}));
    EXPECT_EQ(GetLastError(), kNoSuchDevInst);
}

TEST_F(ErrorReportTest, FailedLookupIsStillLogged) {
    winsim::FailEveryCall("FormatMessageA", ERROR_NOT_ENOUGH_MEMORY);
    QV_FormatErrorCode(ERROR_ACCESS_DENIED);
    SetLastError(ERROR_NO_MORE_ITEMS);
    QV_DisplayError("EnumDeviceInfo");
    EXPECT_EQ(Trace(), (Lines{"QV_FormatErrorCode: ErrorCode(5)",
                              "QV_DisplayError: EnumDeviceInfo FAILURE: Code=259\n"}));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
}

TEST_F(ErrorReportTest, SystemTextIsFreedEveryTime) {
    for (DWORD code : {0u, 2u, 87u, 259u}) {
        QV_FormatErrorCode(code);
        SetLastError(code);
        QV_DisplayError("x");
    }
    EXPECT_EQ(winsim::CallCount("LocalFree"), 8u);
    // The fixture checks that no allocation is left.
}

}  // namespace
