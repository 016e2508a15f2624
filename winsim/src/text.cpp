// Text calls: wvsprintfA, FormatMessageA with the system message table, and
// the lstr* string helpers.
#include "state.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

namespace {

using namespace winsim::detail;

// ---------------------------------------------------------------------------
// wvsprintfA

// The output buffer holds at most this many bytes, terminator included.
constexpr size_t kWsprintfBuffer = 1024;

enum class Conversion { Unknown, Char, WideChar, String, WideString, Signed, Unsigned, Hex };

struct Field {
    bool left = false;
    bool hex_prefix = false;
    bool zero_pad = false;
    bool is_long = false;
    bool is_short = false;
    bool wide = false;
    bool int64 = false;
    bool intptr = false;
    bool upper = false;
    size_t width = 0;
    size_t precision = 0;
    Conversion conversion = Conversion::Unknown;
};

size_t ReadNumber(const char*& p) {
    size_t value = 0;
    while (*p >= '0' && *p <= '9') {
        // Anything wider than the buffer pads the same, so saturate there.
        value = std::min(value * 10 + static_cast<size_t>(*p - '0'), kWsprintfBuffer);
        ++p;
    }
    return value;
}

// Parses "[-][#][0][width][.precision][size]type" after a '%'. Returns how many
// characters it used. An unknown type letter is not used: it is then copied
// to the output as ordinary text.
size_t ParseField(const char* format, Field* field) {
    const char* p = format;
    if (*p == '-') { field->left = true; ++p; }
    if (*p == '#') { field->hex_prefix = true; ++p; }
    if (*p == '0') { field->zero_pad = true; ++p; }
    field->width = ReadNumber(p);
    if (*p == '.') {
        ++p;
        field->precision = ReadNumber(p);
    }
    if (*p == 'l') {
        field->is_long = true;
        ++p;
    } else if (*p == 'h') {
        field->is_short = true;
        ++p;
    } else if (*p == 'w') {
        field->wide = true;
        ++p;
    } else if (*p == 'I') {
        if (p[1] == '6' && p[2] == '4') {
            field->int64 = true;
            p += 3;
        } else if (p[1] == '3' && p[2] == '2') {
            p += 3;
        } else {
            field->intptr = true;
            ++p;
        }
    }
    switch (*p) {
    case 'c': field->conversion = field->is_long ? Conversion::WideChar : Conversion::Char; break;
    case 'C': field->conversion = field->is_short ? Conversion::Char : Conversion::WideChar; break;
    case 'd':
    case 'i': field->conversion = Conversion::Signed; break;
    case 's':
        field->conversion =
            (field->is_long || field->wide) ? Conversion::WideString : Conversion::String;
        break;
    case 'S':
        field->conversion =
            (field->is_short || field->wide) ? Conversion::String : Conversion::WideString;
        break;
    case 'u': field->conversion = Conversion::Unsigned; break;
    case 'p':
        field->width = 2 * sizeof(void*);
        field->zero_pad = true;
        field->intptr = true;
        field->upper = true;
        field->conversion = Conversion::Hex;
        break;
    case 'X':
        field->upper = true;
        field->conversion = Conversion::Hex;
        break;
    case 'x': field->conversion = Conversion::Hex; break;
    default: return static_cast<size_t>(p - format);
    }
    if (field->left) field->zero_pad = false;
    return static_cast<size_t>(p - format) + 1;
}

// A Windows wide character (UTF-16 unit) in an ANSI result.
char Narrow(uint16_t unit) { return unit < 0x80 ? static_cast<char>(unit) : '?'; }

void Pad(std::string& out, size_t used, size_t width) {
    if (width > used) out.append(width - used, ' ');
}

void PutText(std::string& out, const Field& field, const std::string& text) {
    if (!field.left) Pad(out, text.size(), field.width);
    out += text;
    if (field.left) Pad(out, text.size(), field.width);
}

void PutNumber(std::string& out, const Field& field, int64_t value) {
    const bool negative = field.conversion == Conversion::Signed && value < 0;
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    // Without I64 or I the argument is a 32-bit int, as Windows' long is.
    if (!field.int64 && !field.intptr) magnitude = static_cast<uint32_t>(magnitude);
    const unsigned base = field.conversion == Conversion::Hex ? 16 : 10;
    const char* digits = field.upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string number;
    do {
        number.insert(number.begin(), digits[magnitude % base]);
        magnitude /= base;
    } while (magnitude != 0);
    // The precision is a minimum count of characters, the sign among them;
    // zero padding raises it to the width. A 0x prefix is not counted.
    const size_t length = number.size() + (negative ? 1 : 0);
    size_t precision = std::max(field.precision, length);
    if (field.zero_pad && field.width > precision) precision = field.width;
    if (!field.left) Pad(out, precision, field.width);
    if (field.conversion == Conversion::Hex && field.hex_prefix) out += field.upper ? "0X" : "0x";
    if (negative) out += '-';
    out.append(precision - length, '0');
    out += number;
    if (field.left) Pad(out, precision, field.width);
}

// ---------------------------------------------------------------------------
// System message table (English)

struct Message {
    DWORD id;
    const char* text;
};

// Sorted by id.
const Message kMessages[] = {
    {0, "The operation completed successfully.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {13, "The data is invalid.\r\n"},
    {31, "A device attached to the system is not functioning.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {50, "The request is not supported.\r\n"},
    {51, "Windows cannot find the network path. Verify that the network path is correct and the "
         "destination computer is not busy or turned off. If Windows still cannot find the network "
         "path, contact your network administrator.\r\n"},
    {53, "The network path was not found.\r\n"},
    {80, "The file exists.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {112, "There is not enough space on the disk.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {126, "The specified module could not be found.\r\n"},
    {127, "The specified procedure could not be found.\r\n"},
    {131, "An attempt was made to move the file pointer before the beginning of the file.\r\n"},
    {145, "The directory is not empty.\r\n"},
    {183, "Cannot create a file when that file already exists.\r\n"},
    {203, "The system could not find the environment option that was entered.\r\n"},
    {206, "The filename or extension is too long.\r\n"},
    {234, "More data is available.\r\n"},
    {259, "No more data is available.\r\n"},
    {267, "The directory name is invalid.\r\n"},
    {998, "Invalid access to memory location.\r\n"},
    {1052, "The requested control is not valid for this service.\r\n"},
    {1060, "The specified service does not exist as an installed service.\r\n"},
    {1061, "The service cannot accept control messages at this time.\r\n"},
    {1062, "The service has not been started.\r\n"},
    {1072, "The specified service has been marked for deletion.\r\n"},
    {1784, "The supplied user buffer is not valid for the requested operation.\r\n"},
    {1815, "The specified resource language ID cannot be found in the image file.\r\n"},
};

const char* SystemMessage(DWORD id) {
    auto it = std::lower_bound(std::begin(kMessages), std::end(kMessages), id,
                               [](const Message& m, DWORD key) { return m.id < key; });
    return it != std::end(kMessages) && it->id == id ? it->text : nullptr;
}

// Languages whose request the English table answers: neutral, user and
// system default, and U.S. English.
bool IsEnglishRequest(DWORD language) {
    return language == 0 || language == MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT) ||
           language == MAKELANGID(LANG_NEUTRAL, 0x02 /* SUBLANG_SYS_DEFAULT */) ||
           language == MAKELANGID(0x09 /* LANG_ENGLISH */, 0x01 /* SUBLANG_ENGLISH_US */);
}

int Fold(char c) { return std::tolower(static_cast<unsigned char>(c)); }

}  // namespace

int WINAPI wvsprintfA(LPSTR lpOutput, LPCSTR lpFmt, va_list arglist) {
    if (lpOutput == nullptr) return 0;
    va_list args;
    va_copy(args, arglist);
    std::string out;
    const char* f = lpFmt != nullptr ? lpFmt : "";
    while (*f != '\0' && out.size() < kWsprintfBuffer - 1) {
        if (*f != '%') {
            out += *f++;
            continue;
        }
        ++f;
        if (*f == '%') {
            out += *f++;
            continue;
        }
        Field field;
        f += ParseField(f, &field);
        switch (field.conversion) {
        case Conversion::Char:
            PutText(out, field, std::string(1, static_cast<char>(va_arg(args, int))));
            break;
        case Conversion::WideChar:
            PutText(out, field, std::string(1, Narrow(static_cast<uint16_t>(va_arg(args, int)))));
            break;
        case Conversion::String: {
            const char* s = va_arg(args, const char*);
            if (s == nullptr) s = "(null)";
            // A precision limits the length; none (or 0) takes the whole string.
            size_t n = 0;
            while (s[n] != '\0' && (field.precision == 0 || n < field.precision) &&
                   n < kWsprintfBuffer) {
                ++n;
            }
            PutText(out, field, std::string(s, n));
            break;
        }
        case Conversion::WideString: {
            const uint16_t* s = va_arg(args, const uint16_t*);
            static const uint16_t kNull[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
            if (s == nullptr) s = kNull;
            std::string text;
            for (size_t n = 0; s[n] != 0 && (field.precision == 0 || n < field.precision) &&
                               n < kWsprintfBuffer;
                 ++n) {
                text += Narrow(s[n]);
            }
            PutText(out, field, text);
            break;
        }
        case Conversion::Signed:
        case Conversion::Unsigned:
        case Conversion::Hex: {
            int64_t value = 0;
            if (field.intptr) {
                value = static_cast<int64_t>(va_arg(args, intptr_t));
            } else if (field.int64) {
                value = va_arg(args, long long);
            } else {
                value = va_arg(args, int);
            }
            PutNumber(out, field, value);
            break;
        }
        case Conversion::Unknown:
            // Windows pads an unknown conversion's width, then prints the
            // letter itself as text.
            if (!field.left) Pad(out, 0, field.width);
            break;
        }
    }
    va_end(args);
    const size_t n = std::min(out.size(), kWsprintfBuffer - 1);
    std::memcpy(lpOutput, out.data(), n);
    lpOutput[n] = '\0';
    return static_cast<int>(n);
}

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD dwLanguageId,
                            LPSTR lpBuffer, DWORD nSize, va_list*) {
    const bool allocate = (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0;
    // With ALLOCATE_BUFFER, lpBuffer points at the caller's pointer, which
    // stays NULL unless a message is returned.
    char** allocated = allocate ? reinterpret_cast<char**>(lpBuffer) : nullptr;
    if (allocated != nullptr) *allocated = nullptr;
    if (auto fault = EnterCall("FormatMessageA")) return Fail(*fault, DWORD{0});

    const DWORD supported =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    if ((dwFlags & ~supported) != 0 || !(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) ||
        lpBuffer == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER, DWORD{0});
    }
    if (!IsEnglishRequest(dwLanguageId)) return Fail(kErrorResourceLangNotFound, DWORD{0});
    const char* text = SystemMessage(dwMessageId);
    if (text == nullptr) return Fail(ERROR_MR_MID_NOT_FOUND, DWORD{0});
    const size_t length = std::strlen(text);

    if (allocate) {
        // nSize is then the least number of characters to allocate.
        void* block = AllocateBlock(std::max<size_t>(length + 1, nSize), false);
        if (block == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY, DWORD{0});
        std::memcpy(block, text, length + 1);
        *allocated = static_cast<char*>(block);
        return static_cast<DWORD>(length);
    }
    if (nSize < length + 1) return Fail(ERROR_INSUFFICIENT_BUFFER, DWORD{0});
    std::memcpy(lpBuffer, text, length + 1);
    return static_cast<DWORD>(length);
}

int WINAPI lstrlenA(LPCSTR lpString) {
    return lpString == nullptr ? 0 : static_cast<int>(std::strlen(lpString));
}

int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2) {
    if (lpString1 == nullptr || lpString2 == nullptr) {
        if (lpString1 == lpString2) return 0;
        return lpString1 == nullptr ? -1 : 1;
    }
    for (size_t i = 0;; ++i) {
        const int a = Fold(lpString1[i]);
        const int b = Fold(lpString2[i]);
        if (a != b) return a < b ? -1 : 1;
        if (a == 0) return 0;
    }
}
