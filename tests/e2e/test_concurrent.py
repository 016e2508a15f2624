"""Two removals ("/R") started together in one prefix with one trace log.

Usage: test_concurrent.py --wine64 WINE64 --template PREFIX --dbgcapture EXE
                          --dbgtogether EXE --dbgecho EXE --program EXE
                          --name NAME --tag TAG --variant x64|x86 --package DIR
                          [unittest arguments]
dbgtogether.exe runs both as their debugger and holds each at its first debug
string until both have reached theirs: Wine's start-up time varies by more
than a removal lasts, and would otherwise often put one run after the other.
The log is opened for reading and writing, shared for reading only, and kept
open for the whole run. So the run that opens it first writes its records
there; the other gets a sharing violation and keeps its whole trace on the
debugger channel. Both end with 0. A pair that did not overlap (neither was
refused the log) must have written the log one after the other, and is
tried again, up to ATTEMPTS times. DbgTogether tests the tool itself.
"""

import datetime
import os
import re
import subprocess
import sys
import unittest

import wineharness
from test_install import HARDWARE_ID, LOG, SERVICE_KEY, SUCCESS_END, SYSTEM32, TraceRecord
from test_remove import LAST_GOOD, REMOVE_END, RemoveTestCase
from wineharness import CONFIG, Capture, HarnessError, is_record_text, windows_path_of_host

ATTEMPTS = 5
SHARING_VIOLATION = "ERROR: CreateFile(32)\n"
STATUS_ACCESS_VIOLATION = 0xC0000005


def run_dbgtogether(prefix, argv, files):
    """Runs dbgtogether.exe with argv; returns a Capture for each (events
    file, exit code file) of files."""
    proc = prefix.run(CONFIG.dbgtogether, argv)
    stderr = proc.stderr.decode("latin-1")
    if proc.returncode != 0 or "dbgtogether: " in stderr:
        raise HarnessError("dbgtogether.exe failed (status %d): %s" % (proc.returncode, stderr))
    captures = []
    for k, (events, exit_file) in enumerate(files):
        with open(exit_file) as f:
            exit_code = int(f.read())
        with open(events, "rb") as f:
            data = f.read()
        if data and not data.endswith(b"\0"):
            raise HarnessError("events file does not end with a separator")
        captures.append(Capture(argv[3 * k + 2], exit_code,
                                [e.decode("latin-1") for e in data.split(b"\0")[:-1]], "", stderr))
    return captures


def _time(record):
    return datetime.datetime.strptime(record.text[:23], "%Y/%m/%d %H:%M:%S:%f")


class Run:
    """One run of a pair: its capture, all its trace records, and those after
    it named the log (and tried to open it)."""

    def __init__(self, test, capture, log):
        self.capture = capture
        marker = test.tagged("szLogFileName=[%s]\n" % log)
        test.assertIn(marker, capture.events, "\n%s" % capture)
        self.after_marker = capture.events[capture.events.index(marker) + 1:]
        self.records = [TraceRecord(e) for e in capture.events if is_record_text(e)]
        self.log_records = [TraceRecord(e) for e in self.after_marker if is_record_text(e)]
        test.assertTrue(self.log_records, "nothing traced\n%s" % capture)
        self.refused = test.tagged(SHARING_VIOLATION) in capture.events

    @property
    def first(self):
        return _time(self.records[0])

    @property
    def last(self):
        return _time(self.records[-1])


