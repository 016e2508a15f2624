// The platform calls of "/A" and "/R" without any tracing: no log file, no
// debugger output, no error texts. It follows the program's steps and
// branches, so that under Wine it shows what the same work costs without
// the trace. Usage as the program's: /A /S:<folder> or /R (exit code 0, 50
// or 51 as the program's; 87 for anything else). The host build (entry
// point UntracedProgramMain) runs against winsim, where dravmel_calls
// checks that it makes the program's calls. Built with
// UNTRACED_WITH_USER32, it also imports user32.dll, as the program does for
// its trace (wvsprintfA), and makes one call there.
#ifdef _WIN32
#include <windows.h>
// setupapi.h and newdev.h need windows.h first.
#include <setupapi.h>
#include <newdev.h>
#else
#include <winsim/win32.h>
#endif

#include "variant.h"

#include <cstdio>
#include <cstring>

#ifdef _WIN32
#define UNTRACED_MAIN main
#else
#define UNTRACED_MAIN UntracedProgramMain
int UntracedProgramMain(int argc, char* argv[]);
#endif

namespace {

const char kHardwareId[] = "Orvenik_Tallomer_Mirror\0";
const char kService[] = "QVMIRROR";
const char kDeviceDesc[] = "Orvenik Tallomer graphics driver";
const char kServiceVideoKey[] = "SYSTEM\\CurrentControlSet\\Services\\QVMIRROR\\VIDEO";
const char kProfileVideoKey[] =
    "SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current\\System\\CurrentControlSet\\Control\\Video";
const char kDisplayClassKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E968-E325-11CE-BFC1-08002BE10318}";
const char kVideoKey[] = "SYSTEM\\CurrentControlSet\\Control\\Video";
const char kReinstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Reinstall";

bool Join(char (&path)[MAX_PATH], const char* first, const char* second) {
    int length = snprintf(path, MAX_PATH, "%s\\%s", first, second);
    if (length < 0 || length >= MAX_PATH) {
        path[0] = '\0';
        return false;
    }
    return true;
}

bool Append(char (&path)[MAX_PATH], const char* suffix) {
    size_t length = strlen(path);
    size_t more = strlen(suffix);
    if (length + more >= MAX_PATH) return false;
    memcpy(path + length, suffix, more + 1);
    return true;
}

bool Exists(const char* path) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(path, &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    return true;
}

LONG ReadString(HKEY key, const char* name, char* buffer, DWORD* size) {
    const DWORD capacity = *size;
    memset(buffer, 0, capacity);
    LONG result = RegQueryValueExA(key, name, NULL, NULL, reinterpret_cast<BYTE*>(buffer), size);
    if (result == ERROR_SUCCESS && memchr(buffer, '\0', capacity) == NULL) result = ERROR_MORE_DATA;
    if (result != ERROR_SUCCESS && capacity > 0) buffer[0] = '\0';
    return result;
}

LONG ReadString(HKEY key, const char* name, char* buffer, DWORD size) { return ReadString(key, name, buffer, &size); }

// 0, ERROR_INVALID_DATA (no hardware IDs) or the error of the read.
DWORD ReadHardwareIds(HDEVINFO set, SP_DEVINFO_DATA* data, BYTE** ids, DWORD* size) {
    BYTE* buffer = NULL;
    DWORD capacity = 0;
    DWORD required = 0;
    DWORD type = 0;
    DWORD error = ERROR_SUCCESS;
    while (!SetupDiGetDeviceRegistryPropertyA(set, data, SPDRP_HARDWAREID, &type, buffer, capacity, &required)) {
        error = GetLastError();
        if (error == ERROR_INSUFFICIENT_BUFFER && required <= capacity) error = ERROR_INVALID_USER_BUFFER;
        if (error != ERROR_INSUFFICIENT_BUFFER) break;
        error = ERROR_SUCCESS;
        if (buffer != NULL) LocalFree(buffer);
        buffer = static_cast<BYTE*>(LocalAlloc(LPTR, required));
        if (buffer == NULL) {
            error = GetLastError();
            break;
        }
        capacity = required;
    }
    if (error != ERROR_SUCCESS && buffer != NULL) {
        LocalFree(buffer);
        buffer = NULL;
    }
    *ids = buffer;
    *size = required < capacity ? required : capacity;
    return error;
}

