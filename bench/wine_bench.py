"""Times "/A" and "/R" of the sample package under Wine: the program, the
untraced program (the same platform calls, no tracing), the untraced program
importing user32.dll as the program does for its trace, and a program that
does nothing, side by side.

Usage: wine_bench.py --wine64 WINE64 --template PREFIX --windows-build DIR
                     --package DIR [--runs N] [--json FILE]

Every measurement runs in a fresh copy of the template prefix, made ready as
the end-to-end tests make theirs (video keys made ordinary keys, programs in
C:\\Dravmel, the package in C:\\Dravmel\\package). Its Wine session is
started first, as Windows is running when a setup program starts the
helper: idle.exe keeps the desktop in use (Wine would end its desktop
process a second after the last program that used it), and an untimed run
starts Wine's services: for "/A" the untraced program without arguments
(which loads the same DLLs and does nothing), for "/R" the program's "/A".
After a pause for the services, which go on starting after that run, one
run is measured: its wall-clock time (process start to exit), the CPU
time of the whole session during it (the program's, wineserver's and every
other process's of the prefix that is alive before or after the run), and
two counts of the program's own process that hardly vary with the load of
the machine: its context switches (about one per wineserver request) and
its page faults.
Rounds take the three programs in turn, in a rotating order, so that a busy
machine weighs on all of them alike. The program's runs also count the
records they add to its log. Then wine_records.exe times the program's
trace records on their own, in one process. Prints one line per run and
writes all results to the JSON file.
"""

import argparse
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

DRAVMEL_DIR = "C:\\Dravmel"
PACKAGE_DIR = DRAVMEL_DIR + "\\package"
PROGRAMS = {  # name in the report -> file in C:\Dravmel
    "program": "Dravmelx64.exe",
    "untraced": "untraced.exe",
    "untraced_user32": "untraced_user32.exe",
    "nothing": "nothing.exe",
}
OPERATIONS = {"install": ["/A", "/S:" + PACKAGE_DIR], "remove": ["/R"]}
# Below HKEY_LOCAL_MACHINE; Wine keeps them volatile, Windows does not.
VIDEO_KEYS = (
    "System\\CurrentControlSet\\Control\\Video",
    "System\\CurrentControlSet\\Hardware Profiles\\Current\\System\\CurrentControlSet\\Control\\Video",
)
# Wine's own program files, which no run writes: linked, not copied.
LINKED_SUFFIXES = (".dll", ".exe", ".sys", ".drv", ".ocx", ".acm", ".cpl", ".tlb", ".ax", ".ds", ".nls",
                   ".fon", ".ttf", ".ttc")
RUN_TIMEOUT = 120
RECORD_START = re.compile(rb"\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}:\d{3},INSTx64,")
RECORDS_PER_RUN = 2000  # wine_records.exe
SETTLE_SECONDS = 1.5  # Wine starts services for about a second after the first run


class BenchError(Exception):
    pass


def copy_prefix(source, target):
    """A fresh copy of a prefix; Wine's program files are hard links."""
    for folder, dirs, files in os.walk(source):
        relative = os.path.relpath(folder, source)
        destination = target if relative == "." else os.path.join(target, relative)
        os.makedirs(destination, exist_ok=True)
        shutil.copystat(folder, destination)
        for name in dirs + files:
            path = os.path.join(folder, name)
            copy = os.path.join(destination, name)
            if os.path.islink(path):
                os.symlink(os.readlink(path), copy)
            elif name in files:
                if name.lower().endswith(LINKED_SUFFIXES):
                    os.link(path, copy)
                else:
                    shutil.copy2(path, copy)


def linked_files_state(prefix):
    """Size and modification time of the files copy_prefix links."""
    state = {}
    for folder, _, files in os.walk(prefix):
        for name in files:
            path = os.path.join(folder, name)
            if name.lower().endswith(LINKED_SUFFIXES) and not os.path.islink(path):
                st = os.stat(path)
                state[path] = (st.st_size, st.st_mtime_ns)
    return state


def find_wineserver(wine64):
    beside = os.path.join(os.path.dirname(os.path.abspath(wine64)), "wineserver")
    if os.access(beside, os.X_OK):
        return beside
    found = shutil.which("wineserver")
    if not found:
        raise BenchError("wineserver not found")
    return found


