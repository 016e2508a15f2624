// The fault plan: a chosen call fails with the chosen code, returns its
// documented failure result and changes nothing; call counts and the call log.
#include "winsim_test.h"

#include <cstdarg>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Not a code any of these calls reports by itself, so a failure carrying it
// came from the plan.
constexpr DWORD kPlanned = 1359;  // ERROR_INTERNAL_ERROR

// One fallible call made repeatedly against a machine where it succeeds.
class CallUnderTest {
public:
    virtual ~CallUnderTest() = default;
    virtual void Arrange() {}
    // Makes the call once; true when it returned its failure result.
    virtual bool CallFails() = 0;
    // Runs right after a planned failure: the call changed nothing.
    virtual void ExpectNoEffect() = 0;
    // Registry calls report their error as their result and leave the
    // last-error value alone; the others set it.
    virtual bool ReportsThroughResult() const { return false; }
    virtual DWORD Result() const { return 0; }
    // Releases what Arrange and successful calls left behind.
    virtual void Cleanup() {}
};

HANDLE OpenForReading(const char* path) {
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

class CreateFileCall : public CallUnderTest {
    int n_ = 0;
    std::string last_;

public:
    bool CallFails() override {
        last_ = "C:\\new" + std::to_string(++n_) + ".txt";
        HANDLE h = CreateFileA(last_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return true;
        CloseHandle(h);
        return false;
    }
    void ExpectNoEffect() override {
        EXPECT_FALSE(winsim::Exists(last_));
        EXPECT_EQ(winsim::OpenHandleCount(), 0u);
    }
};

class SetFilePointerCall : public CallUnderTest {
    HANDLE h_ = nullptr;

public:
    void Arrange() override {
        ASSERT_TRUE(winsim::PutFile("C:\\f.txt", "0123456789"));
        h_ = OpenForReading("C:\\f.txt");
        ASSERT_NE(h_, INVALID_HANDLE_VALUE);
    }
    bool CallFails() override {
        return SetFilePointer(h_, 2, nullptr, FILE_CURRENT) == INVALID_SET_FILE_POINTER;
    }
    void ExpectNoEffect() override {
        // The first call moved to 2; the failed one left the pointer there.
        char c = 0;
        DWORD read = 0;
        ASSERT_TRUE(ReadFile(h_, &c, 1, &read, nullptr));
        EXPECT_EQ(c, '2');
    }
    void Cleanup() override { CloseHandle(h_); }
};

class WriteFileCall : public CallUnderTest {
    HANDLE h_ = nullptr;
    DWORD written_ = 0;

public:
    void Arrange() override {
        h_ = CreateFileA("C:\\w.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
        ASSERT_NE(h_, INVALID_HANDLE_VALUE);
    }
    bool CallFails() override {
        written_ = 99;
        return !WriteFile(h_, "ab", 2, &written_, nullptr);
    }
    void ExpectNoEffect() override {
        EXPECT_EQ(written_, 0u);
        EXPECT_EQ(winsim::FileContents("C:\\w.txt"), "ab");
    }
    void Cleanup() override { CloseHandle(h_); }
};

class ReadFileCall : public CallUnderTest {
    HANDLE h_ = nullptr;
    char buffer_[8] = {};
    DWORD read_ = 0;

public:
    void Arrange() override {
        ASSERT_TRUE(winsim::PutFile("C:\\r.txt", "abcdefgh"));
        h_ = OpenForReading("C:\\r.txt");
        ASSERT_NE(h_, INVALID_HANDLE_VALUE);
    }
    bool CallFails() override {
        std::memset(buffer_, '#', sizeof buffer_);
        read_ = 99;
        return !ReadFile(h_, buffer_, 2, &read_, nullptr);
    }
    void ExpectNoEffect() override {
        EXPECT_EQ(read_, 0u);
        EXPECT_EQ(buffer_[0], '#');
        EXPECT_EQ(SetFilePointer(h_, 0, nullptr, FILE_CURRENT), 2u);
    }
    void Cleanup() override { CloseHandle(h_); }
};

class GetFileSizeCall : public CallUnderTest {
    HANDLE h_ = nullptr;
    DWORD high_ = 0;

public:
    void Arrange() override {
        ASSERT_TRUE(winsim::PutFile("C:\\s.txt", "12345"));
        h_ = OpenForReading("C:\\s.txt");
        ASSERT_NE(h_, INVALID_HANDLE_VALUE);
    }
    bool CallFails() override {
        high_ = 77;
        return GetFileSize(h_, &high_) == INVALID_FILE_SIZE;
    }
    void ExpectNoEffect() override { EXPECT_EQ(high_, 77u); }
    void Cleanup() override { CloseHandle(h_); }
};

class CloseHandleCall : public CallUnderTest {
    std::vector<HANDLE> open_;

public:
    void Arrange() override {
        ASSERT_TRUE(winsim::PutFile("C:\\c.txt", "x"));
        for (int i = 0; i < 3; ++i) open_.push_back(OpenForReading("C:\\c.txt"));
    }
    bool CallFails() override {
        if (!CloseHandle(open_.back())) return true;
        open_.pop_back();
        return false;
    }
    void ExpectNoEffect() override {
        EXPECT_EQ(winsim::OpenHandleCount(), 2u);
        EXPECT_EQ(GetFileSize(open_.back(), nullptr), 1u) << "the handle still works";
    }
    void Cleanup() override {
        for (HANDLE h : open_) CloseHandle(h);
    }
};

class FindFirstFileCall : public CallUnderTest {
    WIN32_FIND_DATAA data_{};

public:
    bool CallFails() override {
        std::memset(&data_, 'Z', sizeof data_);
        HANDLE h = FindFirstFileA("C:\\Windows\\*", &data_);
        if (h == INVALID_HANDLE_VALUE) return true;
        FindClose(h);
        return false;
    }
    void ExpectNoEffect() override {
        EXPECT_EQ(winsim::OpenHandleCount(), 0u);
        EXPECT_EQ(data_.cFileName[0], 'Z');
    }
};

class FindCloseCall : public CallUnderTest {
    std::vector<HANDLE> open_;

public:
    void Arrange() override {
        WIN32_FIND_DATAA data;
        for (int i = 0; i < 3; ++i) open_.push_back(FindFirstFileA("C:\\Windows\\*", &data));
    }
    bool CallFails() override {
        if (!FindClose(open_.back())) return true;
        open_.pop_back();
        return false;
    }
    void ExpectNoEffect() override { EXPECT_EQ(winsim::OpenHandleCount(), 2u); }
    void Cleanup() override {
        for (HANDLE h : open_) FindClose(h);
    }
};

class CreateDirectoryCall : public CallUnderTest {
    int n_ = 0;
    std::string last_;

public:
    bool CallFails() override {
        last_ = "C:\\dir" + std::to_string(++n_);
        return !CreateDirectoryA(last_.c_str(), nullptr);
    }
    void ExpectNoEffect() override { EXPECT_FALSE(winsim::Exists(last_)); }
};

// Removes folders d1, d2... in turn; a failed call leaves its folder for the next.
class RemoveDirectoryCall : public CallUnderTest {
    int removed_ = 0;

    std::string Next() const { return "C:\\d" + std::to_string(removed_ + 1); }

public:
    void Arrange() override {
        for (int i = 1; i <= 3; ++i) ASSERT_TRUE(winsim::MakeDirectories("C:\\d" + std::to_string(i)));
    }
    bool CallFails() override {
        if (!RemoveDirectoryA(Next().c_str())) return true;
        ++removed_;
        return false;
    }
    void ExpectNoEffect() override { EXPECT_TRUE(winsim::Exists(Next())); }
};

// Deletes files f1, f2... in turn; a failed call leaves its file for the next.
class DeleteFileCall : public CallUnderTest {
    int deleted_ = 0;

    std::string Next() const { return "C:\\f" + std::to_string(deleted_ + 1); }

public:
    void Arrange() override {
        for (int i = 1; i <= 3; ++i) ASSERT_TRUE(winsim::PutFile("C:\\f" + std::to_string(i), "x"));
    }
    bool CallFails() override {
        if (!DeleteFileA(Next().c_str())) return true;
        ++deleted_;
        return false;
    }
    void ExpectNoEffect() override { EXPECT_EQ(winsim::FileContents(Next()), "x"); }
};

class GetTempPathCall : public CallUnderTest {
    char buffer_[MAX_PATH] = {};

public:
    bool CallFails() override {
        std::memset(buffer_, 'Q', sizeof buffer_);
        return GetTempPathA(MAX_PATH, buffer_) == 0;
    }
    void ExpectNoEffect() override { EXPECT_EQ(buffer_[0], 'Q'); }
};

class FormatMessageCall : public CallUnderTest {
    char* text_ = nullptr;

public:
    bool CallFails() override {
        text_ = reinterpret_cast<char*>(this);  // anything but NULL
        const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                           FORMAT_MESSAGE_IGNORE_INSERTS,
                                       nullptr, ERROR_ACCESS_DENIED, 0,
                                       reinterpret_cast<LPSTR>(&text_), 0, nullptr);
        if (n == 0) return true;
        LocalFree(text_);
        return false;
    }
    void ExpectNoEffect() override {
        EXPECT_EQ(text_, nullptr) << "the caller's pointer is left NULL";
        EXPECT_EQ(winsim::LiveAllocationCount(), 0u);
    }
};

class LocalAllocCall : public CallUnderTest {
public:
    bool CallFails() override {
        HLOCAL block = LocalAlloc(LPTR, 16);
        if (block == nullptr) return true;
        LocalFree(block);
        return false;
    }
    void ExpectNoEffect() override { EXPECT_EQ(winsim::LiveAllocationCount(), 0u); }
};

class LocalFreeCall : public CallUnderTest {
    std::vector<HLOCAL> blocks_;

public:
    void Arrange() override {
        for (int i = 0; i < 3; ++i) blocks_.push_back(LocalAlloc(LMEM_FIXED, 8));
    }
    bool CallFails() override {
        // LocalFree fails by handing the block back.
        if (LocalFree(blocks_.back()) == blocks_.back()) return true;
        blocks_.pop_back();
        return false;
    }
    void ExpectNoEffect() override { EXPECT_EQ(winsim::LiveAllocationCount(), 2u); }
    void Cleanup() override {
        for (HLOCAL b : blocks_) LocalFree(b);
    }
};

// ---------------------------------------------------------------------------
// Versions, folders and file attributes

class GetVersionExCall : public CallUnderTest {
    OSVERSIONINFOA info_{};

public:
    bool CallFails() override {
        std::memset(&info_, 0x5a, sizeof info_);
        info_.dwOSVersionInfoSize = sizeof info_;
        return !GetVersionExA(&info_);
    }
    void ExpectNoEffect() override { EXPECT_EQ(info_.dwMajorVersion, 0x5a5a5a5au); }
};

class GetWindowsDirectoryCall : public CallUnderTest {
    char buffer_[MAX_PATH] = {};

public:
    bool CallFails() override {
        std::memset(buffer_, 'Q', sizeof buffer_);
        return GetWindowsDirectoryA(buffer_, MAX_PATH) == 0;
    }
    void ExpectNoEffect() override { EXPECT_EQ(buffer_[0], 'Q'); }
};

class GetSystemDirectoryCall : public CallUnderTest {
    char buffer_[MAX_PATH] = {};

public:
    bool CallFails() override {
        std::memset(buffer_, 'Q', sizeof buffer_);
        return GetSystemDirectoryA(buffer_, MAX_PATH) == 0;
    }
    void ExpectNoEffect() override { EXPECT_EQ(buffer_[0], 'Q'); }
};

// Delays the deletion of f1, f2... in turn; a failed call records nothing.
class MoveFileExCall : public CallUnderTest {
    size_t recorded_ = 0;

public:
    bool CallFails() override {
        const std::string path = "C:\\f" + std::to_string(recorded_ + 1);
        if (!MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return true;
        ++recorded_;
        return false;
    }
    void ExpectNoEffect() override { EXPECT_EQ(winsim::PendingFileOperations().size(), recorded_); }
};

class GetFileAttributesCall : public CallUnderTest {
public:
    bool CallFails() override {
        return GetFileAttributesA("C:\\Windows") == INVALID_FILE_ATTRIBUTES;
    }
    void ExpectNoEffect() override {
        EXPECT_TRUE(winsim::Exists("C:\\Windows"));
        EXPECT_EQ(winsim::OpenHandleCount(), 0u);
    }
};

// Sets READONLY and HIDDEN in turn; a failed call keeps the last one set.
class SetFileAttributesCall : public CallUnderTest {
    int calls_ = 0;
    DWORD set_ = FILE_ATTRIBUTE_ARCHIVE;

public:
    void Arrange() override { ASSERT_TRUE(winsim::PutFile("C:\\a.txt", "x")); }
    bool CallFails() override {
        const DWORD value = ++calls_ % 2 ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_HIDDEN;
        if (!SetFileAttributesA("C:\\a.txt", value)) return true;
        set_ = value;
        return false;
    }
    void ExpectNoEffect() override { EXPECT_EQ(GetFileAttributesA("C:\\a.txt"), set_); }
};

// ---------------------------------------------------------------------------
// Registry

class RegistryCall : public CallUnderTest {
protected:
    LONG result_ = ERROR_SUCCESS;

public:
    bool ReportsThroughResult() const override { return true; }
    DWORD Result() const override { return static_cast<DWORD>(result_); }
};

class RegOpenKeyCall : public RegistryCall {
    HKEY key_ = nullptr;

public:
    bool CallFails() override {
        key_ = reinterpret_cast<HKEY>(this);  // anything but NULL
        result_ = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key_);
        if (result_ != ERROR_SUCCESS) return true;
        RegCloseKey(key_);
        return false;
    }
    void ExpectNoEffect() override {
        EXPECT_EQ(key_, nullptr) << "the caller's handle is set to NULL";
        EXPECT_EQ(winsim::OpenHandleCount(), 0u);
    }
};

class RegEnumKeyCall : public RegistryCall {
    HKEY key_ = nullptr;
    char name_[64] = {};
    DWORD length_ = 0;

public:
    void Arrange() override {
        ASSERT_TRUE(winsim::CreateRegistryKey("SOFTWARE\\Vendor"));
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key_), ERROR_SUCCESS);
    }
    bool CallFails() override {
        std::memset(name_, '#', sizeof name_);
        length_ = sizeof name_;
        result_ = RegEnumKeyExA(key_, 0, name_, &length_, nullptr, nullptr, nullptr, nullptr);
        return result_ != ERROR_SUCCESS;
    }
    void ExpectNoEffect() override {
        EXPECT_EQ(name_[0], '#');
        EXPECT_EQ(length_, sizeof name_);
    }
    void Cleanup() override { RegCloseKey(key_); }
};

