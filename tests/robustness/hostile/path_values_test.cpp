// Values that the removal turns into paths: "InfPath" (a file in the INF
// folder), "ReinstallString" (the folder of the reinstall copy) and
// "VideoID" (a key under the profile's Video key), shaped as names,
// relative and absolute paths, drive roots and shares.
#include "driver_package.h"
#include "hostile_machine.h"
#include "trace_harness.h"

#include <string>

namespace hostile {
namespace {

const std::string kNul(1, '\0');

Lines RootDriverFiles() {
    Lines files;
    for (const char* file : kDriverFiles) {
        files.push_back(std::string("C:\\") + file);
    }
    return files;
}

Lines OtherBackupDriverFiles() {
    Lines files;
    for (const char* file : kDriverFiles) {
        files.push_back(kOtherBackup + "\\" + file);
    }
    return files;
}

class PathValueRemovalTest : public InstalledMachineTest, public ::testing::WithParamInterface<RemovalCase> {};

TEST_P(PathValueRemovalTest, RemovesOnlyWhatTheLookupsName) { RunRemoval(GetParam()); }

std::function<void()> InfPath(const std::string& value, Lines extraFiles = {}) {
    return [value, extraFiles] {
        ASSERT_TRUE(winsim::SetRegistryString(kMirrorClassKey, "InfPath", value));
        for (const std::string& file : extraFiles) {
            PutTracked(file);
        }
    };
}

const std::pair<std::string, std::string> NotAFileName(const std::string& value) {
    return {"QV_GetOEMInfFileName", " Error: InfPath is not a file name. [" + value + "]\n"};
}

// Only a file in the INF folder, and its ".pnf", can go.
INSTANTIATE_TEST_SUITE_P(
    InfPath, PathValueRemovalTest,
    ::testing::Values(
        RemovalCase{"NameWithoutExtension", InfPath("oem7"), kOemPart, {}, {kInfFolder + "\\oem7"}, {}},
        // Windows drops the trailing dot: "oem7", then "oem7.pnf".
        RemovalCase{"NameEndingInADot", InfPath("oem7."), kOemPart, {}, {kInfFolder + "\\oem7", kInfFolder + "\\oem7.pnf"},
                    {}},
        RemovalCase{"ExtensionOnly", InfPath(".inf", {kInfFolder + "\\.inf", kInfFolder + "\\.pnf"}), kOemPart, {},
                    {kInfFolder + "\\.inf", kInfFolder + "\\.pnf"}, {}},
        RemovalCase{"NameEndingInASpace", InfPath("oem7.inf "), 0, {}, {}, {}},
        RemovalCase{"OtherName", InfPath("x.inf"), kOemPart, {}, {kInfFolder + "\\x.inf", kInfFolder + "\\x.pnf"}, {}},
        RemovalCase{"ThreeDotsNameTheFolder", InfPath("..."), kOemPart, {}, {}, {}},
        RemovalCase{"Wildcard", InfPath("*.inf"), kOemPart, {}, {}, {}},
        RemovalCase{"SingleCharacterWildcard", InfPath("oem?.inf"), kOemPart, {}, {}, {}},
        RemovalCase{"ParentFolders", InfPath("..\\..\\x.inf"), kOemPart, {}, {}, {NotAFileName("..\\..\\x.inf")}},
        RemovalCase{"DriveOnly", InfPath("C:"), kOemPart, {}, {}, {NotAFileName("C:")}},
        RemovalCase{"DriveRoot", InfPath("C:\\"), kOemPart, {}, {}, {NotAFileName("C:\\")}},
        RemovalCase{"Share", InfPath("\\\\server\\share\\x.inf"), kOemPart, {}, {}, {}},
        RemovalCase{"OtherDrive", InfPath("D:\\x.inf"), kOemPart, {}, {}, {}},
        RemovalCase{"DriveRelative", InfPath("C:oem7.inf"), kOemPart, {}, {}, {}}),
    [](const ::testing::TestParamInfo<RemovalCase>& info) { return std::string(info.param.name); });

std::function<void()> ReinstallString(const std::string& value) {
    return [value] { ASSERT_TRUE(winsim::SetRegistryString(kReinstallKey + "\\0003", "ReinstallString", value)); };
}

const std::pair<std::string, std::string> NoFolder(const std::string& value) {
    return {"QV_GetReinstallRegPath", "Error: ReinstallString has no folder. [" + value + "]\n"};
}

const std::string kOtherBackupRelative = "Windows\\System32\\ReinstallBackups\\0001\\DriverFiles\\x.inf";

// The reinstall copy's four files go from the folder the value names, and
// the entry's key with them; a value naming no folder leaves both.
INSTANTIATE_TEST_SUITE_P(
    ReinstallString, PathValueRemovalTest,
    ::testing::Values(
        RemovalCase{"NameOnly", ReinstallString("oem7"), kReinstallPart, {}, {}, {NoFolder("oem7")}},
        RemovalCase{"NameEndingInADot", ReinstallString("oem7."), kReinstallPart, {}, {}, {NoFolder("oem7.")}},
        RemovalCase{"ExtensionOnly", ReinstallString(".inf"), kReinstallPart, {}, {}, {NoFolder(".inf")}},
        RemovalCase{"DriveOnly", ReinstallString("C:"), kReinstallPart, {}, {}, {NoFolder("C:")}},
        RemovalCase{"LeadingBackslashOnly", ReinstallString("\\x.inf"), kReinstallPart, {}, {}, {NoFolder("\\x.inf")}},
        // A drive root named outright is the folder.
        RemovalCase{"DriveRoot", ReinstallString("C:\\"), kReinstallPart, {kReinstallKey + "\\0003"},
                    RootDriverFiles(), {}},
        RemovalCase{"FileAtADriveRoot", ReinstallString("C:\\x.inf"), kReinstallPart, {kReinstallKey + "\\0003"},
                    RootDriverFiles(), {}},
        RemovalCase{"Share", ReinstallString("\\\\server\\share\\x.inf"), kReinstallPart,
                    {kReinstallKey + "\\0003"}, {}, {}},
        RemovalCase{"OtherDrive", ReinstallString("D:\\x.inf"), kReinstallPart, {kReinstallKey + "\\0003"}, {}, {}},
        RemovalCase{"OtherDriversFolder", ReinstallString(kOtherBackup + "\\x.inf"), kReinstallPart,
                    {kReinstallKey + "\\0003"}, OtherBackupDriverFiles(), {}},
        // Relative folders depend on the current folder, which no lookup
        // names: nothing goes there.
        RemovalCase{"ParentFolders", ReinstallString("..\\..\\x.inf"), kReinstallPart, {}, {}, {}},
        RemovalCase{"RelativeFolder", ReinstallString(kOtherBackupRelative), kReinstallPart, {}, {}, {}},
        RemovalCase{"DriveRelativeFolder", ReinstallString("C:" + kOtherBackupRelative), kReinstallPart, {}, {}, {}},
        RemovalCase{"RootRelativeFolder", ReinstallString("\\" + kOtherBackupRelative), kReinstallPart, {}, {}, {}}),
    [](const ::testing::TestParamInfo<RemovalCase>& info) { return std::string(info.param.name); });

std::function<void()> VideoId(const std::string& bytes, DWORD type = REG_SZ) {
    return [bytes, type] { SetRaw(kServiceVideoKey, "VideoID", bytes, type); };
}

// Registry paths skip repeated and trailing separators, so a VideoID of
// separators alone would name the profile's Video key, which holds every
// adapter: a VideoID names one key, and one with a separator is refused.
INSTANTIATE_TEST_SUITE_P(
    VideoIdPath, PathValueRemovalTest,
    ::testing::Values(
        RemovalCase{"TrailingBackslash", VideoId(kGuidA + "\\" + kNul), kProfilePart, {}, {}, {}},
        RemovalCase{"LeadingBackslash", VideoId("\\" + kGuidA + kNul), kProfilePart, {}, {}, {}},
        RemovalCase{"SubKeyOfTheProfileKey", VideoId(kGuidA + "\\0000" + kNul), kProfilePart, {}, {}, {}},
        RemovalCase{"ParentKeyIsNoKey", VideoId(kGuidA + "\\.." + kNul), kProfilePart, {}, {}, {}},
        RemovalCase{"DotDotIsNoKey", VideoId(".." + kNul), kProfilePart, {}, {}, {}},
        RemovalCase{"Backslash", VideoId("\\" + kNul), kProfilePart, {}, {}, {}},
        RemovalCase{"Backslashes", VideoId("\\\\\\" + kNul), kProfilePart, {}, {}, {}},
        RemovalCase{"DwordHoldingABackslash", VideoId(std::string("\\\0\0\0", 4), REG_DWORD), kProfilePart, {}, {},
                    {}}),
    [](const ::testing::TestParamInfo<RemovalCase>& info) { return std::string(info.param.name); });


// "/A" reads the same display-class sub-keys to find the system's INF copy,
// whose read-only attribute it clears: a hostile first match may name only
// a file in the INF folder, and the installation removes nothing.
struct InstallCase {
    const char* name;
    std::string subKey;   // sorts before the installation's own driver key, "0000" or "0001"
    std::string infPath;  // of the hostile sub-key, which matches the mirror
    std::string cleared;  // the one read-only file that may lose the attribute
};

void PrintTo(const InstallCase& param, std::ostream* os) { *os << param.name; }

class HostileClassKeyInstallTest : public ::testing::Test, public ::testing::WithParamInterface<InstallCase> {
protected:
    void SetUp() override {
        winsim::Reset();
        ForgetTracked();
    }
    void TearDown() override {
        EXPECT_EQ(winsim::OpenHandleCount(), 0u);
        EXPECT_EQ(winsim::LiveAllocationCount(), 0u);
    }
};

const Lines kReadOnlyFiles = {"C:\\x.inf", "C:\\Windows\\x.inf", kInfFolder + "\\x.inf", kSystemFolder + "\\x.inf",
                              "C:\\Drv\\x.inf"};

TEST_P(HostileClassKeyInstallTest, InstallsAndClearsReadOnlyOnlyInTheInfFolder) {
    const InstallCase& test = GetParam();
    PutDriverPackage("C:\\Drv");
    for (const std::string& file : kReadOnlyFiles) {
        PutTracked(file, "x", FILE_ATTRIBUTE_READONLY);
    }
    const std::string key = kDisplayClassKey + "\\" + test.subKey;
    ASSERT_TRUE(winsim::SetRegistryString(key, "MatchingDeviceId", kMirrorHardwareId));
    ASSERT_TRUE(winsim::SetRegistryString(key, "InfPath", test.infPath));
    const Snapshot before = Take();

    EXPECT_EQ(RunProgram({"/A", "/S:C:\\Drv"}), 0);

    ExpectRemoved(before, Take(), Removal{});
    ASSERT_EQ(winsim::Devices().size(), 1u);
    EXPECT_EQ(winsim::Devices()[0].service, "QVMIRROR");
    for (const std::string& file : kReadOnlyFiles) {
        EXPECT_EQ(GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY,
                  file == test.cleared ? 0u : static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))
            << file;
    }
}

INSTANTIATE_TEST_SUITE_P(
    ClassKeys, HostileClassKeyInstallTest,
    ::testing::Values(InstallCase{"PlainName", "0000", "x.inf", kInfFolder + "\\x.inf"},
                      InstallCase{"ParentFolders", "0000", "..\\..\\x.inf", ""},
                      InstallCase{"ParentFolder", "0000", "..\\x.inf", ""},
                      InstallCase{"DriveRoot", "0000", "C:\\x.inf", ""},
                      InstallCase{"DriveRelative", "0000", "C:x.inf", ""},
                      InstallCase{"SystemFolder", "0000", "..\\System32\\x.inf", ""},
                      InstallCase{"Share", "0000", "\\\\server\\share\\x.inf", ""},
                      InstallCase{"Wildcard", "0000", "*.inf", ""},
                      InstallCase{"Empty", "0000", "", ""},
                      InstallCase{"SubKeyNameOf32", "000" + std::string(29, '!'), "x.inf", ""},
                      InstallCase{"SubKeyNameOf31", "000" + std::string(28, '!'), "x.inf", kInfFolder + "\\x.inf"}),
    [](const ::testing::TestParamInfo<InstallCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hostile
