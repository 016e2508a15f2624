// GetTempPathA: the temporary folder with its trailing backslash.

#include "conformance.h"

#include <cstring>
#include <string>

namespace {

using TempPathTest = PlatformTest;

TEST_F(TempPathTest, ReturnsLengthOfPathEndingInBackslash) {
    char buffer[MAX_PATH + 1];
    std::memset(buffer, 'x', sizeof buffer);
    SetLastError(kPoison);
    DWORD length = GetTempPathA(MAX_PATH + 1, buffer);
    ASSERT_GT(length, 3u) << "error " << GetLastError();
    ASSERT_LE(length, static_cast<DWORD>(MAX_PATH));
    EXPECT_EQ(std::strlen(buffer), length);
    EXPECT_EQ(buffer[length - 1], '\\');
    EXPECT_EQ(buffer[1], ':') << buffer;
}

TEST_F(TempPathTest, NamesAnExistingFolder) {
    char buffer[MAX_PATH + 1] = {};
    DWORD length = GetTempPathA(MAX_PATH + 1, buffer);
    ASSERT_GT(length, 3u) << "error " << GetLastError();
    std::string folder(buffer, length - 1);  // without the trailing backslash
    WIN32_FIND_DATAA data;
    SetLastError(kPoison);
    HANDLE search = KeepFind(FindFirstFileA(folder.c_str(), &data));
    ASSERT_NE(search, INVALID_HANDLE_VALUE) << folder << ": error " << GetLastError();
    EXPECT_NE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_TRUE(CloseFind(search));
}

// A buffer too small: the size needed, terminator included, is returned and
// the ANSI function leaves the buffer alone (unlike GetTempPathW, which
// empties it). Some old NT versions overstated the size.
TEST_F(TempPathTest, TooSmallBufferGetsRequiredSizeAndIsUntouched) {
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(MAX_PATH + 1, path);
    ASSERT_GT(length, 3u) << "error " << GetLastError();
    const DWORD sizes[] = {1u, 2u, length / 2};
    for (DWORD size : sizes) {
        SCOPED_TRACE(size);
        char buffer[MAX_PATH + 1];
        std::memset(buffer, 'x', sizeof buffer);
        SetLastError(kPoison);
        EXPECT_EQ(GetTempPathA(size, buffer), length + 1);
        EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, 'x'));
    }
}

TEST_F(TempPathTest, NoBufferGetsRequiredSize) {
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(MAX_PATH + 1, path);
    ASSERT_GT(length, 3u) << "error " << GetLastError();
    SetLastError(kPoison);
    EXPECT_EQ(GetTempPathA(0, nullptr), length + 1);
}

}  // namespace
