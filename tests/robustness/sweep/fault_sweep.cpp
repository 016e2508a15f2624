// Fault sweep at the platform seam. Each scenario runs once on a fresh
// simulated machine to learn its platform calls; then, for every position in
// that call log, it runs again on a fresh machine with exactly that call
// failing, and the run must keep the program's promises: no crash, the exit
// code owed for that failure, no handle or allocation left, a log of whole
// records, and the failure visible in the trace.
//
// Each faulted run happens in a child process, so that a crash or a hang is
// reported with its position instead of ending the sweep.
#include "driver_package.h"
#include "machine_paths.h"
#include "trace_harness.h"
#include "variant.h"

#include <gtest/gtest.h>
#include <winsim/machine.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

const std::string kTag = EXPECTED_TRACE_TAG;
const std::string kDebugPrefix = kTag + ": ";
const std::string kPackage = "C:\\Drv";
const std::string kNamedLog = "C:\\Logs\\setup.log";
// The default log name the program builds when GetTempPathA gives nothing.
const std::string kRootLog = "\\QVDRAVMEL.LOG";

const char kGuidA[] = "{11111111-2222-3333-4444-555555555555}";
const char kGuidB[] = "{AAAAAAAA-2222-3333-4444-555555555555}";
const char kOtherGuid[] = "{55555555-2222-3333-4444-555555555555}";
const std::string kBackup = "C:\\Windows\\System32\\ReinstallBackups\\0003\\DriverFiles";

// Codes Windows returns that <winsim/win32.h> does not name.
constexpr DWORD kErrorNetnameDeleted = 64;
constexpr DWORD kErrorDiskFull = 112;

// Exit codes of "/A" besides 0.
constexpr int kExitInstallFailed = 50;
constexpr int kExitFileMissing = 51;

// A child run that takes longer than this is reported as hanging.
constexpr unsigned kRunTimeLimitSeconds = 20;

// ---------------------------------------------------------------------------
// Scenarios

void Require(bool condition, const std::string& what) {
    if (!condition) {
        throw std::runtime_error("scenario set-up failed: " + what);
    }
}

// Devices a machine has anyway: a display adapter with hardware IDs and a
// device without any.
void AddOtherDevices() {
    winsim::Device adapter;
    adapter.instance_id = "PCI\\VEN_8086&DEV_1234\\3&11583659&0&10";
    adapter.hardware_ids = winsim::MultiString({"PCI\\VEN_8086&DEV_1234&SUBSYS_00000000", "PCI\\VEN_8086&DEV_1234"});
    adapter.description = "Another display adapter";
    Require(winsim::AddDevice(adapter), "display adapter");
    winsim::Device bare;
    bare.instance_id = "ROOT\\LEGACY_BEEP\\0000";
    Require(winsim::AddDevice(bare), "device without hardware IDs");
}

void AddVideoKey(const char* guid, const char* service) {
    Require(winsim::SetRegistryString(kVideoKey + "\\" + guid + "\\Video", "Service", service), "video key");
    Require(winsim::CreateRegistryKey(kVideoKey + "\\" + guid + "\\0000"), "video key");
}

std::string OemInf() {
    for (int n = 0; n < 100; ++n) {
        std::string path = "C:\\Windows\\INF\\oem" + std::to_string(n) + ".inf";
        if (winsim::Exists(path)) {
            return path;
        }
    }
    return "";
}

