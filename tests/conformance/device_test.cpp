// Device information sets: root-enumerated devices made and registered
// through SetupAPI, found again among the present devices of all classes,
// their hardware-ID property with its buffer contract, and DIF_REMOVE.

#include "device_support.h"

#include <cstring>
#include <string>

namespace {

constexpr char kId[] = "Winsim_Conformance_Device";

HDEVINFO PresentDevices() {
    return SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
}

using DeviceSetTest = DeviceTest;

TEST_F(DeviceSetTest, RegisteredRootDeviceIsPresentWithItsHardwareIds) {
    const std::string ids = MultiSz({kId, "Winsim_Conformance_Compatible"});
    ASSERT_TRUE(RegisterDevice(ids));
    SetLastError(kPoison);
    DeviceList present(PresentDevices());
    ASSERT_TRUE(present.valid()) << "error " << GetLastError();
    std::optional<SP_DEVINFO_DATA> device = FindPresent(present.get(), kId);
    ASSERT_TRUE(device.has_value());
    EXPECT_TRUE(SameGuid(device->ClassGuid, kDisplayClass));

    BYTE buffer[256];
    std::memset(buffer, '#', sizeof buffer);
    DWORD type = 0xdead;
    DWORD required = 0xdead;
    SetLastError(kPoison);
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(present.get(), &*device, SPDRP_HARDWAREID, &type,
                                                  buffer, sizeof buffer, &required))
        << "error " << GetLastError();
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(required, ids.size());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), ids.size()), ids);
    EXPECT_EQ(GetLastError(), kPoison);
    EXPECT_TRUE(SetupDiGetDeviceRegistryPropertyA(present.get(), &*device, SPDRP_HARDWAREID,
                                                  nullptr, buffer, sizeof buffer, nullptr))
        << "type and size are optional";
}

TEST_F(DeviceSetTest, DifRemoveTakesTheDeviceAway) {
    ASSERT_TRUE(RegisterDevice(MultiSz({kId})));
    {
        DeviceList present(PresentDevices());
        std::optional<SP_DEVINFO_DATA> device = FindPresent(present.get(), kId);
        ASSERT_TRUE(device.has_value());
        SetLastError(kPoison);
        EXPECT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, present.get(), &*device))
            << "error " << GetLastError();
        // The element stays in the set, but its device is gone.
        SetLastError(kPoison);
        EXPECT_FALSE(SetupDiCallClassInstaller(DIF_REMOVE, present.get(), &*device));
        EXPECT_LAST_ERROR(ERROR_NO_SUCH_DEVINST);
        BYTE buffer[64];
        SetLastError(kPoison);
        EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(present.get(), &*device, SPDRP_HARDWAREID,
                                                       nullptr, buffer, sizeof buffer, nullptr));
        EXPECT_LAST_ERROR(ERROR_NO_SUCH_DEVINST);
    }
    DeviceList after(PresentDevices());
    EXPECT_FALSE(FindPresent(after.get(), kId).has_value());
}

TEST_F(DeviceSetTest, AnUnregisteredElementVanishesWithItsSet) {
    {
        DeviceList list(SetupDiCreateDeviceInfoList(&kDisplayClass, nullptr));
        ASSERT_TRUE(list.valid());
        SP_DEVINFO_DATA device;
        device.cbSize = sizeof device;
        ASSERT_TRUE(SetupDiCreateDeviceInfoA(list.get(), "Display", &kDisplayClass, nullptr,
                                             nullptr, DICD_GENERATE_ID, &device));
        const std::string ids = MultiSz({kId});
        ASSERT_TRUE(SetupDiSetDeviceRegistryPropertyA(list.get(), &device, SPDRP_HARDWAREID,
                                                      reinterpret_cast<const BYTE*>(ids.data()),
                                                      static_cast<DWORD>(ids.size())));
        SP_DEVINFO_DATA first;
        first.cbSize = sizeof first;
        ASSERT_TRUE(SetupDiEnumDeviceInfo(list.get(), 0, &first));
        EXPECT_EQ(first.DevInst, device.DevInst);
        EXPECT_TRUE(SameGuid(first.ClassGuid, kDisplayClass));
    }
    DeviceList all(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES));
    EXPECT_FALSE(FindPresent(all.get(), kId).has_value());
}

// ---------------------------------------------------------------------------
// SetupDiEnumDeviceInfo

TEST_F(DeviceSetTest, EnumerationChecksTheStructureSizeAndStopsAtTheEnd) {
    DeviceList list(SetupDiCreateDeviceInfoList(&kDisplayClass, nullptr));
    ASSERT_TRUE(list.valid());
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    ASSERT_TRUE(SetupDiCreateDeviceInfoA(list.get(), "Display", &kDisplayClass, nullptr, nullptr,
                                         DICD_GENERATE_ID, &device));
    for (DWORD size :
         {DWORD{0}, static_cast<DWORD>(sizeof device - 1), static_cast<DWORD>(sizeof device + 4)}) {
        SCOPED_TRACE(size);
        SP_DEVINFO_DATA data;
        data.cbSize = size;
        SetLastError(kPoison);
        EXPECT_FALSE(SetupDiEnumDeviceInfo(list.get(), 0, &data));
        EXPECT_LAST_ERROR(ERROR_INVALID_USER_BUFFER);
    }
    SP_DEVINFO_DATA data;
    data.cbSize = sizeof data;
    for (DWORD index : {1u, 2u, 100u}) {
        SetLastError(kPoison);
        EXPECT_FALSE(SetupDiEnumDeviceInfo(list.get(), index, &data));
        EXPECT_LAST_ERROR(ERROR_NO_MORE_ITEMS);
    }
}

