// Runs one measured piece of work for callgrind, which counts only that:
// run it with --instr-atstart=no (set-up runs uninstrumented, and so fast)
// and --collect-atstart=no.
//
//   dravmel_count records closed|open|format COUNT
//       COUNT trace records (or QV_FormatErrorCode calls) in a row.
//   dravmel_count sweep SIZE
//       Populates a machine of SIZE once, then in one child process each
//       runs the counted "/A", and "/A" plus the installation's entries
//       followed by the counted "/R". Each child leaves its own profile
//       (--callgrind-out-file with %p); the lines "install PID" and
//       "remove PID" on standard output tell which is which.
#include "machine_setup.h"
#include "records.h"

#include <winsim/machine.h>

#include <valgrind/callgrind.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The counted parts; their names appear in the profiles.
__attribute__((noinline)) int CollectInstall() {
    CALLGRIND_START_INSTRUMENTATION;
    CALLGRIND_TOGGLE_COLLECT;
    int result = bench::RunInstall();
    CALLGRIND_TOGGLE_COLLECT;
    CALLGRIND_STOP_INSTRUMENTATION;
    return result;
}

__attribute__((noinline)) int CollectRemove() {
    CALLGRIND_START_INSTRUMENTATION;
    CALLGRIND_TOGGLE_COLLECT;
    int result = bench::RunRemove();
    CALLGRIND_TOGGLE_COLLECT;
    CALLGRIND_STOP_INSTRUMENTATION;
    return result;
}

__attribute__((noinline)) void CollectRecords(bench::RecordKind kind, unsigned count) {
    CALLGRIND_START_INSTRUMENTATION;
    CALLGRIND_TOGGLE_COLLECT;
    for (unsigned i = 0; i < count; ++i) bench::WriteRecord(kind);
    CALLGRIND_TOGGLE_COLLECT;
    CALLGRIND_STOP_INSTRUMENTATION;
}

// Runs fn in a child process on a copy of the machine and prints
// "NAME PID"; true when the child ended with 0.
template <class Fn>
bool InChild(const char* name, Fn fn) {
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) _exit(fn());
    std::printf("%s %d\n", name, static_cast<int>(pid));
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: dravmel_count records closed|open|format COUNT\n"
                 "       dravmel_count sweep SIZE\n");
    return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc == 4 && std::strcmp(argv[1], "records") == 0) {
        bench::RecordKind kind;
        if (!bench::ParseRecordKind(argv[2], &kind)) return Usage();
        const unsigned count = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10));
        bench::PrepareRecords(kind);
        CollectRecords(kind, count);
        bench::FinishRecords();
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "sweep") == 0) {
        const unsigned size = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
        bench::PopulateMachine(size);
        bool ok = InChild("install", [] {
            bench::PutDriverPackage();
            return CollectInstall();
        });
        ok &= InChild("remove", [] {
            bench::PutDriverPackage();
            if (!bench::CompleteInstallation()) return 1;
            return CollectRemove();
        });
        return ok ? 0 : 1;
    }
    return Usage();
}
