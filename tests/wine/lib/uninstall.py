"""Quiet removal of the sample product in a Wine prefix: what a removal must
leave, what it may defer to the next restart, and a restart that carries the
deferred deletions out.

A removal case installs quietly (or not at all), then runs Setup.exe a second
time with a SETUP.INI that asks for quiet removal. Setup.exe reads SETUP.INI
from its current directory, so the removal's copy lives in its own folder
(C:\\remove) and the distribution's SETUP.INI stays the installation's."""
from __future__ import annotations

import os
import shlex
from dataclasses import dataclass, field

from . import setupini
from .checks import Checks
from .driverlog import DriverLog
from .install import (DESKTOP_LINK, ITEMS, PROG_ID, PRODUCT_KEY, SAMPLE_CLSID, UNINSTALL_KEY, Expected,
                      expected_tree, join, sanitize_group)
from .scenario import DIST, TOOLS, Case, Paths, Session
from .wineenv import WINDOWS_VERSIONS, PrefixLayout
from .winereg import Registry, Value

REMOVE_DIR = r"C:\remove"
INSTALL_LOG = TOOLS + r"\install.log"
REMOVE_LOG = TOOLS + r"\remove.log"
REMOVE_INI: setupini.Ini = {"FTPSetup": {"QuietModeUnInstall": "Y"}}

CAPTION = "VORTAN FTP Uninstall"
DONE_TEXT = "VORTAN FTP uninstallation completed successfully."
REBOOT_TEXT = ("VORTAN FTP uninstallation requires a reboot to complete successfully.\r\n\r\n"
               "Do you want to reboot the computer now?")
NOT_FOUND_BOX = ("Uninstall Error", "Unable to locate VORTAN FTP in the Registry.", "OK")
SESSION_MANAGER = r"System\CurrentControlSet\Control\Session Manager"
PENDING_VALUE = "PendingFileRenameOperations"
DATA_DIRS = ("Transfer", "Certs", "Cache", "Config", "Traces")
HOLD_EVENT = "VTEST_REMOVAL_HOLD"

# What a Wine session rewrites by itself, whatever the program under test
# does (measured with Wine 8 by diffing system.reg and user.reg around a run
# that changed nothing): the network card list and the display adapter's
# class keys are redone when explorer starts, and the harness sets the
# Windows version under Software\Wine.
SESSION_CHURN = {
    "HKLM": (r"software\microsoft\windows nt\currentversion\networkcards",
             r"system\currentcontrolset\control\class"),
    "HKCU": (r"software\wine",),
}
# The harness's own folders in C:, which a run writes to.
HARNESS_DIRS = ("dist", "vtest", "remove")


def group_question(group: str) -> str:
    return (f'All program items in group "{group}" will be deleted.  '
            f'Are you sure you want to delete the program group "{group}"?')


# --- the restart-time lists -------------------------------------------------------

def pending_operations(reg: Registry) -> list[tuple[str, str]]:
    """The (source, target) pairs of PendingFileRenameOperations, "\\??\\"
    taken off; an empty target is a deletion. The value is a REG_MULTI_SZ of
    pairs, so an empty string is a pair's empty target unless it starts a
    pair, where it ends the list."""
    value = reg.value("HKLM", SESSION_MANAGER, PENDING_VALUE)
    if value is None:
        return []
    items = value.data.decode("utf-16-le", errors="replace").split("\0")
    pairs = []
    i = 0
    while i < len(items) and items[i]:
        source = items[i]
        target = items[i + 1] if i + 1 < len(items) else ""
        pairs.append((_nt_to_dos(source), _nt_to_dos(target)))
        i += 2
    return pairs


def _nt_to_dos(path: str) -> str:
    for prefix in ("\\??\\", "\\\\?\\"):
        if path.startswith(prefix):
            return path[len(prefix):]
    return path


