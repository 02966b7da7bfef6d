"""The arithmetic of bench/run: medians and spread, the split of one
process's wall time from the timing build's trace, and the check that two
installers did the same work. No Wine here, so it is tested on its own
(bench/test_report.py, run by `make unit-test`)."""
from __future__ import annotations

import statistics
from dataclasses import dataclass, field

# The timing build's categories (bench/trace/trace.cpp), in table order, with
# the row each gets. The first group is what the program must call; "own" is
# everything else the program does between those calls.
ORDERED = [
    ("version", "version installer (`VerInstallFileA`)"),
    ("cabinet", "cabinet iterator (`SetupIterateCabinetA`)"),
    ("shellfileop", "shell file operations (`SHFileOperationA`)"),
    ("dde", "DDE transactions (and the shell's work for them)"),
    ("ddesetup", "DDE conversations (instance, connect, disconnect, handles)"),
    ("link", "link writer (COM, `IShellLinkA`, `IPersistFile::Save`)"),
    ("messagebox", "message boxes and the wait for the answer"),
    ("server", "the product's server (`QXFTP.DLL` load, (un)registration)"),
]
OWN_PARTS = [
    ("files", "file-system and profile-file calls"),
    ("registry", "registry calls"),
    ("libraries", "system libraries and shell folders"),
    ("own", "its own code"),
]
CATEGORIES = [c for c, _ in ORDERED] + [c for c, _ in OWN_PARTS]
OUTSIDE = [
    ("driver", "Wine starting the driver, which starts `Setup.exe`"),
    ("loader", "Wine loading `Setup.exe` (up to its C++ runtime)"),
    ("after", "exit and Wine's ending of both processes"),
]


class TraceError(ValueError):
    pass


@dataclass
class Trace:
    """One process's record from the timing build (times in ns)."""
    pid: int
    created: int          # process creation, Unix time
    start: int            # start of the C++ runtime, Unix time
    end: int              # exit handlers, Unix time
    span: int             # start to end by the performance counter
    totals: dict = field(default_factory=dict)   # category -> (count, ns)
    calls: list = field(default_factory=list)    # (category, offset ns, duration ns, label)
    functions: dict = field(default_factory=dict)  # (category, function) -> (count, inclusive ns)
    lost: int = 0


def parse_traces(text: str) -> list[Trace]:
    """The records in one trace file (a file may hold several processes)."""
    traces: list[Trace] = []
    current: Trace | None = None
    for number, line in enumerate(text.splitlines(), 1):
        if not line.strip():
            continue
        word, _, rest = line.partition(" ")
        try:
            if word == "vtrace":
                if rest.strip() != "1":
                    raise TraceError(f"line {number}: unknown trace version {rest.strip()!r}")
                current = None
            elif word == "process":
                f = rest.split()
                if len(f) != 7 or f[1:6:2] != ["created", "start", "end"]:
                    raise TraceError(f"line {number}: malformed process line")
                current = Trace(int(f[0]), int(f[2]), int(f[4]), int(f[6]), 0)
                traces.append(current)
            elif current is None:
                raise TraceError(f"line {number}: {word!r} before any process line")
            elif word == "span":
                current.span = int(rest)
            elif word == "total":
                name, count, ns = rest.split()
                current.totals[name] = (int(count), int(ns))
            elif word == "call":
                name, offset, duration, *label = rest.split(" ", 3)
                current.calls.append((name, int(offset), int(duration), label[0] if label else ""))
            elif word == "function":
                name, function, count, ns = rest.split()
                current.functions[(name, function)] = (int(count), int(ns))
            elif word == "lost":
                current.lost = int(rest)
            elif word == "end":
                current = None
            else:
                raise TraceError(f"line {number}: unknown record {word!r}")
        except ValueError as e:
            if isinstance(e, TraceError):
                raise
            raise TraceError(f"line {number}: {e}") from e
    for t in traces:
        missing = [c for c in CATEGORIES if c not in t.totals]
        if missing:
            raise TraceError(f"process {t.pid}: no total for {', '.join(missing)}")
    return traces


def split_run(trace: Trace, started: int, ended: int) -> dict[str, float]:
    """One run's wall time (started..ended, Unix ns, as the bench's `date`
    took them around the driver) in seconds per row: the Wine start before
    the program's runtime, each category, and the end after its exit
    handlers. The rows add up to the wall time."""
    if not started <= trace.created <= trace.start <= trace.end <= ended:
        raise TraceError(f"process {trace.pid} ran {trace.created}..{trace.end}, outside the timed "
                         f"{started}..{ended}")
    row = {c: trace.totals[c][1] / 1e9 for c in CATEGORIES}
    inside = sum(row.values())
    # The counter and the system clock measure the same stretch; what they
    # disagree on (clock steps, rounding) goes to the program's own code so
    # that the rows still add up.
    row["own"] += (trace.end - trace.start) / 1e9 - inside
    row["driver"] = (trace.created - started) / 1e9
    row["loader"] = (trace.start - trace.created) / 1e9
    row["after"] = (ended - trace.end) / 1e9
    row["wall"] = (ended - started) / 1e9
    row["calls"] = {c: trace.totals[c][0] for c in CATEGORIES}
    return row


def own_share(row: dict) -> float:
    """The program's own share of the wall time, in percent: everything
    between the ordered calls, including the other Win32 calls it chooses
    to make."""
    return 100.0 * sum(row[c] for c, _ in OWN_PARTS) / row["wall"]


