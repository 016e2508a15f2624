// A simulated machine with the mirror driver installed among other drivers'
// entries and decoys, and the check that a run removed exactly what it should.
#pragma once

#include "machine_paths.h"
#include "variant.h"
#include <winsim/machine.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace hostile {

using Lines = std::vector<std::string>;

// Shared constants are inline so that each test file's own constants,
// built from them, see them initialized.
inline const std::string kGuidA = "{11111111-2222-3333-4444-555555555555}";      // named by VideoID
inline const std::string kGuidB = "{AAAAAAAA-2222-3333-4444-555555555555}";      // a second mirror video key
inline const std::string kGuidOther = "{55555555-2222-3333-4444-555555555555}";  // another adapter's

inline const std::string kMirrorDevice = "ROOT\\DISPLAY\\0000";
inline const std::string kOtherDevice = "PCI\\VEN_8086&DEV_1234\\3&11583659&0&10";
inline const std::string kMirrorClassKey = kDisplayClassKey + "\\0002";  // the mirror device's driver key
inline const std::string kOtherClassKey = kDisplayClassKey + "\\0000";
inline const std::string kBackup = "C:\\Windows\\System32\\ReinstallBackups\\0003\\DriverFiles";  // the mirror's
inline const std::string kOtherBackup = "C:\\Windows\\System32\\ReinstallBackups\\0001\\DriverFiles";

// The variant's DLL, SYS, INF and PNF.
inline const char* const kDriverFiles[4] = {QV_MIRROR_DLL, QV_MIRROR_SYS, QV_MIRROR_INF, QV_MIRROR_PNF};

// Puts a file and remembers it for the snapshots.
void PutTracked(const std::string& path, const std::string& contents = "x", DWORD attributes = FILE_ATTRIBUTE_ARCHIVE);
// Remembers a file created by someone else (an installation).
void Track(const std::string& path);
// Forgets every tracked file (a fresh machine).
void ForgetTracked();

// What a removal run can take away: registry keys (all of them), the
// tracked files and the devices, by upper-cased name.
struct Snapshot {
    std::map<std::string, std::string> keys;
    std::map<std::string, std::string> files;
    std::map<std::string, std::string> devices;
};
Snapshot Take();

// Pieces of an installation; a case names the ones whose removal a hostile
// value must prevent.
enum Part : unsigned {
    kDevicePart = 1u << 0,     // the device and its driver key
    kServicePart = 1u << 1,    // Services\QVMIRROR
    kOemPart = 1u << 2,        // INF\oem7.inf and oem7.pnf
    kSystemPart = 1u << 3,     // System32's DLL and drivers\SYS, at the restart
    kVideoPart = 1u << 4,      // Video\{A} and Video\{B}
    kProfilePart = 1u << 5,    // the profile's Video\{A}
    kReinstallPart = 1u << 6,  // Reinstall\0003 and its copy's four files
    kLastGoodPart = 1u << 7,   // LastGood's DLL and drivers\SYS
};

// A complete installation of the mirror (as Windows leaves it) with another
// adapter's entries and decoy files around it.
void PutInstallation();

struct Removal {
    Lines keys;     // key trees that go, whole
    Lines files;    // files that go, now or at the restart
    Lines devices;  // devices that go
};
// What the removal of the installation takes, less the parts kept.
Removal Expected(unsigned keptParts);

// Checks that before -> after took away exactly what was expected: each
// removed key lies in an expected tree and each expected tree is gone; the
// removed files and devices are exactly the expected ones.
void ExpectRemoved(const Snapshot& before, const Snapshot& after, const Removal& expected);

// "/R" then a restart; the exit code.
int RemoveAndRestart();

// Whether a trace record of the function carries the message (line end
// included); read from the debugger channel without parsing every record.
bool Traced(const std::string& function, const std::string& message);
size_t CountTraced(const std::string& function, const std::string& message);

// A string value's bytes as given, with its type.
void SetRaw(const std::string& key, const std::string& name, const std::string& bytes, DWORD type = REG_SZ);

// A hostile change to the installation and what "/R" must then take.
struct RemovalCase {
    const char* name;
    std::function<void()> change;
    unsigned keptParts;  // parts the change makes the lookups refuse
    Lines keys;          // key trees that go besides the parts
    Lines files;         // files that go besides the parts
    std::vector<std::pair<std::string, std::string>> reported;  // function, message
};

inline void PrintTo(const RemovalCase& param, std::ostream* os) { *os << param.name; }

// A fresh machine holding the installation; every test leaves no handle
// open and no allocation live.
class InstalledMachineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Applies the change, runs "/R" and a restart, checks what went.
    void RunRemoval(const RemovalCase& test);
};

}  // namespace hostile
