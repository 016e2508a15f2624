// The simulated machine behind <winsim/win32.h>: what tests set up, inspect
// and make fail on purpose. It holds platform state only.
#pragma once

#include <winsim/win32.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

// A fresh machine: drive C: with C:\Windows, C:\Windows\System32 (holding
// newdev.dll), C:\Windows\INF and the temporary folder
// C:\Users\user\AppData\Local\Temp\;
// the clock at 2021/03/02 09:05:03.007; x64 Windows reporting version 6.2
// build 9200, as Windows 8 to 11 do to this program (its manifest declares
// no supportedOS); a registry holding SOFTWARE, SYSTEM\CurrentControlSet\Enum, ...\Services,
// ...\Control\Session Manager and the display class key
// ...\Control\Class\{4D36E968-...} (Class "Display"); no device, no service;
// no restart pending, no delayed file operation; an empty debugger channel;
// no open handle, no live allocation, no planned fault, no counted call.
void Reset();

// Restarts Windows: files held in use are let go; the delayed deletions
// recorded by MoveFileExA are carried out in order (whatever the file's
// attributes; a folder only when empty; delayed moves are not simulated)
// and forgotten; services
// marked for deletion are gone, the others come back stopped, or running
// when they start with the system (boot, system or automatic start).
// Files, registry, devices, clock and accounting stay otherwise. The test
// process lives on, but it must hold no handle: std::logic_error if it does.
void Restart();

// Clock read by GetLocalTime, set to a valid date and time. The day of the
// week is derived from the date. Sleep advances it without waiting.
void SetLocalTime(const SYSTEMTIME& time);

// Debugger channel: one entry per OutputDebugStringA call, as passed.
const std::vector<std::string>& DebugOutput();
void ClearDebugOutput();

// File system. Paths follow the Win32 rules of the simulator (drive letters,
// backslash or slash, repeated separators, letter case ignored).
bool MakeDirectories(const std::string& path);
bool PutFile(const std::string& path, const std::string& contents,
             DWORD attributes = FILE_ATTRIBUTE_ARCHIVE);
std::optional<std::string> FileContents(const std::string& path);
bool Exists(const std::string& path);
// Every file of the machine by full path ("C:\\Windows\\INF\\oem0.inf"), with its contents.
std::map<std::string, std::string> Files();
// Marks a file as held open by another process (a loaded driver, say) for
// reading and executing, sharing reading only: deleting or writing it
// fails with ERROR_SHARING_VIOLATION, and so does opening it without
// sharing reading. A restart lets go of it. False when there is no such file.
bool SetFileInUse(const std::string& path);
// The moves and deletions that MoveFileExA delayed until the next restart,
// in order, as the session manager keeps them in
// HKLM\SYSTEM\CurrentControlSet\Control\Session Manager,
// PendingFileRenameOperations: full paths without the "\??\" prefix.
struct PendingFileOperation {
    std::string source;
    std::string target;    // "" to delete the source
    bool replace = false;  // the move may replace an existing target
};
std::vector<PendingFileOperation> PendingFileOperations();

// Version that GetVersionExA reports (platform VER_PLATFORM_WIN32_NT, no
// service pack): 6.1 for Windows 7, 6.2 build 9200 for every later Windows,
// as the program's manifest declares no supportedOS. Below 6.2 the loader
// lacks SetDefaultDllDirectories and the LOAD_LIBRARY_SEARCH_ flags, as
// Windows 7 without its loader update.
void SetWindowsVersion(DWORD major, DWORD minor, DWORD build);

// The loader. The program runs from this folder, which a fresh machine does
// not have; a DLL named without a path is looked for there first unless the
// search was restricted. LoadLibraryExA loads any file as a module; one that
// is not C:\Windows\System32\newdev.dll is foreign, and its code would run
// in the program: their full paths, in load order. Modules count as handles.
inline const std::string kProgramFolder = "C:\\Setup";
const std::vector<std::string>& ForeignModules();

// Registry under HKEY_LOCAL_MACHINE. Key paths are relative to it, with
// backslashes ("SYSTEM\\CurrentControlSet\\Services"); "" is the root. Key and
// value names compare without regard to letter case and keep the case they
// were created with; "" names a key's default value.
struct RegistryValue {
    DWORD type = REG_NONE;
    std::string data;  // raw bytes
};
// Creates the key and any missing parents; false for an invalid name.
bool CreateRegistryKey(const std::string& path);
// Sets a value, creating the key as needed. The bytes are stored as given:
// a string without a terminator stays without one.
bool SetRegistryValue(const std::string& key, const std::string& name, DWORD type,
                      const std::string& data);
