"""Wine cases of the installer's safety on the real platform: a full drive
(a small tmpfs mapped as drive D:), the server DLL in use (Wine's own report
of it), and where the server DLL's imports are loaded from."""
from __future__ import annotations

import os
import shutil
import subprocess
import tempfile
from shlex import quote as q

from lib import setupini
from lib.checks import Checks
from lib.install import join
from lib.scenario import DIST, TOOLS, Case, Paths, Session
from lib.uninstall import (INSTALL_LOG, REMOVE_DIR, REMOVE_INI, REMOVE_LOG, pending_operations,
                           run_session)
from lib.winereg import Registry

FAILURE_TEXT = "VORTAN FTP installation was unsuccessful ... please check your setup parameters and try again."
OUT_OF_SPACE_BOX = ("Setup Error", "Error code 100 installing QXFTP.DLL.  GetLastError( ) returned 112.")
ANSWERS = {"Setup Error": "OK", "VORTAN FTP Install": "OK", "VORTAN FTP Uninstall": "YES"}
SMALL_DRIVE_KB = 200


def _quiet_ini(destination: str, shortcut: str | None = "N") -> setupini.Ini:
    return setupini.merge(setupini.QUIET_ALL_KEYS, {"FTPSetup": {"DestinationDir": destination},
                                                    "Program Group": {"ShortCut": shortcut}})


def _listing(root: str) -> list[str]:
    """Every file and directory below a Unix directory, relative, with the
    size of each file."""
    found = []
    for here, dirs, files in os.walk(root):
        rel = os.path.relpath(here, root)
        for d in dirs:
            found.append(os.path.normpath(os.path.join(rel, d)) + "\\")
        for f in files:
            found.append(f"{os.path.normpath(os.path.join(rel, f))} ({os.path.getsize(os.path.join(here, f))} bytes)")
    return sorted(found)


def _removal_commands(s: Session) -> list:
    os.makedirs(s.prefix.unix(REMOVE_DIR), exist_ok=True)
    setupini.write(os.path.join(s.prefix.unix(REMOVE_DIR), "SETUP.INI"), REMOVE_INI)
    return [s.driver_command([join(DIST, "Setup.exe")], REMOVE_DIR, ANSWERS, 120, log=REMOVE_LOG)]


def full_drive(case: Case, paths: Paths, c: Checks) -> None:
    """A quiet installation into D:\\VORTAN FTP on a drive of 200 KB without
    ShortCut (so the boxes show), then a quiet removal.

    Measured here: QXFTP.EXE fits, UNINS.EXE's expansion stops in a partial
    verXXXX.tmp, the other program files leave empty ones, and every plain
    file the copy stage could not finish stays as an empty file: Wine's
    CopyFileA keeps a destination it could not write, where Windows deletes
    it (winsim follows Windows)."""
    s = case.session = Session(paths, case.name, case.windows)
    s.make_dist()
    mount = os.path.join(s.prefix.root, "drive_d")
    os.makedirs(mount)
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={SMALL_DRIVE_KB}k,mode=0777", "tmpfs", mount],
                             capture_output=True, text=True)
    if mounted.returncode != 0:
        c.fail("a small drive (tmpfs) mounted for drive D:", "mounted", mounted.stderr.strip())
        return
    try:
        link = os.path.join(s.prefix.path, "dosdevices", "d:")
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(mount, link)
        setupini.write(os.path.join(s.dist, "SETUP.INI"), _quiet_ini(r"D:\VORTAN FTP", None))
        run_session(s, "install", [s.driver_command([join(DIST, "Setup.exe")], DIST, ANSWERS, 120,
                                                    log=INSTALL_LOG)])
        after_install = _listing(mount)
        log = s.driver_log(INSTALL_LOG)
        c.eq("installation: driver time-out", False, log.timed_out)
        boxes = [(b.caption, b.text) for b in log.boxes]
        c.eq("installation: the last box is the failure box", ("VORTAN FTP Install", FAILURE_TEXT),
             boxes[-1] if boxes else None)
        c.eq("installation: any DLL error box says out of space, disk full",
             [], [b for b in boxes[:-1] if b != OUT_OF_SPACE_BOX])
        c.eq("drive D: root after the installation (no installer temporary file)", ["VORTAN FTP\\"],
             [p for p in after_install if os.sep not in p.rstrip("\\")])
        c.eq("restart-time operations after the installation", [], pending_operations(Registry(s.prefix.path)))
        with open(os.path.join(s.prefix.root, "after-install.txt"), "w") as f:
            f.write("\n".join(after_install) + "\n")

        run_session(s, "removal", _removal_commands(s))
        log = s.driver_log(REMOVE_LOG)
        c.eq("removal: driver time-out", False, log.timed_out)
        c.eq("drive D: after the removal", [], _listing(mount))
    finally:
        s.prefix.stop()
        subprocess.run(["umount", mount], capture_output=True)


