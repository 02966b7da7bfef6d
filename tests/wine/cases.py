"""The Wine scenarios. A quiet-installation case is a name, a Windows version
and a SETUP.INI; everything it must produce is derived from those (lib/install.py).

To add one, append to CASES, for example:

    install_case("win2k_common_working_dir", "win2k",
                 "Windows 2000 with the shared working folder",
                 {"FTPSetup": {"UseAllUsersCommonFolderAsWorkingDir": "Y"}}),

A quiet removal after such an installation is removal_case(...) with the same
kind of changes (lib/uninstall.py; README.md, "Quiet removal").
"""
from __future__ import annotations

import os
from shlex import quote as q

from lib import setupini
from lib.checks import Checks
from lib.install import join
from lib.scenario import TOOLS, Case, Paths, Session, quiet_install
from lib.uninstall import removal_case

SUPPORT = {f"Line{n}": f"Support line {n}: call +1 555 0100 ext. {n}" for n in range(1, 8)}
ABOUT = {
    "Info1": "VORTAN FTP 1.0",
    "Info2": "Licensed to Example Corp",
    "Name": "Example Corp IT",
    "Address1": "1 Harbour Road",
    "Address2": "Suite 200",
    "Phone": "+1 555 0100",
    "INet": "https://support.example.org/ftp",
}


def install_case(name: str, windows: str, summary: str, changes: setupini.Ini, **kw) -> Case:
    """A quiet installation whose SETUP.INI is all the quiet keys with
    changes applied (a value of None removes the key)."""
    return Case(name=name, summary=summary, run=quiet_install, windows=windows,
                ini=setupini.merge(setupini.QUIET_ALL_KEYS, changes), **kw)


def driver_selftest(case: Case, paths: Paths, c: Checks) -> None:
    """vdriver answers boxes by caption, in sequence, and unscripted ones with
    their first button; it kills a program at its time-out; it logs the
    command line and current directory of each child of the program, one
    started while it runs and one just before it ends; vhold keeps a file
    from being deleted until it is released."""
    s = case.session = Session(paths, case.name, case.windows)
    box = join(TOOLS, "vboxtest.exe")
    results = join(TOOLS, "results.txt")
    held = join(TOOLS, "held.txt")
    with open(s.prefix.unix(held), "w") as f:
        f.write("held\n")
    child_dir, late_dir = join(TOOLS, "child dir"), join(TOOLS, "late")
    for d in (child_dir, late_dir):
        os.makedirs(s.prefix.unix(d), exist_ok=True)
    answers = {"Question": "NO", "Repeat": "YES,CANCEL"}
    boxes = ["YESNO|Question|First\\nsecond line", "YESNOCANCEL|Repeat|Second",
             "YESNOCANCEL|Repeat|Third", "YESNOCANCEL|Repeat|Fourth",
             "OKCANCEL|Nobody asked|Fifth", "YESNO|Nobody asked|Sixth", "RETRYCANCEL|Nobody asked|Seventh"]
    hold_out = os.path.join(s.prefix.root, "vhold.out")
    s.run([
        s.driver_command([box, "--out", results] + boxes, TOOLS, answers, 60),
        s.driver_command([box, "--sleep", "600000"], TOOLS, {}, 3, log=join(TOOLS, "timeout.log")),
        # The driver's poll finds the first child, its last look after the
        # program's end the second; both sleep on until the session's
        # wineserver is stopped.
        s.driver_command([box, "--child", child_dir, "--sleep", "1000", "--child", late_dir], TOOLS, {}, 30,
                         log=join(TOOLS, "child.log")),
        # vhold prints HOLDING once the file is open; wait for that, not a guess.
        f"{q(s.wine)} {q(join(TOOLS, 'vhold.exe'))} {q(held)} --event VTEST_HOLD --timeout 120 > {q(hold_out)} &",
        f"for i in $(seq 1 600); do grep -q HOLDING {q(hold_out)} && break; sleep 0.1; done",
        [s.wine, box, "--out", results, "--delete", held],
        [s.wine, join(TOOLS, "vhold.exe"), "--release", "VTEST_HOLD"],
        "wait",
        [s.wine, box, "--out", results, "--delete", held],
    ], 240)

    log = s.driver_log()
    c.eq("boxes seen (caption, text, answer, scripted)", [
        ("Question", "First\nsecond line", "NO", True),
        ("Repeat", "Second", "YES", True),
        ("Repeat", "Third", "CANCEL", True),
        ("Repeat", "Fourth", "CANCEL", True),
        ("Nobody asked", "Fifth", "OK", False),
        ("Nobody asked", "Sixth", "YES", False),
        ("Nobody asked", "Seventh", "RETRY", False),
    ], [(b.caption, b.text, b.answer, b.scripted) for b in log.boxes])
    c.eq("exit code of the box program (its last answer, IDRETRY)", 4, log.exit_code)
    c.eq("time-out of the box program", False, log.timed_out)
    c.eq("children of the box program", [], log.children)
    with open(s.prefix.unix(results), encoding="cp1252") as f:
        got = [line.rstrip("\n").split("\t") for line in f]
    # MessageBoxA returned what the driver answered: IDNO 7, IDYES 6,
    # IDCANCEL 2, IDOK 1, IDRETRY 4.
    c.eq("results MessageBoxA returned, then the two deletions", [
        ["Question", "7"], ["Repeat", "6"], ["Repeat", "2"], ["Repeat", "2"],
        ["Nobody asked", "1"], ["Nobody asked", "6"], ["Nobody asked", "4"],
        ["DELETE", held, "32"], ["DELETE", held, "ok"],
    ], got)
    c.eq("file after its release and deletion", False, os.path.exists(s.prefix.unix(held)))

    timeout_log = s.driver_log(join(TOOLS, "timeout.log"))
    c.eq("time-out logged for the sleeping program", True, timeout_log.timed_out)
    c.eq("exit code of the killed program", 124, timeout_log.exit_code)

    # Windows keeps the current directory with a trailing backslash.
    child_log = s.driver_log(join(TOOLS, "child.log"))
    c.eq("children logged (command line, current directory)",
         [(f'"{box}" --sleep 600000', child_dir + "\\"), (f'"{box}" --sleep 600000', late_dir + "\\")],
         child_log.children)
    c.eq("children whose parameters could not be read (error, executable)", [], child_log.unreadable_children)
    c.eq("exit code of the program that started the children", 0, child_log.exit_code)


