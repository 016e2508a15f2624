// Times the program's own trace records on Windows (Wine): COUNT records
// with the log file closed, then COUNT with it open, and for comparison
// COUNT OutputDebugStringA calls alone with the same record's text. Prints
//   closed NANOSECONDS_PER_RECORD
//   open NANOSECONDS_PER_RECORD
//   debug_output_only NANOSECONDS_PER_CALL
// Usage: wine_records.exe COUNT LOGFILE
#include "common.h"

#include <cstdio>
#include <cstdlib>

namespace {

double Seconds() {
    LARGE_INTEGER counter;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double NanosecondsPerRecord(int count) {
    const double start = Seconds();
    for (int i = 0; i < count; ++i) {
        QV_WriteLog("uninstall", 170, "QV_GetOEMInfFileName", "[%d] Key=[%s] MatchingDeviceId=[%s]\n", 1234, "1234",
                    "pci\\ven_10de&dev_1c82");
    }
    return (Seconds() - start) * 1e9 / count;
}

double NanosecondsPerDebugOutput(int count) {
    const char record[] =
        "2021/03/02 09:05:03:007,INSTx64,170,0,QV_GetOEMInfFileName,[1234] Key=[1234] "
        "MatchingDeviceId=[pci\\ven_10de&dev_1c82]\n";
    const double start = Seconds();
    for (int i = 0; i < count; ++i) OutputDebugStringA(record);
    return (Seconds() - start) * 1e9 / count;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 3 || std::atoi(argv[1]) <= 0) {
        std::fprintf(stderr, "usage: wine_records.exe COUNT LOGFILE\n");
        return 2;
    }
    const int count = std::atoi(argv[1]);
    std::printf("closed %.0f\n", NanosecondsPerRecord(count));
    if (!QV_OpenLogFile(argv[2])) return 1;
    std::printf("open %.0f\n", NanosecondsPerRecord(count));
    QV_CloseLogFile();
    std::printf("debug_output_only %.0f\n", NanosecondsPerDebugOutput(count));
    return 0;
}
