// The simulator's fault plan and accounting: the program's tests rely on
// them to fail, so they must fail exactly where planned and count exactly.
#include <gtest/gtest.h>
#include <winsim/machine.h>

namespace {

class WinsimTest : public ::testing::Test {
protected:
    void SetUp() override { winsim::Reset(); }
};

TEST_F(WinsimTest, PlannedFaultHitsOnlyTheNthCallOfItsName) {
    winsim::FailNthCall("GetWindowsDirectoryA", 2, ERROR_ACCESS_DENIED);
    char folder[MAX_PATH];
    EXPECT_NE(GetWindowsDirectoryA(folder, MAX_PATH), 0u);
    EXPECT_NE(GetSystemDirectoryA(folder, MAX_PATH), 0u);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetWindowsDirectoryA(folder, MAX_PATH), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_NE(GetWindowsDirectoryA(folder, MAX_PATH), 0u);
    EXPECT_EQ(winsim::CallCount("GetWindowsDirectoryA"), 3u);
    EXPECT_EQ(winsim::CallLog(), (std::vector<std::string>{"GetWindowsDirectoryA", "GetSystemDirectoryA",
                                                           "GetWindowsDirectoryA", "GetWindowsDirectoryA"}));
}

// A registry call reports through its result and leaves the last error.
TEST_F(WinsimTest, FailedRegistryCallReturnsTheCode) {
    winsim::FailNthCall("RegOpenKeyExA", 1, ERROR_ACCESS_DENIED);
    HKEY key = nullptr;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key), ERROR_ACCESS_DENIED);
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

// Every kind of handle and allocation counts until it is released; a failed
// release keeps it counted; Reset forgets them.
TEST_F(WinsimTest, HandlesAndAllocationsCountUntilReleased) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key), ERROR_SUCCESS);
    HDEVINFO devices = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    HANDLE file = CreateFileA("C:\\x.log", GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("C:\\x.log", &found);
    void* block = LocalAlloc(LPTR, 16);
    ASSERT_TRUE(devices != INVALID_HANDLE_VALUE && manager && file != INVALID_HANDLE_VALUE &&
                search != INVALID_HANDLE_VALUE && block);
    EXPECT_EQ(winsim::OpenHandleCount(), 5u);
    EXPECT_EQ(winsim::LiveAllocationCount(), 1u);
    winsim::FailNthCall("CloseHandle", 1, ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(file));
    EXPECT_EQ(winsim::OpenHandleCount(), 5u);
    EXPECT_TRUE(CloseHandle(file) && FindClose(search) && CloseServiceHandle(manager) &&
                SetupDiDestroyDeviceInfoList(devices) && RegCloseKey(key) == ERROR_SUCCESS);
    EXPECT_EQ(LocalFree(block), nullptr);
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
    EXPECT_EQ(winsim::LiveAllocationCount(), 0u);
    ASSERT_NE(LocalAlloc(LPTR, 1), nullptr);
    winsim::Reset();
    EXPECT_EQ(winsim::LiveAllocationCount(), 0u);
    EXPECT_EQ(winsim::CallCount("LocalAlloc"), 0u);
}

}  // namespace
