#!/usr/bin/env bash
# Starts the Windows program under Wine on the user's X display.
#
#   scripts/run-windows.sh PROGRAM.exe
#
# It runs in its own prefix (build/wineprefix-run), under the Japanese locale so the menus and
# messages show as they do on a Japanese desktop. Sound goes to whatever Wine finds: PulseAudio
# or the default ALSA device.
set -euo pipefail

if [[ $# -ne 1 ]]; then
  echo "usage: $0 PROGRAM.exe" >&2
  exit 2
fi
if [[ -z "${DISPLAY:-}" ]]; then
  echo "make run: no X display (DISPLAY is not set). Run it from a desktop session, or start" >&2
  echo "a virtual one, e.g.: Xvfb :5 & DISPLAY=:5 make run" >&2
  exit 1
fi

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${TONVAREL_RUN_PREFIX:-$repo/build/wineprefix-run}
"$repo/scripts/wine-prefix.sh" "$WINEPREFIX"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
exec wine "$1"
