"""Wine prefixes for the tests: one base prefix per build tree, copied for
every scenario, and the commands that run programs in a copy."""
from __future__ import annotations

import fcntl
import os
import shlex
import shutil
import signal
import subprocess
import time

# WINEDEBUG=-all keeps the logs readable; mscoree and mshtml disabled skip the
# Mono and Gecko install prompts of wineboot; winemenubuilder disabled keeps
# Wine from mirroring Start Menu links into the Unix desktop's menus.
WINE_ENV = {
    "WINEDEBUG": "-all",
    "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
}
BASE_STAMP = ".vortan-base"
# Bumped whenever the making of the base changes, so that old bases are
# made again.
BASE_LAYOUT = "2"

# The version names of Wine's "Software\Wine\Version" setting, with the
# family and the major version the program under test sees.
WINDOWS_VERSIONS = {
    "win95": ("9x", 4), "win98": ("9x", 4), "winme": ("9x", 4),
    "nt40": ("nt", 4), "win2k": ("nt", 5), "winxp": ("nt", 5),
    "win2003": ("nt", 5), "vista": ("nt", 6), "win7": ("nt", 6),
    "win8": ("nt", 6), "win81": ("nt", 6), "win10": ("nt", 10),
}


class WineError(RuntimeError):
    pass


class Arch:
    """How Wine is started for one prefix architecture.

    win32 is what Setup.exe is built for: a 32-bit prefix and Wine's 32-bit
    loader, an i386 Linux program. wow64 runs that same 32-bit build in a
    64-bit prefix, as 64-bit Windows runs it: Wine's 32-bit loader, started
    in a prefix made by the 64-bit one, gives the program the WOW64 view
    (measured with Wine 8: "reg add HKLM\\Software\\T" from it lands in
    Software\\Wow6432Node\\T, and with /reg:64 in Software\\T). win64 is
    the fallback for kernels without 32-bit execution, where the 32-bit loader
    fails with "Exec format error": a 64-bit prefix and the 64-bit loader,
    running an x86_64 build of the same sources. It exercises the same logic,
    not the shipped binary."""

    NAMES = ("win32", "win64", "wow64")
    LOADER32 = "/usr/lib/wine/wine"
    LOADER64 = "/usr/lib/wine/wine64"

    def __init__(self, name: str):
        if name not in self.NAMES:
            raise WineError(f"unknown Wine architecture {name!r}")
        self.name = name
        # The prefix's own architecture: wow64 and win64 share one base.
        self.prefix_arch = "win32" if name == "win32" else "win64"
        # Debian's /usr/bin/wine prefers the 32-bit loader whenever it is
        # installed, so the 64-bit one is named directly.
        self.loader = self.LOADER64 if name == "win64" else "wine"
        # The loader that makes the base prefix: a 64-bit prefix is made by
        # the 64-bit loader.
        self.boot_loader = "wine" if self.prefix_arch == "win32" else self.LOADER64

    @property
    def base_name(self) -> str:
        return "base" if self.prefix_arch == "win32" else "base-win64"

    def env(self) -> dict[str, str]:
        env = dict(WINE_ENV, WINEARCH=self.prefix_arch)
        if self.name == "win64":
            env["WINELOADER"] = self.loader
        return env

    def version(self) -> str:
        return _loader_version(self.boot_loader, self.name)

    def unavailable(self) -> str | None:
        """Why programs of this architecture cannot run here, or None. The
        wow64 architecture needs both loaders: the 64-bit one for the prefix,
        the 32-bit one (an i386 Linux program) for Setup.exe."""
        loaders = [self.boot_loader]
        if self.name == "wow64":
            loaders = [self.LOADER64, self.LOADER32]
        for loader in loaders:
            if not os.path.exists(loader) and not shutil.which(loader):
                return f"no Wine loader {loader} (wine64 and wine32:i386 are needed)"
            try:
                _loader_version(loader, self.name)
            except WineError as e:
                return str(e)
        return None


def _loader_version(loader: str, arch_name: str) -> str:
    try:
        run = subprocess.run([loader, "--version"], capture_output=True, text=True, timeout=120)
    except OSError as e:
        hint = (": the kernel has no 32-bit (IA-32) execution; --arch win64 runs a 64-bit build instead"
                if arch_name != "win64" and e.errno == 8 else "")
        raise WineError(f"the Wine loader '{loader}' cannot run ({e.strerror}){hint}") from e
    if run.returncode != 0:
        # /usr/bin/wine is a shell script: the loader's exec failure shows
        # up as its exit status and message.
        hint = (" (the kernel may have no 32-bit execution; --arch win64 runs a 64-bit build instead)"
                if "Exec format error" in run.stderr else "")
        raise WineError(f"'{loader} --version' failed: {run.stderr.strip()}{hint}")
    return run.stdout.strip()


