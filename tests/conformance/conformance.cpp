// Platform conformance: the Windows contracts that the program's decisions
// rest on, as a table of checks run in order, each on the calls of one step
// of the program. The same source runs against winsim on the host and, built
// with MinGW-w64, under Wine, which leaves out what it is known not to meet,
// with the reason.
#include "platform.h"

#ifndef _WIN32
#include <winsim/machine.h>
#endif

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int g_failures = 0;
const char* g_check = "";
std::string g_temp;  // the temporary folder, as GetTempPathA gives it
std::vector<std::string> g_made;
SC_HANDLE g_manager = nullptr;
std::string g_driver_key;  // the test device's, once its driver is installed

void Equal(long long got, long long want, int line, const char* what) {
    if (got != want) {
        ++g_failures;
        std::printf("%s:%d: [%s] %s is %lld, not %lld\n", __FILE__, line, g_check, what, got, want);
    }
}
void Poison() { SetLastError(0xdeadbeef); }
#define EQ(got, want) Equal(static_cast<long long>(got), static_cast<long long>(want), __LINE__, #got)
#define CHECK(cond) Equal((cond) ? 1 : 0, 1, __LINE__, #cond)

// The condition holds after a call made with a poisoned last-error value, which is then this one.
template <typename Condition>
void CheckError(Condition condition, DWORD error, int line, const char* what) {
    Poison();
    const bool held = condition();
    const DWORD last = GetLastError();
    Equal(held ? 1 : 0, 1, line, what);
    Equal(last, error, line, "GetLastError()");
}
#define CHECK_ERROR(cond, error) CheckError([&] { return static_cast<bool>(cond); }, error, __LINE__, #cond)

std::string In(const std::string& name) { return g_temp + "dravmel-conformance\\" + name; }

bool Put(const std::string& path, const char* data) {
    g_made.push_back(path);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    return WriteFile(file, data, static_cast<DWORD>(std::strlen(data)), &written, nullptr) && CloseHandle(file);
}

// What FindFirstFileA gives for a path: 0 when it finds it, else the error.
DWORD Find(const std::string& path) {
    WIN32_FIND_DATAA found;
    Poison();
    HANDLE search = FindFirstFileA(path.c_str(), &found);
    return search == INVALID_HANDLE_VALUE ? GetLastError() : !FindClose(search);
}

// The log as the program opens it.
HANDLE OpenLog(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The checks' registry keys live below this one, deleted at the end.
const std::string kBase = "SOFTWARE\\DravmelConformance";

// Set-up: a string value stored byte for byte, in a key below kBase made as needed.
void SetValue(const std::string& key, const char* name, const std::string& data) {
#ifdef _WIN32
    // A non-zero byte after the data keeps the call from adding a terminator.
    const std::string path = kBase + "\\" + key;
    EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, path.c_str(), name, REG_SZ, (data + 'X').c_str(), data.size()), 0);
#else
    CHECK(winsim::SetRegistryValue(kBase + "\\" + key, name, REG_SZ, data));
#endif
}

// A value's bytes below HKEY_LOCAL_MACHINE; none when it cannot be read.
std::string RegBytes(const std::string& path, const char* name) {
    HKEY key = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key);
    char data[4096];
    DWORD size = sizeof data;
    const LONG result = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return std::string(data, result == ERROR_SUCCESS ? size : 0);
}

const GUID kDisplayClass = {0x4d36e968, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const char kId[] = "Dravmel_Conformance_Id";
const char kInf[] = "[Version]\r\nSignature=\"$WINDOWS NT$\"\r\nClass=Display\r\nProvider=Conf\r\n"
    "ClassGUID={4D36E968-E325-11CE-BFC1-08002BE10318}\r\nDriverVer=01/02/2021,1.0.0.0\r\n[Manufacturer]\r\n"
    "Conf=Models,NTamd64\r\n[Models.NTamd64]\r\nConf=Install,Dravmel_Conformance_Id\r\n[Install]\r\n"
    "[Install.Services]\r\nAddService=DravmelConf,2,Service\r\n[Service]\r\nServiceType=1\r\nStartType=3\r\n"
    "ErrorControl=0\r\nServiceBinary=%12%\\dravmelconf.sys\r\n";

// A new root-enumerated display device in the set, as the program makes one.
bool RegisterDevice(HDEVINFO set, SP_DEVINFO_DATA* device, const char* ids) {
    device->cbSize = sizeof *device;
    return SetupDiCreateDeviceInfoA(set, "Display", &kDisplayClass, nullptr, nullptr, DICD_GENERATE_ID, device) &&
           (!ids || SetupDiSetDeviceRegistryPropertyA(set, device, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(ids),
                                                      static_cast<DWORD>(lstrlenA(ids) + 2))) &&
           SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, device);
}