// ---------------------------------------------------------------------------
// SetupDiGetDeviceRegistryPropertyA

class PropertyTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(RegisterDevice(ids_));
        present_ = PresentDevices();
        ASSERT_NE(present_, INVALID_HANDLE_VALUE);
        std::optional<SP_DEVINFO_DATA> device = FindPresent(present_, kId);
        ASSERT_TRUE(device.has_value());
        device_ = *device;
    }
    void TearDown() override {
        if (present_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(present_);
        DeviceTest::TearDown();
    }
    const std::string ids_ = MultiSz({kId, "Second_Id"});
    HDEVINFO present_ = INVALID_HANDLE_VALUE;
    SP_DEVINFO_DATA device_{};
};

TEST_F(PropertyTest, BufferTooSmallGetsTheSizeAndTypeAndIsUntouched) {
    for (DWORD size : {DWORD{1}, static_cast<DWORD>(ids_.size() - 1)}) {
        SCOPED_TRACE(size);
        BYTE buffer[128];
        std::memset(buffer, '#', sizeof buffer);
        DWORD type = 0xdead;
        DWORD required = 0xdead;
        SetLastError(kPoison);
        EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(present_, &device_, SPDRP_HARDWAREID, &type,
                                                       buffer, size, &required));
        EXPECT_LAST_ERROR(ERROR_INSUFFICIENT_BUFFER);
        EXPECT_EQ(required, ids_.size());
        EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), sizeof buffer),
                  std::string(sizeof buffer, '#'));
    }
}

TEST_F(PropertyTest, NoBufferAskForTheSize) {
    DWORD required = 0xdead;
    SetLastError(kPoison);
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(present_, &device_, SPDRP_HARDWAREID, nullptr,
                                                   nullptr, 0, &required));
    EXPECT_LAST_ERROR(ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, ids_.size());
    // A size without a buffer is refused.
    SetLastError(kPoison);
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(present_, &device_, SPDRP_HARDWAREID, nullptr,
                                                   nullptr, 16, &required));
    EXPECT_LAST_ERROR(ERROR_INVALID_DATA);
}

TEST_F(PropertyTest, MissingPropertyIsInvalidData) {
    BYTE buffer[128];
    SetLastError(kPoison);
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(present_, &device_, SPDRP_COMPATIBLEIDS, nullptr,
                                                   buffer, sizeof buffer, nullptr));
    EXPECT_LAST_ERROR(ERROR_INVALID_DATA);
}

TEST_F(PropertyTest, DeviceDataMustBeTheRightSize) {
    SP_DEVINFO_DATA wrong = device_;
    wrong.cbSize = sizeof wrong + 4;
    BYTE buffer[128];
    SetLastError(kPoison);
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(present_, &wrong, SPDRP_HARDWAREID, nullptr,
                                                   buffer, sizeof buffer, nullptr));
    EXPECT_LAST_ERROR(ERROR_INVALID_PARAMETER);
}

// Hardware IDs are stored as given, even a list without its final empty
// string.
TEST_F(DeviceSetTest, MalformedHardwareIdListComesBackAsStored) {
    const std::string broken("Winsim_Broken\0Tail", 18);
    ASSERT_TRUE(RegisterDevice(broken));
    DeviceList present(PresentDevices());
    std::optional<SP_DEVINFO_DATA> device = FindPresent(present.get(), "Winsim_Broken");
    ASSERT_TRUE(device.has_value());
    std::optional<std::string> stored = Property(present.get(), &*device, SPDRP_HARDWAREID);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(*stored, broken);
}

// ---------------------------------------------------------------------------
// SetupDiCreateDeviceInfoA

TEST_F(DeviceSetTest, CreationRefusesBadNamesTakenIdsAndOtherClasses) {
    DeviceList list(SetupDiCreateDeviceInfoList(&kDisplayClass, nullptr));
    ASSERT_TRUE(list.valid());
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    SetLastError(kPoison);
    EXPECT_FALSE(SetupDiCreateDeviceInfoA(list.get(), "ROOT\\Display", &kDisplayClass, nullptr,
                                          nullptr, DICD_GENERATE_ID, &device));
    EXPECT_LAST_ERROR(ERROR_INVALID_DEVINST_NAME);

    ASSERT_TRUE(SetupDiCreateDeviceInfoA(list.get(), "ROOT\\WINSIMCONF\\0000", &kDisplayClass,
                                         nullptr, nullptr, 0, &device));
    SetLastError(kPoison);
    EXPECT_FALSE(SetupDiCreateDeviceInfoA(list.get(), "root\\winsimconf\\0000", &kDisplayClass,
                                          nullptr, nullptr, 0, &device));
    EXPECT_LAST_ERROR(ERROR_DEVINST_ALREADY_EXISTS);

    const GUID net = {0x4d36e972, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    SetLastError(kPoison);
    EXPECT_FALSE(SetupDiCreateDeviceInfoA(list.get(), "Net", &net, nullptr, nullptr,
                                          DICD_GENERATE_ID, &device));
    EXPECT_LAST_ERROR(ERROR_CLASS_MISMATCH);
}

TEST_F(DeviceSetTest, DestroyingAnInvalidSetIsInvalidHandle) {
    SetLastError(kPoison);
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(INVALID_HANDLE_VALUE));
    EXPECT_LAST_ERROR(ERROR_INVALID_HANDLE);
}

}  // namespace
