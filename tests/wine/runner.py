#!/usr/bin/env python3
"""Runs the Wine scenarios against the Windows build: Setup.exe installs the
sample product in a fresh 32-bit prefix (or, for the WOW64 cases, the same
32-bit build in a 64-bit prefix) and the checks read back the files, the
registry, the Start Menu group and the desktop shortcut. A case that cannot
run here is reported as skipped, with the reason, and never counts as passed.

usage: tests/wine/run [--list] [--jobs N] [--keep] [--build DIR] [CASE...]
"""
from __future__ import annotations

import argparse
import os
import shutil
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from cases import CASES  # noqa: E402
from cases_wizard import CASES as WIZARD_CASES  # noqa: E402
CASES = CASES + WIZARD_CASES
from cases_parity import CASES as PARITY_CASES  # noqa: E402
CASES = CASES + PARITY_CASES
from cases_safety import CASES as SAFETY_CASES  # noqa: E402
CASES = CASES + SAFETY_CASES
from cases_codepage import CASES as CODEPAGE_CASES  # noqa: E402
CASES = CASES + CODEPAGE_CASES
from cases_signed import CASES as SIGNED_CASES  # noqa: E402
CASES = CASES + SIGNED_CASES
from cases_permissions import CASES as PERMISSION_CASES  # noqa: E402
CASES = CASES + PERMISSION_CASES
from cases_user_files import CASES as USER_FILE_CASES  # noqa: E402
CASES = CASES + USER_FILE_CASES
from lib.scenario import Paths, run_case  # noqa: E402
from lib.wineenv import Arch, WineError, ensure_base  # noqa: E402

REPO = os.path.dirname(os.path.dirname(HERE))


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("cases", nargs="*", help="names of the cases to run (default: all)")
    parser.add_argument("--list", action="store_true", help="list the cases and exit")
    parser.add_argument("--jobs", type=int, default=int(os.environ.get("WINE_TEST_JOBS", "1")),
                        help="cases run at once, each with its own prefix and wineserver (default 1)")
    parser.add_argument("--keep", action="store_true", help="keep the prefixes of passing cases too")
    parser.add_argument("--verbose", "-v", action="store_true", help="print every check, not only failures")
    parser.add_argument("--arch", choices=("win32", "win64"), default=os.environ.get("WINE_TEST_ARCH", "win32"),
                        help="win32 (default): the shipped 32-bit build in a 32-bit prefix; win64: a 64-bit "
                             "build in a 64-bit prefix, for kernels that cannot run Wine's 32-bit loader")
    parser.add_argument("--build", help="the Windows build tree (default build/win, or build/win64 with --arch win64)")
    parser.add_argument("--native", default=os.environ.get("WINE_TEST_NATIVE", ""),
                        help="the native build tree with szddpack and unit_tests (default build/native)")
    parser.add_argument("--work", default=os.path.join(REPO, "build", "wine"),
                        help="where the base prefix and the scenario folders go")
    args = parser.parse_args()

    if args.list:
        for case in CASES:
            windows = case.windows + (" x64" if case.wow64 else "")
            print(f"{case.name:40} {windows:11} {case.summary}")
        return 0
    known = {c.name: c for c in CASES}
    unknown = [n for n in args.cases if n not in known]
    if unknown:
        print(f"unknown case(s): {', '.join(unknown)}; --list shows them", file=sys.stderr)
        return 2
    selected = [known[n] for n in args.cases] if args.cases else list(CASES)

    arch = Arch(args.arch)
    build = args.build or os.path.join(REPO, "build", "win" if arch.name == "win32" else "win64")
    native = os.path.abspath(args.native) if args.native else ""
    paths = Paths(repo=REPO, build=os.path.abspath(build), work=os.path.abspath(args.work), arch=arch, native=native)
    missing = paths.missing()
    for tool in ("wine", "wineserver", "xvfb-run", "lnkinfo", "gcab"):
        if not shutil.which(tool):
            missing.append(f"{tool} (run scripts/bootstrap)")
    if missing:
        print("cannot run the Wine tests, missing:\n  " + "\n  ".join(missing), file=sys.stderr)
        return 2
    try:
        spent = ensure_base(arch, paths.base, log=lambda m: print(m, flush=True))
    except WineError as e:
        print(f"cannot run the Wine tests: {e}", file=sys.stderr)
        return 2
    print(f"base prefix {paths.base}: " + (f"made in {spent:.0f} s" if spent else "reused"), flush=True)

    # The WOW64 cases: the shipped 32-bit build in a 64-bit prefix.
    wow64_paths, wow64_skip = None, None
    if any(c.wow64 and not c.skip for c in selected):
        if arch.name != "win32":
            wow64_skip = ("the build under test is the x86-64 fallback (--arch win64), not the shipped 32-bit "
                          "Setup.exe")
        else:
            wow64_skip = Arch("wow64").unavailable()
        if not wow64_skip:
            wow64_paths = Paths(repo=REPO, build=paths.build, work=paths.work, arch=Arch("wow64"), native=native)
            try:
                spent = ensure_base(wow64_paths.arch, wow64_paths.base, log=lambda m: print(m, flush=True))
                print(f"64-bit base prefix {wow64_paths.base}: " + (f"made in {spent:.0f} s" if spent else "reused"),
                      flush=True)
            except WineError as e:
                wow64_skip = f"no 64-bit prefix could be made: {e}"

    lock = threading.Lock()
    passed = failed = skipped = 0

    def one(case):
        nonlocal passed, failed, skipped
        why = case.skip or (wow64_skip if case.wow64 else None)
        if why:
            with lock:
                skipped += 1
                print(f"SKIP {case.name}: {case.summary}\n    not run: {why}")
                sys.stdout.flush()
            return
        checks, seconds = run_case(case, wow64_paths if case.wow64 else paths)
        with lock:
            bad = checks.failures
            status = "FAIL" if bad else "PASS"
            print(f"{status} {case.name} ({len(checks.results)} checks, {seconds:.0f} s): {case.summary}")
            for r in checks.results if args.verbose else bad:
                mark = "ok  " if r.ok else "FAIL"
                print(f"    {mark} {r.what}: expected {r.expected}, got {r.got}")
            if bad:
                failed += 1
                if case.session:
                    print(f"    kept for a look: {case.session.prefix.root}")
            else:
                passed += 1
                if case.session and not args.keep:
                    case.session.prefix.remove()
            sys.stdout.flush()

    started = time.monotonic()
    with ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        list(pool.map(one, selected))
    print(f"wine tests took {time.monotonic() - started:.0f} s")
    print(f"{passed} passed, {failed} failed, {skipped} skipped")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
