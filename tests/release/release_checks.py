"""Checks of the 32-bit release exe that need no Windows to run it.

release_checks.py EXE --objdump OBJDUMP --windres WINDRES --host HOST --version X.Y.Z [--public-key PEM]

Prints what it found (format, machine, subsystem, imported DLLs, manifest
level, version resource, package URL, package-signing key) and exits 1 if
any check fails.
"""

import argparse
import base64
import re
import subprocess
import sys

# DLLs that every Windows installation has in its system folder. Anything
# else (libstdc++-6.dll, libgcc_s_dw2-1.dll, libwinpthread-1.dll ...) would
# have to ship beside the exe.
SYSTEM_DLLS = {
    "advapi32.dll", "bcrypt.dll", "comctl32.dll", "crypt32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "ntdll.dll",
    "ole32.dll", "oleaut32.dll", "shell32.dll", "shlwapi.dll", "urlmon.dll", "user32.dll",
    "wininet.dll", "ws2_32.dll",
}


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True, errors="replace").stdout


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--windres", required=True)
    parser.add_argument("--host", required=True)
    parser.add_argument("--version", required=True, help="the version the build was configured with")
    parser.add_argument("--public-key", default="", help="the PEM file the build was configured with, if any")
    args = parser.parse_args()

    headers = run(args.objdump, "-p", args.exe)
    resources = run(args.windres, "-i", args.exe, "-O", "rc")
    image = open(args.exe, "rb").read()

    dlls = re.findall(r"DLL Name: (\S+)", headers)
    magic = re.search(r"^Magic\s+(\w+)", headers, re.M)
    subsystem = re.search(r"^Subsystem\s+(\w+)\s+\((.*)\)", headers, re.M)
    level = re.search(r'requestedExecutionLevel level=""(\w+)""', resources)
    pe_header = int.from_bytes(image[0x3C:0x40], "little")  # e_lfanew
    machine = int.from_bytes(image[pe_header + 4:pe_header + 6], "little") if image[pe_header:pe_header + 4] == b"PE\0\0" else 0
    url = f"http://{args.host}/update/app.asar".encode()
    # Every P-256 SubjectPublicKeyInfo starts with these 27 bytes.
    p256_prefix = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d03010703420004")
    # Every version field of VERSIONINFO says the configured version.
    version = args.version + ".0" * (3 - args.version.count("."))
    numbers = version.replace(".", ",")
    found = [n.replace(" ", "") for n in re.findall(r"^\s*(?:FILEVERSION|PRODUCTVERSION)\s+([\d, ]+)$", resources, re.M)]
    found += re.findall(r'VALUE "(?:FileVersion|ProductVersion)", "([^"]*)"', resources)
    found += re.findall(r'assemblyIdentity type=""win32"" name=""[^"]*"" version=""([^"]*)""', resources)
    version_ok = found == [numbers] * 2 + [version] * 3
    if args.public_key:
        pem = open(args.public_key).read()
        key = base64.b64decode("".join(pem.split("-----")[2].split()))
        key_check = ("carries the package-signing key", key in image, f"{len(key)} bytes from {args.public_key}")
    else:
        key_check = ("carries no package-signing key", p256_prefix not in image, "UPDATE_PUBLIC_KEY is empty")

    checks = [
        ("format PE32 (pei-i386)", "file format pei-i386" in headers and magic and magic.group(1) == "010b",
         magic.group(1) if magic else "no Magic line"),
        ("machine i386", machine == 0x14C, f"0x{machine:x}"),
        ("console subsystem", subsystem is not None and int(subsystem.group(1), 16) == 3,
         subsystem.group(2) if subsystem else "no Subsystem line"),
        ("imports only Windows system DLLs", bool(dlls) and all(d.lower() in SYSTEM_DLLS for d in dlls),
         ", ".join(dlls)),
        ("manifest asks for asInvoker", level is not None and level.group(1) == "asInvoker",
         level.group(1) if level else "no requestedExecutionLevel"),
        ("VERSIONINFO present", re.search(r"^\d+ VERSIONINFO", resources, re.M) is not None,
         ", ".join(f"{k} {v}" for k, v in re.findall(r'VALUE "(FileDescription|FileVersion)", "([^"]*)"', resources))),
        ("version is the configured one", version_ok, f"configured {args.version}; found {', '.join(found)}"),
        ("package URL in the binary", url + b"\0" in image, url.decode()),
        key_check,
    ]
    failed = 0
    for name, ok, detail in checks:
        print(f"{'ok  ' if ok else 'FAIL'} {name}: {detail}")
        failed += not ok
    print(f"release checks: {len(checks) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
