# Runs the Windows programs under Wine for the end-to-end tests and the main
# job. A Prefix is a fresh copy of the template prefix (ctest fixture
# wine_prefix); wintool.exe captures a run's debugger channel and its full
# exit code. The registry is read from the files the wineserver saves as it
# ends, so reading it ends the prefix's session.
import argparse
import codecs
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

RECORD_START = re.compile(r"\d{4}/\d\d/\d\d \d\d:\d\d:\d\d:\d{3},")
SESSION_MANAGER = "system\\currentcontrolset\\control\\session manager"
# Wine keeps these volatile; Windows keeps them in its hive, and the package
# adds its video entries below them.
VIDEO_KEYS = ["System\\CurrentControlSet\\Control\\Video", "System\\CurrentControlSet\\Hardware "
              "Profiles\\Current\\System\\CurrentControlSet\\Control\\Video"]


class Prefix:
    def __init__(self, wine, template, tool):
        self.wine, self.tool, self.runs = wine, tool, 0
        beside = os.path.join(os.path.dirname(wine), "wineserver")
        self.server = beside if os.path.exists(beside) else shutil.which("wineserver")
        self.root = tempfile.mkdtemp(prefix="dravmel-e2e-")
        self.path = os.path.join(self.root, "prefix")
        subprocess.run(["cp", "-a", template, self.path], check=True)
        self.user = [n for n in os.listdir(self.host("C:\\users")) if n != "Public"][0]
        self.temp_dir = "C:\\users\\%s\\Temp\\" % self.user
        self.env = dict(os.environ, WINEPREFIX=self.path, WINEDEBUG="-all", USER=self.user,
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "TEMP", "TMP"):
            self.env.pop(name, None)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
        shutil.rmtree(self.root, ignore_errors=True)

    def stop(self):
        # Ends every process of the session; the server saves the registry.
        for flag in ("-k", "-w"):
            subprocess.run([self.server, flag], env=self.env, stderr=subprocess.DEVNULL, timeout=60)

    def host(self, path):
        return os.path.join(self.path, "drive_c", *path[3:].split("\\"))

    def exists(self, path):
        return os.path.exists(self.host(path))

    def read_text(self, path):
        with open(self.host(path), "rb") as f:
            return f.read().decode("latin-1")

    def install_file(self, host_file, folder, name=None):
        # Copies a host file into a C: folder; returns its Windows path.
        path = folder + "\\" + (name or os.path.basename(host_file))
        os.makedirs(os.path.dirname(self.host(path)), exist_ok=True)
        shutil.copyfile(host_file, self.host(path))
        return path

    def add_keys(self, hive, text):
        # Appends keys in the format of Wine's registry files, with the
        # server ended, as the next session loads them.
        self.stop()
        with open(os.path.join(self.path, hive + ".reg"), "a", encoding="utf-8") as f:
            f.write("\n" + text.replace("\\", "\\\\") + "\n")

    def keep_video_keys(self):
        self.add_keys("system", "".join("[%s] 0\n" % key for key in VIDEO_KEYS))

    def set_windows_version(self, version):
        self.add_keys("user", '[Software\\Wine] 0\n"Version"="%s"' % version)

    def run(self, args, timeout=120):
        # Output to files: Wine's background processes inherit the handles
        # and would keep a pipe open.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            proc = subprocess.run([self.wine] + args, env=self.env, cwd=self.host("C:\\"),
                                  stdin=subprocess.DEVNULL, stdout=out, stderr=err, timeout=timeout)
            out.seek(0), err.seek(0)
            proc.stdout, proc.stderr = out.read(), err.read().decode("latin-1")
        return proc

    def run_captured(self, program, args, hold=None, end_after=None):
        # Runs a program under wintool.exe: (full exit code, debug strings).
        self.runs += 1
        out = os.path.join(self.root, "capture-%d" % self.runs)
        proc = self.run([self.tool, "capture"] + (["--hold", hold] if hold else []) +
                        (["--end-after", end_after] if end_after else []) +
                        ["Z:" + out.replace("/", "\\"), subprocess.list2cmdline([program] + args)])
        if proc.returncode or not os.path.exists(out):
            raise RuntimeError("wintool capture failed (exit code %d): %s" % (proc.returncode, proc.stderr))
        with open(out, "rb") as f:
            *events, code = f.read().decode("latin-1").split("\0")
        return int(code), events

    def registry(self, hive="system"):
        # {key path in lower case: {value name ("@": default): data as saved}}
        self.stop()
        with open(os.path.join(self.path, hive + ".reg"), encoding="utf-8", errors="replace") as f:
            lines = re.sub(r"\\\n\s*", "", f.read()).split("\n")
        keys, key = {}, {}
        for line in lines:
            if line.startswith("["):
                path = re.match(r"\[(.*)\]", line).group(1).replace("\\\\", "\\").lower()
                key = keys.setdefault(path, {})
            elif re.match(r'@=|"', line):
                name, data = re.match(r'(@|"(?:[^"\\]|\\.)*")=(.*)', line).groups()
                key[name.strip('"').lower()] = data
        return keys

    def files(self):
        # Drive C:'s tree: {host path: "folder", a link's target or (size, mtime)}.
        tree = {}
        for folder, dirs, names in os.walk(self.host("C:\\")):
            for name in dirs + names:
                path = os.path.join(folder, name)
                info = os.lstat(path)
                tree[path] = (os.readlink(path) if os.path.islink(path) else "folder"
                              if os.path.isdir(path) else (info.st_size, info.st_mtime_ns))
        return tree

    def restart(self):
        # As Windows restarts: wineboot -r carries out PendingFileRenameOperations.
        self.stop()
        if self.run(["wineboot.exe", "-r"]).returncode:
            raise RuntimeError("wineboot -r failed")
        self.stop()


def text(data):
    # A saved string value: str, or a list for REG_MULTI_SZ; None for others.
    match = re.match(r'(str\((\d)\):)?"(.*)"$', data or "")
    if not match:
        return None
    value = codecs.decode(match.group(3), "unicode_escape")
    return value.split("\0")[:-1] if match.group(2) == "7" else value


def pending_file_operations(registry):
    # The (source, target) pairs left for the next start, without "\??\".
    entries = text(registry.get(SESSION_MANAGER, {}).get("pendingfilerenameoperations")) or []
    entries = [e[4:] if e.startswith("\\??\\") else e for e in entries]
    return list(zip(entries[::2], entries[1::2]))


def main(*names):
    # The harness options a test may take, then unittest's arguments.
    parser = argparse.ArgumentParser()
    for name in names:
        parser.add_argument("--" + name)
    options, rest = parser.parse_known_args()
    unittest.TestCase.options = options
    unittest.main(argv=sys.argv[:1] + rest, verbosity=2)
