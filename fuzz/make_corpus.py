#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into fuzz/corpus/.

The machine format is described above Decode in machine_fuzzer.cpp; the
command-line one is the arguments joined with NUL bytes. Files that a fuzzer
found (crash reproducers) live beside these and are not touched.
Usage: fuzz/make_corpus.py
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))

# ---------------------------------------------------------------------------
# Machine inputs

SENTINELS, RESTART = 1, 2
ABSENT, SZ, EXPAND_SZ, MULTI_SZ, BINARY, DWORD, NONE = 0, 1, 3, 4, 5, 6, 7
INF, SYSTEM32, DRIVERS, LASTGOOD, LASTGOOD_DRIVERS, REINSTALL = range(6)
F_INF, F_DLL, F_SYS, F_PNF, F_OEM_INF, F_OEM_PNF = (bytes([i]) for i in range(6))
T_VIDEO, T_PROFILE, T_REINSTALL, T_SERVICE_VIDEO, T_CLASS = range(5)
DENY_READ, DENY_WRITE, DENY_ALL, DENY_DELETE = range(4)

VIDEO_GUID = b"{70116F96-A70B-4A5A-9765-3C0C52974C09}"
MIRROR_ID = b"Orvenik_Tallomer_Mirror"
DESCRIPTION = b"Orvenik Tallomer graphics driver"


def blob(data):
    if len(data) < 0x80:
        return bytes([len(data)]) + data
    assert len(data) < 0x8000
    return bytes([0x80 | (len(data) >> 8), len(data) & 0xFF]) + data


def value(kind, data=b""):
    return bytes([kind]) + blob(data)


def sz(text):
    return value(SZ, text + b"\0")


def class_key(name, matching, inf_path):
    return bytes([0]) + blob(name) + matching + inf_path


def video_key(name, service, with_0000=True):
    return bytes([1 | (8 if with_0000 else 0)]) + blob(name) + service


def video_id(v):
    return bytes([2]) + v


def reinstall(name, description, reinstall_string):
    return bytes([3]) + blob(name) + description + reinstall_string


NOT_PRESENT, NO_IDS, NET_CLASS, SERVICE, DISPLAY_DRIVER = 1, 2, 4, 8, 16


def device(flags, instance, ids, driver=b""):
    return bytes([4, flags]) + blob(instance) + blob(ids) + blob(driver)


READ_ONLY, IN_USE, HIDDEN = 1, 2, 4


def file(folder, name, attributes=0):
    return bytes([5, folder]) + blob(name) + bytes([attributes])


STOPPED, RUNNING, STOP_PENDING = 0, 1, 2


def service(state, start=3, pending_queries=0):
    return bytes([6, state | (pending_queries << 4), start])


def tree(parent, path, deny=None):
    flags = 0 if deny is None else 1 | (deny << 1)
    return bytes([7 | (flags << 3), parent]) + blob(path)


def installed(header=SENTINELS):
    """What an installation of the sample package leaves."""
    return bytes([header]) + b"".join([
        class_key(b"0000", sz(b"orvenik_tallomer_mirror"), sz(b"oem1.inf")),
        file(INF, F_OEM_INF), file(INF, F_OEM_PNF),
        video_key(VIDEO_GUID, sz(b"QVMIRROR")),
        video_id(sz(VIDEO_GUID)),
        tree(T_PROFILE, VIDEO_GUID + b"\\0000"),
        reinstall(b"0000", sz(DESCRIPTION),
                  sz(b"C:\\Windows\\System32\\ReinstallBackups\\0000\\DriverFiles\\QVMIRx64.INF")),
        file(REINSTALL, F_INF), file(REINSTALL, F_DLL), file(REINSTALL, F_SYS),
        file(SYSTEM32, F_DLL), file(DRIVERS, F_SYS),
        device(SERVICE | DISPLAY_DRIVER, b"ROOT\\DISPLAY\\0000", MIRROR_ID + b"\0\0", b"0000"),
        service(RUNNING),
    ])


