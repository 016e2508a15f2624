// The service control manager: OpenSCManagerA, OpenServiceA, DeleteService,
// CloseServiceHandle, QueryServiceStatus, ControlService, the service keys
// that driver installations write, and the test helpers that add, run and
// inspect services.
//
// A service is its key SYSTEM\CurrentControlSet\Services\<name> with a Type
// value, as the manager reads it at start-up; marking it for deletion writes
// DeleteFlag there, as Windows does. Only the run state lives outside the
// registry, on the key itself, so it goes when the key goes.
#include "state.h"

#include <winsim/machine.h>

#include <cstring>
#include <stdexcept>

namespace winsim::detail {
namespace {

constexpr DWORD kServiceAcceptStop = 0x0001;

constexpr DWORD kAutoStart = 2;  // SERVICE_AUTO_START; boot and system start come before it

// The longest key name the registry holds, and so the longest service name
// that can exist.
constexpr size_t kMaxServiceName = 255;

struct ServiceManagerHandle : HandleObject {
    static constexpr HandleKind kKind = HandleKind::ServiceManager;
    ServiceManagerHandle() : HandleObject(kKind) {}
};

struct ServiceHandle : HandleObject {
    static constexpr HandleKind kKind = HandleKind::Service;
    ServiceHandle() : HandleObject(kKind) {}
    std::shared_ptr<RegKey> key;  // keeps the record while the handle is open
};

// Empty names and names with a slash or backslash are not service names.
bool ValidServiceName(const std::string& name) {
    return !name.empty() && name.find_first_of("/\\") == std::string::npos;
}

bool IsServiceKey(const RegKey& key) { return DwordValue(key, "Type").has_value(); }

// The key of the named service, or null when there is no such service.
std::shared_ptr<RegKey> FindServiceKey(const std::string& name) {
    if (!ValidServiceName(name) || name.size() > kMaxServiceName) return nullptr;
    std::shared_ptr<RegKey> services = FindKey(kServicesKey);
    if (!services) return nullptr;
    std::shared_ptr<RegKey> key = services->FindSubKey(name);
    return key && IsServiceKey(*key) ? key : nullptr;
}

ServiceRecord& Record(RegKey& key) {
    if (!key.service) key.service.emplace();
    return *key.service;
}

bool MarkedForDeletion(const RegKey& key) { return DwordValue(key, "DeleteFlag").value_or(0) != 0; }

size_t OpenServiceHandles(const RegKey& key) {
    size_t count = 0;
    for (const auto& entry : M().handles) {
        if (entry.second->kind != HandleKind::Service) continue;
        if (static_cast<const ServiceHandle*>(entry.second.get())->key.get() == &key) ++count;
    }
    return count;
}

// A service marked for deletion goes, key and all, once it is stopped and
// its last handle is closed.
void RemoveIfDone(RegKey& key) {
    if (key.deleted || !MarkedForDeletion(key)) return;
    if (Record(key).state != SERVICE_STOPPED || OpenServiceHandles(key) != 0) return;
    UnlinkKey(key);
}

void FillStatus(RegKey& key, LPSERVICE_STATUS status) {
    const ServiceRecord& record = Record(key);
    std::memset(status, 0, sizeof *status);
    status->dwServiceType = DwordValue(key, "Type").value_or(0);
    status->dwCurrentState = record.state;
    status->dwControlsAccepted = record.state == SERVICE_RUNNING ? kServiceAcceptStop : 0;
    if (record.state == SERVICE_STOPPED && !record.started) {
        status->dwWin32ExitCode = kErrorServiceNeverStarted;
    }
}

// A stop ends by the next status query.
void Advance(ServiceRecord& record) {
    if (record.state == SERVICE_STOP_PENDING) record.state = SERVICE_STOPPED;
}

void SetState(ServiceRecord& record, DWORD state) {
    record.state = state;
    if (state != SERVICE_STOPPED) record.started = true;
}

SC_HANDLE ToScHandle(HANDLE handle) { return reinterpret_cast<SC_HANDLE>(handle); }
HANDLE FromScHandle(SC_HANDLE handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

void RestartServices() {
    std::shared_ptr<RegKey> services = FindKey(kServicesKey);
    if (!services) return;
    std::vector<std::shared_ptr<RegKey>> marked;
    for (const auto& entry : services->subkeys()) {
        RegKey& key = *entry.second;
        if (!IsServiceKey(key)) continue;
        if (MarkedForDeletion(key)) {
            marked.push_back(entry.second);
            continue;
        }
        ServiceRecord& record = Record(key);
        const bool starts = DwordValue(key, "Start").value_or(SERVICE_DEMAND_START) <= kAutoStart;
        record.state = starts ? SERVICE_RUNNING : SERVICE_STOPPED;
        record.started = starts;
    }
    for (const auto& key : marked) UnlinkKey(*key);
}

void WriteServiceKey(const ServiceSetup& service) {
    std::shared_ptr<RegKey> key = CreateKey(std::string(kServicesKey) + "\\" + service.name);
    if (!key) return;
    key->SetValue("Type", REG_DWORD, DwordBytes(service.type));
    key->SetValue("Start", REG_DWORD, DwordBytes(service.start));
    key->SetValue("ErrorControl", REG_DWORD, DwordBytes(service.error_control));
    key->SetValue("ImagePath", REG_EXPAND_SZ, WithTerminator(service.image_path));
}

void CloseServiceObject(HANDLE handle) {
    std::shared_ptr<RegKey> key = LookupHandle<ServiceHandle>(handle)->key;
    RemoveHandle(handle);
    RemoveIfDone(*key);
}

}  // namespace winsim::detail

using namespace winsim::detail;

// ---------------------------------------------------------------------------
// Win32 service calls

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR, LPCSTR, DWORD) {
    if (auto fault = EnterCall("OpenSCManagerA")) return Fail(*fault, SC_HANDLE{nullptr});
    // The local machine's active database; the caller is an administrator:
    // every right is granted.
    return ToScHandle(AddHandle(std::make_unique<ServiceManagerHandle>()));
}

// Access rights are not simulated: every handle may do everything.
SC_HANDLE WINAPI OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD) {
    if (auto fault = EnterCall("OpenServiceA")) return Fail(*fault, SC_HANDLE{nullptr});
    if (LookupHandle<ServiceManagerHandle>(FromScHandle(hSCManager)) == nullptr) {
        return Fail(static_cast<DWORD>(ERROR_INVALID_HANDLE), SC_HANDLE{nullptr});
    }
    // A name too long to be a key names no service. A service marked for
    // deletion still opens.
    std::shared_ptr<RegKey> key = FindServiceKey(lpServiceName);
    if (!key) return Fail(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), SC_HANDLE{nullptr});
    auto handle = std::make_unique<ServiceHandle>();
    handle->key = key;
    return ToScHandle(AddHandle(std::move(handle)));
}

