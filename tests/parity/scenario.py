"""The parity scenario files (tests/scenarios/*.scn) and the canonical state
dump that both sides write, as the Wine side reads and compares them. The
winsim side (tests/unit/test_parity_scenarios.cpp) parses the same format
and writes the same dump; keep the two in step.

A scenario file: "key: value" lines (# starts a comment), then raw blocks
that each start with a "--- NAME" line:

    windows: xp                      95, 98, NT4, 2000, XP, 7 or 10, or a 64-bit edition:
                                     XP x64, 7 x64, 8.1 x64, 10 x64, 11 x64 (the Wine
                                     side runs those in a 64-bit prefix, WOW64)
    user: standard                   the program runs as a standard user: winsim's
                                     alone (Wine enforces no user rights), so the
                                     Wine case is reported as skipped
    summary: one line
    missing: QXFTP.HL_               a distribution file taken away (repeatable)
    held: Transfer\\busy.dat          made in the installation directory after the
                                     installation, held open through the removal
    registry: HKLM KEY : NAME = REG_SZ TEXT      a value there before the first run
    registry: HKCU KEY : NAME = REG_BINARY 01 02  (repeatable; a previous installation)
    readonly: readme.htm             a file made in the installation directory before
                                     the first run, read-only (repeatable)
    answer: CAPTION = YES,NO         answers to successive boxes of that caption;
                                     the last repeats, an unscripted box gets its
                                     first button
    accept: SIDE REGEX :: REASON     a difference that is understood: SIDE is
                                     winsim (line only in the winsim dump), wine
                                     (only in Wine's) or both; REGEX is searched in
                                     the dump line; REASON says why, checkably
    group: NAME                      the group the dump shows, when not SETUP.INI's
    workdir: C:\\FTP Data             an explicit working directory, dumped as well
    progman: none                    no Program Manager DDE service through both runs
    remover: installed               the removal run starts the installed UNINS.EXE in
                                     the installation directory, with no SETUP.INI (as
                                     Add/Remove Programs does); it needs remove.wizard
    plant: C:\\Program.exe           a program planted before the first run (repeatable);
                                     no run may start it
    --- install.ini                  SETUP.INI of the installation run
    --- remove.ini                   SETUP.INI of the removal run (in C:\\remove)
    --- install.wizard               the user's steps in that run's wizard, one a
    --- remove.wizard                line, in the Wine driver's words (vdriver.cpp)
"""
from __future__ import annotations

import difflib
import os
import re
from dataclasses import dataclass, field

SECTIONS = ("boxes", "processes", "registry", "files", "shell", "restart")
WINDOWS = {"95": "win95", "98": "win98", "nt4": "nt40", "nt 4.0": "nt40", "2000": "win2k", "xp": "winxp",
           "7": "win7", "10": "win10"}
# The 64-bit editions (blanks and dashes dropped, as setupcheck reads them)
# and the version Wine 8 reports for each. Wine 8 has no Windows 11 setting;
# Windows 11 reports 10.0 as Windows 10 does.
WINDOWS_X64 = {"xpx64": "winxp64", "xp64": "winxp64", "7x64": "win7", "8.1x64": "win81", "81x64": "win81",
               "10x64": "win10", "11x64": "win10", "11": "win10"}
USERS = ("administrator", "standard")


def edition_key(windows: str) -> str:
    return "".join(ch for ch in windows.lower() if ch not in " -")


@dataclass
class Accept:
    side: str
    pattern: re.Pattern
    reason: str

    def covers(self, side: str, line: str) -> bool:
        return self.side in (side, "both") and bool(self.pattern.search(line))


@dataclass
class Scenario:
    name: str
    windows: str = ""
    summary: str = ""
    missing: list = field(default_factory=list)
    held: str = ""
    registry: list = field(default_factory=list)  # Seed values, in order
    readonly: list = field(default_factory=list)  # relative to the installation directory
    answers: dict = field(default_factory=dict)   # caption -> [answers]
    accepts: list = field(default_factory=list)
    group: str = ""
    workdir: str = ""
    no_progman: bool = False
    remover_installed: bool = False
    plants: list = field(default_factory=list)
    user: str = ""
    install_ini: str | None = None
    remove_ini: str | None = None
    install_wizard: str | None = None
    remove_wizard: str | None = None

    @property
    def x64(self) -> bool:
        """A 64-bit edition: the 32-bit program runs under WOW64."""
        return edition_key(self.windows) in WINDOWS_X64

    @property
    def wine_version(self) -> str:
        if self.x64:
            return WINDOWS_X64[edition_key(self.windows)]
        return WINDOWS[self.windows.lower()]


