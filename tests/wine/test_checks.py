#!/usr/bin/env python3
"""Tests of the installation checks without Wine: a prefix laid out by hand
the way a correct quiet installation leaves it must pass every check, and
each single fault put into it must be reported.
Run: python3 tests/wine/test_checks.py (needs lnkinfo)."""
from __future__ import annotations

import os
import shutil
import struct
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from lib import setupini  # noqa: E402
from lib.checks import Checks  # noqa: E402
from lib.driverlog import DriverLog  # noqa: E402
from lib.install import Expected, check_installation  # noqa: E402
from lib.wineenv import PrefixLayout  # noqa: E402

INSTALL = r"C:\Program Files\VORTAN\FTP"
SHORT = r"C:\PROG~FBU\VORTAN\FTP"
INI = setupini.merge(setupini.QUIET_ALL_KEYS, {
    "FTPSetup": {"ProfileMode": "Y", "Lock": "-7", "LockFTP": "12"},
    "Support": {"Line1": "Call us"},
    "About": {"Name": "Example"},
})

# Where this small product's files must land, named independently of the
# rules that derive the expected tree from the distribution.
MUST_HAVE = ["QXFTP.EXE", "UNINS.EXE", r"Certs\CA1.0", r"Certs\CA2.0", r"Certs\cert.pem",
             r"Config\Custom.ini", "readme.htm", "Start.qft", r"Docs\Sub\x.txt"]

SYSTEM_REG = r'''WINE REGISTRY Version 2
;; All keys relative to \\Machine

#arch=win32

[Software\\Classes\\.qft] 1796743405
@="Keldra.FTP.1"

[Software\\Classes\\CLSID\\{B6B88D80-BB82-47E9-A30A-88A9F2047C4C}] 1796743405
@="VORTAN FTP Transfer Object"

[Software\\Classes\\CLSID\\{B6B88D80-BB82-47E9-A30A-88A9F2047C4C}\\InprocServer32] 1796743405
@="C:\\Program Files\\VORTAN\\FTP\\QXFTP.DLL"
"ThreadingModel"="Apartment"

[Software\\Classes\\Keldra.FTP.1] 1796743405
@="Keldra FTP"

[Software\\Classes\\Keldra.FTP.1\\CurVer] 1796743405
@="Keldra.FTP.1"

[Software\\Classes\\Keldra.FTP.1\\DefaultIcon] 1796743405
@="C:\\Program Files\\VORTAN\\FTP\\Qxftp.exe,-103"

[Software\\Classes\\Keldra.FTP.1\\shell\\open\\command] 1796743405
@="\"C:\\Program Files\\VORTAN\\FTP\\Qxftp.exe\" /f\"%1\""

[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VORTAN FTP] 1796743405
"DisplayName"="VORTAN FTP"
"UninstallString"="\"C:\\Program Files\\VORTAN\\FTP\\Unins.Exe\""

[Software\\VORTAN\\FTP] 1796743405
"BaseRegistry"=hex:00
"Profile Mode"=hex:01
"Installation Directory"="C:\\Program Files\\VORTAN\\FTP"
"WorkingDirType"=hex:01
"Program Group"="VORTAN FTP"
"Lock"=hex:f9,ff,ff,ff
"LockFTP"=hex:0c,00,00,00
"Created Directories"=str(7):"C:\\Program Files\\VORTAN\0C:\\Program Files\\VORTAN\\FTP\0"
"Uninstall Entry"="HKEY_LOCAL_MACHINE"
"File Type"="HKEY_CLASSES_ROOT"
"Desktop Shortcut"="C:\\users\\Public\\Desktop\\VORTAN FTP.LNK"

[Software\\VORTAN\\FTP\\About] 1796743405
"Info1"=""
"Info2"=""
"Name"="Example"
"Address1"=""
"Address2"=""
"Address3"=""
"Phone"=""
"Fax"=""
"BBS"=""
"INet"=""

[Software\\VORTAN\\FTP\\Support] 1796743405
"Line1"="Call us"
"Line2"=""
"Line3"=""
"Line4"=""
"Line5"=""
"Line6"=""
"Line7"=""
"Line8"=""
"Line9"=""
'''

