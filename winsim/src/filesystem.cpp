// The drive, its folders and files: CreateFileA and the calls on file and
// find handles, file attributes, deletions (at once or at the next restart),
// and the test helpers that set up and inspect files.
#include "state.h"

#include <winsim/machine.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>
#include <optional>

namespace winsim::detail {
namespace {

// Attribute bits that CreateFileA and PutFile store on a file.
constexpr DWORD kFileAttributeMask = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                     FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                     0x00000100 /* TEMPORARY */ | 0x00001000 /* OFFLINE */ |
                                     0x00002000 /* NOT_CONTENT_INDEXED */;

// What SetFileAttributesA passes on (FILE_ATTRIBUTE_VALID_SET_FLAGS).
constexpr DWORD kSettableAttributes = 0x000031a7;

// Access rights beyond GENERIC_READ/GENERIC_WRITE that map onto file data.
constexpr DWORD kFileReadData = 0x0001;
constexpr DWORD kFileWriteData = 0x0002;
constexpr DWORD kFileAppendData = 0x0004;
constexpr DWORD kFileExecute = 0x0020;
constexpr DWORD kDelete = 0x00010000;
constexpr DWORD kGenericExecute = 0x20000000;
constexpr DWORD kGenericAll = 0x10000000;


FILETIME Now() { return CurrentFileTime(); }

std::shared_ptr<Node> NewFolder(const std::string& name, Node* parent, FILETIME now) {
    auto node = std::make_shared<Node>();
    node->name = name;
    node->attributes = FILE_ATTRIBUTE_DIRECTORY;
    node->created = now;
    node->written = now;
    node->parent = parent;
    return node;
}

std::shared_ptr<Node> NewFile(const std::string& name, Node* parent, DWORD attributes) {
    auto node = std::make_shared<Node>();
    node->name = name;
    node->attributes = attributes;
    node->created = node->written = Now();
    node->parent = parent;
    return node;
}

std::shared_ptr<Node> Child(const Node& folder, const std::string& name) {
    auto it = folder.children.find(name);
    return it == folder.children.end() ? nullptr : it->second;
}

// ---------------------------------------------------------------------------
// Locations: where a parsed path leads on the drive

struct Location {
    std::shared_ptr<Node> parent;  // null for the drive's root
    std::shared_ptr<Node> node;    // null when the last component is missing
    std::string leaf;
};

// Finds the folder holding the last component; every folder on the way
// must exist. C: is the only drive.
DWORD Locate(const ParsedPath& path, Location* out) {
    if (path.drive != 'C') return ERROR_PATH_NOT_FOUND;
    Location result;
    std::shared_ptr<Node> folder = M().drive;
    if (path.parts.empty()) {
        result.node = folder;
        *out = std::move(result);
        return ERROR_SUCCESS;
    }
    for (size_t i = 0; i + 1 < path.parts.size(); ++i) {
        folder = Child(*folder, path.parts[i]);
        if (!folder || !folder->IsDirectory()) return ERROR_PATH_NOT_FOUND;
    }
    result.parent = folder;
    result.leaf = path.parts.back();
    result.node = Child(*folder, result.leaf);
    *out = std::move(result);
    return ERROR_SUCCESS;
}

DWORD Resolve(const char* name, bool allow_wildcards, ParsedPath* path, Location* where) {
    DWORD error = ParsePath(name, allow_wildcards, path);
    if (error == ERROR_SUCCESS) error = Locate(*path, where);
    return error;
}

// ---------------------------------------------------------------------------
// Sharing

template <class F>
void ForEachFileHandle(const Node* node, F f) {
    for (auto& [value, object] : M().handles) {
        if (object->kind != HandleKind::File) continue;
        auto* file = static_cast<FileHandle*>(object.get());
        if (file->node.get() == node) f(*file);
    }
}

// Each open handle's share mode must allow the new access, and the new
// share mode must allow each open handle's access. Opens without data
// access take no part, on either side. A file in use counts as one more
// open, by the other process.
bool SharingAllows(const Node* node, const Access& access, DWORD share) {
    if (!access.Any()) return true;
    auto conflicts = [&](const Access& open_access, DWORD open_share) {
        return open_access.Any() &&
               ((access.SharesRead() && !(open_share & FILE_SHARE_READ)) ||
                (access.write && !(open_share & FILE_SHARE_WRITE)) ||
                (access.remove && !(open_share & FILE_SHARE_DELETE)) ||
                (open_access.SharesRead() && !(share & FILE_SHARE_READ)) ||
                (open_access.write && !(share & FILE_SHARE_WRITE)) ||
                (open_access.remove && !(share & FILE_SHARE_DELETE)));
    };
    if (node->in_use) {
        Access held;
        held.read = true;
        held.execute = true;
        if (conflicts(held, FILE_SHARE_READ)) return false;
    }
    bool allowed = true;
    ForEachFileHandle(node, [&](const FileHandle& open) {
        if (conflicts(open.access, open.share)) allowed = false;
    });
    return allowed;
}

// ---------------------------------------------------------------------------
// Moves, and the ones delayed until the next restart. The session manager
// keeps those as pairs of NT paths in a multi-string value: the source, then
// the target ("" to delete, a leading '!' to replace an existing one).

constexpr char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr char kPendingValue[] = "PendingFileRenameOperations";
constexpr char kNtPrefix[] = "\\??\\";

// Takes a node out of its folder, or puts it into one under a name.
void Detach(Node& folder, const std::string& name) {
    auto it = folder.children.find(name);
    if (it == folder.children.end()) return;
    it->second->parent = nullptr;
    folder.children.erase(it);
}

struct PendingEntry {
    std::string source;  // NT path
    std::string target;  // "", or an NT path with an optional leading '!'
};

std::vector<PendingEntry> ReadPendingEntries() {
    std::vector<PendingEntry> entries;
    std::shared_ptr<RegKey> key = FindKey(kSessionManagerKey);
    if (!key) return entries;
    const RegValue* value = key->FindValue(kPendingValue);
    if (value == nullptr || value->type != REG_MULTI_SZ) return entries;
    const std::string& data = value->data;
    size_t at = 0;
    auto next = [&]() {
        size_t end = data.find('\0', at);
        if (end == std::string::npos) end = data.size();
        std::string text = data.substr(at, end - at);
        at = end + 1;
        return text;
    };
    while (at < data.size()) {
        std::string source = next();
        if (source.empty()) break;  // the list's final terminator
        std::string target = at < data.size() ? next() : std::string();
        entries.push_back(PendingEntry{std::move(source), std::move(target)});
    }
    return entries;
}

std::string WithoutNtPrefix(const std::string& path) {
    const size_t n = sizeof kNtPrefix - 1;
    return path.compare(0, n, kNtPrefix) == 0 ? path.substr(n) : path;
}

// Appends a delayed operation, as BasepMoveFileDelayed does: the pair goes
// over the list's final terminator and brings its own.
DWORD RecordPending(const std::string& source, const std::string& target) {
    std::shared_ptr<RegKey> key = FindKey(kSessionManagerKey);
    if (key && (key->denied & (KEY_QUERY_VALUE | KEY_SET_VALUE))) return ERROR_ACCESS_DENIED;
    if (!key) key = CreateKey(kSessionManagerKey);
    std::string data;
    if (const RegValue* value = key->FindValue(kPendingValue)) {
        data = value->data;
        if (!data.empty() && data.back() == '\0') data.pop_back();
    }
    data += source;
    data += '\0';
    data += target;
    data += '\0';
    data += '\0';
    key->SetValue(kPendingValue, REG_MULTI_SZ, std::move(data));
    return ERROR_SUCCESS;
}

// What the session manager does with one deletion at boot; one that cannot
// be done is passed over, and so is a move, which is not simulated.
void CarryOut(const PendingEntry& entry) {
    if (!entry.target.empty()) return;
    ParsedPath from;
    Location source;
    if (Resolve(WithoutNtPrefix(entry.source).c_str(), false, &from, &source) != ERROR_SUCCESS ||
        !source.node || !source.parent) {
        return;
    }
    if (source.node->IsDirectory() && !source.node->children.empty()) return;
    Detach(*source.parent, source.leaf);
}

void LetGo(Node& node) {
    node.in_use = false;
    for (auto& entry : node.children) LetGo(*entry.second);
}

// ---------------------------------------------------------------------------
WIN32_FIND_DATAA FindData(const Node& node, const std::string& name) {
    WIN32_FIND_DATAA data;
    std::memset(&data, 0, sizeof data);
    data.dwFileAttributes = node.attributes;
    data.ftCreationTime = node.created;
    data.ftLastAccessTime = node.written;
    data.ftLastWriteTime = node.written;
    if (!node.IsDirectory()) {
        const uint64_t size = node.data.size();
        data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
        data.nFileSizeLow = static_cast<DWORD>(size);
    }
    std::strncpy(data.cFileName, name.c_str(), MAX_PATH - 1);
    return data;
}

void CollectFiles(const Node& folder, const std::string& path, std::map<std::string, std::string>* files) {
    for (const auto& entry : folder.children) {
        const Node& node = *entry.second;
        const std::string full = path + "\\" + node.name;
        if (node.IsDirectory()) {
            CollectFiles(node, full, files);
        } else {
            (*files)[full] = node.data;
        }
    }
}

bool IsPseudoHandle(HANDLE h) {
    // The current process (-1) and current thread (-2).
    const intptr_t v = reinterpret_cast<intptr_t>(h);
    return v == -1 || v == -2;
}

}  // namespace

Access Access::FromMask(DWORD desired) {
    Access a;
    a.read = (desired & (GENERIC_READ | kGenericAll | kFileReadData)) != 0;
    a.write = (desired & (GENERIC_WRITE | kGenericAll | kFileWriteData | kFileAppendData)) != 0;
    a.execute = (desired & (kGenericExecute | kFileExecute)) != 0;
    a.remove = (desired & (kDelete | kGenericAll)) != 0;
    return a;
}

std::shared_ptr<Node> NewFileSystem(FILETIME now) {
    auto root = NewFolder("C:", nullptr, now);
    auto add = [&](Node& parent, const char* name) -> Node& {
        auto folder = NewFolder(name, &parent, now);
        Node& ref = *folder;
        parent.children.emplace(name, std::move(folder));
        return ref;
    };
    Node& windows = add(*root, "Windows");
    Node& system = add(windows, "System32");
    // newdev.dll's image, which LoadLibraryExA finds here.
    auto newdev = std::make_shared<Node>();
    newdev->name = "newdev.dll";
    newdev->attributes = FILE_ATTRIBUTE_ARCHIVE;
    newdev->created = newdev->written = now;
    newdev->parent = &system;
    system.children.emplace(newdev->name, std::move(newdev));
    add(windows, "INF");
    Node& users = add(*root, "Users");
    Node& user = add(users, "user");
    Node& appdata = add(user, "AppData");
    Node& local = add(appdata, "Local");
    add(local, "Temp");
    return root;
}

DWORD ReadWholeFile(const std::string& path, std::string* contents) {
    ParsedPath parsed;
    Location where;
    if (DWORD error = Resolve(path.c_str(), false, &parsed, &where)) return error;
    if (!where.node) return ERROR_FILE_NOT_FOUND;
    *contents = where.node->data;
    return ERROR_SUCCESS;
}

DWORD WriteWholeFile(const std::string& path, const std::string& contents, DWORD attributes) {
    ParsedPath parsed;
    Location where;
    if (DWORD error = Resolve(path.c_str(), false, &parsed, &where)) return error;
    if (!where.parent) return ERROR_INVALID_NAME;
    if (where.node) {
        if (!SharingAllows(where.node.get(), Access::FromMask(GENERIC_WRITE), 0)) {
            return ERROR_SHARING_VIOLATION;
        }
        where.node->data = contents;
        where.node->written = CurrentFileTime();
        return ERROR_SUCCESS;
    }
    auto node = NewFile(where.leaf, where.parent.get(), attributes & kFileAttributeMask);
    node->data = contents;
    where.parent->children.emplace(where.leaf, std::move(node));
    return ERROR_SUCCESS;
}

DWORD FileAttributesOf(const std::string& path) {
    ParsedPath parsed;
    Location where;
    if (Resolve(path.c_str(), false, &parsed, &where) != ERROR_SUCCESS || !where.node) {
        return INVALID_FILE_ATTRIBUTES;
    }
    return where.node->attributes;
}

void RestartFileSystem() {
    LetGo(*M().drive);
    for (const PendingEntry& entry : ReadPendingEntries()) CarryOut(entry);
    if (std::shared_ptr<RegKey> key = FindKey(kSessionManagerKey)) key->DeleteValue(kPendingValue);
}

std::vector<std::string> FolderEntries(const std::string& path) {
    ParsedPath parsed;
    Location where;
    std::vector<std::string> names;
    if (Resolve(path.c_str(), false, &parsed, &where) != ERROR_SUCCESS || !where.node ||
        !where.node->IsDirectory()) {
        return names;
    }
    for (const auto& entry : where.node->children) names.push_back(entry.second->name);
    return names;
}

}  // namespace winsim::detail

