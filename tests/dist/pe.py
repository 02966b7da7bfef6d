"""What a Windows program file says about itself, read without running it:
the PE headers, the imported DLLs and functions, the resources (with the
manifest and the version block) and the Authenticode certificate table.

Layouts from Microsoft's "PE Format" page (learn.microsoft.com,
windows/win32/debug/pe-format) and, for the version block, the VS_VERSIONINFO,
StringFileInfo and String structures of the Windows SDK reference."""
from __future__ import annotations

import struct
from dataclasses import dataclass, field

MACHINE_I386 = 0x014C
MACHINE_AMD64 = 0x8664
PE32 = 0x10B
PE32_PLUS = 0x20B
SUBSYSTEM_WINDOWS_GUI = 2
DIR_IMPORT, DIR_RESOURCE, DIR_SECURITY = 1, 2, 4
RT_VERSION, RT_MANIFEST = 16, 24
WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0002


class PEError(ValueError):
    pass


@dataclass
class Section:
    name: str
    virtual_address: int
    virtual_size: int
    raw_offset: int
    raw_size: int


@dataclass
class PE:
    data: bytes
    machine: int = 0
    characteristics: int = 0
    magic: int = 0
    os_version: tuple = (0, 0)
    subsystem_version: tuple = (0, 0)
    subsystem: int = 0
    directories: list = field(default_factory=list)
    sections: list = field(default_factory=list)

    @classmethod
    def read(cls, path: str) -> "PE":
        with open(path, "rb") as f:
            return cls.parse(f.read())

    @classmethod
    def parse(cls, data: bytes) -> "PE":
        pe = cls(data)
        if data[:2] != b"MZ":
            raise PEError("no MZ header")
        (lfanew,) = struct.unpack_from("<I", data, 0x3C)
        if data[lfanew:lfanew + 4] != b"PE\0\0":
            raise PEError("no PE signature")
        coff = lfanew + 4
        pe.machine, nsections, _, _, _, opt_size, pe.characteristics = struct.unpack_from("<HHIIIHH", data, coff)
        opt = coff + 20
        (pe.magic,) = struct.unpack_from("<H", data, opt)
        if pe.magic not in (PE32, PE32_PLUS):
            raise PEError(f"unknown optional header magic {pe.magic:#x}")
        pe.os_version = struct.unpack_from("<HH", data, opt + 40)
        pe.subsystem_version = struct.unpack_from("<HH", data, opt + 48)
        (pe.subsystem,) = struct.unpack_from("<H", data, opt + 68)
        count_at = opt + (92 if pe.magic == PE32 else 108)
        (count,) = struct.unpack_from("<I", data, count_at)
        pe.directories = [struct.unpack_from("<II", data, count_at + 4 + 8 * i) for i in range(count)]
        first = opt + opt_size
        for i in range(nsections):
            name, vsize, vaddr, rsize, roff = struct.unpack_from("<8sIIII", data, first + 40 * i)
            pe.sections.append(Section(name.rstrip(b"\0").decode("ascii", "replace"), vaddr, vsize, roff, rsize))
        return pe

    # --- addressing --------------------------------------------------------
    def offset(self, rva: int) -> int:
        for s in self.sections:
            if s.virtual_address <= rva < s.virtual_address + max(s.virtual_size, s.raw_size):
                return s.raw_offset + rva - s.virtual_address
        raise PEError(f"RVA {rva:#x} lies in no section")

    def cstring(self, rva: int) -> str:
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def directory(self, index: int) -> tuple:
        return self.directories[index] if index < len(self.directories) else (0, 0)

    # --- imports -----------------------------------------------------------
    def imports(self) -> dict[str, list[str]]:
        """DLL name as the file spells it -> imported names (ordinals as '#n')."""
        rva, size = self.directory(DIR_IMPORT)
        out: dict[str, list[str]] = {}
        if not rva:
            return out
        thunk_size, ordinal_flag = (4, 1 << 31) if self.magic == PE32 else (8, 1 << 63)
        at = self.offset(rva)
        while True:
            lookup, _, _, name_rva, first_thunk = struct.unpack_from("<IIIII", self.data, at)
            if not (lookup or name_rva or first_thunk):
                break
            names = out.setdefault(self.cstring(name_rva), [])
            t = self.offset(lookup or first_thunk)
            while True:
                (entry,) = struct.unpack_from("<I" if thunk_size == 4 else "<Q", self.data, t)
                if not entry:
                    break
                if entry & ordinal_flag:
                    names.append(f"#{entry & 0xFFFF}")
                else:
                    names.append(self.cstring((entry & 0x7FFFFFFF) + 2))
                t += thunk_size
            at += 20
        return out

    # --- resources ---------------------------------------------------------
    def resources(self) -> dict[tuple, bytes]:
        """(type, name, language) -> data; a named entry's key is its string."""
        rva, _ = self.directory(DIR_RESOURCE)
        if not rva:
            return {}
        base = self.offset(rva)
        out: dict[tuple, bytes] = {}

        def entries(at: int):
            named, ids = struct.unpack_from("<HH", self.data, at + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
                if name & 0x80000000:
                    s = base + (name & 0x7FFFFFFF)
                    (length,) = struct.unpack_from("<H", self.data, s)
                    key = self.data[s + 2:s + 2 + 2 * length].decode("utf-16-le")
                else:
                    key = name
                yield key, target

        def walk(at: int, path: tuple):
            for key, target in entries(at):
                if target & 0x80000000:
                    walk(base + (target & 0x7FFFFFFF), path + (key,))
                else:
                    data_rva, size, _, _ = struct.unpack_from("<IIII", self.data, base + target)
                    start = self.offset(data_rva)
                    out[path + (key,)] = self.data[start:start + size]

        walk(base, ())
        return out

    # --- Authenticode ------------------------------------------------------
    def certificates(self) -> list[tuple[int, int]]:
        """(revision, type) of each WIN_CERTIFICATE in the certificate table,
        whose directory entry holds a file offset, not an address."""
        offset, size = self.directory(DIR_SECURITY)
        out = []
        at, end = offset, offset + size
        while offset and at + 8 <= end:
            length, revision, kind = struct.unpack_from("<IHH", self.data, at)
            if length < 8:
                break
            out.append((revision, kind))
            at += (length + 7) & ~7
        return out


# --- the version block ------------------------------------------------------

@dataclass
class VersionNode:
    key: str
    value: bytes
    text: bool
    children: list


def _version_node(data: bytes, at: int) -> tuple[VersionNode, int]:
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    end = at + length
    k = at + 6
    key_end = k
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[k:key_end].decode("utf-16-le")
    v = (key_end + 2 + 3) & ~3
    value_bytes = value_length * 2 if kind == 1 else value_length
    value = data[v:v + value_bytes]
    c = (v + value_bytes + 3) & ~3
    children = []
    while c < end:
        child, c = _version_node(data, c)
        children.append(child)
        c = (c + 3) & ~3
    return VersionNode(key, value, kind == 1, children), end


def version_strings(block: bytes) -> tuple[tuple, dict[str, str]]:
    """(file version, product version) from VS_FIXEDFILEINFO, and every
    String of the StringFileInfo tables."""
    root, _ = _version_node(block, 0)
    if root.key != "VS_VERSION_INFO":
        raise PEError(f"version block key {root.key!r}")
    signature, _, ms, ls, pms, pls = struct.unpack_from("<IIIIII", root.value, 0)
    if signature != 0xFEEF04BD:
        raise PEError("no VS_FIXEDFILEINFO signature")
    fixed = ((ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF), (pms >> 16, pms & 0xFFFF, pls >> 16, pls & 0xFFFF))
    strings = {}
    for info in root.children:
        if info.key != "StringFileInfo":
            continue
        for table in info.children:
            for s in table.children:
                strings[s.key] = s.value.decode("utf-16-le").rstrip("\0")
    return fixed, strings
