"""Wine scenarios of the interactive wizard: vdriver.exe plays the user
through the property sheet's pages (lib/wizard.py), the watcher takes a
screenshot of every page, and the checks read back what the choices made."""
from __future__ import annotations

import dataclasses
import os
import shutil

from lib import setupini
from lib.checks import Checks
from lib.install import UNINSTALL_KEY, Expected, check_installation, default_install_dir, join
from lib.scenario import DIST, TOOLS, Case, Paths, Session
from lib.uninstall import (INSTALL_LOG, REBOOT_TEXT, Plan, RemovalCase, Snapshot, check_after_removal,
                           check_after_restart, check_install_run, group_question, listing_command, make_files_command,
                           pending_operations, read_listing)
from lib.winereg import Registry
from lib.wineenv import WINDOWS_VERSIONS
from lib.wizard import BACK, CANCEL, FINISH, NEXT, Script, WizardLog, png_colours, png_size, \
    shot_files, own_decorations, watcher_start, watcher_stop, wizard_command
from lib.wizard import install_script as install_script_file

VSHEET_CAPTION = "VSheet Wizard"

CAPTION = "VORTAN FTP Setup"
SETUP_TYPE, AGREEMENT, DIRECTORIES, PROGRAM_GROUP, LAUNCH = 1001, 1002, 1003, 1004, 1005
STEP_LABEL = 227
INSTALL, UNINSTALL = 218, 221
AGREEMENT_TEXT, AGREE_YES, AGREE_NO = 401, 244, 245
INSTALL_DIR, WORKING_DIR, USE_PERSONAL, USE_COMMON = 203, 240, 242, 246
USE_GROUP, GROUP_NAME, DESKTOP_SHORTCUT = 207, 208, 232
LAUNCH_HELP, LAUNCH_PROGRAM = 646, 647
INSTALL_BOX = "VORTAN FTP Install"
UNINSTALL_BOX = "VORTAN FTP Uninstall"
# What the page titles read, as the sheet shows them (a wizard's caption is
# its current page's).
PAGE_CAPTIONS = {
    SETUP_TYPE: CAPTION, AGREEMENT: CAPTION,
    DIRECTORIES: "Installation and Working Directories",
    PROGRAM_GROUP: "Program Group, Program Icons, Desktop Shortcuts",
    LAUNCH: "Launch Selected Items",
}
# A SETUP.INI without any quiet key: the wizard's own defaults rule.
WIZARD_INI = {"FTPSetup": {"BaseRegistry": "0"}}


def copy_tool(s: Session, name: str) -> None:
    shutil.copy2(os.path.join(s.paths.drivers, name), s.tools)


# Set to a folder (docs/screenshots) to keep the pictures of the product's
# pages (named page*) of a run there; the cases never write outside their
# prefixes otherwise.
KEEP_SHOTS = os.environ.get("WINE_TEST_KEEP_SHOTS")


def check_shots(c: Checks, s: Session, names: list[str], visits) -> None:
    """Every page asked for has a picture of the sheet, not a blank screen."""
    files = shot_files(s)
    if KEEP_SHOTS:
        os.makedirs(KEEP_SHOTS, exist_ok=True)
        for name in names:
            if name in files and name.startswith("page"):
                shutil.copyfile(files[name], os.path.join(KEEP_SHOTS, f"{name}.png"))
    for name in names:
        path = files.get(name)
        if not c.that(f"screenshot {name}.png", path is not None, "written", f"missing (have {sorted(files)})"):
            continue
        size = png_size(path)
        c.that(f"screenshot {name}.png size", size is not None and size[0] >= 300 and size[1] >= 200,
               "a PNG of a sheet (at least 300x200)", f"{size}")
        colours = png_colours(path)
        if colours is not None:
            c.that(f"screenshot {name}.png content", colours > 8, "more than 8 colours (a drawn sheet)",
                   f"{colours} colours (blank?)")
    logged = [v.shot for v in visits if v.shot]
    c.eq("screenshots the driver logged", len(names), len(logged))


