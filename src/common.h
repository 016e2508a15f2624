// What every unit shares: the mirror's identity, the trace log and debugger
// channel, error-code reporting, bounded strings and a device's hardware IDs.
#pragma once

#include "platform.h"

// The mirror driver's identity. The hardware ID carries a second terminating
// NUL so that it is also a one-string multi-string.
#define QV_MIRROR_HARDWARE_ID "Orvenik_Tallomer_Mirror\0"
#define QV_MIRROR_SERVICE "QVMIRROR"
#define QV_MIRROR_DEVICE_DESC "Orvenik Tallomer graphics driver"

// Every trace call names its source file and line. A source file defines
// QV_SOURCE_FILE before it traces.
#define QV_TRACE(function, ...) QV_WriteLog(QV_SOURCE_FILE, __LINE__, function, __VA_ARGS__)

// Pointers and handles appear in the trace as 32-bit hexadecimal numbers.
inline DWORD QV_TraceAddress(const void* pAddress) {
    return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(pAddress));
}

// Trace formats are literals, checked against their arguments on winsim hosts,
// where DWORD and LONG are 32-bit ints as wvsprintfA's %d reads them: a 64-bit
// long is an error there. MinGW's DWORD and LONG are 32-bit longs, right for
// %d but rejected by GCC's printf check, so Windows builds leave the check to
// the host and give MSVC's code analysis the SAL annotation.
#ifdef _WIN32
#define QV_FORMAT_STRING _Printf_format_string_
#define QV_PRINTF_FORMAT(nFormat, nFirstArgument)
#else
#define QV_FORMAT_STRING
#define QV_PRINTF_FORMAT(nFormat, nFirstArgument) __attribute__((format(printf, nFormat, nFirstArgument)))
#endif

// A tagged line to the debugger channel only.
void QV_DebugPrint(QV_FORMAT_STRING LPCSTR pszFormat, ...) QV_PRINTF_FORMAT(1, 2);

// A timestamped record to the log file (when open) and the debugger channel.
// Leaves the thread's last-error value as it found it.
void QV_WriteLog(LPCSTR pszSourceFile, int nLine, LPCSTR pszFunction, QV_FORMAT_STRING LPCSTR pszFormat, ...)
    QV_PRINTF_FORMAT(4, 5);

// TRUE when the log is open or the name is empty (nothing to open).
BOOL QV_OpenLogFile(LPCSTR pszLogFileName);
void QV_CloseLogFile(void);

// Restricts where the process loads DLLs from to the system folder, so that
// no DLL beside the program or in the current folder runs inside it. Without
// SetDefaultDllDirectories (Windows 7 without its loader update) only the
// current folder leaves the search; QV_LoadSystemLibrary then names full paths.
void QV_RestrictDllSearch(void);

// Loads a DLL from the system folder only; NULL, with the loader's error in
// the last-error value, when it cannot.
HMODULE QV_LoadSystemLibrary(LPCSTR pszFileName);

// TRUE when the path names an existing file or directory.
BOOL QV_FileExists(LPCSTR pszPath);

// Bounded strings. Each helper refuses a result that would not fit in the
// buffer with its terminator: it returns FALSE and leaves the buffer empty,
// never holding a cut string, and writes nothing past the buffer.
BOOL QV_CopyString(LPSTR pszBuffer, size_t cchBuffer, LPCSTR pszText);
// Appends to the string the buffer holds.
BOOL QV_AppendString(LPSTR pszBuffer, size_t cchBuffer, LPCSTR pszText);

template <size_t N> BOOL QV_CopyString(char (&szBuffer)[N], LPCSTR pszText) {
    return QV_CopyString(szBuffer, N, pszText);
}
template <size_t N> BOOL QV_AppendString(char (&szBuffer)[N], LPCSTR pszText) {
    return QV_AppendString(szBuffer, N, pszText);
}

// Two parts joined with one backslash.
template <size_t N> BOOL QV_BuildPath(char (&szPath)[N], LPCSTR pszFirst, LPCSTR pszSecond) {
    return QV_CopyString(szPath, pszFirst) && QV_AppendString(szPath, "\\") && QV_AppendString(szPath, pszSecond);
}

// Reads a device's hardware-ID list into a zero-filled LocalAlloc buffer of
// the size the platform asks for, which the caller frees with LocalFree.
// Returns 0, ERROR_INVALID_DATA for a device without hardware IDs, or the
// error that ended the read (the buffer pointer is then NULL).
DWORD QV_ReadHardwareIds(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDevInfoData, BYTE** ppBuffer, DWORD* pcbData);

// The string of a multi-string of cbData bytes that equals the hardware ID
// byte for byte, terminator included; NULL when none does. Nothing past
// cbData is read: a string without a terminator there ends the walk.
LPCSTR QV_FindHardwareId(const BYTE* pData, DWORD cbData, LPCSTR pszHardwareId);

// Logs a code the caller holds, with the system's text for it.
void QV_FormatErrorCode(DWORD dwErrorCode);

// Logs the thread's last-error value with the name of the failed operation,
// and leaves that value unchanged.
void QV_DisplayError(LPCSTR pszOperation);
