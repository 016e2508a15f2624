// The untraced program is the program's own objects linked with these in
// place of its trace (-Wl,--wrap in CMakeLists.txt): no log file, no records,
// no debugger lines, no error texts. The names are the functions' linker
// names; DWORD is unsigned long with MinGW-w64 and unsigned int in winsim.
#include "common.h"

extern "C" {

void __wrap__Z11QV_WriteLogPKciS0_S0_z(LPCSTR, int, LPCSTR, LPCSTR, ...) {}
void __wrap__Z13QV_DebugPrintPKcz(LPCSTR, ...) {}
BOOL __wrap__Z14QV_OpenLogFilePKc(LPCSTR) { return TRUE; }
void __wrap__Z15QV_CloseLogFilev() {}
void __wrap__Z15QV_DisplayErrorPKc(LPCSTR) {}
#ifdef _WIN32
void __wrap__Z18QV_FormatErrorCodem(DWORD) {}
#else
void __wrap__Z18QV_FormatErrorCodej(DWORD) {}
#endif

}
