#!/usr/bin/env bash
# Creates, or reuses, the throw-away 64-bit Wine prefix that the Windows tests run in.
#
#   scripts/wine-prefix.sh [--tell] [PREFIX]   (default: build/wineprefix under the repository)
#
# The prefix is booted under the Japanese locale, so that the program's code page 932 texts and
# its Japanese resources behave as on a Japanese desktop, and the Japanese UI fonts the dialogs
# ask for are mapped to IPAGothic. A marker file records a finished prefix: a second call costs
# a few milliseconds. Concurrent calls (ctest -j) are serialised with a lock. Silent on success,
# unless --tell asks for a line before and after preparing a new prefix. Every Wine step is
# bounded in time: a prefix that cannot be booted ends in a message, not a hang.
set -euo pipefail

tell=0
if [[ ${1:-} == --tell ]]; then
  tell=1
  shift
fi
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
prefix=${1:-${TONVAREL_WINEPREFIX:-$repo/build/wineprefix}}
mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)
marker=$prefix/.tonvarel-prefix-ready

[[ -f $marker ]] && exit 0

export WINEPREFIX=$prefix
export WINEARCH=win64
export WINEDEBUG=-all
# No .NET or HTML engine installs, and no desktop menu entries written into $HOME.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
unset DISPLAY

exec 9>"$prefix/.tonvarel-prefix-lock"
flock 9
[[ -f $marker ]] && exit 0

log=$prefix/.tonvarel-prefix-log
fail() {
  timeout 15 wineserver -k >/dev/null 2>&1 9>&- || true
  echo "$0: $1 failed; see $log" >&2
  exit 1
}
# A fresh prefix boots in under ten seconds; minutes mean Wine is stuck.
bounded() {
  timeout --foreground --kill-after=10 "$@"
}

started=$SECONDS
[[ $tell -eq 1 ]] && echo "Preparing the Wine prefix ${prefix#"$PWD"/} (once)..."
bounded 300 wine wineboot --init >"$log" 2>&1 9>&- || fail "wineboot"

fonts=$(mktemp --suffix=.reg "${TMPDIR:-/tmp}/tonvarel-fonts.XXXXXX")
trap 'rm -f "$fonts"' EXIT
cat >"$fonts" <<'EOF'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"MS UI Gothic"="IPAGothic"
"MS Gothic"="IPAGothic"
"MS PGothic"="IPAGothic"
EOF
bounded 120 wine regedit /S "Z:${fonts//\//\\}" >>"$log" 2>&1 9>&- || fail "regedit"

# The registry reaches the prefix's files only when the server exits.
bounded 120 wineserver -w 9>&- || fail "wineserver -w"
touch "$marker"
rm -f "$log"
[[ $tell -eq 1 ]] && echo "... the Wine prefix is ready ($((SECONDS - started)) s)."
exit 0