BOOL WINAPI DeleteService(SC_HANDLE hService) {
    if (auto fault = EnterCall("DeleteService")) return Fail(*fault, FALSE);
    ServiceHandle* service = LookupHandle<ServiceHandle>(FromScHandle(hService));
    if (service == nullptr) return Fail(static_cast<DWORD>(ERROR_INVALID_HANDLE), FALSE);
    RegKey& key = *service->key;
    if (MarkedForDeletion(key)) {
        return Fail(static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE), FALSE);
    }
    // The handle used is still open: the service goes when it is closed.
    key.SetValue("DeleteFlag", REG_DWORD, DwordBytes(1));
    return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject) {
    if (auto fault = EnterCall("CloseServiceHandle")) return Fail(*fault, FALSE);
    HANDLE handle = FromScHandle(hSCObject);
    if (LookupHandle<ServiceManagerHandle>(handle) != nullptr) {
        RemoveHandle(handle);
        return TRUE;
    }
    if (LookupHandle<ServiceHandle>(handle) == nullptr) return Fail(static_cast<DWORD>(ERROR_INVALID_HANDLE), FALSE);
    CloseServiceObject(handle);
    return TRUE;
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
    if (auto fault = EnterCall("QueryServiceStatus")) return Fail(*fault, FALSE);
    ServiceHandle* service = LookupHandle<ServiceHandle>(FromScHandle(hService));
    if (service == nullptr) return Fail(static_cast<DWORD>(ERROR_INVALID_HANDLE), FALSE);
    Advance(Record(*service->key));
    FillStatus(*service->key, lpServiceStatus);
    return TRUE;
}

BOOL WINAPI ControlService(SC_HANDLE hService, DWORD, LPSERVICE_STATUS lpServiceStatus) {
    if (auto fault = EnterCall("ControlService")) return Fail(*fault, FALSE);
    ServiceHandle* service = LookupHandle<ServiceHandle>(FromScHandle(hService));
    if (service == nullptr) return Fail(static_cast<DWORD>(ERROR_INVALID_HANDLE), FALSE);
    // SERVICE_CONTROL_STOP is simulated.
    RegKey& key = *service->key;
    ServiceRecord& record = Record(key);
    // From here on the status is reported, failing or not.
    DWORD error = ERROR_SUCCESS;
    if (record.state == SERVICE_STOPPED) {
        error = ERROR_SERVICE_NOT_ACTIVE;
    } else if (record.state == SERVICE_STOP_PENDING) {
        error = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    } else {
        SetState(record, SERVICE_STOP_PENDING);
    }
    FillStatus(key, lpServiceStatus);
    if (error != ERROR_SUCCESS) return Fail(error, FALSE);
    return TRUE;
}

// ---------------------------------------------------------------------------
// Test helpers

namespace winsim {

bool AddService(const Service& service) {
    if (!ValidServiceName(service.name) || service.name.size() > kMaxServiceName) return false;
    if (FindServiceKey(service.name)) return false;
    std::shared_ptr<RegKey> key =
        CreateKey(std::string(detail::kServicesKey) + "\\" + service.name);
    if (!key) return false;
    key->SetValue("Type", REG_DWORD, DwordBytes(SERVICE_KERNEL_DRIVER));
    key->SetValue("Start", REG_DWORD, DwordBytes(SERVICE_DEMAND_START));
    key->SetValue("ErrorControl", REG_DWORD, DwordBytes(1));
    key->service.reset();
    return true;
}

std::optional<ServiceInfo> FindService(const std::string& name) {
    std::shared_ptr<RegKey> key = FindServiceKey(name);
    if (!key) return std::nullopt;
    ServiceInfo info;
    info.marked_for_deletion = MarkedForDeletion(*key);
    return info;
}

bool SetServiceState(const std::string& name, DWORD state) {
    if (state != SERVICE_STOPPED && state != SERVICE_RUNNING && state != SERVICE_STOP_PENDING) {
        throw std::invalid_argument("winsim: a service is set stopped, stop pending or running");
    }
    std::shared_ptr<RegKey> key = FindServiceKey(name);
    if (!key) return false;
    SetState(Record(*key), state);
    RemoveIfDone(*key);
    return true;
}

}  // namespace winsim
