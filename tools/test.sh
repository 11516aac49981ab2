#!/usr/bin/env bash
# Installs dependencies, checks the sources' format, builds the Release configuration (the one
# bench/run.sh measures, in build-rel) and runs the whole suite on it; then runs the same suite
# under AddressSanitizer and UndefinedBehaviorSanitizer and under ThreadSanitizer, and every fuzz
# harness for 30 s.
#   tools/test.sh            every configuration
#   tools/test.sh --quick    the format check and the Release suite only
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

# The plain suite runs on the benchmarks' Release build, warnings as errors: optimising hardest,
# the compiler sees the most, and one build less keeps CI short on two cores. (At -O3 GCC 12's
# four known false positives stay warnings: cmake/Warnings.cmake.)
run_suite build-rel -DCMAKE_BUILD_TYPE=Release
if [ "${1:-}" != "--quick" ]; then
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
