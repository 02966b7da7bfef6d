"""Wine cases of the installation directory's permissions. A per-machine
installation directory made outside Program Files on the NT family would
inherit the drive root's permissions, which let any local user replace
QXFTP.DLL or UNINS.EXE before an administrator's next removal; it is given
what Program Files has: BUILTIN\\Administrators and SYSTEM full control,
BUILTIN\\Users read and execute, passed on to what is made inside it, and
nothing inherited from its parent. The working directory, and a directory
inside Program Files, are left to inherit.

What Wine 8 can show, measured: it does not keep a file's descriptor. A DACL
set with SetFileSecurityA becomes the file's Unix mode (C:\\Apps\\VORTAN went
from 755 to 770, no extended attribute was written), and GetFileSecurityA
reports a DACL made from the mode (SYSTEM and the prefix's user, plus
Everyone read and execute where "others" may read, never protected). So the
cases read two things: the descriptor the program handed to the system, from
the wineserver's request trace (WINEDEBUG=+server on the installation's run:
"set_security_object( handle=..., sd={control=...,dacl={{type=ACCESS_ALLOWED,
flags=3,mask=1f01ff,sid=S-1-5-32-544},...}} )" after the "create_file" that
opened the directory), and what driver/vacl.exe reads back with
GetFileSecurityA: Everyone's access gone from the directory, and left on the
working directory and on a directory inside Program Files."""
from __future__ import annotations

import os
import re
import shlex
import shutil
from dataclasses import dataclass, field

from lib import setupini
from lib.checks import Checks
from lib.install import Expected, check_installation, join
from lib.scenario import DIST, TOOLS, Case, Paths, Session

ACL_OUT = TOOLS + r"\acl.txt"
ADMINISTRATORS, SYSTEM, USERS = "S-1-5-32-544", "S-1-5-18", "S-1-5-32-545"
# FILE_ALL_ACCESS, or GENERIC_ALL before the system maps it.
FULL_CONTROL = {0x001F01FF, 0x10000000}
# FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, or GENERIC_READ | GENERIC_EXECUTE.
READ_EXECUTE = {0x001200A9, 0xA0000000}
OBJECT_INHERIT, CONTAINER_INHERIT, INHERIT_ONLY, INHERITED = 0x01, 0x02, 0x08, 0x10
SE_DACL_PROTECTED = 0x1000
EVERYONE = "S-1-1-0"


@dataclass
class Ace:
    type: str      # A allowed, D denied
    sid: str
    mask: int
    flags: int


@dataclass
class Dacl:
    path: str
    control: int | None = None
    aces: list = field(default_factory=list)
    errors: list = field(default_factory=list)
    present: bool = True

    @property
    def protected(self) -> bool:
        return self.control is not None and bool(self.control & SE_DACL_PROTECTED)

    def summary(self) -> list[str]:
        return [f"{a.type}:{a.sid}:{a.mask:08x}:{a.flags:02x}" for a in self.aces]


def read_acls(path: str) -> dict[str, Dacl]:
    """vacl.exe's output by lower-case path."""
    out: dict[str, Dacl] = {}
    current = None
    with open(path, encoding="cp1252", errors="replace") as f:
        for line in f:
            word, _, rest = line.rstrip("\r\n").partition(" ")
            if word == "PATH":
                current = out.setdefault(rest.lower(), Dacl(rest))
            elif current is None:
                continue
            elif word == "CONTROL":
                current.control = int(rest.split()[0], 16)
            elif word == "ACE":
                kind, sid, mask, flags = rest.split(":")
                try:
                    current.aces.append(Ace(kind, sid, int(mask, 16), int(flags, 16)))
                except ValueError:
                    current.errors.append(line.strip())
            elif word == "NODACL":
                current.present = False
            elif word == "ERROR":
                current.errors.append(rest)
    return out


_REQUEST = re.compile(r"^(\w+): (\w+)\((.*)\)\s*$")
_REPLY_HANDLE = re.compile(r"^(\w+): (\w+)\(\) = 0 \{.*\bhandle=(\w+)")
_NAME = re.compile(r'name=L"((?:[^"\\]|\\.)*)"')
_ACE = re.compile(r"\{type=(\w+),flags=([0-9a-fA-F]+),mask=([0-9a-fA-F]+),sid=([^}]+)\}")


