// Scale: ten thousand devices, display-class sub-keys, video sub-keys and
// keys in one tree. "/A" and "/R" finish and take exactly what they must.
#include "driver_package.h"
#include "hostile_machine.h"
#include "trace_harness.h"

#include <cstdio>
#include <set>
#include <string>

namespace hostile {
namespace {

constexpr int kCount = 10000;
const std::string kPackage = "C:\\Drv";

std::string Numbered(const char* format, int n) {
    char text[64];
    std::snprintf(text, sizeof(text), format, n);
    return text;
}

std::string Key(const std::string& parent, const std::string& name) { return parent + "\\" + name; }

class ScaleTest : public ::testing::Test {
protected:
    void SetUp() override {
        winsim::Reset();
        ForgetTracked();
    }
    void TearDown() override {
        EXPECT_EQ(winsim::OpenHandleCount(), 0u) << "a handle was left open";
        EXPECT_EQ(winsim::LiveAllocationCount(), 0u) << "an allocation was not freed";
    }
};

// ---------------------------------------------------------------------------
// Present devices

// Instance IDs that differ early: winsim compares each new one with every
// device it holds, so adding 10,000 is quadratic in their common prefix.
std::string DeviceInstance(int n) { return Numbered("V%04d\\DEV_1000\\0", n); }

std::set<std::string> DeviceSet() {
    std::set<std::string> instances;
    for (const winsim::Device& device : winsim::Devices()) {
        instances.insert(device.instance_id);
    }
    return instances;
}

std::set<std::string> DevicesDriven() {
    std::set<std::string> instances;
    for (const winsim::Device& device : winsim::Devices()) {
        if (device.service == "QVMIRROR") {
            instances.insert(device.instance_id);
        }
    }
    return instances;
}

// Adds the mirror's ID to present devices' lists, as a driver update would.
void ListTheId(const std::set<std::string>& instances) {
    const std::vector<winsim::Device> devices = winsim::Devices();
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    for (size_t index = 0; index < devices.size(); ++index) {
        if (instances.count(devices[index].instance_id) == 0) {
            continue;
        }
        SP_DEVINFO_DATA data{};
        data.cbSize = sizeof(data);
        EXPECT_TRUE(SetupDiEnumDeviceInfo(set, static_cast<DWORD>(index), &data));
        std::string ids = *devices[index].hardware_ids;
        ids.pop_back();  // the closing empty string
        ids += kMirrorHardwareId + std::string(2, '\0');
        EXPECT_TRUE(SetupDiSetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID,
                                                      reinterpret_cast<const BYTE*>(ids.data()),
                                                      static_cast<DWORD>(ids.size())));
    }
    SetupDiDestroyDeviceInfoList(set);
}

// One machine through three rounds of "/A" then "/R": without the mirror's
// device, with it deep among the others, and with three of them.
TEST_F(ScaleTest, TenThousandPresentDevices) {
    for (int n = 0; n < kCount; ++n) {
        winsim::Device device;
        device.instance_id = DeviceInstance(n);
        device.hardware_ids = winsim::MultiString({Numbered("PCI\\VEN_1000&DEV_%04d", n)});
        ASSERT_TRUE(winsim::AddDevice(device));
    }
    PutDriverPackage(kPackage);
    std::set<std::string> others = DeviceSet();
    ASSERT_EQ(others.size(), static_cast<size_t>(kCount));

    const std::set<std::string> rounds[] = {
        {},
        {DeviceInstance(7321)},
        {DeviceInstance(0), DeviceInstance(5000), DeviceInstance(kCount - 1)},
    };
    for (const std::set<std::string>& mirrors : rounds) {
        SCOPED_TRACE(mirrors.size());
        ListTheId(mirrors);
        winsim::ClearDebugOutput();

        EXPECT_EQ(RunProgram({"/A", "/S:" + kPackage}), 0);
        std::set<std::string> expected = mirrors.empty() ? std::set<std::string>{"ROOT\\DISPLAY\\0000"} : mirrors;
        EXPECT_EQ(DevicesDriven(), expected);
        EXPECT_EQ(winsim::Devices().size(), others.size() + (mirrors.empty() ? 1 : 0));

        EXPECT_EQ(RemoveAndRestart(), 0);
        for (const std::string& mirror : mirrors) {
            others.erase(mirror);
        }
        EXPECT_EQ(DeviceSet(), others);
        EXPECT_EQ(CountTraced("QV_DeviceDriverUninstall", "Found! [" + kMirrorHardwareId + "]\n"), expected.size());
    }
}

// ---------------------------------------------------------------------------
// Display-class sub-keys

void OtherDriverKeys(int skip) {
    for (int n = 0; n < kCount; ++n) {
        if (n == skip) {
            continue;
        }
        const std::string key = Key(kDisplayClassKey, Numbered("%04d", n));
        ASSERT_TRUE(winsim::SetRegistryString(key, "MatchingDeviceId", Numbered("pci\\ven_1000&dev_%04d", n)));
        ASSERT_TRUE(winsim::SetRegistryString(key, "InfPath", Numbered("oem%d.inf", 100 + n % 50)));
    }
}

TEST_F(ScaleTest, RemovalFindsTheInfBehindTenThousandClassKeys) {
    OtherDriverKeys(kCount - 1);
    const std::string mirrorKey = Key(kDisplayClassKey, "9999");
    ASSERT_TRUE(winsim::SetRegistryString(mirrorKey, "MatchingDeviceId", "orvenik_tallomer_mirror"));
    ASSERT_TRUE(winsim::SetRegistryString(mirrorKey, "InfPath", "oem7.inf"));
    for (const char* file : {"oem7.inf", "oem7.pnf", "oem100.inf", "oem149.inf"}) {
        PutTracked(kInfFolder + "\\" + file);
    }
    ASSERT_EQ(winsim::RegistrySubKeys(kDisplayClassKey).size(), static_cast<size_t>(kCount));
    const Snapshot before = Take();

    EXPECT_EQ(RemoveAndRestart(), 0);

    ExpectRemoved(before, Take(), Removal{{}, {kInfFolder + "\\oem7.inf", kInfFolder + "\\oem7.pnf"}, {}});
    EXPECT_TRUE(Traced("QV_GetOEMInfFileName", " <-- QV_GetOEMInfFileName( C:\\Windows\\INF\\oem7.inf )\n"));
    EXPECT_LE(winsim::CallCount("RegEnumKeyExA"), 2u * kCount);
}

// The new device's driver key is the one free number among them.
TEST_F(ScaleTest, InstallAndRemoveAmongTenThousandClassKeys) {
    OtherDriverKeys(5000);
    PutDriverPackage(kPackage);
    const Snapshot before = Take();

    EXPECT_EQ(RunProgram({"/A", "/S:" + kPackage}), 0);
    ASSERT_EQ(winsim::Devices().size(), 1u);
    EXPECT_EQ(winsim::Devices()[0].driver, "{4D36E968-E325-11CE-BFC1-08002BE10318}\\5000");
    EXPECT_EQ(winsim::RegistrySubKeys(kDisplayClassKey).size(), static_cast<size_t>(kCount));
    EXPECT_TRUE(Traced("QV_GetOEMInfFileName", " <-- QV_GetOEMInfFileName( C:\\Windows\\INF\\oem0.inf )\n"));
    Track(kInfFolder + "\\oem0.inf");

    EXPECT_EQ(RemoveAndRestart(), 0);

    const Snapshot after = Take();
    EXPECT_TRUE(winsim::Devices().empty());
    EXPECT_FALSE(winsim::Exists(kInfFolder + "\\oem0.inf"));
    // Back to what it was before the installation.
    EXPECT_EQ(after.keys, before.keys);
}

// ---------------------------------------------------------------------------
// Video sub-keys

TEST_F(ScaleTest, HundredMirrorVideoKeysAmongTenThousandGo) {
    std::set<std::string> mirrors;
    for (int n = 0; n < kCount; ++n) {
        const std::string guid = Numbered("{%08X-2222-3333-4444-555555555555}", n * 7919 % kCount);
        const bool mirror = n % 100 == 37;
        ASSERT_TRUE(
            winsim::SetRegistryString(Key(kVideoKey, guid) + "\\Video", "Service", mirror ? "QVMIRROR" : "OTHERVID"));
        ASSERT_TRUE(winsim::CreateRegistryKey(Key(kVideoKey, guid) + "\\0000"));
        if (mirror) {
            mirrors.insert(Key(kVideoKey, guid));
        }
    }
    ASSERT_EQ(mirrors.size(), 100u);
    const Snapshot before = Take();

    EXPECT_EQ(RemoveAndRestart(), 0);

    ExpectRemoved(before, Take(), Removal{Lines(mirrors.begin(), mirrors.end()), {}, {}});
    EXPECT_EQ(winsim::RegistrySubKeys(kVideoKey).size(), static_cast<size_t>(kCount) - 100);
    EXPECT_LE(winsim::CallCount("RegEnumKeyExA"), 2u * kCount);
}

// ---------------------------------------------------------------------------
// One video key holding a tree of ten thousand keys

TEST_F(ScaleTest, TreeOfTenThousandKeysUnderAVideoKeyGoes) {
    const std::string mirror = Key(kVideoKey, kGuidA);
    ASSERT_TRUE(winsim::SetRegistryString(mirror + "\\Video", "Service", "QVMIRROR"));
    ASSERT_TRUE(winsim::SetRegistryString(Key(kVideoKey, kGuidOther) + "\\Video", "Service", "OTHERVID"));
    // "Video" and 100 keys of 99 keys each: 10,001 below the video key.
    for (int a = 0; a < 100; ++a) {
        for (int b = 0; b < 99; ++b) {
            ASSERT_TRUE(winsim::CreateRegistryKey(mirror + Numbered("\\%04d", a) + Numbered("\\%04d", b)));
        }
    }
    const Snapshot before = Take();

    EXPECT_EQ(RemoveAndRestart(), 0);

    const Snapshot after = Take();
    ExpectRemoved(before, after, Removal{{mirror}, {}, {}});
    EXPECT_EQ(before.keys.size() - after.keys.size(), static_cast<size_t>(kCount) + 2);
    EXPECT_LE(winsim::CallCount("RegEnumKeyExA"), 3u * kCount);
    EXPECT_EQ(winsim::CallCount("RegDeleteKeyA"), static_cast<unsigned>(kCount) + 2);
}

}  // namespace
}  // namespace hostile
