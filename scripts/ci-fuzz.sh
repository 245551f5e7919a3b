#!/usr/bin/env bash
# Runs every libFuzzer target of a build tree for a fixed time on its seed
# corpus (fuzz/corpus/<target>/), two at a time, and prints executions per
# second, corpus growth and the outcome of each. Fails when any target finds
# a crash, a sanitizer report, a leak, a time-out or runs out of memory; the
# input that did it is kept in the work folder (printed).
#
#   bash scripts/ci-fuzz.sh BUILD_DIR [SECONDS_PER_TARGET]
#
# BUILD_DIR is a tree configured with the asan preset (TIVARO_BUILD_FUZZ=ON).
# New inputs go to the work folder, never into fuzz/corpus; to keep them,
# merge them in by hand (docs/reliability.md).
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:?usage: bash scripts/ci-fuzz.sh BUILD_DIR [SECONDS_PER_TARGET]}
seconds=${2:-${TIVARO_FUZZ_SECONDS:-30}}
jobs=${TIVARO_FUZZ_JOBS:-2}
work=${TIVARO_FUZZ_WORK:-$(mktemp -d /tmp/tivaro-fuzz.XXXXXX)}
mkdir -p "$work"

mapfile -t targets < <(find "$build_dir/bin" -maxdepth 1 -name 'fuzz_*' -type f -executable -printf '%f\n' | sort)
[ ${#targets[@]} -gt 0 ] || { echo "No fuzz targets in $build_dir/bin (configure with the asan preset)" >&2; exit 1; }

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TIVARO_FUZZ_BUILD=$build_dir TIVARO_FUZZ_WORK_DIR=$work TIVARO_FUZZ_TIME=$seconds

run_target() {
    local target=$1
    local name=${target#fuzz_}
    local corpus=$TIVARO_FUZZ_WORK_DIR/$name
    mkdir -p "$corpus" "$TIVARO_FUZZ_WORK_DIR/artifacts"
    local options=()
    [ -f "fuzz/dict/$name.dict" ] && options+=(-dict="fuzz/dict/$name.dict")
    case "$name" in
        settings|dalinetwork|vxnetwork|keymarknetwork|dongleparameters)
            # These keep state between inputs by design (the networks live
            # on; the logs are cleared only every 64 or 256 inputs), so
            # libFuzzer's leak check after each input would find memory
            # still growing and scan the heap every time. Leaks are found by
            # the leak check at exit instead.
            options+=(-detect_leaks=0) ;;
    esac
    local status=0
    # -close_fd_mask=1: the searches print their trace on standard output.
    "$TIVARO_FUZZ_BUILD/bin/$target" "$corpus" "fuzz/corpus/$name" "${options[@]}" \
        -max_total_time="$TIVARO_FUZZ_TIME" -timeout=20 -rss_limit_mb=2560 -max_len=4096 -close_fd_mask=1 \
        -print_final_stats=1 -artifact_prefix="$TIVARO_FUZZ_WORK_DIR/artifacts/$target-" \
        > "$TIVARO_FUZZ_WORK_DIR/$target.log" 2>&1 || status=$?
    echo "$status" > "$TIVARO_FUZZ_WORK_DIR/$target.status"
}
export -f run_target

printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_target {}'

failed=0
printf '%-22s %10s %9s %8s  %s\n' target runs exec/s corpus result
for target in "${targets[@]}"; do
    log=$work/$target.log
    status=$(cat "$work/$target.status")
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    corpus=$(find "$work/${target#fuzz_}" -type f | wc -l)
    result=ok
    if [ "$status" != 0 ]; then
        result="FAILED (exit $status, see $log)"
        failed=1
    fi
    printf '%-22s %10s %9s %8s  %s\n' "$target" "${runs:-?}" "${rate:-?}" "$corpus" "$result"
done
if [ $failed -ne 0 ]; then
    for target in "${targets[@]}"; do
        [ "$(cat "$work/$target.status")" = 0 ] && continue
        echo "=== $target ==="
        grep -v '^#' "$work/$target.log" | tail -60
    done
    echo "Reproduce with: $build_dir/bin/<target> <artifact> (artifacts in $work/artifacts)" >&2
    exit 1
fi
