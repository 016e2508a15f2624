// Registry reads under HKEY_LOCAL_MACHINE: opening keys, enumerating
// sub-keys, querying values and closing, with the buffer contracts of the
// ANSI calls. The keys are made under SOFTWARE\WinsimConformance.

#include "registry_fixture.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kBase[] = "SOFTWARE\\WinsimConformance";

class RegistryTest : public RegistryPlatformTest {
protected:
    RegistryTest() : RegistryPlatformTest(kBase) {}
};

// ---------------------------------------------------------------------------
// RegOpenKeyExA

TEST_F(RegistryTest, OpensAKeyWhateverTheLetterCase) {
    MakeKey("Alpha\\Inner");
    const std::string paths[] = {Below("Alpha\\Inner"),
                                 "software\\winsimconformance\\ALPHA\\inner"};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        HKEY key = nullptr;
        SetLastError(kPoison);
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key),
                  ERROR_SUCCESS);
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(GetLastError(), kPoison) << "registry calls report through their result";
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    }
}

TEST_F(RegistryTest, OpensRelativeToAnOpenKey) {
    MakeKey("Alpha\\Inner");
    HKEY base = Open(kBase);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(base, "alpha\\INNER", 0, KEY_READ, &key), ERROR_SUCCESS);
    ASSERT_NE(key, nullptr);
    EXPECT_NE(key, base);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, MissingKeyIsFileNotFoundAndTheHandleIsNull) {
    MakeKey("Alpha");
    const std::string paths[] = {Below("Missing"),
                                 Below("Missing\\Deeper"),
                                 std::string(kBase) + "/Alpha"};  // '/' is part of a name
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        HKEY key = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));
        SetLastError(kPoison);
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key),
                  ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(key, nullptr);
        EXPECT_EQ(GetLastError(), kPoison);
    }
}

TEST_F(RegistryTest, SeparatorsInsideAndAtTheEndAreSkippedButNotAtTheStart) {
    MakeKey("Alpha");
    const std::string doubled = std::string(kBase) + "\\\\Alpha";
    const std::string trailing = std::string(kBase) + "\\Alpha\\";
    for (const std::string& path : {doubled, trailing}) {
        SCOPED_TRACE(path);
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key),
                  ERROR_SUCCESS);
        if (key) RegCloseKey(key);
    }
    HKEY key = nullptr;
    const std::string leading = std::string("\\") + kBase;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, leading.c_str(), 0, KEY_READ, &key),
              ERROR_BAD_PATHNAME);
    EXPECT_EQ(key, nullptr);
}

TEST_F(RegistryTest, NoSubKeyOnHklmGivesHklmItself) {
    for (const char* sub : {"", static_cast<const char*>(nullptr)}) {
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, sub, 0, KEY_READ, &key), ERROR_SUCCESS);
        EXPECT_EQ(key, HKEY_LOCAL_MACHINE);
    }
}

// ---------------------------------------------------------------------------
// RegEnumKeyExA

std::vector<std::string> EnumerateAll(HKEY key) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD length = sizeof name;
        const LONG result =
            RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS) {
            EXPECT_EQ(result, ERROR_NO_MORE_ITEMS);
            EXPECT_EQ(length, sizeof name) << "the count is left alone at the end";
            break;
        }
        EXPECT_EQ(length, std::strlen(name)) << "the count is the name's length";
        names.emplace_back(name);
    }
    return names;
}

TEST_F(RegistryTest, EnumeratesSubKeysSortedWithoutRegardToCaseAsCreated) {
    for (const char* name :
         {"beta", "Delta1", "Alpha", "GAMMA", "delta0", "0000", "0010", "0002"}) {
        MakeKey(name);
    }
    HKEY base = Open(kBase);
    SetLastError(kPoison);
    const std::vector<std::string> expected = {"0000", "0002",   "0010",   "Alpha",
                                               "beta", "delta0", "Delta1", "GAMMA"};
    EXPECT_EQ(EnumerateAll(base), expected);
    EXPECT_EQ(GetLastError(), kPoison);
}

