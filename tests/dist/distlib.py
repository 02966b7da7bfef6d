"""What the distribution tests share: where the builds are, running
tools/mkdist, a throw-away certificate authority, and reading a cabinet's
member dates and a directory tree."""
from __future__ import annotations

import os
import shutil
import struct
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
MKDIST = os.path.join(REPO, "tools", "mkdist")
MANIFEST = "Manifest.sha256_"


def build_dir(variable: str, default: str) -> str:
    return os.path.abspath(os.environ.get(variable) or os.path.join(REPO, "build", default))


NATIVE = build_dir("DIST_TEST_NATIVE", "native")
WIN = build_dir("DIST_TEST_WIN", "win")
WIN64 = build_dir("DIST_TEST_WIN64", "win64")
SZDDPACK = os.path.join(NATIVE, "tools", "szddpack")
SETUPCHECK = os.path.join(NATIVE, "tools", "setupcheck")
SETUP_EXE = os.path.join(WIN, "Setup.exe")
PRODUCT = os.path.join(WIN, "sample", "product")
# The signing program; OSSLSIGNCODE names another build of it (mkdist reads
# the same variable).
OSSLSIGNCODE = os.environ.get("OSSLSIGNCODE", "osslsigncode")


def require(*paths: str) -> None:
    """The tests need the builds of `make native win`: without them they
    fail, never pass by skipping."""
    missing = [p for p in paths if not os.path.exists(p)]
    if missing:
        raise AssertionError("missing (build it: make native win): " + ", ".join(missing))


def mkdist(*args: str, env: dict | None = None) -> subprocess.CompletedProcess:
    return subprocess.run([MKDIST, *args], capture_output=True, text=True, timeout=300,
                          env={**os.environ, **(env or {})})


def make_dist(out: str, *options: str, product: str = PRODUCT, setup_exe: str = SETUP_EXE,
              env: dict | None = None) -> None:
    run = mkdist(*options, product, setup_exe, out, SZDDPACK, env=env)
    if run.returncode != 0:
        raise AssertionError(f"tools/mkdist failed ({run.returncode}): {run.stderr}")


def tree(root: str) -> dict[str, bytes]:
    """Relative path -> bytes of every file under root."""
    out = {}
    for dirpath, _, files in os.walk(root):
        for f in files:
            path = os.path.join(dirpath, f)
            with open(path, "rb") as fh:
                out[os.path.relpath(path, root)] = fh.read()
    return out


def differences(a: dict[str, bytes], b: dict[str, bytes]) -> list[str]:
    out = [f"only in the first: {n}" for n in sorted(a.keys() - b.keys())]
    out += [f"only in the second: {n}" for n in sorted(b.keys() - a.keys())]
    out += [f"differs: {n}" for n in sorted(a.keys() & b.keys()) if a[n] != b[n]]
    return out


def cabinet_dates(data: bytes) -> dict[str, tuple]:
    """Member name -> (year, month, day, hour, minute, second) from the
    CFFILE entries (MS-CAB: DOS date and time fields)."""
    if data[:4] != b"MSCF":
        raise ValueError("not a cabinet")
    (files_at,) = struct.unpack_from("<I", data, 16)
    (count,) = struct.unpack_from("<H", data, 28)
    out, at = {}, files_at
    for _ in range(count):
        _, _, _, date, time_, _ = struct.unpack_from("<IIHHHH", data, at)
        end = data.index(b"\0", at + 16)
        name = data[at + 16:end].decode("latin-1")
        out[name] = (1980 + (date >> 9), (date >> 5) & 15, date & 31, time_ >> 11, (time_ >> 5) & 63, (time_ & 31) * 2)
        at = end + 1
    return out


def read_manifest(path: str) -> list[tuple[str, int, str]]:
    """(SHA-256, size, path) of each entry; checks the CR LF line ends."""
    with open(path, "rb") as f:
        raw = f.read()
    lines = raw.split(b"\r\n")
    if lines[-1] != b"" or any(b"\n" in line for line in lines):
        raise AssertionError("the manifest's lines do not all end in CR LF")
    out = []
    for line in lines[:-1]:
        text = line.decode("latin-1")
        if text.startswith("#"):
            continue
        digest, size, name = text.split(" ", 2)
        out.append((digest, int(size), name))
    return out


