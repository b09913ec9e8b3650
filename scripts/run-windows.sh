#!/usr/bin/env bash
# Starts the Windows program under Wine on the user's X display.
#
#   scripts/run-windows.sh PROGRAM.exe
#
# It runs in its own prefix (build/wineprefix-run, or TONVAREL_RUN_PREFIX), under the Japanese
# locale so the menus and messages show as they do on a Japanese desktop. Sound goes to whatever
# Wine finds: a PulseAudio (or PipeWire) server, or the default ALSA device.
#
# The terminal gets only what concerns the user: one line when there is no sound device (the
# program then runs silent), a note while the prefix is prepared the first time, and what to do
# when Wine cannot start the program. Wine's own messages go to PREFIX.log beside the prefix.
set -uo pipefail

if [[ $# -ne 1 ]]; then
  echo "usage: $0 PROGRAM.exe" >&2
  exit 2
fi
if [[ ! -f $1 ]]; then
  echo "make run: $1 does not exist" >&2
  exit 2
fi
if [[ -z "${DISPLAY:-}" ]]; then
  echo "make run: no X display (DISPLAY is not set). Run it from a desktop session, or start" >&2
  echo "a virtual one, e.g.: Xvfb :5 & DISPLAY=:5 make run" >&2
  exit 1
fi

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${TONVAREL_RUN_PREFIX:-$repo/build/wineprefix-run}
WINEPREFIX=${WINEPREFIX%/}
log=$WINEPREFIX.log
shown_prefix=${WINEPREFIX#"$PWD"/}
shown_log=${log#"$PWD"/}

if ! "$repo/scripts/wine-prefix.sh" --tell "$WINEPREFIX"; then
  echo "make run: the Wine prefix could not be prepared (see the message above). Remove" >&2
  echo "$shown_prefix and run make run again." >&2
  exit 1
fi

# Whether Wine will find somewhere to play: a sound server that answers, an ALSA card, or an
# ALSA configuration that names a default device of its own (PipeWire's, a file, a network sink).
sound_device_found() {
  if command -v pactl >/dev/null; then
    timeout 5 pactl info >/dev/null 2>&1 && return 0
  else
    local server=${PULSE_SERVER:-${XDG_RUNTIME_DIR:-/run/user/$(id -u)}/pulse/native}
    [[ -S ${server#unix:} ]] && return 0
  fi
  grep -qs '^ *[0-9]' /proc/asound/cards && return 0
  local configs=("${HOME:-/nonexistent}/.asoundrc" "${XDG_CONFIG_HOME:-${HOME:-/nonexistent}/.config}/alsa/asoundrc"
    /etc/asound.conf /etc/alsa/conf.d/*.conf)
  grep -qsE '^[[:space:]]*pcm\.!?default' "${configs[@]}" && return 0
  return 1
}

if ! sound_device_found; then
  echo "make run: no sound device found; Tonvarel runs silent (takes are still recorded and can be saved)."
fi

# Errors stay in the log (they are how a failed start is told apart); the fixme lines are noise.
export WINEDEBUG=fixme-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
wine "$1" </dev/null >"$log" 2>&1
status=$?

# Without a window driver the program cannot create its window and ends at once, with status 0.
if grep -q 'nodrv_CreateWindow' "$log"; then
  echo "make run: Wine could not open the X display $DISPLAY. Check that an X server runs there" >&2
  echo "and lets you in (DISPLAY, XAUTHORITY, xhost), then run make run again. Wine's messages:" >&2
  echo "$shown_log" >&2
  exit 1
fi
# Ended by a signal (Ctrl+C in the terminal): nothing to explain.
[[ $status -eq 0 || $status -gt 128 ]] && exit "$status"
reason=$(grep -E '^wine: ' "$log" | tail -n 1)
echo "make run: Wine could not run the program (status $status)${reason:+: ${reason#wine: }}." >&2
echo "If the Wine prefix is broken, remove $shown_prefix and run make run again; it is" >&2
echo "prepared anew. Wine's messages: $shown_log" >&2
exit 1
