"""Runs Windows programs under Wine, each test case in its own prefix.

A WinePrefix is a fresh copy of the template prefix (made by the ctest
fixture wine_prefix) in a temporary folder; close() stops its wineserver and
removes it. run_captured() starts a program under dbgcapture.exe and returns
its full exit code and its debugger events (the OutputDebugString texts, each
exactly as sent). machine_registry() and user_registry() read the registry
from the prefix's files once its wineserver has ended (Registry); restart()
restarts the prefix as Windows restarts, and file_tree() describes drive C:.
"""

import argparse
import datetime
import hashlib
import os
import pwd
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

RUN_TIMEOUT = 120  # seconds for one program run, Wine start-up included


class HarnessError(Exception):
    """The harness or Wine failed, not the program under test."""


class Capture:
    """The outcome of one run under dbgcapture.exe."""

    def __init__(self, argv, exit_code, events, stdout, stderr):
        self.argv = argv
        self.exit_code = exit_code  # full 32-bit Windows exit code
        self.events = events  # debugger texts, decoded as Latin-1
        self.stdout = stdout
        self.stderr = stderr

    def __str__(self):
        lines = ["command: %r" % (self.argv,), "exit code: %d" % self.exit_code, "debugger events:"]
        lines += ["  %r" % event for event in self.events]
        if self.stderr.strip():
            lines += ["stderr:", self.stderr.rstrip()]
        return "\n".join(lines)


