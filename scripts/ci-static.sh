#!/usr/bin/env bash
# Static analysis of our code: clang-tidy with the checks of .clang-tidy on
# every source file of the compile database of BUILD_DIR that lives in our
# folders (not the moc/uic output in the build folder, not Qt), then
# cppcheck on the same folders. Any finding fails the run.
#
#   bash scripts/ci-static.sh BUILD_DIR      (a configured tree: the asan one in CI)
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:?usage: bash scripts/ci-static.sh BUILD_DIR}
[ -f "$build_dir/compile_commands.json" ] || { echo "No compile database in $build_dir" >&2; exit 1; }
folders='general|usb|dali|dmx|vx|km|sim|app|cli|fuzz|tests|tools'

echo "--- clang-tidy"
run-clang-tidy-14 -quiet -p "$build_dir" -j "$(nproc)" "^$PWD/($folders)/.*\.cpp\$" \
    > "$build_dir/clang-tidy.log" 2>&1 || {
    grep -E "(warning|error):" "$build_dir/clang-tidy.log" | sort -u
    echo "clang-tidy found the above (full output in $build_dir/clang-tidy.log)" >&2
    exit 1
}

echo "--- cppcheck"
mapfile -t sources < <(find general usb dali dmx vx km sim app cli fuzz tools -name '*.cpp' | sort)
cppcheck --quiet --std=c++20 --language=c++ --library=qt -I . \
    --enable=warning,performance,portability --inline-suppr \
    --suppressions-list=tools/static/cppcheck.supp --error-exitcode=1 -j "$(nproc)" "${sources[@]}"