def wininit_renames(prefix: PrefixLayout) -> list[tuple[str, str]] | None:
    """The (key, value) lines of WININIT.INI's [rename] section in the
    Windows directory, in order; None when there is no WININIT.INI. The 9x
    family reads it at start-up: "NUL=<short path>" deletes the file."""
    windows = prefix.unix("C:\\windows")
    names = [n for n in os.listdir(windows) if n.lower() == "wininit.ini"]
    if not names:
        return None
    with open(os.path.join(windows, names[0]), encoding="cp1252", errors="replace") as f:
        text = f.read()
    lines, inside = [], False
    for line in text.splitlines():
        stripped = line.strip()
        if stripped.startswith("["):
            inside = stripped[1:stripped.find("]")].strip().lower() == "rename"
        elif inside and "=" in stripped:
            key, value = stripped.split("=", 1)
            lines.append((key.strip(), value.strip()))
    return lines


# --- snapshots ----------------------------------------------------------------------

def windows_path(prefix: PrefixLayout, unix: str) -> str:
    rel = os.path.relpath(unix, prefix.drive_c)
    return "C:\\" + ("" if rel == "." else rel.replace(os.sep, "\\"))


def listing_command(prefix: PrefixLayout, roots: list[str], out: str) -> str:
    """A shell line that writes "<type> <unix path>" for every root that
    exists and everything below it (type d or f)."""
    quoted = " ".join(shlex.quote(prefix.unix(r)) for r in roots)
    return f"find {quoted} -printf '%y %p\\n' > {shlex.quote(out)} 2>/dev/null; true"


def read_listing(prefix: PrefixLayout, path: str) -> dict[str, str]:
    """Windows path -> "d" or "f" from a listing_command file."""
    entries = {}
    if not os.path.exists(path):
        return entries
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        for line in f:
            kind, _, unix = line.rstrip("\n").partition(" ")
            if unix:
                entries[windows_path(prefix, unix)] = kind
    return entries


def key_query_command(wine: str, keys: list[str], out: str) -> str:
    """A shell line that writes each registry key that exists, one a line:
    the registry files are only written when the session's server exits, so
    a check in the middle of a session asks reg.exe. In a 64-bit prefix the
    32-bit loader runs the 32-bit reg.exe, which sees the keys as Setup.exe
    does (through Wow6432Node)."""
    loop = " ".join(shlex.quote(k) for k in keys)
    return (f"for k in {loop}; do {shlex.quote(wine)} reg query \"$k\" >/dev/null 2>&1 && echo \"$k\"; "
            f"done > {shlex.quote(out)}")


@dataclass
class Snapshot:
    """Every file of drive C: (outside the harness's folders) with its size
    and time, and every registry key with its values."""
    files: dict
    keys: dict

    @staticmethod
    def take(prefix: PrefixLayout) -> "Snapshot":
        files = {}
        for dirpath, dirs, names in os.walk(prefix.drive_c):
            rel = os.path.relpath(dirpath, prefix.drive_c)
            if rel == ".":
                dirs[:] = [d for d in dirs if d.lower() not in HARNESS_DIRS]
            for name in dirs + names:
                path = os.path.join(dirpath, name)
                st = os.lstat(path)
                files[windows_path(prefix, path)] = (st.st_mode, st.st_size, st.st_mtime_ns)
        reg = Registry(prefix.path)
        keys = {}
        for hive, content in reg.hives.items():
            for low, key in content.items():
                if not low.startswith(SESSION_CHURN.get(hive, ())):
                    keys[f"{hive}\\{key.path}"] = {n: str(v) for n, v in key.values.values()}
        return Snapshot(files, keys)

    def changes(self, later: "Snapshot") -> list[str]:
        out = []
        for path in sorted(self.files.keys() | later.files.keys()):
            if self.files.get(path) != later.files.get(path):
                how = "added" if path not in self.files else "removed" if path not in later.files else "changed"
                out.append(f"{how} {path}")
        for key in sorted(self.keys.keys() | later.keys.keys()):
            if self.keys.get(key) != later.keys.get(key):
                how = "added" if key not in self.keys else "removed" if key not in later.keys else "values changed"
                out.append(f"{how} {key}")
        return out


# --- the case ---------------------------------------------------------------------

