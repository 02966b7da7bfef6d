"""Signing with tools/mkdist: a certificate authority and a code-signing
certificate made by openssl for the run; Setup.exe and the expanded
UNINS.EX_ pass osslsigncode verify against that authority and a flipped byte
fails it; every wrong input is an error before anything is written; a fixed
SOURCE_DATE_EPOCH makes the signed distribution reproducible."""
from __future__ import annotations

import os
import shutil
import subprocess
import tempfile
import unittest

import distlib
from distlib import MANIFEST


class Signing(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        distlib.require(distlib.SZDDPACK, distlib.SETUP_EXE, distlib.PRODUCT)
        if not shutil.which(distlib.OSSLSIGNCODE) or not shutil.which("openssl"):
            raise AssertionError("osslsigncode and openssl are needed (scripts/bootstrap installs them)")
        cls.root = tempfile.mkdtemp(prefix="signing-")
        cls.ca = distlib.Authority(os.path.join(cls.root, "pki"))
        # One signed distribution for the checks that only read it.
        cls.signed = os.path.join(cls.root, "signed")
        distlib.make_dist(cls.signed, *cls.ca.sign_options())

    @classmethod
    def tearDownClass(cls):
        distlib.rmtree(cls.root)

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="case-", dir=self.root)

    def path(self, *names: str) -> str:
        return os.path.join(self.work, *names)

    def refused(self, options: list[str], message: str, code: int = 1, env: dict | None = None) -> str:
        out = self.path("out")
        run = distlib.mkdist(*options, distlib.PRODUCT, distlib.SETUP_EXE, out, distlib.SZDDPACK, env=env)
        self.assertEqual(code, run.returncode, run.stderr)
        self.assertIn(message, run.stderr)
        self.assertFalse(os.path.exists(out), "nothing written")
        self.assertEqual([], [n for n in os.listdir(self.work) if n.startswith(".mkdist")])
        return run.stderr

    # --- what the signed distribution holds ------------------------------
    def test_setup_exe_and_the_expanded_uninstaller_pass_verification(self):
        setup = os.path.join(self.signed, "Setup.exe")
        run = distlib.verify(setup, self.ca.ca)
        self.assertEqual(0, run.returncode, run.stdout + run.stderr)
        self.assertIn("Signature verification: ok", run.stdout)
        self.assertIn("Message digest algorithm  : SHA256", run.stdout)
        self.assertIn("VORTAN Test Vendor", run.stdout)
        uninstaller = self.path("UNINS.EXE")
        distlib.expand(os.path.join(self.signed, "UNINS.EX_"), uninstaller)
        with open(setup, "rb") as a, open(uninstaller, "rb") as b:
            self.assertEqual(a.read(), b.read(), "UNINS.EX_ expands to the signed Setup.exe")
        run = distlib.verify(uninstaller, self.ca.ca)
        self.assertEqual(0, run.returncode, run.stdout + run.stderr)

    def test_a_flipped_byte_or_another_authority_fails_verification(self):
        with open(os.path.join(self.signed, "Setup.exe"), "rb") as f:
            data = bytearray(f.read())
        data[len(data) // 3] ^= 0x01    # inside the code, covered by the digest
        damaged = self.path("Setup.exe")
        with open(damaged, "wb") as f:
            f.write(data)
        run = distlib.verify(damaged, self.ca.ca)
        self.assertNotEqual(0, run.returncode, run.stdout)
        self.assertIn("MISMATCH", run.stdout + run.stderr)
        other = distlib.Authority(self.path("other-pki"))
        run = distlib.verify(os.path.join(self.signed, "Setup.exe"), other.ca)
        self.assertNotEqual(0, run.returncode, "a signature from an authority the verifier does not trust")
        run = distlib.verify(distlib.SETUP_EXE, self.ca.ca)
        self.assertNotEqual(0, run.returncode, "the unsigned program")

    def test_the_manifest_lists_setup_exe_as_signed(self):
        entries = {name: (digest, size) for digest, size, name in
                   distlib.read_manifest(os.path.join(self.signed, MANIFEST))}
        signed = os.path.getsize(os.path.join(self.signed, "Setup.exe"))
        self.assertEqual(signed, entries["Setup.exe"][1])
        self.assertGreater(signed, os.path.getsize(distlib.SETUP_EXE))

    def test_signing_changes_only_the_program_and_what_is_made_of_it(self):
        distlib.make_dist(self.path("plain"))
        diff = distlib.differences(distlib.tree(self.path("plain")), distlib.tree(self.signed))
        self.assertEqual(["differs: Manifest.sha256_", "differs: Setup.exe", "differs: UNINS.EX_"], diff)

    def test_with_source_date_epoch_the_signed_distribution_is_reproducible(self):
        env = {"SOURCE_DATE_EPOCH": "1700000000"}
        distlib.make_dist(self.path("one"), *self.ca.sign_options(), env=env)
        distlib.make_dist(self.path("two"), *self.ca.sign_options(), env=env)
        one, two = distlib.tree(self.path("one")), distlib.tree(self.path("two"))
        self.assertEqual([], distlib.differences(one, two))
        run = distlib.verify(self.path("one", "Setup.exe"), self.ca.ca)
        self.assertIn("Signing time: Nov 14 22:13:20 2023 GMT", run.stdout)

    def check(self, dist: str) -> subprocess.CompletedProcess:
        return subprocess.run([distlib.SETUPCHECK, "check", dist], capture_output=True, text=True, timeout=120)

    def test_setupcheck_reports_the_signature_and_through_the_manifest_a_changed_file(self):
        distlib.require(distlib.SETUPCHECK)
        dist = self.path("dist")
        shutil.copytree(self.signed, dist)
        run = self.check(dist)
        self.assertIn("note: Setup.exe: Setup.exe carries an Authenticode signature", run.stdout)
        self.assertNotIn("manifest", run.stdout.lower(), "an intact copy")
        self.assertEqual(1, run.returncode, run.stdout)    # the warning that there is no SETUP.INI
        # One byte of the program changed on its way to the share: the
        # manifest names the file, and the signature no longer verifies.
        setup = os.path.join(dist, "Setup.exe")
        with open(setup, "r+b") as f:
            f.seek(os.path.getsize(setup) // 3)
            byte = f.read(1)
            f.seek(-1, os.SEEK_CUR)
            f.write(bytes([byte[0] ^ 0x01]))
        os.remove(os.path.join(dist, "Docs", "Guide.txt"))
        with open(os.path.join(dist, "Extra.cfg"), "w") as f:
            f.write("added on the share\n")
        run = self.check(dist)
        self.assertEqual(2, run.returncode, run.stdout)
        self.assertIn("error: Setup.exe: The file is not the one the manifest lists (SHA-256)", run.stdout)
        self.assertIn("error: Docs\\Guide.txt: The manifest lists this file but the distribution lacks it", run.stdout)
        self.assertIn("warning: Extra.cfg: The manifest does not list this file", run.stdout)
        self.assertNotEqual(0, distlib.verify(setup, self.ca.ca).returncode)
        # The unsigned distribution says so.
        distlib.make_dist(self.path("unsigned"))
        run = self.check(self.path("unsigned"))
        self.assertIn("note: Setup.exe: Setup.exe carries no Authenticode signature", run.stdout)

    # --- bad input ---------------------------------------------------------
    def test_a_wrong_or_missing_password(self):
        self.refused(self.ca.sign_options(password=self.ca.wrong_password), "wrong password for the signing key")
        self.refused(self.ca.sign_options(password=None), "is protected by a password: give it with --sign-pass")
        self.refused(self.ca.sign_options(password=self.path("nowhere.txt")), "password file")

    def test_a_key_that_is_missing_wrong_or_not_the_certificates(self):
        self.refused(self.ca.sign_options(key=self.path("missing.key")), "signing key")
        self.refused(self.ca.sign_options(key=self.ca.cert), "is not a private key")
        self.refused(self.ca.sign_options(key=self.ca.other_key, password=None), "does not belong to the certificate")
        self.refused(self.ca.sign_options(cert=self.ca.key), "is not a certificate")
        self.refused(self.ca.sign_options(cert=self.path("missing.pem")), "certificate")

    def test_an_expired_certificate_is_a_warning(self):
        out = self.path("expired")
        run = distlib.mkdist(*self.ca.sign_options(cert=self.ca.expired), distlib.PRODUCT, distlib.SETUP_EXE, out,
                             distlib.SZDDPACK)
        self.assertEqual(0, run.returncode, run.stderr)
        self.assertIn("warning: the certificate", run.stderr)
        self.assertIn("expired (Jan  1 00:00:00 2001 GMT)", run.stderr)
        self.assertTrue(os.path.exists(os.path.join(out, "Setup.exe")))

    def test_without_osslsigncode(self):
        bin_dir = distlib.path_without("osslsigncode")
        try:
            env = {"PATH": bin_dir, "OSSLSIGNCODE": "osslsigncode"}
            self.refused(self.ca.sign_options(), "osslsigncode not found", env=env)
            # Without signing it is not needed.
            distlib.make_dist(self.path("unsigned"), env=env)
        finally:
            distlib.rmtree(bin_dir)

    def test_timestamp_arguments(self):
        # A time-stamp server cannot be reached from here: only what mkdist
        # makes of the option is tested.
        self.refused(["--timestamp", "http://timestamp.example/"], "needs both --sign-key and --sign-cert", code=2)
        run = distlib.mkdist(*self.ca.sign_options(), "--timestamp")
        self.assertEqual(2, run.returncode)
        self.assertIn("--timestamp needs a value", run.stderr)
        # Before the directories: a forgotten URL takes the product's place.
        self.refused([*self.ca.sign_options(), "--timestamp"], f"not '{distlib.PRODUCT}'")
        self.refused([*self.ca.sign_options(), "--timestamp", "ftp://timestamp.example/"],
                     "needs the http:// or https:// URL")
        self.refused([*self.ca.sign_options(), "--timestamp", "http://127.0.0.1:9/"],
                     "the time-stamp server http://127.0.0.1:9/ must be reachable")
        self.refused(["--sign-key", self.ca.key], "needs both --sign-key and --sign-cert", code=2)


if __name__ == "__main__":
    unittest.main()
