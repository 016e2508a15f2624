// Hostile registry contents around a complete installation: values and names
// at and past the program's buffer sizes, without terminators, empty, of
// another type, shaped as paths that name other places. After "/R" and a
// restart, exactly what the lookups can name is gone; decoys stay.
#include "machine_test.h"

#include <functional>

namespace {

const std::string kNul(1, '\0');
// Sorts before every other video key: a lookup must pass over it, not stop.
const std::string kGuidC = "{00000000-2222-3333-4444-555555555555}";
const std::string kBackup9 = "C:\\Windows\\System32\\ReinstallBackups\\0009\\DriverFiles";

std::string Key(const std::string& parent, const std::string& name) { return parent + "\\" + name; }

void Raw(const std::string& key, const std::string& name, const std::string& bytes, DWORD type = REG_SZ) {
    ASSERT_TRUE(winsim::SetRegistryValue(key, name, type, bytes)) << key << " " << name;
}

void PutFiles(const Lines& paths) {
    for (const std::string& path : paths) {
        ASSERT_TRUE(winsim::MakeDirectories(path.substr(0, path.rfind('\\'))) && winsim::PutFile(path, "x")) << path;
    }
}

// A value's bytes: the text, a terminator, filler without one, n in all.
std::string Filled(const std::string& text, size_t n) { return text + kNul + std::string(n - text.size() - 1, 'z'); }

Lines In(const std::string& folder, const Lines& names) {
    Lines paths;
    for (const std::string& name : names) paths.push_back(folder + "\\" + name);
    return paths;
}

const Lines kOem9 = In(kInfFolder, {"oem9.inf", "oem9.pnf"});
const Lines kBackup9Files = In(kBackup9, {kDll, kSys, kInf, kPnf});

// A display-class sub-key that sorts before the mirror's and names oem9.inf.
std::function<void()> ClassKey(const std::string& name, const std::string& matchingId, DWORD type = REG_SZ) {
    return [=] {
        Raw(Key(kDisplayClassKey, name), "MatchingDeviceId", matchingId, type);
        Raw(Key(kDisplayClassKey, name), "InfPath", "oem9.inf" + kNul);
        PutFiles(kOem9);
    };
}
std::function<void()> InfPath(const std::string& bytes, const Lines& files = {}) {
    return [=] {
        Raw(kMirrorClassKey, "InfPath", bytes);
        PutFiles(files);
    };
}
std::function<void()> VideoKey(const std::string& name, const std::string& service) {
    return [=] {
        Raw(Key(kVideoKey, name) + "\\Video", "Service", service);
        ASSERT_TRUE(winsim::CreateRegistryKey(Key(kVideoKey, name) + "\\0000"));
    };
}
// VideoID, and the profile key it names when that differs from {A}'s.
std::function<void()> VideoId(const std::string& bytes, const std::string& profileKey = "") {
    return [=] {
        Raw(kServiceVideoKey, "VideoID", bytes);
        if (!profileKey.empty()) {
            ASSERT_TRUE(winsim::CreateRegistryKey(Key(kProfileVideoKey, profileKey) + "\\0000"));
        }
    };
}
// A reinstall entry before the mirror's "0003", whose copy is in kBackup9.
std::function<void()> ReinstallEntry(const std::string& name, const std::string& description) {
    return [=] {
        Raw(Key(kReinstallKey, name), "DeviceDesc", description);
        Raw(Key(kReinstallKey, name), "ReinstallString", kBackup9 + "\\" + kInf + kNul);
        PutFiles(kBackup9Files);
    };
}
std::function<void()> ReinstallString(const std::string& bytes) {
    return [=] { Raw(kReinstallKey + "\\0003", "ReinstallString", bytes); };
}
// A device listing these hardware-ID bytes (or none), sorting before the mirror's.
std::function<void()> DeviceListing(const std::optional<std::string>& bytes) {
    return [=] {
        winsim::Device device;
        device.instance_id = "ACPI\\HOSTILE\\0";
        device.hardware_ids = bytes;
        ASSERT_TRUE(winsim::AddDevice(device));
    };
}

using Report = std::pair<std::string, std::string>;  // function, message

struct RemovalCase {
    const char* name;
    std::function<void()> change;
    unsigned keptParts;  // parts of the installation the change makes the lookups miss
    Removal extra;       // what goes besides the rest of the installation
    std::vector<Report> reported;
};

void PrintTo(const RemovalCase& c, std::ostream* os) { *os << c.name; }

const Report kClassEnumEnded = {"QV_GetOEMInfFileName", "Error: RegEnumKeyEx(Err=234)\n"};
Report NotAFileName(const std::string& value) {
    return {"QV_GetOEMInfFileName", " Error: InfPath is not a file name. [" + value + "]\n"};
}
std::vector<Report> NoFolder(const std::string& value) {
    return {{"QV_GetReinstallRegPath", "Error: ReinstallString has no folder. [" + value + "]\n"},
            {"QV_FormatErrorCode", "ErrorCode(13):The data is invalid.\r\n"}};
}
// A sub-key that cannot be opened is passed over.
std::function<void()> Denied(const std::string& key) {
    return [=] { ASSERT_TRUE(winsim::CreateRegistryKey(key) && winsim::DenyRegistryAccess(key, KEY_READ)); };
}
const std::string kName31(31, '0'), kName32(32, '0'), kVideo47(47, 'k'), kVideo48(48, 'l');
const std::string kReinstall207 = "0000" + std::string(203, 'r');  // a key path of 259
const std::string kReinstall208 = kReinstall207 + "r";
const std::string kOtherFolder = "C:\\Windows\\System32\\ReinstallBackups\\0001\\DriverFiles";
const std::string kQs(241, 'q');
const std::string kRelative = "Windows\\System32\\ReinstallBackups\\0001\\DriverFiles\\x.inf";

const RemovalCase kRemovalCases[] = {
    // Display-class sub-keys: the first whose MatchingDeviceId is the ID names the INF copy.
    {"ClassKeyNameOf31IsRead", ClassKey(kName31, kHardwareId + kNul), kOemPart, {{}, kOem9}, {}},
    {"ClassKeyNameOf32EndsTheSearch", ClassKey(kName32, kHardwareId + kNul), kOemPart, {}, {kClassEnumEnded}},
    {"MatchingIdUnterminatedOf260IsPassedOver", ClassKey("0001", kHardwareId + std::string(237, 'z')), 0, {},
     {{"QV_GetOEMInfFileName", "[1] Key=[0001] Error: RegQueryValueEx(Err=234) Value=MatchingDeviceId\n"}}},
    {"MatchingIdTerminatedWithin260Matches", ClassKey("0001", Filled(kHardwareId, 260)), kOemPart, {{}, kOem9}, {}},
    {"InfPathUnterminatedOf260IsNotRead", InfPath(std::string(256, 'q') + ".inf"), kOemPart, {}, {}},
    // C:\Windows\INF\ and a name of 245 would be 260: refused, never cut to the decoy of 244.
    {"InfPathMakingAPathOf260",
     InfPath(std::string(241, 'q') + ".inf" + kNul, {kInfFolder + "\\" + std::string(241, 'q') + ".in"}), kOemPart, {},
     {}},
    // Its .pnf would be 260: the INF copy goes, its name cut at the dot stays, and nothing is written past
    // the path's buffer.
    {"InfPathWhosePnfWouldBe260", InfPath(kQs + ".i" + kNul, In(kInfFolder, {kQs + ".i", kQs})), kOemPart,
     {{}, {kInfFolder + "\\" + kQs + ".i"}}, {}},
    {"EmptyInfPath", InfPath(""), kOemPart, {}, {}},
    {"InfPathWithoutExtension", InfPath("oem7" + kNul), kOemPart, {{}, {kInfFolder + "\\oem7"}}, {}},
    {"InfPathOtherName", InfPath("x.inf" + kNul, In(kInfFolder, {"x.inf", "x.pnf"})), kOemPart,
     {{}, In(kInfFolder, {"x.inf", "x.pnf"})}, {}},
    {"InfPathParentFolders", InfPath("..\\..\\x.inf" + kNul, {"C:\\x.inf"}), kOemPart, {},
     {NotAFileName("..\\..\\x.inf")}},
    {"InfPathDriveRoot", InfPath("C:\\" + kNul), kOemPart, {}, {NotAFileName("C:\\")}},
    {"InfPathWildcard", InfPath("*.inf" + kNul), kOemPart, {}, {}},
    // Video sub-keys: each naming the service goes; a name too long for an entry stays.
    {"VideoKeyNameOf47Goes", VideoKey(kVideo47, "QVMIRROR" + kNul), 0, {{Key(kVideoKey, kVideo47)}}, {}},
    {"VideoKeyNameOf48Stays", VideoKey(kVideo48, "QVMIRROR" + kNul), 0, {},
     {{"QV_GetMirrorGuid", "Error: Key name too long. [" + kVideo48 + "]\n"}}},
    {"ServiceUnterminatedOf260IsPassedOver", VideoKey(kGuidC, "QVMIRROR" + std::string(252, 'z')), 0, {},
     {{"QV_GetMirrorGuid", "Error: RegQueryValueEx(Err=234) Value=Service\n"}}},
    // VideoID names one key below the profile's Video key, which holds every adapter.
    {"VideoIdOf47", VideoId(std::string(47, 'v'), std::string(47, 'v')), kProfilePart,
     {{Key(kProfileVideoKey, std::string(47, 'v'))}}, {}},
    {"VideoIdOf48IsRefused", VideoId(std::string(48, 'w') + kNul, std::string(48, 'w')), kProfilePart, {},
     {{"QV_GetAttachToDesktopPath", "Error: RegQueryValueEx(Err=234) Value=VideoID\n"}}},
    {"VideoIdEmptyIsRefused", VideoId(""), kProfilePart, {},
     {{"QV_GetAttachToDesktopPath", "Error: RegQueryValueEx(Err=13) Value=VideoID\n"}}},
    {"VideoIdOfBackslashesIsRefused", VideoId("\\\\\\" + kNul), kProfilePart, {}, {}},
    // Reinstall entries: the first with the description names the copy's folder.
    {"ReinstallKeyPathOf259", ReinstallEntry(kReinstall207, kDeviceDesc + kNul), kReinstallPart,
     {{Key(kReinstallKey, kReinstall207)}, kBackup9Files}, {}},
    {"ReinstallKeyPathOf260IsRefused", ReinstallEntry(kReinstall208, kDeviceDesc + kNul), kReinstallPart, {},
     {{"QV_GetReinstallRegPath", "Error: Path too long. [" + Key(kReinstallKey, kReinstall208) + "]\n"}}},
    {"DeviceDescUnterminatedOf260IsPassedOver",
     ReinstallEntry("0002", kDeviceDesc + std::string(260 - kDeviceDesc.size(), 'z')), 0, {},
     {{"QV_GetReinstallRegPath", "Error: RegQueryValueEx(Err=234) Value=DeviceDesc\n"}}},
    {"ReinstallStringUnterminatedOf260IsNotRead", ReinstallString("C:\\" + std::string(251, 'd') + "\\x.inf"),
     kReinstallPart, {}, {{"QV_GetReinstallRegPath", "Error: RegQueryValueEx(Err=234) Value=ReinstallString\n"}}},
    {"ReinstallStringOf259LeavesNoFileThatFits", ReinstallString("C:\\" + std::string(250, 'd') + "\\x.inf" + kNul),
     kReinstallPart, {{kReinstallKey + "\\0003"}}, {}},
    {"ReinstallStringUnterminatedIsRead", ReinstallString(kBackup + "\\" + kInf), 0, {}, {}},
    {"ReinstallStringEmpty", ReinstallString(""), kReinstallPart, {}, NoFolder("")},
    {"ReinstallStringLeadingBackslashOnly", ReinstallString("\\x.inf" + kNul), kReinstallPart, {},
     NoFolder("\\x.inf")},
    {"ReinstallStringAtADriveRoot", ReinstallString("C:\\x.inf" + kNul), kReinstallPart,
     {{kReinstallKey + "\\0003"}, In("C:", {kDll, kSys, kInf, kPnf})}, {}},
    {"ReinstallStringOtherFolder", ReinstallString(kOtherFolder + "\\x.inf" + kNul), kReinstallPart,
     {{kReinstallKey + "\\0003"}, In(kOtherFolder, {kDll, kSys, kInf, kPnf})}, {}},
    {"ReinstallStringOnAShare", ReinstallString("\\\\server\\share\\x.inf" + kNul), kReinstallPart,
     {{kReinstallKey + "\\0003"}}, {}},
    {"ReinstallStringOnLowerCaseDrive", ReinstallString("a:\\x\\x.inf" + kNul), kReinstallPart,
     {{kReinstallKey + "\\0003"}}, {}},
    {"ReinstallStringOnDriveOfADigit", ReinstallString("1:\\x\\x.inf" + kNul), kReinstallPart, {},
     NoFolder("1:\\x\\x.inf")},
    {"ReinstallStringRelative", ReinstallString(kRelative + kNul), kReinstallPart, {}, NoFolder(kRelative)},
    {"ReinstallStringDriveRelative", ReinstallString("C:" + kRelative + kNul), kReinstallPart, {}, {}},
    {"ClassKeyThatCannotBeOpened", Denied(kDisplayClassKey + "\\0001"), 0, {},
     {{"QV_GetOEMInfFileName", "[1] Key=[0001] Error: RegOpenKeyEx(Err=5)\n"}}},
    {"VideoKeyThatCannotBeOpened", Denied(Key(kVideoKey, kGuidC) + "\\Video"), 0, {}, {}},
    {"ReinstallEntryThatCannotBeOpened", Denied(kReinstallKey + "\\0002"), 0, {}, {}},
    // Hardware-ID lists are read within their bytes and matched string by string.
    {"DeviceWithoutHardwareIdsIsPassedOver", DeviceListing(std::nullopt), 0, {}, {}},
    {"DeviceListingTheIdAfterOthers", DeviceListing(winsim::MultiString({"PCI\\VEN_1", "ROOT\\X", kHardwareId})), 0,
     {{}, {}, {"ACPI\\HOSTILE\\0"}}, {}},
    {"DeviceListingTheIdWithoutTerminator", DeviceListing("A" + kNul + kHardwareId), 0, {}, {}},
    {"DeviceListingTheIdAfterTheListsEnd", DeviceListing("A" + kNul + kNul + kHardwareId + kNul + kNul), 0, {}, {}},
    {"DeviceWhosePropertyReadNeverFits", DeviceListing(""), kDevicePart, {},
     {{"QV_DisplayError", "GetDeviceRegistryProperty FAILURE: Code=1784 : The supplied user buffer is not valid "
                          "for the requested operation.\r\n\n"}}},
};

class HostileRemovalTest : public MachineTest, public ::testing::WithParamInterface<RemovalCase> {};

TEST_P(HostileRemovalTest, RemovesOnlyWhatTheLookupsName) {
    const RemovalCase& c = GetParam();
    PutInstallation();
    c.change();
    if (HasFatalFailure()) return;
    const Snapshot before = Take();
    winsim::ClearDebugOutput();
    EXPECT_EQ(RunProgram({"/R"}), 0);
    winsim::Restart();
    Removal expected = Expected(c.keptParts);
    auto add = [](Lines& to, const Lines& from) { to.insert(to.end(), from.begin(), from.end()); };
    add(expected.keys, c.extra.keys);
    add(expected.files, c.extra.files);
    add(expected.devices, c.extra.devices);
    EXPECT_EQ(Unexpected(before, Take(), expected), Lines{});
    for (const auto& [function, message] : c.reported) EXPECT_TRUE(Traced(function, message)) << message;
}

INSTANTIATE_TEST_SUITE_P(Table, HostileRemovalTest, ::testing::ValuesIn(kRemovalCases),
                         [](const auto& info) { return std::string(info.param.name); });

// "/A" clears the read-only attribute of the INF copy that the first
// matching display-class sub-key names: only ever a file in the INF folder.
class HostileInstallTest : public MachineTest, public ::testing::WithParamInterface<std::pair<const char*, bool>> {};

TEST_P(HostileInstallTest, ClearsReadOnlyOnlyInTheInfFolder) {
    const Lines readOnly = {"C:\\x.inf", "C:\\Windows\\x.inf", kInfFolder + "\\x.inf", kPackage + "\\x.inf"};
    PutPackage();
    for (const std::string& file : readOnly) ASSERT_TRUE(winsim::PutFile(file, "x", FILE_ATTRIBUTE_READONLY));
    Raw(kDisplayClassKey + "\\0000", "MatchingDeviceId", kHardwareId + kNul);
    Raw(kDisplayClassKey + "\\0000", "InfPath", std::string(GetParam().first) + kNul);
    EXPECT_EQ(RunProgram({"/A", "/S:" + kPackage}), 0);
    for (const std::string& file : readOnly) {
        const bool cleared = GetParam().second && file == kInfFolder + "\\x.inf";
        EXPECT_EQ(GetFileAttributesA(file.c_str()) == FILE_ATTRIBUTE_READONLY, !cleared) << file;
    }
}

INSTANTIATE_TEST_SUITE_P(InfPaths, HostileInstallTest,
                         ::testing::Values(std::pair{"x.inf", true}, std::pair{"..\\x.inf", false},
                                           std::pair{"C:\\x.inf", false}, std::pair{"..\\..\\Drv\\x.inf", false},
                                           std::pair{"C:x.inf", false}));

}  // namespace
