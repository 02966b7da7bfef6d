"""The NSIS installer bench/run compares ours with: its script, written
from the tree our installer produces, and its build with makensis."""
from __future__ import annotations

import os
import shutil
import subprocess

from common import DATA_DIRS, INSTALL_INI, NSIS_UNINSTALLER, WINDOWS
from dists import Dist
from lib.install import DESKTOP_LINK, ITEMS, PRODUCT_KEY, PROG_ID, SAMPLE_CLSID, UNINSTALL_KEY, Expected, expected_tree
from lib.scenario import Paths
from lib.wineenv import Arch


def NSIS_TARGET(arch: Arch) -> str:
    return "amd64-unicode" if arch.name == "win64" else "x86-unicode"


def nsis_script(exp: Expected, arch: Arch, dirs: list[str]) -> list[str]:
    """The NSIS script: the installation tree staged in stage\\, the same
    registry values, group items and shortcut as ours, and an uninstaller
    that removes them. Built for the prefix's architecture: x86-unicode in a
    32-bit prefix, where there is one registry view and SetRegView 64 must
    not be said (an x86 uninstaller told so found no "Installation
    Directory" and removed nothing); amd64-unicode with SetRegView 64 in a
    64-bit prefix, where our x86-64 build writes the 64-bit view."""
    regview = ["  SetRegView 64"] if arch.name == "win64" else []
    key = PRODUCT_KEY
    lines = [
        "Unicode true",
        f"Target {NSIS_TARGET(arch)}",
        "SetCompressor zlib",
        'Name "VORTAN FTP"',
        'OutFile "nsis-setup.exe"',
        'InstallDir "$PROGRAMFILES64\\VORTAN\\FTP"' if arch.name == "win64" else 'InstallDir "$PROGRAMFILES\\VORTAN\\FTP"',
        "RequestExecutionLevel admin",
        "ShowInstDetails nevershow",
        "ShowUninstDetails nevershow",
        "",
        'Section "Install"',
        *regview,
        "  SetShellVarContext current",
        '  SetOutPath "$INSTDIR"',
        '  File /r "stage\\*.*"',
    ]
    lines += [f'  CreateDirectory "$INSTDIR\\{rel}"' for rel in dirs]
    lines += ['  StrCpy $0 "$DOCUMENTS\\FTP"']
    lines += [f'  CreateDirectory "$0\\{sub}"' for sub in DATA_DIRS]
    values = [
        ("Bin", "HKLM", key, "BaseRegistry", f"{exp.base_registry:02x}"),
        ("Bin", "HKLM", key, "Profile Mode", f"{exp.profile_mode:02x}"),
        ("Str", "HKLM", key, "Installation Directory", "$INSTDIR"),
        ("Bin", "HKLM", key, "WorkingDirType", f"{exp.working_dir_type:02x}"),
        ("Bin", "HKLM", key, "Lock", "00000000"),
        ("Bin", "HKLM", key, "LockFTP", "00000000"),
        ("Str", "HKLM", key, "Program Group", exp.group_name),
        ("Str", "HKCU", key, "Working Directory", "$0"),
    ]
    values += [("Str", "HKLM", key + "\\Support", f"Line{n}", "") for n in range(1, 10)]
    values += [("Str", "HKLM", key + "\\About", name, "") for name in exp.about]
    values += [
        ("Str", "HKLM", UNINSTALL_KEY, "DisplayName", "VORTAN FTP"),
        ("Str", "HKLM", UNINSTALL_KEY, "UninstallString", f"$INSTDIR\\{NSIS_UNINSTALLER}"),
        ("Str", "HKCR", ".qft", "", PROG_ID),
        ("Str", "HKCR", PROG_ID, "", "Keldra FTP"),
        ("Str", "HKCR", PROG_ID + "\\CurVer", "", PROG_ID),
        ("Str", "HKCR", PROG_ID + "\\DefaultIcon", "", "$INSTDIR\\Qxftp.exe,-103"),
        ("Str", "HKCR", PROG_ID + "\\shell\\open\\command", "", '"$INSTDIR\\Qxftp.exe" /f"%1"'),
    ]
    for kind, hive, k, name, data in values:
        if kind == "Bin":
            lines.append(f'  WriteRegBin {hive} "{k}" "{name}" {data}')
        else:
            lines.append(f'  WriteRegStr {hive} "{k}" "{name}" "{data.replace(chr(34), "$" + chr(92) + chr(34))}"')
    group = f"$SMPROGRAMS\\{exp.group_name}"
    lines += [
        '  RegDLL "$INSTDIR\\QXFTP.DLL"',
        f'  CreateDirectory "{group}"',
    ]
    lines += [f'  CreateShortCut "{group}\\{item}.lnk" "$INSTDIR\\{file}"' for item, file in ITEMS.items()]
    lines += [
        "  SetShellVarContext all",
        '  SetOutPath "$INSTDIR"',
        f'  CreateShortCut "$DESKTOP\\{DESKTOP_LINK}" "$INSTDIR\\QXFTP.EXE" "" "" 0 SW_SHOWNORMAL "" "VORTAN FTP"',
        f'  WriteUninstaller "$INSTDIR\\{NSIS_UNINSTALLER}"',
        "SectionEnd",
        "",
        'Section "Uninstall"',
        *regview,
        # Run in place from C:\\remove (_?=): the folder comes from the
        # registry, as ours finds it.
        f'  ReadRegStr $INSTDIR HKLM "{key}" "Installation Directory"',
        '  StrCmp $INSTDIR "" 0 +2',
        "  Abort",
        '  UnRegDLL "$INSTDIR\\QXFTP.DLL"',
        f'  ReadRegStr $0 HKCU "{key}" "Working Directory"',
        '  StrCmp $0 "" +3',
    ]
    # Two lines skipped when no working folder is recorded.
    lines += ['  RMDir /r "$0"', "  Nop"]
    lines += [
        '  RMDir /r "$INSTDIR"',
        "  SetShellVarContext all",
        f'  Delete "$DESKTOP\\{DESKTOP_LINK}"',
        "  SetShellVarContext current",
    ]
    lines += [f'  Delete "{group}\\{item}.lnk"' for item in ITEMS]
    lines += [
        f'  RMDir "{group}"',
        f'  DeleteRegKey HKLM "{key}"',
        f'  DeleteRegKey HKCU "{key}"',
        f'  DeleteRegKey HKLM "{UNINSTALL_KEY}"',
        f'  DeleteRegKey HKCR "CLSID\\{SAMPLE_CLSID}"',
        "SectionEnd",
    ]
    return lines


