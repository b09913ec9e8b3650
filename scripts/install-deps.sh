#!/usr/bin/env bash
# Installs the Debian 12 packages that Tonvarel's builds and tests need.
#
#   scripts/install-deps.sh [native] [win32] [e2e] [web] [web-test]  (no argument: all groups)
#   scripts/install-deps.sh --npm                          (the browser tests' npm packages)
#
#   native    host build, unit tests, sanitizers, fuzzing, benchmarks, formatting
#   win32     MinGW cross build and Wine to run its tests
#   e2e       X server, input driving and Japanese font/locale for the end-to-end tests
#   web       Emscripten for the WebAssembly builds, Node and npm, Chromium for the browser tests
#   web-test  the other browser engines: Firefox ESR (with a PulseAudio null sink to play into),
#             WebKitGTK's WebDriver and test browser (in an X server of its own); sox, which
#             writes the browser tests' Ogg Vorbis recordings
#
# --npm installs tests/web's packages exactly as its lock file pins them (npm ci), once.
#
# Idempotent: when everything is present it only asks dpkg, prints nothing and exits 0 in well
# under a second. Otherwise it runs `apt-get update` once and installs only what is missing.
# Runs as root, or through sudo otherwise.
set -euo pipefail

native=(cmake g++ clang-14 libclang-rt-14-dev libgtest-dev libgmock-dev googletest
  libbenchmark-dev clang-format python3 sox)
win32=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools wine wine64)
e2e=(xvfb xdotool x11-utils imagemagick fonts-ipafont-gothic locales openbox wmctrl)
web=(emscripten nodejs chromium)
web_test=(firefox-esr pulseaudio webkit2gtk-driver xvfb sox)
# Debian's npm, unless a node that carries its own npm is already installed (such a nodejs
# package conflicts with Debian's npm).
command -v npm >/dev/null || web+=(npm)

usage() {
  echo "usage: $0 [native] [win32] [e2e] [web] [web-test] | --npm" >&2
  exit 2
}

# The lock file's packages, reinstalled only when the lock file changed since the last install.
if [[ "${1:-}" == --npm ]]; then
  [[ $# -eq 1 ]] || usage
  dir="$(cd "$(dirname "$0")/../tests/web" && pwd)"
  stamp="$dir/node_modules/.installed-lock"
  if [[ -f "$stamp" ]] && cmp -s "$stamp" "$dir/package-lock.json"; then
    exit 0
  fi
  echo "install-deps: npm ci in tests/web" >&2
  (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error >&2)
  cp "$dir/package-lock.json" "$stamp"
  exit 0
fi

groups=("$@")
[[ ${#groups[@]} -eq 0 ]] && groups=(native win32 e2e web web-test)

wanted=()
want_locale=0
for group in "${groups[@]}"; do
  case "$group" in
    native) wanted+=("${native[@]}") ;;
    win32) wanted+=("${win32[@]}") ;;
    e2e) wanted+=("${e2e[@]}") want_locale=1 ;;
    web) wanted+=("${web[@]}") ;;
    web-test) wanted+=("${web_test[@]}") ;;
    -h | --help) usage ;;
    *)
      echo "$0: unknown group '$group'" >&2
      usage
      ;;
  esac
done

# One dpkg-query for all packages; a package dpkg has never seen is reported on stderr and
# simply does not appear with status "ii".
declare -A installed=()
while read -r name status; do
  [[ "$status" == ii* ]] && installed["${name%%:*}"]=1
done < <(dpkg-query -W -f='${Package} ${db:Status-Abbrev}\n' "${wanted[@]}" 2>/dev/null || true)

missing=()
for pkg in "${wanted[@]}"; do
  [[ -n "${installed[$pkg]:-}" ]] || missing+=("$pkg")
done

# The end-to-end tests need the glibc locale so that Wine names its X windows in Japanese.
need_locale=0
if [[ $want_locale -eq 1 ]] && ! locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8'; then
  need_locale=1
fi

[[ ${#missing[@]} -eq 0 && $need_locale -eq 0 ]] && exit 0

as_root=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || {
    echo "$0: not root and no sudo; cannot install: ${missing[*]}" >&2
    exit 1
  }
  as_root=(sudo)
fi

log=$(mktemp "${TMPDIR:-/tmp}/install-deps.XXXXXX")
trap 'rm -f "$log"' EXIT
run_logged() {
  if ! "$@" >>"$log" 2>&1; then
    echo "$0: failed: $*" >&2
    tail -n 40 "$log" >&2
    exit 1
  fi
}

if [[ ${#missing[@]} -gt 0 ]]; then
  echo "install-deps: installing ${missing[*]}" >&2
  run_logged "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -q update
  run_logged "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get -q install -y --no-install-recommends "${missing[@]}"
fi

if [[ $want_locale -eq 1 ]] && ! locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8'; then
  echo "install-deps: generating the ja_JP.UTF-8 locale" >&2
  if ! grep -qx 'ja_JP.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    run_logged "${as_root[@]}" sh -c "echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen"
  fi
  run_logged "${as_root[@]}" locale-gen
fi
