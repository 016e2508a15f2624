// Helpers of the device and driver conformance tests: root-enumerated test
// devices made through SetupAPI itself, found again by hardware ID, and
// removed with everything an installation left (INF copies, services).
#pragma once

#include "conformance.h"

#include <optional>
#include <string>
#include <vector>

// GUID_DEVCLASS_DISPLAY.
extern const GUID kDisplayClass;

bool SameGuid(const GUID& a, const GUID& b);
std::string GuidText(const GUID& guid);  // "{4D36E968-E325-11CE-BFC1-08002BE10318}"

// "a", "b" -> "a\0b\0\0".
std::string MultiSz(const std::vector<std::string>& strings);

// The Windows folder and its INF folder, as GetWindowsDirectoryA reports them.
std::string WindowsFolder();
std::string InfFolder();

// A device information set destroyed when it goes out of scope.
class DeviceList {
public:
    explicit DeviceList(HDEVINFO set) : set_(set) {}
    ~DeviceList();
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;
    HDEVINFO get() const { return set_; }
    bool valid() const { return set_ != INVALID_HANDLE_VALUE && set_ != nullptr; }

private:
    HDEVINFO set_;
};

class DeviceTest : public PlatformTest {
protected:
    void TearDown() override;

    // Creates and registers a root-enumerated display device whose hardware
    // ID property holds these bytes; removed again in TearDown.
    bool RegisterDevice(const std::string& hardware_ids);
    // Among the present devices of all classes, the first one listing the
    // hardware ID (exact bytes of one entry). The set stays with the caller.
    std::optional<SP_DEVINFO_DATA> FindPresent(HDEVINFO set, const std::string& id);
    // Raw SPDRP_* property bytes, or nothing when the call fails.
    std::optional<std::string> Property(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property);
    // A REG_SZ value below HKEY_LOCAL_MACHINE without its terminator.
    std::optional<std::string> RegistryText(const std::string& key, const char* name);
    std::optional<DWORD> RegistryNumber(const std::string& key, const char* name);
    bool KeyExists(const std::string& key);
    // Remember an INF copy (full path) or a service to remove in TearDown.
    void OwnsInfCopy(const std::string& path) { inf_copies_.push_back(path); }
    void OwnsService(const std::string& name) { services_.push_back(name); }

private:
    std::vector<std::string> hardware_ids_;
    std::vector<std::string> inf_copies_;
    std::vector<std::string> services_;
};
