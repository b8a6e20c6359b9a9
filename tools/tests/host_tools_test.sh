#!/usr/bin/env bash
# End-to-end checks of kvxsetup.exe and demo_machine.exe under Wine, on the real DLL:
# what an installer engineer relies on when driving the module from a console.
#
#   host_tools_test.sh [--arch win32|win64] [--template PREFIX] BIN_DIR
#
# BIN_DIR holds kvxsetup.exe, demo_machine.exe and KVXSETUPW2K.dll. With --template, the
# Wine prefix is a copy of PREFIX (a booted, stopped prefix); otherwise one is booted here.
set -uo pipefail

arch=win32
template=
while [ $# -gt 1 ]; do
    case "$1" in
        --arch) arch=$2; shift 2 ;;
        --template) template=$2; shift 2 ;;
        *) break ;;
    esac
done
bin=$(cd "${1:?usage: host_tools_test.sh [--arch A] [--template PREFIX] BIN_DIR}" && pwd)

unset DISPLAY WAYLAND_DISPLAY
export WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
work=$(mktemp -d "${TMPDIR:-/tmp}/kvx-host-test.XXXXXX")
export WINEPREFIX=$work/prefix
cleanup() {
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

if [ -n "$template" ] && [ -d "$template" ]; then
    cp -a "$template" "$WINEPREFIX"
else
    wineboot --init >/dev/null 2>&1
    wineserver -w
fi

passed=0
failed=0
out=
status=0

# Runs a Windows program; its stdout (CR LF turned into LF) lands in $out, its exit code
# in $status, its stderr in $work/stderr.
run() {
    out=$(wine "$@" 2>"$work/stderr" | tr -d '\r')
    status=${PIPESTATUS[0]}
}

check() {
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "ok   $name"
    else
        failed=$((failed + 1))
        echo "FAIL $name"
        echo "     exit code: $status"
        sed 's/^/     | /' <<<"$out"
        sed 's/^/     stderr| /' "$work/stderr"
    fi
}

has() { [[ "$out" == *"$1"* ]]; }
lacks() { ! has "$1"; }
stderr_has() { grep -qF -- "$1" "$work/stderr"; }
first_line_is() { [ "$(head -n 1 <<<"$out")" = "$1" ]; }
count_is() { [ "$(grep -cF -- "$1" <<<"$out")" -eq "$2" ]; }

host=$bin/kvxsetup.exe
machine=$bin/demo_machine.exe
entry_line="trace| TLX W2K Install DLLMain called"

# --- the console host -------------------------------------------------------------------

run "$host"
check "no command is a usage error" [ "$status" -eq 2 ]
run "$host" --help
check "--help names every export" eval '[ "$status" -eq 0 ] && has KVXSetup_CopyOemInf &&
    has KVXSetup_InstallPnpDevice && has KVXSetup_PnPInstallKVX && has KVXSetup_PnPRemoveKVX &&
    has KVXSetup_RemoveDevices && has KVXSetup_StopService'
run "$host" stop-service
check "a missing argument is a usage error" eval '[ "$status" -eq 2 ] && stderr_has "usage: kvxsetup stop-service NAME"'
run "$host" copy-inf 'C:\none.inf' 12z
check "a malformed number is refused before the module is loaded" \
    eval '[ "$status" -eq 2 ] && lacks "trace|" && stderr_has "not a number"'

mkdir -p "$work/alone" && cp "$host" "$work/alone/"
run "$work/alone/kvxsetup.exe" remove
check "without the DLL beside it the host says so" \
    eval '[ "$status" -eq 2 ] && stderr_has "cannot load KVXSETUPW2K.dll"'

run "$host" stop-service KvxNoSuchService
check "a failing export: entry line first, exit 1, code with its message" \
    eval '[ "$status" -eq 1 ] && first_line_is "$entry_line" && count_is "$entry_line" 2 &&
    has "KVXSetup_StopService returned 1060 (0x424)"'

run "$host" install "" 'C:\second.inf'
check "the install export's -1 reads as bad arguments" \
    eval '[ "$status" -eq 1 ] && has "returned -1 (0xffffffff) bad arguments"'

# The export writes its name, the path, the ID and their line ends as separate pieces.
run "$host" install-device 'C:\none.inf' 'PCI\VEN_0E7C&DEV_0009' 0x100
pieces=$'trace| KVXSetup_InstallPnpDevice\ntrace| C:\\none.inf\ntrace| PCI\\VEN_0E7C&DEV_0009\n'
check "trace written in pieces is shown as whole lines" has "$pieces"

# --- the demo machine, and the two sequences through the host -----------------------------

run "$machine" setup 'C:\kvxdemo'
check "setup registers four boards and writes two INFs" \
    eval '[ "$status" -eq 0 ] && count_is ": registered, no driver" 4 && count_is ": written" 2'
starts_with_header() {
    local f
    for f in kvxdz4x.inf kvxhxhw.inf; do
        head -c 38 "$WINEPREFIX/drive_c/kvxdemo/$f" |
            cmp -s - <(printf '; Copyright 2004, Kavexa Systems Inc\r\n') || return 1
    done
}
check "each demo INF starts with the product's header line" starts_with_header
run "$machine" setup 'C:\kvxdemo'
check "setup run again leaves the boards as they are" \
    eval '[ "$status" -eq 0 ] && count_is "already registered" 4'

run "$machine" list
check "before: four boards without a service, no service of the product" \
    eval 'count_is "service: none" 4 && count_is "not installed" 4 && lacks "kvxdz4x.inf"'

run "$host" install 'C:\kvxdemo\kvxdz4x.inf' 'C:\kvxdemo\kvxhxhw.inf'
check "install returns 0" eval '[ "$status" -eq 0 ] && has "KVXSetup_PnPInstallKVX returned 0 (0x0)"'
run "$machine" list
check "after install: every board runs its family's driver" eval '
    count_is "service: dz4x" 2 && count_is "service: hxhw" 2 &&
    has "Dz4x       installed" && has "Hxhw       installed" && count_is "<- the product" 2'

# The three texts must reach the export in their order: only the first family's board of
# vendor 1011 goes, its sibling of vendor 8086 stays.
run "$host" remove-devices dz4x 'PCI\VEN_1011' 'Kavexa Systems Inc'
check "remove-devices passes service, prefix and provider through" \
    eval '[ "$status" -eq 0 ] && count_is "RemoveDevices: Match found" 1'
run "$machine" list
check "after remove-devices: only the matching board is gone" \
    eval 'lacks "ROOT\KVXDZ4XA" && has "ROOT\KVXDZ4XB" && count_is "service: hxhw" 2'

run "$host" remove
check "remove returns 0 and shows the matches it found" \
    eval '[ "$status" -eq 0 ] && has "RemoveDevices: Match found"'
run "$machine" list
check "after remove: no board, no service, no product INF left" eval '
    has $'"'"'Devices of the product (any hardware ID with vendor 0E7C):\n  none'"'"' &&
    count_is "not installed" 4 && lacks "<- the product"'

run "$host" copy-inf 'C:\kvxdemo\missing.inf'
check "copy-inf of a missing INF fails with the staging line in the trace" \
    eval '[ "$status" -eq 1 ] && has "trace| Return from SetupCopyOEMInf: 0,"'
run "$host" copy-inf 'C:\kvxdemo\kvxhxhw.inf' 0
check "copy-inf stages the INF into the INF store" \
    eval '[ "$status" -eq 0 ] && has "trace| Return from SetupCopyOEMInf: 1," &&
    [ -f "$WINEPREFIX/drive_c/windows/inf/kvxhxhw.inf" ]'

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