CASES = [
    Case(name="driver_answers_boxes", run=driver_selftest, windows="winxp",
         summary="the test driver answers boxes, kills at its time-out, logs children, and vhold holds a file"),
    install_case(
        "xp_quiet_all_keys", "winxp",
        "XP, every quiet key, a directory with blanks, BaseRegistry 0, Support and About: "
        "everything installed, no box",
        {"FTPSetup": {"DestinationDir": r"C:\Program Files\VORTAN\FTP", "BaseRegistry": "0",
                      "ProfileMode": "yes", "Lock": " -7", "LockFTP": "12abc"},
         "Support": SUPPORT, "About": ABOUT}),
    install_case(
        "win10_hkcu_group_with_blanks_box", "win10",
        "Windows 10, BaseRegistry 2, a group name with blanks, no shortcut, UseGroup missing: "
        "the success box appears and is answered",
        {"FTPSetup": {"DestinationDir": r"C:\Apps\VORTAN FTP", "BaseRegistry": "2",
                      "UseAllUsersCommonFolderAsWorkingDir": "Y"},
         "Program Group": {"UseGroup": None, "GroupName": "VORTAN Tools and Docs", "ShortCut": "N"},
         "Support": {"Line1": "Only the first support line"}}),
    install_case(
        "win98_user_desktop", "win98",
        "Windows 98, default directory: the shortcut goes to the user's desktop and the "
        "installation succeeds",
        {"FTPSetup": {"DestinationDir": None, "UseAllUsersCommonFolderAsWorkingDir": "Y"},
         "About": {"Name": "Example Corp IT"}}),

    # Quiet removal (lib/uninstall.py): install, remove with a SETUP.INI that
    # has QuietModeUnInstall=Y, check, then restart with wineboot -r and check
    # that the deferred deletions were carried out.
    removal_case(
        "xp_remove_same_session", "winxp",
        "XP, removal right after the installation in the same desktop session, data in the working "
        "folder: everything goes, Program Files\\VORTAN (made by the installation) too, the success box",
        {}, working_files=(r"Transfer\queue.dat", r"Config\user.cfg", r"Traces\ftp.log", "notes.txt")),
    removal_case(
        "win7_remove_held_file", "win7",
        "Windows 7, a data file held open: its deletion waits for the restart, the reboot question "
        "is answered No, the restart deletes it",
        {}, held=r"Transfer\busy.dat"),
    removal_case(
        "win98_remove_wininit", "win98",
        "Windows 98, a held file in Config: NUL= lines in WININIT.INI name short paths, the restart "
        "deletes the files",
        {"FTPSetup": {"DestinationDir": None}}, held=r"Config\busy.cfg"),
    removal_case(
        "xp_remove_later_session", "winxp",
        "XP, removal in a later desktop session (the Program Manager server has no active group) by the "
        "installed UNINS.EXE: the group and its items are still deleted, UNINS.EXE goes at the restart",
        {}, later_session=True, uninstaller=True),
    removal_case(
        "win10_remove_per_user", "win10",
        "Windows 10, a per-user installation (BaseRegistry 2) removed with only QuietModeUnInstall: "
        "found in HKCU and removed",
        {"FTPSetup": {"BaseRegistry": "2", "DestinationDir": r"C:\Apps\VORTAN FTP",
                      "UseAllUsersCommonFolderAsWorkingDir": "Y"}}),
    # The shipped 32-bit Setup.exe in a 64-bit prefix (WOW64): the default
    # directory is Program Files (x86), the machine's records go under
    # Wow6432Node (lib/install.py, check_wow64_places).
    install_case(
        "win10_x64_quiet_default_dir", "win10",
        "Windows 10 x64 (WOW64), no DestinationDir: installed in Program Files (x86), the product key, uninstall "
        "entry and server class under Wow6432Node, the success box",
        {"FTPSetup": {"DestinationDir": None}}, wow64=True),
    removal_case(
        "win10_x64_remove", "win10",
        "Windows 10 x64 (WOW64), quiet removal of an installation in Program Files (x86) with data in the working "
        "folder: everything goes from both registry views, Program Files (x86)\\VORTAN too",
        {"FTPSetup": {"DestinationDir": None}}, wow64=True,
        working_files=(r"Transfer\queue.dat", "notes.txt")),
    removal_case(
        "xp_remove_not_installed", "winxp",
        "XP, removal with nothing installed: one error box and nothing changes",
        None),
]
