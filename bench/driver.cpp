// Runs the program (dravmel_bench) or the untraced program
// (dravmel_bench_untraced) against winsim:
//   driver records COUNT         COUNT trace records, log open
//   driver install|remove SIZE   "/A" or "/R" with SIZE devices and sub-keys
//   driver calls install|remove|remove-nothing
//       the same with 10, printing the run's platform calls; remove-nothing
//       is "/R" with nothing installed, where most lookups fail
// Under callgrind (--instr-atstart=no --collect-atstart=no) only the records
// or the run are counted.
#include "common.h"
#include "harness.h"

#include <valgrind/callgrind.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

// Sorts after every video sub-key Populate makes.
const std::string kMirrorVideoId = "{F0000000-0000-4000-8000-000000000000}";
const std::string kBackup = "C:\\Windows\\System32\\ReinstallBackups\\9999\\DriverFiles";

std::string Format(const char* format, unsigned n) {
    char text[128];
    std::snprintf(text, sizeof(text), format, n);
    return text;
}

void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "driver: set-up failed: %s\n", what);
    std::exit(2);
}

// COUNT present devices, display-class sub-keys and video sub-keys, none the
// mirror's, and the driver package. The mirror's own entries sort last, so
// every lookup walks all of them: class key 9999 is left for "/A" (winsim
// numbers up to 9999). Instance IDs differ in their first character, which
// keeps AddDevice fast.
void Populate(unsigned count) {
    winsim::Reset();
    for (unsigned i = 0; i < count; ++i) {
        winsim::Device device;
        device.instance_id = Format("%05u", i) + "\\VEN_10DE&DEV_1C82\\4&1A2B3C4D&0&0008";
        std::reverse(device.instance_id.begin(), device.instance_id.begin() + 5);
        device.hardware_ids = winsim::MultiString(
            {Format("PCI\\VEN_10DE&DEV_1C82&SUBSYS_%08X&REV_A1", i), "PCI\\VEN_10DE&DEV_1C82"});
        device.description = "Other display adapter";
        Check(winsim::AddDevice(device), "device");
        const std::string classKey = kDisplayClassKey + "\\" + (i < 9999 ? Format("%04u", i) : Format("%05u", i + 1));
        Check(winsim::SetRegistryString(classKey, "MatchingDeviceId", "pci\\ven_10de&dev_1c82") &&
                  winsim::SetRegistryString(classKey, "InfPath", "oem1.inf"),
              "class key");
        const std::string videoKey = kVideoKey + Format("\\{0%07X-1111-4222-8333-444444444444}", i);
        Check(winsim::SetRegistryString(videoKey + "\\Video", "Service", "nvlddmkm") &&
                  winsim::CreateRegistryKey(videoKey + "\\0000"),
              "video key");
    }
    PutPackage();
}

const Lines kInstall = {"/A", "/S:" + kPackage};
const Lines kRemove = {"/R"};

// "/A", and what Windows adds to an installation: what "/R" removes.
void CompleteInstallation() {
    Check(RunProgram(kInstall) == 0, "\"/A\"");
    const std::string video = kVideoKey + "\\" + kMirrorVideoId;
    const std::string reinstall = kReinstallKey + "\\9999";
    bool ok = winsim::SetRegistryString(video + "\\Video", "Service", kService) &&
              winsim::CreateRegistryKey(video + "\\0000") &&
              winsim::SetRegistryString(kServiceVideoKey, "VideoID", kMirrorVideoId) &&
              winsim::SetRegistryDword(kProfileVideoKey + "\\" + kMirrorVideoId + "\\0000", "Attach.ToDesktop", 0) &&
              winsim::SetRegistryString(reinstall, "DeviceDesc", kDeviceDesc) &&
              winsim::SetRegistryString(reinstall, "ReinstallString", kBackup + "\\" + kInf) &&
              winsim::MakeDirectories(kBackup) && winsim::MakeDirectories(kLastGoodFolder + "\\drivers") &&
              winsim::PutFile(kLastGoodFolder + "\\" + kDll, "dll") &&
              winsim::PutFile(kLastGoodFolder + "\\drivers\\" + kSys, "sys");
    for (const std::string& file : {kDll, kSys, kInf, kPnf}) ok = ok && winsim::PutFile(kBackup + "\\" + file, file);
    Check(ok, "installation entries");
}

template <class Work>
__attribute__((noinline)) int Counted(Work work) {
    CALLGRIND_START_INSTRUMENTATION;
    CALLGRIND_TOGGLE_COLLECT;
    const int result = work();
    CALLGRIND_TOGGLE_COLLECT;
    CALLGRIND_STOP_INSTRUMENTATION;
    return result;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: driver records COUNT | install|remove SIZE | calls OPERATION\n");
        return 2;
    }
    const std::string mode = argv[1], argument = argv[2];
    if (mode == "records") {
        const unsigned count = static_cast<unsigned>(std::strtoul(argument.c_str(), nullptr, 10));
        winsim::Reset();
        Check(QV_OpenLogFile(kDefaultLog.c_str()), "log file");
        Counted([count] {
            for (unsigned i = 0; i < count; ++i) {
                QV_WriteLog("uninstall", 170, "QV_GetOEMInfFileName", "[%d] Key=[%s] MatchingDeviceId=[%s]\n", 1234,
                            "1234", "pci\\ven_10de&dev_1c82");
            }
            return 0;
        });
        QV_CloseLogFile();
        return 0;
    }
    const bool calls = mode == "calls";
    const bool remove = (calls ? argument : mode).rfind("remove", 0) == 0;
    Populate(calls ? 10 : static_cast<unsigned>(std::strtoul(argument.c_str(), nullptr, 10)));
    if (remove && argument != "remove-nothing") CompleteInstallation();
    const size_t start = winsim::CallLog().size();
    const Lines& arguments = remove ? kRemove : kInstall;
    const int result = calls ? RunProgram(arguments) : Counted([&arguments] { return RunProgram(arguments); });
    for (size_t i = start; calls && i < winsim::CallLog().size(); ++i) std::puts(winsim::CallLog()[i].c_str());
    return result;
}
