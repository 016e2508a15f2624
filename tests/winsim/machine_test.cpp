// The machine around the calls: Reset, leak accounting, the handle table,
// the file helpers, the settings and the debugger channel.
#include "winsim_test.h"

#include <gtest/gtest-spi.h>

#include <set>
#include <string>
#include <vector>

namespace {

HANDLE OpenNew(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
}

std::string TempPath() {
    char buffer[MAX_PATH];
    const DWORD n = GetTempPathA(MAX_PATH, buffer);
    return n == 0 || n >= MAX_PATH ? std::string() : std::string(buffer, n);
}

// ---------------------------------------------------------------------------
// Reset

TEST(WinsimReset, GivesTheFreshMachineWhateverTheOldOneHeld) {
    winsim::Reset();
    ASSERT_TRUE(winsim::MakeDirectories("C:\\Vendor"));
    ASSERT_TRUE(winsim::PutFile("C:\\Vendor\\a.sys", "MZ"));
    ASSERT_TRUE(winsim::SetFileInUse("C:\\Vendor\\a.sys"));
    ASSERT_TRUE(MoveFileExA("C:\\Vendor\\a.sys", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    ASSERT_TRUE(RemoveDirectoryA("C:\\Windows\\INF"));
    ASSERT_NE(OpenNew("C:\\leak.txt"), INVALID_HANDLE_VALUE);
    ASSERT_NE(LocalAlloc(LPTR, 32), nullptr);
    OutputDebugStringA("old");
    Sleep(5);
    winsim::AdvanceClock(86400000);
    winsim::SetTempPath("D:\\elsewhere\\");
    winsim::SetWindowsVersion(5, 1, 2600);
    ASSERT_TRUE(winsim::SetRegistryString("SOFTWARE\\Vendor", "Name", "x"));
    ASSERT_TRUE(winsim::DenyRegistryAccess("SOFTWARE", KEY_READ));
    winsim::Service service;
    service.name = "QVMIRROR";
    ASSERT_TRUE(winsim::AddService(service));
    winsim::Device device;
    device.instance_id = "ROOT\\DISPLAY\\0000";
    ASSERT_TRUE(winsim::AddDevice(device));
    winsim::FailEveryCall("CreateFileA", ERROR_ACCESS_DENIED);
    SetLastError(ERROR_INVALID_DATA);

    winsim::Reset();

    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
    EXPECT_EQ(winsim::LiveAllocationCount(), 0u);
    EXPECT_TRUE(winsim::CallLog().empty());
    EXPECT_EQ(winsim::CallCount("CreateFileA"), 0u);
    EXPECT_TRUE(winsim::DebugOutput().empty());
    EXPECT_TRUE(winsim::SleepCalls().empty());
    EXPECT_EQ(winsim::SleptMilliseconds(), 0u);
    EXPECT_EQ(GetLastError(), 0u);
    SYSTEMTIME t;
    GetLocalTime(&t);
    EXPECT_EQ(std::vector<WORD>({t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
                                 t.wMilliseconds, t.wDayOfWeek}),
              std::vector<WORD>({2021, 3, 2, 9, 5, 3, 7, 2}));
    OSVERSIONINFOA version;
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(GetVersionExA(&version));
    EXPECT_EQ(std::vector<DWORD>({version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber}),
              std::vector<DWORD>({10, 0, 19045}));
    EXPECT_EQ(TempPath(), "C:\\Users\\user\\AppData\\Local\\Temp\\");
    for (const char* folder : {"C:\\Windows\\System32", "C:\\Windows\\INF",
                               "C:\\Users\\user\\AppData\\Local\\Temp"}) {
        EXPECT_TRUE(winsim::Exists(folder) && !winsim::FileContents(folder)) << folder;
    }
    EXPECT_FALSE(winsim::Exists("C:\\Vendor"));
    EXPECT_TRUE(winsim::PendingFileOperations().empty());
    EXPECT_TRUE(winsim::Devices().empty());
    EXPECT_FALSE(winsim::FindService("QVMIRROR"));
    const std::string display =
        "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E968-E325-11CE-BFC1-08002BE10318}";
    EXPECT_EQ(winsim::GetRegistryString(display, "Class"), "Display");
    EXPECT_TRUE(winsim::RegistryKeyExists("SYSTEM\\CurrentControlSet\\Control\\Session Manager"));
    EXPECT_FALSE(winsim::RegistryKeyExists("SOFTWARE\\Vendor"));
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key), ERROR_SUCCESS)
        << "the denial went with the old machine";
    RegCloseKey(key);
    HANDLE h = OpenNew("C:\\leak.txt");
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << "the file and the planned fault are gone";
    CloseHandle(h);
}

// ---------------------------------------------------------------------------
// Leak accounting: the shared fixture sees whatever a test leaves behind.

struct Leak {
    const char* kind;
    void (*leave)();
    const char* report;
};

void PrintTo(const Leak& leak, std::ostream* os) { *os << leak.kind; }

constexpr char kHandleLeft[] = "a handle was left open";
constexpr char kBlockLeft[] = "an allocation was not freed";

const Leak kLeaks[] = {
    {"File", [] { OpenNew("C:\\forgotten.txt"); }, kHandleLeft},
    {"Search", [] { WIN32_FIND_DATAA d; FindFirstFileA("C:\\*", &d); }, kHandleLeft},
    {"Key", [] { HKEY k; RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &k); },
     kHandleLeft},
    {"ServiceManager", [] { OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT); }, kHandleLeft},
    {"Service",
     [] {
         winsim::Service service;
         service.name = "QVMIRROR";
         winsim::AddService(service);
         SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
         OpenServiceA(manager, "QVMIRROR", SERVICE_ALL_ACCESS);
         CloseServiceHandle(manager);
     },
     kHandleLeft},
    {"DeviceInfoSet", [] { SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES); },
     kHandleLeft},
    {"LocalBlock", [] { LocalAlloc(LPTR, 8); }, kBlockLeft},
    {"MessageBuffer",
     [] {
         char* text = nullptr;
         FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
                        ERROR_FILE_NOT_FOUND, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
     },
     kBlockLeft},
};

