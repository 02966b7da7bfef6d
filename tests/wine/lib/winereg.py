"""Reads the registry of a Wine prefix from its text files.

Wine keeps HKEY_LOCAL_MACHINE in system.reg and HKEY_CURRENT_USER in user.reg
and writes them when the wineserver exits (format "WINE REGISTRY Version 2",
server/registry.c):

    [Software\\\\VORTAN\\\\FTP] 1796743405      key path relative to the hive, then a time
    #time=1dd872811d842d6                     key metadata lines start with '#'
    "Name"="text"                             REG_SZ whose data ends in one NUL
    @="text"                                  the key's default value
    "Name"=str(2):"text"                      REG_EXPAND_SZ / REG_MULTI_SZ in that form
    "Name"=dword:00000001                     REG_DWORD
    "Name"=hex:01,00,00,00                    REG_BINARY, long data continues after a
    "Name"=hex(1):                            backslash at the end of the line;
                                              any other type or a string that is not
                                              NUL-terminated (an empty REG_SZ written
                                              with size 0 is "hex(1):")

Names and strings escape '\\', '"' (and '[' ']' in key names) with a
backslash; control characters appear as \\n, \\t, ... or octal \\0, and
characters above 127 as \\xHHHH. String data is stored as UTF-16LE; a value
written in string form had a terminating NUL, which the file leaves out.
"""
from __future__ import annotations

import os
import re
from dataclasses import dataclass, field

REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ = 0, 1, 2, 3, 4, 7
TYPE_NAMES = {REG_NONE: "REG_NONE", REG_SZ: "REG_SZ", REG_EXPAND_SZ: "REG_EXPAND_SZ",
              REG_BINARY: "REG_BINARY", REG_DWORD: "REG_DWORD", REG_MULTI_SZ: "REG_MULTI_SZ"}

_C_ESCAPES = {"a": "\a", "b": "\b", "t": "\t", "n": "\n", "v": "\v", "f": "\f", "r": "\r", "e": "\x1b"}
_HEX = set("0123456789abcdefABCDEF")


@dataclass(frozen=True)
class Value:
    """A registry value as stored: its type and its bytes (string data as
    UTF-16LE including the terminating NUL)."""
    type: int
    data: bytes

    @staticmethod
    def sz(text: str) -> "Value":
        return Value(REG_SZ, (text + "\0").encode("utf-16-le"))

    @staticmethod
    def binary(data: bytes) -> "Value":
        return Value(REG_BINARY, bytes(data))

    def text(self) -> str | None:
        """The string without its terminating NUL, or None when the data is
        not a NUL-terminated UTF-16 string."""
        if self.type not in (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ):
            return None
        if len(self.data) < 2 or len(self.data) % 2 or self.data[-2:] != b"\0\0":
            return None
        return self.data[:-2].decode("utf-16-le")

    def __str__(self) -> str:
        name = TYPE_NAMES.get(self.type, f"type {self.type}")
        text = self.text()
        if text is not None:
            return f'{name} "{text}"'
        if self.type in (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ):
            return f"{name} without terminating NUL, {len(self.data)} bytes [{self.data.hex(' ')}]"
        return f"{name} [{self.data.hex(' ')}] ({len(self.data)} bytes)"


@dataclass
class Key:
    path: str                       # as written in the file, components joined with '\'
    values: dict = field(default_factory=dict)  # lower-case name -> (name, Value); "" = default

    def value(self, name: str) -> Value | None:
        entry = self.values.get(name.lower())
        return entry[1] if entry else None

    def names(self) -> list[str]:
        return sorted(n for n, _ in self.values.values())


