"""The shipped programs' files: processor, imports, version resource and
manifest.

Usage: test_inspect.py --wine64 WINE64 --template PREFIX --peinspect EXE
                       --x64-program EXE --x64-objdump OBJDUMP
                       --x86-program EXE --x86-objdump OBJDUMP
                       [unittest arguments]
"""

import os
import re
import struct
import subprocess
import unittest
import xml.etree.ElementTree as ElementTree

import wineharness
from wineharness import CONFIG

# DLLs that every supported Windows has in its system folder.
SYSTEM_DLLS = {name.lower() for name in (
    "KERNEL32.dll", "USER32.dll", "GDI32.dll", "ADVAPI32.dll", "SETUPAPI.dll", "newdev.dll",
    "CFGMGR32.dll", "VERSION.dll", "SHELL32.dll", "SHLWAPI.dll", "ole32.dll", "ntdll.dll",
    "msvcrt.dll",
)}
IMAGE_SUBSYSTEM_WINDOWS_CUI = 3

# (name, machine, optional header magic, objdump file format)
VARIANTS = {
    "x64": ("Dravmelx64.exe", 0x8664, 0x20B, "pei-x86-64"),
    "x86": ("Dravmelx86.exe", 0x014C, 0x10B, "pei-i386"),
}


def read_pe_header(path):
    """(machine, optional header magic, subsystem) of a PE file."""
    with open(path, "rb") as f:
        data = f.read(4096)
    if data[:2] != b"MZ":
        raise ValueError("no MZ header")
    (pe,) = struct.unpack_from("<I", data, 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    (machine,) = struct.unpack_from("<H", data, pe + 4)
    optional = pe + 24
    (magic,) = struct.unpack_from("<H", data, optional)
    (subsystem,) = struct.unpack_from("<H", data, optional + 68)
    return machine, magic, subsystem


def parse_peinspect(output):
    """The Key=Value lines of peinspect.exe, and the manifest bytes."""
    head, sep, manifest = output.partition(b"\nManifest:\n")
    values = dict(line.split("=", 1) for line in head.decode("latin-1").split("\n") if line)
    if sep:
        values["ManifestBytes"] = int(values["ManifestBytes"])
    return values, manifest if sep else None


class ProgramFiles(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.prefix = wineharness.WinePrefix(CONFIG.wine64, CONFIG.template)
        cls.addClassCleanup(cls.prefix.close)

    def for_each_program(self, check):
        for variant, (name, machine, magic, file_format) in VARIANTS.items():
            path = getattr(CONFIG, variant + "_program")
            objdump = getattr(CONFIG, variant + "_objdump")
            with self.subTest(program=name):
                self.assertTrue(os.path.isfile(path), "not built: %s" % path)
                self.assertEqual(os.path.basename(path), name)
                check(path, name, machine, magic, file_format, objdump)

    def test_processor_and_subsystem(self):
        def check(path, name, machine, magic, file_format, objdump):
            self.assertEqual(read_pe_header(path),
                             (machine, magic, IMAGE_SUBSYSTEM_WINDOWS_CUI))
            header = subprocess.run([objdump, "-f", path], check=True, capture_output=True,
                                    text=True).stdout
            self.assertIn("file format %s" % file_format, header)
        self.for_each_program(check)

    def test_imports_only_system_dlls(self):
        def check(path, name, machine, magic, file_format, objdump):
            dump = subprocess.run([objdump, "-p", path], check=True, capture_output=True,
                                  text=True).stdout
            dlls = re.findall(r"^\s*DLL Name: (\S+)\s*$", dump, re.M)
            self.assertIn("kernel32.dll", [d.lower() for d in dlls], dump)
            foreign = [d for d in dlls if d.lower() not in SYSTEM_DLLS]
            self.assertEqual(foreign, [], "imports beyond the system DLLs (runtime not static?)")
        self.for_each_program(check)

    def test_version_resource_and_manifest(self):
        peinspect = os.path.abspath(CONFIG.peinspect)

        def check(path, name, machine, magic, file_format, objdump):
            proc = self.prefix.run(peinspect, [wineharness.windows_path_of_host(path)])
            self.assertEqual(proc.returncode, 0, proc.stderr.decode("latin-1"))
            values, manifest = parse_peinspect(proc.stdout)

            self.assertEqual(values["FileDescription"], "Mirror Driver Installation Program")
            self.assertEqual(values["OriginalFilename"], name)
            for kind in ("File", "Product"):
                text = values[kind + "Version"]
                self.assertRegex(text, r"^\d+\.\d+\.\d+\.\d+$", kind + "Version")
                self.assertEqual(text, values["Fixed%sVersion" % kind],
                                 "%sVersion string and VS_FIXEDFILEINFO disagree" % kind)

            # One manifest only: the program's own, not a toolchain default.
            self.assertEqual(values["ManifestResources"], "1")
            self.assertEqual(len(manifest), values["ManifestBytes"])
            root = ElementTree.fromstring(manifest)
            levels = [e for e in root.iter() if local_name(e.tag) == "requestedExecutionLevel"]
            self.assertEqual(len(levels), 1, manifest.decode("latin-1"))
            self.assertEqual(levels[0].get("level"), "asInvoker")
            self.assertEqual(levels[0].get("uiAccess", "false"), "false")
        self.for_each_program(check)


def local_name(tag):
    return tag.rpartition("}")[2]


if __name__ == "__main__":
    wineharness.main([
        ("wine64", "the wine64 loader"),
        ("template", "the template prefix"),
        ("peinspect", "peinspect.exe (64-bit)"),
        ("x64-program", "Dravmelx64.exe"),
        ("x64-objdump", "objdump of x86_64-w64-mingw32"),
        ("x86-program", "Dravmelx86.exe"),
        ("x86-objdump", "objdump of i686-w64-mingw32"),
    ])
