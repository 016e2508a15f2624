// Devices as tests add them, and what SetupAPI and driver installation do
// with them that only the simulator can arrange: absent devices, taken
// numbers and driver keys, the restart flag, incomplete INFs.
#include "winsim_test.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Ids = std::vector<std::string>;

constexpr char kClassKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E968-E325-11CE-BFC1-08002BE10318}";
constexpr char kGuid[] = "{4D36E968-E325-11CE-BFC1-08002BE10318}";
constexpr char kId[] = "Orvenik_Tallomer_Mirror";

std::string ClassKey(const std::string& number) { return std::string(kClassKey) + "\\" + number; }

winsim::Device Display(const std::string& instance_id, const Ids& ids, bool present = true) {
    winsim::Device device;
    device.instance_id = instance_id;
    device.hardware_ids = winsim::MultiString(ids);
    device.present = present;
    return device;
}

// A mirror driver INF; the pieces a test changes are parameters.
struct Inf {
    std::string manufacturer = "%Mfg%=Mirror,NTamd64";
    std::string models = "Mirror.NTamd64";
    std::string install = "QVMIRROR_Install";
    std::string service = "QVMIRROR_Service";
    std::string binary = "ServiceBinary=%12%\\qvmirror.sys\r\n";
    std::string extra;

    std::string Text() const {
        return "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Display\r\n"
               "ClassGUID={4D36E968-E325-11CE-BFC1-08002BE10318}\r\nProvider=%Mfg%\r\n"
               "[Manufacturer]\r\n" + manufacturer + "\r\n[" + models + "]\r\n%Desc%=" + install +
               ", Orvenik_Tallomer_Mirror\r\n[QVMIRROR_Install]\r\n[QVMIRROR_Install.Services]\r\n"
               "AddService=QVMIRROR,0x00000002," + service + "\r\n[QVMIRROR_Service]\r\n"
               "ServiceType=1\r\nStartType=1\r\nErrorControl=0\r\n" + binary + extra +
               "[Strings]\r\nMfg=\"Orvenik\"\r\nDesc=\"Orvenik Tallomer Mirror\"\r\n";
    }
};

class WinsimDevices : public WinsimTest {
protected:
    static void PutInf(const Inf& inf) { ASSERT_TRUE(winsim::PutFile("C:\\qvmirror.inf", inf.Text())); }
    // UpdateDriverForPlugAndPlayDevicesA as the program calls it: 0 when it
    // succeeds, else its error.
    static DWORD Update(BOOL* reboot = nullptr) {
        SetLastError(ERROR_SUCCESS);
        return UpdateDriverForPlugAndPlayDevicesA(nullptr, kId, "C:\\qvmirror.inf",
                                                  INSTALLFLAG_FORCE, reboot)
                   ? 0
                   : GetLastError();
    }
    static std::string HardwareIds(HDEVINFO set, SP_DEVINFO_DATA* data) {
        char buffer[256];
        DWORD size = 0;
        SetLastError(0);
        if (!SetupDiGetDeviceRegistryPropertyA(set, data, SPDRP_HARDWAREID, nullptr,
                                               reinterpret_cast<BYTE*>(buffer), sizeof buffer, &size)) {
            return "error " + std::to_string(GetLastError());
        }
        return std::string(buffer, size);
    }
    // Creates an element with a generated ID in the set and registers it.
    static bool Register(HDEVINFO set, const std::string& id) {
        SP_DEVINFO_DATA data;
        data.cbSize = sizeof data;
        const std::string ids = winsim::MultiString({id});
        return SetupDiCreateDeviceInfoA(set, "Display", &winsim::kDisplayClassGuid, nullptr, nullptr,
                                        DICD_GENERATE_ID, &data) &&
               SetupDiSetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID,
                                                 reinterpret_cast<const BYTE*>(ids.data()),
                                                 static_cast<DWORD>(ids.size())) &&
               SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &data);
    }
};

// ---------------------------------------------------------------------------
// Adding, listing and registering devices

