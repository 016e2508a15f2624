// Command line, default log file name and the main flow, as the calling
// setup program and the support staff see them: exit code, debugger channel
// and log file.
#include "main.h"
#include "trace_harness.h"
#include "winsim_test.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

const std::string kLong259(259, 'x');
const std::string kLong260(260, 'x');

struct CommandLineFault {
    const char* name;
    std::vector<std::string> arguments;
    Lines trace;
};

void PrintTo(const CommandLineFault& param, std::ostream* os) { *os << param.name; }

class CommandLineFaultTest : public WinsimTest,
                             public ::testing::WithParamInterface<CommandLineFault> {};

// Every fault ends with 87, traces what went wrong on the debugger channel
// and never creates the log file.
TEST_P(CommandLineFaultTest, EndsWith87AndWritesNoLog) {
    const CommandLineFault& fault = GetParam();
    EXPECT_EQ(RunProgram(fault.arguments), 87);
    EXPECT_EQ(Trace(), fault.trace);
    EXPECT_FALSE(winsim::Exists(kDefaultLog));
    EXPECT_FALSE(winsim::Exists("C:\\Y"));
}

std::string DefaultLogLine() { return std::string("dbg: szLogFileName=[") + kDefaultLog + "]\n"; }

INSTANTIATE_TEST_SUITE_P(
    Program, CommandLineFaultTest,
    ::testing::Values(
        CommandLineFault{"NoArgument", {}, {"dbg: ->main(argc=1)\n", "dbg: Invalid Parameter? (Ret=87)\n"}},
        CommandLineFault{"InstallThenRemove",
                         {"/A", "/R", "/S:X"},
                         {"dbg: ->main(argc=4)\n", "SetOperationType: SetOperationType(0x10)\n",
                          "dbg: /R or /A is already specified.\n", "dbg: Invalid Parameter? (Ret=87)\n"}},
        CommandLineFault{"RemoveThenInstall",
                         {"/r", "/a"},
                         {"dbg: ->main(argc=3)\n", "SetOperationType: SetOperationType(0x20)\n",
                          "dbg: /R or /A is already specified.\n", "dbg: Invalid Parameter? (Ret=87)\n"}},
        CommandLineFault{"NoOperation",
                         {"/S:X", "/L:C:\\Y"},
                         {"dbg: ->main(argc=3)\n", "dbg: /R or /A is required.\n", "dbg: Operation=0xff\n",
                          "dbg: szInstImageDir=[X]\n", "dbg: szLogFileName=[C:\\Y]\n",
                          "dbg: Invalid Parameter? (Ret=87)\n"}},
        CommandLineFault{"InstallWithEmptyImageDir",
                         {"/A", "/S:"},
                         {"dbg: ->main(argc=3)\n", "SetOperationType: SetOperationType(0x10)\n",
                          "dbg: InstDestDir or InstImageDir is not specified.\n", "dbg: Operation=0x10\n",
                          "dbg: szInstImageDir=[]\n", DefaultLogLine(), "dbg: Invalid Parameter? (Ret=87)\n"}},
        CommandLineFault{"LogFileNameOf260",
                         {"/R", "/L:" + kLong260, "/S:X"},
                         {"dbg: ->main(argc=4)\n", "SetOperationType: SetOperationType(0x20)\n",
                          "dbg: BuffSize(LogFileName)=260, Need=260\n", "dbg: Invalid Parameter? (Ret=87)\n"}},
        CommandLineFault{"ImageDirOf300",
                         {"/S:" + std::string(300, 'd'), "/A"},
                         {"dbg: ->main(argc=3)\n", "dbg: BuffSize(InstImageDir)=260, Need=300\n",
                          "dbg: Invalid Parameter? (Ret=87)\n"}}),
    [](const ::testing::TestParamInfo<CommandLineFault>& info) { return std::string(info.param.name); });

struct AcceptedCommandLine {
    const char* name;
    std::vector<std::string> arguments;
    DWORD operation;
    std::string imageDir;
    std::string logFileName;
};

void PrintTo(const AcceptedCommandLine& param, std::ostream* os) { *os << param.name; }

class AcceptedCommandLineTest : public WinsimTest,
                                public ::testing::WithParamInterface<AcceptedCommandLine> {};

