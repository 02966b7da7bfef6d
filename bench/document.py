"""The tables bench/run prints and docs/benchmarks.md, which it writes
from them; the arithmetic behind them is report.py's."""
from __future__ import annotations

import os
import platform
import statistics
import subprocess

import report
from common import DOC, DOCS_FILES, NSIS_UNINSTALLER, PAYLOAD_BYTES, WINDOWS, WORKING_FILES
from dists import Dist
from lib.wineenv import Arch
from nsis import NSIS_TARGET


def machine(arch: Arch) -> dict:
    cpu = "unknown"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    mem = "unknown"
    try:
        with open("/proc/meminfo") as f:
            for line in f:
                if line.startswith("MemTotal"):
                    mem = f"{int(line.split()[1]) / 1024 / 1024:.1f} GiB"
                    break
    except OSError:
        pass
    makensis = subprocess.run(["makensis", "-VERSION"], capture_output=True, text=True).stdout.strip()
    return {"nproc": os.cpu_count(), "cpu": cpu, "memory": mem, "wine": arch.version(), "arch": arch.name,
            "kernel": platform.release(), "makensis": makensis}


def med(xs: list[float]) -> float:
    return statistics.median(xs) if xs else float("nan")


def fmt_s(x: float) -> str:
    return f"{x:.2f} s"


def wine_table(results: dict, dists: list[Dist]) -> list[str]:
    lines = ["| Distribution | Operation | Ours (median) | Ours: spread | NSIS (median) | NSIS: spread | Ours / NSIS |"
             " Runs (ours; NSIS) |",
             "|---|---|---|---|---|---|---|---|"]
    for d in dists:
        for op, label in (("install", "quiet installation"), ("remove", "quiet removal")):
            ours = [r[op] for r in results[(d.name, "ours")]]
            nsis = [r[op] for r in results.get((d.name, "nsis"), [])]
            ratio = f"{med(ours) / med(nsis):.2f}" if nsis else "n/a"
            runs = " ".join(f"{x:.2f}" for x in ours) + "; " + (" ".join(f"{x:.2f}" for x in nsis) or "-")
            lines.append(f"| {d.name} | {label} | {fmt_s(med(ours))} | {report.spread(ours)} | "
                         f"{fmt_s(med(nsis)) if nsis else 'n/a'} | {report.spread(nsis)} | {ratio} | {runs} |")
    return lines


def split_columns(results: dict, dists: list[Dist]) -> list[tuple[str, list[dict]]]:
    columns = []
    for d in dists:
        for op, label in (("install", "installation"), ("remove", "removal")):
            runs = [r[op + "_split"] for r in results.get((d.name, "trace"), [])]
            if runs:
                columns.append((f"{d.name} {label}", runs))
    return columns


def calls_table(results: dict, dists: list[Dist]) -> list[str]:
    lines = ["| Operation | Row | Call | Calls (median) | Time (median) |", "|---|---|---|---|---|"]
    names = {k: v.split(" (")[0] for k, v in report.ORDERED}
    for d in dists:
        for op, label in (("install", "installation"), ("remove", "removal")):
            traces = [r[op + "_trace"] for r in results.get((d.name, "trace"), [])]
            for category, what, count, seconds in report.named_calls(traces):
                what = what.replace("|", "\\|")
                lines.append(f"| {d.name} {label} | {names.get(category, category)} | `{what}` | {count:g} | "
                             f"{seconds:.3f} s |")
    return lines


def own_calls_table(results: dict, dists: list[Dist]) -> list[str]:
    """The Win32 calls counted as the program's own, per function."""
    columns = [(d, op, f"{d.name} {label}") for d in dists
               for op, label in (("install", "installation"), ("remove", "removal"))]
    own = [c for c, _ in report.OWN_PARTS if c != "own"]
    tables = {}
    for d, op, title in columns:
        traces = [r[op + "_trace"] for r in results.get((d.name, "trace"), [])]
        tables[title] = {(c, f): (n, t) for c, f, n, t in report.function_totals(traces, own)}
    keys = sorted({k for t in tables.values() for k in t},
                  key=lambda k: -max(t.get(k, (0, 0))[1] for t in tables.values()))
    lines = ["| Function | " + " | ".join(title for *_, title in columns) + " |",
             "|---|" + "---|" * len(columns)]
    for k in keys:
        cells = []
        for *_, title in columns:
            n, t = tables[title].get(k, (0, 0.0))
            cells.append(f"{t:.3f} s, {n:g}" if n else "-")
        lines.append(f"| `{k[1]}` ({k[0]}) | " + " | ".join(cells) + " |")
    return lines


