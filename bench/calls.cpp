// Checks against winsim that the untraced program (untraced.cpp) makes the
// program's platform calls for "/A" and "/R", in the same order, once the
// calls that only tracing makes are left out: the log file's (GetTempPathA,
// CreateFileA, SetFilePointer, WriteFile, CloseHandle) and the error texts'
// (FormatMessageA and the LocalFree of its text).
//   dravmel_calls SIZE
// Prints the number of calls compared; exits 1 at the first difference.
#include "machine_setup.h"

#include <winsim/machine.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

int UntracedProgramMain(int argc, char* argv[]);

namespace {

using Calls = std::vector<std::string>;

Calls WithoutTracing(const Calls& calls) {
    static const std::set<std::string> kLogCalls = {"GetTempPathA", "CreateFileA", "SetFilePointer", "WriteFile",
                                                    "CloseHandle"};
    Calls kept;
    bool afterErrorText = false;
    for (const std::string& call : calls) {
        if (kLogCalls.count(call) != 0) continue;
        if (call == "FormatMessageA") {
            afterErrorText = true;
            continue;
        }
        if (afterErrorText && call == "LocalFree") {
            afterErrorText = false;
            continue;
        }
        afterErrorText = false;
        kept.push_back(call);
    }
    return kept;
}

// The calls one run makes on a machine that prepare() set up.
template <class Prepare, class Run>
Calls CallsOf(unsigned size, Prepare prepare, Run run) {
    bench::PopulateMachine(size);
    bench::PutDriverPackage();
    if (!prepare()) {
        std::fprintf(stderr, "dravmel_calls: set-up failed\n");
        std::exit(1);
    }
    const size_t start = winsim::CallLog().size();
    const int result = run();
    if (result != 0) {
        std::fprintf(stderr, "dravmel_calls: a run ended with %d\n", result);
        std::exit(1);
    }
    const Calls& log = winsim::CallLog();
    return Calls(log.begin() + static_cast<std::ptrdiff_t>(start), log.end());
}

int RunUntraced(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "untraced.exe");
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    return UntracedProgramMain(static_cast<int>(arguments.size()), argv.data());
}

bool Compare(const char* operation, const Calls& program, const Calls& untraced) {
    const Calls expected = WithoutTracing(program);
    for (size_t i = 0; i < expected.size() || i < untraced.size(); ++i) {
        const std::string want = i < expected.size() ? expected[i] : "(end)";
        const std::string got = i < untraced.size() ? untraced[i] : "(end)";
        if (want != got) {
            std::printf("%s: call %zu differs: the program makes %s, the untraced program %s\n", operation, i + 1,
                        want.c_str(), got.c_str());
            return false;
        }
    }
    std::printf("%s: same %zu platform calls (the program: %zu with tracing)\n", operation, untraced.size(),
                program.size());
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    const unsigned size = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 10;
    const std::string source = std::string("/S:") + bench::kPackageFolder;
    auto nothing = [] { return true; };
    const Calls installProgram = CallsOf(size, nothing, [] { return bench::RunInstall(); });
    const Calls installUntraced = CallsOf(size, nothing, [&] { return RunUntraced({"/A", source}); });
    const Calls removeProgram = CallsOf(size, bench::CompleteInstallation, [] { return bench::RunRemove(); });
    const Calls removeUntraced = CallsOf(size, bench::CompleteInstallation, [] { return RunUntraced({"/R"}); });
    bool same = Compare("/A", installProgram, installUntraced);
    same &= Compare("/R", removeProgram, removeUntraced);
    return same ? 0 : 1;
}