class Prefix:
    def __init__(self, path, wine64, wineserver):
        self.path = path
        self.wine64 = wine64
        self.wineserver = wineserver
        env = dict(os.environ)
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "WINEDEBUG", "WINEARCH", "TEMP", "TMP"):
            env.pop(name, None)
        env.update({"WINEPREFIX": path, "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=", "TZ": "UTC"})
        self.env = env

    def server(self, *args):
        subprocess.run([self.wineserver] + list(args), env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    def start(self, program, args=(), output=None):
        """Starts C:\\Dravmel\\program; its standard output goes to the host
        file output, if given (a file, not a pipe: Wine's background
        processes inherit the handle)."""
        argv = [self.wine64, DRAVMEL_DIR + "\\" + program] + list(args)
        with open(output or os.devnull, "wb") as out:
            return subprocess.Popen(argv, env=self.env, cwd=os.path.join(self.path, "drive_c"),
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL)

    def run(self, program, args=(), output=None):
        """Runs C:\\Dravmel\\program; returns (wall seconds, CPU seconds of
        the session, exit status). The process's resource usage is kept in
        last_usage."""
        before = self.session_cpu()
        start = time.perf_counter()
        proc = self.start(program, args, output)
        timer = threading.Timer(RUN_TIMEOUT, proc.kill)
        timer.start()
        try:
            _, status, usage = os.wait4(proc.pid, 0)
        finally:
            timer.cancel()
        seconds = time.perf_counter() - start
        self.last_usage = usage
        proc.returncode = os.waitstatus_to_exitcode(status)
        if proc.returncode < 0:
            self.server("-k")
            raise BenchError("%s did not end within %d s" % (program, RUN_TIMEOUT))
        after = self.session_cpu()
        cpu = usage.ru_utime + usage.ru_stime
        cpu += sum(ns - before.get(pid, 0) for pid, ns in after.items()) * 1e-9
        return seconds, cpu, proc.returncode

    def session_cpu(self):
        """{pid: nanoseconds on a CPU} of the live processes of the prefix."""
        marker = ("\0WINEPREFIX=%s\0" % self.path).encode()
        result = {}
        for name in os.listdir("/proc"):
            if not name.isdigit():
                continue
            try:
                with open("/proc/%s/environ" % name, "rb") as f:
                    if marker not in b"\0" + f.read():
                        continue
                with open("/proc/%s/schedstat" % name) as f:
                    result[int(name)] = int(f.read().split()[0])
            except OSError:
                continue
        return result

    def log_records(self):
        """Records in the program's default log (the user's Temp folder)."""
        users = os.path.join(self.path, "drive_c", "users")
        count = 0
        for user in os.listdir(users):
            log = os.path.join(users, user, "Temp", "QVDRAVMEL.LOG")
            if user != "Public" and os.path.isfile(log):
                with open(log, "rb") as f:
                    count += len(RECORD_START.findall(f.read()))
        return count


def make_base(template, root, windows_build, package):
    base = os.path.join(root, "base")
    copy_prefix(template, base)
    with open(os.path.join(base, "system.reg"), "a", encoding="latin-1") as f:
        for key in VIDEO_KEYS:
            f.write("\n[%s] 0\n" % key.replace("\\", "\\\\"))
    dravmel = os.path.join(base, "drive_c", "Dravmel")
    os.makedirs(os.path.join(dravmel, "package"))
    for name, path in (("Dravmelx64.exe", "src/Dravmelx64.exe"), ("untraced.exe", "bench/untraced.exe"),
                       ("untraced_user32.exe", "bench/untraced_user32.exe"),
                       ("nothing.exe", "bench/nothing.exe"), ("idle.exe", "bench/idle.exe"),
                       ("wine_records.exe", "bench/wine_records.exe")):
        shutil.copy2(os.path.join(windows_build, path), os.path.join(dravmel, name))
    for name in sorted(os.listdir(package)):
        shutil.copy2(os.path.join(package, name), os.path.join(dravmel, "package", name))
    return base


def started_prefix(base, root, wine64, wineserver, first_run):
    """A fresh copy of the base prefix whose Wine session the given run
    (program, arguments, expected exit status) started."""
    path = os.path.join(root, "prefix")
    copy_prefix(base, path)
    prefix = Prefix(path, wine64, wineserver)
    prefix.server("-p")
    prefix.start("idle.exe")
    program, args, expected = first_run
    _, _, status = prefix.run(program, args)
    if status != expected:
        stop(prefix)
        raise BenchError("the run before the measurement ended with %d" % status)
    time.sleep(SETTLE_SECONDS)
    return prefix


def stop(prefix):
    prefix.server("-k")
    prefix.server("-w")
    shutil.rmtree(prefix.path, ignore_errors=True)


def measure(base, root, wine64, wineserver, operation, name):
    """One measured run of a program in a fresh copy of the base prefix:
    (wall seconds, CPU seconds, context switches, page faults, records it
    added to the log)."""
    if operation == "install":
        first = (PROGRAMS["untraced"], [], 87)
    else:
        first = (PROGRAMS["program"], OPERATIONS["install"], 0)
    prefix = started_prefix(base, root, wine64, wineserver, first)
    try:
        records = prefix.log_records()
        seconds, cpu, status = prefix.run(PROGRAMS[name], OPERATIONS[operation])
        if status != 0:
            raise BenchError("%s %s ended with %d" % (name, " ".join(OPERATIONS[operation]), status))
        usage = prefix.last_usage
        return (seconds, cpu, usage.ru_nvcsw + usage.ru_nivcsw, usage.ru_minflt + usage.ru_majflt,
                prefix.log_records() - records)
    finally:
        stop(prefix)


def time_records(base, root, wine64, wineserver):
    """Nanoseconds per record from wine_records.exe: {"closed": ns, "open": ns,
    "debug_output_only": ns}."""
    prefix = started_prefix(base, root, wine64, wineserver, (PROGRAMS["untraced"], [], 87))
    output = os.path.join(root, "records.txt")
    try:
        _, _, status = prefix.run("wine_records.exe", [str(RECORDS_PER_RUN), DRAVMEL_DIR + "\\records.log"],
                                  output)
        if status != 0:
            raise BenchError("wine_records.exe ended with %d" % status)
        with open(output) as f:
            return {kind: float(value) for kind, value in (line.split() for line in f if line.strip())}
    finally:
        stop(prefix)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--wine64", required=True)
    parser.add_argument("--template", required=True)
    parser.add_argument("--windows-build", required=True, help="the MinGW build folder with src/ and bench/")
    parser.add_argument("--package", required=True)
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--json")
    options = parser.parse_args()

    wineserver = find_wineserver(options.wine64)
    if not os.path.isfile(os.path.join(options.template, "system.reg")):
        raise BenchError("no template prefix at %s" % options.template)
    before = linked_files_state(options.template)
    root = tempfile.mkdtemp(prefix="dravmel-bench-")
    times = {op: {name: [] for name in PROGRAMS} for op in OPERATIONS}
    cpu_times = {op: {name: [] for name in PROGRAMS} for op in OPERATIONS}
    switches = {op: {name: [] for name in PROGRAMS} for op in OPERATIONS}
    faults = {op: {name: [] for name in PROGRAMS} for op in OPERATIONS}
    records = {op: set() for op in OPERATIONS}
    record_times = {"closed": [], "open": [], "debug_output_only": []}
    try:
        base = make_base(options.template, root, options.windows_build, options.package)
        names = list(PROGRAMS)
        for operation in OPERATIONS:
            for run in range(options.runs):
                order = names[run % len(names):] + names[:run % len(names)]
                for name in order:
                    seconds, cpu, switched, faulted, added = measure(base, root, options.wine64, wineserver,
                                                                     operation, name)
                    times[operation][name].append(seconds)
                    cpu_times[operation][name].append(cpu)
                    switches[operation][name].append(switched)
                    faults[operation][name].append(faulted)
                    if name == "program":
                        records[operation].add(added)
                    print("wine %s %s run %d: %.3f s, CPU %.3f s, %d context switches, %d page faults"
                          % (operation, name, run + 1, seconds, cpu, switched, faulted), flush=True)
        for run in range(3):
            for kind, ns in time_records(base, root, options.wine64, wineserver).items():
                record_times[kind].append(ns)
                print("wine record, log %s, run %d: %.0f ns" % (kind, run + 1, ns), flush=True)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    if linked_files_state(options.template) != before:
        raise BenchError("a file linked from the template prefix changed")
    def summary(op, name):
        return {"seconds": times[op][name], "median": statistics.median(times[op][name]),
                "cpu_seconds": cpu_times[op][name], "cpu_median": statistics.median(cpu_times[op][name]),
                "context_switches": switches[op][name],
                "context_switches_median": statistics.median(switches[op][name]),
                "page_faults": faults[op][name], "page_faults_median": statistics.median(faults[op][name])}

    result = {op: {name: summary(op, name) for name in PROGRAMS} for op in OPERATIONS}
    for operation, counts in records.items():
        if len(counts) != 1:
            raise BenchError("the program's %s runs wrote different numbers of records: %r"
                             % (operation, sorted(counts)))
        result[operation]["records"] = counts.pop()
    result["record_ns"] = {kind: {"runs": values, "median": statistics.median(values)}
                           for kind, values in record_times.items()}
    if options.json:
        with open(options.json, "w") as f:
            json.dump(result, f, indent=1)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except BenchError as e:
        print("wine_bench: %s" % e, file=sys.stderr)
        sys.exit(1)
