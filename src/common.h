// Trace log, debugger channel and error-code reporting, shared by every unit.
#pragma once

#include "platform.h"

// Every trace call names its source file and line. A source file defines
// QV_SOURCE_FILE before it traces.
#define QV_TRACE(function, ...) QV_WriteLog(QV_SOURCE_FILE, __LINE__, function, __VA_ARGS__)

// A tagged line to the debugger channel only.
void QV_DebugPrint(LPCSTR pszFormat, ...);

// A timestamped record to the log file (when open) and the debugger channel.
// Leaves the thread's last-error value as it found it.
void QV_WriteLog(LPCSTR pszSourceFile, int nLine, LPCSTR pszFunction, LPCSTR pszFormat, ...);

// TRUE when the log is open or the name is empty (nothing to open).
BOOL QV_OpenLogFile(LPCSTR pszLogFileName);
void QV_CloseLogFile(void);

// TRUE when the path names an existing file or directory.
BOOL QV_FileExists(LPCSTR pszPath);

// Logs a code the caller holds, with the system's text for it.
void QV_FormatErrorCode(DWORD dwErrorCode);

// Logs the thread's last-error value with the name of the failed operation,
// and leaves that value unchanged.
void QV_DisplayError(LPCSTR pszOperation);
