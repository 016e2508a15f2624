#include "harness.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <regex>

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

void Require(bool done, const std::string& what) {
    if (!done) {
        std::fprintf(stderr, "failed: %s\n", what.c_str());
        std::abort();
    }
}

bool Within(const std::string& key, const std::string& root) {
    return key.compare(0, root.size(), root) == 0 && (key.size() == root.size() || key[root.size()] == '\\');
}

namespace {

void PutString(const std::string& key, const std::string& name, const std::string& value) {
    Require(winsim::SetRegistryString(key, name, value), key + " " + name);
}

void PutFileIn(const std::string& path, const std::string& contents, DWORD attributes = FILE_ATTRIBUTE_ARCHIVE) {
    Require(winsim::MakeDirectories(path.substr(0, path.rfind('\\'))) &&
                winsim::PutFile(path, contents, attributes),
            path);
}

void PutVideoKey(const std::string& guid, const std::string& service) {
    PutString(kVideoKey + "\\" + guid + "\\Video", "Service", service);
    Require(winsim::CreateRegistryKey(kVideoKey + "\\" + guid + "\\0000\\Settings"), guid);
}

void WalkKeys(const std::string& path, std::map<std::string, std::string>* keys) {
    for (const std::string& name : winsim::RegistrySubKeys(path)) {
        const std::string child = path.empty() ? name : path + "\\" + name;
        std::string values;
        for (const std::string& value : winsim::RegistryValueNames(child)) {
            const auto data = winsim::GetRegistryValue(child, value);
            values += value + "=" + std::to_string(data->type) + ":" + data->data + ";";
        }
        (*keys)[Upper(child)] = child + "\n" + values;
        WalkKeys(child, keys);
    }
}

const std::string kOtherBackup = "C:\\Windows\\System32\\ReinstallBackups\\0001\\DriverFiles";

}  // namespace

int RunProgram(const Lines& arguments) {
    Lines storage{"Dravmel.exe"};
    storage.insert(storage.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : storage) argv.push_back(argument.data());
    argv.push_back(nullptr);
    return DravmelProgramMain(static_cast<int>(storage.size()), argv.data());
}

bool ParseRecord(const std::string& text, Record* record) {
    // A message is one line of text, its line ends last: text after them
    // would be a piece of another record.
    static const std::regex form(R"((\d{4}/\d\d/\d\d \d\d:\d\d:\d\d:\d{3}),([^,]*),-?\d+,0,([^,]*),([^\r\n]+[\r\n]*))");
    std::smatch match;
    if (!std::regex_match(text, match, form) || match[2] != kTag) return false;
    *record = {match[1], match[3], match[4]};
    return true;
}

bool SplitLog(const std::string& text, std::vector<Record>* records) {
    static const std::regex start(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d:\d{3},)");
    std::vector<size_t> starts;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), start); it != std::sregex_iterator(); ++it) {
        if (text.compare(static_cast<size_t>(it->position() + it->length()), kTag.size() + 1, kTag + ",") == 0) {
            starts.push_back(static_cast<size_t>(it->position()));
        }
    }
    if (!text.empty() && (starts.empty() || starts[0] != 0)) return false;
    for (size_t i = 0; i < starts.size(); ++i) {
        const size_t end = i + 1 < starts.size() ? starts[i + 1] : text.size();
        Record record;
        if (!ParseRecord(text.substr(starts[i], end - starts[i]), &record)) return false;
        records->push_back(record);
    }
    return true;
}

Lines TraceOf(const std::string& function) {
    Lines messages;
    Record record;
    for (const std::string& entry : winsim::DebugOutput()) {
        if (ParseRecord(entry, &record) && record.function == function) messages.push_back(record.message);
    }
    return messages;
}

bool Traced(const std::string& function, const std::string& message) {
    const Lines messages = TraceOf(function);
    return std::find(messages.begin(), messages.end(), message) != messages.end();
}

Lines DebuggerLines() {
    Lines lines;
    for (const std::string& entry : winsim::DebugOutput()) {
        if (entry.compare(0, kTag.size() + 2, kTag + ": ") == 0) lines.push_back(entry.substr(kTag.size() + 2));
    }
    return lines;
}

