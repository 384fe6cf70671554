"""The updater exe, built as for release but for x86_64, run for real under
wine against a loopback update server.

The production URL reaches the server through the wine process's http_proxy
variable, so the server sees requests in absolute form. A stand-in program
installed as %APPDATA%\\tavlmr\\Velmora.exe records each start and the package
it found, so the tests see whether and with what the updater started it.
Each case checks the exact output bytes, the exit status, the files left in
the resources folder, the instances left running and whether the program was
started again.

A build with a package-signing key gets VELMORA_SIGNING_KEY, the private half
of its throwaway key, and runs the table of signed packages instead: the
server then also serves app.asar.sig, signed with openssl as a publisher
would."""

import dataclasses
import os
import random
import re
import shutil
import subprocess
import tempfile
import time
import unittest

import harness
from harness import NO_DATA, NOT_A_PACKAGE_TYPE, TOO_LARGE

UPDATER = os.environ.get("VELMORA_UPDATER", "")
STANDIN = os.environ.get("VELMORA_STANDIN", "")
HOLDER = os.environ.get("VELMORA_HOLDER", "")
HOST = os.environ.get("VELMORA_UPDATE_HOST", "updates.velmora.invalid")
SIGNING_KEY = os.environ.get("VELMORA_SIGNING_KEY", "")
# The 32-bit release exe under the emulated loader runs the cases marked
# `emulated`: one of each way a run ends, and what touches the 32-bit records
# and callbacks (the download's COM callback, the crypto structures). Under
# qemu's emulation a second request over a kept-alive connection to the
# proxy hangs (as a redirect does), for any program; the x86_64 build takes
# it in its stride. So the server closes each connection for emulated runs.
EMULATED = os.environ.get("VELMORA_EMULATED") == "1"


def line(text, code=""):
    """One output line as the console gets it: code page 936 bytes, CR LF."""
    return text.encode("gbk") + str(code).encode() + b"\r\n"


CLOSING = line("关闭Velmora.exe...")
DOWNLOADING = line("下载更新文件...")
REPLACE_FAILED = line("更新文件失败")
STARTING = line("启动Velmora.exe...")
DONE = line("更新完成并已启动程序！")


def download_failed(code):
    return line("下载失败，错误码：", code)


def start_failed(code):
    return line("启动程序失败，错误码：", code)


def verify_failed(code):
    return line("更新文件校验失败，错误码：", code)


V0, V1, V2 = b"package v0\n", b"package v1\n", b"package v2\n" + bytes(range(256)) * 400
ANY = object()  # a file whose content the case doesn't look at
NOT_CHECKED = object()

INVALID_SIGNATURE = -805265408  # HRESULT_FROM_NT(STATUS_INVALID_SIGNATURE)
BAD_DER = -2146881269  # CRYPT_E_ASN1_BADTAG


def sign(content, key):
    """The package's signature as a publisher makes it."""
    return subprocess.run(["openssl", "dgst", "-sha256", "-sign", key], input=content,
                          capture_output=True, check=True).stdout


def flip_one_bit(content):
    middle = len(content) // 2
    return content[:middle] + bytes([content[middle] ^ 0x10]) + content[middle + 1:]


@dataclasses.dataclass
class Case:
    name: str
    before: dict  # files in the resources folder before the run
    expected_output: object  # bytes, or NOT_CHECKED
    status: object
    after: object  # files afterwards (ANY: not looked at), or None: no resources folder
    started: bool  # the program was started again
    answer: object = "package"  # what the server answers; None: no server
    held: object = None  # a file of the resources folder held open during the run
    instances: bool = True  # two instances running before the run
    program: bool = True  # the program is installed
    install_folder: bool = True
    args: tuple = ()
    stdout: str = "file"  # or "closed"
    read_only: bool = False  # the package and backup carry the read-only attribute (mode 0444)
    # Signed builds: what the server serves as app.asar.sig (see SIGNATURES)
    # and how, and whether the updater asks for it.
    signature: str = "good"
    signature_answer: str = "package"
    asks_for_signature: bool = True
    emulated: bool = False  # run by the 32-bit release exe under emulation too


