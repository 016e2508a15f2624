/*
 * wintool: the Windows side of the tests that run the programs under Wine.
 *
 *   wintool.exe capture [--hold FILE] [--end-after TEXT] OUTFILE COMMANDLINE
 *     Runs COMMANDLINE and listens to its debug output as a debug-output
 *     monitor does (no debugger: Wine does not pass a 32-bit program's
 *     strings to a debugger under WoW64). OUTFILE gets the text of each
 *     string followed by a NUL byte, then the program's full exit code in
 *     decimal (Wine hands only its low 8 bits to the Unix side). --hold keeps
 *     FILE open meanwhile, shared for reading and writing but not deletion.
 *     --end-after ends the program (exit code 1) in the debug output that
 *     follows the first string holding TEXT.
 *
 * The tool's own failures print "wintool: ..." to stderr and exit with 255.
 */
#include <windows.h>
#include <stdio.h>
#include <string.h>

static int fail(const char *what)
{
    fprintf(stderr, "wintool: %s failed (error %lu)\n", what, (unsigned long)GetLastError());
    return 255;
}

static int capture(int argc, char **argv)
{
    STARTUPINFOA si = {0};
    PROCESS_INFORMATION pi;
    HANDLE held = NULL, map, buffer_ready, data_ready, waits[2];
    struct { DWORD pid; char text[4092]; } *view;
    const char *end_after = NULL;
    DWORD code;
    FILE *out;
    for (; argc > 4 && strncmp(argv[2], "--", 2) == 0; argc -= 2, argv += 2) {
        if (strcmp(argv[2], "--end-after") == 0) {
            end_after = argv[3];
        } else if (strcmp(argv[2], "--hold") == 0) {
            held = CreateFileA(argv[3], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                               OPEN_EXISTING, 0, NULL);
            if (held == INVALID_HANDLE_VALUE) return fail("opening the file to hold");
        } else {
            return fail("usage");
        }
    }
    if (argc != 4) return fail("usage");
    /* The debug-output monitor's buffer and its two events, which
     * OutputDebugStringA writes to when no debugger is attached. */
    map = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, sizeof *view, "DBWIN_BUFFER");
    buffer_ready = CreateEventA(NULL, FALSE, TRUE, "DBWIN_BUFFER_READY");
    data_ready = CreateEventA(NULL, FALSE, FALSE, "DBWIN_DATA_READY");
    if (!map || !buffer_ready || !data_ready || !(view = MapViewOfFile(map, FILE_MAP_READ, 0, 0, 0)))
        return fail("making the debug-output buffer");
    si.cb = sizeof si;
    if (!(out = fopen(argv[2], "wb"))) return fail("creating OUTFILE");
    if (!CreateProcessA(NULL, argv[3], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
        return fail("CreateProcess");
    waits[0] = data_ready;
    waits[1] = pi.hProcess;
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
        BOOL mine = view->pid == pi.dwProcessId;
        if (mine) fprintf(out, "%.*s%c", (int)sizeof view->text, view->text, 0);
        if (mine && end_after && strstr(view->text, end_after)) {
            /* Left waiting for the buffer, it stops in its next debug output, and ends there. */
            Sleep(2000);
            TerminateProcess(pi.hProcess, 1);
        } else {
            SetEvent(buffer_ready);
        }
    }
    if (!GetExitCodeProcess(pi.hProcess, &code)) return fail("GetExitCodeProcess");
    fprintf(out, "%lu", (unsigned long)code);
    if (held) CloseHandle(held);
    return fclose(out) ? fail("writing OUTFILE") : 0;
}

int main(int argc, char **argv)
{
    if (argc >= 2 && strcmp(argv[1], "capture") == 0) return capture(argc, argv);
    return fail("usage");
}
