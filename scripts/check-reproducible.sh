#!/usr/bin/env bash
# Checks that the release packages are reproducible: the committed HEAD is cloned twice into
# temporary folders of different path lengths, `make dist` builds the packages in each (the
# Windows program alone, without its tests, and the browser edition's folder alone), and the
# two sets must be the same byte for byte. Uncommitted changes are not part of the check.
#
#   scripts/check-reproducible.sh
#
# The packages are installed once, here, for both clones. Both folders are removed afterwards,
# whatever the outcome. Exit status 0 when the packages match.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
commit=$(git -C "$repo" rev-parse HEAD)
"$repo/scripts/install-deps.sh" win32 web

started=$SECONDS
tmp=${TMPDIR:-/tmp}
first=$(mktemp -d "$tmp/tonvarel-repro.XXXXXX")
second=$(mktemp -d "$tmp/tonvarel-reproducibility-second-clone.XXXXXX")
trap 'rm -rf "$first" "$second"' EXIT
trap 'exit 130' INT TERM

build() {
  local dir=$1/tonvarel
  git clone -q --no-checkout "$repo" "$dir"
  git -C "$dir" checkout -q --detach "$commit"
  # A clean start: nothing of a calling make (its variables, its job server) reaches the clone.
  if ! env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL timeout --foreground 1200 \
    make -C "$dir" dist DIST_EXE=win32-exe DIST_WEB=web-folder >"$1/make.log" 2>&1; then
    echo "check-reproducible: make dist failed in $dir:" >&2
    tail -n 30 "$1/make.log" >&2
    exit 1
  fi
  # The build folder must not be written into the program (the second clone's path differs).
  if grep -qF "$1" "$dir/build/win32/app/tonvarel.exe"; then
    echo "check-reproducible: tonvarel.exe holds its build folder $1" >&2
    exit 1
  fi
}
build "$first"
build "$second"

a=$first/tonvarel/build/dist
b=$second/tonvarel/build/dist
names=$(cd "$a" && ls)
if [[ $names != "$(cd "$b" && ls)" ]]; then
  echo "check-reproducible: the two builds made different files: $(ls "$a") / $(ls "$b")" >&2
  exit 1
fi
status=0
for name in $names; do
  if ! cmp -s "$a/$name" "$b/$name"; then
    echo "check-reproducible: $name differs between two builds of $commit" >&2
    [[ $name == *.zip ]] && python3 "$repo/scripts/dist.py" --compare "$a/$name" "$b/$name" >&2
    status=1
  fi
done
[[ $status -eq 0 ]] || exit 1
echo "check-reproducible: $(echo "$names" | tr '\n' ' ')identical from two clones" \
  "($((SECONDS - started)) s)"
