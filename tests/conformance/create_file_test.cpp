// CreateFileA: dispositions, failures and sharing, as the log file uses them
// (GENERIC_READ|GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS).

#include "conformance.h"

namespace {

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

class CreateFileTest : public PlatformTest {
protected:
    HANDLE Create(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
        return CreateFileA(path.c_str(), access, share, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    // The log file's open call.
    HANDLE OpenLog(const std::string& path) {
        return Create(path, kReadWrite, FILE_SHARE_READ, OPEN_ALWAYS);
    }
};

TEST_F(CreateFileTest, OpenAlwaysCreatesMissingFile) {
    const std::string path = Path("new.log");
    Owns(path);
    SetLastError(kPoison);
    HANDLE file = Keep(OpenLog(path));
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    EXPECT_LAST_ERROR(ERROR_SUCCESS);
    EXPECT_EQ(GetFileSize(file, nullptr), 0u);
    EXPECT_TRUE(Close(file));
    EXPECT_EQ(Contents(path), std::string());
}

TEST_F(CreateFileTest, OpenAlwaysOpensExistingFileWithContents) {
    ASSERT_TRUE(PutFile("old.log", "earlier run\n"));
    SetLastError(kPoison);
    HANDLE file = Keep(OpenLog(Path("old.log")));
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    EXPECT_LAST_ERROR(ERROR_ALREADY_EXISTS);
    EXPECT_EQ(GetFileSize(file, nullptr), 12u);
    // Not truncated, and positioned at the start.
    EXPECT_EQ(ReadRest(file), "earlier run\n");
}

TEST_F(CreateFileTest, OpenExistingOnMissingFileFails) {
    const DWORD accesses[] = {GENERIC_READ, kReadWrite};
    for (DWORD access : accesses) {
        SCOPED_TRACE(access);
        SetLastError(kPoison);
        HANDLE file = Keep(Create(Path("missing.log"), access, FILE_SHARE_READ, OPEN_EXISTING));
        EXPECT_EQ(file, INVALID_HANDLE_VALUE);
        EXPECT_LAST_ERROR(ERROR_FILE_NOT_FOUND);
    }
}

TEST_F(CreateFileTest, MissingFolderFailsWithPathNotFound) {
    const DWORD dispositions[] = {OPEN_ALWAYS, OPEN_EXISTING, CREATE_ALWAYS};
    for (DWORD disposition : dispositions) {
        SCOPED_TRACE(disposition);
        SetLastError(kPoison);
        HANDLE file = Keep(Create(Path("no such folder\\x.log"), kReadWrite, FILE_SHARE_READ,
                                  disposition));
        EXPECT_EQ(file, INVALID_HANDLE_VALUE);
        EXPECT_LAST_ERROR(ERROR_PATH_NOT_FOUND);
    }
}

TEST_F(CreateFileTest, FolderOpenedAsFileIsAccessDenied) {
    ASSERT_TRUE(MakeDir("folder"));
    const struct {
        DWORD access;
        DWORD disposition;
    } cases[] = {{kReadWrite, OPEN_ALWAYS}, {GENERIC_READ, OPEN_EXISTING}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.disposition);
        SetLastError(kPoison);
        HANDLE file = Keep(Create(Path("folder"), c.access, FILE_SHARE_READ, c.disposition));
        EXPECT_EQ(file, INVALID_HANDLE_VALUE);
        EXPECT_LAST_ERROR(ERROR_ACCESS_DENIED);
    }
}

// The first opener holds read and write access and shares reading only.
TEST_F(CreateFileTest, SecondWriterIsRefused) {
    const std::string path = Path("shared.log");
    Owns(path);
    HANDLE first = Keep(OpenLog(path));
    ASSERT_NE(first, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    const struct {
        DWORD access;
        DWORD share;
        DWORD disposition;
    } cases[] = {
        {GENERIC_WRITE, kShareAll, OPEN_EXISTING},
        {GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS},
        {kReadWrite, FILE_SHARE_READ, OPEN_ALWAYS},  // a second program run
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "access " << std::hex << c.access << " share " << c.share);
        SetLastError(kPoison);
        HANDLE second = Keep(Create(path, c.access, c.share, c.disposition));
        EXPECT_EQ(second, INVALID_HANDLE_VALUE);
        EXPECT_LAST_ERROR(ERROR_SHARING_VIOLATION);
    }
}

TEST_F(CreateFileTest, ReaderThatSharesWritingIsAdmitted) {
    const std::string path = Path("shared.log");
    Owns(path);
    HANDLE first = Keep(OpenLog(path));
    ASSERT_NE(first, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    ASSERT_TRUE(WriteAll(first, "record 1\n"));
    SetLastError(kPoison);
    HANDLE reader = Keep(Create(path, GENERIC_READ, kShareAll, OPEN_EXISTING));
    ASSERT_NE(reader, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    // The reader sees what the writer has written so far.
    EXPECT_EQ(ReadRest(reader), "record 1\n");
}

TEST_F(CreateFileTest, ReaderThatDeniesWritingIsRefused) {
    const std::string path = Path("shared.log");
    Owns(path);
    HANDLE first = Keep(OpenLog(path));
    ASSERT_NE(first, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    SetLastError(kPoison);
    HANDLE reader = Keep(Create(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    EXPECT_EQ(reader, INVALID_HANDLE_VALUE);
    EXPECT_LAST_ERROR(ERROR_SHARING_VIOLATION);
}

TEST_F(CreateFileTest, DeleteOfOpenFileWithoutDeleteSharingIsRefused) {
    const std::string path = Path("shared.log");
    Owns(path);
    HANDLE first = Keep(OpenLog(path));
    ASSERT_NE(first, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    SetLastError(kPoison);
    EXPECT_FALSE(DeleteFileA(path.c_str()));
    EXPECT_LAST_ERROR(ERROR_SHARING_VIOLATION);
    // Once closed, the file can go.
    EXPECT_TRUE(Close(first));
    SetLastError(kPoison);
    EXPECT_TRUE(DeleteFileA(path.c_str())) << "error " << GetLastError();
    SetLastError(kPoison);
    HANDLE again = Keep(Create(path, GENERIC_READ, kShareAll, OPEN_EXISTING));
    EXPECT_EQ(again, INVALID_HANDLE_VALUE);
    EXPECT_LAST_ERROR(ERROR_FILE_NOT_FOUND);
}

TEST_F(CreateFileTest, ClosedFileCanBeOpenedAgain) {
    const std::string path = Path("reopen.log");
    Owns(path);
    HANDLE first = Keep(OpenLog(path));
    ASSERT_NE(first, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    EXPECT_TRUE(Close(first));
    SetLastError(kPoison);
    HANDLE second = Keep(OpenLog(path));
    ASSERT_NE(second, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    EXPECT_LAST_ERROR(ERROR_ALREADY_EXISTS);
}

}  // namespace
