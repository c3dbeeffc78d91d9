#!/usr/bin/env bash
# Renders the application icon's PNG sizes from its SVG (after the SVG changed; the PNGs are
# committed, so a build never needs this). Needs rsvg-convert (Debian: librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../data/icons/hicolor"
command -v rsvg-convert >/dev/null || { echo "rsvg-convert missing: apt-get install librsvg2-bin" >&2; exit 1; }
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "${size}x${size}/apps"
  rsvg-convert -w "$size" -h "$size" scalable/apps/cn.tamsu.Recorder.svg -o "${size}x${size}/apps/cn.tamsu.Recorder.png"
done
echo "rendered $(ls -d */apps/cn.tamsu.Recorder.png | wc -l) PNG sizes"
