"""Runs every benchmark and prints one table with the targets checked.

Usage: run_bench.py --build BENCH_BUILD --wine64 WINE64 --template PREFIX
                    --package DIR [--runs N] [--sweep-runs N] [--no-wine]

Parts (see README "Performance"):
- trace records against winsim: CPU time (Google Benchmark, dravmel_bench)
  and instructions (callgrind on dravmel_count: COUNT and 2*COUNT records,
  the difference per record; WriteFile's own share taken out);
- "/A" and "/R" against winsim at growing sizes: CPU time (dravmel_sweep,
  median of runs) and instructions (callgrind on dravmel_count); for each
  operation the functions whose own cost grows most;
- the untraced program's platform calls checked against the program's
  (dravmel_calls);
- "/A" and "/R" under Wine (wine_bench.py).
Exits 1 when a target is missed, 2 when a part could not run.
"""

import argparse
import json
import os
import re
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
RECORD_COUNT = 1000  # callgrind: RECORD_COUNT and 2 * RECORD_COUNT records
SIZES = (10, 1000, 10000)
RECORD_LIMIT = 20000  # instructions per record outside the file system call
WINE_LIMIT = 1.10  # the program's time over the untraced program's
GROWTH_LIMIT = 12.0  # from 1,000 to 10,000 devices and sub-keys
CALLGRIND = ["valgrind", "--tool=callgrind", "--instr-atstart=no", "--collect-atstart=no"]
KINDS = (("closed", "trace record, log closed"), ("open", "trace record, log open"),
         ("format", "QV_FormatErrorCode, log open"))
OPERATIONS = (("install", '"/A"'), ("remove", '"/R"'))


class PartFailed(Exception):
    pass


def run(argv, **kwargs):
    proc = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, **kwargs)
    if proc.returncode != 0:
        raise PartFailed("%s failed (%d): %s" % (" ".join(argv), proc.returncode, proc.stderr.strip()[-2000:]))
    return proc.stdout


def progress(text):
    print("== " + text, file=sys.stderr, flush=True)


# -- callgrind ------------------------------------------------------------------

def callgrind_total(path):
    with open(path) as f:
        for line in f:
            if line.startswith("totals:"):
                return int(line.split()[1])
    raise PartFailed("no totals in %s" % path)


def callgrind_functions(path, inclusive):
    """{function: instructions} from callgrind_annotate, own or inclusive cost."""
    out = run(["callgrind_annotate", "--threshold=100", "--inclusive=" + ("yes" if inclusive else "no"), path])
    costs = {}
    for line in out.splitlines():
        match = re.match(r"^\s*([\d,]+) \(\s*[\d.]+%\)\s+(.+?)(?: \[[^\]]*\])?$", line)
        if not match or "PROGRAM TOTALS" in line:
            continue
        label = match.group(2)
        name = re.sub(r"^[^:]*:(?!:)", "", label, count=1)
        costs[name] = costs.get(name, 0) + int(match.group(1).replace(",", ""))
    return costs


def short_name(name):
    return re.sub(r"\(.*$", "", name).replace("winsim::detail::", "").replace("(anonymous namespace)::", "")


def cost_of(costs, function):
    return sum(v for k, v in costs.items() if re.match(r"^%s\(" % re.escape(function), k))


def count_records(build, tmp):
    """{kind: {"total": instr. per record, "writefile": of which in WriteFile}}."""
    result = {}
    for kind, _ in KINDS:
        totals, writefile = [], []
        for count in (RECORD_COUNT, 2 * RECORD_COUNT):
            out = os.path.join(tmp, "records.%s.%d" % (kind, count))
            run(CALLGRIND + ["--callgrind-out-file=" + out, os.path.join(build, "dravmel_count"), "records", kind,
                             str(count)])
            totals.append(callgrind_total(out))
            writefile.append(cost_of(callgrind_functions(out, inclusive=True), "WriteFile"))
        result[kind] = {"total": (totals[1] - totals[0]) / RECORD_COUNT,
                        "writefile": (writefile[1] - writefile[0]) / RECORD_COUNT}
    return result


def count_sweep(build, tmp):
    """{op: {size: {"total": instr., "own": {function: instr.}}}}."""
    result = {op: {} for op, _ in OPERATIONS}
    for size in SIZES:
        pattern = os.path.join(tmp, "sweep.%d.%%p" % size)
        out = run(CALLGRIND + ["--callgrind-out-file=" + pattern, os.path.join(build, "dravmel_count"), "sweep",
                               str(size)])
        for line in out.splitlines():
            op, pid = line.split()
            path = pattern.replace("%p", pid)
            result[op][size] = {"total": callgrind_total(path), "own": callgrind_functions(path, inclusive=False)}
    return result


