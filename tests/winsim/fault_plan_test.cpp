// The fault plan: each fallible call, planned to fail, returns its failure
// result with the planned code and changes nothing; call counts and the log.
#include "winsim_test.h"

#include <cstdarg>
#include <cstring>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// No call reports this by itself, so a failure carrying it came from the plan.
constexpr DWORD kPlanned = 1359;  // ERROR_INTERNAL_ERROR
constexpr char kPoison = '#';
constexpr DWORD kPoisonWord = 0x23232323;
constexpr DWORD kSize = 64;  // the buffer size a call is given

const std::string kInf =
    "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Display\r\n"
    "ClassGUID={4D36E968-E325-11CE-BFC1-08002BE10318}\r\n"
    "[Manufacturer]\r\nVendor=Models,NTamd64\r\n"
    "[Models.NTamd64]\r\nMirror=Mirror_Install,Dev_1,Dev_2,Dev_3\r\n[Mirror_Install]\r\n";

std::string Name(const std::string& prefix, int i) { return prefix + std::to_string(i); }

// Whether an open failed; what it opened is closed again.
bool Failed(HANDLE file) { return file == INVALID_HANDLE_VALUE || !CloseHandle(file); }
bool Failed(SC_HANDLE sc) { return sc == nullptr || !CloseServiceHandle(sc); }
bool SetFailed(HDEVINFO set) { return set == INVALID_HANDLE_VALUE || !SetupDiDestroyDeviceInfoList(set); }

// What the calls act on, made before the plan: its handles are opened
// through the calls themselves, so a plan counts from after them.
struct Bench {
    HANDLE read = nullptr, write = nullptr;
    HKEY key = nullptr;
    SC_HANDLE manager = nullptr, service = nullptr, stopping = nullptr;
    HDEVINFO present = nullptr, empty = nullptr, created = nullptr;
    SP_DEVINFO_DATA device{};
    // Three of each, for the calls that use one up.
    std::vector<HANDLE> files, finds;
    std::vector<HKEY> keys;
    std::vector<SC_HANDLE> services;
    std::vector<HDEVINFO> lists;
    std::vector<HLOCAL> blocks;
    std::vector<SP_DEVINFO_DATA> elements;
    // Outputs, poisoned before each call: a planned failure leaves them be.
    alignas(8) char buf[512];
    DWORD n = kSize;
    LONG result = ERROR_SUCCESS;  // what a registry call returned
    SERVICE_STATUS* status() { return reinterpret_cast<SERVICE_STATUS*>(buf); }
    BYTE* bytes() { return reinterpret_cast<BYTE*>(buf); }
};

// One fallible call made for the i-th time (1, 2, 3); true when it returned
// its failure result. Call 3 may check that the failed call 2 left no trace.
struct FallibleCall {
    const char* name;
    std::function<bool(Bench&, int)> call;
};

void PrintTo(const FallibleCall& call, std::ostream* os) { *os << call.name; }