def driver_drives_sheet(case: Case, paths: Paths, c: Checks) -> None:
    """vdriver's wizard steps on a property sheet of its own (vsheet.exe):
    pages are told by their template, clicks, typed texts and presses reach
    the program, Back returns, a disabled button cannot be pressed, boxes
    are answered while the script waits, screenshots arrive."""
    s = case.session = Session(paths, case.name, case.windows)
    copy_tool(s, "vsheet.exe")
    results = join(TOOLS, "vsheet.txt")
    program = [join(TOOLS, "vsheet.exe"), VSHEET_CAPTION, results]

    full = (Script().sheet(VSHEET_CAPTION)
            .visit(1001, "sheet1").read(227).click(221).click(218).press(NEXT)
            .visit(1002, "sheet2").read(401).click(244).buttons().press(NEXT)
            .visit(1003, "sheet3").settext(203, r"C:\Apps\Vortan FTP").settext(240, "").press(BACK)
            .page(1002).press(NEXT)
            .page(1003).read(203, 240).press(NEXT)
            .visit(1004, "sheet4").click(207).settext(208, "My Tools (x86)").press(NEXT)
            .visit(1005, "sheet5").click(646).press(FINISH)
            .box("VSheet").closed())
    refused = Script().sheet(VSHEET_CAPTION).page(1001).press(NEXT).page(1002).press(NEXT).page(1003)
    install_script_file(s, full)
    install_script_file(s, refused, join(TOOLS, "refused.txt"))
    s.run([
        own_decorations(s),
        watcher_start(s),
        wizard_command(s, program, TOOLS, {"VSheet": "OK"}, 60),
        wizard_command(s, program, TOOLS, {}, 60, script=join(TOOLS, "refused.txt"),
                       log=join(TOOLS, "refused.log")),
        watcher_stop(s),
    ], 120)

    log = WizardLog(s.driver_log())
    c.eq("steps that failed", [], log.failures)
    c.eq("pages arrived at, in order", [1001, 1002, 1003, 1002, 1003, 1004, 1005], log.pages)
    visits = log.visits()
    if len(visits) == 7:
        c.eq("step label of page 1", "1-5", visits[0].controls.get(227) and visits[0].controls[227].text)
        c.eq("radio 218 after clicking 221 and 218", "checked", visits[0].controls[218].check)
        c.eq("buttons on page 1", {"back": "disabled", "next": "enabled", "finish": "hidden", "cancel": "enabled"},
             visits[0].buttons)
        c.eq("Next on page 2 before Yes", "disabled", visits[1].buttons.get("next"))
        c.eq("Next on page 2 after Yes", "enabled", visits[1].later_buttons[-1].get("next"))
        c.that("rich edit text of page 2", visits[1].controls[401].text.startswith("First line of the text."),
               "the text the program set", repr(visits[1].controls[401].text[:60]))
        c.eq("typed directory after Back and Next", r"C:\Apps\Vortan FTP", visits[4].controls[203].text)
        c.eq("emptied working directory", "", visits[4].controls[240].text)
        c.eq("buttons on page 5", "enabled", visits[6].buttons.get("finish"))
    c.eq("boxes answered", [("VSheet", "Sheet done", "OK", True)],
         [(b.caption, b.text, b.answer, b.scripted) for b in log.log.boxes])
    c.eq("sheet closed", [[]], log.events("CLOSED"))
    c.eq("vsheet exit code (PropertySheet's result after Finish)", 1, log.log.exit_code)
    try:
        with open(s.prefix.unix(results), encoding="cp1252") as f:
            got = dict(line.rstrip("\n").split("\t", 1) for line in f)
    except OSError:
        got = None
    c.eq("what the pages held at Finish", {
        "road": "first", "dir": r"C:\Apps\Vortan FTP", "work": "", "group": "My Tools (x86)",
        "usegroup": "0", "launch": "1"}, got)
    check_shots(c, s, ["sheet1", "sheet2", "sheet3", "sheet4", "sheet5"], visits)

    refused_log = WizardLog(s.driver_log(join(TOOLS, "refused.log")))
    c.eq("pressing the disabled Next on page 2",
         [["5", "press NEXT", "the next button is disabled"]], refused_log.failures)
    c.eq("program ended after the refused step (killed)", 124, refused_log.log.exit_code)


