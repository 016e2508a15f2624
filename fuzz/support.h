// Shared by the fuzz targets: a run of the program on the simulated machine
// and the promises every run keeps. A broken promise aborts, so that
// libFuzzer keeps the input as a crash.
#pragma once

#include <winsim/machine.h>

#include <string>
#include <vector>

// The program's entry point, renamed in the host build.
int DravmelProgramMain(int argc, char* argv[]);

namespace fuzz {

// Where PutPackage puts the driver package.
extern const char kPackageFolder[];
// The log of a fresh machine when no "/L:" is given.
extern const char kDefaultLog[];

// The variant's INF, DLL and SYS in kPackageFolder.
void PutPackage();

// Whether the package files still hold what PutPackage put there.
bool PackageIntact();

// Runs the program with these arguments after its own name. Each argument
// lives in an allocation of exactly its size, so that reading past its
// terminator is caught.
int Run(const std::vector<std::string>& arguments);

// Prints the message and the end of the debugger channel, then aborts.
[[noreturn]] void Fail(const std::string& message);
inline void Check(bool condition, const std::string& message) {
    if (!condition) {
        Fail(message);
    }
}

// Every handle closed and every allocation freed after the run.
void CheckNothingLeaked(const std::string& run);
// The run's last debugger entry is main's closing record with the code.
void CheckClosingRecord(const std::string& run, int code);
// The log file ends with main's closing record with the code.
void CheckLogEnd(const std::string& run, const std::string& log, int code);
// The last debugger entry of a refused command line.
void CheckRefusalLine(const std::string& run, int code);

// Bytes as C-escaped text, for messages.
std::string Escape(const std::string& bytes);

// Whether a hardware-ID list names the mirror's ID as one of its strings
// within its bytes.
bool ListsMirrorId(const std::string& multiString);

}  // namespace fuzz
