// State shared by winsim's sources: the one simulated machine, its call
// accounting and fault plan, its handle table, memory blocks, file system,
// registry and devices.
// Not thread-safe: only the last-error value is per thread, as on Windows.
#pragma once

#include <winsim/win32.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace winsim::detail {

// Error codes that winsim reports but the public header does not declare.
constexpr DWORD kErrorServiceNeverStarted = 1077;

// ---------------------------------------------------------------------------
// Calls that can fail. Each one starts with
//     if (auto fault = EnterCall("Name")) return Fail(*fault, failure_result);
// which counts and logs the call and tells whether the plan makes it fail.

std::optional<DWORD> EnterCall(const char* call);
// Closes a service handle as CloseServiceHandle does, without counting a call.
void CloseServiceObject(HANDLE handle);

// Sets the last-error value and hands back the failure result.
template <class T>
T Fail(DWORD error, T result) {
    SetLastError(error);
    return result;
}

// ---------------------------------------------------------------------------
// Handles. Every object behind a handle derives from HandleObject and names
// its kind; a call given a handle of another kind fails as Windows does.

enum class HandleKind {
    File,
    Find,
    RegistryKey,
    DeviceInfoSet,
    ServiceManager,
    Service,
    Module,
};

struct HandleObject {
    explicit HandleObject(HandleKind k) : kind(k) {}
    virtual ~HandleObject() = default;
    const HandleKind kind;
};

HANDLE AddHandle(std::unique_ptr<HandleObject> object);
HandleObject* FindHandleObject(HANDLE handle);
// Destroys the object; false when the handle is not open.
bool RemoveHandle(HANDLE handle);

template <class T>
T* LookupHandle(HANDLE handle) {
    HandleObject* object = FindHandleObject(handle);
    return object != nullptr && object->kind == T::kKind ? static_cast<T*>(object) : nullptr;
}

// ---------------------------------------------------------------------------
// Local memory blocks (LocalAlloc and the buffers FormatMessageA allocates).

void* AllocateBlock(size_t bytes, bool zero);
bool FreeBlock(void* block);

// ---------------------------------------------------------------------------
// Letter case in names, folded as Windows folds it: ASCII letters only.

char UpperCase(char c);
std::string UpperCase(std::string text);
std::string LowerCase(std::string text);
// Orders names as NTFS and the registry do: by their upper-case form, byte by byte.
struct NameLess {
    bool operator()(const std::string& a, const std::string& b) const;
};
bool SameName(const std::string& a, const std::string& b);

// ---------------------------------------------------------------------------
// Paths: a drive letter (C: when none), components separated by backslashes
// or slashes, repeated separators ignored.

struct ParsedPath {
    char drive = 'C';
    std::vector<std::string> parts;  // below the drive root
    bool wildcard = false;  // the last component holds '*' or '?'
};
// A path's drive and components; ERROR_PATH_NOT_FOUND for an empty path,
// ERROR_INVALID_NAME for a wildcard where none is allowed (only in the last
// component of a search).
DWORD ParsePath(const char* path, bool allow_wildcards, ParsedPath* out);
// The full path that a parsed path names, as GetFullPathName gives it.
std::string FullPath(const ParsedPath& path);
// Whether a name matches a search pattern, letter case ignored.
bool MatchPattern(const std::string& pattern, const std::string& name, size_t pattern_at = 0, size_t name_at = 0);

// ---------------------------------------------------------------------------
// File system.

struct Node {
    std::string name;  // as created; "C:" for the drive's root
    DWORD attributes = 0;
    std::string data;
    FILETIME created{};
    FILETIME written{};
    Node* parent = nullptr;
    std::map<std::string, std::shared_ptr<Node>, NameLess> children;

    // Held open by another process (a loaded driver, say) for reading and
    // executing, sharing reading only; a restart lets go of it.
    bool in_use = false;

    bool IsDirectory() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};

// What an open file handle was granted, reduced to what the file system
// checks: data access for sharing and for WriteFile.
struct Access {
    bool read = false;    // FILE_READ_DATA
    bool write = false;   // FILE_WRITE_DATA/FILE_APPEND_DATA: WriteFile allowed
    bool execute = false; // counts as reading for sharing
    bool remove = false;  // DELETE

    static Access FromMask(DWORD desired);
    bool SharesRead() const { return read || execute; }
    bool Any() const { return read || write || execute || remove; }
};

struct FileHandle : HandleObject {
    static constexpr HandleKind kKind = HandleKind::File;
    FileHandle() : HandleObject(kKind) {}
    std::shared_ptr<Node> node;  // keeps a deleted file's data alive while open
    Access access;
    DWORD share = 0;
    uint64_t position = 0;
};

