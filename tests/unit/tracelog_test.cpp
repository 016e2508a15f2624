// The trace log: record format, the log file's life, and the debugger channel.
#include "common.h"
#include "trace_harness.h"
#include "winsim_test.h"

#include <algorithm>
#include <string>

namespace {

using Lines = std::vector<std::string>;

const char kLog[] = "C:\\Logs\\setup.log";
const std::string kTag = EXPECTED_TRACE_TAG;

class TraceLogTest : public WinsimTest {
protected:
    void SetUp() override {
        WinsimTest::SetUp();
        ASSERT_TRUE(winsim::MakeDirectories("C:\\Logs"));
    }
    void TearDown() override {
        QV_CloseLogFile();
        WinsimTest::TearDown();
    }
    std::string Log() { return winsim::FileContents(kLog).value_or("<no file>"); }
};

TEST_F(TraceLogTest, RecordHasTheSixFieldsAndNoLineEndOfItsOwn) {
    winsim::SetLocalTime(LocalTimeAt("2021-03-02 09:05:03.007"));
    ASSERT_TRUE(QV_OpenLogFile(kLog));

    QV_WriteLog("main", 108, "main", "Process return. (Ret=%d)\n", 0);
    QV_WriteLog("common", -5, "Fn,with,commas", "a, b %s %x", "c", 255u);

    const std::string first = "2021/03/02 09:05:03:007," + kTag + ",108,0,main,Process return. (Ret=0)\n";
    const std::string second = "2021/03/02 09:05:03:007," + kTag + ",-5,0,Fn,with,commas,a, b c ff";
    EXPECT_EQ(Log(), first + second);
    // The debugger channel gets each record unchanged, without a tag prefix.
    EXPECT_EQ(winsim::DebugOutput(), (Lines{first, second}));
}

TEST_F(TraceLogTest, TimestampPadsEveryField) {
    winsim::SetLocalTime(LocalTimeAt("2019-11-04 14:07:09.042"));
    QV_WriteLog("main", 1, "f", "m\n");
    EXPECT_EQ(winsim::DebugOutput().back().substr(0, 24), "2019/11/04 14:07:09:042,");
}

TEST_F(TraceLogTest, RecordsBeforeTheLogIsOpenReachOnlyTheDebuggerChannel) {
    QV_WriteLog("main", 1, "f", "early\n");
    ASSERT_TRUE(QV_OpenLogFile(kLog));
    QV_WriteLog("main", 2, "f", "late\n");
    QV_CloseLogFile();
    QV_WriteLog("main", 3, "f", "after\n");
    EXPECT_EQ(LogRecords(kLog), (Lines{"f: late\n"}));
    EXPECT_EQ(Trace(), (Lines{"f: early\n", "f: late\n", "f: after\n"}));
}

TEST_F(TraceLogTest, EmptyNameOpensNothing) {
    EXPECT_TRUE(QV_OpenLogFile(""));
    QV_WriteLog("main", 1, "f", "m\n");
    EXPECT_EQ(winsim::CallCount("CreateFileA"), 0u);
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(TraceLogTest, ExistingLogKeepsItsContents) {
    ASSERT_TRUE(winsim::PutFile(kLog, "old line\n"));
    ASSERT_TRUE(QV_OpenLogFile(kLog));
    QV_WriteLog("main", 1, "f", "new\n");
    EXPECT_EQ(LogRecords(kLog), (Lines{"raw: old line\n", "f: new\n"}));
}

TEST_F(TraceLogTest, LogInAMissingFolderIsReportedAndTheTraceGoesOn) {
    EXPECT_FALSE(QV_OpenLogFile("C:\\Missing\\setup.log"));
    QV_WriteLog("main", 1, "f", "still traced\n");
    EXPECT_EQ(Trace(), (Lines{"dbg: ERROR: CreateFile(3)\n", "f: still traced\n"}));
    EXPECT_FALSE(winsim::Exists("C:\\Missing"));
}

TEST_F(TraceLogTest, OtherProcessesMayReadButNotWriteTheOpenLog) {
    ASSERT_TRUE(QV_OpenLogFile(kLog));
    HANDLE hWriter = CreateFileA(kLog, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    EXPECT_EQ(hWriter, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    HANDLE hReader = CreateFileA(kLog, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    EXPECT_NE(hReader, INVALID_HANDLE_VALUE);
    CloseHandle(hReader);
}

TEST_F(TraceLogTest, MessageWithoutLineEndLeavesTheNextRecordOnItsLine) {
    ASSERT_TRUE(QV_OpenLogFile(kLog));
    QV_WriteLog("common", 1, "QV_FormatErrorCode", "ErrorCode(%d)", 12345);
    QV_WriteLog("main", 2, "main", "next\n");
    std::string log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);
    EXPECT_EQ(LogRecords(kLog), (Lines{"QV_FormatErrorCode: ErrorCode(12345)", "main: next\n"}));
}

TEST_F(TraceLogTest, LongMessageIsCutAt1023Characters) {
    const std::string longText(3000, 'm');
    QV_WriteLog("main", 1, "f", "%s", longText.c_str());
    QV_DebugPrint("%s", longText.c_str());
    EXPECT_EQ(Trace(), (Lines{"f: " + longText.substr(0, 1023), "dbg: " + longText.substr(0, 1023)}));
}

TEST_F(TraceLogTest, TracingKeepsTheLastErrorValue) {
    ASSERT_TRUE(QV_OpenLogFile(kLog));
    SetLastError(0xE000020B);
    QV_WriteLog("main", 1, "f", "m\n");
    EXPECT_EQ(GetLastError(), 0xE000020Bu);
    QV_DebugPrint("m\n");
    EXPECT_EQ(GetLastError(), 0xE000020Bu);
}

TEST_F(TraceLogTest, FailedWriteIsReportedAndTheNextRecordTriedAgain) {
    ASSERT_TRUE(QV_OpenLogFile(kLog));
    winsim::FailNthCall("WriteFile", 1, ERROR_ACCESS_DENIED);
    SetLastError(ERROR_NO_MORE_ITEMS);
    QV_WriteLog("main", 1, "f", "lost\n");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    QV_WriteLog("main", 2, "f", "kept\n");
    EXPECT_EQ(Trace(), (Lines{"dbg: Can not write to file: Error=5\n", "f: lost\n", "f: kept\n"}));
    EXPECT_EQ(LogRecords(kLog), (Lines{"f: kept\n"}));
}

TEST_F(TraceLogTest, LogThatCannotBePositionedAtItsEndIsNotOverwritten) {
    ASSERT_TRUE(winsim::PutFile(kLog, "earlier run\n"));
    winsim::FailNthCall("SetFilePointer", 1, ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(QV_OpenLogFile(kLog));
    QV_WriteLog("main", 1, "f", "m\n");
    EXPECT_EQ(Log(), "earlier run\n");
    EXPECT_EQ(Trace(), (Lines{"dbg: ERROR: SetFilePointer(87)\n", "f: m\n"}));
}

TEST_F(TraceLogTest, ClosingTwiceIsHarmless) {
    ASSERT_TRUE(QV_OpenLogFile(kLog));
    QV_CloseLogFile();
    QV_CloseLogFile();
    EXPECT_EQ(winsim::CallCount("CloseHandle"), 1u);
}

struct ExistenceCase {
    const char* path;
    BOOL exists;
};

void PrintTo(const ExistenceCase& param, std::ostream* os) { *os << '"' << param.path << '"'; }

class FileExistsTest : public WinsimTest, public ::testing::WithParamInterface<ExistenceCase> {};

TEST_P(FileExistsTest, FindsFilesAndFolders) {
    ASSERT_TRUE(winsim::MakeDirectories("C:\\Drv"));
    ASSERT_TRUE(winsim::PutFile("C:\\Drv\\QVMIRx64.INF", "[Version]\n"));
    EXPECT_EQ(QV_FileExists(GetParam().path), GetParam().exists) << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(Trace, FileExistsTest,
                         ::testing::Values(ExistenceCase{"C:\\Drv\\QVMIRx64.INF", TRUE},
                                           ExistenceCase{"c:\\drv\\\\qvmirx64.inf", TRUE},
                                           ExistenceCase{"C:\\Drv", TRUE},
                                           ExistenceCase{"C:\\Drv\\*.inf", TRUE},
                                           ExistenceCase{"C:\\Drv\\QVMIRx64.DLL", FALSE},
                                           ExistenceCase{"C:\\Missing\\QVMIRx64.INF", FALSE},
                                           ExistenceCase{"", FALSE}));

}  // namespace
