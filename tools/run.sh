#!/usr/bin/env bash
# Builds Film Finder, starts the bundled demo film site on its default port and the program
# against it; the site stops when the program ends.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target filmfinder demo_film_site demo_site_data
build/bin/demo_film_site --port 8931 &
site=$!
trap 'kill $site 2>/dev/null || true' EXIT
build/bin/filmfinder
