"""Shows the shipped programs installing and removing the sample driver
packages under Wine, each in a fresh prefix.

Usage: wine_demo.py --wine64 WINE64 --template PREFIX --tool WINTOOL_EXE
                    --dist DIR --package DIR
                    [--wine32 WINE64 --template32 PREFIX --package32 DIR]

Copies Dravmelx64.exe from DIR to C:\\Dravmel and the package's files to
C:\\Dravmel\\package, then runs the program several times, printing for each
run the exit code and the records it added to the log: a faulty command
line, an installation (followed by what it left in the registry and the
system folders), a second installation and the removal, followed by the file
operations the removal left for the next start. Then it restarts the prefix
and shows that nothing of the driver is left. With --wine32 (the 32-bit
route's wine64 and its WoW64 template prefix), Dravmelx86.exe then runs a
faulty command line, an installation of the 32-bit package and the removal.
Exits non-zero when an exit code is not the expected one or the machine is
not as expected.
"""

import argparse
import ntpath
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import wineharness  # noqa: E402
from wineharness import text  # noqa: E402

INSTALL_DIR = "C:\\Dravmel"
PACKAGE_DIR = INSTALL_DIR + "\\package"
PROGRAM = "Dravmelx64.exe"
HARDWARE_ID = "Orvenik_Tallomer_Mirror"
INF, DLL, SYS = "QVMIRx64.INF", "QVMIRx64.DLL", "QVMIRx64.SYS"
CCS = "system\\currentcontrolset"
SERVICE_KEY = CCS + "\\services\\qvmirror"
REINSTALL_KEY = "software\\microsoft\\windows\\currentversion\\reinstall"
SYSTEM32 = "C:\\windows\\system32"
INSTALL = ["/A", "/S:" + PACKAGE_DIR]


def show_step(prefix, program, title, args, expected):
    print("\n=== %s\n$ %s %s" % (title, ntpath.basename(program), " ".join(args)), flush=True)
    log = prefix.temp_dir + "QVDRAVMEL.LOG"
    before = prefix.read_text(log) if prefix.exists(log) else ""
    exit_code, events = prefix.run_captured(program, args)
    print("exit code: %d (expected %d)" % (exit_code, expected))
    after = prefix.read_text(log) if prefix.exists(log) else ""
    if after != before:
        print("records added to %s:" % log)
        for line in re.findall(r"[^\n]*\n|[^\n]+$", after[len(before):]):
            print("  " + line.rstrip("\r\n"))
    else:
        print("debugger output:")
        for event in events:
            print("  " + event.rstrip("\n").replace("\n", "\n  "))
    sys.stdout.flush()
    return exit_code == expected


def show_key(registry, path):
    """Prints a key and its values as Wine saves them; returns whether it
    exists."""
    print("[HKLM\\%s]%s" % (path, "" if path in registry else " (absent)"))
    for name, data in sorted(registry.get(path, {}).items()):
        print("  %s = %s" % (name, data if text(data) is None else text(data)))
    return path in registry


def show_file(prefix, windows_path):
    """Prints a file's size; returns whether it exists."""
    if prefix.exists(windows_path):
        print("  %s (%d bytes)" % (windows_path, os.path.getsize(prefix.host(windows_path))))
        return True
    print("  %s (absent)" % windows_path)
    return False


def installed_paths(registry):
    """The keys and files the installation left, found through the registry
    as the removal finds them: (device count, key paths, file paths)."""
    def value(key, name):
        return text(registry.get(key, {}).get(name))
    devices = [k for k in registry if k.startswith(CCS + "\\enum\\")
               and HARDWARE_ID in (value(k, "hardwareid") or [])]
    keys = list(devices)
    files = [SYSTEM32 + "\\drivers\\" + SYS, SYSTEM32 + "\\" + DLL]
    for device in devices:
        if value(device, "driver"):
            driver_key = (CCS + "\\control\\class\\" + value(device, "driver")).lower()
            keys.append(driver_key)
            inf_name = value(driver_key, "infpath")
            if inf_name:
                files.append("C:\\windows\\inf\\" + inf_name)
    keys += [SERVICE_KEY, SERVICE_KEY + "\\video"]
    video_id = (value(SERVICE_KEY + "\\video", "videoid") or "").lower()
    if video_id:
        keys += [CCS + "\\control\\video\\%s\\0000" % video_id,
                 CCS + "\\control\\video\\%s\\video" % video_id,
                 CCS + "\\hardware profiles\\current\\system\\currentcontrolset"
                       "\\control\\video\\%s\\0000" % video_id]
    for key in [k for k in registry if k.startswith(REINSTALL_KEY + "\\")]:
        keys.append(key)
        reinstall = value(key, "reinstallstring")
        if reinstall:
            files += [ntpath.dirname(reinstall) + "\\" + f for f in (INF, DLL, SYS)]
    return len(devices), keys, files


