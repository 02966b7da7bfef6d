"""A machine without the Program Manager, for part of one Wine session.

Setup.exe makes its Start Menu group through the shell's DDE service
"PROGMAN". Under Wine that service lives in the desktop process
(explorer.exe /desktop). When the desktop starts, it loads shell32 and calls
ShellDDEInit (ordinal 188), which registers the service. Each Wine program
that needs a window starts the desktop if none is running. Once the last
program has ended, the desktop closes about a second later.

without_progman(session) returns the shell lines to run before and after the
programs that must find no Program Manager:

    before, after = without_progman(s)
    s.run(before + [s.driver_command(...)] + after, timeout)

The before lines wait until this prefix has no desktop process, then turn off
shell32 for explorer.exe only, with shell32 = "" under
HKCU\\Software\\Wine\\AppDefaults\\explorer.exe\\DllOverrides. They also turn
off winedbg.exe, under HKCU\\Software\\Wine\\DllOverrides. The next desktop
to start then never registers PROGMAN. It goes on to call shell32's
SHGetDesktopFolder and stops there. The session output shows one "wine:
Call from ... to unimplemented function shell32.dll.SHGetDesktopFolder,
aborting" line each time a desktop starts. The programs' own windows and
message boxes keep working. The after lines delete both values, so the
next program that starts a desktop gets the Program Manager back. The keys
are under HKCU\\Software\\Wine, which the snapshots in uninstall.py count as
churn and ignore.

Measured with wine-8.0 (Debian 8.0~repack-4), the output of
/usr/lib/wine/wine64 --version (wine64 is not on PATH). The runs used a 64-bit
prefix (--arch win64) under xvfb-run. 32-bit prefixes were not tried: the
kernel here cannot run i386 programs. A probe program timed DdeInitialize,
DdeConnect("PROGMAN", "PROGMAN"), CreateWindowEx and MessageBox. The
installation runs used build/win64 Setup.exe under vdriver.exe.

With these lines:
- DdeConnect fails after 2 to 7 ms with DMLERR_NO_CONV_ESTABLISHED (0x400A),
  in 10 probe runs. With the Program Manager it connects in 7 to 24 ms, up to
  about 200 ms for the first program of a busy session. Windows are created
  normally. A box the driver answers takes about 2 s either way.
- Quiet installation (QUIET_ALL_KEYS): no box, exit code 1, no group folder
  in the Start Menu (CreateGroup and AddItem go nowhere). Of the 113 checks
  of check_installation, only the group folder check failed. The files, the
  registry and the desktop shortcut were all in place. The driver ran 0.58
  to 0.74 s (1.2 s once), against 0.90 to 1.09 s with the Program Manager.
- The wizard (install_script of cases_wizard.py): on arrival at the Program
  Group page, the box "Unable to Load Program Groups" / "DDE Error = 400A"
  appears. After it is answered, the installation goes on to the success box,
  exit code 1, no group folder. The driver ran 7.2 to 8.1 s, against 5.6 to
  5.7 s with the Program Manager; the difference is the one extra box.
- Results: 8 of 8 quiet runs and 8 of 8 wizard runs, seven of each in a
  row plus one of each in a batch of four sessions at once, two of them with
  the Program Manager. The paired runs with the Program Manager made the
  group every time. A probe run after the after lines connected every time.
- The before lines take about 1.6 s right after an earlier program of the
  session has ended: the desktop closes, then the two reg calls run. When a
  program with a window is still running, its desktop keeps serving. After
  10 s the lines print STILL_SERVED, and DdeConnect then succeeds. Check the
  output with served_anyway().

What did not work:
- SIGSTOP on the desktop's Unix process. A program started while the desktop
  was stopped hung in DdeInitialize, which makes the program's first window,
  until killed at 60 s. vdriver.exe hung the same way and never logged its
  time-out. A program started before the stop got through DdeInitialize, but
  its DdeConnect waited for the whole stop (21 s) and then succeeded.
  The DDE broadcast (SendMessageTimeoutW with SMTO_ABORTIFHUNG) did not skip
  the stopped desktop, although it was stopped for 20 s, more than the 5 s
  after which a window counts as hung.
- explorer.exe disabled (DllOverrides explorer.exe = ""). No desktop starts:
  CreateWindowEx fails within 3 ms and MessageBox returns -1, so Setup.exe
  could show nothing.
- shell32 disabled for explorer.exe alone, with the debugger left on. The
  desktop's stop starts winedbg --auto, which hung the first program for 60 s
  and longer. HKCU\\Software\\Wine\\WineDbg ShowCrashDialog = 0 did not help.
  The debugger must be off.
- No Wine setting keeps the desktop from calling ShellDDEInit. Wine's
  source shows the call is unconditional (programs/explorer/desktop.c), and
  so is the registration inside it (dlls/shell32/dde.c).
  HKCU\\Software\\Wine\\Explorer\\Desktops EnableShell covers the taskbar and
  launchers, not the DDE service.

Side effects: until the after lines run, a program that crashes ends without
winedbg's backtrace. A program with a window that is still running when the
after lines run keeps the desktop without the Program Manager alive. The
lines use pgrep and /proc, so they need Linux with procps.
"""
from __future__ import annotations

