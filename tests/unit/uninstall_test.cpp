// The "/R" operation end to end against the simulated machine, with the
// service control and device removal it drives.
#include "driver_package.h"
#include "machine_paths.h"
#include "trace_harness.h"
#include "uninstall.h"
#include "variant.h"
#include "winsim_test.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

const char kGuidA[] = "{11111111-2222-3333-4444-555555555555}";
const char kGuidB[] = "{AAAAAAAA-2222-3333-4444-555555555555}";
const char kOtherGuid[] = "{55555555-2222-3333-4444-555555555555}";
const std::string kBackup = "C:\\Windows\\System32\\ReinstallBackups\\0003\\DriverFiles";

bool Contains(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string Oem(const char* extension) {
    for (int n = 0; n < 100; ++n) {
        std::string path = "C:\\Windows\\INF\\oem" + std::to_string(n) + extension;
        if (winsim::Exists(path)) {
            return path;
        }
    }
    return "";
}

void AddVideoKey(const char* guid, const char* service) {
    ASSERT_TRUE(winsim::SetRegistryString(kVideoKey + "\\" + guid + "\\Video", "Service", service));
    ASSERT_TRUE(winsim::CreateRegistryKey(kVideoKey + "\\" + guid + "\\0000"));
}

// What an installation leaves on Windows, beyond what "/A" itself makes.
void CompleteInstallation() {
    PutDriverPackage("C:\\Drv");
    ASSERT_EQ(RunProgram({"/A", "/S:C:\\Drv"}), 0);
    AddVideoKey(kGuidA, "QVMIRROR");
    AddVideoKey(kGuidB, "qvmirror");
    AddVideoKey(kOtherGuid, "OTHERVID");
    ASSERT_TRUE(winsim::SetRegistryString(kServiceKey + "\\VIDEO", "VideoID", kGuidA));
    ASSERT_TRUE(winsim::SetRegistryDword(kProfileVideoKey + "\\" + kGuidA + "\\0000", "Attach.ToDesktop", 0));
    ASSERT_TRUE(winsim::SetRegistryString(kReinstallKey + "\\0003", "DeviceDesc",
                                          "Orvenik Tallomer graphics driver"));
    ASSERT_TRUE(winsim::SetRegistryString(kReinstallKey + "\\0003", "ReinstallString",
                                          kBackup + "\\" QV_MIRROR_INF));
    ASSERT_TRUE(winsim::SetRegistryString(kReinstallKey + "\\0001", "DeviceDesc", "Another adapter"));
    ASSERT_TRUE(winsim::MakeDirectories(kBackup));
    ASSERT_TRUE(winsim::MakeDirectories(kLastGoodFolder + "\\drivers"));
    ASSERT_TRUE(winsim::MakeDirectories(kSystemFolder + "\\drivers"));
    for (const char* file : {QV_MIRROR_DLL, QV_MIRROR_SYS, QV_MIRROR_INF, QV_MIRROR_PNF}) {
        ASSERT_TRUE(winsim::PutFile(kBackup + "\\" + file, file));
    }
    ASSERT_TRUE(winsim::PutFile(kSystemFolder + "\\" QV_MIRROR_DLL, "dll"));
    ASSERT_TRUE(winsim::PutFile(kSystemFolder + "\\drivers\\" QV_MIRROR_SYS, "sys"));
    ASSERT_TRUE(winsim::PutFile(kLastGoodFolder + "\\" QV_MIRROR_DLL, "dll", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(winsim::PutFile(kLastGoodFolder + "\\drivers\\" QV_MIRROR_SYS, "sys"));
    const std::string oem = Oem(".inf");
    ASSERT_FALSE(oem.empty());
    ASSERT_TRUE(winsim::PutFile(oem.substr(0, oem.size() - 4) + ".pnf", "precompiled"));
    // The miniport is loaded: its file is in use until the restart.
    ASSERT_TRUE(winsim::SetFileInUse(kSystemFolder + "\\drivers\\" QV_MIRROR_SYS));
    winsim::ClearDebugOutput();
}

int Remove() { return RunProgram({"/R"}); }

class UninstallTest : public WinsimTest {};

TEST_F(UninstallTest, NothingInstalledIsNothingToDo) {
    EXPECT_EQ(Remove(), 0);
    EXPECT_EQ(TraceOf("QV_UnRegisterMirrorDriver"),
              (Lines{"===> QV_UnRegisterMirrorDriver()\n", "<=== QV_UnRegisterMirrorDriver()\n"}));
    EXPECT_EQ(TraceOf("QV_Uninstall"),
              (Lines{"=====> QV_Uninstall()\n", std::string("  LogFile   = [") + kDefaultLog + "]\n",
                     "  Operation = 0x20 (0x10=INSTALL, 0x20=UNINSTALL)\n", "<===== QV_Uninstall(Ret=0)\n"}));
    EXPECT_EQ(TraceOf("QV_DeviceDriverUninstall"),
              (Lines{" --> QV_DeviceDriverUninstall(HardwareID: [Orvenik_Tallomer_Mirror]\n",
                     "Enum all devices....\n", " <-- QV_DeviceDriverUninstall(search result=FALSE)\n"}));
    Lines trace = Trace();
    EXPECT_TRUE(Contains(trace, "qvOpenService: ERROR: OpenService(Err=1060)\n"));
    EXPECT_FALSE(Contains(trace, "QV_UnRegisterService: <=== QV_UnRegisterService(Ret=0\n"));
    // The empty attach path is passed on and does nothing.
    EXPECT_TRUE(TraceOf("QV_DeleteRegistry").empty());
    for (const char* call : {"DeleteFileA", "MoveFileExA", "RegDeleteKeyA", "DeleteService",
                             "SetupDiCallClassInstaller"}) {
        EXPECT_EQ(winsim::CallCount(call), 0u) << call;
    }
}

TEST_F(UninstallTest, FullInstallationIsRemoved) {
    CompleteInstallation();
    const std::string oemInf = Oem(".inf");
    const std::string oemPnf = oemInf.substr(0, oemInf.size() - 4) + ".pnf";

    EXPECT_EQ(Remove(), 0);

    EXPECT_TRUE(winsim::Devices().empty());
    EXPECT_FALSE(winsim::FindService("QVMIRROR"));
    EXPECT_FALSE(winsim::Exists(oemInf));
    EXPECT_FALSE(winsim::Exists(oemPnf));
    EXPECT_FALSE(winsim::RegistryKeyExists(kVideoKey + "\\" + kGuidA));
    EXPECT_FALSE(winsim::RegistryKeyExists(kVideoKey + "\\" + kGuidB));
    EXPECT_TRUE(winsim::RegistryKeyExists(kVideoKey + "\\" + kOtherGuid + "\\Video"));
    EXPECT_FALSE(winsim::RegistryKeyExists(kProfileVideoKey + "\\" + kGuidA));
    EXPECT_TRUE(winsim::RegistryKeyExists(kProfileVideoKey));
    EXPECT_FALSE(winsim::RegistryKeyExists(kReinstallKey + "\\0003"));
    EXPECT_TRUE(winsim::RegistryKeyExists(kReinstallKey + "\\0001"));
    for (const char* file : {QV_MIRROR_DLL, QV_MIRROR_SYS, QV_MIRROR_INF, QV_MIRROR_PNF}) {
        EXPECT_FALSE(winsim::Exists(kBackup + "\\" + file)) << file;
    }
    EXPECT_FALSE(winsim::Exists(kLastGoodFolder + "\\" QV_MIRROR_DLL));
    EXPECT_FALSE(winsim::Exists(kLastGoodFolder + "\\drivers\\" QV_MIRROR_SYS));

    // The display driver always waits for the restart; the miniport in use too.
    const std::string dll = kSystemFolder + "\\" QV_MIRROR_DLL;
    const std::string sys = kSystemFolder + "\\drivers\\" QV_MIRROR_SYS;
    EXPECT_TRUE(winsim::Exists(dll));
    EXPECT_TRUE(winsim::Exists(sys));
    EXPECT_EQ(winsim::PendingFileOperations(),
              (std::vector<winsim::PendingFileOperation>{{dll, "", false}, {sys, "", false}}));
    Lines trace = Trace();
    EXPECT_TRUE(Contains(trace, "QV_DeleteFile: Error: DeleteFile(Err=32)\n"));
    EXPECT_TRUE(Contains(trace, "QV_RemoveFile:  --> QV_RemoveFile( " + sys + " )\n"));
    EXPECT_TRUE(Contains(trace, "QV_UnRegisterService: <=== QV_UnRegisterService(Ret=0\n"));

    winsim::Restart();
    EXPECT_FALSE(winsim::Exists(dll));
    EXPECT_FALSE(winsim::Exists(sys));
}

// Lookups first, then device and service, then files and keys, in the
// fixed order of the sequence.
TEST_F(UninstallTest, StepsRunInTheirFixedOrder) {
    CompleteInstallation();
    EXPECT_EQ(Remove(), 0);
    Lines entries;
    for (const std::string& line : Trace()) {
        if (line.find(" --> ") != std::string::npos || line.find("===> ") != std::string::npos) {
            entries.push_back(line.substr(0, line.find(':')));
        }
    }
    entries.erase(std::remove(entries.begin(), entries.end(), "QV_RemoveReadOnlyAttribute"), entries.end());
    entries.erase(std::remove(entries.begin(), entries.end(), "QV_DeleteAllSubKey"), entries.end());
    entries.erase(std::unique(entries.begin(), entries.end()), entries.end());
    EXPECT_EQ(entries, (Lines{"QV_Uninstall", "QV_UnRegisterMirrorDriver", "QV_GetOEMInfFileName", "QV_GetMirrorGuid",
                              "QV_GetAttachToDesktopPath", "QV_DeviceDriverUninstall", "QV_UnRegisterService",
                              "CqvServiceControll", "qvOpenService", "qvDeleteService", "QV_DeleteFile",
                              "QV_RemoveFile", "QV_DeleteFile", "QV_RemoveFile", "QV_DeleteRegistry",
                              "QV_GetReinstallRegPath", "QV_DeleteFile", "QV_DeleteRegistry", "QV_DeleteFile"}));
}

TEST_F(UninstallTest, SecondRemovalBeforeTheRestartEndsWith0) {
    CompleteInstallation();
    ASSERT_EQ(Remove(), 0);
    winsim::ClearDebugOutput();
    EXPECT_EQ(Remove(), 0);
    // What waits for the restart is asked for again, once more each.
    EXPECT_EQ(winsim::PendingFileOperations().size(), 4u);
    EXPECT_TRUE(Contains(Trace(), "qvOpenService: ERROR: OpenService(Err=1060)\n"));
    winsim::Restart();
    EXPECT_FALSE(winsim::Exists(kSystemFolder + "\\" QV_MIRROR_DLL));
}

TEST_F(UninstallTest, OemInfWithoutExtensionHasNoPrecompiledForm) {
    ASSERT_TRUE(winsim::SetRegistryString(
        "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E968-E325-11CE-BFC1-08002BE10318}\\0000",
        "MatchingDeviceId", "orvenik_tallomer_mirror"));
    ASSERT_TRUE(winsim::SetRegistryString(
        "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E968-E325-11CE-BFC1-08002BE10318}\\0000", "InfPath",
        "oem7"));
    ASSERT_TRUE(winsim::PutFile("C:\\Windows\\INF\\oem7", "inf"));
    ASSERT_TRUE(winsim::PutFile("C:\\Windows\\INF\\oem7.pnf", "pnf"));
    EXPECT_EQ(Remove(), 0);
    EXPECT_FALSE(winsim::Exists("C:\\Windows\\INF\\oem7"));
    EXPECT_TRUE(winsim::Exists("C:\\Windows\\INF\\oem7.pnf"));
    EXPECT_EQ(TraceOf("QV_DeleteFile").front(), " --> QV_DeleteFile( C:\\Windows\\INF\\oem7 )\n");
}

TEST_F(UninstallTest, MissingSystemFoldersSkipTheirSteps) {
    winsim::FailEveryCall("GetSystemDirectoryA", ERROR_ACCESS_DENIED);
    winsim::FailEveryCall("GetWindowsDirectoryA", ERROR_ACCESS_DENIED);
    EXPECT_EQ(Remove(), 0);
    EXPECT_TRUE(TraceOf("QV_DeleteFile").empty());
    EXPECT_TRUE(TraceOf("QV_RemoveFile").empty());
    EXPECT_EQ(TraceOf("QV_UnRegisterMirrorDriver"),
              (Lines{"===> QV_UnRegisterMirrorDriver()\n", "Error: GetSystemDirectory(Err=5)\n",
                     "Error: GetWindowsDirectory(Err=5)\n", "<=== QV_UnRegisterMirrorDriver()\n"}));
}

// Service control: the stop poll, as the uninstall sequence never asks for
// it but QV_UnRegisterService offers it.
struct StopCase {
    const char* name;
    DWORD state;
    unsigned pendingQueries;
    unsigned sleeps;
    bool stopped;
};

void PrintTo(const StopCase& param, std::ostream* os) { *os << param.name; }

class ServiceStopTest : public WinsimTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(ServiceStopTest, PollsAtMost30TimesThenDeletes) {
    winsim::Service service;
    service.name = "QVMIRROR";
    ASSERT_TRUE(winsim::AddService(service));
    ASSERT_TRUE(winsim::SetServiceState("QVMIRROR", GetParam().state));
    ASSERT_TRUE(winsim::ScriptServiceStop("QVMIRROR", GetParam().pendingQueries));

    EXPECT_EQ(QV_UnRegisterService("QVMIRROR", TRUE), 0u);
    EXPECT_EQ(winsim::SleepCalls(), std::vector<DWORD>(GetParam().sleeps, 1000));
    Lines stop = TraceOf("qvStopService");
    EXPECT_EQ(stop.front(), " --> CqvServiceControll::qvStopService()\n");
    EXPECT_EQ(Contains(stop, "  Service stopped successfully.\n"), GetParam().stopped);
    EXPECT_EQ(stop.size(), GetParam().state == SERVICE_STOPPED ? 1u : (GetParam().stopped ? 3u : 2u));
    EXPECT_EQ(TraceOf("qvDeleteService"), (Lines{" --> CqvServiceControll::qvDeleteService()\n"}));
    EXPECT_EQ(TraceOf("QV_UnRegisterService").back(), "<=== QV_UnRegisterService(Ret=0\n");
}

INSTANTIATE_TEST_SUITE_P(
    Service, ServiceStopTest,
    ::testing::Values(StopCase{"AlreadyStopped", SERVICE_STOPPED, 0, 0, false},
                      StopCase{"StopsAtOnce", SERVICE_RUNNING, 0, 0, true},
                      StopCase{"StopsAfterThreeQueries", SERVICE_RUNNING, 3, 3, true},
                      StopCase{"StopsAtTheLastQuery", SERVICE_RUNNING, 29, 29, true},
                      StopCase{"NeverStops", SERVICE_RUNNING, winsim::kNeverStops, 30, false}),
    [](const ::testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

class ServiceControlTest : public WinsimTest {};

TEST_F(ServiceControlTest, MissingServiceIsReportedWithoutExitLine) {
    EXPECT_EQ(QV_UnRegisterService("QVMIRROR", FALSE), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(Trace(),
              (Lines{"QV_UnRegisterService: ===> QV_UnRegisterService(Service=QVMIRROR, Stop=FALSE)\n",
                     "CqvServiceControll:  --> CqvServiceControll::CqvServiceControll(QVMIRROR)\n",
                     "qvOpenService:  --> CqvServiceControll::qvOpenService()\n",
                     "qvOpenService: ERROR: OpenService(Err=1060)\n",
                     "QV_FormatErrorCode: ErrorCode(1060):The specified service does not exist as an installed "
                     "service.\r\n"}));
    EXPECT_EQ(winsim::CallCount("DeleteService"), 0u);
}

TEST_F(ServiceControlTest, NoServiceManagerReportsBothFailures) {
    winsim::FailEveryCall("OpenSCManagerA", ERROR_ACCESS_DENIED);
    EXPECT_EQ(QV_UnRegisterService("QVMIRROR", FALSE), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    Lines trace = Trace();
    EXPECT_TRUE(Contains(trace, "CqvServiceControll: ERROR: OpenSCManager(Err=5)\n"));
    EXPECT_TRUE(Contains(trace, "qvOpenService: ERROR: OpenService(Err=6)\n"));
}

TEST_F(ServiceControlTest, ServiceAlreadyMarkedForDeletionIsReported) {
    winsim::Service service;
    service.name = "QVMIRROR";
    ASSERT_TRUE(winsim::AddService(service));
    ASSERT_TRUE(winsim::SetServiceState("QVMIRROR", SERVICE_RUNNING));  // stays until stopped
    ASSERT_EQ(QV_UnRegisterService("QVMIRROR", FALSE), 0u);
    winsim::ClearDebugOutput();
    EXPECT_EQ(QV_UnRegisterService("QVMIRROR", FALSE), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    EXPECT_EQ(TraceOf("qvDeleteService"),
              (Lines{" --> CqvServiceControll::qvDeleteService()\n", "ERROR: DeleteService(Err=1072)\n"}));
    EXPECT_EQ(TraceOf("QV_UnRegisterService").back(), "<=== QV_UnRegisterService(Ret=1072\n");
}

TEST_F(ServiceControlTest, NameTooLongForItsFieldOpensNothing) {
    winsim::Service service;
    service.name = "QVMIRROR";
    ASSERT_TRUE(winsim::AddService(service));
    const std::string longName = "QVMIRROR" + std::string(300, 's');
    EXPECT_NE(QV_UnRegisterService(longName.c_str(), FALSE), 0u);
    EXPECT_EQ(winsim::CallCount("DeleteService"), 0u);
    EXPECT_TRUE(winsim::FindService("QVMIRROR"));
}

// Device removal: every present device that lists the ID, once each.
TEST_F(ServiceControlTest, EveryPresentDeviceWithTheIdIsRemovedOnce) {
    const std::string id = "Orvenik_Tallomer_Mirror";
    struct {
        const char* instance;
        std::string ids;
        bool present;
    } devices[] = {
        {"ROOT\\DISPLAY\\0000", winsim::MultiString({id}), true},
        {"ROOT\\DISPLAY\\0001", winsim::MultiString({"Other", id, id}), true},
        {"ROOT\\DISPLAY\\0002", winsim::MultiString({id}), false},
        {"ROOT\\DISPLAY\\0003", winsim::MultiString({"orvenik_tallomer_mirror", id + "X"}), true},
    };
    for (const auto& spec : devices) {
        winsim::Device device;
        device.instance_id = spec.instance;
        device.hardware_ids = spec.ids;
        device.present = spec.present;
        ASSERT_TRUE(winsim::AddDevice(device));
    }
    winsim::FailNthCall("SetupDiCallClassInstaller", 1, ERROR_ACCESS_DENIED);

    EXPECT_FALSE(QV_DeviceDriverUninstall(id.c_str()));
    Lines remaining;
    for (const winsim::Device& device : winsim::Devices()) {
        remaining.push_back(device.instance_id);
    }
    EXPECT_EQ(remaining, (Lines{"ROOT\\DISPLAY\\0000", "ROOT\\DISPLAY\\0002", "ROOT\\DISPLAY\\0003"}));
    Lines trace = TraceOf("QV_DeviceDriverUninstall");
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "Found! [Orvenik_Tallomer_Mirror]\n"), 2);
    EXPECT_EQ(winsim::CallCount("SetupDiCallClassInstaller"), 2u);
    EXPECT_TRUE(Contains(TraceOf("QV_DisplayError"), "CallClassInstaller(REMOVE) FAILURE: Code=5 : Access is denied.\r\n\n"));
    EXPECT_EQ(trace.back(), " <-- QV_DeviceDriverUninstall(search result=FALSE)\n");
}

}  // namespace
