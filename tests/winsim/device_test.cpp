// Devices as tests add and inspect them, device information sets, and what
// driver installation and removal leave on the machine: INF copies, driver
// keys, services, the devices' links to them, and the restart flag.
#include "winsim_test.h"

#include <gtest/gtest-spi.h>

#include <string>
#include <vector>

namespace {

constexpr char kClassKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E968-E325-11CE-BFC1-08002BE10318}";
constexpr char kDisplayGuid[] = "{4D36E968-E325-11CE-BFC1-08002BE10318}";
constexpr char kServices[] = "SYSTEM\\CurrentControlSet\\Services";
constexpr char kId[] = "Orvenik_Tallomer_Mirror";

winsim::Device Display(const std::string& instance_id, const std::vector<std::string>& ids) {
    winsim::Device device;
    device.instance_id = instance_id;
    device.hardware_ids = winsim::MultiString(ids);
    return device;
}

// A mirror driver INF; the pieces a test changes are parameters.
struct Inf {
    std::string manufacturer = "%Mfg%=Mirror,NTamd64";
    std::string models_section = "Mirror.NTamd64";
    std::string model = "%Desc%=QVMIRROR_Install, Orvenik_Tallomer_Mirror";
    std::string install_section = "QVMIRROR_Install";
    std::string service_section =
        "[QVMIRROR_Service]\r\n"
        "DisplayName=%SvcDesc%\r\n"
        "ServiceType=1 ; SERVICE_KERNEL_DRIVER\r\n"
        "StartType=1\r\n"
        "ErrorControl=0\r\n"
        "ServiceBinary=%12%\\qvmirror.sys\r\n"
        "LoadOrderGroup=Video\r\n";
    std::string extra;

    std::string Text() const {
        return "[Version]\r\n"
               "Signature=\"$Windows NT$\"\r\n"
               "Class=Display\r\n"
               "ClassGUID={4D36E968-E325-11CE-BFC1-08002BE10318}\r\n"
               "Provider=%Mfg%\r\n"
               "DriverVer=03/02/2021,2.1.0.7\r\n"
               "\r\n[Manufacturer]\r\n" +
               manufacturer + "\r\n\r\n[" + models_section + "]\r\n" + model + "\r\n\r\n[" +
               install_section + "]\r\nCopyFiles=Mirror.Files\r\n\r\n[" + install_section +
               ".Services]\r\nAddService=QVMIRROR,0x00000002,QVMIRROR_Service\r\n\r\n" +
               service_section + "\r\n" + extra +
               "[Strings]\r\nMfg=\"Orvenik\"\r\nDesc=\"Orvenik Tallomer Mirror\"\r\n"
               "SvcDesc=\"Tallomer mirror driver\"\r\n";
    }
};

class WinsimDevices : public WinsimTest {
protected:
    void SetUp() override {
        WinsimTest::SetUp();
        ASSERT_TRUE(winsim::MakeDirectories("C:\\Drivers"));
    }
    void PutInf(const Inf& inf, const char* path = "C:\\Drivers\\qvmirror.inf") {
        ASSERT_TRUE(winsim::PutFile(path, inf.Text()));
    }
    BOOL Update(const char* id, DWORD flags = INSTALLFLAG_FORCE, BOOL* reboot = nullptr,
                const char* inf = "C:\\Drivers\\qvmirror.inf") {
        BOOL local = 77;
        SetLastError(ERROR_SUCCESS);
        const BOOL ok = UpdateDriverForPlugAndPlayDevicesA(nullptr, id, inf, flags,
                                                           reboot != nullptr ? reboot : &local);
        error_ = GetLastError();
        return ok;
    }
    // Instance IDs of the devices in a set.
    std::vector<std::string> Listed(HDEVINFO set) {
        std::vector<std::string> ids;
        SP_DEVINFO_DATA data;
        data.cbSize = sizeof data;
        for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) {
            for (const winsim::Device& d : winsim::Devices()) {
                BYTE buffer[256];
                DWORD size = 0;
                if (SetupDiGetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID, nullptr, buffer,
                                                      sizeof buffer, &size) &&
                    d.hardware_ids == std::string(reinterpret_cast<char*>(buffer), size)) {
                    ids.push_back(d.instance_id);
                }
            }
        }
        return ids;
    }
    std::string DriverKey(const std::string& instance_id) {
        return std::string(kClassKey).substr(0, std::string(kClassKey).rfind('\\')) + "\\" +
               winsim::FindDevice(instance_id)->driver;
    }
    DWORD error_ = 0;
};

// ---------------------------------------------------------------------------
// Adding and inspecting devices

TEST_F(WinsimDevices, AddedDevicesAreKeptAsGiven) {
    winsim::Device gpu =
        Display("PCI\\VEN_8086&DEV_1234\\3&11583659&0&10",
                {"PCI\\VEN_8086&DEV_1234&SUBSYS_00000000", "PCI\\VEN_8086&DEV_1234"});
    gpu.compatible_ids = winsim::MultiString({"PCI\\CC_030000"});
    gpu.description = "Intel display";
    gpu.service = "igfx";
    gpu.driver = std::string(kDisplayGuid) + "\\0000";
    winsim::Device broken = Display("ROOT\\DISPLAY\\0000", {});
    broken.hardware_ids = std::string("Half\0Way", 8);
    broken.present = false;
    winsim::Device bare;
    bare.instance_id = "ROOT\\UNKNOWN\\0000";
    bare.class_name = "Unknown";
    bare.class_guid = GUID{};
    for (const winsim::Device& d : {gpu, broken, bare}) ASSERT_TRUE(winsim::AddDevice(d));

    const std::vector<winsim::Device> devices = winsim::Devices();
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].instance_id, "PCI\\VEN_8086&DEV_1234\\3&11583659&0&10");
    EXPECT_EQ(devices[0].hardware_ids, gpu.hardware_ids);
    EXPECT_EQ(devices[0].compatible_ids, gpu.compatible_ids);
    EXPECT_EQ(devices[0].description, "Intel display");
    EXPECT_EQ(devices[0].service, "igfx");
    EXPECT_EQ(devices[0].driver, gpu.driver);
    EXPECT_EQ(devices[1].instance_id, "ROOT\\DISPLAY\\0000");
    EXPECT_EQ(devices[1].hardware_ids, std::string("Half\0Way", 8));
    EXPECT_FALSE(devices[1].present);
    EXPECT_EQ(devices[2].hardware_ids, std::nullopt);
    EXPECT_EQ(devices[2].class_name, "Unknown");
    EXPECT_EQ(winsim::FindDevice("root\\display\\0000")->instance_id, "ROOT\\DISPLAY\\0000");
    EXPECT_EQ(winsim::FindDevice("ROOT\\DISPLAY\\0001"), std::nullopt);
}