class RegQueryValueCall : public RegistryCall {
    HKEY key_ = nullptr;
    BYTE data_[64] = {};
    DWORD size_ = 0;
    DWORD type_ = 0;

public:
    void Arrange() override {
        ASSERT_TRUE(winsim::SetRegistryString("SOFTWARE\\Vendor", "Path", "oem3.inf"));
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", 0, KEY_READ, &key_),
                  ERROR_SUCCESS);
    }
    bool CallFails() override {
        std::memset(data_, '#', sizeof data_);
        size_ = sizeof data_;
        type_ = 77;
        result_ = RegQueryValueExA(key_, "Path", nullptr, &type_, data_, &size_);
        return result_ != ERROR_SUCCESS;
    }
    void ExpectNoEffect() override {
        EXPECT_EQ(data_[0], '#');
        EXPECT_EQ(size_, sizeof data_);
        EXPECT_EQ(type_, 77u);
    }
    void Cleanup() override { RegCloseKey(key_); }
};

class RegCloseKeyCall : public RegistryCall {
    std::vector<HKEY> open_;

public:
    void Arrange() override {
        for (int i = 0; i < 3; ++i) {
            HKEY key = nullptr;
            ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key),
                      ERROR_SUCCESS);
            open_.push_back(key);
        }
    }
    bool CallFails() override {
        result_ = RegCloseKey(open_.back());
        if (result_ != ERROR_SUCCESS) return true;
        open_.pop_back();
        return false;
    }
    void ExpectNoEffect() override {
        EXPECT_EQ(winsim::OpenHandleCount(), 2u);
        char name[64];
        DWORD length = sizeof name;
        EXPECT_EQ(RegEnumKeyExA(open_.back(), 0, name, &length, nullptr, nullptr, nullptr, nullptr),
                  ERROR_SUCCESS)
            << "the key still works";
    }
    void Cleanup() override {
        for (HKEY key : open_) RegCloseKey(key);
    }
};

