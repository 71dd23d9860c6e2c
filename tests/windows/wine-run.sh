#!/usr/bin/env bash
# Runs a Windows executable under Wine for CTest and gtest discovery.
# Usage: wine-run.sh PROGRAM.exe [ARGS...]
#
# WINEPREFIX: the prefix to use; scripts/test-windows.sh points it into the
# build folder. Without it a throw-away prefix under ~/.cache is used, never
# the user's own ~/.wine.
set -uo pipefail
export WINEPREFIX="${WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/veltrad/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko install prompts; no display needed.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY WAYLAND_DISPLAY

# The Windows C runtime writes CRLF; strip the CR so that CTest's parsing of
# test lists and the callers' comparisons see plain lines.
wine "$@" | tr -d '\r'
exit "${PIPESTATUS[0]}"