// Walks the present devices of all classes as the program does, to the
// ERROR_NO_MORE_ITEMS that ends the walk, reading each one's hardware IDs,
// and hands the first one that lists kId first to use. False when none did,
// which is a failure when use was given.
bool WithTestDevice(void (*use)(HDEVINFO, SP_DEVINFO_DATA*)) {
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA device = {sizeof device, {}, 0, 0};
    bool found = false;
    for (DWORD index = 0;; ++index) {
        Poison();
        if (!SetupDiEnumDeviceInfo(set, index, &device)) break;
        char ids[1024] = {};
        if (!SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, nullptr, (BYTE*)ids, 1000, nullptr)) {
            EQ(GetLastError(), ERROR_INVALID_DATA);  // no hardware IDs
        }
        if (found || std::strcmp(ids, kId) != 0) continue;
        found = true;
        if (use) use(set, &device);
    }
    EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
    if (use) EQ(found, true);
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

// newdev.dll as the program loads it, and its driver update.
typedef BOOL(WINAPI* UpdateDriverFunction)(HWND, LPCSTR, LPCSTR, DWORD, PBOOL);
HMODULE g_newdev = nullptr;
UpdateDriverFunction g_update_driver = nullptr;

std::string Format(const char* format, ...) {
    std::string text(2048, 'X');
    va_list args;
    va_start(args, format);
    wvsprintfA(&text[0], format, args);
    va_end(args);
    return text;
}

struct Check {
    const char* name;
    const char* left_out_under_wine;
    void (*run)();
};

