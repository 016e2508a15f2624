/*
 * dbgtogether: runs several programs side by side as their debugger and
 * records the debug strings of each, as dbgcapture does for one.
 *
 * Usage: dbgtogether.exe OUTFILE EXITFILE COMMAND_LINE [OUTFILE EXITFILE COMMAND_LINE]...
 *
 * COMMAND_LINE is a whole command line, as CreateProcess takes it. Each
 * program's OUTPUT_DEBUG_STRING_EVENT texts go to its OUTFILE unchanged, each
 * followed by one NUL byte; its full exit code goes to its EXITFILE in
 * decimal. Every program is held at its first debug string until each of
 * them has reached its own (or ended), so that their start-up times do not
 * set them apart; then all go on at once. Exits with 0 once all have ended;
 * failures of dbgtogether itself print a line starting with "dbgtogether: "
 * to stderr and exit with 255 (which ends the programs as well).
 */
#include "debugger_tool.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char tool_name[] = "dbgtogether";

#define MAX_PROGRAMS 16

struct program {
    const char *exit_code_file;
    HANDLE out;
    PROCESS_INFORMATION pi;
    struct loader_breakpoints breakpoints;
    BOOL arrived; /* reached its first debug string, or ended */
    BOOL held;    /* its first debug string waits for ContinueDebugEvent */
    DWORD held_thread;
    DWORD exit_code;
};

static void write_exit_code(const struct program *p)
{
    char text[16];
    int len = snprintf(text, sizeof text, "%lu\n", (unsigned long)p->exit_code);
    HANDLE f = CreateFileA(p->exit_code_file, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (f == INVALID_HANDLE_VALUE) fail("CreateFile of an EXITFILE");
    write_all(f, text, (DWORD)len);
    CloseHandle(f);
}

int main(int argc, char **argv)
{
    static struct program programs[MAX_PROGRAMS];
    int count, arrived = 0, ended = 0, i;

    if (argc < 4 || (argc - 1) % 3 != 0 || (argc - 1) / 3 > MAX_PROGRAMS) {
        fprintf(stderr, "dbgtogether: usage: dbgtogether.exe OUTFILE EXITFILE COMMAND_LINE "
                        "[OUTFILE EXITFILE COMMAND_LINE]...\n");
        ExitProcess(TOOL_FAILURE);
    }
    count = (argc - 1) / 3;

    for (i = 0; i < count; i++) {
        struct program *p = &programs[i];
        STARTUPINFOA si;
        p->exit_code_file = argv[3 * i + 2];
        p->out = CreateFileA(argv[3 * i + 1], GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, NULL);
        if (p->out == INVALID_HANDLE_VALUE) fail("CreateFile of an OUTFILE");
        memset(&si, 0, sizeof si);
        si.cb = sizeof si;
        if (!CreateProcessA(NULL, argv[3 * i + 3], NULL, NULL, FALSE, DEBUG_ONLY_THIS_PROCESS, NULL,
                            NULL, &si, &p->pi))
            fail("CreateProcess");
    }

    while (ended < count) {
        DEBUG_EVENT ev;
        DWORD status;
        BOOL hold = FALSE;
        struct program *p = NULL;
        if (!WaitForDebugEvent(&ev, INFINITE)) fail("WaitForDebugEvent");
        for (i = 0; i < count; i++)
            if (programs[i].pi.dwProcessId == ev.dwProcessId) p = &programs[i];
        status = watch_event(&ev, p ? &p->breakpoints : NULL);
        switch (ev.dwDebugEventCode) {
        case OUTPUT_DEBUG_STRING_EVENT:
            if (!p) break;
            record_string(p->out, p->pi.hProcess, &ev.u.DebugString);
            if (!p->arrived) {
                p->arrived = TRUE;
                p->held = hold = TRUE;
                p->held_thread = ev.dwThreadId;
                arrived++;
            }
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            if (!p) break;
            p->exit_code = ev.u.ExitProcess.dwExitCode;
            ended++;
            if (!p->arrived) {
                p->arrived = TRUE;
                arrived++;
            }
            break;
        default:
            break;
        }
        if (!hold && !ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, status))
            fail("ContinueDebugEvent");
        if (arrived == count) {
            /* Everyone is at the start line: let them all go. */
            for (i = 0; i < count; i++) {
                if (programs[i].held) {
                    programs[i].held = FALSE;
                    if (!ContinueDebugEvent(programs[i].pi.dwProcessId, programs[i].held_thread,
                                            DBG_CONTINUE))
                        fail("ContinueDebugEvent");
                }
            }
        }
    }

    for (i = 0; i < count; i++) {
        struct program *p = &programs[i];
        CloseHandle(p->pi.hThread);
        CloseHandle(p->pi.hProcess);
        if (!CloseHandle(p->out)) fail("CloseHandle of an OUTFILE");
        write_exit_code(p);
    }
    return 0;
}
