// The lookups and removals at their boundaries: result buffers one byte too
// small, paths one character too long, names that name nothing, and trees
// that cannot be deleted whole.
#include "machine_test.h"
#include "install.h"
#include "uninstall.h"

#include <cstring>

namespace {

DWORD ReinstallKey(LPSTR buffer, LPDWORD size) {
    char folder[MAX_PATH];
    DWORD folderSize = MAX_PATH;
    return QV_GetReinstallRegPath(buffer, size, folder, &folderSize);
}

DWORD ReinstallFolder(LPSTR buffer, LPDWORD size) {
    char key[MAX_PATH];
    DWORD keySize = MAX_PATH;
    return QV_GetReinstallRegPath(key, &keySize, buffer, size);
}

struct SizeCase {
    const char* name;
    DWORD (*lookup)(LPSTR, LPDWORD);
    std::string result;
    DWORD fits;      // the smallest size that takes the result
    DWORD refused;   // the error one byte less gives
    DWORD reported;  // and the size it then reports
};

void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.name; }

const std::string kOemInf = kInfFolder + "\\oem7.inf";
const std::string kProfileKeyA = kProfileVideoKey + "\\" + kGuidA;
const std::string kReinstallEntry = kReinstallKey + "\\0003";
const DWORD kValueSize = static_cast<DWORD>((kBackup + "\\" + kInf).size() + 1);

auto Size(const std::string& text) { return static_cast<DWORD>(text.size()); }

const SizeCase kSizeCases[] = {
    {"OemInf", QV_GetOEMInfFileName, kOemInf, Size(kOemInf) + 1, ERROR_INSUFFICIENT_BUFFER, Size(kOemInf)},
    {"AttachPath", QV_GetAttachToDesktopPath, kProfileKeyA, Size(kProfileKeyA) + 1, ERROR_INSUFFICIENT_BUFFER,
     Size(kProfileKeyA)},
    {"ReinstallKey", ReinstallKey, kReinstallEntry, Size(kReinstallEntry) + 1, ERROR_INSUFFICIENT_BUFFER,
     Size(kReinstallEntry)},
    // The folder is read as the value, file name and all.
    {"ReinstallFolder", ReinstallFolder, kBackup, kValueSize, ERROR_MORE_DATA, kValueSize},
};

class ResultSizeTest : public MachineTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(ResultSizeTest, TheSizeMustExceedTheResult) {
    const SizeCase& c = GetParam();
    PutInstallation();
    char buffer[MAX_PATH];
    DWORD size = c.fits;
    std::memset(buffer, 'z', sizeof(buffer));
    EXPECT_EQ(c.lookup(buffer, &size), 0u);
    EXPECT_EQ(std::string(buffer), c.result);
    size = c.fits - 1;
    std::memset(buffer, 'z', sizeof(buffer));
    EXPECT_EQ(c.lookup(buffer, &size), c.refused);
    EXPECT_EQ(size, c.reported);
    EXPECT_EQ(buffer[0], '\0');
}

INSTANTIATE_TEST_SUITE_P(Lookups, ResultSizeTest, ::testing::ValuesIn(kSizeCases),
                         [](const auto& info) { return std::string(info.param.name); });

using RemovalStepTest = MachineTest;

