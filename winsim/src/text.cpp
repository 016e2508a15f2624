// Text calls: wvsprintfA, FormatMessageA with the system message table, the
// lstr* string helpers, and the letter case of names.
#include "state.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

using namespace winsim::detail;

// ---------------------------------------------------------------------------
// wvsprintfA

// The output buffer holds at most this many bytes, terminator included.
constexpr size_t kWsprintfBuffer = 1024;

// A %d, %x or %s argument as text; the numbers are 32-bit ints, as
// Windows' int and long are. Other conversions are not simulated.
std::string Convert(char conversion, va_list& args) {
    switch (conversion) {
    case 'd': return std::to_string(va_arg(args, int));
    case 'x': {
        char hex[9];
        std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(va_arg(args, int)));
        return hex;
    }
    case 's': {
        const char* s = va_arg(args, const char*);
        return s != nullptr ? s : "(null)";
    }
    default: throw std::logic_error(std::string("winsim: wvsprintfA does not simulate %") + conversion);
    }
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

}  // namespace

int WINAPI wvsprintfA(LPSTR lpOutput, LPCSTR lpFmt, va_list arglist) {
    va_list args;
    va_copy(args, arglist);
    std::string out;
    for (const char* f = lpFmt; *f != '\0' && out.size() < kWsprintfBuffer - 1; ++f) {
        out += *f == '%' ? Convert(*++f, args) : std::string(1, *f);
    }
    va_end(args);
    const size_t n = std::min(out.size(), kWsprintfBuffer - 1);
    std::memcpy(lpOutput, out.data(), n);
    lpOutput[n] = '\0';
    return static_cast<int>(n);
}

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD, LPSTR lpBuffer, DWORD nSize,
                            va_list*) {
    // As the program calls it: the system's English text in a buffer it
    // allocates. lpBuffer points at the caller's pointer, which stays NULL
    // unless a message is returned.
    if (!(dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) || !(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM)) {
        throw std::logic_error("winsim: FormatMessageA is simulated for FROM_SYSTEM | ALLOCATE_BUFFER only");
    }
    char** allocated = reinterpret_cast<char**>(lpBuffer);
    *allocated = nullptr;
    if (auto fault = EnterCall("FormatMessageA")) return Fail(*fault, DWORD{0});
    const char* text = SystemMessage(dwMessageId);
    if (text == nullptr) return Fail(ERROR_MR_MID_NOT_FOUND, DWORD{0});
    const size_t length = std::strlen(text);
    // nSize is the least number of characters to allocate.
    void* block = AllocateBlock(std::max<size_t>(length + 1, nSize), false);
    std::memcpy(block, text, length + 1);
    *allocated = static_cast<char*>(block);
    return static_cast<DWORD>(length);
}

int WINAPI lstrlenA(LPCSTR lpString) { return static_cast<int>(std::strlen(lpString)); }

// Ordered by the lower-case form, byte by byte.
int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2) {
    const int order = LowerCase(lpString1).compare(LowerCase(lpString2));
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

namespace winsim::detail {

char UpperCase(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

std::string UpperCase(std::string text) {
    for (char& c : text) c = UpperCase(c);
    return text;
}

std::string LowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool NameLess::operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(UpperCase(x)) < static_cast<unsigned char>(UpperCase(y));
    });
}

bool SameName(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return UpperCase(x) == UpperCase(y); });
}

}  // namespace winsim::detail
