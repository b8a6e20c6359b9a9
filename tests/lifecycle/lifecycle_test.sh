#!/usr/bin/env bash
# The product across its life on the demo machine: one row per start state and action, each
# on a fresh machine (tests/lib/wine-prefix) whose boards come back after a removal as PCI
# boards do (demo_machine rescan). Each row is judged by the exit code, the number of Add/Remove
# Programs entries of the product (one or none), the boards running the product's driver
# and the driver binary's bytes, after the restart when the run asked for one (wineboot -r
# performs the renames and deletions scheduled for it).
#
#   lifecycle_test.sh --arch win32|win64 BIN_DIR
#
# BIN_DIR: the Windows build of the prefix's own width, with demo_machine.exe and
# kvxsetup.exe. The setup programs 0.9, 1.0 and 1.0.1 and that width's MSI packages 1.0 and
# 1.0.1 are built here; 1.0.1's driver binaries differ from 1.0's.
set -uo pipefail

arch=win32
if [ "${1:-}" = --arch ]; then
    arch=$2
    shift 2
fi
bin=$(cd "${1:?usage: lifecycle_test.sh [--arch win32|win64] BIN_DIR}" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
width=x86
view=()
if [ "$arch" = win64 ]; then
    width=x64
    view=(/reg:64)
fi

source "$root/tests/lib/wine_work_folder.sh"
wine_work_folder "$arch" kvx-lifecycle-test
source "$root/tests/lib/checks.sh"

echo "lifecycle test on $arch: building the setup programs and packages"
cp -r "$root/tools/demo_machine/packages" "$work/packages-1.0"
cp -r "$root/tools/demo_machine/packages" "$work/packages-1.0.1"
for binary in "$work/packages-1.0.1"/*.sys; do printf 'release 1.0.1\r\n' >>"$binary"; done
# 1.0.1-broken: the second family's INF is not an INF, so the update fails after the first.
cp -r "$work/packages-1.0.1" "$work/packages-1.0.1-broken"
printf 'This is not an INF file.\r\n' >"$work/packages-1.0.1-broken/kvxhxhw.inf"
# LABEL VERSION: setup-LABEL.exe, or msi-LABEL/, from packages-LABEL (without "-broken" in
# the version).
build_setup() {
    bash "$root/scripts/build-installer" --version "$2" --packages "$work/packages-${3:-$1}" \
        --output "$work/setup-$1.exe" >"$work/build.log" 2>&1 ||
        { cat "$work/build.log"; echo "FAIL building setup $1"; exit 1; }
}
build_msi() {
    bash "$root/scripts/build-msi" --arch "$width" --version "$2" --packages "$work/packages-$1" \
        --output "$work/msi-$1" >"$work/build.log" 2>&1 ||
        { cat "$work/build.log"; echo "FAIL building the $1 package"; exit 1; }
}
build_setup 0.9 0.9 1.0
build_setup 1.0.1 1.0.1
build_setup 1.0.1-broken 1.0.1
build_msi 1.0.1 1.0.1
# 1.0 is the project's version with the demo's packages: under scripts/test.sh its own
# installer and package steps have just built them.
if [ -n "${KVX_USE_BUILDS:-}" ] && [ -f "$root/build/installer/KvxDriversSetup.exe" ] &&
    [ "$(cat "$root/build/mingw-i686/generated/version.txt" 2>/dev/null)" = 1.0.0.0 ]; then
    cp "$root/build/installer/KvxDriversSetup.exe" "$work/setup-1.0.exe"
    mkdir -p "$work/msi-1.0"
    cp "$root/build/msi/KvxDrivers-$width.msi" "$work/msi-1.0/"
else
    build_setup 1.0 1.0
    build_msi 1.0 1.0.0
fi

drive_c=$WINEPREFIX/drive_c
folder='C:\Program Files\Kavexa KVX Board Drivers'
driver_unix=$drive_c/windows/system32/drivers/dz4xwin2k.sys
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

run() {
    run_line "$1"
    if [ "$status" = hung ]; then row_hung=1; fi
}
setup() { run "$(winepath -w "$work/setup-$1.exe") /S"; }
msi() {
    cp "$work/msi-$1/KvxDrivers-$width.msi" "$drive_c/kvx-$1.msi"
    run "msiexec /i C:\\kvx-$1.msi /qn /norestart ${2:-} /l*v C:\\kvx-msi.log"
}
msi_repair() { msi 1.0 "REINSTALL=ALL REINSTALLMODE=omus"; }
msi_remove_feature() { msi 1.0 "REMOVE=Drivers"; }
uninstall() {
    local product
    product=$(entries | sed -n 's/.*\\Uninstall\\\({[0-9A-F-]*}\)$/\1/p' | head -n 1)
    if [ -n "$product" ]; then
        run "msiexec /x $product /qn /norestart /l*v C:\\kvx-msi.log"
    else
        run "\"$folder\\uninstall.exe\" /S _?=$folder"
    fi
}
earlier() { wine "$bin/demo_machine.exe" earlier >/dev/null; }

# Holds the installed driver binary open without sharing, as a running driver is, until the
# row ends.
hold_binary() {
    start_holder "held open" "$bin/demo_machine.exe" hold 'C:\windows\system32\drivers\dz4xwin2k.sys' 120
}

# Setup 1.0 killed while the module works: the process of this prefix whose command line
# names the setup program gets SIGKILL once the log says the module is being called.
killed_setup() {
    rm -f "$drive_c"/users/*/Temp/KvxDriversSetup.log "$drive_c"/users/*/AppData/Local/Temp/KvxDriversSetup.log
    printf '@%s /S\r\n' "$(winepath -w "$work/setup-1.0.exe")" >"$drive_c/kvx-kill.cmd"
    wine cmd /c 'C:\kvx-kill.cmd' >/dev/null 2>&1 &
    local launcher=$! log pid
    for _ in $(seq 300); do
        log=$(find "$drive_c/users" -name KvxDriversSetup.log -print -quit)
        [ -n "$log" ] && grep -q "in-process: \|--finish-at-restart install" "$log" && break
        sleep 0.1
    done
    for pid in $(pgrep -f 'setup-1\.0\.exe'); do
        grep -qzx "WINEPREFIX=$WINEPREFIX" "/proc/$pid/environ" 2>/dev/null && kill -KILL "$pid"
    done
    wait "$launcher" 2>/dev/null
    sleep 3
    entries_after_kill=$(entries | grep -c .)
}

entries() {
    wine reg query "$uninstall_key" /s "${view[@]}" 2>/dev/null | tr -d '\r' |
        awk '/^HKEY/ { key = $0 } /DisplayName +REG_SZ +Kavexa KVX Board Drivers$/ { print key }'
}
boards_with_driver() {
    wine "$bin/kvxsetup.exe" inventory 2>&1 | tr -d '\r' | grep -c '^device .*provider "Kavexa Systems Inc"'
}
binary_of() {
    if [ ! -e "$driver_unix" ]; then
        echo none
    elif cmp -s "$driver_unix" "$work/packages-1.0/dz4xwin2k.sys"; then
        echo 1.0
    elif cmp -s "$driver_unix" "$work/packages-1.0.1/dz4xwin2k.sys"; then
        echo 1.0.1
    else
        echo other
    fi
}

# The setup log of every run and the last MSI log: what the row's log must (or, after !,
# must not) say.
logs() {
    find "$drive_c/users" -name KvxDriversSetup.log -exec cat {} + 2>/dev/null | tr -d '\r'
    if [ -f "$drive_c/kvx-msi.log" ]; then tr -d '\r' <"$drive_c/kvx-msi.log"; fi
}

# start state | action | exit code | entries | boards with the driver | driver binary | log
rows=(
    "clean|setup 1.0|0|1|4|1.0|installed version: none"
    "earlier; held|setup 1.0|3010|1|4|1.0|dz4xwin2k.sys for replacement at restart"
    "setup 1.0|setup 1.0|0|1|4|1.0|Repairing 1.0.0.0"
    "setup 1.0|setup 1.0.1|0|1|4|1.0.1|Updating 1.0.0.0 to 1.0.1.0"
    "setup 1.0; held|setup 1.0.1|3010|1|4|1.0.1|dz4xwin2k.sys for replacement at restart"
    "setup 1.0.1|setup 0.9|1638|1|4|1.0.1|refused: version 1.0.1.0 is installed, newer than 0.9.0.0"
    "setup 1.0|setup 1.0.1-broken|1603|1|4|1.0|Version 1.0.0.0 is still installed"
    "setup 1.0|msi 1.0|1603|1|4|1.0|"
    "setup 1.0|uninstall|0|0|0|none|"
    "killed_setup|setup 1.0|0|1|4|1.0|Repairing 1.0.0.0"
    "msi 1.0|setup 1.0|1638|1|4|1.0|refused: the Windows Installer package is installed, product code {"
    "msi 1.0|msi 1.0|0|1|4|1.0|!KvxMsiActions: installing the drivers"
    "msi 1.0|msi_repair|0|1|4|1.0|KvxMsiActions: installing the drivers"
    "msi 1.0|msi 1.0.1|0|1|4|1.0.1|"
    "msi 1.0; held|msi 1.0.1|3010|1|4|1.0.1|dz4xwin2k.sys for replacement at restart"
    "msi 1.0|msi_remove_feature|0|0|0|none|KvxMsiActions: KVXSetup_PnPRemoveKVX returned 0"
    "msi 1.0|uninstall|0|0|0|none|"
    "setup 1.0; uninstall|msi 1.0|0|1|4|1.0|"
    "msi 1.0; uninstall|setup 1.0|0|1|4|1.0|installed version: none"
)

# One row on a fresh machine: sets got_status, got_entries, got_boards, got_binary, got_log
# and entries_after_kill; row_hung when a Wine program of the row never returned.
play_row() {
    row_hung=
    "$wine_prefix_tool" discard "$WINEPREFIX"
    boot_wine_work_folder
    wine "$bin/demo_machine.exe" boards >/dev/null
    # The PCI bus, played: boards a removal takes off come back while the row runs.
    wine "$bin/demo_machine.exe" rescan 600 >/dev/null 2>&1 &
    bus=$!
    holder=
    entries_after_kill=
    IFS=';' read -ra steps <<<"$start"
    for step in "${steps[@]}"; do
        case "${step# }" in
            clean) ;;
            held) hold_binary ;;
            *) ${step# } ;;
        esac
    done
    $action
    got_status=$status
    if [ -n "$holder" ]; then
        kill "$holder" 2>/dev/null
        wait "$holder" 2>/dev/null
    fi
    if [ "$got_status" = 3010 ]; then
        wineboot -r >/dev/null 2>&1
    fi
    wine "$bin/demo_machine.exe" rescan >/dev/null 2>&1
    got_entries=$(entries | grep -c .)
    got_boards=$(boards_with_driver)
    got_binary=$(binary_of)
    got_log=yes
    if [ "${want_log:0:1}" = '!' ]; then
        ! grep -qF -- "${want_log:1}" <(logs) || got_log="has \"${want_log:1}\""
    elif [ -n "$want_log" ]; then
        grep -qF -- "$want_log" <(logs) || got_log="lacks \"$want_log\""
    fi
    kill "$bus" 2>/dev/null
    wait "$bus" 2>/dev/null
}

row_as_wanted() {
    [ "$got_status" = "$want_status" ] && [ "$got_entries" = "$want_entries" ] &&
        [ "$got_boards" = "$want_boards" ] && [ "$got_binary" = "$want_binary" ] && [ "$got_log" = yes ] &&
        { [ -z "$entries_after_kill" ] || [ "$entries_after_kill" = 1 ]; }
}

table=()
for row in "${rows[@]}"; do
    IFS='|' read -r start action want_status want_entries want_boards want_binary want_log <<<"$row"
    play_row
    # Two things outside the product have been seen to spoil a row, rarely and on a loaded
    # machine: Wine's msiexec waiting forever for its custom-action process, and the played
    # bus bringing a board back while the install drives it. Such a row runs once more on a
    # fresh machine and says so; a fault of the product fails it twice.
    if [ -n "$row_hung" ] || ! row_as_wanted; then
        echo "lifecycle test on $arch: \"$start, then $action\" gave exit ${got_status}, entries $got_entries, boards $got_boards, binary $got_binary${row_hung:+ (a Wine program never returned)}; running the row again"
        play_row
    fi
    out="exit $got_status, entries $got_entries, boards $got_boards, binary $got_binary"
    if [ "$got_log" != yes ]; then out="$out, the log $got_log"; fi
    if [ -n "$entries_after_kill" ]; then out="$out (entries after the kill: $entries_after_kill)"; fi
    status=$got_status
    check "$start, then $action: exit $want_status, $want_entries entry, $want_boards boards, binary $want_binary" \
        row_as_wanted
    table+=("$(printf '%-22s %-20s | %s' "$start" "$action" "$out")")
done

echo "lifecycle test on $arch: the table"
printf '  %s\n' "${table[@]}"
echo "lifecycle test on $arch: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
