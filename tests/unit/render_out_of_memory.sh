#!/bin/sh
# The renderer meets a WAV file larger than the memory it may have (a sparse 700 MB file under a
# 400 MB address-space limit): it says so on stderr and plays on with the built-in tone.
#   render_out_of_memory.sh PATH_TO_tonvarel-render
set -eu
render=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf 'RIFF\377\377\377\377WAVE' >"$dir/big.wav"
truncate -s 700M "$dir/big.wav"
printf 'load %s\nldown 192 192\nrender 2\n' "$dir/big.wav" >"$dir/load.txt"
printf 'ldown 192 192\nrender 2\n' >"$dir/plain.txt"
(ulimit -v 400000 && "$render" "$dir/load.txt" --out "$dir/load.wav") 2>"$dir/err.txt"
"$render" "$dir/plain.txt" --out "$dir/plain.wav"
printf 'メモリ不足: ファイルが大きすぎてメモリに入りません。 内蔵の440Hzの矩形波に戻します。\n' >"$dir/want.txt"
cmp "$dir/want.txt" "$dir/err.txt"
cmp "$dir/plain.wav" "$dir/load.wav"