def check_table(results: dict, dists: list[Dist]) -> list[str]:
    lines = ["| Distribution | Tool | Files installed | Files before removal | Files left | Boxes (install, removal) |",
             "|---|---|---|---|---|---|"]
    for d in dists:
        for tool in ("ours", "nsis"):
            for r in results.get((d.name, tool), [])[:1]:
                lines.append(f"| {d.name} | {tool} | {r['installed']} | {r['before']} | {r['left']} | "
                             f"{r['install_boxes']}, {r['remove_boxes']} |")
    return lines


def packer_table(rows: list[dict]) -> list[str]:
    lines = ["| Input | Size | szddpack size | mscompress size | szddpack time | mscompress time | szddpack/mscompress time |",
             "|---|---|---|---|---|---|---|"]
    for r in rows:
        o, m = med(r["ours"]), med(r["ms"])
        lines.append(f"| {r['name']} | {r['size']:,} | {r['ours_size']:,} ({100 * r['ours_size'] / r['size']:.1f} %)"
                     f" | {r['ms_size']:,} ({100 * r['ms_size'] / r['size']:.1f} %) | {o:.3f} s | {m:.3f} s | "
                     f"{o / m if m else float('nan'):.2f} |")
    return lines


def arch_sentence(arch: str) -> str:
    if arch == "win32":
        return ("Here the kernel runs i386 programs: the shipped 32-bit `Setup.exe` (`build/win`) ran in a "
                "32-bit prefix, against an `x86-unicode` NSIS installer.")
    return ("Here the kernel cannot run i386 programs: the x86-64 build of the same sources (`build/win64`) ran "
            "in a 64-bit prefix, against an `amd64-unicode` NSIS installer (see Limits).")


def load_sentence(loads: list[float]) -> str:
    if not loads:
        return "not sampled"
    return (f"{min(loads):.1f} to {max(loads):.1f}, median {med(loads):.1f}")


def failed_sentence(results: dict) -> str:
    problems = [p for rs in results.values() for r in rs for p in r["problems"]]
    if not problems:
        return "none"
    unique = list(dict.fromkeys(problems))
    return "; ".join(f"`{p}`" for p in unique[:10]) + (f" and {len(unique) - 10} more" if len(unique) > 10 else "")


def split_section(results: dict, dists: list[Dist], args) -> str:
    columns = split_columns(results, dists)
    if not columns:
        return ""
    shares = ", ".join(f"{title} {med([report.own_share(r) for r in runs]):.1f} %" for title, runs in columns)
    ours_walls = ", ".join(
        f"{d.name} {label} {med([r[op] for r in results[(d.name, 'ours')]]):.2f} s"
        for d in dists for op, label in (("install", "installation"), ("remove", "removal")))
    return f"""
### Where the time goes

The same distributions were installed and removed {args.runs} more times with the
timing build of `Setup.exe` (`build/<arch>-trace`, CMake option
`PLATFORM_TRACE`, never shipped): the same sources, compiled with
`bench/trace/trace.h` included first, which renames each platform call the
program makes to a wrapper that reads the performance counter before and
after it (the functions bound at run time, `VerInstallFileA`,
`SetupIterateCabinetA`, `SHGetFolderPathA` and the server's entries, are
wrapped where `GetProcAddress` hands them out; the shell link object is
wrapped where `CoCreateInstance` makes it). Every moment between the start
of the program's C++ runtime and its exit handlers is charged to exactly one
row: the innermost call open at that moment, or the program's own code
(the program's cabinet callback, run inside the iterator, counts as its
own). The process's creation and end come from the system clock, which the
bench's `date` also reads, so the rows add up to the same wall time as the
tables above: before the runtime starts (Wine starting the driver and then
`Setup.exe`) and after its exit handlers (the process ending and the driver
seeing it). Medians over the runs, each with its share of the median wall
time and the median number of calls.

{chr(10).join(report.split_table(columns))}

The program's own share of the wall time (every "program's own" row: the
Win32 calls the text leaves to it, file, registry and library calls, and
its code between them): **{shares}**. The rest is Wine starting and ending
the processes and the calls the program must make. For comparison, the
shipped build's medians above: {ours_walls}; the timing build's wall times
are in the last row.

The calls the program must make, grouped by what they were given (median
over the runs of their number and of their summed wall time, including
anything nested in them):

{chr(10).join(calls_table(results, dists))}

The Win32 calls counted as the program's own, per function (median time
including anything nested, and median number of calls):

{chr(10).join(own_calls_table(results, dists))}
"""


