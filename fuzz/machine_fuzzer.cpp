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

// What a removal may take, whatever the lookups read: the installation, and
// what a fuzzed value can name: the video key whose Service it is, a profile
// video key (VideoID), reinstall entry 0002 (DeviceDesc), a file in the INF
// folder (InfPath), a driver file anywhere (ReinstallString), and a device
// that lists the hardware ID. The other adapter's entries stay.
void RequireOnlyNamedRemoved(const Snapshot& before, const Snapshot& after, const Lines& mirrors) {
    Lines keys = Expected(0).keys;
    keys.push_back(kSlots[2].key.substr(0, kSlots[2].key.rfind('\\')));
    keys.push_back(kReinstallKey + "\\0002");
    for (const auto& entry : before.keys) {
        const std::string& key = entry.first;
        auto named = [&key](const std::string& root) { return Within(key, Upper(root)); };
        const bool may = std::any_of(keys.begin(), keys.end(), named) || Below(key, Upper(kProfileVideoKey));
        Require(after.keys.count(key) || may, "removed a key no lookup names: " + key);
    }
    for (const auto& [file, contents] : before.files) {
        const size_t slash = file.rfind('\\');
        const std::string name = file.substr(slash + 1);
        const bool may = file.substr(0, slash) == Upper(kInfFolder) || name == Upper(kDll) || name == Upper(kSys) ||
                         name == Upper(kInf) || name == Upper(kPnf);
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
        const DWORD type = data[0] & 0x80 ? REG_BINARY : REG_SZ;
        if (at <= input.size()) winsim::SetRegistryValue(slot.key, slot.value, type, input.substr(at, end - at));
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
