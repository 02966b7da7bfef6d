"""Scripted runs of a wizard property sheet under vdriver.exe --wizard: the
script the driver plays, the watcher that takes the screenshots it asks for,
and the reading of what it logged."""
from __future__ import annotations

import os
import shutil
import subprocess
from dataclasses import dataclass
from shlex import quote as q

from .driverlog import DriverLog
from .scenario import DRIVER_LOG, TOOLS, Session

SCRIPT = TOOLS + r"\wizard.txt"
SHOTS = TOOLS + r"\shots"

# The buttons of the sheet, as PSM_PRESSBUTTON names them.
BACK, NEXT, FINISH, CANCEL = "BACK", "NEXT", "FINISH", "CANCEL"


class Script:
    """The steps vdriver plays, one a line (see vdriver.cpp)."""

    def __init__(self) -> None:
        self.lines: list[str] = []

    def step(self, *words) -> "Script":
        line = " ".join(str(w) for w in words)
        if "\n" in line or "\r" in line:
            raise ValueError(f"a step is one line: {line!r}")
        self.lines.append(line)
        return self

    def sheet(self, caption: str) -> "Script":
        return self.step("sheet", caption)

    def page(self, template: int) -> "Script":
        return self.step("page", template)

    def click(self, control: int) -> "Script":
        return self.step("click", control)

    def settext(self, control: int, text: str) -> "Script":
        # The driver takes the rest of the line after one blank, blanks included.
        self.lines.append(f"settext {control} {text}")
        return self

    def read(self, *controls: int) -> "Script":
        for c in controls:
            self.step("read", c)
        return self

    def dump(self) -> "Script":
        return self.step("dump")

    def buttons(self) -> "Script":
        return self.step("buttons")

    def press(self, button: str) -> "Script":
        return self.step("press", button)

    def shot(self, name: str) -> "Script":
        return self.step("shot", name)

    def box(self, caption: str) -> "Script":
        return self.step("box", caption)

    def closed(self) -> "Script":
        return self.step("closed")

    def sleep(self, ms: int) -> "Script":
        return self.step("sleep", ms)

    def visit(self, template: int, shot: str | None = None) -> "Script":
        """Waits for the page, then records everything on it: every control,
        the sheet's buttons, and a screenshot when named."""
        self.page(template).dump().buttons()
        return self.shot(shot) if shot else self

    def text(self) -> str:
        return "\r\n".join(self.lines) + "\r\n"


def install_script(session: Session, script: Script | str, path: str = SCRIPT) -> None:
    """Puts the steps (a Script, or their text as a scenario file holds it)
    where the driver reads them, with the screenshots' folder beside."""
    with open(session.prefix.unix(path), "w", encoding="cp1252", newline="") as f:
        f.write(script if isinstance(script, str) else script.text())
    os.makedirs(session.prefix.unix(SHOTS), exist_ok=True)


def wizard_command(session: Session, program: list[str], cwd: str, answers: dict[str, str],
                   timeout: int, short_paths: list[str] = (), step_timeout: int = 30,
                   script: str = SCRIPT, log: str = DRIVER_LOG) -> list[str]:
    argv = session.driver_command(program, cwd, answers, timeout, short_paths, log=log)
    at = argv.index("--")
    argv[at:at] = ["--wizard", script, "--shots", SHOTS, "--step-timeout", str(step_timeout)]
    return argv


