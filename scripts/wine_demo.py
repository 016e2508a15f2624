"""Shows the shipped program at work under Wine, in one fresh prefix.

Usage: wine_demo.py --wine64 WINE64 --template PREFIX --dbgcapture EXE --dist DIR

Copies DIR's files to C:\\Dravmel (the 64-bit Wine runs Dravmelx64.exe only),
then runs the steps of STEPS in order, printing for each the exit code, the
debugger output and the files it names. Exits non-zero when a step's exit
code is not the expected one.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import wineharness  # noqa: E402

INSTALL_DIR = "C:\\Dravmel"
PROGRAM = "Dravmelx64.exe"
DEFAULT_LOG = "{temp}QVDRAVMEL.LOG"

# (title, arguments, expected exit code, files to show); "{temp}" is the
# user's temporary folder.
STEPS = [
    ("Remove, trace log in the default place", ["/R"], 0, [DEFAULT_LOG]),
    ("Remove again: the log is appended to", ["/R"], 0, [DEFAULT_LOG]),
    ("Faulty command line: both operations", ["/A", "/R"], 87, []),
    ("Faulty command line: no operation", [], 87, []),
]


def show_step(prefix, program, title, args, expected, files):
    print("\n=== %s\n$ %s %s" % (title, PROGRAM, " ".join(args)), flush=True)
    capture = prefix.run_captured(program, args)
    print("exit code: %d (expected %d)" % (capture.exit_code, expected))
    print("debugger output (%d events):" % len(capture.events))
    for event in capture.events:
        print("  " + event.rstrip("\n").replace("\n", "\n  "))
    for name in files:
        path = name.format(temp=prefix.temp_dir)
        if prefix.exists(path):
            print("%s:" % path)
            for line in wineharness.split_records(prefix.read_text(path)):
                print("  " + line.rstrip("\n"))
        else:
            print("%s: (absent)" % path)
    sys.stdout.flush()
    return capture.exit_code == expected


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--wine64", required=True)
    parser.add_argument("--template", required=True)
    parser.add_argument("--dbgcapture", required=True)
    parser.add_argument("--dist", required=True)
    options = parser.parse_args()

    failed = []
    with wineharness.WinePrefix(options.wine64, options.template, options.dbgcapture) as prefix:
        for name in sorted(os.listdir(options.dist)):
            prefix.install_file(os.path.join(options.dist, name), INSTALL_DIR)
        program = INSTALL_DIR + "\\" + PROGRAM
        print("Wine prefix: %s (user %s), programs in %s" % (prefix.path, prefix.user, INSTALL_DIR))
        for title, args, expected, files in STEPS:
            if not show_step(prefix, program, title, args, expected, files):
                failed.append(title)
    if failed:
        print("\nunexpected exit codes in: %s" % "; ".join(failed), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