const Check kChecks[] = {
    {"the log in the temporary folder: OPEN_ALWAYS creates, reopens whole, lets others only read", nullptr, [] {
         CHECK(g_temp.size() > 1 && g_temp.size() < MAX_PATH && g_temp.back() == '\\');
         const std::string log = g_temp + "\\dravmel-conformance.log";  // "\\" as the program joins them
         g_made.push_back(log);
         DeleteFileA(log.c_str());
         for (DWORD size : {0, 3, 6}) {
             HANDLE file = OpenLog(log);
             DWORD written = 0;
             EQ(SetFilePointer(file, 0, nullptr, FILE_END), size);
             CHECK(WriteFile(file, "abc", 3, &written, nullptr) && written == 3);
             if (size == 3) CHECK_ERROR(OpenLog(log) == INVALID_HANDLE_VALUE, ERROR_SHARING_VIOLATION);
             CloseHandle(file);
         }
         CHECK_ERROR(OpenLog(In("missing\\dravmel.log")) == INVALID_HANDLE_VALUE, ERROR_PATH_NOT_FOUND);
     }},
    {"a driver file as the program removes it: its folder, found, read-only, in use, deleted at restart", nullptr, [] {
         for (UINT(WINAPI * call)(LPSTR, UINT) : {GetWindowsDirectoryA, GetSystemDirectoryA}) {
             char folder[MAX_PATH];  // the length, or the size needed
             const UINT length = call(folder, MAX_PATH);
             CHECK(length && length < MAX_PATH && std::strlen(folder) == length && call(folder, length) == length + 1);
         }
         const std::string manager = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
         const std::string file = In("driver.sys");
         const std::string before = RegBytes(manager, "PendingFileRenameOperations");
         EQ(Find(file), ERROR_FILE_NOT_FOUND);
         EQ(Find(In("missing\\driver.sys")), ERROR_PATH_NOT_FOUND);
         CHECK(Put(file, "MZ") && SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
         EQ(Find(file), 0);
         EQ(Find(g_temp + "dravmel-conformance"), 0);
         const DWORD attributes = GetFileAttributesA(file.c_str());
         CHECK(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY));
         CHECK_ERROR(!DeleteFileA(file.c_str()), ERROR_ACCESS_DENIED);
         CHECK(SetFileAttributesA(file.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY));
         HANDLE held = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
         CHECK_ERROR(!DeleteFileA(file.c_str()), ERROR_SHARING_VIOLATION);
         CHECK(MoveFileExA(file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
         // Appended to the multi-string: the NT path, then "" for no new name.
         CHECK(RegBytes(manager, "PendingFileRenameOperations") ==
               before.substr(0, before.empty() ? 0 : before.size() - 1) + "\\??\\" + file + std::string(3, '\0'));
         CHECK(CloseHandle(held) && DeleteFileA(file.c_str()));
         CHECK_ERROR(!DeleteFileA(file.c_str()), ERROR_FILE_NOT_FOUND);
         EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
#ifdef _WIN32
         // As it was, so that nothing is deleted at the next start.
         if (before.empty()) {
             RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, manager.c_str(), "PendingFileRenameOperations");
         } else {
             RegSetKeyValueA(HKEY_LOCAL_MACHINE, manager.c_str(), "PendingFileRenameOperations", REG_MULTI_SZ,
                             (before + 'X').data(), before.size());
         }
#endif
     }},
    {"registry keys and values: letter case, missing ones, bytes as stored, the size needed", nullptr, [] {
         SetValue("Value", "VideoID", std::string("abc\0", 4));
         SetValue("Value", "Unterminated", "abcd");
         HKEY key = nullptr;
         EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\dravmelconformance\\VALUE", 0, KEY_READ, &key), 0);
         CHECK(RegBytes(kBase + "\\Value", "videoid") == std::string("abc\0", 4) &&
               RegBytes(kBase + "\\Value", "Unterminated") == "abcd");
         BYTE data[2];
         DWORD size = sizeof data;
         EQ(RegQueryValueExA(key, "VideoID", nullptr, nullptr, data, &size), ERROR_MORE_DATA);
         EQ(size, 4);
         EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, data, &size), ERROR_FILE_NOT_FOUND);
         RegCloseKey(key);
     }},
    {"RegEnumKeyExA and RegDeleteKeyA as the program walks a key and empties it", nullptr, [] {
         const std::string fits(31, 'A');  // the longest name that a 32-character buffer takes
         SetValue("Tree\\" + fits + "\\Inner", "", "");
         SetValue("Tree\\" + std::string(32, 'B'), "", "");
         HKEY key = nullptr;
         EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (kBase + "\\Tree").c_str(), 0, KEY_ALL_ACCESS, &key), 0);
         char name[32];
         DWORD length;
         auto at = [&](DWORD index) {
             length = sizeof name;
             return RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
         };
         EQ(at(0), 0);
         CHECK(length == 31 && name == fits);
         EQ(at(1), ERROR_MORE_DATA);
         EQ(at(2), ERROR_NO_MORE_ITEMS);
         EQ(RegDeleteKeyA(key, fits.c_str()), ERROR_ACCESS_DENIED);  // not while it has a sub-key
         EQ(RegDeleteKeyA(key, (fits + "\\Inner").c_str()), 0);
         EQ(RegDeleteKeyA(key, std::string(31, 'a').c_str()), 0);
         EQ(RegDeleteKeyA(key, fits.c_str()), ERROR_FILE_NOT_FOUND);
         EQ(at(0), ERROR_MORE_DATA);  // the next one moved up
         EQ(at(1), ERROR_NO_MORE_ITEMS);
         RegCloseKey(key);
     }},
    {"SetupDiGetINFClassA reads the class of an INF and fails without one", nullptr, [] {
         CHECK(Put(In("conf.inf"), kInf) && Put(In("noclass.inf"), "[Version]\r\nSignature=\"$WINDOWS NT$\"\r\n"));
         GUID guid = {};
         char name[32] = {};
         CHECK(SetupDiGetINFClassA(In("conf.inf").c_str(), &guid, name, sizeof name, nullptr) &&
               !std::memcmp(&guid, &kDisplayClass, sizeof guid) && std::string(name) == "Display");
         CHECK(!SetupDiGetINFClassA(In("noclass.inf").c_str(), &guid, name, sizeof name, nullptr));
     }},
    {"registered devices are present; hardware IDs come in two calls, or ERROR_INVALID_DATA for none", nullptr, [] {
         HDEVINFO set = SetupDiCreateDeviceInfoList(&kDisplayClass, nullptr);
         SP_DEVINFO_DATA device;
         SP_DEVINFO_DATA bare;
         CHECK(RegisterDevice(set, &device, "Dravmel_Conformance_Id\0") && RegisterDevice(set, &bare, nullptr));
         CHECK_ERROR(!SetupDiGetDeviceRegistryPropertyA(set, &bare, SPDRP_HARDWAREID, nullptr, nullptr, 0, nullptr),
                     ERROR_INVALID_DATA);
         WithTestDevice([](HDEVINFO in, SP_DEVINFO_DATA* found) {
             DWORD type = 0;
             DWORD size = 0;
             CHECK_ERROR(!SetupDiGetDeviceRegistryPropertyA(in, found, SPDRP_HARDWAREID, &type, nullptr, 0, &size),
                         ERROR_INSUFFICIENT_BUFFER);
             std::string ids(size, 'X');
             CHECK(SetupDiGetDeviceRegistryPropertyA(in, found, SPDRP_HARDWAREID, &type, (BYTE*)&ids[0], size, &size) &&
                   type == REG_MULTI_SZ && ids == std::string(kId, sizeof kId) + '\0');
         });
         CHECK(SetupDiCallClassInstaller(DIF_REMOVE, set, &bare) && SetupDiDestroyDeviceInfoList(set));
     }},
    {"SetupCopyOEMInfA with SP_COPY_REPLACEONLY makes no first copy of an INF", "Wine copies it all the same", [] {
         const std::string inf = In("conf.inf");
         const DWORD style = SP_COPY_REPLACEONLY;
         CHECK_ERROR(!SetupCopyOEMInfA(inf.c_str(), nullptr, SPOST_NONE, style, nullptr, 0, nullptr, nullptr),
                     ERROR_FILE_NOT_FOUND);
     }},
    {"newdev.dll loads from the system folder; the loader's codes for a missing DLL and export", nullptr, [] {
         const DWORD search = LOAD_LIBRARY_SEARCH_SYSTEM32;
         CHECK_ERROR(!LoadLibraryExA("dravmel-missing.dll", nullptr, search), ERROR_MOD_NOT_FOUND);
         g_newdev = LoadLibraryExA("newdev.dll", nullptr, search);
         CHECK(g_newdev != nullptr);
         CHECK_ERROR(!GetProcAddress(g_newdev, "DravmelMissing"), ERROR_PROC_NOT_FOUND);
         FARPROC found = GetProcAddress(g_newdev, "UpdateDriverForPlugAndPlayDevicesA");
         g_update_driver = reinterpret_cast<UpdateDriverFunction>(reinterpret_cast<void (*)(void)>(found));
         CHECK(g_update_driver != nullptr);
     }},
    {"UpdateDriverForPlugAndPlayDevicesA installs the driver, its service and an INF copy", nullptr, [] {
         BOOL reboot = FALSE;
         CHECK(g_update_driver(nullptr, kId, In("conf.inf").c_str(), INSTALLFLAG_FORCE, &reboot));
         CHECK(CloseServiceHandle(OpenServiceA(g_manager, "DravmelConf", SERVICE_ALL_ACCESS)));
         WithTestDevice([](HDEVINFO set, SP_DEVINFO_DATA* device) {
             char key[MAX_PATH] = {};
             SetupDiGetDeviceRegistryPropertyA(set, device, SPDRP_DRIVER, nullptr, (BYTE*)key, sizeof key, nullptr);
             g_driver_key = key;
         });
         // A sub-key of the display class, with a name that the program reads into 32 characters.
         CHECK(g_driver_key.size() == 39 + 4 &&
               !lstrcmpiA(g_driver_key.substr(0, 39).c_str(), "{4D36E968-E325-11CE-BFC1-08002BE10318}\\"));
         g_driver_key = "SYSTEM\\CurrentControlSet\\Control\\Class\\" + g_driver_key;
         char windows[MAX_PATH];
         g_made.push_back(std::string(windows, GetWindowsDirectoryA(windows, MAX_PATH)) + "\\INF\\" +
                          RegBytes(g_driver_key, "InfPath").c_str());
         EQ(Find(g_made.back()), 0);
         g_made.push_back(g_made.back().substr(0, g_made.back().size() - 3) + "pnf");  // its precompiled form
     }},
    {"the driver key names the device's hardware ID and an oemN.inf copy",
     "its driver key has no MatchingDeviceId, and its INF copy keeps the INF's own name", [] {
         EQ(lstrcmpiA(RegBytes(g_driver_key, "MatchingDeviceId").c_str(), kId), 0);
         const std::string inf = RegBytes(g_driver_key, "InfPath").c_str();
         CHECK(inf.size() > 7 && !lstrcmpiA((inf.substr(0, 3) + inf.substr(inf.size() - 4)).c_str(), "oem.inf"));
     }},
    {"DIF_REMOVE takes the device away; DeleteService marks its service once, the last close removes", nullptr, [] {
         WithTestDevice([](HDEVINFO set, SP_DEVINFO_DATA* device) {
             CHECK(SetupDiCallClassInstaller(DIF_REMOVE, set, device));
         });
         CHECK(!WithTestDevice(nullptr));
         SC_HANDLE service = OpenServiceA(g_manager, "DravmelConf", SERVICE_ALL_ACCESS);
         CHECK(DeleteService(service));
         CHECK_ERROR(!DeleteService(service), ERROR_SERVICE_MARKED_FOR_DELETE);
         CloseServiceHandle(service);
         CHECK_ERROR(!OpenServiceA(g_manager, "DravmelConf", SERVICE_ALL_ACCESS), ERROR_SERVICE_DOES_NOT_EXIST);
     }},
    {"text and memory: wvsprintfA, FormatMessageA's allocated text, LocalAlloc(LPTR), lstrcmpiA", nullptr, [] {
         // wvsprintfA formats %d %x %s and cuts at 1023 characters.
         CHECK(Format("%d %x %s", -5, 0xbeefu, "ab").c_str() == std::string("-5 beef ab"));
         CHECK(!Format("%s", std::string(1500, 'a').c_str()).compare(0, 1025, std::string(1023, 'a') + '\0' + 'X'));
         // FormatMessageA allocates a line of system text, or fails with ERROR_MR_MID_NOT_FOUND.
         char* text = nullptr;
         char* none = nullptr;
         auto message = [](DWORD code, char** text) {
             return FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPSTR)text, 0, nullptr);
         };
         const DWORD length = message(ERROR_ACCESS_DENIED, &text);
         CHECK(length > 2 && text && std::strlen(text) == length && !std::strcmp(text + length - 2, "\r\n") &&
               !LocalFree(text));
         CHECK_ERROR(!message(ERROR_NO_SUCH_DEVINST, &none) && !none, ERROR_MR_MID_NOT_FOUND);
         // LocalAlloc(LPTR) gives zeroed memory; lstrcmpiA ignores letter case.
         BYTE* block = static_cast<BYTE*>(LocalAlloc(LPTR, 64));
         CHECK(block && !block[0] && !std::memcmp(block, block + 1, 63) && !LocalFree(block));
         CHECK(lstrcmpiA("dravmel_conformance_ID", kId) == 0 && lstrcmpiA("DravmelConf", "DravmelConfSvc") != 0);
     }},
};

}  // namespace

int main() {
    // On the host the process starts with a fresh simulated machine.
    char temp[MAX_PATH] = {};
    if (GetTempPathA(MAX_PATH, temp) < MAX_PATH) g_temp = temp;
#ifdef _WIN32
    const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    CreateDirectoryA(In("").c_str(), nullptr);
#else
    const bool wine = false;
    winsim::MakeDirectories(In(""));  // CreateDirectoryA is not simulated
#endif
    g_manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    int passed = 0;
    int failed = 0;
    int left_out = 0;
    for (const Check& check : kChecks) {
        const int before = g_failures;
        g_check = check.name;
        if (wine && check.left_out_under_wine) {
            std::printf("left out under Wine: [%s]: %s\n", g_check, check.left_out_under_wine);
            ++left_out;
            continue;
        }
        check.run();
        if (g_failures == before) {
            ++passed;
        } else {
            ++failed;
        }
    }
    for (const std::string& made : g_made) DeleteFileA(made.c_str());
    CloseServiceHandle(g_manager);
    FreeLibrary(g_newdev);
#ifdef _WIN32
    RemoveDirectoryA(In("").c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kBase.c_str());
#endif
    std::printf("%d passed, %d failed, %d skipped\n", passed, failed, left_out);
    return failed != 0;
}
