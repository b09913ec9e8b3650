#!/usr/bin/env bash
# Runs a Windows program under Wine in the test prefix and exits with the program's exit code.
#
#   scripts/wine-run.sh PROGRAM.exe [ARGS...]
#
# This is the CMAKE_CROSSCOMPILING_EMULATOR of the MinGW build, so ctest runs every Windows test
# through it. No display is used: the tests it runs are console programs. The prefix
# (TONVAREL_WINEPREFIX, default build/wineprefix under the repository) is created on first use.
# The Japanese locale makes GetACP() return 932, the code page the program's texts are in.
set -uo pipefail

if [[ $# -lt 1 ]]; then
  echo "usage: $0 PROGRAM.exe [ARGS...]" >&2
  exit 2
fi

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${TONVAREL_WINEPREFIX:-$repo/build/wineprefix}
"$repo/scripts/wine-prefix.sh" "$WINEPREFIX" || exit 1

export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
unset DISPLAY

# A server that outlives each run by a minute turns a three-second start into a fraction of a
# second for the next test. Whoever starts it also boots Wine's own services (services.exe,
# winedevice.exe, ...) with no standard streams: they live as long as the server, and if they
# inherited ours, ctest would wait for them to close the test's output pipe. The lock makes a
# parallel run wait until that boot is done instead of starting the services itself.
{
  flock 8
  if wineserver -p60 </dev/null >/dev/null 2>&1 8>&-; then
    wine wineboot </dev/null >/dev/null 2>&1 8>&-
  fi
} 8>"$WINEPREFIX/.tonvarel-run-lock"

exec wine "$@"
