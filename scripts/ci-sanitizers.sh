#!/usr/bin/env bash
# Builds a sanitizer tree from CMakePresets.json and runs its tests with the
# sanitizer options of the preset's test preset (scripts/preset-env.cmake);
# any report fails the run.
#
#   bash scripts/ci-sanitizers.sh asan [BUILD_DIR]   AddressSanitizer + UBSan: every test;
#                                                   also builds the fuzz targets
#   bash scripts/ci-sanitizers.sh tsan [BUILD_DIR]   ThreadSanitizer: the tests of the
#                                                   threaded modules (the preset's labels)
#
# BUILD_DIR defaults to build-asan / build-tsan. The tsan tree builds only
# the test executables it runs.
set -euo pipefail
cd "$(dirname "$0")/.."

preset=${1:?usage: bash scripts/ci-sanitizers.sh asan|tsan [BUILD_DIR]}
build_dir=${2:-build-$preset}
case "$preset" in
    asan|tsan) ;;
    *) echo "usage: bash scripts/ci-sanitizers.sh asan|tsan [BUILD_DIR]" >&2; exit 2 ;;
esac

cmake --preset "$preset" -B "$build_dir"
# The sanitizer options and the label filter of the test preset, for this folder.
eval "$(cmake -DPRESET="$preset" -P scripts/preset-env.cmake)"
labels=()
[ -n "$TIVARO_TEST_LABELS" ] && labels=(-L "$TIVARO_TEST_LABELS")

targets=()
if [ "$preset" = tsan ]; then
    # Test names are their executables' target names.
    mapfile -t targets < <(ctest --test-dir "$build_dir" -N "${labels[@]}" | sed -n 's/^ *Test *#[0-9]*: *//p')
    [ ${#targets[@]} -gt 0 ] || { echo "No tests selected for tsan" >&2; exit 1; }
    targets=(--target "${targets[@]}")
fi
cmake --build "$build_dir" --parallel "$(nproc)" "${targets[@]}"

ctest --test-dir "$build_dir" "${labels[@]}" --output-on-failure --no-tests=error --timeout 900 \
    --parallel "$(nproc)"