// Deletes keys K1, K2... in turn; a failed call leaves its key for the next.
class RegDeleteKeyCall : public RegistryCall {
    int deleted_ = 0;

    std::string Next() const { return "K" + std::to_string(deleted_ + 1); }

public:
    void Arrange() override {
        for (int i = 1; i <= 3; ++i) {
            ASSERT_TRUE(winsim::CreateRegistryKey("SOFTWARE\\Vendor\\K" + std::to_string(i)));
        }
    }
    bool CallFails() override {
        result_ = RegDeleteKeyA(HKEY_LOCAL_MACHINE, ("SOFTWARE\\Vendor\\" + Next()).c_str());
        if (result_ != ERROR_SUCCESS) return true;
        ++deleted_;
        return false;
    }
    void ExpectNoEffect() override {
        EXPECT_TRUE(winsim::RegistryKeyExists("SOFTWARE\\Vendor\\" + Next()));
    }
};

// ---------------------------------------------------------------------------
// Services

// A demand-start driver service, QVMIRROR, and a manager handle.
class ServiceCall : public CallUnderTest {
protected:
    SC_HANDLE manager_ = nullptr;

public:
    void Arrange() override {
        winsim::Service service;
        service.name = "QVMIRROR";
        ASSERT_TRUE(winsim::AddService(service));
        manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager_, nullptr);
    }
    void Cleanup() override { CloseServiceHandle(manager_); }
};

