// The command line, the trace log and the error reports: what the calling
// setup program and support staff see of a run.
#include "common.h"
#include "machine_test.h"

namespace {

const std::string k259(259, 'x');
const std::string k260(260, 'x');
// A log name of 259 characters in a folder that does not exist.
const std::string kLog259 = "C:\\" + std::string(127, 'a') + "\\" + std::string(128, 'b');

struct CommandLineCase {
    const char* name;
    Lines arguments;
    int exitCode;
    Lines debuggerLines;  // after "->main(argc=N)\n"
    std::string log;      // the log the run writes, "" for none
};

void PrintTo(const CommandLineCase& c, std::ostream* os) { *os << c.name; }

Lines Summary(const char* operation, const std::string& folder, const std::string& log) {
    return {std::string("Operation=") + operation + "\n", "szInstImageDir=[" + folder + "]\n",
            "szLogFileName=[" + log + "]\n"};
}

Lines Join(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Lines kRefused = {"Invalid Parameter? (Ret=87)\n"};
const Lines kConflict = {"/R or /A is already specified.\n", "Invalid Parameter? (Ret=87)\n"};

const CommandLineCase kCommandLines[] = {
    {"NoArgument", {}, 87, kRefused, ""},
    {"InstallThenRemove", {"/A", "/S:C:\\Drv", "/r"}, 87, kConflict, ""},
    {"RemoveThenInstallLongForms", {"/Remove", "/ALL"}, 87, kConflict, ""},
    {"NeitherOperation", {"-A", "/S", "/X", "C:\\Drv", "/l:C:\\my.log"}, 87,
     Join(Join({"/R or /A is required.\n"}, Summary("0xff", "", "C:\\my.log")), kRefused), ""},
    {"InstallWithEmptyFolder", {"/a", "/s:C:\\Drv", "/S:"}, 87,
     Join(Join({"InstDestDir or InstImageDir is not specified.\n"}, Summary("0x10", "", kDefaultLog)), kRefused), ""},
    {"LogOf260", {"/R", "/L:" + k260}, 87, Join({"BuffSize(LogFileName)=260, Need=260\n"}, kRefused), ""},
    {"FolderOf260", {"/S:" + k260, "/A"}, 87, Join({"BuffSize(InstImageDir)=260, Need=260\n"}, kRefused), ""},
    {"ValuesOf259AndALogThatCannotBeOpened", {"/R", "/S:" + k259, "/L:" + kLog259}, 0,
     Join(Summary("0x20", k259, kLog259), {"ERROR: CreateFile(3)\n"}), ""},
    {"LastLogStandsAndEmptyMeansDefault", {"/L:C:\\first.log", "/R", "/L:"}, 0, Summary("0x20", "", kDefaultLog),
     kDefaultLog},
    {"InstallRepeatedLastFolderStands", {"/A", "/S:C:\\Nowhere", "/a", "/S:C:\\Drv", "/L:C:\\my.log"}, 0,
     Summary("0x10", "C:\\Drv", "C:\\my.log"), "C:\\my.log"},
};

class CommandLineTest : public MachineTest, public ::testing::WithParamInterface<CommandLineCase> {};

TEST_P(CommandLineTest, ExitCodeDebuggerLinesAndLog) {
    const CommandLineCase& c = GetParam();
    PutPackage();
    EXPECT_EQ(RunProgram(c.arguments), c.exitCode);
    const std::string entry = "->main(argc=" + std::to_string(c.arguments.size() + 1) + ")\n";
    EXPECT_EQ(DebuggerLines(), Join({entry}, c.debuggerLines));
    for (const std::string& log : {kDefaultLog, std::string("C:\\my.log"), std::string("C:\\first.log")}) {
        const auto contents = winsim::FileContents(log);
        EXPECT_EQ(contents.has_value(), log == c.log) << log;
        std::vector<Record> records;
        if (contents && SplitLog(*contents, &records)) {
            ASSERT_FALSE(records.empty());
            EXPECT_EQ(records.back().function + ": " + records.back().message, "main: Process return. (Ret=0)\n");
        } else if (contents) {
            ADD_FAILURE() << "not a log of whole records: " << *contents;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, CommandLineTest, ::testing::ValuesIn(kCommandLines),
                         [](const auto& info) { return std::string(info.param.name); });

using TraceTest = MachineTest;

// A record's time is the local time, year first, to the millisecond.
TEST_F(TraceTest, RecordsCarryTheLocalTime) {
    SYSTEMTIME time = {1999, 12, 5, 31, 23, 59, 58, 42};
    winsim::SetLocalTime(time);
    ASSERT_EQ(RunProgram({"/R", "/L:C:\\my.log"}), 0);
    std::vector<Record> records;
    ASSERT_TRUE(SplitLog(*winsim::FileContents("C:\\my.log"), &records) && !records.empty());
    EXPECT_EQ(records.front().time, "1999/12/31 23:59:58:042");
}

// What the log checks rest on: a record cut short, one without a message and
// text between two records are no whole records.
TEST(LogTest, OnlyWholeRecordsPass) {
    const std::string head = "2021/03/01 10:00:00:000," + kTag + ",1,0,main,";
    std::vector<Record> records;
    EXPECT_TRUE(SplitLog(head + "one\n" + head + "two" + head + "three\r\n\n", &records));
    EXPECT_EQ(records.size(), 3u);
    const Lines torn = {head.substr(0, 30), head, head + "one\n" + head.substr(0, 20) + head + "two\n",
                        head + "one\nstray text\n" + head + "two\n"};
    for (const std::string& log : torn) EXPECT_FALSE(SplitLog(log, &records)) << log;
}

// A log that cannot be opened or positioned is not open; opening it again
// first closes what was open.
TEST_F(TraceTest, OpeningTheLogTellsWhetherItIsOpen) {
    EXPECT_TRUE(QV_OpenLogFile(""));
    EXPECT_FALSE(QV_OpenLogFile("C:\\Missing\\my.log"));
    winsim::FailNthCall("SetFilePointer", 1, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(QV_OpenLogFile("C:\\my.log"));
    EXPECT_TRUE(QV_OpenLogFile("C:\\my.log"));
    EXPECT_TRUE(QV_OpenLogFile("C:\\my.log"));
    QV_CloseLogFile();
}

TEST_F(TraceTest, LongMessagesAreCutAndTheLastErrorIsKept) {
    SetLastError(1234);
    QV_WriteLog("test", 7, "Caller", "%s|", std::string(2000, 'm').c_str());
    QV_DebugPrint("%s", "debugger line");
    EXPECT_EQ(GetLastError(), 1234u);
    EXPECT_EQ(TraceOf("Caller"), (Lines{std::string(1023, 'm')}));
    EXPECT_EQ(DebuggerLines(), (Lines{"debugger line"}));
}

// An error report keeps the last-error value, with the system's text or
// without (the fault sweep holds the reports' wording).
TEST_F(TraceTest, ErrorReportsKeepTheLastError) {
    for (bool withText : {true, false}) {
        if (!withText) {
            winsim::FailNthCall("FormatMessageA", winsim::CallCount("FormatMessageA") + 1, ERROR_MR_MID_NOT_FOUND);
        }
        SetLastError(ERROR_ACCESS_DENIED);
        QV_DisplayError("Step");
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    EXPECT_EQ(TraceOf("QV_DisplayError"), (Lines{"Step FAILURE: Code=5 : Access is denied.\r\n\n",
                                                 "Step FAILURE: Code=5\n"}));
}

}  // namespace
