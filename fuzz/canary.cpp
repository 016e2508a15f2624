// Makes the fault its argument names and exits 0 itself, so that only the
// sanitizer or valgrind watching it can fail the run.
#include <climits>
#include <cstdio>
#include <cstring>

namespace {

// Through a volatile pointer the compiler cannot see the fault coming.
char* volatile g_pointer = nullptr;

__attribute__((noinline)) void Leak() {
    g_pointer = new char[64];
    g_pointer[0] = 1;
    g_pointer = nullptr;
}

}  // namespace

int main(int argc, char* argv[]) {
    const char* fault = argc > 1 ? argv[1] : "";
    if (std::strcmp(fault, "heap-overflow") == 0 || std::strcmp(fault, "invalid-read") == 0) {
        g_pointer = new char[8];
        std::printf("%d\n", g_pointer[8]);
        delete[] g_pointer;
    } else if (std::strcmp(fault, "use-after-free") == 0) {
        g_pointer = new char[8];
        char* freed = g_pointer;
        delete[] freed;
        std::printf("%d\n", g_pointer[0]);
    } else if (std::strcmp(fault, "leak") == 0) {
        Leak();
    } else if (std::strcmp(fault, "signed-overflow") == 0) {
        volatile int largest = INT_MAX;
        std::printf("%d\n", largest + argc);
    } else if (std::strcmp(fault, "uninitialised") == 0) {
        g_pointer = new char[8];
        if (g_pointer[3] == 42) {
            std::printf("42\n");
        }
        delete[] g_pointer;
    }
    return 0;
}