// The same, with the service open.
class OpenServiceCallBase : public ServiceCall {
protected:
    SC_HANDLE service_ = nullptr;

public:
    void Arrange() override {
        ServiceCall::Arrange();
        service_ = OpenServiceA(manager_, "QVMIRROR", SERVICE_ALL_ACCESS);
        ASSERT_NE(service_, nullptr);
    }
    void Cleanup() override {
        CloseServiceHandle(service_);
        ServiceCall::Cleanup();
    }
};

class OpenSCManagerCall : public CallUnderTest {
public:
    bool CallFails() override {
        SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        if (manager == nullptr) return true;
        CloseServiceHandle(manager);
        return false;
    }
    void ExpectNoEffect() override { EXPECT_EQ(winsim::OpenHandleCount(), 0u); }
};

class OpenServiceCall : public ServiceCall {
public:
    bool CallFails() override {
        SC_HANDLE service = OpenServiceA(manager_, "QVMIRROR", SERVICE_ALL_ACCESS);
        if (service == nullptr) return true;
        CloseServiceHandle(service);
        return false;
    }
    void ExpectNoEffect() override {
        EXPECT_EQ(winsim::OpenHandleCount(), 1u) << "the manager only";
        EXPECT_EQ(winsim::FindService("QVMIRROR")->open_handles, 0u);
    }
};

// Marks services S1, S2... in turn; a failed call leaves its service unmarked.
class DeleteServiceCall : public ServiceCall {
    std::vector<SC_HANDLE> services_;
    size_t marked_ = 0;

    static std::string Name(size_t i) { return "S" + std::to_string(i + 1); }

public:
    void Arrange() override {
        ServiceCall::Arrange();
        for (size_t i = 0; i < 3; ++i) {
            winsim::Service service;
            service.name = Name(i);
            ASSERT_TRUE(winsim::AddService(service));
            services_.push_back(OpenServiceA(manager_, service.name.c_str(), SERVICE_ALL_ACCESS));
        }
    }
    bool CallFails() override {
        if (!DeleteService(services_[marked_])) return true;
        ++marked_;
        return false;
    }
    void ExpectNoEffect() override {
        EXPECT_FALSE(winsim::FindService(Name(marked_))->marked_for_deletion);
        EXPECT_FALSE(winsim::GetRegistryDword(
                         "SYSTEM\\CurrentControlSet\\Services\\" + Name(marked_), "DeleteFlag")
                         .has_value());
    }
    void Cleanup() override {
        for (SC_HANDLE h : services_) CloseServiceHandle(h);
        ServiceCall::Cleanup();
    }
};

class CloseServiceHandleCall : public ServiceCall {
    std::vector<SC_HANDLE> open_;

public:
    void Arrange() override {
        ServiceCall::Arrange();
        for (int i = 0; i < 3; ++i) {
            open_.push_back(OpenServiceA(manager_, "QVMIRROR", SERVICE_ALL_ACCESS));
        }
    }
    bool CallFails() override {
        if (!CloseServiceHandle(open_.back())) return true;
        open_.pop_back();
        return false;
    }
    void ExpectNoEffect() override {
        EXPECT_EQ(winsim::FindService("QVMIRROR")->open_handles, 2u);
        SERVICE_STATUS status;
        EXPECT_TRUE(QueryServiceStatus(open_.back(), &status)) << "the handle still works";
    }
    void Cleanup() override {
        for (SC_HANDLE h : open_) CloseServiceHandle(h);
        ServiceCall::Cleanup();
    }
};

