// The "/A" operation against the simulated machine: what it leaves installed,
// its exit codes and the trace that support staff read.
#include "common.h"
#include "driver_package.h"
#include "install.h"
#include "machine_paths.h"
#include "trace_harness.h"
#include "variant.h"
#include "winsim_test.h"

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

const std::string kPackage = "C:\\Drv";
const std::string kInfPath = kPackage + "\\" QV_MIRROR_INF;
const std::string kMirrorIds = winsim::MultiString({"Orvenik_Tallomer_Mirror"});
constexpr DWORD kNoSuchDevInst = 0xE000020B;

bool Contains(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Handles and addresses differ from run to run.
Lines MaskAddresses(Lines lines) {
    static const std::regex address("0x[0-9a-f]+");
    for (std::string& line : lines) {
        line = std::regex_replace(line, address, "0x#");
    }
    return lines;
}

std::vector<winsim::Device> MirrorDevices() {
    std::vector<winsim::Device> mirrors;
    for (const winsim::Device& device : winsim::Devices()) {
        if (device.hardware_ids && device.hardware_ids->find("Orvenik_Tallomer_Mirror") != std::string::npos) {
            mirrors.push_back(device);
        }
    }
    return mirrors;
}

// The lines from the announcement of the driver installation to its
// result: the INF copy of Windows 6.2 and later stands between them.
Lines DriverInstallationLines() {
    Lines trace = TraceOf("QV_InstallRootEnumeratedDriver");
    auto begin = std::find(trace.begin(), trace.end(), " call UpdateDriverForPlugAndPlayDevices()\n");
    auto end = std::find(trace.begin(), trace.end(), " ret  UpdateDriverForPlugAndPlayDevices()\n");
    return begin < end ? Lines(begin + 1, end) : Lines{"<no driver installation>"};
}

class InstallTest : public WinsimTest {
protected:
    void SetUp() override {
        WinsimTest::SetUp();
        PutDriverPackage(kPackage);
    }
    int Install() { return RunProgram({"/A", "/S:" + kPackage}); }
};

TEST_F(InstallTest, FreshInstallCreatesARootEnumeratedDevice) {
    EXPECT_EQ(Install(), 0);

    std::vector<winsim::Device> mirrors = MirrorDevices();
    ASSERT_EQ(mirrors.size(), 1u);
    EXPECT_EQ(mirrors[0].instance_id.rfind("ROOT\\DISPLAY\\", 0), 0u) << mirrors[0].instance_id;
    EXPECT_EQ(mirrors[0].hardware_ids, kMirrorIds);
    EXPECT_TRUE(mirrors[0].present);
    EXPECT_EQ(mirrors[0].service, "QVMIRROR");
    EXPECT_TRUE(winsim::RegistryKeyExists(kServiceKey));

    EXPECT_EQ(MaskAddresses(TraceOf("QV_InstallRootEnumeratedDriver")),
              (Lines{" --> QV_InstallRootEnumeratedDriver()\n",
                     "  HardwareId = [Orvenik_Tallomer_Mirror]\n",
                     "  InfFile    = [" + kInfPath + "]\n",
                     " call SetupDiGetINFClass()\n",
                     " ret  SetupDiGetINFClass()\n",
                     " call SetupDiCreateDeviceInfoList()\n",
                     " ret  SetupDiCreateDeviceInfoList(), DeviceInfoSet=0x#\n",
                     " call SetupDiCreateDeviceInfo()\n",
                     " ret  SetupDiCreateDeviceInfo(), DeviceInfoData Addr=0x#\n",
                     " call SetupDiSetDeviceRegistryProperty()\n",
                     " ret  SetupDiSetDeviceRegistryProperty()\n",
                     " call SetupDiCallClassInstaller(DIF_REGISTERDEVICE)\n",
                     " ret  SetupDiCallClassInstaller()\n",
                     " call UpdateDriverForPlugAndPlayDevices()\n",
                     DriverInstallationLines().at(0),
                     " ret  UpdateDriverForPlugAndPlayDevices()\n",
                     " call SetLastError(NO_ERROR)\n",
                     " ret  SetLastError()\n",
                     " cleanup_DeviceInfo:\n",
                     " call SetupDiDestroyDeviceInfoList()\n",
                     " ret  SetupDiDestroyDeviceInfoList()\n",
                     " call SetLastError(0)\n",
                     " ret  SetLastError()\n",
                     " <-- QV_InstallRootEnumeratedDriver(bReturn=1, RebootRequired=0)\n"}));
    EXPECT_EQ(TraceOf("QV_RegisterMirrorDriver"),
              (Lines{"===> QV_RegisterMirrorDriver()\n", "  MirrorInfFile = [" + kInfPath + "]\n",
                     "Driver Installed successfully.\n", "<=== QV_RegisterMirrorDriver()\n"}));
    EXPECT_EQ(TraceOf("QV_Install"),
              (Lines{"=====> QV_Install()\n", "  ImageDir   = [" + kPackage + "]\n",
                     std::string("  LogFile    = [") + kDefaultLog + "]\n",
                     "  Operation  = 0x10 (0x10=INSTALL, 0x20=UNINSTALL)\n", "<===== QV_Install(0)\n"}));
}

// The INF goes to SetupCopyOEMInfA first only from Windows 6.2 on; either
// outcome of the copy leaves the installation to go on.
struct VersionCase {
    const char* name;
    DWORD major;
    DWORD minor;
    bool copies;
};

void PrintTo(const VersionCase& param, std::ostream* os) { *os << param.name; }

class InstallVersionTest : public InstallTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(InstallVersionTest, CopiesTheInfOnlyFromWindows62) {
    winsim::SetWindowsVersion(GetParam().major, GetParam().minor, 9200);
    EXPECT_EQ(Install(), 0);
    EXPECT_EQ(winsim::CallCount("SetupCopyOEMInfA"), GetParam().copies ? 1u : 0u);
    Lines copyLines = DriverInstallationLines();
    if (GetParam().copies) {
        ASSERT_EQ(copyLines.size(), 1u);
        EXPECT_TRUE(copyLines[0] == "SetupCopyOEMInf() success.\n" ||
                    copyLines[0].rfind("ERROR: SetupCopyOEMInf() failed. GetLastError=", 0) == 0)
            << copyLines[0];
    } else {
        EXPECT_EQ(copyLines, Lines{});
    }
    EXPECT_EQ(MirrorDevices().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Install, InstallVersionTest,
                         ::testing::Values(VersionCase{"Windows7", 6, 1, false},
                                           VersionCase{"Windows8", 6, 2, true},
                                           VersionCase{"Windows81", 6, 3, true},
                                           VersionCase{"Windows10", 10, 0, true},
                                           VersionCase{"Vista", 6, 0, false},
                                           VersionCase{"XP", 5, 1, false}),
                         [](const ::testing::TestParamInfo<VersionCase>& info) { return std::string(info.param.name); });

TEST_F(InstallTest, FailedInfCopyIsTracedAndInstallationGoesOn) {
    winsim::FailNthCall("SetupCopyOEMInfA", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Install(), 0);
    EXPECT_EQ(DriverInstallationLines(), (Lines{"ERROR: SetupCopyOEMInf() failed. GetLastError=5\n"}));
}

TEST_F(InstallTest, FailedVersionQuerySkipsTheInfCopy) {
    winsim::FailNthCall("GetVersionExA", 1, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Install(), 0);
    EXPECT_EQ(DriverInstallationLines(), (Lines{"ERROR: GetVersionEx() failed. GetLastError=87\n"}));
    EXPECT_EQ(winsim::CallCount("SetupCopyOEMInfA"), 0u);
}

TEST_F(InstallTest, PresentDeviceWithTheIdGetsTheDriver) {
    winsim::Device device;
    device.instance_id = "PCI\\VEN_1234&DEV_0001\\3&11583659&0&10";
    device.hardware_ids = winsim::MultiString({"PCI\\VEN_1234&DEV_0001", "Orvenik_Tallomer_Mirror"});
    ASSERT_TRUE(winsim::AddDevice(device));

    EXPECT_EQ(Install(), 0);
    std::vector<winsim::Device> mirrors = MirrorDevices();
    ASSERT_EQ(mirrors.size(), 1u);
    EXPECT_EQ(mirrors[0].instance_id, device.instance_id);
    EXPECT_EQ(mirrors[0].service, "QVMIRROR");
    // No new device, no INF copy: nothing of the root-enumerated install runs.
    EXPECT_EQ(winsim::CallCount("SetupDiCreateDeviceInfoA"), 0u);
    EXPECT_EQ(winsim::CallCount("SetupCopyOEMInfA"), 0u);
    EXPECT_EQ(TraceOf("QV_FindExistingDevice"),
              (Lines{" --> QV_FindExistingDevice(HardwareID: [Orvenik_Tallomer_Mirror]\n",
                     "  Found! [Orvenik_Tallomer_Mirror]\n", " <-- QV_FindExistingDevice(TRUE)\n"}));
}

TEST_F(InstallTest, SecondInstallUsesTheDeviceOfTheFirst) {
    ASSERT_EQ(Install(), 0);
    winsim::ClearDebugOutput();
    EXPECT_EQ(Install(), 0);
    EXPECT_EQ(MirrorDevices().size(), 1u);
    EXPECT_TRUE(Contains(TraceOf("QV_FindExistingDevice"), "  Found! [Orvenik_Tallomer_Mirror]\n"));
}

TEST_F(InstallTest, FailedUpdateOfAPresentDeviceGives50) {
    winsim::Device device;
    device.instance_id = "ROOT\\DISPLAY\\0000";
    device.hardware_ids = kMirrorIds;
    ASSERT_TRUE(winsim::AddDevice(device));
    winsim::FailNthCall("UpdateDriverForPlugAndPlayDevicesA", 1, ERROR_ACCESS_DENIED);

    EXPECT_EQ(Install(), 50);
    EXPECT_EQ(TraceOf("QV_DisplayError"),
              (Lines{"UpdateDriverForPlugAndPlayDevices. FAILURE: Code=5 : Access is denied.\r\n\n"}));
    EXPECT_EQ(TraceOf("QV_RegisterMirrorDriver").back(), "  MirrorInfFile = [" + kInfPath + "]\n");
    EXPECT_EQ(TraceOf("QV_Install").back(), "ERROR in QV_RegisterMirrorDriver(50)\n");
    EXPECT_EQ(MirrorDevices().size(), 1u);  // the present device is not removed
}

TEST_F(InstallTest, RestartRequestIsTracedOnly) {
    winsim::SetRestartRequired(true);
    EXPECT_EQ(Install(), 0);
    Lines trace = TraceOf("QV_RegisterMirrorDriver");
    EXPECT_EQ(Lines(trace.end() - 3, trace.end()),
              (Lines{"Driver Installed successfully.\n", "Reboot Required.\n", "<=== QV_RegisterMirrorDriver()\n"}));
    EXPECT_EQ(TraceOf("QV_InstallRootEnumeratedDriver").back(),
              " <-- QV_InstallRootEnumeratedDriver(bReturn=1, RebootRequired=1)\n");
}

TEST_F(InstallTest, ReadOnlyHiddenCopyOfTheInfLosesOnlyReadOnly) {
    const std::string inf = winsim::FileContents(kInfPath).value();
    ASSERT_TRUE(winsim::PutFile("C:\\Windows\\INF\\oem3.inf", inf,
                                FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(Install(), 0);
    EXPECT_EQ(GetFileAttributesA("C:\\Windows\\INF\\oem3.inf"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(TraceOf("QV_RemoveReadOnlyAttribute"),
              (Lines{" --> QV_RemoveReadOnlyAttribute(C:\\Windows\\INF\\oem3.inf)\n", " call SetFileAttributes()\n",
                     " ret  SetFileAttributes(bRet=1)\n", " <-- QV_RemoveReadOnlyAttribute()\n"}));
}

TEST_F(InstallTest, MissingCopyOfTheInfDoesNotFailTheInstallation) {
    winsim::FailEveryCall("RegOpenKeyExA", ERROR_ACCESS_DENIED);
    EXPECT_EQ(Install(), 0);
    EXPECT_EQ(TraceOf("QV_RemoveReadOnlyAttribute"),
              (Lines{" --> QV_RemoveReadOnlyAttribute()\n", " call SetFileAttributes()\n",
                     " ret  SetFileAttributes(bRet=0)\n", " <-- QV_RemoveReadOnlyAttribute()\n"}));
}

// A missing driver file: the first missing one is named, the rest untested.
struct MissingFileCase {
    const char* name;
    std::vector<const char*> missing;
    const char* reported;
    unsigned searches;
};

void PrintTo(const MissingFileCase& param, std::ostream* os) { *os << param.name; }

class MissingFileTest : public InstallTest, public ::testing::WithParamInterface<MissingFileCase> {};

TEST_P(MissingFileTest, Gives51AndNamesTheFirstMissingFile) {
    for (const char* file : GetParam().missing) {
        ASSERT_TRUE(DeleteFileA((kPackage + "\\" + file).c_str()));
    }
    EXPECT_EQ(Install(), 51);
    EXPECT_EQ(TraceOf("QV_CheckMirrorFileExists"),
              (Lines{"ERROR: File not Found. [" + kPackage + "\\" + GetParam().reported + "]\n"}));
    EXPECT_EQ(TraceOf("QV_RegisterMirrorDriver"),
              (Lines{"===> QV_RegisterMirrorDriver()\n", "<=== QV_RegisterMirrorDriver(51)\n"}));
    EXPECT_EQ(TraceOf("QV_Install").back(), "ERROR in QV_RegisterMirrorDriver(51)\n");
    EXPECT_EQ(winsim::CallCount("FindFirstFileA"), GetParam().searches);
    EXPECT_TRUE(winsim::Devices().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Install, MissingFileTest,
    ::testing::Values(MissingFileCase{"Inf", {QV_MIRROR_INF}, QV_MIRROR_INF, 1},
                      MissingFileCase{"DllOnly", {QV_MIRROR_DLL}, QV_MIRROR_DLL, 2},
                      MissingFileCase{"Sys", {QV_MIRROR_SYS}, QV_MIRROR_SYS, 3},
                      MissingFileCase{"All", {QV_MIRROR_INF, QV_MIRROR_DLL, QV_MIRROR_SYS}, QV_MIRROR_INF, 1}),
    [](const ::testing::TestParamInfo<MissingFileCase>& info) { return std::string(info.param.name); });

TEST_F(InstallTest, ImageDirTooLongForAPathIsRefused) {
    // 247 characters: the folder, a backslash and a 12-character name make 260.
    const std::string folder = "C:\\" + std::string(244, 'd');
    EXPECT_EQ(RunProgram({"/A", "/S:" + folder}), 51);
    EXPECT_EQ(TraceOf("QV_CheckMirrorFileExists"),
              (Lines{"ERROR: Path too long. [" + folder + "\\" QV_MIRROR_INF "]\n"}));
    EXPECT_EQ(winsim::CallCount("FindFirstFileA"), 0u);
}

TEST_F(InstallTest, ImageDirOf246CharactersIsAccepted) {
    const std::string folder = "C:\\" + std::string(243, 'd');
    PutDriverPackage(folder);
    EXPECT_EQ(RunProgram({"/A", "/S:" + folder}), 0);
    EXPECT_EQ(MirrorDevices().size(), 1u);
}

TEST_F(InstallTest, InfThatIsNoInfGives50AndCreatesNoDevice) {
    ASSERT_TRUE(winsim::PutFile(kInfPath, "this is not an INF\n"));
    EXPECT_EQ(Install(), 50);
    Lines trace = TraceOf("QV_InstallRootEnumeratedDriver");
    ASSERT_EQ(trace.size(), 5u);
    EXPECT_EQ(trace[4].rfind("ERROR: SetupDiGetINFClass() failed. GetLastError=", 0), 0u) << trace[4];
    EXPECT_EQ(TraceOf("QV_RegisterMirrorDriver").back(), "<=== QV_RegisterMirrorDriver(ERROR)\n");
    EXPECT_TRUE(winsim::Devices().empty());
}

TEST_F(InstallTest, FailedDeviceLookupGives50) {
    winsim::FailNthCall("SetupDiGetClassDevsA", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Install(), 50);
    EXPECT_EQ(TraceOf("QV_FindExistingDevice"),
              (Lines{" --> QV_FindExistingDevice(HardwareID: [Orvenik_Tallomer_Mirror]\n"}));
    EXPECT_EQ(TraceOf("QV_DisplayError"),
              (Lines{"SetupDiGetClassDevs(All Present Devices) FAILURE: Code=5 : Access is denied.\r\n\n"}));
    EXPECT_EQ(TraceOf("QV_RegisterMirrorDriver").back(), "Unknown Error.(5)\n");
    EXPECT_TRUE(winsim::Devices().empty());
}

// Every step of the root-enumerated install failing in turn: the result, the
// error left for the caller, the clean-up stage and no device left behind.
struct StepFailure {
    const char* name;
    const char* call;
    unsigned nth;
    DWORD error;
    const char* errorLine;  // as traced, before the report
    bool cleanup;
};

void PrintTo(const StepFailure& param, std::ostream* os) { *os << param.name; }

class RootEnumeratedStepTest : public InstallTest, public ::testing::WithParamInterface<StepFailure> {};

TEST_P(RootEnumeratedStepTest, FailsCleanlyWithTheStepsError) {
    const StepFailure& step = GetParam();
    winsim::FailNthCall(step.call, step.nth, step.error);
    BOOL bReboot = FALSE;
    EXPECT_FALSE(QV_InstallRootEnumeratedDriver(QV_MIRROR_HARDWARE_ID, kInfPath.c_str(), &bReboot));
    EXPECT_EQ(GetLastError(), step.error);
    EXPECT_TRUE(winsim::Devices().empty());

    Lines trace = TraceOf("QV_InstallRootEnumeratedDriver");
    EXPECT_TRUE(Contains(trace, step.errorLine)) << step.errorLine;
    EXPECT_EQ(Contains(trace, " cleanup_DeviceInfo:\n"), step.cleanup);
    EXPECT_EQ(trace.back(), step.cleanup ? " <-- QV_InstallRootEnumeratedDriver(bReturn=0, RebootRequired=0)\n"
                                         : std::string(step.errorLine));
}

INSTANTIATE_TEST_SUITE_P(
    Install, RootEnumeratedStepTest,
    ::testing::Values(
        StepFailure{"GetINFClass", "SetupDiGetINFClassA", 1, ERROR_FILE_NOT_FOUND,
                    "ERROR: SetupDiGetINFClass() failed. GetLastError=2", false},
        StepFailure{"CreateDeviceInfoList", "SetupDiCreateDeviceInfoList", 1, ERROR_NOT_ENOUGH_MEMORY,
                    "ERROR: SetupDiCreateDeviceInfoList() failed. GetLastError=8", false},
        StepFailure{"CreateDeviceInfo", "SetupDiCreateDeviceInfoA", 1, 0xE0000207,
                    "ERROR: SetupDiCreateDeviceInfo() failed. GetLastError=-536870393. goto cleanup_DeviceInfo",
                    true},
        StepFailure{"SetDeviceRegistryProperty", "SetupDiSetDeviceRegistryPropertyA", 1, ERROR_INVALID_DATA,
                    "ERROR: SetupDiSetDeviceRegistryProperty() failed. GetLastError=13. goto cleanup_DeviceInfo",
                    true},
        StepFailure{"RegisterDevice", "SetupDiCallClassInstaller", 1, ERROR_ACCESS_DENIED,
                    "ERROR: SetupDiCallClassInstaller() failed. GetLastError=5. goto cleanup_DeviceInfo", true},
        StepFailure{"DriverInstallation", "UpdateDriverForPlugAndPlayDevicesA", 1, kNoSuchDevInst,
                    "ERROR: UpdateDriverForPlugAndPlayDevices() failed. GetLastError=-536870389", true}),
    [](const ::testing::TestParamInfo<StepFailure>& info) { return std::string(info.param.name); });

// A platform that fails a step without an error code (Wine does so) must
// not make the failure pass for a success.
TEST_F(InstallTest, StepFailingWithoutAnErrorCodeStillFails) {
    for (const char* call : {"SetupDiCreateDeviceInfoA", "SetupDiSetDeviceRegistryPropertyA",
                             "SetupDiCallClassInstaller", "UpdateDriverForPlugAndPlayDevicesA"}) {
        winsim::Reset();
        PutDriverPackage(kPackage);
        winsim::FailNthCall(call, 1, ERROR_SUCCESS);
        BOOL bReboot = FALSE;
        EXPECT_FALSE(QV_InstallRootEnumeratedDriver(QV_MIRROR_HARDWARE_ID, kInfPath.c_str(), &bReboot)) << call;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE)) << call;
        EXPECT_EQ(TraceOf("QV_InstallRootEnumeratedDriver").back(),
                  " <-- QV_InstallRootEnumeratedDriver(bReturn=0, RebootRequired=0)\n")
            << call;
        EXPECT_TRUE(winsim::Devices().empty()) << call;
    }
}

TEST_F(InstallTest, FailedDriverInstallationRemovesTheDeviceAgain) {
    winsim::FailNthCall("UpdateDriverForPlugAndPlayDevicesA", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Install(), 50);
    EXPECT_TRUE(winsim::Devices().empty());
    Lines trace = TraceOf("QV_InstallRootEnumeratedDriver");
    auto failure = std::find(trace.begin(), trace.end(),
                             "ERROR: UpdateDriverForPlugAndPlayDevices() failed. GetLastError=5");
    ASSERT_NE(failure, trace.end());
    EXPECT_EQ(Lines(failure + 1, trace.end()),
              (Lines{" call SetupDiCallClassInstaller(DIF_REMOVE)\n", " ret  SetupDiCallClassInstaller()\n",
                     " call SetLastError(5)\n", " ret  SetLastError()\n", " cleanup_DeviceInfo:\n",
                     " call SetupDiDestroyDeviceInfoList()\n", " ret  SetupDiDestroyDeviceInfoList()\n",
                     " call SetLastError(5)\n", " ret  SetLastError()\n",
                     " <-- QV_InstallRootEnumeratedDriver(bReturn=0, RebootRequired=0)\n"}));
    EXPECT_EQ(TraceOf("QV_RegisterMirrorDriver").back(), "<=== QV_RegisterMirrorDriver(ERROR)\n");
}

TEST_F(InstallTest, FailedRemovalLeavesTheDeviceAndKeepsTheInstallationError) {
    winsim::FailNthCall("UpdateDriverForPlugAndPlayDevicesA", 1, ERROR_ACCESS_DENIED);
    winsim::FailNthCall("SetupDiCallClassInstaller", 2, ERROR_INVALID_HANDLE);
    BOOL bReboot = FALSE;
    EXPECT_FALSE(QV_InstallRootEnumeratedDriver(QV_MIRROR_HARDWARE_ID, kInfPath.c_str(), &bReboot));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(MirrorDevices().size(), 1u);
    EXPECT_TRUE(Contains(TraceOf("QV_DisplayError"),
                         "SetupDiCallClassInstaller(REMOVE) FAILURE: Code=6 : The handle is invalid.\r\n\n"));
}

// The device lookup on its own: which hardware-ID lists match.
struct LookupCase {
    const char* name;
    std::vector<std::optional<std::string>> devices;  // hardware-ID bytes per device
    BOOL found;
    DWORD lastError;
    int foundLines;
};

void PrintTo(const LookupCase& param, std::ostream* os) { *os << param.name; }

class DeviceLookupTest : public WinsimTest, public ::testing::WithParamInterface<LookupCase> {};

TEST_P(DeviceLookupTest, MatchesTheWholeIdExactly) {
    int number = 0;
    for (const std::optional<std::string>& ids : GetParam().devices) {
        winsim::Device device;
        device.instance_id = "ROOT\\SYSTEM\\000" + std::to_string(number++);
        device.class_name = "System";
        device.hardware_ids = ids;
        ASSERT_TRUE(winsim::AddDevice(device));
    }
    EXPECT_EQ(QV_FindExistingDevice("Orvenik_Tallomer_Mirror"), GetParam().found);
    EXPECT_EQ(GetLastError(), GetParam().lastError);
    Lines trace = TraceOf("QV_FindExistingDevice");
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "  Found! [Orvenik_Tallomer_Mirror]\n"), GetParam().foundLines);
    EXPECT_EQ(Contains(trace, "EnumDeviceInfo\n"), !GetParam().found);
    EXPECT_EQ(trace.back(), GetParam().found ? " <-- QV_FindExistingDevice(TRUE)\n" : " <-- QV_FindExistingDevice(FALSE)\n");
}

using winsim::MultiString;
const std::string kId = "Orvenik_Tallomer_Mirror";

INSTANTIATE_TEST_SUITE_P(
    Install, DeviceLookupTest,
    ::testing::Values(
        LookupCase{"NoDevices", {}, FALSE, ERROR_NO_MORE_ITEMS, 0},
        LookupCase{"FirstString", {MultiString({kId, "Other"})}, TRUE, 0, 1},
        LookupCase{"LaterString", {MultiString({"A", "B", kId})}, TRUE, 0, 1},
        LookupCase{"OtherLetterCase", {MultiString({"orvenik_tallomer_mirror"})}, FALSE, ERROR_NO_MORE_ITEMS, 0},
        LookupCase{"LongerId", {MultiString({kId + "2"})}, FALSE, ERROR_NO_MORE_ITEMS, 0},
        LookupCase{"ShorterId", {MultiString({kId.substr(0, 22)})}, FALSE, ERROR_NO_MORE_ITEMS, 0},
        LookupCase{"NoPropertyIsPassedOver", {std::nullopt, MultiString({kId})}, TRUE, 0, 1},
        LookupCase{"EmptyList", {std::string(2, '\0'), MultiString({kId})}, TRUE, 0, 1},
        LookupCase{"StopsAtTheFirstMatch", {MultiString({kId}), MultiString({kId})}, TRUE, 0, 1},
        LookupCase{"AfterAnEmptyStringNothingCounts", {std::string("A\0\0", 3) + kId + std::string(2, '\0')},
                   FALSE, ERROR_NO_MORE_ITEMS, 0},
        LookupCase{"ListEndingInsideTheId", {std::string("A\0", 2) + kId}, FALSE, ERROR_NO_MORE_ITEMS, 0},
        LookupCase{"ListWithoutClosingEmptyString", {std::string("A\0", 2) + kId + std::string(1, '\0')}, TRUE,
                   0, 1}),
    [](const ::testing::TestParamInfo<LookupCase>& info) { return std::string(info.param.name); });

TEST_F(InstallTest, FailedPropertyReadEndsTheLookup) {
    winsim::Device device;
    device.instance_id = "ROOT\\SYSTEM\\0000";
    device.hardware_ids = kMirrorIds;
    ASSERT_TRUE(winsim::AddDevice(device));
    winsim::FailEveryCall("SetupDiGetDeviceRegistryPropertyA", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(QV_FindExistingDevice("Orvenik_Tallomer_Mirror"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(TraceOf("QV_FindExistingDevice"),
              (Lines{" --> QV_FindExistingDevice(HardwareID: [Orvenik_Tallomer_Mirror]\n",
                     "ERROR: SetupDiGetDeviceRegistryProperty(5)\n", " <-- QV_FindExistingDevice(FALSE)\n"}));
}

struct AttributeCase {
    const char* name;
    DWORD before;
    DWORD after;
};

void PrintTo(const AttributeCase& param, std::ostream* os) { *os << param.name; }

class ReadOnlyAttributeTest : public WinsimTest, public ::testing::WithParamInterface<AttributeCase> {};

TEST_P(ReadOnlyAttributeTest, ClearsOnlyReadOnly) {
    ASSERT_TRUE(winsim::PutFile("C:\\file.inf", "x", GetParam().before));
    EXPECT_TRUE(QV_RemoveReadOnlyAttribute("C:\\file.inf"));
    EXPECT_EQ(GetFileAttributesA("C:\\file.inf"), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(
    Install, ReadOnlyAttributeTest,
    ::testing::Values(AttributeCase{"ReadOnlyOnly", FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_NORMAL},
                      AttributeCase{"ReadOnlyHiddenSystem",
                                    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
                                    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
                      AttributeCase{"NotReadOnly", FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_ARCHIVE}),
    [](const ::testing::TestParamInfo<AttributeCase>& info) { return std::string(info.param.name); });

TEST_F(InstallTest, RemovingReadOnlyFromAMissingFileFails) {
    EXPECT_FALSE(QV_RemoveReadOnlyAttribute("C:\\missing.inf"));
    EXPECT_EQ(TraceOf("QV_RemoveReadOnlyAttribute")[2], " ret  SetFileAttributes(bRet=0)\n");
}

}  // namespace
