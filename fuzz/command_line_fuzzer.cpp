// Fuzzes the command line: the input is the argument list, split at NUL
// bytes, given to the program with a driver package in C:\Drv. A broken
// promise aborts, and libFuzzer keeps the input.
#include "harness.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    Lines arguments;
    for (size_t at = 0; at <= input.size() && arguments.size() < 16;) {
        const size_t end = std::min(input.find('\0', at), input.size());
        arguments.push_back(input.substr(at, end - at));
        at = end + 1;
    }
    winsim::Reset();
    PutPackage();
    const auto files = winsim::Files();
    const int exitCode = RunProgram(arguments);
    Require(exitCode == 0 || exitCode == kExitInstallFailed || exitCode == kExitFileMissing ||
                exitCode == kExitBadCommandLine,
            "an exit code of the command-line rules");
    Require(winsim::OpenHandleCount() == 0 && winsim::LiveAllocationCount() == 0, "nothing left open");
    const Lines lines = DebuggerLines();
    if (exitCode == kExitBadCommandLine) {
        Require(!lines.empty() && lines.back() == "Invalid Parameter? (Ret=87)\n", "a refusal says so last");
        Require(winsim::Files() == files, "a refused command line writes no file");
        return 0;
    }
    Require(Traced("main", "Process return. (Ret=" + std::to_string(exitCode) + ")\n"), "main's closing record");
    std::string log;
    for (const std::string& line : lines) {
        if (line.rfind("szLogFileName=[", 0) == 0) log = line.substr(15, line.size() - 17);
    }
    const auto contents = winsim::FileContents(log);
    std::vector<Record> records;
    Require(!contents || (SplitLog(*contents, &records) && !records.empty() &&
                          records.back().message == "Process return. (Ret=" + std::to_string(exitCode) + ")\n"),
            "a log of whole records ending with main's");
    return 0;
}