// An open search. FindFirstFileA hands back the first result at once, and no
// call here asks for more.
struct FindHandle : HandleObject {
    static constexpr HandleKind kKind = HandleKind::Find;
    FindHandle() : HandleObject(kKind) {}
};

// The folders of a fresh machine's one drive, C:, stamped with the given
// time: its root, which is also the process's current folder.
std::shared_ptr<Node> NewFileSystem(FILETIME now);

// Whole-file access for the calls that read and write INF files. They follow
// the Win32 path rules and report a missing file or folder, and a write to
// a file another process holds, with the error code CreateFileA would.
DWORD ReadWholeFile(const std::string& path, std::string* contents);
// Creates or replaces a file; a new file gets the given attributes.
DWORD WriteWholeFile(const std::string& path, const std::string& contents, DWORD attributes);
// Attributes of an existing file, or INVALID_FILE_ATTRIBUTES.
DWORD FileAttributesOf(const std::string& path);
// Names in a folder, in directory order; empty when it is not a folder.
std::vector<std::string> FolderEntries(const std::string& path);
// What a restart does to files: lets go of every file held in use, then
// carries out the delayed deletions in the order recorded and forgets them.
void RestartFileSystem();

// ---------------------------------------------------------------------------
// Registry: HKEY_LOCAL_MACHINE and the keys below it.

struct RegValue {
    std::string name;  // as first set; "" is the key's default value
    DWORD type = REG_NONE;
    std::string data;  // raw bytes as stored
};

// What the service control manager knows of a service beyond its key:
// only its run state, which the registry does not hold.
struct ServiceRecord {
    DWORD state = SERVICE_STOPPED;  // SERVICE_STOPPED, _STOP_PENDING or _RUNNING
    bool started = false;           // ran since the machine started
};

struct RegKey {
    using SubKeys = std::map<std::string, std::shared_ptr<RegKey>, NameLess>;

    std::string name;  // as created
    RegKey* parent = nullptr;
    std::vector<RegValue> values;  // in the order they were first set
    REGSAM denied = 0;             // access rights refused to every opener
    bool deleted = false;          // gone from the tree; open handles see ERROR_KEY_DELETED
    FILETIME written{};
    // Run state when this is a service's key; it goes with the key.
    std::optional<ServiceRecord> service;

    const RegValue* FindValue(const std::string& value_name) const;
    void SetValue(const std::string& value_name, DWORD type, std::string data);
    bool DeleteValue(const std::string& value_name);

    const SubKeys& subkeys() const { return subkeys_; }
    std::shared_ptr<RegKey> FindSubKey(const std::string& sub_name) const;
    // Adds a sub-key (the name must be free) or takes one out.
    RegKey& AddSubKey(std::shared_ptr<RegKey> sub);
    void RemoveSubKey(const std::string& sub_name);
    // The sub-key at an index in enumeration order, or null past the end.
    // Walks from the nearest of the first, the last and the one asked for
    // before, so that stepping through the sub-keys costs a step each.
    const RegKey* SubKeyAt(size_t index) const;

private:
    SubKeys subkeys_;
    mutable SubKeys::const_iterator cursor_;
    mutable size_t cursor_index_ = 0;
    mutable bool cursor_valid_ = false;
};

struct KeyHandle : HandleObject {
    static constexpr HandleKind kKind = HandleKind::RegistryKey;
    KeyHandle() : HandleObject(kKind) {}
    std::shared_ptr<RegKey> key;
    REGSAM granted = 0;
};

// Paths are below HKEY_LOCAL_MACHINE, components separated by backslashes;
// empty components (doubled or trailing backslashes) are skipped.
std::shared_ptr<RegKey> FindKey(const std::string& path);
// Creates missing keys on the way; null when a component is not a valid name.
std::shared_ptr<RegKey> CreateKey(const std::string& path);
bool DeleteKeyTree(const std::string& path);
// Takes a key out of the tree with everything below it.
void UnlinkKey(RegKey& key);
std::shared_ptr<RegKey> NewRegistry(FILETIME now);
// A DWORD value, or nothing when absent or of another type or size.
std::optional<DWORD> DwordValue(const RegKey& key, const std::string& value_name);
std::string DwordBytes(DWORD value);

// ---------------------------------------------------------------------------
// Services: SYSTEM\CurrentControlSet\Services\<name> keys holding a Type.

