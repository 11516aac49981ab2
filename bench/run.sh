#!/usr/bin/env bash
# Builds the Release configuration, runs every benchmark and prints its figures, then ends with
# one line per measure, "RATIO <measure> <value>": our cost divided by the baseline's (lower is
# better), and for shadow_ms the shadow picture's median in milliseconds.
#   bash bench/run.sh            every benchmark
#   FF_BENCH_BUILD=dir           build folder (default build-rel)
# Run it on a quiet machine: the figures are timings.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${FF_BENCH_BUILD:-build-rel}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFF_BUILD_BENCH=ON >/dev/null
cmake --build "$dir"

export QT_QPA_PLATFORM=offscreen
log=$(mktemp)
trap 'rm -f "$log"' EXIT

run() {
  echo "== $*"
  "$dir/bin/$@" | tee -a "$log"
}

repeat=(--benchmark_repetitions=5 --benchmark_report_aggregates_only=true)
run text_bench --benchmark_filter='Memcpy|SplitTextLines|RemoveSpaces' "${repeat[@]}"
run codepage_bench --benchmark_filter='Memcpy|Utf8ToLocal|LocalToUtf8' "${repeat[@]}"
run regex_object_bench --benchmark_filter='ResultPage' "${repeat[@]}"
run imaging_bench --benchmark_filter='ShadowPicture|DecodePosterJpeg|LibjpegAlone' "${repeat[@]}"
run web_request_bench
run windows_bench
run search_flow_bench

echo
echo "== figures (lower is better)"
grep '^RATIO ' "$log"
for measure in search_flow search_flow_busy startup rss web_request split_lines utf8_to_local \
  local_to_utf8 remove_spaces regex_object jpeg_decode shadow_ms; do
  if ! grep -q "^RATIO $measure " "$log"; then
    echo "missing figure: $measure" >&2
    exit 1
  fi
done
