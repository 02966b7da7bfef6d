"""A scenario: a fresh copy of the base prefix, the sample distribution in
C:\\dist with the scenario's SETUP.INI, one run of Setup.exe beside the
driver, then the checks."""
from __future__ import annotations

import os
import shutil
import subprocess
import time
from dataclasses import dataclass, field
from typing import Callable

from . import setupini
from .checks import Checks
from .driverlog import DriverLog
from .install import Expected, check_installation, join
from .wineenv import Arch, Prefix

DIST = r"C:\dist"
TOOLS = r"C:\vtest"
DRIVER_LOG = TOOLS + r"\driver.log"


@dataclass
class Paths:
    """Where the build put what the scenarios need."""
    repo: str
    build: str                      # the Windows build tree (build/win)
    work: str                       # build/wine: base prefix and scenario folders
    arch: Arch
    native: str = ""                # the native build (szddpack, unit_tests); build/native when empty

    @property
    def native_build(self) -> str:
        return self.native or os.path.join(self.repo, "build", "native")

    @property
    def setup_exe(self) -> str:
        return os.path.join(self.build, "Setup.exe")

    @property
    def product(self) -> str:
        return os.path.join(self.build, "sample", "product")

    @property
    def drivers(self) -> str:
        return os.path.join(self.build, "tests", "wine", "driver")

    @property
    def mkdist(self) -> str:
        return os.path.join(self.repo, "tools", "mkdist")

    @property
    def szddpack(self) -> str:
        return os.path.join(self.native_build, "tools", "szddpack")

    @property
    def base(self) -> str:
        return os.path.join(self.work, self.arch.base_name)

    def missing(self) -> list[str]:
        needed = [(self.setup_exe, "cmake --build build/win"),
                  (os.path.join(self.product, "program", "QXFTP.EXE"), "cmake --build build/win"),
                  (os.path.join(self.drivers, "vdriver.exe"), "cmake --build build/win"),
                  (self.szddpack, f"cmake --build {self.native_build} --target szddpack")]
        return [f"{p} (build it: {how})" for p, how in needed if not os.path.exists(p)]


class Session:
    """One scenario's prefix with the distribution and the driver in place."""

    def __init__(self, paths: Paths, name: str, windows: str, root: str | None = None):
        self.paths = paths
        self.name = name
        self.windows = windows
        self.prefix = Prefix(paths.arch, paths.base, root or os.path.join(paths.work, "cases", name))
        self.wine = paths.arch.loader
        # The 32-bit program in a 64-bit prefix: what it writes to
        # HKLM\Software lands under Wow6432Node, its default directory is
        # Program Files (x86).
        self.wow64 = paths.arch.name == "wow64"
        self.tools = self.prefix.unix(TOOLS)
        os.makedirs(self.tools)
        for exe in ("vdriver.exe", "vhold.exe", "vboxtest.exe"):
            shutil.copy2(os.path.join(paths.drivers, exe), self.tools)

    @property
    def dist(self) -> str:
        return self.prefix.unix(DIST)

    def make_dist(self) -> None:
        run = subprocess.run([self.paths.mkdist, self.paths.product, self.paths.setup_exe, self.dist,
                              self.paths.szddpack], capture_output=True, text=True, timeout=300)
        if run.returncode != 0:
            raise RuntimeError(f"tools/mkdist failed: {run.stderr.strip() or run.stdout.strip()}")

    def set_version_command(self) -> list[str]:
        return [self.wine, "reg", "add", r"HKCU\Software\Wine", "/v", "Version", "/d", self.windows, "/f"]

    def driver_command(self, program: list[str], cwd: str, answers: dict[str, str],
                       timeout: int, short_paths: list[str] = (), log: str = DRIVER_LOG) -> list[str]:
        argv = [self.wine, join(TOOLS, "vdriver.exe"), "--cwd", cwd, "--log", log, "--timeout", str(timeout)]
        for caption, answer in answers.items():
            argv += ["--answer", f"{caption}={answer}"]
        for p in short_paths:
            argv += ["--shortpath", p]
        return argv + ["--"] + program

    def run(self, commands: list[list[str]], timeout: int) -> subprocess.CompletedProcess:
        # Past the driver's own time-out, allow for Wine's start and stop.
        return self.prefix.run_session([self.set_version_command()] + commands, "session", timeout + 300)

    def driver_log(self, log: str = DRIVER_LOG) -> DriverLog:
        path = self.prefix.unix(log)
        if not os.path.exists(path):
            raise RuntimeError(f"no driver log at {path}; see {self.prefix.root}/session.out")
        return DriverLog.read(path)


@dataclass
class Case:
    name: str
    summary: str
    run: Callable[["Case", Paths, Checks], None]
    windows: str = "winxp"
    ini: dict = field(default_factory=dict)
    answers: dict = field(default_factory=lambda: {"VORTAN FTP Install": "OK"})
    timeout: int = 120
    prepare_dist: Callable[[str], None] | None = None
    session: Session | None = None
    # Runs the shipped 32-bit build in a 64-bit prefix (WOW64); skipped,
    # with the reason, where that cannot be done.
    wow64: bool = False
    # Why the case cannot run under Wine at all (reported as skipped).
    skip: str | None = None


def quiet_install(case: Case, paths: Paths, c: Checks) -> None:
    """Installs quietly with the case's SETUP.INI and checks everything the
    installation must have left."""
    s = case.session = Session(paths, case.name, case.windows)
    s.make_dist()
    if case.prepare_dist:
        case.prepare_dist(s.dist)
    setupini.write(os.path.join(s.dist, "SETUP.INI"), case.ini)
    exp = Expected.derive(case.ini, case.windows, s.prefix.user(), s.wow64)
    shorts = [join(exp.install_dir, f) for f in ("QXFTP.EXE", "UNINS.EXE")]
    s.run([s.driver_command([join(DIST, "Setup.exe")], DIST, case.answers, case.timeout, shorts)],
          case.timeout)
    check_installation(c, s.prefix, exp, s.driver_log(), s.dist, paths.product, paths.setup_exe)


def run_case(case: Case, paths: Paths) -> tuple[Checks, float]:
    c = Checks()
    started = time.monotonic()
    try:
        case.run(case, paths, c)
    except Exception as e:  # a scenario that cannot even be checked fails
        c.fail("scenario ran", "no error", f"{type(e).__name__}: {e}")
    return c, time.monotonic() - started
