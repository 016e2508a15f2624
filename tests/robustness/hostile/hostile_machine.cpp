#include "hostile_machine.h"

#include "trace_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>

namespace hostile {

namespace {

std::set<std::string>& TrackedFiles() {
    static std::set<std::string> files;
    return files;
}

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

void WalkKeys(const std::string& path, std::map<std::string, std::string>* keys) {
    for (const std::string& name : winsim::RegistrySubKeys(path)) {
        const std::string child = path.empty() ? name : path + "\\" + name;
        (*keys)[Upper(child)] = child;
        WalkKeys(child, keys);
    }
}

void PutDir(const std::string& path) { ASSERT_TRUE(winsim::MakeDirectories(path)) << path; }

bool Within(const std::string& key, const std::string& root) {
    return key == root || (key.size() > root.size() && key.compare(0, root.size(), root) == 0 && key[root.size()] == '\\');
}

// The function and message of a trace record, or of a debugger line.
bool RecordIs(const std::string& entry, const std::string& function, const std::string& message) {
    size_t start = 0;
    for (int comma = 0; comma < 4; ++comma) {
        start = entry.find(',', start);
        if (start == std::string::npos) {
            return false;
        }
        ++start;
    }
    return entry.size() == start + function.size() + 1 + message.size() &&
           entry.compare(start, function.size(), function) == 0 && entry[start + function.size()] == ',' &&
           entry.compare(start + function.size() + 1, std::string::npos, message) == 0;
}

}  // namespace

void PutTracked(const std::string& path, const std::string& contents, DWORD attributes) {
    const size_t slash = path.rfind('\\');
    if (slash != std::string::npos && slash > 2) {
        PutDir(path.substr(0, slash));
    }
    ASSERT_TRUE(winsim::PutFile(path, contents, attributes)) << path;
    TrackedFiles().insert(path);
}

void Track(const std::string& path) { TrackedFiles().insert(path); }

void ForgetTracked() { TrackedFiles().clear(); }

Snapshot Take() {
    Snapshot snapshot;
    WalkKeys("", &snapshot.keys);
    for (const std::string& file : TrackedFiles()) {
        if (winsim::Exists(file)) {
            snapshot.files[Upper(file)] = file;
        }
    }
    for (const winsim::Device& device : winsim::Devices()) {
        snapshot.devices[Upper(device.instance_id)] = device.instance_id;
    }
    return snapshot;
}

void SetRaw(const std::string& key, const std::string& name, const std::string& bytes, DWORD type) {
    ASSERT_TRUE(winsim::SetRegistryValue(key, name, type, bytes)) << key << " " << name;
}

void PutInstallation() {
    // The mirror: its device, driver key, INF copy and service.
    winsim::Device mirror;
    mirror.instance_id = kMirrorDevice;
    mirror.hardware_ids = winsim::MultiString({kMirrorHardwareId});
    mirror.description = kMirrorDeviceDesc;
    mirror.service = "QVMIRROR";
    mirror.driver = "{4D36E968-E325-11CE-BFC1-08002BE10318}\\0002";
    ASSERT_TRUE(winsim::AddDevice(mirror));
    ASSERT_TRUE(winsim::SetRegistryString(kMirrorClassKey, "MatchingDeviceId", "orvenik_tallomer_mirror"));
    ASSERT_TRUE(winsim::SetRegistryString(kMirrorClassKey, "InfPath", "oem7.inf"));
    PutTracked(kInfFolder + "\\oem7.inf", "inf");
    PutTracked(kInfFolder + "\\oem7.pnf", "pnf");
    winsim::Service service;
    service.name = "QVMIRROR";
    service.image_path = "\\SystemRoot\\System32\\drivers\\" QV_MIRROR_SYS;
    ASSERT_TRUE(winsim::AddService(service));
    ASSERT_TRUE(winsim::SetRegistryString(kServiceVideoKey, "VideoID", kGuidA));

    // What Windows adds for a display driver: video, profile and reinstall entries.
    ASSERT_TRUE(winsim::SetRegistryString(kVideoKey + "\\" + kGuidA + "\\Video", "Service", "QVMIRROR"));
    ASSERT_TRUE(winsim::SetRegistryDword(kVideoKey + "\\" + kGuidA + "\\0000\\Settings", "Mode", 1));
    ASSERT_TRUE(winsim::SetRegistryString(kVideoKey + "\\" + kGuidB + "\\Video", "Service", "qvmirror"));
    ASSERT_TRUE(winsim::SetRegistryDword(kProfileVideoKey + "\\" + kGuidA + "\\0000", "Attach.ToDesktop", 0));
    ASSERT_TRUE(winsim::SetRegistryString(kReinstallKey + "\\0003", "DeviceDesc", kMirrorDeviceDesc));
    ASSERT_TRUE(winsim::SetRegistryString(kReinstallKey + "\\0003", "ReinstallString", kBackup + "\\" QV_MIRROR_INF));
    for (const char* file : kDriverFiles) {
        PutTracked(kBackup + "\\" + file, file);
    }
    PutTracked(kSystemFolder + "\\" QV_MIRROR_DLL, "dll");
    PutTracked(kSystemFolder + "\\drivers\\" QV_MIRROR_SYS, "sys");
    PutTracked(kLastGoodFolder + "\\" QV_MIRROR_DLL, "dll", FILE_ATTRIBUTE_READONLY);
    PutTracked(kLastGoodFolder + "\\drivers\\" QV_MIRROR_SYS, "sys");

    // Another adapter, with the same kinds of entries.
    winsim::Device other;
    other.instance_id = kOtherDevice;
    other.hardware_ids = winsim::MultiString({"PCI\\VEN_8086&DEV_1234"});
    other.service = "OTHERVID";
    other.driver = "{4D36E968-E325-11CE-BFC1-08002BE10318}\\0000";
    ASSERT_TRUE(winsim::AddDevice(other));
    ASSERT_TRUE(winsim::SetRegistryString(kOtherClassKey, "MatchingDeviceId", "pci\\ven_8086&dev_1234"));
    ASSERT_TRUE(winsim::SetRegistryString(kOtherClassKey, "InfPath", "oem3.inf"));
    winsim::Service otherService;
    otherService.name = "OTHERVID";
    ASSERT_TRUE(winsim::AddService(otherService));
    ASSERT_TRUE(winsim::SetRegistryString(kServicesKey + "\\OTHERVID\\Device0", "VideoID", kGuidOther));
    ASSERT_TRUE(winsim::SetRegistryString(kVideoKey + "\\" + kGuidOther + "\\Video", "Service", "OTHERVID"));
    ASSERT_TRUE(winsim::CreateRegistryKey(kVideoKey + "\\" + kGuidOther + "\\0000"));
    ASSERT_TRUE(winsim::SetRegistryDword(kProfileVideoKey + "\\" + kGuidOther + "\\0000", "Attach.ToDesktop", 1));
    ASSERT_TRUE(winsim::SetRegistryString(kReinstallKey + "\\0001", "DeviceDesc", "Another adapter"));
    ASSERT_TRUE(winsim::SetRegistryString(kReinstallKey + "\\0001", "ReinstallString", kOtherBackup + "\\other.inf"));
    PutTracked(kInfFolder + "\\oem3.inf", "inf");
    PutTracked(kInfFolder + "\\oem3.pnf", "pnf");

    // Decoys: the driver's file names where no lookup points.
    for (const char* file : kDriverFiles) {
        for (const std::string& folder : {std::string("C:"), std::string("C:\\Windows"), kInfFolder, kOtherBackup,
                                          std::string("C:\\Windows\\System32\\ReinstallBackups")}) {
            PutTracked(folder + "\\" + file, "decoy");
        }
    }
    for (const char* file : {"C:\\x.inf", "C:\\oem7.inf", "C:\\oem7.pnf", "C:\\Windows\\x.inf", "C:\\Windows\\INF\\x.inf",
                             "C:\\Windows\\INF\\x.pnf", "C:\\Windows\\INF\\oem7", "C:\\Windows\\INF\\oem70.inf",
                             "C:\\Windows\\System32\\other.dll", "C:\\Windows\\System32\\drivers\\other.sys"}) {
        PutTracked(file, "decoy");
    }
    PutTracked(kOtherBackup + "\\other.inf", "inf");
    // Folders are never removed.
    for (const std::string& folder : {std::string("C:\\Windows"), kInfFolder, kSystemFolder,
                                      kSystemFolder + "\\drivers", kBackup, kOtherBackup, kLastGoodFolder}) {
        Track(folder);
    }
}

Removal Expected(unsigned keptParts) {
    Removal removal;
    auto wanted = [keptParts](Part part) { return (keptParts & part) == 0; };
    if (wanted(kDevicePart)) {
        removal.devices.push_back(kMirrorDevice);
        removal.keys.push_back(kMirrorClassKey);
    }
    if (wanted(kServicePart)) {
        removal.keys.push_back(kServiceKey);
    }
    if (wanted(kOemPart)) {
        removal.files.push_back(kInfFolder + "\\oem7.inf");
        removal.files.push_back(kInfFolder + "\\oem7.pnf");
    }
    if (wanted(kSystemPart)) {
        removal.files.push_back(kSystemFolder + "\\" QV_MIRROR_DLL);
        removal.files.push_back(kSystemFolder + "\\drivers\\" QV_MIRROR_SYS);
    }
    if (wanted(kVideoPart)) {
        removal.keys.push_back(kVideoKey + "\\" + kGuidA);
        removal.keys.push_back(kVideoKey + "\\" + kGuidB);
    }
    if (wanted(kProfilePart)) {
        removal.keys.push_back(kProfileVideoKey + "\\" + kGuidA);
    }
    if (wanted(kReinstallPart)) {
        removal.keys.push_back(kReinstallKey + "\\0003");
        for (const char* file : kDriverFiles) {
            removal.files.push_back(kBackup + "\\" + file);
        }
    }
    if (wanted(kLastGoodPart)) {
        removal.files.push_back(kLastGoodFolder + "\\" QV_MIRROR_DLL);
        removal.files.push_back(kLastGoodFolder + "\\drivers\\" QV_MIRROR_SYS);
    }
    return removal;
}

void ExpectRemoved(const Snapshot& before, const Snapshot& after, const Removal& expected) {
    std::vector<std::string> roots;
    for (const std::string& root : expected.keys) {
        roots.push_back(Upper(root));
        EXPECT_TRUE(before.keys.count(Upper(root))) << "set-up lacks " << root;
        EXPECT_FALSE(after.keys.count(Upper(root))) << "still there: " << root;
    }
    Lines wrongKeys;
    for (const auto& entry : before.keys) {
        const std::string& upper = entry.first;
        const auto& key = entry.second;
        if (after.keys.count(upper) == 0 &&
            std::none_of(roots.begin(), roots.end(), [&](const std::string& root) { return Within(upper, root); })) {
            wrongKeys.push_back(key);
        }
    }
    EXPECT_TRUE(wrongKeys.empty()) << "removed although no lookup named it: " << ::testing::PrintToString(wrongKeys);

    auto removed = [](const std::map<std::string, std::string>& from, const std::map<std::string, std::string>& to) {
        std::set<std::string> names;
        for (const auto& [upper, name] : from) {
            if (to.count(upper) == 0) {
                names.insert(upper);
            }
        }
        return names;
    };
    auto upperSet = [](const Lines& names) {
        std::set<std::string> set;
        for (const std::string& name : names) {
            set.insert(Upper(name));
        }
        return set;
    };
    EXPECT_EQ(removed(before.files, after.files), upperSet(expected.files)) << "files removed";
    EXPECT_EQ(removed(before.devices, after.devices), upperSet(expected.devices)) << "devices removed";
}

int RemoveAndRestart() {
    const int code = RunProgram({"/R"});
    winsim::Restart();
    return code;
}

bool Traced(const std::string& function, const std::string& message) { return CountTraced(function, message) > 0; }

size_t CountTraced(const std::string& function, const std::string& message) {
    const Lines& output = winsim::DebugOutput();
    return static_cast<size_t>(std::count_if(output.begin(), output.end(), [&](const std::string& entry) {
        return RecordIs(entry, function, message);
    }));
}

void InstalledMachineTest::SetUp() {
    winsim::Reset();
    ForgetTracked();
    PutInstallation();
}

void InstalledMachineTest::TearDown() {
    EXPECT_EQ(winsim::OpenHandleCount(), 0u) << "a handle was left open";
    EXPECT_EQ(winsim::LiveAllocationCount(), 0u) << "an allocation was not freed";
}

void InstalledMachineTest::RunRemoval(const RemovalCase& test) {
    test.change();
    if (HasFatalFailure()) {
        return;
    }
    const Snapshot before = Take();
    winsim::ClearDebugOutput();
    EXPECT_EQ(RemoveAndRestart(), 0);
    const Snapshot after = Take();
    Removal expected = Expected(test.keptParts);
    expected.keys.insert(expected.keys.end(), test.keys.begin(), test.keys.end());
    expected.files.insert(expected.files.end(), test.files.begin(), test.files.end());
    ExpectRemoved(before, after, expected);
    for (const auto& [function, message] : test.reported) {
        EXPECT_TRUE(Traced(function, message)) << function << ": " << message;
    }
}

}  // namespace hostile
