"""A complete update, shown: a wine prefix with Velmora v1 installed and
running, a loopback update server offering v2, and one run of the updater.
Run by scripts/demo.sh after the build."""

import os
import shutil
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "wine"))
os.environ["WINEPREFIX"] = str(ROOT / "build" / "demo" / "prefix")

import harness  # noqa: E402

BUILD = ROOT / "build" / "x86_64"
UPDATER = BUILD / "VelmoraUpdate.exe"
STANDIN = BUILD / "tests" / "wine" / "standin.exe"
HOST = "updates.velmora.invalid"


def show_folder(title, folder):
    print(f"{title} ({harness.windows_path(folder)}):")
    for path in sorted(folder.iterdir()):
        head = path.read_bytes()[:40].split(b"\n")[0].decode("ascii", "replace")
        print(f"    {path.name:<10} {path.stat().st_size:>6} bytes   {head}")


def main():
    print(f"Making a demo wine prefix in {harness.prefix_dir()} ...")
    harness.create_prefix()
    install = harness.appdata() / "tavlmr"
    resources = install / "resources"
    resources.mkdir(parents=True)
    shutil.copy(STANDIN, install / "Velmora.exe")
    (resources / "app.asar").write_bytes(b"Velmora package v1\n")
    log = install / "Velmora.exe.log"

    print("Starting the installed Velmora.exe (a stand-in that records its starts) ...")
    harness.start_wine([harness.windows_path(install / "Velmora.exe")])
    harness.wait_for(log.exists, 30)
    print()
    show_folder("Resources folder before", resources)

    with harness.UpdateServer(b"Velmora package v2\n" + b"\0" * 100_000) as server:
        print(f"\nUpdate server on 127.0.0.1:{server.port} offers v2; the updater's URL "
              f"http://{HOST}/update/app.asar reaches it through http_proxy.")
        print("\n$ wine VelmoraUpdate.exe")
        output = harness.drive_c() / "updater.out"
        env = harness.wine_env(http_proxy=f"http://127.0.0.1:{server.port}")
        started = time.monotonic()
        status = harness.run_wine([UPDATER], stdout_path=output, env=env)
        elapsed = time.monotonic() - started
        raw = output.read_bytes()
        # The program writes code page 936 bytes; they are converted here only
        # to be readable on a UTF-8 terminal.
        for text in raw.decode("gbk").splitlines():
            print(f"    {text}")
        print(f"exit status: {status}  ({elapsed:.1f} s; {len(raw)} bytes of code page 936 output, CR LF line ends)")
        print(f"server was asked: {server.requests}")

    harness.wait_for(lambda: len(log.read_text().splitlines()) >= 2, 30)
    print()
    show_folder("Resources folder after", resources)
    print("\nVelmora.exe's own record of its starts (the first instance was closed by the updater):")
    for entry in log.read_text().splitlines():
        print(f"    {entry}")

    harness.stop_all()
    print(f"\nAll demo processes stopped. The demo prefix stays in {harness.prefix_dir()} "
          f"(AppData: {harness.appdata()}); delete it when done.")
    return 0 if status == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
