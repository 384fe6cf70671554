#!/bin/sh
# Runs one Windows program under the tests' wine ($WINE, else wine on PATH):
#   launch.sh PROGRAM [ARGS...]
#
# Now and then wine's loader gives up before the program runs at all: it
# prints "failed to map the shared user data: c0000018" (the address that
# page must have is already taken) and exits 1. Seen about once in 300 starts
# here, of any program, on a prefix that works otherwise. Such a start is
# tried again. The program itself never ran, so nothing it does is repeated;
# any other result, exit status 1 included, is passed on as it is. The
# loader's message is an error of wine's "virtual" channel, kept on whatever
# else WINEDEBUG turns off; nothing else is added to standard error, which a
# test may show on a console.
wine=${WINE:-wine}
# A closed standard output stays closed for the program (the log below would
# otherwise take its place).
if { : >&1; } 2>/dev/null; then stdout=open; else stdout=closed; fi
WINEDEBUG=${WINEDEBUG:+$WINEDEBUG,}err+virtual
export WINEDEBUG
log=$(mktemp "${TMPDIR:-/tmp}/wine-launch.XXXXXX") || exit 125
attempt=1
while :; do
  if [ "$stdout" = open ]; then
    "$wine" "$@" 2>"$log"
  else
    "$wine" "$@" 2>"$log" 1>&-
  fi
  status=$?
  if [ "$status" -ne 1 ] || [ "$attempt" -ge 3 ] || ! grep -q "failed to map the shared user data" "$log"; then
    break
  fi
  attempt=$((attempt + 1))
done
cat "$log" >&2
rm -f "$log"
exit "$status"
