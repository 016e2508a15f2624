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
 *   wintool.exe version FILE
 *     Prints FILE's version strings and fixed versions ("Name=value" lines),
 *     the number of its manifest resources and then the first manifest.
 *
 * The tool's own failures print "wintool: ..." to stderr and exit with 255.
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
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

static BOOL CALLBACK count_language(HMODULE module, LPCSTR type, LPCSTR name, WORD lang, LONG_PTR n)
{
    (void)module, (void)type, (void)name, (void)lang;
    return ++*(int *)n > 0;
}

static BOOL CALLBACK count_languages(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR n)
{
    return EnumResourceLanguagesA(module, type, name, count_language, n);
}

static int version(const char *file)
{
    static const char *const names[] = {"FileDescription", "OriginalFilename", "FileVersion",
                                        "ProductVersion"};
    DWORD size = GetFileVersionInfoSizeA(file, NULL);
    char *info = malloc(size ? size : 1), *value, key[80];
    WORD *lang;
    VS_FIXEDFILEINFO *fixed;
    UINT len, i;
    int manifests = 0;
    HMODULE module = LoadLibraryExA(file, NULL, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC res = module ? FindResourceA(module, MAKEINTRESOURCEA(1), RT_MANIFEST) : NULL;
    if (!res || !GetFileVersionInfoA(file, 0, size, info) ||
        !VerQueryValueA(info, "\\VarFileInfo\\Translation", (void **)&lang, &len) ||
        !VerQueryValueA(info, "\\", (void **)&fixed, &len))
        return fail("reading the resources");
    for (i = 0; i < sizeof names / sizeof names[0]; i++) {
        snprintf(key, sizeof key, "\\StringFileInfo\\%04x%04x\\%s", lang[0], lang[1], names[i]);
        if (VerQueryValueA(info, key, (void **)&value, &len)) printf("%s=%.*s\n", names[i], (int)len, value);
    }
    printf("FixedFileVersion=%u.%u.%u.%u\nFixedProductVersion=%u.%u.%u.%u\n",
           HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
           HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS),
           HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
           HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS));
    EnumResourceNamesA(module, RT_MANIFEST, count_languages, (LONG_PTR)&manifests);
    printf("Manifests=%d\n", manifests);
    fwrite(LockResource(LoadResource(module, res)), 1, SizeofResource(module, res), stdout);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc >= 2 && strcmp(argv[1], "capture") == 0) return capture(argc, argv);
    if (argc == 3 && strcmp(argv[1], "version") == 0) return version(argv[2]);
    return fail("usage");
}
