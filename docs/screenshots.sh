#!/usr/bin/env bash
# Takes the manual's screenshots without a display: builds the small renderer (bellwick-screenshots),
# which draws the window offscreen over a queue in its typical states, once in a light and once in a
# dark palette, and writes docs/images/*-light.png and *-dark.png.
# Usage: docs/screenshots.sh BUILD_DIR   (a configured build folder, such as build/dev)
set -euo pipefail
build=${1:?usage: screenshots.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
cmake --build "$build" -j2 --target bellwick-screenshots
mkdir -p "$here/images"
for theme in light dark; do
    QT_QPA_PLATFORM=offscreen "$build/bellwick-screenshots" "$here/images" "$theme"
done
ls -l "$here"/images/*.png
