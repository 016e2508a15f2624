// Fuzzes the registry contents and the devices around a complete
// installation. The input: a byte of flags, then the raw bytes of the values
// below, separated by 0x01. "/R" must end with 0 and take nothing that no
// lookup can name; "/A" then ends with 0 or 50, and "/R" with 0 again.
#include "harness.h"

namespace {

struct Slot {
    std::string key;
    const char* value;
};

const Slot kSlots[] = {
    {kDisplayClassKey + "\\0001", "MatchingDeviceId"},
    {kMirrorClassKey, "InfPath"},
    {kVideoKey + "\\{CCCCCCCC-2222-3333-4444-555555555555}\\Video", "Service"},
    {kServiceVideoKey, "VideoID"},
    {kReinstallKey + "\\0002", "DeviceDesc"},
    {kReinstallKey + "\\0003", "ReinstallString"},
};

bool Below(const std::string& key, const std::string& parent) { return key != parent && Within(key, parent); }

// What a removal may take, whatever the lookups read: keys below the keys
// it searches, the service, device keys; files in the INF folder or named as
// a driver file; devices that list the hardware ID.
void RequireOnlyNamedRemoved(const Snapshot& before, const Snapshot& after, const Lines& mirrors) {
    for (const auto& [key, values] : before.keys) {
        const bool may = Below(key, Upper(kVideoKey)) || Below(key, Upper(kProfileVideoKey)) ||
                         Below(key, Upper(kReinstallKey)) || Below(key, Upper(kDisplayClassKey)) ||
                         Within(key, Upper(kServiceKey)) ||
                         Below(key, "SYSTEM\\CURRENTCONTROLSET\\ENUM");
        Require(after.keys.count(key) || may, "removed a key no lookup names: " + key);
    }
    for (const auto& [file, contents] : before.files) {
        const std::string name = file.substr(file.rfind('\\') + 1);
        const bool may = file.rfind(Upper(kInfFolder) + "\\", 0) == 0 || name == Upper(kDll) ||
                         name == Upper(kSys) || name == Upper(kInf) || name == Upper(kPnf);
        Require(after.files.count(file) || may, "removed a file no lookup names: " + file);
    }
    for (const auto& [device, unused] : before.devices) {
        bool listed = false;
        for (const std::string& mirror : mirrors) listed = listed || Upper(mirror) == device;
        Require(after.devices.count(device) || listed, "removed a device without the hardware ID: " + device);
    }
}

void RequireClean(int exitCode, int owed) {
    Require(exitCode == owed || (owed == kExitInstallFailed && exitCode == 0), "the exit code owed");
    Require(winsim::OpenHandleCount() == 0 && winsim::LiveAllocationCount() == 0, "nothing left open");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    winsim::Reset();
    PutInstallation();
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    size_t at = 0;
    for (const Slot& slot : kSlots) {
        const size_t end = std::min(input.find('\1', at), input.size());
        if (at <= input.size()) winsim::SetRegistryValue(slot.key, slot.value, data[0] & 0x80 ? REG_BINARY : REG_SZ,
                                                         input.substr(at, end - at));
        at = end + 1;
    }
    winsim::Device hostile;
    hostile.instance_id = "ACPI\\HOSTILE\\0";
    hostile.hardware_ids = at <= input.size() ? input.substr(at) : winsim::MultiString({kHardwareId});
    winsim::AddDevice(hostile);
    if (data[0] & 1) winsim::SetFileInUse(kSystemFolder + "\\drivers\\" + kSys);
    if (data[0] & 2) winsim::SetServiceState(kService, SERVICE_RUNNING);
    if (data[0] & 4) winsim::DenyRegistryAccess(kVideoKey + "\\" + kGuidB, KEY_ALL_ACCESS);

    const Snapshot before = Take();
    const Lines mirrors = MirrorDevices();
    RequireClean(RunProgram({"/R"}), 0);
    winsim::Restart();
    RequireOnlyNamedRemoved(before, Take(), mirrors);

    PutPackage();
    const Lines present = MirrorDevices();
    const int installed = RunProgram({"/A", "/S:" + kPackage});
    RequireClean(installed, kExitInstallFailed);
    Require(installed == 0 ? !MirrorDevices().empty() : MirrorDevices() == present, "devices as the exit code says");
    RequireClean(RunProgram({"/R"}), 0);
    return 0;
}
