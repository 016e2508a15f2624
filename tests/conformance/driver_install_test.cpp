// INF classes (SetupDiGetINFClassA), INF copies (SetupCopyOEMInfA) and driver
// installation on present devices (UpdateDriverForPlugAndPlayDevicesA).

#include "device_support.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

namespace {

constexpr char kId[] = "Winsim_Conformance_Driver";
constexpr char kService[] = "WinsimConf";
constexpr char kClassRoot[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
constexpr char kServices[] = "SYSTEM\\CurrentControlSet\\Services\\";

// A display-class INF for kId, with no files to copy.
const std::string kInf =
    "; Conformance test driver\r\n"
    "[Version]\r\n"
    "Signature=\"$WINDOWS NT$\"\r\n"
    "Class=Display\r\n"
    "ClassGUID={4D36E968-E325-11CE-BFC1-08002BE10318}\r\n"
    "Provider=%Mfg%\r\n"
    "DriverVer=01/02/2021,1.2.3.4\r\n"
    "\r\n"
    "[Manufacturer]\r\n"
    "%Mfg%=Models,NTamd64\r\n"
    "\r\n"
    "[Models.NTamd64]\r\n"
    "%Desc%=Conf_Install, Winsim_Conformance_Driver\r\n"
    "\r\n"
    "[Conf_Install]\r\n"
    "\r\n"
    "[Conf_Install.Services]\r\n"
    "AddService=WinsimConf,0x00000002,Conf_Service\r\n"
    "\r\n"
    "[Conf_Service]\r\n"
    "ServiceType=1\r\n"
    "StartType=3\r\n"
    "ErrorControl=0\r\n"
    "ServiceBinary=%12%\\winsimconf.sys\r\n"
    "\r\n"
    "[Strings]\r\n"
    "Mfg=\"Winsim Conformance\"\r\n"
    "Desc=\"Winsim Conformance Display\"\r\n";

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string FileName(const std::string& path) { return path.substr(path.find_last_of('\\') + 1); }

bool IsOemName(const std::string& name) {
    const std::string n = Lower(name);
    if (n.size() < 8 || n.compare(0, 3, "oem") != 0 || n.compare(n.size() - 4, 4, ".inf") != 0) {
        return false;
    }
    for (size_t i = 3; i < n.size() - 4; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(n[i]))) return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// SetupDiGetINFClassA

class InfClassTest : public PlatformTest {
protected:
    struct Result {
        BOOL ok;
        DWORD error;
        GUID guid;
        std::string name;
        DWORD required;
    };
    Result Read(const std::string& file, const std::string& text, DWORD size = 64) {
        EXPECT_TRUE(PutFile(file, text));
        Result r{};
        std::memset(&r.guid, 0xcc, sizeof r.guid);
        char name[64];
        std::memset(name, '#', sizeof name);
        r.required = 0xdead;
        SetLastError(kPoison);
        r.ok = SetupDiGetINFClassA(Path(file).c_str(), &r.guid, name, size, &r.required);
        r.error = GetLastError();
        r.name.assign(name, std::find(name, name + sizeof name, '\0'));
        return r;
    }
};

TEST_F(InfClassTest, ReadsClassAndGuidOfTheVersionSection) {
    const Result r = Read("display.inf", kInf);
    ASSERT_TRUE(r.ok) << "error " << r.error;
    EXPECT_EQ(r.name, "Display");
    EXPECT_TRUE(SameGuid(r.guid, kDisplayClass));
    EXPECT_EQ(r.required, 8u);
}

TEST_F(InfClassTest, IgnoresLetterCaseOfSectionAndKeysAndDropsQuotes) {
    const Result r = Read("net.inf",
                          "[version]\r\n"
                          "signature=$Chicago$\r\n"
                          "CLASS = \"Net\"\r\n"
                          "classguid = {4d36e972-e325-11ce-bfc1-08002be10318}\r\n");
    ASSERT_TRUE(r.ok) << "error " << r.error;
    EXPECT_EQ(r.name, "Net");
    const GUID net = {0x4d36e972, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    EXPECT_TRUE(SameGuid(r.guid, net));
    EXPECT_EQ(r.required, 4u);
}

// Wine reads the [Version] section as an .ini file, where ';' starts no
// comment after a value.
TEST_F(InfClassTest, DropsCommentsAfterValues) {
    const Result r = Read("comment.inf",
                          "; header\r\n"
                          "[Version] ; section\r\n"
                          "Signature=\"$Windows NT$\"\r\n"
                          "Class=Display ; the class\r\n"
                          "ClassGuid={4D36E968-E325-11CE-BFC1-08002BE10318}\r\n");
    ASSERT_TRUE(r.ok) << "error " << r.error;
    if (RunningUnderWine()) {
        NoteWineDifference("SetupDiGetINFClassA keeps a comment after the class name");
        EXPECT_EQ(r.name, "Display ; the class");
    } else {
        EXPECT_EQ(r.name, "Display");
        EXPECT_EQ(r.required, 8u);
    }
}

TEST_F(InfClassTest, MissingFileIsFileNotFound) {
    GUID guid;
    char name[64];
    DWORD required = 0;
    SetLastError(kPoison);
    EXPECT_FALSE(
        SetupDiGetINFClassA(Path("missing.inf").c_str(), &guid, name, sizeof name, &required));
    EXPECT_LAST_ERROR(ERROR_FILE_NOT_FOUND);
}

// What SetupOpenInfFile reports for files that are not Windows INFs. Wine's
// SetupDiGetINFClassA reads them as .ini files and fails without an error.
TEST_F(InfClassTest, FilesThatAreNoInfFail) {
    struct Case {
        const char* file;
        const char* text;
        DWORD error;
    };
    const Case cases[] = {
        {"text.inf", "hello, this is no INF\r\n", ERROR_EXPECTED_SECTION_NAME},
        {"nosignature.inf", "[Version]\r\nClass=Display\r\n", ERROR_WRONG_INF_STYLE},
        {"noversion.inf", "[Strings]\r\nA=b\r\n", ERROR_WRONG_INF_STYLE},
    };
    const bool wine = RunningUnderWine();
    if (wine) NoteWineDifference("SetupDiGetINFClassA fails on a non-INF with last error 0");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const Result r = Read(c.file, c.text);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, wine ? 0u : c.error);
        EXPECT_EQ(r.name, std::string(64, '#'));
    }
}

// Without Class= the name is that of the installed class with the GUID.
TEST_F(InfClassTest, WithoutClassTheGuidNamesIt) {
    const Result r = Read("guidonly.inf",
                          "[Version]\r\nSignature=\"$Windows NT$\"\r\n"
                          "ClassGUID={4D36E968-E325-11CE-BFC1-08002BE10318}\r\n");
    ASSERT_TRUE(r.ok) << "error " << r.error;
    EXPECT_TRUE(SameGuid(r.guid, kDisplayClass));
    if (RunningUnderWine()) {
        NoteWineDifference("SetupDiGetINFClassA gives no name for a class named by GUID only");
        EXPECT_EQ(r.required, 0u);
    } else {
        EXPECT_EQ(r.name, "Display");
        EXPECT_EQ(r.required, 8u);
    }
}

TEST_F(InfClassTest, WithoutClassGuidTheGuidIsNull) {
    const Result r =
        Read("nameonly.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Display\r\n");
    ASSERT_TRUE(r.ok) << "error " << r.error;
    EXPECT_EQ(r.name, "Display");
    const GUID null_guid{};
    if (RunningUnderWine()) {
        NoteWineDifference("SetupDiGetINFClassA leaves the GUID alone without ClassGUID");
    } else {
        EXPECT_TRUE(SameGuid(r.guid, null_guid));
    }
}

TEST_F(InfClassTest, WithNeitherClassNorGuidItFails) {
    const Result r =
        Read("neither.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\nProvider=x\r\n");
    EXPECT_FALSE(r.ok);
    if (RunningUnderWine()) {
        NoteWineDifference("SetupDiGetINFClassA fails on an INF without a class with last error 0");
        EXPECT_EQ(r.error, 0u);
    } else {
        EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_INVALID_CLASS));
    }
}