TEST_F(WinsimDevices, ResetForgetsDevicesCopiesAndTheRestartState) {
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0000", {kId})));
    PutInf(Inf());
    ASSERT_TRUE(UpdateDriverForPlugAndPlayDevicesA(nullptr, kId, "C:\\Drivers\\qvmirror.inf",
                                                   INSTALLFLAG_FORCE, nullptr));
    winsim::SetRestartRequired(true);
    winsim::Reset();
    EXPECT_TRUE(winsim::Devices().empty());
    EXPECT_FALSE(winsim::Exists("C:\\Windows\\INF\\oem0.inf"));
    EXPECT_TRUE(winsim::RegistrySubKeys(kClassKey).empty());
    ASSERT_TRUE(winsim::MakeDirectories("C:\\Drivers"));
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0000", {kId})));
    PutInf(Inf());
    BOOL reboot = 77;
    ASSERT_TRUE(Update(kId, INSTALLFLAG_FORCE, &reboot));
    EXPECT_EQ(reboot, FALSE) << "no restart pending on a fresh machine";
}

TEST_F(WinsimDevices, AnInstanceIdIsTakenOnceWhateverItsCase) {
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0000", {kId})));
    EXPECT_FALSE(winsim::AddDevice(Display("root\\Display\\0000", {"Other"})));
    EXPECT_FALSE(winsim::AddDevice(Display("", {"Other"})));
    EXPECT_EQ(winsim::Devices().size(), 1u);
}

TEST_F(WinsimDevices, MultiStringBuildsWellFormedBytes) {
    EXPECT_EQ(winsim::MultiString({"a", "bc"}), std::string("a\0bc\0\0", 6));
    EXPECT_EQ(winsim::MultiString({}), std::string("\0", 1));
    EXPECT_THROW(winsim::MultiString({""}), std::invalid_argument);
}

// ---------------------------------------------------------------------------
// SetupDiGetClassDevsA

struct ClassDevsCase {
    const char* what;
    bool use_guid;
    const char* enumerator;
    DWORD flags;
    std::vector<std::string> expected;
};

const GUID kNetGuid = {
    0x4d36e972, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

class WinsimClassDevs : public WinsimDevices,
                        public ::testing::WithParamInterface<ClassDevsCase> {};

TEST_P(WinsimClassDevs, SelectsBySetFlagsInInstanceIdOrder) {
    const ClassDevsCase& c = GetParam();
    winsim::Device gone = Display("ROOT\\DISPLAY\\0001", {"Gone"});
    gone.present = false;
    winsim::Device nic = Display("PCI\\VEN_10EC&DEV_8168\\01", {"Nic"});
    nic.class_name = "Net";
    nic.class_guid = kNetGuid;
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0000", {"Mirror"})));
    ASSERT_TRUE(winsim::AddDevice(gone));
    ASSERT_TRUE(winsim::AddDevice(nic));
    ASSERT_TRUE(winsim::AddDevice(Display("PCI\\VEN_8086&DEV_1234\\3&1", {"Gpu"})));
    HDEVINFO set = SetupDiGetClassDevsA(c.use_guid ? &winsim::kDisplayClassGuid : nullptr,
                                        c.enumerator, nullptr, c.flags);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Listed(set), c.expected);
    SetupDiDestroyDeviceInfoList(set);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WinsimClassDevs,
    ::testing::Values(ClassDevsCase{"PresentAllClasses",
                                    false,
                                    nullptr,
                                    DIGCF_PRESENT | DIGCF_ALLCLASSES,
                                    {"PCI\\VEN_10EC&DEV_8168\\01", "PCI\\VEN_8086&DEV_1234\\3&1",
                                     "ROOT\\DISPLAY\\0000"}},
                      ClassDevsCase{"AllClassesPresentOrNot",
                                    false,
                                    nullptr,
                                    DIGCF_ALLCLASSES,
                                    {"PCI\\VEN_10EC&DEV_8168\\01", "PCI\\VEN_8086&DEV_1234\\3&1",
                                     "ROOT\\DISPLAY\\0000", "ROOT\\DISPLAY\\0001"}},
                      ClassDevsCase{"PresentDisplays",
                                    true,
                                    nullptr,
                                    DIGCF_PRESENT,
                                    {"PCI\\VEN_8086&DEV_1234\\3&1", "ROOT\\DISPLAY\\0000"}},
                      ClassDevsCase{"RootEnumerated",
                                    false,
                                    "root",
                                    DIGCF_ALLCLASSES,
                                    {"ROOT\\DISPLAY\\0000", "ROOT\\DISPLAY\\0001"}}),
    [](const ::testing::TestParamInfo<ClassDevsCase>& info) {
        return std::string(info.param.what);
    });

