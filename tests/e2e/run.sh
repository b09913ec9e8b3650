#!/usr/bin/env bash
# End-to-end tests of the Windows program under Wine in a virtual X display.
#
#   tests/e2e/run.sh EXE_PATH RENDER_PATH [run_e2e.py options, e.g. --only 2-play]
#
# Installs what it is missing through scripts/install-deps.sh, then runs tests/e2e/run_e2e.py.
# Its last line is "N passed, M failed"; the exit status is non-zero when anything failed.
# Whatever the outcome, no process of the run is left behind: the Python runner cleans up, and
# this script's trap stops the prefix's Wine server, openbox and Xvfb should the runner itself
# have been killed.
set -uo pipefail

if [[ $# -lt 2 ]]; then
  echo "usage: $0 EXE_PATH RENDER_PATH [options]" >&2
  exit 2
fi

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
work=$repo/build/e2e

"$repo/scripts/install-deps.sh" e2e win32 || exit 1

cleanup() {
  if [[ -d $work/prefix ]]; then
    WINEPREFIX=$work/prefix timeout 15 wineserver -k >/dev/null 2>&1 || true
  fi
  # The runner writes the ids of the servers it starts; each is ended by its id only, and only
  # while it still is the program it was.
  local name pid
  for name in openbox xvfb; do
    [[ -f $work/$name.pid ]] || continue
    pid=$(<"$work/$name.pid")
    if [[ $pid =~ ^[0-9]+$ ]] && grep -qiE "^(openbox|Xvfb)$" "/proc/$pid/comm" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
    fi
    rm -f "$work/$name.pid"
  done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The runner keeps the whole run within its own budget; this bound only catches a runner
# that hangs outside any of its own time-outs.
timeout --foreground --kill-after=10 330 python3 "$here/run_e2e.py" --exe "$1" --render "$2" "${@:3}"
status=$?
if [[ $status -eq 124 || $status -eq 137 ]]; then
  echo "e2e: the runner was stopped after 330 s"
  echo "0 passed, 1 failed"
fi
exit $status
