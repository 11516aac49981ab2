#!/usr/bin/env bash
# Installs dependencies, builds, and runs the whole suite; then the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer.
#   tools/test.sh            both configurations
#   tools/test.sh --quick    the plain build only
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir"
  ctest --test-dir "$dir" --output-on-failure -j 2
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ "${1:-}" != "--quick" ]; then
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DFF_SANITIZE=ON -DFF_BUILD_BENCH=OFF
fi
