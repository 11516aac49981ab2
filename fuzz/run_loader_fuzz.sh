#!/bin/sh
# Builds the loader's fuzz harness with clang (libFuzzer, AddressSanitizer, UndefinedBehavior-
# Sanitizer) and runs it on the seed corpus in one process.
#
# usage: fuzz/run_loader_fuzz.sh [SECONDS] [WORK_DIR]
# New inputs go to WORK_DIR/corpus (default build-fuzz/), never into the repository's seeds;
# crashes are written to WORK_DIR as crash-*.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
work=${2:-$root/build-fuzz}
mkdir -p "$work/corpus"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -Wall -Wextra -I"$root" "$root/fuzz/loader_fuzz.cpp" "$root/bridges/embedded_library.cpp" \
  -ldl -o "$work/loader_fuzz"
cd "$work"
exec ./loader_fuzz -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/" \
  "$work/corpus" "$root/fuzz/corpus/loader"
