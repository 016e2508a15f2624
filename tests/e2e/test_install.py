"""The install operation ("/A") with the sample driver package under Wine.

Usage: test_install.py --wine64 WINE64 --template PREFIX --dbgcapture EXE
                       --program EXE --name NAME --tag TAG --variant x64|x86
                       --package DIR [unittest arguments]
Every test case runs in a fresh copy of the template prefix, with the program
copied to C:\\Dravmel\\NAME and the package's files to a folder beside it. The
registry is read from the prefix's files once the wineserver has ended, as
the last run left it.
"""

import ntpath
import os
import re
import stat
import unittest

import wineharness
from test_program import ProgramTestCase
from wineharness import CONFIG, is_record_text

HARDWARE_ID = "Orvenik_Tallomer_Mirror"
SERVICE = "QVMIRROR"
DEVICE_DESC = "Orvenik Tallomer graphics driver"
DISPLAY_CLASS = "{4D36E968-E325-11CE-BFC1-08002BE10318}"

CCS = "System\\CurrentControlSet"
ENUM_KEY = CCS + "\\Enum"
CLASS_KEY = CCS + "\\Control\\Class\\" + DISPLAY_CLASS
SERVICE_KEY = CCS + "\\Services\\" + SERVICE
VIDEO_KEY = CCS + "\\Control\\Video"
PROFILE_VIDEO_KEY = (CCS + "\\Hardware Profiles\\Current\\System\\CurrentControlSet"
                     "\\Control\\Video")
REINSTALL_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Reinstall"

# The variant's driver package: INF, user-mode driver, miniport.
PACKAGES = {
    "x64": ("QVMIRx64.INF", "QVMIRx64.DLL", "QVMIRx64.SYS"),
    "x86": ("QVMirror.INF", "QVMirror.DLL", "QVMirror.SYS"),
}

LOG = "C:\\Dravmel\\install.log"
SYSTEM32 = "C:\\windows\\system32"
ERROR_FILE_MISSING = 51
ERROR_INSTALL_FAILED = 50

# A trace record as sent to the debugger: time, tag, line, 0, function and
# a message that is taken as it is.
TRACE_RECORD_RE = re.compile(r"^\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}:\d{3},([^,]*),([1-9][0-9]*),([^,]*),"
                             r"([^,\s]+),(.*)\Z", re.S)


class TraceRecord:
    def __init__(self, text):
        match = TRACE_RECORD_RE.match(text)
        if not match:
            raise ValueError("not a trace record: %r" % text)
        self.text = text
        self.tag, self.line, self.reserved, self.function, self.message = match.groups()


SUCCESS_END = [
    ("QV_RegisterMirrorDriver", "Driver Installed successfully.\n"),
    ("QV_RegisterMirrorDriver", "<=== QV_RegisterMirrorDriver()\n"),
    ("QV_Install", "<===== QV_Install(0)\n"),
    ("main", "Process return. (Ret=0)\n"),
]


