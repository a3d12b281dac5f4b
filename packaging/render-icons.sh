#!/usr/bin/env bash
# Renders the program's icon at the sizes the hicolor theme and the window
# use, from the SVG beside it. Run after changing the SVG and commit the PNGs
# (the build takes them as they are, so it needs no SVG renderer).
set -euo pipefail
cd "$(dirname "$0")/icons"
command -v rsvg-convert >/dev/null || { echo "rsvg-convert is missing (Debian: librsvg2-bin)" >&2; exit 1; }
for size in 16 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" org.dizaruz.dizaruz.svg -o "$size.png"
done