def install_script(install_dir: str | None, group: str, shots: bool = True, back_on: int = PROGRAM_GROUP,
                   more_on_agreement=None) -> Script:
    """Install through the five pages: Yes to the agreement, the typed
    directory and group, both launch boxes cleared, Back once from the page
    back_on, Finish, and the success box."""
    shot = (lambda name: name) if shots else (lambda name: None)
    sc = Script().sheet(CAPTION)
    sc.visit(SETUP_TYPE, shot("page1")).press(NEXT)
    sc.visit(AGREEMENT)
    if more_on_agreement:
        more_on_agreement(sc)
    sc.click(AGREE_YES).buttons()
    if shots:
        sc.shot("page2")
    sc.press(NEXT)
    sc.visit(DIRECTORIES)
    if install_dir is not None:
        sc.settext(INSTALL_DIR, install_dir)
    # The personal-folder box off and on again: unbound, the working
    # directory follows the installation directory and the common-folder box
    # is offered (from Windows 2000 on); bound again, it is the personal one.
    sc.click(USE_PERSONAL).read(USE_COMMON, WORKING_DIR).click(USE_PERSONAL).read(USE_COMMON, WORKING_DIR)
    if shots:
        sc.shot("page3")
    sc.press(NEXT)
    sc.visit(PROGRAM_GROUP)
    if back_on == PROGRAM_GROUP:
        # Back once: the directory typed on page 3 must still be there.
        sc.press(BACK).visit(DIRECTORIES).press(NEXT).visit(PROGRAM_GROUP)
    sc.settext(GROUP_NAME, group).read(GROUP_NAME, USE_GROUP, DESKTOP_SHORTCUT)
    if shots:
        sc.shot("page4")
    sc.press(NEXT)
    sc.visit(LAUNCH).click(LAUNCH_HELP).click(LAUNCH_PROGRAM)
    if shots:
        sc.shot("page5")
    return sc.press(FINISH).box(INSTALL_BOX).closed()


def check_page_walk(c: Checks, visits, expected_pages: list[int]) -> None:
    """The pages came in order, each with its title, its step label, and the
    buttons a user could press there."""
    c.eq("pages arrived at, in order", expected_pages, [v.template for v in visits])
    for v in visits:
        n = v.template - SETUP_TYPE + 1
        c.eq(f"page {n} caption", PAGE_CAPTIONS[v.template], v.caption)
        label = v.controls.get(STEP_LABEL)
        c.eq(f"page {n} step label", f"{n}-5", label.text if label else None)
        want = {"back": "disabled" if n == 1 else "enabled", "cancel": "enabled"}
        if n == 2:
            want["next"] = "disabled"           # until Yes is chosen
        elif n == 5:
            want["finish"] = "enabled"
        else:
            want["next"] = "enabled"
        c.eq(f"page {n} buttons on arrival", want, {k: v.buttons.get(k) for k in want})


def wizard_session(case: Case, paths: Paths, ini: setupini.Ini) -> Session:
    s = case.session = Session(paths, case.name, case.windows)
    s.make_dist()
    setupini.write(os.path.join(s.dist, "SETUP.INI"), ini)
    return s


def run_session(s: Session, script: Script, program: list[str], cwd: str, answers: dict, timeout: int,
                shorts: list[str] = (), before: list = ()) -> WizardLog:
    install_script_file(s, script)
    s.run([own_decorations(s), watcher_start(s)] + list(before) +
          [wizard_command(s, program, cwd, answers, timeout, shorts), watcher_stop(s)], timeout)
    return WizardLog(s.driver_log())


def expected_after_wizard(windows: str, user: str, install_dir: str, group: str, ini: setupini.Ini,
                          wow64: bool = False) -> Expected:
    """What the wizard's choices must produce: the same as a quiet
    installation told the same things, except that the success box shows."""
    told = setupini.merge(ini, {"FTPSetup": {"DestinationDir": install_dir},
                                "Program Group": {"UseGroup": "Y", "GroupName": group, "ShortCut": "Y"}})
    return dataclasses.replace(Expected.derive(told, windows, user, wow64), quiet_complete=False)