from shlex import quote as q

# A value "" under an application's DllOverrides disables that DLL for that
# program alone; Setup.exe, the driver and the rest keep the builtin shell32.
EXPLORER_APP_KEY = r"HKCU\Software\Wine\AppDefaults\explorer.exe"
EXPLORER_OVERRIDES = EXPLORER_APP_KEY + r"\DllOverrides"
# Without winedbg.exe the desktop's stop at SHGetDesktopFolder ends its
# process at once; with it, the first program waited 60 s and longer.
OVERRIDES = r"HKCU\Software\Wine\DllOverrides"

STILL_SERVED = "PROGMAN STILL SERVED"


def desktop_gone_line(prefix: str, tenths: int = 100) -> str:
    """A shell line that waits until no explorer.exe /desktop of this prefix
    runs, or prints STILL_SERVED after tenths * 0.1 s. An override read at
    the desktop's start cannot reach a desktop already running. Sessions of
    other prefixes run desktops of their own at the same time; the
    WINEPREFIX in /proc/PID/environ tells them apart."""
    want = q(f"WINEPREFIX={prefix}")
    return (
        f"i=0; while :; do d=; for p in $(pgrep -f 'explorer[.]exe /desktop'); do "
        f"tr '\\0' '\\n' < /proc/$p/environ 2>/dev/null | grep -qxF {want} && d=$p; done; "
        f"[ -z \"$d\" ] && break; i=$((i+1)); "
        f"if [ $i -ge {tenths} ]; then echo '{STILL_SERVED}: desktop process '$d; break; fi; "
        f"sleep 0.1; done"
    )


def without_progman(session) -> tuple[list, list]:
    """The lines to put before and after the programs that must find no
    Program Manager, in the style of Session.run's command list. Every
    program that starts in between, and has ended before the after lines,
    finds no PROGMAN service."""
    wine = session.wine
    before = [
        desktop_gone_line(session.prefix.env["WINEPREFIX"]),
        [wine, "reg", "add", EXPLORER_OVERRIDES, "/v", "shell32", "/d", "", "/f"],
        [wine, "reg", "add", OVERRIDES, "/v", "winedbg.exe", "/d", "", "/f"],
    ]
    # The base prefix has no AppDefaults\explorer.exe key; the whole key goes.
    after = [
        [wine, "reg", "delete", EXPLORER_APP_KEY, "/f"],
        [wine, "reg", "delete", OVERRIDES, "/v", "winedbg.exe", "/f"],
    ]
    return before, after


def served_anyway(output: str) -> bool:
    """True when the session's output shows that a desktop was still running
    when the before lines gave up waiting. That desktop kept the Program
    Manager."""
    return STILL_SERVED in output
