// CPU time of one trace record against the simulated Windows (Google
// Benchmark). The machine keeps every record it is given (debugger channel,
// log file); it is renewed, untimed, every kBatch records.
#include "records.h"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

constexpr int64_t kBatch = 4096;

void BM_TraceRecord(benchmark::State& state, bench::RecordKind kind) {
    bench::PrepareRecords(kind);
    int64_t written = 0;
    for (auto _ : state) {
        bench::WriteRecord(kind);
        if (++written == kBatch) {
            state.PauseTiming();
            bench::PrepareRecords(kind);
            written = 0;
            state.ResumeTiming();
        }
    }
    bench::FinishRecords();
}

BENCHMARK_CAPTURE(BM_TraceRecord, log_closed, bench::RecordKind::LogClosed);
BENCHMARK_CAPTURE(BM_TraceRecord, log_open, bench::RecordKind::LogOpen);
BENCHMARK_CAPTURE(BM_TraceRecord, format_error_code, bench::RecordKind::FormatErrorCode);

}  // namespace

BENCHMARK_MAIN();