def wizard_install(case: Case, paths: Paths, c: Checks, install_dir: str | None, group: str,
                   expect_rich: bool, shots: bool = True) -> WizardLog:
    """install_dir None keeps the directory the wizard proposes."""
    s = wizard_session(case, paths, WIZARD_INI)
    exp = expected_after_wizard(case.windows, s.prefix.user(), install_dir or default_install_dir(s.wow64), group,
                                WIZARD_INI, s.wow64)
    shorts = [join(exp.install_dir, f) for f in ("QXFTP.EXE", "UNINS.EXE")]
    log = run_session(s, install_script(install_dir, group, shots), [join(DIST, "Setup.exe")], DIST,
                      {INSTALL_BOX: "OK"}, case.timeout, shorts)
    c.eq("steps that failed", [], log.failures)
    visits = log.visits()
    check_page_walk(c, visits, [SETUP_TYPE, AGREEMENT, DIRECTORIES, PROGRAM_GROUP, DIRECTORIES, PROGRAM_GROUP,
                                LAUNCH])
    by_page = {}
    for v in visits:
        by_page.setdefault(v.template, []).append(v)
    if AGREEMENT in by_page:
        check_agreement(c, by_page[AGREEMENT][0], expect_rich)
        c.eq("Next on page 2 after Yes", "enabled", by_page[AGREEMENT][0].later_buttons[-1].get("next"))
    if len(by_page.get(DIRECTORIES, [])) == 2:
        first, again = by_page[DIRECTORIES]
        shown = exp.install_dir
        if install_dir is None:
            # Only XP gets the default directory when the wizard starts; the
            # other systems get it when the installation begins.
            shown = exp.install_dir if case.windows == "winxp" else ""
            c.eq("installation directory proposed", shown, first.reads(INSTALL_DIR)[0].text
                 if first.reads(INSTALL_DIR) else first.controls[INSTALL_DIR].text)
        else:
            typed = next((e for e in first.events if e[0] == "SETTEXT"), None)
            c.eq("installation directory as typed", install_dir, typed and typed[3])
        c.eq("installation directory after Back", shown,
             again.controls.get(INSTALL_DIR) and again.controls[INSTALL_DIR].text)
        commons, workings = first.reads(USE_COMMON), first.reads(WORKING_DIR)
        if len(commons) == 2 and len(workings) == 2:
            state = lambda ctl: (ctl.text, "enabled" if ctl.enabled else "disabled")
            c.eq("working directory with the personal folder off", (shown, "enabled"), state(workings[0]))
            c.eq("common-folder box with the personal folder off",
                 "enabled" if WINDOWS_VERSIONS[case.windows][1] >= 5 else "disabled",
                 "enabled" if commons[0].enabled else "disabled")
            c.eq("working directory with the personal folder on again", (exp.working_dir, "disabled"),
                 state(workings[1]))
            c.eq("common-folder box with the personal folder on again", "disabled",
                 "enabled" if commons[1].enabled else "disabled")
        else:
            c.fail("reads of the working directory and the common-folder box", "two each",
                   f"{len(workings)} and {len(commons)}")
    if shots:
        check_shots(c, s, ["page1", "page2", "page3", "page4", "page5"], visits)
    check_installation(c, s.prefix, exp, log.log, s.dist, paths.product, paths.setup_exe)
    return log


def check_agreement(c: Checks, visit, expect_rich: bool) -> None:
    text = visit.controls.get(AGREEMENT_TEXT)
    if not c.that("agreement control 401", text is not None and not text.missing, "present", "missing"):
        return
    c.eq("agreement control class", "RichEdit20A", text.cls)
    c.that("agreement text", len(text.text) > 1000, "over 1000 characters", f"{len(text.text)} characters")
    c.that("agreement text shown as text", not text.text.lstrip().startswith("{\\rtf"),
           "not Rich Text source", repr(text.text[:40]))
    c.that("agreement title", text.text.lstrip().startswith("VORTAN FTP SOFTWARE LICENSE AGREEMENT"),
           "starts with the title", repr(text.text[:60]))
    # The plain-text variant keeps the file's own line breaks inside each
    # paragraph; the Rich Text variant has one line per paragraph.
    wrapped = "legal agreement between\r\nyou" in text.text or "legal agreement between\ryou" in text.text \
        or "legal agreement between\nyou" in text.text
    c.eq("agreement variant", "Rich Text" if expect_rich else "plain text", "plain text" if wrapped else "Rich Text")
    no = visit.controls.get(AGREE_NO)
    c.eq("agreement answer on arrival", "checked", no.check if no else None)