bool HasHardwareId(const BYTE* data, DWORD size, const char* id) {
    const size_t idSize = strlen(id) + 1;
    const char* text = reinterpret_cast<const char*>(data);
    const char* end = text + size;
    while (text < end && *text != '\0') {
        const void* terminator = memchr(text, '\0', static_cast<size_t>(end - text));
        if (terminator == NULL) return false;
        const size_t textSize = static_cast<size_t>(static_cast<const char*>(terminator) - text) + 1;
        if (textSize == idSize && memcmp(text, id, idSize) == 0) return true;
        text += textSize;
    }
    return false;
}

// Walks the present devices; with remove, removes each that carries the
// hardware ID, else stops at the first. TRUE when one was found (last
// error ERROR_NO_MORE_ITEMS when none).
bool FindDevices(bool remove) {
    HDEVINFO set = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) return false;
    SP_DEVINFO_DATA data;
    memset(&data, 0, sizeof(data));
    data.cbSize = sizeof(data);
    DWORD error = ERROR_NO_MORE_ITEMS;
    for (DWORD index = 0;; ++index) {
        if (!SetupDiEnumDeviceInfo(set, index, &data)) {
            error = GetLastError();
            break;
        }
        BYTE* ids;
        DWORD size;
        DWORD readError = ReadHardwareIds(set, &data, &ids, &size);
        if (readError == ERROR_INVALID_DATA) continue;
        if (readError != ERROR_SUCCESS) {
            error = readError;
            break;
        }
        bool found = HasHardwareId(ids, size, kHardwareId);
        if (found && remove) SetupDiCallClassInstaller(DIF_REMOVE, set, &data);
        LocalFree(ids);
        if (found && !remove) {
            error = ERROR_SUCCESS;
            break;
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

DWORD Failure() {
    DWORD error = GetLastError();
    if (error == ERROR_SUCCESS) {
        error = ERROR_GEN_FAILURE;
        SetLastError(error);
    }
    return error;
}

bool InstallRootEnumerated(const char* inf, BOOL* reboot) {
    GUID classGuid;
    char className[32];
    memset(&classGuid, 0, sizeof(classGuid));
    memset(className, 0, sizeof(className));
    if (!SetupDiGetINFClassA(inf, &classGuid, className, sizeof(className), NULL)) return false;
    HDEVINFO set = SetupDiCreateDeviceInfoList(&classGuid, NULL);
    if (set == INVALID_HANDLE_VALUE) return false;
    SP_DEVINFO_DATA data;
    memset(&data, 0, sizeof(data));
    data.cbSize = sizeof(data);
    if (!SetupDiCreateDeviceInfoA(set, className, &classGuid, NULL, NULL, DICD_GENERATE_ID, &data) ||
        !SetupDiSetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(kHardwareId),
                                           static_cast<DWORD>(lstrlenA(kHardwareId) + 2)) ||
        !SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &data)) {
        Failure();
    } else {
        OSVERSIONINFOA version;
        memset(&version, 0, sizeof(version));
        version.dwOSVersionInfoSize = sizeof(version);
#ifdef _MSC_VER
#pragma warning(suppress : 4996)
#endif
        if (GetVersionExA(&version) &&
            (version.dwMajorVersion > 6 || (version.dwMajorVersion == 6 && version.dwMinorVersion >= 2))) {
            SetupCopyOEMInfA(inf, NULL, SPOST_NONE, SP_COPY_REPLACEONLY, NULL, 0, NULL, NULL);
        }
        if (UpdateDriverForPlugAndPlayDevicesA(NULL, kHardwareId, inf, INSTALLFLAG_FORCE, reboot)) {
            SetLastError(NO_ERROR);
        } else {
            DWORD error = Failure();
            SetupDiCallClassInstaller(DIF_REMOVE, set, &data);
            SetLastError(error);
        }
    }
    DWORD result = GetLastError();
    SetupDiDestroyDeviceInfoList(set);
    return result == ERROR_SUCCESS;
}

