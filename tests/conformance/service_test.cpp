// The service control manager as the uninstaller uses it on a driver's
// service: open the manager and the service, query its status, stop it,
// mark it for deletion, close. Each test starts with a demand-start kernel
// driver service that was never started (no driver behind it is ever
// loaded), and removes it afterwards.

#include "conformance.h"

#ifndef _WIN32
#include <winsim/machine.h>
#endif

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr char kService[] = "WinsimConformanceSvc";
constexpr char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\WinsimConformanceSvc";
constexpr char kImage[] = "C:\\Windows\\System32\\drivers\\winsimconformance.sys";

// Not in the program's part of the headers.
constexpr DWORD kErrorInvalidAddress = 487;
constexpr DWORD kErrorServiceNeverStarted = 1077;

class ServiceTest : public PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        if (HasFatalFailure()) return;
#ifdef _WIN32
        SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager, nullptr) << "error " << GetLastError();
        SC_HANDLE service =
            CreateServiceA(manager, kService, kService, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                           SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, kImage, nullptr, nullptr,
                           nullptr, nullptr, nullptr);
        const DWORD error = GetLastError();
        if (service != nullptr) CloseServiceHandle(service);
        CloseServiceHandle(manager);
        ASSERT_NE(service, nullptr) << "CreateServiceA failed, error " << error;
#else
        winsim::Service service;
        service.name = kService;
        service.image_path = kImage;
        ASSERT_TRUE(winsim::AddService(service));
#endif
        manager_ = Keep(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ASSERT_NE(manager_, nullptr) << "error " << GetLastError();
    }

    void TearDown() override {
        for (auto it = open_.rbegin(); it != open_.rend(); ++it) CloseServiceHandle(*it);
        open_.clear();
#ifdef _WIN32
        SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE service = manager ? OpenServiceA(manager, kService, DELETE) : nullptr;
        if (service != nullptr) {
            DeleteService(service);
            CloseServiceHandle(service);
        }
        if (manager != nullptr) CloseServiceHandle(manager);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kServiceKey);
#endif
        PlatformTest::TearDown();
    }

    // Remember a handle to close in TearDown; NULL is passed through.
    SC_HANDLE Keep(SC_HANDLE handle) {
        if (handle != nullptr) open_.push_back(handle);
        return handle;
    }
    // Close a remembered handle now; returns what CloseServiceHandle did.
    BOOL Close(SC_HANDLE handle) {
        for (auto it = open_.begin(); it != open_.end(); ++it) {
            if (*it == handle) {
                open_.erase(it);
                break;
            }
        }
        return CloseServiceHandle(handle);
    }

    SC_HANDLE Open(DWORD access, const char* name = kService) {
        SC_HANDLE service = Keep(OpenServiceA(manager_, name, access));
        EXPECT_NE(service, nullptr) << name << ": error " << GetLastError();
        return service;
    }

    static bool KeyExists() {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(key);
        return true;
    }

    SC_HANDLE manager_ = nullptr;
    std::vector<SC_HANDLE> open_;
};

// ---------------------------------------------------------------------------
// Opening

// The last-error value after success differs between versions of Windows.
TEST_F(ServiceTest, TheLocalManagerOpensWithEveryRightAndCloses) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr) << "error " << GetLastError();
    SetLastError(kPoison);
    EXPECT_TRUE(CloseServiceHandle(manager));
    EXPECT_EQ(GetLastError(), kPoison);
}

TEST_F(ServiceTest, OpensTheServiceWhateverTheLetterCase) {
    for (const char* name : {kService, "winsimconformancesvc", "WINSIMCONFORMANCESVC"}) {
        SCOPED_TRACE(name);
        SetLastError(kPoison);
        SC_HANDLE service = Open(SERVICE_ALL_ACCESS, name);
        EXPECT_EQ(GetLastError(), kPoison);
        if (service != nullptr) {
            EXPECT_TRUE(Close(service));
        }
    }
}

