// The fault sweep: each scenario runs once on a fresh machine to learn its
// platform calls, then once per call with exactly that call failing, with a
// code Windows really returns there (enumerations also with
// ERROR_NO_MORE_ITEMS). Every run must keep the program's promises: the exit
// code owed, nothing left open or allocated, a log of whole records, the
// failure visible in the trace, and a machine that means what the exit code
// says. A crash or a hang names the run it happened in.
#include "common.h"
#include "install.h"
#include "machine_test.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <regex>

namespace {

const std::string kNamedLog = "C:\\Logs\\setup.log";

void AddOtherDevices() {
    winsim::Device adapter;
    adapter.instance_id = "PCI\\VEN_8086&DEV_1234\\3&11583659&0&10";
    adapter.hardware_ids = winsim::MultiString({"PCI\\VEN_8086&DEV_1234&SUBSYS_0", "PCI\\VEN_8086&DEV_1234"});
    winsim::AddDevice(adapter);
    winsim::Device bare;
    bare.instance_id = "ROOT\\LEGACY_BEEP\\0000";
    winsim::AddDevice(bare);
}

struct Scenario {
    const char* name;
    bool install;
    Lines arguments;
    std::string log;
    void (*setUp)();
};

void PrintTo(const Scenario& scenario, std::ostream* os) { *os << scenario.name; }

const Scenario kScenarios[] = {
    {"InstallWithoutDevice", true, {"/A", "/S:" + kPackage}, kDefaultLog, [] {
         AddOtherDevices();
         PutPackage();
     }},
    {"InstallOverPresentDevice", true, {"/A", "/S:" + kPackage}, kDefaultLog, [] {
         AddOtherDevices();
         winsim::Device mirror;
         mirror.instance_id = "ROOT\\DISPLAY\\0000";
         mirror.hardware_ids = winsim::MultiString({kHardwareId});
         winsim::AddDevice(mirror);
         PutPackage();
     }},
    {"RemoveFullInstallation", false, {"/R"}, kDefaultLog, [] {
         PutInstallation();
         winsim::SetFileInUse(kSystemFolder + "\\drivers\\" + kSys);
     }},
    {"RemoveOnCleanMachine", false, {"/R"}, kDefaultLog, AddOtherDevices},
    {"RemoveWithNamedLog", false, {"/R", "/L:" + kNamedLog}, kNamedLog, [] {
         PutInstallation();
         winsim::MakeDirectories("C:\\Logs");
         winsim::PutFile(kNamedLog, "2021/03/01 10:00:00:000," + kTag + ",1,0,main,Process return. (Ret=0)\n");
     }},
    // Without SetDefaultDllDirectories newdev.dll is loaded by its full path.
    {"InstallOnWindows7", true, {"/A", "/S:" + kPackage}, kDefaultLog, [] {
         winsim::SetWindowsVersion(6, 1, 7601);
         PutPackage();
     }},
};

// A code after '=' or '(' in its unsigned or its signed form.
bool HoldsCode(const std::string& line, DWORD code) {
    for (const std::string& form : {std::to_string(code), std::to_string(static_cast<int32_t>(code))}) {
        for (size_t at = line.find(form); at != std::string::npos; at = line.find(form, at + 1)) {
            const size_t end = at + form.size();
            if (at > 0 && (line[at - 1] == '=' || line[at - 1] == '(') && (end == line.size() || !isdigit(line[end]))) {
                return true;
            }
        }
    }
    return false;
}

using Shows = bool (*)(const std::string& line, DWORD code);

// Where the failure must also come with the system's text for its code.
enum Text { kNoText, kText, kTextOnRemoval };

struct Promise {
    DWORD code;       // what the call fails with
    int installExit;  // what "/A" then owes; "/R" always owes 0
    Shows shows;      // a new trace line that shows the failure; none: silent by design
    Text text = kText;
    bool release = false;  // the call releases one object, which may then stay
};

// Releases whose refusal leaves the program nothing to do, and an attribute
// read that falls back to FILE_ATTRIBUTE_NORMAL, are silent by design.
const std::map<std::string, Promise> kPromises = {
    {"GetTempPathA", {203, 0, [](const std::string& l, DWORD) {
         return l == "szLogFileName=[\\QVDRAVMEL.LOG]\n";
     }, kNoText}},
    {"CreateFileA", {ERROR_SHARING_VIOLATION, 0, HoldsCode, kNoText}},
    {"SetFilePointer", {64, 0, HoldsCode, kNoText}},
    {"WriteFile", {112, 0, HoldsCode, kNoText}},
    {"CloseHandle", {ERROR_INVALID_HANDLE, 0, nullptr, kNoText, true}},
    {"FindFirstFileA", {ERROR_ACCESS_DENIED, kExitFileMissing, [](const std::string& l, DWORD c) {
         return !l.find("ERROR: File not Found. [") || HoldsCode(l, c);
     }, kTextOnRemoval}},
    {"FindClose", {ERROR_INVALID_HANDLE, 0, nullptr, kNoText, true}},
    {"DeleteFileA", {ERROR_ACCESS_DENIED, 0, HoldsCode}},
    {"MoveFileExA", {ERROR_ACCESS_DENIED, 0, HoldsCode}},
    {"GetFileAttributesA", {ERROR_ACCESS_DENIED, 0, nullptr, kNoText}},
    {"SetFileAttributesA", {ERROR_ACCESS_DENIED, 0, [](const std::string& l, DWORD) {
         return l == " ret  SetFileAttributes(bRet=0)\n";
     }, kNoText}},
    {"GetWindowsDirectoryA", {ERROR_ACCESS_DENIED, 0, HoldsCode}},
    {"GetSystemDirectoryA", {ERROR_ACCESS_DENIED, kExitInstallFailed, HoldsCode}},
    {"GetVersionExA", {ERROR_INSUFFICIENT_BUFFER, 0, HoldsCode, kNoText}},
    // The code is then logged without the system's text.
    {"FormatMessageA", {ERROR_MR_MID_NOT_FOUND, 0, [](const std::string& l, DWORD) {
         static const std::regex bare(R"([\s\S]*(ErrorCode\(-?\d+\)| FAILURE: Code=-?\d+\n))");
         return std::regex_match(l, bare);
     }, kNoText}},
    {"LocalAlloc", {ERROR_NOT_ENOUGH_MEMORY, kExitInstallFailed, HoldsCode, kTextOnRemoval}},
    {"LocalFree", {ERROR_INVALID_HANDLE, 0, nullptr, kNoText, true}},
    {"RegOpenKeyExA", {ERROR_ACCESS_DENIED, 0, HoldsCode}},
    {"RegEnumKeyExA", {ERROR_MORE_DATA, 0, HoldsCode}},
    {"RegQueryValueExA", {ERROR_FILE_NOT_FOUND, 0, HoldsCode}},
    {"RegCloseKey", {ERROR_INVALID_HANDLE, 0, nullptr, kNoText, true}},
    {"RegDeleteKeyA", {ERROR_ACCESS_DENIED, 0, HoldsCode}},
    {"OpenSCManagerA", {ERROR_ACCESS_DENIED, 0, HoldsCode}},
    {"OpenServiceA", {ERROR_ACCESS_DENIED, 0, HoldsCode}},
    {"DeleteService", {ERROR_ACCESS_DENIED, 0, HoldsCode}},
    {"CloseServiceHandle", {ERROR_INVALID_HANDLE, 0, nullptr, kNoText, true}},
    {"SetupDiGetClassDevsA", {ERROR_NOT_ENOUGH_MEMORY, kExitInstallFailed, HoldsCode}},
    {"SetupDiEnumDeviceInfo", {ERROR_INVALID_HANDLE, kExitInstallFailed, HoldsCode, kTextOnRemoval}},
    {"SetupDiGetDeviceRegistryPropertyA", {ERROR_NO_SUCH_DEVINST, kExitInstallFailed, HoldsCode, kTextOnRemoval}},
    {"SetupDiDestroyDeviceInfoList", {ERROR_INVALID_HANDLE, 0, nullptr, kNoText, true}},
    {"SetupDiGetINFClassA", {ERROR_WRONG_INF_STYLE, kExitInstallFailed, HoldsCode}},
    {"SetupDiCreateDeviceInfoList", {ERROR_NOT_ENOUGH_MEMORY, kExitInstallFailed, HoldsCode}},
    {"SetupDiCreateDeviceInfoA", {ERROR_DEVINST_ALREADY_EXISTS, kExitInstallFailed, HoldsCode}},
    {"SetupDiSetDeviceRegistryPropertyA", {ERROR_NO_SUCH_DEVINST, kExitInstallFailed, HoldsCode}},
    {"SetupDiCallClassInstaller", {ERROR_NO_SUCH_DEVINST, kExitInstallFailed, HoldsCode}},
    {"SetupCopyOEMInfA", {ERROR_ACCESS_DENIED, 0, HoldsCode, kNoText}},
    {"UpdateDriverForPlugAndPlayDevicesA", {ERROR_NO_SUCH_DEVINST, kExitInstallFailed, HoldsCode}},
    // The DLL search restriction falls back silently; newdev.dll that cannot
    // be loaded fails the installation as its driver update would.
    {"GetModuleHandleA", {ERROR_MOD_NOT_FOUND, 0, nullptr, kNoText}},
    {"GetProcAddress #1", {ERROR_PROC_NOT_FOUND, 0, nullptr, kNoText}},
    {"SetDefaultDllDirectories", {ERROR_INVALID_PARAMETER, 0, nullptr, kNoText}},
    {"SetDllDirectoryA", {ERROR_NOT_ENOUGH_MEMORY, 0, nullptr, kNoText}},
    {"LoadLibraryExA", {ERROR_MOD_NOT_FOUND, kExitInstallFailed, HoldsCode}},
    {"GetProcAddress", {ERROR_PROC_NOT_FOUND, kExitInstallFailed, HoldsCode}},
    {"FreeLibrary", {ERROR_MOD_NOT_FOUND, 0, nullptr, kNoText, true}},
};

// The promise for the nth call of a name: its own, or the name's.
const Promise& PromiseFor(const std::string& call, unsigned nth) {
    const auto own = kPromises.find(call + " #" + std::to_string(nth));
    return own != kPromises.end() ? own->second : kPromises.at(call);
}

// The operations whose failure the program reports as "<operation> FAILURE:
// Code=<code>", with the system's text where there is one; "/R " marks the
// removal's. Either name of the update: on a new device or a present one.
const Lines kUpdateReports = {"UpdateDriverForPlugAndPlayDevices", "UpdateDriverForPlugAndPlayDevices."};
const std::map<std::string, Lines> kReports = {
    {"SetupDiGetClassDevsA", {"SetupDiGetClassDevs(All Present Devices)"}},
    {"SetupDiGetINFClassA", {"SetupDiGetINFClass"}},
    {"SetupDiCreateDeviceInfoList", {"SetupDiCreateDeviceInfoList"}},
    {"SetupDiCreateDeviceInfoA", {"SetupDiCreateDeviceInfo"}},
    {"SetupDiSetDeviceRegistryPropertyA", {"SetupDiSetDeviceRegistryProperty"}},
    {"SetupDiCallClassInstaller", {"SetupDiCallClassInstaller(DIF_REGISTERDEVICE)"}},
    {"UpdateDriverForPlugAndPlayDevicesA", kUpdateReports},
    {"LoadLibraryExA", kUpdateReports},
    {"GetProcAddress", kUpdateReports},
    {"GetSystemDirectoryA", kUpdateReports},
    {"/R SetupDiGetClassDevsA", {"GetClassDevs(All Present Devices)"}},
    {"/R SetupDiEnumDeviceInfo", {"EnumDeviceInfo"}},
    {"/R SetupDiGetDeviceRegistryPropertyA", {"GetDeviceRegistryProperty"}},
    {"/R SetupDiCallClassInstaller", {"CallClassInstaller(REMOVE)"}},
};

// The system's text for a code, as the error reports quote it; "" for a
// code without one (SetupAPI's own codes).
std::string SystemText(DWORD code) {
    LPSTR text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, NULL, code, 0,
                                        reinterpret_cast<LPSTR>(&text), 0, NULL);
    const std::string result = length != 0 ? std::string(text, length) : "";
    LocalFree(text);
    return result;
}

