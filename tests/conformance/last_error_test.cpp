// The thread's last-error value: what SetLastError stores, GetLastError reads.

#include "conformance.h"

namespace {

using LastErrorTest = PlatformTest;

TEST_F(LastErrorTest, SetThenGetRoundTrips) {
    const DWORD values[] = {0u, ERROR_FILE_NOT_FOUND, ERROR_ALREADY_EXISTS, ERROR_NO_MORE_ITEMS,
                            kPoison, 0xE000020Bu, 0xFFFFFFFFu};
    for (DWORD value : values) {
        SCOPED_TRACE(value);
        SetLastError(value);
        EXPECT_EQ(GetLastError(), value);
    }
}

TEST_F(LastErrorTest, ReadingDoesNotReset) {
    SetLastError(ERROR_SHARING_VIOLATION);
    EXPECT_LAST_ERROR(ERROR_SHARING_VIOLATION);
    EXPECT_LAST_ERROR(ERROR_SHARING_VIOLATION);
}

}  // namespace
