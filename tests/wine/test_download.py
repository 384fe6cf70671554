"""The Windows download operation, run for real under wine against a
loopback server: a download succeeds only when the server answered 2xx and
the file holds exactly the bytes that arrived."""

import os
import random
import shutil
import unittest

import harness
from harness import NO_DATA, NOT_A_PACKAGE_TYPE, TOO_LARGE

HTTP_NOT_FOUND = -2145844844  # 0x80190194
HTTP_SERVER_ERROR = -2145844748  # 0x801901F4
DOWNLOAD_FAILURE = -2146697208  # 0x800C0008, INET_E_DOWNLOAD_FAILURE
PATH_NOT_FOUND = -2147024893  # 0x80070003


class DownloadOperation(unittest.TestCase):
    def setUp(self):
        self.folder = harness.drive_c() / "download-test"
        shutil.rmtree(self.folder, ignore_errors=True)
        self.folder.mkdir(parents=True)
        self.target = self.folder / "app.tmp"
        self.package = random.Random(936).randbytes(300_000)

    def tearDown(self):
        harness.stop_all()
        shutil.rmtree(self.folder, ignore_errors=True)

    def download(self, url, target=None, max_bytes=None):
        """Runs the probe; returns the result code it printed."""
        out = self.folder / "probe.out"
        target = harness.windows_path(target or self.target)
        limit = [] if max_bytes is None else [str(max_bytes)]
        status = harness.run_wine([os.environ["VELMORA_DOWNLOAD_PROBE"], url, target, *limit], stdout_path=out)
        self.assertEqual(status, 0)
        return int(out.read_text().strip())

    def test_the_answer_decides_the_result(self):
        cases = [
            # answer, size limit, expected result, file afterwards (None: not looked at)
            ("package", None, 0, self.package),
            ("chunked", None, 0, self.package),
            ("package", len(self.package), 0, self.package),
            ("404", None, HTTP_NOT_FOUND, None),
            ("500", None, HTTP_SERVER_ERROR, None),
            ("short", None, DOWNLOAD_FAILURE, None),
            ("empty", None, NO_DATA, None),
            ("html", None, NOT_A_PACKAGE_TYPE, None),
            ("package", 512, TOO_LARGE, None),
            ("chunked", 512, TOO_LARGE, None),
        ]
        for answer, limit, expected, stored in cases:
            with self.subTest(answer=answer, limit=limit):
                # A longer file from an earlier run must not pass for the new one.
                self.target.write_bytes(b"stale" * 100_000)
                with harness.UpdateServer(self.package, answer) as server:
                    result = self.download(server.url + "/update/app.asar", max_bytes=limit)
                    self.assertEqual(server.requests, ["GET /update/app.asar HTTP/1.1"])
                self.assertEqual(result, expected)
                if stored is not None:
                    self.assertEqual(self.target.read_bytes(), stored)

    def test_nothing_stored_is_a_failure(self):
        with harness.UpdateServer(self.package) as server:
            missing = self.folder / "no-such-folder" / "app.tmp"
            self.assertEqual(self.download(server.url + "/update/app.asar", missing), PATH_NOT_FOUND)

    def test_no_server_is_a_failure(self):
        self.assertLess(self.download(f"http://127.0.0.1:{harness.free_port()}/update/app.asar"), 0)
        self.assertFalse(self.target.exists())

    def test_each_download_asks_the_server_again(self):
        # A copy kept by the WinINet cache must never stand in for the package.
        with harness.UpdateServer(b"version 1" * 1000) as server:
            url = server.url + "/update/app.asar"
            self.assertEqual(self.download(url), 0)
            server.body = b"version 2" * 1000
            self.assertEqual(self.download(url), 0)
            self.assertEqual(len(server.requests), 2)
        self.assertEqual(self.target.read_bytes(), b"version 2" * 1000)


if __name__ == "__main__":
    unittest.main()
