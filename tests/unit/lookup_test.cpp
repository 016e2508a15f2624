// Registry lookups of the removal: the system's INF copy, the mirror's video
// sub-keys, the hardware-profile video path and the reinstall entry, against
// registry contents as Windows leaves them and as a damaged registry may.
#include "common.h"
#include "trace_harness.h"
#include "uninstall.h"
#include "winsim_test.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

const std::string kClassKey =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E968-E325-11CE-BFC1-08002BE10318}";
const std::string kVideoKey = "SYSTEM\\CurrentControlSet\\Control\\Video";
const std::string kServiceVideoKey = "SYSTEM\\CurrentControlSet\\Services\\QVMIRROR\\VIDEO";
const std::string kProfileVideoKey =
    "SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current\\System\\CurrentControlSet\\Control\\Video";
const std::string kReinstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Reinstall";

const std::string kHardwareId = "Orvenik_Tallomer_Mirror";
const std::string kDeviceDesc = "Orvenik Tallomer graphics driver";
const std::string kOemInf = "C:\\Windows\\INF\\oem7.inf";
const std::string kBackupInf = "C:\\Windows\\System32\\ReinstallBackups\\0003\\DriverFiles\\QVMIRx64.INF";
const std::string kBackupDir = "C:\\Windows\\System32\\ReinstallBackups\\0003\\DriverFiles";

const std::string kGuidA = "{0D3A4F61-7A4E-4C5A-9A51-2B6B0C1E0001}";
const std::string kGuidB = "{5B2C8E10-1F3D-4E2A-8C77-3D9E4A2F0002}";
const std::string kGuidC = "{9E7F1A22-6C4B-4D3E-B1A8-5E0F6B3C0003}";

constexpr char kStale[] = "stale result";
constexpr char kFill = '#';

