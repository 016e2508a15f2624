// Trace log, debugger channel and error-code reporting, shared by every unit.
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

// A tagged line to the debugger channel only.
void QV_DebugPrint(LPCSTR pszFormat, ...);

// A timestamped record to the log file (when open) and the debugger channel.
// Leaves the thread's last-error value as it found it.
void QV_WriteLog(LPCSTR pszSourceFile, int nLine, LPCSTR pszFunction, LPCSTR pszFormat, ...);

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

// Joins two parts with one backslash into a MAX_PATH buffer. A result that
// would not fit is refused (FALSE, empty buffer), never cut.
BOOL QV_BuildPath(char (&szPath)[MAX_PATH], LPCSTR pszFirst, LPCSTR pszSecond);

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
