// SetFilePointer, WriteFile, ReadFile, GetFileSize and CloseHandle on the
// log file as the program writes it: opened, moved to its end, appended to.

#include "conformance.h"

#include <string>

namespace {

class FileIoTest : public PlatformTest {
protected:
    HANDLE Open(const std::string& path, DWORD access, DWORD disposition = OPEN_ALWAYS) {
        return Keep(CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    }
};

TEST_F(FileIoTest, SetFilePointerToEndReturnsFileSize) {
    const struct {
        const char* name;
        std::string contents;
    } cases[] = {{"empty.log", ""}, {"short.log", "earlier run\n"},
                 {"long.log", std::string(70000, 'x')}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(PutFile(c.name, c.contents));
        HANDLE file = Open(Path(c.name), GENERIC_READ | GENERIC_WRITE);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << "error " << GetLastError();
        SetLastError(kPoison);
        EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_END), c.contents.size());
        EXPECT_TRUE(Close(file));
    }
}

TEST_F(FileIoTest, SetFilePointerToBeginReturnsZero) {
    ASSERT_TRUE(PutFile("a.log", "abcdef"));
    HANDLE file = Open(Path("a.log"), GENERIC_READ | GENERIC_WRITE);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    ASSERT_EQ(SetFilePointer(file, 0, nullptr, FILE_END), 6u);
    SetLastError(kPoison);
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_BEGIN), 0u);
    EXPECT_EQ(ReadRest(file), "abcdef");
}

TEST_F(FileIoTest, WriteAfterSeekToEndAppends) {
    ASSERT_TRUE(PutFile("app.log", "run 1\n"));
    const std::string path = Path("app.log");
    HANDLE file = Open(path, GENERIC_READ | GENERIC_WRITE);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    ASSERT_EQ(SetFilePointer(file, 0, nullptr, FILE_END), 6u);
    const std::string record = "run 2\n";
    DWORD written = kPoison;
    SetLastError(kPoison);
    ASSERT_TRUE(WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written,
                          nullptr))
        << "error " << GetLastError();
    EXPECT_EQ(written, record.size());
    EXPECT_EQ(GetFileSize(file, nullptr), 12u);
    // Reading back through the same handle from the start.
    ASSERT_EQ(SetFilePointer(file, 0, nullptr, FILE_BEGIN), 0u);
    EXPECT_EQ(ReadRest(file), "run 1\nrun 2\n");
    EXPECT_TRUE(Close(file));
    EXPECT_EQ(Contents(path), "run 1\nrun 2\n");
}

TEST_F(FileIoTest, SuccessiveWritesFollowEachOther) {
    const std::string path = Path("records.log");
    Owns(path);
    HANDLE file = Open(path, GENERIC_READ | GENERIC_WRITE);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    const std::string records[] = {"a,1\n", std::string(1500, 'r') + "\n", "", "last"};
    std::string expected;
    for (const std::string& record : records) {
        SCOPED_TRACE(record.size());
        DWORD written = kPoison;
        SetLastError(kPoison);
        ASSERT_TRUE(WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written,
                              nullptr))
            << "error " << GetLastError();
        EXPECT_EQ(written, record.size());
        expected += record;
    }
    EXPECT_TRUE(Close(file));
    EXPECT_EQ(Contents(path), expected);
}

TEST_F(FileIoTest, WriteOnReadOnlyHandleIsAccessDenied) {
    ASSERT_TRUE(PutFile("ro.log", "keep"));
    HANDLE file = Open(Path("ro.log"), GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    DWORD written = kPoison;
    SetLastError(kPoison);
    EXPECT_FALSE(WriteFile(file, "x", 1, &written, nullptr));
    EXPECT_LAST_ERROR(ERROR_ACCESS_DENIED);
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(Close(file));
    EXPECT_EQ(Contents(Path("ro.log")), "keep");
}

TEST_F(FileIoTest, ReadAtEndOfFileReadsNothing) {
    ASSERT_TRUE(PutFile("end.log", "abc"));
    HANDLE file = Open(Path("end.log"), GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    ASSERT_EQ(SetFilePointer(file, 0, nullptr, FILE_END), 3u);
    char buffer[8];
    DWORD read = kPoison;
    SetLastError(kPoison);
    EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(read, 0u);
}

TEST_F(FileIoTest, CloseHandleOfClosedHandleFails) {
    const std::string path = Path("close.log");
    Owns(path);
    HANDLE file = Open(path, GENERIC_READ | GENERIC_WRITE);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    Forget(file);
    SetLastError(kPoison);
    EXPECT_TRUE(CloseHandle(file));
    SetLastError(kPoison);
    EXPECT_FALSE(CloseHandle(file));
    EXPECT_LAST_ERROR(ERROR_INVALID_HANDLE);
}

}  // namespace