// A lookup that finds nothing empties its result and returns why.
TEST_F(RemovalStepTest, FailedLookupsReturnTheirCode) {
    ASSERT_TRUE(winsim::CreateRegistryKey(kServiceVideoKey));  // without VideoID
    ASSERT_TRUE(winsim::SetRegistryString(kReinstallKey + "\\0001", "DeviceDesc", "Another adapter"));
    char buffer[MAX_PATH] = "x", folder[MAX_PATH] = "x";
    DWORD size = MAX_PATH, folderSize = MAX_PATH;
    QV_GUID_ENTRY* list = nullptr;
    EXPECT_EQ(QV_GetOEMInfFileName(buffer, &size), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_TRUE(Traced("QV_FormatErrorCode", "ErrorCode(259):No more data is available.\r\n"));
    EXPECT_EQ(QV_GetAttachToDesktopPath(buffer, &size), 2u);
    EXPECT_EQ(QV_GetReinstallRegPath(buffer, &size, folder, &folderSize), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(std::string(buffer) + folder, "");
    EXPECT_EQ(QV_GetMirrorGuid(&list), 2u);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(QV_UnRegisterService("QVMIRROR", FALSE), 1060u);
    ASSERT_TRUE(winsim::SetRegistryString(kReinstallKey + "\\0001", "DeviceDesc", kDeviceDesc));
    ASSERT_TRUE(winsim::SetRegistryString(kReinstallKey + "\\0001", "ReinstallString", "x.inf"));
    EXPECT_EQ(QV_GetReinstallRegPath(buffer, &size, folder, &folderSize), static_cast<DWORD>(ERROR_INVALID_DATA));
    ASSERT_TRUE(winsim::DenyRegistryAccess(kReinstallKey, KEY_READ));
    EXPECT_EQ(QV_GetReinstallRegPath(buffer, &size, folder, &folderSize), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    ASSERT_TRUE(winsim::DenyRegistryAccess(kDisplayClassKey, KEY_READ));
    EXPECT_EQ(QV_GetOEMInfFileName(buffer, &size), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// A call that fails on the way is the lookup's or the removal's result.
TEST_F(RemovalStepTest, FailedCallsAreTheResult) {
    PutInstallation();
    char buffer[MAX_PATH];
    char folder[MAX_PATH];
    DWORD size = MAX_PATH;
    DWORD folderSize = MAX_PATH;
    QV_GUID_ENTRY* list = nullptr;
    for (unsigned nth = 1; nth <= 3; ++nth) winsim::FailNthCall("RegEnumKeyExA", nth, ERROR_MORE_DATA);
    EXPECT_EQ(QV_GetOEMInfFileName(buffer, &size), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(QV_GetMirrorGuid(&list), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(QV_GetReinstallRegPath(buffer, &size, folder, &folderSize), static_cast<DWORD>(ERROR_MORE_DATA));
    winsim::FailNthCall("RegOpenKeyExA", winsim::CallCount("RegOpenKeyExA") + 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(QV_GetAttachToDesktopPath(buffer, &size), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    winsim::FailNthCall("GetWindowsDirectoryA", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(QV_GetOEMInfFileName(buffer, &size), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    const std::string held = kSystemFolder + "\\drivers\\" + kSys;
    ASSERT_TRUE(winsim::SetFileInUse(held));
    EXPECT_EQ(QV_DeleteFile(NULL, held.c_str()), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(QV_RemoveFile(NULL, (kSystemFolder + "\\" + std::string(240, 'd')).c_str()), 206u);
}

// Empty names name nothing; a path that would not fit is refused, never cut.
TEST_F(RemovalStepTest, NothingNamedNothingRemoved) {
    PutInstallation();
    const Snapshot before = Take();
    const std::string d239(239, 'd'), d240(240, 'd');
    EXPECT_EQ(QV_DeleteRegistry(HKEY_LOCAL_MACHINE, "", NULL), 0u);
    EXPECT_EQ(QV_DeleteRegistry(NULL, kVideoKey.c_str(), ""), 0u);
    EXPECT_EQ(QV_DeleteRegistry(NULL, kVideoKey.c_str(), std::string(220, 'k').c_str()), 2u) << "259: looked for";
    EXPECT_EQ(QV_DeleteRegistry(NULL, kVideoKey.c_str(), std::string(221, 'k').c_str()), 206u);
    EXPECT_EQ(QV_DeleteRegistry(NULL, (kVideoKey + "\\" + std::string(220, 'k')).c_str(), NULL), 2u);
    EXPECT_EQ(QV_DeleteRegistry(NULL, (kVideoKey + "\\" + std::string(221, 'k')).c_str(), NULL), 206u);
    EXPECT_EQ(QV_DeleteAllSubKey(NULL, ""), 0u);
    EXPECT_EQ(QV_DeleteFile("", kDll.c_str()), 0u);
    EXPECT_EQ(QV_DeleteFile(kSystemFolder.c_str(), ""), 0u);
    EXPECT_EQ(QV_DeleteFile(NULL, (kSystemFolder + "\\" + d239).c_str()), 0u);
    EXPECT_EQ(QV_DeleteFile(NULL, (kSystemFolder + "\\" + d240).c_str()), 206u);
    EXPECT_EQ(QV_DeleteFile(kSystemFolder.c_str(), d239.c_str()), 0u);
    EXPECT_EQ(QV_DeleteFile(kSystemFolder.c_str(), d240.c_str()), 206u);
    EXPECT_EQ(QV_RemoveFile("", kDll.c_str()), 0u);
    EXPECT_EQ(QV_DeleteFile("C:\\Missing", kDll.c_str()), 0u);
    EXPECT_EQ(Unexpected(before, Take(), Removal{}), Lines{});
    EXPECT_TRUE(winsim::PendingFileOperations().empty());
}

// A sub-key that cannot be deleted is passed over: the rest goes, the loop
// ends, and the keys above it stay with the error reported.
TEST_F(RemovalStepTest, UndeletableSubKeyIsPassedOver) {
    const std::string root = kVideoKey + "\\{X}";
    for (const char* key : {"\\a\\b\\c", "\\a\\e", "\\d\\f"}) ASSERT_TRUE(winsim::CreateRegistryKey(root + key));
    ASSERT_TRUE(winsim::DenyRegistryAccess(root + "\\a\\b", KEY_ALL_ACCESS));
    const DWORD denied = ERROR_ACCESS_DENIED;
    EXPECT_EQ(QV_DeleteRegistry(HKEY_LOCAL_MACHINE, kVideoKey.c_str(), "{X}"), denied);
    for (const char* key : {"", "\\a", "\\a\\b", "\\a\\b\\c"}) {
        EXPECT_TRUE(winsim::RegistryKeyExists(root + key)) << key;
    }
    for (const char* key : {"\\a\\e", "\\d"}) EXPECT_FALSE(winsim::RegistryKeyExists(root + key)) << key;
    EXPECT_TRUE(Traced("QV_DeleteAllSubKey", "Error: RegDeleteKey(Err=5) Key=b\n"));
    EXPECT_EQ(QV_DeleteAllSubKey(HKEY_LOCAL_MACHINE, (root + "\\a\\b").c_str()), denied);
}

}  // namespace