const FallibleCall kCalls[] = {
    {"CreateFileA", [](Bench&, int i) {
         return Failed(CreateFileA(Name("C:\\new", i).c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_NEW, 0, nullptr));
     }},
    {"SetFilePointer", [](Bench& b, int i) {
         const DWORD at = SetFilePointer(b.read, 2, nullptr, FILE_CURRENT);
         if (i == 3) { EXPECT_EQ(at, 4u) << "the failed call did not move the pointer"; }
         return at == INVALID_SET_FILE_POINTER;
     }},
    {"WriteFile", [](Bench& b, int) {
         DWORD done = 99;
         const bool failed = !WriteFile(b.write, "ab", 2, &done, nullptr);
         if (failed) { EXPECT_EQ(done, 0u); }
         return failed;
     }},
    {"ReadFile", [](Bench& b, int i) {
         DWORD done = 99;
         const bool failed = !ReadFile(b.read, b.buf, 2, &done, nullptr);
         if (failed) { EXPECT_EQ(done, 0u); }
         if (i == 3) { EXPECT_EQ(std::string(b.buf, 2), "23") << "the failed call read nothing"; }
         return failed;
     }},
    {"GetFileSize", [](Bench& b, int) { return GetFileSize(b.read, &b.n) == INVALID_FILE_SIZE; }},
    {"CloseHandle", [](Bench& b, int i) { return !CloseHandle(b.files[i - 1]); }},
    {"FindFirstFileA", [](Bench& b, int) {
         HANDLE h = FindFirstFileA("C:\\Windows\\*", reinterpret_cast<WIN32_FIND_DATAA*>(b.buf));
         return h == INVALID_HANDLE_VALUE || !FindClose(h);
     }},
    {"FindClose", [](Bench& b, int i) { return !FindClose(b.finds[i - 1]); }},
    {"CreateDirectoryA", [](Bench&, int i) { return !CreateDirectoryA(Name("C:\\dir", i).c_str(), nullptr); }},
    {"RemoveDirectoryA", [](Bench&, int i) { return !RemoveDirectoryA(Name("C:\\d", i).c_str()); }},
    {"DeleteFileA", [](Bench&, int i) { return !DeleteFileA(Name("C:\\f", i).c_str()); }},
    {"GetTempPathA", [](Bench& b, int) { return GetTempPathA(kSize, b.buf) == 0; }},
    {"FormatMessageA", [](Bench& b, int) {
         char* text = b.buf;  // anything but NULL
         if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
                            ERROR_ACCESS_DENIED, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr)) {
             return LocalFree(text) != nullptr;
         }
         EXPECT_EQ(text, nullptr) << "the caller's pointer is set to NULL";
         return true;
     }},
    {"LocalAlloc", [](Bench&, int) {
         HLOCAL block = LocalAlloc(LPTR, 16);
         return block == nullptr || LocalFree(block) != nullptr;
     }},
    {"LocalFree", [](Bench& b, int i) { return LocalFree(b.blocks[i - 1]) != nullptr; }},
    {"GetVersionExA", [](Bench&, int) {
         OSVERSIONINFOA v;
         std::memset(&v, kPoison, sizeof v);
         v.dwOSVersionInfoSize = sizeof v;
         if (GetVersionExA(&v)) return false;
         EXPECT_EQ(v.dwMajorVersion, kPoisonWord);
         return true;
     }},
    {"GetWindowsDirectoryA", [](Bench& b, int) { return GetWindowsDirectoryA(b.buf, kSize) == 0; }},
    {"GetSystemDirectoryA", [](Bench& b, int) { return GetSystemDirectoryA(b.buf, kSize) == 0; }},
    {"MoveFileExA", [](Bench&, int i) {
         return !MoveFileExA(Name("C:\\f", i).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
     }},
    {"GetFileAttributesA", [](Bench&, int) {
         return GetFileAttributesA("C:\\f1") == INVALID_FILE_ATTRIBUTES;
     }},
    {"SetFileAttributesA", [](Bench&, int i) {
         if (i == 3) { EXPECT_EQ(GetFileAttributesA("C:\\f1"), DWORD{FILE_ATTRIBUTE_READONLY}); }
         return !SetFileAttributesA("C:\\f1", i == 1 ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_HIDDEN);
     }},
    {"RegOpenKeyExA", [](Bench& b, int) {
         HKEY key = reinterpret_cast<HKEY>(b.buf);  // anything but NULL
         b.result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key);
         if (b.result == ERROR_SUCCESS) return RegCloseKey(key) != ERROR_SUCCESS;
         EXPECT_EQ(key, nullptr) << "the caller's handle is set to NULL";
         return true;
     }},
    {"RegEnumKeyExA", [](Bench& b, int) {
         b.result = RegEnumKeyExA(b.key, 0, b.buf, &b.n, nullptr, nullptr, nullptr, nullptr);
         return b.result != ERROR_SUCCESS;
     }},
    {"RegQueryValueExA", [](Bench& b, int) {
         DWORD type = 77;
         b.result = RegQueryValueExA(b.key, "Path", nullptr, &type, b.bytes(), &b.n);
         if (b.result != ERROR_SUCCESS) { EXPECT_EQ(type, 77u); }
         return b.result != ERROR_SUCCESS;
     }},
    {"RegCloseKey", [](Bench& b, int i) {
         return (b.result = RegCloseKey(b.keys[i - 1])) != ERROR_SUCCESS;
     }},
    {"RegDeleteKeyA", [](Bench& b, int i) {
         const std::string key = Name("SOFTWARE\\Vendor\\K", i);
         return (b.result = RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str())) != ERROR_SUCCESS;
     }},
    {"OpenSCManagerA", [](Bench&, int) {
         return Failed(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
     }},
    {"OpenServiceA", [](Bench& b, int) {
         return Failed(OpenServiceA(b.manager, "QVMIRROR", SERVICE_ALL_ACCESS));
     }},
    {"DeleteService", [](Bench& b, int i) { return !DeleteService(b.services[i - 1]); }},
    {"CloseServiceHandle", [](Bench& b, int i) { return !CloseServiceHandle(b.services[i - 1]); }},
    // "Stopping" stays stop pending for two queries: a failed one is no query.
    {"QueryServiceStatus", [](Bench& b, int i) {
         if (!QueryServiceStatus(b.stopping, b.status())) return true;
         if (i == 3) { EXPECT_EQ(b.status()->dwCurrentState, DWORD{SERVICE_STOP_PENDING}); }
         return false;
     }},
    {"ControlService", [](Bench& b, int) {
         if (!ControlService(b.service, SERVICE_CONTROL_STOP, b.status())) return true;
         return !winsim::SetServiceState("QVMIRROR", SERVICE_RUNNING);
     }},
    {"SetupDiGetClassDevsA", [](Bench&, int) {
         return SetFailed(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES));
     }},
    {"SetupDiEnumDeviceInfo", [](Bench& b, int) {
         SP_DEVINFO_DATA data;
         data.cbSize = sizeof data;
         data.DevInst = 77;
         if (SetupDiEnumDeviceInfo(b.present, 0, &data)) return false;
         EXPECT_EQ(data.DevInst, 77u);
         return true;
     }},
    {"SetupDiGetDeviceRegistryPropertyA", [](Bench& b, int) {
         return !SetupDiGetDeviceRegistryPropertyA(b.present, &b.device, SPDRP_HARDWAREID, nullptr,
                                                   b.bytes(), kSize, &b.n);
     }},
    {"SetupDiDestroyDeviceInfoList", [](Bench& b, int i) {
         return !SetupDiDestroyDeviceInfoList(b.lists[i - 1]);
     }},
    {"SetupDiGetINFClassA", [](Bench& b, int) {
         GUID guid;
         std::memset(&guid, kPoison, sizeof guid);
         if (SetupDiGetINFClassA("C:\\mirror.inf", &guid, b.buf, kSize, &b.n)) return false;
         EXPECT_EQ(guid.Data1, kPoisonWord);
         return true;
     }},
    {"SetupDiCreateDeviceInfoList", [](Bench&, int) {
         return SetFailed(SetupDiCreateDeviceInfoList(&winsim::kDisplayClassGuid, nullptr));
     }},
    {"SetupDiCreateDeviceInfoA", [](Bench& b, int i) {
         SP_DEVINFO_DATA data;
         data.cbSize = sizeof data;
         if (i == 3) { EXPECT_FALSE(SetupDiEnumDeviceInfo(b.empty, 1, &data)) << "none added"; }
         return !SetupDiCreateDeviceInfoA(b.empty, "Display", &winsim::kDisplayClassGuid, nullptr,
                                          nullptr, DICD_GENERATE_ID, &data);
     }},
    {"SetupDiSetDeviceRegistryPropertyA", [](Bench& b, int i) {
         const std::string ids = winsim::MultiString({Name("New_", i)});
         return !SetupDiSetDeviceRegistryPropertyA(b.present, &b.device, SPDRP_HARDWAREID,
                                                   reinterpret_cast<const BYTE*>(ids.data()),
                                                   static_cast<DWORD>(ids.size()));
     }},
    {"SetupDiCallClassInstaller", [](Bench& b, int i) {
         return !SetupDiCallClassInstaller(DIF_REGISTERDEVICE, b.created, &b.elements[i - 1]);
     }},
    {"SetupCopyOEMInfA", [](Bench&, int i) {
         return !SetupCopyOEMInfA((Name("C:\\i", i) + ".inf").c_str(), nullptr, SPOST_NONE, 0,
                                  nullptr, 0, nullptr, nullptr);
     }},
    {"UpdateDriverForPlugAndPlayDevicesA", [](Bench&, int i) {
         BOOL reboot = 77;
         if (UpdateDriverForPlugAndPlayDevicesA(nullptr, Name("Dev_", i).c_str(),
                                                "C:\\mirror.inf", INSTALLFLAG_FORCE, &reboot)) {
             return false;
         }
         EXPECT_EQ(reboot, 77);
         return true;
     }},
};