def show_paths(prefix, registry, keys, files):
    """Prints the keys and files; returns how many of them exist."""
    present = sum(show_key(registry, path) for path in keys)
    print("files:")
    return present + sum(show_file(prefix, path) for path in files)


def show_pending(registry):
    """Prints the file operations left for the next start; returns them."""
    pending = wineharness.pending_file_operations(registry) or []
    print("[HKLM\\%s] PendingFileRenameOperations:" % wineharness.SESSION_MANAGER)
    for source, target in pending:
        print("  %s -> %s" % (source, target or "(deleted)"))
    if not pending:
        print("  (none)")
    return pending


def set_up(prefix, program_file, package):
    """Puts the program and the package's files in the prefix; returns the
    program's path there."""
    # Wine keeps the video keys volatile, which refuses the package's video
    # entries; Windows keeps them in its hive.
    prefix.keep_video_keys()
    program = prefix.install_file(program_file, INSTALL_DIR)
    for name in sorted(os.listdir(package)):
        prefix.install_file(os.path.join(package, name), PACKAGE_DIR)
    return program


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--wine64", required=True)
    parser.add_argument("--template", required=True)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--dist", required=True)
    parser.add_argument("--package", required=True)
    parser.add_argument("--wine32")
    parser.add_argument("--template32")
    parser.add_argument("--package32")
    options = parser.parse_args()

    failed = []

    def step(title, args, expected):
        if not show_step(prefix, program, title, args, expected):
            failed.append(title)

    with wineharness.Prefix(options.wine64, options.template, options.tool) as prefix:
        program = set_up(prefix, os.path.join(options.dist, PROGRAM), options.package)
        print("Wine prefix: %s (user %s); %s and the sample package in %s"
              % (prefix.path, prefix.user, PROGRAM, PACKAGE_DIR))

        step("Faulty command line: no operation (the log is not opened)", [], 87)
        step("Install the sample package", INSTALL, 0)

        print("\n=== What the installation left (read once Wine has ended)")
        registry = prefix.registry()
        devices, keys, files = installed_paths(registry)
        print("devices listing %s: %d" % (HARDWARE_ID, devices))
        show_paths(prefix, registry, keys, files)
        if devices != 1:
            failed.append("exactly one device listing " + HARDWARE_ID)

        # Wine's display setup drops the device's driver key when Wine starts
        # again; the update writes it anew, and the removal, which finds the
        # system's copy of the INF through it, follows in the same session.
        step("Install again: the present device is found and updated", INSTALL, 0)
        step("Remove the driver", ["/R"], 0)

        print("\n=== What waits for the restart (read once Wine has ended)")
        registry = prefix.registry()
        pending = show_pending(registry)
        print("files still present:")
        for path in files:
            if prefix.exists(path):
                show_file(prefix, path)
        if (SYSTEM32 + "\\" + DLL).lower() not in [s.lower() for s, _ in pending]:
            failed.append("the display driver waits for the restart")

        print("\n=== Restart of the prefix (wineboot -r)")
        prefix.restart()

        print("\n=== What is left after the restart")
        registry = prefix.registry()
        left_pending = show_pending(registry)
        devices, _, _ = installed_paths(registry)
        print("devices listing %s: %d" % (HARDWARE_ID, devices))
        left = show_paths(prefix, registry, keys, files)
        if left_pending or devices or left:
            failed.append("nothing of the driver left after the restart")

    if options.wine32:
        with wineharness.Prefix(options.wine32, options.template32, options.tool) as prefix:
            program = set_up(prefix, os.path.join(options.dist, "Dravmelx86.exe"), options.package32)
            print("\n\nWine prefix: %s (WoW64; the 32-bit program runs under qemu-i386-static); "
                  "Dravmelx86.exe and the 32-bit sample package in %s" % (prefix.path, PACKAGE_DIR))
            step("Faulty command line: no operation (the log is not opened)", [], 87)
            step("Install the 32-bit sample package", INSTALL, 0)
            step("Remove the driver", ["/R"], 0)
            print("\n=== What waits for the restart (read once Wine has ended)")
            show_pending(prefix.registry())
    if failed:
        print("\nunexpected results in: %s" % "; ".join(failed), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
