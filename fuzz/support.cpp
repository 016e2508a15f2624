#include "support.h"

#include "machine_paths.h"
#include "package_files.h"
#include "variant.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

namespace fuzz {

const char kPackageFolder[] = "C:\\Dravmel\\package";
const char kDefaultLog[] = "C:\\Users\\user\\AppData\\Local\\Temp\\\\QVDRAVMEL.LOG";

namespace {


bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string LastDebugEntry() {
    const std::vector<std::string>& output = winsim::DebugOutput();
    return output.empty() ? std::string() : output.back();
}

}  // namespace

void PutPackage() {
    Check(package_files::Put(kPackageFolder), "could not put the driver package");
}

bool PackageIntact() {
    return package_files::Intact(kPackageFolder);
}

int Run(const std::vector<std::string>& arguments) {
    std::vector<std::unique_ptr<char[]>> storage;
    std::vector<char*> argv;
    const char kProgram[] = "Dravmel.exe";
    storage.emplace_back(new char[sizeof(kProgram)]);
    std::memcpy(storage.back().get(), kProgram, sizeof(kProgram));
    for (const std::string& argument : arguments) {
        storage.emplace_back(new char[argument.size() + 1]);
        std::memcpy(storage.back().get(), argument.c_str(), argument.size() + 1);
    }
    for (const auto& argument : storage) {
        argv.push_back(argument.get());
    }
    argv.push_back(nullptr);
    return DravmelProgramMain(static_cast<int>(storage.size()), argv.data());
}

void Fail(const std::string& message) {
    std::fprintf(stderr, "\n*** broken promise: %s\n", message.c_str());
    const std::vector<std::string>& output = winsim::DebugOutput();
    const size_t shown = 40;
    const size_t first = output.size() > shown ? output.size() - shown : 0;
    std::fprintf(stderr, "*** last %zu of %zu debugger entries:\n", output.size() - first, output.size());
    for (size_t i = first; i < output.size(); ++i) {
        std::fprintf(stderr, "  %s\n", Escape(output[i]).c_str());
    }
    std::abort();
}

void CheckNothingLeaked(const std::string& run) {
    const size_t handles = winsim::OpenHandleCount();
    const size_t allocations = winsim::LiveAllocationCount();
    Check(handles == 0, run + ": " + std::to_string(handles) + " handle(s) left open");
    Check(allocations == 0, run + ": " + std::to_string(allocations) + " allocation(s) not freed");
}

void CheckClosingRecord(const std::string& run, int code) {
    const std::string last = LastDebugEntry();
    const std::string suffix = ",0,main,Process return. (Ret=" + std::to_string(code) + ")\n";
    Check(last.find("," QV_TRACE_TAG ",") != std::string::npos && EndsWith(last, suffix),
          run + ": the trace does not end with main's closing record; last entry: " + Escape(last));
}

void CheckLogEnd(const std::string& run, const std::string& log, int code) {
    const std::optional<std::string> contents = winsim::FileContents(log);
    const std::string suffix = ",0,main,Process return. (Ret=" + std::to_string(code) + ")\n";
    Check(contents && EndsWith(*contents, suffix),
          run + ": the log " + Escape(log) + " does not end with main's closing record");
}

void CheckRefusalLine(const std::string& run, int code) {
    const std::string last = LastDebugEntry();
    const std::string expected = QV_TRACE_TAG ": Invalid Parameter? (Ret=" + std::to_string(code) + ")\n";
    Check(last == expected, run + ": the trace does not end with the refusal; last entry: " + Escape(last));
}

std::string Escape(const std::string& bytes) {
    std::string text;
    for (unsigned char c : bytes) {
        if (c == '\\') {
            text += "\\\\";
        } else if (c >= 0x20 && c < 0x7f) {
            text += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\x%02x", c);
            text += escaped;
        }
    }
    return text;
}

bool ListsMirrorId(const std::string& multiString) {
    const std::string id = kMirrorHardwareId + '\0';  // with its terminator
    size_t start = 0;
    while (start < multiString.size() && multiString[start] != '\0') {
        const size_t end = multiString.find('\0', start);
        if (end == std::string::npos) {
            return false;
        }
        if (multiString.compare(start, end - start + 1, id) == 0) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

}  // namespace fuzz
