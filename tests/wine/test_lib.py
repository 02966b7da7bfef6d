#!/usr/bin/env python3
"""Tests of the runner's own parsers and rules, on text that Wine and lnkinfo
really write. Run: python3 tests/wine/test_lib.py"""
from __future__ import annotations

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from lib import setupini, shelllink  # noqa: E402
from lib.driverlog import DriverLog  # noqa: E402
from lib.checks import Checks  # noqa: E402
from lib.install import Expected, sanitize_group  # noqa: E402
from lib.textfile import read_as_file  # noqa: E402
from lib.winereg import REG_BINARY, REG_DWORD, REG_EXPAND_SZ, REG_SZ, Registry, Value, parse  # noqa: E402

# Shaped after a Wine 8 prefix's system.reg, with the value forms of
# server/registry.c's dump_value.
SYSTEM_REG = r'''WINE REGISTRY Version 2
;; All keys relative to \\Machine

#arch=win32

[Software\\Classes\\.qft] 1796743405
#time=1dd872811d842d6
@="Keldra.FTP.1"

[Software\\Classes\\Keldra.FTP.1\\shell\\open\\command] 1796743405
#time=1dd872811d842d6
@="\"C:\\Program Files\\VORTAN\\FTP\\Qxftp.exe\" /f\"%1\""

[Software\\VORTAN\\FTP] 1796743405
#time=1dd872811d842d6
"BaseRegistry"=hex:00
"Lock"=hex:f9,ff,ff,ff
"Installation Directory"="C:\\Program Files\\VORTAN\\FTP"
"Empty"=""
"Unterminated"=hex(1):
"Path"=str(2):"%SystemRoot%\\system32"
"Count"=dword:0000001f
"Long"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\
  17,18,19
"Say \"hi\""="caf\x00e9 \\ tab\tend"
"Nul"="a\0b"

[Software\\VORTAN\\FTP\\About] 1796743405
"Name"="Example"
'''

USER_REG = r'''WINE REGISTRY Version 2
;; All keys relative to \\User\\S-1-5-21-0-0-0-1000

[Software\\Classes\\.qft] 1796743405
@="User.Override"

[Software\\VORTAN\\FTP] 1796743405
"Working Directory"="C:\\users\\root\\Documents\\FTP"
'''

# What lnkinfo 20181227 printed for a link to QXFTP.EXE.
LNKINFO = """lnkinfo 20181227

Windows Shortcut information:
\tContains a description string
\tContains a working directory string

Link information:
\tCreation time\t\t\t: Not set (0)
\tFile attribute flags\t\t: 0x00000020
\t\tShould be archived (FILE_ATTRIBUTE_ARCHIVE)
\tDrive type\t\t\t: Fixed (3)
\tVolume label\t\t\t: 
\tLocal path\t\t\t: C:\\Program Files\\VORTAN\\FTP\\QXFTP.EXE
\tDescription\t\t\t: VORTAN FTP
\tWorking directory\t\t: C:\\Program Files\\VORTAN\\FTP
"""


def reg_value(name: str) -> Value | None:
    return parse(SYSTEM_REG)[r"software\vortan\ftp"].value(name)


class WineRegistryFile(unittest.TestCase):
    def check(self, name, expected):
        self.assertEqual(expected, reg_value(name), f"value {name}")

    def test_binary_byte(self): self.check("BaseRegistry", Value(REG_BINARY, b"\0"))
    def test_binary_negative_int32(self): self.check("Lock", Value(REG_BINARY, bytes([0xF9, 0xFF, 0xFF, 0xFF])))
    def test_string_keeps_its_nul(self): self.check("Installation Directory", Value.sz(r"C:\Program Files\VORTAN\FTP"))
    def test_empty_string_counted_nul(self): self.check("Empty", Value(REG_SZ, b"\0\0"))
    def test_string_without_nul_is_hex1(self): self.check("Unterminated", Value(REG_SZ, b""))
    def test_expand_sz(self): self.check("Path", Value(REG_EXPAND_SZ, "%SystemRoot%\\system32\0".encode("utf-16-le")))
    def test_dword(self): self.check("Count", Value(REG_DWORD, (31).to_bytes(4, "little")))
    def test_hex_continuation(self): self.check("Long", Value(REG_BINARY, bytes(range(26))))
    def test_escapes_in_names_and_text(self): self.check('Say "hi"', Value.sz("caf\u00e9 \\ tab\tend"))
    def test_embedded_nul(self): self.check("Nul", Value(REG_SZ, "a\0b\0".encode("utf-16-le")))
    def test_value_names_ignore_case(self): self.check("installation directory", Value.sz(r"C:\Program Files\VORTAN\FTP"))
    def test_default_value(self):
        key = parse(SYSTEM_REG)[r"software\classes\keldra.ftp.1\shell\open\command"]
        self.assertEqual(Value.sz(r'"C:\Program Files\VORTAN\FTP\Qxftp.exe" /f"%1"'), key.value(""))

    def test_unterminated_string_shows_its_bytes(self):
        self.assertEqual("REG_SZ without terminating NUL, 0 bytes []", str(reg_value("Unterminated")))


