#!/usr/bin/env bash
# Builds the page reading fuzzers with clang (libFuzzer, ASan, UBSan) into $FF_FUZZ_OUT
# (build-fuzz/text in the checkout by default): `conversions` (the kernel's code pages against reference coders)
# and `charset` (the charset prescan). Given a number of seconds, runs each in turn on its corpus
# (fuzz/corpus/<name>, kept small: new finds go to a scratch directory, not into the repository).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
out=${FF_FUZZ_OUT:-$root/build-fuzz/text}
mkdir -p "$out"
# The kernel's code page tables, written from iconv as the build writes them.
for table in gbk gb18030; do
  c++ -std=c++20 -O1 "$root/platform/kernel/${table}_table_generator.cpp" -o "$out/${table}_table_generator"
  "$out/${table}_table_generator" "$out/${table}_tables.inc"
done
flags=(-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
       -Wall -Wextra -I"$root" -I"$out")
clang++ "${flags[@]}" -DFF_FUZZ_KIND=0 "$here/text_fuzzer.cpp" "$root/platform/kernel/codepage.cpp" \
  -o "$out/conversions_fuzzer"
clang++ "${flags[@]}" -DFF_FUZZ_KIND=1 "$here/text_fuzzer.cpp" "$root/web/page_text.cpp" \
  -o "$out/charset_fuzzer"
seconds=${1:-0}
[ "$seconds" -gt 0 ] || exit 0
for name in conversions charset; do
  scratch=$(mktemp -d)
  echo "== $name: $seconds s"
  "$out/${name}_fuzzer" -max_total_time="$seconds" -max_len=8192 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$out/${name}-" "$scratch" "$here/corpus/$name" 2>&1 |
    grep -E "stat::number_of_executed_units|stat::peak_rss|ERROR|SUMMARY|Done" || true
  rm -rf "$scratch"
done
