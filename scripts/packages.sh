# The Debian packages Tivaro is built and tested with, and a helper that
# installs the missing ones. Sourced by scripts/setup and .ci/run.

TIVARO_BUILD_PACKAGES=(
    build-essential cmake ninja-build pkg-config ccache
    qt6-base-dev qt6-base-dev-tools libqt6svg6-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
    libgl-dev libusb-1.0-0-dev libola-dev
)

# The sanitizer builds, fuzzing and static analysis of .ci/run (clang's
# sanitizer and libFuzzer runtimes come with libclang-rt-14-dev).
TIVARO_RELIABILITY_PACKAGES=(
    clang-14 libclang-rt-14-dev clang-tidy-14 cppcheck
)

# The packaging stage of .ci/run (scripts/ci-package.sh): dpkg-shlibdeps
# finds the package's dependencies (it needs file), desktop-file-validate and
# appstreamcli check the desktop entry and the metainfo.
TIVARO_PACKAGING_PACKAGES=(
    dpkg-dev file desktop-file-utils appstream
)

install_packages() {
    local missing=()
    local pkg
    local status
    for pkg in "$@"; do
        # Not a pipe into grep -q: with pipefail, grep closing early can fail it.
        status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
        [ "$status" = "install ok installed" ] || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || { echo "Missing packages: ${missing[*]} (run as root or install sudo)" >&2; exit 1; }
        sudo=(sudo)
    fi
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