MACHINES = {
    "fresh": bytes([SENTINELS]),
    "fresh-bare": bytes([0]),
    "installed": installed(),
    "installed-restart": installed(SENTINELS | RESTART),
    "installed-bare": installed(0),
    "unterminated-strings": bytes([SENTINELS]) + b"".join([
        class_key(b"0000", value(SZ, b"orvenik_tallomer_mirror"), sz(b"oem1.inf")),
        class_key(b"0001", sz(b"orvenik_tallomer_mirror"), value(SZ, b"oem1.inf")),
        file(INF, F_OEM_INF),
        video_key(VIDEO_GUID, value(SZ, b"QVMIRROR")),
        video_id(value(SZ, VIDEO_GUID)),
        reinstall(b"0000", value(SZ, DESCRIPTION), sz(b"C:\\Windows\\System32\\x")),
        reinstall(b"0001", sz(DESCRIPTION), value(EXPAND_SZ, b"C:\\Windows\\System32\\x")),
        device(0, b"ROOT\\DISPLAY\\0000", MIRROR_ID),
        device(0, b"ROOT\\DISPLAY\\0001", b"PCI\\VEN_1\0" + MIRROR_ID),
    ]),
    "empty-values": bytes([SENTINELS]) + b"".join([
        class_key(b"0000", value(SZ), value(SZ)),
        class_key(b"0001", sz(b"orvenik_tallomer_mirror"), sz(b"")),
        video_key(VIDEO_GUID, value(SZ, b"\0")),
        video_id(sz(b"")),
        tree(T_PROFILE, b"0000"),
        reinstall(b"0000", sz(DESCRIPTION), sz(b"QVMIRx64.INF")),
        reinstall(b"0001", sz(DESCRIPTION), sz(b"\\QVMIRx64.INF")),
        device(0, b"", b""),
        device(0, b"", b"\0"),
        device(0, b"", MIRROR_ID + b"\0\0"),
    ]),
    "long-values": bytes([SENTINELS]) + b"".join([
        class_key(b"A" * 31, sz(b"orvenik_tallomer_mirror"), sz(b"a" * 255 + b".inf")),
        class_key(b"B" * 32, sz(b"orvenik_tallomer_mirror"), sz(b"oem1.inf")),
        class_key(b"0000", sz(b"x" * 300), sz(b"oem1.inf")),
        class_key(b"0001", sz(b"orvenik_tallomer_mirror"), sz(b"b" * 256 + b".inf")),
        video_key(b"V" * 47, sz(b"QVMIRROR")),
        video_key(b"W" * 48, sz(b"QVMIRROR")),
        video_id(sz(b"V" * 47)),
        tree(T_PROFILE, b"V" * 47 + b"\\" + b"x" * 120),
        reinstall(b"0000", sz(DESCRIPTION), sz(b"C:\\" + b"d" * 300 + b"\\QVMIRx64.INF")),
        device(0, b"", b"x" * 400 + b"\0" + MIRROR_ID + b"\0\0"),
    ]),
    "long-video-id": bytes([SENTINELS]) + b"".join([
        video_id(sz(b"V" * 48)),
        tree(T_PROFILE, b"V" * 48),
        reinstall(b"0000", sz(DESCRIPTION), sz(b"C:\\" + b"d" * 240 + b"\\QVMIRx64.INF")),
    ]),
    "inf-path-not-a-name": bytes([SENTINELS]) + b"".join([
        class_key(b"0000", sz(b"orvenik_tallomer_mirror"), sz(b"..\\System32\\QVMIRx64.DLL")),
        class_key(b"0001", sz(b"Orvenik_Tallomer_Mirror"), sz(b"..")),
        class_key(b"0002", sz(b"ORVENIK_TALLOMER_MIRROR"), sz(b"C:oem1.inf")),
        file(SYSTEM32, F_DLL),
        file(INF, F_OEM_INF),
    ]),
    "inf-without-extension": bytes([SENTINELS]) + b"".join([
        class_key(b"0000", sz(b"orvenik_tallomer_mirror"), sz(b"oem1")),
        file(INF, b"oem1"), file(INF, b"oem1.pnf"),
    ]),
    "value-types": bytes([SENTINELS]) + b"".join([
        class_key(b"0000", value(MULTI_SZ, b"orvenik_tallomer_mirror\0\0"), value(BINARY, b"oem1.inf\0")),
        class_key(b"0001", value(DWORD, b"\1\0\0\0"), value(NONE, b"")),
        video_key(VIDEO_GUID, value(EXPAND_SZ, b"QVMIRROR\0")),
        video_id(value(BINARY, VIDEO_GUID)),
        reinstall(b"0000", value(MULTI_SZ, DESCRIPTION + b"\0\0"), value(DWORD, b"\0\0")),
    ]),
    "devices": bytes([SENTINELS]) + b"".join([
        device(NOT_PRESENT, b"ROOT\\DISPLAY\\0000", MIRROR_ID + b"\0\0"),
        device(NO_IDS, b"ROOT\\DISPLAY\\0001", b""),
        device(NET_CLASS, b"PCI\\VEN_10EC&DEV_8168\\01", b"PCI\\VEN_10EC&DEV_8168\0" + MIRROR_ID + b"\0\0"),
        device(0, b"PCI\\VEN_8086&DEV_1234\\3&1", b"PCI\\VEN_8086&DEV_1234\0\0", b"0003"),
        device(DISPLAY_DRIVER, b"ROOT\\DISPLAY\\0002", b"ORVENIK_TALLOMER_MIRROR\0\0", b"0001"),
        device(DISPLAY_DRIVER | SERVICE, b"ROOT\\DISPLAY\\0003", MIRROR_ID + b"\0\0", b"0002"),
        class_key(b"0002", sz(b"orvenik_tallomer_mirror"), sz(b"oem1.inf")),
    ]),
    "key-trees": bytes([SENTINELS]) + b"".join([
        video_key(VIDEO_GUID, sz(b"QVMIRROR")),
        tree(T_VIDEO, VIDEO_GUID + b"\\0000\\a\\b\\c\\d\\e\\f\\g"),
        tree(T_VIDEO, VIDEO_GUID + b"\\0000\\locked", DENY_ALL),
        video_id(sz(VIDEO_GUID)),
        tree(T_PROFILE, VIDEO_GUID + b"\\0000\\" + b"\\".join([b"k%02d" % i for i in range(60)])),
        reinstall(b"0000", sz(DESCRIPTION), sz(b"C:\\Windows\\System32\\ReinstallBackups\\0000\\DriverFiles\\QVMIRx64.INF")),
        tree(T_REINSTALL, b"0000\\sub", DENY_DELETE),
        tree(T_SERVICE_VIDEO, b"x", DENY_WRITE),
    ]),
    "files-held": bytes([SENTINELS]) + b"".join([
        class_key(b"0000", sz(b"orvenik_tallomer_mirror"), sz(b"oem1.inf")),
        file(INF, F_OEM_INF, READ_ONLY | IN_USE), file(INF, F_OEM_PNF, HIDDEN),
        file(SYSTEM32, F_DLL, IN_USE), file(DRIVERS, F_SYS, READ_ONLY),
        file(LASTGOOD, F_DLL, READ_ONLY), file(LASTGOOD_DRIVERS, F_SYS, IN_USE),
        reinstall(b"0000", sz(DESCRIPTION), sz(b"C:\\Windows\\System32\\ReinstallBackups\\0000\\DriverFiles\\QVMIRx64.INF")),
        file(REINSTALL, F_INF, IN_USE), file(REINSTALL, F_PNF, READ_ONLY),
    ]),
    "service-never-stops": bytes([SENTINELS]) + service(STOP_PENDING, 1, 15),
    "service-stops-late": bytes([SENTINELS]) + service(RUNNING, 0, 3),
}