TEST_F(InfClassTest, NameThatDoesNotFitIsInsufficientBuffer) {
    for (DWORD size : {0u, 1u, 7u}) {
        SCOPED_TRACE(size);
        const Result r = Read("display.inf", kInf, size);
        if (RunningUnderWine()) {
            // Wine's ANSI call reports success with an unconverted name.
            NoteWineDifference("SetupDiGetINFClassA succeeds when the class name does not fit");
            continue;
        }
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(r.required, 8u);
        EXPECT_EQ(r.name, std::string(r.name.size(), '#'));
    }
}

// ---------------------------------------------------------------------------
// SetupCopyOEMInfA

class CopyOemInfTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(PutFile("conf.inf", kInf));
        source_ = Path("conf.inf");
    }
    // Copies and remembers the copy; the destination's full path or "".
    std::string Copy(const std::string& source, DWORD style, BOOL* ok, DWORD* error) {
        char destination[MAX_PATH];
        std::memset(destination, '#', sizeof destination);
        DWORD required = 0xdead;
        char* component = nullptr;
        SetLastError(kPoison);
        *ok = SetupCopyOEMInfA(source.c_str(), nullptr, SPOST_NONE, style, destination,
                               sizeof destination, &required, &component);
        *error = GetLastError();
        if (destination[0] == '#') return "";
        const std::string path(destination);
        OwnsInfCopy(path);
        EXPECT_EQ(required, path.size() + 1);
        EXPECT_EQ(component, destination + path.size() - FileName(path).size());
        return path;
    }
    std::string source_;
};

