"""The Windows-side test tools themselves, under Wine.

Usage: test_tools.py --wine64 WINE64 --template PREFIX --tools DIR
                     [unittest arguments]
DIR holds dbgcapture.exe, dbgecho.exe and peinspect.exe. One prefix serves
all cases: the tools change nothing in it.
"""

import os
import unittest

import wineharness
from wineharness import CONFIG

STATUS_ACCESS_VIOLATION = 0xC0000005


class ToolsTestCase(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.prefix = wineharness.WinePrefix(CONFIG.wine64, CONFIG.template,
                                            os.path.join(CONFIG.tools, "dbgcapture.exe"))
        cls.addClassCleanup(cls.prefix.close)
        cls.dbgecho = cls.prefix.install_file(os.path.join(CONFIG.tools, "dbgecho.exe"),
                                              "C:\\Program Files\\dbg echo")


class DbgCapture(ToolsTestCase):
    def test_texts_arrive_unchanged_and_separated(self):
        texts = [
            "plain",
            "two words",
            "",
            "line end\n",
            "no line end",
            "C:\\path\\with\\backslashes\\",
            "trailing backslashes\\\\",
            'a "quoted" part',
            'backslash before quote \\"',
            "\ttab and\r\nCRLF",
            "x" * 5000,
        ]
        capture = self.prefix.run_captured(self.dbgecho, ["0"] + texts)
        self.assertEqual(capture.exit_code, 0, "\n%s" % capture)
        self.assertEqual(capture.events, texts)

    def test_exit_code_keeps_all_32_bits(self):
        for code in (0, 87, 256 + 7, 0xE000020B):
            with self.subTest(code=code):
                capture = self.prefix.run_captured(self.dbgecho, [str(code)])
                self.assertEqual(capture.exit_code, code)
                self.assertEqual(capture.events, [])

    def test_debuggee_handles_its_own_exceptions(self):
        capture = self.prefix.run_captured(self.dbgecho, ["3", "before", "--raise", "after"])
        self.assertEqual((capture.exit_code, capture.events), (3, ["before", "handled", "after"]))

    def test_unhandled_exception_ends_the_debuggee(self):
        capture = self.prefix.run_captured(self.dbgecho, ["0", "before", "--crash", "never"],
                                           timeout=60)
        self.assertEqual((capture.exit_code, capture.events),
                         (STATUS_ACCESS_VIOLATION, ["before"]))

    def test_missing_program_is_a_tool_failure(self):
        with self.assertRaisesRegex(wineharness.HarnessError, "CreateProcess"):
            self.prefix.run_captured("C:\\no\\such.exe")


class PeInspect(ToolsTestCase):
    def test_file_without_resources_is_reported(self):
        proc = self.prefix.run(os.path.join(CONFIG.tools, "peinspect.exe"),
                               [wineharness.windows_path_of_host(
                                   os.path.join(CONFIG.tools, "dbgecho.exe"))])
        self.assertEqual(proc.returncode, 1, proc)
        self.assertIn(b"missing version resource", proc.stderr)
        self.assertIn(b"missing RT_MANIFEST resource 1", proc.stderr)

    def test_missing_file_is_reported(self):
        proc = self.prefix.run(os.path.join(CONFIG.tools, "peinspect.exe"), ["C:\\no\\such.exe"])
        self.assertEqual(proc.returncode, 2, proc)


if __name__ == "__main__":
    wineharness.main([
        ("wine64", "the wine64 loader"),
        ("template", "the template prefix"),
        ("tools", "folder of dbgcapture.exe, dbgecho.exe and peinspect.exe"),
    ])
