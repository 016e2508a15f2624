// Devices and device information sets (SetupAPI): what Windows keeps about
// devices, and the test helpers that add and inspect them.
#include "state.h"

#include <winsim/machine.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace winsim::detail {
namespace {

// The class of the devices that tests add.
constexpr GUID kDisplayClassGuid = {
    0x4d36e968, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// SPDRP_MAXIMUM_PROPERTY: codes from here on name no property.
constexpr DWORD kPropertyLimit = 0x25;

void JoinMachine(std::shared_ptr<DeviceNode> device) {
    device->registered = true;
    M().device_ids.insert(device->instance_id);
    M().devices.push_back(std::move(device));
}

std::vector<DeviceInfoSet*> OpenSets() {
    std::vector<DeviceInfoSet*> sets;
    for (auto& [value, object] : M().handles) {
        if (object->kind == HandleKind::DeviceInfoSet) {
            sets.push_back(static_cast<DeviceInfoSet*>(object.get()));
        }
    }
    return sets;
}

// Taken by a registered device, or reserved by a set's unregistered element.
bool InstanceIdInUse(const std::string& id) {
    if (M().device_ids.count(id) != 0) return true;
    for (DeviceInfoSet* set : OpenSets()) {
        for (const DeviceElement& element : set->elements) {
            if (!element.device->removed && !element.device->registered &&
                SameName(element.device->instance_id, id)) {
                return true;
            }
        }
    }
    return false;
}

DeviceElement* FindElement(DeviceInfoSet& set, const SP_DEVINFO_DATA* data) {
    if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) return nullptr;
    // Elements are only appended, with ever larger ids.
    auto element = std::lower_bound(set.elements.begin(), set.elements.end(), data->Reserved,
                                    [](const DeviceElement& e, ULONG_PTR id) { return e.id < id; });
    return element != set.elements.end() && element->id == data->Reserved ? &*element : nullptr;
}

void Describe(const DeviceElement& element, SP_DEVINFO_DATA* data) {
    data->ClassGuid = element.device->class_guid;
    data->DevInst = element.device->devinst;
    data->Reserved = element.id;
}

DeviceElement NewElement(std::shared_ptr<DeviceNode> device) {
    DeviceElement element;
    element.device = std::move(device);
    element.id = M().next_element_id++;
    return element;
}

DeviceNode NodeFrom(const winsim::Device& device) {
    DeviceNode node;
    node.instance_id = device.instance_id;
    node.class_guid = kDisplayClassGuid;
    if (device.hardware_ids) node.properties[SPDRP_HARDWAREID] = *device.hardware_ids;
    if (!device.description.empty()) {
        node.properties[SPDRP_DEVICEDESC] = WithTerminator(device.description);
    }
    node.present = device.present;
    node.service = device.service;
    node.driver = device.driver;
    return node;
}

winsim::Device DeviceFrom(const DeviceNode& node) {
    winsim::Device device;
    device.instance_id = node.instance_id;
    auto property = [&](DWORD code) -> std::optional<std::string> {
        auto it = node.properties.find(code);
        if (it == node.properties.end()) return std::nullopt;
        return it->second;
    };
    device.hardware_ids = property(SPDRP_HARDWAREID);
    if (std::optional<std::string> text = property(SPDRP_DEVICEDESC)) {
        device.description = text->c_str();
    }
    device.present = node.present;
    device.service = node.service;
    device.driver = node.driver;
    return device;
}

}  // namespace

std::string WithTerminator(const std::string& s) { return std::string(s.c_str(), s.size() + 1); }

std::vector<std::shared_ptr<DeviceNode>> SortedDevices() {
    std::vector<std::shared_ptr<DeviceNode>> devices = M().devices;
    std::stable_sort(devices.begin(), devices.end(), [](const auto& a, const auto& b) {
        return NameLess()(a->instance_id, b->instance_id);
    });
    return devices;
}

}  // namespace winsim::detail

using namespace winsim::detail;

// ---------------------------------------------------------------------------
// Device information sets