void RunTheFixtureAround(void (*body)()) {
    struct Probe : WinsimTest {
        void TestBody() override {}
        using WinsimTest::SetUp;
        using WinsimTest::TearDown;
    } probe;
    probe.SetUp();
    body();
    probe.TearDown();
}

class WinsimLeakCheck : public ::testing::TestWithParam<Leak> {};

TEST_P(WinsimLeakCheck, TheFixtureReportsIt) {
    EXPECT_NONFATAL_FAILURE(RunTheFixtureAround(GetParam().leave), GetParam().report);
    winsim::Reset();
}

INSTANTIATE_TEST_SUITE_P(EachKind, WinsimLeakCheck, ::testing::ValuesIn(kLeaks),
                         [](const ::testing::TestParamInfo<Leak>& info) {
                             return std::string(info.param.kind);
                         });

// ---------------------------------------------------------------------------
// The handle table: values are distinct and never reused, so that a stale or
// mistaken handle is caught, and each kind is closed by its own call only.

using WinsimHandles = WinsimTest;

TEST_F(WinsimHandles, AreDistinctNeverReusedAndClosedByTheirOwnCallOnly) {
    const struct {
        const char* kind;
        void* (*open)();
        bool (*close)(void*);
    } kinds[] = {
        {"file", [] { static int n; return static_cast<void*>(OpenNew("C:\\" + std::to_string(++n))); },
         [](void* h) { return CloseHandle(h) != FALSE; }},
        {"search", [] { WIN32_FIND_DATAA d; return static_cast<void*>(FindFirstFileA("C:\\*", &d)); },
         [](void* h) { return FindClose(h) != FALSE; }},
        {"key",
         [] {
             HKEY k = nullptr;
             RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &k);
             return static_cast<void*>(k);
         },
         [](void* h) { return RegCloseKey(static_cast<HKEY>(h)) == ERROR_SUCCESS; }},
        {"manager", [] { return static_cast<void*>(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT)); },
         [](void* h) { return CloseServiceHandle(static_cast<SC_HANDLE>(h)) != FALSE; }},
        {"set", [] { return SetupDiCreateDeviceInfoList(nullptr, nullptr); },
         [](void* h) { return SetupDiDestroyDeviceInfoList(h) != FALSE; }},
        {"block", [] { return static_cast<void*>(LocalAlloc(LMEM_FIXED, 8)); },
         [](void* h) { return LocalFree(h) == nullptr; }},
    };
    std::vector<void*> open;
    for (const auto& kind : kinds) open.push_back(kind.open());
    const std::set<void*> seen(open.begin(), open.end());
    EXPECT_EQ(seen.size(), open.size());
    EXPECT_EQ(seen.count(nullptr) + seen.count(INVALID_HANDLE_VALUE), 0u);
    for (size_t k = 0; k < open.size(); ++k) {
        SCOPED_TRACE(kinds[k].kind);
        for (const auto& other : kinds) {
            if (&other != &kinds[k]) { EXPECT_FALSE(other.close(open[k])) << other.kind; }
        }
        EXPECT_TRUE(kinds[k].close(open[k])) << "refused closes left it open";
        EXPECT_FALSE(kinds[k].close(open[k])) << "a closed handle stays invalid";
        void* next = kinds[k].open();
        EXPECT_EQ(seen.count(next), 0u) << "values are not reused";
        EXPECT_TRUE(kinds[k].close(next));
    }
}

