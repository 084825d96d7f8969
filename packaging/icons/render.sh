#!/usr/bin/env bash
# Renders the hicolor PNGs from queltor.svg (rsvg-convert, package librsvg2-bin).
# Run it after editing the drawing and commit what it writes.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" --output "queltor-$size.png" queltor.svg
done
