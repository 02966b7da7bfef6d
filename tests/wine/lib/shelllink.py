"""Reads shell link (.lnk) files with lnkinfo (Debian's liblnk-utils)."""
from __future__ import annotations

import re
import subprocess


def read(path: str) -> dict[str, str]:
    """The "Name : value" lines of lnkinfo's report, e.g. "Local path",
    "Working directory", "Description". Raises RuntimeError when lnkinfo
    cannot read the file."""
    run = subprocess.run(["lnkinfo", path], capture_output=True, text=True,
                         encoding="utf-8", errors="replace", timeout=60)
    if run.returncode != 0:
        raise RuntimeError(f"lnkinfo failed on {path}: {run.stderr.strip() or run.stdout.strip()}")
    return parse(run.stdout)


def parse(report: str) -> dict[str, str]:
    fields: dict[str, str] = {}
    for line in report.splitlines():
        m = re.match(r"^\s+([^:\t][^:]*?)\s*:\s(.*)$", line)
        if m:
            fields.setdefault(m.group(1).strip(), m.group(2).strip())
    return fields
