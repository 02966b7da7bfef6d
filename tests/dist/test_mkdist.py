"""tools/mkdist over the sample product: the same bytes whatever the input
files' times, cabinet members dated by SOURCE_DATE_EPOCH, a manifest of every
file it wrote, and OUT_DIR untouched when it fails."""
from __future__ import annotations

import hashlib
import os
import shutil
import subprocess
import tempfile
import unittest

import distlib
from distlib import MANIFEST


def copy_product(dest: str, when: float) -> str:
    """The sample product with every file and directory dated when."""
    shutil.copytree(distlib.PRODUCT, dest)
    for dirpath, dirs, files in os.walk(dest):
        for name in files + dirs:
            os.utime(os.path.join(dirpath, name), (when, when))
    return dest


class Mkdist(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        distlib.require(distlib.SZDDPACK, distlib.SETUP_EXE, distlib.PRODUCT)

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="mkdist-")
        self.addCleanup(distlib.rmtree, self.work)

    def path(self, *names: str) -> str:
        return os.path.join(self.work, *names)

    def test_the_same_output_whatever_the_input_files_times(self):
        old = copy_product(self.path("old"), 978307200)        # 2001-01-01
        new = copy_product(self.path("new"), 1893456000)       # 2030-01-01
        setup_copy = self.path("Setup.exe")
        shutil.copy(distlib.SETUP_EXE, setup_copy)
        os.utime(setup_copy, (1000000000, 1000000000))
        distlib.make_dist(self.path("one"), product=old)
        distlib.make_dist(self.path("two"), product=new, setup_exe=setup_copy)
        one, two = distlib.tree(self.path("one")), distlib.tree(self.path("two"))
        self.assertEqual([], distlib.differences(one, two))
        self.assertEqual({"cert.pem": (1980, 1, 1, 0, 0, 0), "root.0": (1980, 1, 1, 0, 0, 0)},
                         distlib.cabinet_dates(one["Qxcerts.Cab"]))

    def test_source_date_epoch_dates_the_cabinet_members(self):
        distlib.make_dist(self.path("plain"))
        distlib.make_dist(self.path("dated"), env={"SOURCE_DATE_EPOCH": "1700000000", "TZ": "Asia/Tokyo"})
        plain, dated = distlib.tree(self.path("plain")), distlib.tree(self.path("dated"))
        # 1700000000 is 2023-11-14 22:13:20 UTC, whatever the local zone.
        self.assertEqual({"cert.pem": (2023, 11, 14, 22, 13, 20), "root.0": (2023, 11, 14, 22, 13, 20)},
                         distlib.cabinet_dates(dated["Qxcerts.Cab"]))
        self.assertEqual(["differs: Manifest.sha256_", "differs: Qxcerts.Cab"],
                         distlib.differences(plain, dated))
        run = distlib.mkdist(distlib.PRODUCT, distlib.SETUP_EXE, self.path("bad"), distlib.SZDDPACK,
                             env={"SOURCE_DATE_EPOCH": "yesterday"})
        self.assertEqual(1, run.returncode)
        self.assertIn("SOURCE_DATE_EPOCH", run.stderr)
        self.assertFalse(os.path.exists(self.path("bad")))

    def test_the_manifest_names_every_file_but_the_ones_administrators_edit(self):
        for option, ini in (("", "SETUP.INI.template"), ("--ini", "SETUP.INI")):
            out = self.path("dist" + option)
            distlib.make_dist(out, *([option] if option else []))
            files = distlib.tree(out)
            entries = distlib.read_manifest(os.path.join(out, MANIFEST))
            listed = [name for _, _, name in entries]
            self.assertEqual(sorted(listed), listed, "entries in bytewise order")
            want = sorted(n.replace(os.sep, "\\") for n in files if n not in (MANIFEST, ini))
            self.assertEqual(want, sorted(listed))
            self.assertIn(ini, files)
            self.assertIn("Docs\\Protocols\\ftps.txt", listed)
            for digest, size, name in entries:
                data = files[name.replace("\\", os.sep)]
                self.assertEqual((hashlib.sha256(data).hexdigest(), len(data)), (digest, size), name)

    def test_a_failure_leaves_out_dir_as_it_was(self):
        out = self.path("out")
        os.makedirs(out)
        with open(os.path.join(out, "keep.txt"), "w") as f:
            f.write("the previous content\n")
        broken = copy_product(self.path("broken"), 1000000000)
        # Past every check, the packer fails on the unreadable help file.
        os.chmod(os.path.join(broken, "program", "QXFTP.CHM"), 0)
        if os.access(os.path.join(broken, "program", "QXFTP.CHM"), os.R_OK):
            # root reads anything: take a packer that fails instead.
            packer = self.path("failing-packer")
            with open(packer, "w") as f:
                f.write("#!/bin/sh\necho 'cannot pack' >&2\nexit 1\n")
            os.chmod(packer, 0o755)
        else:
            packer = distlib.SZDDPACK
        run = distlib.mkdist("--force", broken, distlib.SETUP_EXE, out, packer)
        self.assertEqual(1, run.returncode, run.stderr)
        self.assertIn("packing", run.stderr)
        self.assertEqual({"keep.txt": b"the previous content\n"}, distlib.tree(out))
        self.assertEqual([], [n for n in os.listdir(self.work) if n.startswith(".mkdist")])
        # Without --force a non-empty OUT_DIR is refused; with it, replaced.
        run = distlib.mkdist(distlib.PRODUCT, distlib.SETUP_EXE, out, distlib.SZDDPACK)
        self.assertEqual(1, run.returncode)
        self.assertIn("not empty", run.stderr)
        distlib.make_dist(out, "--force")
        self.assertNotIn("keep.txt", os.listdir(out))
        self.assertIn(MANIFEST, os.listdir(out))

    def test_relative_directories(self):
        # The cabinet is packed from another directory than the caller's.
        os.makedirs(self.path("here"))
        run = subprocess.run([distlib.MKDIST, os.path.relpath(distlib.PRODUCT, self.path("here")),
                              os.path.relpath(distlib.SETUP_EXE, self.path("here")), "out/dist",
                              os.path.relpath(distlib.SZDDPACK, self.path("here"))],
                             cwd=self.path("here"), capture_output=True, text=True, timeout=300)
        self.assertEqual(0, run.returncode, run.stderr)
        distlib.make_dist(self.path("absolute"))
        self.assertEqual([], distlib.differences(distlib.tree(self.path("absolute")),
                                                 distlib.tree(self.path("here", "out", "dist"))))

    def test_a_product_file_named_like_the_manifest_is_refused(self):
        product = copy_product(self.path("product"), 1000000000)
        with open(os.path.join(product, "files", "MANIFEST.SHA256_"), "w") as f:
            f.write("not ours\n")
        run = distlib.mkdist(product, distlib.SETUP_EXE, self.path("out"), distlib.SZDDPACK)
        self.assertEqual(1, run.returncode)
        self.assertIn("would overwrite the generated Manifest.sha256_", run.stderr)
        self.assertFalse(os.path.exists(self.path("out")))


if __name__ == "__main__":
    unittest.main()