TEST_F(WinsimDevices, ASetIsASnapshotOfTheDevicesThen) {
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0001", {"First"})));
    HDEVINFO set =
        SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0000", {"Later"})));
    EXPECT_EQ(Listed(set), std::vector<std::string>{"ROOT\\DISPLAY\\0001"});
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(WinsimDevices, AClassSetNeedsAClass) {
    SetLastError(0);
    EXPECT_EQ(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

// ---------------------------------------------------------------------------
// Properties

TEST_F(WinsimDevices, PropertiesComeFromTheDevice) {
    winsim::Device gpu = Display("PCI\\VEN_8086&DEV_1234\\3&1", {"Gpu"});
    gpu.service = "igfx";
    gpu.driver = std::string(kDisplayGuid) + "\\0000";
    winsim::Device bare;
    bare.instance_id = "ROOT\\DISPLAY\\0000";
    ASSERT_TRUE(winsim::AddDevice(gpu));
    ASSERT_TRUE(winsim::AddDevice(bare));
    HDEVINFO set =
        SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA data[2];
    for (DWORD i = 0; i < 2; ++i) {
        data[i].cbSize = sizeof data[i];
        ASSERT_TRUE(SetupDiEnumDeviceInfo(set, i, &data[i]));
    }
    auto text = [&](SP_DEVINFO_DATA* d, DWORD property) -> std::string {
        char buffer[128];
        DWORD type = 0;
        if (!SetupDiGetDeviceRegistryPropertyA(
                set, d, property, &type, reinterpret_cast<BYTE*>(buffer), sizeof buffer, nullptr)) {
            return "error " + std::to_string(GetLastError());
        }
        return type == REG_SZ ? std::string(buffer) : "type " + std::to_string(type);
    };
    EXPECT_EQ(text(&data[0], SPDRP_SERVICE), "igfx");
    EXPECT_EQ(text(&data[0], SPDRP_DRIVER), std::string(kDisplayGuid) + "\\0000");
    EXPECT_EQ(text(&data[0], SPDRP_CLASS), "Display");
    EXPECT_EQ(text(&data[0], SPDRP_CLASSGUID), "{4d36e968-e325-11ce-bfc1-08002be10318}");
    const std::string invalid_data = "error " + std::to_string(ERROR_INVALID_DATA);
    for (DWORD property : {SPDRP_HARDWAREID, SPDRP_SERVICE, SPDRP_DRIVER, SPDRP_DEVICEDESC}) {
        EXPECT_EQ(text(&data[1], property), invalid_data) << property;
    }
    EXPECT_EQ(text(&data[1], 0x25), "error " + std::to_string(ERROR_INVALID_REG_PROPERTY));
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(WinsimDevices, DeviceDataFromAnotherSetIsRefused) {
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0000", {kId})));
    HDEVINFO first = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    HDEVINFO second = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA data;
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiEnumDeviceInfo(first, 0, &data));
    BYTE buffer[64];
    SetLastError(0);
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(second, &data, SPDRP_HARDWAREID, nullptr, buffer,
                                                   sizeof buffer, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetupDiDestroyDeviceInfoList(first);
    SetupDiDestroyDeviceInfoList(second);
}

// ---------------------------------------------------------------------------
// Creating and registering devices

class WinsimCreateDevice : public WinsimDevices {
protected:
    void SetUp() override {
        WinsimDevices::SetUp();
        set_ = SetupDiCreateDeviceInfoList(&winsim::kDisplayClassGuid, nullptr);
        ASSERT_NE(set_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        SetupDiDestroyDeviceInfoList(set_);
        WinsimDevices::TearDown();
    }
    SP_DEVINFO_DATA Create(HDEVINFO set, const char* name = "Display",
                           DWORD flags = DICD_GENERATE_ID) {
        SP_DEVINFO_DATA data;
        data.cbSize = sizeof data;
        EXPECT_TRUE(SetupDiCreateDeviceInfoA(set, name, &winsim::kDisplayClassGuid, nullptr,
                                             nullptr, flags, &data))
            << "error " << GetLastError();
        return data;
    }
    void Register(HDEVINFO set, SP_DEVINFO_DATA* data, const std::string& ids) {
        ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyA(set, data, SPDRP_HARDWAREID,
                                                      reinterpret_cast<const BYTE*>(ids.data()),
                                                      static_cast<DWORD>(ids.size())));
        ASSERT_TRUE(SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, data));
    }
    HDEVINFO set_ = INVALID_HANDLE_VALUE;
};

TEST_F(WinsimCreateDevice, RegisteringMakesAPresentRootDevice) {
    SP_DEVINFO_DATA data = Create(set_, "display");
    EXPECT_TRUE(winsim::Devices().empty()) << "not in the system before it is registered";
    Register(set_, &data, winsim::MultiString({kId}));
    const std::vector<winsim::Device> devices = winsim::Devices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].instance_id, "ROOT\\DISPLAY\\0000");
    EXPECT_EQ(devices[0].class_name, "Display");
    EXPECT_EQ(devices[0].hardware_ids, winsim::MultiString({kId}));
    EXPECT_TRUE(devices[0].present);
    EXPECT_EQ(devices[0].driver, "");
    EXPECT_EQ(devices[0].service, "");
    EXPECT_TRUE(SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set_, &data)) << "once is enough";
    EXPECT_EQ(winsim::Devices().size(), 1u);
}