CASES = [
    Case("full update with a package, a backup and instances running",
         {"app.asar": V1, "app.bak": V0}, CLOSING + DOWNLOADING + STARTING + DONE, 0,
         {"app.asar": V2, "app.bak": V1}, True, emulated=True),
    Case("no package yet: the old backup stays",
         {"app.bak": V0}, CLOSING + DOWNLOADING + STARTING + DONE, 0,
         {"app.asar": V2, "app.bak": V0}, True, instances=False),
    Case("a read-only package and backup, as copied from read-only media",
         {"app.asar": V1, "app.bak": V0}, CLOSING + DOWNLOADING + STARTING + DONE, 0,
         {"app.asar": V2, "app.bak": V1}, True, instances=False, read_only=True, emulated=True),
    Case("arguments make no difference",
         {"app.asar": V1, "app.bak": V0}, CLOSING + DOWNLOADING + STARTING + DONE, 0,
         {"app.asar": V2, "app.bak": V1}, True, args=("--help", "/S", "C:\\other")),
    Case("server answers 404",
         {"app.asar": V1, "app.bak": V0}, CLOSING + DOWNLOADING + download_failed(-2145844844), 1,
         {"app.asar": V1, "app.bak": V0, "app.tmp": ANY}, False, answer="404", emulated=True),
    Case("server answers 500",
         {"app.asar": V1, "app.bak": V0}, CLOSING + DOWNLOADING + download_failed(-2145844748), 1,
         {"app.asar": V1, "app.bak": V0, "app.tmp": ANY}, False, answer="500"),
    Case("body cut short",
         {"app.asar": V1, "app.bak": V0}, CLOSING + DOWNLOADING + download_failed(-2146697208), 1,
         {"app.asar": V1, "app.bak": V0, "app.tmp": ANY}, False, answer="short"),
    Case("no server at all (wine reports INET_E_DOWNLOAD_FAILURE)",
         {"app.asar": V1, "app.bak": V0}, CLOSING + DOWNLOADING + download_failed(-2146697208), 1,
         {"app.asar": V1, "app.bak": V0}, False, answer=None),
    Case("no install folder: the data folder is made, the download has nowhere to go",
         {}, CLOSING + DOWNLOADING + download_failed(-2147024893), 1,
         None, False, instances=False, program=False, install_folder=False),
    Case("package held open without delete sharing",
         {"app.asar": V1, "app.bak": V0}, CLOSING + DOWNLOADING + REPLACE_FAILED, 1,
         {"app.asar": V1, "app.tmp": V2}, False, held="app.asar"),
    Case("download file held open without delete sharing: the package is put back",
         {"app.asar": V1, "app.bak": V0, "app.tmp": b"stale"}, CLOSING + DOWNLOADING + REPLACE_FAILED, 1,
         {"app.asar": V1, "app.tmp": V2}, False, held="app.tmp", emulated=True),
    Case("an empty body is no package",
         {"app.asar": V1, "app.bak": V0}, CLOSING + DOWNLOADING + download_failed(NO_DATA), 1,
         {"app.asar": V1, "app.bak": V0, "app.tmp": ANY}, False, answer="empty"),
    Case("a sign-in page served as text/html is no package",
         {"app.asar": V1, "app.bak": V0}, CLOSING + DOWNLOADING + download_failed(NOT_A_PACKAGE_TYPE), 1,
         {"app.asar": V1, "app.bak": V0, "app.tmp": ANY}, False, answer="html"),
    Case("target program missing",
         {"app.asar": V1, "app.bak": V0}, CLOSING + DOWNLOADING + STARTING + start_failed(2), 1,
         {"app.asar": V2, "app.bak": V1}, False, instances=False, program=False, emulated=True),
    Case("standard output closed",
         {"app.asar": V1, "app.bak": V0}, NOT_CHECKED, 0,
         {"app.asar": V2, "app.bak": V1}, True, stdout="closed"),
]


FULL_RUN = CLOSING + DOWNLOADING + STARTING + DONE
UNTOUCHED = {"app.asar": V1, "app.bak": V0}  # the install as it was, and nothing else

