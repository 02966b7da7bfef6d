"""Tests of the NSIS script bench/run generates (bench/nsis.py): built for
the prefix's architecture, with the registry view the uninstaller must read."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import nsis  # noqa: E402
from common import INSTALL_INI, WINDOWS  # noqa: E402
from lib.install import PRODUCT_KEY, Expected  # noqa: E402
from lib.wineenv import Arch  # noqa: E402


def script(arch: str) -> list[str]:
    exp = Expected.derive(INSTALL_INI, WINDOWS, "someone")
    return nsis.nsis_script(exp, Arch(arch), ["Docs"])


def section(lines: list[str], name: str) -> list[str]:
    start = lines.index(f'Section "{name}"')
    return lines[start:lines.index("SectionEnd", start)]


class NsisScript(unittest.TestCase):
    def check(self, got, expected):
        self.assertEqual(got, expected, f"expected {expected!r}, got {got!r}")

    def test_32_bit_prefix_gets_an_x86_build(self):
        self.check([line for line in script("win32") if line.startswith("Target")], ["Target x86-unicode"])

    def test_64_bit_prefix_gets_an_amd64_build(self):
        self.check([line for line in script("win64") if line.startswith("Target")], ["Target amd64-unicode"])

    def test_32_bit_uninstaller_reads_the_only_registry_view(self):
        self.check([line for line in section(script("win32"), "Uninstall") if "SetRegView" in line], [])

    def test_32_bit_installer_writes_the_only_registry_view(self):
        self.check([line for line in section(script("win32"), "Install") if "SetRegView" in line], [])

    def test_64_bit_installer_and_uninstaller_use_the_64_bit_view(self):
        lines = script("win64")
        self.check([line.strip() for line in section(lines, "Install") if "SetRegView" in line], ["SetRegView 64"])
        self.check([line.strip() for line in section(lines, "Uninstall") if "SetRegView" in line], ["SetRegView 64"])

    def test_uninstaller_reads_the_folder_before_removing(self):
        lines = [line.strip() for line in section(script("win32"), "Uninstall")]
        read = lines.index(f'ReadRegStr $INSTDIR HKLM "{PRODUCT_KEY}" "Installation Directory"')
        self.assertLess(read, lines.index('RMDir /r "$INSTDIR"'), "the folder is read before it is removed")

    def test_program_files_folder_per_architecture(self):
        self.check([line for line in script("win32") if line.startswith("InstallDir")],
                   ['InstallDir "$PROGRAMFILES\\VORTAN\\FTP"'])
        self.check([line for line in script("win64") if line.startswith("InstallDir")],
                   ['InstallDir "$PROGRAMFILES64\\VORTAN\\FTP"'])


if __name__ == "__main__":
    unittest.main()