class MergedHives(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        for name, text in (("system.reg", SYSTEM_REG), ("user.reg", USER_REG)):
            with open(os.path.join(self.dir.name, name), "w") as f:
                f.write(text)
        self.reg = Registry(self.dir.name)

    def tearDown(self):
        self.dir.cleanup()

    def test_hkcr_prefers_the_users_classes(self):
        self.assertEqual(Value.sz("User.Override"), self.reg.value("HKCR", ".qft", ""))

    def test_hkcr_falls_back_to_the_machines_classes(self):
        self.assertEqual(Value.sz(r'"C:\Program Files\VORTAN\FTP\Qxftp.exe" /f"%1"'),
                         self.reg.value("HKCR", r"Keldra.FTP.1\shell\open\command", ""))

    def test_hives_are_separate(self):
        self.assertIsNone(self.reg.value("HKLM", r"Software\VORTAN\FTP", "Working Directory"))
        self.assertEqual(Value.sz(r"C:\users\root\Documents\FTP"),
                         self.reg.value("HKCU", r"Software\VORTAN\FTP", "Working Directory"))

    def test_key_with_only_subkeys_exists(self):
        self.assertTrue(self.reg.key_exists("HKLM", r"Software\VORTAN"))
        self.assertFalse(self.reg.key_exists("HKCU", r"Software\VORTAN\FTP\About"))

    def test_subkeys(self):
        self.assertEqual(["About"], self.reg.subkeys("HKLM", r"Software\VORTAN\FTP"))


# A 64-bit prefix's system.reg after the 32-bit program wrote its keys
# (where Wine 8 put them, measured with the 32-bit reg.exe).
SYSTEM_REG_WOW64 = r'''WINE REGISTRY Version 2
;; All keys relative to \\Machine

#arch=win64

[Software\\Classes\\.qft] 1796806338
@="Keldra.FTP.1"

[Software\\Classes\\Wow6432Node\\CLSID\\{B6B88D80-BB82-47E9-A30A-88A9F2047C4C}] 1796806339
@="VORTAN FTP Transfer Object"

[Software\\Wow6432Node\\VORTAN\\FTP] 1796806335
"Installation Directory"="C:\\Program Files (x86)\\VORTAN\\FTP"

[Software\\VORTAN\\FTP] 1796806336
"Installation Directory"="C:\\64-bit view"
'''


class RegistryViews(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        for name, text in (("system.reg", SYSTEM_REG_WOW64), ("user.reg", USER_REG)):
            with open(os.path.join(self.dir.name, name), "w") as f:
                f.write(text)

    def tearDown(self):
        self.dir.cleanup()

    def test_the_32_bit_view_reads_wow6432node(self):
        reg = Registry(self.dir.name, view32=True)
        self.assertEqual(Value.sz(r"C:\Program Files (x86)\VORTAN\FTP"),
                         reg.value("HKLM", r"Software\VORTAN\FTP", "Installation Directory"))

    def test_the_stored_view_reads_the_64_bit_keys(self):
        reg = Registry(self.dir.name)
        self.assertEqual(Value.sz(r"C:\64-bit view"), reg.value("HKLM", r"Software\VORTAN\FTP", "Installation Directory"))

    def test_classes_are_shared_but_clsid(self):
        reg = Registry(self.dir.name, view32=True)
        self.assertEqual(Value.sz("Keldra.FTP.1"), reg.value("HKLM", r"Software\Classes\.qft", ""))
        self.assertTrue(reg.key_exists("HKCR", r"CLSID\{B6B88D80-BB82-47E9-A30A-88A9F2047C4C}"))
        self.assertFalse(Registry(self.dir.name).key_exists("HKCR", r"CLSID\{B6B88D80-BB82-47E9-A30A-88A9F2047C4C}"))

    def test_the_users_hive_is_not_redirected(self):
        reg = Registry(self.dir.name, view32=True)
        self.assertEqual(Value.sz(r"C:\users\root\Documents\FTP"),
                         reg.value("HKCU", r"Software\VORTAN\FTP", "Working Directory"))


class LnkInfoReport(unittest.TestCase):
    def check(self, name, expected):
        self.assertEqual(expected, shelllink.parse(LNKINFO).get(name), name)

    def test_local_path(self): self.check("Local path", r"C:\Program Files\VORTAN\FTP\QXFTP.EXE")
    def test_working_directory(self): self.check("Working directory", r"C:\Program Files\VORTAN\FTP")
    def test_description(self): self.check("Description", "VORTAN FTP")
    def test_empty_field(self): self.check("Volume label", "")


class DriverLogLines(unittest.TestCase):
    def log(self, text):
        return read_as_file(text, DriverLog.read, "cp1252", ".log")

    def test_box_text_unescaped(self):
        log = self.log("BOX\tUninstall\tDelete C:\\\\new\\\\FTP?\\nSure\tYES\nEXIT\t1\n")
        self.assertEqual([("Uninstall", "Delete C:\\new\\FTP?\nSure", "YES", True)],
                         [(b.caption, b.text, b.answer, b.scripted) for b in log.boxes])

    def test_unscripted_box(self):
        self.assertFalse(self.log("BOX\tX\tY\tOK\tunscripted\n").boxes[0].scripted)

    def test_exit_code(self): self.assertEqual(1, self.log("START\ta\tb\nEXIT\t1\n").exit_code)
    def test_no_exit(self): self.assertIsNone(self.log("START\ta\tb\n").exit_code)
    def test_timeout(self): self.assertTrue(self.log("TIMEOUT\t3\nEXIT\t124\n").timed_out)

    def test_children_in_order_unescaped_and_failures_apart(self):
        log = self.log('CHILD\t"C:\\\\windows\\\\HH.EXE" C:\\\\A B\\\\qxftp.chm\tC:\\\\dist\\\\\n'
                       "CHILD\t!error 487\twinemenubuilder.exe\n"
                       "CHILD\tC:\\\\A B\\\\QXFTP.EXE\tC:\\\\A B\\\\\n"
                       "CHILD\t!error 5\t\nEXIT\t1\n")
        self.assertEqual([('"C:\\windows\\HH.EXE" C:\\A B\\qxftp.chm', "C:\\dist\\"),
                          ("C:\\A B\\QXFTP.EXE", "C:\\A B\\")], log.children)
        self.assertEqual([(487, "winemenubuilder.exe"), (5, "")], log.unreadable_children)
        self.assertEqual(["", ""], log.child_images, "lines without the executable name")

    def test_child_images_follow_the_children(self):
        log = self.log('CHILD\t"C:\\\\A B\\\\QXFTP.EXE"\tC:\\\\A B\\\\\tQXFTP.EXE\n'
                       "CHILD\t!error 5\t\n"
                       "CHILD\tC:\\\\Program Files\\\\X\tC:\\\\\tProgram.exe\nEXIT\t1\n")
        self.assertEqual(["QXFTP.EXE", "Program.exe"], log.child_images)
        self.assertEqual(2, len(log.children))

    def test_short_path_ignores_case_and_errors(self):
        log = self.log("SHORT\tC:\\\\A B\\\\X.EXE\t!2\nSHORT\tC:\\\\A B\\\\Y.EXE\tC:\\\\AB~1\\\\Y.EXE\n")
        self.assertIsNone(log.short_path("C:\\A B\\X.EXE"))
        self.assertEqual("C:\\AB~1\\Y.EXE", log.short_path("c:\\a b\\y.exe"))


class SetupIniValues(unittest.TestCase):
    def test_section_and_key_ignore_case(self):
        self.assertEqual("2", setupini.get({"ftpsetup": {"baseregistry": " 2 "}}, "FTPSetup", "BaseRegistry"))

    def test_quotes_removed(self):
        self.assertEqual("C:\\A B", setupini.get({"FTPSetup": {"DestinationDir": '"C:\\A B"'}}, "FTPSetup", "DestinationDir"))

    def test_missing_is_empty(self): self.assertEqual("", setupini.get({}, "FTPSetup", "Lock"))
    def test_integer_sign_and_blank(self): self.assertEqual(-7, setupini.integer(" -7"))
    def test_integer_stops_at_letter(self): self.assertEqual(12, setupini.integer("12abc"))
    def test_integer_without_digits(self): self.assertEqual(0, setupini.integer("abc"))
    def test_yes_lower_case(self): self.assertTrue(setupini.yes("yes"))
    def test_one_is_not_yes(self): self.assertFalse(setupini.yes("1"))


def derive(changes, windows="winxp"):
    return Expected.derive(setupini.merge(setupini.QUIET_ALL_KEYS, changes), windows, "root")


class ExpectedInstallation(unittest.TestCase):
    def test_base_registry_first_character(self):
        self.assertEqual((1, 2, 0), tuple(derive({"FTPSetup": {"BaseRegistry": v}}).base_registry
                                          for v in ("12", "2x", "02")))

    def test_all_quiet_keys_no_box(self): self.assertEqual([], derive({}).boxes())

    def test_missing_use_group_keeps_group_but_shows_box(self):
        e = derive({"Program Group": {"UseGroup": None}})
        self.assertEqual((True, False), (e.use_group, e.quiet_complete))

    def test_use_group_no(self): self.assertFalse(derive({"Program Group": {"UseGroup": "N"}}).use_group)

    def test_default_directory_without_destination(self):
        self.assertEqual(r"C:\Program Files\VORTAN\FTP", derive({"FTPSetup": {"DestinationDir": None}}, "win98").install_dir)

    def test_common_folder_needs_windows_2000(self):
        common = {"FTPSetup": {"UseAllUsersCommonFolderAsWorkingDir": "Y"}}
        self.assertEqual((2, r"C:\users\Public\Documents\FTP"),
                         (derive(common, "win2k").working_dir_type, derive(common, "win2k").working_dir))
        self.assertEqual((1, r"C:\users\root\Documents\FTP"),
                         (derive(common, "win98").working_dir_type, derive(common, "win98").working_dir))

    def test_personal_folder_wins(self):
        both = {"FTPSetup": {"UsePersonalFolderAsWorkingDir": "y", "UseAllUsersCommonFolderAsWorkingDir": "Y"}}
        self.assertEqual(1, derive(both).working_dir_type)

    def test_hives(self):
        self.assertEqual(("HKCU", "HKCU"), (derive({"FTPSetup": {"BaseRegistry": "2"}}).product_hive,
                                            derive({"FTPSetup": {"BaseRegistry": "2"}}).working_dir_hive))
        self.assertEqual(("HKLM", "HKLM"), (derive({"FTPSetup": {"BaseRegistry": "1"}}).product_hive,
                                            derive({"FTPSetup": {"BaseRegistry": "1"}}).working_dir_hive))
        self.assertEqual(("HKLM", "HKCU"), (derive({}).product_hive, derive({}).working_dir_hive))

    def test_desktop_by_family(self):
        self.assertEqual(r"C:\users\Public\Desktop", derive({}, "winxp").desktop_dir)
        self.assertEqual(r"C:\users\root\Desktop", derive({}, "win98").desktop_dir)

    def test_group_folder_name(self): self.assertEqual("A_B_C", sanitize_group("A/B:C"))

    def test_default_directory_under_wow64(self):
        e = Expected.derive(setupini.merge(setupini.QUIET_ALL_KEYS, {"FTPSetup": {"DestinationDir": None}}),
                            "win10", "root", wow64=True)
        self.assertEqual(r"C:\Program Files (x86)\VORTAN\FTP", e.install_dir)


class AclListing(unittest.TestCase):
    """vacl.exe's output, as cases_permissions reads it."""
    TEXT = ("PATH C:\\Apps\\VORTAN\r\nCONTROL 9004 PROTECTED\r\nACE A:S-1-5-32-544:001f01ff:03\r\n"
            "ACE A:S-1-5-18:001f01ff:03\r\nACE A:S-1-5-32-545:001200a9:03\r\nEND\r\n"
            "PATH C:\\Apps\r\nCONTROL 8004 INHERITS\r\nACE D:S-1-1-0:00000001:00\r\nEND\r\n"
            "PATH C:\\Gone\r\nERROR GetFileSecurityA 2\r\nEND\r\n")

    def read(self):
        import cases_permissions
        return read_as_file(self.TEXT, cases_permissions.read_acls, "cp1252", ".txt"), cases_permissions

    def test_protected_directory(self):
        acls, cp = self.read()
        d = acls["c:\\apps\\vortan"]
        self.assertTrue(d.protected)
        self.assertEqual(["A:S-1-5-32-544:001f01ff:03", "A:S-1-5-18:001f01ff:03", "A:S-1-5-32-545:001200a9:03"],
                         d.summary())
        c = Checks()
        cp.check_protected(c, d, "dir")
        self.assertEqual([], [r.what for r in c.failures])

    def test_inheriting_directory_fails_the_protection_check(self):
        acls, cp = self.read()
        c = Checks()
        cp.check_protected(c, acls["c:\\apps"], "dir")
        self.assertIn("dir: protected from the parent's permissions", [r.what for r in c.failures])
        self.assertIn("dir: denying ACEs", [r.what for r in c.failures])

    def test_error_recorded(self):
        acls, _ = self.read()
        self.assertEqual(["GetFileSecurityA 2"], acls["c:\\gone"].errors)


if __name__ == "__main__":
    unittest.main()
