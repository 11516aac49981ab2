#!/usr/bin/env bash
# Renders the committed PNG icons from the scalable one (needs rsvg-convert: librsvg2-bin).
# Run after changing the SVG; the build only installs what is committed.
set -euo pipefail
cd "$(dirname "$0")"
id=io.github.filmfinder.FilmFinder
for size in 16 32 48 64 128 256; do
  mkdir -p "hicolor/${size}x${size}/apps"
  rsvg-convert -w "$size" -h "$size" "hicolor/scalable/apps/$id.svg" \
    -o "hicolor/${size}x${size}/apps/$id.png"
done
