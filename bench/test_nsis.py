"""Tests of the NSIS script bench/run generates: built for the prefix's
architecture, with the registry view the uninstaller must read."""
import importlib.util
import os
import unittest
from importlib.machinery import SourceFileLoader

HERE = os.path.dirname(os.path.abspath(__file__))
_loader = SourceFileLoader("bench_run", os.path.join(HERE, "run"))
_spec = importlib.util.spec_from_loader("bench_run", _loader)
bench_run = importlib.util.module_from_spec(_spec)
_loader.exec_module(bench_run)


def script(arch: str) -> list[str]:
    exp = bench_run.Expected.derive(bench_run.INSTALL_INI, bench_run.WINDOWS, "someone")
    return bench_run.nsis_script(exp, bench_run.Arch(arch), ["Docs"])


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
        read = lines.index(f'ReadRegStr $INSTDIR HKLM "{bench_run.PRODUCT_KEY}" "Installation Directory"')
        self.assertLess(read, lines.index('RMDir /r "$INSTDIR"'), "the folder is read before it is removed")

    def test_program_files_folder_per_architecture(self):
        self.check([line for line in script("win32") if line.startswith("InstallDir")],
                   ['InstallDir "$PROGRAMFILES\\VORTAN\\FTP"'])
        self.check([line for line in script("win64") if line.startswith("InstallDir")],
                   ['InstallDir "$PROGRAMFILES64\\VORTAN\\FTP"'])


if __name__ == "__main__":
    unittest.main()