void DumpKey(const std::string& path, std::ostream& out) {
    out << '[' << path << "]\n";
    for (const std::string& name : winsim::RegistryValueNames(path)) {
        const auto value = winsim::GetRegistryValue(path, name);
        out << name << '=' << value->type << ':' << value->data << '\n';
    }
    for (const std::string& sub : winsim::RegistrySubKeys(path)) {
        DumpKey(path.empty() ? sub : path + "\\" + sub, out);
    }
}

// What the helpers see of the machine: accounting, the whole registry,
// devices, services, delayed operations and the files the calls touch.
std::string Fingerprint() {
    std::ostringstream out;
    out << winsim::OpenHandleCount() << ' ' << winsim::LiveAllocationCount() << '\n';
    DumpKey("", out);
    for (const winsim::Device& d : winsim::Devices()) {
        out << d.instance_id << ' ' << d.hardware_ids.value_or("-") << ' ' << d.driver << '\n';
    }
    for (const char* name : {"QVMIRROR", "Stopping", "S1", "S2", "S3"}) {
        if (const auto s = winsim::FindService(name)) {
            out << name << s->state << s->marked_for_deletion << s->open_handles << '\n';
        }
    }
    for (const auto& op : winsim::PendingFileOperations()) out << op.source << op.target << '\n';
    std::vector<std::string> files = {"C:\\w.txt"};
    for (int i = 0; i < 4; ++i) {
        for (const char* prefix : {"C:\\new", "C:\\dir", "C:\\d", "C:\\f"}) {
            files.push_back(Name(prefix, i));
        }
        files.push_back(Name("C:\\Windows\\INF\\oem", i) + ".inf");
    }
    for (const std::string& f : files) {
        out << f << '=' << winsim::FileContents(f).value_or(winsim::Exists(f) ? "<dir>" : "-");
    }
    return out.str();
}

