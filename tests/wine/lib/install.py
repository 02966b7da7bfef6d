"""What a quiet installation of the sample product must leave in a prefix,
derived from the scenario's SETUP.INI and Windows version, and the checks
that compare it with what Setup.exe did."""
from __future__ import annotations

import filecmp
import os
from dataclasses import dataclass

from . import setupini, shelllink
from .checks import Checks
from .driverlog import DriverLog
from .wineenv import WINDOWS_VERSIONS, PrefixLayout
from .winereg import REG_MULTI_SZ, Registry, Value

PRODUCT_KEY = r"Software\VORTAN\FTP"
UNINSTALL_KEY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\VORTAN FTP"
PROG_ID = "Keldra.FTP.1"
# The class the sample's QXFTP.DLL registers in DllRegisterServer.
SAMPLE_CLSID = "{B6B88D80-BB82-47E9-A30A-88A9F2047C4C}"
ABOUT_NAMES = ["Info1", "Info2", "Name", "Address1", "Address2", "Address3", "Phone", "Fax", "BBS", "INet"]
ITEMS = {"VORTAN FTP": "QXFTP.EXE", "Uninstall VORTAN FTP": "UNINS.EXE"}
DESKTOP_LINK = "VORTAN FTP.LNK"
SUCCESS_BOX = ("VORTAN FTP Install", "VORTAN FTP installation completed successfully.")
DEFAULT_INSTALL_DIR = r"C:\Program Files\VORTAN\FTP"
# What a 32-bit program is given as Program Files on 64-bit Windows.
DEFAULT_INSTALL_DIR_X86 = r"C:\Program Files (x86)\VORTAN\FTP"
ROOT_FILES = {"start.ftp", "startup.bmp", "start.qft", "readme.htm"}
NOT_COPIED = {"setup.exe", "setup.ini", "qxcerts.cab"}
# Files of the sample that must arrive where named, whatever the derivation
# from the distribution says: a guard against a wrong rule in both.
SAMPLE_MUST_HAVE = [
    "QXFTP.EXE", "UNINS.EXE", "QXFTP.HLP", "QXFTP.CHM", "QXFTP.DLL",
    "readme.htm", "Start.FTP", "Start.qft", "Startup.BMP",
    r"Config\Custom.ini", r"Config\Sites.cfg",
    r"Certs\CA1.0", r"Certs\CA2.0", r"Certs\CA3.0", r"Certs\cert.pem", r"Certs\root.0",
    r"Docs\Guide.txt", r"Docs\Protocols\ftps.txt",
]


def join(left: str, right: str) -> str:
    return left + right if left.endswith("\\") else left + "\\" + right


def default_install_dir(wow64: bool) -> str:
    return DEFAULT_INSTALL_DIR_X86 if wow64 else DEFAULT_INSTALL_DIR


def sanitize_group(name: str) -> str:
    """Wine's Program Manager server replaces characters that a file name
    cannot hold when it makes the group folder (shell32 dde.c)."""
    return "".join("_" if ord(c) < 32 or c in '*/:<>?\\|' else c for c in name)