SIGNED_CASES = [
    Case("a good signature", dict(UNTOUCHED), FULL_RUN, 0, {"app.asar": V2, "app.bak": V1}, True, emulated=True),
    Case("one bit of the package flipped", dict(UNTOUCHED), CLOSING + DOWNLOADING + verify_failed(INVALID_SIGNATURE),
         1, UNTOUCHED, False, signature="flipped", emulated=True),
    Case("another key's signature", dict(UNTOUCHED), CLOSING + DOWNLOADING + verify_failed(INVALID_SIGNATURE),
         1, UNTOUCHED, False, signature="other key"),
    Case("an earlier package's signature", dict(UNTOUCHED), CLOSING + DOWNLOADING + verify_failed(INVALID_SIGNATURE),
         1, UNTOUCHED, False, signature="earlier"),
    Case("garbage as the signature", dict(UNTOUCHED), CLOSING + DOWNLOADING + verify_failed(BAD_DER),
         1, UNTOUCHED, False, signature="garbage", emulated=True),
    Case("no signature on the server", dict(UNTOUCHED), CLOSING + DOWNLOADING + download_failed(-2145844844),
         1, UNTOUCHED, False, signature="missing"),
    Case("a sign-in page instead of the signature", dict(UNTOUCHED),
         CLOSING + DOWNLOADING + download_failed(NOT_A_PACKAGE_TYPE), 1, UNTOUCHED, False, signature_answer="html"),
    Case("a signature far larger than one", dict(UNTOUCHED), CLOSING + DOWNLOADING + download_failed(TOO_LARGE),
         1, UNTOUCHED, False, signature="large"),
    Case("a sign-in page instead of the package", dict(UNTOUCHED),
         CLOSING + DOWNLOADING + download_failed(NOT_A_PACKAGE_TYPE), 1, {**UNTOUCHED, "app.tmp": ANY}, False,
         answer="html", asks_for_signature=False),
]


