// The registry as tests set it up and inspect it: keys and values stored as
// given, access denial, deleted keys, deep and wide trees, and registry
// handles in the accounting.
#include "winsim_test.h"

#include <gtest/gtest-spi.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kDisplayClass[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E968-E325-11CE-BFC1-08002BE10318}";

HKEY OpenKey(const char* path, REGSAM access, LONG* result) {
    HKEY key = nullptr;
    *result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, &key);
    return key;
}

std::string Query(HKEY key, const char* name, DWORD* type) {
    BYTE buffer[256];
    DWORD size = sizeof buffer;
    if (RegQueryValueExA(key, name, nullptr, type, buffer, &size) != ERROR_SUCCESS) return "<none>";
    return std::string(reinterpret_cast<char*>(buffer), size);
}

// ---------------------------------------------------------------------------
// A fresh machine

using WinsimRegistry = WinsimTest;

TEST_F(WinsimRegistry, AFreshMachineHasTheDisplayClassAndTheControlSetKeys) {
    for (const char* key : {"SOFTWARE", "SYSTEM\\CurrentControlSet\\Services",
                            "SYSTEM\\CurrentControlSet\\Enum", kDisplayClass}) {
        EXPECT_TRUE(winsim::RegistryKeyExists(key)) << key;
    }
    EXPECT_EQ(winsim::GetRegistryString(kDisplayClass, "Class"), "Display");
    EXPECT_TRUE(winsim::RegistrySubKeys(kDisplayClass).empty()) << "no driver installed";
    EXPECT_TRUE(winsim::RegistrySubKeys("SYSTEM\\CurrentControlSet\\Services").empty());
}

TEST_F(WinsimRegistry, ResetForgetsWhatATestWrote) {
    ASSERT_TRUE(winsim::SetRegistryString("SOFTWARE\\Vendor", "Name", "x"));
    ASSERT_TRUE(winsim::DenyRegistryAccess("SOFTWARE", KEY_READ));
    winsim::Reset();
    EXPECT_FALSE(winsim::RegistryKeyExists("SOFTWARE\\Vendor"));
    LONG result = 0;
    HKEY key = OpenKey("SOFTWARE", KEY_READ, &result);
    EXPECT_EQ(result, ERROR_SUCCESS) << "the denial went with the old machine";
    RegCloseKey(key);
}

// ---------------------------------------------------------------------------
// Set-up and inspection helpers

TEST_F(WinsimRegistry, CreatingAKeyCreatesItsParentsAndKeepsTheCaseGiven) {
    ASSERT_TRUE(winsim::CreateRegistryKey("SOFTWARE\\Orvenik\\Tallomer\\Mirror"));
    EXPECT_TRUE(winsim::RegistryKeyExists("software\\ORVENIK\\tallomer"));
    EXPECT_TRUE(winsim::CreateRegistryKey("software\\orvenik")) << "an existing key is fine";
    EXPECT_EQ(winsim::RegistrySubKeys("SOFTWARE"),
              (std::vector<std::string>{"Microsoft", "Orvenik"}));
    EXPECT_TRUE(winsim::CreateRegistryKey("SOFTWARE\\\\Doubled\\")) << "empty parts are skipped";
    EXPECT_TRUE(winsim::RegistryKeyExists("SOFTWARE\\Doubled"));
    EXPECT_FALSE(winsim::CreateRegistryKey("SOFTWARE\\" + std::string(256, 'k')));
    EXPECT_FALSE(winsim::RegistryKeyExists("SOFTWARE\\Missing"));
}