@dataclass
class Expected:
    windows: str
    family: str               # "nt" or "9x"
    user: str
    install_dir: str
    base_registry: int
    profile_mode: int
    working_dir_type: int
    working_dir: str
    use_group: bool
    group_name: str
    shortcut: bool
    quiet_complete: bool
    lock: int
    lock_ftp: int
    support: list
    about: dict
    wow64: bool = False       # the 32-bit program in a 64-bit prefix

    @staticmethod
    def derive(ini: setupini.Ini, windows: str, user: str, wow64: bool = False) -> "Expected":
        """For a first installation on a clean prefix (no earlier product key)."""
        family, major = WINDOWS_VERSIONS[windows]
        g = lambda s, k: setupini.get(ini, s, k)
        base = {"1": 1, "2": 2}.get(g("FTPSetup", "BaseRegistry")[:1], 0)
        dest = g("FTPSetup", "DestinationDir")
        # Without DestinationDir, XP gets the default at start-up and the
        # other systems when the installation begins: the same folder here.
        install_dir = dest or default_install_dir(wow64)
        personal = rf"C:\users\{user}\Documents"
        common = r"C:\users\Public\Documents"
        if setupini.yes(g("FTPSetup", "UsePersonalFolderAsWorkingDir")):
            wdt, wd = 1, join(personal, "FTP")
        elif major >= 5 and setupini.yes(g("FTPSetup", "UseAllUsersCommonFolderAsWorkingDir")):
            wdt, wd = 2, join(common, "FTP")
        else:
            wdt, wd = 1, join(personal, "FTP")
        use_group = g("Program Group", "UseGroup")
        shortcut = g("Program Group", "ShortCut")
        return Expected(
            windows=windows, family=family, user=user, install_dir=install_dir,
            base_registry=base,
            profile_mode=1 if setupini.yes(g("FTPSetup", "ProfileMode")) else 0,
            working_dir_type=wdt, working_dir=wd,
            use_group=(not use_group) or setupini.yes(use_group),
            group_name=g("Program Group", "GroupName")[:63] or "VORTAN FTP",
            shortcut=(not shortcut) or setupini.yes(shortcut),
            quiet_complete=all(g(s, k) for s, k in (("FTPSetup", "DestinationDir"),
                                                      ("Program Group", "UseGroup"),
                                                      ("Program Group", "GroupName"),
                                                      ("Program Group", "ShortCut"))),
            lock=setupini.integer(g("FTPSetup", "Lock")),
            lock_ftp=setupini.integer(g("FTPSetup", "LockFTP")),
            support=[g("Support", f"Line{n}") for n in range(1, 10)],
            about={name: g("About", name) for name in ABOUT_NAMES},
            wow64=wow64,
        )

    @property
    def product_hive(self) -> str:
        return "HKCU" if self.base_registry == 2 else "HKLM"

    @property
    def working_dir_hive(self) -> str:
        return "HKLM" if self.base_registry == 1 else "HKCU"

    @property
    def desktop_dir(self) -> str:
        return r"C:\users\Public\Desktop" if self.family == "nt" else rf"C:\users\{self.user}\Desktop"

    def boxes(self) -> list:
        return [] if self.quiet_complete else [SUCCESS_BOX]


def int32(n: int) -> bytes:
    return (n & 0xFFFFFFFF).to_bytes(4, "little")


# --- the tree ----------------------------------------------------------------

def expected_tree(exp: Expected, dist: str, product: str, setup_exe: str) -> dict:
    """Relative Windows path in the installation directory -> the Unix file
    it must equal byte for byte (None for a directory)."""
    tree = {d: None for d in ("Transfer", "Traces", "Config", "Certs")}
    for name in ("QXFTP.EXE", "QXFTP.HLP", "QXFTP.CHM", "QXFTP.DLL"):
        tree[name] = os.path.join(product, "program", name)
    tree["UNINS.EXE"] = setup_exe
    packed = os.path.join(product, "certs", "packed")
    for entry in sorted(os.listdir(dist)):
        source = os.path.join(dist, entry)
        low = entry.lower()
        if os.path.isdir(source):
            tree[entry] = None
            for root, dirs, files in os.walk(source):
                rel = os.path.relpath(root, dist).replace(os.sep, "\\")
                for d in dirs:
                    tree[join(rel, d)] = None
                for f in files:
                    tree[join(rel, f)] = os.path.join(root, f)
        elif low.endswith(".0_"):
            tree[join("Certs", entry[:-1])] = os.path.join(packed, entry[:-1])
        elif low.endswith("_") or low in NOT_COPIED:
            continue
        elif low.endswith("0"):
            tree[join("Certs", entry)] = source
        elif low in ROOT_FILES:
            tree[entry] = source
        else:
            tree[join("Config", entry)] = source
    cabinet = os.path.join(product, "certs", "cabinet")
    for member in os.listdir(cabinet):
        tree[join("Certs", member)] = os.path.join(cabinet, member)
    return tree


def actual_tree(root: str) -> dict:
    tree = {}
    for dirpath, dirs, files in os.walk(root):
        rel = os.path.relpath(dirpath, root)
        prefix = "" if rel == "." else rel.replace(os.sep, "\\") + "\\"
        for d in dirs:
            tree[prefix + d] = None
        for f in files:
            tree[prefix + f] = os.path.join(dirpath, f)
    return tree


