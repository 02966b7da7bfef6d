"""The log of vdriver.exe: one event a line, fields separated by TABs."""
from __future__ import annotations

from dataclasses import dataclass


_ESCAPES = {"\\": "\\", "t": "\t", "n": "\n", "r": "\r"}


def _unescape(field: str) -> str:
    out, i = [], 0
    while i < len(field):
        if field[i] == "\\" and i + 1 < len(field) and field[i + 1] in _ESCAPES:
            out.append(_ESCAPES[field[i + 1]])
            i += 2
        else:
            out.append(field[i])
            i += 1
    return "".join(out)


def _child_error(field: str) -> int | None:
    """The error code of a CHILD line's "!error N" field, else None."""
    if field.startswith("!error ") and field[7:].isdigit():
        return int(field[7:])
    return None


@dataclass(frozen=True)
class Box:
    caption: str
    text: str
    answer: str
    scripted: bool


@dataclass
class DriverLog:
    lines: list[list[str]]

    @staticmethod
    def read(path: str) -> "DriverLog":
        # Message texts are ANSI; the prefixes run with the Western code page.
        with open(path, encoding="cp1252", errors="replace") as f:
            raw = f.read()
        lines = []
        for line in raw.splitlines():
            lines.append([_unescape(f) for f in line.split("\t")])
        return DriverLog(lines)

    def events(self, kind: str) -> list[list[str]]:
        return [l[1:] for l in self.lines if l and l[0] == kind]

    @property
    def boxes(self) -> list[Box]:
        return [Box(f[0], f[1], f[2], len(f) < 4 or f[3] != "unscripted")
                for f in self.events("BOX") if len(f) >= 3]

    @property
    def children(self) -> list[tuple[str, str]]:
        """(command line, current directory) of every process the started
        program started, directly or further down, in the order the driver
        found them; the directory is as the child holds it, with its trailing
        backslash. Children that could not be read are in unreadable_children."""
        return [(f[0], f[1]) for f in self.events("CHILD") if len(f) >= 2 and _child_error(f[0]) is None]

    @property
    def child_images(self) -> list[str]:
        """The executable name (as the process snapshot gives it) of every
        child in children, in the same order."""
        return [f[2] if len(f) >= 3 else "" for f in self.events("CHILD")
                if len(f) >= 2 and _child_error(f[0]) is None]

    @property
    def unreadable_children(self) -> list[tuple[int, str]]:
        """(Windows error code, executable name or "") of the children whose
        parameters could not be read. Under Wine these are mostly its shell's
        winemenubuilder.exe, started for each shortcut saved and, disabled in
        the test prefixes, gone within milliseconds: the poll catches none,
        one or several of them, so they are kept apart from children."""
        return [(code, f[1]) for f in self.events("CHILD")
                if len(f) >= 2 and (code := _child_error(f[0])) is not None]

    @property
    def exit_code(self) -> int | None:
        codes = self.events("EXIT")
        return int(codes[-1][0]) if codes else None

    @property
    def timed_out(self) -> bool:
        return bool(self.events("TIMEOUT"))

    def short_path(self, path: str) -> str | None:
        for f in self.events("SHORT"):
            if len(f) >= 2 and f[0].lower() == path.lower() and not f[1].startswith("!"):
                return f[1]
        return None
