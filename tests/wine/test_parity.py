#!/usr/bin/env python3
"""Tests of the parity harness's own rules: the scenario files, the dump's
order and the comparison. Run: python3 tests/wine/test_parity.py"""
from __future__ import annotations

import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE)))

from lib.textfile import read_as_file  # noqa: E402
from parity import scenario as scn  # noqa: E402

SCENARIOS = os.path.join(os.path.dirname(HERE), "scenarios")


def parse_text(text: str) -> scn.Scenario:
    return read_as_file(text, scn.parse, "utf-8", ".scn")


WIZARD = """windows: xp
group: Internet Tools
workdir: C:\\FTP Data
progman: none
answer: VORTAN FTP Install = OK
accept: wine ^x$ :: a reason
--- install.ini
[FTPSetup]
BaseRegistry=0
--- install.wizard
sheet VORTAN FTP Setup
settext 208 Internet Tools
press FINISH
"""


class ScenarioFiles(unittest.TestCase):
    def test_every_scenario_parses(self):
        loaded = scn.load_all(SCENARIOS)
        self.assertGreaterEqual(len(loaded), 25, "scenarios")
        for s in loaded:
            self.assertTrue(s.install_ini is not None or s.remove_ini is not None, s.name)

    def test_wizard_blocks_and_keys(self):
        s = parse_text(WIZARD)
        self.assertEqual(("Internet Tools", "C:\\FTP Data", True), (s.group, s.workdir, s.no_progman))
        self.assertEqual("sheet VORTAN FTP Setup\r\nsettext 208 Internet Tools\r\npress FINISH\r\n",
                         s.install_wizard)
        self.assertIsNone(s.remove_wizard)
        self.assertEqual({"VORTAN FTP Install": ["OK"]}, s.answers)

    def test_64_bit_editions_run_under_wow64(self):
        for windows, version in (("10 x64", "win10"), ("7-x64", "win7"), ("XP x64", "winxp64"), ("11", "win10"),
                                 ("8.1 x64", "win81")):
            s = parse_text(f"windows: {windows}\n--- install.ini\n")
            self.assertEqual((True, version), (s.x64, s.wine_version), windows)
        self.assertFalse(parse_text("windows: 10\n--- install.ini\n").x64)

    def test_standard_user_is_read(self):
        self.assertEqual("standard", parse_text("windows: 10 x64\nuser: standard\n--- install.ini\n").user)

    def test_malformed_scenarios_are_refused(self):
        for why, text in [
            ("wizard without its run", "windows: xp\n--- install.ini\n--- remove.wizard\npress NEXT\n"),
            ("unknown progman", "windows: xp\nprogman: busy\n--- install.ini\n"),
            ("accept without reason", "windows: xp\naccept: wine ^x$\n--- install.ini\n"),
            ("accept with a bad side", "windows: xp\naccept: neither ^x$ :: why\n--- install.ini\n"),
            ("unknown block", "windows: xp\n--- setup.ini\n"),
            ("unknown version", "windows: 3.1\n--- install.ini\n"),
            ("unknown 64-bit edition", "windows: 98 x64\n--- install.ini\n"),
            ("unknown user kind", "windows: 10\nuser: guest\n--- install.ini\n"),
            ("no run", "windows: xp\n"),
            ("bad registry type", "windows: xp\nregistry: HKLM K : N = REG_DWORD 1\n--- install.ini\n"),
        ]:
            with self.subTest(why), self.assertRaises(ValueError):
                parse_text(text)


class Dump(unittest.TestCase):
    def test_boxes_and_processes_keep_order_and_repeats(self):
        text = scn.render("n", "wine", {"boxes": ["b", "a", "a"], "processes": ["q", "p"],
                                         "registry": ["z", "y", "y"]})
        self.assertEqual("# parity dump of n (wine)\n[boxes]\nb\na\na\n[processes]\nq\np\n"
                         "[registry]\ny\nz\n[files]\n[shell]\n[restart]\n", text)

    def test_tokens_replace_folders_only_where_a_path_starts(self):
        norm = scn.Normaliser({r"C:\Apps\FTP": "%INSTALLDIR%", r"C:\Apps": "%APPS%"})
        self.assertEqual(r'"%INSTALLDIR%\QXFTP.EXE" /f | %APPS%\FTPX | XC:\Apps\FTP',
                         norm(r'"c:\apps\ftp\QXFTP.EXE" /f | C:\Apps\FTPX | XC:\Apps\FTP'))


class Comparison(unittest.TestCase):
    def scenario(self, *accepts: str) -> scn.Scenario:
        return parse_text("windows: xp\n" + "".join(f"accept: {a}\n" for a in accepts) + "--- install.ini\n")

    def dumps(self, winsim: list[str], wine: list[str]) -> tuple[str, str]:
        return (scn.render("n", "winsim", {"files": winsim}), scn.render("n", "wine", {"files": wine}))

    def test_equal_dumps_have_no_difference(self):
        result = scn.compare(self.scenario(), *self.dumps(["file a"], ["file a"]))
        self.assertEqual(([], []), (result.accepted, result.unaccepted))

    def test_a_rule_covers_only_its_side(self):
        s = self.scenario(r"wine ^file b$ :: only Wine has b")
        result = scn.compare(s, *self.dumps(["file a", "file b"], ["file b", "file c"]))
        self.assertEqual([("winsim", "file a"), ("wine", "file c")], result.unaccepted)
        s = self.scenario(r"both ^file [ac]$ :: a and c are one file")
        result = scn.compare(s, *self.dumps(["file a"], ["file c"]))
        self.assertEqual([], result.unaccepted)
        self.assertEqual(["a and c are one file"] * 2, [why for _, _, why in result.accepted])


if __name__ == "__main__":
    unittest.main()
