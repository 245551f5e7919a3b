#!/usr/bin/env bash
# Checks an installed Tivaro tree: the layout, the desktop integration, the
# udev rule, and that both programs start from bin/ and find their settings.
#
#   bash packaging/check-installed.sh ROOT PREFIX
#
# ROOT is where the tree was unpacked or installed (a DESTDIR, a dpkg -x
# folder, or / for the real system); PREFIX the install prefix inside it
# (/usr for the package, /usr/local for a plain cmake --install).
# desktop-file-validate and appstreamcli are used when they are installed.
# Prints one line per failed check and exits 1 if any failed.
set -uo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 ROOT PREFIX" >&2
    exit 2
fi
root=$(realpath "$1")
prefix=$2
app_id=com.halvorn.Tivaro
top=$root$prefix
pkglib=$top/lib/tivaro

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
pass() {
    echo "ok:   $*"
}
check() {
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}

# Runs a validator, showing its report only when it fails.
quietly() {
    local output
    output=$("$@" 2>&1) || { echo "$output" >&2; return 1; }
}
has_no_run_path() { ! readelf -d "$1" | grep -Eq 'RPATH|RUNPATH'; }
finds_every_library() { ldd "$1" >/dev/null && ! ldd "$1" | grep -q 'not found'; }
imported_every_file() { ! grep -Eq "Can't import config file|Error parsing file" "$1"; }
prints_version() { "$1" --version | grep -qx 'tivaro [0-9.]*'; }
is_png_of_size() { file -b "$1" | grep -q "^PNG image data, $2 x $2,"; }
active_lines() { grep -v '^[[:space:]]*#' "$1"; }
rule_matches_portline() {
    active_lines "$1" | grep -F 'SUBSYSTEM=="usb"' | grep -F 'ATTR{idVendor}=="04d8"' \
        | grep -F 'ATTR{idProduct}=="ff00"' | grep -qF 'TAG+="uaccess"'
}
has_manual_page() { test -s "$1" || gzip -t "$1.gz" 2>/dev/null; }
rule_sets_no_mode() { ! active_lines "$1" | grep -q 'MODE'; }

# --- layout -----------------------------------------------------------------
for program in tivaro tivaro-cli; do
    check "$pkglib/$program is an executable" test -x "$pkglib/$program" -a ! -L "$pkglib/$program"
    link=$top/bin/$program
    if [ -L "$link" ]; then
        target=$(readlink "$link")
        check "bin/$program is a relative link ($target)" test "${target#/}" = "$target"
        check "bin/$program leads to lib/tivaro/$program" \
            test "$(realpath "$link" 2>/dev/null)" = "$(realpath "$pkglib/$program")"
    else
        fail "bin/$program is not a symbolic link"
    fi
done
check "settings beside the executables" test -f "$pkglib/settings/main_config.json"

# The package relies on the system's Qt and libusb: no run path into a build
# folder, and every library found.
for program in tivaro tivaro-cli; do
    if command -v readelf >/dev/null; then
        check "$program has no run path" has_no_run_path "$pkglib/$program"
    fi
    check "$program finds every library" finds_every_library "$pkglib/$program"
done

# --- the programs find their settings when started through bin/ --------------
settings_line="Importing config file: \"$pkglib/settings/main_config.json\""
cli_log=$(mktemp)
gui_log=$(mktemp)
trap 'rm -f "$cli_log" "$gui_log"' EXIT

# tivaro-cli writes its log lines to standard error with --verbose.
if (cd / && "$top/bin/tivaro-cli" --verbose --simulate info >/dev/null 2>"$cli_log"); then
    pass "tivaro-cli --simulate info"
else
    fail "tivaro-cli --simulate info exits $? (log: $(tail -n 3 "$cli_log"))"
fi
check "tivaro-cli reads $pkglib/settings" grep -qF "$settings_line" "$cli_log"
check "tivaro-cli reads every settings file" imported_every_file "$cli_log"

check "tivaro --version" prints_version "$top/bin/tivaro"

# The window, off-screen on the virtual Portline, until it has started (at
# most 30 s); it runs until it is ended.
(cd / && QT_QPA_PLATFORM=offscreen exec "$top/bin/tivaro" --simulate --log-file - >"$gui_log" 2>&1) &
gui_pid=$!
for _ in $(seq 300); do
    grep -q "Starting Tivaro" "$gui_log" && break
    kill -0 "$gui_pid" 2>/dev/null || break
    sleep 0.1
done
kill "$gui_pid" 2>/dev/null
wait "$gui_pid" 2>/dev/null
check "tivaro starts and reads $pkglib/settings" grep -qF "$settings_line" "$gui_log"
check "tivaro reads every settings file" imported_every_file "$gui_log"

# --- desktop integration -----------------------------------------------------
desktop=$top/share/applications/$app_id.desktop
metainfo=$top/share/metainfo/$app_id.metainfo.xml
check "desktop file $app_id.desktop" test -f "$desktop"
if command -v desktop-file-validate >/dev/null; then
    check "desktop-file-validate" quietly desktop-file-validate "$desktop"
fi
exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop" 2>/dev/null)
check "the menu entry starts bin/$exec_program" test -n "$exec_program" -a -x "$top/bin/$exec_program"
icon=$(sed -n 's/^Icon=//p' "$desktop" 2>/dev/null)
check "the menu entry's icon is $app_id" test "$icon" = "$app_id"
check "scalable icon" test -s "$top/share/icons/hicolor/scalable/apps/$icon.svg"
for size in 48 64 128 256; do
    png=$top/share/icons/hicolor/${size}x${size}/apps/$icon.png
    if command -v file >/dev/null; then
        check "${size}x${size} icon" is_png_of_size "$png" "$size"
    else
        check "${size}x${size} icon" test -s "$png"
    fi
done

check "metainfo $app_id.metainfo.xml" test -f "$metainfo"
if command -v appstreamcli >/dev/null; then
    check "appstreamcli validate" quietly appstreamcli validate --no-net "$metainfo"
fi
check "metainfo id is $app_id" grep -qF "<id>$app_id</id>" "$metainfo"
check "metainfo launches $app_id.desktop" \
    grep -qF "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo"
check "metainfo offers the tool for the Portline" grep -qF "<modalias>usb:v04D8pFF00d*</modalias>" "$metainfo"

for page in tivaro tivaro-cli; do
    check "manual page $page(1)" has_manual_page "$top/share/man/man1/$page.1"
done

# --- udev rule ---------------------------------------------------------------
mapfile -t rules < <(find "$root" -path '*/udev/rules.d/60-tivaro.rules' 2>/dev/null)
if [ ${#rules[@]} -eq 1 ]; then
    rule=${rules[0]}
    pass "udev rule ${rule#"$root"}"
    check "udev rule matches the Portline" rule_matches_portline "$rule"
    check "udev rule sets no MODE" rule_sets_no_mode "$rule"
else
    fail "expected one 60-tivaro.rules in a udev rules.d under $root, found ${#rules[@]}"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all checks passed"