TEST_F(ServiceTest, AMissingServiceDoesNotExist) {
    SetLastError(kPoison);
    EXPECT_EQ(OpenServiceA(manager_, "WinsimConformanceMissing", SERVICE_ALL_ACCESS), nullptr);
    EXPECT_LAST_ERROR(ERROR_SERVICE_DOES_NOT_EXIST);
}

TEST_F(ServiceTest, AnEmptyNameOrOneWithASlashIsInvalid) {
    for (const char* name : {"", "WinsimConformance\\Svc", "WinsimConformance/Svc"}) {
        SCOPED_TRACE(name);
        SetLastError(kPoison);
        EXPECT_EQ(OpenServiceA(manager_, name, SERVICE_ALL_ACCESS), nullptr);
        EXPECT_LAST_ERROR(ERROR_INVALID_NAME);
    }
}

// Longer than a registry key name can be, so no such service exists.
TEST_F(ServiceTest, AnOverlongNameDoesNotExist) {
    for (size_t length : {256u, 257u, 300u, 1000u}) {
        SCOPED_TRACE(length);
        const std::string name(length, 'W');
        SetLastError(kPoison);
        EXPECT_EQ(OpenServiceA(manager_, name.c_str(), SERVICE_ALL_ACCESS), nullptr);
        EXPECT_LAST_ERROR(ERROR_SERVICE_DOES_NOT_EXIST);
    }
}

// ---------------------------------------------------------------------------
// Status and stopping

TEST_F(ServiceTest, ADriverNeverStartedIsStoppedWithExitCodeNeverStarted) {
    SC_HANDLE service = Open(SERVICE_QUERY_STATUS);
    SERVICE_STATUS status;
    std::memset(&status, 0xcc, sizeof status);
    SetLastError(kPoison);
    ASSERT_TRUE(QueryServiceStatus(service, &status)) << "error " << GetLastError();
    EXPECT_EQ(GetLastError(), kPoison);
    EXPECT_EQ(status.dwServiceType, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwControlsAccepted, 0u);
    EXPECT_EQ(status.dwWin32ExitCode, kErrorServiceNeverStarted);
    EXPECT_EQ(status.dwServiceSpecificExitCode, 0u);
    EXPECT_EQ(status.dwCheckPoint, 0u);
    EXPECT_EQ(status.dwWaitHint, 0u);
}

// The status is reported even though the control fails.
TEST_F(ServiceTest, StoppingAStoppedServiceIsNotActiveAndReportsTheStatus) {
    SC_HANDLE service = Open(SERVICE_ALL_ACCESS);
    SERVICE_STATUS status;
    std::memset(&status, 0xcc, sizeof status);
    SetLastError(kPoison);
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_LAST_ERROR(ERROR_SERVICE_NOT_ACTIVE);
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwServiceType, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
}

TEST_F(ServiceTest, QueryingIntoNoStructureIsInvalidAddress) {
    SC_HANDLE service = Open(SERVICE_ALL_ACCESS);
    SetLastError(kPoison);
    EXPECT_FALSE(QueryServiceStatus(service, nullptr));
    EXPECT_LAST_ERROR(kErrorInvalidAddress);
}

// ---------------------------------------------------------------------------
// Deleting

TEST_F(ServiceTest, DeletingTwiceIsMarkedForDeleteTheSecondTime) {
    SC_HANDLE service = Open(SERVICE_ALL_ACCESS);
    SetLastError(kPoison);
    EXPECT_TRUE(DeleteService(service)) << "error " << GetLastError();
    EXPECT_EQ(GetLastError(), kPoison);
    EXPECT_FALSE(DeleteService(service));
    EXPECT_LAST_ERROR(ERROR_SERVICE_MARKED_FOR_DELETE);
}

