// Hardware-ID lists as a device's property bytes hold them, well formed or
// not, through "/A" (is the mirror's device found?) and "/R" (which devices
// go?). A list is only read within its bytes and matched string by string.
#include "driver_package.h"
#include "hostile_machine.h"
#include "trace_harness.h"

#include <optional>
#include <string>

namespace hostile {
namespace {

const std::string kNul(1, '\0');
const std::string kHostileDevice = "ACPI\\HOSTILE\\0";  // sorts before every other device
const std::string kPackage = "C:\\Drv";

std::string ManyStrings(size_t count, size_t length) {
    std::string bytes;
    for (size_t i = 0; i < count; ++i) {
        bytes += std::string(length, static_cast<char>('a' + i % 26)) + kNul;
    }
    return bytes;
}

struct IdListCase {
    const char* name;
    std::optional<std::string> bytes;
    bool matches;
    bool endsTheLookup = false;  // the read keeps asking for no larger a buffer
};

void PrintTo(const IdListCase& param, std::ostream* os) { *os << param.name; }

const IdListCase kIdListCases[] = {
    {"Id", winsim::MultiString({kMirrorHardwareId}), true},
    {"IdWithoutClosingEmptyString", kMirrorHardwareId + kNul, true},
    {"IdAfterOthers", winsim::MultiString({"PCI\\VEN_1234", "ROOT\\X", kMirrorHardwareId}), true},
    {"IdAfterAStringOf300", std::string(300, 'p') + kNul + kMirrorHardwareId + kNul + kNul, true},
    {"IdAtTheEndOf64KiB", ManyStrings(2048, 31) + kMirrorHardwareId + kNul + kNul, true},
    {"IdWithoutTerminator", kMirrorHardwareId, false},
    {"ListEndingInsideTheId", "A" + kNul + kMirrorHardwareId.substr(0, 10), false},
    {"ListEndingBeforeTheIdsTerminator", "A" + kNul + kMirrorHardwareId, false},
    {"IdAfterTheClosingEmptyString", "A" + kNul + kNul + kMirrorHardwareId + kNul + kNul, false},
    {"IdInsideALongerString", "X" + kMirrorHardwareId + kNul + kNul, false},
    {"IdWithASuffix", kMirrorHardwareId + "X" + kNul + kNul, false},
    {"ClosingEmptyStringOnly", kNul, false},
    {"TwoTerminatorsOnly", kNul + kNul, false},
    {"NoProperty", std::nullopt, false},
    {"NoBytes", std::string(), false, true},
};

void AddHostileDevice(const std::optional<std::string>& bytes) {
    winsim::Device device;
    device.instance_id = kHostileDevice;
    device.class_name = "System";
    device.hardware_ids = bytes;
    ASSERT_TRUE(winsim::AddDevice(device));
}

bool Present(const std::string& instance) { return winsim::FindDevice(instance).has_value(); }

class HardwareIdRemovalTest : public InstalledMachineTest, public ::testing::WithParamInterface<IdListCase> {};

// The hostile device comes first; the installed mirror's device after it.
TEST_P(HardwareIdRemovalTest, RemovesEveryMatchingDeviceAndNoOther) {
    const IdListCase& test = GetParam();
    AddHostileDevice(test.bytes);
    const Snapshot before = Take();
    winsim::ClearDebugOutput();

    EXPECT_EQ(RemoveAndRestart(), 0);

    const Snapshot after = Take();
    Removal expected = Expected(test.endsTheLookup ? unsigned{kDevicePart} : 0u);
    if (test.matches) {
        expected.devices.push_back(kHostileDevice);
    }
    ExpectRemoved(before, after, expected);
    EXPECT_EQ(CountTraced("QV_DeviceDriverUninstall", "Found! [" + kMirrorHardwareId + "]\n"),
              test.endsTheLookup ? 0u : (test.matches ? 2u : 1u));
    EXPECT_EQ(Traced("QV_DisplayError", "GetDeviceRegistryProperty FAILURE: Code=1784 : The supplied user buffer is "
                                        "not valid for the requested operation.\r\n\n"),
              test.endsTheLookup);
}

INSTANTIATE_TEST_SUITE_P(IdLists, HardwareIdRemovalTest, ::testing::ValuesIn(kIdListCases),
                         [](const ::testing::TestParamInfo<IdListCase>& info) { return std::string(info.param.name); });

class HardwareIdInstallTest : public ::testing::Test, public ::testing::WithParamInterface<IdListCase> {
protected:
    void SetUp() override {
        winsim::Reset();
        PutDriverPackage(kPackage);
    }
    void TearDown() override {
        EXPECT_EQ(winsim::OpenHandleCount(), 0u);
        EXPECT_EQ(winsim::LiveAllocationCount(), 0u);
    }
};

// "/A" drives a device that lists the ID; otherwise it makes its own, which
// "/R" takes again, leaving the device with the hostile list.
TEST_P(HardwareIdInstallTest, InstallsOnTheMatchingDeviceOrANewOne) {
    const IdListCase& test = GetParam();
    AddHostileDevice(test.bytes);

    const int exitCode = RunProgram({"/A", "/S:" + kPackage});

    std::vector<std::string> instances;
    for (const winsim::Device& device : winsim::Devices()) {
        instances.push_back(device.instance_id);
    }
    if (test.endsTheLookup) {
        EXPECT_EQ(exitCode, 50);
        EXPECT_EQ(instances, (Lines{kHostileDevice}));
        EXPECT_TRUE(Traced("QV_RegisterMirrorDriver", "Unknown Error.(1784)\n"));
    } else if (test.matches) {
        EXPECT_EQ(exitCode, 0);
        EXPECT_EQ(instances, (Lines{kHostileDevice}));
        EXPECT_EQ(winsim::FindDevice(kHostileDevice)->service, "QVMIRROR");
    } else {
        EXPECT_EQ(exitCode, 0);
        EXPECT_EQ(instances, (Lines{kHostileDevice, "ROOT\\DISPLAY\\0000"}));
    }

    EXPECT_EQ(RemoveAndRestart(), 0);
    EXPECT_EQ(Present(kHostileDevice), !test.matches);
    EXPECT_EQ(winsim::Devices().size(), test.matches ? 0u : 1u);
    EXPECT_FALSE(winsim::FindService("QVMIRROR"));
}

INSTANTIATE_TEST_SUITE_P(IdLists, HardwareIdInstallTest, ::testing::ValuesIn(kIdListCases),
                         [](const ::testing::TestParamInfo<IdListCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hostile
