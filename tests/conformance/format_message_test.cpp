// FormatMessageA as the error reporter calls it: system table, buffer
// allocated by the system (0x1100), language 0x400, freed with LocalFree.

#include "conformance.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace {

constexpr DWORD kFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM;
constexpr DWORD kUserDefaultLanguage = 0x400;

using FormatMessageTest = PlatformTest;

// The text pointer is poisoned too: with FORMAT_MESSAGE_ALLOCATE_BUFFER the
// call stores NULL there when it fails.
char* const kPoisonText = reinterpret_cast<char*>(static_cast<uintptr_t>(0xdeadbeef));

DWORD Lookup(DWORD code, char** text) {
    *text = kPoisonText;
    return FormatMessageA(kFlags, nullptr, code, kUserDefaultLanguage,
                          reinterpret_cast<LPSTR>(text), 0, nullptr);
}

TEST_F(FormatMessageTest, FlagsAreTheOnesTheProgramPasses) {
    EXPECT_EQ(kFlags, 0x1100u);
    EXPECT_EQ(static_cast<DWORD>(MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)), kUserDefaultLanguage);
}

TEST_F(FormatMessageTest, SystemTextsOfCommonCodes) {
    const struct {
        DWORD code;
        const char* windows_text;
        const char* wine_text;  // Wine's message table words them its own way
    } cases[] = {
        {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n",
         "File not found.\r\n"},
        {ERROR_ACCESS_DENIED, "Access is denied.\r\n", "Access denied.\r\n"},
        {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n", "Invalid parameter.\r\n"},
        {ERROR_NO_MORE_ITEMS, "No more data is available.\r\n", "No more data available.\r\n"},
    };
    const bool wine = RunningUnderWine();
    if (wine) NoteWineDifference("FormatMessageA system texts are worded differently");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        char* text = nullptr;
        SetLastError(kPoison);
        DWORD length = Lookup(c.code, &text);
        ASSERT_NE(length, 0u) << "error " << GetLastError();
        ASSERT_NE(text, nullptr);
        ASSERT_NE(text, kPoisonText);
        EXPECT_EQ(length, std::strlen(text));
        EXPECT_STREQ(text, wine ? c.wine_text : c.windows_text);
        SetLastError(kPoison);
        EXPECT_EQ(LocalFree(text), nullptr);
    }
}

TEST_F(FormatMessageTest, CodeWithoutTextFailsWithMessageNotFound) {
    const DWORD codes[] = {0x20000000u | 12345u, 12345678u, 0xE000020Bu, 0xE0000203u};
    for (DWORD code : codes) {
        SCOPED_TRACE(code);
        char* text = nullptr;
        SetLastError(kPoison);
        EXPECT_EQ(Lookup(code, &text), 0u);
        EXPECT_LAST_ERROR(ERROR_MR_MID_NOT_FOUND);
        EXPECT_EQ(text, nullptr);
        if (text != nullptr && text != kPoisonText) LocalFree(text);
    }
}

}  // namespace
