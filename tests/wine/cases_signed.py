"""A signed distribution under Wine. tools/mkdist signs Setup.exe with a
code-signing certificate that openssl makes for the run; the signed program
installs quietly, the installed UNINS.EXE is that signed program byte for
byte and passes osslsigncode verify, and run from the installation it removes
the product quietly, leaving only itself to the restart."""
from __future__ import annotations

import os
import subprocess

from lib import setupini
from lib.checks import Checks
from lib.install import UNINSTALL_KEY, Expected, check_installation, join
from lib.scenario import DIST, TOOLS, Case, Paths, Session
from lib.uninstall import CAPTION, REBOOT_TEXT, REMOVE_DIR, REMOVE_INI, group_question
from lib.winereg import Registry

SIGNER = "/CN=VORTAN Wine Test Vendor"
REMOVE_LOG = TOOLS + r"\remove-signed.log"


def make_certificate(folder: str) -> tuple[str, str]:
    """A self-signed code-signing certificate: its own trust anchor for
    osslsigncode verify -CAfile."""
    key, cert = os.path.join(folder, "signer.key"), os.path.join(folder, "signer.pem")
    run = subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                          "-days", "30", "-subj", SIGNER, "-addext", "basicConstraints=critical,CA:FALSE",
                          "-addext", "keyUsage=critical,digitalSignature", "-addext", "extendedKeyUsage=codeSigning"],
                         capture_output=True, text=True, timeout=60)
    if run.returncode != 0:
        raise RuntimeError(f"openssl could not make the certificate: {run.stderr.strip()}")
    return key, cert


def verified(path: str, cert: str) -> tuple[bool, str]:
    run = subprocess.run([os.environ.get("OSSLSIGNCODE", "osslsigncode"), "verify", "-CAfile", cert, "-in", path],
                         capture_output=True, text=True, timeout=60)
    lines = (run.stdout + run.stderr).strip().splitlines()
    return run.returncode == 0, lines[-1] if lines else "no output"


def session(s: Session, name: str, commands: list, timeout: int = 240) -> None:
    run = s.prefix.run_session([s.set_version_command()] + commands, name, timeout)
    if run.returncode != 0:
        raise RuntimeError(f"{name} session ended with {run.returncode}; see {s.prefix.root}/{name}.out")


def signed_install_and_removal(case: Case, paths: Paths, c: Checks) -> None:
    s = case.session = Session(paths, case.name, case.windows)
    key, cert = make_certificate(s.prefix.root)
    run = subprocess.run([paths.mkdist, "--sign-key", key, "--sign-cert", cert, paths.product, paths.setup_exe,
                          s.dist, paths.szddpack], capture_output=True, text=True, timeout=300)
    if run.returncode != 0:
        raise RuntimeError(f"tools/mkdist --sign-key failed: {run.stderr.strip()}")
    signed = os.path.join(s.dist, "Setup.exe")
    ok, last = verified(signed, cert)
    c.that("the distribution's Setup.exe passes osslsigncode verify", ok, "Succeeded", last)

    setupini.write(os.path.join(s.dist, "SETUP.INI"), case.ini)
    exp = Expected.derive(case.ini, case.windows, s.prefix.user())
    shorts = [join(exp.install_dir, f) for f in ("QXFTP.EXE", "UNINS.EXE")]
    session(s, "install", [s.driver_command([join(DIST, "Setup.exe")], DIST, case.answers, case.timeout, shorts)])
    # Every installed file against its source; UNINS.EXE against the signed
    # program, so the installed uninstaller carries the signature too.
    check_installation(c, s.prefix, exp, s.driver_log(), s.dist, paths.product, signed)
    install_dir = s.prefix.unix(exp.install_dir)
    uninstaller = os.path.join(install_dir, "UNINS.EXE")
    ok, last = verified(uninstaller, cert) if os.path.exists(uninstaller) else (False, "missing")
    c.that("the installed UNINS.EXE passes osslsigncode verify", ok, "Succeeded", last)

    # The removal as Add/Remove Programs starts it, by the installed
    # uninstaller, made quiet by the SETUP.INI in its current directory.
    os.makedirs(s.prefix.unix(REMOVE_DIR))
    setupini.write(os.path.join(s.prefix.unix(REMOVE_DIR), "SETUP.INI"), REMOVE_INI)
    session(s, "removal", [s.driver_command([join(exp.install_dir, "Unins.Exe")], REMOVE_DIR,
                                            {CAPTION: "YES,NO"}, 120, log=REMOVE_LOG)])
    log = s.driver_log(REMOVE_LOG)
    c.eq("removal: driver time-out", False, log.timed_out)
    c.eq("removal: exit code", 1, log.exit_code)
    c.eq("removal: message boxes (caption, text, answer)",
         [(CAPTION, group_question(exp.group_name), "YES"), (CAPTION, REBOOT_TEXT, "NO")],
         [(b.caption, b.text, b.answer) for b in log.boxes])
    # A running program's file cannot be deleted: only the uninstaller waits.
    left = sorted(os.listdir(install_dir)) if os.path.isdir(install_dir) else []
    c.eq(f"left in {exp.install_dir} until the restart", ["UNINS.EXE"], [n.upper() for n in left])
    c.eq("uninstall entry after removal", False, Registry(s.prefix.path).key_exists("HKLM", UNINSTALL_KEY))
    session(s, "restart", [[s.wine, "wineboot", "-r"]])
    c.eq(f"{exp.install_dir} after the restart", False, os.path.exists(install_dir))


CASES = [
    Case(name="xp_signed_install_remove", run=signed_install_and_removal, windows="winxp",
         summary="a distribution signed by mkdist: installs quietly, the installed UNINS.EXE is the signed "
                 "program and verifies, and it removes the product, itself deferred to the restart",
         ini=setupini.merge(setupini.QUIET_ALL_KEYS, {})),
]
