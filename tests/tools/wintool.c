/*
 * wintool: the Windows side of the tests that run the programs under Wine.
 *
 *   wintool.exe capture [--hold FILE] OUTFILE COMMANDLINE
 *     Runs COMMANDLINE as its debugger. OUTFILE gets the text of each debug
 *     string followed by a NUL byte, then the debuggee's full exit code in
 *     decimal (Wine hands only its low 8 bits to the Unix side). --hold keeps
 *     FILE open meanwhile, shared for reading and writing but not deletion.
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
    HANDLE held = NULL;
    FILE *out;
    BOOL done = FALSE;
    if (argc == 6 && strcmp(argv[2], "--hold") == 0) {
        held = CreateFileA(argv[3], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, 0, NULL);
        if (held == INVALID_HANDLE_VALUE) return fail("opening the file to hold");
        argv += 2;
    } else if (argc != 4) {
        return fail("usage");
    }
    si.cb = sizeof si;
    if (!(out = fopen(argv[2], "wb"))) return fail("creating OUTFILE");
    if (!CreateProcessA(NULL, argv[3], NULL, NULL, FALSE, DEBUG_ONLY_THIS_PROCESS, NULL, NULL,
                        &si, &pi))
        return fail("CreateProcess");
    while (!done) {
        DEBUG_EVENT ev;
        DWORD status = DBG_CONTINUE;
        if (!WaitForDebugEvent(&ev, INFINITE)) return fail("WaitForDebugEvent");
        if (ev.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
            CloseHandle(ev.u.CreateProcessInfo.hFile);
        } else if (ev.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
            CloseHandle(ev.u.LoadDll.hFile);
        } else if (ev.dwDebugEventCode == EXCEPTION_DEBUG_EVENT) {
            /* The loader's breakpoints (one more under WOW64) are ours. */
            DWORD code = ev.u.Exception.ExceptionRecord.ExceptionCode;
            if (code != EXCEPTION_BREAKPOINT && code != 0x4000001F) status = DBG_EXCEPTION_NOT_HANDLED;
        } else if (ev.dwDebugEventCode == OUTPUT_DEBUG_STRING_EVENT) {
            OUTPUT_DEBUG_STRING_INFO *s = &ev.u.DebugString;
            SIZE_T size = (SIZE_T)s->nDebugStringLength * (s->fUnicode ? 2 : 1), got = 0;
            char *text = calloc(size + 2, 1);
            if (!text || !ReadProcessMemory(pi.hProcess, s->lpDebugStringData, text, size, &got))
                return fail("reading a debug string");
            if (s->fUnicode)
                fprintf(out, "%ls%c", (wchar_t *)text, 0);
            else
                fprintf(out, "%s%c", text, 0);
            free(text);
        } else if (ev.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
            fprintf(out, "%lu", (unsigned long)ev.u.ExitProcess.dwExitCode);
            done = TRUE;
        }
        if (!ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, status)) return fail("ContinueDebugEvent");
    }
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
