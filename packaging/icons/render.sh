#!/usr/bin/env bash
# Renders the PNG sizes of the application icon from quorbel.svg (needs
# rsvg-convert from librsvg2-bin). Run after changing the drawing.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 24 32 48 64 128 256 512; do
  rsvg-convert -w "$size" -h "$size" quorbel.svg -o "quorbel-$size.png"
done
