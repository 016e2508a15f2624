// The "/A" operation: the exit code, the devices that list the hardware ID
// afterwards, the service, the system's INF copy and the trace lines that
// tell support staff what happened.
#include "machine_test.h"

namespace {

const Lines kInstall = {"/A", "/S:" + kPackage};
const std::string kFolder246 = "C:\\" + std::string(243, 'f');

void AddDevice(const std::string& instance, const std::optional<std::string>& hardwareIds) {
    winsim::Device device;
    device.instance_id = instance;
    device.hardware_ids = hardwareIds;
    ASSERT_TRUE(winsim::AddDevice(device));
}

// The package's INF is read-only and hidden; the system's copy keeps both,
// and must lose the first only.
void PutReadOnlyPackage(const std::string& folder) {
    PutPackage(folder);
    ASSERT_TRUE(winsim::PutFile(folder + "\\" + kInf, *winsim::FileContents(folder + "\\" + kInf),
                                FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
}

void Remove(const std::string& name) {
    const std::string path = kPackage + "\\" + name;
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL) && DeleteFileA(path.c_str()));
}

// A newdev.dll beside the program and in the current folder, whose code
// must never run in it.
void PlantNewdev() {
    for (const std::string& folder : {winsim::kProgramFolder, std::string("C:")}) {
        ASSERT_TRUE(winsim::MakeDirectories(folder));
        ASSERT_TRUE(winsim::PutFile(folder + "\\newdev.dll", "planted"));
    }
}

void PresentDevice() { AddDevice("PCI\\VEN_1234\\0", winsim::MultiString({"PCI\\VEN_1234", kHardwareId})); }

struct InstallCase {
    const char* name;
    void (*setUp)();
    int exitCode;
    Lines devices;  // present devices that list the hardware ID afterwards
    Lines traced;   // "<function>|<message>", each a record of the run
    Lines absent;   // likewise, none of them in the run
    Lines uncalled = {};  // platform calls the run must not make
    Lines arguments = kInstall;
};

void PrintTo(const InstallCase& c, std::ostream* os) { *os << c.name; }

// The copy replaces only: on a machine without the INF copy it fails, and
// the installation goes on.
const std::string kCopyFailed = "QV_InstallRootEnumeratedDriver|ERROR: SetupCopyOEMInf() failed. GetLastError=2\n";
const std::string kCopied = "QV_InstallRootEnumeratedDriver|SetupCopyOEMInf() success.\n";
const Lines kNoNewDevice = {"SetupDiCreateDeviceInfoA"};
const std::string kInstalled = "QV_RegisterMirrorDriver|Driver Installed successfully.\n";
const std::string kFailed = "QV_RegisterMirrorDriver|<=== QV_RegisterMirrorDriver(ERROR)\n";
const Lines kRoot = {"ROOT\\DISPLAY\\0000"};

// Windows 8 to 11 report 6.2 build 9200 to the program (its manifest declares
// no supportedOS), the simulated machine's default.
const InstallCase kInstallCases[] = {
    {"FreshOnWindows10", [] {}, 0, kRoot,
     {"QV_RegisterMirrorDriver|  MirrorInfFile = [C:\\Drv\\" + kInf + "]\n", "QV_FindExistingDevice|EnumDeviceInfo\n",
      kCopyFailed, kInstalled,
      "QV_InstallRootEnumeratedDriver| <-- QV_InstallRootEnumeratedDriver(bReturn=1, RebootRequired=0)\n",
      "QV_Install|<===== QV_Install(0)\n"},
     {"QV_RegisterMirrorDriver|Reboot Required.\n"}},
    {"FreshOnWindows61WithPlantedNewdev", [] {
         winsim::SetWindowsVersion(6, 1, 7601);
         PlantNewdev();
     }, 0,
     kRoot, {kInstalled}, {}, {"SetupCopyOEMInfA"}},
    {"FreshOnWindows62", [] { winsim::SetWindowsVersion(6, 2, 9200); }, 0, kRoot, {kCopyFailed, kInstalled}, {}},
    {"InfCopyAlreadyThere",
     [] {
         ASSERT_TRUE(winsim::PutFile(kInfFolder + "\\oem4.inf", *winsim::FileContents(kPackage + "\\" + kInf),
                                     FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
     },
     0, kRoot, {kCopied, kInstalled}, {}},
    {"RestartRequired", [] { winsim::SetRestartRequired(true); }, 0, kRoot,
     {"QV_InstallRootEnumeratedDriver| <-- QV_InstallRootEnumeratedDriver(bReturn=1, RebootRequired=1)\n",
      "QV_RegisterMirrorDriver|Reboot Required.\n"}, {}},
    {"PresentDeviceIsUpdated", PresentDevice, 0, {"PCI\\VEN_1234\\0"},
     {"QV_FindExistingDevice|  Found! [" + kHardwareId + "]\n", kInstalled}, {}, kNoNewDevice},
    {"PresentDeviceRestartRequired", [] {
         PresentDevice();
         winsim::SetRestartRequired(true);
     }, 0,
     {"PCI\\VEN_1234\\0"}, {"QV_RegisterMirrorDriver|Reboot Required.\n"}, {}, kNoNewDevice},
    // Hardware IDs compare with letter case, whole strings, within the list.
    {"IdInOtherCaseIsAnotherDevice", [] { AddDevice("ROOT\\X\\0", winsim::MultiString({"orvenik_tallomer_MIRROR"})); },
     0, kRoot, {"QV_InstallRootEnumeratedDriver| --> QV_InstallRootEnumeratedDriver()\n"}, {}},
    {"DeviceWithoutHardwareIdsIsPassedOver", [] {
         AddDevice("ACPI\\X\\0", std::nullopt);
         PresentDevice();
     }, 0,
     {"PCI\\VEN_1234\\0"}, {}, {}, kNoNewDevice},
    // A list that grows between the size query and the read is read again.
    {"IdListGrowsBetweenReads", [] {
         PresentDevice();
         const std::string grown = winsim::MultiString({"PCI\\VEN_1234&SUBSYS_1", "PCI\\VEN_1234", kHardwareId});
         ASSERT_TRUE(winsim::ChangeHardwareIdsAfterRead("PCI\\VEN_1234\\0", grown));
     }, 0,
     {"PCI\\VEN_1234\\0"}, {"QV_FindExistingDevice|  Found! [" + kHardwareId + "]\n", kInstalled}, {}, kNoNewDevice},
    // A property read that keeps asking for no larger a buffer ends the lookup.
    {"PropertyReadThatNeverFits", [] { AddDevice("ROOT\\X\\0", ""); }, kExitInstallFailed, {},
     {"QV_FindExistingDevice|ERROR: SetupDiGetDeviceRegistryProperty(1784)\n",
      "QV_RegisterMirrorDriver|Unknown Error.(1784)\n"}, {}, kNoNewDevice},
    // An enumeration that fails without a code is no match.
    {"LookupFailsWithoutCode", [] { winsim::FailNthCall("SetupDiEnumDeviceInfo", 1, 0); }, kExitInstallFailed, {},
     {"QV_RegisterMirrorDriver|Unknown Error.(31)\n"}, {"QV_FindExistingDevice|EnumDeviceInfo\n"}, kNoNewDevice},
    {"MissingInf", [] { Remove(kInf); }, kExitFileMissing, {},
     {"QV_CheckMirrorFileExists|ERROR: File not Found. [C:\\Drv\\" + kInf + "]\n",
      "QV_RegisterMirrorDriver|<=== QV_RegisterMirrorDriver(51)\n",
      "QV_Install|ERROR in QV_RegisterMirrorDriver(51)\n"},
     {}},
    {"MissingDll", [] { Remove(kDll); },
     kExitFileMissing, {}, {"QV_CheckMirrorFileExists|ERROR: File not Found. [C:\\Drv\\" + kDll + "]\n"}, {}},
    {"MissingSys", [] { Remove(kSys); }, kExitFileMissing, {},
     {"QV_CheckMirrorFileExists|ERROR: File not Found. [C:\\Drv\\" + kSys + "]\n"}, {}},
    {"FolderOf246", [] { PutReadOnlyPackage(kFolder246); }, 0, kRoot, {kInstalled}, {}, {}, {"/A", "/S:" + kFolder246}},
    {"FolderOf247IsTooLong", [] {}, kExitFileMissing, {},
     {"QV_CheckMirrorFileExists|ERROR: Path too long. [" + kFolder246 + "f\\" + kInf + "]\n"}, {}, {},
     {"/A", "/S:" + kFolder246 + "f"}},
    {"DeviceStaysWhenItsRemovalFails",
     [] {
         winsim::FailNthCall("UpdateDriverForPlugAndPlayDevicesA", 1, ERROR_NO_SUCH_DEVINST);
         winsim::FailNthCall("SetupDiCallClassInstaller", 2, ERROR_NO_SUCH_DEVINST);
     },
     kExitInstallFailed, kRoot,
     {"QV_DisplayError|SetupDiCallClassInstaller(REMOVE) FAILURE: Code=-536870389\n", kFailed}, {}},
    // A failure that leaves no error code must not pass for a success.
    {"DriverInstallFailsWithoutCode", [] { winsim::FailNthCall("UpdateDriverForPlugAndPlayDevicesA", 1, 0); },
     kExitInstallFailed, {}, {"QV_InstallRootEnumeratedDriver| call SetLastError(31)\n", kFailed}, {}},
    {"RegistrationFailsWithoutCode", [] { winsim::FailNthCall("SetupDiCallClassInstaller", 1, 0); }, kExitInstallFailed,
     {}, {kFailed}, {}, {"UpdateDriverForPlugAndPlayDevicesA"}},
};

class InstallTest : public MachineTest, public ::testing::WithParamInterface<InstallCase> {};

TEST_P(InstallTest, OutcomeAndTrace) {
    const InstallCase& c = GetParam();
    PutReadOnlyPackage(kPackage);
    c.setUp();
    winsim::ClearDebugOutput();
    EXPECT_EQ(RunProgram(c.arguments), c.exitCode);
    EXPECT_EQ(MirrorDevices(), c.devices);
    auto traced = [](const std::string& line) {
        return Traced(line.substr(0, line.find('|')), line.substr(line.find('|') + 1));
    };
    for (const std::string& line : c.traced) EXPECT_TRUE(traced(line)) << line;
    for (const std::string& line : c.absent) EXPECT_FALSE(traced(line)) << line;
    for (const std::string& call : c.uncalled) EXPECT_EQ(winsim::CallCount(call), 0u) << call;
    EXPECT_EQ(winsim::ForeignModules(), Lines{});
    const auto service = winsim::FindService(kService);
    EXPECT_EQ(service.has_value(), c.exitCode == 0);
    int copies = 0;
    for (const auto& [path, contents] : winsim::Files()) {
        if (path.compare(0, kInfFolder.size() + 4, kInfFolder + "\\oem") != 0) continue;
        ++copies;
        EXPECT_EQ(GetFileAttributesA(path.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
                  static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN)) << path;
    }
    if (c.exitCode == 0) {
        EXPECT_EQ(copies, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, InstallTest, ::testing::ValuesIn(kInstallCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Where the search is not restricted the planted DLL loads; after a run of
// the program, loads by name (as of class installers) find the system's.
TEST_F(MachineTest, DllSearchRestrictedToTheSystemFolder) {
    PlantNewdev();
    FreeLibrary(LoadLibraryExA("newdev.dll", NULL, 0));
    EXPECT_EQ(winsim::ForeignModules().size(), 1u) << "the planted DLL did not load without the restriction";
    ASSERT_EQ(RunProgram({"/R"}), 0);
    FreeLibrary(LoadLibraryExA("newdev.dll", NULL, 0));
    EXPECT_EQ(winsim::ForeignModules().size(), 1u);
    EXPECT_EQ(winsim::CallCount("LoadLibraryExA"), 2u) << "the removal loaded a DLL";
    // Windows 7 without SetDefaultDllDirectories: the current folder leaves the search.
    winsim::Reset();
    winsim::SetWindowsVersion(6, 1, 7601);
    ASSERT_TRUE(winsim::PutFile("C:\\helper.dll", "planted"));
    ASSERT_EQ(RunProgram({"/R"}), 0);
    EXPECT_EQ(LoadLibraryExA("helper.dll", NULL, 0), nullptr);
}

TEST_F(MachineTest, SecondInstallUsesTheSameDevice) {
    PutPackage();
    ASSERT_EQ(RunProgram(kInstall), 0);
    ASSERT_EQ(RunProgram(kInstall), 0);
    EXPECT_EQ(MirrorDevices(), kRoot);
}

}  // namespace