// ---------------------------------------------------------------------------
// File helpers, the temporary path, the debugger channel

using WinsimHelpers = WinsimTest;

TEST_F(WinsimHelpers, PutFileAndMakeDirectories) {
    EXPECT_FALSE(winsim::PutFile("C:\\Vendor\\Driver\\a.sys", "MZ")) << "no folder made on the way";
    EXPECT_FALSE(winsim::Exists("C:\\Vendor"));
    ASSERT_TRUE(winsim::MakeDirectories("C:\\Vendor\\Driver"));
    EXPECT_TRUE(winsim::MakeDirectories("c:\\vendor")) << "an existing folder is fine";
    EXPECT_TRUE(winsim::PutFile("C:\\Vendor\\Driver\\a.sys", "MZ", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(winsim::FileContents("c:/VENDOR//driver/A.SYS"), "MZ");
    EXPECT_EQ(GetFileAttributesA("C:\\Vendor\\Driver\\a.sys"), DWORD{FILE_ATTRIBUTE_READONLY});
    EXPECT_TRUE(winsim::PutFile("C:\\Vendor\\Driver\\A.SYS", std::string("new\0data", 8)));
    EXPECT_EQ(winsim::FileContents("C:\\Vendor\\Driver\\a.sys"), std::string("new\0data", 8));
    EXPECT_FALSE(winsim::PutFile("C:\\Vendor", "x")) << "a folder is no file";
    EXPECT_FALSE(winsim::FileContents("C:\\Vendor").has_value());
    EXPECT_TRUE(winsim::Exists("C:\\Vendor\\"));
    EXPECT_FALSE(winsim::MakeDirectories("C:\\Vendor\\Driver\\a.sys\\d")) << "not through a file";
    EXPECT_FALSE(winsim::MakeDirectories("Q:\\nodrive"));
}

TEST_F(WinsimHelpers, TheTemporaryPathIsWhatWasSetAndEmptyMakesGetTempPathFail) {
    winsim::SetTempPath("D:\\T\\");
    EXPECT_EQ(TempPath(), "D:\\T\\");
    winsim::SetTempPath("");
    char buffer[MAX_PATH] = "untouched";
    SetLastError(0);
    EXPECT_EQ(GetTempPathA(MAX_PATH, buffer), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
    EXPECT_STREQ(buffer, "untouched");
}

TEST_F(WinsimHelpers, TheDebuggerChannelHoldsOneEntryPerCallAsPassed) {
    OutputDebugStringA("INSTx64: start\r\n");
    OutputDebugStringA("");
    OutputDebugStringA(nullptr);
    OutputDebugStringA("two\nlines");
    EXPECT_EQ(winsim::DebugOutput(), (std::vector<std::string>{"INSTx64: start\r\n", "", "two\nlines"}));
    winsim::ClearDebugOutput();
    OutputDebugStringA("after");
    EXPECT_EQ(winsim::DebugOutput(), std::vector<std::string>{"after"});
}

}  // namespace