@dataclass
class RemovalCase(Case):
    """A quiet removal. ini is the installation's SETUP.INI (None: nothing is
    installed first); remove_ini the removal's."""
    remove_ini: setupini.Ini = field(default_factory=lambda: dict(REMOVE_INI))
    # wineserver -k between installation and removal: a new desktop session,
    # as after a logon, whose Program Manager server has no active group.
    later_session: bool = False
    # A file that the test makes in the installation directory and keeps open
    # without sharing through the removal, so that its deletion is deferred.
    held: str | None = None
    # Files the program would have made in its working directory.
    working_files: tuple = ()
    # Runs the uninstaller the uninstall entry records (UNINS.EXE in the
    # installation directory) instead of the distribution's Setup.exe. A
    # running program cannot be deleted (Wine refuses it too, measured), so
    # UNINS.EXE waits for the restart and the reboot question appears. The
    # uninstall entry starts it without a SETUP.INI, which is the interactive
    # road; the quiet one needs SETUP.INI in its current directory.
    uninstaller: bool = False
    group_answer: str = "YES"
    reboot_answer: str = "NO"


@dataclass
class Plan:
    """What one removal must do, from the case."""
    case: RemovalCase
    exp: Expected | None                    # the installation, None when nothing was installed

    @property
    def family(self) -> str:
        return WINDOWS_VERSIONS[self.case.windows][0]

    @property
    def product_dirs(self) -> list[str]:
        return [self.exp.install_dir, self.exp.working_dir] if self.exp else []

    @property
    def held_path(self) -> str | None:
        return join(self.exp.install_dir, self.case.held) if self.case.held and self.exp else None

    @property
    def program(self) -> str:
        # The uninstall entry's UninstallString, spelled as it records it.
        if self.exp and self.case.uninstaller:
            return join(self.exp.install_dir, "Unins.Exe")
        return join(DIST, "Setup.exe")

    def must_defer(self) -> list[str]:
        """What the removal cannot delete while it runs."""
        out = [self.held_path] if self.held_path else []
        return out + ([join(self.exp.install_dir, "UNINS.EXE")] if self.case.uninstaller else [])

    def working_paths(self) -> list[str]:
        return [join(self.exp.working_dir, f) for f in self.case.working_files]

    def product_hives(self) -> list[str]:
        """The hives that held Software\\VORTAN\\FTP after the installation."""
        hives = [self.exp.product_hive]
        if self.exp.working_dir_type != 0 and self.exp.working_dir_hive not in hives:
            hives.append(self.exp.working_dir_hive)
        return hives

    def boxes(self) -> list[tuple[str, str, str]]:
        """(caption, text, answer) of every box the removal must show."""
        if not self.exp:
            return [NOT_FOUND_BOX]
        out = []
        if self.exp.use_group:
            out.append((CAPTION, group_question(self.exp.group_name), self.case.group_answer))
        if self.case.held or self.case.uninstaller:
            out.append((CAPTION, REBOOT_TEXT, self.case.reboot_answer))
        else:
            out.append((CAPTION, DONE_TEXT, "OK"))
        return out

    def answers(self) -> dict[str, str]:
        by_caption: dict[str, list[str]] = {}
        for caption, _, answer in self.boxes():
            by_caption.setdefault(caption, []).append(answer)
        return {caption: ",".join(a) for caption, a in by_caption.items()}

    def group_folder(self, prefix: PrefixLayout) -> str:
        return os.path.join(prefix.programs_dir(), sanitize_group(self.exp.group_name))

    def desktops(self) -> list[str]:
        return [r"C:\users\Public\Desktop", rf"C:\users\{self.exp.user}\Desktop"]