// An installation by "/A" with what Windows adds to it when the display
// driver is loaded: video keys, profile key, reinstall copy, last-known-good
// copies, the precompiled INF; the miniport is in use.
void SetUpFullInstallation(const Lines& installArguments) {
    AddOtherDevices();
    PutDriverPackage(kPackage);
    Require(RunProgram(installArguments) == 0, "installation");
    AddVideoKey(kGuidA, "QVMIRROR");
    AddVideoKey(kGuidB, "qvmirror");
    AddVideoKey(kOtherGuid, "OTHERVID");
    Require(winsim::SetRegistryString(kServiceKey + "\\VIDEO", "VideoID", kGuidA), "VideoID");
    Require(winsim::SetRegistryDword(kProfileVideoKey + "\\" + kGuidA + "\\0000", "Attach.ToDesktop", 0),
            "profile key");
    Require(
        winsim::SetRegistryString(kReinstallKey + "\\0003", "DeviceDesc", "Orvenik Tallomer graphics driver"),
        "reinstall key");
    Require(
        winsim::SetRegistryString(kReinstallKey + "\\0003", "ReinstallString", kBackup + "\\" QV_MIRROR_INF),
        "reinstall key");
    Require(winsim::SetRegistryString(kReinstallKey + "\\0001", "DeviceDesc", "Another adapter"),
            "reinstall key");
    Require(winsim::MakeDirectories(kBackup), "reinstall folder");
    Require(winsim::MakeDirectories(kLastGoodFolder + "\\drivers"), "last-known-good folder");
    Require(winsim::MakeDirectories(kSystemFolder + "\\drivers"), "drivers folder");
    for (const char* file : {QV_MIRROR_DLL, QV_MIRROR_SYS, QV_MIRROR_INF, QV_MIRROR_PNF}) {
        Require(winsim::PutFile(kBackup + "\\" + file, file), "reinstall copy");
    }
    Require(winsim::PutFile(kSystemFolder + "\\" QV_MIRROR_DLL, "dll"), "display driver");
    Require(winsim::PutFile(kSystemFolder + "\\drivers\\" QV_MIRROR_SYS, "sys"), "miniport");
    Require(winsim::PutFile(kLastGoodFolder + "\\" QV_MIRROR_DLL, "dll", FILE_ATTRIBUTE_READONLY),
            "last-known-good copy");
    Require(winsim::PutFile(kLastGoodFolder + "\\drivers\\" QV_MIRROR_SYS, "sys"), "last-known-good copy");
    const std::string oem = OemInf();
    Require(!oem.empty(), "system copy of the INF");
    Require(winsim::PutFile(oem.substr(0, oem.size() - 4) + ".pnf", "precompiled"), "precompiled INF");
    Require(winsim::SetFileInUse(kSystemFolder + "\\drivers\\" QV_MIRROR_SYS), "miniport in use");
}

void SetUpMachineWithoutDevice() {
    AddOtherDevices();
    PutDriverPackage(kPackage);
}

void SetUpPresentDevice() {
    AddOtherDevices();
    winsim::Device mirror;
    mirror.instance_id = "ROOT\\DISPLAY\\0000";
    mirror.hardware_ids = winsim::MultiString({kMirrorHardwareId});
    Require(winsim::AddDevice(mirror), "device with the hardware ID");
    PutDriverPackage(kPackage);
}

void SetUpFullInstallationDefaultLog() { SetUpFullInstallation({"/A", "/S:" + kPackage}); }

void SetUpCleanMachine() { AddOtherDevices(); }

// The named log already holds the records of the installation.
void SetUpFullInstallationNamedLog() {
    Require(winsim::MakeDirectories("C:\\Logs"), "log folder");
    SetUpFullInstallation({"/A", "/S:" + kPackage, "/L:" + kNamedLog});
}

struct Scenario {
    const char* name;
    bool install;
    Lines arguments;
    std::string log;  // the log the command line names, or the default one
    void (*setUp)();
};

const std::vector<Scenario>& Scenarios() {
    static const std::vector<Scenario> scenarios = {
        {"install_without_device", true, {"/A", "/S:" + kPackage}, kDefaultLog, SetUpMachineWithoutDevice},
        {"install_over_present_device", true, {"/A", "/S:" + kPackage}, kDefaultLog, SetUpPresentDevice},
        {"remove_full_installation", false, {"/R"}, kDefaultLog, SetUpFullInstallationDefaultLog},
        {"remove_on_clean_machine", false, {"/R"}, kDefaultLog, SetUpCleanMachine},
        {"remove_with_named_log", false, {"/R", "/L:" + kNamedLog}, kNamedLog, SetUpFullInstallationNamedLog},
    };
    return scenarios;
}

// ---------------------------------------------------------------------------
// What the program owes when one call fails

// How a failure reaches the trace.
enum class Shows {
    Code,     // a trace line new to the run holds the code, after '=' or '('
    Line,     // a trace line new to the run matches
    Nothing,  // the program stays silent by design (reason given)
};

struct Promise {
    int installExit = 0;  // exit code of "/A"; "/R" always gives 0
    Shows shows = Shows::Code;
    bool (*line)(const std::string& message) = nullptr;
    const char* description = "";  // the line looked for, or why nothing shows
    bool release = false;          // the object the call was to release may stay
};

bool FileNotFoundLine(const std::string& message) { return message.rfind("ERROR: File not Found. [", 0) == 0; }

bool FailedAttributeLine(const std::string& message) { return message == " ret  SetFileAttributes(bRet=0)\n"; }

bool RootLogNameLine(const std::string& message) { return message == "szLogFileName=[" + kRootLog + "]\n"; }

