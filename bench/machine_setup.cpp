#include "machine_setup.h"

#include "machine_paths.h"
#include "package_files.h"
#include "variant.h"

#include <winsim/machine.h>

#include <cstdio>
#include <vector>

int DravmelProgramMain(int argc, char* argv[]);

namespace bench {

const char kPackageFolder[] = "C:\\Dravmel\\package";

namespace {

// Sorts after every other video sub-key ("{0...").
const char kMirrorVideoId[] = "{F0000000-0000-4000-8000-000000000000}";
const std::string kBackup = "C:\\Windows\\System32\\ReinstallBackups\\9999\\DriverFiles";

std::string Format(const char* format, unsigned n) {
    char text[128];
    std::snprintf(text, sizeof(text), format, n);
    return text;
}

// Display-class sub-key names: four digits as Windows numbers them, the
// last free one left for the mirror (the simulator numbers up to 9999).
std::string ClassSubKey(unsigned i) { return i < 9999 ? Format("%04u", i) : Format("%05u", i + 1); }

// A device's instance ID. It begins with the varying digits (lowest first),
// so that IDs differ in their first character: cheap to set up even where
// the simulator compares a new ID with every device's.
std::string InstanceId(unsigned i) {
    std::string digits;
    for (unsigned n = i, k = 0; k < 5; ++k, n /= 10) digits += static_cast<char>('0' + n % 10);
    return digits + "\\VEN_10DE&DEV_1C82\\4&1A2B3C4D&0&0008";
}

bool Check(bool ok, const char* what) {
    if (!ok) std::fprintf(stderr, "bench: set-up failed: %s\n", what);
    return ok;
}

}  // namespace

void PopulateMachine(unsigned count) {
    winsim::Reset();
    for (unsigned i = 0; i < count; ++i) {
        winsim::Device device;
        device.instance_id = InstanceId(i);
        device.hardware_ids = winsim::MultiString(
            {Format("PCI\\VEN_10DE&DEV_1C82&SUBSYS_%08X&REV_A1", i), "PCI\\VEN_10DE&DEV_1C82"});
        device.description = "Other display adapter";
        Check(winsim::AddDevice(device), "device");

        const std::string classSubKey = kDisplayClassKey + "\\" + ClassSubKey(i);
        Check(winsim::SetRegistryString(classSubKey, "MatchingDeviceId", "pci\\ven_10de&dev_1c82"), "class key");
        Check(winsim::SetRegistryString(classSubKey, "InfPath", "oem1.inf"), "class key");

        const std::string videoSubKey = kVideoKey + Format("\\{0%07X-1111-4222-8333-444444444444}", i);
        Check(winsim::SetRegistryString(videoSubKey + "\\Video", "Service", "nvlddmkm"), "video key");
        Check(winsim::CreateRegistryKey(videoSubKey + "\\0000"), "video key");
    }
    winsim::ClearDebugOutput();
}

void PutDriverPackage() {
    Check(package_files::Put(kPackageFolder), "driver package");
}

int RunDravmel(const char* const* arguments, int count) {
    std::vector<std::string> storage{"Dravmelx64.exe"};
    storage.insert(storage.end(), arguments, arguments + count);
    std::vector<char*> argv;
    for (std::string& argument : storage) argv.push_back(argument.data());
    argv.push_back(nullptr);
    return DravmelProgramMain(static_cast<int>(storage.size()), argv.data());
}

int RunInstall() {
    const std::string source = std::string("/S:") + kPackageFolder;
    const char* const arguments[] = {"/A", source.c_str()};
    return RunDravmel(arguments, 2);
}

int RunRemove() {
    const char* const arguments[] = {"/R"};
    return RunDravmel(arguments, 1);
}

bool CompleteInstallation() {
    if (!Check(RunInstall() == 0, "\"/A\"")) return false;
    bool ok = true;
    const std::string video = kVideoKey + "\\" + kMirrorVideoId;
    ok &= winsim::SetRegistryString(video + "\\Video", "Service", "QVMIRROR");
    ok &= winsim::CreateRegistryKey(video + "\\0000");
    ok &= winsim::SetRegistryString(kServiceKey + "\\VIDEO", "VideoID", kMirrorVideoId);
    ok &= winsim::SetRegistryDword(kProfileVideoKey + "\\" + kMirrorVideoId + "\\0000",
                                   "Attach.ToDesktop", 0);
    const std::string reinstall = kReinstallKey + "\\9999";
    ok &= winsim::SetRegistryString(reinstall, "DeviceDesc", "Orvenik Tallomer graphics driver");
    ok &= winsim::SetRegistryString(reinstall, "ReinstallString", kBackup + "\\" QV_MIRROR_INF);
    ok &= winsim::MakeDirectories(kBackup);
    ok &= winsim::MakeDirectories(kLastGoodFolder + "\\drivers");
    for (const char* file : {QV_MIRROR_DLL, QV_MIRROR_SYS, QV_MIRROR_INF, QV_MIRROR_PNF}) {
        ok &= winsim::PutFile(kBackup + "\\" + file, file);
    }
    ok &= winsim::PutFile(kLastGoodFolder + "\\" QV_MIRROR_DLL, "dll");
    ok &= winsim::PutFile(kLastGoodFolder + "\\drivers\\" QV_MIRROR_SYS, "sys");
    winsim::ClearDebugOutput();
    return Check(ok, "installation entries");
}

}  // namespace bench