def quiet_removal(case: RemovalCase, paths: Paths, c: Checks) -> None:
    s = case.session = Session(paths, case.name, case.windows)
    prefix = s.prefix
    s.make_dist()
    exp = None
    if case.ini:
        setupini.write(os.path.join(s.dist, "SETUP.INI"), case.ini)
        exp = Expected.derive(case.ini, case.windows, prefix.user(), s.wow64)
    os.makedirs(prefix.unix(REMOVE_DIR))
    setupini.write(os.path.join(prefix.unix(REMOVE_DIR), "SETUP.INI"), case.remove_ini)
    plan = Plan(case, exp)
    untouched = None if exp else Snapshot.take(prefix)

    first, second = [], []
    if exp:
        first.append(s.driver_command([join(DIST, "Setup.exe")], DIST, {"VORTAN FTP Install": "OK"}, 120,
                                      log=INSTALL_LOG))
        second += make_files_command(prefix, ([plan.held_path] if plan.held_path else []) + plan.working_paths())
        second.append(listing_command(prefix, _watched(plan, prefix), os.path.join(prefix.root, "before.txt")))
        second.append(key_query_command(s.wine, _product_keys(plan), os.path.join(prefix.root, "keys-before.txt")))
    if plan.held_path:
        second += hold_commands(s, plan.held_path)
    shorts = _short_path_queries(plan) if exp and plan.family == "9x" else []
    second.append(s.driver_command([plan.program], REMOVE_DIR, plan.answers(), 120, shorts, log=REMOVE_LOG))
    if plan.held_path:
        second += release_commands(s)

    if case.later_session:
        run_session(s, "install", first)
        run_session(s, "removal", second)
    else:
        run_session(s, "session", first + second)

    if exp:
        check_install_run(c, s.driver_log(INSTALL_LOG), exp)
        before = read_listing(prefix, os.path.join(prefix.root, "before.txt"))
        check_before(c, plan, s, before)
    log = s.driver_log(REMOVE_LOG)
    check_removal_run(c, plan, log)
    if not exp:
        c.eq("what the removal changed in drive C: and the registry", [],
             untouched.changes(Snapshot.take(prefix)))
        return
    reg = Registry(prefix.path, view32=exp.wow64)
    keep_lists(prefix, reg, "restart-lists")
    deferred = check_after_removal(c, plan, prefix, reg, log, before)

    # The restart: Wine's wineboot -r carries out PendingFileRenameOperations
    # and WININIT.INI's [rename] as Windows does at start-up.
    run_session(s, "restart", [[s.wine, "wineboot", "-r"]])
    check_after_restart(c, plan, prefix, Registry(prefix.path, view32=exp.wow64), before, deferred)


def run_session(s: Session, name: str, commands: list, timeout: int = 240) -> None:
    run = s.prefix.run_session([s.set_version_command()] + commands, name, timeout)
    if run.returncode != 0:
        raise RuntimeError(f"{name} session ended with {run.returncode}; see {s.prefix.root}/{name}.out")


def keep_lists(prefix: PrefixLayout, reg: Registry, label: str) -> None:
    """Writes the restart-time lists beside the prefix, for a look at a
    failed case after the restart has used them up."""
    lines = [f"PendingFileRenameOperations: {src} -> {dst or '(delete)'}" for src, dst in pending_operations(reg)]
    lines += [f"WININIT.INI [rename]: {k}={v}" for k, v in wininit_renames(prefix) or []]
    with open(os.path.join(prefix.root, f"{label}.txt"), "w") as f:
        f.write("".join(line + "\n" for line in lines))


def make_files_command(prefix: PrefixLayout, files: list[str]) -> list[str]:
    """Shell lines that make each file (and its folder) after the
    installation, with a line of text in it."""
    out = []
    for f in files:
        unix = prefix.unix(f)
        out.append(f"mkdir -p {shlex.quote(os.path.dirname(unix))} && "
                   f"printf 'made by the test\\r\\n' > {shlex.quote(unix)}")
    return out


def hold_commands(s: Session, path: str) -> list[str]:
    """Starts vhold on path in the background and waits until it says it
    holds the file, not for a guessed time."""
    out = os.path.join(s.prefix.root, "vhold.out")
    vhold = join(TOOLS, "vhold.exe")
    return [f"{shlex.quote(s.wine)} {shlex.quote(vhold)} {shlex.quote(path)} --event {HOLD_EVENT} --timeout 200"
            f" > {shlex.quote(out)} &",
            f"for i in $(seq 1 600); do grep -q HOLDING {shlex.quote(out)} && break; sleep 0.1; done"]


def release_commands(s: Session) -> list:
    return [[s.wine, join(TOOLS, "vhold.exe"), "--release", HOLD_EVENT], "wait"]


def _watched(plan: Plan, prefix: PrefixLayout) -> list[str]:
    """What the installation made that removal must take away: the
    installation tree, the working directory, the group folder and the
    desktop shortcuts."""
    exp = plan.exp
    roots = [exp.install_dir, exp.working_dir]
    if exp.use_group:
        roots.append(windows_path(prefix, plan.group_folder(prefix)))
    roots += [join(d, DESKTOP_LINK) for d in plan.desktops()]
    return roots


