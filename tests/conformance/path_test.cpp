// Win32 path rules that the program's composed names depend on: letter case
// is ignored, repeated backslashes count as one, '/' separates like '\'.
// The default log name, for one, is the temporary folder (which ends with a
// backslash) plus "\QVDRAVMEL.LOG".

#include "conformance.h"

#include <algorithm>

namespace {

class PathTest : public PlatformTest {
protected:
    HANDLE OpenExisting(const std::string& path) {
        return Keep(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    HANDLE OpenLog(const std::string& path) {
        return Keep(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    static std::string Slashed(std::string path) {
        std::replace(path.begin(), path.end(), '\\', '/');
        return path;
    }
};

TEST_F(PathTest, LetterCaseIsIgnored) {
    ASSERT_TRUE(PutFile("Log.TXT", "cased"));
    const char* spellings[] = {"log.txt", "LOG.TXT", "lOg.TxT"};
    for (const char* name : spellings) {
        SCOPED_TRACE(name);
        SetLastError(kPoison);
        HANDLE file = OpenExisting(Path(name));
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << "error " << GetLastError();
        EXPECT_EQ(ReadRest(file), "cased");
        EXPECT_TRUE(Close(file));
    }
}

TEST_F(PathTest, OpenAlwaysInOtherCaseOpensTheSameFile) {
    ASSERT_TRUE(PutFile("Log.TXT", "cased"));
    SetLastError(kPoison);
    HANDLE file = OpenLog(Path("LOG.txt"));
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    EXPECT_LAST_ERROR(ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ReadRest(file), "cased");
}

TEST_F(PathTest, RepeatedBackslashesNameTheSameFile) {
    ASSERT_TRUE(MakeDir("dir"));
    ASSERT_TRUE(PutFile("dir\\file.txt", "one"));
    const std::string paths[] = {Root() + "\\dir\\\\file.txt", Root() + "\\\\dir\\file.txt",
                                 Root() + "\\\\dir\\\\\\file.txt"};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        SetLastError(kPoison);
        HANDLE file = OpenExisting(path);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << "error " << GetLastError();
        EXPECT_EQ(ReadRest(file), "one");
        EXPECT_TRUE(Close(file));
    }
}

TEST_F(PathTest, DoubleBackslashNameCreatesTheSingleBackslashFile) {
    const std::string single = Path("QVDRAVMEL.LOG");
    Owns(single);
    SetLastError(kPoison);
    HANDLE file = OpenLog(Root() + "\\\\QVDRAVMEL.LOG");
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    EXPECT_LAST_ERROR(ERROR_SUCCESS);
    ASSERT_TRUE(WriteAll(file, "first record\n"));
    EXPECT_TRUE(Close(file));
    EXPECT_EQ(Contents(single), "first record\n");
}

TEST_F(PathTest, ForwardSlashesNameTheSameFile) {
    ASSERT_TRUE(MakeDir("dir"));
    ASSERT_TRUE(PutFile("dir\\file.txt", "two"));
    const std::string paths[] = {Root() + "/dir/file.txt", Slashed(Path("dir\\file.txt")),
                                 Root() + "\\dir/file.txt"};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        SetLastError(kPoison);
        HANDLE file = OpenExisting(path);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << "error " << GetLastError();
        EXPECT_EQ(ReadRest(file), "two");
        EXPECT_TRUE(Close(file));
    }
}

}  // namespace
