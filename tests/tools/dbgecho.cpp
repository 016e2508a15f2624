// dbgecho: a debuggee for testing dbgcapture.
//
// Usage: dbgecho.exe EXITCODE [ITEM...]
// Sends each ITEM with OutputDebugStringA, in order, then exits with
// EXITCODE (decimal, full 32 bits). Two items act instead:
//   --raise  raises an exception that its own vectored handler resolves,
//            then sends "handled" if that handler saw it, else "unseen"
//   --crash  writes through a null pointer (an unhandled access violation)
#include <windows.h>
#include <cstdlib>
#include <cstring>

namespace {

const DWORD kOwnException = 0xE0DBEC01;
volatile LONG g_handled = 0;

LONG CALLBACK ResolveOwnException(EXCEPTION_POINTERS *pointers)
{
    if (pointers->ExceptionRecord->ExceptionCode != kOwnException) return EXCEPTION_CONTINUE_SEARCH;
    InterlockedIncrement(&g_handled);
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2) return 2;
    AddVectoredExceptionHandler(1, ResolveOwnException);
    for (int i = 2; i < argc; i++) {
        if (std::strcmp(argv[i], "--raise") == 0) {
            LONG before = g_handled;
            RaiseException(kOwnException, 0, 0, nullptr);
            OutputDebugStringA(g_handled != before ? "handled" : "unseen");
        } else if (std::strcmp(argv[i], "--crash") == 0) {
            int *volatile target = nullptr;
            *target = 1;
        } else {
            OutputDebugStringA(argv[i]);
        }
    }
    return static_cast<int>(std::strtoul(argv[1], nullptr, 10));
}