USER_REG = r'''WINE REGISTRY Version 2
;; All keys relative to \\User\\S-1-5-21-0-0-0-1000

#arch=win32

[Software\\VORTAN\\FTP] 1796743405
"Working Directory"="C:\\users\\root\\Documents\\FTP"
'''


def log_line(*fields: str) -> str:
    """One line of vdriver's log: backslashes doubled, fields TAB-separated."""
    return "\t".join(f.replace("\\", "\\\\") for f in fields) + "\n"


DRIVER_LOG = (log_line("START", r"C:\dist\Setup.exe", r"C:\dist")
              + log_line("SHORT", INSTALL + r"\QXFTP.EXE", SHORT + r"\QXFTP.EXE")
              + log_line("SHORT", INSTALL + r"\UNINS.EXE", SHORT + r"\UNINS.EXE")
              + log_line("EXIT", "1"))


def write(path: str, data: bytes | str) -> None:
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data.encode() if isinstance(data, str) else data)


def make_lnk(path: str, target: str, workdir: str | None = None, description: str | None = None) -> None:
    """A shell link with an ANSI local base path, as lnkinfo reads it
    (header, LinkInfo, then the optional NAME and WORKING_DIR strings)."""
    flags = 0x2 | (0x4 if description is not None else 0) | (0x10 if workdir is not None else 0)
    header = struct.pack("<I16sIIQQQIIIHHII", 0x4C, bytes.fromhex("0114020000000000c000000000000046"),
                         flags, 0x20, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0)
    volume = struct.pack("<IIII", 0x11, 3, 0x1234, 0x10) + b"\0"
    base = target.encode("cp1252") + b"\0"
    body = volume + base + b"\0"
    info = struct.pack("<IIIIIII", 0x1C + len(body), 0x1C, 1, 0x1C, 0x1C + len(volume), 0,
                       0x1C + len(volume) + len(base)) + body
    strings = b"".join(struct.pack("<H", len(s.encode("cp1252"))) + s.encode("cp1252")
                       for s in (description, workdir) if s is not None)
    write(path, header + info + strings + b"\0\0\0\0")


