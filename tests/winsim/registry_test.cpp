// The registry helpers: keys and values stored as given, whole trees deleted
// under open handles, and access denial as RegOpenKeyExA and RegDeleteKeyA
// meet it.
#include "winsim_test.h"

#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

HKEY Open(const std::string& path, REGSAM access = KEY_READ) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &key), ERROR_SUCCESS) << path;
    return key;
}

LONG Enum(HKEY key, DWORD index, std::string* name) {
    char buffer[256];
    DWORD length = sizeof buffer;
    const LONG result = RegEnumKeyExA(key, index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_SUCCESS) *name = std::string(buffer, length);
    return result;
}

using WinsimRegistry = WinsimTest;

TEST_F(WinsimRegistry, KeysAreMadeWithTheirParentsAndListedInEnumerationOrder) {
    ASSERT_TRUE(winsim::CreateRegistryKey("SOFTWARE\\Orvenik\\Tallomer"));
    EXPECT_TRUE(winsim::RegistryKeyExists("software\\ORVENIK"));
    EXPECT_TRUE(winsim::CreateRegistryKey("software\\orvenik")) << "an existing key is fine";
    EXPECT_TRUE(winsim::CreateRegistryKey("SOFTWARE\\\\Doubled\\")) << "empty parts are skipped";
    EXPECT_TRUE(winsim::RegistryKeyExists("SOFTWARE\\Doubled"));
    EXPECT_FALSE(winsim::CreateRegistryKey("SOFTWARE\\" + std::string(256, 'k')));
    EXPECT_FALSE(winsim::RegistryKeyExists("SOFTWARE\\Missing"));
    for (const char* name : {"0010", "beta", "_x", "Alpha", "0002"}) {
        ASSERT_TRUE(winsim::CreateRegistryKey(std::string("SOFTWARE\\Orvenik\\") + name));
    }
    const Names expected = {"0002", "0010", "Alpha", "beta", "Tallomer", "_x"};
    EXPECT_EQ(winsim::RegistrySubKeys("SOFTWARE\\Orvenik"), expected);
    HKEY key = Open("SOFTWARE\\Orvenik");
    Names enumerated;
    std::string name;
    for (DWORD i = 0; Enum(key, i, &name) == ERROR_SUCCESS; ++i) enumerated.push_back(name);
    EXPECT_EQ(enumerated, expected) << "the calls list them the same way";
    RegCloseKey(key);
}

TEST_F(WinsimRegistry, ValuesAreStoredAsGivenAndReplacedInPlace) {
    const std::string key = "SOFTWARE\\Vendor";
    ASSERT_TRUE(winsim::SetRegistryValue(key, "Raw", REG_SZ, "no terminator"));
    ASSERT_TRUE(winsim::SetRegistryString(key, "Path", "%SystemRoot%", REG_EXPAND_SZ));
    ASSERT_TRUE(winsim::SetRegistryDword(key, "Start", 0x01020304));
    EXPECT_EQ(winsim::GetRegistryValue(key, "raw"), (winsim::RegistryValue{REG_SZ, "no terminator"}));
    EXPECT_EQ(winsim::GetRegistryValue(key, "PATH"),
              (winsim::RegistryValue{REG_EXPAND_SZ, std::string("%SystemRoot%\0", 13)}));
    EXPECT_EQ(winsim::GetRegistryString(key, "Path"), "%SystemRoot%");
    EXPECT_EQ(winsim::GetRegistryValue(key, "Start"),
              (winsim::RegistryValue{REG_DWORD, std::string("\x04\x03\x02\x01", 4)}));
    EXPECT_EQ(winsim::GetRegistryDword(key, "Start"), 0x01020304u);
    EXPECT_EQ(winsim::GetRegistryString(key, "Start"), std::nullopt) << "not a string";
    EXPECT_EQ(winsim::GetRegistryDword(key, "Path"), std::nullopt) << "not a DWORD";
    EXPECT_EQ(winsim::GetRegistryValue(key, "Missing"), std::nullopt);
    ASSERT_TRUE(winsim::SetRegistryDword(key, "RAW", 1));
    EXPECT_EQ(winsim::RegistryValueNames(key), (Names{"Raw", "Path", "Start"}));
    EXPECT_EQ(winsim::GetRegistryDword(key, "raw"), 1u);
}

