"""Releasing the 32-bit exe signed with Authenticode: scripts/sign-release.sh
with a throwaway code-signing certificate made here with openssl. The signed
exe must verify against that certificate, still pass the release checks,
and still run (under the emulated 32-bit loader)."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

import harness

ROOT = Path(__file__).resolve().parents[2]
UPDATER = os.environ.get("VELMORA_UPDATER", "")


def release_checks(exe):
    return [sys.executable, ROOT / "tests" / "release" / "release_checks.py", exe,
            "--objdump", os.environ["VELMORA_OBJDUMP"], "--windres", os.environ["VELMORA_WINDRES"],
            "--host", os.environ["VELMORA_UPDATE_HOST"], "--version", os.environ["VELMORA_VERSION"]]


def run(*command, env=None, check=True):
    return subprocess.run(command, capture_output=True, text=True, errors="replace", env=env, check=check)


class Authenticode(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = Path(tempfile.mkdtemp(prefix="velmora-sign."))
        key, cert = cls.folder / "key.pem", cls.folder / "cert.pem"
        run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "2",
            "-subj", "/CN=Velmora test publisher", "-addext", "keyUsage=critical,digitalSignature",
            "-addext", "extendedKeyUsage=codeSigning")
        cls.cert = cert
        cls.pfx = {}
        for password in ("s3cret pass", ""):
            pfx = cls.folder / f"cert{len(password)}.pfx"
            run("openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", pfx, "-passout", f"pass:{password}")
            cls.pfx[password] = pfx

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def tearDown(self):
        harness.stop_all()

    def sign(self, exe, pfx, password):
        env = dict(os.environ, SIGN_PFX_PASSWORD=password)
        return run("bash", ROOT / "scripts" / "sign-release.sh", exe, pfx, env=env, check=False)

    def test_a_signed_exe_verifies_passes_the_release_checks_and_runs(self):
        for password, pfx in self.pfx.items():
            with self.subTest(password="empty" if not password else "set"):
                exe = self.folder / "VelmoraUpdate.exe"
                shutil.copy(UPDATER, exe)
                result = self.sign(exe, pfx, password)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertNotEqual(exe.read_bytes(), Path(UPDATER).read_bytes())

                verify = run("osslsigncode", "verify", "-CAfile", self.cert, "-in", exe, check=False)
                self.assertEqual(verify.returncode, 0, verify.stdout + verify.stderr)
                self.assertIn("Signature verification: ok", verify.stdout)
                self.assertIn("sha256", verify.stdout.lower())

                checks = run(*release_checks(exe), check=False)
                self.assertEqual(checks.returncode, 0, checks.stdout)

                # No server: the run ends with the download failure, exactly.
                out = harness.drive_c() / "signed.out"
                env = harness.wine_env(http_proxy=f"http://127.0.0.1:{harness.free_port()}")
                status = harness.run_wine([exe], stdout_path=out, env=env)
                self.assertEqual(status, 1)
                self.assertEqual(out.read_bytes(), "关闭Velmora.exe...\r\n下载更新文件...\r\n下载失败，错误码：-2146697208\r\n"
                                 .encode("gbk"))

    def test_a_wrong_password_signs_nothing_and_leaves_the_exe_as_it_was(self):
        exe = self.folder / "unsigned.exe"
        shutil.copy(UPDATER, exe)
        result = self.sign(exe, self.pfx["s3cret pass"], "wrong")
        self.assertEqual(result.returncode, 1)
        self.assertIn("signing failed", result.stderr)
        self.assertEqual(exe.read_bytes(), Path(UPDATER).read_bytes())
        self.assertEqual(sorted(p.name for p in self.folder.glob(".signing*")), [])


if __name__ == "__main__":
    unittest.main()