class ConcurrentRemovalTestCase(RemoveTestCase):
    def setUp(self):
        super().setUp()
        self.pairs = 0

    def full_trace(self):
        """The steps every removal traces, whatever it finds: (function,
        start of the message), in this order."""
        return [
            ("QV_Uninstall", "=====> QV_Uninstall()\n"),
            ("QV_UnRegisterMirrorDriver", "===> QV_UnRegisterMirrorDriver()\n"),
            ("QV_GetOEMInfFileName", " --> QV_GetOEMInfFileName()\n"),
            ("QV_GetMirrorGuid", " --> QV_GetMirrorGuid("),
            ("QV_GetAttachToDesktopPath", " --> QV_GetAttachToDesktopPath("),
            ("QV_DeviceDriverUninstall",
             " --> QV_DeviceDriverUninstall(HardwareID: [%s]\n" % HARDWARE_ID),
            ("QV_UnRegisterService", "===> QV_UnRegisterService(Service=QVMIRROR, Stop=FALSE)\n"),
            ("QV_RemoveFile", " --> QV_RemoveFile( %s, %s )\n" % (SYSTEM32, self.dll)),
            ("QV_DeleteFile", " --> QV_DeleteFile( %s\\drivers, %s )\n" % (SYSTEM32, self.sys)),
            ("QV_GetReinstallRegPath", " --> QV_GetReinstallRegPath()\n"),
            ("QV_DeleteFile", " --> QV_DeleteFile( %s, %s )\n" % (LAST_GOOD, self.dll)),
            ("QV_DeleteFile", " --> QV_DeleteFile( %s\\drivers, %s )\n" % (LAST_GOOD, self.sys)),
        ] + REMOVE_END

    # -- running a pair ----------------------------------------------------

    def run_pair(self, args):
        """Runs the program twice at once under dbgtogether.exe; returns both
        Captures."""
        self.pairs += 1
        argv, files = [], []
        for k in (1, 2):
            events = os.path.join(self.prefix.work, "pair-%d-events-%d.bin" % (self.pairs, k))
            exit_file = os.path.join(self.prefix.work, "pair-%d-exit-%d.txt" % (self.pairs, k))
            files.append((events, exit_file))
            argv += [windows_path_of_host(events), windows_path_of_host(exit_file),
                     subprocess.list2cmdline([self.program] + list(args))]
        return run_dbgtogether(self.prefix, argv, files)

    def remove_together(self, log):
        """Runs two removals at once with one log and checks them; returns
        (the run that held the log, the refused run), or None for both when the
        runs did not overlap."""
        before = self.prefix.read_text(log) if self.prefix.exists(log) else ""
        runs = [Run(self, capture, log) for capture in self.run_pair(["/R", "/L:" + log])]
        for run in runs:
            self.assert_removal_traced(run)
        text = self.prefix.read_text(log)
        self.assertTrue(text.startswith(before), "earlier records lost:\n%s" % text)
        refused = [run for run in runs if run.refused]
        self.assertLess(len(refused), 2, "both runs were refused the log:\n%s\n%s"
                        % (runs[0].capture, runs[1].capture))
        if refused:
            loser = refused[0]
            winner = runs[1 - runs.index(loser)]
            self.assert_log_holds(text[len(before):], [winner])
            # The refused run asked for the log while the other held it.
            self.assertTrue(loser.first <= winner.last and winner.first <= loser.last,
                            "times do not overlap: %s..%s and %s..%s"
                            % (winner.first, winner.last, loser.first, loser.last))
            return winner, loser
        # One after the other: both wrote the log, never at the same time.
        runs.sort(key=lambda run: _time(run.log_records[0]))
        self.assert_log_holds(text[len(before):], runs)
        self.assertLessEqual(_time(runs[0].log_records[-1]), _time(runs[1].log_records[0]),
                             "both runs had the log open at once")
        return None, None

    def remove_together_overlapping(self, log, prepare=None):
        """remove_together until the runs overlap, each attempt after the
        first in a fresh prefix prepared by prepare()."""
        for attempt in range(ATTEMPTS):
            if attempt:
                self.prefix.close()
                self.setUp()
                if prepare:
                    prepare()
            winner, loser = self.remove_together(log)
            if winner:
                return winner, loser
            sys.stderr.write("attempt %d: the runs did not overlap\n" % (attempt + 1))
        self.fail("the two runs did not overlap in %d attempts" % ATTEMPTS)

    # -- checks -------------------------------------------------------------

    def assert_removal_traced(self, run):
        """Ends with 0 after every step of a removal; a refused run says so
        right after naming the log, and traces no write."""
        capture = run.capture
        self.assert_exit_code(capture, 0)
        for record in run.records:
            self.assertEqual((record.tag, record.reserved), (self.tag, "0"), record.text)
        if run.refused:
            self.assertEqual(run.after_marker[0], self.tagged(SHARING_VIOLATION), "\n%s" % capture)
        self.assertEqual([e for e in capture.events if "ERROR: CreateFile(" in e
                          or "Can not write to file" in e],
                         [self.tagged(SHARING_VIOLATION)] if run.refused else [], "\n%s" % capture)
        steps = [(r.function, r.message) for r in run.log_records]
        position = 0
        for function, start in self.full_trace():
            for index in range(position, len(steps)):
                if steps[index][0] == function and steps[index][1].startswith(start):
                    position = index + 1
                    break
            else:
                self.fail("no %r after record %d\n%s" % ((function, start), position, capture))
        self.assert_log_ends(run.log_records, REMOVE_END)

    def assert_log_holds(self, text, runs):
        """text, cut into records where a time stamp and the tag begin, is
        these runs' records after naming the log, whole and in their order."""
        starts = [m.start() for m in re.finditer(
            r"\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}:\d{3},%s," % re.escape(self.tag), text)]
        self.assertEqual(starts[:1], [0], "the log's new text does not begin with a record:\n%s"
                         % text)
        pieces = [text[a:b] for a, b in zip(starts, starts[1:] + [len(text)])]
        expected = [r.text for run in runs for r in run.log_records]
        for number, (piece, event) in enumerate(zip(pieces, expected), 1):
            self.assertEqual(piece, event, "record %d of the new text is torn" % number)
        self.assertEqual(len(pieces), len(expected), "records in the log:\n%s" % text)
        self.assertEqual(text, "".join(expected))

    def assert_same_steps(self, first, second):
        """Both runs traced the same steps (addresses aside)."""
        def steps(run):
            return [(r.function, r.line, re.sub(r"0x[0-9a-fA-F]+", "0x?", r.message))
                    for r in run.log_records]
        self.assertEqual(steps(first), steps(second))


