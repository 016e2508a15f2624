// The machine itself: Reset, call accounting, the fault plan, the handle
// table and local memory blocks.
#include "state.h"

#include <winsim/machine.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace winsim::detail {
namespace {

// Every call that can fail, and so can be counted and made to fail. A new
// platform call joins this list when it is implemented.
const char* const kFallibleCalls[] = {
    "CreateFileA",
    "SetFilePointer",
    "WriteFile",
    "CloseHandle",
    "FindFirstFileA",
    "FindClose",
    "DeleteFileA",
    "GetTempPathA",
    "FormatMessageA",
    "LocalAlloc",
    "LocalFree",
    "GetVersionExA",
    "GetWindowsDirectoryA",
    "GetSystemDirectoryA",
    "MoveFileExA",
    "GetFileAttributesA",
    "SetFileAttributesA",
    "RegOpenKeyExA",
    "RegEnumKeyExA",
    "RegQueryValueExA",
    "RegCloseKey",
    "RegDeleteKeyA",
    "OpenSCManagerA",
    "OpenServiceA",
    "DeleteService",
    "CloseServiceHandle",
    "QueryServiceStatus",
    "ControlService",
    "SetupDiGetClassDevsA",
    "SetupDiEnumDeviceInfo",
    "SetupDiGetDeviceRegistryPropertyA",
    "SetupDiDestroyDeviceInfoList",
    "SetupDiGetINFClassA",
    "SetupDiCreateDeviceInfoList",
    "SetupDiCreateDeviceInfoA",
    "SetupDiSetDeviceRegistryPropertyA",
    "SetupDiCallClassInstaller",
    "SetupCopyOEMInfA",
    "UpdateDriverForPlugAndPlayDevicesA",
    "GetModuleHandleA",
    "GetProcAddress",
    "SetDefaultDllDirectories",
    "SetDllDirectoryA",
    "LoadLibraryExA",
    "FreeLibrary",
};

// Fill patterns for blocks that are not zero-initialised and for freed
// blocks, so that code relying on either shows up in tests.
constexpr unsigned char kFreshFill = 0xCD;
constexpr unsigned char kFreedFill = 0xDD;

// Requests above this fail as out of memory instead of straining the host.
constexpr size_t kMaxBlock = size_t{1} << 30;

std::unique_ptr<Machine> NewMachine() {
    auto machine = std::make_unique<Machine>();
    SYSTEMTIME start{};
    start.wYear = 2021;
    start.wMonth = 3;
    start.wDay = 2;
    start.wHour = 9;
    start.wMinute = 5;
    start.wSecond = 3;
    start.wMilliseconds = 7;
    machine->clock_ms = ToClockMs(start);
    machine->temp_path = "C:\\Users\\user\\AppData\\Local\\Temp\\";
    FILETIME now{};
    const uint64_t ticks = machine->clock_ms * 10000;
    now.dwLowDateTime = static_cast<DWORD>(ticks);
    now.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    machine->drive = NewFileSystem(now);
    machine->registry = NewRegistry(now);
    return machine;
}

std::unique_ptr<Machine>& Instance() {
    static std::unique_ptr<Machine> instance;
    return instance;
}

void FreeAllBlocks(Machine& machine) {
    for (auto& [block, size] : machine.blocks) {
        std::memset(block, kFreedFill, size);
        std::free(block);
    }
    machine.blocks.clear();
}

void RequireFallible(const std::string& call) {
    if (std::find(std::begin(kFallibleCalls), std::end(kFallibleCalls), call) == std::end(kFallibleCalls)) {
        throw std::invalid_argument("winsim: \"" + call + "\" is not a fallible platform call");
    }
}

}  // namespace

Machine& M() {
    auto& instance = Instance();
    if (!instance) instance = NewMachine();
    return *instance;
}

std::optional<DWORD> EnterCall(const char* call) {
    Machine& m = M();
    if (m.end_before.first == call && m.call_counts[call] + 1 == m.end_before.second) {
        const std::function<void()> ended = std::move(m.ended);
        m.end_before = {};
        ended();
        std::abort();  // it returned, as it must not
    }
    const unsigned count = ++m.call_counts[call];
    m.call_log.emplace_back(call);
    auto plan = m.faults.find(call);
    if (plan == m.faults.end()) return std::nullopt;
    auto nth = plan->second.nth.find(count);
    if (nth != plan->second.nth.end()) return nth->second;
    return std::nullopt;
}

HANDLE AddHandle(std::unique_ptr<HandleObject> object) {
    Machine& m = M();
    const uintptr_t value = m.next_handle;
    m.next_handle += 4;
    m.handles.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

HandleObject* FindHandleObject(HANDLE handle) {
    auto& handles = M().handles;
    auto it = handles.find(reinterpret_cast<uintptr_t>(handle));
    return it == handles.end() ? nullptr : it->second.get();
}

bool RemoveHandle(HANDLE handle) {
    return M().handles.erase(reinterpret_cast<uintptr_t>(handle)) != 0;
}

void* AllocateBlock(size_t bytes, bool zero) {
    if (bytes > kMaxBlock) return nullptr;
    // A zero-byte request still yields a distinct block, as on Windows.
    const size_t size = bytes == 0 ? 1 : bytes;
    void* block = std::malloc(size);
    if (block == nullptr) return nullptr;
    std::memset(block, zero ? 0 : kFreshFill, size);
    M().blocks.emplace(block, size);
    return block;
}

bool FreeBlock(void* block) {
    auto& blocks = M().blocks;
    auto it = blocks.find(block);
    if (it == blocks.end()) return false;
    std::memset(block, kFreedFill, it->second);
    std::free(block);
    blocks.erase(it);
    return true;
}

}  // namespace winsim::detail

namespace winsim {

using detail::M;

void Reset() {
    auto& instance = detail::Instance();
    if (instance) detail::FreeAllBlocks(*instance);
    instance = detail::NewMachine();
    SetLastError(ERROR_SUCCESS);
}

void Restart() {
    if (!M().handles.empty()) {
        throw std::logic_error("winsim: Restart with handles open; close them first");
    }
    detail::RestartFileSystem();
    detail::RestartServices();
}

size_t OpenHandleCount() { return M().handles.size(); }

size_t LiveAllocationCount() { return M().blocks.size(); }

void FailNthCall(const std::string& call, unsigned nth, DWORD error) {
    detail::RequireFallible(call);
    if (nth == 0) throw std::invalid_argument("winsim: call numbers start at 1");
    M().faults[call].nth[nth] = error;
}

void EndProcessBeforeNthCall(const std::string& call, unsigned nth, std::function<void()> ended) {
    detail::RequireFallible(call);
    if (nth == 0) throw std::invalid_argument("winsim: call numbers start at 1");
    M().end_before = {call, nth};
    M().ended = std::move(ended);
}

void EndProcess() {
    detail::Machine& m = M();
    m.faults.clear();
    m.end_before = {};
    m.ended = nullptr;
    while (!m.handles.empty()) {
        const auto& [value, object] = *m.handles.begin();
        const HANDLE handle = reinterpret_cast<HANDLE>(value);
        if (object->kind == detail::HandleKind::Service) {
            detail::CloseServiceObject(handle);
        } else {
            detail::RemoveHandle(handle);
        }
    }
    detail::FreeAllBlocks(m);
}

unsigned CallCount(const std::string& call) {
    detail::RequireFallible(call);
    auto& counts = M().call_counts;
    auto it = counts.find(call);
    return it == counts.end() ? 0 : it->second;
}

const std::vector<std::string>& CallLog() { return M().call_log; }

}  // namespace winsim