def windows_path_of_host(path):
    """The Windows path of a host path, through drive Z: (the root folder)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class WinePrefix:
    def __init__(self, wine64, template, dbgcapture=None):
        if not os.path.isfile(os.path.join(template, "system.reg")):
            raise HarnessError("no template prefix at %s (ctest fixture wine_prefix)" % template)
        self.wine64 = wine64
        self.dbgcapture = dbgcapture
        self.wineserver = _find_wineserver(wine64)
        self.root = tempfile.mkdtemp(prefix="dravmel-e2e-")
        self.path = os.path.join(self.root, "prefix")
        self.work = os.path.join(self.root, "work")  # host side files of the harness
        self.drive_c = os.path.join(self.path, "drive_c")
        self._runs = 0
        try:
            os.mkdir(self.work)
            _run_checked(["cp", "-a", template + "/.", self.path + "/"])
            if not os.path.islink(os.path.join(self.path, "dosdevices", "z:")):
                raise HarnessError("the template prefix has no drive Z:")
            self.user = self._find_user()
            self.env = self._environment()
        except BaseException:
            shutil.rmtree(self.root, ignore_errors=True)
            raise

    # -- set-up and clean-up ------------------------------------------------

    def _find_user(self):
        """The profile folder's name: Wine takes it from $USER, else the login
        name, when it makes the prefix; the runs pin $USER to it."""
        users = os.path.join(self.drive_c, "users")
        names = [n for n in os.listdir(users)
                 if n != "Public" and os.path.isdir(os.path.join(users, n))]
        for candidate in (os.environ.get("USER"), _login_name()):
            if candidate in names:
                return candidate
        if len(names) == 1:
            return names[0]
        raise HarnessError("cannot tell the user's profile among %r" % names)

    def _environment(self):
        env = dict(os.environ)
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "TEMP", "TMP", "WINEDEBUG", "WINEARCH"):
            env.pop(name, None)
        env.update({
            "WINEPREFIX": self.path,
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            "USER": self.user,
            # GetLocalTime follows TZ; pinned so that tests can check times.
            "TZ": "UTC",
        })
        return env

    def stop(self):
        """Ends the prefix's wineserver and every process in it; the server
        saves the registry to system.reg and user.reg as it ends."""
        for args in ([self.wineserver, "-k"], [self.wineserver, "-w"]):
            subprocess.run(args, env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    def close(self):
        self.stop()
        shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # -- files of the prefix ------------------------------------------------

    @property
    def temp_dir(self):
        """The user's temporary folder as GetTempPathA returns it."""
        return "C:\\users\\%s\\Temp\\" % self.user

    def host_path(self, windows_path):
        """The host path of a C: path; components are matched without regard to
        case, as Windows does, where they exist."""
        if not re.match(r"^[cC]:\\", windows_path):
            raise ValueError("not a C: path: %r" % windows_path)
        path = self.drive_c
        for part in [p for p in windows_path[3:].split("\\") if p]:
            exact = os.path.join(path, part)
            if not os.path.exists(exact) and os.path.isdir(path):
                for name in os.listdir(path):
                    if name.lower() == part.lower():
                        exact = os.path.join(path, name)
                        break
            path = exact
        return path

    def exists(self, windows_path):
        return os.path.exists(self.host_path(windows_path))

    def read_bytes(self, windows_path):
        with open(self.host_path(windows_path), "rb") as f:
            return f.read()

    def read_text(self, windows_path):
        """A file's bytes as Latin-1 text, line ends untouched."""
        return self.read_bytes(windows_path).decode("latin-1")

    def make_dirs(self, windows_path):
        os.makedirs(self.host_path(windows_path), exist_ok=True)

    def install_file(self, host_file, windows_dir, name=None):
        """Copies a host file into a folder of the prefix, under its own name
        or the one given; returns its C: path."""
        self.make_dirs(windows_dir)
        name = name or os.path.basename(host_file)
        shutil.copy2(host_file, os.path.join(self.host_path(windows_dir), name))
        return windows_dir.rstrip("\\") + "\\" + name

    # -- registry -----------------------------------------------------------

    def machine_registry(self):
        """HKEY_LOCAL_MACHINE as the last run left it: stops the server and
        reads system.reg. Starting any program instead (reg.exe, say) would
        change it: each Wine process that sets up its display devices
        rebuilds the display class keys."""
        self.stop()
        return Registry.read(os.path.join(self.path, "system.reg"))

    def user_registry(self):
        """HKEY_CURRENT_USER, read from user.reg after stopping the server."""
        self.stop()
        return Registry.read(os.path.join(self.path, "user.reg"))

    def add_machine_keys(self, paths):
        """Adds empty keys (paths below HKEY_LOCAL_MACHINE) to system.reg,
        with the server stopped, so that they are ordinary keys even where
        Wine would later create volatile ones."""
        self.stop()
        with open(os.path.join(self.path, "system.reg"), "a", encoding="latin-1") as f:
            for path in paths:
                f.write("\n[%s] 0\n" % _escape_reg_text(path))

    def keep_video_keys(self):
        """Wine creates Control\\Video and the hardware profile's
        Control\\Video as volatile keys, under which no ordinary key can be
        added; Windows keeps them in its hive. Makes them ordinary keys, as on
        Windows, so that a driver package can add its video entries."""
        self.add_machine_keys(VIDEO_KEYS)

    def restart(self):
        """Restarts the prefix as Windows restarts: ends every process, runs
        wineboot -r (which carries out PendingFileRenameOperations among other
        start-up work) and waits until the wineserver has ended."""
        self.stop()
        proc = self.run("wineboot.exe", ["-r"])
        if proc.returncode != 0:
            raise HarnessError("wineboot -r failed (status %d): %s"
                               % (proc.returncode, proc.stderr.decode("latin-1")))
        subprocess.run([self.wineserver, "-w"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=RUN_TIMEOUT)

    def file_tree(self):
        """Drive C:'s tree as {Windows path: "folder" | "link to TARGET" |
        SHA-256 of the contents}; links are not followed."""
        tree = {}
        for folder, dirs, files in os.walk(self.drive_c):
            for name in dirs + files:
                host = os.path.join(folder, name)
                windows = "C:\\" + os.path.relpath(host, self.drive_c).replace("/", "\\")
                if os.path.islink(host):
                    tree[windows] = "link to " + os.readlink(host)
                elif os.path.isdir(host):
                    tree[windows] = "folder"
                else:
                    with open(host, "rb") as f:
                        tree[windows] = hashlib.sha256(f.read()).hexdigest()
        return tree

    def set_windows_version(self, version):
        """Sets the Windows version the prefix reports ("win7", "win10", ...)
        as winecfg does: HKCU\\Software\\Wine, value Version."""
        proc = self.run("reg.exe", ["add", "HKCU\\Software\\Wine", "/v", "Version",
                                    "/t", "REG_SZ", "/d", version, "/f"])
        if proc.returncode != 0:
            raise HarnessError("reg add Version=%s failed: %s"
                               % (version, proc.stderr.decode("latin-1")))

    # -- running programs ---------------------------------------------------

    def run(self, program, args=(), timeout=RUN_TIMEOUT):
        """Runs a program (host path or Windows path) with wine64 in C:\\ and
        returns the CompletedProcess (exit status: low 8 bits only)."""
        argv = [self.wine64, program] + list(args)
        # Files, not pipes: Wine's background processes inherit the output
        # handles and would hold a pipe open for seconds after the run.
        with tempfile.TemporaryFile(dir=self.work) as out, \
                tempfile.TemporaryFile(dir=self.work) as err:
            try:
                proc = subprocess.run(argv, env=self.env, cwd=self.drive_c,
                                      stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                      timeout=timeout)
            except subprocess.TimeoutExpired as e:
                subprocess.run([self.wineserver, "-k"], env=self.env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
                raise HarnessError("%r did not end within %d s" % (argv, timeout)) from e
            out.seek(0)
            err.seek(0)
            proc.stdout, proc.stderr = out.read(), err.read()
        return proc

    def start(self, program, args=()):
        """Starts a program with wine64 in C:\\ without waiting for it; returns
        the Popen, its output going to the files named by its attributes
        stdout_file and stderr_file (host paths)."""
        self._runs += 1
        out_file = os.path.join(self.work, "out-%d.txt" % self._runs)
        err_file = os.path.join(self.work, "err-%d.txt" % self._runs)
        with open(out_file, "wb") as out, open(err_file, "wb") as err:
            proc = subprocess.Popen([self.wine64, program] + list(args), env=self.env,
                                    cwd=self.drive_c, stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=err)
        proc.stdout_file, proc.stderr_file = out_file, err_file
        return proc

    def run_captured(self, program, args=(), timeout=RUN_TIMEOUT):
        """Runs a program under dbgcapture.exe; returns a Capture."""
        if not self.dbgcapture:
            raise HarnessError("no dbgcapture.exe given")
        self._runs += 1
        events_file = os.path.join(self.work, "events-%d.bin" % self._runs)
        exit_file = os.path.join(self.work, "exit-%d.txt" % self._runs)
        args = list(args)
        proc = self.run(self.dbgcapture,
                        ["--exit-code-file", windows_path_of_host(exit_file),
                         windows_path_of_host(events_file), program] + args, timeout)
        stderr = proc.stderr.decode("latin-1")
        if "dbgcapture: " in stderr or not os.path.exists(exit_file):
            raise HarnessError("dbgcapture.exe failed (status %d): %s" % (proc.returncode, stderr))
        with open(exit_file) as f:
            exit_code = int(f.read())
        if exit_code & 0xFF != proc.returncode:
            raise HarnessError("exit status %d does not match the exit code %d"
                               % (proc.returncode, exit_code))
        with open(events_file, "rb") as f:
            data = f.read()
        if data and not data.endswith(b"\0"):
            raise HarnessError("events file does not end with a separator")
        events = [e.decode("latin-1") for e in data.split(b"\0")[:-1]]
        return Capture([program] + args, exit_code, events, proc.stdout.decode("latin-1"), stderr)


def _login_name():
    try:
        return pwd.getpwuid(os.getuid()).pw_name
    except KeyError:
        return None


def _find_wineserver(wine64):
    beside = os.path.join(os.path.dirname(os.path.abspath(wine64)), "wineserver")
    if os.access(beside, os.X_OK):
        return beside
    found = shutil.which("wineserver")
    if not found:
        raise HarnessError("wineserver not found")
    return found


def _run_checked(argv):
    proc = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT)
    if proc.returncode != 0:
        raise HarnessError("%r failed: %s" % (argv, proc.stdout.decode(errors="replace")))


# -- registry files ---------------------------------------------------------

# Below HKEY_LOCAL_MACHINE.
VIDEO_KEYS = (
    "System\\CurrentControlSet\\Control\\Video",
    "System\\CurrentControlSet\\Hardware Profiles\\Current\\System\\CurrentControlSet\\Control\\Video",
)

REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_LINK, REG_MULTI_SZ = 1, 2, 3, 4, 6, 7
_STRING_TYPES = (REG_SZ, REG_EXPAND_SZ, REG_LINK, REG_MULTI_SZ)
_ESCAPES = {"n": "\n", "r": "\r", "t": "\t", "a": "\a", "b": "\b", "v": "\v", "f": "\f"}


def _escape_reg_text(text):
    return text.replace("\\", "\\\\").replace("[", "\\[").replace("]", "\\]")


def _unescape_reg_text(text):
    """Undoes Wine's escapes in key names and quoted strings."""
    out, i = [], 0
    while i < len(text):
        c = text[i]
        i += 1
        if c != "\\" or i == len(text):
            out.append(c)
            continue
        c = text[i]
        i += 1
        if c == "x":
            digits = re.match(r"[0-9a-fA-F]{1,4}", text[i:]).group(0)
            out.append(chr(int(digits, 16)))
            i += len(digits)
        elif c in "01234567":
            digits = re.match(r"[0-7]{1,3}", text[i - 1:]).group(0)
            out.append(chr(int(digits, 8)))
            i += len(digits) - 1
        else:
            out.append(_ESCAPES.get(c, c))
    return "".join(out)


class RegistryKey:
    def __init__(self, path):
        self.path = path
        self._values = {}  # lower-case name -> (name, type, data)

    def value(self, name, default=None):
        """The data of a value (None: the default value): str for string
        types, a list of str for REG_MULTI_SZ, int for REG_DWORD, else bytes."""
        entry = self._values.get((name or "").lower())
        return entry[2] if entry else default

    def value_type(self, name):
        entry = self._values.get((name or "").lower())
        return entry[1] if entry else None

    def value_names(self):
        """The names of the values; None stands for the default value."""
        return sorted((entry[0] for entry in self._values.values()), key=lambda n: n or "")

    def values(self):
        """{lower-case name: (name, type, data)}; the default value's name is None."""
        return dict(self._values)


class Registry:
    """A registry file that Wine saves (system.reg, user.reg). Paths are
    relative to the file's root, without a leading backslash; names are
    matched without regard to letter case, and symbolic links are followed."""

    def __init__(self, text):
        self._keys = {}  # lower-case path -> RegistryKey
        key, pending = None, ""
        for line in text.split("\n"):
            if pending:
                line, pending = pending + line.lstrip(), ""
            if line.endswith("\\"):  # hex data goes on in the next line
                pending = line[:-1]
                continue
            if line.startswith("["):
                match = re.match(r"^\[(.*)\]\s*\d*\s*$", line)
                if not match:
                    raise ValueError("bad key line: %r" % line)
                path = _unescape_reg_text(match.group(1))
                key = self._keys.setdefault(path.lower(), RegistryKey(path))
            elif key is not None and (line.startswith('"') or line.startswith("@=")):
                name, data = self._split_value(line)
                type_, value = self._parse_data(data)
                key._values[(name or "").lower()] = (name, type_, value)

    @classmethod
    def read(cls, path):
        with open(path, encoding="utf-8", errors="surrogateescape") as f:
            return cls(f.read())

    @staticmethod
    def _split_value(line):
        if line.startswith("@="):
            return None, line[2:]
        match = re.match(r'^"((?:[^"\\]|\\.)*)"=(.*)$', line)
        if not match:
            raise ValueError("bad value line: %r" % line)
        return _unescape_reg_text(match.group(1)), match.group(2)

    @staticmethod
    def _parse_data(data):
        match = re.match(r'^(?:str\((\w+)\):)?"((?:[^"\\]|\\.)*)"$', data)
        if match:
            type_ = int(match.group(1), 16) if match.group(1) else REG_SZ
            text = _unescape_reg_text(match.group(2))
            return type_, text.split("\0")[:-1] if type_ == REG_MULTI_SZ else text
        match = re.match(r"^dword:([0-9a-fA-F]{8})$", data)
        if match:
            return REG_DWORD, int(match.group(1), 16)
        match = re.match(r"^hex(?:\((\w+)\))?:([0-9a-fA-F,]*)$", data)
        if not match:
            raise ValueError("bad value data: %r" % data)
        type_ = int(match.group(1), 16) if match.group(1) else REG_BINARY
        raw = bytes(int(b, 16) for b in match.group(2).split(",") if b)
        if type_ in _STRING_TYPES:
            text = raw.decode("utf-16-le", errors="replace")
            if type_ == REG_MULTI_SZ:
                return type_, [s for s in text.split("\0") if s]
            return type_, text.rstrip("\0")
        if type_ == REG_DWORD and len(raw) == 4:
            return type_, int.from_bytes(raw, "little")
        return type_, raw

    def _resolve(self, path):
        """The stored path of a key path, through symbolic links."""
        parts = [p for p in path.split("\\") if p]
        for _ in range(16):
            for i in range(1, len(parts) + 1):
                key = self._keys.get("\\".join(parts[:i]).lower())
                target = key.value("SymbolicLinkValue") if key else None
                if isinstance(target, str):
                    match = re.match(r"^\\Registry\\(?:Machine|User\\[^\\]+)\\(.*)$", target, re.I)
                    if match:
                        parts = match.group(1).split("\\") + parts[i:]
                        break
            else:
                return "\\".join(parts)
        raise ValueError("symbolic link loop at %r" % path)

    def key(self, path):
        """The key at a path, or None."""
        return self._keys.get(self._resolve(path).lower())

    def value(self, path, name, default=None):
        key = self.key(path)
        return key.value(name, default) if key else default

    def keys(self):
        """Every key as Wine writes it: one with values or without subkeys (a
        key with subkeys and no values shows only through its subkeys)."""
        return list(self._keys.values())

    def keys_below(self, path):
        """Every stored key below a path (at any depth), as RegistryKeys."""
        prefix = self._resolve(path).lower() + "\\"
        return [key for lower, key in self._keys.items() if lower.startswith(prefix)]

    def subkey_names(self, path):
        """The names of a key's immediate subkeys."""
        resolved = self._resolve(path)
        names = {}
        for key in self.keys_below(resolved):
            name = key.path[len(resolved) + 1:].split("\\")[0]
            names.setdefault(name.lower(), name)
        return sorted(names.values())


SESSION_MANAGER_KEY = "System\\CurrentControlSet\\Control\\Session Manager"


def pending_file_operations(registry):
    """The file operations that wait for the next start (MoveFileEx with
    MOVEFILE_DELAY_UNTIL_REBOOT) as (source, target) pairs of paths without
    their "\\??\\" prefix; an empty target means deletion. None: no value."""
    entries = registry.value(SESSION_MANAGER_KEY, "PendingFileRenameOperations")
    if entries is None:
        return None
    if not isinstance(entries, list) or len(entries) % 2:
        raise HarnessError("PendingFileRenameOperations is no list of pairs: %r" % (entries,))

    def plain(path):
        return path[4:] if path.startswith("\\??\\") else path
    return [(plain(entries[i]), plain(entries[i + 1])) for i in range(0, len(entries), 2)]


# -- trace log records ------------------------------------------------------

RECORD_RE = re.compile(
    r"(?P<stamp>(?P<year>\d{4})/(?P<month>\d{2})/(?P<day>\d{2}) "
    r"(?P<hour>\d{2}):(?P<minute>\d{2}):(?P<second>\d{2}):(?P<ms>\d{3}))"
    r",(?P<tag>[^,\n]*),(?P<line>[^,\n]*),(?P<reserved>[^,\n]*),(?P<function>[^,\n]*),"
    r"(?P<message>[^\n]*\n)\Z")
RECORD_START_RE = re.compile(r"\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}:\d{3},")


class Record:
    def __init__(self, text):
        match = RECORD_RE.match(text)
        if not match:
            raise ValueError("not a log record: %r" % text)
        self.text = text
        self.fields = match.groupdict()
        g = {k: int(v) for k, v in self.fields.items()
             if k in ("year", "month", "day", "hour", "minute", "second", "ms")}
        # ValueError for impossible dates and times as well.
        self.time = datetime.datetime(g["year"], g["month"], g["day"], g["hour"], g["minute"],
                                      g["second"], g["ms"] * 1000)
        self.tag = self.fields["tag"]
        self.line = self.fields["line"]
        self.reserved = self.fields["reserved"]
        self.function = self.fields["function"]
        self.message = self.fields["message"]


def split_records(text):
    """Splits a log's text after each "\\n"; a tail without one is kept as is
    (and is no valid record)."""
    return re.findall(r"[^\n]*\n|[^\n]+\Z", text)


def is_record_text(text):
    return RECORD_START_RE.match(text) is not None


# -- command line of the test scripts ---------------------------------------

# The options of the tests that run the program, and what those that also
# install the sample driver package add.
PROGRAM_OPTIONS = [
    ("wine64", "the wine64 loader"),
    ("template", "the template prefix"),
    ("dbgcapture", "dbgcapture.exe (host path)"),
    ("program", "the program to test (host path)"),
    ("name", "the program's file name in the prefix"),
    ("tag", "the program's trace tag"),
]
PACKAGE_OPTIONS = [
    ("variant", "x64 or x86: the driver package's file names"),
    ("package", "the folder of the sample driver package (host path)"),
]


def main(options):
    """Parses the harness options (a list of (name, help)), stores them in a
    namespace and runs unittest with the remaining arguments."""
    parser = argparse.ArgumentParser(add_help=False)
    for name, help_text in options:
        parser.add_argument("--" + name, required=True, help=help_text)
    known, rest = parser.parse_known_args()
    for name, _ in options:
        setattr(CONFIG, name.replace("-", "_"), getattr(known, name.replace("-", "_")))
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


class _Config:
    pass


CONFIG = _Config()