TEST_P(AcceptedCommandLineTest, FillsTheRecord) {
    const AcceptedCommandLine& accepted = GetParam();
    std::vector<std::string> storage{"Dravmel.exe"};
    storage.insert(storage.end(), accepted.arguments.begin(), accepted.arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : storage) {
        argv.push_back(argument.data());
    }

    CInstallInformation info;
    EXPECT_EQ(QV_ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &info), 0u);
    EXPECT_EQ(info.GetOperationType(), accepted.operation);
    EXPECT_EQ(std::string(info.GetInstImageDir()), accepted.imageDir);
    EXPECT_EQ(std::string(info.GetLogFileName()), accepted.logFileName);

    Lines trace = Trace();
    ASSERT_GE(trace.size(), 3u);
    Lines summary(trace.end() - 3, trace.end());
    char operation[32];
    snprintf(operation, sizeof(operation), "dbg: Operation=0x%x\n", static_cast<unsigned>(accepted.operation));
    EXPECT_EQ(summary, (Lines{operation, "dbg: szInstImageDir=[" + accepted.imageDir + "]\n",
                              "dbg: szLogFileName=[" + accepted.logFileName + "]\n"}));
}

INSTANTIATE_TEST_SUITE_P(
    Program, AcceptedCommandLineTest,
    ::testing::Values(
        AcceptedCommandLine{"InstallWithImageDir", {"/A", "/S:C:\\Drv"}, 0x10, "C:\\Drv", kDefaultLog},
        AcceptedCommandLine{"RemoveInLowerCase", {"/r"}, 0x20, "", kDefaultLog},
        AcceptedCommandLine{"LongSwitchesMatchOnTheirPrefix", {"/Allow", "/s:X"}, 0x10, "X", kDefaultLog},
        AcceptedCommandLine{"UnknownArgumentsAreSkipped",
                            {"/X", "-A", "/Sfoo", "/S", "C:\\bare", "/Remove", "/l:C:\\Log"},
                            0x20, "", "C:\\Log"},
        AcceptedCommandLine{"EmptyLogNameMeansDefault", {"/L:", "/R"}, 0x20, "", kDefaultLog},
        AcceptedCommandLine{"LastValueStands", {"/L:one", "/S:a", "/L:two", "/S:b", "/A"}, 0x10, "b", "two"},
        AcceptedCommandLine{"ValueKeptUnchanged", {"/A", "/S: C:\\My Drv\\ "}, 0x10, " C:\\My Drv\\ ", kDefaultLog},
        AcceptedCommandLine{"ImageDirAcceptedWithRemoval", {"/S:X", "/R"}, 0x20, "X", kDefaultLog},
        AcceptedCommandLine{"LogFileNameOf259", {"/R", "/L:" + kLong259}, 0x20, "", kLong259}),
    [](const ::testing::TestParamInfo<AcceptedCommandLine>& info) { return std::string(info.param.name); });

class CommandLineTest : public WinsimTest {};

TEST_F(CommandLineTest, RepeatedOperationIsTracedEachTime) {
    EXPECT_EQ(RunProgram({"/A", "/A", "/S:X"}), ERROR_REM_NOT_LIST);  // no driver package in X
    Lines trace = Trace();
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "SetOperationType: SetOperationType(0x10)\n"), 2);
}

// The default log is the temporary folder, a backslash and QVDRAVMEL.LOG;
// a name that would not fit is refused whole and the run goes on without a log.
struct DefaultLogCase {
    const char* name;
    std::string tempPath;
    std::string logFileName;
    Lines refusal;
};

void PrintTo(const DefaultLogCase& param, std::ostream* os) { *os << param.name; }

class DefaultLogTest : public WinsimTest, public ::testing::WithParamInterface<DefaultLogCase> {};

TEST_P(DefaultLogTest, ComposesOrRefuses) {
    const DefaultLogCase& test = GetParam();
    winsim::SetTempPath(test.tempPath);
    winsim::MakeDirectories(test.tempPath);  // fails harmlessly for the over-long ones
    EXPECT_EQ(RunProgram({"/R"}), 0);

    Lines trace = Trace();
    Lines expected{"dbg: ->main(argc=2)\n", "SetOperationType: SetOperationType(0x20)\n"};
    expected.insert(expected.end(), test.refusal.begin(), test.refusal.end());
    expected.insert(expected.end(), {"dbg: Operation=0x20\n", "dbg: szInstImageDir=[]\n",
                                     "dbg: szLogFileName=[" + test.logFileName + "]\n"});
    ASSERT_GT(trace.size(), expected.size());
    EXPECT_EQ(Lines(trace.begin(), trace.begin() + static_cast<long>(expected.size())), expected);
    EXPECT_EQ(trace.back(), "main: Process return. (Ret=0)\n");
    if (!test.logFileName.empty()) {
        EXPECT_EQ(LogRecords(test.logFileName).back(), "main: Process return. (Ret=0)\n");
    }
}

