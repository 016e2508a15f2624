// LocalAlloc/LocalFree, lstrlenA and lstrcmpiA.

#include "conformance.h"

#include <string>

namespace {

using LocalMemoryTest = PlatformTest;
using StringTest = PlatformTest;

TEST_F(LocalMemoryTest, ZeroInitBlockIsZeroFilled) {
    const SIZE_T sizes[] = {1, 40, 4096};
    for (SIZE_T size : sizes) {
        SCOPED_TRACE(size);
        SetLastError(kPoison);
        HLOCAL block = LocalAlloc(LMEM_ZEROINIT, size);
        ASSERT_NE(block, nullptr) << "error " << GetLastError();
        const unsigned char* bytes = static_cast<const unsigned char*>(block);
        SIZE_T nonzero = 0;
        for (SIZE_T i = 0; i < size; ++i) nonzero += bytes[i] != 0;
        EXPECT_EQ(nonzero, 0u);
        SetLastError(kPoison);
        EXPECT_EQ(LocalFree(block), nullptr);
    }
}

TEST_F(LocalMemoryTest, FixedBlockIsWritable) {
    HLOCAL block = LocalAlloc(LPTR, 64);
    ASSERT_NE(block, nullptr) << "error " << GetLastError();
    char* text = static_cast<char*>(block);
    for (int i = 0; i < 63; ++i) text[i] = 'x';
    EXPECT_EQ(lstrlenA(text), 63);
    EXPECT_EQ(LocalFree(block), nullptr);
}

TEST_F(StringTest, LstrlenA) {
    EXPECT_EQ(lstrlenA("abc"), 3);
    EXPECT_EQ(lstrlenA(""), 0);
    EXPECT_EQ(lstrlenA(nullptr), 0);
    const std::string longer(1500, 'z');
    EXPECT_EQ(lstrlenA(longer.c_str()), 1500);
}

TEST_F(StringTest, LstrcmpiAIgnoresCase) {
    const struct {
        const char* a;
        const char* b;
    } equal[] = {{"/a", "/A"}, {"/S:", "/s:"}, {"QVMIRROR", "qvmirror"},
                 {"Display", "DISPLAY"}, {"", ""}, {"abc", "abc"}};
    for (const auto& c : equal) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        EXPECT_EQ(lstrcmpiA(c.a, c.b), 0);
        EXPECT_EQ(lstrcmpiA(c.b, c.a), 0);
    }
}

TEST_F(StringTest, LstrcmpiAOrdersDifferentStrings) {
    const struct {
        const char* less;
        const char* greater;
    } ordered[] = {{"a", "b"}, {"A", "b"}, {"a", "B"}, {"ab", "abc"}, {"", "a"},
                   {"/A", "/R"}, {"QVMIRROR", "QVMIRRORX"}, {"abc", "ABD"}};
    for (const auto& c : ordered) {
        SCOPED_TRACE(std::string(c.less) + " < " + c.greater);
        EXPECT_LT(lstrcmpiA(c.less, c.greater), 0);
        EXPECT_GT(lstrcmpiA(c.greater, c.less), 0);
    }
}

}  // namespace
