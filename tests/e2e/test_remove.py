"""The removal operation ("/R") under Wine, after an installation of the
sample driver package or on a machine without one.

Usage: test_remove.py --wine64 WINE64 --template PREFIX --dbgcapture EXE
                      --holdfile EXE --program EXE --name NAME --tag TAG
                      --variant x64|x86 --package DIR [unittest arguments]
Every test case runs in a fresh copy of the template prefix, with the program
copied to C:\\Dravmel\\NAME and the package's files to C:\\Dravmel\\package.
A restart ends every process of the prefix and runs wineboot -r, which carries
out the file operations left for the next start. The state of the machine is
the registry as Wine saves it (system.reg, user.reg) and drive C:'s tree with
the contents of its files; after a removal and a restart it must be the state
before the installation, apart from the differences listed in TOLERATED.
"""

import collections
import ntpath
import os
import subprocess
import time

import wineharness
from test_install import (CCS, DISPLAY_CLASS, HARDWARE_ID, LOG, PACKAGES, PROFILE_VIDEO_KEY,
                          REINSTALL_KEY, SUCCESS_END, SYSTEM32, VIDEO_KEY, InstallTestCase)
from wineharness import CONFIG, pending_file_operations, windows_path_of_host

REMOVE_LOG = "C:\\Dravmel\\remove.log"
REMOVE_END = [
    ("QV_UnRegisterMirrorDriver", "<=== QV_UnRegisterMirrorDriver()\n"),
    ("QV_Uninstall", "<===== QV_Uninstall(Ret=0)\n"),
    ("main", "Process return. (Ret=0)\n"),
]
# Where the sample INF puts the reinstall entry's copies of the package.
BACKUP_FOLDER = SYSTEM32 + "\\ReinstallBackups\\0000\\DriverFiles"
# Windows keeps the last known good copies of the driver files here.
LAST_GOOD = "C:\\windows\\LastGood\\System32"
MONITOR_CLASS = "{4D36E96E-E325-11CE-BFC1-08002BE10318}"
HOLD_TIMEOUT = 60  # seconds for the holder to open its file

# One difference between two states. what: "key" (before/after: its values
# {lower-case name: (type, data)} or None when absent), "value" (a key present
# in both; name None is the default value; before/after: (type, data) or None)
# or "file" (before/after: as WinePrefix.file_tree gives, or None).
Difference = collections.namedtuple("Difference", "what path name before after")
Tolerance = collections.namedtuple("Tolerance", "reason matches")


def _is(path, reference):
    return path.lower() == reference.lower()


def _key_dropped(*paths):
    """An empty key of the state before that is gone."""
    return lambda d: (d.what == "key" and d.before == {} and d.after is None
                      and any(_is(d.path, p) for p in paths))


def _added(what, paths, after):
    return lambda d: (d.what == what and d.before is None and d.after == after
                      and any(_is(d.path, p) for p in paths))


