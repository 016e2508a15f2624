// Removing registry keys as the uninstaller does: RegOpenKeyExA with
// KEY_ALL_ACCESS, then RegDeleteKeyA of each key from the bottom up. The
// keys are made under SOFTWARE\WinsimConformanceDelete.

#include "registry_fixture.h"

#include <string>
#include <vector>

namespace {

constexpr char kBase[] = "SOFTWARE\\WinsimConformanceDelete";

class RegistryDeleteTest : public RegistryPlatformTest {
protected:
    RegistryDeleteTest() : RegistryPlatformTest(kBase) {}
};

// ---------------------------------------------------------------------------
// RegOpenKeyExA with every right

TEST_F(RegistryDeleteTest, AllAccessOpensAKeyThatCanBeEnumeratedQueriedAndEmptied) {
    ASSERT_NO_FATAL_FAILURE(MakeKey("Video\\{GUID}"));
    HKEY key = nullptr;
    SetLastError(kPoison);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, Below("Video").c_str(), 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    open_.push_back(key);
    EXPECT_EQ(GetLastError(), kPoison);
    char name[64];
    DWORD length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "{GUID}");
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "None", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(key, name), ERROR_SUCCESS);
    length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
}

// ---------------------------------------------------------------------------
// RegDeleteKeyA

TEST_F(RegistryDeleteTest, DeletesAKeyWithoutSubKeysWhateverTheLetterCase) {
    ASSERT_NO_FATAL_FAILURE(MakeKey("Leaf"));
    HKEY base = Open(kBase, KEY_ALL_ACCESS);
    SetLastError(kPoison);
    EXPECT_EQ(RegDeleteKeyA(base, "LEAF"), ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), kPoison) << "registry calls report through their result";
    EXPECT_EQ(Opens(Below("Leaf")), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryDeleteTest, AKeyWithSubKeysIsAccessDeniedAndStaysWhole) {
    ASSERT_NO_FATAL_FAILURE(MakeKey("Outer\\Inner"));
    HKEY base = Open(kBase, KEY_ALL_ACCESS);
    SetLastError(kPoison);
    EXPECT_EQ(RegDeleteKeyA(base, "Outer"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(GetLastError(), kPoison);
    EXPECT_EQ(Opens(Below("Outer\\Inner")), ERROR_SUCCESS);
}

TEST_F(RegistryDeleteTest, APathDeletesTheLastKeyOnItSoATreeGoesBottomUp) {
    ASSERT_NO_FATAL_FAILURE(MakeKey("Outer\\Inner"));
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, Below("Outer\\Inner").c_str()), ERROR_SUCCESS);
    EXPECT_EQ(Opens(Below("Outer")), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, Below("Outer").c_str()), ERROR_SUCCESS);
    EXPECT_EQ(Opens(Below("Outer")), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryDeleteTest, AMissingKeyIsFileNotFound) {
    ASSERT_NO_FATAL_FAILURE(MakeKey("Leaf"));
    HKEY base = Open(kBase, KEY_ALL_ACCESS);
    for (const char* sub : {"Missing", "Missing\\Deeper", "Leaf\\Missing"}) {
        SCOPED_TRACE(sub);
        EXPECT_EQ(RegDeleteKeyA(base, sub), ERROR_FILE_NOT_FOUND);
    }
}

// The key is opened anew for deletion: the handle it is named from needs
// no rights of its own.
TEST_F(RegistryDeleteTest, TheRightsOfTheHandleUsedDoNotMatter) {
    ASSERT_NO_FATAL_FAILURE(MakeKey("Leaf"));
    HKEY query_only = Open(kBase, KEY_QUERY_VALUE);
    EXPECT_EQ(RegDeleteKeyA(query_only, "Leaf"), ERROR_SUCCESS);
    EXPECT_EQ(Opens(Below("Leaf")), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryDeleteTest, HandlesToADeletedKeyReportKeyDeletedAndStillClose) {
    ASSERT_NO_FATAL_FAILURE(MakeKey("Leaf"));
    HKEY leaf = Open(Below("Leaf"), KEY_READ);
    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, Below("Leaf").c_str()), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(leaf, "Value", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    char name[64];
    DWORD length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(leaf, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
    Forget(leaf);
    EXPECT_EQ(RegCloseKey(leaf), ERROR_SUCCESS);
}

TEST_F(RegistryDeleteTest, AnEmptySubKeyDeletesTheHandlesOwnKey) {
    ASSERT_NO_FATAL_FAILURE(MakeKey("Leaf"));
    HKEY leaf = Open(Below("Leaf"), KEY_READ);
    EXPECT_EQ(RegDeleteKeyA(leaf, ""), ERROR_SUCCESS);
    EXPECT_EQ(Opens(Below("Leaf")), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryDeleteTest, HklmItselfCannotBeDeleted) {
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryDeleteTest, MalformedRequestsAreRefused) {
    ASSERT_NO_FATAL_FAILURE(MakeKey("Leaf"));
    HKEY base = Open(kBase, KEY_ALL_ACCESS);
    HKEY closed = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kBase, 0, KEY_READ, &closed), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
    const struct {
        const char* what;
        HKEY key;
        const char* sub;
        LONG result;
    } cases[] = {
        {"no sub key", base, nullptr, ERROR_INVALID_PARAMETER},
        {"leading separator", base, "\\Leaf", ERROR_BAD_PATHNAME},
        {"closed handle", closed, "Leaf", ERROR_INVALID_HANDLE},
        {"null handle", nullptr, "Leaf", ERROR_INVALID_HANDLE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(RegDeleteKeyA(c.key, c.sub), c.result);
    }
    EXPECT_EQ(Opens(Below("Leaf")), ERROR_SUCCESS);
}

}  // namespace
