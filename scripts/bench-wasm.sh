#!/bin/sh
# renderBlock per block, native against WebAssembly under Node, and their ratio. The two run in
# turn, three times each, and each keeps its best, so that a busy machine weighs on both alike.
# Both render the same blocks, so their last blocks' checksums must agree too. Then what the
# browser's rendering in quanta of 128 frames costs against whole blocks, in each build, and what
# ten voices sounding at once cost against one, and as a share of the time the frames play for.
# Last, what a voice over an overdubbed loop costs against the voice alone, and what an undo of a
# 60 s loop and the copy that plays a 60 s take cost the audio thread at once, against the 2.9 ms
# a render quantum of 128 frames lasts.
#   scripts/bench-wasm.sh NATIVE_BENCH WASM_BENCH.js [BLOCKS]
set -eu
[ $# -ge 2 ] || { echo "usage: $0 NATIVE_BENCH WASM_BENCH.js [BLOCKS]" >&2; exit 2; }
blocks=${3:-9600}  # a whole number of quanta: a multiple of 32 blocks
for round in 1 2 3; do
  "$1" "$blocks" | sed 's/^/native /'
  node --no-experimental-fetch "$2" "$blocks" | sed 's/^/wasm /'
done | awk '
  $2 == "render_block_ns" && (!($1 in best) || $3 < best[$1]) { best[$1] = $3 }
  $2 == "render_quanta_ns" && (!($1 in quanta) || $3 < quanta[$1]) { quanta[$1] = $3 }
  $2 == "render_ten_voices_ns" && (!($1 in ten) || $3 < ten[$1]) { ten[$1] = $3 }
  $2 == "render_overdubbing_ns" && (!($1 in dub) || $3 < dub[$1]) { dub[$1] = $3 }
  $2 == "loop_undo_ns" && (!($1 in undo) || $3 < undo[$1]) { undo[$1] = $3 }
  $2 == "take_play_ns" && (!($1 in play) || $3 < play[$1]) { play[$1] = $3 }
  $2 == "checksum" { sum[$1] = $3 }
  END {
    printf "renderBlock per block: native %d ns, WebAssembly (Node) %d ns, ratio %.2f\n",
           best["native"], best["wasm"], best["wasm"] / best["native"]
    printf "1,500 frames in quanta of 128 against one renderBlock: WebAssembly %d ns, ratio %.2f;" \
           " native %d ns, ratio %.2f\n", quanta["wasm"], quanta["wasm"] / best["wasm"],
           quanta["native"], quanta["native"] / best["native"]
    # 1,500 frames play for 1,500 / 44,100 s.
    real = 1500 / 44100 * 1e9
    printf "ten voices against one, in quanta: WebAssembly %d ns, ratio %.2f, %.2f %% of real" \
           " time; native %d ns, ratio %.2f, %.2f %% of real time\n", ten["wasm"],
           ten["wasm"] / quanta["wasm"], 100 * ten["wasm"] / real, ten["native"],
           ten["native"] / quanta["native"], 100 * ten["native"] / real
    printf "a voice over a loop being overdubbed against the voice alone, in quanta:" \
           " WebAssembly %d ns, ratio %.2f; native %d ns, ratio %.2f\n", dub["wasm"],
           dub["wasm"] / quanta["wasm"], dub["native"], dub["native"] / quanta["native"]
    quantum = 128 / 44100 * 1e9
    printf "undo of a 60 s loop: WebAssembly %.2f ms, %.2f quanta; native %.2f ms, %.2f quanta\n",
           undo["wasm"] / 1e6, undo["wasm"] / quantum, undo["native"] / 1e6,
           undo["native"] / quantum
    printf "take play of a 60 s take: WebAssembly %.2f ms, %.2f quanta; native %.2f ms," \
           " %.2f quanta\n", play["wasm"] / 1e6, play["wasm"] / quantum, play["native"] / 1e6,
           play["native"] / quantum
    if (sum["native"] != sum["wasm"]) { print "the two builds rendered different blocks"; exit 1 }
  }'
