"""The updater on an interactive console, for real: the x86_64 exe runs
under wine in a tmux pane (wine's standard handles are then a real console)
against a loopback server that sends a few MB slowly. `tmux capture-pane`
reads the screen while the download runs and after the run.

Wine's C runtime shows the code page 936 bytes that go through the standard
output stream one character per byte (as Latin-1) on its console, so the
screen is compared with the message bytes read that way: each byte of each
line, exactly."""

import os
import re
import shutil
import subprocess
import time
import unittest

import harness

UPDATER = os.environ.get("VELMORA_UPDATER", "")
STANDIN = os.environ.get("VELMORA_STANDIN", "")
SOCKET = "velmora-tests"  # a tmux server of the tests' own

MESSAGES = ["关闭Velmora.exe...", "下载更新文件...", "启动Velmora.exe...", "更新完成并已启动程序！"]
SCREEN_LINES = [m.encode("gbk").decode("latin-1") for m in MESSAGES]


def tmux(*args, check=True):
    return subprocess.run(["tmux", "-L", SOCKET, *args], check=check, capture_output=True, text=True).stdout


class InteractiveConsole(unittest.TestCase):
    def setUp(self):
        self.install_dir = harness.appdata() / "tavlmr"
        self.resources = self.install_dir / "resources"
        self.clean()

    def tearDown(self):
        self.clean()

    def clean(self):
        tmux("kill-server", check=False)
        harness.stop_all()
        shutil.rmtree(self.install_dir, ignore_errors=True)

    def screens_of_a_run(self, answer, package):
        """Runs the updater in a tmux pane; returns every screen seen while it
        ran, the last one after it ended, and its exit status."""
        self.resources.mkdir(parents=True)
        (self.resources / "app.asar").write_bytes(b"package v1\n")
        shutil.copy(STANDIN, self.install_dir / "Velmora.exe")
        with harness.UpdateServer(package, answer) as server:
            env = harness.wine_env(http_proxy=f"http://127.0.0.1:{server.port}", TERM="xterm")
            command = " ".join(f"{k}='{v}'" for k, v in env.items() if re.fullmatch(r"\w+", k) and "'" not in v)
            tmux("new-session", "-d", "-x", "100", "-y", "20",
                 f"env -i {command} {harness.WINE} {UPDATER}; echo \"[exit $?]\"; sleep 600")
            screens = []
            deadline = time.monotonic() + 60
            while time.monotonic() < deadline:
                screen = [text.rstrip() for text in tmux("capture-pane", "-p").split("\n")]
                screen = (screen + [""] * 20)[:20]
                if not screens or screens[-1] != screen:
                    screens.append(screen)
                if any(text.startswith("[exit ") for text in screen):
                    break
                time.sleep(0.05)
        ended = [text for text in screens[-1] if text]
        status = int(re.fullmatch(r"\[exit (\d+)\]", ended[-1]).group(1)) if ended else None
        return screens, ended[:-1], status

    def test_the_download_shows_its_progress_and_the_console_ends_with_the_messages_alone(self):
        package = b"package v2\n" + bytes(4 << 20)
        cases = [
            # answer, what the progress line looks like
            ("slow", r" {1,2}\d{1,3}%  \d+\.\d / 4\.0 MB"),
            ("slow-chunked", r"  \d+\.\d MB"),
        ]
        for answer, progress in cases:
            with self.subTest(answer=answer):
                self.clean()
                screens, ended, status = self.screens_of_a_run(answer, package)
                self.assertEqual(status, 0, screens[-1])
                # Afterwards: exactly the lines a redirected run writes.
                self.assertEqual(ended, SCREEN_LINES)
                # During the download: one line under the downloading message,
                # redrawn in place with what has arrived.
                shown = [screen[2] for screen in screens
                         if screen[:2] == SCREEN_LINES[:2] and re.fullmatch(progress, screen[2])]
                self.assertGreaterEqual(len(set(shown)), 3, [s[:4] for s in screens])
                print(f"{answer}: {len(set(shown))} progress texts seen, e.g. {shown[len(shown) // 2]!r}")
                for screen in screens:
                    if screen[:2] == SCREEN_LINES[:2] and re.fullmatch(progress, screen[2]):
                        self.assertEqual(screen[3:], [""] * len(screen[3:]), "more than one progress line")
                self.assertEqual((self.resources / "app.asar").read_bytes(), package)


if __name__ == "__main__":
    unittest.main()