def write_doc(info: dict, dists: list[Dist], results: dict, packer: list[dict], args, elapsed: float) -> None:
    dist_lines = []
    for d in dists:
        dist_lines.append(f"- **{d.name}**: {d.file_count} files, {d.payload_bytes / 1e6:.1f} MB installed"
                          + (f"; {d.working_files} files added to the working folder before removal"
                             if d.working_files else "") + ".")
    text = f"""# Benchmarks

`bench/run` measures `Setup.exe` against an installer an administrator
could build instead with NSIS (Debian's `makensis`), and our SZDD packer
`szddpack` against Debian's `mscompress`.

    make wine-build      # Setup.exe, the sample, the test driver, szddpack
    bench/run            # about 15 minutes on 2 idle cores; writes this file
    bench/run --runs 2   # fewer runs per measurement (default 5; also BENCH_RUNS=2)
    bench/run --quick    # one run, the sample distribution only
    bench/run --no-trace # without the timing build and the split
    bench/run --keep     # keep each run's prefix in build/bench/runs/

`bench/run` needs `makensis` (package `nsis`, in `scripts/bootstrap`) and
`mscompress`. It uses the Wine tests' base prefix (`build/wine/base-win64` or
`build/wine/base`) and their driver, and works in `build/bench/`.

## What is measured

Each run copies the base prefix afresh (not timed) and, in one X session
and one wineserver, as the tests do:

1. sets the Windows version (`{WINDOWS}`), which also starts the wineserver
   and the shell, so neither is in the timings, and makes Wine's windows
   unmanaged (`X11 Driver\\Managed=N`): Xvfb has no window manager, and
   Wine otherwise waits two seconds for every window it hides (measured:
   each message box of our removal added 2 s, 4.9 s against 1.1 s);
2. **installation** — ours: `Setup.exe` from the distribution with a
   `SETUP.INI` holding `QuietModeInstall=Y` and all four quiet keys, so no
   box; NSIS: `nsis-setup.exe /S`;
3. for the scaled distribution, {WORKING_FILES} files (200 to 4,000 bytes)
   are made in the working folder `C:\\users\\<user>\\Documents\\FTP`
   (2,500 each directly in `Transfer` and `Traces`), the folder recorded as
   `Working Directory` under `HKCU\\Software\\VORTAN\\FTP` (not timed);
4. **removal** — ours: `Setup.exe` from `C:\\remove` with
   `QuietModeUnInstall=Y`; the driver answers the group question (YES) and
   the final box (OK); NSIS: its uninstaller, copied to `C:\\remove`, with
   `/S _?=C:\\remove` (run from outside the installation folder, as ours
   is, and in place: without `_?=` an NSIS uninstaller copies itself to
   `%TEMP%`, starts the copy and returns at once, so its process time would
   say nothing); it reads the installation folder from the product key's
   `Installation Directory`, as ours does.

Both programs are started by the tests' driver `vdriver.exe` (it polls for
boxes every 50 ms, so each of our two removal boxes costs up to 50 ms more
than a real click would). A time is the wall time of that one Wine process,
from its start to its exit (`date +%s%N` before and after, in the session
script). The tables give medians and the spread (fastest to slowest run,
and from three runs on the median absolute deviation as a share of the
median); the ratio is ours / NSIS (below 1: ours is faster). Each run of a
distribution runs ours, NSIS and the timing build (below) in a rotating
order, so that drift of the machine falls on all three alike.

The NSIS installer is generated from the tree our installer produces (the
derivation the Wine tests check our installations against): the same files
in the same folders, the working folder's data folders, the product key's
values with their types (`REG_BINARY` for `BaseRegistry`, `Profile Mode`,
`WorkingDirType`, `Lock`, `LockFTP`), `Support` and `About`, the per-user
`Working Directory`, the uninstall entry, the `.qft` file type, the server
registration of `QXFTP.DLL` (`RegDLL`), the group folder with its two items
and the all-users desktop shortcut. It is built for `{NSIS_TARGET(Arch(info['arch']))}` with
NSIS's default zlib compression{', its registry calls on the 64-bit view (`SetRegView 64`) as ours are' if info['arch'] == 'win64' else ''}. Differences that remain: it writes its own
uninstaller (`{NSIS_UNINSTALLER}`) into the installation folder and the
uninstall entry names it; its group items are made as shortcut files,
ours through the Program Manager DDE service; its uninstaller deletes the
working folder whole (`RMDir /r`), ours its data folders and then the
folder. Both leave `.qft` and `Software\\VORTAN`.

Distributions:

{chr(10).join(dist_lines)}

The scaled payload is deterministic: `QXFTP.CHM` is {PAYLOAD_BYTES // (1024 * 1024)} MiB of
generated help-like text (a made-up vocabulary drawn with a skewed
distribution, numbered paragraphs, hex tags: compressible, not a repeated
pattern), and `files/Docs/Library` holds {DOCS_FILES} text files of 300 to
6,000 bytes in 20 folders.

## Results

Machine: {info['nproc']} processors, {info['cpu']}, {info['memory']} memory,
Linux {info['kernel']}; {info['wine']}, Wine architecture `{info['arch']}`
(`scripts/wine-arch`); makensis {info['makensis']}. Runs per measurement:
{args.runs}. Total time of `bench/run`: {elapsed:.0f} s. {arch_sentence(info['arch'])}

Load on the machine: the 1-minute load average was {load_sentence(info['loads'])}
(sampled before the first run and after each run; the machine has
{info['nproc']} processors).

### Installation and removal under Wine

{chr(10).join(wine_table(results, dists))}

What each run left (first run of each), as a check that both do the same work:

{chr(10).join(check_table(results, dists))}

"Files installed" counts the installation folder after the installation;
"before removal" adds the working folder (with the {WORKING_FILES} files for
the scaled run); "left" counts both after the removal. Every run is checked
(`report.run_problems`): the number of files installed (ours: the
distribution's; NSIS: one more, its uninstaller), the product key's
`Installation Directory` after the installation (`reg query`), the working
files in place, no file left in either folder, no product key, uninstall
entry, group folder or desktop shortcut left in either registry view, and
the boxes each program showed. A run that fails prints `CHECK FAILED` with
what differs, and `bench/run` then exits 1. Checks failed in this run:
{failed_sentence(results)}.
{split_section(results, dists, args)}
### The packer

szddpack (`build/native/tools/szddpack IN OUT`) against `mscompress IN`
(writes `IN_`), same inputs, median of {args.runs} runs (mscompress only
once for inputs over 8 MiB: it takes minutes there); szddpack's output
expanded back (`szddpack -x`) equals its input every time.

{chr(10).join(packer_table(packer))}
"""
    if info["arch"] == "win64":
        text += """
## Limits (this machine)

This kernel cannot run 32-bit (i386) programs, so the benchmark uses the
64-bit fallback of the Wine tests: `build/win64/Setup.exe` (the same sources
built for x86-64) in a 64-bit prefix, and the NSIS installer built for
`amd64-unicode`. The shipped 32-bit `Setup.exe` and a 32-bit NSIS installer
were not measured; on a kernel that runs i386 programs `bench/run` uses
`build/win` and a 32-bit prefix, builds the NSIS installer for
`x86-unicode` without `SetRegView 64` (a 32-bit prefix has one registry
view; reported from such a machine, an uninstaller that asked for the
64-bit view found no `Installation Directory` and removed nothing, which
the check now names), and the timing build in `build/win-trace` with the
i686 toolchain (compiled here, not run).

The machine was shared with other builds and tests while this ran (see the
load average under Results): the absolute times are inflated and vary
between runs; the ratios and the split are steadier than the times.
"""
    with open(DOC, "w") as f:
        f.write(text)
