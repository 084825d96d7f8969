#!/usr/bin/env bash
# Renders the hicolor PNGs from queltor.svg (rsvg-convert, package librsvg2-bin).
# Run it after editing the drawing and commit what it writes.
set -euo pipefail
source "$(dirname "$0")/../../scripts/common.sh"
"$root/scripts/setup-deps" librsvg2-bin
cd "$root/packaging/icons"
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" --output "queltor-$size.png" queltor.svg
done
