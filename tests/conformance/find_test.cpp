// FindFirstFileA/FindClose as an existence test: a file, a folder or a
// wildcard pattern that matches counts as found.

#include "conformance.h"

#include <cstring>

namespace {

class FindTest : public PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(MakeDir("Images"));
        ASSERT_TRUE(PutFile("Images\\QVMIRx64.INF", "[Version]\r\n"));
    }
    HANDLE Find(const std::string& path, WIN32_FIND_DATAA* data) {
        return KeepFind(FindFirstFileA(path.c_str(), data));
    }
};

TEST_F(FindTest, FindsExistingFile) {
    WIN32_FIND_DATAA data;
    std::memset(&data, 0xcc, sizeof data);
    SetLastError(kPoison);
    HANDLE search = Find(Path("Images\\QVMIRx64.INF"), &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    EXPECT_STREQ(data.cFileName, "QVMIRx64.INF");
    // Made with FILE_ATTRIBUTE_NORMAL: a new file carries the archive bit.
    EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(data.nFileSizeLow, 11u);
    EXPECT_EQ(data.nFileSizeHigh, 0u);
    SetLastError(kPoison);
    EXPECT_TRUE(CloseFind(search));
}

TEST_F(FindTest, FindsFileInAnyCaseAndReportsItsOwnName) {
    const char* spellings[] = {"images\\qvmirx64.inf", "IMAGES\\QVMIRX64.INF"};
    for (const char* name : spellings) {
        SCOPED_TRACE(name);
        WIN32_FIND_DATAA data;
        SetLastError(kPoison);
        HANDLE search = Find(Path(name), &data);
        ASSERT_NE(search, INVALID_HANDLE_VALUE) << "error " << GetLastError();
        EXPECT_STREQ(data.cFileName, "QVMIRx64.INF");
        EXPECT_TRUE(CloseFind(search));
    }
}

TEST_F(FindTest, FindsExistingFolder) {
    const std::string paths[] = {Path("Images"), Path("images")};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        WIN32_FIND_DATAA data;
        SetLastError(kPoison);
        HANDLE search = Find(path, &data);
        ASSERT_NE(search, INVALID_HANDLE_VALUE) << "error " << GetLastError();
        EXPECT_NE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
        EXPECT_STREQ(data.cFileName, "Images");
        EXPECT_TRUE(CloseFind(search));
    }
}

TEST_F(FindTest, FindsThroughRepeatedSeparators) {
    // "%s\\%s" from an image folder given with a trailing backslash.
    const std::string paths[] = {Root() + "\\Images\\\\QVMIRx64.INF",
                                 Root() + "/Images/QVMIRx64.INF"};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        WIN32_FIND_DATAA data;
        SetLastError(kPoison);
        HANDLE search = Find(path, &data);
        ASSERT_NE(search, INVALID_HANDLE_VALUE) << "error " << GetLastError();
        EXPECT_STREQ(data.cFileName, "QVMIRx64.INF");
        EXPECT_TRUE(CloseFind(search));
    }
}

TEST_F(FindTest, WildcardMatches) {
    const char* patterns[] = {"*.INF", "*.inf", "Q?MIR*", "QVMIR???.INF", "qvmir*.*"};
    for (const char* pattern : patterns) {
        SCOPED_TRACE(pattern);
        WIN32_FIND_DATAA data;
        SetLastError(kPoison);
        HANDLE search = Find(Path(std::string("Images\\") + pattern), &data);
        ASSERT_NE(search, INVALID_HANDLE_VALUE) << "error " << GetLastError();
        EXPECT_STREQ(data.cFileName, "QVMIRx64.INF");
        EXPECT_TRUE(CloseFind(search));
    }
}

TEST_F(FindTest, NoMatchIsFileNotFound) {
    const char* names[] = {"Images\\QVMIRx64.SYS", "Images\\*.SYS", "Images\\Q?MIRx86*",
                           "missing"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        WIN32_FIND_DATAA data;
        SetLastError(kPoison);
        HANDLE search = Find(Path(name), &data);
        EXPECT_EQ(search, INVALID_HANDLE_VALUE);
        EXPECT_LAST_ERROR(ERROR_FILE_NOT_FOUND);
    }
}

// A name ending in a separator, or a drive's root, names no entry to find,
// even where the folder exists.
TEST_F(FindTest, PathEndingInSeparatorFindsNothing) {
    const std::string paths[] = {Path("Images\\"), Root() + "/Images/", Root() + "\\", "C:\\"};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        WIN32_FIND_DATAA data;
        SetLastError(kPoison);
        HANDLE search = Find(path, &data);
        EXPECT_EQ(search, INVALID_HANDLE_VALUE);
        EXPECT_LAST_ERROR(ERROR_FILE_NOT_FOUND);
    }
}

TEST_F(FindTest, MissingFolderIsPathNotFound) {
    const char* names[] = {"Drivers\\QVMIRx64.INF", "Drivers\\*.INF", "Images\\sub\\QVMIRx64.INF"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        WIN32_FIND_DATAA data;
        SetLastError(kPoison);
        HANDLE search = Find(Path(name), &data);
        EXPECT_EQ(search, INVALID_HANDLE_VALUE);
        EXPECT_LAST_ERROR(ERROR_PATH_NOT_FOUND);
    }
}

}  // namespace
