#!/usr/bin/env bash
# Installs dependencies, checks the sources' format, builds, and runs the whole suite; then
# compiles the Release configuration, runs the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer and under ThreadSanitizer, and every fuzz harness for 30 s.
#   tools/test.sh            every configuration
#   tools/test.sh --quick    the format check and the plain build only
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
bash tools/check-format.sh

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir"
  ctest --test-dir "$dir" --output-on-failure -j 2
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ "${1:-}" != "--quick" ]; then
  # The benchmarks' Release configuration (bench/run.sh), compiled only: optimising harder, the
  # compiler sees more, and this configuration must build too.
  cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build-rel
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DFF_SANITIZE=ON -DFF_BUILD_BENCH=OFF
  # Any report fails the test it comes from. Qt, GLib and cpp-httplib are not built with the
  # thread sanitizer: their own locks are out of its sight, so the memory calls they make are
  # not checked (ignore_noninstrumented_modules); every line of ours is, with no suppression.
  TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 ignore_noninstrumented_modules=1" \
    run_suite build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFF_SANITIZE_THREAD=ON \
    -DFF_BUILD_BENCH=OFF
  # Two harnesses at a time, one for each core; a finding or a slow input fails the run.
  FF_FUZZ_PARALLEL=2 bash fuzz/run_all.sh 30
fi
