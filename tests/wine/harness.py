"""Shared pieces of the wine tests, the demo and the benchmark.

A throwaway wine prefix, a loopback HTTP update server with the answers a
real one can give, and helpers to run Windows programs in the prefix and to
stop every process the tests started.

As a script: `harness.py create-prefix` / `harness.py remove-prefix`, for the
test run's first and last step.
"""

import http.server
import os
import shutil
import socket
import subprocess
import sys
import threading
import time
import urllib.parse
from pathlib import Path

# The wine loader, and the launcher every Windows program starts through
# (launch.sh: it starts a program again when wine's loader failed before the
# program ran).
WINE_LOADER = os.environ.get("WINE") or shutil.which("wine") or "wine"
WINE = str(Path(__file__).resolve().with_name("launch.sh"))
WINESERVER = os.environ.get("WINESERVER") or shutil.which("wineserver") or "wineserver"
# For the emulated 32-bit loader: the 64-bit loader beside it, which makes a
# prefix with both halves. Empty: WINE makes the prefix.
WINE_BOOT = os.environ.get("WINE_BOOT") or ""


def prefix_dir():
    return Path(os.environ["WINEPREFIX"])


def wine_env(**extra):
    """The environment for a wine process: quiet, no Mono/Gecko prompts,
    and no proxy unless the caller sets one."""
    env = {k: v for k, v in os.environ.items() if k.lower() not in ("http_proxy", "https_proxy", "no_proxy")}
    env.update(WINE=WINE_LOADER, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", WINEPREFIX=str(prefix_dir()))
    env.update(extra)
    return env


def create_prefix():
    path = prefix_dir()
    stop_all()
    shutil.rmtree(path, ignore_errors=True)
    path.parent.mkdir(parents=True, exist_ok=True)
    if WINE_BOOT and not Path(WINE_LOADER).exists():
        raise RuntimeError(f"no emulated 32-bit wine at {WINE_LOADER}: run scripts/setup.sh")
    subprocess.run([WINE, "wineboot", "-i"], env=wine_env(WINE=WINE_BOOT or WINE_LOADER), check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
    subprocess.run([WINESERVER, "-w"], env=wine_env(), check=True, timeout=120)
    if not appdata().is_dir():
        raise RuntimeError(f"wine prefix {path} has no roaming AppData folder")
    if WINE_BOOT and not (drive_c() / "windows" / "syswow64" / "kernel32.dll").exists():
        raise RuntimeError(f"wine prefix {path} has no 32-bit half (syswow64)")


def remove_prefix():
    stop_all()
    shutil.rmtree(prefix_dir(), ignore_errors=True)


# Every process start_wine started, reaped by stop_all.
_started = []


def stop_all():
    """Ends every process of the prefix (the updater, the stand-ins, and
    whatever they started) and waits for the wine server to go."""
    if prefix_dir().exists():
        subprocess.run([WINESERVER, "-k"], env=wine_env(), stderr=subprocess.DEVNULL, timeout=60)
        subprocess.run([WINESERVER, "-w"], env=wine_env(), timeout=60)
    while _started:
        process = _started.pop()
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def drive_c():
    return prefix_dir() / "drive_c"


def appdata():
    """The roaming AppData folder of the prefix's user, as a Unix path."""
    users = drive_c() / "users"
    for user in sorted(users.iterdir()) if users.is_dir() else []:
        roaming = user / "AppData" / "Roaming"
        if user.name != "Public" and roaming.is_dir():
            return roaming
    return users / os.environ.get("USER", "root") / "AppData" / "Roaming"


def windows_path(path):
    """The Windows name of a Unix path inside drive_c."""
    relative = Path(path).relative_to(drive_c())
    return "C:\\" + "\\".join(relative.parts)


def run_wine(args, stdout_path, env=None, timeout=120):
    """Runs a Windows program to its end; returns the exit status. Its
    standard output goes to a file: a program it starts would otherwise keep
    a pipe open for as long as it runs."""
    with open(stdout_path, "wb") as out:
        return subprocess.run([WINE] + [str(a) for a in args], env=env or wine_env(), stdout=out,
                              stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=timeout).returncode


def start_wine(args, env=None, stdout=subprocess.DEVNULL):
    """Starts a Windows program and returns at once with its Popen."""
    process = subprocess.Popen([WINE] + [str(a) for a in args], env=env or wine_env(), stdout=stdout,
                               stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, start_new_session=True)
    _started.append(process)
    return process


def wait_for(predicate, seconds=15.0, step=0.1):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


def free_port():
    """A loopback port that nothing listens on (for 'no server at all')."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# The codes a download fails with when the answer is no package.
NO_DATA = -2146697209  # 0x800C0007, INET_E_DATA_NOT_AVAILABLE: an empty body
NOT_A_PACKAGE_TYPE = -2146697206  # 0x800C000A, INET_E_NO_VALID_MEDIA: text/html
TOO_LARGE = -2147024673  # 0x800700DF, HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)

SIGN_IN_PAGE = b"<!DOCTYPE html><html><body><form>Sign in to use the Wi-Fi</form></body></html>\n"


class UpdateServer:
    """A loopback HTTP update server.

    It serves `body` as the package (any path but a .sig one) and
    `signature`, if given, as the package's signature (a path ending in
    ".sig"; 404 when there is none). `answer` and `signature_answer` say how:
      "package" - 200 with Content-Length and the bytes
      "chunked" - 200 with the bytes in chunked encoding, no length
      "empty"   - 200 with no bytes at all
      "html"    - 200 with a sign-in page as text/html, as a captive portal
      "404", "500" - that status with a small HTML error page
      "short"   - 200 announcing the length but sending half and closing
      "stall"   - 200 headers, a few bytes, then nothing until stopped
      "slow", "slow-chunked" - as "package" and "chunked", 64 KB every 50 ms
    It accepts requests in origin form and, as a proxy sees them, in
    absolute form, and records every request line in `requests`. With
    `keep_alive` false it closes the connection after each answer, as many
    servers do; the emulated 32-bit wine needs that for a second request
    (see EMULATED in test_end_to_end.py).
    """

    def __init__(self, body=b"", answer="package", signature=None, signature_answer="package", keep_alive=True):
        self.keep_alive = keep_alive
        self.body = body
        self.answer = answer
        self.signature = signature
        self.signature_answer = signature_answer
        self.requests = []
        self._stop = threading.Event()
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                server.requests.append(self.requestline)
                server._answer(self)

            def end_headers(self):
                if not server.keep_alive and not self.close_connection:
                    self.send_header("Connection", "close")
                super().end_headers()

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        self.port = self.httpd.server_address[1]
        self.url = f"http://127.0.0.1:{self.port}"
        self._thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self.httpd.shutdown()
        self.httpd.server_close()

    def _answer(self, h):
        answer, body = self.answer, self.body
        if urllib.parse.urlsplit(h.path).path.endswith(".sig"):
            answer, body = ("404", b"") if self.signature is None else (self.signature_answer, self.signature)
        if answer == "html":
            h.send_response(200)
            h.send_header("Content-Type", "text/html; charset=utf-8")
            h.send_header("Content-Length", str(len(SIGN_IN_PAGE)))
            h.end_headers()
            h.wfile.write(SIGN_IN_PAGE)
            return
        if answer == "empty":
            body = b""
        pace = answer.startswith("slow")
        if pace:
            answer = "chunked" if answer == "slow-chunked" else "package"

        def send(piece):
            h.wfile.write(piece)
            if pace:
                h.wfile.flush()
                time.sleep(0.05)

        if answer in ("404", "500"):
            page = f"<html><body>{answer} error</body></html>".encode()
            h.send_response(int(answer))
            h.send_header("Content-Type", "text/html")
            h.send_header("Content-Length", str(len(page)))
            h.end_headers()
            h.wfile.write(page)
            return
        h.send_response(200)
        h.send_header("Content-Type", "application/octet-stream")
        if answer == "chunked":
            h.send_header("Transfer-Encoding", "chunked")
            h.end_headers()
            step = 65536 if pace else 4096
            for start in range(0, len(body), step):
                piece = body[start:start + step]
                send(b"%x\r\n%s\r\n" % (len(piece), piece))
            h.wfile.write(b"0\r\n\r\n")
            return
        h.send_header("Content-Length", str(len(body)))
        if answer == "short":
            h.send_header("Connection", "close")
            h.end_headers()
            h.wfile.write(body[: len(body) // 2])
            h.wfile.flush()
            h.close_connection = True
            return
        h.end_headers()
        if answer == "stall":
            h.wfile.write(body[:16])
            h.wfile.flush()
            self._stop.wait(600)
            h.close_connection = True
            return
        view = memoryview(body)
        step = 65536 if pace else 1 << 20
        for start in range(0, len(body), step):
            send(view[start:start + step])


def main(argv):
    if argv[1:] == ["create-prefix"]:
        started = time.monotonic()
        create_prefix()
        print(f"wine prefix {prefix_dir()} ready in {time.monotonic() - started:.1f} s")
    elif argv[1:] == ["remove-prefix"]:
        remove_prefix()
        print(f"wine prefix {prefix_dir()} removed")
    else:
        print("usage: harness.py create-prefix|remove-prefix", file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
