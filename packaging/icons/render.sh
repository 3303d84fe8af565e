#!/usr/bin/env bash
# Renders the window's icon (src/ui/corvane_icon.svg) into the hicolor PNG
# sizes the package installs. Run after the icon changes and commit the result.
# Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../.."
for size in 16 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" src/ui/corvane_icon.svg \
    -o "packaging/icons/beamport-$size.png"
done
