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
    const std::string last = "Process return. (Ret=" + std::to_string(exitCode) + ")\n";
    Require(Traced("main", last), "main's closing record");
    // The log the rules name: the last "/L:" value, the default for none or an empty one.
    std::string log = kDefaultLog;
    for (const std::string& argument : arguments) {
        if (Upper(argument.substr(0, 3)) == "/L:") log = argument.size() > 3 ? argument.substr(3) : kDefaultLog;
    }
    const auto contents = winsim::FileContents(log);
    if (!contents) {
        // Missing only where no log can be opened.
        HANDLE file = CreateFileA(log.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        Require(file == INVALID_HANDLE_VALUE, "no log where one can be written: " + log);
        return 0;
    }
    // A value is traced as given: one with a line end makes a record of more than one line.
    auto lineEnd = [](const std::string& argument) { return argument.find_first_of("\r\n") != std::string::npos; };
    if (std::any_of(arguments.begin(), arguments.end(), lineEnd)) {
        const std::string closing = ",main," + last;
        Require(contents->size() >= closing.size() && contents->compare(contents->size() - closing.size(),
                                                                        closing.size(), closing) == 0,
                "a log ending with main's record");
        return 0;
    }
    std::vector<Record> records;
    Require(SplitLog(*contents, &records) && !records.empty() && records.back().message == last,
            "a log of whole records ending with main's");
    return 0;
}