// A REG_SZ value stored with its terminator.
bool SetRegistryString(const std::string& key, const std::string& name, const std::string& value);
bool SetRegistryDword(const std::string& key, const std::string& name, DWORD value);
bool RegistryKeyExists(const std::string& path);
std::optional<RegistryValue> GetRegistryValue(const std::string& key, const std::string& name);
// Sub-key names in enumeration order (sorted without regard to case).
std::vector<std::string> RegistrySubKeys(const std::string& path);
// Value names in the order they were first set.
std::vector<std::string> RegistryValueNames(const std::string& path);
// From now on RegOpenKeyExA refuses this key with ERROR_ACCESS_DENIED when
// asked for any of these rights (generic rights mapped; READ_CONTROL, part
// of every KEY_* mask, does not count, so KEY_WRITE denies writing only).
// Replaces an earlier denial; 0 lifts it. False when the key does not exist.
bool DenyRegistryAccess(const std::string& path, REGSAM rights);

// Devices. A test adds display adapters as the PnP manager would have them;
// the SetupAPI calls see them, and driver installation changes them.
struct Device {
    std::string instance_id;  // "ROOT\\DISPLAY\\0000", "PCI\\VEN_8086&DEV_1234\\3&11583659&0&10"
    std::optional<std::string> hardware_ids;  // REG_MULTI_SZ bytes as stored, well formed or not
    std::string description;                  // device description; "" for none
    bool present = true;
    std::string service;  // "" for none
    // Driver key below ...\Control\Class, as "{4D36E968-...}\\0001"; "" for none.
    std::string driver;
};
// Joins a device to the machine; false when the instance ID is empty or
// already taken (letter case ignored).
bool AddDevice(const Device& device);
// The machine's devices, present or not, in SetupDiGetClassDevsA order.
std::vector<Device> Devices();
// The device's hardware IDs become these bytes once the next read of them is
// answered, as for a device that changes while it is enumerated; false when
// there is no such device.
bool ChangeHardwareIdsAfterRead(const std::string& instance_id, const std::string& bytes);
// "a", "b" -> "a\0b\0\0": the bytes of a well-formed multi-string.
std::string MultiString(const std::vector<std::string>& strings);
// Whether the next driver installation needs a restart to finish.
void SetRestartRequired(bool required);

// Services. A service is its key SYSTEM\CurrentControlSet\Services\<name>
// holding a Type value, however it got there (AddService, a driver
// installation, the registry helpers); DeleteService marks it with a
// DeleteFlag value there, and it goes, key and all, once it is stopped and
// its last handle is closed. Names compare without regard to letter case.
struct Service {
    std::string name;
};
// Writes the key of a stopped kernel driver started on demand (Type 1,
// Start 3, ErrorControl 1); false when the name is not a service name or the
// service exists.
bool AddService(const Service& service);
struct ServiceInfo {
    bool marked_for_deletion = false;
};
// Nothing when there is no such service.
std::optional<ServiceInfo> FindService(const std::string& name);
// Makes a service stopped, running (a driver that was loaded) or stop
// pending, which the next QueryServiceStatus sees end in SERVICE_STOPPED;
// false when there is no such service.
bool SetServiceState(const std::string& name, DWORD state);

// Accounting: handles of every kind still open, LocalAlloc blocks not freed.
size_t OpenHandleCount();
size_t LiveAllocationCount();

// Fault plan. A planned fault makes a named platform call fail with the given
// error code as Windows would report it (failure result and last-error value;
// a registry call returns the code and leaves the last-error value alone).
// Calls are counted from the last Reset; nth is 1-based.
void FailNthCall(const std::string& call, unsigned nth, DWORD error);
unsigned CallCount(const std::string& call);
// Every fallible platform call made since the last Reset, in order.
const std::vector<std::string>& CallLog();

// The process ends before the nth call of that name (counted from the last
// Reset): the call is not made, and `ended` runs in its place. It must not
// return: the program's frames below it are gone, so it stands for what
// follows the process, in a test process of its own that it ends itself.
// EndProcess does what Windows does when a process ends: it closes the
// process's handles (a service marked for deletion goes once its last handle
// is closed; unregistered device elements go with their set) and frees its
// memory. What it wrote to the registry, the files, the devices and the
// services stays, and so do the file operations it left for the restart.
void EndProcessBeforeNthCall(const std::string& call, unsigned nth, std::function<void()> ended);
void EndProcess();

}  // namespace winsim
