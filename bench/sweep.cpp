// CPU time of "/A" and "/R" against the simulated Windows at one size.
//
//   dravmel_sweep SIZE RUNS
//
// Populates a machine of SIZE (bench::PopulateMachine) once; each run is a
// child process on a copy of it, so that every run starts from the same
// state: "/A" from the populated machine, "/R" after "/A" and the rest of
// an installation (untimed). Prints one line per run:
//   install|remove SIZE CPU_SECONDS
// CPU time is the child's, user and system, from just before the program's
// entry point to just after it returns.
#include "machine_setup.h"

#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Runs one operation in a child; its CPU time, or a negative number when
// the set-up or the program failed.
double TimeInChild(bool remove) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        close(fds[0]);
        double seconds = -1;
        bench::PutDriverPackage();
        if (!remove || bench::CompleteInstallation()) {
            const double start = CpuSeconds();
            const int result = remove ? bench::RunRemove() : bench::RunInstall();
            const double end = CpuSeconds();
            if (result == 0) seconds = end - start;
        }
        const ssize_t written = write(fds[1], &seconds, sizeof(seconds));
        _exit(written == static_cast<ssize_t>(sizeof(seconds)) ? 0 : 1);
    }
    close(fds[1]);
    double seconds = -1;
    if (read(fds[0], &seconds, sizeof(seconds)) != static_cast<ssize_t>(sizeof(seconds))) seconds = -1;
    close(fds[0]);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return seconds;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: dravmel_sweep SIZE RUNS\n");
        return 2;
    }
    const unsigned size = static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10));
    const int runs = std::atoi(argv[2]);
    bench::PopulateMachine(size);
    for (int run = 0; run < runs; ++run) {
        for (bool remove : {false, true}) {
            const double seconds = TimeInChild(remove);
            if (seconds < 0) {
                std::fprintf(stderr, "dravmel_sweep: %s at size %u failed\n", remove ? "/R" : "/A", size);
                return 1;
            }
            std::printf("%s %u %.9f\n", remove ? "remove" : "install", size, seconds);
        }
    }
    return 0;
}