// A service stopping: the first query sees it pending, the next one would
// see it stopped; a failed query leaves the stop where it was.
class QueryServiceStatusCall : public OpenServiceCallBase {
    SERVICE_STATUS status_{};

public:
    void Arrange() override {
        OpenServiceCallBase::Arrange();
        ASSERT_TRUE(winsim::SetServiceState("QVMIRROR", SERVICE_RUNNING));
        ASSERT_TRUE(winsim::ScriptServiceStop("QVMIRROR", 1));
        SERVICE_STATUS status;
        ASSERT_TRUE(ControlService(service_, SERVICE_CONTROL_STOP, &status));
    }
    bool CallFails() override {
        std::memset(&status_, 0x5a, sizeof status_);
        return !QueryServiceStatus(service_, &status_);
    }
    void ExpectNoEffect() override {
        EXPECT_EQ(status_.dwCurrentState, 0x5a5a5a5au);
        EXPECT_EQ(winsim::FindService("QVMIRROR")->state, static_cast<DWORD>(SERVICE_STOP_PENDING));
    }
};

// Stops a running service; a failed call leaves it running.
class ControlServiceCall : public OpenServiceCallBase {
    SERVICE_STATUS status_{};

public:
    void Arrange() override {
        OpenServiceCallBase::Arrange();
        ASSERT_TRUE(winsim::SetServiceState("QVMIRROR", SERVICE_RUNNING));
    }
    bool CallFails() override {
        std::memset(&status_, 0x5a, sizeof status_);
        if (!ControlService(service_, SERVICE_CONTROL_STOP, &status_)) return true;
        winsim::SetServiceState("QVMIRROR", SERVICE_RUNNING);  // for the next call
        return false;
    }
    void ExpectNoEffect() override {
        EXPECT_EQ(status_.dwCurrentState, 0x5a5a5a5au) << "no status on a planned failure";
        EXPECT_EQ(winsim::FindService("QVMIRROR")->state, static_cast<DWORD>(SERVICE_RUNNING));
    }
};

// ---------------------------------------------------------------------------
// Devices and drivers

const char kInf[] =
    "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Display\r\n"
    "ClassGUID={4D36E968-E325-11CE-BFC1-08002BE10318}\r\n"
    "[Manufacturer]\r\nVendor=Models,NTamd64\r\n"
    "[Models.NTamd64]\r\nMirror=Mirror_Install,Dev_1,Dev_2,Dev_3\r\n"
    "[Mirror_Install]\r\n";

winsim::Device NewDevice(const std::string& id, const std::string& hardware_id) {
    winsim::Device device;
    device.instance_id = id;
    device.hardware_ids = winsim::MultiString({hardware_id});
    return device;
}

class GetClassDevsCall : public CallUnderTest {
public:
    bool CallFails() override {
        HDEVINFO set =
            SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
        if (set == INVALID_HANDLE_VALUE) return true;
        SetupDiDestroyDeviceInfoList(set);
        return false;
    }
    void ExpectNoEffect() override { EXPECT_EQ(winsim::OpenHandleCount(), 0u); }
};

class CreateDeviceInfoListCall : public CallUnderTest {
public:
    bool CallFails() override {
        HDEVINFO set = SetupDiCreateDeviceInfoList(&winsim::kDisplayClassGuid, nullptr);
        if (set == INVALID_HANDLE_VALUE) return true;
        SetupDiDestroyDeviceInfoList(set);
        return false;
    }
    void ExpectNoEffect() override { EXPECT_EQ(winsim::OpenHandleCount(), 0u); }
};

// A set holding one present device.
class DeviceSetCall : public CallUnderTest {
protected:
    HDEVINFO set_ = INVALID_HANDLE_VALUE;

public:
    void Arrange() override {
        ASSERT_TRUE(winsim::AddDevice(NewDevice("ROOT\\DISPLAY\\0000", "Dev_1")));
        set_ = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
        ASSERT_NE(set_, INVALID_HANDLE_VALUE);
    }
    void Cleanup() override { SetupDiDestroyDeviceInfoList(set_); }
};

// The same, with the device's element at hand.
class DeviceCall : public DeviceSetCall {
protected:
    SP_DEVINFO_DATA device_{};

public:
    void Arrange() override {
        DeviceSetCall::Arrange();
        device_.cbSize = sizeof device_;
        ASSERT_TRUE(SetupDiEnumDeviceInfo(set_, 0, &device_));
    }
};

class EnumDeviceInfoCall : public DeviceSetCall {
    SP_DEVINFO_DATA data_{};

public:
    bool CallFails() override {
        data_.cbSize = sizeof data_;
        data_.DevInst = 77;
        return !SetupDiEnumDeviceInfo(set_, 0, &data_);
    }
    void ExpectNoEffect() override { EXPECT_EQ(data_.DevInst, 77u); }
};

class GetDevicePropertyCall : public DeviceCall {
    BYTE buffer_[64] = {};
    DWORD required_ = 0;

public:
    bool CallFails() override {
        std::memset(buffer_, '#', sizeof buffer_);
        required_ = 77;
        return !SetupDiGetDeviceRegistryPropertyA(set_, &device_, SPDRP_HARDWAREID, nullptr,
                                                  buffer_, sizeof buffer_, &required_);
    }
    void ExpectNoEffect() override {
        EXPECT_EQ(buffer_[0], '#');
        EXPECT_EQ(required_, 77u);
    }
};