TEST_F(WinsimDevices, PresentDevicesAreListedInInstanceIdOrderWithTheirIdsAsStored) {
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0000", {"Mirror"})));
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0001", {"Gone"}, false)));
    winsim::Device broken = Display("PCI\\VEN_8086&DEV_1234\\3&1", {});
    broken.hardware_ids = std::string("Half\0Way", 8);
    ASSERT_TRUE(winsim::AddDevice(broken));
    winsim::Device bare;
    bare.instance_id = "PCI\\VEN_10EC&DEV_8168\\01";
    ASSERT_TRUE(winsim::AddDevice(bare));
    EXPECT_FALSE(winsim::AddDevice(Display("root\\Display\\0000", {"Other"}))) << "taken, any case";
    EXPECT_FALSE(winsim::AddDevice(Display("", {"Other"})));
    EXPECT_EQ(winsim::FindDevice("root\\display\\0000")->instance_id, "ROOT\\DISPLAY\\0000");
    EXPECT_FALSE(winsim::FindDevice("ROOT\\DISPLAY\\0002").has_value());
    EXPECT_EQ(winsim::Devices().size(), 4u);

    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    Ids listed;
    SP_DEVINFO_DATA data;
    data.cbSize = sizeof data;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) listed.push_back(HardwareIds(set, &data));
    SetupDiDestroyDeviceInfoList(set);
    EXPECT_EQ(listed, (Ids{"error " + std::to_string(ERROR_INVALID_DATA), std::string("Half\0Way", 8),
                           winsim::MultiString({"Mirror"})}))
        << "PCI\\VEN_10EC..., PCI\\VEN_8086..., ROOT\\DISPLAY\\0000; the absent one left out";

    EXPECT_EQ(winsim::MultiString({"a", "bc"}), std::string("a\0bc\0\0", 6));
    EXPECT_EQ(winsim::MultiString({}), std::string("\0", 1));
    EXPECT_THROW(winsim::MultiString({""}), std::invalid_argument);
}

// A number an unregistered element holds is taken until its set goes.
TEST_F(WinsimDevices, RegisteredDevicesTakeTheFirstFreeNumber) {
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0000", {"Old"})));
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0002", {"Old2"})));
    HDEVINFO set = SetupDiCreateDeviceInfoList(&winsim::kDisplayClassGuid, nullptr);
    HDEVINFO other = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINFO_DATA held;
    held.cbSize = sizeof held;
    ASSERT_TRUE(SetupDiCreateDeviceInfoA(other, "Display", &winsim::kDisplayClassGuid, nullptr,
                                         nullptr, DICD_GENERATE_ID, &held));
    ASSERT_TRUE(Register(set, "A"));
    SetupDiDestroyDeviceInfoList(other);
    ASSERT_TRUE(Register(set, "B"));
    SetupDiDestroyDeviceInfoList(set);
    EXPECT_EQ(winsim::FindDevice("ROOT\\DISPLAY\\0003")->hardware_ids, winsim::MultiString({"A"}));
    const winsim::Device b = *winsim::FindDevice("ROOT\\DISPLAY\\0001");
    EXPECT_EQ(b.hardware_ids, winsim::MultiString({"B"}));
    EXPECT_TRUE(b.present && b.class_name == "Display");
}

