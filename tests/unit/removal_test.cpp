// The "/R" operation: what goes, in which order, what waits for the restart,
// and that a removal always ends with 0.
#include "machine_test.h"

#include <regex>

namespace {

const std::string kProfileKeyA = kProfileVideoKey + "\\" + kGuidA;

// The removal's steps in the order they ran: the entry lines of the lookups
// and removals, addresses masked.
Lines Steps() {
    static const std::regex address("0x(?!80000002\\b)[0-9a-f]+");
    const std::string steps = "|QV_GetOEMInfFileName|QV_GetMirrorGuid|QV_GetAttachToDesktopPath|QV_GetReinstallRegPath|"
                              "QV_DeviceDriverUninstall|QV_UnRegisterService|QV_DeleteFile|QV_RemoveFile|"
                              "QV_DeleteRegistry|";
    Lines lines;
    Record record;
    for (const std::string& entry : winsim::DebugOutput()) {
        if (ParseRecord(entry, &record) && steps.find("|" + record.function + "|") != std::string::npos &&
            (record.message.compare(0, 5, " --> ") == 0 || record.message.compare(0, 5, "===> ") == 0)) {
            lines.push_back(std::regex_replace(record.message, address, "0x#"));
        }
    }
    return lines;
}

std::string Pending() {
    std::string paths;
    for (const auto& operation : winsim::PendingFileOperations()) paths += operation.source + ";";
    return paths;
}

using RemovalTest = MachineTest;

TEST_F(RemovalTest, FullInstallationGoesInTheFixedOrder) {
    PutInstallation();
    const Snapshot before = Take();
    EXPECT_EQ(RunProgram({"/R"}), 0);
    // The display driver always waits for the restart.
    EXPECT_EQ(Pending(), kSystemFolder + "\\" + kDll + ";");
    EXPECT_TRUE(winsim::Exists(kSystemFolder + "\\" + kDll));
    auto file = [](const std::string& folder, const std::string& name) {
        return " --> QV_DeleteFile( " + folder + ", " + name + " )\n";
    };
    auto key = [](const std::string& path) { return " --> QV_DeleteRegistry(0x80000002, " + path + ")\n"; };
    EXPECT_EQ(Steps(), (Lines{" --> QV_GetOEMInfFileName()\n", " --> QV_GetMirrorGuid( 0x# )\n",
                              " --> QV_GetAttachToDesktopPath( 0x#, 0x# )\n",
                              " --> QV_DeviceDriverUninstall(HardwareID: [" + kHardwareId + "]\n",
                              "===> QV_UnRegisterService(Service=QVMIRROR, Stop=FALSE)\n",
                              " --> QV_DeleteFile( " + kInfFolder + "\\oem7.inf )\n",
                              " --> QV_DeleteFile( " + kInfFolder + "\\oem7.pnf )\n",
                              " --> QV_RemoveFile( " + kSystemFolder + ", " + kDll + " )\n",
                              file(kSystemFolder + "\\drivers", kSys), key(kVideoKey + ", " + kGuidA),
                              key(kVideoKey + ", " + kGuidB), key(kProfileKeyA), " --> QV_GetReinstallRegPath()\n",
                              file(kBackup, kDll), file(kBackup, kSys), file(kBackup, kInf), file(kBackup, kPnf),
                              key(kReinstallKey + "\\0003"), file(kLastGoodFolder, kDll),
                              file(kLastGoodFolder + "\\drivers", kSys)}));
    winsim::Restart();
    EXPECT_EQ(Unexpected(before, Take(), Expected(0)), Lines{});
}

// Files in use and a running service wait for the restart; a second removal
// before it finds only what waits, and ends with 0 as well.
TEST_F(RemovalTest, WhatIsInUseGoesAtTheRestart) {
    PutInstallation();
    ASSERT_TRUE(winsim::SetFileInUse(kSystemFolder + "\\drivers\\" + kSys));
    ASSERT_TRUE(winsim::SetServiceState(kService, SERVICE_RUNNING));
    const Snapshot before = Take();
    EXPECT_EQ(RunProgram({"/R"}), 0);
    EXPECT_TRUE(Traced("QV_DeleteFile", "Error: DeleteFile(Err=32)\n"));
    EXPECT_EQ(Pending(), kSystemFolder + "\\" + kDll + ";" + kSystemFolder + "\\drivers\\" + kSys + ";");
    EXPECT_TRUE(winsim::FindService(kService)->marked_for_deletion);
    winsim::ClearDebugOutput();
    EXPECT_EQ(RunProgram({"/R"}), 0);
    EXPECT_TRUE(Traced("qvDeleteService", "ERROR: DeleteService(Err=1072)\n"));
    EXPECT_TRUE(Traced("QV_UnRegisterService", "<=== QV_UnRegisterService(Ret=1072\n"));
    winsim::Restart();
    EXPECT_EQ(Unexpected(before, Take(), Expected(0)), Lines{});
    EXPECT_FALSE(winsim::FindService(kService));
}

}  // namespace
