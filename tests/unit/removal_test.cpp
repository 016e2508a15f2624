// Removal of registry keys and files: what goes, what stays, and that a
// failure never turns into deleting something nobody named.
#include "driver_package.h"
#include "machine_paths.h"
#include "trace_harness.h"
#include "uninstall.h"
#include "winsim_test.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

const char kGuid[] = "{70116F96-A70B-4A5A-9765-3C0C52974C09}";

class RegistryRemovalTest : public WinsimTest {};

TEST_F(RegistryRemovalTest, TreeThreeLevelsDeepGoesDeepestFirst) {
    const std::string key = kVideoKey + "\\" + kGuid;
    for (const char* path : {"\\0000\\Settings\\Mode", "\\0000\\Settings\\Other", "\\Video"}) {
        ASSERT_TRUE(winsim::CreateRegistryKey(key + path));
    }
    ASSERT_TRUE(winsim::CreateRegistryKey(kVideoKey + "\\{OTHER}\\0000"));

    EXPECT_EQ(QV_DeleteRegistry(HKEY_LOCAL_MACHINE, kVideoKey.c_str(), kGuid), 0u);
    EXPECT_FALSE(winsim::RegistryKeyExists(key));
    EXPECT_TRUE(winsim::RegistryKeyExists(kVideoKey + "\\{OTHER}\\0000"));

    EXPECT_EQ(TraceOf("QV_DeleteRegistry"),
              (Lines{std::string(" --> QV_DeleteRegistry(0x80000002, ") + kVideoKey + ", " + kGuid + ")\n",
                     " <-- QV_DeleteRegistry(0)\n"}));
    EXPECT_EQ(TraceOf("QV_DeleteAllSubKey"),
              (Lines{" --> QV_DeleteAllSubKey(0x80000002, " + key + ")\n",
                     " --> QV_DeleteAllSubKey(0x80000002, " + key + "\\0000)\n",
                     " --> QV_DeleteAllSubKey(0x80000002, " + key + "\\0000\\Settings)\n",
                     " --> QV_DeleteAllSubKey(0x80000002, " + key + "\\0000\\Settings\\Mode)\n",
                     " <-- QV_DeleteAllSubKey(0)\n",
                     " --> QV_DeleteAllSubKey(0x80000002, " + key + "\\0000\\Settings\\Other)\n",
                     " <-- QV_DeleteAllSubKey(0)\n",
                     " <-- QV_DeleteAllSubKey(0)\n",
                     " <-- QV_DeleteAllSubKey(0)\n",
                     " --> QV_DeleteAllSubKey(0x80000002, " + key + "\\Video)\n",
                     " <-- QV_DeleteAllSubKey(0)\n",
                     " <-- QV_DeleteAllSubKey(0)\n"}));
}

