"""Collects the checks of one scenario: every check states what it looked at,
what was expected and what was found."""
from __future__ import annotations

from dataclasses import dataclass, field


@dataclass
class Result:
    ok: bool
    what: str
    expected: str
    got: str


@dataclass
class Checks:
    results: list[Result] = field(default_factory=list)

    def eq(self, what: str, expected, got) -> bool:
        ok = expected == got
        self.results.append(Result(ok, what, _show(expected), _show(got)))
        return ok

    def eq_nocase(self, what: str, expected: str | None, got: str | None) -> bool:
        """For Windows paths and names, which the file system and the
        registry compare without regard to case."""
        ok = expected is not None and got is not None and expected.lower() == got.lower()
        self.results.append(Result(ok, what, _show(expected), _show(got)))
        return ok

    def that(self, what: str, ok: bool, expected: str, got_otherwise: str) -> bool:
        """A condition, described by what a pass means and what was found
        when it does not hold."""
        self.results.append(Result(bool(ok), what, expected, expected if ok else got_otherwise))
        return bool(ok)

    def fail(self, what: str, expected: str, got: str) -> None:
        self.results.append(Result(False, what, expected, got))

    @property
    def failures(self) -> list[Result]:
        return [r for r in self.results if not r.ok]


def _show(v) -> str:
    if v is None:
        return "(missing)"
    if isinstance(v, (set, frozenset)):
        return "{" + ", ".join(sorted(map(str, v))) + "}"
    if isinstance(v, (list, tuple)):
        return "[" + ", ".join(map(str, v)) + "]"
    if isinstance(v, str):
        return repr(v)
    return str(v)
