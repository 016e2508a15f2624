/*
 * Shared by the debugger tools (dbgcapture, dbgtogether): their failure
 * exits and the recording of a debuggee's debug strings.
 */
#ifndef DEBUGGER_TOOL_H
#define DEBUGGER_TOOL_H

#include <windows.h>
#include <stddef.h>

#ifndef STATUS_WX86_BREAKPOINT
#define STATUS_WX86_BREAKPOINT ((DWORD)0x4000001F)
#endif

/* The exit code of a tool's own failures. */
#define TOOL_FAILURE 255

/* Each tool defines its name, which begins its messages on stderr. */
extern const char tool_name[];

/* Prints "NAME: WHAT failed (error N)" and exits with TOOL_FAILURE. */
void fail(const char *what);
/* malloc that exits with TOOL_FAILURE when out of memory. */
void *xmalloc(size_t n);
/* Writes all of data or fails. */
void write_all(HANDLE file, const void *data, DWORD size);
/* The loader's initial breakpoints in a debuggee (one per architecture for
 * a WOW64 debuggee): each is the debugger's, once. */
struct loader_breakpoints {
    BOOL seen, seen_wx86;
};

/* What a debugger that only watches does with any event first: closes the
 * file handles the event hands over and returns how to continue it:
 * DBG_CONTINUE, or DBG_EXCEPTION_NOT_HANDLED for an exception other than a
 * loader breakpoint (for breakpoints NULL: any exception), which leaves it
 * to the debuggee. */
DWORD watch_event(const DEBUG_EVENT *ev, struct loader_breakpoints *breakpoints);

/* Writes one OUTPUT_DEBUG_STRING_EVENT's text to out unchanged (a Unicode
 * one in the ANSI code page), followed by one NUL byte. */
void record_string(HANDLE out, HANDLE process, const OUTPUT_DEBUG_STRING_INFO *info);

#endif