# ---------------------------------------------------------------------------
# Command lines

PACKAGE = b"C:\\Dravmel\\package"

COMMAND_LINES = {
    "none": [],
    "empty-arguments": [b"", b""],
    "remove": [b"/R"],
    "remove-lower-long-switch": [b"/remove"],
    "remove-log": [b"/R", b"/L:C:\\Dravmel\\remove.log"],
    "remove-log-first": [b"/L:c:/dravmel/remove.log", b"/r"],
    "install": [b"/A", b"/S:" + PACKAGE],
    "install-log": [b"/A", b"/S:" + PACKAGE, b"/L:C:\\Dravmel\\install.log"],
    "install-trailing-backslash": [b"/a", b"/s:c:\\dravmel\\package\\"],
    "install-missing-folder": [b"/A", b"/S:C:\\nowhere"],
    "install-no-folder": [b"/A"],
    "install-empty-folder": [b"/A", b"/S:"],
    "install-last-folder-empty": [b"/S:" + PACKAGE, b"/A", b"/S:"],
    "install-and-remove": [b"/A", b"/S:" + PACKAGE, b"/R"],
    "remove-and-install": [b"/R", b"/A"],
    "neither": [b"/L:C:\\Dravmel\\x.log", b"/S:" + PACKAGE],
    "unknown-arguments": [b"foo", b"/R", b"-A", b"/X:1"],
    "log-259": [b"/R", b"/L:C:\\" + b"l" * 256],
    "log-260": [b"/R", b"/L:C:\\" + b"l" * 257],
    "folder-246": [b"/A", b"/S:C:\\" + b"f" * 243],
    "folder-247": [b"/A", b"/S:C:\\" + b"f" * 244],
    "folder-260": [b"/A", b"/S:C:\\" + b"f" * 257],
    "log-into-package": [b"/A", b"/S:" + PACKAGE, b"/L:" + PACKAGE + b"\\QVMIRx64.INF"],
    "log-is-folder": [b"/R", b"/L:C:\\Windows"],
    "high-bytes": [b"/R", b"/L:C:\\\xff\xfe\x80.log"],
}


def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    for name, data in MACHINES.items():
        write(os.path.join(HERE, "corpus", "fuzz_machine"), name, data)
    for name, arguments in COMMAND_LINES.items():
        write(os.path.join(HERE, "corpus", "fuzz_command_line"), name, b"\0".join(arguments))


if __name__ == "__main__":
    main()
