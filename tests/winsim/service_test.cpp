// The service control manager as tests set it up and inspect it: services
// are their registry keys, run states and scripted stops, marking and
// removal, rights, and service handles in the accounting.
#include "winsim_test.h"

#include <gtest/gtest-spi.h>

#include <cstring>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr char kServices[] = "SYSTEM\\CurrentControlSet\\Services";
constexpr DWORD kNeverStarted = 1077;  // ERROR_SERVICE_NEVER_STARTED

std::string KeyOf(const std::string& name) { return std::string(kServices) + "\\" + name; }

class WinsimServices : public WinsimTest {
protected:
    void SetUp() override {
        WinsimTest::SetUp();
        manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager_, nullptr);
    }
    void TearDown() override {
        for (SC_HANDLE handle : open_) CloseServiceHandle(handle);
        CloseServiceHandle(manager_);
        WinsimTest::TearDown();
    }

    void Add(const std::string& name, DWORD state = SERVICE_STOPPED) {
        winsim::Service service;
        service.name = name;
        service.image_path = "\\SystemRoot\\System32\\drivers\\" + name + ".sys";
        service.state = state;
        ASSERT_TRUE(winsim::AddService(service));
    }
    SC_HANDLE Open(const std::string& name, DWORD access = SERVICE_ALL_ACCESS) {
        SC_HANDLE handle = OpenServiceA(manager_, name.c_str(), access);
        if (handle != nullptr) open_.push_back(handle);
        return handle;
    }
    BOOL Close(SC_HANDLE handle) {
        for (auto it = open_.begin(); it != open_.end(); ++it) {
            if (*it == handle) {
                open_.erase(it);
                break;
            }
        }
        return CloseServiceHandle(handle);
    }
    static SERVICE_STATUS Query(SC_HANDLE handle) {
        SERVICE_STATUS status;
        std::memset(&status, 0xcc, sizeof status);
        EXPECT_TRUE(QueryServiceStatus(handle, &status)) << "error " << GetLastError();
        return status;
    }

    SC_HANDLE manager_ = nullptr;
    std::vector<SC_HANDLE> open_;
};

// ---------------------------------------------------------------------------
// Services are their keys