@dataclass
class Seed:
    """A registry value in place before the first run."""
    hive: str      # HKLM or HKCU
    key: str
    name: str
    type: str      # REG_SZ or REG_BINARY
    data: str      # the text, or hex bytes separated by blanks

    def binary(self) -> bytes:
        return bytes.fromhex(self.data)


def parse_seed(path: str, value: str) -> Seed:
    hive, _, rest = value.partition(" ")
    key, sep1, rest = rest.partition(" : ")
    name, sep2, rest = rest.partition(" = ")
    kind, _, data = rest.partition(" ")
    if hive not in ("HKLM", "HKCU") or not (sep1 and sep2) or kind not in ("REG_SZ", "REG_BINARY"):
        raise ValueError(f"{path}: registry needs 'HKLM|HKCU KEY : NAME = REG_SZ|REG_BINARY DATA': {value}")
    seed = Seed(hive, key.strip(), name.strip(), kind, data.strip())
    if kind == "REG_BINARY":
        seed.binary()  # hex digits or a ValueError now rather than in the run
    return seed


def parse(path: str) -> Scenario:
    s = Scenario(os.path.splitext(os.path.basename(path))[0])
    block = None
    with open(path, encoding="utf-8") as f:
        for raw in f.read().splitlines():
            if raw.startswith("--- "):
                block = raw[4:].strip()
                if block not in ("install.ini", "remove.ini", "install.wizard", "remove.wizard"):
                    raise ValueError(f"{path}: unknown block {block}")
                setattr(s, block.replace(".", "_"), "")
                continue
            if block:
                attr = block.replace(".", "_")
                setattr(s, attr, getattr(s, attr) + raw + "\r\n")
                continue
            line = raw.strip()
            if not line or line.startswith("#"):
                continue
            key, sep, value = line.partition(":")
            if not sep:
                raise ValueError(f"{path}: not 'key: value': {line}")
            key, value = key.strip(), value.strip()
            if key == "windows":
                s.windows = value
            elif key == "summary":
                s.summary = value
            elif key == "missing":
                s.missing.append(value)
            elif key == "held":
                s.held = value
            elif key == "group":
                s.group = value
            elif key == "workdir":
                s.workdir = value
            elif key == "progman":
                if value != "none":
                    raise ValueError(f"{path}: progman: none is the only choice: {value}")
                s.no_progman = True
            elif key == "remover":
                if value != "installed":
                    raise ValueError(f"{path}: remover: installed is the only choice: {value}")
                s.remover_installed = True
            elif key == "plant":
                s.plants.append(value)
            elif key == "user":
                if value.lower() not in USERS:
                    raise ValueError(f"{path}: user must be one of {USERS}: {value}")
                s.user = value.lower()
            elif key == "registry":
                s.registry.append(parse_seed(path, value))
            elif key == "readonly":
                s.readonly.append(value)
            elif key == "answer":
                caption, _, answers = value.rpartition("=")
                s.answers[caption.strip()] = [a.strip() for a in answers.split(",")]
            elif key == "accept":
                rule, _, reason = value.partition("::")
                side, _, regex = rule.strip().partition(" ")
                if side not in ("winsim", "wine", "both") or not reason.strip():
                    raise ValueError(f"{path}: accept needs 'SIDE REGEX :: REASON': {value}")
                s.accepts.append(Accept(side, re.compile(regex.strip()), reason.strip()))
            else:
                raise ValueError(f"{path}: unknown key {key}")
    if s.windows.lower() not in WINDOWS and not s.x64:
        raise ValueError(f"{path}: windows must be one of {sorted(WINDOWS)} or a 64-bit edition "
                         f"(XP x64, 7 x64, 8.1 x64, 10 x64, 11 x64)")
    if s.install_ini is None and s.remove_ini is None and not s.remover_installed:
        raise ValueError(f"{path}: neither install.ini nor remove.ini")
    if s.remover_installed and (s.remove_ini is not None or s.remove_wizard is None or s.install_ini is None):
        raise ValueError(f"{path}: remover: installed needs install.ini and remove.wizard, and no remove.ini")
    for run in ("install", "remove"):
        has_ini = getattr(s, f"{run}_ini") is not None or (run == "remove" and s.remover_installed)
        if getattr(s, f"{run}_wizard") is not None and not has_ini:
            raise ValueError(f"{path}: {run}.wizard without {run}.ini")
    return s


