"""Two updates, shown, with a build that verifies signed packages: a wine
prefix with Velmora v1 installed and running, and a loopback update server.
First it offers v2 with the publisher's signature, and the update goes
through; then it offers v3 with one byte changed after signing, and the
updater refuses it and leaves the install as it was. Run by scripts/demo.sh
after the build."""

import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "wine"))
os.environ["WINEPREFIX"] = str(ROOT / "build" / "demo" / "prefix")

import harness  # noqa: E402

BUILD = ROOT / "build" / "wine-testkey"
UPDATER = BUILD / "VelmoraUpdate.exe"
STANDIN = BUILD / "tests" / "wine" / "standin.exe"
SIGNING_KEY = ROOT / "build" / "keys" / "signing.pem"
HOST = "updates.velmora.invalid"


def sign(content):
    """What a publisher runs: openssl dgst -sha256 -sign signing.pem."""
    return subprocess.run(["openssl", "dgst", "-sha256", "-sign", str(SIGNING_KEY)], input=content,
                          capture_output=True, check=True).stdout


def show_folder(title, folder):
    print(f"{title} ({harness.windows_path(folder)}):")
    for path in sorted(folder.iterdir()):
        head = path.read_bytes()[:40].split(b"\n")[0].decode("ascii", "replace")
        print(f"    {path.name:<10} {path.stat().st_size:>6} bytes   {head}")


def run_update(title, package, signature):
    with harness.UpdateServer(package, "package", signature) as server:
        print(f"\n--- {title}")
        print(f"Update server on 127.0.0.1:{server.port}; the updater's URLs http://{HOST}/update/app.asar "
              f"and .../app.asar.sig reach it through http_proxy.")
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
    return status


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
    print(f"The updater was built with -DUPDATE_PUBLIC_KEY={SIGNING_KEY.with_suffix('.pub.pem').relative_to(ROOT)}"
          " (a throwaway key of the build's).\n")
    show_folder("Resources folder before", resources)

    v2 = b"Velmora package v2\n" + b"\0" * 100_000
    first = run_update("v2, signed by the publisher", v2, sign(v2))
    harness.wait_for(lambda: len(log.read_text().splitlines()) >= 2, 30)
    print()
    show_folder("Resources folder after", resources)

    v3 = b"Velmora package v3\n" + b"\0" * 100_000
    tampered = v3[:50_000] + b"\x01" + v3[50_001:]
    second = run_update("v3, signed, then one byte changed on the way", tampered, sign(v3))
    print()
    show_folder("Resources folder after (unchanged: v2 installed, v1 its backup)", resources)

    print("\nVelmora.exe's own record of its starts (the first instance was closed by the first update;"
          " the refused update closed v2 and did not start it again):")
    for entry in log.read_text().splitlines():
        print(f"    {entry}")

    harness.stop_all()
    print(f"\nAll demo processes stopped. The demo prefix stays in {harness.prefix_dir()} "
          f"(AppData: {harness.appdata()}); delete it when done.")
    return 0 if first == 0 and second == 1 else 1


if __name__ == "__main__":
    sys.exit(main())
