"""The shipped 32-bit Setup.exe, checked without running it (the machines
that run the Wine tests with the x86-64 build cannot start it): a PE32 GUI
program for i386 with subsystem version 4.0, the manifest and version block
of src/resources, and exactly the imports recorded in imports.py, each with
the first Windows versions that have it. The x86-64 build, when there is
one, must be the same program: PE32+ for x86-64 with the same resources."""
from __future__ import annotations

import os
import re
import unittest
import xml.etree.ElementTree as ET

import distlib
import imports
import pe

RESOURCES = os.path.join(distlib.REPO, "src", "resources")
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "urn:schemas-microsoft-com:compatibility.v1"


def rc_version_values() -> tuple[tuple, dict[str, str]]:
    """FILEVERSION, PRODUCTVERSION and the VALUE strings of setup.rc."""
    with open(os.path.join(RESOURCES, "setup.rc"), encoding="latin-1") as f:
        text = f.read()
    numbers = {k: tuple(int(n) for n in v.split(","))
               for k, v in re.findall(r"^\s*(FILEVERSION|PRODUCTVERSION)\s+([\d,\s]+?)\s*$", text, re.M)}
    values = dict(re.findall(r'^\s*VALUE\s+"([^"]+)",\s*"([^"]*)"', text, re.M))
    return (numbers["FILEVERSION"], numbers["PRODUCTVERSION"]), values


def manifest_resource(resources: dict) -> bytes:
    found = [data for (kind, name, _), data in resources.items() if kind == pe.RT_MANIFEST and name == 1]
    if len(found) != 1:
        raise AssertionError(f"{len(found)} manifests with id 1")
    return found[0]


class Shipped(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        distlib.require(distlib.SETUP_EXE)
        cls.pe = pe.PE.read(distlib.SETUP_EXE)

    def test_a_32_bit_gui_program_that_windows_95_and_nt_4_load(self):
        self.assertEqual(pe.MACHINE_I386, self.pe.machine)
        self.assertEqual(pe.PE32, self.pe.magic)
        self.assertEqual(pe.SUBSYSTEM_WINDOWS_GUI, self.pe.subsystem)
        # Both loaders refuse a subsystem version above their own (4.0).
        self.assertEqual((4, 0), self.pe.subsystem_version)
        self.assertFalse(self.pe.characteristics & 0x2000, "not a DLL")
        self.assertTrue(self.pe.characteristics & 0x0002, "executable")

    def test_the_manifest_asks_for_highest_available_and_names_no_windows_version(self):
        data = manifest_resource(self.pe.resources())
        with open(os.path.join(RESOURCES, "setup.manifest"), "rb") as f:
            self.assertEqual(f.read(), data, "the manifest resource is src/resources/setup.manifest")
        root = ET.fromstring(data)
        levels = root.findall(f".//{ASM_V3}requestedExecutionLevel")
        self.assertEqual([("highestAvailable", "false")], [(e.get("level"), e.get("uiAccess")) for e in levels])
        # A supportedOS entry changes what GetVersionExA reports on
        # Windows 8.1 and later, and the program's version rules read it.
        self.assertNotIn(COMPATIBILITY.encode(), data)
        self.assertEqual([], [e for e in root.iter() if e.tag.endswith("supportedOS")])
        controls = [e.get("version") for e in root.iter(f"{ASM_V1}assemblyIdentity")
                    if e.get("name") == "Microsoft.Windows.Common-Controls"]
        self.assertEqual(["6.0.0.0"], controls)

    def test_the_version_block_is_the_one_of_setup_rc(self):
        blocks = [data for (kind, _, _), data in self.pe.resources().items() if kind == pe.RT_VERSION]
        self.assertEqual(1, len(blocks))
        fixed, strings = pe.version_strings(blocks[0])
        want_fixed, want_strings = rc_version_values()
        self.assertEqual(want_fixed, fixed)
        self.assertEqual(want_strings, strings)
        self.assertEqual("Setup.exe", strings["OriginalFilename"])

    def test_the_imports_are_exactly_the_recorded_ones(self):
        found = {(dll.upper(), name) for dll, names in self.pe.imports().items() for name in names}
        recorded = {(dll, name) for dll, names in imports.IMPORTS.items() for name in names}
        new = sorted(found - recorded)
        gone = sorted(recorded - found)
        self.assertEqual([], new, "imports not recorded in tests/dist/imports.py: record the first Windows 9x "
                                  "and NT versions that export each, and the source that says so")
        self.assertEqual([], gone, "recorded in tests/dist/imports.py but no longer imported: remove them")
        self.assertEqual(sorted(imports.DLLS), sorted({dll for dll, _ in found}))

    def test_every_record_names_its_versions_and_source(self):
        for dll, facts in imports.DLLS.items():
            self.assertTrue(facts.windows_95 and facts.nt4 and facts.source, dll)
        for dll, names in imports.IMPORTS.items():
            self.assertIn(dll, imports.DLLS)
            for name, entry in names.items():
                self.assertTrue(entry.win9x and entry.nt and entry.source, f"{dll}!{name}")


class X64Build(unittest.TestCase):
    """The Wine tests run this build where the kernel starts no i386
    program; it must be the shipped program's sources and resources."""

    @classmethod
    def setUpClass(cls):
        path = os.path.join(distlib.WIN64, "Setup.exe")
        if not os.path.exists(path):
            raise unittest.SkipTest(f"no x86-64 build at {path} (made only where scripts/wine-arch says win64)")
        distlib.require(distlib.SETUP_EXE)
        cls.pe = pe.PE.read(path)

    def test_pe32_plus_for_x86_64(self):
        self.assertEqual(pe.MACHINE_AMD64, self.pe.machine)
        self.assertEqual(pe.PE32_PLUS, self.pe.magic)
        self.assertEqual(pe.SUBSYSTEM_WINDOWS_GUI, self.pe.subsystem)

    def test_the_same_resources_as_the_shipped_program(self):
        shipped = pe.PE.read(distlib.SETUP_EXE).resources()
        here = self.pe.resources()
        self.assertEqual(sorted(shipped, key=repr), sorted(here, key=repr))
        self.assertEqual([], [key for key in shipped if shipped[key] != here[key]])


if __name__ == "__main__":
    unittest.main()
