// GetFileAttributesA and SetFileAttributesA, as used to find files and to
// clear a read-only attribute before deleting.

#include "conformance.h"

namespace {

class FileAttributesTest : public PlatformTest {
protected:
    void SetUp() override {
        PlatformTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(MakeDir("Images"));
        ASSERT_TRUE(PutFile("Images\\oem3.inf", "[Version]\r\n"));
        file_ = Path("Images\\oem3.inf");
    }
    void TearDown() override {
        // A read-only file would stay behind.
        SetFileAttributesA(file_.c_str(), FILE_ATTRIBUTE_NORMAL);
        PlatformTest::TearDown();
    }
    std::string file_;
};

TEST_F(FileAttributesTest, ReportsFilesAndFolders) {
    SetLastError(kPoison);
    EXPECT_EQ(GetFileAttributesA(file_.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(GetFileAttributesA(Path("IMAGES\\OEM3.INF").c_str()),
              static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    for (const std::string& folder :
         {Path("Images"), Path("Images\\"), Root(), std::string("C:\\")}) {
        SCOPED_TRACE(folder);
        const DWORD attributes = GetFileAttributesA(folder.c_str());
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
        EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    }
    EXPECT_EQ(GetLastError(), kPoison);
}

TEST_F(FileAttributesTest, FailuresReportWhatIsMissing) {
    struct Case {
        std::string path;
        DWORD error;
    };
    const Case cases[] = {
        {Path("Images\\oem4.inf"), ERROR_FILE_NOT_FOUND},
        {Path("Drivers\\oem3.inf"), ERROR_PATH_NOT_FOUND},
        {Path("Images\\oem3.inf\\x"), ERROR_PATH_NOT_FOUND},
        {Path("Images\\*.inf"), ERROR_INVALID_NAME},
        {"", ERROR_PATH_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        SetLastError(kPoison);
        EXPECT_EQ(GetFileAttributesA(c.path.c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_LAST_ERROR(c.error);
        SetLastError(kPoison);
        EXPECT_FALSE(SetFileAttributesA(c.path.c_str(), FILE_ATTRIBUTE_NORMAL));
        EXPECT_LAST_ERROR(c.error);
    }
}

TEST_F(FileAttributesTest, SettingANameEndingInASeparatorOnAFileIsInvalidName) {
    SetLastError(kPoison);
    EXPECT_FALSE(SetFileAttributesA((file_ + "\\").c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_LAST_ERROR(ERROR_INVALID_NAME);
}

TEST_F(FileAttributesTest, SetsAndReportsTheGivenAttributes) {
    const DWORD values[] = {
        FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE,
        FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE,
        FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE,
    };
    for (DWORD value : values) {
        SCOPED_TRACE(value);
        SetLastError(kPoison);
        EXPECT_TRUE(SetFileAttributesA(file_.c_str(), value));
        EXPECT_EQ(GetFileAttributesA(file_.c_str()), value);
        EXPECT_EQ(GetLastError(), kPoison);
    }
}

// FILE_ATTRIBUTE_NORMAL counts only alone and then clears every attribute;
// the folder bit cannot be set on a file.
TEST_F(FileAttributesTest, NormalAloneClearsTheOthersAndIsIgnoredWithThem) {
    const bool wine = RunningUnderWine();
    if (wine) NoteWineDifference("every file keeps FILE_ATTRIBUTE_ARCHIVE");
    const DWORD kept = wine ? FILE_ATTRIBUTE_ARCHIVE : 0;
    ASSERT_TRUE(SetFileAttributesA(file_.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributesA(file_.c_str()), FILE_ATTRIBUTE_READONLY | kept);
    ASSERT_TRUE(
        SetFileAttributesA(file_.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(GetFileAttributesA(file_.c_str()), FILE_ATTRIBUTE_HIDDEN | kept);
    for (DWORD value : {DWORD{FILE_ATTRIBUTE_NORMAL}, DWORD{0}}) {
        SCOPED_TRACE(value);
        ASSERT_TRUE(SetFileAttributesA(file_.c_str(), FILE_ATTRIBUTE_READONLY));
        ASSERT_TRUE(SetFileAttributesA(file_.c_str(), value));
        EXPECT_EQ(GetFileAttributesA(file_.c_str()), wine ? kept : FILE_ATTRIBUTE_NORMAL);
    }
}

TEST_F(FileAttributesTest, AFolderStaysAFolder) {
    const std::string folder = Path("Images");
    for (DWORD value : {DWORD{FILE_ATTRIBUTE_NORMAL}, DWORD{0}}) {
        SCOPED_TRACE(value);
        EXPECT_TRUE(SetFileAttributesA(folder.c_str(), value));
        EXPECT_EQ(GetFileAttributesA(folder.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    }
}

TEST_F(FileAttributesTest, ClearingReadOnlyLetsTheFileBeDeleted) {
    ASSERT_TRUE(SetFileAttributesA(file_.c_str(), FILE_ATTRIBUTE_READONLY));
    SetLastError(kPoison);
    EXPECT_FALSE(DeleteFileA(file_.c_str()));
    EXPECT_LAST_ERROR(ERROR_ACCESS_DENIED);
    ASSERT_TRUE(SetFileAttributesA(file_.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(DeleteFileA(file_.c_str()));
    EXPECT_EQ(GetFileAttributesA(file_.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
