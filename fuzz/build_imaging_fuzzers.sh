#!/usr/bin/env bash
# Builds the picture decoder fuzzers with clang (libFuzzer, ASan, UBSan) into $FF_FUZZ_OUT (build-fuzz/imaging in the checkout by default) and,
# given a number of seconds, runs each in turn on its corpus (fuzz/corpus/<name>, kept small:
# new finds go to a scratch directory, not into the repository).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
out=${FF_FUZZ_OUT:-$root/build-fuzz/imaging}
mkdir -p "$out"
flags=(-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
       -I"$root" -I/usr/include/libpng16)
sources=("$root"/decoders/{picture,bmp_decoder,icon_decoder,pcx_decoder,jpeg_decoder,png_decoder,gif_decoder}.cpp)
libs=(-lpng -ljpeg -lgif -lz)
declare -A kinds=([picture]=0 [bmp]=1 [icon]=2 [pcx]=3 [jpeg]=4 [gif]=5)
for name in "${!kinds[@]}"; do
  clang++ "${flags[@]}" -DFF_FUZZ_KIND="${kinds[$name]}" "$here/picture_fuzzer.cpp" \
    "${sources[@]}" "${libs[@]}" -o "$out/${name}_fuzzer"
done
seconds=${1:-0}
[ "$seconds" -gt 0 ] || exit 0
for name in bmp icon pcx jpeg gif picture; do
  scratch=$(mktemp -d)
  echo "== $name: $seconds s"
  # A decode past the timeout is a finding too: every picture's work is bounded.
  "$out/${name}_fuzzer" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -timeout=10 \
    -artifact_prefix="$out/${name}-" "$scratch" "$here/corpus/$name" 2>&1 | tail -n 3
  rm -rf "$scratch"
done