bool IsNumber(const std::string& text, size_t begin, size_t end) {
    if (begin < end && text[begin] == '-') {
        ++begin;
    }
    if (begin >= end) {
        return false;
    }
    for (size_t i = begin; i < end; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    return true;
}

// A code logged without the system's text: "ErrorCode(<n>)" with nothing
// after it, or "... FAILURE: Code=<n>" ending the line.
bool CodeWithoutTextLine(const std::string& message) {
    size_t open = message.rfind("ErrorCode(");
    if (open != std::string::npos && !message.empty() && message.back() == ')' &&
        IsNumber(message, open + 10, message.size() - 1)) {
        return true;
    }
    size_t code = message.rfind(" FAILURE: Code=");
    return code != std::string::npos && message.size() > 1 && message.back() == '\n' &&
           IsNumber(message, code + 15, message.size() - 1);
}

const DWORD kNoSuchDevInst = ERROR_NO_SUCH_DEVINST;

// The error each call fails with: one Windows really returns for it.
const std::map<std::string, DWORD>& Codes() {
    static const std::map<std::string, DWORD> codes = {
        {"GetTempPathA", ERROR_ENVVAR_NOT_FOUND},
        {"CreateFileA", ERROR_SHARING_VIOLATION},  // another program writes the log
        {"SetFilePointer", kErrorNetnameDeleted},  // the log's share went away
        {"WriteFile", kErrorDiskFull},
        {"CloseHandle", ERROR_INVALID_HANDLE},
        {"FindFirstFileA", ERROR_ACCESS_DENIED},
        {"FindClose", ERROR_INVALID_HANDLE},
        {"DeleteFileA", ERROR_ACCESS_DENIED},
        {"MoveFileExA", ERROR_ACCESS_DENIED},  // no right to the pending-operations value
        {"GetFileAttributesA", ERROR_ACCESS_DENIED},
        {"SetFileAttributesA", ERROR_ACCESS_DENIED},
        {"GetWindowsDirectoryA", ERROR_ACCESS_DENIED},
        {"GetSystemDirectoryA", ERROR_ACCESS_DENIED},
        {"GetVersionExA", ERROR_INSUFFICIENT_BUFFER},
        {"FormatMessageA", ERROR_MR_MID_NOT_FOUND},
        {"LocalAlloc", ERROR_NOT_ENOUGH_MEMORY},
        {"LocalFree", ERROR_INVALID_HANDLE},
        {"RegOpenKeyExA", ERROR_ACCESS_DENIED},
        {"RegEnumKeyExA", ERROR_MORE_DATA},
        {"RegQueryValueExA", ERROR_FILE_NOT_FOUND},
        {"RegCloseKey", ERROR_INVALID_HANDLE},
        {"RegDeleteKeyA", ERROR_ACCESS_DENIED},
        {"OpenSCManagerA", ERROR_ACCESS_DENIED},
        {"OpenServiceA", ERROR_ACCESS_DENIED},
        {"DeleteService", ERROR_ACCESS_DENIED},
        {"CloseServiceHandle", ERROR_INVALID_HANDLE},
        {"QueryServiceStatus", ERROR_ACCESS_DENIED},
        {"ControlService", ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
        {"SetupDiGetClassDevsA", ERROR_NOT_ENOUGH_MEMORY},
        {"SetupDiEnumDeviceInfo", ERROR_INVALID_HANDLE},
        {"SetupDiGetDeviceRegistryPropertyA", kNoSuchDevInst},  // the device went meanwhile
        {"SetupDiDestroyDeviceInfoList", ERROR_INVALID_HANDLE},
        {"SetupDiGetINFClassA", ERROR_WRONG_INF_STYLE},
        {"SetupDiCreateDeviceInfoList", ERROR_NOT_ENOUGH_MEMORY},
        {"SetupDiCreateDeviceInfoA", ERROR_DEVINST_ALREADY_EXISTS},
        {"SetupDiSetDeviceRegistryPropertyA", kNoSuchDevInst},
        {"SetupDiCallClassInstaller", kNoSuchDevInst},
        {"SetupCopyOEMInfA", ERROR_ACCESS_DENIED},
        {"UpdateDriverForPlugAndPlayDevicesA", kNoSuchDevInst},
    };
    return codes;
}

// Calls whose failure the program does not trace, by design.
struct Silent {
    const char* call;
    const char* reason;
    bool release;  // the one object it was to release may stay open
};

const Silent kSilentCalls[] = {
    {"CloseHandle", "closes the log after the last record: nothing is left to write to", true},
    {"FindClose", "ends an existence check that found the file; the result stands", true},
    {"LocalFree", "a refused free leaves nothing the program could do", true},
    {"RegCloseKey", "a refused close leaves nothing the program could do", true},
    {"CloseServiceHandle", "a refused close leaves nothing the program could do", true},
    {"SetupDiDestroyDeviceInfoList", "a refused release leaves nothing the program could do", true},
    {"GetFileAttributesA", "falls back to FILE_ATTRIBUTE_NORMAL, which the SetFileAttributesA after it applies", false},
};

bool IsEnumeration(const std::string& call) { return call == "RegEnumKeyExA" || call == "SetupDiEnumDeviceInfo"; }

// Nothing when the sweep knows no promise for the call: the sweep then
// reports it, so that a new platform call gets its entry here.
std::optional<Promise> PromiseFor(const std::string& call, DWORD code, bool install) {
    Promise promise;
    if (IsEnumeration(call) && code == ERROR_NO_MORE_ITEMS) {
        // The enumeration ends as after its last item; the rest decides.
        promise.shows = Shows::Nothing;
        promise.description = "ERROR_NO_MORE_ITEMS ends an enumeration normally";
        return promise;
    }

    for (const Silent& silent : kSilentCalls) {
        if (call == silent.call) {
            promise.shows = Shows::Nothing;
            promise.description = silent.reason;
            promise.release = silent.release;
            return promise;
        }
    }
    if (call == "GetTempPathA") {
        promise.shows = Shows::Line;
        promise.line = RootLogNameLine;
        promise.description = "the debugger line naming the fallback log \\QVDRAVMEL.LOG";
        return promise;
    }
    if (call == "FormatMessageA") {
        promise.shows = Shows::Line;
        promise.line = CodeWithoutTextLine;
        promise.description = "the code logged without its system text";
        return promise;
    }
    if (call == "SetFileAttributesA") {
        promise.shows = Shows::Line;
        promise.line = FailedAttributeLine;
        promise.description = "\" ret  SetFileAttributes(bRet=0)\"";
        return promise;
    }
    if (call == "FindFirstFileA" && install) {
        // The driver file check: a file that cannot be found is missing.
        promise.installExit = kExitFileMissing;
        promise.shows = Shows::Line;
        promise.line = FileNotFoundLine;
        promise.description = "\"ERROR: File not Found. [...]\"";
        return promise;
    }

    // The install steps whose failure fails the installation.
    static const char* const kInstallSteps[] = {
        "SetupDiGetClassDevsA",
        "SetupDiEnumDeviceInfo",
        "SetupDiGetDeviceRegistryPropertyA",
        "LocalAlloc",
        "UpdateDriverForPlugAndPlayDevicesA",
        "SetupDiGetINFClassA",
        "SetupDiCreateDeviceInfoList",
        "SetupDiCreateDeviceInfoA",
        "SetupDiSetDeviceRegistryPropertyA",
        "SetupDiCallClassInstaller",
    };
    // Calls traced with their code that leave the run's result alone: the
    // log's, the INF copy's and version query's (the driver update that
    // follows copies the INF itself), the lookups after a successful
    // installation, and every step of the removal, which no failure stops
    // and which logs each one.
    static const char* const kTracedCalls[] = {
        "CreateFileA",         "SetFilePointer",     "WriteFile",        "GetVersionExA",  "SetupCopyOEMInfA",
        "RegOpenKeyExA",       "RegEnumKeyExA",      "RegQueryValueExA", "RegDeleteKeyA",  "GetWindowsDirectoryA",
        "GetSystemDirectoryA", "DeleteFileA",        "MoveFileExA",      "OpenSCManagerA", "OpenServiceA",
        "DeleteService",       "QueryServiceStatus", "ControlService",   "FindFirstFileA",
    };
    for (const char* step : kInstallSteps) {
        if (call == step) {
            promise.installExit = kExitInstallFailed;
            return promise;
        }
    }
    for (const char* traced : kTracedCalls) {
        if (call == traced) {
            return promise;
        }
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// One run and its checks

struct Fault {
    std::string call;
    unsigned occurrence = 0;  // 1-based, among the run's calls of that name
    DWORD code = 0;
};

std::string CodeText(DWORD code) {
    std::ostringstream text;
    text << code;
    if (code & 0x80000000u) {
        text << " (0x" << std::hex << std::uppercase << code << ")";
    }
    return text.str();
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Addresses and handles ("0x...") differ from run to run.
std::string MaskAddresses(const std::string& text) {
    std::string masked;
    for (size_t i = 0; i < text.size();) {
        if (text.compare(i, 2, "0x") == 0 && i + 2 < text.size() && IsHexDigit(text[i + 2])) {
            masked += "0x#";
            for (i += 2; i < text.size() && IsHexDigit(text[i]); ++i) {
            }
        } else {
            masked += text[i++];
        }
    }
    return masked;
}

// The message part of every debugger entry, addresses masked: a record's
// sixth field, or the text after the tag of a debugger-only line.
Lines Messages() {
    Lines messages;
    for (const std::string& entry : winsim::DebugOutput()) {
        if (entry.compare(0, kDebugPrefix.size(), kDebugPrefix) == 0) {
            messages.push_back(MaskAddresses(entry.substr(kDebugPrefix.size())));
            continue;
        }
        TraceRecord record;
        messages.push_back(MaskAddresses(ParseRecord(entry, &record) ? record.message : entry));
    }
    return messages;
}

using MessageCounts = std::unordered_map<std::string, int>;

MessageCounts CountMessages(const Lines& messages) {
    MessageCounts counts;
    for (const std::string& message : messages) {
        ++counts[message];
    }
    return counts;
}

// Trace lines of this run beyond those of the fault-free run.
Lines NewMessages(const Lines& messages, MessageCounts baseline) {
    Lines added;
    for (const std::string& message : messages) {
        auto it = baseline.find(message);
        if (it != baseline.end() && it->second > 0) {
            --it->second;
        } else {
            added.push_back(message);
        }
    }
    return added;
}

// The code as a number of its own right after '=' or '(', in the unsigned
// or the signed form (SetupAPI codes are logged with %d).
bool HoldsCode(const std::string& message, DWORD code) {
    const std::string forms[] = {std::to_string(code), std::to_string(static_cast<int32_t>(code))};
    for (const std::string& form : forms) {
        for (size_t at = message.find(form); at != std::string::npos; at = message.find(form, at + 1)) {
            const bool opens = at > 0 && (message[at - 1] == '=' || message[at - 1] == '(');
            const size_t end = at + form.size();
            const bool closes = end == message.size() || message[end] < '0' || message[end] > '9';
            if (opens && closes) {
                return true;
            }
        }
    }
    return false;
}

bool IsDigits(const std::string& text, size_t begin, size_t count) {
    if (begin + count > text.size()) {
        return false;
    }
    for (size_t i = begin; i < begin + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    return true;
}

// "YYYY/MM/DD HH:MM:SS:mmm,<tag>,<line>,0,<function>,<message>".
bool IsWholeRecord(const std::string& record) {
    static const char kForm[] = "dddd/dd/dd dd:dd:dd:ddd";
    const size_t stampLength = sizeof(kForm) - 1;
    if (record.size() < stampLength) {
        return false;
    }
    for (size_t i = 0; i < stampLength; ++i) {
        if (kForm[i] == 'd' ? !IsDigits(record, i, 1) : record[i] != kForm[i]) {
            return false;
        }
    }
    TraceRecord fields;
    if (!ParseRecord(record, &fields) || fields.tag != kTag || fields.reserved != "0" || fields.function.empty()) {
        return false;
    }
    return IsNumber(fields.line, 0, fields.line.size());
}

bool RecordStartsAt(const std::string& text, size_t at) {
    static const char kForm[] = "dddd/dd/dd dd:dd:dd:ddd,";
    const size_t length = sizeof(kForm) - 1;
    if (at + length + kTag.size() + 1 > text.size()) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (kForm[i] == 'd' ? !IsDigits(text, at + i, 1) : text[at + i] != kForm[i]) {
            return false;
        }
    }
    return text.compare(at + length, kTag.size(), kTag) == 0 && text[at + length + kTag.size()] == ',';
}

// Splits a log where records begin (one without a line end leaves the next
// on its line); the first piece that is no whole record, if any.
std::optional<std::string> PieceNotARecord(const std::string& contents) {
    std::vector<size_t> starts;
    for (size_t at = 0; at < contents.size(); ++at) {
        if (RecordStartsAt(contents, at)) {
            starts.push_back(at);
        }
    }
    if (!contents.empty() && (starts.empty() || starts.front() != 0)) {
        return contents.substr(0, starts.empty() ? contents.size() : starts.front());
    }
    for (size_t i = 0; i < starts.size(); ++i) {
        const size_t end = i + 1 < starts.size() ? starts[i + 1] : contents.size();
        std::string piece = contents.substr(starts[i], end - starts[i]);
        if (!IsWholeRecord(piece)) {
            return piece;
        }
    }
    return std::nullopt;
}

std::vector<std::string> MirrorDevices() {
    std::vector<std::string> ids;
    for (const winsim::Device& device : winsim::Devices()) {
        if (device.present && device.hardware_ids &&
            device.hardware_ids->find(kMirrorHardwareId + '\0') != std::string::npos) {
            ids.push_back(device.instance_id + (device.service.empty() ? "" : " service=" + device.service));
        }
    }
    return ids;
}

std::string Shorten(const std::string& text, size_t limit = 160) {
    std::string shown;
    for (char c : text.size() > limit ? text.substr(0, limit) : text) {
        if (c == '\n') {
            shown += "\\n";
        } else if (c == '\r') {
            shown += "\\r";
        } else {
            shown += c;
        }
    }
    return text.size() > limit ? shown + "..." : shown;
}

struct Run {
    int exitCode = -1;
    Lines calls;     // the run's platform calls, in order
    Lines messages;  // the run's trace messages, in order
    Lines broken;    // promises the run broke
};

// The log named on the debugger channel before it is opened.
std::optional<std::string> NamedLog() {
    const std::string prefix = kDebugPrefix + "szLogFileName=[";
    for (const std::string& entry : winsim::DebugOutput()) {
        if (entry.compare(0, prefix.size(), prefix) == 0 && entry.size() >= prefix.size() + 2) {
            return entry.substr(prefix.size(), entry.size() - prefix.size() - 2);
        }
    }
    return std::nullopt;
}

void CheckLog(const std::string& expectedPath, const std::optional<std::string>& prior, bool opens, Run* run) {
    const std::optional<std::string> named = NamedLog();
    if (named != expectedPath) {
        run->broken.push_back("the log is named [" + named.value_or("<no szLogFileName line>") + "], not [" +
                              expectedPath + "]");
        return;
    }
    // Every record goes to the debugger; those after the command-line parse
    // (its last line names the log) also to the log, unless the write
    // failed, which the line before the record says.
    std::string written;
    const std::string logNamed = kDebugPrefix + "szLogFileName=[";
    const std::string writeFailure = kDebugPrefix + "Can not write to file: Error=";
    bool parsed = false;
    bool dropNext = false;
    for (const std::string& entry : winsim::DebugOutput()) {
        if (entry.compare(0, kDebugPrefix.size(), kDebugPrefix) == 0) {
            parsed = parsed || entry.compare(0, logNamed.size(), logNamed) == 0;
            dropNext = entry.compare(0, writeFailure.size(), writeFailure) == 0;
            continue;
        }
        if (!IsWholeRecord(entry)) {
            run->broken.push_back("a trace record is not whole: [" + Shorten(entry) + "]");
        }
        if (parsed && !dropNext) {
            written += entry;
        }
        dropNext = false;
    }
    const std::string expected = prior.value_or("") + (opens ? written : "");
    const std::optional<std::string> contents = winsim::FileContents(expectedPath);
    if (!contents) {
        if (!expected.empty()) {
            run->broken.push_back("no log file " + expectedPath);
        }
        return;
    }
    if (std::optional<std::string> piece = PieceNotARecord(*contents)) {
        run->broken.push_back("the log holds a piece that is no whole record: [" + Shorten(*piece) + "]");
    }
    if (*contents != expected) {
        size_t at = 0;
        while (at < contents->size() && at < expected.size() && (*contents)[at] == expected[at]) {
            ++at;
        }
        run->broken.push_back("the log (" + std::to_string(contents->size()) + " bytes) is not the earlier log (" +
                              std::to_string(prior.value_or("").size()) + " bytes) and this run's records (" +
                              std::to_string(expected.size()) + " bytes expected); from byte " + std::to_string(at) +
                              " it holds [" + Shorten(contents->substr(at)) + "] instead of [" +
                              Shorten(expected.substr(at)) + "]");
    }
}

// Runs the scenario on a fresh machine, with the fault when one is given,
// and checks the run. Without a fault the run must succeed cleanly.
Run RunScenario(const Scenario& scenario, const Fault* fault, const MessageCounts* baseline) {
    Run run;
    winsim::Reset();
    try {
        scenario.setUp();
    } catch (const std::exception& error) {
        run.broken.push_back(error.what());
        return run;
    }
    if (winsim::OpenHandleCount() != 0 || winsim::LiveAllocationCount() != 0) {
        run.broken.push_back("scenario set-up left handles or allocations");
        return run;
    }
    const std::string expectedLog = fault != nullptr && fault->call == "GetTempPathA" ? kRootLog : scenario.log;
    const std::optional<std::string> priorLog = winsim::FileContents(expectedLog);
    const std::vector<std::string> mirrorsBefore = MirrorDevices();
    const size_t firstCall = winsim::CallLog().size();
    const unsigned countBefore = fault != nullptr ? winsim::CallCount(fault->call) : 0;

    std::optional<Promise> promise;
    if (fault != nullptr) {
        promise = PromiseFor(fault->call, fault->code, scenario.install);
        if (!promise) {
            run.broken.push_back("the sweep knows no promise for a failing " + fault->call);
            return run;
        }
        winsim::FailNthCall(fault->call, countBefore + fault->occurrence, fault->code);
    }
    winsim::ClearDebugOutput();

    try {
        run.exitCode = RunProgram(scenario.arguments);
    } catch (const std::exception& error) {
        run.broken.push_back(std::string("the run threw: ") + error.what());
        return run;
    }
    const Lines& log = winsim::CallLog();
    run.calls.assign(log.begin() + static_cast<std::ptrdiff_t>(firstCall), log.end());
    run.messages = Messages();

    if (fault != nullptr && winsim::CallCount(fault->call) < countBefore + fault->occurrence) {
        run.broken.push_back("the planned fault was never reached (the run differs from the fault-free one)");
    }

    // Exit code.
    const int expectedExit = scenario.install && promise ? promise->installExit : 0;
    if (run.exitCode != expectedExit) {
        run.broken.push_back("exit code " + std::to_string(run.exitCode) + ", owed " + std::to_string(expectedExit));
    }

    // Handles and allocations: a refused release may leave its one object.
    const size_t handles = winsim::OpenHandleCount();
    const size_t allocations = winsim::LiveAllocationCount();
    size_t allowedHandles = 0;
    size_t allowedAllocations = 0;
    if (promise && promise->release) {
        (fault->call == "LocalFree" ? allowedAllocations : allowedHandles) = 1;
    }
    if (handles > allowedHandles || allocations > allowedAllocations) {
        run.broken.push_back(std::to_string(handles) + " handle(s) and " + std::to_string(allocations) +
                             " allocation(s) left open");
    }

    // The log: the earlier contents, then every record of this run that was
    // written, whole; nothing added when it could not be opened.
    const bool opens = fault == nullptr || (fault->call != "CreateFileA" && fault->call != "SetFilePointer");
    CheckLog(expectedLog, priorLog, opens, &run);

    // The failure in the trace.
    if (promise && promise->shows != Shows::Nothing) {
        const Lines added = NewMessages(run.messages, *baseline);
        bool shown = false;
        for (const std::string& message : added) {
            if (promise->shows == Shows::Code ? HoldsCode(message, fault->code) : promise->line(message)) {
                shown = true;
                break;
            }
        }
        if (!shown) {
            std::string what =
                promise->shows == Shows::Code ? "its code " + CodeText(fault->code) : std::string(promise->description);
            std::string lines;
            for (size_t i = 0; i < added.size() && i < 3; ++i) {
                lines += (i ? " | " : "") + Shorten(added[i], 100);
            }
            run.broken.push_back("the failure does not show in the trace: no new line with " + what +
                                 (added.empty() ? " (the trace is the fault-free one)"
                                                : " (new lines: " + lines + (added.size() > 3 ? " | ..." : "") + ")"));
        }
    }

    // What the result means on the machine.
    const std::vector<std::string> mirrorsAfter = MirrorDevices();
    if (scenario.install) {
        if (run.exitCode == 0) {
            bool installed = false;
            for (const std::string& device : mirrorsAfter) {
                installed = installed || device.find(" service=QVMIRROR") != std::string::npos;
            }
            if (!installed) {
                run.broken.push_back("exit code 0 but no present device with the hardware ID runs QVMIRROR");
            }
        } else if (mirrorsAfter != mirrorsBefore) {
            run.broken.push_back("a failed installation changed the devices with the hardware ID (" +
                                 std::to_string(mirrorsBefore.size()) + " before, " +
                                 std::to_string(mirrorsAfter.size()) + " after)");
        }
    } else {
        const std::string end = "<=== QV_UnRegisterMirrorDriver()\n";
        bool ended = false;
        for (const std::string& message : run.messages) {
            ended = ended || message == end;
        }
        if (!ended) {
            run.broken.push_back("the removal did not run to its end");
        }
    }
    return run;
}

// ---------------------------------------------------------------------------
// Child processes

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// The faulted run in a child process: its exit code and broken promises,
// or how the child ended when it did not report.
Run RunIsolated(const Scenario& scenario, const Fault& fault, const MessageCounts& baseline) {
    Run run;
    int fds[2];
    if (pipe(fds) != 0) {
        run.broken.push_back("pipe failed");
        return run;
    }
    std::cout.flush();
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        close(fds[0]);
        close(fds[1]);
        run.broken.push_back("fork failed");
        return run;
    }
    if (child == 0) {
        close(fds[0]);
        alarm(kRunTimeLimitSeconds);
        Run result = RunScenario(scenario, &fault, &baseline);
        std::string report = std::to_string(result.exitCode) + "\n";
        for (const std::string& line : result.broken) {
            report += Shorten(line, 2000) + "\n";
        }
        _exit(WriteAll(fds[1], report) ? 0 : 3);
    }
    close(fds[1]);
    std::string report;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fds[0], buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        report.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        run.broken.push_back(
            signal == SIGALRM ? "the run did not end within " + std::to_string(kRunTimeLimitSeconds) + " s"
                              : "the run crashed: signal " + std::to_string(signal) + " (" + strsignal(signal) + ")");
        return run;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || report.empty()) {
        run.broken.push_back("the run ended the process (status " + std::to_string(status) + ")");
        return run;
    }
    std::istringstream lines(report);
    std::string line;
    std::getline(lines, line);
    run.exitCode = std::stoi(line);
    while (std::getline(lines, line)) {
        run.broken.push_back(line);
    }
    return run;
}

// ---------------------------------------------------------------------------
// The sweep

struct Tally {
    unsigned injected = 0;
    unsigned kept = 0;
};

Tally& Total() {
    static Tally total;
    return total;
}

// FAULT_SWEEP_VERBOSE=1 lists every run.
bool Verbose() {
    const char* value = std::getenv("FAULT_SWEEP_VERBOSE");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

std::string FaultText(size_t position, const Fault& fault) {
    return "position " + std::to_string(position) + " " + fault.call + " #" + std::to_string(fault.occurrence) +
           " code " + CodeText(fault.code);
}

// FAULT_SWEEP_SHOW=<scenario>:<position> prints that faulted run's debugger
// channel (the first code planned for the call), to reproduce a finding.
void ShowRun(const Scenario& scenario, const Lines& calls, const MessageCounts& counts) {
    const char* value = std::getenv("FAULT_SWEEP_SHOW");
    const std::string prefix = std::string(scenario.name) + ":";
    if (value == nullptr || std::string(value).compare(0, prefix.size(), prefix) != 0) {
        return;
    }
    const size_t position = std::stoul(std::string(value).substr(prefix.size()));
    if (position >= calls.size()) {
        return;
    }
    Fault fault{calls[position], 0, Codes().at(calls[position])};
    for (size_t i = 0; i <= position; ++i) {
        fault.occurrence += calls[i] == fault.call ? 1 : 0;
    }
    const Run run = RunScenario(scenario, &fault, &counts);
    std::cout << "--- " << scenario.name << " " << FaultText(position, fault) << ": exit " << run.exitCode << "\n";
    for (const std::string& entry : winsim::DebugOutput()) {
        std::cout << entry << (entry.empty() || entry.back() != '\n' ? "\n" : "");
    }
    for (const std::string& line : run.broken) {
        std::cout << "BROKEN: " << line << "\n";
    }
    std::cout << "---" << std::endl;
}

void Sweep(const Scenario& scenario) {
    const Run baseline = RunScenario(scenario, nullptr, nullptr);
    ASSERT_EQ(baseline.exitCode, 0) << scenario.name << ": the fault-free run failed";
    for (const std::string& line : baseline.broken) {
        ADD_FAILURE() << scenario.name << " fault-free run: " << line;
    }
    ASSERT_TRUE(baseline.broken.empty());
    ASSERT_FALSE(baseline.calls.empty());
    const MessageCounts counts = CountMessages(baseline.messages);
    ShowRun(scenario, baseline.calls, counts);

    Tally tally;
    unsigned enumerationPasses = 0;
    Lines failures;
    std::map<std::string, unsigned> seen;
    for (size_t position = 0; position < baseline.calls.size(); ++position) {
        const std::string& call = baseline.calls[position];
        const unsigned occurrence = ++seen[call];
        auto code = Codes().find(call);
        if (code == Codes().end()) {
            failures.push_back("position " + std::to_string(position) + " " + call + ": no error code to inject");
            continue;
        }
        std::vector<DWORD> plan = {code->second};
        if (IsEnumeration(call)) {
            plan.push_back(ERROR_NO_MORE_ITEMS);
            ++enumerationPasses;
        }
        for (DWORD error : plan) {
            const Fault fault{call, occurrence, error};
            const Run run = RunIsolated(scenario, fault, counts);
            ++tally.injected;
            if (run.broken.empty()) {
                ++tally.kept;
            }
            if (Verbose()) {
                std::cout << "  " << scenario.name << " " << FaultText(position, fault) << ": exit " << run.exitCode
                          << (run.broken.empty() ? ", kept" : ", BROKE " + std::to_string(run.broken.size()))
                          << std::endl;
            }
            for (const std::string& line : run.broken) {
                failures.push_back(FaultText(position, fault) + ": " + line);
            }
        }
    }

    Total().injected += tally.injected;
    Total().kept += tally.kept;
    std::cout << "[sweep " << kTag << "] " << scenario.name << ": " << baseline.calls.size() << " calls, "
              << tally.injected << " faults injected (" << enumerationPasses << " of them ERROR_NO_MORE_ITEMS), "
              << tally.kept << " runs kept every promise" << std::endl;
    for (const std::string& failure : failures) {
        ADD_FAILURE() << scenario.name << ": " << failure;
    }
}

class SweepTotal : public ::testing::Environment {
public:
    void TearDown() override {
        std::cout << "[sweep " << kTag << "] total: " << Total().injected << " faults injected, " << Total().kept
                  << " runs kept every promise, " << Total().injected - Total().kept << " broke one" << std::endl;
    }
};

[[maybe_unused]] ::testing::Environment* const kSweepTotal = ::testing::AddGlobalTestEnvironment(new SweepTotal);

class FaultSweep : public ::testing::TestWithParam<size_t> {};

TEST_P(FaultSweep, EveryCallFailingInTurn) { Sweep(Scenarios()[GetParam()]); }

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultSweep, ::testing::Range<size_t>(0, Scenarios().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return std::string(Scenarios()[info.param].name);
                         });

}  // namespace
