// The module loader: the DLL search order and its restrictions, modules
// loaded from files and released again, and the exports of the system DLLs
// that a program resolves at run time (kernel32's SetDefaultDllDirectories,
// newdev's UpdateDriverForPlugAndPlayDevicesA).
#include "state.h"

#include <winsim/machine.h>

namespace winsim::detail {
namespace {

constexpr char kSystemFolder[] = "C:\\Windows\\System32";
constexpr char kNewdevPath[] = "C:\\Windows\\System32\\newdev.dll";

// What kernel32 hands out for itself: a module that is always loaded and
// that GetModuleHandleA does not count.
const HMODULE kKernel32 = reinterpret_cast<HMODULE>(uintptr_t{0x7ff10000});

constexpr DWORD kSearchFlags =
    LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;

// SetDefaultDllDirectories and the LOAD_LIBRARY_SEARCH_ flags came with
// Windows 8 (6.2); Windows 7 has them only with a loader update, which this
// machine does not model.
bool HasSearchFlags() {
    const Machine& m = M();
    return m.version_major > 6 || (m.version_major == 6 && m.version_minor >= 2);
}

// A module loaded from a file; the same file loaded again is the same module,
// counted once more.
struct ModuleHandle : HandleObject {
    static constexpr HandleKind kKind = HandleKind::Module;
    ModuleHandle() : HandleObject(kKind) {}
    std::string path;
    unsigned references = 0;
};

bool IsFile(const std::string& path) {
    const DWORD attributes = FileAttributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The folders searched for a DLL named without a path, in order: the
// LOAD_LIBRARY_SEARCH_ flags of the call, or else the process's default
// directories, or else the standard order (the program's folder, the folder
// SetDllDirectoryA named, the system and Windows folders, then the current
// folder unless SetDllDirectoryA took it out).
std::vector<std::string> SearchFolders(DWORD flags) {
    const Machine& m = M();
    const DWORD search = (flags & kSearchFlags) != 0 ? flags & kSearchFlags : m.default_dll_directories;
    std::vector<std::string> folders;
    if (search != 0) {
        if (search & (LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)) {
            folders.push_back(kProgramFolder);
        }
        if (search & (LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)) {
            folders.push_back(kSystemFolder);
        }
        return folders;
    }
    folders.push_back(kProgramFolder);
    if (m.dll_directory && !m.dll_directory->empty()) folders.push_back(*m.dll_directory);
    folders.push_back(kSystemFolder);
    folders.push_back("C:\\Windows");
    if (!m.dll_directory) folders.push_back("C:");
    return folders;
}

ModuleHandle* LoadedModule(const std::string& path, HMODULE* handle) {
    for (const auto& [value, object] : M().handles) {
        if (object->kind != HandleKind::Module) continue;
        auto* module = static_cast<ModuleHandle*>(object.get());
        if (SameName(module->path, path)) {
            *handle = reinterpret_cast<HMODULE>(value);
            return module;
        }
    }
    return nullptr;
}

template <class Function>
FARPROC Export(Function* function) {
    // Through void (*)(void), the type that converts to any function pointer.
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(function));
}

}  // namespace
}  // namespace winsim::detail

using namespace winsim::detail;

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    if (auto fault = EnterCall("GetModuleHandleA")) return Fail(*fault, HMODULE{nullptr});
    if (lpModuleName != nullptr && (SameName(lpModuleName, "kernel32.dll") || SameName(lpModuleName, "kernel32"))) {
        return kKernel32;
    }
    return Fail(ERROR_MOD_NOT_FOUND, HMODULE{nullptr});
}

BOOL WINAPI SetDefaultDllDirectories(DWORD DirectoryFlags) {
    if (auto fault = EnterCall("SetDefaultDllDirectories")) return Fail(*fault, FALSE);
    if (DirectoryFlags == 0 || (DirectoryFlags & ~kSearchFlags) != 0) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    M().default_dll_directories = DirectoryFlags;
    return TRUE;
}

BOOL WINAPI SetDllDirectoryA(LPCSTR lpPathName) {
    if (auto fault = EnterCall("SetDllDirectoryA")) return Fail(*fault, FALSE);
    if (lpPathName == nullptr) {
        M().dll_directory.reset();
    } else {
        M().dll_directory = lpPathName;
    }
    return TRUE;
}

HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
    if (auto fault = EnterCall("LoadLibraryExA")) return Fail(*fault, HMODULE{nullptr});
    const DWORD known = kSearchFlags | LOAD_WITH_ALTERED_SEARCH_PATH;
    if (lpLibFileName == nullptr || *lpLibFileName == '\0' || hFile != nullptr || (dwFlags & ~known) != 0 ||
        ((dwFlags & kSearchFlags) != 0 && (dwFlags & LOAD_WITH_ALTERED_SEARCH_PATH) != 0)) {
        return Fail(ERROR_INVALID_PARAMETER, HMODULE{nullptr});
    }
    if ((dwFlags & kSearchFlags) != 0 && !HasSearchFlags()) return Fail(ERROR_INVALID_PARAMETER, HMODULE{nullptr});
    const std::string name = lpLibFileName;
    std::string path;
    if (name.find_first_of("\\/") != std::string::npos) {
        if (IsFile(name)) path = name;
    } else {
        for (const std::string& folder : SearchFolders(dwFlags)) {
            if (IsFile(folder + "\\" + name)) {
                path = folder + "\\" + name;
                break;
            }
        }
    }
    if (path.empty()) return Fail(ERROR_MOD_NOT_FOUND, HMODULE{nullptr});
    HMODULE handle = nullptr;
    ModuleHandle* module = LoadedModule(path, &handle);
    if (module == nullptr) {
        auto loaded = std::make_unique<ModuleHandle>();
        loaded->path = path;
        module = loaded.get();
        handle = static_cast<HMODULE>(AddHandle(std::move(loaded)));
        // Any other DLL's entry point runs in the process as it loads.
        if (!SameName(path, kNewdevPath)) M().foreign_modules.push_back(path);
    }
    ++module->references;
    return handle;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if (auto fault = EnterCall("GetProcAddress")) return Fail(*fault, FARPROC{nullptr});
    const std::string name = lpProcName != nullptr ? lpProcName : "";
    if (hModule == kKernel32) {
        if (name == "SetDefaultDllDirectories" && HasSearchFlags()) return Export(&SetDefaultDllDirectories);
        return Fail(ERROR_PROC_NOT_FOUND, FARPROC{nullptr});
    }
    const ModuleHandle* module = LookupHandle<ModuleHandle>(hModule);
    if (module == nullptr) return Fail(ERROR_INVALID_HANDLE, FARPROC{nullptr});
    if (SameName(module->path, kNewdevPath) && name == "UpdateDriverForPlugAndPlayDevicesA") {
        return Export(&UpdateDriverForPlugAndPlayDevicesA);
    }
    return Fail(ERROR_PROC_NOT_FOUND, FARPROC{nullptr});
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    if (auto fault = EnterCall("FreeLibrary")) return Fail(*fault, FALSE);
    ModuleHandle* module = LookupHandle<ModuleHandle>(hLibModule);
    if (module == nullptr) return Fail(ERROR_MOD_NOT_FOUND, FALSE);
    if (--module->references == 0) RemoveHandle(hLibModule);
    return TRUE;
}

namespace winsim {

const std::vector<std::string>& ForeignModules() { return M().foreign_modules; }

}  // namespace winsim