# What the comparison with the state before the installation lets pass. Wine
# changes the first four at every start, with or without the program.
TOLERATED = [
    Tolerance("Wine's display setup writes the display and monitor class keys anew at every "
              "start, without their default value (the class's display name)",
              lambda d: (d.what == "value" and d.name is None and d.after is None
                         and any(_is(d.path, "HKLM\\%s\\Control\\Class\\%s" % (CCS, c))
                                 for c in (DISPLAY_CLASS, MONITOR_CLASS)))),
    Tolerance("Wine's display setup writes the date and time of every start into the driver "
              "key of its own display adapter (a key of the display class present before)",
              lambda d: (d.what == "value" and d.name in ("DriverDate", "DriverDateData")
                         and d.before is not None and d.after is not None
                         and _is(d.path.rsplit("\\", 1)[0],
                                 "HKLM\\%s\\Control\\Class\\%s" % (CCS, DISPLAY_CLASS)))),
    Tolerance("Wine lists the host's network interfaces below NetworkCards as volatile keys at "
              "every start and does not save a key without values whose subkeys are all volatile",
              _key_dropped("HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards")),
    Tolerance("the test makes the video keys ordinary keys for the package (keep_video_keys); "
              "Wine adds its own adapters below them as volatile keys and does not save a key "
              "without values whose subkeys are all volatile",
              _key_dropped("HKLM\\" + VIDEO_KEY, "HKLM\\" + PROFILE_VIDEO_KEY)),
    Tolerance("the package's INF creates the Reinstall key, which Windows always has; the "
              "program deletes the driver's entry below it, not the key",
              _added("key", ["HKLM\\" + REINSTALL_KEY], {})),
    Tolerance("the package's INF makes the reinstall backup folders; the program deletes the "
              "driver files in them, not the folders",
              _added("file", [ntpath.dirname(ntpath.dirname(BACKUP_FOLDER)),
                              ntpath.dirname(BACKUP_FOLDER), BACKUP_FOLDER], "folder")),
    Tolerance("winedbg creates its empty settings key when a process of the Wine session "
              "crashes, which one of Wine's own start-up processes now and then does on a busy "
              "machine (a crash of the program fails its exit code check, one of the restart's "
              "file operations the checks of what is gone and pending)",
              _added("key", ["HKCU\\Software\\Wine\\WineDbg"], {})),
    Tolerance("the trace logs the program writes",
              lambda d: (d.what == "file" and d.before is None and d.after != "folder"
                         and any(_is(d.path, p) for p in (LOG, REMOVE_LOG)))),
]


class State:
    """The registry as Wine saves it and drive C:'s tree; taking it ends
    the prefix's processes."""

    def __init__(self, prefix):
        self.registries = {"HKLM": prefix.machine_registry(), "HKCU": prefix.user_registry()}
        self.files = prefix.file_tree()


def _values(key):
    """{lower-case name: (type, data)} of a key, None for no key."""
    return None if key is None else {lower: entry[1:] for lower, entry in key.values().items()}


def _by_lower_case(names):
    return {name.lower(): name for name in names}


def differences(before, after):
    """The Differences between two States; names are compared without regard
    to letter case."""
    found = []
    for hive in sorted(before.registries):
        old = {k.path.lower(): k for k in before.registries[hive].keys()}
        new = {k.path.lower(): k for k in after.registries[hive].keys()}
        for lower in sorted(set(old) | set(new)):
            key_old, key_new = old.get(lower), new.get(lower)
            path = "%s\\%s" % (hive, (key_old or key_new).path)
            values_old, values_new = _values(key_old), _values(key_new)
            if key_old is None or key_new is None:
                found.append(Difference("key", path, None, values_old, values_new))
                continue
            for name in sorted(set(values_old) | set(values_new)):
                if values_old.get(name) != values_new.get(name):
                    original = (key_old.values().get(name) or key_new.values().get(name))[0]
                    found.append(Difference("value", path, original, values_old.get(name),
                                            values_new.get(name)))
    old, new = _by_lower_case(before.files), _by_lower_case(after.files)
    for lower in sorted(set(old) | set(new)):
        file_old = before.files.get(old.get(lower))
        file_new = after.files.get(new.get(lower))
        if file_old != file_new:
            found.append(Difference("file", old.get(lower) or new.get(lower), None, file_old,
                                    file_new))
    return found


