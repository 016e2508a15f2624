#!/usr/bin/env python3
# Measures what README "Performance" describes and prints its table; exits 1
# when a target is missed, 2 when a measurement could not be made.
# Usage: bench.py BUILD WINE64 TEMPLATE PACKAGE [--rounds N] [--no-wine]
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

RECORDS, RECORD_LIMIT = 1000, 20000
SIZES, GROWTH_LIMIT = (1000, 10000), 12
WINE_LIMIT = 1.10
# Platform calls of the log file; an error's text is FormatMessageA and the
# LocalFree of what it returned.
LOG_CALLS = {"CreateFileA", "SetFilePointer", "WriteFile", "CloseHandle"}
CALL_CASES = (("install", '"/A"'), ("remove", '"/R"'), ("remove-nothing", '"/R" with nothing installed'))
OPERATIONS = (("install", '"/A"', ["/A", "/S:C:\\Dravmel\\package"]), ("remove", '"/R"', ["/R"]))
PROGRAMS = ("Dravmelx64.exe", "untraced.exe")
# Wine keeps these volatile, Windows does not; the package adds keys below them.
VIDEO_KEYS = ("System\\CurrentControlSet\\Control\\Video", "System\\CurrentControlSet\\Hardware Profiles\\"
              "Current\\System\\CurrentControlSet\\Control\\Video")
SETTLE_SECONDS = 1.5  # Wine goes on starting services after a session's first program
RUN_SECONDS = 120  # a run still going then is killed


def fail(message):
    print("bench: " + message, file=sys.stderr)
    sys.exit(2)


def run(argv):
    proc = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if proc.returncode != 0:
        fail("%s ended with %d: %s" % (" ".join(argv), proc.returncode, proc.stderr[-2000:]))
    return proc.stdout


def callgrind(tmp, driver, *args):
    """Instructions of the counted part, and of them in WriteFile."""
    out = os.path.join(tmp, "callgrind.out")
    run(["valgrind", "--tool=callgrind", "--instr-atstart=no", "--collect-atstart=no",
         "--callgrind-out-file=" + out, driver] + list(args))
    text = run(["callgrind_annotate", "--inclusive=yes", "--threshold=100", out])
    total = int(re.search(r"^([\d,]+) \(100.0%\)\s+PROGRAM TOTALS", text, re.M).group(1).replace(",", ""))
    writes = re.findall(r"^\s*([\d,]+) \(.*:WriteFile\(", text, re.M)
    return total, sum(int(n.replace(",", "")) for n in writes)


def calls_kept(calls):
    """The program's calls less its trace's."""
    kept, after_text = [], False
    for call in calls:
        if call in LOG_CALLS:
            continue
        if not (call == "FormatMessageA" or (after_text and call == "LocalFree")):
            kept.append(call)
        after_text = call == "FormatMessageA"
    return kept