const std::string kTemp250 = "C:\\" + std::string(246, 't') + "\\";  // 250 characters
const std::string kTemp259 = "C:\\" + std::string(255, 't') + "\\";  // 259 characters

INSTANTIATE_TEST_SUITE_P(
    Program, DefaultLogTest,
    ::testing::Values(
        DefaultLogCase{"TempFolderKeepsItsBackslash", "C:\\Temp\\", "C:\\Temp\\\\QVDRAVMEL.LOG", {}},
        DefaultLogCase{"NoTempFolderMeansDriveRoot", "", "\\QVDRAVMEL.LOG", {}},
        DefaultLogCase{"TempFolderTooLongForTheBuffer", "C:\\" + std::string(300, 't') + "\\", "\\QVDRAVMEL.LOG", {}},
        DefaultLogCase{"ComposedNameOf264IsRefused", kTemp250, "",
                       {"dbg: BuffSize(LogFileName)=260, Need=264\n"}},
        DefaultLogCase{"TempFolderOf259IsRefused", kTemp259, "",
                       {"dbg: BuffSize(LogFileName)=260, Need=273\n"}}),
    [](const ::testing::TestParamInfo<DefaultLogCase>& info) { return std::string(info.param.name); });

class MainFlowTest : public WinsimTest {};

TEST_F(MainFlowTest, RemovalLogsItsResultAndClosesTheLog) {
    EXPECT_EQ(RunProgram({"/R"}), 0);
    Lines records = LogRecords(kDefaultLog);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.front(), "QV_Uninstall: =====> QV_Uninstall()\n");
    EXPECT_EQ(records.back(), "main: Process return. (Ret=0)\n");
    // Records written before the log was open reach the debugger channel only.
    Lines trace = Trace();
    EXPECT_EQ(trace.front(), "dbg: ->main(argc=2)\n");
    EXPECT_EQ(trace.back(), "main: Process return. (Ret=0)\n");
}

TEST_F(MainFlowTest, InstallationResultBecomesTheExitCode) {
    ASSERT_TRUE(winsim::MakeDirectories("C:\\Drv"));
    EXPECT_EQ(RunProgram({"/A", "/S:C:\\Drv", "/L:C:\\Drv\\setup.log"}), ERROR_REM_NOT_LIST);
    EXPECT_EQ(LogRecords("C:\\Drv\\setup.log").back(), "main: Process return. (Ret=51)\n");
}

TEST_F(MainFlowTest, SecondRunAppendsToTheLog) {
    ASSERT_TRUE(winsim::PutFile("C:\\setup.log", "earlier contents\n"));
    EXPECT_EQ(RunProgram({"/R", "/L:C:\\setup.log"}), 0);
    EXPECT_EQ(RunProgram({"/L:c:/SETUP.LOG", "/R"}), 0);
    std::string contents = winsim::FileContents("C:\\setup.log").value();
    EXPECT_EQ(contents.rfind("earlier contents\n", 0), 0u);
    Lines records = LogRecords("C:\\setup.log");
    EXPECT_EQ(records.front(), "raw: earlier contents\n");
    EXPECT_EQ(std::count(records.begin(), records.end(), "QV_Uninstall: =====> QV_Uninstall()\n"), 2);
    EXPECT_EQ(std::count(records.begin(), records.end(), "main: Process return. (Ret=0)\n"), 2);
    EXPECT_EQ(records.back(), "main: Process return. (Ret=0)\n");
}

TEST_F(MainFlowTest, LogThatCannotBeOpenedLeavesTheTraceOnTheDebuggerChannel) {
    EXPECT_EQ(RunProgram({"/R", "/L:C:\\missing\\setup.log"}), 0);
    Lines trace = Trace();
    EXPECT_NE(std::find(trace.begin(), trace.end(), "dbg: ERROR: CreateFile(3)\n"), trace.end());
    EXPECT_EQ(trace.back(), "main: Process return. (Ret=0)\n");
    EXPECT_FALSE(winsim::Exists("C:\\missing"));
}

}  // namespace
