#!/usr/bin/env bash
# The Debian package's maintainer scripts against a stand-in udevadm that
# records its calls: the installation reloads the rules and applies them to
# a plugged Portline, and never fails because udev is missing or silent.
#
#   bash tests/packaging/test-maintainer-scripts.sh packaging/debian
set -uo pipefail

scripts=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

reload="control --reload-rules"
trigger="trigger --subsystem-match=usb --attr-match=idVendor=04d8 --attr-match=idProduct=ff00"

# udevadm behaviours: "absent" (not on PATH), "works", "no-daemon" (every
# call fails, as without a running udevd), "trigger-fails".
make_udevadm() {
    local behaviour=$1
    local bin=$work/bin
    rm -rf "$bin"
    mkdir -p "$bin"
    [ "$behaviour" = absent ] && return
    cat >"$bin/udevadm" <<EOF
#!/bin/sh
echo "\$*" >>"$work/calls"
case "$behaviour:\$1" in
    no-daemon:*) echo "Failed to send reload request: No such file or directory" >&2; exit 1 ;;
    trigger-fails:trigger) exit 1 ;;
esac
exit 0
EOF
    chmod +x "$bin/udevadm"
}

failures=0
# name | script | argument | udevadm | expected udevadm calls, one per ";"
cases=(
    "install with udev|postinst|configure|works|$reload;$trigger"
    "install in a container without udevadm|postinst|configure|absent|"
    "install without a running udevd|postinst|configure|no-daemon|$reload"
    "install when the trigger fails|postinst|configure|trigger-fails|$reload;$trigger"
    "aborted upgrade leaves udev alone|postinst|abort-upgrade|works|"
    "removal reloads the rules|postrm|remove|works|$reload"
    "removal without a running udevd|postrm|remove|no-daemon|$reload"
    "removal in a container without udevadm|postrm|remove|absent|"
    "purge after removal leaves udev alone|postrm|purge|works|"
)
for row in "${cases[@]}"; do
    IFS='|' read -r name script argument behaviour expected <<<"$row"
    make_udevadm "$behaviour"
    : >"$work/calls"
    # Only the stand-in and the shell's builtins: no real udevadm is reached.
    env -i PATH="$work/bin" /bin/sh "$scripts/$script" "$argument" >"$work/output" 2>&1
    status=$?
    calls=$(paste -sd ';' "$work/calls")
    if [ "$status" -ne 0 ]; then
        echo "FAIL: $name: $script $argument exits $status: $(cat "$work/output")" >&2
        failures=$((failures + 1))
    elif [ "$calls" != "$expected" ]; then
        echo "FAIL: $name: udevadm calls '$calls', expected '$expected'" >&2
        failures=$((failures + 1))
    else
        echo "ok:   $name"
    fi
done

for script in postinst postrm; do
    if [ "$(stat -c %a "$scripts/$script")" != 755 ]; then
        echo "FAIL: $script is not executable (mode $(stat -c %a "$scripts/$script"))" >&2
        failures=$((failures + 1))
    fi
done

[ "$failures" -eq 0 ] || { echo "$failures case(s) failed" >&2; exit 1; }
echo "all cases passed"
