#!/usr/bin/env bash
# Packaging stage of .ci/run: builds the Debian package and checks it as a
# clean Debian 12 machine would get it.
#
#   bash scripts/ci-package.sh [BUILD_DIR]
#
# Reuses the build of the README's test command (build/, or TIVARO_BUILD_DIR)
# when it exists; otherwise configures a release build without tests in
# build-package/. Then: cpack -G DEB; the package's control data
# (dependencies found by dpkg-shlibdeps); its maintainer scripts against a
# stand-in udevadm; the package unpacked with dpkg -x into a scratch root,
# where tivaro-cli --simulate info must run from usr/bin with the system's Qt
# and find its settings, the window must start, and the desktop file, the
# AppStream metainfo, the icons and the udev rule must pass their checks
# (packaging/check-installed.sh); that apt can install it here; lintian when
# it is installed. With TIVARO_PACKAGE_DIR set, the package is kept there.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh

install_packages "${TIVARO_BUILD_PACKAGES[@]}" "${TIVARO_PACKAGING_PACKAGES[@]}"

build_dir=${1:-${TIVARO_BUILD_DIR:-build}}
if [ -f "$build_dir/CMakeCache.txt" ]; then
    cmake -S . -B "$build_dir" >/dev/null
else
    build_dir=${1:-build-package}
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DTIVARO_BUILD_TESTS=OFF -DTIVARO_BUILD_BENCH=OFF
fi
cmake --build "$build_dir" --parallel "$(nproc)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "--- cpack -G DEB"
cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$work/out"
debs=("$work"/out/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    echo "expected one .deb, found: ${debs[*]}" >&2
    exit 1
fi
deb=${debs[0]}
dpkg-deb --info "$deb"

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

echo "--- dependencies"
depends=$(dpkg-deb --field "$deb" Depends)
for package in libqt6core6 libqt6gui6 libqt6widgets6 libqt6svg6 libusb-1.0-0; do
    if grep -Eq "(^|, )$package( |,|$)" <<<"$depends"; then
        echo "ok:   depends on $package"
    else
        fail "Depends lacks $package: $depends"
    fi
done

echo "--- maintainer scripts"
dpkg-deb --control "$deb" "$work/control"
bash tests/packaging/test-maintainer-scripts.sh "$work/control" || fail "maintainer scripts"

echo "--- unpacked into a scratch root"
dpkg-deb -x "$deb" "$work/root"
env -u LD_LIBRARY_PATH "$work/root/usr/bin/tivaro-cli" --simulate info || fail "tivaro-cli --simulate info exits $?"
env -u LD_LIBRARY_PATH bash packaging/check-installed.sh "$work/root" /usr || fail "installed tree"

echo "--- installable here"
if command -v apt-get >/dev/null; then
    if output=$(apt-get install --simulate --no-install-recommends "$deb" 2>&1); then
        grep -E '^(Inst|Conf) ' <<<"$output" || true
        echo "ok:   apt-get install --simulate"
    else
        echo "$output" >&2
        fail "apt-get cannot install the package"
    fi
fi

# Not installed by this stage (it is large); when it is there, its errors
# count and its warnings are shown.
if command -v lintian >/dev/null; then
    echo "--- lintian"
    lintian --tag-display-limit 0 "$deb" || fail "lintian reports errors"
fi

echo "--- $(basename "$deb"): $(du -k "$deb" | cut -f1) kB, installed $(dpkg-deb --field "$deb" Installed-Size) kB"
if [ -n "${TIVARO_PACKAGE_DIR:-}" ]; then
    mkdir -p "$TIVARO_PACKAGE_DIR"
    cp "$deb" "$TIVARO_PACKAGE_DIR/"
    echo "kept in $TIVARO_PACKAGE_DIR/"
fi
if [ "$failures" -ne 0 ]; then
    echo "$failures packaging check(s) failed" >&2
    exit 1
fi
echo "package checks passed"