class EndToEnd(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.keys = tempfile.TemporaryDirectory()
        other_key = os.path.join(cls.keys.name, "other.pem")
        subprocess.run(["openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256",
                        "-out", other_key], check=True, capture_output=True)
        cls.signatures = {
            # name: (the package served, its signature)
            "good": lambda: (V2, sign(V2, SIGNING_KEY)),
            "flipped": lambda: (flip_one_bit(V2), sign(V2, SIGNING_KEY)),
            "other key": lambda: (V2, sign(V2, other_key)),
            "earlier": lambda: (V2, sign(V1, SIGNING_KEY)),
            "garbage": lambda: (V2, random.Random(7).randbytes(71)),
            "large": lambda: (V2, random.Random(7).randbytes(4096)),
            "missing": lambda: (V2, None),
        }

    @classmethod
    def tearDownClass(cls):
        cls.keys.cleanup()

    def setUp(self):
        self.install_dir = harness.appdata() / "tavlmr"
        self.resources = self.install_dir / "resources"
        self.data_dir = harness.appdata() / "vlmr"
        self.elsewhere = harness.drive_c() / "elsewhere"
        self.output = harness.drive_c() / "updater.out"
        self.clean()

    def tearDown(self):
        self.clean()

    def clean(self):
        harness.stop_all()
        for folder in (self.install_dir, self.data_dir, self.elsewhere):
            shutil.rmtree(folder, ignore_errors=True)
        self.output.unlink(missing_ok=True)

    # --- the pieces of a case

    def install(self, case):
        if case.install_folder:
            self.resources.mkdir(parents=True)
            for name, content in case.before.items():
                (self.resources / name).write_bytes(content)
                if case.read_only:
                    (self.resources / name).chmod(0o444)
        if case.program:
            shutil.copy(STANDIN, self.install_dir / "Velmora.exe")

    def start_instances(self):
        """The installed program and a copy in another folder, both running."""
        self.elsewhere.mkdir(parents=True, exist_ok=True)
        shutil.copy(STANDIN, self.elsewhere / "Velmora.exe")
        paths = [self.install_dir / "Velmora.exe", self.elsewhere / "Velmora.exe"]
        running = [harness.start_wine([harness.windows_path(p)]) for p in paths]
        for path in paths:
            self.assertTrue(harness.wait_for(self.log_of(path).exists, 30), f"{path} did not start")
        return running

    def hold(self, name):
        target = self.resources / name
        marker = target.with_name(name + ".held")
        harness.start_wine([HOLDER, harness.windows_path(target)])
        self.assertTrue(harness.wait_for(marker.exists, 30), f"{name} is not held")
        marker.unlink()

    @staticmethod
    def log_of(program):
        return program.with_name(program.name + ".log")

    def starts(self):
        """The starts the installed stand-in has recorded so far."""
        log = self.log_of(self.install_dir / "Velmora.exe")
        return log.read_text().splitlines() if log.exists() else []

    def run_updater(self, args, stdout, proxy_port):
        env = harness.wine_env(http_proxy=f"http://127.0.0.1:{proxy_port}")
        if stdout == "closed":
            result = subprocess.run([harness.WINE, UPDATER, *args], env=env, stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                    preexec_fn=lambda: os.close(1), timeout=120)
            return result.returncode
        return harness.run_wine([UPDATER, *args], stdout_path=self.output, env=env)

    def resources_now(self):
        if not self.resources.is_dir():
            return None
        return {p.name: p.read_bytes() for p in self.resources.iterdir()}

    # --- the cases

    def test_cases(self):
        for case in SIGNED_CASES if SIGNING_KEY else CASES:
            if EMULATED and not case.emulated:
                continue
            with self.subTest(case.name):
                self.clean()
                self.run_case(case)

    def run_case(self, case):
        self.install(case)
        instances = self.start_instances() if case.instances else []
        if case.held:
            self.hold(case.held)
        starts_before = len(self.starts())

        package, signature = self.signatures[case.signature]() if SIGNING_KEY else (V2, None)
        if case.answer is None:
            status = self.run_updater(case.args, case.stdout, proxy_port=harness.free_port())
            requests = None
        else:
            with harness.UpdateServer(package, case.answer, signature, case.signature_answer,
                                      keep_alive=not EMULATED) as server:
                status = self.run_updater(case.args, case.stdout, proxy_port=server.port)
                requests = server.requests

        self.assertEqual(status, case.status)
        if case.expected_output is not NOT_CHECKED:
            self.assertEqual(self.output.read_bytes(), case.expected_output)
        if requests is not None:
            paths = ["app.asar", "app.asar.sig"] if SIGNING_KEY and case.asks_for_signature else ["app.asar"]
            self.assertEqual(len(requests), len(paths), requests)
            for request, path in zip(requests, paths):
                self.assertRegex(request, rf"^GET http://{re.escape(HOST)}(:80)?/update/{re.escape(path)} HTTP/1\.1$")

        after = self.resources_now()
        if case.after is None:
            self.assertIsNone(after, "the resources folder was made without its install folder")
        else:
            expected = {k: v for k, v in case.after.items() if v is not ANY}
            seen = {k: v for k, v in after.items() if case.after.get(k) is not ANY}
            self.assertEqual(seen, expected)
        self.assertTrue(self.data_dir.is_dir(), "the data folder was not made")

        for process in instances:
            self.assertTrue(harness.wait_for(lambda: process.poll() is not None, 15),
                            "an instance is still running")

        if case.started:
            self.assertTrue(harness.wait_for(lambda: len(self.starts()) > starts_before, 30),
                            "the program was not started again")
            new = self.starts()[starts_before:]
            self.assertEqual(len(new), 1)
            program = harness.windows_path(self.install_dir / "Velmora.exe")
            # Started by its path with no arguments, and it found the new package.
            self.assertRegex(new[0], rf'cmdline=\["?{re.escape(program)}"?\]')
            self.assertTrue(new[0].endswith("package=[package v2]"), new[0])
        else:
            time.sleep(1)
            self.assertEqual(len(self.starts()), starts_before, "the program was started")

    def test_a_stalled_download_is_ended_from_outside_and_changes_nothing(self):
        # The updater has no time-out of its own: a server that stops sending
        # keeps it waiting until someone ends it.
        case = Case("stall", {"app.asar": V1, "app.bak": V0}, None, None, None, False)
        self.install(case)
        with harness.UpdateServer(V2, "stall") as server:
            env = harness.wine_env(http_proxy=f"http://127.0.0.1:{server.port}")
            with open(self.output, "wb") as out:
                updater = harness.start_wine([UPDATER], env=env, stdout=out)
                self.assertTrue(harness.wait_for(lambda: server.requests, 15), "no request arrived")
                time.sleep(3)
                self.assertIsNone(updater.poll(), "the updater gave up on its own")
                harness.stop_all()
                updater.wait(30)
        self.assertEqual((self.resources / "app.asar").read_bytes(), V1)
        self.assertEqual((self.resources / "app.bak").read_bytes(), V0)
        self.assertTrue((CLOSING + DOWNLOADING).startswith(self.output.read_bytes()))
        self.assertEqual(self.starts(), [])


if __name__ == "__main__":
    unittest.main()