void PutPackage(const std::string& folder) {
    const std::string inf = "[Version]\nSignature=\"$Windows NT$\"\nClass=Display\n"
                            "ClassGUID={4D36E968-E325-11CE-BFC1-08002BE10318}\nProvider=%Mfg%\n"
                            "[DestinationDirs]\nDefaultDestDir=11\nMirror.Miniport=12\n"
                            "[Manufacturer]\n%Mfg%=Mirror,NTamd64,NTx86\n"
                            "[Mirror.NTamd64]\n%Desc%=Mirror_Install,Orvenik_Tallomer_Mirror\n"
                            "[Mirror.NTx86]\n%Desc%=Mirror_Install,Orvenik_Tallomer_Mirror\n"
                            "[Mirror_Install]\nCopyFiles=Mirror.Miniport,Mirror.Display\n"
                            "[Mirror_Install.Services]\nAddService=QVMIRROR,0x00000002,Mirror_Service\n"
                            "[Mirror_Service]\nServiceType=1\nStartType=3\nErrorControl=0\n"
                            "ServiceBinary=%12%\\" + kSys + "\n[Mirror.Miniport]\n" + kSys +
                            "\n[Mirror.Display]\n" + kDll +
                            "\n[Strings]\nMfg=\"Orvenik Tallomer\"\nDesc=\"Orvenik Tallomer graphics driver\"\n";
    PutFileIn(folder + "\\" + kInf, inf);
    PutFileIn(folder + "\\" + kDll, "display driver");
    PutFileIn(folder + "\\" + kSys, "miniport driver");
}

Lines MirrorDevices() {
    Lines ids;
    for (const winsim::Device& device : winsim::Devices()) {
        const std::string list = device.hardware_ids.value_or("");
        // Strings up to the first empty one; one without terminator does not count.
        for (size_t at = 0, end; at < list.size() && list[at] != '\0'; at = end + 1) {
            end = list.find('\0', at);
            if (end == std::string::npos) break;
            if (device.present && list.compare(at, end - at, kHardwareId) == 0) {
                ids.push_back(device.instance_id);
                break;
            }
        }
    }
    return ids;
}

namespace {

// A display adapter with the entries Windows keeps for it: the device and
// its driver key, the INF copy with its .pnf, the service, a video key named
// by the service's VideoID with its profile key, and a reinstall entry.
struct Adapter {
    std::string device, hardwareId, service, driverKey, matchingId, oemInf, guid, reinstallKey, description, reinstall;
};

void PutAdapter(const Adapter& a) {
    winsim::Device device;
    device.instance_id = a.device;
    device.hardware_ids = winsim::MultiString({a.hardwareId});
    device.description = a.description;
    device.service = a.service;
    device.driver = "{4D36E968-E325-11CE-BFC1-08002BE10318}\\" + a.driverKey;
    Require(winsim::AddDevice(device), a.device);
    PutString(kDisplayClassKey + "\\" + a.driverKey, "MatchingDeviceId", a.matchingId);
    PutString(kDisplayClassKey + "\\" + a.driverKey, "InfPath", a.oemInf + ".inf");
    PutFileIn(kInfFolder + "\\" + a.oemInf + ".inf", "inf");
    PutFileIn(kInfFolder + "\\" + a.oemInf + ".pnf", "pnf");
    winsim::Service service;
    service.name = a.service;
    Require(winsim::AddService(service), a.service);
    PutString(kServicesKey + "\\" + a.service + "\\VIDEO", "VideoID", a.guid);
    PutVideoKey(a.guid, a.service);
    Require(winsim::SetRegistryDword(kProfileVideoKey + "\\" + a.guid + "\\0000", "Attach.ToDesktop", 0), a.guid);
    PutString(kReinstallKey + "\\" + a.reinstallKey, "DeviceDesc", a.description);
    PutString(kReinstallKey + "\\" + a.reinstallKey, "ReinstallString", a.reinstall);
    PutFileIn(a.reinstall, "inf");
}

}  // namespace