// Every trace line of the run, addresses masked: debugger lines and messages.
Lines Messages() {
    static const std::regex address("0x[0-9a-f]+");
    Lines messages;
    Record record;
    for (const std::string& entry : winsim::DebugOutput()) {
        const std::string text = ParseRecord(entry, &record) ? record.message : entry.substr(kTag.size() + 2);
        messages.push_back(std::regex_replace(text, address, "0x#"));
    }
    return messages;
}

// The log after a run: what it held, then each record the run sent once the
// log was open, less any whose write failed.
std::string ExpectedLog(const std::string& prior, bool opens) {
    std::string log = prior;
    bool open = false;
    const Lines& output = winsim::DebugOutput();
    Record record;
    for (size_t i = 0; i < output.size(); ++i) {
        if (!ParseRecord(output[i], &record)) continue;
        open = open || record.function != "SetOperationType";
        const bool lost = i > 0 && output[i - 1].find(": Can not write to file: Error=") != std::string::npos;
        if (open && opens && !lost) log += output[i];
    }
    return log;
}

struct Fault {
    std::string call;
    unsigned nth = 0;  // among the run's calls of that name, from 1
    DWORD code = 0;
};

// Runs the scenario on a fresh machine with the fault (none for call ""),
// and tells each promise it broke.
Lines RunScenario(const Scenario& scenario, const Fault& fault, const Lines& baseline, Lines* calls, Lines* messages) {
    winsim::Reset();
    scenario.setUp();
    const std::string log = fault.call == "GetTempPathA" ? "C:\\QVDRAVMEL.LOG" : scenario.log;
    const std::string prior = winsim::FileContents(log).value_or("");
    const Lines mirrors = MirrorDevices();
    const Snapshot before = Take();
    const size_t firstCall = winsim::CallLog().size();
    if (!fault.call.empty()) winsim::FailNthCall(fault.call, winsim::CallCount(fault.call) + fault.nth, fault.code);
    winsim::ClearDebugOutput();
    const int exitCode = RunProgram(scenario.arguments);
    calls->assign(winsim::CallLog().begin() + static_cast<long>(firstCall), winsim::CallLog().end());
    *messages = Messages();

    const Promise promise = fault.call.empty() ? Promise{0, 0, nullptr} : PromiseFor(fault.call, fault.nth);
    const bool ended = fault.code == ERROR_NO_MORE_ITEMS;  // an enumeration ends as after its last item
    Lines broken;
    const int owed = scenario.install && !ended ? promise.installExit : 0;
    if (exitCode != owed) broken.push_back("exit code " + std::to_string(exitCode) + ", owed " + std::to_string(owed));
    // A refused release leaves exactly its one object counted, of whatever kind.
    const size_t left = promise.release ? 1 : 0;
    const size_t objects = winsim::OpenHandleCount() + winsim::LiveAllocationCount();
    if (objects != left) broken.push_back("not exactly the objects left");
    const bool opens = fault.call != "CreateFileA" && fault.call != "SetFilePointer";
    const std::string contents = winsim::FileContents(log).value_or("");
    std::vector<Record> records;
    if (!SplitLog(contents, &records)) broken.push_back("the log holds a piece that is no whole record");
    if (contents != ExpectedLog(prior, opens)) broken.push_back("the log is not the earlier log and the run's records");
    const std::string last = "Process return. (Ret=" + std::to_string(exitCode) + ")\n";
    const bool ends = records.size() > 0 && records.back().function == "main" && records.back().message == last;
    if (opens && fault.call != "WriteFile" && !ends) broken.push_back("the log does not end with main's return");
    if (promise.shows != nullptr && !ended) {
        std::map<std::string, int> known;
        for (const std::string& line : baseline) ++known[line];
        bool shown = false;
        bool explained = false;
        bool reported = false;
        const std::string text = SystemText(fault.code);
        const std::string code = std::to_string(static_cast<int32_t>(fault.code));
        const auto report = kReports.find((scenario.install ? "" : "/R ") + fault.call);
        for (const std::string& line : *messages) {
            const bool added = known[line]-- <= 0;
            shown = shown || (added && promise.shows(line, fault.code));
            explained = explained || (added && line.find(text) != std::string::npos);
            for (const std::string& operation : report != kReports.end() ? report->second : Lines{}) {
                const std::string owed = operation + " FAILURE: Code=" + code + (text.empty() ? "" : " : " + text);
                reported = reported || (added && line == owed + "\n");
            }
        }
        if (!shown) broken.push_back("no new trace line shows the failure");
        if (report != kReports.end() && !reported) broken.push_back("no report \"<operation> FAILURE: Code=<code>\"");
        const bool textOwed =
            !text.empty() && (promise.text == kText || (promise.text == kTextOnRemoval && !scenario.install));
        if (textOwed && !explained) broken.push_back("no new trace line gives the system's text for the code");
    }
    if (scenario.install && exitCode == 0 && (MirrorDevices().empty() || !winsim::FindService(kService))) {
        broken.push_back("exit code 0 without a device and its service");
    } else if (scenario.install && exitCode != 0 && MirrorDevices() != mirrors) {
        broken.push_back("a failed installation changed the devices with the hardware ID");
    } else if (!scenario.install && !Traced("QV_UnRegisterMirrorDriver", "<=== QV_UnRegisterMirrorDriver()\n")) {
        broken.push_back("the removal did not run to its end");
    }
    if (!scenario.install) {
        // Whatever failed, only what the lookups can name goes; a handle whose
        // close failed keeps the machine from restarting.
        if (winsim::OpenHandleCount() == 0) winsim::Restart();
        for (const std::string& fault : Unexpected(before, Take(), Expected(0))) {
            if (fault.rfind("removed: ", 0) == 0) broken.push_back(fault);
        }
    }
    return broken;
}