def check_files(c: Checks, prefix: PrefixLayout, exp: Expected, dist: str, product: str, setup_exe: str,
                must_have: list) -> None:
    root = prefix.unix(exp.install_dir)
    if not c.that("installation directory", os.path.isdir(root), f"{exp.install_dir} exists", "missing"):
        return
    want = expected_tree(exp, dist, product, setup_exe)
    for must in must_have:
        c.that(f"derived file list names {must}", must.lower() in {k.lower() for k in want},
               "present", "absent (the derivation lost it)")
    have = actual_tree(root)
    want_low = {k.lower(): k for k in want}
    have_low = {k.lower(): k for k in have}
    missing = sorted(want_low[k] for k in want_low.keys() - have_low.keys())
    extra = sorted(have_low[k] for k in have_low.keys() - want_low.keys())
    c.eq(rf"files missing from {exp.install_dir}", [], missing)
    c.eq(rf"unexpected files in {exp.install_dir}", [], extra)
    for low in sorted(want_low.keys() & have_low.keys()):
        source, target = want[want_low[low]], have[have_low[low]]
        if source is None:
            c.that(f"{want_low[low]} is a directory", target is None, "directory", "file")
        elif target is None:
            c.fail(f"{want_low[low]} is a file", "file", "directory")
        else:
            same = filecmp.cmp(source, target, shallow=False)
            c.that(f"{want_low[low]} equals {os.path.relpath(source)}", same, "identical bytes",
                   f"{os.path.getsize(target)} bytes that differ (source {os.path.getsize(source)} bytes)")


# --- the registry ------------------------------------------------------------

def check_values(c: Checks, reg: Registry, hive: str, path: str, want: dict, exact: bool = True) -> None:
    key = reg.key(hive, path)
    if not c.that(rf"key {hive}\{path}", key is not None, "exists", "missing"):
        return
    for name, value in want.items():
        c.eq(rf"{hive}\{path} value {name or '@'}", str(value), str(key.value(name)) if key.value(name) else None)
    if exact:
        c.eq(rf"value names of {hive}\{path}", sorted(n or "@" for n in want), sorted(n or "@" for n in key.names()))


def check_record(c: Checks, reg: Registry, exp: Expected, settings: dict) -> None:
    """The values that depend on the machine: the desktop link the
    installation wrote, the directories it created (a list of full paths),
    and the group folder it made itself when no Program Manager answered."""
    key = reg.key(exp.product_hive, PRODUCT_KEY)
    if key is None:
        return
    required = set(settings) | {"Created Directories"}
    if exp.shortcut:
        required.add("Desktop Shortcut")
        c.eq_nocase("Desktop Shortcut", join(exp.desktop_dir, DESKTOP_LINK),
                    key.value("Desktop Shortcut").text() if key.value("Desktop Shortcut") else None)
    allowed = required | {"Program Group Folder"}
    names = set(key.names())
    c.eq(rf"value names of {exp.product_hive}\{PRODUCT_KEY}", sorted(required),
         sorted(n for n in names if n in required or n not in allowed))
    created = key.value("Created Directories")
    text = created.text() if created is not None and created.type == REG_MULTI_SZ else None
    if c.that("Created Directories is a list", text is not None, "REG_MULTI_SZ", str(created)):
        entries = [e for e in text.split("\0") if e]
        c.that("Created Directories names full paths", all(len(e) > 2 and e[1:3] == ":\\" for e in entries),
               "X:\\... each", entries)