using namespace winsim::detail;

// ---------------------------------------------------------------------------
// Win32 file calls

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE) {
    if (auto fault = EnterCall("CreateFileA")) return Fail(*fault, INVALID_HANDLE_VALUE);
    // CREATE_ALWAYS, OPEN_EXISTING and OPEN_ALWAYS, on files, are simulated.
    const DWORD disposition = dwCreationDisposition;
    const Access access = Access::FromMask(dwDesiredAccess);
    ParsedPath path;
    Location where;
    if (DWORD error = Resolve(lpFileName, false, &path, &where)) {
        return Fail(error, INVALID_HANDLE_VALUE);
    }
    const DWORD requested_attributes = dwFlagsAndAttributes & kFileAttributeMask;
    std::shared_ptr<Node> node = where.node;
    DWORD last_error = ERROR_SUCCESS;

    if (!node) {
        if (disposition == OPEN_EXISTING) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
        node = NewFile(where.leaf, where.parent.get(),
                       requested_attributes | FILE_ATTRIBUTE_ARCHIVE);
        where.parent->children.emplace(where.leaf, node);
    } else {
        if (!SharingAllows(node.get(), access, dwShareMode)) {
            return Fail(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
        }
        if (disposition == CREATE_ALWAYS) {
            node->data.clear();
            node->written = CurrentFileTime();
            node->attributes = requested_attributes | FILE_ATTRIBUTE_ARCHIVE;
        }
        last_error = ERROR_ALREADY_EXISTS;
    }

    auto file = std::make_unique<FileHandle>();
    file->node = node;
    file->access = access;
    file->share = dwShareMode;
    HANDLE handle = AddHandle(std::move(file));
    if (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) SetLastError(last_error);
    return handle;
}

// Positions within the first 4 GB only: the high part is not simulated.
DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG, DWORD dwMoveMethod) {
    if (auto fault = EnterCall("SetFilePointer")) return Fail(*fault, INVALID_SET_FILE_POINTER);
    FileHandle* file = LookupHandle<FileHandle>(hFile);
    if (file == nullptr) return Fail(ERROR_INVALID_HANDLE, INVALID_SET_FILE_POINTER);
    int64_t base = 0;
    if (dwMoveMethod == FILE_CURRENT) base = static_cast<int64_t>(file->position);
    if (dwMoveMethod == FILE_END) base = static_cast<int64_t>(file->node->data.size());
    file->position = static_cast<uint64_t>(base + lDistanceToMove);
    const DWORD low = static_cast<DWORD>(file->position);
    // A position whose low part looks like the failure value is told apart
    // by a cleared last-error value.
    if (low == INVALID_SET_FILE_POINTER) SetLastError(NO_ERROR);
    return low;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED) {
    *lpNumberOfBytesWritten = 0;
    if (auto fault = EnterCall("WriteFile")) return Fail(*fault, FALSE);
    FileHandle* file = LookupHandle<FileHandle>(hFile);
    if (file == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (nNumberOfBytesToWrite != 0) {
        std::string& data = file->node->data;
        const size_t at = static_cast<size_t>(file->position);
        if (data.size() < at + nNumberOfBytesToWrite) data.resize(at + nNumberOfBytesToWrite, '\0');
        std::memcpy(&data[at], lpBuffer, nNumberOfBytesToWrite);
        file->node->written = CurrentFileTime();
    }
    file->position += nNumberOfBytesToWrite;
    *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    if (auto fault = EnterCall("CloseHandle")) return Fail(*fault, FALSE);
    // Closing a pseudo handle does nothing and succeeds.
    if (IsPseudoHandle(hObject)) return TRUE;
    // Of the kinds so far only files close here; a find handle needs FindClose.
    if (LookupHandle<FileHandle>(hObject) == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
    RemoveHandle(hObject);
    return TRUE;
}

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
    if (auto fault = EnterCall("FindFirstFileA")) return Fail(*fault, INVALID_HANDLE_VALUE);
    ParsedPath path;
    if (DWORD error = ParsePath(lpFileName, true, &path)) return Fail(error, INVALID_HANDLE_VALUE);
    // A drive's root names no entry to find.
    if (path.parts.empty()) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    Location where;
    if (DWORD error = Locate(path, &where)) return Fail(error, INVALID_HANDLE_VALUE);

    // The first match in directory order: "." and ".." below the root, then
    // the folder's own entries.
    const Node& folder = *where.parent;
    std::optional<WIN32_FIND_DATAA> first;
    if (path.wildcard) {
        auto consider = [&](const Node& node, const std::string& name) {
            if (!first && MatchPattern(where.leaf, name)) first = FindData(node, name);
        };
        if (folder.parent != nullptr) {
            consider(folder, ".");
            consider(*folder.parent, "..");
        }
        for (const auto& [name, child] : folder.children) consider(*child, name);
    } else if (where.node) {
        first = FindData(*where.node, where.node->name);
    }
    if (!first) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    *lpFindFileData = *first;
    return AddHandle(std::make_unique<FindHandle>());
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
    if (auto fault = EnterCall("FindClose")) return Fail(*fault, FALSE);
    if (LookupHandle<FindHandle>(hFindFile) == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
    RemoveHandle(hFindFile);
    return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    if (auto fault = EnterCall("DeleteFileA")) return Fail(*fault, FALSE);
    ParsedPath path;
    Location where;
    if (DWORD error = Resolve(lpFileName, false, &path, &where)) return Fail(error, FALSE);
    if (!where.node) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    // Deleting opens the file for DELETE, sharing everything.
    if (!SharingAllows(where.node.get(), Access::FromMask(kDelete),
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
        return Fail(ERROR_SHARING_VIOLATION, FALSE);
    }
    if (where.node->attributes & FILE_ATTRIBUTE_READONLY) return Fail(ERROR_ACCESS_DENIED, FALSE);
    // The name goes at once; handles still open keep reading and writing
    // the unnamed file.
    where.node->parent = nullptr;
    where.parent->children.erase(where.leaf);
    return TRUE;
}

// Only deletions delayed until the next restart are simulated
// (MOVEFILE_DELAY_UNTIL_REBOOT without a new name).
BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR, DWORD) {
    if (auto fault = EnterCall("MoveFileExA")) return Fail(*fault, FALSE);
    // The source is opened for DELETE first; that it is missing or shared
    // without deletion does not matter for an operation at boot.
    ParsedPath from;
    if (DWORD error = ParsePath(lpExistingFileName, false, &from)) return Fail(error, FALSE);
    if (DWORD error = RecordPending(kNtPrefix + FullPath(from), "")) return Fail(error, FALSE);
    return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
    if (auto fault = EnterCall("GetFileAttributesA")) return Fail(*fault, INVALID_FILE_ATTRIBUTES);
    ParsedPath path;
    Location where;
    if (DWORD error = Resolve(lpFileName, false, &path, &where)) {
        return Fail(error, INVALID_FILE_ATTRIBUTES);
    }
    if (!where.node) return Fail(ERROR_FILE_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
    return where.node->attributes;
}

BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
    if (auto fault = EnterCall("SetFileAttributesA")) return Fail(*fault, FALSE);
    ParsedPath path;
    Location where;
    if (DWORD error = Resolve(lpFileName, false, &path, &where)) return Fail(error, FALSE);
    if (!where.node) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    Node& node = *where.node;
    // FILE_ATTRIBUTE_NORMAL counts only alone, and then clears the others;
    // bits outside the settable set (the folder bit among them) are ignored.
    DWORD attributes = dwFileAttributes & kSettableAttributes;
    if (attributes != FILE_ATTRIBUTE_NORMAL) attributes &= ~FILE_ATTRIBUTE_NORMAL;
    if (attributes == FILE_ATTRIBUTE_NORMAL) attributes = 0;
    node.attributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    return TRUE;
}

// ---------------------------------------------------------------------------
// Test helpers

namespace winsim {

bool MakeDirectories(const std::string& path) {
    ParsedPath parsed;
    if (ParsePath(path.c_str(), false, &parsed) != ERROR_SUCCESS || parsed.drive != 'C') return false;
    std::shared_ptr<Node> folder = M().drive;
    for (const std::string& part : parsed.parts) {
        auto next = Child(*folder, part);
        if (!next) {
            next = NewFolder(part, folder.get(), CurrentFileTime());
            folder->children.emplace(part, next);
        } else if (!next->IsDirectory()) {
            return false;
        }
        folder = next;
    }
    return true;
}

bool PutFile(const std::string& path, const std::string& contents, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    ParsedPath parsed;
    Location where;
    if (Resolve(path.c_str(), false, &parsed, &where) != ERROR_SUCCESS) return false;
    if (!where.parent) return false;
    DWORD stored = attributes & kFileAttributeMask;
    if (stored == 0) stored = FILE_ATTRIBUTE_NORMAL;
    if (where.node) {
        if (where.node->IsDirectory()) return false;
        // Rewritten in place: handles already open see the new contents.
        where.node->data = contents;
        where.node->attributes = stored;
        where.node->written = CurrentFileTime();
        return true;
    }
    auto node = NewFile(where.leaf, where.parent.get(), stored);
    node->data = contents;
    where.parent->children.emplace(where.leaf, std::move(node));
    return true;
}

std::optional<std::string> FileContents(const std::string& path) {
    ParsedPath parsed;
    Location where;
    if (Resolve(path.c_str(), false, &parsed, &where) != ERROR_SUCCESS) return std::nullopt;
    if (!where.node || where.node->IsDirectory()) return std::nullopt;
    return where.node->data;
}

bool SetFileInUse(const std::string& path) {
    ParsedPath parsed;
    Location where;
    if (Resolve(path.c_str(), false, &parsed, &where) != ERROR_SUCCESS) return false;
    if (!where.node || where.node->IsDirectory()) return false;
    where.node->in_use = true;
    return true;
}

std::vector<PendingFileOperation> PendingFileOperations() {
    std::vector<PendingFileOperation> operations;
    for (const detail::PendingEntry& entry : detail::ReadPendingEntries()) {
        PendingFileOperation operation;
        operation.source = detail::WithoutNtPrefix(entry.source);
        operation.replace = !entry.target.empty() && entry.target[0] == '!';
        operation.target = detail::WithoutNtPrefix(entry.target.substr(operation.replace ? 1 : 0));
        operations.push_back(std::move(operation));
    }
    return operations;
}

bool Exists(const std::string& path) {
    ParsedPath parsed;
    Location where;
    if (Resolve(path.c_str(), false, &parsed, &where) != ERROR_SUCCESS) return false;
    return where.node != nullptr;
}

std::map<std::string, std::string> Files() {
    std::map<std::string, std::string> files;
    detail::CollectFiles(*M().drive, M().drive->name, &files);
    return files;
}

}  // namespace winsim
