// The simulated machine behind <winsim/win32.h>: what tests set up, inspect
// and make fail on purpose. It holds platform state only.
#pragma once

#include <winsim/win32.h>

#include <optional>
#include <string>
#include <vector>

namespace winsim {

// A fresh machine: drive C: with C:\Windows, C:\Windows\System32,
// C:\Windows\INF and the temporary folder C:\Users\user\AppData\Local\Temp\;
// the clock at 2021/03/02 09:05:03.007; an empty debugger channel; no open
// handle, no live allocation, no planned fault, no counted call.
void Reset();

// Clock read by GetLocalTime. The day of the week is derived from the date.
void SetLocalTime(const SYSTEMTIME& time);
void AdvanceClock(DWORD milliseconds);

// What GetTempPathA reports (Windows keeps the trailing backslash). An empty
// path makes GetTempPathA fail.
void SetTempPath(const std::string& path);

// Debugger channel: one entry per OutputDebugStringA call, as passed.
const std::vector<std::string>& DebugOutput();
void ClearDebugOutput();

// File system. Paths follow the Win32 rules of the simulator (drive letters,
// backslash or slash, repeated separators, letter case ignored).
bool MakeDirectories(const std::string& path);
bool PutFile(const std::string& path, const std::string& contents,
             DWORD attributes = FILE_ATTRIBUTE_ARCHIVE);
std::optional<std::string> FileContents(const std::string& path);
bool Exists(const std::string& path);

// Accounting: handles of every kind still open, LocalAlloc blocks not freed.
size_t OpenHandleCount();
size_t LiveAllocationCount();

// Fault plan. A planned fault makes a named platform call fail with the given
// error code as Windows would report it (result and last-error value). Calls
// are counted from the last Reset; nth is 1-based.
void FailNthCall(const std::string& call, unsigned nth, DWORD error);
void FailEveryCall(const std::string& call, DWORD error);
void ClearFaults();
unsigned CallCount(const std::string& call);
// Every fallible platform call made since the last Reset, in order.
const std::vector<std::string>& CallLog();

}  // namespace winsim
