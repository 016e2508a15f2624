// The service helpers: a service is its registry key; run states, scripted
// stops, and a service marked for deletion that goes once stopped and closed.
#include "winsim_test.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr DWORD kNeverStarted = 1077;  // ERROR_SERVICE_NEVER_STARTED

std::string KeyOf(const std::string& name) { return "SYSTEM\\CurrentControlSet\\Services\\" + name; }

// Service handles opened through Open are closed after the test.
class WinsimServices : public WinsimTest {
protected:
    void TearDown() override {
        for (SC_HANDLE handle : open_) CloseServiceHandle(handle);
        WinsimTest::TearDown();
    }
    static bool Add(const std::string& name, DWORD state = SERVICE_STOPPED) {
        winsim::Service service;
        service.name = name;
        service.image_path = "\\SystemRoot\\System32\\drivers\\" + name + ".sys";
        service.state = state;
        return winsim::AddService(service);
    }
    SC_HANDLE Open(const std::string& name) {
        if (open_.empty()) open_.push_back(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        SC_HANDLE handle = OpenServiceA(open_[0], name.c_str(), SERVICE_ALL_ACCESS);
        if (handle != nullptr) open_.push_back(handle);
        return handle;
    }
    BOOL Close(SC_HANDLE handle) {
        open_.erase(std::remove(open_.begin(), open_.end(), handle), open_.end());
        return CloseServiceHandle(handle);
    }
    static SERVICE_STATUS Query(SC_HANDLE handle) {
        SERVICE_STATUS status;
        std::memset(&status, 0xcc, sizeof status);
        EXPECT_TRUE(QueryServiceStatus(handle, &status)) << "error " << GetLastError();
        return status;
    }
    static DWORD Stop(SC_HANDLE handle) {
        SERVICE_STATUS status;
        SetLastError(0);
        return ControlService(handle, SERVICE_CONTROL_STOP, &status) ? 0 : GetLastError();
    }

    std::vector<SC_HANDLE> open_;  // the manager first
};

TEST_F(WinsimServices, AnAddedServiceIsItsKey) {
    ASSERT_TRUE(Add("QVMIRROR"));
    const std::string key = KeyOf("QVMIRROR");
    EXPECT_EQ(winsim::GetRegistryDword(key, "Type"), DWORD{SERVICE_KERNEL_DRIVER});
    EXPECT_EQ(winsim::GetRegistryDword(key, "Start"), DWORD{SERVICE_DEMAND_START});
    EXPECT_EQ(winsim::GetRegistryDword(key, "ErrorControl"), 1u);
    EXPECT_EQ(winsim::GetRegistryValue(key, "ImagePath")->type, DWORD{REG_EXPAND_SZ});
    EXPECT_EQ(winsim::GetRegistryString(key, "ImagePath"), "\\SystemRoot\\System32\\drivers\\QVMIRROR.sys");
    const auto info = winsim::FindService("qvmirror");
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->name, "QVMIRROR");
    EXPECT_EQ(info->state, DWORD{SERVICE_STOPPED});
    EXPECT_FALSE(info->marked_for_deletion);
    for (const std::string& name : {std::string("qvmirror"), std::string(""), std::string("a\\b"),
                                    std::string("a/b"), std::string(256, 'n')}) {
        EXPECT_FALSE(Add(name)) << "refused: " << name;
    }
    EXPECT_TRUE(Add(std::string(255, 'n')));
    EXPECT_THROW(Add("Pending", SERVICE_STOP_PENDING), std::invalid_argument);
}

TEST_F(WinsimServices, AKeyWithATypeIsAServiceWhoeverWroteItAndGoesWithIt) {
    ASSERT_TRUE(winsim::SetRegistryDword(KeyOf("Manual"), "Type", SERVICE_KERNEL_DRIVER));
    ASSERT_TRUE(winsim::SetRegistryDword(KeyOf("NoType"), "Start", SERVICE_DEMAND_START));
    EXPECT_TRUE(winsim::FindService("MANUAL").has_value());
    SetLastError(0);
    EXPECT_EQ(Open("NoType"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_SERVICE_DOES_NOT_EXIST});
    EXPECT_FALSE(winsim::FindService("NoType").has_value());

    // Deleting the key takes the service; an open handle still reports the
    // old one, and a key made again is a new, never started service.
    ASSERT_TRUE(Add("QVMIRROR", SERVICE_RUNNING));
    SC_HANDLE old = Open("QVMIRROR");
    ASSERT_TRUE(winsim::DeleteRegistryTree(KeyOf("QVMIRROR")));
    EXPECT_FALSE(winsim::FindService("QVMIRROR").has_value());
    EXPECT_EQ(Open("QVMIRROR"), nullptr);
    EXPECT_EQ(Query(old).dwCurrentState, DWORD{SERVICE_RUNNING});
    ASSERT_TRUE(winsim::SetRegistryDword(KeyOf("QVMIRROR"), "Type", SERVICE_KERNEL_DRIVER));
    const SERVICE_STATUS status = Query(Open("QVMIRROR"));
    EXPECT_EQ(status.dwCurrentState, DWORD{SERVICE_STOPPED});
    EXPECT_EQ(status.dwWin32ExitCode, kNeverStarted);
}

// ---------------------------------------------------------------------------
// Run states and scripted stops

