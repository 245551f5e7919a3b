#!/usr/bin/env bash
# Takes the pictures in docs/screenshots/ from the real program on the
# virtual Portline: the program runs its hidden --screenshot mode, which
# discovers and commissions the simulated equipment, reads the Keymark tag
# and saves what the window shows (see app/screenshotter.h).
#
#   bash scripts/screenshots.sh [BUILD_DIR]      (default: build, or $TIVARO_BUILD_DIR)
#
# Runs under Xvfb when xvfb-run is there (the pictures then look as on a
# desktop), otherwise on Qt's offscreen platform.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-${TIVARO_BUILD_DIR:-build}}
out=docs/screenshots

if [ ! -f "$build_dir/build.ninja" ]; then
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build_dir" --target tivaro
mkdir -p "$out"

program=("$build_dir/bin/tivaro" --simulate --screenshot "$out")
# Only the program's step reports are shown (the searches and the form also
# trace to standard output and standard error).
if command -v xvfb-run >/dev/null 2>&1; then
    QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1600x1000x24" "${program[@]}" 2>&1 >/dev/null | grep '^screenshot:' >&2
else
    QT_QPA_PLATFORM=offscreen "${program[@]}" 2>&1 >/dev/null | grep '^screenshot:' >&2
fi
echo "Screenshots in $out:" >&2
ls -1 "$out"/*.png >&2
