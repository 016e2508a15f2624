// Last-error value, clock and Sleep, temporary path, version, Windows and
// system folders, debugger channel and local memory.
#include "state.h"

#include <winsim/machine.h>

#include <cstring>

namespace {

thread_local DWORD g_last_error = ERROR_SUCCESS;

constexpr uint64_t kMsPerDay = 86400000;

// Days since 1970-01-01 in the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t year_of_era = y - era * 400;
    const int64_t day_of_year = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const int64_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

void CivilFromDays(int64_t days, int64_t* y, unsigned* m, unsigned* d) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t day_of_era = days - era * 146097;
    const int64_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const int64_t mp = (5 * day_of_year + 2) / 153;
    *d = static_cast<unsigned>(day_of_year - (153 * mp + 2) / 5 + 1);
    *m = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
    *y = year_of_era + era * 400 + (*m <= 2 ? 1 : 0);
}

const int64_t kEpochDays = DaysFromCivil(1601, 1, 1);

SYSTEMTIME FromClockMs(uint64_t ms) {
    const int64_t days = static_cast<int64_t>(ms / kMsPerDay) + kEpochDays;
    uint64_t rest = ms % kMsPerDay;
    int64_t y = 0;
    unsigned m = 0, d = 0;
    CivilFromDays(days, &y, &m, &d);
    SYSTEMTIME t{};
    t.wYear = static_cast<WORD>(y);
    t.wMonth = static_cast<WORD>(m);
    t.wDay = static_cast<WORD>(d);
    // 1970-01-01 was a Thursday; Sunday is 0.
    t.wDayOfWeek = static_cast<WORD>(((days + 4) % 7 + 7) % 7);
    t.wMilliseconds = static_cast<WORD>(rest % 1000);
    rest /= 1000;
    t.wSecond = static_cast<WORD>(rest % 60);
    rest /= 60;
    t.wMinute = static_cast<WORD>(rest % 60);
    t.wHour = static_cast<WORD>(rest / 60);
    return t;
}

}  // namespace

namespace winsim::detail {

uint64_t ToClockMs(const SYSTEMTIME& t) {
    const int64_t days = DaysFromCivil(t.wYear, t.wMonth, t.wDay) - kEpochDays;
    return static_cast<uint64_t>(days) * kMsPerDay +
           ((t.wHour * 60u + t.wMinute) * 60u + t.wSecond) * 1000u + t.wMilliseconds;
}

FILETIME CurrentFileTime() {
    // The machine's local time zone is UTC.
    const uint64_t ticks = M().clock_ms * 10000;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

}  // namespace winsim::detail

using namespace winsim::detail;

DWORD WINAPI GetLastError(void) { return g_last_error; }

void WINAPI SetLastError(DWORD dwErrCode) { g_last_error = dwErrCode; }

void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
    if (lpSystemTime != nullptr) *lpSystemTime = FromClockMs(M().clock_ms);
}

namespace {

// A folder's path into a caller's buffer, as the folder calls report it.
UINT CopyFolder(const char* folder, LPSTR buffer, UINT size) {
    const UINT length = static_cast<UINT>(std::strlen(folder));
    // Too small: the size needed, terminator included, and the buffer untouched.
    if (size <= length) return length + 1;
    std::memcpy(buffer, folder, length + 1);
    return length;
}

}  // namespace

DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
    if (auto fault = EnterCall("GetTempPathA")) return Fail(*fault, DWORD{0});
    return CopyFolder(M().temp_path.c_str(), lpBuffer, nBufferLength);
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
    if (auto fault = EnterCall("GetVersionExA")) return Fail(*fault, FALSE);
    const Machine& m = M();
    lpVersionInformation->dwMajorVersion = m.version_major;
    lpVersionInformation->dwMinorVersion = m.version_minor;
    lpVersionInformation->dwBuildNumber = m.version_build;
    lpVersionInformation->dwPlatformId = VER_PLATFORM_WIN32_NT;
    // No service pack.
    std::memset(lpVersionInformation->szCSDVersion, 0, sizeof lpVersionInformation->szCSDVersion);
    return TRUE;
}

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    if (auto fault = EnterCall("GetWindowsDirectoryA")) return Fail(*fault, UINT{0});
    return CopyFolder("C:\\Windows", lpBuffer, uSize);
}

UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
    if (auto fault = EnterCall("GetSystemDirectoryA")) return Fail(*fault, UINT{0});
    return CopyFolder("C:\\Windows\\System32", lpBuffer, uSize);
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    // No waiting: the simulated clock moves on at once.
    M().clock_ms += dwMilliseconds;
}

void WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
    if (lpOutputString != nullptr) M().debug_output.emplace_back(lpOutputString);
}

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    if (auto fault = EnterCall("LocalAlloc")) return Fail(*fault, HLOCAL{nullptr});
    return AllocateBlock(uBytes, (uFlags & LMEM_ZEROINIT) != 0);
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    if (auto fault = EnterCall("LocalFree")) return Fail(*fault, hMem);
    if (hMem == nullptr) return nullptr;
    if (!FreeBlock(hMem)) return Fail(ERROR_INVALID_HANDLE, hMem);
    return nullptr;
}

namespace winsim {

void SetLocalTime(const SYSTEMTIME& time) { M().clock_ms = ToClockMs(time); }

void SetWindowsVersion(DWORD major, DWORD minor, DWORD build) {
    Machine& m = M();
    m.version_major = major;
    m.version_minor = minor;
    m.version_build = build;
}

const std::vector<std::string>& DebugOutput() { return M().debug_output; }

void ClearDebugOutput() { M().debug_output.clear(); }

}  // namespace winsim
