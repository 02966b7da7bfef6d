"""One timed run in a fresh Wine prefix (installation, working files,
removal, and what each left behind), and the packer timed against
mscompress."""
from __future__ import annotations

import filecmp
import os
import shlex
import shutil
import subprocess
import sys
import time

import report
from common import INSTALL_INI, NSIS_UNINSTALLER, RUN, WINDOWS, WORK
from dists import Dist
from lib import setupini
from lib.driverlog import DriverLog
from lib.install import DESKTOP_LINK, PRODUCT_KEY, UNINSTALL_KEY, Expected, join
from lib.scenario import DIST, TOOLS, Paths, Session
from lib.uninstall import REMOVE_DIR, REMOVE_INI, CAPTION as REMOVE_CAPTION
from lib.winereg import Registry
from report import Expectation

TIME_FILE = "times.txt"
MSCOMPRESS_ONCE_ABOVE = 8 * 1024 * 1024


def timed(label: str, argv: list[str], out: str, env: str = "") -> str:
    """A shell line that runs argv (after the environment assignments env)
    and appends "label start end" (ns)."""
    cmd = env + " ".join(shlex.quote(a) for a in argv)
    return (f"t0=$(date +%s%N); {cmd}; t1=$(date +%s%N); "
            f"echo {label} $t0 $t1 >> {shlex.quote(out)}")


def count_command(roots: list[str], out: str) -> str:
    quoted = " ".join(shlex.quote(r) for r in roots)
    return f"find {quoted} -type f 2>/dev/null | wc -l > {shlex.quote(out)}"


