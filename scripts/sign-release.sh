#!/usr/bin/env bash
# Signs the release exe with an Authenticode code-signing certificate, so
# that Windows and virus scanners can tell it from a look-alike:
#
#   SIGN_PFX_PASSWORD=... bash scripts/sign-release.sh EXE CERT.pfx [TIMESTAMP_URL]
#
# CERT.pfx holds the certificate, its chain and its private key (PKCS#12);
# its password comes from SIGN_PFX_PASSWORD (empty is allowed), never from
# the command line. With TIMESTAMP_URL (an RFC 3161 time-stamping server,
# such as the certificate authority's) the signature stays valid after the
# certificate expires. SHA-256, with osslsigncode; EXE is replaced by the
# signed exe only when signing succeeded.
#
# This certificate is not the package-signing key of the update server
# (UPDATE_PUBLIC_KEY): that one signs app.asar, this one signs the updater.
set -euo pipefail

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  sed -n '5,6p' "$0" >&2
  exit 2
fi
exe=$1 pfx=$2 timestamp=${3:-}
[ -f "$exe" ] || { echo "sign-release: no such exe: $exe" >&2; exit 1; }
[ -f "$pfx" ] || { echo "sign-release: no such certificate file: $pfx" >&2; exit 1; }
[ -n "${SIGN_PFX_PASSWORD+set}" ] ||
  { echo "sign-release: set SIGN_PFX_PASSWORD to the password of $pfx (it may be empty)" >&2; exit 1; }
command -v osslsigncode >/dev/null || { echo "sign-release: needs osslsigncode (scripts/setup.sh installs it)" >&2; exit 1; }

signed=$(mktemp "$(dirname "$exe")/.signing.XXXXXX")
trap 'rm -f "$signed"' EXIT
# The password goes through a file descriptor, so it shows in no process list.
args=(sign -pkcs12 "$pfx" -readpass /dev/fd/3 -h sha256 -n "Velmora Updater" -in "$exe" -out "$signed")
[ -n "$timestamp" ] && args+=(-ts "$timestamp")
rm -f "$signed"
if ! osslsigncode "${args[@]}" 3<<<"$SIGN_PFX_PASSWORD" >"$signed.log" 2>&1; then
  echo "sign-release: signing failed; $exe is unchanged:" >&2
  cat "$signed.log" >&2
  rm -f "$signed.log"
  exit 1
fi
rm -f "$signed.log"
chmod --reference="$exe" "$signed"
mv "$signed" "$exe"
echo "sign-release: signed $exe (SHA-256${timestamp:+, time-stamped by $timestamp})"