class RemoveTestCase(InstallTestCase):
    def setUp(self):
        super().setUp()
        self.folder = self.place_package()
        # Windows has this folder; the removal deletes the driver files in it.
        self.prefix.make_dirs(LAST_GOOD + "\\drivers")
        self.system_dll = SYSTEM32 + "\\" + self.dll
        self.system_sys = SYSTEM32 + "\\drivers\\" + self.sys

    def remove(self):
        """Runs "/R /L:REMOVE_LOG", which must end with 0 and the usual last records;
        returns this run's trace records."""
        capture, records = self.run_logged(["/R"], REMOVE_LOG, 0)
        self.assert_log_ends(records, REMOVE_END)
        self.assertEqual([r.text for r in records
                          if r.message.startswith("Error: MoveFileEx(")], [])
        return records

    def install_for_removal(self):
        """Installs the package and adds what Windows would have beside it: the
        precompiled INF (.pnf) next to the system's copy and the backup copy,
        and the last known good copies of the driver files. Returns the paths
        of every file the removal deletes at once.

        The removal has to follow in the same Wine session (no restart of the
        wineserver, so no registry read either): a new session's display
        setup drops the driver key that names the system's copy of the INF."""
        capture, records = self.install(self.folder, 0)
        self.assert_log_ends(records, SUCCESS_END)
        inf, dll, sys_ = PACKAGES[CONFIG.variant]
        self.assert_file(self.system_dll, dll)
        self.assert_file(self.system_sys, sys_)
        inf_folder = self.prefix.host_path("C:\\windows\\inf")
        copies = [name for name in sorted(os.listdir(inf_folder))
                  if self.read_host(os.path.join(inf_folder, name)) == self.package_bytes(inf)]
        self.assertEqual(len(copies), 1, "copies of %s in C:\\windows\\inf: %r" % (inf, copies))
        backups = [BACKUP_FOLDER + "\\" + name for name in (inf, dll, sys_)]
        for path in backups:
            self.assert_file(path, ntpath.basename(path))

        pnf = ntpath.splitext(inf)[0] + ".PNF"
        system_inf = "C:\\windows\\inf\\" + copies[0]
        added = {
            ntpath.splitext(system_inf)[0] + ".pnf": b"precompiled INF",
            BACKUP_FOLDER + "\\" + pnf: b"precompiled INF",
            LAST_GOOD + "\\" + dll: self.package_bytes(dll),
            LAST_GOOD + "\\drivers\\" + sys_: self.package_bytes(sys_),
        }
        for path, data in added.items():
            with open(self.prefix.host_path(path), "wb") as f:
                f.write(data)
        return [system_inf, self.system_sys] + backups + sorted(added)

    @staticmethod
    def read_host(path):
        with open(path, "rb") as f:
            return f.read()

    # -- checks -------------------------------------------------------------

    def assert_pending(self, expected):
        """The operations left for the next start are the deletion of the
        expected paths, in this order (None: there is no list)."""
        pending = pending_file_operations(self.prefix.machine_registry())
        if expected is None:
            self.assertIsNone(pending)
            return
        self.assertEqual([(source.lower(), target) for source, target in pending or []],
                         [(path.lower(), "") for path in expected])

    def assert_gone(self, paths):
        self.assertEqual([p for p in paths if self.prefix.exists(p)], [], "still present")

    def assert_state_as(self, before, after):
        """after is before apart from the tolerated differences."""
        left = [d for d in differences(before, after)
                if not any(t.matches(d) for t in TOLERATED)]
        self.assertEqual(left, [], "differences from the state before:\n" +
                         "\n".join("  %r" % (d,) for d in left))

    def assert_file_steps(self, records, expected):
        """expected (function, message) pairs follow each other among the
        records of the file removal functions."""
        steps = [(r.function, r.message) for r in records
                 if r.function in ("QV_DeleteFile", "QV_RemoveFile")]
        self.assertIn(expected[0], steps, "".join(r.text for r in records))
        position = steps.index(expected[0])
        self.assertEqual(steps[position:position + len(expected)], expected,
                         "".join(r.text for r in records))

    # -- a file held open -----------------------------------------------------

    def hold_open(self, windows_path):
        """Has holdfile.exe open a file without sharing its deletion; returns a
        function that ends the holder and returns its exit code."""
        ready = os.path.join(self.prefix.work, "held")
        release = os.path.join(self.prefix.work, "release")
        proc = self.prefix.start(CONFIG.holdfile, [windows_path, windows_path_of_host(ready),
                                                   windows_path_of_host(release)])

        def end():
            if not os.path.exists(release):
                open(release, "w").close()
            try:
                return proc.wait(wineharness.RUN_TIMEOUT)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
                raise
        self.addCleanup(end)

        deadline = time.monotonic() + HOLD_TIMEOUT
        while not os.path.exists(ready):
            if proc.poll() is not None or time.monotonic() > deadline:
                with open(proc.stderr_file, "rb") as f:
                    self.fail("holdfile.exe did not hold %s (status %r): %s"
                              % (windows_path, proc.poll(), f.read().decode("latin-1")))
            time.sleep(0.02)
        return end