def unescape(text: str) -> str:
    """Undoes Wine's string escaping (dump_strW)."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if c != "\\" or i + 1 >= n:
            out.append(c)
            i += 1
            continue
        c = text[i + 1]
        i += 2
        if c == "x":
            j = i
            while j < n and j - i < 4 and text[j] in _HEX:
                j += 1
            if j == i:
                out.append("x")
            else:
                out.append(chr(int(text[i:j], 16)))
                i = j
        elif "0" <= c <= "7":
            j = i
            while j < n and j - i < 2 and "0" <= text[j] <= "7":
                j += 1
            out.append(chr(int(c + text[i:j], 8)))
            i = j
        else:
            out.append(_C_ESCAPES.get(c, c))
    return "".join(out)


def _quoted(text: str, start: int) -> tuple[str, int]:
    """The escaped text of a quoted string whose opening quote is at start,
    and the index after its closing quote."""
    i = start + 1
    while i < len(text):
        if text[i] == "\\":
            i += 2
            continue
        if text[i] == '"':
            return text[start + 1:i], i + 1
        i += 1
    raise ValueError(f"unterminated string: {text[start:]!r}")


def _parse_data(data: str) -> Value:
    if data.startswith('"'):
        raw, _ = _quoted(data, 0)
        return Value(REG_SZ, (unescape(raw) + "\0").encode("utf-16-le"))
    m = re.match(r"str\(([0-9a-fA-F]+)\):", data)
    if m:
        raw, _ = _quoted(data, m.end())
        return Value(int(m.group(1), 16), (unescape(raw) + "\0").encode("utf-16-le"))
    m = re.match(r"dword:([0-9a-fA-F]{1,8})$", data)
    if m:
        return Value(REG_DWORD, int(m.group(1), 16).to_bytes(4, "little"))
    m = re.match(r"hex(?:\(([0-9a-fA-F]+)\))?:(.*)$", data, re.S)
    if m:
        kind = int(m.group(1), 16) if m.group(1) is not None else REG_BINARY
        digits = re.sub(r"[\s\\]", "", m.group(2))
        return Value(kind, bytes(int(b, 16) for b in digits.split(",") if b))
    raise ValueError(f"unknown value data: {data!r}")


def parse(text: str) -> dict[str, Key]:
    """Keys of one registry file by lower-case path."""
    keys: dict[str, Key] = {}
    current: Key | None = None
    lines = text.splitlines()
    i = 0
    while i < len(lines):
        line = lines[i]
        i += 1
        if line.startswith("["):
            end = line.rfind("]")
            path = unescape(line[1:end])
            current = keys.setdefault(path.lower(), Key(path))
            continue
        if current is None or not line or line[0] in "#;":
            continue
        if line.startswith("@="):
            name, rest = "", line[2:]
        elif line.startswith('"'):
            raw, after = _quoted(line, 0)
            if line[after:after + 1] != "=":
                continue
            name, rest = unescape(raw), line[after + 1:]
        else:
            continue
        # hex data continues on the next line after a trailing backslash.
        while rest.startswith("hex") and rest.endswith("\\") and i < len(lines):
            rest = rest[:-1] + lines[i].strip()
            i += 1
        current.values[name.lower()] = (name, _parse_data(rest))
    return keys


class Registry:
    """HKLM (system.reg), HKCU (user.reg) and the merged HKCR view of a
    prefix whose wineserver has exited.

    view32 reads a 64-bit prefix as a 32-bit program sees it (the registry
    redirector): HKLM\\Software\\X is Software\\Wow6432Node\\X, except
    Software\\Classes, which both views share but for its CLSID key, which is
    Software\\Classes\\Wow6432Node\\CLSID (measured in a Wine 8 64-bit
    prefix with reg.exe run by the 32-bit loader)."""

    def __init__(self, prefix: str, view32: bool = False):
        self.view32 = view32
        self.hives = {}
        for hive, name in (("HKLM", "system.reg"), ("HKCU", "user.reg")):
            with open(os.path.join(prefix, name), encoding="utf-8", errors="surrogateescape") as f:
                self.hives[hive] = parse(f.read())

    def _split(self, hive: str, path: str) -> list[tuple[str, str]]:
        """Where a key lives. HKEY_CLASSES_ROOT merges the per-user classes
        over the machine's, as Windows 2000 and later do."""
        path = path.strip("\\")
        if hive == "HKCR":
            return [(h, self._redirect(h, "Software\\Classes\\" + path)) for h in ("HKCU", "HKLM")]
        return [(hive, self._redirect(hive, path))]

    def _redirect(self, hive: str, path: str) -> str:
        if not self.view32 or hive != "HKLM":
            return path
        low = path.lower()
        if low == "software\\classes\\clsid" or low.startswith("software\\classes\\clsid\\"):
            return "Software\\Classes\\Wow6432Node" + path[len("Software\\Classes"):]
        if low.startswith("software\\classes") or low.startswith("software\\wow6432node"):
            return path
        if low == "software" or low.startswith("software\\"):
            return "Software\\Wow6432Node" + path[len("Software"):]
        return path

    def key(self, hive: str, path: str) -> Key | None:
        for h, p in self._split(hive, path):
            k = self.hives[h].get(p.lower())
            if k is not None:
                return k
        return None

    def key_exists(self, hive: str, path: str) -> bool:
        """A key exists when it or a key below it appears in the file (Wine
        leaves out keys that have subkeys but no values)."""
        for h, p in self._split(hive, path):
            low = p.lower()
            if low in self.hives[h] or any(k.startswith(low + "\\") for k in self.hives[h]):
                return True
        return False

    def value(self, hive: str, path: str, name: str) -> Value | None:
        k = self.key(hive, path)
        return k.value(name) if k else None

    def subkeys(self, hive: str, path: str) -> list[str]:
        """Names of the direct subkeys (case as stored)."""
        names = {}
        for h, p in self._split(hive, path):
            low = p.lower() + "\\"
            for k in self.hives[h].values():
                if k.path.lower().startswith(low):
                    child = k.path[len(low):].split("\\")[0]
                    names.setdefault(child.lower(), child)
        return sorted(names.values())