class Wine:
    def __init__(self, wine64, root):
        self.wine64, self.root = wine64, root
        beside = os.path.join(os.path.dirname(wine64), "wineserver")
        self.wineserver = beside if os.access(beside, os.X_OK) else shutil.which("wineserver")
        self.base = os.path.join(root, "base")
        self.errors = os.path.join(root, "wine-stderr.txt")

    def make_base(self, template, windows_build, package):
        subprocess.run(["cp", "-a", template, self.base], check=True)
        self.user = [n for n in os.listdir(os.path.join(self.base, "drive_c", "users")) if n != "Public"][0]
        with open(os.path.join(self.base, "system.reg"), "a", encoding="utf-8") as f:
            f.write("".join("\n[%s] 0\n" % key.replace("\\", "\\\\") for key in VIDEO_KEYS))
        folder = os.path.join(self.base, "drive_c", "Dravmel")
        shutil.copytree(package, os.path.join(folder, "package"))
        for path in ("src/Dravmelx64.exe", "bench/untraced.exe", "bench/idle.exe"):
            shutil.copy2(os.path.join(windows_build, path), folder)

    def run(self, env, program, args, expected, what):
        """Wall seconds of a program's run; fails with its exit code (its low
        8 bits under Wine), the log records it added and Wine's messages when
        it does not end with the expected code."""
        log = os.path.join(env["WINEPREFIX"], "drive_c", "users", self.user, "Temp", "QVDRAVMEL.LOG")
        before = os.path.getsize(log) if os.path.exists(log) else 0
        # No pipes: Wine's background processes would keep them open. A wait
        # with a timeout would poll every 50 ms: a timer ends a run instead.
        start = time.perf_counter()
        with open(self.errors, "wb") as errors:
            proc = subprocess.Popen([self.wine64, "C:\\Dravmel\\" + program] + args, env=env,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=errors)
            timer = threading.Timer(RUN_SECONDS, proc.kill)
            timer.start()
            try:
                status = proc.wait()
            finally:
                timer.cancel()
        seconds = time.perf_counter() - start
        if status == expected:
            return seconds
        report = ["%s: %s %s ended with %s under Wine, expected %d" % (
            what, program, " ".join(args), "a kill after %d s" % RUN_SECONDS if status < 0 else status, expected)]
        if os.path.exists(log) and os.path.getsize(log) > before:
            with open(log, "rb") as f:
                f.seek(before)
                report.append("records it added to the log:\n" + f.read().decode("latin-1").rstrip())
        else:
            report.append("it added no records to the log")
        with open(self.errors, "rb") as f:
            wine_errors = f.read().decode("utf-8", "replace").rstrip()
        if wine_errors:
            report.append("Wine wrote:\n" + wine_errors[-2000:])
        fail("\n".join(report))

    def measure(self, operation, args, program):
        """Wall seconds of one run in a fresh copy of the base prefix, whose
        session is started as Windows is when a setup program runs: desktop in
        use, services up (for "/R", after the program's "/A")."""
        prefix = os.path.join(self.root, "prefix")
        subprocess.run(["cp", "-a", self.base, prefix], check=True)
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "TEMP", "TMP")}
        env.update(WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        server = [self.wineserver]
        idle = None
        try:
            subprocess.run(server + ["-p"], env=env, check=True, timeout=60)
            idle = subprocess.Popen([self.wine64, "C:\\Dravmel\\idle.exe"], env=env, stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if operation == "remove":
                self.run(env, "Dravmelx64.exe", OPERATIONS[0][2], 0, "the run before the measured one")
            else:
                self.run(env, "untraced.exe", [], 87, "the run before the measured one")
            time.sleep(SETTLE_SECONDS)
            return self.run(env, program, args, 0, "the measured run")
        finally:
            for flag in ("-k", "-w"):
                subprocess.run(server + [flag], env=env, timeout=60)
            if idle:
                idle.wait(timeout=60)
            shutil.rmtree(prefix, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    for name in ("build", "wine64", "template", "package"):
        parser.add_argument(name)
    parser.add_argument("--rounds", type=int, default=11, help="runs of each program under Wine")
    parser.add_argument("--no-wine", action="store_true")
    options = parser.parse_args()
    build = os.path.join(options.build, "bench")
    driver, untraced = os.path.join(build, "dravmel_bench"), os.path.join(build, "dravmel_bench_untraced")
    rows = []

    def row(measurement, measured, target, ok):
        rows.append((measurement, measured, target, "PASS" if ok else "FAIL"))

    with tempfile.TemporaryDirectory(prefix="dravmel-bench-") as tmp:
        print("== callgrind against winsim", file=sys.stderr)
        total, writes = callgrind(tmp, driver, "records", str(RECORDS))
        outside = (total - writes) / RECORDS
        row("trace record, log open (winsim)", "{:,.0f} instructions outside WriteFile (+ {:,.0f} in it)".format(
            outside, writes / RECORDS), "< {:,} instructions".format(RECORD_LIMIT), outside < RECORD_LIMIT)
        for operation, label, _ in OPERATIONS:
            small, large = (callgrind(tmp, driver, operation, str(size))[0] for size in SIZES)
            row("%s, 1,000 → 10,000 devices and sub-keys (winsim)" % label, "%.1f M → %.1f M instructions (×%.1f)"
                % (small / 1e6, large / 1e6, large / small), "≤ ×%d" % GROWTH_LIMIT, large / small <= GROWTH_LIMIT)
        same, counts = True, []
        for case, label in CALL_CASES:
            program = run([driver, "calls", case]).split()
            twin = run([untraced, "calls", case]).split()
            same &= calls_kept(program) == twin
            counts.append("%s %d / %d" % (label, len(twin), len(program)))
        row("platform calls, untraced program / program (winsim)", ", ".join(counts),
            "the program's less its trace's, in order", same)

        if not options.no_wine:
            wine = Wine(options.wine64, tmp)
            wine.make_base(options.template, os.path.join(build, "windows"), options.package)
            for operation, label, args in OPERATIONS:
                times = {name: [] for name in PROGRAMS}
                for round_ in range(options.rounds):
                    for name in PROGRAMS[::-1] if round_ % 2 else PROGRAMS:
                        times[name].append(wine.measure(operation, args, name))
                        print("== Wine %s %s: %.1f ms" % (label, name, times[name][-1] * 1e3), file=sys.stderr)
                program, twin = (statistics.median(times[name]) for name in PROGRAMS)
                runs = ["%.0f–%.0f ms" % (min(times[n]) * 1e3, max(times[n]) * 1e3) for n in PROGRAMS]
                row("%s of sample/x64 under Wine, median wall time of %d rounds" % (label, options.rounds),
                    "program %.1f ms, untraced %.1f ms: ×%.2f (runs %s, %s)" % (program * 1e3, twin * 1e3,
                                                                               program / twin, *runs),
                    "≤ ×%.2f the untraced program" % WINE_LIMIT, program / twin <= WINE_LIMIT)

    headers = ("measurement", "measured", "target", "result")
    widths = [max(len(r[i]) for r in rows + [headers]) for i in range(len(headers))]
    for r in [headers, tuple("-" * w for w in widths)] + rows:
        print("| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |")
    missed = [r[0] for r in rows if r[3] == "FAIL"]
    print("\n" + ("missed: " + "; ".join(missed) if missed else "every target met"))
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