bool IsPlainFileName(const char* name) {
    return name[0] != '\0' && strpbrk(name, "\\/:") == NULL && strcmp(name, ".") != 0 && strcmp(name, "..") != 0;
}

// The system's copy of the INF, or "".
void GetOemInf(char (&path)[MAX_PATH]) {
    path[0] = '\0';
    HKEY classKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDisplayClassKey, 0, KEY_READ, &classKey) != ERROR_SUCCESS) return;
    char infName[MAX_PATH];
    LONG search = ERROR_NO_MORE_ITEMS;
    for (DWORD index = 0;; ++index) {
        char subKeyName[32];
        DWORD length = sizeof(subKeyName);
        LONG result = RegEnumKeyExA(classKey, index, subKeyName, &length, NULL, NULL, NULL, NULL);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS) {
            RegCloseKey(classKey);
            return;
        }
        HKEY subKey;
        if (RegOpenKeyExA(classKey, subKeyName, 0, KEY_READ, &subKey) != ERROR_SUCCESS) continue;
        char matching[MAX_PATH];
        if (ReadString(subKey, "MatchingDeviceId", matching, sizeof(matching)) != ERROR_SUCCESS ||
            lstrcmpiA(matching, kHardwareId) != 0) {
            RegCloseKey(subKey);
            continue;
        }
        search = ReadString(subKey, "InfPath", infName, sizeof(infName));
        if (search == ERROR_SUCCESS && !IsPlainFileName(infName)) search = ERROR_INVALID_DATA;
        RegCloseKey(subKey);
        break;
    }
    RegCloseKey(classKey);
    if (search != ERROR_SUCCESS) return;
    char windows[MAX_PATH];
    UINT length = GetWindowsDirectoryA(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    int pathLength = snprintf(path, MAX_PATH, "%s\\INF\\%s", windows, infName);
    if (pathLength < 0 || pathLength >= MAX_PATH) path[0] = '\0';
}

void ClearReadOnly(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    attributes = attributes == INVALID_FILE_ATTRIBUTES ? FILE_ATTRIBUTE_NORMAL
                                                       : attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA(path, attributes);
}

int Install(const char* folder) {
    const char* const files[] = {QV_MIRROR_INF, QV_MIRROR_DLL, QV_MIRROR_SYS};
    for (const char* file : files) {
        char path[MAX_PATH];
        if (!Join(path, folder, file) || !Exists(path)) return 51;
    }
    char inf[MAX_PATH];
    Join(inf, folder, QV_MIRROR_INF);
    BOOL reboot = FALSE;
    if (FindDevices(false)) {
        if (!UpdateDriverForPlugAndPlayDevicesA(NULL, kHardwareId, inf, INSTALLFLAG_FORCE, &reboot)) return 50;
    } else {
        if (GetLastError() != ERROR_NO_MORE_ITEMS) return 50;
        if (!InstallRootEnumerated(inf, &reboot)) return 50;
    }
    char oemInf[MAX_PATH];
    GetOemInf(oemInf);
    ClearReadOnly(oemInf);
    return 0;
}

// Video sub-keys whose driver is the mirror's service.
struct GuidEntry {
    GuidEntry* next;
    char guid[48];
};

