// The simulator's accounting: the program's tests rely on it to find a
// handle left open or a block not freed, so it must count exactly.
#include <gtest/gtest.h>
#include <winsim/machine.h>

namespace {

class WinsimTest : public ::testing::Test {
protected:
    void SetUp() override { winsim::Reset(); }
};

// Every kind of handle and allocation counts until it is released; a failed
// release keeps it counted.
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
}

}  // namespace
