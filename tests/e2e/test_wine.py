# The programs under Wine, in what only a real platform shows: an install
# of the sample package, a second one, a removal while a driver file is held
# open and the restart after it; broken packages; Windows 7; the programs'
# files.
import os
import re
import stat
import struct
import subprocess
import unittest
import xml.etree.ElementTree as ElementTree

import wineharness
from wineharness import RECORD_START, Prefix, pending_file_operations, text

HARDWARE_ID = "Orvenik_Tallomer_Mirror"
SERVICE_KEY = "system\\currentcontrolset\\services\\qvmirror"
# The report of the INF copy, made or failed: Windows refuses SP_COPY_REPLACEONLY
# without an earlier copy, Wine copies all the same.
COPY_INF = "SetupCopyOEMInf() "
CLASS_KEY = r"system\\currentcontrolset\\control\\class\\\{4d36e96%s-e325-11ce-bfc1-08002be10318\}"
# Differences from the state before the installation that are no fault of
# the program, each with its reason.
TOLERATED = [
    # Wine rewrites the display and monitor class keys at each start, without a default value.
    r"value %s @ removed" % (CLASS_KEY % "[8e]"),
    # Wine's display setup stamps its own adapter's driver key at each start.
    r"value %s\\0000 driverdate(data)? changed" % (CLASS_KEY % "8"),
    # Wine's network cards are volatile keys; it saves no key left with nothing to save.
    r"key software\\microsoft\\windows nt\\currentversion\\networkcards removed",
    # The video keys that keep_video_keys made ordinary are volatile again after a start.
    r"key system\\currentcontrolset\\(hardware profiles\\current\\system\\currentcontrolset\\)?"
    r"control\\video removed",
    # The package's INF makes the Reinstall key, which Windows always has.
    r"key software\\(wow6432node\\)?microsoft\\windows\\currentversion\\reinstall added",
    # The package's INF makes the backup folders; the program deletes the files in them.
    r"file windows/(system32|syswow64)/ReinstallBackups/(0000/(DriverFiles/)?)? added",
    # The program's trace logs.
    r"file Dravmel/\w+\.log added",
]


def differences(before, after, root):
    # "key|value|file NAME added|removed|changed" for each difference of two
    # (registry, files) states.
    found = []

    def compare(kind, old, new, name):
        for item in sorted(set(old) | set(new)):
            if old.get(item) != new.get(item):
                found.append("%s %s %s" % (kind, name(item), "added" if item not in old else
                                           "removed" if item not in new else "changed"))
    for key in set(before[0]) & set(after[0]):
        compare("value", before[0][key], after[0][key], lambda name: key + " " + name)
    compare("key", dict.fromkeys(before[0], 1), dict.fromkeys(after[0], 1), str)
    compare("file", before[1], after[1], lambda path: os.path.relpath(path, root) +
            ("/" if after[1].get(path, before[1].get(path)) == "folder" else ""))
    return [d for d in found if not any(re.fullmatch(t, d) for t in TOLERATED)]


