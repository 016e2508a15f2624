// DeleteFileA (the uninstaller removes driver files with it) and the folder
// calls that the tests' working folder is built with.

#include "conformance.h"

namespace {

using DeleteFileTest = PlatformTest;
using DirectoryTest = PlatformTest;

bool Found(const std::string& path) {
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(path.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}

TEST_F(DeleteFileTest, DeletesClosedFile) {
    ASSERT_TRUE(PutFile("QVMIRx64.DLL", "MZ"));
    const std::string path = Path("qvmirx64.dll");
    SetLastError(kPoison);
    EXPECT_TRUE(DeleteFileA(path.c_str())) << "error " << GetLastError();
    EXPECT_FALSE(Found(Path("QVMIRx64.DLL")));
}

TEST_F(DeleteFileTest, MissingFileFails) {
    const struct {
        const char* name;
        DWORD error;
    } cases[] = {
        {"missing.sys", ERROR_FILE_NOT_FOUND},
        {"no such folder\\missing.sys", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(kPoison);
        EXPECT_FALSE(DeleteFileA(Path(c.name).c_str()));
        EXPECT_LAST_ERROR(c.error);
    }
}

TEST_F(DeleteFileTest, FolderIsAccessDenied) {
    ASSERT_TRUE(MakeDir("drivers"));
    SetLastError(kPoison);
    EXPECT_FALSE(DeleteFileA(Path("drivers").c_str()));
    EXPECT_LAST_ERROR(ERROR_ACCESS_DENIED);
    EXPECT_TRUE(Found(Path("drivers")));
}

TEST_F(DeleteFileTest, FileOpenWithoutDeleteSharingIsRefused) {
    ASSERT_TRUE(PutFile("QVMIRx64.SYS", "MZ"));
    const std::string path = Path("QVMIRx64.SYS");
    const DWORD shares[] = {0u, FILE_SHARE_READ, FILE_SHARE_READ | FILE_SHARE_WRITE};
    for (DWORD share : shares) {
        SCOPED_TRACE(share);
        HANDLE file = Keep(CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << "error " << GetLastError();
        SetLastError(kPoison);
        EXPECT_FALSE(DeleteFileA(path.c_str()));
        EXPECT_LAST_ERROR(ERROR_SHARING_VIOLATION);
        EXPECT_TRUE(Close(file));
    }
    EXPECT_TRUE(Found(path));
}

TEST_F(DirectoryTest, CreateDirectoryMakesFolder) {
    const std::string path = Path("New Folder");
    SetLastError(kPoison);
    ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << "error " << GetLastError();
    OwnsDir(path);
    WIN32_FIND_DATAA data;
    HANDLE search = KeepFind(FindFirstFileA(path.c_str(), &data));
    ASSERT_NE(search, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    EXPECT_NE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_TRUE(CloseFind(search));
}

TEST_F(DirectoryTest, CreateDirectoryFailures) {
    ASSERT_TRUE(MakeDir("exists"));
    ASSERT_TRUE(PutFile("file", "x"));
    const struct {
        const char* name;
        DWORD error;
    } cases[] = {
        {"exists", ERROR_ALREADY_EXISTS},
        {"EXISTS", ERROR_ALREADY_EXISTS},
        {"file", ERROR_ALREADY_EXISTS},
        {"missing\\child", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(kPoison);
        EXPECT_FALSE(CreateDirectoryA(Path(c.name).c_str(), nullptr));
        EXPECT_LAST_ERROR(c.error);
    }
}

TEST_F(DirectoryTest, RemoveDirectoryRemovesEmptyFolder) {
    const std::string path = Path("empty");
    ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << "error " << GetLastError();
    SetLastError(kPoison);
    EXPECT_TRUE(RemoveDirectoryA(path.c_str())) << "error " << GetLastError();
    EXPECT_FALSE(Found(path));
}

TEST_F(DirectoryTest, RemoveDirectoryFailures) {
    ASSERT_TRUE(MakeDir("full"));
    ASSERT_TRUE(PutFile("full\\inside", "x"));
    const struct {
        const char* name;
        DWORD error;
    } cases[] = {
        {"full", ERROR_DIR_NOT_EMPTY},
        {"missing", ERROR_FILE_NOT_FOUND},
        {"missing\\child", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(kPoison);
        EXPECT_FALSE(RemoveDirectoryA(Path(c.name).c_str()));
        EXPECT_LAST_ERROR(c.error);
    }
}

}  // namespace