class DbgTogether(unittest.TestCase):
    """dbgtogether.exe itself, with dbgecho.exe as the debuggee."""

    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.prefix = wineharness.WinePrefix(CONFIG.wine64, CONFIG.template)
        cls.addClassCleanup(cls.prefix.close)
        cls.dbgecho = cls.prefix.install_file(CONFIG.dbgecho, "C:\\Program Files\\dbg echo")
        cls.runs = 0

    def run_together(self, *items_of_each):
        """Runs dbgecho.exe once per list of arguments; returns [(exit code,
        events)] in the same order."""
        DbgTogether.runs += 1
        argv, files = [], []
        for k, items in enumerate(items_of_each):
            events = os.path.join(self.prefix.work, "tool-%d-%d.bin" % (self.runs, k))
            exit_file = os.path.join(self.prefix.work, "tool-%d-%d.txt" % (self.runs, k))
            files.append((events, exit_file))
            argv += [windows_path_of_host(events), windows_path_of_host(exit_file),
                     subprocess.list2cmdline([self.dbgecho] + list(items))]
        return [(c.exit_code, c.events) for c in run_dbgtogether(self.prefix, argv, files)]

    def test_each_programs_texts_and_exit_code_apart(self):
        self.assertEqual(
            self.run_together(["7", "a1", "a 2\n"], ["3758096907", "b1", "--raise", "b2"],
                              ["0", "c"]),
            [(7, ["a1", "a 2\n"]), (0xE000020B, ["b1", "handled", "b2"]), (0, ["c"])])

    def test_a_program_without_texts_holds_nobody_up(self):
        self.assertEqual(self.run_together(["5"], ["0", "x", "y"]),
                         [(5, []), (0, ["x", "y"])])

    def test_a_crash_ends_only_that_program(self):
        self.assertEqual(self.run_together(["0", "before", "--crash", "never"], ["0", "x", "y"]),
                         [(STATUS_ACCESS_VIOLATION, ["before"]), (0, ["x", "y"])])


class ConcurrentRemoval(ConcurrentRemovalTestCase):
    def test_two_removals_on_a_clean_machine(self):
        # The log does not exist yet: both runs race to create it.
        self.assertFalse(self.prefix.exists(LOG))
        winner, loser = self.remove_together_overlapping(LOG)
        self.assert_same_steps(winner, loser)
        self.assert_pending(None)

    def test_two_removals_after_an_installation(self):
        def prepare():
            self.install_for_removal()
            self.assertTrue(self.prefix.read_text(LOG).endswith(SUCCESS_END[-1][1]))

        prepare()
        self.remove_together_overlapping(LOG, prepare)
        registry = self.prefix.machine_registry()
        self.assertEqual([key.path for key in self.devices_with_id(registry)], [])
        self.assertIsNone(registry.key(SERVICE_KEY))
        pending = wineharness.pending_file_operations(registry) or []
        self.assertIn((self.system_dll.lower(), ""),
                      [(source.lower(), target) for source, target in pending])
        self.assert_gone([self.system_sys])


if __name__ == "__main__":
    wineharness.main(wineharness.PROGRAM_OPTIONS + wineharness.PACKAGE_OPTIONS + [
        ("dbgtogether", "dbgtogether.exe (host path)"),
        ("dbgecho", "dbgecho.exe (host path), the debuggee of dbgtogether.exe's own tests"),
    ])