class InstallTestCase(ProgramTestCase):
    def setUp(self):
        super().setUp()
        self.inf, self.dll, self.sys = PACKAGES[CONFIG.variant]
        # Wine keeps the video keys volatile; Windows does not.
        self.prefix.keep_video_keys()

    # -- set-up -------------------------------------------------------------

    def package_bytes(self, name):
        with open(os.path.join(CONFIG.package, name), "rb") as f:
            return f.read()

    def place_package(self, folder="package", leave_out=(), replace=None):
        """Copies the package's files to C:\\Dravmel\\<folder>, without the
        names in leave_out and with the contents in replace ({name: bytes});
        returns the folder."""
        windows_dir = "C:\\Dravmel\\" + folder
        self.prefix.make_dirs(windows_dir)
        for name in PACKAGES[CONFIG.variant]:
            if name in leave_out:
                continue
            data = (replace or {}).get(name, self.package_bytes(name))
            with open(os.path.join(self.prefix.host_path(windows_dir), name), "wb") as f:
                f.write(data)
        return windows_dir

    def install(self, folder, expected):
        """Runs "/A /S:folder /L:LOG"; returns the capture and this run's trace
        records (run_logged)."""
        return self.run_logged(["/A", "/S:" + folder], LOG, expected)

    def run_logged(self, args, log, expected):
        """Runs the program with args and "/L:log"; returns the capture and
        this run's trace records, taken whole from the debugger channel (a
        message may lack a line end or hold several, so the log's text alone
        does not tell records apart). The log must have received exactly
        these."""
        before = self.prefix.read_text(log) if self.prefix.exists(log) else ""
        capture = self.run_program(*(list(args) + ["/L:" + log]))
        self.assert_exit_code(capture, expected)
        marker = self.tagged("szLogFileName=[%s]\n" % log)
        self.assertIn(marker, capture.events, "\n%s" % capture)
        texts = [e for e in capture.events[capture.events.index(marker) + 1:] if is_record_text(e)]
        self.assertTrue(texts, "nothing traced\n%s" % capture)
        text = self.prefix.read_text(log)
        self.assertEqual(text, before + "".join(texts), "the log does not hold this run's records")
        records = []
        for event in texts:
            record = TraceRecord(event)
            self.assertEqual((record.tag, record.reserved), (self.tag, "0"), event)
            records.append(record)
        return capture, records

    # -- checks -------------------------------------------------------------

    def assert_log_ends(self, records, expected):
        self.assertEqual([(r.function, r.message) for r in records[-len(expected):]], expected,
                         "".join(r.text for r in records))

    def devices_with_id(self, registry):
        """Device keys anywhere below Enum that list the hardware ID."""
        found = []
        for key in registry.keys_below(ENUM_KEY):
            ids = key.value("HardwareID")
            if isinstance(ids, list) and HARDWARE_ID.lower() in [i.lower() for i in ids]:
                found.append(key)
        return found

    def installed_traces(self, registry):
        """Whatever an installation of the package would have left."""
        traces = ["device key " + key.path for key in self.devices_with_id(registry)]
        if registry.key(SERVICE_KEY) is not None:
            traces.append("service key " + SERVICE_KEY)
        for windows_path in (SYSTEM32 + "\\drivers\\" + self.sys, SYSTEM32 + "\\" + self.dll):
            if self.prefix.exists(windows_path):
                traces.append("file " + windows_path)
        inf_folder = self.prefix.host_path("C:\\windows\\inf")
        inf = self.package_bytes(self.inf)
        for name in os.listdir(inf_folder):
            with open(os.path.join(inf_folder, name), "rb") as f:
                if f.read() == inf:
                    traces.append("INF copy C:\\windows\\inf\\" + name)
        return traces

    def assert_one_installed_device(self, registry):
        """Exactly one device lists the hardware ID; it is registered (not a
        phantom) and bound to the service and a display-class driver key,
        which is returned."""
        devices = self.devices_with_id(registry)
        self.assertEqual(len(devices), 1, [d.path for d in devices])
        device = devices[0]
        self.assertEqual(device.value("HardwareID"), [HARDWARE_ID])
        self.assertFalse(device.value("Phantom"), "%s is a phantom" % device.path)
        self.assertEqual((device.value("ClassGUID") or "").upper(), DISPLAY_CLASS)
        self.assertEqual(device.value("Service"), SERVICE)
        driver = device.value("Driver") or ""
        self.assertTrue(driver.upper().startswith(DISPLAY_CLASS + "\\"), driver)
        driver_key = registry.key(CCS + "\\Control\\Class\\" + driver)
        self.assertIsNotNone(driver_key, "no driver key %s" % driver)
        return driver_key

    def assert_file(self, windows_path, name):
        self.assertTrue(self.prefix.exists(windows_path), "no %s" % windows_path)
        self.assertEqual(self.prefix.read_bytes(windows_path), self.package_bytes(name),
                         "%s differs from the package's %s" % (windows_path, name))

    def assert_not_read_only(self, windows_path):
        mode = os.stat(self.prefix.host_path(windows_path)).st_mode
        self.assertTrue(mode & stat.S_IWUSR, "%s is read-only" % windows_path)

    def copy_oem_inf_records(self, records):
        return [r for r in records if r.message.startswith("SetupCopyOEMInf() success.")
                or r.message.startswith("ERROR: SetupCopyOEMInf() failed. GetLastError=")]