// As the uninstaller does it: walk a set by index, removing each match.
TEST_F(WinsimDevices, RemovingTakesTheDeviceAndItsDriverKeyOnly) {
    for (const char* n : {"0", "1", "2"}) {
        winsim::Device d = Display(std::string("ROOT\\DISPLAY\\000") + n, {kId});
        d.driver = std::string(kGuid) + "\\000" + n;
        ASSERT_TRUE(winsim::AddDevice(d));
        ASSERT_TRUE(winsim::SetRegistryString(ClassKey(std::string("000") + n), "InfPath", "oem0.inf"));
    }
    ASSERT_TRUE(winsim::AddDevice(Display("PCI\\VEN_8086&DEV_1234\\3&1", {"Gpu"})));
    ASSERT_TRUE(winsim::SetRegistryString(ClassKey("0009"), "DriverDesc", "GPU"));
    ASSERT_TRUE(winsim::SetRegistryDword("SYSTEM\\CurrentControlSet\\Services\\QVMIRROR", "Type", 1));
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA data;
    data.cbSize = sizeof data;
    int removed = 0;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) {
        if (HardwareIds(set, &data) == winsim::MultiString({kId})) {
            EXPECT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, set, &data)) << i;
            ++removed;
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    EXPECT_EQ(removed, 3);
    ASSERT_EQ(winsim::Devices().size(), 1u);
    EXPECT_EQ(winsim::Devices()[0].instance_id, "PCI\\VEN_8086&DEV_1234\\3&1");
    EXPECT_EQ(winsim::RegistrySubKeys(kClassKey), Ids{"0009"});
    EXPECT_TRUE(winsim::FindService("QVMIRROR").has_value()) << "the service stays";

    set = SetupDiCreateDeviceInfoList(&winsim::kDisplayClassGuid, nullptr);
    ASSERT_TRUE(Register(set, "Again"));
    EXPECT_TRUE(winsim::FindDevice("ROOT\\DISPLAY\\0000").has_value()) << "its number is free";
    SP_DEVINFO_DATA unregistered;
    unregistered.cbSize = sizeof unregistered;
    ASSERT_TRUE(SetupDiCreateDeviceInfoA(set, "Display", &winsim::kDisplayClassGuid, nullptr, nullptr,
                                         DICD_GENERATE_ID, &unregistered));
    SetLastError(0);
    EXPECT_FALSE(SetupDiCallClassInstaller(DIF_REMOVE, set, &unregistered));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_DEVINST));
    SetupDiDestroyDeviceInfoList(set);
}

// ---------------------------------------------------------------------------
// INF copies and driver installation

TEST_F(WinsimDevices, CopiesTakeTheFirstFreeOemNumber) {
    ASSERT_TRUE(winsim::PutFile("C:\\Windows\\INF\\oem0.inf", "[Version]\r\n"));
    ASSERT_TRUE(winsim::PutFile("C:\\Windows\\INF\\OEM2.INF", "[Version]\r\n"));
    Inf inf;
    char path[MAX_PATH];
    for (const char* expected : {"C:\\Windows\\INF\\oem1.inf", "C:\\Windows\\INF\\oem3.inf"}) {
        inf.extra += ";\r\n";  // another build each time
        PutInf(inf);
        ASSERT_TRUE(SetupCopyOEMInfA("C:\\qvmirror.inf", nullptr, SPOST_NONE, 0, path, sizeof path,
                                     nullptr, nullptr));
        EXPECT_STREQ(path, expected);
        EXPECT_EQ(winsim::FileContents(path), inf.Text());
    }
}

TEST_F(WinsimDevices, InstallingTakesEveryPresentMatchingDeviceAndFreeDriverKeys) {
    PutInf(Inf());
    ASSERT_TRUE(winsim::SetRegistryString(ClassKey("0000"), "DriverDesc", "GPU"));
    ASSERT_TRUE(winsim::SetRegistryString(ClassKey("0002"), "DriverDesc", "Other"));
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0000", {kId})));
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0001", {"Other_Id", "ORVENIK_tallomer_MIRROR"})));
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0002", {kId}, false)));
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0003", {"Unrelated"})));
    ASSERT_EQ(Update(), 0u);
    const winsim::Device first = *winsim::FindDevice("ROOT\\DISPLAY\\0000");
    EXPECT_EQ(first.driver, std::string(kGuid) + "\\0001");
    EXPECT_EQ(first.service, "QVMIRROR");
    EXPECT_EQ(first.description, "Orvenik Tallomer Mirror");
    EXPECT_EQ(winsim::FindDevice("ROOT\\DISPLAY\\0001")->driver, std::string(kGuid) + "\\0003");
    EXPECT_EQ(winsim::FindDevice("ROOT\\DISPLAY\\0002")->driver, "") << "absent";
    EXPECT_EQ(winsim::FindDevice("ROOT\\DISPLAY\\0003")->driver, "");
    EXPECT_EQ(winsim::GetRegistryString(ClassKey("0003"), "MatchingDeviceId"), "orvenik_tallomer_mirror");
    EXPECT_EQ(winsim::GetRegistryString(ClassKey("0000"), "DriverDesc"), "GPU") << "taken keys stay";
    EXPECT_EQ(winsim::GetRegistryString(ClassKey("0001"), "InfPath"), "oem0.inf");
    EXPECT_FALSE(winsim::Exists("C:\\Windows\\INF\\oem1.inf")) << "one copy serves all";
    EXPECT_TRUE(winsim::FindService("QVMIRROR").has_value());
}