# -- CPU time ---------------------------------------------------------------------

def time_records(build, tmp):
    """{kind: median CPU seconds per record} from Google Benchmark."""
    out = os.path.join(tmp, "records.json")
    run([os.path.join(build, "dravmel_bench"), "--benchmark_min_time=0.3", "--benchmark_repetitions=5",
         "--benchmark_report_aggregates_only=true", "--benchmark_format=json", "--benchmark_out=" + out,
         "--benchmark_out_format=json"])
    with open(out) as f:
        data = json.load(f)
    names = {"BM_TraceRecord/log_closed": "closed", "BM_TraceRecord/log_open": "open",
             "BM_TraceRecord/format_error_code": "format"}
    result = {}
    for entry in data["benchmarks"]:
        if entry.get("aggregate_name") == "median" and entry["run_name"] in names:
            scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[entry["time_unit"]]
            result[names[entry["run_name"]]] = entry["cpu_time"] * scale
    if len(result) != len(names):
        raise PartFailed("dravmel_bench reported %r" % sorted(result))
    return result


def time_sweep(build, runs):
    """{op: {size: median CPU seconds}}."""
    times = {op: {} for op, _ in OPERATIONS}
    for size in SIZES:
        out = run([os.path.join(build, "dravmel_sweep"), str(size), str(runs)])
        for line in out.splitlines():
            op, _, seconds = line.split()
            times[op].setdefault(size, []).append(float(seconds))
    return {op: {size: statistics.median(v) for size, v in by_size.items()} for op, by_size in times.items()}


# -- report -----------------------------------------------------------------------

def fmt_time(seconds):
    if seconds < 1e-3:
        return "%.2f µs" % (seconds * 1e6)
    if seconds < 1:
        return "%.2f ms" % (seconds * 1e3)
    return "%.3f s" % seconds


def fmt_count(n):
    if n >= 1e6:
        return "%.1f M" % (n / 1e6)
    return "{:,.0f}".format(n)