def xp_wizard(case: Case, paths: Paths, c: Checks) -> None:
    wizard_install(case, paths, c, r"C:\Apps\Vortan FTP", "VORTAN Wizard Tools", expect_rich=True)


def win98_wizard(case: Case, paths: Paths, c: Checks) -> None:
    # Windows 98 reports 4.10 on the 9x platform: the Rich Text agreement
    # (only 95 and NT 4 get the plain text). The directory and the group
    # stay as the wizard proposes them.
    wizard_install(case, paths, c, None, "VORTAN FTP", expect_rich=True, shots=False)


def nt4_agreement(case: Case, paths: Paths, c: Checks) -> None:
    """NT 4.0 gets the plain-text agreement; Cancel on that page leaves
    without a box."""
    s = wizard_session(case, paths, WIZARD_INI)
    script = (Script().sheet(CAPTION).visit(SETUP_TYPE).press(NEXT)
              .visit(AGREEMENT, "agreement_plain").press(CANCEL).closed())
    log = run_session(s, script, [join(DIST, "Setup.exe")], DIST, {}, case.timeout)
    c.eq("steps that failed", [], log.failures)
    visits = log.visits()
    check_page_walk(c, visits, [SETUP_TYPE, AGREEMENT])
    if len(visits) == 2:
        check_agreement(c, visits[1], expect_rich=False)
    c.eq("boxes", [], [(b.caption, b.text) for b in log.log.boxes])
    c.eq("Setup.exe exit code", 1, log.log.exit_code)
    check_shots(c, s, ["agreement_plain"], visits)


def xp_wizard_cancel(case: Case, paths: Paths, c: Checks) -> None:
    """With nothing installed, Uninstall and Finish give the error box and
    the sheet stays on page 1; then, in a second run, Cancel on the
    directories page after a directory was typed gives no box. Neither run
    changes anything in drive C: or the registry."""
    s = wizard_session(case, paths, WIZARD_INI)
    untouched = Snapshot.take(s.prefix)
    typed = r"C:\Apps\Cancelled FTP"
    not_found = join(TOOLS, "notfound.txt")
    not_found_log = join(TOOLS, "notfound.log")
    install_script_file(s, Script().sheet(CAPTION).page(SETUP_TYPE).click(UNINSTALL).press(FINISH)
                        .box("Uninstall Error").visit(SETUP_TYPE).read(UNINSTALL).press(CANCEL).closed(),
                        not_found)
    script = (Script().sheet(CAPTION).visit(SETUP_TYPE).press(NEXT)
              .visit(AGREEMENT).click(AGREE_YES).press(NEXT)
              .visit(DIRECTORIES).settext(INSTALL_DIR, typed).press(CANCEL).closed())
    program = [join(DIST, "Setup.exe")]
    log = run_session(s, script, program, DIST, {}, case.timeout, before=[
        wizard_command(s, program, DIST, {"Uninstall Error": "OK"}, case.timeout, script=not_found,
                       log=not_found_log)])

    first = WizardLog(s.driver_log(not_found_log))
    c.eq("nothing installed: steps that failed", [], first.failures)
    c.eq("nothing installed: boxes", [("Uninstall Error", "Unable to locate VORTAN FTP in the Registry.", "OK")],
         [(b.caption, b.text, b.answer) for b in first.log.boxes])
    c.eq("nothing installed: pages (the sheet stays on page 1)", [SETUP_TYPE, SETUP_TYPE], first.pages)
    visits = first.visits()
    if len(visits) == 2:
        after = visits[1]
        c.eq("nothing installed: page 1 after the box", ("checked", "1-1", "enabled"),
             (after.reads(UNINSTALL)[0].check if after.reads(UNINSTALL) else None,
              after.controls[STEP_LABEL].text if STEP_LABEL in after.controls else None,
              after.buttons.get("finish")))
    c.eq("nothing installed: exit code", 1, first.log.exit_code)

    c.eq("steps that failed", [], log.failures)
    check_page_walk(c, log.visits(), [SETUP_TYPE, AGREEMENT, DIRECTORIES])
    c.eq("boxes", [], [(b.caption, b.text) for b in log.log.boxes])
    c.eq("Setup.exe exit code", 1, log.log.exit_code)
    c.eq("driver time-out", False, log.log.timed_out)
    # The agreement is unpacked to the temporary folder and deleted again;
    # the folder's own time may change.
    temps = {rf"changed C:\users\{s.prefix.user()}\{t}".lower() for t in ("Temp", r"AppData\Local\Temp")}
    changes = [ch for ch in untouched.changes(Snapshot.take(s.prefix)) if ch.lower() not in temps]
    c.eq("what the cancelled wizard changed in drive C: and the registry", [], changes)
    reg = Registry(s.prefix.path)
    c.that(r"no HKLM\Software\VORTAN", not reg.key_exists("HKLM", r"Software\VORTAN"), "absent", "present")
    c.that(rf"no HKLM\{UNINSTALL_KEY}", not reg.key_exists("HKLM", UNINSTALL_KEY), "absent", "present")
    c.that(f"no {typed}", not os.path.exists(s.prefix.unix(typed)), "absent", "present")


