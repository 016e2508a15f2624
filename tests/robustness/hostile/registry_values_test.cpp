// Registry values and key names at and past the program's buffer sizes,
// without terminators, empty, or of another type, through a whole "/R":
// what goes is what the lookups can name, nothing else.
#include "hostile_machine.h"

#include <string>

namespace hostile {
namespace {

const std::string kNul(1, '\0');

std::string Key(const std::string& parent, const std::string& name) { return parent + "\\" + name; }

// A display-class sub-key matching the mirror, with its own INF copy.
void MirrorClassKey(const std::string& name, const std::string& infName) {
    ASSERT_TRUE(winsim::SetRegistryString(Key(kDisplayClassKey, name), "MatchingDeviceId", kMirrorHardwareId));
    ASSERT_TRUE(winsim::SetRegistryString(Key(kDisplayClassKey, name), "InfPath", infName));
}

// "0001" sorts between the other driver's key and the mirror's.
void ClassKey0001(const std::string& matchingIdBytes, DWORD type = REG_SZ) {
    SetRaw(Key(kDisplayClassKey, "0001"), "MatchingDeviceId", matchingIdBytes, type);
    ASSERT_TRUE(winsim::SetRegistryString(Key(kDisplayClassKey, "0001"), "InfPath", "oem9.inf"));
}

void Oem9Files() {
    PutTracked(kInfFolder + "\\oem9.inf");
    PutTracked(kInfFolder + "\\oem9.pnf");
}

const Lines kOem9 = {kInfFolder + "\\oem9.inf", kInfFolder + "\\oem9.pnf"};

void VideoKey(const std::string& name, const std::string& serviceBytes, DWORD type = REG_SZ) {
    SetRaw(Key(kVideoKey, name) + "\\Video", "Service", serviceBytes, type);
    ASSERT_TRUE(winsim::CreateRegistryKey(Key(kVideoKey, name) + "\\0000\\Settings"));
}

const std::string kGuidC = "{CCCCCCCC-2222-3333-4444-555555555555}";

// VideoID naming a profile key that exists.
void VideoId(const std::string& bytes, const std::string& profileKey, DWORD type = REG_SZ) {
    SetRaw(kServiceVideoKey, "VideoID", bytes, type);
    if (!profileKey.empty()) {
        ASSERT_TRUE(winsim::SetRegistryDword(Key(kProfileVideoKey, profileKey) + "\\0000", "Attach.ToDesktop", 0));
    }
}

// A second reinstall entry, "0002" (before the mirror's "0003"), whose copy is elsewhere.
const std::string kBackup9 = "C:\\Windows\\System32\\ReinstallBackups\\0009\\DriverFiles";

Lines Backup9Files() {
    Lines files;
    for (const char* file : kDriverFiles) {
        files.push_back(kBackup9 + "\\" + file);
    }
    return files;
}

void ReinstallEntry(const std::string& name, const std::string& descBytes, DWORD type = REG_SZ) {
    SetRaw(Key(kReinstallKey, name), "DeviceDesc", descBytes, type);
    ASSERT_TRUE(winsim::SetRegistryString(Key(kReinstallKey, name), "ReinstallString", kBackup9 + "\\" QV_MIRROR_INF));
    for (const std::string& file : Backup9Files()) {
        PutTracked(file);
    }
}

void ReinstallString(const std::string& bytes, DWORD type = REG_SZ) {
    SetRaw(Key(kReinstallKey, "0003"), "ReinstallString", bytes, type);
}

// Bytes of a value: text, a terminator, then filler without a terminator, n in all.
std::string TerminatedThenFilled(const std::string& text, size_t n) {
    return text + kNul + std::string(n - text.size() - 1, 'z');
}

const std::string kId260 = TerminatedThenFilled(kMirrorHardwareId, 260);
const std::string kId261 = TerminatedThenFilled(kMirrorHardwareId, 261);
const std::string kName31(31, '0');  // sorts before "0002"
const std::string kName32(32, '0');
const std::string kName255(255, '0');
const std::string kVideoName47(47, 'k');
const std::string kVideoName48(48, 'l');
const std::string kVideoName255(255, 'm');
const std::string kVideoId47(47, 'v');
const std::string kVideoId48(48, 'w');
const std::string kReinstallName207 = "0000" + std::string(203, 'r');  // a key path of 259
const std::string kReinstallName208 = "0000" + std::string(204, 'r');

class RegistryValueRemovalTest : public InstalledMachineTest, public ::testing::WithParamInterface<RemovalCase> {};

TEST_P(RegistryValueRemovalTest, RemovesOnlyWhatTheLookupsName) { RunRemoval(GetParam()); }

const std::pair<std::string, std::string> kEnumEnded = {"QV_GetOEMInfFileName", "Error: RegEnumKeyEx(Err=234)\n"};

INSTANTIATE_TEST_SUITE_P(
    ClassKeys, RegistryValueRemovalTest,
    ::testing::Values(
        RemovalCase{"WellFormedInstallation", [] {}, 0, {}, {}, {}},
        RemovalCase{"SubKeyNameOf31IsRead",
                    [] {
                        MirrorClassKey(kName31, "oem9.inf");
                        Oem9Files();
                    },
                    kOemPart, {}, kOem9, {}},
        // The enumeration ends there: no INF copy is named, none goes.
        RemovalCase{"SubKeyNameOf32EndsTheSearch",
                    [] {
                        MirrorClassKey(kName32, "oem9.inf");
                        Oem9Files();
                    },
                    kOemPart, {}, {}, {kEnumEnded}},
        RemovalCase{"SubKeyNameOf255EndsTheSearch",
                    [] {
                        MirrorClassKey(kName255, "oem9.inf");
                        Oem9Files();
                    },
                    kOemPart, {}, {}, {kEnumEnded}},
        RemovalCase{"MatchingIdOf259IsNoMatch",
                    [] {
                        ClassKey0001(std::string(259, 'z') + kNul);
                        Oem9Files();
                    },
                    0, {}, {}, {}},
        RemovalCase{"MatchingIdUnterminatedOf260IsPassedOver",
                    [] {
                        ClassKey0001(kMirrorHardwareId + std::string(260 - kMirrorHardwareId.size(), 'z'));
                        Oem9Files();
                    },
                    0, {}, {}, {{"QV_GetOEMInfFileName",
                                 "[1] Key=[0001] Error: RegQueryValueEx(Err=234) Value=MatchingDeviceId\n"}}},
        // Read up to its terminator within the 260 bytes.
        RemovalCase{"MatchingIdTerminatedWithin260BytesMatches",
                    [] {
                        ClassKey0001(kId260);
                        Oem9Files();
                    },
                    kOemPart, {}, kOem9, {}},
        RemovalCase{"MatchingIdOf261BytesIsPassedOver",
                    [] {
                        ClassKey0001(kId261);
                        Oem9Files();
                    },
                    0, {}, {}, {}},
        RemovalCase{"EmptyMatchingIdIsNoMatch",
                    [] {
                        ClassKey0001("");
                        Oem9Files();
                    },
                    0, {}, {}, {}},
        RemovalCase{"MatchingIdAsDwordIsNoMatch",
                    [] {
                        ClassKey0001(std::string("\x4F\x72\x76\x65", 4), REG_DWORD);
                        Oem9Files();
                    },
                    0, {}, {}, {}},
        // Read as its bytes, whatever the type: the ID without terminator.
        RemovalCase{"MatchingIdAsBinaryHoldingTheIdMatches",
                    [] {
                        ClassKey0001(kMirrorHardwareId, REG_BINARY);
                        Oem9Files();
                    },
                    kOemPart, {}, kOem9, {}},
        RemovalCase{"InfPathOf259MakesAPathTooLong",
                    [] { SetRaw(kMirrorClassKey, "InfPath", std::string(255, 'q') + ".inf" + kNul); },
                    kOemPart, {}, {}, {}},
        RemovalCase{"InfPathUnterminatedOf260IsNotRead",
                    [] { SetRaw(kMirrorClassKey, "InfPath", std::string(256, 'q') + ".inf"); },
                    kOemPart, {}, {}, {}},
        RemovalCase{"InfPathTerminatedWithin260BytesIsRead",
                    [] { SetRaw(kMirrorClassKey, "InfPath", TerminatedThenFilled("oem7.inf", 260)); },
                    0, {}, {}, {}},
        RemovalCase{"EmptyInfPathNamesNothing", [] { SetRaw(kMirrorClassKey, "InfPath", ""); }, kOemPart, {}, {},
                    {}},
        RemovalCase{"InfPathAsDwordZeroNamesNothing",
                    [] { SetRaw(kMirrorClassKey, "InfPath", std::string(4, '\0'), REG_DWORD); },
                    kOemPart, {}, {}, {}}),
    [](const ::testing::TestParamInfo<RemovalCase>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    VideoKeys, RegistryValueRemovalTest,
    ::testing::Values(
        RemovalCase{"SubKeyNameOf47Goes", [] { VideoKey(kVideoName47, "QVMIRROR" + kNul); }, 0,
                    {Key(kVideoKey, kVideoName47)}, {}, {}},
        RemovalCase{"SubKeyNameOf48Stays", [] { VideoKey(kVideoName48, "QVMIRROR" + kNul); }, 0, {}, {},
                    {{"QV_GetMirrorGuid", "Error: Key name too long. [" + kVideoName48 + "]\n"}}},
        RemovalCase{"SubKeyNameOf255Stays", [] { VideoKey(kVideoName255, "QVMIRROR" + kNul); }, 0, {}, {},
                    {{"QV_GetMirrorGuid", "Error: Key name too long. [" + kVideoName255 + "]\n"}}},
        RemovalCase{"ServiceOf259IsNoMatch", [] { VideoKey(kGuidC, "QVMIRROR" + std::string(251, 'z') + kNul); },
                    0, {}, {}, {}},
        RemovalCase{"ServiceUnterminatedOf260IsPassedOver",
                    [] { VideoKey(kGuidC, "QVMIRROR" + std::string(252, 'z')); }, 0, {}, {},
                    {{"QV_GetMirrorGuid", "Error: RegQueryValueEx(Err=234) Value=Service\n"}}},
        RemovalCase{"ServiceTerminatedWithin260BytesMatches",
                    [] { VideoKey(kGuidC, TerminatedThenFilled("QVMIRROR", 260)); }, 0, {Key(kVideoKey, kGuidC)}, {},
                    {}},
        RemovalCase{"ServiceOf261BytesIsPassedOver", [] { VideoKey(kGuidC, TerminatedThenFilled("QVMIRROR", 261)); },
                    0, {}, {}, {}},
        RemovalCase{"UnterminatedServiceMatches", [] { VideoKey(kGuidC, "QVMIRROR"); }, 0, {Key(kVideoKey, kGuidC)},
                    {}, {}},
        RemovalCase{"EmptyServiceIsNoMatch", [] { VideoKey(kGuidC, ""); }, 0, {}, {}, {}},
        RemovalCase{"ServiceAsDwordIsNoMatch", [] { VideoKey(kGuidC, std::string("QVMI", 4), REG_DWORD); }, 0, {},
                    {}, {}},
        RemovalCase{"ServiceAsMultiStringMatches",
                    [] { VideoKey(kGuidC, "QVMIRROR" + kNul + kNul, REG_MULTI_SZ); }, 0, {Key(kVideoKey, kGuidC)}, {},
                    {}}),
    [](const ::testing::TestParamInfo<RemovalCase>& info) { return std::string(info.param.name); });

// The profile key follows VideoID; the profile's Video key itself, which
// holds every adapter, stays whatever VideoID holds.
INSTANTIATE_TEST_SUITE_P(
    VideoId, RegistryValueRemovalTest,
    ::testing::Values(
        RemovalCase{"Of47", [] { VideoId(kVideoId47 + kNul, kVideoId47); }, kProfilePart,
                    {Key(kProfileVideoKey, kVideoId47)}, {}, {}},
        RemovalCase{"UnterminatedOf47", [] { VideoId(kVideoId47, kVideoId47); }, kProfilePart,
                    {Key(kProfileVideoKey, kVideoId47)}, {}, {}},
        RemovalCase{"Of48IsRefused", [] { VideoId(kVideoId48 + kNul, kVideoId48); }, kProfilePart, {}, {},
                    {{"QV_GetAttachToDesktopPath", "Error: RegQueryValueEx(Err=234) Value=VideoID\n"}}},
        RemovalCase{"UnterminatedOf48IsRefused", [] { VideoId(kVideoId48, kVideoId48); }, kProfilePart, {}, {}, {}},
        RemovalCase{"EmptyIsRefused", [] { VideoId("", ""); }, kProfilePart, {}, {},
                    {{"QV_GetAttachToDesktopPath", "Error: RegQueryValueEx(Err=13) Value=VideoID\n"}}},
        RemovalCase{"TerminatorOnlyIsRefused", [] { VideoId(kNul, ""); }, kProfilePart, {}, {}, {}},
        RemovalCase{"DwordZeroIsRefused", [] { VideoId(std::string(4, '\0'), "", REG_DWORD); }, kProfilePart, {},
                    {}, {}},
        RemovalCase{"TerminatedWithin48BytesIsRead", [] { VideoId(TerminatedThenFilled(kGuidA, 48), ""); }, 0, {},
                    {}, {}}),
    [](const ::testing::TestParamInfo<RemovalCase>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Reinstall, RegistryValueRemovalTest,
    ::testing::Values(
        // The first entry with the description ends the search.
        RemovalCase{"KeyPathOf259",
                    [] { ReinstallEntry(kReinstallName207, kMirrorDeviceDesc + kNul); },
                    kReinstallPart, {Key(kReinstallKey, kReinstallName207)}, Backup9Files(), {}},
        RemovalCase{"KeyPathOf260IsRefused",
                    [] { ReinstallEntry(kReinstallName208, kMirrorDeviceDesc + kNul); },
                    kReinstallPart, {}, {},
                    {{"QV_GetReinstallRegPath",
                      "Error: Path too long. [" + Key(kReinstallKey, kReinstallName208) + "]\n"}}},
        RemovalCase{"DeviceDescOf259IsNoMatch",
                    [] {
                        ReinstallEntry("0002",
                                       kMirrorDeviceDesc + std::string(259 - kMirrorDeviceDesc.size(), 'z') + kNul);
                    },
                    0, {}, {}, {}},
        RemovalCase{"DeviceDescUnterminatedOf260IsPassedOver",
                    [] {
                        ReinstallEntry("0002", kMirrorDeviceDesc + std::string(260 - kMirrorDeviceDesc.size(), 'z'));
                    },
                    0, {}, {}, {{"QV_GetReinstallRegPath", "Error: RegQueryValueEx(Err=234) Value=DeviceDesc\n"}}},
        RemovalCase{"DeviceDescTerminatedWithin260BytesMatches",
                    [] { ReinstallEntry("0002", TerminatedThenFilled(kMirrorDeviceDesc, 260)); }, kReinstallPart,
                    {Key(kReinstallKey, "0002")}, Backup9Files(), {}},
        RemovalCase{"DeviceDescOf261BytesIsPassedOver",
                    [] { ReinstallEntry("0002", TerminatedThenFilled(kMirrorDeviceDesc, 261)); }, 0, {}, {}, {}},
        RemovalCase{"UnterminatedDeviceDescMatches", [] { ReinstallEntry("0002", kMirrorDeviceDesc); }, kReinstallPart,
                    {Key(kReinstallKey, "0002")}, Backup9Files(), {}},
        RemovalCase{"EmptyDeviceDescIsNoMatch", [] { ReinstallEntry("0002", ""); }, 0, {}, {}, {}},
        RemovalCase{"DeviceDescAsDwordIsNoMatch", [] { ReinstallEntry("0002", std::string("Orve", 4), REG_DWORD); },
                    0, {}, {}, {}},
        // The folder is read, but no driver file's path in it fits: only the key goes.
        RemovalCase{"ReinstallStringOf259", [] { ReinstallString("C:\\" + std::string(250, 'd') + "\\x.inf" + kNul); },
                    kReinstallPart, {Key(kReinstallKey, "0003")}, {}, {}},
        RemovalCase{"ReinstallStringUnterminatedOf260IsNotRead",
                    [] { ReinstallString("C:\\" + std::string(251, 'd') + "\\x.inf"); }, kReinstallPart, {}, {},
                    {{"QV_GetReinstallRegPath", "Error: RegQueryValueEx(Err=234) Value=ReinstallString\n"}}},
        RemovalCase{"ReinstallStringTerminatedWithin260BytesIsRead",
                    [] { ReinstallString(TerminatedThenFilled(kBackup + "\\" QV_MIRROR_INF, 260)); }, 0, {}, {}, {}},
        RemovalCase{"UnterminatedReinstallStringIsRead", [] { ReinstallString(kBackup + "\\" QV_MIRROR_INF); }, 0, {},
                    {}, {}},
        RemovalCase{"EmptyReinstallStringNamesNoFolder", [] { ReinstallString(""); }, kReinstallPart, {}, {},
                    {{"QV_GetReinstallRegPath", "Error: ReinstallString has no folder. []\n"}}},
        RemovalCase{"ReinstallStringAsDwordNamesNoFolder",
                    [] { ReinstallString(std::string("\\x\0\0", 4), REG_DWORD); }, kReinstallPart, {}, {}, {}}),
    [](const ::testing::TestParamInfo<RemovalCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hostile
