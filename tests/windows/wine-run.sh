#!/usr/bin/env bash
# Runs a Windows executable under Wine for CTest and gtest discovery.
# Usage: wine-run.sh PROGRAM.exe [ARGS...]
#
# WINEPREFIX: the prefix to use. Without it, the prefix of the build folder
# that holds PROGRAM.exe (<build>/wineprefix) is used, never ~/.wine.
set -uo pipefail
if [ -z "${WINEPREFIX:-}" ]; then
  d=$(cd "$(dirname "$1")" && pwd)
  while [ "$d" != / ] && [ ! -f "$d/CMakeCache.txt" ]; do d=$(dirname "$d"); done
  [ "$d" = / ] && { echo "wine-run.sh: $1 is not in a build folder; set WINEPREFIX" >&2; exit 2; }
  export WINEPREFIX="$d/wineprefix"
fi
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko install prompts; no display needed.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY WAYLAND_DISPLAY

# A server of our own, detached from our output: one that `wine` starts would
# inherit the pipe below and hold it open after the program ended. It stays
# 30 s after the last program, so a run of tests shares one.
wineserver -p30 </dev/null >/dev/null 2>&1 || true

# The Windows C runtime writes CRLF; strip the CR so that CTest's parsing of
# test lists and the callers' comparisons see plain lines.
wine "$@" | tr -d '\r'
exit "${PIPESTATUS[0]}"