TEST_F(WinsimRegistry, ValuesAreStoredAsGiven) {
    const std::string key = "SOFTWARE\\Vendor";
    ASSERT_TRUE(winsim::SetRegistryValue(key, "Raw", REG_SZ, "no terminator"));
    ASSERT_TRUE(winsim::SetRegistryString(key, "Text", "oem3.inf"));
    ASSERT_TRUE(winsim::SetRegistryString(key, "Path", "%SystemRoot%", REG_EXPAND_SZ));
    ASSERT_TRUE(winsim::SetRegistryDword(key, "Start", 0x01020304));
    ASSERT_TRUE(winsim::SetRegistryValue(key, "", REG_BINARY, std::string("\0\1", 2)));

    EXPECT_EQ(winsim::GetRegistryValue(key, "raw"),
              (winsim::RegistryValue{REG_SZ, "no terminator"}));
    EXPECT_EQ(winsim::GetRegistryValue(key, "TEXT"),
              (winsim::RegistryValue{REG_SZ, std::string("oem3.inf\0", 9)}));
    EXPECT_EQ(winsim::GetRegistryString(key, "Text"), "oem3.inf");
    EXPECT_EQ(winsim::GetRegistryString(key, "Path"), "%SystemRoot%");
    EXPECT_EQ(winsim::GetRegistryString(key, "Start"), std::nullopt) << "not a string";
    EXPECT_EQ(winsim::GetRegistryValue(key, "Start"),
              (winsim::RegistryValue{REG_DWORD, std::string("\x04\x03\x02\x01", 4)}));
    EXPECT_EQ(winsim::GetRegistryDword(key, "Start"), 0x01020304u);
    EXPECT_EQ(winsim::GetRegistryDword(key, "Text"), std::nullopt) << "not a DWORD";
    EXPECT_EQ(winsim::GetRegistryValue(key, "")->data, std::string("\0\1", 2));
    EXPECT_EQ(winsim::GetRegistryValue(key, "Missing"), std::nullopt);
    EXPECT_EQ(winsim::GetRegistryValue("SOFTWARE\\Nowhere", "Text"), std::nullopt);

    // The calls see the same bytes.
    LONG result = 0;
    HKEY open = OpenKey(key.c_str(), KEY_READ, &result);
    ASSERT_EQ(result, ERROR_SUCCESS);
    DWORD type = 0;
    EXPECT_EQ(Query(open, "Raw", &type), "no terminator");
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    RegCloseKey(open);
}

TEST_F(WinsimRegistry, SettingAValueAgainReplacesItInPlace) {
    const std::string key = "SOFTWARE\\Vendor";
    ASSERT_TRUE(winsim::SetRegistryString(key, "First", "1"));
    ASSERT_TRUE(winsim::SetRegistryString(key, "Second", "2"));
    ASSERT_TRUE(winsim::SetRegistryDword(key, "FIRST", 1));
    EXPECT_EQ(winsim::RegistryValueNames(key), (std::vector<std::string>{"First", "Second"}));
    EXPECT_EQ(winsim::GetRegistryDword(key, "first"), 1u);
}

TEST_F(WinsimRegistry, SubKeysAreListedInEnumerationOrder) {
    for (const char* name : {"0010", "beta", "_x", "Alpha", "0002"}) {
        ASSERT_TRUE(winsim::CreateRegistryKey(std::string("SOFTWARE\\Vendor\\") + name));
    }
    const std::vector<std::string> expected = {"0002", "0010", "Alpha", "beta", "_x"};
    EXPECT_EQ(winsim::RegistrySubKeys("SOFTWARE\\Vendor"), expected);
    LONG result = 0;
    HKEY key = OpenKey("SOFTWARE\\Vendor", KEY_READ, &result);
    std::vector<std::string> enumerated;
    char name[64];
    DWORD length = sizeof name;
    for (DWORD i = 0;
         RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, length = sizeof name) {
        enumerated.emplace_back(name);
    }
    EXPECT_EQ(enumerated, expected);
    RegCloseKey(key);
}

