// Files held in use by another process, moves and deletions delayed until
// the next restart, and the restart that carries them out and clears the
// services marked for deletion.
#include "winsim_test.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr char kServices[] = "SYSTEM\\CurrentControlSet\\Services";

using Operations = std::vector<winsim::PendingFileOperation>;

winsim::PendingFileOperation Delete(const std::string& path) { return {path, "", false}; }

BOOL DelayDelete(const std::string& path) {
    return MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

HANDLE Open(const char* path, DWORD access, DWORD share) {
    return CreateFileA(path, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// ---------------------------------------------------------------------------
// Files in use

using WinsimFileInUse = WinsimTest;

TEST_F(WinsimFileInUse, IsHeldForReadingSharingReadingOnly) {
    ASSERT_TRUE(winsim::PutFile("C:\\Windows\\System32\\drivers.sys", "MZ"));
    ASSERT_TRUE(winsim::SetFileInUse("c:\\windows\\system32\\DRIVERS.SYS"));
    const char* path = "C:\\Windows\\System32\\drivers.sys";
    const struct {
        const char* what;
        DWORD access;
        DWORD share;
        bool opens;
    } cases[] = {
        {"read sharing reading", GENERIC_READ, FILE_SHARE_READ, true},
        {"read sharing everything", GENERIC_READ,
         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
        {"read sharing nothing", GENERIC_READ, 0, false},
        {"write sharing everything", GENERIC_WRITE,
         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, false},
        {"delete sharing everything", DELETE,
         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(0);
        HANDLE file = Open(path, c.access, c.share);
        if (c.opens) {
            EXPECT_NE(file, INVALID_HANDLE_VALUE);
            CloseHandle(file);
        } else {
            EXPECT_EQ(file, INVALID_HANDLE_VALUE);
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        }
    }
    EXPECT_EQ(winsim::OpenHandleCount(), 0u) << "no handle of the test's holds it";
}

TEST_F(WinsimFileInUse, CannotBeDeletedOrMovedButADelayedDeletionIsRecorded) {
    ASSERT_TRUE(winsim::PutFile("C:\\qvmirror.sys", "MZ"));
    ASSERT_TRUE(winsim::SetFileInUse("C:\\qvmirror.sys"));
    SetLastError(0);
    EXPECT_FALSE(DeleteFileA("C:\\qvmirror.sys"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    SetLastError(0);
    EXPECT_FALSE(MoveFileExA("C:\\qvmirror.sys", "C:\\moved.sys", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(DelayDelete("C:\\qvmirror.sys"));
    EXPECT_EQ(winsim::FileContents("C:\\qvmirror.sys"), "MZ");
    ASSERT_TRUE(winsim::SetFileInUse("C:\\qvmirror.sys", false));
    EXPECT_TRUE(DeleteFileA("C:\\qvmirror.sys"));
}

TEST_F(WinsimFileInUse, NeedsAnExistingFile) {
    EXPECT_FALSE(winsim::SetFileInUse("C:\\missing.sys"));
    EXPECT_FALSE(winsim::SetFileInUse("C:\\Windows"));
    ASSERT_TRUE(winsim::PutFile("C:\\a.sys", ""));
    EXPECT_FALSE(winsim::SetFileInUse("C:\\a.sys\\"));
}

// ---------------------------------------------------------------------------
// Delayed operations as recorded

using WinsimDelayedMoves = WinsimTest;

TEST_F(WinsimDelayedMoves, AreKeptAsTheSessionManagerKeepsThem) {
    ASSERT_TRUE(winsim::MakeDirectories("C:\\Vendor"));
    EXPECT_TRUE(DelayDelete("c:/Vendor/./Sub/../qvmirror.dll"));
    EXPECT_TRUE(MoveFileExA("C:\\Vendor\\new.sys", "C:\\Vendor\\old.sys",
                            MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
    auto z = [](const std::string& text) { return text + '\0'; };
    const std::string expected = z("\\??\\C:\\Vendor\\qvmirror.dll") + z("") +
                                 z("\\??\\C:\\Vendor\\new.sys") +
                                 z("!\\??\\C:\\Vendor\\old.sys") + z("");
    EXPECT_EQ(winsim::GetRegistryValue(kSessionManager, "PendingFileRenameOperations"),
              (winsim::RegistryValue{REG_MULTI_SZ, expected}));
    EXPECT_EQ(winsim::PendingFileOperations(),
              (Operations{Delete("C:\\Vendor\\qvmirror.dll"),
                          {"C:\\Vendor\\new.sys", "C:\\Vendor\\old.sys", true}}));
}

TEST_F(WinsimDelayedMoves, ARelativePathIsRecordedInFull) {
    ASSERT_TRUE(winsim::PutFile("C:\\rel.sys", ""));
    EXPECT_TRUE(DelayDelete("rel.sys"));
    EXPECT_EQ(winsim::PendingFileOperations(), Operations{Delete("C:\\rel.sys")});
}

TEST_F(WinsimDelayedMoves, NeedTheSessionManagerKeyWritable) {
    ASSERT_TRUE(winsim::PutFile("C:\\a.sys", ""));
    ASSERT_TRUE(winsim::DenyRegistryAccess(kSessionManager, KEY_SET_VALUE));
    SetLastError(0);
    EXPECT_FALSE(DelayDelete("C:\\a.sys"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(winsim::PendingFileOperations().empty());
    // A missing key is made, as NtCreateKey does.
    ASSERT_TRUE(winsim::DeleteRegistryTree(kSessionManager));
    EXPECT_TRUE(DelayDelete("C:\\a.sys"));
    EXPECT_EQ(winsim::PendingFileOperations().size(), 1u);
}

TEST_F(WinsimDelayedMoves, AFileNameEndingInASeparatorIsInvalid) {
    ASSERT_TRUE(winsim::PutFile("C:\\a.sys", ""));
    SetLastError(0);
    EXPECT_FALSE(DelayDelete("C:\\a.sys\\"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
}

// ---------------------------------------------------------------------------
// Moves at once

using WinsimMoves = WinsimTest;

TEST_F(WinsimMoves, ChangeTheLetterCaseOfAName) {
    ASSERT_TRUE(winsim::PutFile("C:\\name.sys", "MZ"));
    EXPECT_TRUE(MoveFileExA("C:\\name.sys", "C:\\NAME.SYS", 0));
    EXPECT_EQ(winsim::FileContents("C:\\name.sys"), "MZ");
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA("C:\\name.sys", &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, "NAME.SYS");
    FindClose(find);
}

TEST_F(WinsimMoves, MoveAFolderWithWhatIsInIt) {
    ASSERT_TRUE(winsim::MakeDirectories("C:\\Old\\Inner"));
    ASSERT_TRUE(winsim::PutFile("C:\\Old\\Inner\\a.sys", "MZ"));
    EXPECT_TRUE(MoveFileExA("C:\\Old", "C:\\Users\\New", 0));
    EXPECT_FALSE(winsim::Exists("C:\\Old"));
    EXPECT_EQ(winsim::FileContents("C:\\Users\\New\\Inner\\a.sys"), "MZ");
}

TEST_F(WinsimMoves, Refusals) {
    ASSERT_TRUE(winsim::MakeDirectories("C:\\Dir\\Sub"));
    ASSERT_TRUE(winsim::PutFile("C:\\a.sys", "a"));
    ASSERT_TRUE(winsim::PutFile("C:\\ro.sys", "ro", FILE_ATTRIBUTE_READONLY));
    const struct {
        const char* what;
        const char* from;
        const char* to;
        DWORD flags;
        DWORD error;
    } cases[] = {
        {"no new name without delay", "C:\\a.sys", nullptr, 0, ERROR_PATH_NOT_FOUND},
        {"replacing a read-only file", "C:\\a.sys", "C:\\ro.sys", MOVEFILE_REPLACE_EXISTING,
         ERROR_ACCESS_DENIED},
        {"replacing a folder", "C:\\a.sys", "C:\\Dir", MOVEFILE_REPLACE_EXISTING,
         ERROR_ACCESS_DENIED},
        {"a folder into itself", "C:\\Dir", "C:\\Dir\\Sub\\Dir", 0, ERROR_SHARING_VIOLATION},
        {"into a missing folder", "C:\\a.sys", "C:\\Missing\\a.sys", 0, ERROR_PATH_NOT_FOUND},
        {"a drive's root", "C:\\", "C:\\Root", 0, ERROR_ACCESS_DENIED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(0);
        EXPECT_FALSE(MoveFileExA(c.from, c.to, c.flags));
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_EQ(winsim::FileContents("C:\\a.sys"), "a");
    EXPECT_EQ(winsim::FileContents("C:\\ro.sys"), "ro");
    EXPECT_TRUE(winsim::Exists("C:\\Dir\\Sub"));
}

// ---------------------------------------------------------------------------
// Restart

using WinsimRestart = WinsimTest;

TEST_F(WinsimRestart, CarriesOutTheDelayedDeletionsAndForgetsThem) {
    ASSERT_TRUE(winsim::MakeDirectories("C:\\Windows\\System32\\drivers"));
    ASSERT_TRUE(winsim::PutFile("C:\\Windows\\System32\\qvmirror.dll", "MZ"));
    ASSERT_TRUE(winsim::PutFile("C:\\Windows\\System32\\drivers\\qvmirror.sys", "MZ",
                                FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(winsim::PutFile("C:\\Windows\\System32\\other.dll", "MZ"));
    ASSERT_TRUE(DelayDelete("C:\\Windows\\System32\\qvmirror.dll"));
    ASSERT_TRUE(DelayDelete("C:\\Windows\\System32\\drivers\\qvmirror.sys"));
    ASSERT_TRUE(DelayDelete("C:\\Windows\\System32\\missing.dll"));

    winsim::Restart();

    EXPECT_FALSE(winsim::Exists("C:\\Windows\\System32\\qvmirror.dll"));
    EXPECT_FALSE(winsim::Exists("C:\\Windows\\System32\\drivers\\qvmirror.sys"))
        << "whatever its attributes";
    EXPECT_TRUE(winsim::Exists("C:\\Windows\\System32\\other.dll"));
    EXPECT_TRUE(winsim::PendingFileOperations().empty());
    EXPECT_FALSE(winsim::GetRegistryValue(kSessionManager, "PendingFileRenameOperations"));
    EXPECT_TRUE(winsim::RegistryKeyExists(kSessionManager));
}

TEST_F(WinsimRestart, RemovesAFolderOnlyWhenEmpty) {
    ASSERT_TRUE(winsim::MakeDirectories("C:\\Empty"));
    ASSERT_TRUE(winsim::MakeDirectories("C:\\Full"));
    ASSERT_TRUE(winsim::PutFile("C:\\Full\\a.sys", ""));
    ASSERT_TRUE(DelayDelete("C:\\Empty"));
    ASSERT_TRUE(DelayDelete("C:\\Full"));
    winsim::Restart();
    EXPECT_FALSE(winsim::Exists("C:\\Empty"));
    EXPECT_TRUE(winsim::Exists("C:\\Full\\a.sys"));
}

TEST_F(WinsimRestart, CarriesOutOperationsInOrder) {
    ASSERT_TRUE(winsim::PutFile("C:\\new.sys", "new"));
    ASSERT_TRUE(winsim::PutFile("C:\\old.sys", "old"));
    ASSERT_TRUE(winsim::PutFile("C:\\kept.sys", "kept"));
    ASSERT_TRUE(winsim::PutFile("C:\\other.sys", "other"));
    // Onto an existing name: only when replacing.
    ASSERT_TRUE(MoveFileExA("C:\\other.sys", "C:\\kept.sys", MOVEFILE_DELAY_UNTIL_REBOOT));
    ASSERT_TRUE(MoveFileExA("C:\\new.sys", "C:\\old.sys",
                            MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
    // A later operation sees what the earlier ones did.
    ASSERT_TRUE(MoveFileExA("C:\\old.sys", "C:\\final.sys", MOVEFILE_DELAY_UNTIL_REBOOT));
    winsim::Restart();
    EXPECT_EQ(winsim::FileContents("C:\\kept.sys"), "kept");
    EXPECT_EQ(winsim::FileContents("C:\\other.sys"), "other");
    EXPECT_FALSE(winsim::Exists("C:\\new.sys"));
    EXPECT_FALSE(winsim::Exists("C:\\old.sys"));
    EXPECT_EQ(winsim::FileContents("C:\\final.sys"), "new");
}

TEST_F(WinsimRestart, LetsGoOfFilesInUseBeforeDeletingThem) {
    ASSERT_TRUE(winsim::PutFile("C:\\loaded.sys", "MZ"));
    ASSERT_TRUE(winsim::PutFile("C:\\loaded.dll", "MZ"));
    ASSERT_TRUE(winsim::SetFileInUse("C:\\loaded.sys"));
    ASSERT_TRUE(winsim::SetFileInUse("C:\\loaded.dll"));
    ASSERT_TRUE(DelayDelete("C:\\loaded.sys"));
    winsim::Restart();
    EXPECT_FALSE(winsim::Exists("C:\\loaded.sys"));
    EXPECT_TRUE(DeleteFileA("C:\\loaded.dll")) << "no longer in use";
}

TEST_F(WinsimRestart, ClearsMarkedServicesAndStartsTheOthersByTheirStartType) {
    winsim::Service marked;
    marked.name = "QVMIRROR";
    marked.state = SERVICE_RUNNING;
    ASSERT_TRUE(winsim::AddService(marked));
    winsim::Service demand;
    demand.name = "Demand";
    demand.state = SERVICE_RUNNING;
    ASSERT_TRUE(winsim::AddService(demand));
    winsim::Service system;
    system.name = "System";
    system.start = 1;  // SERVICE_SYSTEM_START
    ASSERT_TRUE(winsim::AddService(system));
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceA(manager, "QVMIRROR", DELETE);
    ASSERT_TRUE(DeleteService(service));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    ASSERT_TRUE(winsim::FindService("QVMIRROR").has_value()) << "running, so still there";

    winsim::Restart();

    EXPECT_FALSE(winsim::FindService("QVMIRROR").has_value());
    EXPECT_FALSE(winsim::RegistryKeyExists(std::string(kServices) + "\\QVMIRROR"));
    EXPECT_EQ(winsim::FindService("Demand")->state, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(winsim::FindService("System")->state, static_cast<DWORD>(SERVICE_RUNNING));
    manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    service = OpenServiceA(manager, "Demand", SERVICE_QUERY_STATUS);
    SERVICE_STATUS status;
    ASSERT_TRUE(QueryServiceStatus(service, &status));
    EXPECT_EQ(status.dwWin32ExitCode, 1077u) << "not started since the restart";
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

TEST_F(WinsimRestart, IsRefusedWhileTheTestHoldsAHandle) {
    ASSERT_TRUE(winsim::PutFile("C:\\a.sys", ""));
    ASSERT_TRUE(DelayDelete("C:\\a.sys"));
    HANDLE file = Open("C:\\a.sys", GENERIC_READ, FILE_SHARE_READ);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_THROW(winsim::Restart(), std::logic_error);
    EXPECT_TRUE(winsim::Exists("C:\\a.sys")) << "nothing was done";
    EXPECT_EQ(winsim::PendingFileOperations().size(), 1u);
    CloseHandle(file);
}

TEST_F(WinsimRestart, ResetForgetsWhatWasPending) {
    ASSERT_TRUE(winsim::PutFile("C:\\a.sys", ""));
    ASSERT_TRUE(DelayDelete("C:\\a.sys"));
    winsim::Reset();
    EXPECT_TRUE(winsim::PendingFileOperations().empty());
}

}  // namespace