// Windows orders key names by their upper-case form, so '_' (0x5F) comes
// after the letters; Wine orders by the lower-case form.
TEST_F(RegistryTest, EnumerationOrdersByUpperCase) {
    for (const char* name : {"_under", "Zed", "apple"}) MakeKey(name);
    HKEY base = Open(kBase);
    if (RunningUnderWine()) {
        NoteWineDifference("registry sub-keys are sorted by their lower-case names");
        EXPECT_EQ(EnumerateAll(base), (std::vector<std::string>{"_under", "apple", "Zed"}));
    } else {
        EXPECT_EQ(EnumerateAll(base), (std::vector<std::string>{"apple", "Zed", "_under"}));
    }
}

TEST_F(RegistryTest, NameThatDoesNotFitIsMoreDataWithBufferAndCountLeftAlone) {
    MakeKey("Display");  // 7 characters
    HKEY base = Open(kBase);
    for (DWORD size : {0u, 1u, 6u, 7u}) {
        SCOPED_TRACE(size);
        char name[16];
        std::memset(name, '#', sizeof name);
        DWORD length = size;
        EXPECT_EQ(RegEnumKeyExA(base, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
                  ERROR_MORE_DATA);
        EXPECT_EQ(length, size);
        EXPECT_EQ(std::string(name, sizeof name), std::string(sizeof name, '#'));
    }
    char name[16];
    std::memset(name, '#', sizeof name);
    DWORD length = 8;  // the name and its terminator
    EXPECT_EQ(RegEnumKeyExA(base, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(length, 7u);
    EXPECT_EQ(std::string(name, 9), std::string("Display\0#", 9));
}

TEST_F(RegistryTest, IndexPastTheEndIsNoMoreItems) {
    MakeKey("Only");
    HKEY base = Open(kBase);
    for (DWORD index : {1u, 2u, 1000u}) {
        char name[32];
        DWORD length = sizeof name;
        EXPECT_EQ(RegEnumKeyExA(base, index, name, &length, nullptr, nullptr, nullptr, nullptr),
                  ERROR_NO_MORE_ITEMS);
    }
}

TEST_F(RegistryTest, EnumeratingAndQueryingNeedTheirRights) {
    MakeKey("Alpha\\Inner");
    SetValue("Alpha", "Value", REG_DWORD, std::string("\1\0\0\0", 4));
    HKEY query_only = Open(Below("Alpha"), KEY_QUERY_VALUE);
    HKEY enumerate_only = Open(Below("Alpha"), KEY_ENUMERATE_SUB_KEYS);
    char name[32];
    DWORD length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(query_only, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_ACCESS_DENIED);
    DWORD size = sizeof name;
    EXPECT_EQ(RegQueryValueExA(enumerate_only, "Value", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(name), &size),
              ERROR_ACCESS_DENIED);
    length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(enumerate_only, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    size = sizeof name;
    EXPECT_EQ(RegQueryValueExA(query_only, "Value", nullptr, nullptr, reinterpret_cast<BYTE*>(name),
                               &size),
              ERROR_SUCCESS);
}

// ---------------------------------------------------------------------------
// RegQueryValueExA

struct StoredValue {
    const char* name;
    DWORD type;
    std::string data;
};

const StoredValue kValues[] = {
    {"Text", REG_SZ, std::string("oem3.inf\0", 9)},
    {"Number", REG_DWORD, std::string("\x78\x56\x34\x12", 4)},
    {"List", REG_MULTI_SZ, std::string("a\0bc\0\0", 6)},
    {"BrokenList", REG_MULTI_SZ, std::string("a\0bc", 4)},
    {"Bytes", REG_BINARY, std::string("\x01\x00\x02", 3)},
    {"Path", REG_EXPAND_SZ, std::string("%SystemRoot%\\x.sys\0", 19)},
};

class QueryTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        if (HasFatalFailure()) return;
        for (const StoredValue& v : kValues) {
            ASSERT_NO_FATAL_FAILURE(SetValue("Values", v.name, v.type, v.data));
        }
        key_ = Open(Below("Values"));
    }
    HKEY key_ = nullptr;
};

TEST_F(QueryTest, ReturnsTypeAndExactBytes) {
    for (const StoredValue& v : kValues) {
        SCOPED_TRACE(v.name);
        BYTE buffer[64];
        std::memset(buffer, '#', sizeof buffer);
        DWORD type = 0xdead;
        DWORD size = sizeof buffer;
        SetLastError(kPoison);
        EXPECT_EQ(RegQueryValueExA(key_, v.name, nullptr, &type, buffer, &size), ERROR_SUCCESS);
        EXPECT_EQ(type, v.type);
        EXPECT_EQ(size, v.data.size());
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), v.data);
        EXPECT_EQ(GetLastError(), kPoison);
    }
}