TEST_F(WinsimServices, StatusFollowsTheStateSet) {
    EXPECT_FALSE(winsim::SetServiceState("Missing", SERVICE_RUNNING));
    EXPECT_FALSE(winsim::ScriptServiceStop("Missing", 1));
    ASSERT_TRUE(Add("QVMIRROR"));
    EXPECT_THROW(winsim::SetServiceState("QVMIRROR", SERVICE_START_PENDING), std::invalid_argument);
    SC_HANDLE service = Open("QVMIRROR");
    ASSERT_TRUE(winsim::SetServiceState("qvmirror", SERVICE_RUNNING));
    SERVICE_STATUS status = Query(service);
    EXPECT_EQ(status.dwCurrentState, DWORD{SERVICE_RUNNING});
    EXPECT_EQ(status.dwControlsAccepted, 1u) << "SERVICE_ACCEPT_STOP";
    EXPECT_EQ(status.dwWin32ExitCode, 0u);
    ASSERT_TRUE(winsim::SetServiceState("QVMIRROR", SERVICE_STOP_PENDING));
    status = Query(service);
    EXPECT_EQ(status.dwCurrentState, DWORD{SERVICE_STOPPED}) << "unscripted, stopped by the first query";
    EXPECT_EQ(status.dwCurrentState, DWORD{SERVICE_STOPPED});
    EXPECT_EQ(status.dwControlsAccepted, 0u);
    EXPECT_EQ(status.dwWin32ExitCode, 0u) << "it ran, so it is no longer never started";
}

TEST_F(WinsimServices, AStopTakesTheScriptedNumberOfQueries) {
    const struct {
        unsigned pending_queries;
        std::vector<DWORD> seen;  // by each query after the stop
    } cases[] = {
        {0, {SERVICE_STOPPED, SERVICE_STOPPED}},
        {1, {SERVICE_STOP_PENDING, SERVICE_STOPPED, SERVICE_STOPPED}},
        {3, {SERVICE_STOP_PENDING, SERVICE_STOP_PENDING, SERVICE_STOP_PENDING, SERVICE_STOPPED}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pending_queries);
        const std::string name = "S" + std::to_string(c.pending_queries);
        ASSERT_TRUE(Add(name, SERVICE_RUNNING));
        ASSERT_TRUE(winsim::ScriptServiceStop(name, c.pending_queries));
        SC_HANDLE service = Open(name);
        SERVICE_STATUS status;
        std::memset(&status, 0xcc, sizeof status);
        ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
        EXPECT_EQ(status.dwCurrentState, DWORD{SERVICE_STOP_PENDING});
        std::vector<DWORD> seen;
        for (size_t i = 0; i < c.seen.size(); ++i) seen.push_back(Query(service).dwCurrentState);
        EXPECT_EQ(seen, c.seen);
    }
}

TEST_F(WinsimServices, AStopThatNeverEndsStaysPendingUntilScriptedOtherwise) {
    ASSERT_TRUE(Add("QVMIRROR", SERVICE_RUNNING));
    ASSERT_TRUE(winsim::ScriptServiceStop("QVMIRROR", winsim::kNeverStops));
    SC_HANDLE service = Open("QVMIRROR");
    ASSERT_EQ(Stop(service), 0u);
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(Query(service).dwCurrentState, DWORD{SERVICE_STOP_PENDING});
        Sleep(1000);
    }
    EXPECT_EQ(Stop(service), DWORD{ERROR_SERVICE_CANNOT_ACCEPT_CTRL});
    ASSERT_TRUE(winsim::ScriptServiceStop("QVMIRROR", 0));
    EXPECT_EQ(Query(service).dwCurrentState, DWORD{SERVICE_STOPPED}) << "the new script applies";
}

// ---------------------------------------------------------------------------
// Marking for deletion: the DeleteFlag value is written, and the service,
// key and all, goes once it is stopped and its last handle closed.

TEST_F(WinsimServices, AMarkedServiceGoesOnceStoppedAndClosed) {
    ASSERT_TRUE(Add("Stopped"));
    SC_HANDLE stopped = Open("Stopped");
    ASSERT_TRUE(DeleteService(stopped));
    EXPECT_EQ(winsim::GetRegistryDword(KeyOf("Stopped"), "DeleteFlag"), 1u);
    EXPECT_TRUE(winsim::FindService("Stopped")->marked_for_deletion);
    EXPECT_EQ(winsim::FindService("Stopped")->open_handles, 1u);
    ASSERT_TRUE(Close(stopped));
    EXPECT_FALSE(winsim::RegistryKeyExists(KeyOf("Stopped")));

    ASSERT_TRUE(Add("Running", SERVICE_RUNNING));
    SC_HANDLE running = Open("Running");
    ASSERT_TRUE(DeleteService(running));
    ASSERT_TRUE(Close(running));
    EXPECT_TRUE(winsim::RegistryKeyExists(KeyOf("Running"))) << "still running";
    running = Open("Running");
    ASSERT_EQ(Stop(running), 0u);
    EXPECT_EQ(Query(running).dwCurrentState, DWORD{SERVICE_STOPPED});
    EXPECT_TRUE(winsim::FindService("Running").has_value()) << "a handle is open";
    ASSERT_TRUE(Close(running));
    EXPECT_FALSE(winsim::FindService("Running").has_value());
    EXPECT_FALSE(winsim::RegistryKeyExists(KeyOf("Running")));

    ASSERT_TRUE(Add("Driver", SERVICE_RUNNING));
    SC_HANDLE driver = Open("Driver");
    ASSERT_TRUE(DeleteService(driver));
    ASSERT_TRUE(Close(driver));
    ASSERT_TRUE(winsim::SetServiceState("Driver", SERVICE_STOPPED));
    EXPECT_FALSE(winsim::RegistryKeyExists(KeyOf("Driver"))) << "stopped with no handle open";
}

}  // namespace