def own_decorations(session: Session) -> list[str]:
    """Xvfb has no window manager, so nothing would draw the sheet's title
    bar: Wine draws its own frames when its windows are not "decorated"."""
    return [session.wine, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Decorated", "/d", "N", "/f"]


def watcher_start(session: Session) -> str:
    """A shell line that answers the driver's screenshot requests in the
    background: each DIR/NAME.req holds a rectangle of the screen, which
    ImageMagick's import cuts from the X display into DIR/NAME.png before
    the request is renamed to DIR/NAME.ack."""
    shots = q(session.prefix.unix(SHOTS))
    return (
        f"( while [ ! -e {shots}/STOP ]; do "
        f"for r in {shots}/*.req; do [ -e \"$r\" ] || continue; n=\"${{r%.req}}\"; "
        f"import -display \"$DISPLAY\" -window root -crop \"$(cat \"$r\")\" +repage \"$n.png\" "
        f"2>>{shots}/watcher.err; mv \"$r\" \"$n.ack\"; done; sleep 0.1; done ) &"
    )


def watcher_stop(session: Session) -> str:
    return f"touch {q(session.prefix.unix(SHOTS))}/STOP; wait"


def run_wizard(session: Session, script: Script, program: list[str], cwd: str, answers: dict[str, str],
               timeout: int, short_paths: list[str] = (), before: list = (), after: list = ()) -> None:
    """One session: the driver starts the program and plays the script while
    the watcher takes the screenshots."""
    install_script(session, script)
    session.run([own_decorations(session)] + list(before) + [
        watcher_start(session),
        wizard_command(session, program, cwd, answers, timeout, short_paths),
        watcher_stop(session),
    ] + list(after), timeout)


# --- the log -----------------------------------------------------------------

@dataclass(frozen=True)
class Control:
    id: int
    cls: str
    text: str
    check: str        # checked, unchecked, indeterminate, or - for no check box
    enabled: bool
    visible: bool
    missing: bool = False


def _control(fields: list[str]) -> Control:
    if len(fields) >= 4 and fields[3] == "missing":
        return Control(int(fields[0]), "", "", "-", False, False, missing=True)
    f = fields + [""] * (6 - len(fields))
    return Control(int(f[0]), f[1], f[2], f[3], f[4] == "enabled", f[5] == "visible")


@dataclass
class PageVisit:
    """What the driver saw on one arrival at a page, up to the next arrival."""
    template: int
    caption: str
    controls: dict[int, Control]
    buttons: dict[str, str]          # on arrival
    shot: str | None
    events: list[list[str]]
    later_buttons: list = None

    def __post_init__(self):
        if self.later_buttons is None:
            self.later_buttons = []

    def reads(self, control: int) -> list[Control]:
        """What each "read" step of this visit saw of the control, in order."""
        return [_control(e[1:]) for e in self.events if e[0] == "READ" and e[1] == str(control)]


class WizardLog:
    def __init__(self, log: DriverLog):
        self.log = log

    @property
    def failures(self) -> list[list[str]]:
        return self.log.events("STEPFAIL")

    @property
    def pages(self) -> list[int]:
        return [int(f[0]) for f in self.log.events("PAGE")]

    def visits(self) -> list[PageVisit]:
        visits: list[PageVisit] = []
        for line in self.log.lines:
            kind, fields = line[0], line[1:]
            if kind == "PAGE":
                visits.append(PageVisit(int(fields[0]), fields[2] if len(fields) > 2 else "", {}, {}, None, []))
                continue
            if not visits:
                continue
            v = visits[-1]
            v.events.append(line)
            if kind in ("CONTROL", "READ", "CLICK", "SETTEXT"):
                c = _control(fields)
                v.controls[c.id] = c
            elif kind == "BUTTONS":
                # The first listing is the page as it arrived; later ones
                # follow the script's clicks.
                state = dict(f.split("=", 1) for f in fields if "=" in f)
                if not v.buttons:
                    v.buttons = state
                v.later_buttons.append(state)
            elif kind == "SHOT":
                v.shot = fields[1] if len(fields) > 1 and not fields[1].startswith("!") else None
        return visits

    def events(self, kind: str) -> list[list[str]]:
        return self.log.events(kind)


def shot_files(session: Session) -> dict[str, str]:
    """Screenshot name -> Unix path of the PNG the watcher wrote."""
    folder = session.prefix.unix(SHOTS)
    if not os.path.isdir(folder):
        return {}
    return {f[:-4]: os.path.join(folder, f) for f in sorted(os.listdir(folder)) if f.endswith(".png")}


def png_size(path: str) -> tuple[int, int] | None:
    """Width and height from the PNG header, or None for anything else."""
    try:
        with open(path, "rb") as f:
            head = f.read(24)
    except OSError:
        return None
    if len(head) < 24 or head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")


def png_colours(path: str) -> int | None:
    """How many colours the picture has (a blank or black picture has one or
    two); None when ImageMagick cannot tell."""
    if not shutil.which("identify"):
        return None
    run = subprocess.run(["identify", "-format", "%k", path], capture_output=True, text=True, timeout=60)
    try:
        return int(run.stdout.strip())
    except ValueError:
        return None
