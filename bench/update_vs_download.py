"""Benchmark: the updater's full run against a bare download of the same
package through the same platform call, under wine, in one prefix.

    python3 bench/update_vs_download.py [--runs N] [--sizes-mb 1,200]

Needs the x86_64 tree built (scripts/build.sh) and GNU time (scripts/setup.sh
installs both). For each package size it
alternates full update runs (closing the running stand-in, downloading,
checking and flushing, rotating the backup, starting the stand-in again)
with bare URLDownloadToFileA calls (bench/bare_download.cc, no callback, no
checks), both through the same loopback server and proxy, and prints the
median wall time, the ratio to the bare download and the peak resident
memory of the Windows process (the wine process's maxrss). A third row, the
bare download followed by FlushFileBuffers, shows what the updater's
durability step costs by itself.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "wine"))
os.environ["WINEPREFIX"] = str(ROOT / "build" / "bench" / "prefix")

import harness  # noqa: E402

BUILD = ROOT / "build" / "wine"
UPDATER = BUILD / "VelmoraUpdate.exe"
BARE = BUILD / "tests" / "wine" / "bare_download.exe"
STANDIN = BUILD / "tests" / "wine" / "standin.exe"
URL = "http://updates.velmora.invalid/update/app.asar"


def settle():
    """Starts each run from the same disk state: wine keeps every download in
    its INetCache, and dirty pages of earlier runs would otherwise be written
    out during a later run's flush."""
    for cache in harness.drive_c().glob("users/*/AppData/Local/Microsoft/Windows/INetCache"):
        shutil.rmtree(cache, ignore_errors=True)
    os.sync()


def measure(args, env, output):
    """Runs a Windows program; returns (status, seconds, peak RSS in MB).

    The peak comes from GNU time, which forks the wine process itself: a
    process forked straight from this one would inherit, in its maxrss, the
    resident size of the package this script holds in memory."""
    usage = output.with_suffix(".rss")
    settle()
    with open(output, "wb") as out:
        started = time.monotonic()
        status = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", str(usage), harness.WINE, *map(str, args)],
                                env=env, stdout=out, stderr=subprocess.DEVNULL,
                                stdin=subprocess.DEVNULL).returncode
        elapsed = time.monotonic() - started
    return status, elapsed, int(usage.read_text().split()[-1]) / 1024


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--sizes-mb", default="1,200")
    options = parser.parse_args()
    sizes = [int(s) for s in options.sizes_mb.split(",")]

    print(f"prefix {harness.prefix_dir()} ...", file=sys.stderr)
    harness.create_prefix()
    # One wine server for the whole benchmark, so no run pays for its start.
    subprocess.Popen([harness.WINESERVER, "-p"], env=harness.wine_env()).wait()
    install = harness.appdata() / "tavlmr"
    resources = install / "resources"
    resources.mkdir(parents=True)
    shutil.copy(STANDIN, install / "Velmora.exe")
    bare_target = harness.drive_c() / "bare" / "app.tmp"
    bare_target.parent.mkdir()
    output = harness.drive_c() / "bench.out"

    rows = []
    try:
        for size in sizes:
            package = os.urandom(size << 20)
            (resources / "app.asar").write_bytes(b"previous package")
            with harness.UpdateServer(package) as server:
                env = harness.wine_env(http_proxy=f"http://127.0.0.1:{server.port}")
                runs = {"full update run": [], "bare download": [], "bare + flush": []}
                for _ in range(options.runs):
                    status, seconds, peak = measure([UPDATER], env, output)
                    if status != 0 or (resources / "app.asar").stat().st_size != len(package):
                        raise RuntimeError(f"update run failed: {status} {output.read_bytes()!r}")
                    runs["full update run"].append((seconds, peak))
                    for name, extra in (("bare download", []), ("bare + flush", ["--flush"])):
                        status, seconds, peak = measure([BARE, URL, harness.windows_path(bare_target), *extra],
                                                        env, output)
                        if output.read_text().strip() != "0" or bare_target.stat().st_size != len(package):
                            raise RuntimeError(f"bare download failed: {output.read_text()}")
                        runs[name].append((seconds, peak))
                        bare_target.unlink()
            bare_time = statistics.median(s for s, _ in runs["bare download"])
            for name, samples in runs.items():
                seconds = statistics.median(s for s, _ in samples)
                rows.append((size, name, seconds, seconds / bare_time, max(p for _, p in samples)))
    finally:
        harness.stop_all()

    print(f"\n{options.runs} runs each, median wall time; peak = largest maxrss of the Windows process\n")
    print(f"| package | run             | wall (s) | vs bare | peak RSS (MB) |")
    print(f"|--------:|-----------------|---------:|--------:|--------------:|")
    for size, name, seconds, ratio, peak in rows:
        print(f"| {size:>4} MB | {name:<15} | {seconds:>8.3f} | {ratio:>7.3f} | {peak:>13.1f} |")
    full_peaks = {size: peak for size, name, _, _, peak in rows if name == "full update run"}
    if len(full_peaks) > 1:
        low, high = min(full_peaks), max(full_peaks)
        print(f"\nfull run peak memory at {high} MB minus at {low} MB: "
              f"{full_peaks[high] - full_peaks[low]:+.1f} MB")
    harness.remove_prefix()
    return 0


if __name__ == "__main__":
    sys.exit(main())
