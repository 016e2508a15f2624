// Files held in use by another process, the moves and deletions delayed
// until the next restart, and the restart that carries them out, lets go of
// the files and clears the services marked for deletion.
#include "winsim_test.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Operations = std::vector<winsim::PendingFileOperation>;

constexpr char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

BOOL DelayDelete(const std::string& path) {
    return MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

BOOL DelayMove(const char* from, const char* to, DWORD flags = 0) {
    return MoveFileExA(from, to, MOVEFILE_DELAY_UNTIL_REBOOT | flags);
}

// ---------------------------------------------------------------------------
// Files in use

using WinsimFileInUse = WinsimTest;

TEST_F(WinsimFileInUse, IsHeldForReadingSharingReadingOnly) {
    const char* path = "C:\\Windows\\System32\\qvmirror.sys";
    ASSERT_TRUE(winsim::PutFile(path, "MZ"));
    ASSERT_TRUE(winsim::SetFileInUse("c:\\windows\\system32\\QVMIRROR.SYS"));
    constexpr DWORD kAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const struct {
        DWORD access;
        DWORD share;
        bool opens;
    } cases[] = {
        {GENERIC_READ, FILE_SHARE_READ, true}, {GENERIC_READ, kAll, true},
        {GENERIC_READ, 0, false},              {GENERIC_WRITE, kAll, false},
        {DELETE, kAll, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.access) + " sharing " + std::to_string(c.share));
        SetLastError(0);
        HANDLE file = CreateFileA(path, c.access, c.share, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(file != INVALID_HANDLE_VALUE, c.opens);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
        } else {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        }
    }
    SetLastError(0);
    EXPECT_FALSE(DeleteFileA(path));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    SetLastError(0);
    EXPECT_FALSE(MoveFileExA(path, "C:\\moved.sys", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(DelayDelete(path)) << "a deletion can wait for the restart";
    EXPECT_EQ(winsim::FileContents(path), "MZ");
    EXPECT_EQ(winsim::OpenHandleCount(), 0u) << "no handle of the test's holds it";
    ASSERT_TRUE(winsim::SetFileInUse(path, false));
    EXPECT_TRUE(DeleteFileA(path));
}

TEST_F(WinsimFileInUse, NeedsAnExistingFile) {
    EXPECT_FALSE(winsim::SetFileInUse("C:\\missing.sys"));
    EXPECT_FALSE(winsim::SetFileInUse("C:\\Windows"));
    ASSERT_TRUE(winsim::PutFile("C:\\a.sys", ""));
    EXPECT_FALSE(winsim::SetFileInUse("C:\\a.sys\\"));
}

// ---------------------------------------------------------------------------
// Restart

using WinsimRestart = WinsimTest;

TEST_F(WinsimRestart, CarriesOutTheDelayedOperationsInOrderAndForgetsThem) {
    ASSERT_TRUE(winsim::MakeDirectories("C:\\Empty"));
    ASSERT_TRUE(winsim::MakeDirectories("C:\\Full"));
    ASSERT_TRUE(winsim::PutFile("C:\\Full\\a.sys", ""));
    ASSERT_TRUE(winsim::PutFile("C:\\readonly.sys", "MZ", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(winsim::PutFile("C:\\loaded.sys", "MZ"));
    ASSERT_TRUE(winsim::PutFile("C:\\loaded.dll", "MZ"));
    ASSERT_TRUE(winsim::SetFileInUse("C:\\loaded.sys"));
    ASSERT_TRUE(winsim::SetFileInUse("C:\\loaded.dll"));
    for (const char* name : {"new", "old", "kept", "other"}) {
        ASSERT_TRUE(winsim::PutFile(std::string("C:\\") + name + ".sys", name));
    }
    for (const char* path : {"C:\\readonly.sys", "C:\\missing.sys", "C:\\loaded.sys", "C:\\Empty",
                             "C:\\Full"}) {
        ASSERT_TRUE(DelayDelete(path)) << path;
    }
    ASSERT_TRUE(DelayMove("C:\\other.sys", "C:\\kept.sys"));  // onto a name: only when replacing
    ASSERT_TRUE(DelayMove("C:\\new.sys", "C:\\old.sys", MOVEFILE_REPLACE_EXISTING));
    ASSERT_TRUE(DelayMove("C:\\old.sys", "C:\\final.sys"));  // sees what the earlier ones did
    const Operations recorded = winsim::PendingFileOperations();
    ASSERT_EQ(recorded.size(), 8u);
    EXPECT_EQ(recorded[0], (winsim::PendingFileOperation{"C:\\readonly.sys", "", false}));
    EXPECT_EQ(recorded[6], (winsim::PendingFileOperation{"C:\\new.sys", "C:\\old.sys", true}));

    winsim::Restart();

    EXPECT_FALSE(winsim::Exists("C:\\readonly.sys")) << "whatever its attributes";
    EXPECT_FALSE(winsim::Exists("C:\\loaded.sys")) << "let go of, then deleted";
    EXPECT_FALSE(winsim::Exists("C:\\Empty"));
    EXPECT_TRUE(winsim::Exists("C:\\Full\\a.sys")) << "a folder goes only when empty";
    EXPECT_EQ(winsim::FileContents("C:\\kept.sys"), "kept");
    EXPECT_EQ(winsim::FileContents("C:\\other.sys"), "other");
    EXPECT_FALSE(winsim::Exists("C:\\new.sys"));
    EXPECT_FALSE(winsim::Exists("C:\\old.sys"));
    EXPECT_EQ(winsim::FileContents("C:\\final.sys"), "new");
    EXPECT_TRUE(DeleteFileA("C:\\loaded.dll")) << "no longer in use";
    EXPECT_TRUE(winsim::PendingFileOperations().empty());
    EXPECT_FALSE(winsim::GetRegistryValue(kSessionManager, "PendingFileRenameOperations"));
    EXPECT_TRUE(winsim::RegistryKeyExists(kSessionManager));
}

TEST_F(WinsimRestart, ClearsMarkedServicesAndStartsTheOthersByTheirStartType) {
    auto add = [](const char* name, DWORD start, DWORD state) {
        winsim::Service service;
        service.name = name;
        service.start = start;
        service.state = state;
        return winsim::AddService(service);
    };
    ASSERT_TRUE(add("QVMIRROR", SERVICE_DEMAND_START, SERVICE_RUNNING));
    ASSERT_TRUE(add("Demand", SERVICE_DEMAND_START, SERVICE_RUNNING));
    ASSERT_TRUE(add("System", 1 /* SERVICE_SYSTEM_START */, SERVICE_STOPPED));
    ASSERT_TRUE(add("Auto", 2 /* SERVICE_AUTO_START */, SERVICE_STOPPED));
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceA(manager, "QVMIRROR", DELETE);
    ASSERT_TRUE(DeleteService(service));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    ASSERT_TRUE(winsim::FindService("QVMIRROR").has_value()) << "running, so still there";

    winsim::Restart();

    EXPECT_FALSE(winsim::FindService("QVMIRROR").has_value());
    EXPECT_FALSE(winsim::RegistryKeyExists("SYSTEM\\CurrentControlSet\\Services\\QVMIRROR"));
    EXPECT_EQ(winsim::FindService("Demand")->state, DWORD{SERVICE_STOPPED});
    EXPECT_EQ(winsim::FindService("System")->state, DWORD{SERVICE_RUNNING});
    EXPECT_EQ(winsim::FindService("Auto")->state, DWORD{SERVICE_RUNNING});
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
    HANDLE file = CreateFileA("C:\\a.sys", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_THROW(winsim::Restart(), std::logic_error);
    EXPECT_TRUE(winsim::Exists("C:\\a.sys")) << "nothing was done";
    EXPECT_EQ(winsim::PendingFileOperations().size(), 1u);
    CloseHandle(file);
}

}  // namespace
