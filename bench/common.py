"""What every part of the bench shares: where it works and writes, the Wine
tests' helpers on the import path, and the installation it measures (the
Windows version, the quiet SETUP.INI, the scaled distribution's sizes)."""
from __future__ import annotations

import os
import sys

BENCH = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(BENCH)
# The Wine tests' prefixes, sessions and expectations, as package `lib`.
sys.path.insert(0, os.path.join(REPO, "tests", "wine"))

from lib import setupini  # noqa: E402

# The command itself: a session runs it again to make the working files.
RUN = os.path.join(BENCH, "run")
WORK = os.path.join(REPO, "build", "bench")
DOC = os.path.join(REPO, "docs", "benchmarks.md")
WINDOWS = "winxp"
INSTALL_INI = setupini.QUIET_ALL_KEYS
DATA_DIRS = ("Transfer", "Cache", "Config", "Traces", "Certs")
NSIS_UNINSTALLER = "nsis-uninst.exe"

# The scaled distribution.
PAYLOAD_BYTES = 50 * 1024 * 1024
DOCS_FILES = 2000
WORKING_FILES = 5000