TEST_F(WinsimRegistry, DeletingATreeTakesEverythingBelow) {
    ASSERT_TRUE(winsim::SetRegistryString("SOFTWARE\\Vendor\\Product\\Part", "Name", "x"));
    ASSERT_TRUE(winsim::CreateRegistryKey("SOFTWARE\\Vendor2"));
    EXPECT_TRUE(winsim::DeleteRegistryTree("software\\VENDOR"));
    EXPECT_FALSE(winsim::RegistryKeyExists("SOFTWARE\\Vendor\\Product\\Part"));
    EXPECT_FALSE(winsim::RegistryKeyExists("SOFTWARE\\Vendor"));
    EXPECT_TRUE(winsim::RegistryKeyExists("SOFTWARE\\Vendor2"));
    EXPECT_FALSE(winsim::DeleteRegistryTree("SOFTWARE\\Vendor")) << "already gone";
    EXPECT_FALSE(winsim::DeleteRegistryTree("")) << "HKEY_LOCAL_MACHINE stays";
}

// Handles to a deleted key stay open but find nothing there.
TEST_F(WinsimRegistry, AnOpenHandleToADeletedKeyReportsKeyDeleted) {
    ASSERT_TRUE(winsim::SetRegistryString("SOFTWARE\\Vendor\\Inner", "Name", "x"));
    LONG result = 0;
    HKEY outer = OpenKey("SOFTWARE\\Vendor", KEY_READ, &result);
    HKEY inner = OpenKey("SOFTWARE\\Vendor\\Inner", KEY_READ, &result);
    ASSERT_TRUE(winsim::DeleteRegistryTree("SOFTWARE\\Vendor"));
    for (HKEY key : {outer, inner}) {
        char name[64];
        DWORD length = sizeof name;
        EXPECT_EQ(RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
                  ERROR_KEY_DELETED);
        DWORD size = sizeof name;
        EXPECT_EQ(
            RegQueryValueExA(key, "Name", nullptr, nullptr, reinterpret_cast<BYTE*>(name), &size),
            ERROR_KEY_DELETED);
        HKEY sub = nullptr;
        EXPECT_EQ(RegOpenKeyExA(key, "Inner", 0, KEY_READ, &sub), ERROR_KEY_DELETED);
    }
    EXPECT_EQ(winsim::OpenHandleCount(), 2u);
    EXPECT_EQ(RegCloseKey(outer), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(inner), ERROR_SUCCESS);
    // A key made again under the old name is a new key.
    ASSERT_TRUE(winsim::CreateRegistryKey("SOFTWARE\\Vendor"));
    EXPECT_FALSE(winsim::GetRegistryValue("SOFTWARE\\Vendor\\Inner", "Name").has_value());
}

// ---------------------------------------------------------------------------
// Access denial

struct DenialCase {
    const char* what;
    REGSAM denied;
    REGSAM requested;
    bool opens;
};

const DenialCase kDenials[] = {
    {"writes denied, read", KEY_WRITE, KEY_READ, true},
    {"writes denied, all", KEY_WRITE, KEY_ALL_ACCESS, false},
    {"writes denied, set value", KEY_WRITE, KEY_SET_VALUE, false},
    {"writes denied, generic write", KEY_WRITE, GENERIC_WRITE, false},
    {"writes denied, generic read", KEY_WRITE, GENERIC_READ, true},
    {"reads denied, read", KEY_READ, KEY_READ, false},
    {"reads denied, query only", KEY_READ, KEY_QUERY_VALUE, false},
    {"reads denied, set value", KEY_READ, KEY_SET_VALUE, true},
    {"all denied, read", KEY_ALL_ACCESS, KEY_READ, false},
    {"all denied, 64-bit view read", KEY_ALL_ACCESS, KEY_READ | KEY_WOW64_64KEY, false},
    {"nothing denied, all", 0, KEY_ALL_ACCESS, true},
    {"generic read denied, read", GENERIC_READ, KEY_READ, false},
    {"delete denied, all", DELETE, KEY_ALL_ACCESS, false},
    {"delete denied, read", DELETE, KEY_READ, true},
};

class WinsimRegistryDenial : public WinsimTest, public ::testing::WithParamInterface<DenialCase> {};