TEST_F(QueryTest, NamesIgnoreLetterCase) {
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key_, "TEXT", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 9u);
}

TEST_F(QueryTest, NoBufferGivesTheSize) {
    for (const StoredValue& v : kValues) {
        SCOPED_TRACE(v.name);
        DWORD type = 0xdead;
        DWORD size = 0xdead;
        EXPECT_EQ(RegQueryValueExA(key_, v.name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
        EXPECT_EQ(size, v.data.size());
        EXPECT_EQ(type, v.type);
    }
}

TEST_F(QueryTest, BufferTooSmallIsMoreDataWithTheSizeAndBufferUntouched) {
    for (const StoredValue& v : kValues) {
        for (DWORD given : {DWORD{0}, DWORD{1}, static_cast<DWORD>(v.data.size() - 1)}) {
            SCOPED_TRACE(testing::Message() << v.name << " into " << given);
            BYTE buffer[64];
            std::memset(buffer, '#', sizeof buffer);
            DWORD size = given;
            SetLastError(kPoison);
            EXPECT_EQ(RegQueryValueExA(key_, v.name, nullptr, nullptr, buffer, &size),
                      ERROR_MORE_DATA);
            EXPECT_EQ(size, v.data.size());
            EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), sizeof buffer),
                      std::string(sizeof buffer, '#'));
            EXPECT_EQ(GetLastError(), kPoison);
        }
    }
}

TEST_F(QueryTest, MissingValueIsFileNotFound) {
    for (const char* name : {"Missing", "", "Text "}) {
        SCOPED_TRACE(name);
        BYTE buffer[16];
        DWORD size = sizeof buffer;
        EXPECT_EQ(RegQueryValueExA(key_, name, nullptr, nullptr, buffer, &size),
                  ERROR_FILE_NOT_FOUND);
    }
}

// A string stored without its terminator comes back with its stored size.
// The program must terminate it itself: winsim writes nothing past the data;
// the ANSI call of Windows NT (and Wine) adds a terminator where the buffer
// has room, which no caller may count on.
TEST_F(QueryTest, UnterminatedStringComesBackAsStored) {
    ASSERT_NO_FATAL_FAILURE(SetValue("Values", "Raw", REG_SZ, "oem12"));
    for (DWORD given : {5u, 6u, 16u}) {
        SCOPED_TRACE(given);
        BYTE buffer[16];
        std::memset(buffer, '#', sizeof buffer);
        DWORD size = given;
        EXPECT_EQ(RegQueryValueExA(key_, "Raw", nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
        EXPECT_EQ(size, 5u);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), "oem12");
        if (given > 5) {
#ifdef _WIN32
            EXPECT_EQ(buffer[5], 0);
#else
            EXPECT_EQ(buffer[5], '#');
#endif
        }
        EXPECT_EQ(buffer[6], '#');
    }
}

// ---------------------------------------------------------------------------
// RegCloseKey

TEST_F(RegistryTest, ClosingHklmDoesNothingAndSucceeds) {
    SetLastError(kPoison);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key), ERROR_SUCCESS);
    if (key) RegCloseKey(key);
    EXPECT_EQ(GetLastError(), kPoison);
}

TEST_F(RegistryTest, ClosingAClosedOrNullKeyIsInvalidHandle) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    SetLastError(kPoison);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetLastError(), kPoison);
    char name[64];
    DWORD length = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE);
}

}  // namespace