class DestroyDeviceInfoListCall : public CallUnderTest {
    std::vector<HDEVINFO> open_;

public:
    void Arrange() override {
        for (int i = 0; i < 3; ++i) open_.push_back(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    }
    bool CallFails() override {
        if (!SetupDiDestroyDeviceInfoList(open_.back())) return true;
        open_.pop_back();
        return false;
    }
    void ExpectNoEffect() override {
        EXPECT_EQ(winsim::OpenHandleCount(), 2u);
        SP_DEVINFO_DATA data;
        data.cbSize = sizeof data;
        SetLastError(0);
        EXPECT_FALSE(SetupDiEnumDeviceInfo(open_.back(), 0, &data));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS)) << "the set still works";
    }
    void Cleanup() override {
        for (HDEVINFO set : open_) SetupDiDestroyDeviceInfoList(set);
    }
};

class GetInfClassCall : public CallUnderTest {
    GUID guid_{};
    char name_[64] = {};
    DWORD required_ = 0;

public:
    void Arrange() override { ASSERT_TRUE(winsim::PutFile("C:\\mirror.inf", kInf)); }
    bool CallFails() override {
        std::memset(&guid_, 0x5a, sizeof guid_);
        std::memset(name_, '#', sizeof name_);
        required_ = 77;
        return !SetupDiGetINFClassA("C:\\mirror.inf", &guid_, name_, sizeof name_, &required_);
    }
    void ExpectNoEffect() override {
        EXPECT_EQ(name_[0], '#');
        EXPECT_EQ(required_, 77u);
        EXPECT_EQ(guid_.Data1, 0x5a5a5a5au);
    }
};

// Creates elements in one set; a failed call adds none.
class CreateDeviceInfoCall : public CallUnderTest {
    HDEVINFO set_ = INVALID_HANDLE_VALUE;
    DWORD created_ = 0;

public:
    void Arrange() override {
        set_ = SetupDiCreateDeviceInfoList(&winsim::kDisplayClassGuid, nullptr);
        ASSERT_NE(set_, INVALID_HANDLE_VALUE);
    }
    bool CallFails() override {
        SP_DEVINFO_DATA data;
        data.cbSize = sizeof data;
        if (!SetupDiCreateDeviceInfoA(set_, "Display", &winsim::kDisplayClassGuid, nullptr, nullptr,
                                      DICD_GENERATE_ID, &data)) {
            return true;
        }
        ++created_;
        return false;
    }
    void ExpectNoEffect() override {
        SP_DEVINFO_DATA data;
        data.cbSize = sizeof data;
        EXPECT_FALSE(SetupDiEnumDeviceInfo(set_, created_, &data));
    }
    void Cleanup() override { SetupDiDestroyDeviceInfoList(set_); }
};

// Sets the hardware IDs Dev_1, Dev_2... in turn; a failed call keeps the last.
class SetDevicePropertyCall : public DeviceCall {
    int calls_ = 0;
    std::string set_ids_ = winsim::MultiString({"Dev_1"});

    std::string Read() {
        BYTE buffer[64];
        DWORD required = 0;
        if (!SetupDiGetDeviceRegistryPropertyA(set_, &device_, SPDRP_HARDWAREID, nullptr, buffer,
                                               sizeof buffer, &required)) {
            return "";
        }
        return std::string(reinterpret_cast<char*>(buffer), required);
    }

public:
    bool CallFails() override {
        const std::string ids = winsim::MultiString({"Dev_" + std::to_string(++calls_ + 1)});
        if (!SetupDiSetDeviceRegistryPropertyA(set_, &device_, SPDRP_HARDWAREID,
                                               reinterpret_cast<const BYTE*>(ids.data()),
                                               static_cast<DWORD>(ids.size()))) {
            return true;
        }
        set_ids_ = ids;
        return false;
    }
    void ExpectNoEffect() override { EXPECT_EQ(Read(), set_ids_); }
};

// Registers three new elements in turn; a failed call registers none.
class CallClassInstallerCall : public CallUnderTest {
    HDEVINFO set_ = INVALID_HANDLE_VALUE;
    std::vector<SP_DEVINFO_DATA> elements_;
    size_t registered_ = 0;

public:
    void Arrange() override {
        set_ = SetupDiCreateDeviceInfoList(&winsim::kDisplayClassGuid, nullptr);
        for (int i = 0; i < 3; ++i) {
            SP_DEVINFO_DATA data;
            data.cbSize = sizeof data;
            ASSERT_TRUE(SetupDiCreateDeviceInfoA(set_, "Display", &winsim::kDisplayClassGuid,
                                                 nullptr, nullptr, DICD_GENERATE_ID, &data));
            elements_.push_back(data);
        }
    }
    bool CallFails() override {
        if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set_, &elements_[registered_])) {
            return true;
        }
        ++registered_;
        return false;
    }
    void ExpectNoEffect() override { EXPECT_EQ(winsim::Devices().size(), registered_); }
    void Cleanup() override { SetupDiDestroyDeviceInfoList(set_); }
};

// Copies three different INFs in turn; a failed call copies nothing.
class CopyOemInfCall : public CallUnderTest {
    int copied_ = 0;

public:
    void Arrange() override {
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(winsim::PutFile("C:\\d" + std::to_string(i) + ".inf",
                                        std::string(kInf) + ";" + std::to_string(i) + "\r\n"));
        }
    }
    bool CallFails() override {
        const std::string source = "C:\\d" + std::to_string(copied_) + ".inf";
        if (!SetupCopyOEMInfA(source.c_str(), nullptr, SPOST_NONE, 0, nullptr, 0, nullptr,
                              nullptr)) {
            return true;
        }
        ++copied_;
        return false;
    }
    void ExpectNoEffect() override {
        EXPECT_FALSE(winsim::Exists("C:\\Windows\\INF\\oem" + std::to_string(copied_) + ".inf"));
    }
};

