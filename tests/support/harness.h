// Shared by the host tests, the fault sweep and the fuzz targets: runs the
// program against the simulated machine, reads its trace back, sets up the
// machines the scenarios start from and tells what a run took away.
#pragma once

#include "expected.h"

#include <winsim/machine.h>

#include <map>
#include <string>
#include <vector>

using Lines = std::vector<std::string>;

std::string Upper(std::string text);
// Stops the program when a machine set-up step or a fuzzed promise failed.
void Require(bool done, const std::string& what);
// Whether a key path is the root or lies below it.
bool Within(const std::string& key, const std::string& root);

// The program's entry point, renamed in the test build.
int DravmelProgramMain(int argc, char* argv[]);
// Runs the program with these arguments after its own name.
int RunProgram(const Lines& arguments);

// "yyyy/mm/dd hh:mm:ss:mmm,<tag>,<line>,0,<function>,<message>": ParseRecord
// checks the first four fields and a message of one line, and keeps the others.
struct Record {
    std::string time;
    std::string function;
    std::string message;
};
bool ParseRecord(const std::string& text, Record* record);
// A log split where records begin (a record without a line end leaves the
// next one on its line); false when a piece is no whole record.
bool SplitLog(const std::string& text, std::vector<Record>* records);

// The debugger channel: the messages of one function's records, in order;
// whether a record of the function carries the message; the lines written
// before the log was open ("<tag>: <text>"), as their text.
Lines TraceOf(const std::string& function);
bool Traced(const std::string& function, const std::string& message);
Lines DebuggerLines();

// The driver package a setup program hands to "/A": INF, DLL and SYS.
inline const std::string kPackage = "C:\\Drv";
void PutPackage(const std::string& folder = kPackage);
// Present devices that list the hardware ID, by instance ID.
Lines MirrorDevices();

// A complete installation of the mirror as Windows leaves it (device, driver
// key, INF copy oem7.inf with its .pnf, service, two video keys, profile key,
// reinstall entry with its copy, system and last-known-good files), among
// another adapter's entries and decoy files that no lookup names.
inline const std::string kGuidA = "{11111111-2222-3333-4444-555555555555}";  // named by VideoID
inline const std::string kGuidB = "{AAAAAAAA-2222-3333-4444-555555555555}";
inline const std::string kMirrorDevice = "ROOT\\DISPLAY\\0000";
inline const std::string kMirrorClassKey = kDisplayClassKey + "\\0002";
inline const std::string kBackup = "C:\\Windows\\System32\\ReinstallBackups\\0003\\DriverFiles";
void PutInstallation();

// What a removal can take away: keys (their name, a line end and their
// values), files (their name, a line end and their contents) and devices, by
// upper-case name.
struct Snapshot {
    std::map<std::string, std::string> keys;
    std::map<std::string, std::string> files;
    std::map<std::string, std::string> devices;
};
Snapshot Take();

// Pieces of the installation; a hostile machine may keep some from going.
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
struct Removal {
    Lines keys{};  // key trees that go, whole
    Lines files{};
    Lines devices{};
};
// What the removal of the installation takes, less the parts kept.
Removal Expected(unsigned keptParts);
// How before -> after differs from the expected removal, one line a fault:
// empty when exactly the expected keys, files and devices went.
Lines Unexpected(const Snapshot& before, const Snapshot& after, const Removal& expected);