void PutInstallation() {
    PutAdapter({kMirrorDevice, kHardwareId, kService, "0002", "orvenik_tallomer_mirror", "oem7", kGuidA, "0003",
                kDeviceDesc, kBackup + "\\" + kInf});
    PutVideoKey(kGuidB, "qvmirror");
    for (const std::string& file : {kDll, kSys, kPnf}) PutFileIn(kBackup + "\\" + file, file);
    PutFileIn(kSystemFolder + "\\" + kDll, "dll");
    PutFileIn(kSystemFolder + "\\drivers\\" + kSys, "sys");
    PutFileIn(kLastGoodFolder + "\\" + kDll, "dll", FILE_ATTRIBUTE_READONLY);
    PutFileIn(kLastGoodFolder + "\\drivers\\" + kSys, "sys");
    PutAdapter({"PCI\\VEN_8086&DEV_1234\\3&11583659&0&10", "PCI\\VEN_8086&DEV_1234", "OTHERVID", "0000",
                "pci\\ven_8086&dev_1234", "oem3", "{55555555-2222-3333-4444-555555555555}", "0001", "Another adapter",
                kOtherBackup + "\\other.inf"});
    // Decoys: the driver's file names where no lookup points, and names
    // close to the INF copy's.
    for (const std::string& file : {kDll, kSys, kInf, kPnf}) {
        for (const std::string& folder : {std::string("C:"), std::string("C:\\Windows"), kInfFolder, kOtherBackup,
                                          std::string("C:\\Windows\\System32\\ReinstallBackups")}) {
            PutFileIn(folder + "\\" + file, "decoy");
        }
    }
    for (const char* file : {"C:\\oem7.inf", "C:\\Windows\\oem7.pnf", "C:\\Windows\\INF\\oem7",
                             "C:\\Windows\\INF\\oem70.inf", "C:\\Windows\\System32\\drivers\\other.sys"}) {
        PutFileIn(file, "decoy");
    }
}

Snapshot Take() {
    Snapshot snapshot;
    WalkKeys("", &snapshot.keys);
    for (const auto& [path, contents] : winsim::Files()) snapshot.files[Upper(path)] = path + "\n" + contents;
    for (const winsim::Device& device : winsim::Devices()) snapshot.devices[Upper(device.instance_id)] = "";
    return snapshot;
}

Removal Expected(unsigned keptParts) {
    Removal removal;
    auto wanted = [keptParts](Part part) { return (keptParts & part) == 0; };
    if (wanted(kDevicePart)) {
        removal.devices.push_back(kMirrorDevice);
        removal.keys.push_back(kMirrorClassKey);
    }
    if (wanted(kServicePart)) removal.keys.push_back(kServiceKey);
    if (wanted(kOemPart)) {
        removal.files.insert(removal.files.end(), {kInfFolder + "\\oem7.inf", kInfFolder + "\\oem7.pnf"});
    }
    if (wanted(kSystemPart)) {
        removal.files.insert(removal.files.end(), {kSystemFolder + "\\" + kDll, kSystemFolder + "\\drivers\\" + kSys});
    }
    if (wanted(kVideoPart)) {
        removal.keys.insert(removal.keys.end(), {kVideoKey + "\\" + kGuidA, kVideoKey + "\\" + kGuidB});
    }
    if (wanted(kProfilePart)) removal.keys.push_back(kProfileVideoKey + "\\" + kGuidA);
    if (wanted(kReinstallPart)) {
        removal.keys.push_back(kReinstallKey + "\\0003");
        for (const std::string& file : {kDll, kSys, kInf, kPnf}) removal.files.push_back(kBackup + "\\" + file);
    }
    if (wanted(kLastGoodPart)) {
        removal.files.insert(removal.files.end(),
                             {kLastGoodFolder + "\\" + kDll, kLastGoodFolder + "\\drivers\\" + kSys});
    }
    return removal;
}

Lines Unexpected(const Snapshot& before, const Snapshot& after, const Removal& expected) {
    Lines faults;
    // Each of the names must be in before; what went from before must be
    // exactly what goes() says.
    auto check = [&faults](const std::map<std::string, std::string>& from, const std::map<std::string, std::string>& to,
                           const Lines& names, auto goes) {
        for (const std::string& name : names) {
            if (!from.count(Upper(name))) faults.push_back("the machine lacks " + name);
        }
        for (const auto& entry : from) {
            if (goes(entry.first) == (to.count(entry.first) != 0)) {
                faults.push_back((to.count(entry.first) ? "not removed: " : "removed: ") + entry.first);
            }
        }
    };
    auto named = [](const Lines& names) {
        return [names](const std::string& upper) {
            return std::any_of(names.begin(), names.end(), [&](const std::string& n) { return Upper(n) == upper; });
        };
    };
    check(before.keys, after.keys, expected.keys, [&](const std::string& key) {
        return std::any_of(expected.keys.begin(), expected.keys.end(),
                           [&](const std::string& root) { return Within(key, Upper(root)); });
    });
    check(before.files, after.files, expected.files, named(expected.files));
    check(before.devices, after.devices, expected.devices, named(expected.devices));
    return faults;
}