// Installs on Dev_1, Dev_2, Dev_3 in turn; a failed call installs nothing.
class UpdateDriverCall : public CallUnderTest {
    int installed_ = 0;
    BOOL reboot_ = 77;

public:
    void Arrange() override {
        ASSERT_TRUE(winsim::PutFile("C:\\mirror.inf", kInf));
        for (int i = 1; i <= 3; ++i) {
            ASSERT_TRUE(winsim::AddDevice(NewDevice("ROOT\\DISPLAY\\000" + std::to_string(i),
                                                    "Dev_" + std::to_string(i))));
        }
    }
    bool CallFails() override {
        reboot_ = 77;
        const std::string id = "Dev_" + std::to_string(installed_ + 1);
        if (!UpdateDriverForPlugAndPlayDevicesA(nullptr, id.c_str(), "C:\\mirror.inf",
                                                INSTALLFLAG_FORCE, &reboot_)) {
            return true;
        }
        ++installed_;
        return false;
    }
    void ExpectNoEffect() override {
        EXPECT_EQ(reboot_, 77);
        const std::string next = "ROOT\\DISPLAY\\000" + std::to_string(installed_ + 1);
        EXPECT_EQ(winsim::FindDevice(next)->driver, "");
        EXPECT_EQ(winsim::RegistrySubKeys("SYSTEM\\CurrentControlSet\\Control\\Class\\"
                                          "{4D36E968-E325-11CE-BFC1-08002BE10318}")
                      .size(),
                  static_cast<size_t>(installed_));
    }
};

struct FallibleCall {
    const char* name;
    std::function<std::unique_ptr<CallUnderTest>()> make;
};

void PrintTo(const FallibleCall& call, std::ostream* os) { *os << call.name; }

template <class T>
FallibleCall Call(const char* name) {
    return {name, [] { return std::make_unique<T>(); }};
}

const FallibleCall kFallibleCalls[] = {
    Call<CreateFileCall>("CreateFileA"),
    Call<SetFilePointerCall>("SetFilePointer"),
    Call<WriteFileCall>("WriteFile"),
    Call<ReadFileCall>("ReadFile"),
    Call<GetFileSizeCall>("GetFileSize"),
    Call<CloseHandleCall>("CloseHandle"),
    Call<FindFirstFileCall>("FindFirstFileA"),
    Call<FindCloseCall>("FindClose"),
    Call<CreateDirectoryCall>("CreateDirectoryA"),
    Call<RemoveDirectoryCall>("RemoveDirectoryA"),
    Call<DeleteFileCall>("DeleteFileA"),
    Call<GetTempPathCall>("GetTempPathA"),
    Call<FormatMessageCall>("FormatMessageA"),
    Call<LocalAllocCall>("LocalAlloc"),
    Call<LocalFreeCall>("LocalFree"),
    Call<GetVersionExCall>("GetVersionExA"),
    Call<GetWindowsDirectoryCall>("GetWindowsDirectoryA"),
    Call<GetSystemDirectoryCall>("GetSystemDirectoryA"),
    Call<MoveFileExCall>("MoveFileExA"),
    Call<GetFileAttributesCall>("GetFileAttributesA"),
    Call<SetFileAttributesCall>("SetFileAttributesA"),
    Call<RegOpenKeyCall>("RegOpenKeyExA"),
    Call<RegEnumKeyCall>("RegEnumKeyExA"),
    Call<RegQueryValueCall>("RegQueryValueExA"),
    Call<RegCloseKeyCall>("RegCloseKey"),
    Call<RegDeleteKeyCall>("RegDeleteKeyA"),
    Call<OpenSCManagerCall>("OpenSCManagerA"),
    Call<OpenServiceCall>("OpenServiceA"),
    Call<DeleteServiceCall>("DeleteService"),
    Call<CloseServiceHandleCall>("CloseServiceHandle"),
    Call<QueryServiceStatusCall>("QueryServiceStatus"),
    Call<ControlServiceCall>("ControlService"),
    Call<GetClassDevsCall>("SetupDiGetClassDevsA"),
    Call<EnumDeviceInfoCall>("SetupDiEnumDeviceInfo"),
    Call<GetDevicePropertyCall>("SetupDiGetDeviceRegistryPropertyA"),
    Call<DestroyDeviceInfoListCall>("SetupDiDestroyDeviceInfoList"),
    Call<GetInfClassCall>("SetupDiGetINFClassA"),
    Call<CreateDeviceInfoListCall>("SetupDiCreateDeviceInfoList"),
    Call<CreateDeviceInfoCall>("SetupDiCreateDeviceInfoA"),
    Call<SetDevicePropertyCall>("SetupDiSetDeviceRegistryPropertyA"),
    Call<CallClassInstallerCall>("SetupDiCallClassInstaller"),
    Call<CopyOemInfCall>("SetupCopyOEMInfA"),
    Call<UpdateDriverCall>("UpdateDriverForPlugAndPlayDevicesA"),
};

