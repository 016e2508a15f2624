// The trace records the benchmarks time and count.
#pragma once

namespace bench {

enum class RecordKind {
    LogClosed,        // a record with no log file open: debugger channel only
    LogOpen,          // a record written to the open log file too
    FormatErrorCode,  // QV_FormatErrorCode: system text and one record, log open
};

bool ParseRecordKind(const char* name, RecordKind* kind);

// A fresh machine, with the log file open unless kind is LogClosed.
void PrepareRecords(RecordKind kind);
// One record of the kind: a line as the lookups write for each sub-key.
void WriteRecord(RecordKind kind);
// Closes the log file.
void FinishRecords();

}  // namespace bench
