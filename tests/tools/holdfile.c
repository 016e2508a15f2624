/*
 * holdfile: keeps a file open, shared for reading and writing but not for
 * deletion, so that another process cannot delete it meanwhile.
 *
 * Usage: holdfile.exe FILE READY RELEASE
 *
 * Opens FILE, then creates the file READY to tell that it holds FILE, and
 * waits until the file RELEASE exists; then closes FILE and exits with 0.
 * Exits with 2 when FILE cannot be opened, 3 when READY cannot be created,
 * 4 when RELEASE does not appear within WAIT_LIMIT_MS; failures print a line
 * starting with "holdfile: " to stderr.
 */
#include <windows.h>
#include <stdio.h>

#define WAIT_LIMIT_MS 300000
#define POLL_MS 20

static int fail(const char *what, const char *path, int code)
{
    fprintf(stderr, "holdfile: %s %s failed (error %lu)\n", what, path, (unsigned long)GetLastError());
    fflush(stderr);
    return code;
}

int main(int argc, char **argv)
{
    HANDLE file, ready;
    DWORD waited;
    if (argc != 4) {
        fprintf(stderr, "holdfile: usage: holdfile.exe FILE READY RELEASE\n");
        return 1;
    }
    file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return fail("opening", argv[1], 2);

    ready = CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (ready == INVALID_HANDLE_VALUE) return fail("creating", argv[2], 3);
    CloseHandle(ready);

    for (waited = 0; GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES; waited += POLL_MS) {
        if (waited >= WAIT_LIMIT_MS) {
            fprintf(stderr, "holdfile: %s did not appear\n", argv[3]);
            return 4;
        }
        Sleep(POLL_MS);
    }
    CloseHandle(file);
    return 0;
}
