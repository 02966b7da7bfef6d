"""Parity cases: each tests/scenarios/*.scn played under Wine, its canonical
state dump written to build/parity/<scenario>.wine.txt and compared with the
one winsim leaves (build/parity/<scenario>.winsim.txt).

Both sides install the same distribution, build/parity/dist, which
tools/mkdist makes here from the Windows build under test. The winsim side
is run from here too, for the one scenario, with PARITY_DIST pointing at that
distribution: make unit-test may have run before the Windows build existed,
and the hashes only compare when both used the very same files.
"""
from __future__ import annotations

import fcntl
import os
import shlex
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "tests"))

from parity import scenario as scn  # noqa: E402

from lib import shelllink  # noqa: E402
from lib.progman import served_anyway, without_progman  # noqa: E402
from lib.checks import Checks  # noqa: E402
from lib.install import expected_tree, join, sanitize_group  # noqa: E402
from lib.scenario import DIST, TOOLS, Case, Paths, Session  # noqa: E402
from lib.uninstall import HOLD_EVENT, pending_operations, wininit_renames, windows_path  # noqa: E402
from lib.wineenv import WINDOWS_VERSIONS  # noqa: E402
from lib.wizard import install_script, wizard_command  # noqa: E402
from lib.winereg import REG_EXPAND_SZ, REG_MULTI_SZ, REG_SZ, TYPE_NAMES, Registry  # noqa: E402

SCENARIOS = os.path.join(REPO, "tests", "scenarios")
# PARITY_OUT moves the dumps and the shared distribution (the winsim side
# reads the same variable), so that two builds under test never share them.
OUT = os.environ.get("PARITY_OUT") or os.path.join(REPO, "build", "parity")
REMOVE_DIR = r"C:\remove"
INSTALL_LOG = TOOLS + r"\install.log"
REMOVE_LOG = TOOLS + r"\remove.log"
INSTALL_WIZARD = TOOLS + r"\install-wizard.txt"
REMOVE_WIZARD = TOOLS + r"\remove-wizard.txt"
DEFAULT_INSTALL_DIR = r"C:\Program Files\VORTAN\FTP"
DEFAULT_INSTALL_DIR_X86 = r"C:\Program Files (x86)\VORTAN\FTP"
DESKTOP_LINK = "vortan ftp.lnk"
REG_ROOTS = (r"Software\VORTAN", r"Software\Microsoft\Windows\CurrentVersion\Uninstall\VORTAN FTP",
             r"Software\Classes\.qft", r"Software\Classes\Keldra.FTP.1")
# Where the same keys of the 32-bit program are in a 64-bit prefix, shown as
# stored (winsim's dump shows them where its redirector put them too).
REG_ROOTS_WOW64 = (r"Software\Wow6432Node\VORTAN",
                   r"Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\VORTAN FTP",
                   r"Software\Classes\Wow6432Node\.qft", r"Software\Classes\Wow6432Node\Keldra.FTP.1")
NO_USER_RIGHTS = ("Wine enforces no user rights, so a standard user's scenario is winsim's alone "
                  "(setupcheck's player, tests/unit/test_parity_scenarios.cpp)")
DATA_DIRS = ("Transfer", "Traces", "Config", "Certs", "Cache", "Docs")