// The devices of all classes (DIGCF_ALLCLASSES) are simulated, with no
// enumerator; DIGCF_PRESENT leaves out those not present.
HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID*, PCSTR, HWND, DWORD Flags) {
    if (auto fault = EnterCall("SetupDiGetClassDevsA")) return Fail(*fault, INVALID_HANDLE_VALUE);
    auto set = std::make_unique<DeviceInfoSet>();
    for (const auto& device : SortedDevices()) {
        if ((Flags & DIGCF_PRESENT) && !device->present) continue;
        set->elements.push_back(NewElement(device));
    }
    return AddHandle(std::move(set));
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                                  PSP_DEVINFO_DATA DeviceInfoData) {
    if (auto fault = EnterCall("SetupDiEnumDeviceInfo")) return Fail(*fault, FALSE);
    auto* set = LookupHandle<::winsim::detail::DeviceInfoSet>(DeviceInfoSet);
    if (set == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
    // Elements stay in the set after DIF_REMOVE, so that indexes hold still.
    if (MemberIndex >= set->elements.size()) return Fail(ERROR_NO_MORE_ITEMS, FALSE);
    Describe(set->elements[MemberIndex], DeviceInfoData);
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet,
                                              PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize) {
    if (auto fault = EnterCall("SetupDiGetDeviceRegistryPropertyA")) return Fail(*fault, FALSE);
    auto* set = LookupHandle<::winsim::detail::DeviceInfoSet>(DeviceInfoSet);
    if (set == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
    DeviceElement* element = FindElement(*set, DeviceInfoData);
    if (element == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (PropertyBuffer == nullptr && PropertyBufferSize != 0) {
        return Fail(ERROR_INVALID_DATA, FALSE);
    }
    DeviceNode& device = *element->device;
    if (device.removed) return Fail(ERROR_NO_SUCH_DEVINST, FALSE);
    if (Property >= kPropertyLimit) return Fail(ERROR_INVALID_REG_PROPERTY, FALSE);

    DWORD type = REG_SZ;
    std::optional<std::string> bytes;
    switch (Property) {
    case SPDRP_HARDWAREID:
    case SPDRP_COMPATIBLEIDS:
        type = REG_MULTI_SZ;
        [[fallthrough]];
    case SPDRP_DEVICEDESC:
        if (auto it = device.properties.find(Property); it != device.properties.end()) {
            bytes = it->second;
        }
        if (Property == SPDRP_HARDWAREID && device.next_hardware_ids) {
            device.properties[Property] = *device.next_hardware_ids;
            device.next_hardware_ids.reset();
        }
        break;
    case SPDRP_DRIVER:
        if (!device.driver.empty()) bytes = WithTerminator(device.driver);
        break;
    default:
        break;
    }
    if (!bytes) return Fail(ERROR_INVALID_DATA, FALSE);
    const DWORD size = static_cast<DWORD>(bytes->size());
    if (PropertyBufferSize == 0 || PropertyBufferSize < size) {
        if (PropertyRegDataType != nullptr) *PropertyRegDataType = type;
        if (RequiredSize != nullptr) *RequiredSize = size;
        return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    std::memcpy(PropertyBuffer, bytes->data(), size);
    if (PropertyRegDataType != nullptr) *PropertyRegDataType = type;
    if (RequiredSize != nullptr) *RequiredSize = size;
    return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    if (auto fault = EnterCall("SetupDiDestroyDeviceInfoList")) return Fail(*fault, FALSE);
    // Unregistered elements vanish with the set.
    if (LookupHandle<::winsim::detail::DeviceInfoSet>(DeviceInfoSet) == nullptr) {
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    }
    RemoveHandle(DeviceInfoSet);
    return TRUE;
}

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID*, HWND) {
    if (auto fault = EnterCall("SetupDiCreateDeviceInfoList")) {
        return Fail(*fault, INVALID_HANDLE_VALUE);
    }
    return AddHandle(std::make_unique<::winsim::detail::DeviceInfoSet>());
}

// Only root-enumerated devices with a generated ID (DICD_GENERATE_ID) are
// simulated, without a description.
BOOL WINAPI SetupDiCreateDeviceInfoA(HDEVINFO DeviceInfoSet, PCSTR DeviceName, const GUID* ClassGuid, PCSTR,
                                     HWND, DWORD, PSP_DEVINFO_DATA DeviceInfoData) {
    if (auto fault = EnterCall("SetupDiCreateDeviceInfoA")) return Fail(*fault, FALSE);
    auto* set = LookupHandle<::winsim::detail::DeviceInfoSet>(DeviceInfoSet);
    if (set == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
    // The upper-cased name below ROOT, with the first free number.
    std::string id;
    for (unsigned n = 0; id.empty(); ++n) {
        char number[8];
        std::snprintf(number, sizeof number, "%04u", n);
        const std::string candidate = "ROOT\\" + UpperCase(DeviceName) + "\\" + number;
        if (!InstanceIdInUse(candidate)) id = candidate;
    }
    auto device = std::make_shared<DeviceNode>();
    device->instance_id = id;
    device->class_guid = *ClassGuid;
    device->devinst = M().next_devinst++;
    set->elements.push_back(NewElement(device));
    if (DeviceInfoData != nullptr) Describe(set->elements.back(), DeviceInfoData);
    return TRUE;
}

BOOL WINAPI SetupDiSetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet,
                                              PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              const BYTE* PropertyBuffer,
                                              DWORD PropertyBufferSize) {
    if (auto fault = EnterCall("SetupDiSetDeviceRegistryPropertyA")) return Fail(*fault, FALSE);
    auto* set = LookupHandle<::winsim::detail::DeviceInfoSet>(DeviceInfoSet);
    if (set == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
    DeviceElement* element = FindElement(*set, DeviceInfoData);
    if (element == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    // Writing the hardware IDs is simulated.
    element->device->properties[Property] =
        std::string(reinterpret_cast<const char*>(PropertyBuffer), PropertyBufferSize);
    return TRUE;
}

BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                      PSP_DEVINFO_DATA DeviceInfoData) {
    if (auto fault = EnterCall("SetupDiCallClassInstaller")) return Fail(*fault, FALSE);
    auto* set = LookupHandle<::winsim::detail::DeviceInfoSet>(DeviceInfoSet);
    if (set == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
    // DIF_REGISTERDEVICE and DIF_REMOVE, on a device of the set, are simulated.
    DeviceElement* element = FindElement(*set, DeviceInfoData);
    if (element == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const std::shared_ptr<DeviceNode>& device = element->device;
    Machine& m = M();
    if (InstallFunction == DIF_REGISTERDEVICE) {
        // A root-enumerated device is present as soon as it is registered.
        device->present = true;
        JoinMachine(device);
        return TRUE;
    }
    // DIF_REMOVE: the device leaves the machine with its driver key; its
    // service stays.
    m.devices.erase(std::remove(m.devices.begin(), m.devices.end(), device), m.devices.end());
    m.device_ids.erase(device->instance_id);
    device->registered = false;
    if (!device->driver.empty()) DeleteKeyTree(std::string(kClassRoot) + "\\" + device->driver);
    device->removed = true;
    device->present = false;
    return TRUE;
}

// ---------------------------------------------------------------------------
// Test helpers

namespace winsim {

bool AddDevice(const Device& device) {
    if (device.instance_id.empty() || detail::InstanceIdInUse(device.instance_id)) return false;
    auto node = std::make_shared<DeviceNode>(detail::NodeFrom(device));
    node->devinst = M().next_devinst++;
    detail::JoinMachine(std::move(node));
    return true;
}

std::vector<Device> Devices() {
    std::vector<Device> devices;
    for (const auto& node : detail::SortedDevices()) devices.push_back(detail::DeviceFrom(*node));
    return devices;
}

bool ChangeHardwareIdsAfterRead(const std::string& instance_id, const std::string& bytes) {
    for (const auto& node : M().devices) {
        if (detail::SameName(node->instance_id, instance_id)) {
            node->next_hardware_ids = bytes;
            return true;
        }
    }
    return false;
}

std::string MultiString(const std::vector<std::string>& strings) {
    std::string bytes;
    for (const std::string& s : strings) {
        if (s.empty() || s.find('\0') != std::string::npos) {
            throw std::invalid_argument("winsim: a multi-string holds non-empty strings");
        }
        bytes += s;
        bytes.push_back('\0');
    }
    bytes.push_back('\0');
    return bytes;
}

void SetRestartRequired(bool required) { M().restart_required = required; }

}  // namespace winsim