class FaultPlanTest : public WinsimTest, public ::testing::WithParamInterface<FallibleCall> {
protected:
    void SetUp() override {
        WinsimTest::SetUp();
        call_ = GetParam().make();
        call_->Arrange();
    }
    void TearDown() override {
        call_->Cleanup();
        WinsimTest::TearDown();
    }
    void ExpectPlannedError() {
        if (call_->ReportsThroughResult()) {
            EXPECT_EQ(call_->Result(), kPlanned);
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
        } else {
            EXPECT_EQ(GetLastError(), kPlanned);
        }
    }
    std::unique_ptr<CallUnderTest> call_;
};

TEST_P(FaultPlanTest, NthCallFailsWithThePlannedCodeAndChangesNothing) {
    const std::string name = GetParam().name;
    winsim::FailNthCall(name, 2, kPlanned);

    EXPECT_FALSE(call_->CallFails()) << "call 1 is not planned to fail";
    SetLastError(ERROR_SUCCESS);
    ASSERT_TRUE(call_->CallFails()) << "call 2 returns the failure result";
    ExpectPlannedError();
    call_->ExpectNoEffect();
    EXPECT_FALSE(call_->CallFails()) << "call 3 is not planned to fail";
    EXPECT_EQ(winsim::CallCount(name), 3u);
}

TEST_P(FaultPlanTest, EveryCallFailsUntilTheFaultsAreCleared) {
    const std::string name = GetParam().name;
    winsim::FailEveryCall(name, kPlanned);
    for (int i = 0; i < 3; ++i) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_TRUE(call_->CallFails()) << "call " << i + 1;
        ExpectPlannedError();
    }
    winsim::ClearFaults();
    EXPECT_FALSE(call_->CallFails());
    EXPECT_EQ(winsim::CallCount(name), 4u) << "failed calls are counted too";
}

INSTANTIATE_TEST_SUITE_P(EachFallibleCall, FaultPlanTest, ::testing::ValuesIn(kFallibleCalls),
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
    HANDLE h = CreateFileA("C:\\log.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(h, "x", 1, &written, nullptr);
    SetLastError(GetLastError());
    OutputDebugStringA("trace");
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[64];
    Format(text, "%d", lstrlenA("abc") + lstrcmpiA("a", "A"));
    CloseHandle(h);
    winsim::FailNthCall("CreateFileA", 2, kPlanned);
    CreateFileA("C:\\log.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);

    const std::vector<std::string> expected = {"CreateFileA", "WriteFile", "CloseHandle",
                                               "CreateFileA"};
    EXPECT_EQ(winsim::CallLog(), expected) << "the failed call is logged as well";
    EXPECT_EQ(winsim::CallCount("CreateFileA"), 2u);
    EXPECT_EQ(winsim::CallCount("ReadFile"), 0u);
}

TEST_F(FaultPlanBookkeeping, CallsAreNumberedFromResetNotFromThePlan) {
    char buffer[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, buffer), 0u);
    ASSERT_NE(GetTempPathA(MAX_PATH, buffer), 0u);
    winsim::FailNthCall("GetTempPathA", 2, kPlanned);  // already made: never fires
    winsim::FailNthCall("GetTempPathA", 3, kPlanned);
    EXPECT_EQ(GetTempPathA(MAX_PATH, buffer), 0u);
    EXPECT_NE(GetTempPathA(MAX_PATH, buffer), 0u);
}

TEST_F(FaultPlanBookkeeping, SeveralPlannedCallsOfOneNameEachFailWithTheirOwnCode) {
    winsim::FailNthCall("LocalAlloc", 1, ERROR_NOT_ENOUGH_MEMORY);
    winsim::FailNthCall("LocalAlloc", 3, ERROR_OUTOFMEMORY);
    EXPECT_EQ(LocalAlloc(LPTR, 4), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    HLOCAL second = LocalAlloc(LPTR, 4);
    EXPECT_NE(second, nullptr);
    EXPECT_EQ(LocalAlloc(LPTR, 4), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OUTOFMEMORY));
    LocalFree(second);
}

TEST_F(FaultPlanBookkeeping, APlanForOneCallLeavesTheOthersAlone) {
    winsim::FailEveryCall("CloseHandle", kPlanned);
    HANDLE h = CreateFileA("C:\\other.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(winsim::OpenHandleCount(), 1u);
    winsim::ClearFaults();
    EXPECT_TRUE(CloseHandle(h));
}

TEST_F(FaultPlanBookkeeping, ClearFaultsKeepsTheCounts) {
    winsim::FailEveryCall("LocalAlloc", kPlanned);
    LocalAlloc(LPTR, 1);
    winsim::ClearFaults();
    EXPECT_EQ(winsim::CallCount("LocalAlloc"), 1u);
    EXPECT_EQ(winsim::CallLog().size(), 1u);
}

TEST_F(FaultPlanBookkeeping, MisnamedOrMisnumberedPlansAreRefused) {
    // A typo would otherwise give a plan that silently never fires.
    EXPECT_THROW(winsim::FailNthCall("CreateFile", 1, kPlanned), std::invalid_argument);
    EXPECT_THROW(winsim::FailEveryCall("createfilea", kPlanned), std::invalid_argument);
    EXPECT_THROW(winsim::FailEveryCall("GetLastError", kPlanned), std::invalid_argument);
    EXPECT_THROW(winsim::CallCount("wvsprintfA"), std::invalid_argument);
    EXPECT_THROW(winsim::FailNthCall("CreateFileA", 0, kPlanned), std::invalid_argument);
}

}  // namespace