def base_env(arch: Arch, prefix: str, home: str) -> dict[str, str]:
    env = dict(os.environ)
    env.update(arch.env())
    env["WINEPREFIX"] = prefix
    # A private HOME: Wine links the profile's Desktop and Documents to the
    # Unix user's XDG folders when they exist, which would put the shortcuts
    # under test outside the prefix and share them between scenarios.
    env["HOME"] = home
    for var in ("DISPLAY", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DESKTOP_DIR"):
        env.pop(var, None)
    return env


def _valid_base(path: str, version: str) -> bool:
    try:
        with open(os.path.join(path, BASE_STAMP)) as f:
            stamp = f.read().strip()
    except OSError:
        return False
    needed = ("system.reg", "user.reg", "drive_c/windows/system32/kernel32.dll")
    return stamp == version and all(os.path.exists(os.path.join(path, p)) for p in needed)


def _unlink_profile_folders(prefix: str) -> None:
    """wineboot links the profile's Desktop, Documents, Music, ... to the Unix
    HOME (or its XDG folders). Every copy of the base would then share one
    Desktop outside its prefix, so a shortcut written in one scenario would
    show up in the next. Real, empty folders take the links' place."""
    users = os.path.join(prefix, "drive_c", "users")
    for user in os.listdir(users):
        for entry in os.listdir(os.path.join(users, user)):
            path = os.path.join(users, user, entry)
            if os.path.islink(path):
                os.remove(path)
                os.mkdir(path)


def ensure_base(arch: Arch, path: str, log=print, timeout: int = 900) -> float:
    """Makes the base prefix at path unless a valid one is there; returns the
    seconds spent (0 when it was reused). Concurrent runners wait for one
    another on a lock file beside it."""
    version = f"{arch.version()} {arch.prefix_arch} layout {BASE_LAYOUT}"
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if _valid_base(path, version):
            return 0.0
        started = time.monotonic()
        log(f"making the base prefix {path} ({version})")
        tmp = path + ".new"
        home = path + ".home"
        for p in (tmp, home, path):
            shutil.rmtree(p, ignore_errors=True)
        os.makedirs(home)
        env = base_env(arch, tmp, home)
        try:
            run = subprocess.run([arch.boot_loader, "wineboot", "-i"], env=env, capture_output=True, text=True,
                                 timeout=timeout)
            subprocess.run(["wineserver", "-w"], env=env, timeout=timeout)
        except subprocess.TimeoutExpired as e:
            subprocess.run(["wineserver", "-k"], env=env, timeout=60)
            raise WineError(f"wineboot did not finish within {timeout} s") from e
        if run.returncode != 0 or not os.path.exists(os.path.join(tmp, "system.reg")):
            raise WineError(f"wineboot -i failed ({run.returncode}): {run.stderr.strip()[-2000:]}")
        _unlink_profile_folders(tmp)
        shutil.rmtree(home, ignore_errors=True)
        with open(os.path.join(tmp, BASE_STAMP), "w") as f:
            f.write(version + "\n")
        os.rename(tmp, path)
        return time.monotonic() - started


class PrefixLayout:
    """Where things are in a 32-bit Wine 8 prefix."""

    def __init__(self, path: str):
        self.path = path

    @property
    def drive_c(self) -> str:
        return os.path.join(self.path, "drive_c")

    def unix(self, windows_path: str) -> str:
        """The Unix path of a C: path (case as given)."""
        if not windows_path[:3].upper() == "C:\\":
            raise ValueError(f"not a C: path: {windows_path}")
        return os.path.join(self.drive_c, *[p for p in windows_path[3:].split("\\") if p])

    def user(self) -> str:
        users = [u for u in os.listdir(os.path.join(self.drive_c, "users")) if u.lower() != "public"]
        if len(users) != 1:
            raise WineError(f"cannot tell the prefix's user from {users}")
        return users[0]

    def programs_dir(self) -> str:
        """The per-user Start Menu Programs folder, where Wine's Program
        Manager DDE server makes groups."""
        return os.path.join(self.drive_c, "users", self.user(), "AppData", "Roaming",
                            "Microsoft", "Windows", "Start Menu", "Programs")


class Prefix(PrefixLayout):
    """One scenario's copy of the base prefix."""

    def __init__(self, arch: Arch, base: str, root: str):
        super().__init__(os.path.join(root, "prefix"))
        self.arch = arch
        self.root = root
        self.home = os.path.join(root, "home")
        shutil.rmtree(root, ignore_errors=True)
        os.makedirs(self.home)
        # cp -a keeps the dosdevices symlinks (c: -> ../drive_c, z: -> /).
        subprocess.run(["cp", "-a", base, self.path], check=True)
        os.remove(os.path.join(self.path, BASE_STAMP))
        self.env = base_env(arch, self.path, self.home)

    # --- running -------------------------------------------------------------
    def run_session(self, commands: list, name: str, timeout: float) -> subprocess.CompletedProcess:
        """Runs the commands one after another in one X session (xvfb-run) and
        one wineserver, then stops the wineserver: the Program Manager's group
        windows stay open otherwise, and the registry files are written when
        the server exits. A command is an argument list, or a string taken as
        a shell line. The script is kept beside the prefix so that a run can
        be repeated by hand."""
        script = os.path.join(self.root, f"{name}.sh")
        with open(script, "w") as f:
            wine_vars = ("WINEPREFIX", "HOME", "WINEDEBUG", "WINEARCH", "WINEDLLOVERRIDES", "WINELOADER")
            f.write("# Repeat with: "
                    + " ".join(f"{k}={shlex.quote(self.env[k])}" for k in wine_vars if k in self.env)
                    + f" xvfb-run -a sh {shlex.quote(script)}\n")
            for command in commands:
                line = command if isinstance(command, str) else " ".join(shlex.quote(a) for a in command)
                f.write(line + "\n")
            f.write("wineserver -k\nwineserver -w\n")
        argv = ["xvfb-run", "-a", "-s", "-screen 0 1024x768x24", "sh", script]
        out = open(os.path.join(self.root, f"{name}.out"), "w")
        proc = subprocess.Popen(argv, env=self.env, stdout=out, stderr=subprocess.STDOUT,
                                start_new_session=True)
        try:
            code = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
            code = None
        finally:
            out.close()
            self.stop()
        with open(os.path.join(self.root, f"{name}.out"), errors="replace") as f:
            output = f.read()
        return subprocess.CompletedProcess(argv, code if code is not None else -9, output, "")

    def stop(self) -> None:
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True, timeout=60)
        subprocess.run(["wineserver", "-w"], env=self.env, capture_output=True, timeout=120)

    def remove(self) -> None:
        shutil.rmtree(self.path, ignore_errors=True)