void GetMirrorGuids(GuidEntry** head) {
    HKEY videoKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kVideoKey, 0, KEY_READ, &videoKey) != ERROR_SUCCESS) return;
    GuidEntry** tail = head;
    for (DWORD index = 0;; ++index) {
        char subKeyName[MAX_PATH];
        DWORD length = sizeof(subKeyName);
        LONG result = RegEnumKeyExA(videoKey, index, subKeyName, &length, NULL, NULL, NULL, NULL);
        if (result != ERROR_SUCCESS) break;
        char guid[sizeof(GuidEntry::guid)];
        if (lstrlenA(subKeyName) >= static_cast<int>(sizeof(guid))) continue;
        memcpy(guid, subKeyName, static_cast<size_t>(lstrlenA(subKeyName)) + 1);
        strcat(subKeyName, "\\Video");
        HKEY key;
        if (RegOpenKeyExA(videoKey, subKeyName, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
        char service[MAX_PATH];
        result = ReadString(key, "Service", service, sizeof(service));
        RegCloseKey(key);
        if (result != ERROR_SUCCESS || lstrcmpiA(service, kService) != 0) continue;
        GuidEntry* entry = static_cast<GuidEntry*>(LocalAlloc(LPTR, sizeof(GuidEntry)));
        if (entry == NULL) continue;
        memcpy(entry->guid, guid, sizeof(guid));
        *tail = entry;
        tail = &entry->next;
    }
    RegCloseKey(videoKey);
}

void GetAttachPath(char (&path)[MAX_PATH]) {
    path[0] = '\0';
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceVideoKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    char videoId[48];
    LONG result = ReadString(key, "VideoID", videoId, sizeof(videoId));
    RegCloseKey(key);
    if (result == ERROR_SUCCESS && videoId[0] != '\0') Join(path, kProfileVideoKey, videoId);
}

// The reinstall entry's key and the folder of its copy of the package.
bool GetReinstall(char (&keyPath)[MAX_PATH], char (&folder)[MAX_PATH]) {
    keyPath[0] = '\0';
    folder[0] = '\0';
    HKEY reinstallKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kReinstallKey, 0, KEY_READ, &reinstallKey) != ERROR_SUCCESS) return false;
    char subKeyName[MAX_PATH];
    LONG search = ERROR_NO_MORE_ITEMS;
    for (DWORD index = 0;; ++index) {
        char description[MAX_PATH];
        memset(subKeyName, 0, sizeof(subKeyName));
        memset(description, 0, sizeof(description));
        DWORD length = sizeof(subKeyName);
        LONG result = RegEnumKeyExA(reinstallKey, index, subKeyName, &length, NULL, NULL, NULL, NULL);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS) {
            RegCloseKey(reinstallKey);
            return false;
        }
        HKEY subKey;
        if (RegOpenKeyExA(reinstallKey, subKeyName, 0, KEY_READ, &subKey) != ERROR_SUCCESS) continue;
        if (ReadString(subKey, "DeviceDesc", description, sizeof(description)) != ERROR_SUCCESS ||
            lstrcmpiA(description, kDeviceDesc) != 0) {
            RegCloseKey(subKey);
            continue;
        }
        DWORD size = MAX_PATH;
        search = ReadString(subKey, "ReinstallString", folder, &size);
        RegCloseKey(subKey);
        break;
    }
    RegCloseKey(reinstallKey);
    if (search != ERROR_SUCCESS) return false;
    char* backslash = strrchr(folder, '\\');
    if (backslash == NULL || backslash == folder) {
        folder[0] = '\0';
        return false;
    }
    *backslash = '\0';
    if (!Join(keyPath, kReinstallKey, subKeyName)) {
        folder[0] = '\0';
        return false;
    }
    return true;
}

// A file named by a full path (folder NULL) or a folder and a name; the
// path when it exists.
bool FileToRemove(const char* folder, const char* file, char (&path)[MAX_PATH]) {
    if (folder == NULL) {
        if (lstrlenA(file) >= MAX_PATH) return false;
        memcpy(path, file, static_cast<size_t>(lstrlenA(file)) + 1);
    } else if (folder[0] == '\0' || file[0] == '\0' || !Join(path, folder, file)) {
        return false;
    }
    return Exists(path);
}

void RemoveAtRestart(const char* folder, const char* file) {
    char path[MAX_PATH];
    if (!FileToRemove(folder, file, path)) return;
    ClearReadOnly(path);
    MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
}

void Delete(const char* folder, const char* file) {
    char path[MAX_PATH];
    if (!FileToRemove(folder, file, path)) return;
    ClearReadOnly(path);
    if (!DeleteFileA(path) && folder != NULL) RemoveAtRestart(NULL, path);
}

