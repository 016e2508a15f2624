#include "device_support.h"

#include <cstdio>
#include <cstring>

const GUID kDisplayClass = {
    0x4d36e968, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

std::string GuidText(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

std::string MultiSz(const std::vector<std::string>& strings) {
    std::string bytes;
    for (const std::string& s : strings) bytes.append(s.c_str(), s.size() + 1);
    bytes.push_back('\0');
    return bytes;
}

std::string WindowsFolder() {
    char buffer[MAX_PATH + 1] = {};
    const UINT length = GetWindowsDirectoryA(buffer, sizeof buffer);
    return length == 0 || length > MAX_PATH ? std::string() : std::string(buffer, length);
}

std::string InfFolder() { return WindowsFolder() + "\\INF"; }

DeviceList::~DeviceList() {
    if (valid()) SetupDiDestroyDeviceInfoList(set_);
}

namespace {

// Removes every device, present or not, whose hardware IDs list the ID.
void RemoveDevicesListing(const std::string& id) {
    DeviceList all(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES));
    if (!all.valid()) return;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(all.get(), i, &device); ++i) {
        BYTE buffer[1024] = {};
        DWORD type = 0;
        if (!SetupDiGetDeviceRegistryPropertyA(all.get(), &device, SPDRP_HARDWAREID, &type, buffer,
                                               sizeof buffer - 2, nullptr)) {
            continue;
        }
        for (const char* p = reinterpret_cast<const char*>(buffer); *p; p += std::strlen(p) + 1) {
            if (id == p) {
                SetupDiCallClassInstaller(DIF_REMOVE, all.get(), &device);
                break;
            }
        }
    }
}

}  // namespace

void DeviceTest::TearDown() {
    for (const std::string& id : hardware_ids_) RemoveDevicesListing(id);
    for (const std::string& path : inf_copies_) DeleteFileA(path.c_str());
#ifdef _WIN32
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    for (const std::string& name : services_) {
        SC_HANDLE service = manager ? OpenServiceA(manager, name.c_str(), DELETE) : nullptr;
        if (service) {
            DeleteService(service);
            CloseServiceHandle(service);
        }
        RegDeleteTreeA(HKEY_LOCAL_MACHINE,
                       ("SYSTEM\\CurrentControlSet\\Services\\" + name).c_str());
    }
    if (manager) CloseServiceHandle(manager);
#endif
    PlatformTest::TearDown();
}

bool DeviceTest::RegisterDevice(const std::string& hardware_ids) {
    for (const char* p = hardware_ids.c_str(); p < hardware_ids.c_str() + hardware_ids.size() && *p;
         p += std::strlen(p) + 1) {
        hardware_ids_.push_back(p);
    }
    DeviceList list(SetupDiCreateDeviceInfoList(&kDisplayClass, nullptr));
    if (!list.valid()) {
        ADD_FAILURE() << "SetupDiCreateDeviceInfoList failed, error " << GetLastError();
        return false;
    }
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    if (!SetupDiCreateDeviceInfoA(list.get(), "Display", &kDisplayClass, nullptr, nullptr,
                                  DICD_GENERATE_ID, &device)) {
        ADD_FAILURE() << "SetupDiCreateDeviceInfoA failed, error " << GetLastError();
        return false;
    }
    // The ANSI call adds a terminator when the byte after the data is zero;
    // a non-zero byte there keeps the data exactly as given.
    const std::string bytes = hardware_ids + 'X';
    if (!SetupDiSetDeviceRegistryPropertyA(list.get(), &device, SPDRP_HARDWAREID,
                                           reinterpret_cast<const BYTE*>(bytes.data()),
                                           static_cast<DWORD>(hardware_ids.size()))) {
        ADD_FAILURE() << "SetupDiSetDeviceRegistryPropertyA failed, error " << GetLastError();
        return false;
    }
    if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, list.get(), &device)) {
        ADD_FAILURE() << "DIF_REGISTERDEVICE failed, error " << GetLastError();
        return false;
    }
    return true;
}

std::optional<SP_DEVINFO_DATA> DeviceTest::FindPresent(HDEVINFO set, const std::string& id) {
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        std::optional<std::string> ids = Property(set, &device, SPDRP_HARDWAREID);
        if (!ids) continue;
        for (size_t start = 0; start < ids->size();) {
            const size_t end = ids->find('\0', start);
            const std::string entry = ids->substr(start, end - start);
            if (entry.empty()) break;
            if (entry == id) return device;
            if (end == std::string::npos) break;
            start = end + 1;
        }
    }
    return std::nullopt;
}

std::optional<std::string> DeviceTest::Property(HDEVINFO set, SP_DEVINFO_DATA* device,
                                                DWORD property) {
    BYTE buffer[2048];
    DWORD type = 0;
    DWORD required = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(set, device, property, &type, buffer, sizeof buffer,
                                           &required)) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(buffer), required);
}

std::optional<std::string> DeviceTest::RegistryText(const std::string& key, const char* name) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    char buffer[1024];
    DWORD size = sizeof buffer;
    DWORD type = 0;
    const LONG result =
        RegQueryValueExA(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    std::string text(buffer, size);
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

std::optional<DWORD> DeviceTest::RegistryNumber(const std::string& key, const char* name) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD value = 0;
    DWORD size = sizeof value;
    DWORD type = 0;
    const LONG result =
        RegQueryValueExA(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS || type != REG_DWORD) return std::nullopt;
    return value;
}

bool DeviceTest::KeyExists(const std::string& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(handle);
    return true;
}