TEST_F(WinsimDevices, ARestartNeededIsReportedOrPromptedUntilReset) {
    for (bool required : {false, true, false}) {
        SCOPED_TRACE(required ? "restart required" : "no restart required");
        winsim::Reset();
        PutInf(Inf());
        ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0000", {kId})));
        if (required) winsim::SetRestartRequired(true);
        BOOL reboot = 77;
        ASSERT_EQ(Update(&reboot), 0u);
        EXPECT_EQ(reboot, required ? TRUE : FALSE);
        EXPECT_FALSE(winsim::RestartPrompted());
        ASSERT_EQ(Update(), 0u);
        EXPECT_EQ(winsim::RestartPrompted(), required) << "no place to report it: Windows asks";
    }
}

TEST_F(WinsimDevices, AnIncompleteInfChangesNothing) {
    Inf no_install;
    no_install.install = "Missing_Install";
    Inf no_service;
    no_service.service = "Missing_Service";
    Inf no_binary;
    no_binary.binary = "";
    const struct {
        const char* what;
        Inf inf;
        DWORD error;
    } cases[] = {
        {"install section missing", no_install, ERROR_SECTION_NOT_FOUND},
        {"service section missing", no_service, ERROR_SECTION_NOT_FOUND},
        {"service binary missing", no_binary, ERROR_LINE_NOT_FOUND},
    };
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0000", {kId})));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PutInf(c.inf);
        EXPECT_EQ(Update(), c.error);
        EXPECT_EQ(winsim::FindDevice("ROOT\\DISPLAY\\0000")->driver, "");
        EXPECT_TRUE(winsim::RegistrySubKeys(kClassKey).empty());
        EXPECT_FALSE(winsim::FindService("QVMIRROR").has_value());
        EXPECT_FALSE(winsim::Exists("C:\\Windows\\INF\\oem0.inf"));
    }
}

// The program ships an x64 and an x86 build: an INF's models count only for
// the machine's architecture and version (x64, Windows 10.0).
TEST_F(WinsimDevices, OnlyModelsForThisMachineCount) {
    const struct {
        const char* manufacturer;
        const char* models;
        DWORD error;
    } cases[] = {
        {"%Mfg%=Mirror,NTamd64", "Mirror.NTamd64", 0},
        {"%Mfg%=Mirror,NT", "Mirror.NT", 0},
        {"%Mfg%=Mirror,NTamd64.10.0", "Mirror.NTamd64.10.0", 0},
        {"%Mfg%=Mirror,NTamd64.10.1", "Mirror.NTamd64.10.1", ERROR_NO_MORE_ITEMS},
        {"%Mfg%=Mirror,NTx86", "Mirror.NTx86", ERROR_NO_MORE_ITEMS},
        {"%Mfg%=Mirror", "Mirror", ERROR_NO_MORE_ITEMS},
        {"%Mfg%=Mirror,NTamd64", "Mirror", ERROR_NO_MORE_ITEMS},
    };
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0000", {kId})));
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.manufacturer) + " / " + c.models);
        Inf inf;
        inf.manufacturer = c.manufacturer;
        inf.models = c.models;
        PutInf(inf);
        EXPECT_EQ(Update(), c.error);
    }
}

}  // namespace