TEST_F(WinsimCreateDevice, GeneratedIdsTakeTheFirstFreeNumber) {
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0000", {"Old"})));
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0002", {"Old2"})));
    SP_DEVINFO_DATA first = Create(set_);
    // An unregistered element holds its number against other sets too.
    HDEVINFO other = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINFO_DATA second = Create(other);
    Register(set_, &first, winsim::MultiString({"A"}));
    Register(other, &second, winsim::MultiString({"B"}));
    EXPECT_EQ(winsim::Devices().size(), 4u);
    EXPECT_EQ(winsim::FindDevice("ROOT\\DISPLAY\\0001")->hardware_ids, winsim::MultiString({"A"}));
    EXPECT_EQ(winsim::FindDevice("ROOT\\DISPLAY\\0003")->hardware_ids, winsim::MultiString({"B"}));
    // A number an unregistered element held is free again with its set.
    HDEVINFO third = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    Create(third);
    SetupDiDestroyDeviceInfoList(third);
    SP_DEVINFO_DATA fourth = Create(set_);
    Register(set_, &fourth, winsim::MultiString({"C"}));
    EXPECT_EQ(winsim::FindDevice("ROOT\\DISPLAY\\0004")->hardware_ids, winsim::MultiString({"C"}));
    SetupDiDestroyDeviceInfoList(other);
}

TEST_F(WinsimCreateDevice, DestroyingTheSetDropsUnregisteredElementsOnly) {
    SP_DEVINFO_DATA kept = Create(set_);
    Register(set_, &kept, winsim::MultiString({kId}));
    Create(set_);
    EXPECT_EQ(winsim::OpenHandleCount(), 1u);
    ASSERT_TRUE(SetupDiDestroyDeviceInfoList(set_));
    set_ = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    const std::vector<winsim::Device> devices = winsim::Devices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].instance_id, "ROOT\\DISPLAY\\0000");
}

TEST_F(WinsimCreateDevice, AWholeInstanceIdIsUpperCasedAndChecked) {
    SP_DEVINFO_DATA data = Create(set_, "Root\\Mirror\\0007", 0);
    Register(set_, &data, winsim::MultiString({kId}));
    EXPECT_TRUE(winsim::FindDevice("ROOT\\MIRROR\\0007").has_value());
    EXPECT_EQ(winsim::Devices()[0].instance_id, "ROOT\\MIRROR\\0007");
    for (const char* bad : {"ROOT\\MIRROR", "\\MIRROR\\0000", "ROOT\\\\0000", "ROOT\\MIRROR\\",
                            "ROOT\\MIRROR\\0000\\X", ""}) {
        SCOPED_TRACE(bad);
        SP_DEVINFO_DATA d;
        d.cbSize = sizeof d;
        SetLastError(0);
        EXPECT_FALSE(SetupDiCreateDeviceInfoA(set_, bad, &winsim::kDisplayClassGuid, nullptr,
                                              nullptr, 0, &d));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DEVINST_NAME));
    }
    SP_DEVINFO_DATA d;
    d.cbSize = sizeof d + 1;
    SetLastError(0);
    EXPECT_FALSE(SetupDiCreateDeviceInfoA(set_, "Display", &winsim::kDisplayClassGuid, nullptr,
                                          nullptr, DICD_GENERATE_ID, &d));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
}

// ---------------------------------------------------------------------------
// DIF_REMOVE

TEST_F(WinsimCreateDevice, RemovingInALoopByIndexRemovesEveryMatch) {
    for (const char* id : {"ROOT\\DISPLAY\\0000", "ROOT\\DISPLAY\\0001", "ROOT\\DISPLAY\\0002"}) {
        winsim::Device d = Display(id, {kId});
        d.driver = std::string(kDisplayGuid) + "\\000" + id[std::string(id).size() - 1];
        ASSERT_TRUE(winsim::AddDevice(d));
        ASSERT_TRUE(winsim::SetRegistryString(
            std::string(kClassKey) + "\\000" + id[std::string(id).size() - 1], "InfPath",
            "oem0.inf"));
    }
    ASSERT_TRUE(winsim::AddDevice(Display("PCI\\VEN_8086&DEV_1234\\3&1", {"Gpu"})));
    ASSERT_TRUE(winsim::SetRegistryDword(std::string(kServices) + "\\QVMIRROR", "Start", 1));
    HDEVINFO set =
        SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA data;
    data.cbSize = sizeof data;
    int removed = 0;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) {
        BYTE buffer[64];
        DWORD size = 0;
        if (SetupDiGetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID, nullptr, buffer,
                                              sizeof buffer, &size) &&
            std::string(reinterpret_cast<char*>(buffer), size) == winsim::MultiString({kId})) {
            EXPECT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, set, &data));
            ++removed;
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    EXPECT_EQ(removed, 3);
    const std::vector<winsim::Device> left = winsim::Devices();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].instance_id, "PCI\\VEN_8086&DEV_1234\\3&1");
    EXPECT_TRUE(winsim::RegistrySubKeys(kClassKey).empty()) << "driver keys go with the devices";
    EXPECT_TRUE(winsim::RegistryKeyExists(std::string(kServices) + "\\QVMIRROR"))
        << "the service stays";
}

TEST_F(WinsimCreateDevice, RemovingLeavesOtherDriverKeysAlone) {
    winsim::Device mirror = Display("ROOT\\DISPLAY\\0000", {kId});
    mirror.driver = std::string(kDisplayGuid) + "\\0001";
    ASSERT_TRUE(winsim::AddDevice(mirror));
    ASSERT_TRUE(winsim::SetRegistryString(std::string(kClassKey) + "\\0000", "DriverDesc", "GPU"));
    ASSERT_TRUE(
        winsim::SetRegistryString(std::string(kClassKey) + "\\0001", "DriverDesc", "Mirror"));
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA data;
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &data));
    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, set, &data));
    EXPECT_EQ(winsim::RegistrySubKeys(kClassKey), std::vector<std::string>{"0000"});
    EXPECT_FALSE(winsim::FindDevice("ROOT\\DISPLAY\\0000").has_value());
    // Its number is free for the next generated ID.
    SP_DEVINFO_DATA fresh = Create(set_);
    Register(set_, &fresh, winsim::MultiString({kId}));
    EXPECT_TRUE(winsim::FindDevice("ROOT\\DISPLAY\\0000").has_value());
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(WinsimCreateDevice, AnUnregisteredElementCannotBeRemoved) {
    SP_DEVINFO_DATA data = Create(set_);
    SetLastError(0);
    EXPECT_FALSE(SetupDiCallClassInstaller(DIF_REMOVE, set_, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_DEVINST));
}