// Reset before and after: the handles the table leaves open are the Bench's.
class FaultPlan : public ::testing::TestWithParam<FallibleCall> {
protected:
    void SetUp() override {
        winsim::Reset();
        Arrange();
    }
    void TearDown() override { winsim::Reset(); }

    void Arrange() {
        auto add_service = [](const std::string& name, DWORD state) {
            winsim::Service service;
            service.name = name;
            service.state = state;
            return winsim::AddService(service);
        };
        ASSERT_TRUE(winsim::PutFile("C:\\r.txt", "0123456789"));
        ASSERT_TRUE(winsim::PutFile("C:\\mirror.inf", kInf));
        ASSERT_TRUE(winsim::SetRegistryString("SOFTWARE\\Vendor", "Path", "oem3.inf"));
        ASSERT_TRUE(add_service("QVMIRROR", SERVICE_RUNNING));
        ASSERT_TRUE(add_service("Stopping", SERVICE_RUNNING));
        ASSERT_TRUE(winsim::ScriptServiceStop("Stopping", 2));
        for (int i = 1; i <= 3; ++i) {
            winsim::Device device;
            device.instance_id = Name("ROOT\\DISPLAY\\000", i);
            device.hardware_ids = winsim::MultiString({Name("Dev_", i)});
            ASSERT_TRUE(winsim::AddDevice(device));
            ASSERT_TRUE(winsim::PutFile(Name("C:\\f", i), "x"));
            ASSERT_TRUE(winsim::MakeDirectories(Name("C:\\d", i)));
            ASSERT_TRUE(winsim::PutFile(Name("C:\\i", i) + ".inf", kInf + Name(";", i)));
            ASSERT_TRUE(winsim::CreateRegistryKey(Name("SOFTWARE\\Vendor\\K", i)));
            ASSERT_TRUE(add_service(Name("S", i), SERVICE_STOPPED));
        }
        b_.read = CreateFileA("C:\\r.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
        b_.write = CreateFileA("C:\\w.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", 0, KEY_READ, &b_.key);
        b_.manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        b_.service = OpenServiceA(b_.manager, "QVMIRROR", SERVICE_ALL_ACCESS);
        b_.stopping = OpenServiceA(b_.manager, "Stopping", SERVICE_ALL_ACCESS);
        ASSERT_TRUE(ControlService(b_.stopping, SERVICE_CONTROL_STOP, b_.status()));
        b_.present = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
        b_.device.cbSize = sizeof b_.device;
        ASSERT_TRUE(SetupDiEnumDeviceInfo(b_.present, 0, &b_.device));
        b_.empty = SetupDiCreateDeviceInfoList(&winsim::kDisplayClassGuid, nullptr);
        b_.created = SetupDiCreateDeviceInfoList(&winsim::kDisplayClassGuid, nullptr);
        for (int i = 1; i <= 3; ++i) {
            SP_DEVINFO_DATA data;
            data.cbSize = sizeof data;
            ASSERT_TRUE(SetupDiCreateDeviceInfoA(b_.created, "Display", &winsim::kDisplayClassGuid,
                                                 nullptr, nullptr, DICD_GENERATE_ID, &data));
            b_.elements.push_back(data);
            b_.files.push_back(CreateFileA("C:\\r.txt", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
            WIN32_FIND_DATAA found;
            b_.finds.push_back(FindFirstFileA("C:\\Windows\\*", &found));
            b_.keys.push_back(nullptr);
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &b_.keys.back());
            b_.services.push_back(OpenServiceA(b_.manager, Name("S", i).c_str(), SERVICE_ALL_ACCESS));
            b_.lists.push_back(SetupDiCreateDeviceInfoList(nullptr, nullptr));
            b_.blocks.push_back(LocalAlloc(LMEM_FIXED, 8));
        }
        ASSERT_EQ(winsim::OpenHandleCount(), 24u) << "every handle opened";
        ASSERT_EQ(winsim::LiveAllocationCount(), 3u);
    }

    Bench b_;
};

TEST_P(FaultPlan, TheNthCallFailsWithThePlannedCodeAndChangesNothing) {
    const std::string name = GetParam().name;
    const bool registry = name.compare(0, 3, "Reg") == 0;
    const unsigned before = winsim::CallCount(name);
    winsim::FailNthCall(name, before + 2, kPlanned);
    std::string fingerprint;
    for (int i = 1; i <= 3; ++i) {
        SCOPED_TRACE("call " + std::to_string(i));
        std::memset(b_.buf, kPoison, sizeof b_.buf);
        b_.n = kSize;
        b_.result = ERROR_SUCCESS;
        if (i == 2) fingerprint = Fingerprint();
        SetLastError(ERROR_SUCCESS);
        const bool failed = GetParam().call(b_, i);
        ASSERT_EQ(failed, i == 2) << "only the planned call fails";
        if (!failed) continue;
        if (registry) {
            EXPECT_EQ(static_cast<DWORD>(b_.result), kPlanned);
            EXPECT_EQ(GetLastError(), 0u) << "a registry call leaves the last-error value alone";
        } else {
            EXPECT_EQ(GetLastError(), kPlanned);
        }
        EXPECT_EQ(std::string(b_.buf, sizeof b_.buf), std::string(sizeof b_.buf, kPoison));
        EXPECT_EQ(b_.n, kSize);
        EXPECT_EQ(Fingerprint(), fingerprint);
    }
    EXPECT_EQ(winsim::CallCount(name), before + 3);
}

INSTANTIATE_TEST_SUITE_P(EachFallibleCall, FaultPlan, ::testing::ValuesIn(kCalls),
                         [](const ::testing::TestParamInfo<FallibleCall>& info) {
                             return std::string(info.param.name);
                         });

// ---------------------------------------------------------------------------
// Counting and the log

using FaultPlanBookkeeping = WinsimTest;

int Format(char* out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = wvsprintfA(out, format, args);
    va_end(args);
    return n;
}

TEST_F(FaultPlanBookkeeping, LogHoldsFallibleCallsInOrderAndNothingElse) {
    HANDLE h = CreateFileA("C:\\log.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    SetLastError(GetLastError());
    OutputDebugStringA("trace");
    SYSTEMTIME now;
    GetLocalTime(&now);
    Sleep(10);
    char text[64];
    Format(text, "%d", lstrlenA("abc") + lstrcmpiA("a", "A"));
    CloseHandle(h);
    winsim::FailNthCall("CreateFileA", 2, kPlanned);
    CreateFileA("C:\\log.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(winsim::CallLog(), (std::vector<std::string>{"CreateFileA", "CloseHandle", "CreateFileA"}))
        << "the failed call is logged as well";
    EXPECT_EQ(winsim::CallCount("CreateFileA"), 2u);
}

// Calls are numbered from Reset, not from the plan; each planned call fails
// with its own code, a plan for one call leaves the others alone, and
// clearing the plan keeps the counts.
TEST_F(FaultPlanBookkeeping, PlansCountFromResetAndEachPlannedCallHasItsCode) {
    HLOCAL first = LocalAlloc(LPTR, 4);
    winsim::FailNthCall("LocalAlloc", 1, kPlanned);  // already made: never fires
    winsim::FailNthCall("LocalAlloc", 2, ERROR_NOT_ENOUGH_MEMORY);
    winsim::FailNthCall("LocalAlloc", 4, ERROR_OUTOFMEMORY);
    EXPECT_EQ(LocalAlloc(LPTR, 4), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    HLOCAL third = LocalAlloc(LPTR, 4);
    EXPECT_NE(third, nullptr);
    EXPECT_EQ(LocalAlloc(LPTR, 4), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OUTOFMEMORY));
    winsim::FailEveryCall("LocalAlloc", kPlanned);
    for (int i = 0; i < 2; ++i) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(LocalAlloc(LPTR, 4), nullptr);
        EXPECT_EQ(GetLastError(), kPlanned);
    }
    EXPECT_EQ(LocalFree(first), nullptr) << "a plan for one call leaves the others alone";
    winsim::ClearFaults();
    EXPECT_EQ(winsim::CallCount("LocalAlloc"), 6u) << "failed calls count; clearing keeps counts";
    EXPECT_EQ(LocalFree(third), nullptr);
    HLOCAL after = LocalAlloc(LPTR, 4);
    EXPECT_NE(after, nullptr);
    LocalFree(after);
}

TEST_F(FaultPlanBookkeeping, MisnamedOrMisnumberedPlansAreRefused) {
    // A typo would otherwise give a plan that silently never fires.
    EXPECT_THROW(winsim::FailNthCall("CreateFile", 1, kPlanned), std::invalid_argument);
    EXPECT_THROW(winsim::FailEveryCall("createfilea", kPlanned), std::invalid_argument);
    EXPECT_THROW(winsim::FailEveryCall("GetLastError", kPlanned), std::invalid_argument);
    EXPECT_THROW(winsim::CallCount("Sleep"), std::invalid_argument);
    EXPECT_THROW(winsim::FailNthCall("CreateFileA", 0, kPlanned), std::invalid_argument);
}

}  // namespace