class ProgramRuns(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        o = self.options
        self.prefix = Prefix(o.wine, o.template, o.tool)
        self.addCleanup(self.prefix.__exit__)
        self.prefix.keep_video_keys()
        self.program = self.prefix.install_file(o.program, "C:\\Dravmel")
        self.files = {os.path.splitext(n)[1].upper(): n for n in os.listdir(o.package)}
        self.put_package("package")

    def put_package(self, folder, leave_out=None, inf=None):
        for kind, name in self.files.items():
            if kind != leave_out:
                path = self.prefix.install_file(os.path.join(self.options.package, name),
                                                "C:\\Dravmel\\" + folder)
            if kind == ".INF" and inf is not None:
                with open(self.prefix.host(path), "wb") as f:
                    f.write(inf)

    def run_program(self, args, expected, hold=None, end_after=None):
        # Runs the program with a log of its own; the log must hold exactly
        # the whole records sent to the debugger once it was opened, the last
        # one main's (one more, whole, when the run was ended in sending it).
        self.runs = getattr(self, "runs", 0) + 1
        log = "C:\\Dravmel\\run%d.log" % self.runs
        code, events = self.prefix.run_captured(self.program, args + ["/L:" + log], hold, end_after)
        trace, opened = self.prefix.read_text(log), "%s: szLogFileName=[%s]\n" % (self.options.tag, log)
        records = [e for e in events[events.index(opened):] if RECORD_START.match(e)]
        start = "%s%s," % (RECORD_START.pattern, self.options.tag)
        logged = re.split("(?=%s)" % start, trace)
        self.assertEqual((code, logged[0], logged[1:len(records) + 1], len(logged)),
                         (expected, "", records, len(records) + 1 + bool(end_after)))
        self.assertEqual([r for r in logged[1:] if not re.match(r"%s\d+,0,\w+,.*\Z" % start, r, re.S)], [])
        self.assertTrue(end_after or trace.endswith(",main,Process return. (Ret=%d)\n" % expected), trace)
        # Pointers and handles are traced as 32-bit numbers.
        self.assertEqual([v for v in re.findall(r"0x([0-9a-f]+)", trace) if not 0 < int(v, 16) < 2**32], [])
        return trace

    def install(self, expected=0, folder="package"):
        return self.run_program(["/A", "/S:C:\\Dravmel\\" + folder], expected)

    def state(self):
        return self.prefix.registry(), self.prefix.files()

    def devices(self, registry):
        return [k for k, values in registry.items() if k.startswith("system\\currentcontrolset\\enum\\")
                and HARDWARE_ID in (text(values.get("hardwareid")) or [])]

    def read_bytes(self, path):
        with open(path, "rb") as f:
            return f.read()


class Lifecycle(ProgramRuns):
    def test_install_again_remove_and_restart(self):
        p, inf, dll, sys_ = self.prefix, self.files[".INF"], self.files[".DLL"], self.files[".SYS"]
        # A 32-bit program's system folder in a WoW64 prefix is SysWOW64.
        system = "C:\\windows\\%s\\" % ("syswow64" if p.exists("C:\\windows\\syswow64") and self.options.tag
                                           == "Dravmelx86" else "system32")
        backup = system + "ReinstallBackups\\0000\\DriverFiles\\"
        p.set_windows_version("win10")
        # Copies of a read-only INF are read-only; the program clears that.
        os.chmod(p.host("C:\\Dravmel\\package\\" + inf), 0o444)
        before = self.state()
        trace = self.install()
        self.assertRegex(trace, r"call UpdateDriverForPlugAndPlayDevices\(\)\n.*,(ERROR: )?%s.*\n"
                         r".* ret  UpdateDriverForPlugAndPlayDevices\(\)\n" % re.escape(COPY_INF))
        registry = p.registry()
        devices = self.devices(registry)
        self.assertEqual([text(registry[d].get("service")) for d in devices], ["QVMIRROR"])
        self.assertIn(SERVICE_KEY, registry)
        for name, path in ((sys_, system + "drivers\\" + sys_), (dll, system + dll),
                           (inf, backup + inf), (dll, backup + dll), (sys_, backup + sys_)):
            self.assertEqual(self.read_bytes(p.host(path)),
                             self.read_bytes(os.path.join(self.options.package, name)), path)
        inf_dir = p.host("C:\\windows\\inf")
        package_inf = self.read_bytes(os.path.join(self.options.package, inf))
        copies = [os.path.join(inf_dir, n) for n in os.listdir(inf_dir)
                  if self.read_bytes(os.path.join(inf_dir, n)) == package_inf]
        self.assertEqual(len(copies), 1, copies)
        self.assertTrue(os.stat(copies[0]).st_mode & stat.S_IWUSR, "the INF copy is read-only")

        # The second install finds the device. Wine drops the device's driver
        # key at each start, which it writes again for the removal in the
        # same session.
        self.assertIn("  Found! [%s]\n" % HARDWARE_ID, self.install())
        held = system + "drivers\\" + sys_
        self.run_program(["/R"], 0, hold=held)
        self.assertTrue(p.exists(held), "deleted while held open")
        # Named as the program sees them.
        pending = sorted((s.lower(), t) for s, t in pending_file_operations(p.registry()))
        names = ["drivers\\" + sys_.lower(), dll.lower()]
        self.assertEqual(pending, [("c:\\windows\\system32\\" + n, "") for n in names])
        p.restart()
        left = differences(before, self.state(), p.host("C:\\"))
        if system.endswith("syswow64\\"):
            # A 32-bit program under WoW64 names its SysWOW64 files "C:\windows\system32", which the
            # restart takes for the 64-bit folder (Windows refuses a 32-bit device installer there):
            # exactly the files it left for the restart stay, in the drivers folder the install made.
            stays = ["file windows/syswow64/%s added" % n.replace("\\", "/") for n in ["drivers\\"] + names]
            left = [d for d in left if d.lower() not in stays]
        self.assertEqual(left, [])


class Faults(ProgramRuns):
    def test_broken_packages_then_windows_7(self):
        self.put_package("garbage", inf=b"This is no INF file.\r\n")
        self.put_package("missing", leave_out=".SYS")
        before = self.state()
        self.install(50, "garbage")
        self.install(51, "missing")
        self.assertEqual(differences(before, self.state(), self.prefix.host("C:\\")), [])
        # Windows 7 takes the INF without a copy first.
        self.prefix.set_windows_version("win7")
        self.assertNotIn(COPY_INF, self.install())


# Wine keeps the INF copy's own name, and makes its .pnf.
INF_COPY = r"file windows/inf/QV\w+\.(INF|pnf) added"


class Interrupted(ProgramRuns):
    # The program ended right after a trace line; the next run and a restart
    # leave the machine as before the installation, but for what the README's
    # "What an interrupted run leaves" says stays.
    def check(self, operation, after, *stays):
        before = self.state()
        if operation == "/R":
            self.install()
        self.run_program([operation] + (["/S:C:\\Dravmel\\package"] if operation == "/A" else []), 1, end_after=after)
        if operation == "/A":
            self.install()
            self.assertEqual(len(self.devices(self.prefix.registry())), 1)
            self.install()  # Wine dropped the driver key, by which the removal finds the INF copy
        self.run_program(["/R"], 0)
        self.prefix.restart()
        left = differences(before, self.state(), self.prefix.host("C:\\"))
        self.assertEqual([d for d in left if not any(re.fullmatch(s, d) for s in stays)], [])

    def test_install_ended_after_the_device_was_registered(self):
        self.check("/A", " ret  SetupDiCallClassInstaller()\n")

    def test_removal_ended_after_the_service_was_deleted(self):
        self.check("/R", "<=== QV_UnRegisterService(", INF_COPY,
                   r"key system\\currentcontrolset\\hardware profiles\\current\\system\\currentcontrolset"
                   r"\\control\\video\\\{[0-9a-f-]+\}(\\0000)? added")


# A newdev.dll whose entry point leaves a mark, and a program that imports
# newdev.dll as the programs once did.
PLANTED_DLL = r'''#include <windows.h>
BOOL WINAPI DllMain(HINSTANCE dll, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) CloseHandle(CreateFileA("C:\\Dravmel\\planted-ran", GENERIC_WRITE, 0, NULL,
                                                              CREATE_ALWAYS, 0, NULL));
    return TRUE;
}
__declspec(dllexport) BOOL WINAPI UpdateDriverForPlugAndPlayDevicesA(HWND w, LPCSTR i, LPCSTR f, DWORD o, PBOOL r) {
    return FALSE;
}
'''
IMPORTING_PROGRAM = r'''#include <windows.h>
#include <newdev.h>
int main(int argc, char** argv) { return argc > 9 ? UpdateDriverForPlugAndPlayDevicesA(0, argv[1], argv[2], 0, 0) : 0; }
'''


class Security(ProgramRuns):
    def build(self, name, source, *options):
        path = os.path.join(self.prefix.root, name)
        subprocess.run([self.options.cc, "-x", "c", "-", "-o", path] + list(options), input=source.encode(), check=True)
        return path

    def test_planted_newdev_never_runs(self):
        p = self.prefix
        planted = self.build("newdev.dll", PLANTED_DLL, "-shared", "-Wl,--kill-at")
        for folder in ("C:\\Dravmel", "C:"):
            p.install_file(planted, folder)
        control = p.install_file(self.build("control.exe", IMPORTING_PROGRAM, "-lnewdev"), "C:\\Dravmel")
        # Windows' order for a DLL that is not a known DLL: the program's folder first.
        p.env["WINEDLLOVERRIDES"] += ";newdev=n,b"
        p.run([control])
        self.assertTrue(p.exists("C:\\Dravmel\\planted-ran"), "the control did not load the planted DLL")
        os.remove(p.host("C:\\Dravmel\\planted-ran"))
        self.install()
        self.assertEqual(len(self.devices(p.registry())), 1)
        self.run_program(["/R"], 0)
        self.assertFalse(p.exists("C:\\Dravmel\\planted-ran"), "the planted DLL ran in the program")


def version_and_manifests(path):
    # A program's version strings (UTF-16 name, terminator and padding, value),
    # its fixed file and product versions and its manifests, from its bytes.
    with open(path, "rb") as f:
        data = f.read()
    names = "FileDescription|OriginalFilename|FileVersion|ProductVersion"
    values = dict(re.findall(r"(%s)\0\0?([^\0]+)\0" % names, data.decode("utf-16-le", "replace")))
    fixed = struct.unpack_from("<6I", data, data.index(b"\xbd\x04\xef\xfe"))
    for kind, ms, ls in (("File", fixed[2], fixed[3]), ("Product", fixed[4], fixed[5])):
        values["Fixed%sVersion" % kind] = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    return values, re.findall(rb"<assembly\b.*?</assembly>", data, re.S)


class ProgramFiles(unittest.TestCase):
    def test_machine_imports_version_and_manifest(self):
        o = self.options
        for path, name, file_format in ((o.x64, "Dravmelx64.exe", "pei-x86-64"), (o.x86, "Dravmelx86.exe", "pei-i386")):
            with self.subTest(name):
                dump = subprocess.run([o.objdump, "-p", path], capture_output=True, text=True, check=True).stdout
                self.assertIn("file format " + file_format, dump)
                self.assertRegex(dump, r"\nSubsystem\s+00000003\s+\(Windows CUI\)")
                # Windows' known DLLs only, which always come from the system folder.
                dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", dump)}
                self.assertEqual(dlls, {"kernel32.dll", "user32.dll", "advapi32.dll", "setupapi.dll", "msvcrt.dll"})
                flags = set(re.search(r"\nDllCharacteristics\s+\w+\n((?:\t+\w+\n)*)", dump).group(1).split())
                wanted = {"DYNAMIC_BASE", "NX_COMPAT"} | ({"HIGH_ENTROPY_VA"} if "x86-64" in file_format else set())
                self.assertLessEqual(wanted, flags)
                self.assertIn("PE File Base Relocations", dump)
                values, manifests = version_and_manifests(path)
                self.assertEqual(values["FileDescription"], "Mirror Driver Installation Program")
                self.assertEqual(values["OriginalFilename"], name)
                for kind in ("File", "Product"):
                    self.assertRegex(values[kind + "Version"], r"^\d+\.\d+\.\d+\.\d+$")
                    self.assertEqual(values[kind + "Version"], values["Fixed%sVersion" % kind])
                self.assertEqual(len(manifests), 1)
                self.assertEqual([e.get("level") for e in ElementTree.fromstring(manifests[0]).iter()
                                  if e.tag.endswith("}requestedExecutionLevel")], ["asInvoker"])


if __name__ == "__main__":
    wineharness.main("wine", "template", "tool", "program", "tag", "package", "objdump", "x64", "x86", "cc")
