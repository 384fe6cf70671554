"""Closing the running instances, for real under wine: a stand-in program
copied under several names and folders is started, the updater runs, and
exactly the copies named like the target program are gone afterwards."""

import os
import shutil
import unittest

import harness


class CloseRunningInstances(unittest.TestCase):
    def tearDown(self):
        harness.stop_all()
        shutil.rmtree(harness.appdata() / "tavlmr", ignore_errors=True)
        shutil.rmtree(harness.drive_c() / "elsewhere", ignore_errors=True)

    def test_every_instance_and_only_those_is_terminated(self):
        install = harness.appdata() / "tavlmr"
        elsewhere = harness.drive_c() / "elsewhere"
        copies = {
            # path: whether the updater must terminate it
            install / "Velmora.exe": True,
            elsewhere / "Velmora.exe": True,
            elsewhere / "upper" / "VELMORA.EXE": True,
            elsewhere / "lower" / "velmora.exe": True,
            elsewhere / "Velmora2.exe": False,
            elsewhere / "MyVelmora.exe": False,
            elsewhere / "Velmora.ex_.exe": False,
            elsewhere / "Velmorx.exe": False,
        }
        for path in copies:
            path.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy(os.environ["VELMORA_STANDIN"], path)
        (install / "resources").mkdir()
        (install / "resources" / "app.asar").write_bytes(b"installed package")

        running = {path: harness.start_wine([harness.windows_path(path)]) for path in copies}
        for path in copies:
            log = path.with_name(path.name + ".log")
            self.assertTrue(harness.wait_for(log.exists, 30), f"{path.name} did not start")

        # No server: the download fails fast, so nothing is started again.
        out = harness.drive_c() / "updater.out"
        env = harness.wine_env(http_proxy=f"http://127.0.0.1:{harness.free_port()}")
        self.assertEqual(harness.run_wine([os.environ["VELMORA_UPDATER"]], stdout_path=out, env=env), 1)

        for path, must_end in copies.items():
            with self.subTest(path=harness.windows_path(path)):
                if must_end:
                    self.assertTrue(harness.wait_for(lambda: running[path].poll() is not None, 15),
                                    "still running")
                else:
                    self.assertIsNone(running[path].poll(), "was terminated")
        self.assertEqual((install / "resources" / "app.asar").read_bytes(), b"installed package")


if __name__ == "__main__":
    unittest.main()