TEST_F(WinsimServices, AnAddedServiceIsItsKey) {
    ASSERT_NO_FATAL_FAILURE(Add("QVMIRROR"));
    const std::string key = KeyOf("QVMIRROR");
    EXPECT_EQ(winsim::GetRegistryDword(key, "Type"), static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(winsim::GetRegistryDword(key, "Start"), static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(winsim::GetRegistryDword(key, "ErrorControl"), 1u);
    EXPECT_EQ(winsim::GetRegistryString(key, "ImagePath"),
              "\\SystemRoot\\System32\\drivers\\QVMIRROR.sys");
    const std::optional<winsim::ServiceInfo> info = winsim::FindService("qvmirror");
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->name, "QVMIRROR");
    EXPECT_EQ(info->type, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(info->start, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(info->state, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_FALSE(info->marked_for_deletion);
    EXPECT_EQ(info->open_handles, 0u);
}

TEST_F(WinsimServices, AServiceIsAddedOnceUnderAValidName) {
    ASSERT_NO_FATAL_FAILURE(Add("QVMIRROR"));
    winsim::Service service;
    for (const std::string& name : {std::string("qvmirror"), std::string(""),
                                    std::string("a\\b"), std::string("a/b"),
                                    std::string(256, 'n')}) {
        SCOPED_TRACE(name);
        service.name = name;
        EXPECT_FALSE(winsim::AddService(service));
    }
    service.name = std::string(255, 'n');
    EXPECT_TRUE(winsim::AddService(service));
    service.name = "Pending";
    service.state = SERVICE_STOP_PENDING;
    EXPECT_THROW(winsim::AddService(service), std::invalid_argument);
}

TEST_F(WinsimServices, AKeyWithATypeIsAServiceWhoeverWroteIt) {
    ASSERT_TRUE(winsim::SetRegistryDword(KeyOf("Manual"), "Type", SERVICE_KERNEL_DRIVER));
    ASSERT_TRUE(winsim::SetRegistryDword(KeyOf("NoType"), "Start", SERVICE_DEMAND_START));
    SC_HANDLE manual = Open("MANUAL");
    EXPECT_NE(manual, nullptr);
    EXPECT_EQ(Query(manual).dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    SetLastError(0);
    EXPECT_EQ(Open("NoType"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_FALSE(winsim::FindService("NoType").has_value());
}

TEST_F(WinsimServices, AnInstalledDriversServiceIsOneToo) {
    const std::string inf =
        "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Display\r\n"
        "ClassGUID={4D36E968-E325-11CE-BFC1-08002BE10318}\r\n"
        "[Manufacturer]\r\nVendor=Models,NTamd64\r\n"
        "[Models.NTamd64]\r\nMirror=Mirror_Install,Orvenik_Tallomer_Mirror\r\n"
        "[Mirror_Install]\r\n"
        "[Mirror_Install.Services]\r\nAddService=QVMIRROR,0x00000002,Mirror_Service\r\n"
        "[Mirror_Service]\r\nServiceType=1\r\nStartType=3\r\nErrorControl=0\r\n"
        "ServiceBinary=%12%\\qvmirror.sys\r\n";
    ASSERT_TRUE(winsim::PutFile("C:\\mirror.inf", inf));
    winsim::Device device;
    device.instance_id = "ROOT\\DISPLAY\\0000";
    device.hardware_ids = winsim::MultiString({"Orvenik_Tallomer_Mirror"});
    ASSERT_TRUE(winsim::AddDevice(device));
    BOOL reboot = FALSE;
    ASSERT_TRUE(UpdateDriverForPlugAndPlayDevicesA(nullptr, "Orvenik_Tallomer_Mirror",
                                                   "C:\\mirror.inf", INSTALLFLAG_FORCE, &reboot));
    SC_HANDLE service = Open("QVMIRROR");
    ASSERT_NE(service, nullptr) << "error " << GetLastError();
    const SERVICE_STATUS status = Query(service);
    EXPECT_EQ(status.dwServiceType, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(winsim::FindService("QVMIRROR")->start, static_cast<DWORD>(SERVICE_DEMAND_START));
}

// ---------------------------------------------------------------------------
// Run states and stops

TEST_F(WinsimServices, StatusFollowsTheRunState) {
    ASSERT_NO_FATAL_FAILURE(Add("QVMIRROR"));
    SC_HANDLE service = Open("QVMIRROR");
    SERVICE_STATUS status = Query(service);
    EXPECT_EQ(status.dwWin32ExitCode, kNeverStarted);

    ASSERT_TRUE(winsim::SetServiceState("QVMIRROR", SERVICE_RUNNING));
    status = Query(service);
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(status.dwControlsAccepted, 1u) << "SERVICE_ACCEPT_STOP";
    EXPECT_EQ(status.dwWin32ExitCode, 0u);

    ASSERT_TRUE(winsim::SetServiceState("QVMIRROR", SERVICE_STOPPED));
    status = Query(service);
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwControlsAccepted, 0u);
    EXPECT_EQ(status.dwWin32ExitCode, 0u) << "it ran, so it is no longer never started";
    EXPECT_EQ(winsim::FindService("QVMIRROR")->state, static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(WinsimServices, SettingAStateNeedsAServiceAndAStateItCanBeIn) {
    EXPECT_FALSE(winsim::SetServiceState("Missing", SERVICE_RUNNING));
    EXPECT_FALSE(winsim::ScriptServiceStop("Missing", 1));
    ASSERT_NO_FATAL_FAILURE(Add("QVMIRROR"));
    EXPECT_THROW(winsim::SetServiceState("QVMIRROR", SERVICE_START_PENDING), std::invalid_argument);
    EXPECT_TRUE(winsim::SetServiceState("qvmirror", SERVICE_STOP_PENDING));
}

struct StopScript {
    unsigned pending_queries;
    std::vector<DWORD> states;  // what each query after the stop sees
};

std::ostream& operator<<(std::ostream& os, const StopScript& s) {
    return os << s.pending_queries << " pending queries";
}

const StopScript kStopScripts[] = {
    {0, {SERVICE_STOPPED, SERVICE_STOPPED}},
    {1, {SERVICE_STOP_PENDING, SERVICE_STOPPED, SERVICE_STOPPED}},
    {3, {SERVICE_STOP_PENDING, SERVICE_STOP_PENDING, SERVICE_STOP_PENDING, SERVICE_STOPPED}},
};

class WinsimServiceStop : public WinsimServices,
                          public ::testing::WithParamInterface<StopScript> {};

TEST_P(WinsimServiceStop, TakesTheScriptedNumberOfQueries) {
    ASSERT_NO_FATAL_FAILURE(Add("QVMIRROR", SERVICE_RUNNING));
    ASSERT_TRUE(winsim::ScriptServiceStop("QVMIRROR", GetParam().pending_queries));
    SC_HANDLE service = Open("QVMIRROR");
    SERVICE_STATUS status;
    std::memset(&status, 0xcc, sizeof status);
    SetLastError(ERROR_INVALID_DATA);
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_EQ(status.dwControlsAccepted, 0u);
    std::vector<DWORD> seen;
    for (size_t i = 0; i < GetParam().states.size(); ++i) {
        seen.push_back(Query(service).dwCurrentState);
    }
    EXPECT_EQ(seen, GetParam().states);
    EXPECT_EQ(Query(service).dwWin32ExitCode, 0u);
}

INSTANTIATE_TEST_SUITE_P(Scripts, WinsimServiceStop, ::testing::ValuesIn(kStopScripts));

TEST_F(WinsimServices, AStopThatNeverEndsStaysPendingAndRefusesAnotherStop) {
    ASSERT_NO_FATAL_FAILURE(Add("QVMIRROR", SERVICE_RUNNING));
    ASSERT_TRUE(winsim::ScriptServiceStop("QVMIRROR", winsim::kNeverStops));
    SC_HANDLE service = Open("QVMIRROR");
    SERVICE_STATUS status;
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    // A caller's poll: thirty queries a second apart, in no time.
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(Query(service).dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
        Sleep(1000);
    }
    EXPECT_EQ(winsim::SleptMilliseconds(), 30000u);
    std::memset(&status, 0xcc, sizeof status);
    SetLastError(0);
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING)) << "still reported";
}

TEST_F(WinsimServices, AScriptGivenDuringAStopAppliesToIt) {
    ASSERT_NO_FATAL_FAILURE(Add("QVMIRROR", SERVICE_RUNNING));
    ASSERT_TRUE(winsim::ScriptServiceStop("QVMIRROR", winsim::kNeverStops));
    SC_HANDLE service = Open("QVMIRROR");
    SERVICE_STATUS status;
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(Query(service).dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
    ASSERT_TRUE(winsim::ScriptServiceStop("QVMIRROR", 0));
    EXPECT_EQ(Query(service).dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(WinsimServices, OtherControlsToADriver) {
    ASSERT_NO_FATAL_FAILURE(Add("QVMIRROR", SERVICE_RUNNING));
    SC_HANDLE service = Open("QVMIRROR");
    const struct {
        DWORD control;
        BOOL result;
        DWORD error;
    } cases[] = {
        {4 /* INTERROGATE */, TRUE, 0},
        {2 /* PAUSE */, FALSE, 1052 /* ERROR_INVALID_SERVICE_CONTROL */},
        {6 /* PARAMCHANGE */, FALSE, 1052},
        {200 /* user-defined */, FALSE, 1052},
        {5 /* SHUTDOWN: not for ControlService */, FALSE, ERROR_INVALID_PARAMETER},
        {0, FALSE, ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.control);
        SERVICE_STATUS status;
        std::memset(&status, 0xcc, sizeof status);
        SetLastError(0);
        EXPECT_EQ(ControlService(service, c.control, &status), c.result);
        EXPECT_EQ(GetLastError(), c.error);
        if (c.error != ERROR_INVALID_PARAMETER) {
            EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
        }
    }
    EXPECT_EQ(winsim::FindService("QVMIRROR")->state, static_cast<DWORD>(SERVICE_RUNNING));
}

// ---------------------------------------------------------------------------
// Marking and removal

TEST_F(WinsimServices, MarkingWritesTheDeleteFlagAsWindowsDoes) {
    ASSERT_NO_FATAL_FAILURE(Add("QVMIRROR"));
    SC_HANDLE service = Open("QVMIRROR");
    ASSERT_TRUE(DeleteService(service));
    EXPECT_EQ(winsim::GetRegistryDword(KeyOf("QVMIRROR"), "DeleteFlag"), 1u);
    EXPECT_TRUE(winsim::FindService("QVMIRROR")->marked_for_deletion);
    EXPECT_EQ(winsim::FindService("QVMIRROR")->open_handles, 1u);
    Close(service);
    EXPECT_FALSE(winsim::FindService("QVMIRROR").has_value());
    EXPECT_FALSE(winsim::RegistryKeyExists(KeyOf("QVMIRROR")));
}

TEST_F(WinsimServices, AMarkedRunningServiceStaysUntilItHasStopped) {
    ASSERT_NO_FATAL_FAILURE(Add("QVMIRROR", SERVICE_RUNNING));
    SC_HANDLE service = Open("QVMIRROR");
    ASSERT_TRUE(DeleteService(service));
    ASSERT_TRUE(Close(service));
    ASSERT_TRUE(winsim::FindService("QVMIRROR").has_value()) << "still running";
    EXPECT_TRUE(winsim::RegistryKeyExists(KeyOf("QVMIRROR")));

    // Stopped through another handle, it goes when that one closes.
    service = Open("QVMIRROR");
    ASSERT_NE(service, nullptr);
    SERVICE_STATUS status;
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(Query(service).dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_TRUE(winsim::FindService("QVMIRROR").has_value()) << "a handle is open";
    ASSERT_TRUE(Close(service));
    EXPECT_FALSE(winsim::FindService("QVMIRROR").has_value());
    EXPECT_FALSE(winsim::RegistryKeyExists(KeyOf("QVMIRROR")));
}

TEST_F(WinsimServices, AMarkedServiceStoppedWithNoHandleOpenGoesAtOnce) {
    ASSERT_NO_FATAL_FAILURE(Add("QVMIRROR", SERVICE_RUNNING));
    SC_HANDLE service = Open("QVMIRROR");
    ASSERT_TRUE(DeleteService(service));
    ASSERT_TRUE(Close(service));
    ASSERT_TRUE(winsim::SetServiceState("QVMIRROR", SERVICE_STOPPED));
    EXPECT_FALSE(winsim::RegistryKeyExists(KeyOf("QVMIRROR")));
}

TEST_F(WinsimServices, AServiceMadeAgainUnderTheNameIsANewOne) {
    ASSERT_NO_FATAL_FAILURE(Add("QVMIRROR", SERVICE_RUNNING));
    ASSERT_TRUE(winsim::ScriptServiceStop("QVMIRROR", winsim::kNeverStops));
    ASSERT_TRUE(winsim::DeleteRegistryTree(KeyOf("QVMIRROR")));
    EXPECT_FALSE(winsim::FindService("QVMIRROR").has_value());
    ASSERT_TRUE(winsim::SetRegistryDword(KeyOf("QVMIRROR"), "Type", SERVICE_KERNEL_DRIVER));
    SC_HANDLE service = Open("QVMIRROR");
    SERVICE_STATUS status = Query(service);
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwWin32ExitCode, kNeverStarted);
}

// ---------------------------------------------------------------------------
// The manager, rights and handles

TEST_F(WinsimServices, OnlyTheLocalActiveDatabaseOpens) {
    const struct {
        const char* machine;
        const char* database;
        DWORD error;  // 0: opens
    } cases[] = {
        {"", "ServicesActive", 0},
        {nullptr, "", 0},
        {"OTHERHOST", nullptr, 1722 /* RPC_S_SERVER_UNAVAILABLE */},
        {nullptr, "ServicesFailed", 1065 /* ERROR_DATABASE_DOES_NOT_EXIST */},
        {nullptr, "Bogus", ERROR_INVALID_NAME},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.database ? c.database : "(null)");
        SetLastError(0);
        SC_HANDLE manager = OpenSCManagerA(c.machine, c.database, SC_MANAGER_CONNECT);
        if (c.error == 0) {
            EXPECT_NE(manager, nullptr);
            EXPECT_TRUE(CloseServiceHandle(manager));
        } else {
            EXPECT_EQ(manager, nullptr);
            EXPECT_EQ(GetLastError(), c.error);
        }
    }
}

TEST_F(WinsimServices, GenericRightsMapOntoServiceRights) {
    ASSERT_NO_FATAL_FAILURE(Add("QVMIRROR", SERVICE_RUNNING));
    const struct {
        const char* what;
        DWORD access;
        bool query, stop, remove;
    } cases[] = {
        {"generic read", GENERIC_READ, true, false, false},
        {"generic execute", 0x20000000, false, true, false},
        {"generic all", 0x10000000, true, true, true},
        {"delete only", DELETE, false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(winsim::SetServiceState("QVMIRROR", SERVICE_RUNNING));
        SC_HANDLE service = Open("QVMIRROR", c.access);
        ASSERT_NE(service, nullptr);
        SERVICE_STATUS status;
        EXPECT_EQ(QueryServiceStatus(service, &status) != FALSE, c.query);
        EXPECT_EQ(ControlService(service, SERVICE_CONTROL_STOP, &status) != FALSE, c.stop);
        SetLastError(0);
        const bool removed = DeleteService(service) != FALSE;
        EXPECT_EQ(removed, c.remove);
        if (!removed) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        }
        Close(service);
        if (removed) {
            // Marked: make it again for the next case.
            ASSERT_TRUE(winsim::SetServiceState("QVMIRROR", SERVICE_STOPPED));
            ASSERT_FALSE(winsim::FindService("QVMIRROR").has_value());
            ASSERT_NO_FATAL_FAILURE(Add("QVMIRROR", SERVICE_RUNNING));
        }
    }
}

TEST_F(WinsimServices, ServiceHandlesAreCountedAndTheirOwnKind) {
    ASSERT_NO_FATAL_FAILURE(Add("QVMIRROR"));
    EXPECT_EQ(winsim::OpenHandleCount(), 1u) << "the manager";
    SC_HANDLE one = Open("QVMIRROR");
    SC_HANDLE two = Open("qvmirror", SERVICE_QUERY_STATUS);
    EXPECT_NE(one, two);
    EXPECT_EQ(winsim::OpenHandleCount(), 3u);
    EXPECT_EQ(winsim::FindService("QVMIRROR")->open_handles, 2u);

    HANDLE file = CreateFileA("C:\\f.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(one)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(one)), ERROR_INVALID_HANDLE);
    SetLastError(0);
    EXPECT_FALSE(CloseServiceHandle(reinterpret_cast<SC_HANDLE>(file)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SERVICE_STATUS status;
    EXPECT_FALSE(QueryServiceStatus(reinterpret_cast<SC_HANDLE>(file), &status));
    EXPECT_EQ(OpenServiceA(reinterpret_cast<SC_HANDLE>(one), "QVMIRROR", SERVICE_ALL_ACCESS),
              nullptr)
        << "a service handle is no manager";
    EXPECT_EQ(winsim::OpenHandleCount(), 4u) << "refused closes leave everything open";
    CloseHandle(file);
    EXPECT_TRUE(Close(one));
    EXPECT_TRUE(Close(two));
    EXPECT_EQ(winsim::FindService("QVMIRROR")->open_handles, 0u);
}

TEST_F(WinsimServices, OpenHandlesOutliveTheKeyTheyWereOpenedBy) {
    ASSERT_NO_FATAL_FAILURE(Add("QVMIRROR", SERVICE_RUNNING));
    SC_HANDLE service = Open("QVMIRROR");
    ASSERT_TRUE(winsim::DeleteRegistryTree(KeyOf("QVMIRROR")));
    EXPECT_EQ(Open("QVMIRROR"), nullptr);
    EXPECT_EQ(Query(service).dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(DeleteService(service));
    EXPECT_TRUE(Close(service));
    EXPECT_FALSE(winsim::RegistryKeyExists(KeyOf("QVMIRROR")));
}

void LeakAServiceHandleUnderTheFixture(bool manager_only) {
    struct Probe : WinsimTest {
        void TestBody() override {}
        using WinsimTest::SetUp;
        using WinsimTest::TearDown;
    } probe;
    probe.SetUp();
    winsim::Service service;
    service.name = "QVMIRROR";
    winsim::AddService(service);
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager_only) {
        OpenServiceA(manager, "QVMIRROR", SERVICE_ALL_ACCESS);
        CloseServiceHandle(manager);
    }
    probe.TearDown();
}

TEST(WinsimServiceLeakCheck, TheFixtureReportsALeakedServiceHandle) {
    EXPECT_NONFATAL_FAILURE(LeakAServiceHandleUnderTheFixture(false), "a handle was left open");
    winsim::Reset();
}

TEST(WinsimServiceLeakCheck, TheFixtureReportsALeakedManagerHandle) {
    EXPECT_NONFATAL_FAILURE(LeakAServiceHandleUnderTheFixture(true), "a handle was left open");
    winsim::Reset();
}

}  // namespace