TEST_F(ServiceTest, AMarkedServiceStaysWhileAHandleIsOpen) {
    SC_HANDLE service = Open(SERVICE_ALL_ACCESS);
    ASSERT_TRUE(DeleteService(service)) << "error " << GetLastError();
    SC_HANDLE again = Open(SERVICE_QUERY_STATUS);
    SERVICE_STATUS status;
    EXPECT_TRUE(QueryServiceStatus(again, &status)) << "error " << GetLastError();
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_TRUE(KeyExists());
}

TEST_F(ServiceTest, AMarkedServiceGoesWithItsLastHandle) {
    SC_HANDLE service = Open(SERVICE_ALL_ACCESS);
    SC_HANDLE other = Open(SERVICE_QUERY_STATUS);
    ASSERT_TRUE(DeleteService(service)) << "error " << GetLastError();
    SetLastError(kPoison);
    EXPECT_TRUE(Close(service));
    EXPECT_EQ(GetLastError(), kPoison);
    EXPECT_TRUE(KeyExists()) << "another handle is still open";
    EXPECT_TRUE(Close(other));
    EXPECT_FALSE(KeyExists());
    SetLastError(kPoison);
    EXPECT_EQ(OpenServiceA(manager_, kService, SERVICE_ALL_ACCESS), nullptr);
    EXPECT_LAST_ERROR(ERROR_SERVICE_DOES_NOT_EXIST);
}

// ---------------------------------------------------------------------------
// Rights and handles

TEST_F(ServiceTest, EachCallNeedsItsRightOnTheHandle) {
    const struct {
        const char* what;
        DWORD access;  // everything but the right the call needs
        std::function<BOOL(SC_HANDLE)> call;
    } cases[] = {
        {"DeleteService", SERVICE_ALL_ACCESS & ~DELETE,
         [](SC_HANDLE h) { return DeleteService(h); }},
        {"ControlService", SERVICE_ALL_ACCESS & ~SERVICE_STOP,
         [](SC_HANDLE h) {
             SERVICE_STATUS status;
             return ControlService(h, SERVICE_CONTROL_STOP, &status);
         }},
        {"QueryServiceStatus", SERVICE_ALL_ACCESS & ~SERVICE_QUERY_STATUS,
         [](SC_HANDLE h) {
             SERVICE_STATUS status;
             return QueryServiceStatus(h, &status);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SC_HANDLE service = Open(c.access);
        SetLastError(kPoison);
        EXPECT_FALSE(c.call(service));
        EXPECT_LAST_ERROR(ERROR_ACCESS_DENIED);
    }
    EXPECT_TRUE(KeyExists()) << "nothing was deleted";
}

TEST_F(ServiceTest, TheManagerIsNoServiceAndAClosedHandleIsInvalid) {
    SC_HANDLE service = Open(SERVICE_ALL_ACCESS);
    ASSERT_TRUE(Close(service));
    SERVICE_STATUS status;
    for (SC_HANDLE handle : {manager_, static_cast<SC_HANDLE>(nullptr)}) {
        SetLastError(kPoison);
        EXPECT_FALSE(QueryServiceStatus(handle, &status));
        EXPECT_LAST_ERROR(ERROR_INVALID_HANDLE);
        SetLastError(kPoison);
        EXPECT_FALSE(DeleteService(handle));
        EXPECT_LAST_ERROR(ERROR_INVALID_HANDLE);
    }
    for (SC_HANDLE handle : {service, static_cast<SC_HANDLE>(nullptr)}) {
        SetLastError(kPoison);
        EXPECT_FALSE(CloseServiceHandle(handle));
        EXPECT_LAST_ERROR(ERROR_INVALID_HANDLE);
    }
    SetLastError(kPoison);
    EXPECT_EQ(OpenServiceA(nullptr, kService, SERVICE_ALL_ACCESS), nullptr);
    EXPECT_LAST_ERROR(ERROR_INVALID_HANDLE);
}

}  // namespace