char g_running[256];  // the run under way, for a crash or a hang

void Abandon(int signal) {
    const char* what = signal == SIGALRM ? "hangs: " : "crashes: ";
    (void)!write(2, what, strlen(what));
    (void)!write(2, g_running, strlen(g_running));
    _exit(1);
}

class FaultSweep : public MachineTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(FaultSweep, EveryCallFailingInTurn) {
    const Scenario& scenario = GetParam();
    Lines calls, baseline, runCalls, runMessages;
    ASSERT_EQ(RunScenario(scenario, Fault{}, {}, &calls, &baseline), Lines{});
    for (int signal : {SIGSEGV, SIGABRT, SIGALRM, SIGFPE}) std::signal(signal, Abandon);
    std::map<std::string, unsigned> seen;
    unsigned injected = 0, kept = 0;
    for (size_t position = 0; position < calls.size(); ++position) {
        const std::string& call = calls[position];
        const unsigned nth = ++seen[call];
        ASSERT_TRUE(kPromises.count(call)) << "the sweep knows no promise for a failing " << call;
        Lines codes = {std::to_string(PromiseFor(call, nth).code)};
        if (call == "RegEnumKeyExA" || call == "SetupDiEnumDeviceInfo") codes.push_back("259");
        for (const std::string& code : codes) {
            const Fault fault{call, nth, static_cast<DWORD>(std::stoul(code))};
            const std::string run =
                std::string(scenario.name) + ": " + call + " #" + std::to_string(nth) + " fails with " + code;
            snprintf(g_running, sizeof(g_running), "%s\n", run.c_str());
            alarm(10);
            const Lines broken = RunScenario(scenario, fault, baseline, &runCalls, &runMessages);
            alarm(0);
            ++injected;
            kept += broken.empty() ? 1 : 0;
            for (const std::string& promise : broken) ADD_FAILURE() << run << ": " << promise;
        }
    }
    for (int signal : {SIGSEGV, SIGABRT, SIGALRM, SIGFPE}) std::signal(signal, SIG_DFL);
    winsim::Reset();
    std::cout << "[sweep] " << scenario.name << ": " << calls.size() << " calls, " << injected
              << " faults injected, " << kept << " runs kept every promise" << std::endl;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultSweep, ::testing::ValuesIn(kScenarios),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Interruptions: the process ends before a call, and the next run (a new
// "/A" then "/R", or a new "/R") and a restart must leave the machine as a
// complete run leaves it; what they cannot repair the sweep's data file names.

// What one machine holds beyond the other, by name, with the installation's
// particular names made general; keys and files below another left out.
std::string Beyond(const Snapshot& other, const Snapshot& actual) {
    static const std::regex oem(R"(\\oem\d+\.)");
    std::string left;
    Lines roots;
    for (const auto* kind : {&actual.keys, &actual.files, &actual.devices}) {
        const auto& others = kind == &actual.keys ? other.keys : kind == &actual.files ? other.files : other.devices;
        for (const auto& item : *kind) {
            const std::string& upper = item.first;
            auto below = [&](const std::string& root) { return Within(upper, root); };
            const bool log = upper.find("QVDRAVMEL.LOG") != std::string::npos;
            if (others.count(upper) || std::any_of(roots.begin(), roots.end(), below) || log) continue;
            roots.push_back(upper);
            std::string name = item.second.empty() ? upper : item.second.substr(0, item.second.find('\n'));
            name = std::regex_replace(name, oem, "\\oemN.");
            for (const std::string& guid : {kGuidA, kGuidB}) {
                if (name.find(guid) != std::string::npos) name.replace(name.find(guid), guid.size(), "{GUID}");
            }
            left += (left.empty() ? "`" : ", `") + name + "`";
        }
    }
    return left;
}

// The next runs after a process that ended: a new "/A" (which must leave one
// device with its service and files) and "/R", or a new "/R"; a restart;
// then the broken promises, a line each, and what stays.
std::string NextRuns(const Scenario& scenario, const Snapshot& complete) {
    // The program's own state went with its process.
    QV_CloseLogFile();
    QV_ReleaseDriverUpdate();
    winsim::EndProcess();
    std::string report;
    std::vector<Record> records;
    if (!SplitLog(winsim::FileContents(scenario.log).value_or(""), &records)) report += "a record is torn\n";
    if (scenario.install &&
        (RunProgram(scenario.arguments) != 0 || MirrorDevices().size() != 1 || !winsim::FindService(kService) ||
         !winsim::Exists(kSystemFolder + "\\" + kDll) || !winsim::Exists(kSystemFolder + "\\drivers\\" + kSys))) {
        report += "the next /A left no single device with its service and files\n";
    }
    if (RunProgram({"/R"}) != 0) report += "the next /R failed\n";
    winsim::Restart();
    const Snapshot after = Take();
    const std::string missing = Beyond(after, complete);
    return report + (missing.empty() ? "" : "missing: " + missing + "\n") + Beyond(complete, after);
}

// In a child process, as the program's frames are abandoned where it ends:
// the scenario, ended before the call, and the next runs. Their report, or
// how the child ended.
std::string Interrupt(const Scenario& scenario, const Fault& point, const Snapshot& complete) {
    int fds[2];
    if (pipe(fds) != 0) return "pipe failed\n";
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        winsim::Reset();
        scenario.setUp();
        winsim::EndProcessBeforeNthCall(point.call, winsim::CallCount(point.call) + point.nth, [&] {
            const std::string report = NextRuns(scenario, complete);
            _exit(write(fds[1], report.data(), report.size()) == static_cast<ssize_t>(report.size()) ? 0 : 3);
        });
        RunProgram(scenario.arguments);
        _exit(4);  // the run was not ended
    }
    close(fds[1]);
    std::string report;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) report.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? report : "the child ended with " + std::to_string(status);
}