class FakeInstallation(unittest.TestCase):
    """A prefix as Setup.exe leaves it after the XP quiet installation of a
    small product, laid out file by file."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp()
        t = lambda *p: os.path.join(self.tmp, *p)
        self.product, self.dist, self.setup_exe = t("product"), t("dist"), t("Setup.exe")
        self.prefix = PrefixLayout(t("prefix"))
        write(self.setup_exe, b"MZ setup")
        originals = {"QXFTP.EXE": b"MZ program", "QXFTP.DLL": b"MZ server", "QXFTP.HLP": b"help", "QXFTP.CHM": b"chm"}
        for name, data in originals.items():
            write(t("product", "program", name), data)
            write(t("dist", name[:-1] + "_"), b"SZDD packed")
        write(t("product", "certs", "packed", "CA1.0"), b"cert one")
        write(t("product", "certs", "cabinet", "cert.pem"), b"cabinet cert")
        plain = {"CA2.0": b"cert two", "Custom.ini": b"[Custom]", "readme.htm": b"<html>", "Start.qft": b"qft",
                 os.path.join("Docs", "Guide.txt"): b"guide", os.path.join("Docs", "Sub", "x.txt"): b"x"}
        for name, data in plain.items():
            write(t("dist", name), data)
        for name, data in (("UNINS.EX_", b"SZDD"), ("CA1.0_", b"SZDD"), ("Qxcerts.Cab", b"MSCF"),
                           ("Setup.exe", b"MZ setup"), ("SETUP.INI", b"[FTPSetup]")):
            write(t("dist", name), data)

        root = self.prefix.unix(INSTALL)
        for name, data in originals.items():
            write(os.path.join(root, name), data)
        write(os.path.join(root, "UNINS.EXE"), b"MZ setup")
        for d in ("Transfer", "Traces"):
            os.makedirs(os.path.join(root, d))
        for rel, data in ((("Certs", "CA1.0"), b"cert one"), (("Certs", "CA2.0"), b"cert two"),
                          (("Certs", "cert.pem"), b"cabinet cert"), (("Config", "Custom.ini"), b"[Custom]"),
                          (("readme.htm",), b"<html>"), (("Start.qft",), b"qft"),
                          (("Docs", "Guide.txt"), b"guide"), (("Docs", "Sub", "x.txt"), b"x")):
            write(os.path.join(root, *rel), data)

        write(t("prefix", "system.reg"), SYSTEM_REG)
        write(t("prefix", "user.reg"), USER_REG)
        os.makedirs(self.prefix.unix(r"C:\users\root\Desktop"))
        group = os.path.join(self.prefix.programs_dir(), "VORTAN FTP")
        make_lnk(os.path.join(group, "VORTAN FTP.lnk"), SHORT + r"\QXFTP.EXE", description="VORTAN FTP")
        make_lnk(os.path.join(group, "Uninstall VORTAN FTP.lnk"), SHORT + r"\UNINS.EXE")
        make_lnk(self.prefix.unix(r"C:\users\Public\Desktop\VORTAN FTP.LNK"), INSTALL + r"\QXFTP.EXE",
                 INSTALL, "VORTAN FTP")
        write(t("driver.log"), DRIVER_LOG)

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def failures(self) -> list[str]:
        c = Checks()
        exp = Expected.derive(INI, "winxp", "root")
        check_installation(c, self.prefix, exp, DriverLog.read(os.path.join(self.tmp, "driver.log")),
                           self.dist, self.product, self.setup_exe, must_have=MUST_HAVE)
        self.assertGreater(len(c.results), 50, "the checks ran")
        return [f"{r.what}: expected {r.expected}, got {r.got}" for r in c.failures]

    def assertReported(self, fragment: str):
        found = self.failures()
        self.assertTrue(any(fragment in f for f in found), f"no failure mentions {fragment!r}; got {found}")

    def edit(self, rel: str, old: str, new: str):
        path = os.path.join(self.tmp, rel)
        with open(path) as f:
            text = f.read()
        self.assertIn(old, text)
        write(path, text.replace(old, new))

    def installed(self, rel: str) -> str:
        return os.path.join(self.prefix.unix(INSTALL), rel)

    # -- the untouched layout passes ------------------------------------------
    def test_correct_installation_passes(self):
        self.assertEqual([], self.failures())

    # -- each fault is reported -------------------------------------------------
    def test_lock_as_dword(self):
        self.edit("prefix/system.reg", '"Lock"=hex:f9,ff,ff,ff', '"Lock"=dword:fffffff9')
        self.assertReported(r"value Lock: expected 'REG_BINARY [f9 ff ff ff]")

    def test_created_directories_missing_or_not_a_list(self):
        self.edit("prefix/system.reg", '"Created Directories"=str(7):', '"Created Directories"=str(1):')
        self.assertReported("Created Directories is a list")

    def test_created_directory_relative(self):
        self.edit("prefix/system.reg", 'str(7):"C:\\\\Program Files\\\\VORTAN\\0', 'str(7):"VORTAN\\0')
        self.assertReported("Created Directories names full paths")

    def test_desktop_shortcut_recorded_elsewhere(self):
        self.edit("prefix/system.reg", 'Public\\\\Desktop\\\\VORTAN FTP.LNK', 'root\\\\Desktop\\\\VORTAN FTP.LNK')
        self.assertReported("Desktop Shortcut")

    def test_empty_string_without_nul(self):
        self.edit("prefix/system.reg", '"Fax"=""', '"Fax"=hex(1):')
        self.assertReported(r"About value Fax")

    def test_working_directory_in_machine_key(self):
        self.edit("prefix/system.reg", '"WorkingDirType"=hex:01',
                  '"WorkingDirType"=hex:01\n"Working Directory"="C:\\\\users\\\\root\\\\Documents\\\\FTP"')
        self.assertReported(r"value names of HKLM\Software\VORTAN\FTP")

    def test_uninstall_string_case(self):
        self.edit("prefix/system.reg", r"FTP\\Unins.Exe", r"FTP\\UNINS.EXE")
        self.assertReported("UninstallString")

    def test_uninstall_string_unquoted(self):
        self.edit("prefix/system.reg", r'"UninstallString"="\"C:', r'"UninstallString"="C:')
        self.edit("prefix/system.reg", r'Unins.Exe\""', r'Unins.Exe"')
        self.assertReported("UninstallString")

    def test_open_command_without_quotes(self):
        self.edit("prefix/system.reg", r'/f\"%1\"', r'/f%1')
        self.assertReported(r"shell\open\command value @")

    def test_dll_not_registered(self):
        self.edit("prefix/system.reg", r'@="C:\\Program Files\\VORTAN\\FTP\\QXFTP.DLL"', r'@="C:\\dist\\QXFTP.DLL"')
        self.assertReported("QXFTP.DLL registered from")

    def test_packed_file_copied(self):
        write(self.installed("QXFTP.EX_"), b"SZDD packed")
        self.assertReported("unexpected files")

    def test_setup_ini_copied(self):
        write(self.installed(os.path.join("Config", "SETUP.INI")), b"[FTPSetup]")
        self.assertReported("unexpected files")

    def test_certificate_in_config(self):
        os.rename(self.installed(os.path.join("Certs", "CA2.0")), self.installed(os.path.join("Config", "CA2.0")))
        self.assertReported(r"files missing")

    def test_file_content_differs(self):
        write(self.installed(os.path.join("Certs", "CA1.0")), b"cert 1")
        self.assertReported(r"Certs\CA1.0 equals")

    def test_nested_folder_missing(self):
        shutil.rmtree(self.installed(os.path.join("Docs", "Sub")))
        self.assertReported(r"Docs\Sub")

    def test_item_with_long_path(self):
        make_lnk(os.path.join(self.prefix.programs_dir(), "VORTAN FTP", "VORTAN FTP.lnk"), INSTALL + r"\QXFTP.EXE")
        self.assertReported("item 'VORTAN FTP' target")

    def test_extra_group_item(self):
        make_lnk(os.path.join(self.prefix.programs_dir(), "VORTAN FTP", "Readme.lnk"), INSTALL + r"\readme.htm")
        self.assertReported("items of group")

    def test_shortcut_on_users_desktop(self):
        os.rename(self.prefix.unix(r"C:\users\Public\Desktop\VORTAN FTP.LNK"),
                  self.prefix.unix(r"C:\users\root\Desktop\VORTAN FTP.LNK"))
        self.assertReported(r"shortcut on C:\users\root\Desktop")

    def test_shortcut_working_directory(self):
        make_lnk(self.prefix.unix(r"C:\users\Public\Desktop\VORTAN FTP.LNK"), INSTALL + r"\QXFTP.EXE",
                 r"C:\dist", "VORTAN FTP")
        self.assertReported("shortcut working directory")

    def test_unexpected_box(self):
        self.edit("driver.log", "EXIT\t1", "BOX\tVORTAN FTP Install\tVORTAN FTP installation completed successfully.\tOK\nEXIT\t1")
        self.assertReported("message boxes")

    def test_exit_code(self):
        self.edit("driver.log", "EXIT\t1", "EXIT\t0")
        self.assertReported("Setup.exe exit code")


if __name__ == "__main__":
    unittest.main()
