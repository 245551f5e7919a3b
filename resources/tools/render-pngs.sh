#!/usr/bin/env bash
# Renders the button images that are used as PNG files from their SVG
# sources, at twice their 16-pixel design size so that they stay sharp on
# high-DPI screens. Run after changing ui/images/*.svg and commit the PNGs.
#
#   bash resources/tools/render-pngs.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/../.."
build_dir=${1:-build}
cmake --build "$build_dir" --target tivaro_svgtopng
tool="$build_dir/bin/tivaro_svgtopng"
for name in UpButton DownButton; do
    QT_QPA_PLATFORM=offscreen "$tool" "resources/ui/images/$name.svg" "resources/ui/images/$name.png" 32 32
done