TEST_F(CopyOemInfTest, CopiesIntoTheInfFolderUnderAnOemName) {
    BOOL ok = FALSE;
    DWORD error = 0;
    const std::string copy = Copy(source_, 0, &ok, &error);
    ASSERT_TRUE(ok) << "error " << error;
    EXPECT_EQ(lstrcmpiA(copy.substr(0, copy.find_last_of('\\')).c_str(), InfFolder().c_str()), 0)
        << copy;
    if (RunningUnderWine()) {
        NoteWineDifference("SetupCopyOEMInfA copies under the INF's own name");
        EXPECT_EQ(lstrcmpiA(FileName(copy).c_str(), "conf.inf"), 0);
    } else {
        EXPECT_TRUE(IsOemName(FileName(copy))) << copy;
    }
    EXPECT_EQ(Contents(copy), kInf);
}

TEST_F(CopyOemInfTest, AnIdenticalCopyIsReused) {
    BOOL ok = FALSE;
    DWORD error = 0;
    const std::string first = Copy(source_, 0, &ok, &error);
    ASSERT_TRUE(ok) << "error " << error;
    ASSERT_TRUE(PutFile("renamed.inf", kInf));
    const std::string second = Copy(Path("renamed.inf"), 0, &ok, &error);
    ASSERT_TRUE(ok) << "error " << error;
    EXPECT_EQ(second, first);
    // SP_COPY_NOOVERWRITE names the existing copy and fails.
    const std::string third = Copy(source_, SP_COPY_NOOVERWRITE, &ok, &error);
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(third, first);
}

TEST_F(CopyOemInfTest, ReplaceOnlyNeedsAnExistingCopy) {
    BOOL ok = FALSE;
    DWORD error = 0;
    const std::string copy = Copy(source_, SP_COPY_REPLACEONLY, &ok, &error);
    if (RunningUnderWine()) {
        NoteWineDifference("SetupCopyOEMInfA ignores SP_COPY_REPLACEONLY");
        EXPECT_TRUE(ok);
    } else {
        EXPECT_FALSE(ok);
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        EXPECT_EQ(copy, "") << "nothing copied, no name given";
    }
    const std::string made = Copy(source_, 0, &ok, &error);
    ASSERT_TRUE(ok) << "error " << error;
    EXPECT_EQ(Copy(source_, SP_COPY_REPLACEONLY, &ok, &error), made);
    EXPECT_TRUE(ok) << "error " << error;
}

TEST_F(CopyOemInfTest, MissingSourceIsFileNotFound) {
    SetLastError(kPoison);
    EXPECT_FALSE(SetupCopyOEMInfA(Path("missing.inf").c_str(), nullptr, SPOST_NONE, 0, nullptr, 0,
                                  nullptr, nullptr));
    EXPECT_LAST_ERROR(ERROR_FILE_NOT_FOUND);
}

TEST_F(CopyOemInfTest, NameThatDoesNotFitIsInsufficientBufferWithTheSize) {
    char destination[8];
    std::memset(destination, '#', sizeof destination);
    DWORD required = 0;
    SetLastError(kPoison);
    const BOOL ok = SetupCopyOEMInfA(source_.c_str(), nullptr, SPOST_NONE, 0, destination,
                                     sizeof destination, &required, nullptr);
    EXPECT_FALSE(ok);
    EXPECT_LAST_ERROR(ERROR_INSUFFICIENT_BUFFER);
    EXPECT_GT(required, sizeof destination);
    // The INF was copied all the same; find the copy to remove it.
    BOOL again = FALSE;
    DWORD error = 0;
    const std::string copy = Copy(source_, 0, &again, &error);
    EXPECT_TRUE(again) << "error " << error;
    EXPECT_EQ(required, copy.size() + 1);
}

// ---------------------------------------------------------------------------
// UpdateDriverForPlugAndPlayDevicesA

class UpdateDriverTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(PutFile("conf.inf", kInf));
        inf_ = Path("conf.inf");
        OwnsService(kService);
    }
    BOOL Update(const char* id, const std::string& inf, DWORD flags, BOOL* reboot) {
        SetLastError(kPoison);
        const BOOL ok = UpdateDriverForPlugAndPlayDevicesA(nullptr, id, inf.c_str(), flags, reboot);
        error_ = GetLastError();
        return ok;
    }
    // The present device's property, e.g. its driver key name.
    std::optional<std::string> DeviceText(const char* id, DWORD property) {
        DeviceList present(
            SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
        std::optional<SP_DEVINFO_DATA> device = FindPresent(present.get(), id);
        if (!device) return std::nullopt;
        std::optional<std::string> bytes = Property(present.get(), &*device, property);
        if (bytes && !bytes->empty() && bytes->back() == '\0') bytes->pop_back();
        return bytes;
    }
    // Remembers the INF copy a driver key names.
    void OwnCopyOf(const std::string& driver_key) {
        if (std::optional<std::string> inf = RegistryText(driver_key, "InfPath")) {
            OwnsInfCopy(InfFolder() + "\\" + *inf);
        }
    }
    std::string inf_;
    DWORD error_ = 0;
};

TEST_F(UpdateDriverTest, InstallsOnTheMatchingDevice) {
    ASSERT_TRUE(RegisterDevice(MultiSz({kId})));
    BOOL reboot = 77;
    ASSERT_TRUE(Update(kId, inf_, INSTALLFLAG_FORCE, &reboot)) << "error " << error_;
    EXPECT_EQ(reboot, FALSE);

    // The device names its driver key in the display class, and its service.
    const std::optional<std::string> driver = DeviceText(kId, SPDRP_DRIVER);
    ASSERT_TRUE(driver.has_value());
    const std::string prefix = GuidText(kDisplayClass) + "\\";
    ASSERT_EQ(driver->size(), prefix.size() + 4) << *driver;
    EXPECT_EQ(lstrcmpiA(driver->substr(0, prefix.size()).c_str(), prefix.c_str()), 0) << *driver;
    EXPECT_EQ(DeviceText(kId, SPDRP_SERVICE), kService);
    const std::string key = kClassRoot + *driver;
    OwnCopyOf(key);

    // The driver key names the INF copy and the install section.
    const std::optional<std::string> inf_path = RegistryText(key, "InfPath");
    ASSERT_TRUE(inf_path.has_value());
    EXPECT_EQ(inf_path->find('\\'), std::string::npos) << "a bare file name: " << *inf_path;
    EXPECT_EQ(Contents(InfFolder() + "\\" + *inf_path), kInf);
    EXPECT_EQ(RegistryText(key, "InfSection"), "Conf_Install");
    if (RunningUnderWine()) {
        NoteWineDifference("the driver key lacks MatchingDeviceId and DriverDesc");
    } else {
        EXPECT_TRUE(IsOemName(*inf_path)) << *inf_path;
        EXPECT_EQ(RegistryText(key, "MatchingDeviceId"), Lower(kId));
        EXPECT_EQ(RegistryText(key, "DriverDesc"), "Winsim Conformance Display");
    }

    // The service as its install section describes it.
    const std::string service = kServices + std::string(kService);
    EXPECT_EQ(RegistryNumber(service, "Type"), 1u);
    EXPECT_EQ(RegistryNumber(service, "Start"), 3u);
    EXPECT_EQ(RegistryNumber(service, "ErrorControl"), 0u);
    const std::optional<std::string> image = RegistryText(service, "ImagePath");
    ASSERT_TRUE(image.has_value());
    if (RunningUnderWine()) {
        NoteWineDifference("a driver's ImagePath is a full Win32 path");
        EXPECT_EQ(lstrcmpiA(image->c_str(),
                            (WindowsFolder() + "\\system32\\drivers\\winsimconf.sys").c_str()),
                  0)
            << *image;
    } else {
        EXPECT_EQ(*image, "\\SystemRoot\\System32\\drivers\\winsimconf.sys");
    }
}

TEST_F(UpdateDriverTest, ReinstallingKeepsTheDriverKey) {
    ASSERT_TRUE(RegisterDevice(MultiSz({kId})));
    BOOL reboot = FALSE;
    ASSERT_TRUE(Update(kId, inf_, INSTALLFLAG_FORCE, &reboot)) << "error " << error_;
    const std::optional<std::string> first = DeviceText(kId, SPDRP_DRIVER);
    ASSERT_TRUE(first.has_value());
    OwnCopyOf(kClassRoot + *first);
    ASSERT_TRUE(Update(kId, inf_, INSTALLFLAG_FORCE, &reboot)) << "error " << error_;
    EXPECT_EQ(DeviceText(kId, SPDRP_DRIVER), first);
}