class Install(InstallTestCase):
    def test_fresh_install(self):
        folder = self.place_package()
        capture, records = self.install(folder, 0)
        self.assert_log_ends(records, SUCCESS_END)
        self.assertIn(("QV_RegisterMirrorDriver", "  MirrorInfFile = [%s\\%s]\n" % (folder, self.inf)),
                      [(r.function, r.message) for r in records])
        registry = self.prefix.machine_registry()

        driver_key = self.assert_one_installed_device(registry)
        # The system's copy of the INF, named by the driver key; the program
        # finds it through MatchingDeviceId and makes it writable.
        self.assertEqual(driver_key.value("MatchingDeviceId"), HARDWARE_ID.lower())
        inf_name = driver_key.value("InfPath")
        self.assertTrue(inf_name and "\\" not in inf_name, inf_name)
        system_inf = "C:\\windows\\inf\\" + inf_name
        self.assert_file(system_inf, self.inf)
        self.assert_not_read_only(system_inf)
        cleared = [r.message for r in records if r.function == "QV_RemoveReadOnlyAttribute"]
        self.assertTrue(cleared, "no QV_RemoveReadOnlyAttribute records")
        self.assertEqual(cleared[0].lower(),
                         (" --> QV_RemoveReadOnlyAttribute(%s)\n" % system_inf).lower())

        service = registry.key(SERVICE_KEY)
        self.assertIsNotNone(service, "no service " + SERVICE)
        self.assertEqual((service.value("Type"), service.value("Start")), (1, 3))
        image = service.value("ImagePath") or ""
        self.assertTrue(image.lower().endswith("\\drivers\\" + self.sys.lower()), image)
        self.assert_file(SYSTEM32 + "\\drivers\\" + self.sys, self.sys)
        self.assert_file(SYSTEM32 + "\\" + self.dll, self.dll)

    def test_package_entries_for_the_removal(self):
        """What the package's INF writes where Wine does not: the entries the
        removal looks for, consistent with each other."""
        self.install(self.place_package(), 0)
        registry = self.prefix.machine_registry()
        driver_key = self.assert_one_installed_device(registry)
        self.assertEqual(driver_key.value("MatchingDeviceId"), HARDWARE_ID.lower())

        video_id = registry.value(SERVICE_KEY + "\\VIDEO", "VideoID")
        self.assertRegex(video_id or "", r"^\{[0-9A-Fa-f-]{36}\}$")
        self.assertIsNotNone(registry.key(VIDEO_KEY + "\\" + video_id + "\\0000"))
        self.assertEqual(registry.value(VIDEO_KEY + "\\" + video_id + "\\Video", "Service"), SERVICE)
        self.assertEqual(registry.value(PROFILE_VIDEO_KEY + "\\" + video_id + "\\0000",
                                        "Attach.ToDesktop"), 0)

        entries = [k for k in registry.keys_below(REINSTALL_KEY)
                   if k.value("DeviceDesc") == DEVICE_DESC]
        self.assertEqual(len(entries), 1, [k.path for k in entries])
        reinstall = entries[0].value("ReinstallString") or ""
        self.assertEqual(ntpath.basename(reinstall), self.inf)
        backup = ntpath.dirname(reinstall)
        self.assertTrue(backup.lower().startswith(SYSTEM32.lower() + "\\reinstallbackups\\"), backup)
        for name in PACKAGES[CONFIG.variant]:
            self.assert_file(backup + "\\" + name, name)

    def test_second_install_updates_the_same_device(self):
        folder = self.place_package()
        self.install(folder, 0)
        capture, records = self.install(folder, 0)
        messages = [(r.function, r.message) for r in records]
        self.assertIn(("QV_FindExistingDevice", "  Found! [%s]\n" % HARDWARE_ID), messages)
        self.assertNotIn("QV_InstallRootEnumeratedDriver", [r.function for r in records])
        self.assert_log_ends(records, SUCCESS_END)
        registry = self.prefix.machine_registry()
        driver_key = self.assert_one_installed_device(registry)
        self.assertEqual(driver_key.value("MatchingDeviceId"), HARDWARE_ID.lower())