def one_run(paths: Paths, d: Dist, tool: str, n: int, keep: bool) -> dict:
    """One fresh prefix: installation, (working files), removal. tool is
    "ours" (the shipped build), "trace" (the timing build, same
    distribution otherwise) or "nsis"."""
    root = os.path.join(WORK, "runs", f"{d.name}-{tool}-{n}")
    s = Session(paths, f"{d.name}-{tool}-{n}", WINDOWS, root=root)
    prefix = s.prefix
    user = prefix.user()
    exp = Expected.derive(INSTALL_INI, WINDOWS, user)
    install_unix = prefix.unix(exp.install_dir)
    working_unix = prefix.unix(exp.working_dir)
    times = os.path.join(root, TIME_FILE)
    remove_dir = prefix.unix(REMOVE_DIR)
    os.makedirs(remove_dir)
    # Without a window manager (Xvfb), Wine waits two seconds for every
    # managed window it hides (measured: "wait_for_withdrawn_state ... wait
    # timed out" after each message box), which would be timed as if the
    # program were slow. Unmanaged windows close at once, as on Windows.
    commands = [[s.wine, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f"]]
    env = {"install": "", "remove": ""}
    if tool in ("ours", "trace"):
        shutil.copytree(d.dist if tool == "ours" else d.trace_dist, s.dist)
        setupini.write(os.path.join(remove_dir, "SETUP.INI"), REMOVE_INI)
        install = s.driver_command([join(DIST, "Setup.exe")], DIST, {}, 600, log=TOOLS + r"\install.log")
        remove = s.driver_command([join(DIST, "Setup.exe")], REMOVE_DIR, {REMOVE_CAPTION: "YES,OK"}, 600,
                                  log=TOOLS + r"\remove.log")
        if tool == "trace":
            env = {which: f"VORTAN_TRACE={shlex.quote(TOOLS + chr(92) + which + '.trace')} " for which in env}
    else:
        os.makedirs(s.dist)
        shutil.copy2(d.nsis_exe, s.dist)
        install = s.driver_command([join(DIST, "nsis-setup.exe"), "/S"], DIST, {}, 600,
                                   log=TOOLS + r"\install.log")
        # Run from outside the installation folder (as our removal runs from
        # C:\remove); _?= keeps NSIS from copying itself to %TEMP% and
        # returning at once, so the process lasts as long as the work.
        remove = s.driver_command([join(REMOVE_DIR, NSIS_UNINSTALLER), "/S", "_?=" + REMOVE_DIR],
                                  REMOVE_DIR, {}, 600, log=TOOLS + r"\remove.log")
    commands.append(timed("install", install, times, env["install"]))
    commands.append(count_command([install_unix], os.path.join(root, "installed.txt")))
    # What both removals start from: the installation folder as recorded.
    query = [s.wine, "reg", "query", "HKLM\\" + PRODUCT_KEY, "/v", "Installation Directory"]
    commands.append(" ".join(shlex.quote(a) for a in query) + f" > {shlex.quote(os.path.join(root, 'record.txt'))}"
                    " 2>/dev/null")
    if tool == "nsis":
        commands.append(f"cp {shlex.quote(os.path.join(install_unix, NSIS_UNINSTALLER))} {shlex.quote(remove_dir)}")
    if d.working_files:
        commands.append(f"{shlex.quote(sys.executable)} {shlex.quote(RUN)} "
                        f"--make-working-files {shlex.quote(working_unix)} {d.working_files}")
    commands.append(count_command([install_unix, working_unix], os.path.join(root, "before-removal.txt")))
    commands.append(timed("remove", remove, times, env["remove"]))
    commands.append(f"find {shlex.quote(install_unix)} {shlex.quote(working_unix)} -type f 2>/dev/null"
                    f" > {shlex.quote(os.path.join(root, 'left.txt'))}")
    run = s.run(commands, 1200)
    if run.returncode != 0:
        raise RuntimeError(f"session failed ({run.returncode}); see {root}/session.out")
    result: dict = {"stamps": {}}
    with open(times) as f:
        for line in f:
            label, t0, t1 = line.split()
            result[label] = (int(t1) - int(t0)) / 1e9
            result["stamps"][label] = (int(t0), int(t1))

    def count(name):
        with open(os.path.join(root, name)) as f:
            return int(f.read().strip() or 0)
    result["installed"] = count("installed.txt")
    result["before"] = count("before-removal.txt")
    with open(os.path.join(root, "left.txt")) as f:
        left = [line.strip() for line in f if line.strip()]
    result["left"] = len(left)
    result["left_paths"] = [prefix_path(prefix, p) for p in left]
    with open(os.path.join(root, "record.txt"), errors="replace") as f:
        result["install_dir_recorded"] = exp.install_dir.lower() in f.read().lower()
    result["left_behind"] = leftovers(prefix, exp)
    for which in ("install", "remove"):
        log = DriverLog.read(prefix.unix(TOOLS + rf"\{which}.log"))
        if log.timed_out:
            raise RuntimeError(f"{which} timed out; see {root}")
        result[which + "_boxes"] = len(log.boxes)
        result[which + "_exit"] = log.exit_code
    if tool == "trace":
        for which in ("install", "remove"):
            with open(prefix.unix(TOOLS + rf"\{which}.trace")) as f:
                traces = report.parse_traces(f.read())
            if len(traces) != 1:
                raise RuntimeError(f"{which}: {len(traces)} traced processes, expected 1; see {root}")
            result[which + "_trace"] = traces[0]
            result[which + "_split"] = report.split_run(traces[0], *result["stamps"][which])
    result["problems"] = report.run_problems(tool, result, Expectation(
        installed=d.file_count + (1 if tool == "nsis" else 0), working_files=d.working_files,
        install_boxes=0, remove_boxes=0 if tool == "nsis" else 2))
    result["ok"] = not result["problems"]
    if not keep:
        shutil.rmtree(root, ignore_errors=True)
    return result


def prefix_path(prefix, unix: str) -> str:
    """C:\\... for a path under the prefix's drive_c."""
    rel = os.path.relpath(unix, prefix.drive_c)
    return "C:\\" + rel.replace(os.sep, "\\")


def leftovers(prefix, exp: Expected) -> list[str]:
    """What either removal must take away and is still there: the product
    and uninstall keys (in either registry view), the group and the desktop
    shortcut."""
    out = []
    reg = Registry(prefix.path)
    for hive, key in (("HKLM", PRODUCT_KEY), ("HKCU", PRODUCT_KEY), ("HKLM", UNINSTALL_KEY)):
        for path in (key, key.replace("Software\\", "Software\\Wow6432Node\\", 1)):
            k = reg.key(hive, path)
            if k is not None and k.names():
                out.append(f"{hive}\\{path} (values {', '.join(sorted(k.names()))})")
    group = os.path.join(prefix.programs_dir(), exp.group_name)
    if os.path.exists(group):
        out.append(f"the group folder {prefix_path(prefix, group)}")
    for desktop in ("Public", exp.user):
        link = prefix.unix(rf"C:\users\{desktop}\Desktop\{DESKTOP_LINK}")
        if os.path.exists(link):
            out.append(f"the desktop shortcut {prefix_path(prefix, link)}")
    return out


# --- the packer -----------------------------------------------------------------------

def bench_packer(paths: Paths, inputs: list[str], runs: int) -> list[dict]:
    rows = []
    tmp = os.path.join(WORK, "packer")
    shutil.rmtree(tmp, ignore_errors=True)
    os.makedirs(tmp)
    for src in inputs:
        name = os.path.basename(src)
        label = name + (" (scaled)" if os.sep + "scaled" + os.sep in src else "")
        row = {"name": label, "size": os.path.getsize(src), "ours": [], "ms": []}
        for i in range(runs):
            out = os.path.join(tmp, name[:-1] + "_")
            t0 = time.monotonic()
            subprocess.run([paths.szddpack, src, out], check=True)
            row["ours"].append(time.monotonic() - t0)
            row["ours_size"] = os.path.getsize(out)
            check = os.path.join(tmp, "check")
            subprocess.run([paths.szddpack, "-x", out, check], check=True)
            row["ours_roundtrip"] = filecmp.cmp(src, check, shallow=False)
            os.remove(out)
            os.remove(check)
            # mscompress takes about two minutes for 50 MB: timed once.
            if i and row["size"] > MSCOMPRESS_ONCE_ABOVE:
                continue
            # mscompress writes NAME_ beside its input, so it gets its own copy.
            copy = os.path.join(tmp, name)
            shutil.copyfile(src, copy)
            t0 = time.monotonic()
            subprocess.run(["mscompress", copy], check=True, capture_output=True)
            row["ms"].append(time.monotonic() - t0)
            row["ms_size"] = os.path.getsize(copy + "_")
            os.remove(copy + "_")
            os.remove(copy)
        rows.append(row)
    shutil.rmtree(tmp, ignore_errors=True)
    return rows