def _product_keys(plan: Plan) -> list[str]:
    keys = [f"{h}\\{PRODUCT_KEY}" for h in plan.product_hives()]
    return keys + [f"HKLM\\{UNINSTALL_KEY}", f"HKCR\\CLSID\\{SAMPLE_CLSID}"]


def _short_path_queries(plan: Plan) -> list[str]:
    """Paths whose short forms the 9x family's WININIT.INI may name: every
    file and folder below the product's directories that could still exist
    after the removal. The driver asks GetShortPathNameA after Setup.exe has
    ended (Wine's short names are hashed and cannot be guessed)."""
    exp = plan.exp
    paths = [exp.install_dir, exp.working_dir]
    for base in (exp.install_dir, exp.working_dir):
        paths += [join(base, d) for d in DATA_DIRS + ("Docs", "Assets")]
    if plan.held_path:
        paths.append(plan.held_path)
    paths += plan.working_paths()
    return list(dict.fromkeys(paths))


# --- the checks -------------------------------------------------------------------

def check_install_run(c: Checks, log: DriverLog, exp: Expected) -> None:
    c.eq("installation: driver time-out", False, log.timed_out)
    c.eq("installation: message boxes", exp.boxes(), [(b.caption, b.text) for b in log.boxes])


def check_before(c: Checks, plan: Plan, s: Session, before: dict) -> None:
    """The removal's checks mean something only if the installation was
    complete and the test's own files were in place."""
    exp = plan.exp
    want = {join(exp.install_dir, rel).lower()
            for rel in expected_tree(exp, s.dist, s.paths.product, s.paths.setup_exe)}
    have = {p.lower() for p in before}
    c.eq("before removal: installed files missing", [], sorted(want - have))
    for extra in filter(None, [plan.held_path] + plan.working_paths()):
        c.that(f"before removal: {extra}", extra.lower() in have, "made by the test", "missing")
    if exp.use_group:
        folder = windows_path(s.prefix, plan.group_folder(s.prefix))
        items = sorted(p[len(folder) + 1:] for p in before if p.lower().startswith(folder.lower() + "\\"))
        c.eq(f"before removal: items of group {exp.group_name!r}", sorted(f"{n}.lnk" for n in ITEMS), items)
    if exp.shortcut:
        c.that(f"before removal: {join(exp.desktop_dir, DESKTOP_LINK)}",
               join(exp.desktop_dir, DESKTOP_LINK).lower() in have, "exists", "missing")
    keys_file = os.path.join(s.prefix.root, "keys-before.txt")
    with open(keys_file) as f:
        found = {line.strip().lower() for line in f if line.strip()}
    for key in _product_keys(plan):
        c.that(f"before removal: key {key}", key.lower() in found, "exists", "missing")


def check_removal_run(c: Checks, plan: Plan, log: DriverLog) -> None:
    c.eq("removal: driver time-out", False, log.timed_out)
    c.eq("removal: Setup.exe exit code", 1, log.exit_code)
    c.eq("removal: message boxes (caption, text, answer)", plan.boxes(),
         [(b.caption, b.text, b.answer) for b in log.boxes])
    c.eq("removal: unscripted boxes", [], [b.caption for b in log.boxes if not b.scripted])


def _inside(path: str, directories: list[str]) -> bool:
    low = path.lower().rstrip("\\")
    return any(low == d.lower().rstrip("\\") or low.startswith(d.lower().rstrip("\\") + "\\")
               for d in directories)