def growth_evidence(own_small, own_large, top=2):
    """The functions whose own cost grew most, as text."""
    growth = []
    for name, large in own_large.items():
        small = own_small.get(name, 0)
        growth.append((large - small, name, small, large))
    growth.sort(reverse=True)
    parts = []
    for delta, name, small, large in growth[:top]:
        factor = ("×%.0f" % (large / small)) if small else "new"
        parts.append("%s %s→%s (%s)" % (short_name(name), fmt_count(small), fmt_count(large), factor))
    return "; ".join(parts)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True, help="the bench preset's build folder")
    parser.add_argument("--wine64", default="/usr/lib/wine/wine64")
    parser.add_argument("--template", help="the Wine template prefix")
    parser.add_argument("--package", default=os.path.join(HERE, "..", "sample", "x64"))
    parser.add_argument("--runs", type=int, default=7, help="timed runs per program under Wine")
    parser.add_argument("--sweep-runs", type=int, default=5, help="timed runs per size against winsim")
    parser.add_argument("--no-wine", action="store_true")
    options = parser.parse_args()
    build = os.path.join(options.build, "bench")

    with tempfile.TemporaryDirectory(prefix="dravmel-bench-") as tmp:
        progress("untraced program: same platform calls as the program (winsim)")
        calls = run([os.path.join(build, "dravmel_calls"), "10"]).strip()
        print(calls, file=sys.stderr)
        progress("trace records: CPU time (Google Benchmark)")
        record_time = time_records(build, tmp)
        progress("trace records: instructions (callgrind)")
        record_count = count_records(build, tmp)
        progress('"/A" and "/R" at %s: CPU time' % ", ".join(map(str, SIZES)))
        sweep_time = time_sweep(build, options.sweep_runs)
        progress('"/A" and "/R" at %s: instructions (callgrind)' % ", ".join(map(str, SIZES)))
        sweep_count = count_sweep(build, tmp)
        wine = None
        if not options.no_wine:
            progress("under Wine: %d runs of each program" % options.runs)
            wine_json = os.path.join(tmp, "wine.json")
            subprocess.run([sys.executable, "-B", os.path.join(HERE, "wine_bench.py"), "--wine64", options.wine64,
                            "--template", options.template, "--windows-build", os.path.join(build, "windows"),
                            "--package", options.package, "--runs", str(options.runs), "--json", wine_json],
                           check=True, stdin=subprocess.DEVNULL, stdout=sys.stderr)
            with open(wine_json) as f:
                wine = json.load(f)

    rows = []
    failed = []

    def row(measurement, time_text, instructions, target="", ok=None):
        result = "" if ok is None else ("PASS" if ok else "FAIL")
        if ok is False:
            failed.append(measurement)
        rows.append((measurement, time_text, instructions, target, result))

    for kind, label in KINDS:
        count = record_count[kind]
        outside = count["total"] - count["writefile"]
        instructions = fmt_count(outside)
        if count["writefile"]:
            instructions += " (+ %s in WriteFile)" % fmt_count(count["writefile"])
        row(label + " (winsim)", fmt_time(record_time[kind]), instructions,
            "< %s instructions outside WriteFile" % fmt_count(RECORD_LIMIT), outside < RECORD_LIMIT)

    for op, label in OPERATIONS:
        for i, size in enumerate(SIZES):
            t = sweep_time[op][size]
            n = sweep_count[op][size]["total"]
            time_text, count_text = fmt_time(t), fmt_count(n)
            target, ok = "", None
            if i > 0:
                previous = SIZES[i - 1]
                time_growth = t / sweep_time[op][previous]
                count_growth = n / sweep_count[op][previous]["total"]
                time_text += " (×%.1f)" % time_growth
                count_text += " (×%.1f)" % count_growth
                if size == 10000 and previous == 1000:
                    target = "growth 1,000→10,000 ≤ %g (instructions)" % GROWTH_LIMIT
                    ok = count_growth <= GROWTH_LIMIT
            row("%s, %s devices and sub-keys (winsim)" % (label, "{:,}".format(size)), time_text, count_text,
                target, ok)
        row("%s, own cost that grew most 1,000→10,000" % label, "", growth_evidence(
            sweep_count[op][1000]["own"], sweep_count[op][10000]["own"]))

    if wine:
        for op, label in OPERATIONS:
            w = wine[op]
            program, untraced, nothing = (w[name]["median"] for name in ("program", "untraced", "nothing"))
            ratio = program / untraced
            spread = "%s–%s" % (fmt_time(min(w["program"]["seconds"])), fmt_time(max(w["program"]["seconds"])))
            row("%s of the sample package under Wine: program / untraced / nothing (wall)" % label,
                "%s / %s / %s" % (fmt_time(program), fmt_time(untraced), fmt_time(nothing)),
                "×%.2f untraced, ×%.1f nothing (program's runs: %s)" % (ratio, program / nothing, spread),
                "≤ %.2f × untraced" % WINE_LIMIT, ratio <= WINE_LIMIT)
            cpu = [w[name]["cpu_median"] for name in ("program", "untraced", "nothing")]
            row("%s under Wine: CPU time of the Wine session, program / untraced / nothing" % label,
                " / ".join(fmt_time(c) for c in cpu), "×%.2f untraced" % (cpu[0] / cpu[1]))
            for name, what in (("program", "program"), ("untraced_user32", "untraced importing user32.dll")):
                switches = [w[n]["context_switches_median"] for n in (name, "untraced")]
                faults = [w[n]["page_faults_median"] for n in (name, "untraced")]
                row("%s under Wine: the process's context switches / page faults, %s vs untraced" % (label, what),
                    fmt_time(w[name]["median"]) if name != "program" else "",
                    "%s vs %s (×%.2f) / %s vs %s (×%.2f)" % (fmt_count(switches[0]), fmt_count(switches[1]),
                                                             switches[0] / switches[1], fmt_count(faults[0]),
                                                             fmt_count(faults[1]), faults[0] / faults[1]))
        ns = wine["record_ns"]
        record_seconds = ns["open"]["median"] * 1e-9
        row("trace record under Wine, log open / closed / OutputDebugStringA alone",
            "%s / %s / %s" % (fmt_time(record_seconds), fmt_time(ns["closed"]["median"] * 1e-9),
                              fmt_time(ns["debug_output_only"]["median"] * 1e-9)), "")
        for op, label in OPERATIONS:
            records = wine[op]["records"]
            estimate = records * record_seconds
            row("%s under Wine: records written × cost of one" % label,
                "%d × %s = %s" % (records, fmt_time(record_seconds), fmt_time(estimate)),
                "%.1f%% of the untraced run" % (100 * estimate / wine[op]["untraced"]["median"]))

    headers = ("measurement", "time (median)", "instructions", "target", "result")
    widths = [max(len(str(r[i])) for r in rows + [headers]) for i in range(len(headers))]
    print("| " + " | ".join(h.ljust(w) for h, w in zip(headers, widths)) + " |")
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for r in rows:
        print("| " + " | ".join(str(c).ljust(w) for c, w in zip(r, widths)) + " |")
    print()
    print(calls.replace("\n", "; "))
    if failed:
        print("%d target(s) missed: %s" % (len(failed), "; ".join(failed)))
        return 1
    print("every target met")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (PartFailed, subprocess.CalledProcessError) as e:
        print("run_bench: %s" % e, file=sys.stderr)
        sys.exit(2)