constexpr char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services";
// A service as an INF's AddService line and its section install it.
struct ServiceSetup {
    std::string name;
    DWORD flags = 0;
    DWORD type = 0;
    DWORD start = 0;
    DWORD error_control = 0;
    std::string image_path;
};

// Writes the service's key, as a driver installation does.
void WriteServiceKey(const ServiceSetup& service);
// What a restart does to services: those marked for deletion go, the others
// come back stopped, or running when they start with the system.
void RestartServices();

// ---------------------------------------------------------------------------
// Devices and device information sets.

// One device instance: either registered with the machine (in Machine::
// devices) or an element a set created and has not registered yet.
struct DeviceNode {
    std::string instance_id;
    GUID class_guid{};
    std::map<DWORD, std::string> properties;  // SPDRP_ code -> raw bytes
    std::optional<std::string> next_hardware_ids;  // what a read of them leaves
    bool present = true;
    bool removed = false;  // taken out of the machine by DIF_REMOVE
    bool registered = false;  // one of the machine's devices
    std::string service;
    std::string driver;  // driver key below SYSTEM\CurrentControlSet\Control\Class
    DWORD devinst = 0;
};

struct DeviceElement {
    std::shared_ptr<DeviceNode> device;
    ULONG_PTR id = 0;  // what SP_DEVINFO_DATA::Reserved carries
};

struct DeviceInfoSet : HandleObject {
    static constexpr HandleKind kKind = HandleKind::DeviceInfoSet;
    DeviceInfoSet() : HandleObject(kKind) {}
    std::vector<DeviceElement> elements;
};

// Driver keys live below this key.
constexpr char kClassRoot[] = "SYSTEM\\CurrentControlSet\\Control\\Class";
// A string's bytes with its terminator, as a REG_SZ value holds them.
std::string WithTerminator(const std::string& s);
// The machine's devices in SetupDiGetClassDevsA order: by instance ID.
std::vector<std::shared_ptr<DeviceNode>> SortedDevices();

// ---------------------------------------------------------------------------
// Clock: milliseconds since 1601-01-01 00:00:00.000, the FILETIME epoch.

uint64_t ToClockMs(const SYSTEMTIME& time);
FILETIME CurrentFileTime();

// ---------------------------------------------------------------------------
// The machine. Reset replaces it whole; new subsystems add their state here.

struct FaultPlan {
    std::map<unsigned, DWORD> nth;  // 1-based call number -> error
};

struct Machine {
    // Accounting and fault plan
    std::map<std::string, unsigned> call_counts;
    std::vector<std::string> call_log;
    std::map<std::string, FaultPlan> faults;
    // The call the process ends before, its number, and what runs instead.
    std::pair<std::string, unsigned> end_before;
    std::function<void()> ended;

    // Handles: small multiples of 4 from 0x100, never reused until Reset so
    // that a stale handle is reported as invalid.
    std::map<uintptr_t, std::unique_ptr<HandleObject>> handles;
    uintptr_t next_handle = 0x100;

    // Memory
    std::unordered_map<void*, size_t> blocks;

    std::shared_ptr<Node> drive;  // the root of C:
    uint64_t clock_ms = 0;
    std::string temp_path;
    std::vector<std::string> debug_output;

    // Version reported by GetVersionExA: by default what Windows 8 to 11
    // report to a program whose manifest declares no supportedOS.
    DWORD version_major = 6;
    DWORD version_minor = 2;
    DWORD version_build = 9200;

    std::shared_ptr<RegKey> registry;  // HKEY_LOCAL_MACHINE

    // Registered devices, in the order they joined the machine, and their
    // instance IDs for lookups without regard to case.
    std::vector<std::shared_ptr<DeviceNode>> devices;
    std::set<std::string, NameLess> device_ids;
    DWORD next_devinst = 1;
    ULONG_PTR next_element_id = 1;
    bool restart_required = false;

    // The loader: SetDefaultDllDirectories' flags (0: the standard search
    // order), SetDllDirectoryA's folder, and the DLLs loaded from other files
    // than the system's own, whose code ran in the process.
    DWORD default_dll_directories = 0;
    std::optional<std::string> dll_directory;
    std::vector<std::string> foreign_modules;
};

Machine& M();

}  // namespace winsim::detail

// Exports that a program reaches only through GetProcAddress.
BOOL WINAPI SetDefaultDllDirectories(DWORD DirectoryFlags);
BOOL WINAPI UpdateDriverForPlugAndPlayDevicesA(HWND hwndParent, LPCSTR HardwareId, LPCSTR FullInfPath,
                                               DWORD InstallFlags, PBOOL bRebootRequired);