// ---------------------------------------------------------------------------
// Set handles

TEST_F(WinsimDevices, SetHandlesAreTheirOwnKind) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    HANDLE file = CreateFileA("C:\\a.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    EXPECT_EQ(winsim::OpenHandleCount(), 2u);
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(set));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(file));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    SetLastError(0);
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set)) << "a destroyed set stays invalid";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    CloseHandle(file);
}

void LeakASetUnderTheFixture() {
    struct Probe : WinsimTest {
        void TestBody() override {}
        using WinsimTest::SetUp;
        using WinsimTest::TearDown;
    } probe;
    probe.SetUp();
    SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    probe.TearDown();
}

TEST(WinsimDeviceLeakCheck, TheFixtureReportsALeakedDeviceInfoSet) {
    EXPECT_NONFATAL_FAILURE(LeakASetUnderTheFixture(), "a handle was left open");
    winsim::Reset();
}

// ---------------------------------------------------------------------------
// SetupCopyOEMInfA

TEST_F(WinsimDevices, CopiesTakeTheFirstFreeOemNumberOrReuseAnIdenticalCopy) {
    Inf inf;
    PutInf(inf);
    ASSERT_TRUE(winsim::PutFile("C:\\Windows\\INF\\oem0.inf", "[Version]\r\n"));
    ASSERT_TRUE(winsim::PutFile("C:\\Windows\\INF\\OEM2.INF", "[Version]\r\n"));
    char path[MAX_PATH];
    ASSERT_TRUE(SetupCopyOEMInfA("C:\\Drivers\\qvmirror.inf", nullptr, SPOST_NONE, 0, path,
                                 sizeof path, nullptr, nullptr));
    EXPECT_STREQ(path, "C:\\Windows\\INF\\oem1.inf");
    EXPECT_EQ(winsim::FileContents("C:\\Windows\\INF\\oem1.inf"), inf.Text());
    inf.extra = "; another build\r\n";
    PutInf(inf, "C:\\Drivers\\newer.inf");
    ASSERT_TRUE(SetupCopyOEMInfA("C:\\Drivers\\newer.inf", nullptr, SPOST_NONE, 0, path,
                                 sizeof path, nullptr, nullptr));
    EXPECT_STREQ(path, "C:\\Windows\\INF\\oem3.inf");
    // Matching contents is what counts; the name copied from does not.
    ASSERT_TRUE(
        winsim::PutFile("C:\\Drivers\\again.inf", *winsim::FileContents("C:\\Drivers\\newer.inf")));
    ASSERT_TRUE(SetupCopyOEMInfA("C:\\Drivers\\again.inf", nullptr, SPOST_NONE, 0, path,
                                 sizeof path, nullptr, nullptr));
    EXPECT_STREQ(path, "C:\\Windows\\INF\\oem3.inf");
    EXPECT_FALSE(winsim::Exists("C:\\Windows\\INF\\oem4.inf"));
}