def check_registry(c: Checks, reg: Registry, exp: Expected) -> None:
    settings = {
        "BaseRegistry": Value.binary(bytes([exp.base_registry])),
        "Profile Mode": Value.binary(bytes([exp.profile_mode])),
        "Installation Directory": Value.sz(exp.install_dir),
        "WorkingDirType": Value.binary(bytes([exp.working_dir_type])),
        "Lock": Value.binary(int32(exp.lock)),
        "LockFTP": Value.binary(int32(exp.lock_ftp)),
    }
    if exp.use_group:
        settings["Program Group"] = Value.sz(exp.group_name)
    # The places the installation used, recorded for the removal (Wine's
    # user may write the machine's places, so they are the machine's).
    settings["Uninstall Entry"] = Value.sz("HKEY_LOCAL_MACHINE")
    settings["File Type"] = Value.sz("HKEY_CLASSES_ROOT")
    per_user = {"Working Directory": Value.sz(exp.working_dir)}
    if exp.working_dir_type == 0 or exp.working_dir_hive == exp.product_hive:
        settings.update(per_user)
    check_values(c, reg, exp.product_hive, PRODUCT_KEY, settings, exact=False)
    check_record(c, reg, exp, settings)
    if not (exp.working_dir_type == 0 or exp.working_dir_hive == exp.product_hive):
        check_values(c, reg, exp.working_dir_hive, PRODUCT_KEY, per_user)
        for sub in ("Support", "About"):
            c.that(rf"no {exp.working_dir_hive}\{PRODUCT_KEY}\{sub}",
                   not reg.key_exists(exp.working_dir_hive, rf"{PRODUCT_KEY}\{sub}"), "absent", "present")
    if exp.base_registry == 2:
        c.that(r"no HKLM\Software\VORTAN with BaseRegistry 2", not reg.key_exists("HKLM", r"Software\VORTAN"),
               "absent", "present")

    check_values(c, reg, exp.product_hive, rf"{PRODUCT_KEY}\Support",
                 {f"Line{n}": Value.sz(text) for n, text in enumerate(exp.support, 1)})
    check_values(c, reg, exp.product_hive, rf"{PRODUCT_KEY}\About",
                 {name: Value.sz(text) for name, text in exp.about.items()})
    check_values(c, reg, "HKLM", UNINSTALL_KEY, {
        "DisplayName": Value.sz("VORTAN FTP"),
        # Quoted: Add/Remove Programs runs it as a command line.
        "UninstallString": Value.sz('"' + join(exp.install_dir, "Unins.Exe") + '"'),
    })

    exe = join(exp.install_dir, "Qxftp.exe")
    check_values(c, reg, "HKCR", ".qft", {"": Value.sz(PROG_ID)}, exact=False)
    check_values(c, reg, "HKCR", PROG_ID, {"": Value.sz("Keldra FTP")}, exact=False)
    check_values(c, reg, "HKCR", rf"{PROG_ID}\CurVer", {"": Value.sz(PROG_ID)}, exact=False)
    check_values(c, reg, "HKCR", rf"{PROG_ID}\DefaultIcon", {"": Value.sz(exe + ",-103")}, exact=False)
    check_values(c, reg, "HKCR", rf"{PROG_ID}\shell\open\command",
                 {"": Value.sz(f'"{exe}" /f"%1"')}, exact=False)

    # DllRegisterServer of the installed QXFTP.DLL ran: the class names the
    # installed copy. The loader reports the path as the program passed it,
    # and Windows paths compare without regard to case.
    clsid = rf"CLSID\{SAMPLE_CLSID}"
    check_values(c, reg, "HKCR", clsid, {"": Value.sz("VORTAN FTP Transfer Object")}, exact=False)
    server = reg.value("HKCR", rf"{clsid}\InprocServer32", "")
    c.eq_nocase(r"QXFTP.DLL registered from", join(exp.install_dir, "QXFTP.DLL"), server.text() if server else None)
    check_values(c, reg, "HKCR", rf"{clsid}\InprocServer32", {"ThreadingModel": Value.sz("Apartment")}, exact=False)


def check_wow64_places(c: Checks, prefix: PrefixLayout, raw: Registry, exp: Expected) -> None:
    """Where the 32-bit program's records really are in a 64-bit prefix, read
    without the redirection: the machine's product key and uninstall entry
    under Software\\Wow6432Node, the server's class under
    Software\\Classes\\Wow6432Node\\CLSID, the file type in the shared
    Software\\Classes, and nothing of the product in the 64-bit view."""
    if exp.product_hive == "HKLM":
        c.that(r"HKLM\Software\Wow6432Node\VORTAN\FTP (the 32-bit view)",
               raw.key_exists("HKLM", r"Software\Wow6432Node\VORTAN\FTP"), "exists", "missing")
    c.that(r"no HKLM\Software\VORTAN in the 64-bit view", not raw.key_exists("HKLM", r"Software\VORTAN"),
           "absent", "present")
    entry32 = r"Software\Wow6432Node" + UNINSTALL_KEY[len("Software"):]
    c.that(rf"HKLM\{entry32}", raw.key_exists("HKLM", entry32), "exists", "missing")
    c.that(rf"no HKLM\{UNINSTALL_KEY} in the 64-bit view", not raw.key_exists("HKLM", UNINSTALL_KEY),
           "absent", "present")
    c.that(rf"HKLM\Software\Classes\Wow6432Node\CLSID\{SAMPLE_CLSID}",
           raw.key_exists("HKLM", rf"Software\Classes\Wow6432Node\CLSID\{SAMPLE_CLSID}"), "exists", "missing")
    c.that(rf"no HKLM\Software\Classes\CLSID\{SAMPLE_CLSID} in the 64-bit view",
           not raw.key_exists("HKLM", rf"Software\Classes\CLSID\{SAMPLE_CLSID}"), "absent", "present")
    c.that(r"HKLM\Software\Classes\.qft (shared by both views)", raw.key_exists("HKLM", r"Software\Classes\.qft"),
           "exists", "missing")
    if exp.install_dir.lower().startswith("c:\\program files (x86)\\"):
        c.that(r"nothing of the product in the 64-bit C:\Program Files",
               not os.path.exists(prefix.unix(r"C:\Program Files\VORTAN")), "absent", "present")