def dll_in_use(case: Case, paths: Paths, c: Checks) -> None:
    """The server DLL held open in the installation directory: Wine reports it
    as VIF_CANNOTDELETE with VIF_SHARINGVIOLATION, which must still lead to the
    copy at the drive root and the replacement at the restart."""
    s = case.session = Session(paths, case.name, case.windows)
    s.make_dist()
    install_dir = r"C:\Apps\FTP"
    held = join(install_dir, "QXFTP.DLL")
    os.makedirs(s.prefix.unix(install_dir))
    with open(s.prefix.unix(held), "w") as f:
        f.write("old server\n")
    setupini.write(os.path.join(s.dist, "SETUP.INI"), _quiet_ini(install_dir))
    hold_out = os.path.join(s.prefix.root, "vhold.out")
    run_session(s, "install", [
        f"{q(s.wine)} {q(join(TOOLS, 'vhold.exe'))} {q(held)} --event VTEST_DLL_HOLD --timeout 200 > {q(hold_out)} &",
        f"for i in $(seq 1 600); do grep -q HOLDING {q(hold_out)} && break; sleep 0.1; done",
        s.driver_command([join(DIST, "Setup.exe")], DIST, ANSWERS, 120, log=INSTALL_LOG),
        [s.wine, join(TOOLS, "vhold.exe"), "--release", "VTEST_DLL_HOLD"],
        "wait",
    ])
    log = s.driver_log(INSTALL_LOG)
    c.eq("installation: boxes (all quiet keys: none)", [], [(b.caption, b.text) for b in log.boxes])
    with open(s.prefix.unix(held)) as f:
        c.eq("the held DLL until the restart", "old server\n", f.read())
    c.that("the new DLL staged at the drive root", os.path.exists(s.prefix.unix(r"C:\QXFTP.DLL")),
           "C:\\QXFTP.DLL exists", "missing")
    # Wine marks a replacement with "!" before the NT path of the target.
    c.eq("restart-time replacement", [(r"c:\qxftp.dll", held.lower())],
         [(src.lower(), dst.lstrip("!").replace("\\??\\", "").lower())
          for src, dst in pending_operations(Registry(s.prefix.path)) if "QXFTP" in src.upper()])
    c.eq("installer temporary files left in the installation directory", [],
         [n for n in os.listdir(s.prefix.unix(install_dir)) if n.lower().startswith("ver")])


def dll_imports(case: Case, paths: Paths, c: Checks) -> None:
    """A server DLL importing vhelp.dll, installed and removed from C:\\dist,
    where a planted vhelp.dll waits: every load of the server takes the
    system's copy."""
    s = case.session = Session(paths, case.name, case.windows)
    s.make_dist()
    with tempfile.TemporaryDirectory() as tmp:
        server = os.path.join(tmp, "QXFTP.DLL")
        shutil.copy2(os.path.join(paths.drivers, "vsrv.dll"), server)
        packed = subprocess.run([paths.szddpack, server, os.path.join(s.dist, "QXFTP.DL_")],
                                capture_output=True, text=True)
        if packed.returncode != 0:
            raise RuntimeError(f"szddpack failed: {packed.stderr.strip()}")
    helper = os.path.join(paths.drivers, "vhelp.dll")
    shutil.copy2(helper, os.path.join(s.dist, "vhelp.dll"))
    system = os.path.join(s.prefix.drive_c, "windows", "system32")
    shutil.copy2(helper, os.path.join(system, "vhelp.dll"))
    setupini.write(os.path.join(s.dist, "SETUP.INI"), _quiet_ini(r"C:\Apps\FTP"))
    run_session(s, "session", [s.driver_command([join(DIST, "Setup.exe")], DIST, ANSWERS, 120, log=INSTALL_LOG)]
                + _removal_commands(s))
    c.eq("installation: boxes (all quiet keys: none)", [], [(b.caption, b.text) for b in s.driver_log(INSTALL_LOG).boxes])
    loaded_file = s.prefix.unix(join(TOOLS, "loaded.txt"))
    loaded = []
    if os.path.exists(loaded_file):
        with open(loaded_file) as f:
            loaded = [line.strip().lower() for line in f if line.strip()]
    c.eq("the helper copies the server loaded (installation, removal)",
         [r"c:\windows\system32\vhelp.dll"] * 2, loaded)


CASES = [
    Case(name="xp_full_drive", run=full_drive, windows="winxp",
         summary="XP, installation onto a 200 KB drive D: the failure boxes, nothing at the drive root; "
                 "the removal leaves the drive empty"),
    Case(name="xp_server_dll_in_use", run=dll_in_use, windows="winxp",
         summary="XP, QXFTP.DLL held open: Wine's sharing-violation report still stages it at the drive "
                 "root for the restart, no temporary file left"),
    Case(name="xp_server_dll_imports", run=dll_imports, windows="winxp",
         summary="XP, a server DLL importing a helper, a planted helper beside Setup.exe: the system's "
                 "helper is loaded at installation and removal"),
]