// The documented windows of a scenario, from the sweep's data file:
// "| `<scenario>` | <when> | `<call #n>` | `<call #n>` | <what stays> |".
Lines DocumentedRows(const std::string& scenario) {
    std::ifstream windows(DRAVMEL_INTERRUPTION_WINDOWS);
    Lines rows;
    for (std::string line; std::getline(windows, line);) {
        if (line.rfind("| `" + scenario + "` |", 0) == 0) {
            const size_t when = line.find(" | ", 3);
            const size_t from = line.find(" | `", when + 3);
            rows.push_back(line.substr(from + 3, line.size() - from - 5));
        }
    }
    return rows;
}

class Interruption : public MachineTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(Interruption, NextRunRepairsOrTheDataFileSaysWhatStays) {
    const Scenario& scenario = GetParam();
    Lines calls, messages;
    ASSERT_EQ(RunScenario(scenario, Fault{}, {}, &calls, &messages), Lines{});
    // What a complete run, "/R" and a restart leave: the measure of an interrupted one.
    winsim::Reset();
    scenario.setUp();
    if (scenario.install) RunProgram(scenario.arguments);
    RunProgram({"/R"});
    winsim::Restart();
    const Snapshot complete = Take();
    std::map<std::string, unsigned> seen;
    Lines windows;  // "`<first call>` | `<last call>` | <what stays>"
    std::string open;
    unsigned repaired = 0, documented = 0;
    for (const std::string& call : calls) {
        const std::string at = call + " #" + std::to_string(++seen[call]);
        const std::string report = Interrupt(scenario, Fault{call, seen[call], 0}, complete);
        if (report.empty() || report[0] != '`') {
            if (!report.empty()) ADD_FAILURE() << scenario.name << ", ended before " << at << ": " << report;
            repaired += report.empty() ? 1 : 0;
            open.clear();
            continue;
        }
        ++documented;
        if (!open.empty() && windows.back().substr(windows.back().rfind(" | ") + 3) == report) {
            windows.back() = open + " | `" + at + "` | " + report;
        } else {
            open = "`" + at + "`";
            windows.push_back(open + " | `" + at + "` | " + report);
        }
    }
    if (windows != DocumentedRows(scenario.name)) {
        std::string rows;
        for (const std::string& window : windows) {
            rows += "| `" + std::string(scenario.name) + "` | ... | " + window + " |\n";
        }
        ADD_FAILURE() << "interruption-windows.txt should have these rows:\n" << rows;
    }
    std::cout << "[interruptions] " << scenario.name << ": " << calls.size() << " points tried, " << repaired
              << " repaired by the next run, " << documented << " documented as leftovers" << std::endl;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Interruption, ::testing::ValuesIn(kScenarios, kScenarios + 3),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