def xp_wizard_uninstall(case: RemovalCase, paths: Paths, c: Checks) -> None:
    """Add/Remove Programs starts the installed Unins.Exe from its registry
    entry, in its own directory, where there is no SETUP.INI: the wizard
    comes up, Uninstall and Finish remove the product. Unins.Exe is running,
    so its own deletion waits for the restart and the reboot question comes."""
    s = case.session = Session(paths, case.name, case.windows)
    prefix = s.prefix
    s.make_dist()
    setupini.write(os.path.join(s.dist, "SETUP.INI"), case.ini)
    exp = Expected.derive(case.ini, case.windows, prefix.user(), s.wow64)
    plan = Plan(case, exp)
    before_file = os.path.join(prefix.root, "before.txt")
    prefix.run_session([s.set_version_command(),
                        s.driver_command([join(DIST, "Setup.exe")], DIST, {"VORTAN FTP Install": "OK"}, 120,
                                         log=INSTALL_LOG),
                        *make_files_command(prefix, plan.working_paths()),
                        listing_command(prefix, [exp.install_dir, exp.working_dir], before_file)],
                       "install", 300)
    check_install_run(c, s.driver_log(INSTALL_LOG), exp)
    before = read_listing(prefix, before_file)

    entry = Registry(prefix.path, view32=exp.wow64).value("HKLM", UNINSTALL_KEY, "UninstallString")
    recorded = entry.text() if entry else ""
    # The value is a command line with the program path in quotes.
    quoted = len(recorded) > 2 and recorded.startswith('"') and recorded.endswith('"')
    if not c.that("UninstallString after the installation", quoted, "a quoted program path", repr(recorded)):
        return
    command = recorded[1:-1]
    directory = command.rsplit("\\", 1)[0]
    c.that(rf"no SETUP.INI in {directory}", not any(n.lower() == "setup.ini"
                                                     for n in os.listdir(prefix.unix(directory))),
           "absent (Unins.Exe must not find one)", "present")

    script = (Script().sheet(CAPTION).visit(SETUP_TYPE).click(UNINSTALL).read(STEP_LABEL).buttons()
              .shot("page1_uninstall").press(FINISH)
              .box(UNINSTALL_BOX).box(UNINSTALL_BOX).closed())
    install_script_file(s, script)
    prefix.run_session([s.set_version_command(), own_decorations(s), watcher_start(s),
                        wizard_command(s, [command], directory, {UNINSTALL_BOX: "YES,NO"}, case.timeout),
                        watcher_stop(s)], "removal", case.timeout + 300)
    log = WizardLog(s.driver_log())
    c.eq("steps that failed", [], log.failures)
    visits = log.visits()
    c.eq("pages arrived at", [SETUP_TYPE], [v.template for v in visits])
    if visits:
        page = visits[0]
        c.eq("step label with Uninstall chosen", "1-1", page.controls[STEP_LABEL].text
             if STEP_LABEL in page.controls else None)
        c.eq("buttons with Uninstall chosen", {"back": "disabled", "next": "hidden", "finish": "enabled",
                                               "cancel": "enabled"}, page.later_buttons[-1] if page.later_buttons
             else None)
        c.eq("Uninstall radio", "checked", page.controls[UNINSTALL].check if UNINSTALL in page.controls else None)
    c.eq("driver time-out", False, log.log.timed_out)
    c.eq("Unins.Exe exit code", 1, log.log.exit_code)
    c.eq("boxes (caption, text, answer)",
         [(UNINSTALL_BOX, group_question(exp.group_name), "YES"), (UNINSTALL_BOX, REBOOT_TEXT, "NO")],
         [(b.caption, b.text, b.answer) for b in log.log.boxes])
    c.eq("unscripted boxes", [], [b.caption for b in log.log.boxes if not b.scripted])
    check_shots(c, s, ["page1_uninstall"], visits)

    reg = Registry(prefix.path, view32=exp.wow64)
    unins = join(exp.install_dir, "UNINS.EXE").lower()
    c.that("UNINS.EXE pending deletion", (unins, "") in [(a.lower(), b) for a, b in pending_operations(reg)],
           "listed in PendingFileRenameOperations", f"not listed: {pending_operations(reg)}")
    deferred = check_after_removal(c, plan, prefix, reg, log.log, before)
    prefix.run_session([s.set_version_command(), [s.wine, "wineboot", "-r"]], "restart", 300)
    check_after_restart(c, plan, prefix, Registry(prefix.path, view32=exp.wow64), before, deferred)