class Remove(RemoveTestCase):
    def test_nothing_installed(self):
        before = State(self.prefix)
        records = self.remove()
        messages = [r.message for r in records]
        self.assertIn(" <-- QV_GetMirrorGuid( NOT FOUND )\n", messages)
        self.assertNotIn("Found! [%s]\n" % HARDWARE_ID, messages)
        self.assert_pending(None)
        self.assert_state_as(before, State(self.prefix))

    def test_removal_restores_the_machine_after_a_restart(self):
        before = State(self.prefix)
        removed_at_once = self.install_for_removal()
        records = self.remove()
        self.assertIn((" --> QV_RemoveFile( %s, %s )\n" % (SYSTEM32, self.dll)),
                      [r.message for r in records])
        # The display driver is only scheduled; everything else goes at once.
        self.assertTrue(self.prefix.exists(self.system_dll), "%s deleted at once" % self.system_dll)
        self.assert_gone(removed_at_once)
        self.assert_pending([self.system_dll])
        self.prefix.restart()
        self.assert_gone([self.system_dll])
        self.assert_pending(None)
        self.assert_state_as(before, State(self.prefix))

    def test_held_driver_file_is_deleted_at_the_restart(self):
        before = State(self.prefix)
        self.install_for_removal()
        end_holder = self.hold_open(self.system_sys)
        records = self.remove()
        self.assert_file_steps(records, [
            ("QV_DeleteFile", " --> QV_DeleteFile( %s\\drivers, %s )\n" % (SYSTEM32, self.sys)),
            ("QV_DeleteFile", "Error: DeleteFile(Err=32)\n"),
            ("QV_RemoveFile", " --> QV_RemoveFile( %s )\n" % self.system_sys),
        ])
        self.assertTrue(self.prefix.exists(self.system_sys), "deleted while held")
        self.assertEqual(end_holder(), 0)
        self.assert_pending([self.system_dll, self.system_sys])
        self.assertTrue(self.prefix.exists(self.system_sys) and self.prefix.exists(self.system_dll))
        self.prefix.restart()
        self.assert_gone([self.system_dll, self.system_sys])
        self.assert_pending(None)
        self.assert_state_as(before, State(self.prefix))

    def test_second_removal_finds_only_what_waits_for_the_restart(self):
        before = State(self.prefix)
        self.install_for_removal()
        self.remove()
        records = self.remove()
        messages = [(r.function, r.message) for r in records]
        for expected in [
            ("QV_GetOEMInfFileName", " <-- QV_GetOEMInfFileName( NOT FOUND ) Ret=259\n"),
            ("QV_GetMirrorGuid", " <-- QV_GetMirrorGuid( NOT FOUND )\n"),
            ("QV_GetAttachToDesktopPath", " <-- QV_GetAttachToDesktopPath( NOT FOUND )\n"),
            ("qvOpenService", "ERROR: OpenService(Err=1060)\n"),
            ("QV_GetReinstallRegPath", " <-- QV_GetReinstallRegPath( NOT FOUND )\n"),
        ]:
            self.assertIn(expected, messages, "".join(r.text for r in records))
        self.assertEqual([m for m in messages if m[1].startswith("Found!")
                          or m[0] in ("QV_DeleteRegistry", "QV_DeleteAllSubKey")], [])
        # Only the display driver waits for the restart (scheduled once more
        # or not).
        pending = pending_file_operations(self.prefix.machine_registry())
        self.assertEqual({(source.lower(), target) for source, target in pending or []},
                         {(self.system_dll.lower(), "")})
        self.prefix.restart()
        self.assert_pending(None)
        self.assert_state_as(before, State(self.prefix))


if __name__ == "__main__":
    wineharness.main(wineharness.PROGRAM_OPTIONS + wineharness.PACKAGE_OPTIONS + [
        ("holdfile", "holdfile.exe (host path)"),
    ])