def median(xs: list[float]) -> float:
    return statistics.median(xs) if xs else float("nan")


def spread(xs: list[float]) -> str:
    """The spread of a set of times: minimum to maximum and, from three
    runs on, the median absolute deviation in percent of the median."""
    if not xs:
        return "-"
    if len(xs) < 3:
        return f"{min(xs):.2f}–{max(xs):.2f}"
    m = median(xs)
    mad = median([abs(x - m) for x in xs])
    return f"{min(xs):.2f}–{max(xs):.2f} (±{100 * mad / m:.0f} %)" if m else f"{min(xs):.2f}–{max(xs):.2f}"


def split_table(columns: list[tuple[str, list[dict]]]) -> list[str]:
    """The split as a Markdown table: one column per measured operation
    (its runs' split_run rows), medians per row with their share of the
    median wall time."""
    titles = [t for t, _ in columns]
    lines = ["| Where the time goes | " + " | ".join(titles) + " |",
             "|---|" + "---|" * len(titles)]

    def cells(key: str, with_calls: bool = True) -> list[str]:
        out = []
        for _, runs in columns:
            value = median([r[key] for r in runs])
            wall = median([r["wall"] for r in runs])
            calls = median([r["calls"][key] for r in runs]) if with_calls and key in CATEGORIES else None
            text = f"{value:.3f} s ({100 * value / wall:.1f} %)"
            if calls:
                text += f", {calls:g} call{'s' if calls != 1 else ''}"
            out.append(text)
        return out

    for key, label in OUTSIDE[:2]:
        lines.append(f"| {label} | " + " | ".join(cells(key)) + " |")
    for key, label in ORDERED:
        lines.append(f"| {label} | " + " | ".join(cells(key)) + " |")
    for key, label in OWN_PARTS:
        lines.append(f"| program's own: {label} | " + " | ".join(cells(key)) + " |")
    lines.append(f"| {OUTSIDE[2][1]} | " + " | ".join(cells("after")) + " |")
    own = []
    for _, runs in columns:
        own.append(f"**{median([own_share(r) for r in runs]):.1f} %**")
    lines.append("| **the program's own share** (all \"program's own\" rows) | " + " | ".join(own) + " |")
    walls = [f"{median([r['wall'] for r in runs]):.3f} s" for _, runs in columns]
    lines.append("| wall time of the timing build (median) | " + " | ".join(walls) + " |")
    return lines


def named_calls(traces: list[Trace]) -> list[tuple[str, str, float, float]]:
    """The calls recorded one by one, grouped by what they were (category
    and label), in the order of their first appearance: category, label, the
    median over the runs of their number and of their summed wall time
    (seconds, including anything nested in them). A run without such a
    call counts as zero of it."""
    order: list = []
    per_run = []
    for t in traces:
        sums: dict = {}
        for category, _, duration, label in t.calls:
            key = (category, label)
            if key not in order:
                order.append(key)
            count, total = sums.get(key, (0, 0))
            sums[key] = (count + 1, total + duration)
        per_run.append(sums)
    return [(c, label, median([r.get((c, label), (0, 0))[0] for r in per_run]),
             median([r.get((c, label), (0, 0))[1] / 1e9 for r in per_run])) for c, label in order]


def function_totals(traces: list[Trace], categories: list[str]) -> list[tuple[str, str, float, float]]:
    """Per function of the given categories: category, function, the median
    number of calls and the median inclusive time in seconds over the runs,
    most time first."""
    keys = {k for t in traces for k in t.functions if k[0] in categories}
    rows = [(c, f, median([t.functions.get((c, f), (0, 0))[0] for t in traces]),
             median([t.functions.get((c, f), (0, 0))[1] / 1e9 for t in traces])) for c, f in keys]
    return sorted(rows, key=lambda r: (-r[3], r[1]))


# --- did both tools do the same work ---------------------------------------------------

@dataclass
class Expectation:
    """What one run must show: files after installation, after the working
    files were added, and none left; the boxes of each step."""
    installed: int
    working_files: int
    install_boxes: int
    remove_boxes: int


def run_problems(tool: str, result: dict, exp: Expectation) -> list[str]:
    """What one run did differently from what it should have, each named."""
    problems = []
    if result["installed"] != exp.installed:
        problems.append(f"{tool}: {result['installed']} files installed, expected {exp.installed}")
    if result.get("install_dir_recorded") is False:
        problems.append(f"{tool}: no \"Installation Directory\" in the product key after the installation")
    if result["before"] != result["installed"] + exp.working_files:
        problems.append(f"{tool}: {result['before']} files before removal, expected "
                        f"{result['installed'] + exp.working_files}")
    if result["left"]:
        sample = ", ".join(result.get("left_paths", [])[:3])
        problems.append(f"{tool}: {result['left']} files left after removal" + (f" ({sample}, ...)" if sample else ""))
    for what in result.get("left_behind", []):
        problems.append(f"{tool}: {what} left after removal")
    if result["install_boxes"] != exp.install_boxes:
        problems.append(f"{tool}: {result['install_boxes']} boxes during installation, expected {exp.install_boxes}")
    if result["remove_boxes"] != exp.remove_boxes:
        problems.append(f"{tool}: {result['remove_boxes']} boxes during removal, expected {exp.remove_boxes}")
    return problems