TEST_F(WinsimDevices, ACopyKeepsTheSourceAttributesAndDeleteSourceRemovesIt) {
    ASSERT_TRUE(winsim::PutFile("C:\\Drivers\\ro.inf", Inf().Text(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetupCopyOEMInfA("C:\\Drivers\\ro.inf", nullptr, SPOST_NONE, 0, nullptr, 0, nullptr,
                                 nullptr));
    EXPECT_EQ(GetFileAttributesA("C:\\Windows\\INF\\oem0.inf"),
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    Inf other;
    other.extra = "; other\r\n";
    PutInf(other, "C:\\Drivers\\moved.inf");
    ASSERT_TRUE(SetupCopyOEMInfA("C:\\Drivers\\moved.inf", nullptr, SPOST_NONE,
                                 SP_COPY_DELETESOURCE, nullptr, 0, nullptr, nullptr));
    EXPECT_FALSE(winsim::Exists("C:\\Drivers\\moved.inf"));
    EXPECT_EQ(winsim::FileContents("C:\\Windows\\INF\\oem1.inf"), other.Text());
}

TEST_F(WinsimDevices, OnlyAWindowsInfIsCopied) {
    ASSERT_TRUE(winsim::PutFile("C:\\Drivers\\readme.txt", "Install with /A\r\n"));
    SetLastError(0);
    EXPECT_FALSE(SetupCopyOEMInfA("C:\\Drivers\\readme.txt", nullptr, SPOST_NONE, 0, nullptr, 0,
                                  nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_EXPECTED_SECTION_NAME));
    EXPECT_FALSE(winsim::Exists("C:\\Windows\\INF\\oem0.inf"));
}

// ---------------------------------------------------------------------------
// SetupDiGetINFClassA

TEST_F(WinsimDevices, InfClassReadsTheInfParserWay) {
    struct Case {
        const char* what;
        std::string text;
        const char* name;
    };
    const Case cases[] = {
        {"string token",
         "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=%Cls%\r\n[Strings]\r\nCls=Display\r\n",
         "Display"},
        {"continued line", "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Disp\\\r\nlay\r\n",
         "Display"},
        {"doubled quote", "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=\"Dis\"\"play\"\r\n",
         "Dis\"play"},
        {"repeated section",
         "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Other]\r\n[version]\r\nClass=Net\r\n", "Net"},
        {"semicolon in quotes", "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=\"A;B\" ; c\r\n",
         "A;B"},
        {"UTF-8 mark", "\xEF\xBB\xBF[Version]\r\nSignature=$Chicago$\r\nClass=Display\r\n",
         "Display"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(winsim::PutFile("C:\\Drivers\\c.inf", c.text));
        GUID guid;
        char name[64] = {};
        EXPECT_TRUE(SetupDiGetINFClassA("C:\\Drivers\\c.inf", &guid, name, sizeof name, nullptr))
            << "error " << GetLastError();
        EXPECT_STREQ(name, c.name);
    }
}

TEST_F(WinsimDevices, InfClassFindsABareNameInTheInfFolderAndReportsSyntaxErrors) {
    ASSERT_TRUE(winsim::PutFile("C:\\Windows\\INF\\oem7.inf", Inf().Text()));
    GUID guid;
    char name[64] = {};
    EXPECT_TRUE(SetupDiGetINFClassA("oem7.inf", &guid, name, sizeof name, nullptr));
    EXPECT_STREQ(name, "Display");
    ASSERT_TRUE(winsim::PutFile("C:\\Drivers\\bad.inf", "[Version\r\nSignature=$Chicago$\r\n"));
    SetLastError(0);
    EXPECT_FALSE(SetupDiGetINFClassA("C:\\Drivers\\bad.inf", &guid, name, sizeof name, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_SECTION_NAME_LINE));
    ASSERT_TRUE(winsim::PutFile("C:\\Drivers\\guid.inf",
                                "[Version]\r\nSignature=$Chicago$\r\nClassGUID={not-a-guid}\r\n"));
    SetLastError(0);
    EXPECT_FALSE(SetupDiGetINFClassA("C:\\Drivers\\guid.inf", &guid, name, sizeof name, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(WinsimDevices, InfClassOfAnUninstalledGuidIsEmpty) {
    ASSERT_TRUE(winsim::PutFile("C:\\Drivers\\c.inf",
                                "[Version]\r\nSignature=$Chicago$\r\n"
                                "ClassGUID={01234567-89AB-CDEF-0123-456789ABCDEF}\r\n"));
    GUID guid;
    char name[8] = "xxxxxxx";
    DWORD required = 0;
    EXPECT_TRUE(SetupDiGetINFClassA("C:\\Drivers\\c.inf", &guid, name, sizeof name, &required));
    EXPECT_STREQ(name, "");
    EXPECT_EQ(required, 1u);
    EXPECT_EQ(guid.Data1, 0x01234567u);
}

// ---------------------------------------------------------------------------
// UpdateDriverForPlugAndPlayDevicesA

TEST_F(WinsimDevices, InstallingLeavesWhatWindowsLeaves) {
    PutInf(Inf());
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0000", {kId})));
    BOOL reboot = 77;
    ASSERT_TRUE(Update(kId, INSTALLFLAG_FORCE, &reboot)) << "error " << error_;
    EXPECT_EQ(reboot, FALSE);
    EXPECT_EQ(error_, 0u) << "the last-error value is left alone";

    EXPECT_EQ(winsim::FileContents("C:\\Windows\\INF\\oem0.inf"), Inf().Text());
    const winsim::Device device = *winsim::FindDevice("ROOT\\DISPLAY\\0000");
    EXPECT_EQ(device.driver, std::string(kDisplayGuid) + "\\0000");
    EXPECT_EQ(device.service, "QVMIRROR");
    EXPECT_EQ(device.description, "Orvenik Tallomer Mirror");

    const std::string key = std::string(kClassKey) + "\\0000";
    const std::vector<std::pair<const char*, const char*>> values = {
        {"DriverDesc", "Orvenik Tallomer Mirror"},
        {"ProviderName", "Orvenik"},
        {"DriverVersion", "2.1.0.7"},
        {"InfPath", "oem0.inf"},
        {"InfSection", "QVMIRROR_Install"},
        {"MatchingDeviceId", "orvenik_tallomer_mirror"},
    };
    for (const auto& [name, value] : values) {
        EXPECT_EQ(winsim::GetRegistryValue(key, name),
                  (winsim::RegistryValue{REG_SZ, std::string(value) + '\0'}))
            << name;
    }
    EXPECT_FALSE(winsim::GetRegistryValue(key, "InfSectionExt").has_value()) << "undecorated";

    const std::string service = std::string(kServices) + "\\QVMIRROR";
    EXPECT_EQ(winsim::GetRegistryDword(service, "Type"), 1u);
    EXPECT_EQ(winsim::GetRegistryDword(service, "Start"), 1u);
    EXPECT_EQ(winsim::GetRegistryDword(service, "ErrorControl"), 0u);
    EXPECT_EQ(
        winsim::GetRegistryValue(service, "ImagePath"),
        (winsim::RegistryValue{
            REG_EXPAND_SZ, std::string("\\SystemRoot\\System32\\drivers\\qvmirror.sys") + '\0'}));
    EXPECT_EQ(winsim::GetRegistryString(service, "DisplayName"), "Tallomer mirror driver");
    EXPECT_EQ(winsim::GetRegistryString(service, "Group"), "Video");
}

TEST_F(WinsimDevices, InstallsOnEveryPresentMatchingDeviceOnly) {
    PutInf(Inf());
    ASSERT_TRUE(winsim::SetRegistryString(std::string(kClassKey) + "\\0000", "DriverDesc", "GPU"));
    ASSERT_TRUE(
        winsim::SetRegistryString(std::string(kClassKey) + "\\0002", "DriverDesc", "Other"));
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0000", {kId})));
    ASSERT_TRUE(
        winsim::AddDevice(Display("ROOT\\DISPLAY\\0001", {"Other_Id", "ORVENIK_tallomer_MIRROR"})));
    winsim::Device absent = Display("ROOT\\DISPLAY\\0002", {kId});
    absent.present = false;
    ASSERT_TRUE(winsim::AddDevice(absent));
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0003", {"Unrelated"})));
    ASSERT_TRUE(Update(kId)) << "error " << error_;
    EXPECT_EQ(winsim::FindDevice("ROOT\\DISPLAY\\0000")->driver,
              std::string(kDisplayGuid) + "\\0001");
    EXPECT_EQ(winsim::FindDevice("ROOT\\DISPLAY\\0001")->driver,
              std::string(kDisplayGuid) + "\\0003");
    EXPECT_EQ(winsim::FindDevice("ROOT\\DISPLAY\\0002")->driver, "");
    EXPECT_EQ(winsim::FindDevice("ROOT\\DISPLAY\\0003")->driver, "");
    // Each key names the ID as the device lists it, in lower case.
    EXPECT_EQ(winsim::GetRegistryString(std::string(kClassKey) + "\\0003", "MatchingDeviceId"),
              "orvenik_tallomer_mirror");
    EXPECT_EQ(winsim::GetRegistryString(std::string(kClassKey) + "\\0000", "DriverDesc"), "GPU");
    EXPECT_FALSE(winsim::Exists("C:\\Windows\\INF\\oem1.inf")) << "one copy serves all";
}

TEST_F(WinsimDevices, ReinstallingReusesTheDriverKeyAndTheCopy) {
    PutInf(Inf());
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0000", {kId})));
    ASSERT_TRUE(Update(kId)) << "error " << error_;
    ASSERT_TRUE(
        winsim::SetRegistryString(std::string(kClassKey) + "\\0001", "DriverDesc", "Other"));
    ASSERT_TRUE(Update(kId)) << "error " << error_;
    EXPECT_EQ(winsim::FindDevice("ROOT\\DISPLAY\\0000")->driver,
              std::string(kDisplayGuid) + "\\0000");
    EXPECT_EQ(winsim::RegistrySubKeys(kClassKey), (std::vector<std::string>{"0000", "0001"}));
    EXPECT_FALSE(winsim::Exists("C:\\Windows\\INF\\oem1.inf"));
}

TEST_F(WinsimDevices, ReinstallingFromAnotherInfLeavesNothingOfTheOldDriver) {
    Inf decorated;
    decorated.install_section = "QVMIRROR_Install.NTamd64";
    PutInf(decorated);
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0000", {kId})));
    ASSERT_TRUE(Update(kId)) << "error " << error_;
    const std::string key = std::string(kClassKey) + "\\0000";
    ASSERT_EQ(winsim::GetRegistryString(key, "InfSectionExt"), ".NTamd64");
    PutInf(Inf());
    ASSERT_TRUE(Update(kId)) << "error " << error_;
    EXPECT_EQ(winsim::GetRegistryString(key, "InfPath"), "oem1.inf");
    EXPECT_FALSE(winsim::GetRegistryValue(key, "InfSectionExt").has_value());
}

TEST_F(WinsimDevices, WithoutForceTheSameDriverIsNoBetter) {
    PutInf(Inf());
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0000", {kId})));
    ASSERT_TRUE(Update(kId, 0)) << "a device without a driver takes it";
    EXPECT_FALSE(Update(kId, 0));
    EXPECT_EQ(error_, static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    Inf newer;
    newer.extra = "; rebuilt\r\n";
    PutInf(newer);
    EXPECT_TRUE(Update(kId, 0)) << "another INF may be better; error " << error_;
    EXPECT_EQ(winsim::GetRegistryString(std::string(kClassKey) + "\\0000", "InfPath"), "oem1.inf");
}

TEST_F(WinsimDevices, TheRestartFlagIsReportedOrPrompted) {
    PutInf(Inf());
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0000", {kId})));
    winsim::SetRestartRequired(true);
    BOOL reboot = 77;
    ASSERT_TRUE(Update(kId, INSTALLFLAG_FORCE, &reboot));
    EXPECT_EQ(reboot, TRUE);
    EXPECT_FALSE(winsim::RestartPrompted());
    ASSERT_TRUE(UpdateDriverForPlugAndPlayDevicesA(nullptr, kId, "C:\\Drivers\\qvmirror.inf",
                                                   INSTALLFLAG_FORCE, nullptr));
    EXPECT_TRUE(winsim::RestartPrompted()) << "no place to report it: Windows asks the user";
    winsim::Reset();
    EXPECT_FALSE(winsim::RestartPrompted());
}

TEST_F(WinsimDevices, ANoRestartInstallWithoutAFlagPromptsNothing) {
    PutInf(Inf());
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0000", {kId})));
    ASSERT_TRUE(UpdateDriverForPlugAndPlayDevicesA(nullptr, kId, "C:\\Drivers\\qvmirror.inf",
                                                   INSTALLFLAG_FORCE, nullptr));
    EXPECT_FALSE(winsim::RestartPrompted());
}

TEST_F(WinsimDevices, TheBestRankedIdOfTheDevicePicksTheModel) {
    Inf inf;
    inf.model =
        "%Desc%=QVMIRROR_Install, Orvenik_Tallomer_Mirror\r\n"
        "Generic=Generic_Install, Generic_Display";
    inf.extra = "[Generic_Install]\r\n";
    PutInf(inf);
    winsim::Device device = Display("ROOT\\DISPLAY\\0000", {"Generic_Display"});
    device.compatible_ids = winsim::MultiString({kId});
    ASSERT_TRUE(winsim::AddDevice(device));
    ASSERT_TRUE(Update(kId)) << "error " << error_;
    const std::string key = std::string(kClassKey) + "\\0000";
    EXPECT_EQ(winsim::GetRegistryString(key, "InfSection"), "Generic_Install");
    EXPECT_EQ(winsim::GetRegistryString(key, "MatchingDeviceId"), "generic_display");
    EXPECT_EQ(winsim::FindDevice("ROOT\\DISPLAY\\0000")->service, "") << "no service for it";
}

struct DecorationCase {
    const char* what;
    const char* manufacturer;
    const char* models_section;
    bool installs;
};

class WinsimDecorations : public WinsimDevices,
                          public ::testing::WithParamInterface<DecorationCase> {};

TEST_P(WinsimDecorations, OnlyModelsForThisMachineCount) {
    const DecorationCase& c = GetParam();
    Inf inf;
    inf.manufacturer = c.manufacturer;
    inf.models_section = c.models_section;
    PutInf(inf);
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0000", {kId})));
    EXPECT_EQ(Update(kId), c.installs ? TRUE : FALSE) << "error " << error_;
    if (!c.installs) {
        EXPECT_EQ(error_, static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WinsimDecorations,
    ::testing::Values(DecorationCase{"Amd64", "%Mfg%=Mirror,NTamd64", "Mirror.NTamd64", true},
                      DecorationCase{"AnyNt", "%Mfg%=Mirror,NT", "Mirror.NT", true},
                      DecorationCase{"Amd64ForThisVersion", "%Mfg%=Mirror,NTamd64.10.0",
                                     "Mirror.NTamd64.10.0", true},
                      DecorationCase{"Amd64ForALaterVersion", "%Mfg%=Mirror,NTamd64.10.1",
                                     "Mirror.NTamd64.10.1", false},
                      DecorationCase{"X86Only", "%Mfg%=Mirror,NTx86", "Mirror.NTx86", false},
                      DecorationCase{"Undecorated", "%Mfg%=Mirror", "Mirror", false},
                      DecorationCase{"ListedButMissing", "%Mfg%=Mirror,NTamd64", "Mirror", false}),
    [](const ::testing::TestParamInfo<DecorationCase>& info) {
        return std::string(info.param.what);
    });

TEST_F(WinsimDevices, ADecoratedInstallSectionIsPreferredAndRecorded) {
    Inf inf;
    inf.install_section = "QVMIRROR_Install.NTamd64";
    PutInf(inf);
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0000", {kId})));
    ASSERT_TRUE(Update(kId)) << "error " << error_;
    const std::string key = std::string(kClassKey) + "\\0000";
    EXPECT_EQ(winsim::GetRegistryString(key, "InfSection"), "QVMIRROR_Install");
    EXPECT_EQ(winsim::GetRegistryString(key, "InfSectionExt"), ".NTamd64");
    EXPECT_EQ(winsim::FindDevice("ROOT\\DISPLAY\\0000")->service, "QVMIRROR");
}

TEST_F(WinsimDevices, AnIncompleteInfChangesNothing) {
    struct Case {
        const char* what;
        Inf inf;
        DWORD error;
    };
    Inf no_install;
    no_install.install_section = "Elsewhere";
    no_install.model = "%Desc%=Missing_Install, Orvenik_Tallomer_Mirror";
    Inf no_service;
    no_service.service_section = "[Other_Service]\r\n";
    Inf no_binary;
    no_binary.service_section =
        "[QVMIRROR_Service]\r\nServiceType=1\r\nStartType=1\r\nErrorControl=0\r\n";
    const Case cases[] = {
        {"install section missing", no_install, ERROR_SECTION_NOT_FOUND},
        {"service section missing", no_service, ERROR_SECTION_NOT_FOUND},
        {"service binary missing", no_binary, ERROR_LINE_NOT_FOUND},
    };
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0000", {kId})));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PutInf(c.inf);
        EXPECT_FALSE(Update(kId));
        EXPECT_EQ(error_, c.error);
        EXPECT_EQ(winsim::FindDevice("ROOT\\DISPLAY\\0000")->driver, "");
        EXPECT_TRUE(winsim::RegistrySubKeys(kClassKey).empty());
        EXPECT_FALSE(winsim::RegistryKeyExists(std::string(kServices) + "\\QVMIRROR"));
        EXPECT_FALSE(winsim::Exists("C:\\Windows\\INF\\oem0.inf"));
    }
}

TEST_F(WinsimDevices, UpdateRefusesUnknownFlagsAndMissingArguments) {
    PutInf(Inf());
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0000", {kId})));
    EXPECT_FALSE(Update(kId, 0x100));
    EXPECT_EQ(error_, static_cast<DWORD>(ERROR_INVALID_FLAGS));
    EXPECT_FALSE(Update(""));
    EXPECT_EQ(error_, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(winsim::FindDevice("ROOT\\DISPLAY\\0000")->driver, "");
}

// A snapshot taken before the installation sees the new driver: sets read
// the device as it is now.
TEST_F(WinsimDevices, ASetSeesTheDriverInstalledAfterIt) {
    PutInf(Inf());
    ASSERT_TRUE(winsim::AddDevice(Display("ROOT\\DISPLAY\\0000", {kId})));
    HDEVINFO set =
        SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    ASSERT_TRUE(Update(kId)) << "error " << error_;
    SP_DEVINFO_DATA data;
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &data));
    char driver[64] = {};
    EXPECT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &data, SPDRP_DRIVER, nullptr,
                                                  reinterpret_cast<BYTE*>(driver), sizeof driver,
                                                  nullptr));
    EXPECT_EQ(std::string(driver), std::string(kDisplayGuid) + "\\0000");
    SetupDiDestroyDeviceInfoList(set);
}

}  // namespace