class PackageFaults(InstallTestCase):
    def test_missing_file_is_named_and_nothing_installed(self):
        # Every case fails before installing anything, so they share a prefix;
        # the first missing file in the order INF, DLL, SYS is the one named.
        inf, dll, sys_ = PACKAGES[CONFIG.variant]
        cases = [((dll,), dll), ((sys_,), sys_), ((inf,), inf), ((inf, dll, sys_), inf),
                 ((dll, sys_), dll)]
        for leave_out, named in cases:
            with self.subTest(missing=leave_out):
                folder = self.place_package("without-" + "-".join(leave_out), leave_out)
                capture, records = self.install(folder, ERROR_FILE_MISSING)
                missing = [(r.function, r.message) for r in records
                           if r.message.startswith("ERROR: File not Found.")]
                self.assertEqual(missing, [("QV_CheckMirrorFileExists",
                                            "ERROR: File not Found. [%s\\%s]\n" % (folder, named))])
                self.assert_log_ends(records, [
                    ("QV_Install", "ERROR in QV_RegisterMirrorDriver(51)\n"),
                    ("main", "Process return. (Ret=51)\n"),
                ])
        self.assertEqual(self.installed_traces(self.prefix.machine_registry()), [])

    def test_invalid_inf_fails_without_a_device(self):
        cases = {"garbage": b"This is no INF file.\r\n\x01\x02 {[(\r\n", "empty": b""}
        for label, content in sorted(cases.items()):
            with self.subTest(inf=label):
                folder = self.place_package("inf-" + label, replace={self.inf: content})
                capture, records = self.install(folder, ERROR_INSTALL_FAILED)
                self.assert_log_ends(records, [
                    ("QV_Install", "ERROR in QV_RegisterMirrorDriver(50)\n"),
                    ("main", "Process return. (Ret=50)\n"),
                ])
                self.assertNotIn("Driver Installed successfully.\n", [r.message for r in records])
        self.assertEqual(self.installed_traces(self.prefix.machine_registry()), [])


class WindowsVersions(InstallTestCase):
    """Windows 6.2 and later get the INF copied to the system first."""

    def install_on(self, version):
        self.prefix.set_windows_version(version)
        capture, records = self.install(self.place_package(), 0)
        self.assert_log_ends(records, SUCCESS_END)
        self.assertIn(" call UpdateDriverForPlugAndPlayDevices()\n", [r.message for r in records])
        self.assertEqual(self.prefix.user_registry().value("Software\\Wine", "Version"), version)
        return records

    def test_windows_7_does_not_copy_the_inf(self):
        records = self.install_on("win7")
        self.assertEqual(self.copy_oem_inf_records(records), [])

    def test_windows_10_copies_the_inf_first(self):
        records = self.install_on("win10")
        copies = self.copy_oem_inf_records(records)
        self.assertEqual(len(copies), 1, "".join(r.text for r in records))
        self.assertEqual(copies[0].function, "QV_InstallRootEnumeratedDriver")
        # Right before the driver is installed from the INF.
        messages = [r.message for r in records]
        position = records.index(copies[0])
        self.assertLess(messages.index(" call UpdateDriverForPlugAndPlayDevices()\n"), position)
        self.assertGreater(messages.index(" ret  UpdateDriverForPlugAndPlayDevices()\n"), position)


if __name__ == "__main__":
    wineharness.main(wineharness.PROGRAM_OPTIONS + wineharness.PACKAGE_OPTIONS)
