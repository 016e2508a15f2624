#include "records.h"

#include "common.h"

#include <winsim/machine.h>

#include <cstring>

namespace bench {

bool ParseRecordKind(const char* name, RecordKind* kind) {
    if (std::strcmp(name, "closed") == 0) {
        *kind = RecordKind::LogClosed;
    } else if (std::strcmp(name, "open") == 0) {
        *kind = RecordKind::LogOpen;
    } else if (std::strcmp(name, "format") == 0) {
        *kind = RecordKind::FormatErrorCode;
    } else {
        return false;
    }
    return true;
}

void PrepareRecords(RecordKind kind) {
    QV_CloseLogFile();
    winsim::Reset();
    if (kind != RecordKind::LogClosed) QV_OpenLogFile("C:\\Users\\user\\AppData\\Local\\Temp\\QVDRAVMEL.LOG");
}

void WriteRecord(RecordKind kind) {
    if (kind == RecordKind::FormatErrorCode) {
        QV_FormatErrorCode(ERROR_FILE_NOT_FOUND);
    } else {
        QV_WriteLog("uninstall", 170, "QV_GetOEMInfFileName", "[%d] Key=[%s] MatchingDeviceId=[%s]\n", 1234, "1234",
                    "pci\\ven_10de&dev_1c82");
    }
}

void FinishRecords() { QV_CloseLogFile(); }

}  // namespace bench
