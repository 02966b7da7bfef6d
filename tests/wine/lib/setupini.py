"""SETUP.INI of a scenario, and how Setup.exe reads its values."""
from __future__ import annotations

import re

Ini = dict  # section -> {key: value}

# Every key a quiet installation needs: with all four of DestinationDir,
# UseGroup, GroupName and ShortCut present Setup.exe shows no box at all.
QUIET_ALL_KEYS: Ini = {
    "FTPSetup": {
        "QuietModeInstall": "Y",
        "DestinationDir": r"C:\Program Files\VORTAN\FTP",
        "BaseRegistry": "0",
    },
    "Program Group": {
        "UseGroup": "Y",
        "GroupName": "VORTAN FTP",
        "ShortCut": "Y",
    },
}


def merge(base: Ini, changes: Ini) -> Ini:
    """base with changes applied; a value of None removes the key."""
    out = {s: dict(keys) for s, keys in base.items()}
    for section, keys in changes.items():
        target = out.setdefault(section, {})
        for k, v in keys.items():
            if v is None:
                target.pop(k, None)
            else:
                target[k] = v
    return out


def write(path: str, ini: Ini) -> None:
    lines = []
    for section, keys in ini.items():
        lines.append(f"[{section}]")
        lines += [f"{k}={v}" for k, v in keys.items()]
        lines.append("")
    # An ANSI file with CR LF line ends, as an administrator's editor writes it.
    with open(path, "w", encoding="cp1252", newline="\r\n") as f:
        f.write("\n".join(lines))


def get(ini: Ini, section: str, key: str) -> str:
    """The value as GetPrivateProfileStringA returns it: sections and keys
    matched without regard to case, blanks around the value removed and one
    pair of enclosing quotes dropped; missing gives ""."""
    for s, keys in ini.items():
        if s.lower() != section.lower():
            continue
        for k, v in keys.items():
            if k.lower() == key.lower():
                v = v.strip()
                if len(v) >= 2 and v[0] == v[-1] and v[0] in "'\"":
                    v = v[1:-1]
                return v[:259]
    return ""


def yes(value: str) -> bool:
    return value[:1] in ("Y", "y")


def integer(value: str) -> int:
    """Leading blanks, an optional sign, then digits up to the first other
    character; no digits gives 0."""
    m = re.match(r"[ \t]*([+-]?)(\d*)", value)
    if not m or not m.group(2):
        return 0
    n = int(m.group(2))
    return -n if m.group(1) == "-" else n
