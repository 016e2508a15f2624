"""Shows the shipped program installing the sample driver package under Wine,
in one fresh prefix.

Usage: wine_demo.py --wine64 WINE64 --template PREFIX --dbgcapture EXE
                    --dist DIR --package DIR

Copies Dravmelx64.exe from DIR (the 64-bit Wine runs it only) to C:\\Dravmel
and the package's files to C:\\Dravmel\\package, then runs the steps of STEPS
in order, printing for each the exit code and what it traced, and at the end
what the installation left in the registry and the system folders. Exits
non-zero when a step's exit code is not the expected one.
"""

import argparse
import ntpath
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import wineharness  # noqa: E402

INSTALL_DIR = "C:\\Dravmel"
PACKAGE_DIR = INSTALL_DIR + "\\package"
PROGRAM = "Dravmelx64.exe"
HARDWARE_ID = "Orvenik_Tallomer_Mirror"
SERVICE_KEY = "System\\CurrentControlSet\\Services\\QVMIRROR"

# (title, arguments, expected exit code). The installations come last: under
# Wine every new process rebuilds the display class keys, the driver key of
# the mirror device among them, so the final view follows them directly.
STEPS = [
    ("Faulty command line: no operation (the log is not opened)", [], 87),
    ("Install the sample package", ["/A", "/S:" + PACKAGE_DIR], 0),
    ("Install again: the present device is found and updated", ["/A", "/S:" + PACKAGE_DIR], 0),
]


def show_step(prefix, program, title, args, expected):
    print("\n=== %s\n$ %s %s" % (title, PROGRAM, " ".join(args)), flush=True)
    log = prefix.temp_dir + "QVDRAVMEL.LOG"
    before = prefix.read_text(log) if prefix.exists(log) else ""
    capture = prefix.run_captured(program, args)
    print("exit code: %d (expected %d)" % (capture.exit_code, expected))
    after = prefix.read_text(log) if prefix.exists(log) else ""
    if after != before:
        print("records added to %s:" % log)
        for line in wineharness.split_records(after[len(before):]):
            print("  " + line.rstrip("\r\n"))
    else:
        print("debugger output:")
        for event in capture.events:
            print("  " + event.rstrip("\n").replace("\n", "\n  "))
    sys.stdout.flush()
    return capture.exit_code == expected


def show_key(registry, path):
    key = registry.key(path)
    if key is None:
        print("[HKLM\\%s] (absent)" % path)
        return None
    print("[HKLM\\%s]" % path)
    for name in key.value_names():
        print("  %s = %r" % (name, key.value(name)))
    return key


def show_file(prefix, windows_path):
    if prefix.exists(windows_path):
        print("  %s (%d bytes)" % (windows_path, len(prefix.read_bytes(windows_path))))
    else:
        print("  %s (absent)" % windows_path)


def show_installation(prefix):
    print("\n=== What the installation left (read once Wine has ended)")
    registry = prefix.machine_registry()
    ccs = "System\\CurrentControlSet"
    devices = [k for k in registry.keys_below(ccs + "\\Enum")
               if HARDWARE_ID in (k.value("HardwareID") or [])]
    print("devices listing %s: %d" % (HARDWARE_ID, len(devices)))
    inf_name = None
    for device in devices:
        show_key(registry, device.path)
        if device.value("Driver"):
            driver = show_key(registry, ccs + "\\Control\\Class\\" + device.value("Driver"))
            inf_name = driver and driver.value("InfPath")
    show_key(registry, SERVICE_KEY)
    video_id = registry.value(SERVICE_KEY + "\\VIDEO", "VideoID")
    show_key(registry, SERVICE_KEY + "\\VIDEO")
    if video_id:
        show_key(registry, ccs + "\\Control\\Video\\%s\\0000" % video_id)
        show_key(registry, ccs + "\\Control\\Video\\%s\\Video" % video_id)
        show_key(registry, ccs + "\\Hardware Profiles\\Current\\System\\CurrentControlSet"
                           "\\Control\\Video\\%s\\0000" % video_id)
    reinstall_root = "Software\\Microsoft\\Windows\\CurrentVersion\\Reinstall"
    backups = []
    for name in registry.subkey_names(reinstall_root):
        key = show_key(registry, reinstall_root + "\\" + name)
        if key is not None and key.value("ReinstallString"):
            backups.append(ntpath.dirname(key.value("ReinstallString")))
    print("files:")
    system32 = "C:\\windows\\system32"
    show_file(prefix, system32 + "\\drivers\\QVMIRx64.SYS")
    show_file(prefix, system32 + "\\QVMIRx64.DLL")
    if inf_name:
        show_file(prefix, "C:\\windows\\inf\\" + inf_name)
    for folder in backups:
        for name in ("QVMIRx64.INF", "QVMIRx64.DLL", "QVMIRx64.SYS"):
            show_file(prefix, folder + "\\" + name)
    return len(devices) == 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--wine64", required=True)
    parser.add_argument("--template", required=True)
    parser.add_argument("--dbgcapture", required=True)
    parser.add_argument("--dist", required=True)
    parser.add_argument("--package", required=True)
    options = parser.parse_args()

    failed = []
    with wineharness.WinePrefix(options.wine64, options.template, options.dbgcapture) as prefix:
        # Wine keeps the video keys volatile, which refuses the package's
        # video entries; Windows keeps them in its hive.
        prefix.keep_video_keys()
        program = prefix.install_file(os.path.join(options.dist, PROGRAM), INSTALL_DIR)
        for name in sorted(os.listdir(options.package)):
            prefix.install_file(os.path.join(options.package, name), PACKAGE_DIR)
        print("Wine prefix: %s (user %s); %s and the sample package in %s"
              % (prefix.path, prefix.user, PROGRAM, PACKAGE_DIR))
        for title, args, expected in STEPS:
            if not show_step(prefix, program, title, args, expected):
                failed.append(title)
        if not show_installation(prefix):
            failed.append("exactly one device listing " + HARDWARE_ID)
    if failed:
        print("\nunexpected results in: %s" % "; ".join(failed), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