def win10_x64_wizard(case: Case, paths: Paths, c: Checks) -> None:
    # The directory the wizard proposes: Program Files (x86) for the 32-bit
    # program on a 64-bit system.
    wizard_install(case, paths, c, None, "VORTAN FTP", expect_rich=True, shots=False)


CASES = [
    Case(name="driver_drives_wizard", run=driver_drives_sheet, windows="winxp",
         summary="the test driver plays a wizard sheet: pages, clicks, typing, Back, boxes, screenshots"),
    Case(name="xp_wizard_install", run=xp_wizard, windows="winxp",
         summary="XP, the five wizard pages: typed directory and group, Back once, no launches; "
                 "everything installed, the success box, a screenshot of every page"),
    Case(name="win98_wizard_install", run=win98_wizard, windows="win98",
         summary="Windows 98, the wizard with its proposed directory and group: the agreement shows, "
                 "the common folder is not offered, everything installed"),
    Case(name="nt4_wizard_agreement", run=nt4_agreement, windows="nt40",
         summary="NT 4.0: the plain-text agreement; Cancel on that page leaves without a box"),
    RemovalCase(name="xp_wizard_uninstall", run=xp_wizard_uninstall, windows="winxp",
                ini=setupini.QUIET_ALL_KEYS,
                summary="XP, the installed Unins.Exe started as Add/Remove Programs does: Uninstall, "
                        "Finish, group Yes, reboot No; removed, Unins.Exe deleted at the restart"),
    RemovalCase(name="xp_wizard_uninstall_machine_working_dir", run=xp_wizard_uninstall, windows="winxp",
                ini=setupini.merge(setupini.QUIET_ALL_KEYS,
                                   {"FTPSetup": {"BaseRegistry": "1", "UsePersonalFolderAsWorkingDir": "Y"}}),
                working_files=(r"Transfer\queue.dat", "notes.txt"),
                summary="XP, BaseRegistry 1 with the personal working folder (recorded in HKLM), the installed "
                        "Unins.Exe through the wizard without a SETUP.INI: the working folder under "
                        "Documents and the data in it are removed too"),
    Case(name="win10_x64_wizard_install", run=win10_x64_wizard, windows="win10", wow64=True,
         summary="Windows 10 x64 (the 32-bit Setup.exe in a 64-bit prefix), the wizard with its proposed directory: "
                 "installed in Program Files (x86), records under Wow6432Node"),
    RemovalCase(name="win10_x64_wizard_uninstall", run=xp_wizard_uninstall, windows="win10", wow64=True,
                ini=setupini.merge(setupini.QUIET_ALL_KEYS, {"FTPSetup": {"DestinationDir": None}}),
                summary="Windows 10 x64 (WOW64), the installed Unins.Exe through the wizard: Uninstall, Finish, "
                        "group Yes, reboot No; both registry views empty, Unins.Exe deleted at the restart"),
    Case(name="xp_wizard_cancel", run=xp_wizard_cancel, windows="winxp",
         summary="XP, nothing installed: Uninstall gives the error box and stays on page 1; Cancel on the "
                 "directories page: no box; nothing changed"),
]