def shared_dist(paths: Paths) -> str:
    """build/parity/dist, made again whenever the Setup.exe under test is
    newer than the one it holds. Concurrent cases wait on a lock."""
    dist = os.path.join(OUT, "dist")
    os.makedirs(OUT, exist_ok=True)
    with open(os.path.join(OUT, "dist.lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        have = os.path.join(dist, "Setup.exe")
        if not os.path.exists(have) or os.path.getmtime(have) < os.path.getmtime(paths.setup_exe) \
                or not filecmp_same(have, paths.setup_exe):
            shutil.rmtree(dist, ignore_errors=True)
            run = subprocess.run([paths.mkdist, paths.product, paths.setup_exe, dist, paths.szddpack],
                                 capture_output=True, text=True, timeout=300)
            if run.returncode != 0:
                raise RuntimeError(f"tools/mkdist failed: {run.stderr.strip() or run.stdout.strip()}")
    return dist


def filecmp_same(a: str, b: str) -> bool:
    with open(a, "rb") as fa, open(b, "rb") as fb:
        return fa.read() == fb.read()


def run_winsim(name: str, dist: str, paths: Paths) -> str:
    """Runs the winsim side of one scenario; returns its dump."""
    unit_tests = os.path.join(paths.native_build, "tests", "unit", "unit_tests")
    if not os.path.exists(unit_tests):
        raise RuntimeError(f"{unit_tests} missing (make native)")
    env = dict(os.environ, PARITY_DIST=dist, PARITY_OUT=OUT)
    run = subprocess.run([unit_tests, f"--gtest_filter=Scenarios/ParityTest.WritesTheCanonicalState/{name}"],
                         env=env, capture_output=True, text=True, timeout=120)
    out = os.path.join(OUT, f"{name}.winsim.txt")
    if run.returncode != 0 or not os.path.exists(out):
        raise RuntimeError(f"winsim side failed ({run.returncode}): {run.stdout[-1500:]}")
    with open(out, encoding="utf-8", errors="replace") as f:
        return f.read()


# --- the Wine side's dump ---------------------------------------------------------

def dump_registry(reg: Registry, norm, wow64: bool = False) -> list[str]:
    out = []
    for hive in ("HKLM", "HKCU"):
        keys = reg.hives[hive]
        for root in REG_ROOTS + (REG_ROOTS_WOW64 if wow64 else ()):
            low = root.lower()
            below = sorted(k for k in keys if k == low or k.startswith(low + "\\"))
            shown = set()
            for k in below:
                # Wine leaves out keys with subkeys and no values: the
                # ancestors up to the root are implied.
                rest = keys[k].path[len(root):]
                parts = [p for p in rest.split("\\") if p]
                for n in range(len(parts) + 1):
                    shown.add(root + "".join("\\" + p for p in parts[:n]))
                for name, value in keys[k].values.values():
                    tname = TYPE_NAMES.get(value.type, "REG_OTHER")
                    if value.type in (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ):
                        text = value.text()
                        data = f'"{scn.escape(norm(text))}"' if text is not None \
                            else f"without NUL [{value.data.hex(' ')}]"
                    else:
                        data = f"[{value.data.hex(' ')}]"
                    out.append(f"val {hive}\\{root}{rest} : {name or '@'} = {tname} {data}")
            out += [f"key {hive}\\{k}" for k in shown]
    return out


def dump_files(prefix, root: str, norm) -> list[str]:
    unix = prefix.unix(root)
    if not os.path.isdir(unix):
        return [f"absent {norm(root)}"]
    out = [f"dir {norm(root)}"]
    for dirpath, dirs, files in os.walk(unix):
        for d in dirs:
            out.append(f"dir {norm(windows_path(prefix, os.path.join(dirpath, d)))}")
        for f in files:
            path = os.path.join(dirpath, f)
            with open(path, "rb") as fh:
                data = fh.read()
            out.append(f"file {norm(windows_path(prefix, path))} size={len(data)} fnv={scn.fnv(data)}")
    return out


def dump_shell(prefix, group: str, desktops: list[str], norm) -> list[str]:
    out = []
    folder = os.path.join(prefix.programs_dir(), sanitize_group(group))
    # "." or ".." would name the Programs folder or its parent, which exist
    # whether or not a group was made.
    if sanitize_group(group).strip(" .") and os.path.isdir(folder):
        out.append(f"group {os.path.basename(folder)}")
        out += [f"item {os.path.basename(folder)}\\{n[:-4]}" for n in os.listdir(folder) if n.lower().endswith(".lnk")]
    else:
        out.append(f"no group {group}")
    for desktop in desktops:
        unix = prefix.unix(desktop)
        for n in (os.listdir(unix) if os.path.isdir(unix) else []):
            if n.lower() != DESKTOP_LINK:
                continue
            fields = shelllink.read(os.path.join(unix, n))
            out.append(f"shortcut {norm(join(desktop, n))} | target={norm(fields.get('Local path', ''))}"
                       f" | workdir={norm(fields.get('Working directory', ''))}"
                       f" | description={fields.get('Description', '')}")
    return out


def dump_restart(prefix, reg: Registry, shorts: dict, norm) -> list[str]:
    def strip(p: str) -> str:
        bang = p.startswith("!")
        p = p[1:] if bang else p
        p = p[4:] if p.startswith("\\??\\") else p
        return ("!" if bang else "") + p

    def long_of(p: str) -> str:
        found = shorts.get(p.lower())
        if found:
            return norm(found)
        if p.lower() in {v.lower() for v in shorts.values()}:
            return norm(p)
        return f"<short path unresolved: {norm(p)}>"

    out = [f"pending {norm(strip(src))} -> {norm(strip(dst)) if dst else '(delete)'}"
           for src, dst in pending_operations(reg)]
    for key, value in wininit_renames(prefix) or []:
        out.append(f"wininit NUL={long_of(value)}" if key.upper() == "NUL" else f"wininit {long_of(key)}={long_of(value)}")
    return out


# --- the case ---------------------------------------------------------------------

def setup_command(s: Session, wizard: str | None, script: str, cwd: str, answers: dict, short_paths: list,
                  log: str, program_path: str = join(DIST, "Setup.exe")) -> list[str]:
    """The driver's command for one run of Setup.exe (or of the installed
    UNINS.EXE); a wizard run also plays the scenario's steps."""
    program = [program_path]
    if wizard is None:
        return s.driver_command(program, cwd, answers, 120, short_paths, log=log)
    install_script(s, wizard, script)
    return wizard_command(s, program, cwd, answers, 120, short_paths, script=script, log=log)


def parity_run(case: Case, paths: Paths, c: Checks) -> None:
    s_ = case.scenario
    dist = shared_dist(paths)
    winsim = run_winsim(s_.name, dist, paths)

    s = case.session = Session(paths, case.name, case.windows)
    prefix = s.prefix
    shutil.rmtree(s.dist, ignore_errors=True)
    shutil.copytree(dist, s.dist)
    for gone in s_.missing:
        p = os.path.join(s.dist, gone)
        shutil.rmtree(p) if os.path.isdir(p) else os.remove(p)
    install_dir = scn.ini_value(s_.install_ini, "FTPSetup", "DestinationDir") or \
        (DEFAULT_INSTALL_DIR_X86 if s_.x64 else DEFAULT_INSTALL_DIR)
    group = s_.group or scn.ini_value(s_.install_ini, "Program Group", "GroupName") or "VORTAN FTP"
    user = prefix.user()
    personal, common = rf"C:\users\{user}\Documents", r"C:\users\Public\Documents"
    desktops = [rf"C:\users\{user}\Desktop", r"C:\users\Public\Desktop"]
    tokens = {r"C:\windows": "%WINDIR%", personal: "%PERSONAL%", common: "%COMMONDOCUMENTS%",
              desktops[0]: "%DESKTOP%", desktops[1]: "%COMMONDESKTOP%", r"C:\Program Files": "%PROGRAMFILES%",
              # The user's Programs folder, where a group is made as a folder
              # when no Program Manager answers ("Program Group Folder").
              rf"C:\users\{user}\AppData\Roaming\Microsoft\Windows\Start Menu\Programs": "%PROGRAMS%"}
    if s_.x64:
        # What a 32-bit program is given as Program Files on a 64-bit system.
        tokens[r"C:\Program Files (x86)"] = "%PROGRAMFILESX86%"
    norm = scn.Normaliser(tokens)
    roots = [install_dir, join(personal, "FTP"), join(common, "FTP")]
    roots += [s_.workdir] if s_.workdir else []
    answers = {cap: ",".join(a) for cap, a in s_.answers.items()}

    commands = []
    # A planted program is a real one (the driver's box tester), so that a
    # command line that reached it would start it.
    for plant in s_.plants:
        unix = prefix.unix(plant)
        commands.append(f"mkdir -p {shlex.quote(os.path.dirname(unix))} && "
                        f"cp {shlex.quote(prefix.unix(join(TOOLS, 'vboxtest.exe')))} {shlex.quote(unix)}")
    for seed in s_.registry:
        data = seed.binary().hex() if seed.type == "REG_BINARY" else seed.data
        # A seed names its key as the 32-bit program does: in a 64-bit prefix
        # /reg:32 puts it where that program's writes go (Wow6432Node).
        commands.append([s.wine, "reg", "add", f"{seed.hive}\\{seed.key}", "/v", seed.name, "/t", seed.type,
                         "/d", data, "/f"] + (["/reg:32"] if s_.x64 else []))
    for rel in s_.readonly:
        # Wine shows a file its user may not write as FILE_ATTRIBUTE_READONLY.
        unix = prefix.unix(join(install_dir, rel))
        commands.append(f"mkdir -p {shlex.quote(os.path.dirname(unix))} && printf 'old\\r\\n' > {shlex.quote(unix)}"
                        f" && chmod a-w {shlex.quote(unix)}")
    if s_.install_ini is not None:
        with open(os.path.join(s.dist, "SETUP.INI"), "w", encoding="cp1252", newline="") as f:
            f.write(s_.install_ini)
        commands.append(setup_command(s, s_.install_wizard, INSTALL_WIZARD, DIST, answers, [], INSTALL_LOG))
    held = join(install_dir, s_.held) if s_.held else None
    if scn.has_removal(s_):
        os.makedirs(prefix.unix(REMOVE_DIR))
        if s_.remove_ini is not None:
            with open(os.path.join(prefix.unix(REMOVE_DIR), "SETUP.INI"), "w", encoding="cp1252", newline="") as f:
                f.write(s_.remove_ini)
        if held:
            unix = prefix.unix(held)
            hold_out = os.path.join(prefix.root, "vhold.out")
            commands += [f"mkdir -p {shlex.quote(os.path.dirname(unix))} && printf 'held\\r\\n' > {shlex.quote(unix)}",
                         f"{shlex.quote(s.wine)} {shlex.quote(join(TOOLS, 'vhold.exe'))} {shlex.quote(held)} "
                         f"--event {HOLD_EVENT} --timeout 200 > {shlex.quote(hold_out)} &",
                         f"for i in $(seq 1 600); do grep -q HOLDING {shlex.quote(hold_out)} && break; sleep 0.1; done"]
        # Wine's short names are hashed: the driver asks GetShortPathNameA for
        # every path a 9x restart list may name, after Setup.exe has ended.
        candidates = []
        if WINDOWS_VERSIONS[case.windows][0] == "9x":
            candidates = list(roots) + [join(r, d) for r in roots for d in DATA_DIRS]
            candidates += [join(install_dir, rel) for rel in expected_tree(None, dist, paths.product, paths.setup_exe)]
            candidates += [held] if held else []
        # Add/Remove Programs starts the installed UNINS.EXE in its own
        # directory, where there is no SETUP.INI.
        remover = join(install_dir, "UNINS.EXE") if s_.remover_installed else join(DIST, "Setup.exe")
        commands.append(setup_command(s, s_.remove_wizard, REMOVE_WIZARD,
                                      install_dir if s_.remover_installed else REMOVE_DIR, answers,
                                      list(dict.fromkeys(candidates)), REMOVE_LOG, remover))
        if held:
            commands += [[s.wine, join(TOOLS, "vhold.exe"), "--release", HOLD_EVENT], "wait"]
    if s_.no_progman:
        before, after = without_progman(s)
        commands = before + commands + after
    run = s.run(commands, 240)
    if run.returncode != 0:
        raise RuntimeError(f"session ended with {run.returncode}; see {prefix.root}/session.out")
    if s_.no_progman:
        c.eq("a desktop still served PROGMAN (see session.out)", False, served_anyway(run.stdout))

    boxes, processes, shorts = [], [], {}
    for label, log_path in (("install", INSTALL_LOG), ("remove", REMOVE_LOG)):
        if (label == "install" and s_.install_ini is None) or (label == "remove" and not scn.has_removal(s_)):
            continue
        log = s.driver_log(log_path)
        planted = {p.rsplit("\\", 1)[-1].lower() for p in s_.plants}
        c.eq(f"{label}: planted programs started", [],
             [image for image in log.child_images if image.lower() in planted])
        c.eq(f"{label}: driver time-out", False, log.timed_out)
        c.eq(f"{label}: Setup.exe exit code", 1, log.exit_code)
        boxes += [f"{label} | {b.caption} | {scn.escape(norm(b.text))} | {b.answer}" for b in log.boxes]
        c.eq(f"{label}: wizard steps that failed", [], [" ".join(f) for f in log.events("STEPFAIL")])
        # A current directory keeps its trailing backslash in the process's
        # parameters; winsim records it without.
        processes += [(label, cmd, cwd if len(cwd) <= 3 else cwd.rstrip("\\")) for cmd, cwd in log.children]
        for f in log.events("SHORT"):
            if len(f) >= 2 and not f[1].startswith("!"):
                shorts.setdefault(f[1].lower(), f[0])
    reg = Registry(prefix.path)
    # Where the program says it installed wins over what SETUP.INI asked for
    # (as on the winsim side); it is shown once as it is, and becomes
    # %INSTALLDIR% everywhere else.
    seen = Registry(prefix.path, view32=s_.x64)  # as the program reads it
    for hive in ("HKLM", "HKCU"):
        recorded = seen.value(hive, r"Software\VORTAN\FTP", "Installation Directory")
        if recorded is not None and recorded.text():
            install_dir = recorded.text()
            break
    files = [f"installation directory {norm(install_dir)}"]
    # A recorded "C:\\Apps\\FTP\\" must still match the paths below it.
    token = install_dir.rstrip("\\") if len(install_dir.rstrip("\\")) > 2 else install_dir
    norm = scn.Normaliser(dict(tokens, **{token: "%INSTALLDIR%"}))
    roots[0] = install_dir
    files += [line for i, r in enumerate(roots) for line in dump_files(prefix, r, norm)
              if i == 0 or not line.startswith("absent ")]
    parent = install_dir.rsplit("\\", 1)[0]
    files.append(f"{'dir' if os.path.isdir(prefix.unix(parent)) else 'absent'} {norm(parent)} (parent)")
    wine = scn.render(s_.name, "wine", {
        "boxes": boxes, "processes": [f"{label} | {norm(cmd)} | {norm(cwd)}" for label, cmd, cwd in processes],
        "registry": dump_registry(reg, norm, s_.x64), "files": files,
        "shell": dump_shell(prefix, group, desktops, norm), "restart": dump_restart(prefix, reg, shorts, norm)})
    with open(os.path.join(OUT, f"{s_.name}.wine.txt"), "w", encoding="utf-8") as f:
        f.write(wine)

    result = scn.compare(s_, winsim, wine)
    with open(os.path.join(OUT, f"{s_.name}.diff"), "w", encoding="utf-8") as f:
        f.write("".join(l + "\n" for l in result.diff))
        f.write("".join(f"accepted ({side}): {line}  -- {why}\n" for side, line, why in result.accepted))
    c.eq(f"differences winsim (-) / Wine (+) not accepted (full diff: build/parity/{s_.name}.diff)", [],
         [("-" if side == "winsim" else "+") + line for side, line in result.unaccepted])


def parity_case(s: scn.Scenario) -> Case:
    case = Case(name=f"parity_{s.name}", summary=f"parity: {s.summary or s.name}", run=parity_run,
                windows=s.wine_version, wow64=s.x64, skip=NO_USER_RIGHTS if s.user == "standard" else None)
    case.scenario = s
    return case


CASES = [parity_case(s) for s in scn.load_all(SCENARIOS)]