TEST_P(WinsimRegistryDenial, RefusesTheDeniedRightsOnly) {
    const DenialCase& c = GetParam();
    ASSERT_TRUE(winsim::SetRegistryString("SOFTWARE\\Vendor", "Name", "x"));
    ASSERT_TRUE(winsim::DenyRegistryAccess("software\\vendor", c.denied));
    HKEY key = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(1));
    SetLastError(ERROR_SUCCESS);
    const LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", 0, c.requested, &key);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    if (c.opens) {
        EXPECT_EQ(result, ERROR_SUCCESS);
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    } else {
        EXPECT_EQ(result, ERROR_ACCESS_DENIED);
        EXPECT_EQ(key, nullptr);
    }
    // The denial is the key's own: its parent opens.
    LONG other = 0;
    RegCloseKey(OpenKey("SOFTWARE", c.requested & ~(KEY_WOW64_64KEY), &other));
    EXPECT_EQ(other, ERROR_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(Cases, WinsimRegistryDenial, ::testing::ValuesIn(kDenials),
                         [](const ::testing::TestParamInfo<DenialCase>& info) {
                             std::string name = info.param.what;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });

TEST_F(WinsimRegistry, MaximumAllowedOpensWithWhatIsLeft) {
    ASSERT_TRUE(winsim::SetRegistryString("SOFTWARE\\Vendor\\Inner", "Name", "x"));
    ASSERT_TRUE(winsim::DenyRegistryAccess("SOFTWARE\\Vendor\\Inner", KEY_QUERY_VALUE));
    LONG result = 0;
    HKEY key = OpenKey("SOFTWARE\\Vendor\\Inner", 0x02000000 /* MAXIMUM_ALLOWED */, &result);
    ASSERT_EQ(result, ERROR_SUCCESS);
    DWORD type = 0;
    EXPECT_EQ(Query(key, "Name", &type), "<none>");
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
    RegCloseKey(key);
}

TEST_F(WinsimRegistry, DenialCanBeLiftedAndNeedsAnExistingKey) {
    ASSERT_TRUE(winsim::CreateRegistryKey("SOFTWARE\\Vendor"));
    ASSERT_TRUE(winsim::DenyRegistryAccess("SOFTWARE\\Vendor", KEY_ALL_ACCESS));
    LONG result = 0;
    OpenKey("SOFTWARE\\Vendor", KEY_READ, &result);
    EXPECT_EQ(result, ERROR_ACCESS_DENIED);
    ASSERT_TRUE(winsim::DenyRegistryAccess("SOFTWARE\\Vendor", 0));
    RegCloseKey(OpenKey("SOFTWARE\\Vendor", KEY_ALL_ACCESS, &result));
    EXPECT_EQ(result, ERROR_SUCCESS);
    EXPECT_FALSE(winsim::DenyRegistryAccess("SOFTWARE\\Missing", KEY_READ));
}

// RegDeleteKeyA opens the key for DELETE: a denial of that right on the
// key itself refuses it, a denial on its parent does not.
TEST_F(WinsimRegistry, DeletingNeedsDeleteAccessToTheKeyItself) {
    const struct {
        const char* what;
        const char* denied_on;
        REGSAM denied;
        LONG result;
    } cases[] = {
        {"delete on the key", "SOFTWARE\\Vendor\\Leaf", DELETE, ERROR_ACCESS_DENIED},
        {"everything on the key", "SOFTWARE\\Vendor\\Leaf", KEY_ALL_ACCESS, ERROR_ACCESS_DENIED},
        {"writes on the key", "SOFTWARE\\Vendor\\Leaf", KEY_WRITE, ERROR_SUCCESS},
        {"everything on the parent", "SOFTWARE\\Vendor", KEY_ALL_ACCESS, ERROR_SUCCESS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(winsim::CreateRegistryKey("SOFTWARE\\Vendor\\Leaf"));
        ASSERT_TRUE(winsim::DenyRegistryAccess(c.denied_on, c.denied));
        EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Leaf"), c.result);
        EXPECT_EQ(winsim::RegistryKeyExists("SOFTWARE\\Vendor\\Leaf"), c.result != ERROR_SUCCESS);
        ASSERT_TRUE(winsim::DeleteRegistryTree("SOFTWARE\\Vendor"));
    }
}

// ---------------------------------------------------------------------------
// Deep and wide trees

std::vector<std::string> EnumerateAll(HKEY key) {
    std::vector<std::string> names;
    char name[256];
    DWORD length = sizeof name;
    for (DWORD i = 0;
         RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, length = sizeof name) {
        names.emplace_back(name);
    }
    return names;
}

// As deep as Windows lets a registry tree go: 512 levels, counting
// HKEY_LOCAL_MACHINE and SOFTWARE.
TEST_F(WinsimRegistry, ATreeFiveHundredTwelveLevelsDeepIsDeletedBottomUp) {
    std::vector<std::string> paths;
    std::string path = "SOFTWARE";
    for (int level = 0; level < 510; ++level) {
        path += "\\L" + std::to_string(level);
        paths.push_back(path);
    }
    ASSERT_TRUE(winsim::CreateRegistryKey(path));
    LONG result = 0;
    HKEY middle = OpenKey(paths[255].c_str(), KEY_READ, &result);
    ASSERT_EQ(result, ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, paths[255].c_str()), ERROR_ACCESS_DENIED);
    for (auto it = paths.rbegin(); it != paths.rend(); ++it) {
        ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, it->c_str()), ERROR_SUCCESS) << *it;
    }
    EXPECT_FALSE(winsim::RegistryKeyExists("SOFTWARE\\L0"));
    char name[16];
    DWORD length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(middle, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
    RegCloseKey(middle);
}