def has_removal(s: Scenario) -> bool:
    """Whether the scenario has a removal run."""
    return s.remove_ini is not None or s.remover_installed


def load_all(directory: str) -> list[Scenario]:
    return [parse(os.path.join(directory, n)) for n in sorted(os.listdir(directory)) if n.endswith(".scn")]


def ini_value(text: str | None, section: str, key: str) -> str:
    current = None
    for line in (text or "").splitlines():
        t = line.strip()
        if t.startswith("[") and "]" in t:
            current = t[1:t.index("]")].strip().lower()
            continue
        k, sep, v = t.partition("=")
        if sep and current == section.lower() and k.strip().lower() == key.lower():
            return v.strip()
    return ""


# --- the dump ------------------------------------------------------------------

def fnv(data: bytes) -> str:
    """FNV-1a 64, as the winsim side computes it."""
    h = 0xcbf29ce484222325
    for b in data:
        h = ((h ^ b) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return f"{h:016x}"


def escape(text: str) -> str:
    # NULs separate the entries of a REG_MULTI_SZ value.
    return text.replace("\r", "\\r").replace("\n", "\\n").replace("\t", "\\t").replace("\0", "\\0")


class Normaliser:
    """Machine-specific folders become tokens wherever they start a path."""

    def __init__(self, tokens: dict[str, str]):
        self.tokens = sorted(((p, t) for p, t in tokens.items() if p), key=lambda pt: -len(pt[0]))

    def __call__(self, text: str) -> str:
        out, i, low = [], 0, text.lower()
        while i < len(text):
            for path, token in self.tokens:
                end = i + len(path)
                # A NUL also bounds a path: the entries of a REG_MULTI_SZ.
                starts_path = i == 0 or text[i - 1] in ' "=|,\0'
                if starts_path and low.startswith(path.lower(), i) and (end == len(text) or text[end] in '\\", \0'):
                    out.append(token)
                    i = end
                    break
            else:
                out.append(text[i])
                i += 1
        return "".join(out)


def render(name: str, side: str, sections: dict[str, list[str]]) -> str:
    text = f"# parity dump of {name} ({side})\n"
    for title in SECTIONS:
        lines = list(sections.get(title, []))
        if title not in ("boxes", "processes"):   # these keep their order; the rest is a set
            lines = sorted(set(lines), key=lambda l: (l.lower(), l))
        text += f"[{title}]\n" + "".join(l + "\n" for l in lines)
    return text


@dataclass
class Comparison:
    diff: list            # unified diff lines, winsim "-", Wine "+"
    accepted: list        # (side, line, reason)
    unaccepted: list      # (side, line)


def compare(s: Scenario, winsim: str, wine: str) -> Comparison:
    a = winsim.splitlines()[1:]
    b = wine.splitlines()[1:]
    diff = list(difflib.unified_diff(a, b, f"{s.name}.winsim.txt", f"{s.name}.wine.txt", lineterm="", n=1))
    accepted, unaccepted = [], []
    for line in diff:
        if line.startswith(("---", "+++", "@@")) or not line[:1] in "-+":
            continue
        side = "winsim" if line[0] == "-" else "wine"
        rule = next((r for r in s.accepts if r.covers(side, line[1:])), None)
        if rule:
            accepted.append((side, line[1:], rule.reason))
        else:
            unaccepted.append((side, line[1:]))
    return Comparison(diff, accepted, unaccepted)
