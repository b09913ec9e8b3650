#!/usr/bin/env bash
# A test run leaves nothing behind outside the build folder: this notes what the home folder
# holds before the run, and after it says what appeared there since, and fails.
#
#   scripts/check-home.sh --before LIST   notes the names in $HOME and its download folder
#   scripts/check-home.sh --after LIST    fails, naming them, if any name is new
#
# Only new names count: files a run touches that were already there (a shell's history, a cache
# of another program) are not its leftovers. Its own would be downloads and the browsers'
# profiles, caches and settings, which the test harnesses keep under build/.
set -euo pipefail

[[ $# -eq 2 && ( $1 == --before || $1 == --after ) ]] || {
  echo "usage: $0 --before|--after LIST" >&2
  exit 2
}
home=${HOME:?}
# Where browsers put downloads: the XDG download folder, or ~/Downloads, or the home folder.
downloads=$(xdg-user-dir DOWNLOAD 2>/dev/null || true)
[[ -n $downloads && $downloads != "$home" ]] || downloads=$home/Downloads

names() {
  for dir in "$home" "$home/.cache" "$home/.config" "$home/.local/share" "$downloads"; do
    if [[ -d $dir ]]; then find "$dir" -mindepth 1 -maxdepth 1 -printf '%p\n'; fi
  done | sort -u
}

if [[ $1 == --before ]]; then
  mkdir -p "$(dirname "$2")"
  names >"$2"
  exit 0
fi
[[ -f $2 ]] || { echo "$0: no list at $2 (run with --before first)" >&2; exit 2; }
new=$(comm -13 "$2" <(names))
if [[ -n $new ]]; then
  echo "The test run left these in the home folder ($home):" >&2
  sed 's/^/  /' <<<"$new" >&2
  exit 1
fi
echo "The home folder holds nothing new."
