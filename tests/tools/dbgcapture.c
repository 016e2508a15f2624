/*
 * dbgcapture: runs a program as its debugger and records its debug strings.
 *
 * Usage: dbgcapture.exe [--exit-code-file FILE] OUTFILE PROGRAM [ARGS...]
 *
 * Every OUTPUT_DEBUG_STRING_EVENT's text is written to OUTFILE unchanged,
 * followed by one NUL byte. The exit code is the debuggee's; as Wine hands
 * only its low 8 bits to the Unix parent, --exit-code-file also writes the
 * full value in decimal. Failures of dbgcapture itself print a line starting
 * with "dbgcapture: " to stderr and exit with 255.
 */
#include "debugger_tool.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char tool_name[] = "dbgcapture";

/* Appends one argument quoted so that CommandLineToArgvW and the C runtime
 * parse it back unchanged. */
static size_t quote_arg(char *out, const char *arg)
{
    size_t n = 0;
    const char *p;
    if (*arg && !strpbrk(arg, " \t\n\v\"")) {
        size_t len = strlen(arg);
        if (out) memcpy(out, arg, len);
        return len;
    }
    if (out) out[n] = '"';
    n++;
    for (p = arg;; p++) {
        size_t backslashes = 0, i;
        while (*p == '\\') {
            backslashes++;
            p++;
        }
        if (!*p) {
            /* Backslashes before the closing quote are doubled. */
            for (i = 0; i < backslashes * 2; i++, n++)
                if (out) out[n] = '\\';
            break;
        }
        if (*p == '"') {
            for (i = 0; i < backslashes * 2 + 1; i++, n++)
                if (out) out[n] = '\\';
        } else {
            for (i = 0; i < backslashes; i++, n++)
                if (out) out[n] = '\\';
        }
        if (out) out[n] = *p;
        n++;
    }
    if (out) out[n] = '"';
    n++;
    return n;
}

static char *build_command_line(int argc, char **argv)
{
    size_t total = 1, pos = 0;
    char *line;
    int i;
    for (i = 0; i < argc; i++) total += quote_arg(NULL, argv[i]) + 1;
    line = xmalloc(total);
    for (i = 0; i < argc; i++) {
        if (i) line[pos++] = ' ';
        pos += quote_arg(line + pos, argv[i]);
    }
    line[pos] = '\0';
    return line;
}

static void usage(void)
{
    fprintf(stderr, "usage: dbgcapture.exe [--exit-code-file FILE] OUTFILE PROGRAM [ARGS...]\n");
    ExitProcess(TOOL_FAILURE);
}

int main(int argc, char **argv)
{
    const char *exit_code_file = NULL;
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    HANDLE out;
    char *command_line;
    DWORD exit_code = 0;
    struct loader_breakpoints breakpoints = {FALSE, FALSE};
    BOOL done = FALSE;
    int first = 1;

    if (argc > 2 && strcmp(argv[1], "--exit-code-file") == 0) {
        exit_code_file = argv[2];
        first = 3;
    }
    if (argc - first < 2) usage();

    out = CreateFileA(argv[first], GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, NULL);
    if (out == INVALID_HANDLE_VALUE) fail("CreateFile of OUTFILE");

    command_line = build_command_line(argc - first - 1, argv + first + 1);
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    if (!CreateProcessA(NULL, command_line, NULL, NULL, FALSE, DEBUG_ONLY_THIS_PROCESS, NULL, NULL,
                        &si, &pi))
        fail("CreateProcess");

    while (!done) {
        DEBUG_EVENT ev;
        DWORD status;
        if (!WaitForDebugEvent(&ev, INFINITE)) fail("WaitForDebugEvent");
        status = watch_event(&ev, &breakpoints);
        switch (ev.dwDebugEventCode) {
        case OUTPUT_DEBUG_STRING_EVENT:
            record_string(out, pi.hProcess, &ev.u.DebugString);
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            if (ev.dwProcessId == pi.dwProcessId) {
                exit_code = ev.u.ExitProcess.dwExitCode;
                done = TRUE;
            }
            break;
        default:
            break;
        }
        if (!ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, status)) fail("ContinueDebugEvent");
    }

    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (!CloseHandle(out)) fail("CloseHandle of OUTFILE");
    free(command_line);

    if (exit_code_file) {
        char text[16];
        int len = snprintf(text, sizeof text, "%lu\n", (unsigned long)exit_code);
        HANDLE f = CreateFileA(exit_code_file, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, NULL);
        if (f == INVALID_HANDLE_VALUE) fail("CreateFile of the exit code file");
        write_all(f, text, (DWORD)len);
        CloseHandle(f);
    }
    return (int)exit_code;
}
