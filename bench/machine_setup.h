// Simulated machines for the benchmarks: a populated machine, the sample
// driver package, and the state "/R" starts from.
#pragma once

#include <string>

namespace bench {

// The folder "/A /S:" names on the simulated machine.
extern const char kPackageFolder[];

// A fresh machine holding `count` present devices, `count` display-class
// sub-keys and `count` video sub-keys, none of them the mirror's. The mirror's
// own entries sort after them, so every lookup walks all of them.
void PopulateMachine(unsigned count);

// The driver package (INF, DLL, SYS) in kPackageFolder.
void PutDriverPackage();

// Runs the program with the given arguments; returns its exit code.
int RunDravmel(const char* const* arguments, int count);
int RunInstall();
int RunRemove();

// Runs "/A" with the driver package and adds what Windows adds to an
// installation (video, hardware-profile and reinstall entries, last-known-
// good copies): what "/R" removes. The debugger channel is cleared. False
// when something failed.
bool CompleteInstallation();

}  // namespace bench
