#!/usr/bin/env bash
# Builds Film Finder and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
if [ ! -x build/bin/filmfinder ]; then
  echo "The program itself is not built yet: this tree holds its runtime so far." >&2
  exit 1
fi
exec build/bin/filmfinder
