"""The program's command line, trace log and debugger output under Wine.

Usage: test_program.py --wine64 WINE64 --template PREFIX --dbgcapture EXE
                       --program EXE --name NAME --tag TAG [unittest arguments]
Every test case runs in a fresh copy of the template prefix, with the program
copied to C:\\Dravmel\\NAME.
"""

import datetime
import ntpath
import os
import unittest

import wineharness
from wineharness import CONFIG, Record, is_record_text, split_records

PROGRAM_DIR = "C:\\Dravmel"
DEFAULT_LOG_NAME = "QVDRAVMEL.LOG"
ERROR_INVALID_PARAMETER = 87


class ProgramTestCase(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.tag = CONFIG.tag
        self.prefix = wineharness.WinePrefix(CONFIG.wine64, CONFIG.template, CONFIG.dbgcapture)
        self.addCleanup(self.prefix.close)
        self.program = self.prefix.install_file(CONFIG.program, PROGRAM_DIR, CONFIG.name)
        self.default_log = self.prefix.temp_dir + DEFAULT_LOG_NAME

    def run_program(self, *args):
        started = _now()
        capture = self.prefix.run_captured(self.program, args)
        capture.started, capture.ended = started, _now()
        return capture

    def tagged(self, text):
        return "%s: %s" % (self.tag, text)

    def assert_exit_code(self, capture, expected):
        self.assertEqual(capture.exit_code, expected, "\n%s" % capture)

    def assert_in_order(self, events, expected, capture):
        """expected occur in events, in this order (others may lie between)."""
        position = 0
        for text in expected:
            if text not in events[position:]:
                self.fail("missing or out of order: %r\n%s" % (text, capture))
            position = events.index(text, position) + 1

    def assert_records(self, text, capture=None, window=None):
        """Checks every record of a log's text; returns them as Records."""
        records = []
        for number, line in enumerate(split_records(text), 1):
            try:
                record = Record(line)
            except ValueError as e:
                self.fail("record %d: %s" % (number, e))
            self.assertEqual(record.tag, self.tag, line)
            self.assertRegex(record.line, r"^[1-9][0-9]*$", line)
            self.assertEqual(record.reserved, "0", line)
            self.assertRegex(record.function, r"^\S+$", line)
            if records:
                self.assertGreaterEqual(record.time, records[-1].time, "time goes back: %r" % line)
            records.append(record)
        if window is not None:
            slack = datetime.timedelta(seconds=2)
            earliest, latest = window[0] - slack, window[1] + slack
            for record in records:
                self.assertTrue(earliest <= record.time <= latest,
                                "time %s outside the run (%s to %s): %r"
                                % (record.time, earliest, latest, record.text))
        return records

    def assert_events_well_formed(self, capture):
        """Each debugger event is a tagged line or a log record."""
        for event in capture.events:
            if not event.startswith(self.tagged("")):
                self.assertTrue(is_record_text(event), "neither tagged nor a record: %r\n%s"
                                % (event, capture))
                self.assert_records(event)

    def assert_log_mirrors_events(self, log_text, capture, log_name):
        """The records written to the log are exactly the debugger's records
        from the moment the log is named (then opened), in the same order."""
        marker = self.tagged("szLogFileName=[%s]\n" % log_name)
        self.assertIn(marker, capture.events, "\n%s" % capture)
        after = capture.events[capture.events.index(marker) + 1:]
        self.assertEqual(split_records(log_text), [e for e in after if is_record_text(e)],
                         "\n%s" % capture)

    def assert_ends_with_process_return(self, records, result):
        last = records[-1]
        self.assertEqual((last.function, last.message),
                         ("main", "Process return. (Ret=%d)\n" % result), last.text)


class CommandLineFaults(ProgramTestCase):
    def test_no_argument_is_refused_before_any_log(self):
        capture = self.run_program()
        self.assert_exit_code(capture, ERROR_INVALID_PARAMETER)
        self.assertEqual(capture.events, [self.tagged("->main(argc=1)\n"),
                                          self.tagged("Invalid Parameter? (Ret=87)\n")])
        self.assertFalse(self.prefix.exists(self.default_log))

    def test_both_operations_are_refused(self):
        for args in (["/A", "/R"], ["/R", "/A"]):
            with self.subTest(args=args):
                capture = self.run_program(*args)
                self.assert_exit_code(capture, ERROR_INVALID_PARAMETER)
                self.assert_in_order(capture.events, [
                    self.tagged("->main(argc=3)\n"),
                    self.tagged("/R or /A is already specified.\n"),
                    self.tagged("Invalid Parameter? (Ret=87)\n"),
                ], capture)
                self.assertFalse(self.prefix.exists(self.default_log))


class RemoveWithLogs(ProgramTestCase):
    def test_default_log_in_the_users_temp_folder(self):
        capture = self.run_program("/R")
        self.assert_exit_code(capture, 0)
        self.assertEqual(capture.events[0], self.tagged("->main(argc=2)\n"), "\n%s" % capture)
        # GetTempPathA's result ends in a backslash; the program adds one more.
        log_name = self.prefix.temp_dir + "\\" + DEFAULT_LOG_NAME
        self.assert_in_order(capture.events, [
            self.tagged("Operation=0x20\n"),
            self.tagged("szInstImageDir=[]\n"),
            self.tagged("szLogFileName=[%s]\n" % log_name),
        ], capture)
        self.assert_events_well_formed(capture)

        self.assertTrue(self.prefix.exists(self.default_log), "no %s\n%s"
                        % (self.default_log, capture))
        log_text = self.prefix.read_text(self.default_log)
        records = self.assert_records(log_text, window=(capture.started, capture.ended))
        self.assertTrue(records, "empty log")
        self.assert_ends_with_process_return(records, 0)
        self.assert_log_mirrors_events(log_text, capture, log_name)

    def test_named_log_is_appended_to_by_each_run(self):
        log_name = "C:\\some\\file.log"
        self.prefix.make_dirs(ntpath.dirname(log_name))

        first = self.run_program("/L:" + log_name, "/R")
        self.assert_exit_code(first, 0)
        self.assertIn(self.tagged("szLogFileName=[%s]\n" % log_name), first.events,
                      "\n%s" % first)
        first_text = self.prefix.read_text(log_name)
        first_records = self.assert_records(first_text, window=(first.started, first.ended))
        self.assert_ends_with_process_return(first_records, 0)
        self.assert_log_mirrors_events(first_text, first, log_name)
        self.assertFalse(self.prefix.exists(self.default_log),
                         "the default log was written as well")

        second = self.run_program("/L:" + log_name, "/R")
        self.assert_exit_code(second, 0)
        second_text = self.prefix.read_text(log_name)
        self.assertTrue(second_text.startswith(first_text),
                        "the first run's records were not kept:\n%s" % second_text)
        self.assert_log_mirrors_events(second_text[len(first_text):], second, log_name)
        records = self.assert_records(second_text, window=(first.started, second.ended))
        self.assertEqual(
            [r.message for r in records if r.function == "main"].count("Process return. (Ret=0)\n"),
            2, second_text)
        self.assert_ends_with_process_return(records, 0)

    def test_log_in_a_missing_folder_is_reported_and_skipped(self):
        log_name = "C:\\missing-folder\\x.log"
        capture = self.run_program("/L:" + log_name, "/R")
        self.assert_exit_code(capture, 0)
        self.assert_in_order(capture.events, [
            self.tagged("szLogFileName=[%s]\n" % log_name),
            self.tagged("ERROR: CreateFile(3)\n"),  # ERROR_PATH_NOT_FOUND
        ], capture)
        self.assert_events_well_formed(capture)
        self.assertFalse(self.prefix.exists(ntpath.dirname(log_name)))
        self.assertFalse(self.prefix.exists(self.default_log),
                         "fell back to the default log")


def _now():
    # The prefix runs with TZ=UTC.
    return datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)


if __name__ == "__main__":
    wineharness.main(wineharness.PROGRAM_OPTIONS)
