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

constexpr DWORD kDelete = 0x00010000;
constexpr DWORD kStandardRightsRead = 0x00020000;  // READ_CONTROL
constexpr DWORD kGenericRead = 0x80000000;
constexpr DWORD kGenericWrite = 0x40000000;
constexpr DWORD kGenericExecute = 0x20000000;
constexpr DWORD kGenericAll = 0x10000000;

constexpr DWORD kServiceQueryConfig = 0x0001;
constexpr DWORD kServiceChangeConfig = 0x0002;
constexpr DWORD kServiceEnumerateDependents = 0x0008;
constexpr DWORD kServiceStart = 0x0010;
constexpr DWORD kServicePauseContinue = 0x0040;
constexpr DWORD kServiceInterrogate = 0x0080;
constexpr DWORD kServiceUserDefinedControl = 0x0100;

constexpr DWORD kServiceAcceptStop = 0x0001;

constexpr DWORD kControlPause = 0x2;
constexpr DWORD kControlContinue = 0x3;
constexpr DWORD kControlInterrogate = 0x4;
constexpr DWORD kControlParamChange = 0x6;
constexpr DWORD kControlNetBindDisable = 0xA;

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
    DWORD granted = 0;
};

// Generic rights map onto service rights as the service object type defines.
DWORD MapGenericServiceRights(DWORD desired) {
    DWORD mapped = desired & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll);
    if (desired & kGenericRead) {
        mapped |= kStandardRightsRead | kServiceQueryConfig | SERVICE_QUERY_STATUS |
                  kServiceInterrogate | kServiceEnumerateDependents;
    }
    if (desired & kGenericWrite) mapped |= kStandardRightsRead | kServiceChangeConfig;
    if (desired & kGenericExecute) {
        mapped |= kStandardRightsRead | kServiceStart | SERVICE_STOP | kServicePauseContinue |
                  kServiceUserDefinedControl;
    }
    if (desired & kGenericAll) mapped |= SERVICE_ALL_ACCESS;
    return mapped;
}

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

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName, DWORD) {
    if (auto fault = EnterCall("OpenSCManagerA")) return Fail(*fault, SC_HANDLE{nullptr});
    // This machine has no network: no other machine answers.
    if (lpMachineName != nullptr && lpMachineName[0] != '\0') {
        return Fail(kRpcServerUnavailable, SC_HANDLE{nullptr});
    }
    if (lpDatabaseName != nullptr && lpDatabaseName[0] != '\0') {
        if (std::strcmp(lpDatabaseName, "ServicesFailed") == 0) {
            return Fail(kErrorDatabaseDoesNotExist, SC_HANDLE{nullptr});
        }
        if (std::strcmp(lpDatabaseName, "ServicesActive") != 0) {
            return Fail(static_cast<DWORD>(ERROR_INVALID_NAME), SC_HANDLE{nullptr});
        }
    }
    // The caller is an administrator: every right is granted.
    return ToScHandle(AddHandle(std::make_unique<ServiceManagerHandle>()));
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess) {
    if (auto fault = EnterCall("OpenServiceA")) return Fail(*fault, SC_HANDLE{nullptr});
    if (LookupHandle<ServiceManagerHandle>(FromScHandle(hSCManager)) == nullptr) {
        return Fail(static_cast<DWORD>(ERROR_INVALID_HANDLE), SC_HANDLE{nullptr});
    }
    if (lpServiceName == nullptr) return Fail(kErrorInvalidAddress, SC_HANDLE{nullptr});
    if (!ValidServiceName(lpServiceName)) {
        return Fail(static_cast<DWORD>(ERROR_INVALID_NAME), SC_HANDLE{nullptr});
    }
    // A name too long to be a key names no service. A service marked for
    // deletion still opens.
    std::shared_ptr<RegKey> key = FindServiceKey(lpServiceName);
    if (!key) return Fail(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), SC_HANDLE{nullptr});
    auto handle = std::make_unique<ServiceHandle>();
    handle->key = key;
    handle->granted = MapGenericServiceRights(dwDesiredAccess);
    return ToScHandle(AddHandle(std::move(handle)));
}

BOOL WINAPI DeleteService(SC_HANDLE hService) {
    if (auto fault = EnterCall("DeleteService")) return Fail(*fault, FALSE);
    ServiceHandle* service = LookupHandle<ServiceHandle>(FromScHandle(hService));
    if (service == nullptr) return Fail(static_cast<DWORD>(ERROR_INVALID_HANDLE), FALSE);
    if (!(service->granted & kDelete)) return Fail(static_cast<DWORD>(ERROR_ACCESS_DENIED), FALSE);
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
    if (lpServiceStatus == nullptr) return Fail(kErrorInvalidAddress, FALSE);
    if (!(service->granted & SERVICE_QUERY_STATUS)) {
        return Fail(static_cast<DWORD>(ERROR_ACCESS_DENIED), FALSE);
    }
    Advance(Record(*service->key));
    FillStatus(*service->key, lpServiceStatus);
    return TRUE;
}

BOOL WINAPI ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus) {
    if (auto fault = EnterCall("ControlService")) return Fail(*fault, FALSE);
    ServiceHandle* service = LookupHandle<ServiceHandle>(FromScHandle(hService));
    if (service == nullptr) return Fail(static_cast<DWORD>(ERROR_INVALID_HANDLE), FALSE);
    if (lpServiceStatus == nullptr) return Fail(kErrorInvalidAddress, FALSE);
    // The right each control needs; a kernel driver takes only STOP and
    // INTERROGATE, the other defined controls are refused while it runs.
    DWORD needed = 0;
    bool accepted = false;
    if (dwControl == SERVICE_CONTROL_STOP) {
        needed = SERVICE_STOP;
        accepted = true;
    } else if (dwControl == kControlInterrogate) {
        needed = kServiceInterrogate;
        accepted = true;
    } else if (dwControl == kControlPause || dwControl == kControlContinue ||
               (dwControl >= kControlParamChange && dwControl <= kControlNetBindDisable)) {
        needed = kServicePauseContinue;
    } else if (dwControl >= 128 && dwControl <= 255) {
        needed = kServiceUserDefinedControl;
    } else {
        return Fail(static_cast<DWORD>(ERROR_INVALID_PARAMETER), FALSE);
    }
    if (!(service->granted & needed)) return Fail(static_cast<DWORD>(ERROR_ACCESS_DENIED), FALSE);
    RegKey& key = *service->key;
    ServiceRecord& record = Record(key);
    // From here on the status is reported, failing or not.
    DWORD error = ERROR_SUCCESS;
    if (record.state == SERVICE_STOPPED) {
        error = ERROR_SERVICE_NOT_ACTIVE;
    } else if (record.state == SERVICE_STOP_PENDING) {
        error = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    } else if (!accepted) {
        error = kErrorInvalidServiceControl;
    } else if (dwControl == SERVICE_CONTROL_STOP) {
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
