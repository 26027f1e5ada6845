#!/bin/sh
# Runs a Windows program of the cross build under Wine: CTest's and the
# build's CMAKE_CROSSCOMPILING_EMULATOR, and the CI's way to run the programs.
#
#   cmake/wine-run.sh PROGRAM.exe [ARGS...]
#
# Every run shares one Wine prefix (build-windows/wine beside this project's
# sources, or TMFLASH_WINEPREFIX), so that its creation (some 15 s) is paid
# once for both targets. A wineserver kept alive for TMFLASH_WINESERVER_LINGER
# seconds (default 60) after its last program makes each later start cost a
# fraction of a second instead of two or three.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
WINEPREFIX=${TMFLASH_WINEPREFIX:-$here/../build-windows/wine}
WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko download prompts, no menu entries.
WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES

# Debian's wine64 package keeps the loader out of PATH.
wine=${TMFLASH_WINE:-}
if [ -z "$wine" ]; then
  for candidate in /usr/lib/wine/wine64 wine64 wine; do
    if command -v "$candidate" >/dev/null 2>&1; then wine=$candidate; break; fi
  done
fi
if [ -z "$wine" ]; then
  echo "wine-run.sh: no Wine found (install wine64, or set TMFLASH_WINE)" >&2
  exit 127
fi
wineserver=$(dirname "$(command -v "$wine")")/wineserver
command -v "$wineserver" >/dev/null 2>&1 || wineserver=wineserver

# The first run creates the prefix; parallel tests wait for it instead of
# creating it twice.
mkdir -p "$WINEPREFIX"
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot --init </dev/null >/dev/null 2>&1 9>&-
  fi
) 9>"$WINEPREFIX/.create-lock"

# Starts the lingering server when none runs (when one does, this returns at
# once), and with it Wine's own services. Those are started by the first
# program a server sees and inherit its output: started by a test, they would
# hold CTest's pipe open until the server ends. A program of our own, with
# its output elsewhere, starts them instead, under a lock so that no test
# program comes first.
# (They must not inherit the lock either.)
(
  flock 9
  if "$wineserver" -p"${TMFLASH_WINESERVER_LINGER:-60}" </dev/null >/dev/null 2>&1 9>&-; then
    "$wine" cmd.exe /c exit </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$WINEPREFIX/.server-lock"

exec "$wine" "$@"
