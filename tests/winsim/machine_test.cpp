// The machine around the calls: Reset, leak accounting, the handle table, the
// set-up helpers, the temporary path setting and the debugger channel.
#include "winsim_test.h"

#include <gtest/gtest-spi.h>

#include <cstring>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

HANDLE OpenNew(const char* path) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string TempPath() {
    char buffer[MAX_PATH];
    const DWORD n = GetTempPathA(MAX_PATH, buffer);
    return n == 0 || n >= MAX_PATH ? std::string() : std::string(buffer, n);
}

bool SameTime(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// ---------------------------------------------------------------------------
// Reset

TEST(WinsimReset, GivesAFreshMachineWhateverTheOldOneHeld) {
    winsim::Reset();
    SYSTEMTIME fresh_clock;
    GetLocalTime(&fresh_clock);
    const std::string fresh_temp = TempPath();

    // Dirty every part of the machine.
    ASSERT_TRUE(winsim::MakeDirectories("C:\\Program Files\\Vendor"));
    ASSERT_TRUE(winsim::PutFile("C:\\Windows\\INF\\oem1.inf", "[Version]"));
    ASSERT_TRUE(RemoveDirectoryA("C:\\Windows\\System32"));
    HANDLE leaked_file = OpenNew("C:\\leak.txt");
    ASSERT_NE(leaked_file, INVALID_HANDLE_VALUE);
    WIN32_FIND_DATAA data;
    ASSERT_NE(FindFirstFileA("C:\\Windows\\*", &data), INVALID_HANDLE_VALUE);
    ASSERT_NE(LocalAlloc(LPTR, 32), nullptr);
    OutputDebugStringA("old");
    winsim::AdvanceClock(86400000);
    winsim::SetTempPath("D:\\elsewhere\\");
    winsim::FailEveryCall("CreateFileA", ERROR_ACCESS_DENIED);
    SetLastError(ERROR_INVALID_DATA);

    winsim::Reset();

    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
    EXPECT_EQ(winsim::LiveAllocationCount(), 0u);
    EXPECT_TRUE(winsim::CallLog().empty());
    EXPECT_EQ(winsim::CallCount("CreateFileA"), 0u);
    EXPECT_TRUE(winsim::DebugOutput().empty());
    EXPECT_EQ(GetLastError(), 0u);
    SYSTEMTIME clock;
    GetLocalTime(&clock);
    EXPECT_TRUE(SameTime(clock, fresh_clock));
    EXPECT_EQ(TempPath(), fresh_temp);
    EXPECT_FALSE(winsim::Exists("C:\\Program Files"));
    EXPECT_FALSE(winsim::Exists("C:\\Windows\\INF\\oem1.inf"));
    EXPECT_FALSE(winsim::Exists("C:\\leak.txt"));
    EXPECT_TRUE(winsim::Exists("C:\\Windows\\System32"));
    HANDLE h = OpenNew("C:\\leak.txt");
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << "no fault is planned any more";
    CloseHandle(h);
    winsim::Reset();
}

TEST(WinsimReset, CreatesTheStandardFoldersAndTemporaryPath) {
    winsim::Reset();
    for (const char* folder :
         {"C:\\Windows", "C:\\Windows\\System32", "C:\\Windows\\INF",
          "C:\\Users\\user\\AppData\\Local\\Temp"}) {
        EXPECT_TRUE(winsim::Exists(folder)) << folder;
        EXPECT_FALSE(winsim::FileContents(folder).has_value()) << folder << " is a folder";
    }
    EXPECT_EQ(TempPath(), "C:\\Users\\user\\AppData\\Local\\Temp\\");
    SYSTEMTIME t;
    GetLocalTime(&t);
    EXPECT_EQ(t.wYear, 2021);
    EXPECT_EQ(t.wMonth, 3);
    EXPECT_EQ(t.wDay, 2);
    EXPECT_EQ(t.wHour, 9);
    EXPECT_EQ(t.wMinute, 5);
    EXPECT_EQ(t.wSecond, 3);
    EXPECT_EQ(t.wMilliseconds, 7);
    EXPECT_EQ(t.wDayOfWeek, 2) << "a Tuesday";
}

// ---------------------------------------------------------------------------
// Leak accounting

using WinsimAccounting = WinsimTest;

TEST_F(WinsimAccounting, CountsOpenHandlesOfEveryKind) {
    HANDLE file = OpenNew("C:\\a.txt");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(winsim::OpenHandleCount(), 1u);
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA("C:\\*", &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_EQ(winsim::OpenHandleCount(), 2u);

    // Failed opens add nothing.
    EXPECT_EQ(OpenNew("C:\\a.txt"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(FindFirstFileA("C:\\nothing*", &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(winsim::OpenHandleCount(), 2u);

    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(winsim::OpenHandleCount(), 1u);
    EXPECT_TRUE(FindClose(find));
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(WinsimAccounting, CountsLiveBlocksFromLocalAllocAndFormatMessage) {
    HLOCAL block = LocalAlloc(LMEM_FIXED, 100);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(winsim::LiveAllocationCount(), 1u);
    char* text = nullptr;
    ASSERT_NE(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
                             ERROR_FILE_NOT_FOUND, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr),
              0u);
    EXPECT_EQ(winsim::LiveAllocationCount(), 2u);

    // A failed free releases nothing.
    int not_a_block = 0;
    EXPECT_EQ(LocalFree(&not_a_block), static_cast<HLOCAL>(&not_a_block));
    EXPECT_EQ(winsim::LiveAllocationCount(), 2u);

    EXPECT_EQ(LocalFree(text), nullptr);
    EXPECT_EQ(LocalFree(block), nullptr);
    EXPECT_EQ(winsim::LiveAllocationCount(), 0u);
    EXPECT_EQ(LocalFree(block), block) << "a block cannot be freed twice";
}

// Runs the shared fixture around a test body that forgets to release.
class FixtureProbe : public WinsimTest {
public:
    void TestBody() override {}
    using WinsimTest::SetUp;
    using WinsimTest::TearDown;
};

void LeakAHandleUnderTheFixture() {
    FixtureProbe probe;
    probe.SetUp();
    OpenNew("C:\\forgotten.txt");
    probe.TearDown();
}

void LeakABlockUnderTheFixture() {
    FixtureProbe probe;
    probe.SetUp();
    LocalAlloc(LPTR, 8);
    probe.TearDown();
}

void LeakAFindHandleUnderTheFixture() {
    FixtureProbe probe;
    probe.SetUp();
    WIN32_FIND_DATAA data;
    FindFirstFileA("C:\\Windows\\*", &data);
    probe.TearDown();
}

TEST(WinsimLeakCheck, TheFixtureReportsALeakedFileHandle) {
    EXPECT_NONFATAL_FAILURE(LeakAHandleUnderTheFixture(), "a handle was left open");
    winsim::Reset();
}

TEST(WinsimLeakCheck, TheFixtureReportsALeakedFindHandle) {
    EXPECT_NONFATAL_FAILURE(LeakAFindHandleUnderTheFixture(), "a handle was left open");
    winsim::Reset();
}

TEST(WinsimLeakCheck, TheFixtureReportsALeakedAllocation) {
    EXPECT_NONFATAL_FAILURE(LeakABlockUnderTheFixture(), "an allocation was not freed");
    winsim::Reset();
}

// ---------------------------------------------------------------------------
// Handle table

using WinsimHandles = WinsimTest;

TEST_F(WinsimHandles, AreDistinctAndNeverNullOrInvalid) {
    ASSERT_TRUE(winsim::PutFile("C:\\shared.txt", "x"));
    std::set<HANDLE> seen;
    std::vector<HANDLE> files;
    for (int i = 0; i < 20; ++i) {
        HANDLE h = CreateFileA("C:\\shared.txt", GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        ASSERT_NE(h, nullptr);
        files.push_back(h);
        seen.insert(h);
    }
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA("C:\\*", &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    ASSERT_NE(find, nullptr);
    seen.insert(find);
    EXPECT_EQ(seen.size(), 21u);
    for (HANDLE h : files) CloseHandle(h);
    FindClose(find);
}

TEST_F(WinsimHandles, AClosedHandleStaysInvalid) {
    HANDLE first = OpenNew("C:\\one.txt");
    ASSERT_TRUE(CloseHandle(first));
    HANDLE second = OpenNew("C:\\two.txt");
    EXPECT_NE(second, first) << "values are not reused, so stale use is caught";
    SetLastError(0);
    EXPECT_EQ(GetFileSize(first, nullptr), INVALID_FILE_SIZE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseHandle(first));
    CloseHandle(second);
}

TEST_F(WinsimHandles, EachCallAcceptsOnlyItsOwnKind) {
    HANDLE file = OpenNew("C:\\k.txt");
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA("C:\\*", &data);
    SetLastError(0);
    EXPECT_FALSE(FindClose(file));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(find));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    DWORD n = 0;
    EXPECT_FALSE(WriteFile(find, "x", 1, &n, nullptr));
    EXPECT_EQ(SetFilePointer(find, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(winsim::OpenHandleCount(), 2u) << "refused closes leave both open";
    CloseHandle(file);
    FindClose(find);
}

// ---------------------------------------------------------------------------
// Set-up and inspection helpers

using WinsimFiles = WinsimTest;

TEST_F(WinsimFiles, PutFileNeedsAnExistingFolder) {
    EXPECT_FALSE(winsim::PutFile("C:\\Vendor\\Driver\\a.sys", "MZ"));
    EXPECT_FALSE(winsim::Exists("C:\\Vendor"));
    ASSERT_TRUE(winsim::MakeDirectories("C:\\Vendor\\Driver"));
    EXPECT_TRUE(winsim::PutFile("C:\\Vendor\\Driver\\a.sys", "MZ"));
    EXPECT_EQ(winsim::FileContents("c:/VENDOR//driver/./A.SYS"), "MZ");
}

TEST_F(WinsimFiles, PutFileOverwritesAFileButNotAFolder) {
    ASSERT_TRUE(winsim::PutFile("C:\\a.txt", "old"));
    EXPECT_TRUE(winsim::PutFile("C:\\A.TXT", std::string("new\0data", 8)));
    EXPECT_EQ(winsim::FileContents("C:\\a.txt"), std::string("new\0data", 8));
    EXPECT_FALSE(winsim::PutFile("C:\\Windows", "x"));
    EXPECT_FALSE(winsim::FileContents("C:\\Windows").has_value());
}

TEST_F(WinsimFiles, PutFileStoresTheAttributesCreateFileChecks) {
    ASSERT_TRUE(winsim::PutFile("C:\\ro.txt", "x", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(CreateFileA("C:\\ro.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA("C:\\ro.txt", &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_READONLY);
    FindClose(find);
}

TEST_F(WinsimFiles, MakeDirectoriesCreatesTheWholeChainButNotThroughAFile) {
    EXPECT_TRUE(winsim::MakeDirectories("C:\\a\\b\\c"));
    EXPECT_TRUE(winsim::Exists("C:\\a\\b"));
    EXPECT_TRUE(winsim::Exists("c:\\A\\B\\C\\"));
    EXPECT_TRUE(winsim::MakeDirectories("C:\\a\\b\\c")) << "existing folders are fine";
    ASSERT_TRUE(winsim::PutFile("C:\\a\\file", ""));
    EXPECT_FALSE(winsim::MakeDirectories("C:\\a\\file\\d"));
    EXPECT_FALSE(winsim::MakeDirectories("Q:\\nodrive"));
}

TEST_F(WinsimFiles, NamesKeepTheCaseTheyWereCreatedWith) {
    ASSERT_TRUE(winsim::MakeDirectories("C:\\MixedCase"));
    ASSERT_TRUE(winsim::PutFile("C:\\mixedcase\\ReadMe.TXT", "x"));
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA("C:\\MIXEDCASE\\readme.txt", &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, "ReadMe.TXT");
    FindClose(find);
    find = FindFirstFileA("C:\\mixedcase", &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, "MixedCase");
    FindClose(find);
}

TEST_F(WinsimFiles, ADeletedFileIsGoneAtOnceWhileItsHandleStillWorks) {
    ASSERT_TRUE(winsim::PutFile("C:\\open.txt", "abc"));
    HANDLE h = CreateFileA("C:\\open.txt", GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(DeleteFileA("C:\\open.txt"));
    EXPECT_FALSE(winsim::Exists("C:\\open.txt"));
    char buffer[4] = {};
    DWORD n = 0;
    EXPECT_TRUE(ReadFile(h, buffer, 3, &n, nullptr));
    EXPECT_STREQ(buffer, "abc");
    CloseHandle(h);
}

// ---------------------------------------------------------------------------
// Temporary path setting

using WinsimTempPath = WinsimTest;

TEST_F(WinsimTempPath, ReportsWhatWasSet) {
    winsim::SetTempPath("D:\\T\\");
    EXPECT_EQ(TempPath(), "D:\\T\\");
}

TEST_F(WinsimTempPath, AnEmptySettingMakesGetTempPathFail) {
    winsim::SetTempPath("");
    char buffer[MAX_PATH];
    std::memset(buffer, 'Q', sizeof buffer);
    SetLastError(0);
    EXPECT_EQ(GetTempPathA(MAX_PATH, buffer), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
    EXPECT_EQ(buffer[0], 'Q');
}

// ---------------------------------------------------------------------------
// Windows version

using WinsimVersion = WinsimTest;

OSVERSIONINFOEXA Version() {
    OSVERSIONINFOEXA info;
    std::memset(&info, 0xcc, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    EXPECT_TRUE(GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info)));
    return info;
}

TEST_F(WinsimVersion, AFreshMachineIsWindows10) {
    const OSVERSIONINFOEXA info = Version();
    EXPECT_EQ(info.dwMajorVersion, 10u);
    EXPECT_EQ(info.dwMinorVersion, 0u);
    EXPECT_EQ(info.dwBuildNumber, 19045u);
    EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    EXPECT_STREQ(info.szCSDVersion, "");
    EXPECT_EQ(info.wServicePackMajor, 0);
    EXPECT_EQ(info.wProductType, VER_NT_WORKSTATION);
}

TEST_F(WinsimVersion, ReportsWhatWasSetUntilReset) {
    winsim::SetWindowsVersion(5, 1, 2600, "Service Pack 3", 3, 0);
    OSVERSIONINFOEXA info = Version();
    EXPECT_EQ(info.dwMajorVersion, 5u);
    EXPECT_EQ(info.dwMinorVersion, 1u);
    EXPECT_EQ(info.dwBuildNumber, 2600u);
    EXPECT_STREQ(info.szCSDVersion, "Service Pack 3");
    EXPECT_EQ(info.wServicePackMajor, 3);
    EXPECT_EQ(info.wServicePackMinor, 0);
    OSVERSIONINFOA plain;
    std::memset(&plain, 0xcc, sizeof plain);
    plain.dwOSVersionInfoSize = sizeof plain;
    ASSERT_TRUE(GetVersionExA(&plain));
    EXPECT_STREQ(plain.szCSDVersion, "Service Pack 3");
    EXPECT_EQ(plain.szCSDVersion[sizeof plain.szCSDVersion - 1], '\0') << "the rest is cleared";
    winsim::Reset();
    EXPECT_EQ(Version().dwMajorVersion, 10u);
}

TEST_F(WinsimVersion, AServicePackNameMustFitTheStructure) {
    EXPECT_THROW(winsim::SetWindowsVersion(6, 1, 7601, std::string(128, 'x')),
                 std::invalid_argument);
    EXPECT_NO_THROW(winsim::SetWindowsVersion(6, 1, 7601, std::string(127, 'x')));
    EXPECT_EQ(std::strlen(Version().szCSDVersion), 127u);
}

// ---------------------------------------------------------------------------
// Debugger channel

using WinsimDebugger = WinsimTest;

TEST_F(WinsimDebugger, CapturesOneEntryPerCallAsPassed) {
    OutputDebugStringA("INSTx64: start\r\n");
    OutputDebugStringA("");
    OutputDebugStringA(nullptr);
    OutputDebugStringA("two\nlines");
    const std::vector<std::string> expected = {"INSTx64: start\r\n", "", "two\nlines"};
    EXPECT_EQ(winsim::DebugOutput(), expected);
    winsim::ClearDebugOutput();
    EXPECT_TRUE(winsim::DebugOutput().empty());
    OutputDebugStringA("after");
    EXPECT_EQ(winsim::DebugOutput(), std::vector<std::string>{"after"});
}

TEST_F(WinsimDebugger, NeverTouchesTheLastErrorValueAndIsNotAFallibleCall) {
    SetLastError(ERROR_SHARING_VIOLATION);
    OutputDebugStringA("x");
    OutputDebugStringA(nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(winsim::CallLog().empty());
}

TEST_F(WinsimDebugger, KeepsItsOwnCopyOfTheText) {
    char text[] = "first";
    OutputDebugStringA(text);
    std::strcpy(text, "later");
    EXPECT_EQ(winsim::DebugOutput().at(0), "first");
}

// ---------------------------------------------------------------------------
// Last-error value

TEST(WinsimLastError, IsKeptPerThread) {
    SetLastError(ERROR_FILE_EXISTS);
    DWORD seen_by_other = 1;
    std::thread other([&] {
        seen_by_other = GetLastError();
        SetLastError(ERROR_INVALID_DATA);
    });
    other.join();
    EXPECT_EQ(seen_by_other, 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
}

}  // namespace