def deferred_deletions(c: Checks, plan: Plan, prefix: PrefixLayout, reg: Registry, log: DriverLog) -> set[str]:
    """The long paths, lower case, that the removal left to the next restart;
    each entry must name something of the product's own directories."""
    dirs = plan.product_dirs
    if plan.family == "nt":
        # Wine records a deferred deletion even for a path that does not exist
        # (measured: the working folder's Config and Traces, which nothing had
        # made, and UNINS.EXE after its deletion); those are inside the
        # product's directories and harmless.
        pairs = pending_operations(reg)
        c.eq("PendingFileRenameOperations: renames (only deletions expected)", [],
             [f"{s} -> {t}" for s, t in pairs if t])
        outside = [s for s, t in pairs if not _inside(s, dirs)]
        c.eq("PendingFileRenameOperations: deletions outside the product's directories", [], outside)
        lines = wininit_renames(prefix)
        c.eq("WININIT.INI [rename] on the NT family", None, lines)
        return {s.lower() for s, t in pairs if not t}
    # The 9x family: "NUL=<short path>". Wine's short names are hashed, so each
    # line is matched with what GetShortPathNameA reported for the paths the
    # removal may have left, never with a guessed name. Only this text check
    # catches a long path: Wine's wineboot deleted a file named by its long
    # path as well (measured), where Windows 98 reads short names only.
    lines = wininit_renames(prefix) or []
    shorts = {}
    for path, short in ((f[0], f[1]) for f in log.events("SHORT") if len(f) >= 2 and not f[1].startswith("!")):
        shorts.setdefault(short.lower(), path)
    c.eq("WININIT.INI [rename]: renames (only NUL= deletions expected)", [],
         [f"{k}={v}" for k, v in lines if k.upper() != "NUL"])
    unknown = [v for k, v in lines if k.upper() == "NUL" and v.lower() not in shorts]
    c.eq("WININIT.INI [rename]: NUL= lines that are not the short form of a product path", [], unknown)
    c.that("PendingFileRenameOperations on the 9x family", not pending_operations(reg), "none",
           f"{pending_operations(reg)}")
    return {shorts[v.lower()].lower() for k, v in lines if k.upper() == "NUL" and v.lower() in shorts}


def check_after_removal(c: Checks, plan: Plan, prefix: PrefixLayout, reg: Registry, log: DriverLog,
                        before: dict) -> set[str]:
    exp = plan.exp
    deferred = deferred_deletions(c, plan, prefix, reg, log)

    # Files: everything the installation (and the test) made below the
    # product's directories is gone, or waits for the restart.
    left = [p for p in sorted(before) if _inside(p, plan.product_dirs) and os.path.lexists(prefix.unix(p))]
    c.eq("after removal: product paths still there and not deferred", [],
         [p for p in left if p.lower() not in deferred])
    for busy in plan.must_defer():
        c.that(f"after removal: {busy} (open during the removal)", os.path.exists(prefix.unix(busy)),
               "still there", "deleted although it was open")
        c.that(f"after removal: {busy} deferred", busy.lower() in deferred,
               "listed for deletion at restart", f"not listed (deferred: {sorted(deferred)})")

    # The shell: the group folder (Wine's Program Manager server makes groups
    # in the per-user Programs folder) and the shortcut on either desktop.
    if exp.use_group:
        folder = plan.group_folder(prefix)
        gone = not os.path.exists(folder)
        c.that(f"after removal: group folder {os.path.relpath(folder, prefix.drive_c)}",
               gone if plan.case.group_answer == "YES" else not gone,
               "deleted" if plan.case.group_answer == "YES" else "kept",
               f"present holding {sorted(os.listdir(folder))}" if not gone else "deleted")
        if not gone:
            c.eq(f"after removal: items of group {exp.group_name!r}", [], sorted(os.listdir(folder)))
    # Wine keeps its NT folder layout when it reports Windows 98: the 9x
    # family's desktop is C:\users\<user>\Desktop there, not C:\WINDOWS\Desktop.
    for desktop in plan.desktops():
        folder = prefix.unix(desktop)
        names = os.listdir(folder) if os.path.isdir(folder) else []
        c.eq(f"after removal: shortcut on {desktop}", [], [n for n in names if n.lower() == DESKTOP_LINK.lower()])

    # The registry: the product's keys go, "Software\VORTAN" and the file
    # type stay, the DLL's DllUnregisterServer took its class away.
    for hive in ("HKLM", "HKCU"):
        c.that(rf"after removal: {hive}\{PRODUCT_KEY}", not reg.key_exists(hive, PRODUCT_KEY), "deleted", "present")
    for hive in ("HKLM", "HKCU"):
        kept = hive in plan.product_hives()
        c.that(rf"after removal: {hive}\Software\VORTAN", reg.key_exists(hive, r"Software\VORTAN") == kept,
               "kept" if kept else "absent (the installation never made it)", "deleted" if kept else "present")
    c.that(rf"after removal: HKLM\{UNINSTALL_KEY}", not reg.key_exists("HKLM", UNINSTALL_KEY), "deleted", "present")
    clsid = rf"CLSID\{SAMPLE_CLSID}"
    c.that(rf"after removal: HKCR\{clsid} (DllUnregisterServer ran)", not reg.key_exists("HKCR", clsid),
           "deleted", "present")
    c.eq(r"after removal: HKCR\.qft", str(Value.sz(PROG_ID)), str(reg.value("HKCR", ".qft", "")))
    c.that(rf"after removal: HKCR\{PROG_ID}", reg.key_exists("HKCR", PROG_ID), "kept", "deleted")
    if exp.wow64:
        # Read without the redirection: nothing of the product in either view.
        raw = Registry(prefix.path)
        for key in (r"Software\Wow6432Node\VORTAN\FTP", r"Software\VORTAN",
                    r"Software\Wow6432Node" + UNINSTALL_KEY[len("Software"):], UNINSTALL_KEY,
                    rf"Software\Classes\Wow6432Node\{clsid}", rf"Software\Classes\{clsid}"):
            c.that(rf"after removal: HKLM\{key} (64-bit prefix, read as stored)", not raw.key_exists("HKLM", key),
                   "absent", "present")
    return deferred