// Ten thousand sub-keys, taken the way an uninstaller does: always the
// first, passing over the ones that cannot go yet.
TEST_F(WinsimRegistry, TenThousandSubKeysAreEnumeratedAndDeletedInOrder) {
    constexpr int kCount = 10000;
    std::vector<std::string> sorted;
    for (int i = 0; i < kCount; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "K%05d", (i * 7919) % kCount);  // created out of order
        ASSERT_TRUE(winsim::CreateRegistryKey(std::string("SOFTWARE\\Wide\\") + name));
    }
    for (int i = 0; i < kCount; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "K%05d", i);
        sorted.emplace_back(name);
        // Every thousandth key has a sub-key of its own and stays.
        if (i % 1000 == 999) {
            ASSERT_TRUE(
                winsim::CreateRegistryKey(std::string("SOFTWARE\\Wide\\") + name + "\\Inner"));
        }
    }
    LONG result = 0;
    HKEY wide = OpenKey("SOFTWARE\\Wide", KEY_ALL_ACCESS, &result);
    ASSERT_EQ(result, ERROR_SUCCESS);
    EXPECT_EQ(EnumerateAll(wide), sorted);
    // Backwards, and jumping about.
    char name[16];
    DWORD length = sizeof name;
    for (DWORD i = kCount; i-- > 0;) {
        length = sizeof name;
        ASSERT_EQ(RegEnumKeyExA(wide, i, name, &length, nullptr, nullptr, nullptr, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(name, sorted[i]);
    }
    for (DWORD i : {5000u, 3u, 9998u, 4999u, 0u, 9999u}) {
        length = sizeof name;
        ASSERT_EQ(RegEnumKeyExA(wide, i, name, &length, nullptr, nullptr, nullptr, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(name, sorted[i]);
    }

    std::vector<std::string> stayed;
    DWORD index = 0;
    for (;;) {
        length = sizeof name;
        result = RegEnumKeyExA(wide, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS) break;
        if (RegDeleteKeyA(wide, name) != ERROR_SUCCESS) {
            stayed.emplace_back(name);
            ++index;
        }
    }
    EXPECT_EQ(result, ERROR_NO_MORE_ITEMS);
    std::vector<std::string> expected;
    for (int i = 999; i < kCount; i += 1000) expected.push_back(sorted[static_cast<size_t>(i)]);
    EXPECT_EQ(stayed, expected);
    EXPECT_EQ(winsim::RegistrySubKeys("SOFTWARE\\Wide"), expected);
    RegCloseKey(wide);
}

TEST_F(WinsimRegistry, EnumerationFollowsKeysAddedAndDeletedMeanwhile) {
    for (const char* name : {"A", "C", "E", "G"}) {
        ASSERT_TRUE(winsim::CreateRegistryKey(std::string("SOFTWARE\\Vendor\\") + name));
    }
    LONG result = 0;
    HKEY key = OpenKey("SOFTWARE\\Vendor", KEY_ALL_ACCESS, &result);
    auto at = [&](DWORD index) {
        char name[16];
        DWORD length = sizeof name;
        const LONG r = RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        return r == ERROR_SUCCESS ? std::string(name) : "<" + std::to_string(r) + ">";
    };
    EXPECT_EQ(at(2), "E");
    ASSERT_TRUE(winsim::CreateRegistryKey("SOFTWARE\\Vendor\\B"));
    EXPECT_EQ(at(2), "C");
    EXPECT_EQ(at(3), "E");
    ASSERT_EQ(RegDeleteKeyA(key, "A"), ERROR_SUCCESS);
    EXPECT_EQ(at(3), "G");
    EXPECT_EQ(at(2), "E");
    ASSERT_TRUE(winsim::DeleteRegistryTree("SOFTWARE\\Vendor\\G"));
    EXPECT_EQ(at(3), "<259>");
    EXPECT_EQ(at(0), "B");
    RegCloseKey(key);
}

// ---------------------------------------------------------------------------
// Registry handles

TEST_F(WinsimRegistry, RegistryAndFileHandlesAreNotInterchangeable) {
    LONG result = 0;
    HKEY key = OpenKey("SOFTWARE", KEY_READ, &result);
    ASSERT_EQ(result, ERROR_SUCCESS);
    HANDLE file = CreateFileA("C:\\a.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(key)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(file)), ERROR_INVALID_HANDLE);
    char name[16];
    DWORD length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(reinterpret_cast<HKEY>(file), 0, name, &length, nullptr, nullptr,
                            nullptr, nullptr),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(winsim::OpenHandleCount(), 2u);
    RegCloseKey(key);
    CloseHandle(file);
}

TEST_F(WinsimRegistry, OpeningCountsAHandleButHklmItselfDoesNot) {
    LONG result = 0;
    HKEY hklm = OpenKey("", KEY_READ, &result);
    EXPECT_EQ(hklm, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
    HKEY key = OpenKey("SOFTWARE", KEY_READ, &result);
    EXPECT_EQ(winsim::OpenHandleCount(), 1u);
    HKEY again = nullptr;
    EXPECT_EQ(RegOpenKeyExA(key, "", 0, KEY_READ, &again), ERROR_SUCCESS);
    EXPECT_NE(again, key) << "an empty sub key on an open key is a new handle";
    EXPECT_EQ(winsim::OpenHandleCount(), 2u);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(winsim::OpenHandleCount(), 2u);
    RegCloseKey(again);
    RegCloseKey(key);
}

void LeakAKeyUnderTheFixture() {
    struct Probe : WinsimTest {
        void TestBody() override {}
        using WinsimTest::SetUp;
        using WinsimTest::TearDown;
    } probe;
    probe.SetUp();
    HKEY key = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key);
    probe.TearDown();
}

TEST(WinsimRegistryLeakCheck, TheFixtureReportsALeakedKey) {
    EXPECT_NONFATAL_FAILURE(LeakAKeyUnderTheFixture(), "a handle was left open");
    winsim::Reset();
}

}  // namespace