DWORD DeleteSubKeys(const char* keyPath) {
    if (keyPath[0] == '\0') return ERROR_SUCCESS;
    HKEY key;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_ALL_ACCESS, &key);
    if (result != ERROR_SUCCESS) return static_cast<DWORD>(result);
    DWORD status = ERROR_SUCCESS;
    DWORD index = 0;
    for (;;) {
        char subKeyName[MAX_PATH];
        DWORD length = sizeof(subKeyName);
        result = RegEnumKeyExA(key, index, subKeyName, &length, NULL, NULL, NULL, NULL);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS) {
            status = static_cast<DWORD>(result);
            break;
        }
        char child[MAX_PATH];
        if (Join(child, keyPath, subKeyName)) DeleteSubKeys(child);
        if (RegDeleteKeyA(key, subKeyName) != ERROR_SUCCESS) ++index;
    }
    RegCloseKey(key);
    return status;
}

void DeleteKey(const char* keyPath, const char* subKeyName) {
    if (keyPath[0] == '\0' || (subKeyName != NULL && subKeyName[0] == '\0')) return;
    char path[MAX_PATH];
    if (subKeyName != NULL) {
        if (!Join(path, keyPath, subKeyName)) return;
    } else {
        if (lstrlenA(keyPath) >= MAX_PATH) return;
        memcpy(path, keyPath, static_cast<size_t>(lstrlenA(keyPath)) + 1);
    }
    if (DeleteSubKeys(path) == ERROR_SUCCESS) RegDeleteKeyA(HKEY_LOCAL_MACHINE, path);
}

void RemoveService() {
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceA(manager, kService, SERVICE_ALL_ACCESS);
    if (service != NULL) {
        DeleteService(service);
        CloseServiceHandle(service);
    }
    if (manager != NULL) CloseServiceHandle(manager);
}

bool GotFolder(UINT length) { return length != 0 && length < MAX_PATH; }

int Remove() {
    char oemInf[MAX_PATH];
    char attachPath[MAX_PATH];
    char folder[MAX_PATH];
    GetOemInf(oemInf);
    GuidEntry* guids = NULL;
    GetMirrorGuids(&guids);
    GetAttachPath(attachPath);

    FindDevices(true);
    RemoveService();

    if (oemInf[0] != '\0') {
        Delete(NULL, oemInf);
        char* name = strrchr(oemInf, '\\');
        name = name != NULL ? name + 1 : oemInf;
        char* extension = strrchr(name, '.');
        if (extension != NULL) {
            *extension = '\0';
            if (Append(oemInf, ".pnf")) Delete(NULL, oemInf);
        }
    }
    memset(folder, 0, sizeof(folder));
    if (GotFolder(GetSystemDirectoryA(folder, MAX_PATH))) {
        RemoveAtRestart(folder, QV_MIRROR_DLL);
        if (Append(folder, "\\drivers")) Delete(folder, QV_MIRROR_SYS);
    }
    while (guids != NULL) {
        GuidEntry* entry = guids;
        guids = entry->next;
        DeleteKey(kVideoKey, entry->guid);
        LocalFree(entry);
    }
    DeleteKey(attachPath, NULL);

    char reinstallKey[MAX_PATH];
    char reinstallFolder[MAX_PATH];
    if (GetReinstall(reinstallKey, reinstallFolder)) {
        Delete(reinstallFolder, QV_MIRROR_DLL);
        Delete(reinstallFolder, QV_MIRROR_SYS);
        Delete(reinstallFolder, QV_MIRROR_INF);
        Delete(reinstallFolder, QV_MIRROR_PNF);
        DeleteKey(reinstallKey, NULL);
    }
    memset(folder, 0, sizeof(folder));
    if (GotFolder(GetWindowsDirectoryA(folder, MAX_PATH)) && Append(folder, "\\LastGood\\System32")) {
        Delete(folder, QV_MIRROR_DLL);
        if (Append(folder, "\\drivers")) Delete(folder, QV_MIRROR_SYS);
    }
    return 0;
}

}  // namespace

int UNTRACED_MAIN(int argc, char* argv[]) {
#ifdef UNTRACED_WITH_USER32
    char text[16];
    wsprintfA(text, "%d", argc);
#endif
    if (argc == 3 && strcmp(argv[1], "/A") == 0 && strncmp(argv[2], "/S:", 3) == 0) return Install(argv[2] + 3);
    if (argc == 2 && strcmp(argv[1], "/R") == 0) return Remove();
    return 87;
}
