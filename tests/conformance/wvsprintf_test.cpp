// wvsprintfA: the conversions the trace writer uses (%d, %x, %s, %u and
// zero padding) and its 1024-byte output limit.

#include "conformance.h"

#include <cstdarg>
#include <cstring>
#include <string>

namespace {

int Format(char* out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int length = wvsprintfA(out, format, args);
    va_end(args);
    return length;
}

constexpr size_t kLimit = 1024;  // bytes, terminator included
constexpr char kUntouched = 0x7f;

struct Case {
    const char* expected;
    int (*call)(char* out);
};

using WvsprintfTest = PlatformTest;

void CheckCases(const Case* cases, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(cases[i].expected);
        char out[kLimit + 16];
        std::memset(out, kUntouched, sizeof out);
        int length = cases[i].call(out);
        EXPECT_STREQ(out, cases[i].expected);
        EXPECT_EQ(length, static_cast<int>(std::strlen(cases[i].expected)));
    }
}

TEST_F(WvsprintfTest, FormatsConversions) {
    static const Case cases[] = {
        {"42", [](char* o) { return Format(o, "%d", 42); }},
        {"-42", [](char* o) { return Format(o, "%d", -42); }},
        {"0", [](char* o) { return Format(o, "%d", 0); }},
        {"-2147483648", [](char* o) { return Format(o, "%d", static_cast<DWORD>(0x80000000u)); }},
        {"-1", [](char* o) { return Format(o, "%d", static_cast<DWORD>(0xFFFFFFFFu)); }},
        {"-536870389", [](char* o) { return Format(o, "%d", static_cast<DWORD>(0xE000020Bu)); }},
        {"4294967295", [](char* o) { return Format(o, "%u", 0xFFFFFFFFu); }},
        {"3758096907", [](char* o) { return Format(o, "%u", 0xE000020Bu); }},
        {"deadbeef", [](char* o) { return Format(o, "%x", 0xDEADBEEFu); }},
        {"0", [](char* o) { return Format(o, "%x", 0u); }},
        {"ffffffff", [](char* o) { return Format(o, "%x", -1); }},
        {"text", [](char* o) { return Format(o, "%s", "text"); }},
        {"[]", [](char* o) { return Format(o, "[%s]", ""); }},
        {"100%", [](char* o) { return Format(o, "%d%%", 100); }},
        {"no conversion\n", [](char* o) { return Format(o, "no conversion\n"); }},
        {"Error: RegOpenKeyEx(Err=2) [SOFTWARE\\QV]\n",
         [](char* o) {
             return Format(o, "Error: RegOpenKeyEx(Err=%d) [%s]\n", 2, "SOFTWARE\\QV");
         }},
        {"INSTx64: ->main(argc=2)\n",
         [](char* o) { return Format(o, "%s: %s", "INSTx64", "->main(argc=2)\n"); }},
        {"code=0x7b id=123 name=QVMIRROR",
         [](char* o) { return Format(o, "code=0x%x id=%u name=%s", 0x7bu, 123u, "QVMIRROR"); }},
    };
    CheckCases(cases, sizeof cases / sizeof cases[0]);
}

TEST_F(WvsprintfTest, ZeroPadsToWidth) {
    static const Case cases[] = {
        {"05", [](char* o) { return Format(o, "%02d", 5); }},
        {"00", [](char* o) { return Format(o, "%02d", 0); }},
        {"12", [](char* o) { return Format(o, "%02d", 12); }},
        {"123", [](char* o) { return Format(o, "%02d", 123); }},
        {"007", [](char* o) { return Format(o, "%03d", 7); }},
        {"042", [](char* o) { return Format(o, "%03d", 42); }},
        {"999", [](char* o) { return Format(o, "%03d", 999); }},
        {"-05", [](char* o) { return Format(o, "%03d", -5); }},
        {"2021/03/02 09:05:03:007",
         [](char* o) {
             return Format(o, "%02d/%02d/%02d %02d:%02d:%02d:%03d", 2021, 3, 2, 9, 5, 3, 7);
         }},
    };
    CheckCases(cases, sizeof cases / sizeof cases[0]);
}

// A character after '%' that is no conversion is copied as it stands.
TEST_F(WvsprintfTest, UnknownConversionIsCopied) {
    static const Case cases[] = {
        {"q", [](char* o) { return Format(o, "%q"); }},
        {"<y>", [](char* o) { return Format(o, "<%y>"); }},
    };
    CheckCases(cases, sizeof cases / sizeof cases[0]);
}

// At most 1024 bytes are written, terminator included: a longer expansion
// is cut after 1023 characters and nothing beyond the limit is touched.
TEST_F(WvsprintfTest, LongOutputIsCutAt1024Bytes) {
    const std::string long_text(2000, 'a');
    const struct {
        const char* format;
        std::string expected;
    } cases[] = {
        {"%s", std::string(kLimit - 1, 'a')},
        {"msg=%s\n", "msg=" + std::string(kLimit - 5, 'a')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        char out[2 * kLimit];
        std::memset(out, kUntouched, sizeof out);
        int length = Format(out, c.format, long_text.c_str());
        EXPECT_EQ(std::string(out), c.expected);
        EXPECT_EQ(out[kLimit - 1], '\0');
        EXPECT_EQ(std::string(out + kLimit, sizeof out - kLimit),
                  std::string(sizeof out - kLimit, kUntouched));
        if (RunningUnderWine()) {
            // Wine's wvsprintfA returns 1024 whenever the output fills the
            // buffer (dlls/user32/wsprintf.c maps its -1 to 1024).
            NoteWineDifference("wvsprintfA returns 1024 for output cut at 1023 characters");
            EXPECT_EQ(length, static_cast<int>(kLimit));
        } else {
            EXPECT_EQ(length, static_cast<int>(kLimit - 1));
        }
    }
}

TEST_F(WvsprintfTest, OutputOf1022CharactersFits) {
    const std::string text(kLimit - 2, 'b');
    char out[2 * kLimit];
    std::memset(out, kUntouched, sizeof out);
    EXPECT_EQ(Format(out, "%s", text.c_str()), static_cast<int>(kLimit - 2));
    EXPECT_EQ(std::string(out), text);
    EXPECT_EQ(out[kLimit - 1], kUntouched);
}

TEST_F(WvsprintfTest, OutputOf1023CharactersFillsTheLimit) {
    const std::string text(kLimit - 1, 'c');
    char out[2 * kLimit];
    std::memset(out, kUntouched, sizeof out);
    int length = Format(out, "%s", text.c_str());
    EXPECT_EQ(std::string(out), text);
    EXPECT_EQ(out[kLimit], kUntouched);
    if (RunningUnderWine()) {
        NoteWineDifference("wvsprintfA returns 1024 for output of exactly 1023 characters");
        EXPECT_EQ(length, static_cast<int>(kLimit));
    } else {
        EXPECT_EQ(length, static_cast<int>(kLimit - 1));
    }
}

}  // namespace