def requested_descriptors(trace: str) -> list[Dacl]:
    """The DACLs programs handed to the system, from the wineserver's
    request trace, with the path each was set on: the name of the
    create_file or open_file_object request whose reply gave the handle, in
    the same thread ("00d4: ..."). A handle whose path is not in the trace
    is shown as "handle <n>"."""
    names: dict[tuple[str, str], str] = {}
    pending: dict[str, str] = {}
    out = []
    for line in trace.splitlines():
        reply = _REPLY_HANDLE.match(line)
        if reply:
            thread, request, handle = reply.groups()
            if request in ("create_file", "open_file_object") and thread in pending:
                names[(thread, handle)] = pending.pop(thread)
            continue
        m = _REQUEST.match(line)
        if not m:
            continue
        thread, request, args = m.groups()
        if request in ("create_file", "open_file_object"):
            name = _NAME.search(args)
            if name:
                path = name.group(1).replace("\\\\", "\\")
                pending[thread] = path[4:] if path.startswith("\\??\\") else path
        elif request == "set_security_object" and "dacl=" in args:
            handle = re.search(r"handle=(\w+)", args).group(1)
            control = re.search(r"control=([0-9a-fA-F]+)", args)
            d = Dacl(names.get((thread, handle), f"handle {handle}"),
                     int(control.group(1), 16) if control else None)
            for kind, flags, mask, sid in _ACE.findall(args[args.index("dacl="):]):
                d.aces.append(Ace({"ACCESS_ALLOWED": "A", "ACCESS_DENIED": "D"}.get(kind, kind), sid,
                                  int(mask, 16), int(flags, 16)))
            out.append(d)
    return out


def check_protected(c: Checks, d: Dacl | None, what: str) -> None:
    """Program Files' permissions: exactly Administrators and SYSTEM with
    full control and Users with read and execute, each for the directory
    itself and for everything made inside it, allowed, and protected from
    what the parent would pass on."""
    if not c.that(f"{what}: a DACL", d is not None and not d.errors and d.present,
                  "a DACL", "missing" if d is None else (d.errors or "no DACL (everyone has full control)")):
        return
    c.that(f"{what}: protected from the parent's permissions", d.protected, "SE_DACL_PROTECTED",
           f"control {d.control:04x}" if d.control is not None else "no control read")
    c.eq(f"{what}: trustees", sorted([ADMINISTRATORS, SYSTEM, USERS]), sorted({a.sid for a in d.aces}))
    c.eq(f"{what}: denying ACEs", [], [x for x, a in zip(d.summary(), d.aces) if a.type != "A"])
    for sid, masks, name in ((ADMINISTRATORS, FULL_CONTROL, "Administrators full control"),
                             (SYSTEM, FULL_CONTROL, "SYSTEM full control"),
                             (USERS, READ_EXECUTE, "Users read and execute")):
        mine = [a for a in d.aces if a.sid == sid and a.type == "A"]
        c.that(f"{what}: {name} on the directory itself",
               any(a.mask in masks and not a.flags & INHERIT_ONLY for a in mine),
               "an ACE without INHERIT_ONLY", d.summary())
        c.that(f"{what}: {name} passed on to files and folders made inside",
               any(a.mask in masks and a.flags & OBJECT_INHERIT and a.flags & CONTAINER_INHERIT for a in mine),
               "an ACE with OBJECT_INHERIT and CONTAINER_INHERIT", d.summary())
        c.eq(f"{what}: {name}, no wider right", [], [f"{a.mask:08x}" for a in mine if a.mask not in masks])


def check_inherits(c: Checks, d: Dacl | None, parent: Dacl | None, what: str) -> None:
    """Left as the system made it: not protected, the same ACEs as the folder
    it was made in (Wine makes both from their Unix modes)."""
    if not c.that(f"{what}: DACL read", d is not None and not d.errors and parent is not None and not parent.errors,
                  "its DACL and its parent's", "missing"):
        return
    c.that(f"{what}: not protected from the parent", not d.protected, "inherits",
           f"SE_DACL_PROTECTED (control {d.control:04x})")
    c.eq(f"{what}: ACEs as its parent's ({parent.path})", parent.summary(), d.summary())