def path_without(program: str) -> str:
    """A PATH holding every command of /usr/bin and /bin but program: links
    in a directory of their own."""
    bin_dir = tempfile.mkdtemp(prefix="path-")
    for d in ("/usr/local/bin", "/usr/bin", "/bin"):
        if not os.path.isdir(d):
            continue
        for name in os.listdir(d):
            link = os.path.join(bin_dir, name)
            if name != program and not os.path.lexists(link):
                os.symlink(os.path.join(d, name), link)
    return bin_dir


class Authority:
    """A certificate authority made by openssl for one test run: a
    code-signing certificate it issued, whose key has a password, one issued
    for a validity that ended in 2001, and an unrelated key."""

    PASSWORD = "correct horse"

    def __init__(self, root: str):
        self.root = root
        os.makedirs(root, exist_ok=True)
        p = self.path
        self.ca, self.ca_key = p("ca.pem"), p("ca.key")
        self.key, self.cert = p("vendor.key"), p("vendor.pem")
        self.expired = p("expired.pem")
        self.other_key = p("other.key")
        self.password, self.wrong_password = p("password.txt"), p("wrong.txt")
        with open(self.password, "w") as f:
            f.write(self.PASSWORD + "\n")
        with open(self.wrong_password, "w") as f:
            f.write("wrong horse\n")
        self._openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", self.ca_key, "-out", self.ca,
                      "-days", "3650", "-subj", "/CN=VORTAN Test Root",
                      "-addext", "basicConstraints=critical,CA:TRUE",
                      "-addext", "keyUsage=critical,keyCertSign,cRLSign")
        self._openssl("req", "-newkey", "rsa:2048", "-keyout", self.key, "-passout", f"file:{self.password}",
                      "-out", p("vendor.csr"), "-subj", "/CN=VORTAN Test Vendor")
        self._openssl("genrsa", "-out", self.other_key, "2048")
        # openssl ca signs with the dates asked for, also past ones.
        os.makedirs(p("ca"))
        open(p("ca/index.txt"), "w").close()
        with open(p("ca/serial"), "w") as f:
            f.write("1000\n")
        with open(p("ca.cnf"), "w") as f:
            f.write(f"""[ca]
default_ca = test
[test]
database = {p('ca/index.txt')}
serial = {p('ca/serial')}
new_certs_dir = {p('ca')}
certificate = {self.ca}
private_key = {self.ca_key}
default_md = sha256
policy = anything
unique_subject = no
copy_extensions = none
x509_extensions = signing
[anything]
commonName = supplied
[signing]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
""")
        ca = ["ca", "-batch", "-config", p("ca.cnf"), "-in", p("vendor.csr"), "-notext"]
        self._openssl(*ca, "-days", "365", "-out", self.cert)
        self._openssl(*ca, "-startdate", "20000101000000Z", "-enddate", "20010101000000Z", "-out", self.expired)

    def path(self, name: str) -> str:
        return os.path.join(self.root, name)

    @staticmethod
    def _openssl(*args: str) -> None:
        run = subprocess.run(["openssl", *args], capture_output=True, text=True, timeout=60)
        if run.returncode != 0:
            raise AssertionError(f"openssl {args[0]} failed: {run.stderr}")

    def sign_options(self, cert: str | None = None, key: str | None = None,
                     password: str | None = "") -> list[str]:
        options = ["--sign-key", key or self.key, "--sign-cert", cert or self.cert]
        password = self.password if password == "" else password
        return options + (["--sign-pass", password] if password else [])


def verify(path: str, ca: str) -> subprocess.CompletedProcess:
    return subprocess.run([OSSLSIGNCODE, "verify", "-CAfile", ca, "-in", path],
                          capture_output=True, text=True, timeout=60)


def expand(packed: str, out: str) -> None:
    run = subprocess.run([SZDDPACK, "-x", packed, out], capture_output=True, text=True, timeout=60)
    if run.returncode != 0:
        raise AssertionError(f"szddpack -x {packed} failed: {run.stderr}")


def rmtree(path: str) -> None:
    shutil.rmtree(path, ignore_errors=True)
