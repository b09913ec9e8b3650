#!/bin/sh
# renderBlock per block, native against WebAssembly under Node, and their ratio. Both render the
# same blocks, so their last blocks' checksums must agree too.
#   scripts/bench-wasm.sh NATIVE_BENCH WASM_BENCH.js [BLOCKS]
set -eu
[ $# -ge 2 ] || { echo "usage: $0 NATIVE_BENCH WASM_BENCH.js [BLOCKS]" >&2; exit 2; }
blocks=${3:-4000}
native=$("$1" "$blocks")
wasm=$(node --no-experimental-fetch "$2" "$blocks")
printf '%s\n%s\n' "$native" "$wasm" | awk '
  /^render_block_ns/ { ns[++n] = $2 }
  /^checksum/ { sum[++s] = $2 }
  END {
    printf "renderBlock per block: native %d ns, WebAssembly (Node) %d ns, ratio %.2f\n",
           ns[1], ns[2], ns[2] / ns[1]
    if (sum[1] != sum[2]) { print "the two builds rendered different blocks"; exit 1 }
  }'