Lines Cat(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// The record QV_FormatErrorCode writes, with the system's text.
std::string Report(DWORD code) {
    static const std::map<DWORD, std::string> kText = {
        {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
        {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
        {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command.\r\n"},
        {ERROR_INVALID_DATA, "The data is invalid.\r\n"},
        {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long.\r\n"},
        {ERROR_MORE_DATA, "More data is available.\r\n"},
        {ERROR_NO_MORE_ITEMS, "No more data is available.\r\n"},
    };
    return "QV_FormatErrorCode: ErrorCode(" + std::to_string(code) + "):" + kText.at(code);
}

// Addresses are traced as their low 32 bits in hexadecimal.
std::string Hex(const void* address) {
    char text[16];
    snprintf(text, sizeof(text), "0x%x",
             static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(address) & 0xFFFFFFFFu));
    return text;
}

// A string value's bytes without a terminator.
void SetUnterminated(const std::string& key, const std::string& name, const std::string& text) {
    ASSERT_TRUE(winsim::SetRegistryValue(key, name, REG_SZ, text));
}

void SetString(const std::string& key, const std::string& name, const std::string& text) {
    ASSERT_TRUE(winsim::SetRegistryString(key, name, text));
}

std::string ClassSubKey(const std::string& name) { return kClassKey + "\\" + name; }
std::string VideoSubKey(const std::string& guid) { return kVideoKey + "\\" + guid + "\\Video"; }
std::string ReinstallSubKey(const std::string& name) { return kReinstallKey + "\\" + name; }

void DisplayDriver(const std::string& subKey, const std::string& matchingId, const std::string& infPath) {
    SetString(ClassSubKey(subKey), "MatchingDeviceId", matchingId);
    SetString(ClassSubKey(subKey), "InfPath", infPath);
}

void ReinstallEntry(const std::string& subKey, const std::string& deviceDesc, const std::string& reinstallString) {
    SetString(ReinstallSubKey(subKey), "DeviceDesc", deviceDesc);
    SetString(ReinstallSubKey(subKey), "ReinstallString", reinstallString);
}

// A MAX_PATH result buffer holding earlier text, with a marker behind it.
struct ResultBuffer {
    char text[MAX_PATH + 16];
    DWORD size = MAX_PATH;
    ResultBuffer() {
        memset(text, kFill, sizeof(text));
        memcpy(text, kStale, sizeof(kStale));
    }
    std::string Value() const { return std::string(text, strnlen(text, sizeof(text))); }
    // Nothing written at or after the given offset (which lies past the earlier text).
    bool UntouchedFrom(size_t offset) const {
        for (size_t i = offset; i < sizeof(text); ++i) {
            if (text[i] != kFill) {
                return false;
            }
        }
        return true;
    }
};

// Takes every entry off the list, frees it and returns the names in order.
std::vector<std::string> TakeAll(QV_GUID_ENTRY** ppHead) {
    std::vector<std::string> names;
    // Bounded, so that a list run into a loop fails instead of hanging.
    while (names.size() < 64) {
        QV_GUID_ENTRY* pEntry = QV_RemoveHead(ppHead);
        if (pEntry == nullptr) {
            break;
        }
        names.emplace_back(pEntry->szGuid, strnlen(pEntry->szGuid, sizeof(pEntry->szGuid)));
        EXPECT_EQ(LocalFree(pEntry), nullptr);
    }
    return names;
}

QV_GUID_ENTRY* NewEntry(const std::string& guid) {
    auto* pEntry = static_cast<QV_GUID_ENTRY*>(LocalAlloc(LPTR, sizeof(QV_GUID_ENTRY)));
    if (pEntry != nullptr) {
        snprintf(pEntry->szGuid, sizeof(pEntry->szGuid), "%s", guid.c_str());
    }
    return pEntry;
}

const char kOemEntry[] = "QV_GetOEMInfFileName:  --> QV_GetOEMInfFileName()\n";
const char kReinstallEntry[] = "QV_GetReinstallRegPath:  --> QV_GetReinstallRegPath()\n";

std::string AttachEntry(const ResultBuffer& buffer) {
    return "QV_GetAttachToDesktopPath:  --> QV_GetAttachToDesktopPath( " + Hex(buffer.text) + ", " +
           Hex(&buffer.size) + " )\n";
}

std::string MirrorGuidEntry(QV_GUID_ENTRY** ppHead) {
    return "QV_GetMirrorGuid:  --> QV_GetMirrorGuid( " + Hex(ppHead) + " )\n";
}

std::string OemLine(const std::string& message) { return "QV_GetOEMInfFileName: " + message + "\n"; }
std::string GuidLine(const std::string& message) { return "QV_GetMirrorGuid: " + message + "\n"; }
std::string AttachLine(const std::string& message) { return "QV_GetAttachToDesktopPath: " + message + "\n"; }
std::string ReinstallLine(const std::string& message) { return "QV_GetReinstallRegPath: " + message + "\n"; }

std::string OemMatchLine(int index, const std::string& subKey, const std::string& id) {
    return OemLine("[" + std::to_string(index) + "] Key=[" + subKey + "] MatchingDeviceId=[" + id + "]");
}

// The lines after a match whose InfPath names the file.
Lines OemFound(const std::string& infName) {
    const std::string path = "C:\\Windows\\INF\\" + infName;
    return {OemLine("InfFileName=[" + infName + "]"), OemLine("InfFileName=[" + path + "]"),
            OemLine(" <-- QV_GetOEMInfFileName( " + path + " )")};
}

Lines OemNotFound(DWORD code) {
    return {OemLine(" <-- QV_GetOEMInfFileName( NOT FOUND ) Ret=" + std::to_string(code)), Report(code)};
}

std::string GuidServiceLine(int index, const std::string& guid, const std::string& service) {
    return GuidLine("[" + std::to_string(index) + "] Key=" + guid + "\\Video, ServiceName=[" + service + "]");
}

std::string ReinstallDescLine(int index, const std::string& subKey, const std::string& desc) {
    return ReinstallLine("[" + std::to_string(index) + "] Key=" + subKey + ", DeviceDesc=[" + desc + "]");
}

// ---------------------------------------------------------------------------
// Nothing of the mirror in the registry

class NothingInstalledLookupTest : public WinsimTest {};

TEST_F(NothingInstalledLookupTest, AttachToDesktopPathIsFileNotFound) {
    ResultBuffer path;
    EXPECT_EQ(QV_GetAttachToDesktopPath(path.text, &path.size), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(path.Value(), "");
    EXPECT_EQ(path.size, static_cast<DWORD>(MAX_PATH));
    EXPECT_EQ(Trace(), (Lines{AttachEntry(path), AttachLine("Error: RegOpenKeyEx(Err=2) [" + kServiceVideoKey + "]"),
                              Report(ERROR_FILE_NOT_FOUND),
                              AttachLine(" <-- QV_GetAttachToDesktopPath( NOT FOUND )")}));
}

TEST_F(NothingInstalledLookupTest, OemInfFileNameIsNoMoreItems) {
    ResultBuffer inf;
    EXPECT_EQ(QV_GetOEMInfFileName(inf.text, &inf.size), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(inf.Value(), "");
    EXPECT_EQ(inf.size, static_cast<DWORD>(MAX_PATH));
    EXPECT_EQ(Trace(), Cat({{kOemEntry}, OemNotFound(ERROR_NO_MORE_ITEMS)}));
}

TEST_F(NothingInstalledLookupTest, MirrorGuidSucceedsWithAnEmptyList) {
    ASSERT_TRUE(winsim::CreateRegistryKey(kVideoKey));
    QV_GUID_ENTRY* head = nullptr;
    EXPECT_EQ(QV_GetMirrorGuid(&head), 0u);
    EXPECT_EQ(head, nullptr);
    EXPECT_EQ(Trace(), (Lines{MirrorGuidEntry(&head), GuidLine(" <-- QV_GetMirrorGuid( NOT FOUND )")}));
}

TEST_F(NothingInstalledLookupTest, MirrorGuidWithoutVideoKeyReportsTheOpenFailure) {
    QV_GUID_ENTRY* head = nullptr;
    EXPECT_EQ(QV_GetMirrorGuid(&head), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(head, nullptr);
    EXPECT_EQ(Trace(), (Lines{MirrorGuidEntry(&head), GuidLine("Error: RegOpenKeyEx(Err=2) [" + kVideoKey + "]"),
                              Report(ERROR_FILE_NOT_FOUND)}));
}

TEST_F(NothingInstalledLookupTest, ReinstallWithoutReinstallKeyIsFileNotFound) {
    ResultBuffer regPath;
    ResultBuffer directory;
    EXPECT_EQ(QV_GetReinstallRegPath(regPath.text, &regPath.size, directory.text, &directory.size),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(regPath.Value(), "");
    EXPECT_EQ(directory.Value(), "");
    EXPECT_EQ(Trace(), (Lines{kReinstallEntry, ReinstallLine("Error: RegOpenKeyEx(Err=2) [" + kReinstallKey + "]"),
                              Report(ERROR_FILE_NOT_FOUND)}));
}

TEST_F(NothingInstalledLookupTest, ReinstallWithoutMatchIsNoMoreItemsAndNotReported) {
    ReinstallEntry("0000", "Microsoft Basic Display Driver", "C:\\Windows\\System32\\x\\basic.inf");
    ResultBuffer regPath;
    ResultBuffer directory;
    EXPECT_EQ(QV_GetReinstallRegPath(regPath.text, &regPath.size, directory.text, &directory.size),
              static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(regPath.Value(), "");
    EXPECT_EQ(directory.Value(), "");
    EXPECT_EQ(Trace(), (Lines{kReinstallEntry, ReinstallDescLine(0, "0000", "Microsoft Basic Display Driver"),
                              ReinstallLine(" <-- QV_GetReinstallRegPath( NOT FOUND )")}));
}

// ---------------------------------------------------------------------------
// QV_GetOEMInfFileName: the display class sub-keys

struct OemInfCase {
    const char* name;
    std::function<void()> setup;
    DWORD result;
    std::string path;
    Lines trace;  // after the entry line
};

void PrintTo(const OemInfCase& param, std::ostream* os) { *os << param.name; }

class OemInfLookupTest : public WinsimTest, public ::testing::WithParamInterface<OemInfCase> {};

TEST_P(OemInfLookupTest, FindsTheFirstMatchOnly) {
    const OemInfCase& test = GetParam();
    test.setup();
    ResultBuffer inf;
    EXPECT_EQ(QV_GetOEMInfFileName(inf.text, &inf.size), test.result);
    EXPECT_EQ(inf.Value(), test.path);
    EXPECT_EQ(inf.size, static_cast<DWORD>(MAX_PATH));
    EXPECT_EQ(Trace(), Cat({{kOemEntry}, test.trace}));
}

const std::string kName31(31, '0');
const std::string kName32(32, '0');
const std::string kInfName244 = std::string(240, 'q') + ".inf";  // makes a path of 259
const std::string kInfName245 = std::string(241, 'q') + ".inf";

INSTANTIATE_TEST_SUITE_P(
    Lookup, OemInfLookupTest,
    ::testing::Values(
        OemInfCase{"IdInOtherCaseMatches",
                   [] { DisplayDriver("0000", "orvenik_TALLOMER_mirror", "oem7.inf"); },
                   0, kOemInf,
                   Cat({{OemMatchLine(0, "0000", "orvenik_TALLOMER_mirror")}, OemFound("oem7.inf")})},
        OemInfCase{"IdThatOnlyBeginsWithTheIdDoesNotMatch",
                   [] {
                       DisplayDriver("0000", kHardwareId + "_Old", "oem3.inf");
                       DisplayDriver("0001", "PCI\\VEN_8086&DEV_1234", "oem4.inf");
                   },
                   ERROR_NO_MORE_ITEMS, "",
                   Cat({{OemMatchLine(0, "0000", kHardwareId + "_Old"),
                         OemMatchLine(1, "0001", "PCI\\VEN_8086&DEV_1234")},
                        OemNotFound(ERROR_NO_MORE_ITEMS)})},
        OemInfCase{"MatchBehindOtherDrivers",
                   [] {
                       DisplayDriver("0000", "PCI\\VEN_8086&DEV_1234", "oem4.inf");
                       DisplayDriver("0001", kHardwareId, "oem7.inf");
                   },
                   0, kOemInf,
                   Cat({{OemMatchLine(0, "0000", "PCI\\VEN_8086&DEV_1234"), OemMatchLine(1, "0001", kHardwareId)},
                        OemFound("oem7.inf")})},
        OemInfCase{"OnlyTheFirstMatchCounts",
                   [] {
                       DisplayDriver("0000", kHardwareId, "oem7.inf");
                       DisplayDriver("0001", kHardwareId, "oem9.inf");
                   },
                   0, kOemInf, Cat({{OemMatchLine(0, "0000", kHardwareId)}, OemFound("oem7.inf")})},
        OemInfCase{"FirstMatchWithoutInfPathEndsTheSearch",
                   [] {
                       SetString(ClassSubKey("0000"), "MatchingDeviceId", kHardwareId);
                       DisplayDriver("0001", kHardwareId, "oem9.inf");
                   },
                   ERROR_FILE_NOT_FOUND, "",
                   Cat({{OemMatchLine(0, "0000", kHardwareId),
                         OemLine(" Error: RegQueryValueEx(Err=2) Value=InfPath"), Report(ERROR_FILE_NOT_FOUND)},
                        OemNotFound(ERROR_FILE_NOT_FOUND)})},
        OemInfCase{"SubKeyNameOf32EndsTheEnumeration",
                   [] {
                       DisplayDriver(kName32, "PCI\\VEN_8086&DEV_1234", "oem4.inf");
                       DisplayDriver("0001", kHardwareId, "oem7.inf");
                   },
                   ERROR_MORE_DATA, "",
                   {OemLine("Error: RegEnumKeyEx(Err=234)"), Report(ERROR_MORE_DATA)}},
        OemInfCase{"SubKeyNameOf31IsRead",
                   [] { DisplayDriver(kName31, kHardwareId, "oem7.inf"); },
                   0, kOemInf, Cat({{OemMatchLine(0, kName31, kHardwareId)}, OemFound("oem7.inf")})},
        OemInfCase{"DeniedSubKeyIsPassedOver",
                   [] {
                       DisplayDriver("0000", kHardwareId, "oem1.inf");
                       ASSERT_TRUE(winsim::DenyRegistryAccess(ClassSubKey("0000"), KEY_READ));
                       DisplayDriver("0001", kHardwareId, "oem7.inf");
                   },
                   0, kOemInf,
                   Cat({{OemLine("[0] Key=[0000] Error: RegOpenKeyEx(Err=5)"), Report(ERROR_ACCESS_DENIED),
                         OemMatchLine(1, "0001", kHardwareId)},
                        OemFound("oem7.inf")})},
        OemInfCase{"SubKeyWithoutMatchingDeviceIdIsPassedOver",
                   [] {
                       ASSERT_TRUE(winsim::CreateRegistryKey(ClassSubKey("0000")));
                       DisplayDriver("0001", kHardwareId, "oem7.inf");
                   },
                   0, kOemInf,
                   Cat({{OemLine("[0] Key=[0000] Error: RegQueryValueEx(Err=2) Value=MatchingDeviceId"),
                         Report(ERROR_FILE_NOT_FOUND), OemMatchLine(1, "0001", kHardwareId)},
                        OemFound("oem7.inf")})},
        OemInfCase{"MatchingDeviceIdFillingTheBufferIsPassedOver",
                   [] {
                       // 260 bytes without terminator: reading it as a string would run past the buffer.
                       SetUnterminated(ClassSubKey("0000"), "MatchingDeviceId", kHardwareId + std::string(237, 'z'));
                       SetString(ClassSubKey("0000"), "InfPath", "oem1.inf");
                       DisplayDriver("0001", kHardwareId, "oem7.inf");
                   },
                   0, kOemInf,
                   Cat({{OemLine("[0] Key=[0000] Error: RegQueryValueEx(Err=234) Value=MatchingDeviceId"),
                         Report(ERROR_MORE_DATA), OemMatchLine(1, "0001", kHardwareId)},
                        OemFound("oem7.inf")})},
        OemInfCase{"UnterminatedValuesShorterThanTheBufferAreRead",
                   [] {
                       SetUnterminated(ClassSubKey("0000"), "MatchingDeviceId", kHardwareId);
                       SetUnterminated(ClassSubKey("0000"), "InfPath", "oem7.inf");
                   },
                   0, kOemInf, Cat({{OemMatchLine(0, "0000", kHardwareId)}, OemFound("oem7.inf")})},
        OemInfCase{"InfPathFillingTheBufferIsNotFound",
                   [] {
                       SetString(ClassSubKey("0000"), "MatchingDeviceId", kHardwareId);
                       SetUnterminated(ClassSubKey("0000"), "InfPath", std::string(256, 'q') + ".inf");
                   },
                   ERROR_MORE_DATA, "",
                   Cat({{OemMatchLine(0, "0000", kHardwareId),
                         OemLine(" Error: RegQueryValueEx(Err=234) Value=InfPath"), Report(ERROR_MORE_DATA)},
                        OemNotFound(ERROR_MORE_DATA)})},
        OemInfCase{"InfNameMakingAPathOf259Fits",
                   [] { DisplayDriver("0000", kHardwareId, kInfName244); },
                   0, "C:\\Windows\\INF\\" + kInfName244,
                   Cat({{OemMatchLine(0, "0000", kHardwareId)}, OemFound(kInfName244)})},
        OemInfCase{"InfNameMakingAPathOf260IsRefused",
                   [] { DisplayDriver("0000", kHardwareId, kInfName245); },
                   ERROR_FILENAME_EXCED_RANGE, "",
                   {OemMatchLine(0, "0000", kHardwareId), OemLine("InfFileName=[" + kInfName245 + "]"),
                    OemLine("Error: Path too long. [C:\\Windows\\INF\\" + kInfName245 + "]"),
                    Report(ERROR_FILENAME_EXCED_RANGE)}},
        OemInfCase{"DeniedClassKeyIsReported",
                   [] {
                       DisplayDriver("0000", kHardwareId, "oem7.inf");
                       ASSERT_TRUE(winsim::DenyRegistryAccess(kClassKey, KEY_READ));
                   },
                   ERROR_ACCESS_DENIED, "",
                   {OemLine("Error: RegOpenKeyEx(Err=5) [" + kClassKey + "]"), Report(ERROR_ACCESS_DENIED)}},
        OemInfCase{"WithoutWindowsFolderNothingIsFound",
                   [] {
                       DisplayDriver("0000", kHardwareId, "oem7.inf");
                       winsim::FailEveryCall("GetWindowsDirectoryA", ERROR_NOT_ENOUGH_MEMORY);
                   },
                   ERROR_NOT_ENOUGH_MEMORY, "",
                   {OemMatchLine(0, "0000", kHardwareId), OemLine("InfFileName=[oem7.inf]"),
                    OemLine("Error: GetWindowsDirectory(Err=8)"), Report(ERROR_NOT_ENOUGH_MEMORY)}}),
    [](const ::testing::TestParamInfo<OemInfCase>& info) { return std::string(info.param.name); });

// An InfPath must name a file in the INF folder, nothing else.
struct InfNameCase {
    const char* name;
    std::string infPath;
};

void PrintTo(const InfNameCase& param, std::ostream* os) { *os << param.name; }

class OemInfNameLookupTest : public WinsimTest, public ::testing::WithParamInterface<InfNameCase> {};

TEST_P(OemInfNameLookupTest, IsNotFoundWithInvalidData) {
    const InfNameCase& test = GetParam();
    DisplayDriver("0000", kHardwareId, test.infPath);
    DisplayDriver("0001", kHardwareId, "oem7.inf");
    ResultBuffer inf;
    EXPECT_EQ(QV_GetOEMInfFileName(inf.text, &inf.size), static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_EQ(inf.Value(), "");
    EXPECT_EQ(Trace(), Cat({{kOemEntry, OemMatchLine(0, "0000", kHardwareId),
                             OemLine(" Error: InfPath is not a file name. [" + test.infPath + "]")},
                            OemNotFound(ERROR_INVALID_DATA)}));
}

INSTANTIATE_TEST_SUITE_P(Lookup, OemInfNameLookupTest,
                         ::testing::Values(InfNameCase{"Empty", ""}, InfNameCase{"ParentFolder", "..\\x.inf"},
                                           InfNameCase{"FullPath", "C:\\x.inf"},
                                           InfNameCase{"DriveRelative", "C:x.inf"},
                                           InfNameCase{"SubFolder", "sub\\x.inf"},
                                           InfNameCase{"ForwardSlash", "a/b.inf"},
                                           InfNameCase{"RootRelative", "\\x.inf"}, InfNameCase{"DotDot", ".."},
                                           InfNameCase{"Dot", "."}),
                         [](const ::testing::TestParamInfo<InfNameCase>& info) {
                             return std::string(info.param.name);
                         });

// ---------------------------------------------------------------------------
// QV_GetMirrorGuid: the video key's sub-keys

struct MirrorGuidCase {
    const char* name;
    std::function<void()> setup;
    std::vector<std::string> guids;
    Lines trace;  // after the entry line
};

void PrintTo(const MirrorGuidCase& param, std::ostream* os) { *os << param.name; }

class MirrorGuidLookupTest : public WinsimTest, public ::testing::WithParamInterface<MirrorGuidCase> {};

TEST_P(MirrorGuidLookupTest, ListsTheMirrorsSubKeysInOrder) {
    const MirrorGuidCase& test = GetParam();
    ASSERT_TRUE(winsim::CreateRegistryKey(kVideoKey));
    test.setup();
    QV_GUID_ENTRY* head = nullptr;
    EXPECT_EQ(QV_GetMirrorGuid(&head), 0u);
    EXPECT_EQ(TakeAll(&head), test.guids);
    EXPECT_EQ(Trace(), Cat({{MirrorGuidEntry(&head)}, test.trace}));
}

const std::string kName47(47, 'k');
const std::string kName48(48, 'l');
const std::string kFound = GuidLine(" <-- QV_GetMirrorGuid( FOUND )");
const std::string kNotFound = GuidLine(" <-- QV_GetMirrorGuid( NOT FOUND )");

INSTANTIATE_TEST_SUITE_P(
    Lookup, MirrorGuidLookupTest,
    ::testing::Values(
        MirrorGuidCase{"ServiceInEitherCase",
                       [] {
                           SetString(VideoSubKey(kGuidA), "Service", "QVMIRROR");
                           SetString(VideoSubKey(kGuidB), "Service", "BasicDisplay");
                           SetString(VideoSubKey(kGuidC), "Service", "qvmirror");
                       },
                       {kGuidA, kGuidC},
                       {GuidServiceLine(0, kGuidA, "QVMIRROR"), GuidServiceLine(1, kGuidB, "BasicDisplay"),
                        GuidServiceLine(2, kGuidC, "qvmirror"), kFound}},
        MirrorGuidCase{"OtherServicesOnly",
                       [] {
                           SetString(VideoSubKey(kGuidA), "Service", "QVMIRROR2");
                           SetString(VideoSubKey(kGuidB), "Service", "BasicDisplay");
                       },
                       {},
                       {GuidServiceLine(0, kGuidA, "QVMIRROR2"), GuidServiceLine(1, kGuidB, "BasicDisplay"),
                        kNotFound}},
        MirrorGuidCase{"UnreadableSubKeysArePassedOver",
                       [] {
                           ASSERT_TRUE(winsim::CreateRegistryKey(kVideoKey + "\\" + kGuidA + "\\0000"));
                           ASSERT_TRUE(winsim::CreateRegistryKey(VideoSubKey(kGuidB)));
                           SetString(VideoSubKey(kGuidC), "Service", "QVMIRROR");
                       },
                       {kGuidC},
                       {GuidLine("Error: RegOpenKeyEx(Err=2) [" + kGuidA + "\\Video]"), Report(ERROR_FILE_NOT_FOUND),
                        GuidLine("Error: RegQueryValueEx(Err=2) Value=Service"), Report(ERROR_FILE_NOT_FOUND),
                        GuidServiceLine(2, kGuidC, "QVMIRROR"), kFound}},
        MirrorGuidCase{"DeniedVideoKeyIsPassedOver",
                       [] {
                           SetString(VideoSubKey(kGuidA), "Service", "QVMIRROR");
                           ASSERT_TRUE(winsim::DenyRegistryAccess(VideoSubKey(kGuidA), KEY_READ));
                           SetString(VideoSubKey(kGuidB), "Service", "QVMIRROR");
                       },
                       {kGuidB},
                       {GuidLine("Error: RegOpenKeyEx(Err=5) [" + kGuidA + "\\Video]"), Report(ERROR_ACCESS_DENIED),
                        GuidServiceLine(1, kGuidB, "QVMIRROR"), kFound}},
        MirrorGuidCase{"NameOf47IsKeptAndNameOf48PassedOver",
                       [] {
                           SetString(VideoSubKey(kName47), "Service", "QVMIRROR");
                           SetString(VideoSubKey(kName48), "Service", "QVMIRROR");
                       },
                       {kName47},
                       {GuidServiceLine(0, kName47, "QVMIRROR"),
                        GuidLine("Error: Key name too long. [" + kName48 + "]"), kFound}},
        MirrorGuidCase{"UnterminatedServiceIsRead",
                       [] { SetUnterminated(VideoSubKey(kGuidA), "Service", "QVMIRROR"); },
                       {kGuidA},
                       {GuidServiceLine(0, kGuidA, "QVMIRROR"), kFound}},
        MirrorGuidCase{"ServiceFillingTheBufferIsPassedOver",
                       [] {
                           SetUnterminated(VideoSubKey(kGuidA), "Service", "QVMIRROR" + std::string(252, 'z'));
                           SetString(VideoSubKey(kGuidB), "Service", "QVMIRROR");
                       },
                       {kGuidB},
                       {GuidLine("Error: RegQueryValueEx(Err=234) Value=Service"), Report(ERROR_MORE_DATA),
                        GuidServiceLine(1, kGuidB, "QVMIRROR"), kFound}}),
    [](const ::testing::TestParamInfo<MirrorGuidCase>& info) { return std::string(info.param.name); });

class MirrorGuidListLookupTest : public WinsimTest {
protected:
    void SetUp() override {
        WinsimTest::SetUp();
        SetString(VideoSubKey(kGuidA), "Service", "QVMIRROR");
        SetString(VideoSubKey(kGuidB), "Service", "QVMIRROR");
    }
};

TEST_F(MirrorGuidListLookupTest, AppendsToTheCallersList) {
    QV_GUID_ENTRY* head = NewEntry("{earlier}");
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(QV_GetMirrorGuid(&head), 0u);
    EXPECT_EQ(TakeAll(&head), (std::vector<std::string>{"{earlier}", kGuidA, kGuidB}));
}

TEST_F(MirrorGuidListLookupTest, FailedAllocationSkipsThatEntry) {
    winsim::FailNthCall("LocalAlloc", 1, ERROR_NOT_ENOUGH_MEMORY);
    QV_GUID_ENTRY* head = nullptr;
    EXPECT_EQ(QV_GetMirrorGuid(&head), 0u);
    EXPECT_EQ(TakeAll(&head), (std::vector<std::string>{kGuidB}));
    EXPECT_EQ(Trace(), (Lines{MirrorGuidEntry(&head), GuidServiceLine(0, kGuidA, "QVMIRROR"),
                              GuidLine("Error: LocalAlloc(Err=8)"), Report(ERROR_NOT_ENOUGH_MEMORY),
                              GuidServiceLine(1, kGuidB, "QVMIRROR"), kFound}));
}

TEST_F(MirrorGuidListLookupTest, EnumerationFailureIsReturned) {
    winsim::FailNthCall("RegEnumKeyExA", 2, ERROR_ACCESS_DENIED);
    QV_GUID_ENTRY* head = nullptr;
    EXPECT_EQ(QV_GetMirrorGuid(&head), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    TakeAll(&head);  // whatever was listed stays the caller's to free
    EXPECT_EQ(Trace(), (Lines{MirrorGuidEntry(&head), GuidServiceLine(0, kGuidA, "QVMIRROR"),
                              GuidLine("Error: RegEnumKeyEx(Err=5)"), Report(ERROR_ACCESS_DENIED)}));
}

class GuidListLookupTest : public WinsimTest {};

TEST_F(GuidListLookupTest, EmptyListGivesNoEntry) {
    QV_GUID_ENTRY* head = nullptr;
    EXPECT_EQ(QV_RemoveHead(&head), nullptr);
    EXPECT_EQ(head, nullptr);
}

TEST_F(GuidListLookupTest, EntriesComeOffInTheOrderTheyWereAdded) {
    QV_GUID_ENTRY* head = nullptr;
    QV_GUID_ENTRY* first = NewEntry("first");
    QV_GUID_ENTRY* second = NewEntry("second");
    QV_GUID_ENTRY* third = NewEntry("third");
    ASSERT_TRUE(first != nullptr && second != nullptr && third != nullptr);
    QV_AddTail(&head, first);
    QV_AddTail(&head, second);
    EXPECT_EQ(head, first);
    EXPECT_EQ(first->pNext, second);
    EXPECT_EQ(second->pNext, nullptr);

    // The entry taken off no longer leads into the list.
    ASSERT_EQ(QV_RemoveHead(&head), first);
    ASSERT_EQ(first->pNext, nullptr);
    ASSERT_EQ(head, second);

    QV_AddTail(&head, third);
    QV_AddTail(&head, first);
    EXPECT_EQ(TakeAll(&head), (std::vector<std::string>{"second", "third", "first"}));
    EXPECT_EQ(head, nullptr);
}

// ---------------------------------------------------------------------------
// QV_GetAttachToDesktopPath: the service's VideoID

struct VideoIdCase {
    const char* name;
    std::optional<std::string> bytes;  // the value as stored; none: no value
    DWORD result;
    std::string videoId;  // as read
};

void PrintTo(const VideoIdCase& param, std::ostream* os) { *os << param.name; }

class AttachToDesktopLookupTest : public WinsimTest, public ::testing::WithParamInterface<VideoIdCase> {};

TEST_P(AttachToDesktopLookupTest, ComposesTheProfilePathOrRefuses) {
    const VideoIdCase& test = GetParam();
    ASSERT_TRUE(winsim::CreateRegistryKey(kServiceVideoKey));
    if (test.bytes) {
        ASSERT_TRUE(winsim::SetRegistryValue(kServiceVideoKey, "VideoID", REG_SZ, *test.bytes));
    }
    ResultBuffer path;
    EXPECT_EQ(QV_GetAttachToDesktopPath(path.text, &path.size), test.result);
    EXPECT_EQ(path.size, static_cast<DWORD>(MAX_PATH));

    const std::string code = std::to_string(test.result);
    Lines expected{AttachEntry(path), AttachLine("QVMIRROR VideoID = " + test.videoId + ", Err=" + code)};
    if (test.result == 0) {
        const std::string full = kProfileVideoKey + "\\" + test.videoId;
        EXPECT_EQ(path.Value(), full);
        expected.push_back(AttachLine("Attach.ToDesktop RegPath=" + full));
        expected.push_back(AttachLine(" <-- QV_GetAttachToDesktopPath(" + full + ")"));
    } else {
        EXPECT_EQ(path.Value(), "");
        expected.push_back(AttachLine("Error: RegQueryValueEx(Err=" + code + ") Value=VideoID"));
        expected.push_back(Report(test.result));
    }
    EXPECT_EQ(Trace(), expected);
}

const std::string kName47VideoId(47, 'v');

INSTANTIATE_TEST_SUITE_P(
    Lookup, AttachToDesktopLookupTest,
    ::testing::Values(
        VideoIdCase{"Guid", kGuidA + std::string(1, '\0'), 0, kGuidA},
        VideoIdCase{"UnterminatedGuid", kGuidA, 0, kGuidA},
        VideoIdCase{"UnterminatedOf47", kName47VideoId, 0, kName47VideoId},
        VideoIdCase{"Of47WithTerminator", kName47VideoId + std::string(1, '\0'), 0, kName47VideoId},
        // Never the bare profile video key, which holds every adapter.
        VideoIdCase{"EmptyWithTerminator", std::string(1, '\0'), ERROR_INVALID_DATA, ""},
        VideoIdCase{"EmptyWithoutBytes", std::string(), ERROR_INVALID_DATA, ""},
        VideoIdCase{"UnterminatedOf48FillsTheBuffer", std::string(48, 'v'), ERROR_MORE_DATA, ""},
        VideoIdCase{"Of48WithTerminator", std::string(48, 'v') + std::string(1, '\0'), ERROR_MORE_DATA, ""},
        VideoIdCase{"Of200", std::string(200, 'v') + std::string(1, '\0'), ERROR_MORE_DATA, ""},
        VideoIdCase{"Missing", std::nullopt, ERROR_FILE_NOT_FOUND, ""}),
    [](const ::testing::TestParamInfo<VideoIdCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// QV_GetReinstallRegPath: the reinstall entries

struct ReinstallCase {
    const char* name;
    std::function<void()> setup;
    DWORD result;
    std::string regPath;
    std::string directory;
    Lines trace;  // after the entry line
};

void PrintTo(const ReinstallCase& param, std::ostream* os) { *os << param.name; }

class ReinstallLookupTest : public WinsimTest, public ::testing::WithParamInterface<ReinstallCase> {};

TEST_P(ReinstallLookupTest, FindsTheEntryAndItsFolder) {
    const ReinstallCase& test = GetParam();
    ASSERT_TRUE(winsim::CreateRegistryKey(kReinstallKey));
    test.setup();
    ResultBuffer regPath;
    ResultBuffer directory;
    EXPECT_EQ(QV_GetReinstallRegPath(regPath.text, &regPath.size, directory.text, &directory.size), test.result);
    EXPECT_EQ(regPath.Value(), test.regPath);
    EXPECT_EQ(directory.Value(), test.directory);
    EXPECT_EQ(regPath.size, static_cast<DWORD>(MAX_PATH));
    EXPECT_TRUE(directory.UntouchedFrom(MAX_PATH));
    EXPECT_EQ(Trace(), Cat({{kReinstallEntry}, test.trace}));
}

Lines ReinstallFound(const std::string& regPath) {
    return {ReinstallLine(" <-- QV_GetReinstallRegPath( " + regPath + " )")};
}

Lines NoFolder(const std::string& reinstallString) {
    return {ReinstallLine("Error: ReinstallString has no folder. [" + reinstallString + "]"),
            Report(ERROR_INVALID_DATA)};
}

const std::string kSubKey207(207, 'r');  // makes a key path of 259
const std::string kSubKey208(208, 'r');
const std::string kDescUpper = "ORVENIK TALLOMER GRAPHICS DRIVER";

INSTANTIATE_TEST_SUITE_P(
    Lookup, ReinstallLookupTest,
    ::testing::Values(
        ReinstallCase{"DescriptionInOtherCaseMatches",
                      [] {
                          ReinstallEntry("0000", "Microsoft Basic Display Driver", "C:\\x\\basic.inf");
                          ReinstallEntry("0001", kDeviceDesc + " v2", "C:\\y\\QVMIRx64.INF");
                          ReinstallEntry("0003", kDescUpper, kBackupInf);
                      },
                      0, ReinstallSubKey("0003"), kBackupDir,
                      Cat({{ReinstallDescLine(0, "0000", "Microsoft Basic Display Driver"),
                            ReinstallDescLine(1, "0001", kDeviceDesc + " v2"),
                            ReinstallDescLine(2, "0003", kDescUpper)},
                           ReinstallFound(ReinstallSubKey("0003"))})},
        ReinstallCase{"UnreadableEntriesArePassedOver",
                      [] {
                          ReinstallEntry("0000", kDeviceDesc, "C:\\x\\QVMIRx64.INF");
                          ASSERT_TRUE(winsim::DenyRegistryAccess(ReinstallSubKey("0000"), KEY_READ));
                          SetString(ReinstallSubKey("0001"), "ReinstallString", "C:\\y\\QVMIRx64.INF");
                          ReinstallEntry("0003", kDeviceDesc, kBackupInf);
                      },
                      0, ReinstallSubKey("0003"), kBackupDir,
                      Cat({{ReinstallLine("Error: RegOpenKeyEx(Err=5) [0000]"), Report(ERROR_ACCESS_DENIED),
                            ReinstallLine("Error: RegQueryValueEx(Err=2) Value=DeviceDesc"),
                            Report(ERROR_FILE_NOT_FOUND), ReinstallDescLine(2, "0003", kDeviceDesc)},
                           ReinstallFound(ReinstallSubKey("0003"))})},
        ReinstallCase{"UnterminatedValuesAreRead",
                      [] {
                          SetUnterminated(ReinstallSubKey("0003"), "DeviceDesc", kDeviceDesc);
                          SetUnterminated(ReinstallSubKey("0003"), "ReinstallString", kBackupInf);
                      },
                      0, ReinstallSubKey("0003"), kBackupDir,
                      Cat({{ReinstallDescLine(0, "0003", kDeviceDesc)}, ReinstallFound(ReinstallSubKey("0003"))})},
        ReinstallCase{"NoBackslash",
                      [] { ReinstallEntry("0003", kDeviceDesc, "QVMIRx64.INF"); },
                      ERROR_INVALID_DATA, "", "",
                      Cat({{ReinstallDescLine(0, "0003", kDeviceDesc)}, NoFolder("QVMIRx64.INF")})},
        ReinstallCase{"OnlyALeadingBackslash",
                      [] { ReinstallEntry("0003", kDeviceDesc, "\\QVMIRx64.INF"); },
                      ERROR_INVALID_DATA, "", "",
                      Cat({{ReinstallDescLine(0, "0003", kDeviceDesc)}, NoFolder("\\QVMIRx64.INF")})},
        ReinstallCase{"EmptyReinstallString",
                      [] { ReinstallEntry("0003", kDeviceDesc, ""); },
                      ERROR_INVALID_DATA, "", "",
                      Cat({{ReinstallDescLine(0, "0003", kDeviceDesc)}, NoFolder("")})},
        ReinstallCase{"MissingReinstallString",
                      [] { SetString(ReinstallSubKey("0003"), "DeviceDesc", kDeviceDesc); },
                      ERROR_FILE_NOT_FOUND, "", "",
                      {ReinstallDescLine(0, "0003", kDeviceDesc),
                       ReinstallLine("Error: RegQueryValueEx(Err=2) Value=ReinstallString"),
                       Report(ERROR_FILE_NOT_FOUND)}},
        ReinstallCase{"ReinstallStringFillingTheBuffer",
                      [] {
                          SetString(ReinstallSubKey("0003"), "DeviceDesc", kDeviceDesc);
                          SetUnterminated(ReinstallSubKey("0003"), "ReinstallString",
                                          "C:\\" + std::string(MAX_PATH - 3, 'd'));
                      },
                      ERROR_MORE_DATA, "", "",
                      {ReinstallDescLine(0, "0003", kDeviceDesc),
                       ReinstallLine("Error: RegQueryValueEx(Err=234) Value=ReinstallString"),
                       Report(ERROR_MORE_DATA)}},
        ReinstallCase{"FirstMatchWithoutReinstallStringEndsTheSearch",
                      [] {
                          SetString(ReinstallSubKey("0001"), "DeviceDesc", kDeviceDesc);
                          ReinstallEntry("0003", kDeviceDesc, kBackupInf);
                      },
                      ERROR_FILE_NOT_FOUND, "", "",
                      {ReinstallDescLine(0, "0001", kDeviceDesc),
                       ReinstallLine("Error: RegQueryValueEx(Err=2) Value=ReinstallString"),
                       Report(ERROR_FILE_NOT_FOUND)}},
        ReinstallCase{"KeyPathOf259Fits",
                      [] { ReinstallEntry(kSubKey207, kDeviceDesc, kBackupInf); },
                      0, ReinstallSubKey(kSubKey207), kBackupDir,
                      Cat({{ReinstallDescLine(0, kSubKey207, kDeviceDesc)},
                           ReinstallFound(ReinstallSubKey(kSubKey207))})},
        ReinstallCase{"KeyPathOf260IsRefused",
                      [] { ReinstallEntry(kSubKey208, kDeviceDesc, kBackupInf); },
                      ERROR_FILENAME_EXCED_RANGE, "", "",
                      {ReinstallDescLine(0, kSubKey208, kDeviceDesc),
                       ReinstallLine("Error: Path too long. [" + ReinstallSubKey(kSubKey208) + "]"),
                       Report(ERROR_FILENAME_EXCED_RANGE)}}),
    [](const ::testing::TestParamInfo<ReinstallCase>& info) { return std::string(info.param.name); });

class ReinstallDirectoryLookupTest : public WinsimTest {
protected:
    void SetUp() override {
        WinsimTest::SetUp();
        ReinstallEntry("0003", kDeviceDesc, kBackupInf);
    }
};

// The folder goes straight into the caller's buffer: one too small is the
// registry's ERROR_MORE_DATA with the bytes the value needs.
TEST_F(ReinstallDirectoryLookupTest, SmallDirectoryBufferGetsTheSizeToRetryWith) {
    ResultBuffer regPath;
    ResultBuffer directory;
    directory.size = 20;
    EXPECT_EQ(QV_GetReinstallRegPath(regPath.text, &regPath.size, directory.text, &directory.size),
              static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(regPath.Value(), "");
    EXPECT_EQ(directory.Value(), "");
    EXPECT_EQ(directory.size, static_cast<DWORD>(kBackupInf.size() + 1));
    EXPECT_TRUE(directory.UntouchedFrom(20));
    EXPECT_EQ(Trace(), (Lines{kReinstallEntry, ReinstallDescLine(0, "0003", kDeviceDesc),
                              ReinstallLine("Error: RegQueryValueEx(Err=234) Value=ReinstallString"),
                              Report(ERROR_MORE_DATA)}));

    ResultBuffer retry;
    retry.size = directory.size;
    EXPECT_EQ(QV_GetReinstallRegPath(regPath.text, &regPath.size, retry.text, &retry.size), 0u);
    EXPECT_EQ(regPath.Value(), ReinstallSubKey("0003"));
    EXPECT_EQ(retry.Value(), kBackupDir);
}

// A key path refused for its size gives 122 with the key path empty; the
// folder was already read and stays, as the caller skips the clean-up on any
// result but 0.
TEST_F(ReinstallDirectoryLookupTest, RefusedKeyPathSizeKeepsTheFolderRead) {
    ResultBuffer regPath;
    ResultBuffer directory;
    regPath.size = 10;
    EXPECT_EQ(QV_GetReinstallRegPath(regPath.text, &regPath.size, directory.text, &directory.size),
              static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(regPath.Value(), "");
    EXPECT_EQ(directory.Value(), kBackupDir);
}

// ---------------------------------------------------------------------------
// Result sizes: the size must exceed the path's length

enum class PathLookup { kOemInf, kAttachToDesktop, kReinstall };

struct ResultSizeCase {
    std::string name;
    PathLookup lookup;
    int sizeDelta;  // added to the path's length
};

void PrintTo(const ResultSizeCase& param, std::ostream* os) { *os << param.name; }

class ResultSizeLookupTest : public WinsimTest, public ::testing::WithParamInterface<ResultSizeCase> {
protected:
    // Sets up a found result; gives its path and the trace before the exit line.
    std::string Install(PathLookup lookup, Lines* before) {
        switch (lookup) {
            case PathLookup::kOemInf:
                DisplayDriver("0000", kHardwareId, "oem7.inf");
                *before = {kOemEntry, OemMatchLine(0, "0000", kHardwareId), OemLine("InfFileName=[oem7.inf]"),
                           OemLine("InfFileName=[" + kOemInf + "]")};
                return kOemInf;
            case PathLookup::kAttachToDesktop: {
                SetString(kServiceVideoKey, "VideoID", kGuidA);
                const std::string path = kProfileVideoKey + "\\" + kGuidA;
                *before = {AttachEntry(result_), AttachLine("QVMIRROR VideoID = " + kGuidA + ", Err=0"),
                           AttachLine("Attach.ToDesktop RegPath=" + path)};
                return path;
            }
            case PathLookup::kReinstall:
                ReinstallEntry("0003", kDeviceDesc, kBackupInf);
                *before = {kReinstallEntry, ReinstallDescLine(0, "0003", kDeviceDesc)};
                return ReinstallSubKey("0003");
        }
        return "";
    }
    DWORD Call(PathLookup lookup) {
        switch (lookup) {
            case PathLookup::kOemInf:
                return QV_GetOEMInfFileName(result_.text, &result_.size);
            case PathLookup::kAttachToDesktop:
                return QV_GetAttachToDesktopPath(result_.text, &result_.size);
            case PathLookup::kReinstall:
                return QV_GetReinstallRegPath(result_.text, &result_.size, directory_.text, &directory_.size);
        }
        return ERROR_INVALID_PARAMETER;
    }
    std::string ExitLine(PathLookup lookup, const std::string& path) {
        switch (lookup) {
            case PathLookup::kOemInf:
                return OemLine(" <-- QV_GetOEMInfFileName( " + path + " )");
            case PathLookup::kAttachToDesktop:
                return AttachLine(" <-- QV_GetAttachToDesktopPath(" + path + ")");
            case PathLookup::kReinstall:
                return ReinstallLine(" <-- QV_GetReinstallRegPath( " + path + " )");
        }
        return "";
    }
    std::string SizeLine(PathLookup lookup, DWORD size, size_t length) {
        const std::string message =
            "Buffer size [" + std::to_string(size) + "] is too small. Need [" + std::to_string(length) + "]";
        switch (lookup) {
            case PathLookup::kOemInf:
                return OemLine(message);
            case PathLookup::kAttachToDesktop:
                return AttachLine(message);
            case PathLookup::kReinstall:
                return ReinstallLine(message);
        }
        return "";
    }

    ResultBuffer result_;
    ResultBuffer directory_;
};

TEST_P(ResultSizeLookupTest, AcceptsOnlyASizeAboveThePathsLength) {
    const ResultSizeCase& test = GetParam();
    Lines expected;
    const std::string path = Install(test.lookup, &expected);
    const DWORD size = static_cast<DWORD>(static_cast<int>(path.size()) + test.sizeDelta);
    result_.size = size;

    const DWORD result = Call(test.lookup);
    EXPECT_TRUE(result_.UntouchedFrom(size));
    if (test.sizeDelta > 0) {
        EXPECT_EQ(result, 0u);
        EXPECT_EQ(result_.Value(), path);
        EXPECT_EQ(result_.size, size);
        expected.push_back(ExitLine(test.lookup, path));
    } else {
        EXPECT_EQ(result, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(result_.Value(), "");
        EXPECT_EQ(result_.size, static_cast<DWORD>(path.size()));
        expected.push_back(SizeLine(test.lookup, size, path.size()));
    }
    EXPECT_EQ(Trace(), expected);
}

std::vector<ResultSizeCase> ResultSizeCases() {
    const std::pair<const char*, PathLookup> lookups[] = {{"OemInf", PathLookup::kOemInf},
                                                          {"AttachToDesktop", PathLookup::kAttachToDesktop},
                                                          {"Reinstall", PathLookup::kReinstall}};
    const std::pair<const char*, int> sizes[] = {{"OneShort", -1}, {"Equal", 0}, {"OneOver", 1}};
    std::vector<ResultSizeCase> cases;
    for (const auto& lookup : lookups) {
        for (const auto& size : sizes) {
            cases.push_back(ResultSizeCase{std::string(lookup.first) + size.first, lookup.second, size.second});
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Lookup, ResultSizeLookupTest, ::testing::ValuesIn(ResultSizeCases()),
                         [](const ::testing::TestParamInfo<ResultSizeCase>& info) { return info.param.name; });

}  // namespace