def check_after_restart(c: Checks, plan: Plan, prefix: PrefixLayout, reg: Registry, before: dict,
                        deferred: set[str]) -> None:
    exp = plan.exp
    leftover = sorted(p for p in before if _inside(p, plan.product_dirs) and os.path.lexists(prefix.unix(p)))
    for d in plan.product_dirs:
        if os.path.lexists(prefix.unix(d)) and d not in leftover:
            leftover.insert(0, d)
    if plan.family == "nt":
        c.eq("after restart: product paths left", [], leftover)
        c.eq("after restart: PendingFileRenameOperations", [], pending_operations(reg))
    else:
        # The 9x family's restart list deletes files only: Wine's wineboot left
        # the deferred folders (measured), then renamed WININIT.INI to
        # WININIT.BAK. A deferred folder may stay, empty of files.
        c.eq("after restart: product files left (folders may stay on the 9x family)", [],
             [p for p in leftover if not os.path.isdir(prefix.unix(p))])
        c.eq("after restart: WININIT.INI [rename] lines left", [], wininit_renames(prefix) or [])
    for busy in plan.must_defer():
        c.that(f"after restart: {busy}", not os.path.exists(prefix.unix(busy)), "deleted", "still there")
    # Removal takes nothing beyond the product's own directories: the shared
    # folders stay. The parent of the installation directory was made by the
    # installation (recorded in "Created Directories"): the removal deletes it
    # when it is empty, which it is unless the installation directory itself
    # waits for the restart (a parent is never scheduled).
    keep = [r"C:\Program Files", r"C:\windows", rf"C:\users\{exp.user}\Documents", r"C:\users\Public\Documents",
            r"C:\users\Public\Desktop", rf"C:\users\{exp.user}\Desktop"]
    if exp.wow64:
        keep.append(r"C:\Program Files (x86)")
    c.eq("after restart: folders that must stay but are gone", [],
         [k for k in keep if not os.path.isdir(prefix.unix(k))])
    parent = exp.install_dir.rsplit("\\", 1)[0]
    if len(parent) > 3 and not deferred:
        c.that(f"after restart: {parent}, made by the installation, is gone", not os.path.isdir(prefix.unix(parent)),
               "gone", "still there")


def removal_case(name: str, windows: str, summary: str, install: setupini.Ini | None, **kw) -> RemovalCase:
    """A removal after a quiet installation whose SETUP.INI is all the quiet
    keys with install applied (None: nothing is installed first)."""
    ini = setupini.merge(setupini.QUIET_ALL_KEYS, install) if install is not None else {}
    return RemovalCase(name=name, summary=summary, run=quiet_removal, windows=windows, ini=ini, **kw)
