"""Two builds of the same sources, in two directories and at two times, give
byte-identical Setup.exe, sample product and distribution.

The tree is copied twice (tracked and untracked files, as the working tree
has them) to two directories whose paths differ in length, and the Windows
configuration of each copy builds only Setup.exe and the sample product,
with ccache off: every object is compiled anew, so a path or a time that
reached an object file would reach the linked files compared here."""
from __future__ import annotations

import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import distlib

TOOLCHAIN = os.path.join("cmake", "mingw-i686.cmake")


def snapshot(dest: str) -> None:
    """The working tree's files, without the build directory."""
    try:
        listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                                cwd=distlib.REPO, capture_output=True, check=True, timeout=60).stdout
        names = [n.decode() for n in listed.split(b"\0") if n]
    except (OSError, subprocess.CalledProcessError):
        names = []
        for dirpath, dirs, files in os.walk(distlib.REPO):
            dirs[:] = [d for d in dirs if d not in ("build", ".git")]
            names += [os.path.relpath(os.path.join(dirpath, f), distlib.REPO) for f in files]
    for name in names:
        source = os.path.join(distlib.REPO, name)
        if not os.path.isfile(source):
            continue    # deleted in the working tree
        target = os.path.join(dest, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(source, target)


def build(source: str, binary: str) -> float:
    env = {**os.environ, "CCACHE_DISABLE": "1"}
    started = time.monotonic()
    for argv in (["cmake", "-S", source, "-B", binary, f"-DCMAKE_TOOLCHAIN_FILE={os.path.join(source, TOOLCHAIN)}",
                  "-DCMAKE_BUILD_TYPE=Release", f"-DSZDDPACK={distlib.SZDDPACK}"],
                 ["cmake", "--build", binary, "-j2", "--target", "Setup", "sample_product"]):
        run = subprocess.run(argv, env=env, capture_output=True, text=True, timeout=1800)
        if run.returncode != 0:
            raise AssertionError(f"{' '.join(argv)} failed:\n{run.stdout[-3000:]}\n{run.stderr[-3000:]}")
    return time.monotonic() - started


class Reproducible(unittest.TestCase):
    def test_two_builds_in_two_directories_are_identical(self):
        distlib.require(distlib.SZDDPACK)
        os.makedirs(os.path.join(distlib.REPO, "build"), exist_ok=True)
        work = tempfile.mkdtemp(prefix="repro-", dir=os.path.join(distlib.REPO, "build"))
        self.addCleanup(distlib.rmtree, work)
        trees = [os.path.join(work, "a"), os.path.join(work, "the-second-tree", "elsewhere")]
        results = []
        for root in trees:
            source, binary = os.path.join(root, "src"), os.path.join(root, "build-win")
            snapshot(source)
            seconds = build(source, binary)
            dist = os.path.join(root, "dist")
            distlib.make_dist(dist, product=os.path.join(binary, "sample", "product"),
                              setup_exe=os.path.join(binary, "Setup.exe"))
            print(f"\n  build in {root}: {seconds:.0f} s", file=sys.stderr)
            results.append({
                "Setup.exe": distlib.tree(binary)["Setup.exe"],
                "product": distlib.tree(os.path.join(binary, "sample", "product")),
                "dist": distlib.tree(dist),
                "paths": [source, binary],
            })
        first, second = results
        for name, data in (("Setup.exe", first["Setup.exe"]), ("Manifest.sha256_", first["dist"]["Manifest.sha256_"])):
            print(f"  {name}: {len(data)} bytes, SHA-256 {hashlib.sha256(data).hexdigest()}", file=sys.stderr)
        self.assertEqual(first["Setup.exe"], second["Setup.exe"], "Setup.exe")
        self.assertEqual([], distlib.differences(first["product"], second["product"]), "sample product")
        self.assertEqual([], distlib.differences(first["dist"], second["dist"]), "distribution")
        self.assertIn("program/QXFTP.EXE", first["product"])
        # No directory of either build inside any file of either.
        for result in results:
            files = {"Setup.exe": result["Setup.exe"], **result["product"], **result["dist"]}
            for path in first["paths"] + second["paths"] + [work]:
                leaked = [name for name, data in files.items() if path.encode() in data]
                self.assertEqual([], leaked, f"files holding {path}")


if __name__ == "__main__":
    unittest.main()
