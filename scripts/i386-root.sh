#!/usr/bin/env bash
# Makes build/i386-root: a private root in which Debian's 32-bit wine loader
# runs under qemu's user-mode emulator, so that the tests can run the 32-bit
# release exe on machines that execute no 32-bit code. Run by setup.sh, as
# root; does nothing when the root is already there.
#
# Nothing :i386 is installed on the system (wine32:i386 would turn
# /usr/bin/wine into the 32-bit loader and break every x86_64 test): the
# packages are fetched with apt-get download and unpacked with dpkg -x.
#
#   build/i386-root/usr/lib/wine/wine      the 32-bit loader, through qemu-i386-static
#   build/i386-root/usr/lib/wine/wine64    a copy of the system's 64-bit loader
#
# Wine starts a child of the other bitness with the loader beside its own,
# named with "64" added or dropped, so 32->32, 32->64 and 64->32 process
# creation all work; a prefix made with this wine64 gets its 32-bit half
# (syswow64) through the emulator. Every wine process of either loader
# talks to the system's 64-bit wineserver.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD/build/i386-root
[ -f "$root/.ready" ] && exit 0

qemu=/usr/bin/qemu-i386-static
# What the loader and a console program that downloads over HTTP load. Not
# libfreetype6: with it, user32's start-up jumps to address 0 under qemu
# 7.2 and hangs; without it wine only warns on standard error.
packages="wine32 libwine libc6 libgcc-s1 gcc-12-base
          libgnutls30 libgmp10 libhogweed6 libnettle8 libidn2-0 libunistring2 libp11-kit0 libffi8 libtasn1-6"

started=$SECONDS
work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-i386.XXXXXX")
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"  # apt-get download runs as _apt
(cd "$work" && apt-get download -qq $(for p in $packages; do echo "$p:i386"; done) 2>/dev/null)
# zlib1.dll for wine's i386-windows folder, as libwine's postinst makes it.
[ -f /usr/i686-w64-mingw32/lib/zlib1.dll ] || (cd "$work" && apt-get download -qq libz-mingw-w64 2>/dev/null)

new=$root.new
rm -rf "$new" && mkdir -p "$new"
for deb in "$work"/*.deb; do dpkg -x "$deb" "$new"; done
[ -x "$new/usr/lib/wine/wine" ] || { echo "i386-root: the unpacked wine32 has no loader" >&2; exit 1; }

# The root's own library cache, so the emulated ld.so never picks up a host library.
printf 'include /etc/ld.so.conf.d/*.conf\n' > "$new/etc/ld.so.conf"
ldconfig -r "$new"

zlib=/usr/i686-w64-mingw32/lib/zlib1.dll
[ -f "$zlib" ] || zlib=$new/usr/i686-w64-mingw32/lib/zlib1.dll
{ head -c 64 "$zlib"; printf 'Wine builtin DLL'; head -c 16 /dev/zero; tail -c +97 "$zlib"; } \
  > "$new/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll"
rm -rf "$new/usr/i686-w64-mingw32"

gcc -m32 -O2 -fPIC -shared -nostdlib -o "$new/usr/lib/i386-linux-gnu/qemu_fixes.so" tests/i386/qemu_fixes.c
echo /usr/lib/i386-linux-gnu/qemu_fixes.so > "$new/etc/ld.so.preload"

mv "$new/usr/lib/wine/wine" "$new/usr/lib/wine/wine.i386"
# A copy, not a link: wine finds its own folder through /proc/self/exe.
cp /usr/lib/wine/wine64 "$new/usr/lib/wine/wine64"
mkdir -p "$new/usr/lib/x86_64-linux-gnu"
ln -sfn /usr/lib/x86_64-linux-gnu/wine "$new/usr/lib/x86_64-linux-gnu/wine"
cat > "$new/usr/lib/wine/wine" <<LOADER
#!/bin/sh
# Debian's 32-bit wine loader, run by qemu-i386 user-mode emulation (made by scripts/i386-root.sh)
WINELOADERNOEXEC=1 exec $qemu -L $root -0 $root/usr/lib/wine/wine $root/usr/lib/wine/wine.i386 "\$@"
LOADER
chmod 755 "$new/usr/lib/wine/wine"

rm -rf "$root" && mv "$new" "$root"
touch "$root/.ready"
echo "i386-root: ready in $root ($((SECONDS - started)) s, $(du -sm "$root" | cut -f1) MB)"
