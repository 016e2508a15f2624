#include "debugger_tool.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

void fail(const char *what)
{
    fprintf(stderr, "%s: %s failed (error %lu)\n", tool_name, what, (unsigned long)GetLastError());
    fflush(stderr);
    ExitProcess(TOOL_FAILURE);
}

void *xmalloc(size_t n)
{
    void *p = malloc(n ? n : 1);
    if (!p) {
        fprintf(stderr, "%s: out of memory\n", tool_name);
        ExitProcess(TOOL_FAILURE);
    }
    return p;
}

void write_all(HANDLE file, const void *data, DWORD size)
{
    DWORD written;
    if (size && (!WriteFile(file, data, size, &written, NULL) || written != size)) fail("WriteFile");
}

/* Copies one debug string out of the debuggee, up to its terminating NUL. */
void record_string(HANDLE out, HANDLE process, const OUTPUT_DEBUG_STRING_INFO *info)
{
    static const char separator = '\0';
    SIZE_T units = info->nDebugStringLength;
    SIZE_T bytes = units * (info->fUnicode ? sizeof(WCHAR) : 1);
    SIZE_T got = 0;
    char *raw = xmalloc(bytes);
    if (!ReadProcessMemory(process, info->lpDebugStringData, raw, bytes, &got) || got != bytes)
        fprintf(stderr, "%s: ReadProcessMemory of %lu bytes got %lu (error %lu)\n",
                tool_name, (unsigned long)bytes, (unsigned long)got, (unsigned long)GetLastError());
    if (info->fUnicode) {
        const WCHAR *w = (const WCHAR *)raw;
        int wlen = 0, alen;
        char *text;
        while ((SIZE_T)wlen < got / sizeof(WCHAR) && w[wlen]) wlen++;
        alen = wlen ? WideCharToMultiByte(CP_ACP, 0, w, wlen, NULL, 0, NULL, NULL) : 0;
        text = xmalloc((size_t)alen);
        if (alen) WideCharToMultiByte(CP_ACP, 0, w, wlen, text, alen, NULL, NULL);
        write_all(out, text, (DWORD)alen);
        free(text);
    } else {
        const char *end = memchr(raw, '\0', got);
        write_all(out, raw, (DWORD)(end ? (SIZE_T)(end - raw) : got));
    }
    write_all(out, &separator, 1);
    free(raw);
}

DWORD watch_event(const DEBUG_EVENT *ev, struct loader_breakpoints *breakpoints)
{
    switch (ev->dwDebugEventCode) {
    case CREATE_PROCESS_DEBUG_EVENT:
        if (ev->u.CreateProcessInfo.hFile) CloseHandle(ev->u.CreateProcessInfo.hFile);
        break;
    case LOAD_DLL_DEBUG_EVENT:
        if (ev->u.LoadDll.hFile) CloseHandle(ev->u.LoadDll.hFile);
        break;
    case EXCEPTION_DEBUG_EVENT: {
        DWORD code = ev->u.Exception.ExceptionRecord.ExceptionCode;
        if (breakpoints && code == EXCEPTION_BREAKPOINT && !breakpoints->seen)
            breakpoints->seen = TRUE;
        else if (breakpoints && code == STATUS_WX86_BREAKPOINT && !breakpoints->seen_wx86)
            breakpoints->seen_wx86 = TRUE;
        else
            return DBG_EXCEPTION_NOT_HANDLED;
        break;
    }
    default:
        break;
    }
    return DBG_CONTINUE;
}