# --- the shell -----------------------------------------------------------------

def check_group(c: Checks, prefix: PrefixLayout, exp: Expected, log: DriverLog) -> None:
    programs = prefix.programs_dir()
    folder = os.path.join(programs, sanitize_group(exp.group_name))
    if not exp.use_group:
        c.that(f"no group folder {exp.group_name!r}", not os.path.exists(folder), "absent", "present")
        return
    if not c.that(f"group folder {os.path.relpath(folder, prefix.drive_c)}", os.path.isdir(folder),
                  "exists", f"missing (Programs holds {sorted(os.listdir(programs))})"):
        return
    c.eq(f"items of group {exp.group_name!r}", sorted(f"{n}.lnk" for n in ITEMS), sorted(os.listdir(folder)))
    for item, file in ITEMS.items():
        link = os.path.join(folder, f"{item}.lnk")
        if not os.path.exists(link):
            continue
        target = join(exp.install_dir, file)
        short = log.short_path(target)
        if not c.that(f"short path of {target}", short is not None, "reported by the driver", "not reported"):
            continue
        fields = shelllink.read(link)
        # The item's command line is the short form, so it needs no quotes in
        # [AddItem(...)]; Wine's server keeps the path it was given.
        c.eq_nocase(f"item {item!r} target", short, fields.get("Local path"))


def check_desktop(c: Checks, prefix: PrefixLayout, exp: Expected) -> None:
    desktops = {r"C:\users\Public\Desktop", rf"C:\users\{exp.user}\Desktop"}
    for desktop in sorted(desktops):
        folder = prefix.unix(desktop)
        names = os.listdir(folder) if os.path.isdir(folder) else []
        found = [n for n in names if n.lower() == DESKTOP_LINK.lower()]
        wanted = exp.shortcut and desktop == exp.desktop_dir
        if not wanted:
            c.eq(f"shortcut on {desktop}", [], found)
            continue
        if not c.eq(f"shortcut on {desktop}", [DESKTOP_LINK], found) and not found:
            continue
        fields = shelllink.read(os.path.join(folder, found[0]))
        c.eq_nocase("shortcut target", join(exp.install_dir, "QXFTP.EXE"), fields.get("Local path"))
        c.eq_nocase("shortcut working directory", exp.install_dir, fields.get("Working directory"))
        c.eq("shortcut description", "VORTAN FTP", fields.get("Description"))


def check_run(c: Checks, log: DriverLog, exp: Expected) -> None:
    c.eq("driver time-out", False, log.timed_out)
    c.eq("Setup.exe exit code", 1, log.exit_code)
    c.eq("message boxes (caption, text)", exp.boxes(), [(b.caption, b.text) for b in log.boxes])
    c.eq("unscripted boxes", [], [b.caption for b in log.boxes if not b.scripted])


def check_installation(c: Checks, prefix: PrefixLayout, exp: Expected, log: DriverLog,
                       dist: str, product: str, setup_exe: str, must_have: list = SAMPLE_MUST_HAVE) -> None:
    check_run(c, log, exp)
    check_files(c, prefix, exp, dist, product, setup_exe, must_have)
    check_registry(c, Registry(prefix.path, view32=exp.wow64), exp)
    if exp.wow64:
        check_wow64_places(c, prefix, Registry(prefix.path), exp)
    check_group(c, prefix, exp, log)
    check_desktop(c, prefix, exp)
