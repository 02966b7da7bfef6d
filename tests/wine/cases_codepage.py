"""A quiet installation on the Japanese ANSI code page (932).

With the Unix locale ja_JP.UTF-8 in Wine's environment GetACP() is 932 and
IsDBCSLeadByte(0x83) is true (platform notes; scripts/bootstrap makes the
locale). "表" is 0x95 0x5C and "ソ" 0x83 0x5C in code page 932: their trail
bytes are backslashes to a program that walks paths byte by byte. Wine keeps
file names in UTF-8 on the Unix side, so the installation directory
C:\\VORTAN表\\ソ is drive_c/VORTAN表/ソ there, and a directory cut at a trail
byte would show up as another name beside it.
"""
from __future__ import annotations

import os

from lib import setupini
from lib.checks import Checks
from lib.install import join
from lib.scenario import DIST, Case, Paths, Session
from lib.winereg import Registry

LOCALE = "ja_JP.UTF-8"
INSTALL_DIR = "C:\\VORTAN表\\ソ"
GROUP = "ソフト"
KEY = r"Software\VORTAN\FTP"


def write_ini(path: str, ini: setupini.Ini) -> None:
    """SETUP.INI as a Japanese administrator's editor writes it: code page 932."""
    lines = []
    for section, keys in ini.items():
        lines += [f"[{section}]"] + [f"{k}={v}" for k, v in keys.items()] + [""]
    with open(path, "w", encoding="cp932", newline="\r\n") as f:
        f.write("\n".join(lines))


def entries(path: str) -> list[str]:
    return sorted(os.listdir(path)) if os.path.isdir(path) else ["(missing)"]


def double_byte_install(case: Case, paths: Paths, c: Checks) -> None:
    """Installs quietly into C:\\VORTAN表\\ソ with the group ソフト under code
    page 932: every file lands in that directory, no directory is made from a
    cut at a trail byte, and the group gets its two items."""
    s = case.session = Session(paths, case.name, case.windows)
    s.make_dist()
    write_ini(os.path.join(s.dist, "SETUP.INI"), case.ini)
    s.prefix.run_session([
        f"export LANG={LOCALE} LC_ALL={LOCALE}",
        s.set_version_command(),
        s.driver_command([join(DIST, "Setup.exe")], DIST, case.answers, case.timeout),
    ], "session", case.timeout + 300)

    log = s.driver_log()
    c.eq("driver time-out", False, log.timed_out)
    c.eq("Setup.exe exit code", 1, log.exit_code)
    c.eq("message boxes", [], [(b.caption, b.text) for b in log.boxes])

    drive_c = s.prefix.drive_c
    c.eq("entries of C:\\ named VORTAN...", ["VORTAN表"],
         [n for n in entries(drive_c) if n.upper().startswith("VORTAN")])
    c.eq("entries of C:\\VORTAN表", ["ソ"], entries(os.path.join(drive_c, "VORTAN表")))
    installed = os.path.join(drive_c, "VORTAN表", "ソ")
    names = entries(installed)
    for want in ("QXFTP.EXE", "UNINS.EXE", "QXFTP.DLL", "Transfer", "Traces", "Config", "Certs"):
        c.that(f"{want} in C:\\VORTAN表\\ソ", any(n.lower() == want.lower() for n in names),
               "present", f"absent; entries: {names}")

    group = os.path.join(s.prefix.programs_dir(), GROUP)
    c.eq("items of the group ソフト", ["Uninstall VORTAN FTP.lnk", "VORTAN FTP.lnk"], entries(group))

    value = Registry(s.prefix.path).value("HKLM", KEY, "Installation Directory")
    c.eq("Installation Directory", INSTALL_DIR, value.text() if value else None)


CASES = [
    Case(name="xp_double_byte_dir", run=double_byte_install, windows="winxp",
         summary="XP on code page 932, a directory and a group whose names have trail bytes 0x5C: "
                 "installed in place, no stray directory, the group and its items made",
         ini=setupini.merge(setupini.QUIET_ALL_KEYS, {
             "FTPSetup": {"DestinationDir": INSTALL_DIR},
             "Program Group": {"GroupName": GROUP}})),
]