TEST_F(UpdateDriverTest, RemovingTheDeviceDeletesItsDriverKeyButNotItsService) {
    ASSERT_TRUE(RegisterDevice(MultiSz({kId})));
    BOOL reboot = FALSE;
    ASSERT_TRUE(Update(kId, inf_, INSTALLFLAG_FORCE, &reboot)) << "error " << error_;
    const std::optional<std::string> driver = DeviceText(kId, SPDRP_DRIVER);
    ASSERT_TRUE(driver.has_value());
    const std::string key = kClassRoot + *driver;
    OwnCopyOf(key);
    ASSERT_TRUE(KeyExists(key));
    {
        DeviceList present(
            SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
        std::optional<SP_DEVINFO_DATA> device = FindPresent(present.get(), kId);
        ASSERT_TRUE(device.has_value());
        ASSERT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, present.get(), &*device))
            << "error " << GetLastError();
    }
    EXPECT_FALSE(KeyExists(key));
    EXPECT_TRUE(KeyExists(kServices + std::string(kService)));
}

TEST_F(UpdateDriverTest, NoMatchingDeviceIsNoSuchDevinst) {
    BOOL reboot = 77;
    const BOOL ok = Update("Winsim_Nobody", inf_, INSTALLFLAG_FORCE, &reboot);
    if (RunningUnderWine()) {
        NoteWineDifference("UpdateDriverForPlugAndPlayDevicesA succeeds without a device");
        EXPECT_TRUE(ok);
    } else {
        EXPECT_FALSE(ok);
        EXPECT_EQ(error_, static_cast<DWORD>(ERROR_NO_SUCH_DEVINST));
    }
}

TEST_F(UpdateDriverTest, MissingInfIsFileNotFound) {
    ASSERT_TRUE(RegisterDevice(MultiSz({kId})));
    BOOL reboot = 77;
    const BOOL ok = Update(kId, Path("missing.inf"), INSTALLFLAG_FORCE, &reboot);
    if (RunningUnderWine()) {
        NoteWineDifference("UpdateDriverForPlugAndPlayDevicesA succeeds without the INF");
        EXPECT_TRUE(ok);
    } else {
        EXPECT_FALSE(ok);
        EXPECT_EQ(error_, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    }
    EXPECT_EQ(DeviceText(kId, SPDRP_DRIVER), std::nullopt);
}

// Windows logs "No better matching drivers found" and fails with
// ERROR_NO_MORE_ITEMS when the INF lists none of the device's IDs.
TEST_F(UpdateDriverTest, InfWithoutTheIdIsNoMoreItems) {
    ASSERT_TRUE(RegisterDevice(MultiSz({"Winsim_Conformance_Other"})));
    BOOL reboot = 77;
    const BOOL ok = Update("Winsim_Conformance_Other", inf_, INSTALLFLAG_FORCE, &reboot);
    if (RunningUnderWine()) {
        NoteWineDifference(
            "UpdateDriverForPlugAndPlayDevicesA succeeds when the INF has no driver");
        EXPECT_TRUE(ok);
    } else {
        EXPECT_FALSE(ok);
        EXPECT_EQ(error_, static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    }
    EXPECT_EQ(DeviceText("Winsim_Conformance_Other", SPDRP_DRIVER), std::nullopt);
}

// Plug and Play compares device IDs without regard to letter case.
TEST_F(UpdateDriverTest, HardwareIdsMatchWithoutRegardToCase) {
    ASSERT_TRUE(RegisterDevice(MultiSz({kId})));
    BOOL reboot = 77;
    ASSERT_TRUE(Update("WINSIM_conformance_DRIVER", inf_, INSTALLFLAG_FORCE, &reboot))
        << "error " << error_;
    const std::optional<std::string> driver = DeviceText(kId, SPDRP_DRIVER);
    if (RunningUnderWine()) {
        NoteWineDifference("UpdateDriverForPlugAndPlayDevicesA matches hardware IDs by case");
        EXPECT_EQ(driver, std::nullopt);
    } else {
        ASSERT_TRUE(driver.has_value());
        OwnCopyOf(kClassRoot + *driver);
        EXPECT_EQ(RegistryText(kClassRoot + *driver, "MatchingDeviceId"), Lower(kId));
    }
}

}  // namespace