TEST_F(RegistryRemovalTest, NullAndEmptyPathsDeleteNothing) {
    ASSERT_TRUE(winsim::CreateRegistryKey(kVideoKey + "\\" + kGuid));
    EXPECT_EQ(QV_DeleteRegistry(HKEY_LOCAL_MACHINE, NULL, NULL), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(QV_DeleteRegistry(HKEY_LOCAL_MACHINE, "", NULL), 0u);
    EXPECT_EQ(QV_DeleteRegistry(HKEY_LOCAL_MACHINE, kVideoKey.c_str(), ""), 0u);
    EXPECT_EQ(QV_DeleteRegistry(NULL, "", "x"), 0u);
    EXPECT_TRUE(Trace().empty());
    EXPECT_EQ(QV_DeleteAllSubKey(NULL, ""), 0u);
    EXPECT_EQ(Trace(), (Lines{"QV_DeleteAllSubKey:  --> QV_DeleteAllSubKey(0x0, )\n"}));
    EXPECT_EQ(winsim::CallCount("RegOpenKeyExA"), 0u);
    EXPECT_TRUE(winsim::RegistryKeyExists(kVideoKey));
}

TEST_F(RegistryRemovalTest, MissingKeyIsReportedAndNothingElseTried) {
    EXPECT_EQ(QV_DeleteRegistry(NULL, kVideoKey.c_str(), "{MISSING}"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    const std::string key = kVideoKey + "\\{MISSING}";
    EXPECT_EQ(Trace(),
              (Lines{"QV_DeleteRegistry:  --> QV_DeleteRegistry(0x80000002, " + kVideoKey + ", {MISSING})\n",
                     "QV_DeleteAllSubKey:  --> QV_DeleteAllSubKey(0x80000002, " + key + ")\n",
                     "QV_DeleteAllSubKey: Error: RegOpenKeyEx(Err=2) [" + key + "]\n",
                     "QV_FormatErrorCode: ErrorCode(2):The system cannot find the file specified.\r\n",
                     "QV_DeleteRegistry:  <-- QV_DeleteRegistry(2)\n"}));
    EXPECT_EQ(winsim::CallCount("RegDeleteKeyA"), 0u);
}

TEST_F(RegistryRemovalTest, KeyThatCannotBeOpenedForDeletionIsLeftWhole) {
    const std::string key = kVideoKey + "\\" + kGuid;
    ASSERT_TRUE(winsim::CreateRegistryKey(key + "\\0000"));
    ASSERT_TRUE(winsim::DenyRegistryAccess(key, KEY_ALL_ACCESS));
    EXPECT_EQ(QV_DeleteRegistry(NULL, kVideoKey.c_str(), kGuid), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(winsim::RegistryKeyExists(key + "\\0000"));
}

// A sub-key whose deletion fails is passed over: the loop ends, the other
// sub-keys go, and the key above it stays with the error reported.
TEST_F(RegistryRemovalTest, UndeletableSubKeyEndsTheLoopAndKeepsItsParent) {
    const std::string key = kVideoKey + "\\" + kGuid;
    for (const char* sub : {"\\A", "\\B", "\\C"}) {
        ASSERT_TRUE(winsim::CreateRegistryKey(key + sub));
    }
    winsim::FailNthCall("RegDeleteKeyA", 1, ERROR_ACCESS_DENIED);  // the first, "A"

    EXPECT_EQ(QV_DeleteRegistry(NULL, kVideoKey.c_str(), kGuid), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(winsim::RegistrySubKeys(key), (Lines{"A"}));
    Lines trace = TraceOf("QV_DeleteAllSubKey");
    EXPECT_NE(std::find(trace.begin(), trace.end(), "Error: RegDeleteKey(Err=5) Key=A\n"), trace.end());
    EXPECT_EQ(TraceOf("QV_DeleteRegistry").back(), " <-- QV_DeleteRegistry(5)\n");
    EXPECT_EQ(winsim::CallCount("RegDeleteKeyA"), 4u);  // A, B, C, then the key itself
}

TEST_F(RegistryRemovalTest, FailedEnumerationEndsTheLoop) {
    const std::string key = kVideoKey + "\\" + kGuid;
    ASSERT_TRUE(winsim::CreateRegistryKey(key + "\\A"));
    winsim::FailEveryCall("RegEnumKeyExA", ERROR_ACCESS_DENIED);
    EXPECT_EQ(QV_DeleteAllSubKey(NULL, key.c_str()), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(TraceOf("QV_DeleteAllSubKey"),
              (Lines{" --> QV_DeleteAllSubKey(0x0, " + key + ")\n", "Error: RegEnumKeyEx(Err=5)\n",
                     " <-- QV_DeleteAllSubKey(5)\n"}));
    EXPECT_TRUE(winsim::RegistryKeyExists(key + "\\A"));
}

TEST_F(RegistryRemovalTest, PathThatWouldNotFitIsRefused) {
    const std::string longName(230, 'k');  // with the parent path: 270 characters
    EXPECT_EQ(QV_DeleteRegistry(NULL, kVideoKey.c_str(), longName.c_str()),
              static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(winsim::CallCount("RegOpenKeyExA"), 0u);
    EXPECT_EQ(winsim::CallCount("RegDeleteKeyA"), 0u);
}

// Child paths too long to open are not cut into another key's path: such a
// tree is reported and left, and the removal ends.
TEST_F(RegistryRemovalTest, TreeDeeperThanAPathCanNameIsLeft) {
    std::string key = kVideoKey + "\\" + kGuid;
    std::string path = key;
    for (int level = 0; level < 40; ++level) {
        path += "\\level" + std::to_string(level);
    }
    ASSERT_TRUE(winsim::CreateRegistryKey(path));
    EXPECT_NE(QV_DeleteRegistry(NULL, kVideoKey.c_str(), kGuid), 0u);
    EXPECT_TRUE(winsim::RegistryKeyExists(path));
    Lines trace = TraceOf("QV_DeleteAllSubKey");
    EXPECT_NE(std::find_if(trace.begin(), trace.end(),
                           [](const std::string& line) { return line.rfind("Error: Path too long. [", 0) == 0; }),
              trace.end());
}

class FileRemovalTest : public WinsimTest {
protected:
    void SetUp() override {
        WinsimTest::SetUp();
        ASSERT_TRUE(winsim::MakeDirectories("C:\\Drv"));
    }
};

TEST_F(FileRemovalTest, ReadOnlyFileIsDeletedAfterItsAttributeIsCleared) {
    ASSERT_TRUE(winsim::PutFile("C:\\Drv\\a.sys", "x", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(QV_DeleteFile("C:\\Drv", "a.sys"), 0u);
    EXPECT_FALSE(winsim::Exists("C:\\Drv\\a.sys"));
    EXPECT_EQ(TraceOf("QV_DeleteFile"), (Lines{" --> QV_DeleteFile( C:\\Drv, a.sys )\n"}));
    EXPECT_EQ(TraceOf("QV_RemoveReadOnlyAttribute").front(), " --> QV_RemoveReadOnlyAttribute(C:\\Drv\\a.sys)\n");
}

TEST_F(FileRemovalTest, MissingFileIsNothingToDo) {
    EXPECT_EQ(QV_DeleteFile("C:\\Drv", "a.sys"), 0u);
    EXPECT_EQ(QV_DeleteFile(NULL, "C:\\Drv\\a.sys"), 0u);
    EXPECT_EQ(QV_RemoveFile("C:\\Missing", "a.sys"), 0u);
    EXPECT_EQ(Trace(), (Lines{"QV_DeleteFile:  --> QV_DeleteFile( C:\\Drv, a.sys )\n",
                              "QV_DeleteFile:  --> QV_DeleteFile( C:\\Drv\\a.sys )\n",
                              "QV_RemoveFile:  --> QV_RemoveFile( C:\\Missing, a.sys )\n"}));
}

// A search that fails for another reason than a missing file is reported,
// and the file is left rather than taken for absent in silence.
TEST_F(FileRemovalTest, FailedSearchIsReportedAndTheFileLeft) {
    ASSERT_TRUE(winsim::PutFile("C:\\Drv\\a.sys", "x"));
    winsim::FailEveryCall("FindFirstFileA", ERROR_ACCESS_DENIED);
    EXPECT_EQ(QV_DeleteFile("C:\\Drv", "a.sys"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(QV_RemoveFile(NULL, "C:\\Drv\\a.sys"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(winsim::Exists("C:\\Drv\\a.sys"));
    EXPECT_EQ(TraceOf("QV_DeleteFile"), (Lines{" --> QV_DeleteFile( C:\\Drv, a.sys )\n", "Error: FindFirstFile(Err=5)\n"}));
    EXPECT_EQ(TraceOf("QV_RemoveFile"), (Lines{" --> QV_RemoveFile( C:\\Drv\\a.sys )\n", "Error: FindFirstFile(Err=5)\n"}));
    EXPECT_EQ(winsim::CallCount("DeleteFileA") + winsim::CallCount("MoveFileExA"), 0u);
}

TEST_F(FileRemovalTest, JoinedPathThatWouldNotFitIsRefused) {
    const std::string folder = "C:\\" + std::string(250, 'd');
    EXPECT_EQ(QV_DeleteFile(folder.c_str(), "QVMIRx64.SYS"), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(QV_RemoveFile(folder.c_str(), "QVMIRx64.DLL"), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(winsim::CallCount("FindFirstFileA"), 0u);
    EXPECT_EQ(TraceOf("QV_DeleteFile").back(), "Error: Path too long. [" + folder + "\\QVMIRx64.SYS]\n");
}

TEST_F(FileRemovalTest, EmptyDirectoryNamesNoFile) {
    ASSERT_TRUE(winsim::PutFile("C:\\a.sys", "x"));
    EXPECT_EQ(QV_DeleteFile("", "a.sys"), 0u);
    EXPECT_TRUE(winsim::Exists("C:\\a.sys"));
}

}  // namespace