// Handles to a deleted key stay open but find nothing there; a key made
// again under the old name is a new key.
TEST_F(WinsimRegistry, DeletingATreeTakesEverythingBelowEvenUnderOpenHandles) {
    ASSERT_TRUE(winsim::SetRegistryString("SOFTWARE\\Vendor\\Inner", "Name", "x"));
    ASSERT_TRUE(winsim::CreateRegistryKey("SOFTWARE\\Vendor2"));
    HKEY outer = Open("SOFTWARE\\Vendor");
    HKEY inner = Open("SOFTWARE\\Vendor\\Inner");
    EXPECT_TRUE(winsim::DeleteRegistryTree("software\\VENDOR"));
    EXPECT_FALSE(winsim::RegistryKeyExists("SOFTWARE\\Vendor"));
    EXPECT_TRUE(winsim::RegistryKeyExists("SOFTWARE\\Vendor2"));
    EXPECT_FALSE(winsim::DeleteRegistryTree("SOFTWARE\\Vendor")) << "already gone";
    EXPECT_FALSE(winsim::DeleteRegistryTree("")) << "HKEY_LOCAL_MACHINE stays";
    for (HKEY key : {outer, inner}) {
        std::string name;
        EXPECT_EQ(Enum(key, 0, &name), ERROR_KEY_DELETED);
        BYTE data[16];
        DWORD size = sizeof data;
        EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, nullptr, data, &size), ERROR_KEY_DELETED);
    }
    ASSERT_TRUE(winsim::CreateRegistryKey("SOFTWARE\\Vendor\\Inner"));
    EXPECT_FALSE(winsim::GetRegistryValue("SOFTWARE\\Vendor\\Inner", "Name").has_value());
    std::string name;
    EXPECT_EQ(Enum(outer, 0, &name), ERROR_KEY_DELETED) << "the handle holds the old key";
    EXPECT_EQ(RegCloseKey(outer), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(inner), ERROR_SUCCESS);
}

// ---------------------------------------------------------------------------
// Access denial as the program meets it: READ_CONTROL, part of every KEY_*
// mask, does not count; the denial is the key's own; deleting a key needs
// DELETE on it.

struct DenialCase {
    const char* what;
    const char* denied_on;
    REGSAM denied;
    REGSAM requested;  // 0: RegDeleteKeyA of the leaf
    bool allowed;
};

constexpr char kLeaf[] = "SOFTWARE\\Vendor\\Leaf";

const DenialCase kDenials[] = {
    {"writes denied, read", kLeaf, KEY_WRITE, KEY_READ, true},
    {"writes denied, all", kLeaf, KEY_WRITE, KEY_ALL_ACCESS, false},
    {"reads denied, read", kLeaf, KEY_READ, KEY_READ, false},
    {"reads denied, query only", kLeaf, KEY_READ, KEY_QUERY_VALUE, false},
    {"reads denied, set value", kLeaf, KEY_READ, KEY_SET_VALUE, true},
    {"all denied on the parent, read", "SOFTWARE\\Vendor", KEY_ALL_ACCESS, KEY_READ, true},
    {"delete denied, read", kLeaf, DELETE, KEY_READ, true},
    {"delete denied, deleting", kLeaf, DELETE, 0, false},
    {"all denied, deleting", kLeaf, KEY_ALL_ACCESS, 0, false},
    {"writes denied, deleting", kLeaf, KEY_WRITE, 0, true},
    {"all denied on the parent, deleting", "SOFTWARE\\Vendor", KEY_ALL_ACCESS, 0, true},
};

TEST_F(WinsimRegistry, DenialRefusesTheDeniedRightsOnly) {
    for (const DenialCase& c : kDenials) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(winsim::CreateRegistryKey(kLeaf));
        ASSERT_TRUE(winsim::DenyRegistryAccess(c.denied_on, c.denied));
        SetLastError(ERROR_SUCCESS);
        if (c.requested == 0) {
            EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kLeaf), c.allowed ? ERROR_SUCCESS : ERROR_ACCESS_DENIED);
            EXPECT_EQ(winsim::RegistryKeyExists(kLeaf), !c.allowed);
        } else {
            HKEY key = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(1));
            const LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kLeaf, 0, c.requested, &key);
            EXPECT_EQ(result, c.allowed ? ERROR_SUCCESS : ERROR_ACCESS_DENIED);
            if (result == ERROR_SUCCESS) {
                RegCloseKey(key);
            } else {
                EXPECT_EQ(key, nullptr);
            }
        }
        EXPECT_EQ(GetLastError(), 0u) << "registry calls leave the last-error value alone";
        ASSERT_TRUE(winsim::DeleteRegistryTree("SOFTWARE\\Vendor"));
    }
}

TEST_F(WinsimRegistry, ADenialReplacesTheLastAndNeedsAnExistingKey) {
    ASSERT_TRUE(winsim::CreateRegistryKey(kLeaf));
    ASSERT_TRUE(winsim::DenyRegistryAccess(kLeaf, KEY_ALL_ACCESS));
    ASSERT_TRUE(winsim::DenyRegistryAccess(kLeaf, KEY_SET_VALUE));
    RegCloseKey(Open(kLeaf, KEY_READ));
    ASSERT_TRUE(winsim::DenyRegistryAccess(kLeaf, 0));
    RegCloseKey(Open(kLeaf, KEY_ALL_ACCESS));
    EXPECT_FALSE(winsim::DenyRegistryAccess("SOFTWARE\\Missing", KEY_READ));
}

}  // namespace