@dataclass
class PermissionsCase(Case):
    # The installation directory must get Program Files' permissions (True)
    # or be left to inherit (False).
    protected: bool = True


def install_and_read(case: PermissionsCase, paths: Paths, c: Checks) -> None:
    s = case.session = Session(paths, case.name, case.windows)
    s.make_dist()
    setupini.write(os.path.join(s.dist, "SETUP.INI"), case.ini)
    exp = Expected.derive(case.ini, case.windows, s.prefix.user(), s.wow64)
    vacl = join(TOOLS, "vacl.exe")
    shutil.copy2(os.path.join(paths.drivers, "vacl.exe"), s.tools)
    parent = exp.install_dir.rsplit("\\", 1)[0]
    work_parent = exp.working_dir.rsplit("\\", 1)[0]
    looked_at = [exp.install_dir, parent, exp.working_dir, work_parent]
    shorts = [join(exp.install_dir, f) for f in ("QXFTP.EXE", "UNINS.EXE")]
    # The trace goes to the wineserver's output, the session's.
    install = s.driver_command([join(DIST, "Setup.exe")], DIST, case.answers, case.timeout, shorts)
    run = s.run(["WINEDEBUG=+server " + " ".join(shlex.quote(a) for a in install),
                 f"{shlex.quote(s.wine)} {shlex.quote(vacl)} " + " ".join(shlex.quote(p) for p in looked_at)
                 + f" > {shlex.quote(s.prefix.unix(ACL_OUT))}"], case.timeout)
    check_installation(c, s.prefix, exp, s.driver_log(), s.dist, paths.product, paths.setup_exe)

    requested = requested_descriptors(run.stdout)
    c.that("the wineserver's request trace", "create_file(" in run.stdout, "in the session's output",
           "missing (WINEDEBUG=+server had no effect)")
    acls = read_acls(s.prefix.unix(ACL_OUT))
    get = lambda p: acls.get(p.lower())
    if case.protected:
        c.eq("paths given a DACL by the installation", [exp.install_dir.lower()], [d.path.lower() for d in requested])
        mine = [d for d in requested if d.path.lower() == exp.install_dir.lower()]
        check_protected(c, mine[0] if mine else None, f"DACL set on {exp.install_dir}")
        # Read back: Wine keeps the DACL as the Unix mode, so the directory
        # no longer lets Everyone in, while the folder it was made in does.
        d, p = get(exp.install_dir), get(parent)
        if c.that(f"{exp.install_dir} and {parent}: DACLs read back", d is not None and p is not None
                  and not d.errors and not p.errors, "both", "missing"):
            c.that(f"{parent} read back: Everyone may read", EVERYONE in {a.sid for a in p.aces}, EVERYONE,
                   p.summary())
            c.eq(f"{exp.install_dir} read back: Everyone's ACEs", [],
                 [x for x, a in zip(d.summary(), d.aces) if a.sid == EVERYONE])
    else:
        c.eq("paths given a DACL by the installation", [], [d.path for d in requested])
        check_inherits(c, get(exp.install_dir), get(parent), exp.install_dir)
    check_inherits(c, get(exp.working_dir), get(work_parent), f"working directory {exp.working_dir}")


CASES = [
    PermissionsCase(
        name="win10_permissions_outside_program_files", run=install_and_read, windows="win10",
        ini=setupini.merge(setupini.QUIET_ALL_KEYS, {"FTPSetup": {"DestinationDir": r"C:\Apps\VORTAN"}}),
        protected=True,
        summary="Windows 10, a per-machine installation in C:\\Apps\\VORTAN: the directory gets Program Files' "
                "permissions (Administrators and SYSTEM full control, Users read and execute, inherited inside, "
                "protected); the working directory is left to inherit"),
    PermissionsCase(
        name="win10_permissions_inside_program_files", run=install_and_read, windows="win10",
        ini=setupini.QUIET_ALL_KEYS, protected=False,
        summary="Windows 10, a per-machine installation in Program Files: the directory is left to inherit "
                "Program Files' permissions, as the working directory is"),
]
