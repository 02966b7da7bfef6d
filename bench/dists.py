"""The distributions bench/run measures: the scaled product's deterministic
data, mkdist's output with the quiet SETUP.INI, and the timing build of
Setup.exe that a copy of each distribution carries."""
from __future__ import annotations

import itertools
import os
import random
import shutil
import subprocess

from common import DOCS_FILES, INSTALL_INI, PAYLOAD_BYTES, REPO
from lib import setupini
from lib.scenario import Paths
from lib.wineenv import Arch


# --- deterministic data -------------------------------------------------------------

def _vocabulary(rng: random.Random, n: int = 3000) -> list[str]:
    letters = "etaoinshrdlucmfwypvbgkjqxz"
    weights = [12, 9, 8, 7, 7, 6, 6, 6, 5, 4, 3, 3, 3, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1]
    return ["".join(rng.choices(letters, weights, k=rng.randint(2, 11))) for _ in range(n)]


def text_blob(seed: int, size: int) -> bytes:
    """size bytes of help-file-like text: words drawn with a skewed
    distribution from a made-up vocabulary, in paragraphs with markup and
    numbers. Compresses about as well as real prose (so SZDD, with its 4 KB
    window, gains from local repeats), but is not a repeated pattern. The
    same seed gives the same bytes on every machine (random.Random with an
    integer seed is stable across Python versions)."""
    rng = random.Random(seed)
    vocab = _vocabulary(rng)
    weights = [1.0 / (i + 1) for i in range(len(vocab))]
    cum = list(itertools.accumulate(weights))
    out, total, para = [], 0, 0
    while total < size:
        words = rng.choices(vocab, cum_weights=cum, k=rng.randint(40, 160))
        para += 1
        chunk = (f"<p id=\"s{para}\">{para:07d} " + " ".join(words) + f" [{rng.randrange(1 << 30):x}]</p>\r\n")
        out.append(chunk.encode("ascii"))
        total += len(chunk)
    return b"".join(out)[:size]


def make_working_files(folder: str, count: int, seed: int = 7) -> None:
    """count small files split between the working folder's Transfer and
    Traces, as a client leaves them after a while of use."""
    rng = random.Random(seed)
    blob = text_blob(seed, 64 * 1024)
    for i in range(count):
        # Directly in the data folders: the removal empties those folders but
        # defers subfolders to the next restart (and then asks for one).
        sub = os.path.join(folder, "Transfer" if i % 2 == 0 else "Traces")
        os.makedirs(sub, exist_ok=True)
        start = rng.randrange(len(blob) - 4096)
        with open(os.path.join(sub, f"f{i:05d}.dat"), "wb") as f:
            f.write(blob[start:start + rng.randint(200, 4000)])


# --- distributions --------------------------------------------------------------------

class Dist:
    """One distribution: the product folder it was made from, the folder
    mkdist wrote, and the NSIS installer made from the same files."""

    def __init__(self, name: str, product: str, root: str, working_files: int):
        self.name = name
        self.product = product
        self.root = root
        self.dist = os.path.join(root, "dist")
        # The same distribution with the timing build as Setup.exe (UNINS.EX_
        # stays the shipped program's, so the payload is the same bytes).
        self.trace_dist = os.path.join(root, "dist-trace")
        self.nsis_dir = os.path.join(root, "nsis")
        self.nsis_exe = os.path.join(self.nsis_dir, "nsis-setup.exe")
        self.working_files = working_files
        self.tree: dict = {}
        self.payload_bytes = 0
        self.file_count = 0


def scaled_product(sample: str, target: str) -> None:
    shutil.rmtree(target, ignore_errors=True)
    shutil.copytree(sample, target)
    with open(os.path.join(target, "program", "QXFTP.CHM"), "wb") as f:
        f.write(text_blob(1, PAYLOAD_BYTES))
    docs = os.path.join(target, "files", "Docs", "Library")
    blob = text_blob(2, 256 * 1024)
    rng = random.Random(3)
    for i in range(DOCS_FILES):
        sub = os.path.join(docs, f"Part{i // 100:02d}")
        os.makedirs(sub, exist_ok=True)
        start = rng.randrange(len(blob) - 8192)
        with open(os.path.join(sub, f"topic{i:04d}.txt"), "wb") as f:
            f.write(blob[start:start + rng.randint(300, 6000)])


def make_dist(paths: Paths, d: Dist, paths_trace_exe: str | None) -> None:
    run = subprocess.run([paths.mkdist, "--force", d.product, paths.setup_exe, d.dist, paths.szddpack],
                         capture_output=True, text=True, timeout=600)
    if run.returncode != 0:
        raise RuntimeError(f"tools/mkdist failed: {run.stderr.strip() or run.stdout.strip()}")
    # mkdist writes the template; the quiet installation's SETUP.INI replaces it.
    template = os.path.join(d.dist, "SETUP.INI.template")
    if os.path.exists(template):
        os.remove(template)
    setupini.write(os.path.join(d.dist, "SETUP.INI"), INSTALL_INI)
    if paths_trace_exe:
        shutil.rmtree(d.trace_dist, ignore_errors=True)
        shutil.copytree(d.dist, d.trace_dist)
        shutil.copy2(paths_trace_exe, os.path.join(d.trace_dist, "Setup.exe"))


def build_trace(arch: Arch) -> str:
    """Builds the timing build of Setup.exe (bench/trace, CMake option
    PLATFORM_TRACE) in a tree of its own; returns the program's path."""
    tree = os.path.join(REPO, "build", ("win" if arch.name == "win32" else "win64") + "-trace")
    toolchain = os.path.join(REPO, "cmake", "mingw-i686.cmake" if arch.name == "win32" else "mingw-x86_64.cmake")
    configure = ["cmake", "-S", REPO, "-B", tree, f"-DCMAKE_TOOLCHAIN_FILE={toolchain}", "-DCMAKE_BUILD_TYPE=Release",
                 f"-DSZDDPACK={os.path.join(REPO, 'build', 'native', 'tools', 'szddpack')}", "-DPLATFORM_TRACE=ON"]
    jobs = os.environ.get("JOBS", "2")
    for argv in (configure, ["cmake", "--build", tree, "--target", "Setup", f"-j{jobs}"]):
        run = subprocess.run(argv, capture_output=True, text=True, timeout=1800)
        if run.returncode != 0:
            raise RuntimeError(f"timing build failed: {(run.stdout + run.stderr).strip()[-3000:]}")
    return os.path.join(tree, "Setup.exe")
