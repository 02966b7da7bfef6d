"""A working directory chosen in a folder that already holds the user's own
files. The installation records the directories it created; the folder was
there before, so it is shared, and the removal takes there only what the
installation made (nothing: the data folders are made in the installation
directory, and in the working directory by the program when it runs). The
user's files and folders, two of them named like product data folders, must
all be there afterwards, byte for byte."""
from __future__ import annotations

import os
import shlex

from lib import setupini
from lib.checks import Checks
from lib.install import PRODUCT_KEY, Expected, actual_tree, join
from lib.scenario import DIST, Case, Paths, Session
from lib.uninstall import (CAPTION, DONE_TEXT, INSTALL_LOG, REMOVE_DIR, REMOVE_INI, REMOVE_LOG, REBOOT_TEXT,
                           check_install_run, group_question, listing_command, pending_operations, read_listing,
                           run_session)
from lib.winereg import Registry

# The user's own things in the folder, relative to it: files with their bytes,
# and folders (None). Config is also the name of a product data folder.
USER_FILES = {
    "report.doc": b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1" + b"Quarterly report, draft 3\r\n" * 40,
    "Config": None,
    r"Config\mail.ini": b"[Account]\r\nServer=mail.example.org\r\n",
    "Transfer": None,
    r"Transfer\holiday.jpg": b"\xff\xd8\xff\xe0" + bytes(range(200, 256)) * 16,
    "Old Installers": None,
    r"Old Installers\tool.zip": bytes(range(256)) * 8,
}


def tree(unix_root: str) -> dict[str, bytes | None]:
    """Relative Windows path -> bytes (None for a folder) of everything below."""
    out = {}
    for rel, path in actual_tree(unix_root).items():
        if path is None:
            out[rel] = None
        else:
            with open(path, "rb") as fh:
                out[rel] = fh.read()
    return out


def read_reg_query(path: str) -> dict[str, str]:
    """Value name (lower case) -> data as reg.exe's query prints it: one
    value a line, "    NAME    TYPE    DATA", the entries of a REG_MULTI_SZ
    joined by a literal \\0."""
    values = {}
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            parts = line.strip("\r\n").split("    ")
            parts = [p for p in parts if p != ""]
            if len(parts) >= 2 and parts[1].startswith("REG_"):
                values[parts[0].strip().lower()] = parts[2] if len(parts) > 2 else ""
    return values


