// The command line: the input, split at NUL bytes, is the argument list,
// run on a fresh machine that holds a driver package. The exit code must be
// the one the command-line rules give; a refused line opens no log.
#include "support.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

const size_t kMaxValue = 259;        // a value of 260 characters or more is refused
const size_t kMaxPackageFolder = 246;  // longer: a driver file path would not fit

// Matched on its first characters; letters without regard to case.
bool IsSwitch(const std::string& argument, const std::string& name) {
    if (argument.size() < name.size()) {
        return false;
    }
    for (size_t i = 0; i < name.size(); ++i) {
        char c = argument[i];
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
        if (c != name[i]) {
            return false;
        }
    }
    return true;
}

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) {
            return false;
        }
    }
    return true;
}

struct Expectation {
    bool faulty = false;
    bool install = false;
    std::string folder;               // the last "/S:" value
    std::vector<std::string> logs;    // every "/L:" value, in order
};

Expectation Expect(const std::vector<std::string>& arguments) {
    Expectation e;
    bool install = false;
    bool remove = false;
    for (const std::string& argument : arguments) {
        if (IsSwitch(argument, "/A")) {
            if (remove) {
                e.faulty = true;
                return e;
            }
            install = true;
        } else if (IsSwitch(argument, "/R")) {
            if (install) {
                e.faulty = true;
                return e;
            }
            remove = true;
        } else if (IsSwitch(argument, "/L:")) {
            e.logs.push_back(argument.substr(3));
            if (e.logs.back().size() > kMaxValue) {
                e.faulty = true;
                return e;
            }
        } else if (IsSwitch(argument, "/S:")) {
            e.folder = argument.substr(3);
            if (e.folder.size() > kMaxValue) {
                e.faulty = true;
                return e;
            }
        }
    }
    e.install = install;
    e.faulty = arguments.empty() || (!install && !remove) || (install && e.folder.empty());
    return e;
}

std::vector<std::string> Split(const uint8_t* data, size_t size) {
    std::vector<std::string> arguments;
    if (size == 0) {
        return arguments;
    }
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            arguments.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    arguments.push_back(current);
    return arguments;
}

void RunAndCheck(const std::vector<std::string>& arguments) {
    const Expectation expected = Expect(arguments);

    winsim::Reset();
    fuzz::PutPackage();

    // A refused line must leave every log it names as it was.
    std::vector<std::string> logs = expected.logs;
    logs.push_back(fuzz::kDefaultLog);
    std::vector<std::optional<std::string>> before;
    for (const std::string& log : logs) {
        before.push_back(log.size() <= kMaxValue ? winsim::FileContents(log) : std::nullopt);
    }

    const int code = fuzz::Run(arguments);
    const std::string run = "command line of " + std::to_string(arguments.size()) + " argument(s)";
    fuzz::CheckNothingLeaked(run);

    if (expected.faulty) {
        fuzz::Check(code == 87, run + ": exit code " + std::to_string(code) + " for a faulty command line, not 87");
        fuzz::CheckRefusalLine(run, code);
        for (size_t i = 0; i < logs.size(); ++i) {
            if (logs[i].size() <= kMaxValue) {
                fuzz::Check(winsim::FileContents(logs[i]) == before[i],
                            run + ": refused, yet the log was written: " + fuzz::Escape(logs[i]));
            }
        }
        return;
    }

    fuzz::CheckClosingRecord(run, code);
    if (!expected.install) {
        fuzz::Check(code == 0, run + ": \"/R\" ended with " + std::to_string(code) + ", not 0");
        return;
    }
    fuzz::Check(code == 0 || code == 50 || code == 51,
                run + ": \"/A\" ended with " + std::to_string(code) + ", not 0, 50 or 51");
    if (expected.folder.size() > kMaxPackageFolder) {
        fuzz::Check(code == 51, run + ": \"/A\" with a folder of " + std::to_string(expected.folder.size()) +
                                    " characters ended with " + std::to_string(code) + ", not 51");
    }
    // Unless the log went into a package file, the package installs.
    if (SameText(expected.folder, fuzz::kPackageFolder) && fuzz::PackageIntact()) {
        fuzz::Check(code == 0, run + ": \"/A\" of the package on a fresh machine ended with " +
                                   std::to_string(code) + ", not 0");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RunAndCheck(Split(data, size));
    // What the input allocated goes with it (libFuzzer's leak check counts).
    winsim::Reset();
    return 0;
}
