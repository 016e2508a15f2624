// GetVersionExA, GetWindowsDirectoryA and GetSystemDirectoryA.

#include "conformance.h"

#include <cstring>
#include <string>

namespace {

using VersionTest = PlatformTest;

TEST_F(VersionTest, ReportsAnNtVersionInEitherStructure) {
    OSVERSIONINFOA info;
    std::memset(&info, 0xcc, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    SetLastError(kPoison);
    ASSERT_TRUE(GetVersionExA(&info)) << "error " << GetLastError();
    EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    EXPECT_GE(info.dwMajorVersion, 5u);
    EXPECT_LT(std::strlen(info.szCSDVersion), sizeof info.szCSDVersion);

    OSVERSIONINFOEXA ex;
    std::memset(&ex, 0xcc, sizeof ex);
    ex.dwOSVersionInfoSize = sizeof ex;
    ASSERT_TRUE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&ex)))
        << "error " << GetLastError();
    EXPECT_EQ(ex.dwMajorVersion, info.dwMajorVersion);
    EXPECT_EQ(ex.dwMinorVersion, info.dwMinorVersion);
    EXPECT_EQ(ex.dwBuildNumber, info.dwBuildNumber);
    EXPECT_STREQ(ex.szCSDVersion, info.szCSDVersion);
    EXPECT_EQ(ex.wProductType, VER_NT_WORKSTATION);
}

TEST_F(VersionTest, OtherStructureSizesAreInsufficientBufferAndLeaveItAlone) {
    static_assert(sizeof(OSVERSIONINFOA) == 148, "the structure Windows expects");
    static_assert(sizeof(OSVERSIONINFOEXA) == 156, "the structure Windows expects");
    for (DWORD size : {0u, 147u, 149u, 155u, 157u, 1000u}) {
        SCOPED_TRACE(size);
        OSVERSIONINFOEXA ex;
        std::memset(&ex, 0xcc, sizeof ex);
        ex.dwOSVersionInfoSize = size;
        SetLastError(kPoison);
        EXPECT_FALSE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&ex)));
        EXPECT_LAST_ERROR(ERROR_INSUFFICIENT_BUFFER);
        EXPECT_EQ(ex.dwMajorVersion, 0xccccccccu);
    }
}

std::string WindowsDirectory() {
    char buffer[MAX_PATH + 1] = {};
    const UINT length = GetWindowsDirectoryA(buffer, sizeof buffer);
    return std::string(buffer, length <= MAX_PATH ? length : 0);
}

using WindowsDirectoryTest = PlatformTest;

TEST_F(WindowsDirectoryTest, IsTheWindowsFolderOfDriveC) {
    char buffer[MAX_PATH + 1];
    std::memset(buffer, '#', sizeof buffer);
    SetLastError(kPoison);
    const UINT length = GetWindowsDirectoryA(buffer, sizeof buffer);
    ASSERT_GT(length, 0u) << "error " << GetLastError();
    EXPECT_EQ(std::strlen(buffer), length);
    EXPECT_EQ(lstrcmpiA(buffer, "C:\\Windows"), 0) << buffer;
    EXPECT_EQ(GetLastError(), kPoison);
    WIN32_FIND_DATAA data;
    HANDLE search = KeepFind(FindFirstFileA((std::string(buffer) + "\\INF").c_str(), &data));
    ASSERT_NE(search, INVALID_HANDLE_VALUE) << "the INF folder is there";
    EXPECT_NE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

using SystemDirectoryTest = PlatformTest;

TEST_F(SystemDirectoryTest, IsSystem32InTheWindowsFolder) {
    char buffer[MAX_PATH + 1];
    std::memset(buffer, '#', sizeof buffer);
    SetLastError(kPoison);
    const UINT length = GetSystemDirectoryA(buffer, sizeof buffer);
    ASSERT_GT(length, 0u) << "error " << GetLastError();
    EXPECT_EQ(std::strlen(buffer), length);
    EXPECT_EQ(lstrcmpiA(buffer, (WindowsDirectory() + "\\System32").c_str()), 0) << buffer;
    EXPECT_EQ(GetLastError(), kPoison);
    const DWORD attributes = GetFileAttributesA(buffer);
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << "the folder is there";
    EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

// The two calls share one contract for their buffer.
struct DirectoryCall {
    const char* name;
    UINT(WINAPI* get)(LPSTR, UINT);
};

class DirectoryBufferTest : public PlatformTest, public ::testing::WithParamInterface<DirectoryCall> {};

TEST_P(DirectoryBufferTest, TooSmallBufferGetsRequiredSizeAndIsUntouched) {
    const auto get = GetParam().get;
    char full[MAX_PATH + 1] = {};
    const UINT length = get(full, sizeof full);
    ASSERT_GT(length, 0u);
    ASSERT_LE(length, static_cast<UINT>(MAX_PATH));
    const std::string path(full, length);
    for (UINT size : {0u, 1u, length - 1, length}) {
        SCOPED_TRACE(size);
        char buffer[MAX_PATH + 1];
        std::memset(buffer, '#', sizeof buffer);
        SetLastError(kPoison);
        EXPECT_EQ(get(buffer, size), length + 1);
        EXPECT_EQ(GetLastError(), kPoison);
        EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '#'));
    }
    EXPECT_EQ(get(nullptr, 0), length + 1);
    char exact[MAX_PATH + 1];
    std::memset(exact, '#', sizeof exact);
    EXPECT_EQ(get(exact, length + 1), length);
    EXPECT_EQ(std::string(exact, length + 2), path + std::string("\0#", 2));
}

INSTANTIATE_TEST_SUITE_P(WindowsAndSystem, DirectoryBufferTest,
                         ::testing::Values(DirectoryCall{"GetWindowsDirectoryA", GetWindowsDirectoryA},
                                           DirectoryCall{"GetSystemDirectoryA", GetSystemDirectoryA}),
                         [](const ::testing::TestParamInfo<DirectoryCall>& info) { return info.param.name; });

}  // namespace