def make_nsis(paths: Paths, d: Dist, user: str, arch: Arch) -> None:
    """Stages the installation tree our installer produces (the same
    derivation the Wine tests check it against) and writes an NSIS script
    that installs it with the same registry values, group and shortcut."""
    exp = Expected.derive(INSTALL_INI, WINDOWS, user)
    d.tree = expected_tree(exp, d.dist, d.product, paths.setup_exe)
    stage = os.path.join(d.nsis_dir, "stage")
    shutil.rmtree(d.nsis_dir, ignore_errors=True)
    os.makedirs(stage)
    dirs = []
    for rel, source in sorted(d.tree.items()):
        unix = os.path.join(stage, *rel.split("\\"))
        if source is None:
            os.makedirs(unix, exist_ok=True)
            dirs.append(rel)
        else:
            os.makedirs(os.path.dirname(unix), exist_ok=True)
            try:
                os.link(source, unix)
            except OSError:
                shutil.copy2(source, unix)
            d.payload_bytes += os.path.getsize(source)
            d.file_count += 1

    lines = nsis_script(exp, arch, dirs)
    with open(os.path.join(d.nsis_dir, "product.nsi"), "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    run = subprocess.run(["makensis", "-V2", "product.nsi"], cwd=d.nsis_dir, capture_output=True, text=True,
                         timeout=900)
    if run.returncode != 0 or not os.path.exists(d.nsis_exe):
        raise RuntimeError(f"makensis failed: {(run.stdout + run.stderr).strip()[-3000:]}")
    shutil.rmtree(stage)
