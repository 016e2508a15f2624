/*
 * peinspect: prints the version resource and the manifest of a PE file of
 * either bitness.
 *
 * Usage: peinspect.exe FILE
 *
 * Output (binary, "\n" line ends), one "Key=Value" per line:
 *   Translation=LLLLCCCC            first entry of \VarFileInfo\Translation
 *   FileDescription=...             StringFileInfo strings of that translation
 *   FileVersion=...
 *   ProductVersion=...
 *   OriginalFilename=...
 *   FixedFileVersion=a.b.c.d        VS_FIXEDFILEINFO
 *   FixedProductVersion=a.b.c.d
 *   ManifestResources=ID[,ID...]    names of every RT_MANIFEST resource
 *   ManifestBytes=N                 size of RT_MANIFEST resource 1
 *   Manifest:                       followed by exactly N bytes of it
 * Exit code: 0 when all of these were found, 1 when any is missing (each
 * missing item is named on stderr), 2 when the file cannot be read.
 */
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static HANDLE out;
static int missing;

static void write_bytes(const void *data, DWORD size)
{
    DWORD written;
    if (size) WriteFile(out, data, size, &written, NULL);
}

static void print(const char *format, ...)
{
    char text[1024];
    va_list args;
    int len;
    va_start(args, format);
    len = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (len > (int)sizeof text - 1) len = (int)sizeof text - 1;
    if (len > 0) write_bytes(text, (DWORD)len);
}

static void report_missing(const char *what)
{
    fprintf(stderr, "peinspect: missing %s\n", what);
    missing = 1;
}

static void print_version_strings(const char *file)
{
    static const char *const names[] = {"FileDescription", "FileVersion", "ProductVersion",
                                        "OriginalFilename"};
    DWORD handle = 0, size = GetFileVersionInfoSizeA(file, &handle);
    WORD *translation;
    VS_FIXEDFILEINFO *fixed;
    UINT len = 0;
    char *info;
    size_t i;

    if (!size) {
        report_missing("version resource");
        return;
    }
    info = malloc(size);
    if (!info || !GetFileVersionInfoA(file, 0, size, info)) {
        report_missing("version resource");
        free(info);
        return;
    }
    if (VerQueryValueA(info, "\\VarFileInfo\\Translation", (void **)&translation, &len) &&
        len >= 2 * sizeof(WORD)) {
        print("Translation=%04X%04X\n", translation[0], translation[1]);
        for (i = 0; i < sizeof names / sizeof names[0]; i++) {
            char key[128];
            char *value = NULL;
            UINT chars = 0;
            snprintf(key, sizeof key, "\\StringFileInfo\\%04x%04x\\%s", translation[0],
                     translation[1], names[i]);
            if (VerQueryValueA(info, key, (void **)&value, &chars) && value)
                print("%s=%.*s\n", names[i], (int)strnlen(value, chars), value);
            else
                report_missing(names[i]);
        }
    } else {
        report_missing("\\VarFileInfo\\Translation");
    }
    if (VerQueryValueA(info, "\\", (void **)&fixed, &len) && len >= sizeof *fixed &&
        fixed->dwSignature == 0xFEEF04BD) {
        print("FixedFileVersion=%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS),
              LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
              LOWORD(fixed->dwFileVersionLS));
        print("FixedProductVersion=%u.%u.%u.%u\n", HIWORD(fixed->dwProductVersionMS),
              LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
              LOWORD(fixed->dwProductVersionLS));
    } else {
        report_missing("VS_FIXEDFILEINFO");
    }
    free(info);
}

static BOOL CALLBACK list_name(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param)
{
    int *count = (int *)param;
    (void)module;
    (void)type;
    if (IS_INTRESOURCE(name))
        print("%s%u", *count ? "," : "", (unsigned)(ULONG_PTR)name);
    else
        print("%s%s", *count ? "," : "", name);
    ++*count;
    return TRUE;
}

static void print_manifest(HMODULE module)
{
    int count = 0;
    HRSRC res;
    HGLOBAL data;
    DWORD size;
    const void *bytes;

    print("ManifestResources=");
    EnumResourceNamesA(module, RT_MANIFEST, list_name, (LONG_PTR)&count);
    print("\n");

    res = FindResourceA(module, MAKEINTRESOURCEA(1), RT_MANIFEST);
    data = res ? LoadResource(module, res) : NULL;
    bytes = data ? LockResource(data) : NULL;
    size = res ? SizeofResource(module, res) : 0;
    if (!bytes) {
        report_missing("RT_MANIFEST resource 1");
        return;
    }
    print("ManifestBytes=%lu\nManifest:\n", (unsigned long)size);
    write_bytes(bytes, size);
}

int main(int argc, char **argv)
{
    HMODULE module;
    if (argc != 2) {
        fprintf(stderr, "usage: peinspect.exe FILE\n");
        return 2;
    }
    out = GetStdHandle(STD_OUTPUT_HANDLE);
    module = LoadLibraryExA(argv[1], NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        fprintf(stderr, "peinspect: cannot load %s as data file (error %lu)\n", argv[1],
                (unsigned long)GetLastError());
        return 2;
    }
    print_version_strings(argv[1]);
    print_manifest(module);
    FreeLibrary(module);
    return missing ? 1 : 0;
}