def working_dir_in_user_folder(case: Case, paths: Paths, c: Checks) -> None:
    s = case.session = Session(paths, case.name, case.windows)
    prefix = s.prefix
    user = prefix.user()
    folder = rf"C:\users\{user}\Downloads"
    for rel, data in USER_FILES.items():
        unix = prefix.unix(join(folder, rel))
        if data is None:
            os.makedirs(unix, exist_ok=True)
        else:
            os.makedirs(os.path.dirname(unix), exist_ok=True)
            with open(unix, "wb") as f:
                f.write(data)
    mine = tree(prefix.unix(folder))

    # SETUP.INI's WorkingDir counts where the product's record says the
    # working directory is of kind 0, which a previous installation leaves.
    ini = setupini.merge(setupini.QUIET_ALL_KEYS, {"FTPSetup": {"WorkingDir": folder}})
    s.make_dist()
    setupini.write(os.path.join(s.dist, "SETUP.INI"), ini)
    os.makedirs(prefix.unix(REMOVE_DIR))
    setupini.write(os.path.join(prefix.unix(REMOVE_DIR), "SETUP.INI"), REMOVE_INI)
    exp = Expected.derive(ini, case.windows, user, s.wow64)
    seeds = [("Installation Directory", "REG_SZ", exp.install_dir), ("WorkingDirType", "REG_BINARY", "00")]
    after_install = os.path.join(prefix.root, "after-install.txt")
    record = os.path.join(prefix.root, "record.txt")
    removal_answers = {CAPTION: "YES,OK"}
    run_session(s, "session", [
        *[[s.wine, "reg", "add", rf"HKLM\{PRODUCT_KEY}", "/v", name, "/t", kind, "/d", data, "/f"]
          for name, kind, data in seeds],
        s.driver_command([join(DIST, "Setup.exe")], DIST, {"VORTAN FTP Install": "OK"}, 120, log=INSTALL_LOG),
        listing_command(prefix, [folder, exp.install_dir], after_install),
        # The record as the removal will read it (the registry files are
        # written only when the session ends).
        f"{shlex.quote(s.wine)} reg query {shlex.quote('HKLM' + chr(92) + PRODUCT_KEY)} > {shlex.quote(record)}",
        s.driver_command([join(DIST, "Setup.exe")], REMOVE_DIR, removal_answers, 120, log=REMOVE_LOG),
    ])
    check_install_run(c, s.driver_log(INSTALL_LOG), exp)
    installed = read_listing(prefix, after_install)
    inside = {p[len(folder) + 1:] for p in installed if p.lower().startswith(folder.lower() + "\\")}
    c.eq(f"after installation: what is in {folder}", sorted(mine), sorted(inside))
    c.that(f"after installation: {exp.install_dir}", any(p.lower() == exp.install_dir.lower() for p in installed),
           "exists", "missing")
    # The case means something only if the record names the folder as the
    # working directory and not among the directories the installation made.
    values = read_reg_query(record)
    c.eq_nocase(r"after installation: Working Directory", folder, values.get("working directory"))
    created = [e for e in (values.get("created directories") or "").split("\\0") if e]
    c.that("after installation: Created Directories names the installation directory",
           exp.install_dir.lower() in [e.lower() for e in created], exp.install_dir, created)
    c.eq(f"after installation: Created Directories entries in or above {folder}", [],
         [e for e in created if folder.lower().startswith(e.lower().rstrip("\\") + "\\")
          or e.lower().rstrip("\\") == folder.lower() or e.lower().startswith(folder.lower() + "\\")])

    log = s.driver_log(REMOVE_LOG)
    c.eq("removal: driver time-out", False, log.timed_out)
    boxes = [(b.caption, b.text) for b in log.boxes]
    c.eq("removal: first box, the group question", (CAPTION, group_question(exp.group_name)),
         boxes[0] if boxes else None)
    c.that("removal: last box", boxes[-1:] in ([(CAPTION, DONE_TEXT)], [(CAPTION, REBOOT_TEXT)]),
           "the success box or the reboot question", boxes[-1:])
    reg = Registry(prefix.path, view32=exp.wow64)
    c.eq(f"removal: restart-time deletions in {folder}", [],
         [src for src, _ in pending_operations(reg) if src.lower().startswith(folder.lower())])

    # The restart carries out whatever was deferred: the state after it is
    # the one the user lives with.
    run_session(s, "restart", [[s.wine, "wineboot", "-r"]])
    after = tree(prefix.unix(folder)) if os.path.isdir(prefix.unix(folder)) else None
    if not c.that(f"after removal: {folder}", after is not None, "still there", "gone"):
        return
    c.eq(f"after removal: the user's files and folders missing from {folder}", [],
         sorted(rel for rel in mine if rel not in after))
    c.eq(f"after removal: the user's files changed in {folder}", [],
         sorted(rel for rel, data in mine.items() if data is not None and rel in after and after[rel] != data))
    c.eq(f"after removal: what was added to {folder} and left there", [],
         sorted(rel for rel in after if rel not in mine))
    c.that(f"after removal: {exp.install_dir}", not os.path.exists(prefix.unix(exp.install_dir)), "gone",
           "still there")
    reg = Registry(prefix.path, view32=exp.wow64)
    for hive in ("HKLM", "HKCU"):
        c.that(rf"after removal: {hive}\{PRODUCT_KEY}", not reg.key_exists(hive, PRODUCT_KEY), "deleted", "present")


CASES = [
    Case(name="win10_working_dir_in_downloads", run=working_dir_in_user_folder, windows="win10",
         summary="Windows 10, WorkingDir the user's Downloads holding report.doc, Config and Transfer folders of "
                 "the user's own and another folder: not recorded as made by the installation, and after the "
                 "removal and a restart every one of the user's files and folders is there, byte for byte"),
]
