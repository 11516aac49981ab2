#!/usr/bin/env bash
# Builds every libFuzzer harness (the FF_FUZZ configuration of cmake/Fuzz.cmake, clang with
# ASan and UBSan) into build-fuzz/ in the checkout, then runs each in turn for SECONDS on its
# seed corpus (fuzz/corpus/<name>), one process at a time unless told, with -timeout=2: an
# input that takes longer is a finding, like a crash or a failed check.
#
#   fuzz/run_all.sh SECONDS [NAME...]     all harnesses, or only those named
#   fuzz/run_all.sh 0                     build only
#
# New inputs go to build-fuzz/corpus/<name> (kept between runs, never into the repository);
# findings to build-fuzz/findings/<name>-*, and each run's output to build-fuzz/logs/<name>.log.
# Prints the executions of each harness and every finding; exits 1 when there was one.
# FF_FUZZ_BUILD names another build folder, FF_FUZZ_JOBS the build's parallel jobs (2),
# FF_FUZZ_PARALLEL how many harnesses run at once (1).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${FF_FUZZ_BUILD:-$root/build-fuzz}
seconds=${1:?usage: fuzz/run_all.sh SECONDS [NAME...]}
shift

# Every harness, and the longest input worth trying for each (pictures and templates are larger
# than texts, addresses and header blocks).
declare -A max_len=(
  [bmp]=65536 [icon]=65536 [pcx]=65536 [jpeg]=65536 [gif]=65536 [picture]=65536
  [loader]=65536 [template_data]=16384 [skin_format]=8192 [property_data]=4096
  [conversions]=8192 [charset]=8192 [codepage_commands]=4096 [text_commands]=4096
  [text_between]=4096 [html_text]=4096 [cookies]=4096 [address]=1024 [link]=2048
  [shell_address]=9000 [header_block]=8192 [regex]=1024
)
order=(text_commands codepage_commands text_between address link cookies html_text
       shell_address header_block template_data property_data skin_format regex
       conversions charset loader bmp icon pcx jpeg gif picture)
if [ $# -gt 0 ]; then
  for name in "$@"; do
    [ -n "${max_len[$name]:-}" ] || { echo "no harness named $name" >&2; exit 2; }
  done
  order=("$@")
fi

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
CC=clang CXX=clang++ cmake -S "$root" -B "$build" "${generator[@]}" -DFF_FUZZ=ON \
  -DFF_BUILD_TESTS=OFF -DFF_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target ff_fuzzers -j "${FF_FUZZ_JOBS:-2}"
[ "$seconds" -gt 0 ] || exit 0

mkdir -p "$build/findings" "$build/logs"

# Runs one harness and prints its executions and any finding; answers 1 for a finding.
run_one() {
  local name=$1 corpus=$build/corpus/$1 log=$build/logs/$1.log status=0 executions
  mkdir -p "$corpus"
  # A failed check aborts, so the runtime's own report and libFuzzer's name the input.
  "$build/bin/${name}_fuzzer" -max_total_time="$seconds" -timeout=2 -rss_limit_mb=2048 \
    -max_len="${max_len[$name]}" -print_final_stats=1 -artifact_prefix="$build/findings/$name-" \
    "$corpus" "$here/corpus/$name" >"$log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  echo "$name: ${executions:-?} executions"
  [ "$status" -eq 0 ] && return 0
  grep -E "^(==[0-9]+==ERROR|SUMMARY|check failed)|Test unit written to|ALARM" "$log" | head -n 8 |
    sed "s/^/$name: FINDING: /"
  return 1
}

# FF_FUZZ_PARALLEL harnesses run at once (1 by default); each gets SECONDS of its own.
parallel=${FF_FUZZ_PARALLEL:-1}
found=0
running=0
for name in "${order[@]}"; do
  if [ "$running" -ge "$parallel" ]; then
    wait -n || found=1
    running=$((running - 1))
  fi
  echo "== $name: $seconds s"
  run_one "$name" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || found=1
  running=$((running - 1))
done
exit "$found"
