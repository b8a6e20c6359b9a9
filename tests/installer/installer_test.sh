#!/usr/bin/env bash
# The product installer under Wine as a deployment tool runs it, on the demo machine: a
# failing install, switches and folders refused, a run while another holds the run lock, a
# silent install, a second folder refused, a stale uninstaller refused, and the entry's
# quiet uninstall string with and without a driver binary in use, each judged by its exit
# code, the product's inventory, the Add/Remove Programs entry, the install folder, the log
# and the LastRun record.
#
#   installer_test.sh --arch win32|win64 INSTALLER BIN_DIR
#
# INSTALLER is build/installer/KvxDriversSetup.exe; BIN_DIR the Windows build of the
# prefix's own width, with demo_machine.exe and kvxsetup.exe. The failing installer is
# built here by scripts/build-installer, from the demo's packages with a second INF that is
# not an INF: the first family is installed before the second fails.
set -uo pipefail

arch=win32
if [ "${1:-}" = --arch ]; then
    arch=$2
    shift 2
fi
installer=$(realpath "${1:?usage: installer_test.sh [--arch win32|win64] INSTALLER BIN_DIR}")
bin=$(cd "${2:?usage: installer_test.sh [--arch win32|win64] INSTALLER BIN_DIR}" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)

source "$root/tests/lib/wine_work_folder.sh"
wine_work_folder "$arch" kvx-installer-test

echo "installer test on $arch: booting a fresh prefix, building the failing installer"
boot_wine_work_folder
failing_packages "$work/bad"
bash "$root/scripts/build-installer" --packages "$work/bad" --output "$work/bad-setup.exe" >/dev/null ||
    { echo "FAIL building the failing installer"; exit 1; }
# Another publisher's brand on the same packages: the boards still run their driver.
if [ "$arch" = win32 ]; then
    bash "$root/scripts/build-installer" --publisher "Northwind Boards Ltd" \
        --output "$work/branded-setup.exe" >/dev/null ||
        { echo "FAIL building the rebranded installer"; exit 1; }
fi
# The demo's packages without the first family's driver binary.
mkdir -p "$work/no-binary"
cp "$root/tools/demo_machine/packages/"* "$work/no-binary/"
rm "$work/no-binary/dz4xwin2k.sys"
bash "$root/scripts/build-installer" --packages "$work/no-binary" \
    --output "$work/no-binary-setup.exe" >/dev/null ||
    { echo "FAIL building the installer without a driver binary"; exit 1; }

drive_c=$WINEPREFIX/drive_c
folder="C:\\Program Files\\Kavexa KVX Board Drivers"
folder_unix="$drive_c/Program Files/Kavexa KVX Board Drivers"
entry='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KvxBoardDrivers'
# Wine's reg runs as a 32-bit program in a win64 prefix: the 64-bit view must be asked for.
view=()
if [ "$arch" = win64 ]; then view=(/reg:64); fi

source "$root/tests/lib/checks.sh"

run() {
    run_line "$1"
    out=$said
}
inventory() { wine "$bin/kvxsetup.exe" inventory 2>&1 | tr -d '\r'; }
entry_value() { wine reg query "$entry" /v "$1" "${view[@]}" 2>/dev/null | tr -d '\r' | awk -v n="$1" '$1 == n { $1 = $2 = ""; sub(/^ +/, ""); print }'; }
log_of() {
    local path
    path=$(find "$drive_c/users" -name "$1" -print -quit)
    [ -n "$path" ] && tr -d '\r' <"$path"
}

no_entry() { ! wine reg query "$entry" "${view[@]}" >/dev/null 2>&1; }
# The uninstaller's file and folder go once it has ended: a moment after its caller returns.
folder_goes() {
    for _ in $(seq 50); do
        [ -e "${1:-$folder_unix}" ] || return 0
        sleep 0.2
    done
    return 1
}
# The LastRun record as "Name=value" lines, sorted, Time left out: what a run left there.
last_run() {
    wine reg query 'HKLM\Software\Kavexa Systems Inc\KVX Board Drivers\LastRun' "${view[@]}" 2>/dev/null |
        tr -d '\r' | awk '$2 ~ /^REG_/ && $1 != "Time" { v = $0; sub(/^ *[^ ]+ +[^ ]+ +/, "", v); print $1 "=" v }' | LC_ALL=C sort | tr '\n' ' '
}

demo() { wine "$bin/demo_machine.exe" "$@" >/dev/null; }
demo boards && demo earlier
prepared=$?
check "the demo machine is prepared: four boards, an earlier release" [ "$prepared" -eq 0 ]

# Boards without a driver are the customer's hardware, not the product's.
nothing_left() {
    out=$(inventory)
    lacks 'provider "Kavexa Systems Inc"' && count_is ": not installed" 4 &&
        has "inf: none of the product's" && count_is ": missing" 3
}

# --- packages that cannot be installed ------------------------------------------------------

# A second INF that is no INF, and a package whose first family's binary is missing: both
# are found out before anything is removed, so the earlier release stays as it was, and so
# does the folder of the user's own given with /D= (it has a drivers folder too).
own_unix="$drive_c/Own Tools"
mkdir -p "$own_unix/drivers"
echo "the user's own" >"$own_unix/drivers/notes.txt"
before=$(inventory)
refused_packages() {
    local setup expected
    while IFS='|' read -r setup expected; do
        run "$(winepath -w "$setup") /S /D=C:\\Own Tools"
        [ "$status" = 1603 ] || return 1
        out=$(log_of KvxDriversSetup.log | tail -n 3)
        has "refused before any change: " && has "$expected" && has "; exit code 1603" || return 1
        out=$(inventory)
        [ "$out" = "$before" ] && [ "$(cd "$own_unix" && find . -type f)" = ./drivers/notes.txt ] &&
            no_entry || return 1
    done <<CASES
$work/bad-setup.exe|kvxhxhw.inf cannot be opened as an INF
$work/no-binary-setup.exe|kvxdz4x.inf copies dz4xwin2k.sys, which is missing
CASES
}
check "a non-INF or a missing binary: 1603 before any change, the earlier release kept" \
    refused_packages

# --- the silent install --------------------------------------------------------------------

# --- refusals before anything changes -----------------------------------------------------

# An unknown switch beside a silent one, a folder the ANSI code page cannot spell, another
# run holding the lock: each ends at once, with its code, no window and nothing installed.
demo boards && demo earlier
start_holder "held for" "$bin/demo_machine.exe" hold-run 15
run_holder=$holder
run "$(winepath -w "$installer") /S"
busy_status=$status
busy_record=$(last_run)
kill "$run_holder" 2>/dev/null
wait "$run_holder" 2>/dev/null
run "$(winepath -w "$installer") /bogus /S"
bogus_status=$status
bogus_log=$(log_of KvxDriversSetup.log)
# One argument to cmd, so that Wine quotes the whole line and NSIS sees /D= unquoted; not a
# batch file, which cmd would read in the OEM code page. Omega is not in code page 1252.
LANG=C.UTF-8 wine cmd /c "$(winepath -w "$installer") /quiet /D=C:\Programmes\Kävexa Tréiber Ω" >/dev/null 2>&1
status=$?
out="$bogus_log
$(log_of KvxDriversSetup.log)"
check "refused with nothing changed: another run 1618, /bogus 87, a folder outside the code page 87" eval '
    [ "$busy_status" = 1618 ] && grep -q "ExitCode=0x652 " <<<"$busy_record" &&
    [ "$bogus_status" = 87 ] && [ "$status" = 87 ] &&
    has "refused: unknown switch /bogus; exit code 87" && has "refused: the ANSI code page cannot spell" &&
    [ ! -e "$folder_unix" ] && [ ! -e "$drive_c/Programmes" ] && no_entry'

# Run from a download folder where a newdev.dll of no one's waits beside it, with Wine told to
# prefer such a copy: the module must bind the system's own.
mkdir -p "$work/download"
cp "$installer" "$work/download/"
planted=$bin/planted/newdev.dll
[ -f "$planted" ] && cp "$planted" "$work/download/"
rm -f "$drive_c/planted-newdev-loaded.txt"
# The log's path prepared as a second name of a file elsewhere, as a user could in SYSTEM's
# %TEMP%: the run must make a log of its own and leave that file alone.
setup_log=$(find "$drive_c/users" -name KvxDriversSetup.log -print -quit)
echo "a file elsewhere" >"$drive_c/elsewhere.txt"
rm -f "$setup_log" && ln "$drive_c/elsewhere.txt" "$setup_log"
# /quiet, as administrators type it: silent, no wizard waiting for a click.
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;newdev=n,b" run "$(winepath -w "$work/download/$(basename "$installer")") /quiet"
install_status=$status
# The release test verifies the signature of the uninstaller the install wrote.
if [ -n "${KVX_KEEP_UNINSTALLER:-}" ]; then cp "$folder_unix/uninstall.exe" "$KVX_KEEP_UNINSTALLER"; fi
check "the install with /quiet exits with 0" [ "$status" = 0 ]
check "a newdev.dll planted beside the setup program is never loaded" eval '
    [ -f "$work/download/newdev.dll" ] && [ ! -e "$drive_c/planted-newdev-loaded.txt" ]'
check "the log's path prepared as a hard link: a log of its own, the other file untouched" eval '
    [ "$(cat "$drive_c/elsewhere.txt")" = "a file elsewhere" ] && [ "$(stat -c %h "$setup_log")" = 1 ] &&
    grep -q "\] ==== " "$setup_log"'
out=$(last_run)
check "LastRun: the exe's install, its version, exit code, result, no restart, the log" \
    grep -q "^Action=install .*ExitCode=0x0 Log=C:.*KvxDriversSetup.log ModuleResult=0x0 Package=exe .*RestartPending=0x0 .*Version=1.0.0.0 $" <<<"$out"
out=$(inventory)
check "inventory: both families' boards run the product's driver, its binaries are there" eval '
    count_is ", service dz4x, provider \"Kavexa Systems Inc\"" 2 &&
    count_is ", service hxhw, provider \"Kavexa Systems Inc\"" 2 &&
    has "dz4xwin2k.sys: present" && has "hxhwwin2k.sys: present"'
out=$(wine reg query "$entry" "${view[@]}" 2>&1 | tr -d '\r')
check "the Add/Remove Programs entry names the product, its version, icon and uninstaller" eval '
    [ "$(entry_value DisplayVersion)" = 1.0.0.0 ] &&
    [ "$(entry_value Publisher)" = "Kavexa Systems Inc" ] &&
    [ "$(entry_value InstallLocation)" = "$folder" ] &&
    [ "$(entry_value DisplayIcon)" = "$folder\\uninstall.exe,0" ] &&
    [ "$(entry_value QuietUninstallString)" = "\"$folder\\uninstall.exe\" /S _?=$folder" ] &&
    [ "$(entry_value NoModify)" = 0x1 ] && [ -n "$(entry_value EstimatedSize)" ]'
if [ "$arch" = win64 ]; then
    out=$(wine reg query "$entry" /reg:32 2>&1 | tr -d '\r')
    check "64-bit Windows: the entry is in the 64-bit registry view only" lacks DisplayName
    path_line="running: \"$folder\\kvxsetup.exe\" --finish-at-restart install "
    # The top-level host is the machine's width: it sees system32 as the drivers do.
    top=$(wine "$folder_unix/kvxsetup.exe" inventory 2>&1 | tr -d '\r')
    out=$(inventory)
    check "64-bit Windows: the top-level host's inventory is the x64 host's" \
        eval '[ "$top" = "$out" ] && has "dz4xwin2k.sys: present"'
    # ERROR_IN_WOW64, which cmd shows signed.
    run "\"$folder\\x86\\kvxsetup.exe\" inventory"
    check "64-bit Windows: the 32-bit host refuses under WOW64 rather than answer wrongly" \
        eval '[ "$status" = -536870347 ] &&
        has "run the 64-bit build of kvxsetup.exe, $folder\\kvxsetup.exe"'
else
    path_line="in-process: $folder\\KvxSetupCalls.dll calls $folder\\KVXSETUPW2K.dll, KVXSetup_PnPInstallKVX("
fi
out=$(log_of KvxDriversSetup.log)
check "the log: this run's dated header only, each line's time and process, the path, the result, the summary" eval '
    [ "$(grep -c "^[0-9:]* \[[0-9]*\] ==== [0-9-]* [0-9:]* Kavexa KVX Board Drivers 1.0.0.0, silent" <<<"$out")" = 1 ] &&
    has "$path_line" && has "KVXSetup_PnPInstallKVX returned 0 (0x00000000): " &&
    has "Boards found: 4; running the new driver: 4" &&
    has "install folder $folder: ACL set: Administrators and SYSTEM full control" &&
    has "The earlier release of the drivers was removed" &&
    [ "$install_status" = 0 ] && has "done; exit code 0"'

# --- one installation per machine ----------------------------------------------------------

run "$(winepath -w "$installer") /S /D=C:\\Other"
check "a second folder is refused with 1638; the installation and its entry stay" eval '
    [ "$status" = 1638 ] && [ ! -e "$drive_c/Other" ] &&
    [ "$(entry_value InstallLocation)" = "$folder" ]'
# An uninstaller left behind in a folder the installation has moved away from.
mkdir -p "$drive_c/Stale"
cp "$folder_unix/uninstall.exe" "$drive_c/Stale/"
run "\"C:\\Stale\\uninstall.exe\" /S _?=C:\\Stale"
out=$(inventory)
check "a stale uninstaller removes nothing, with 1638, and the live entry stays" eval '
    [ "$status" = 1638 ] && count_is ", provider \"Kavexa Systems Inc\"" 4 &&
    [ "$(entry_value InstallLocation)" = "$folder" ]'

# --- the silent uninstall, a driver binary in use ------------------------------------------

# Held open without sharing while the uninstall runs: deleted only at the next restart.
drivers_folder='C:\windows\system32\drivers'
start_holder "held open" "$bin/demo_machine.exe" hold "$drivers_folder\\dz4xwin2k.sys" 60
pending() {
    wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' \
        /v PendingFileRenameOperations "${view[@]}" 2>&1 | tr -d '\r'
}
# The entry's command exactly as written, as deployment tools run it: it returns only when
# the removal is done, with its exit code, and leaves neither the uninstaller nor the folder.
run "$(entry_value QuietUninstallString)"
out=$(log_of KvxDriversUninstall.log)
check "the quiet uninstall string returns when the removal is done, then its folder goes" eval '
    [[ "$(tail -n 1 <<<"$out")" == *"] done, restart pending; exit code $status" ]] && folder_goes'
out=$(pending)
check "a driver binary in use: the uninstall exits with 3010 and schedules its deletion" \
    eval '[ "$status" = 3010 ] && has "dz4xwin2k.sys"'
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null
out=$(inventory)
check "after the uninstall nothing of the product is left but the binary in use" eval '
    lacks "provider \"Kavexa Systems Inc\"" && count_is ": not installed" 4 &&
    has "inf: none of the product'"'"'s" && count_is ": missing" 2 && has "dz4xwin2k.sys: present"'
check "the Add/Remove Programs entry is gone" no_entry
out=$(log_of KvxDriversUninstall.log)
check "the uninstall log: the removal's result, the binary in use, the restart" eval '
    has "KVXSetup_PnPRemoveKVX returned 0 (0x00000000): " && has "Restart the computer to finish" &&
    has "done, restart pending; exit code 3010"'
out=$(last_run)
check "LastRun: the exe's uninstall, exit code 3010, restart pending" \
    grep -q "^Action=uninstall .*ExitCode=0xbc2 .*Package=exe .*RestartPending=0x1 " <<<"$out"

# Nothing in use now: the same command returns 0. Before it, an update given the folder in
# its 8.3 form: the same folder, so updated there rather than refused as a second one.
demo boards
run "$(winepath -w "$installer") /S"
short=$(winepath -s "$folder" 2>/dev/null | tr -d '\r')
run "$(winepath -w "$installer") /S /D=$short"
check "the installation's folder in its 8.3 form ($short) is the installation's: updated, exit code 0" \
    eval '[ "$status" = 0 ] && [ -n "$short" ] && [ "$short" != "$folder" ] &&
    [ "$(entry_value InstallLocation)" = "$folder" ]'
run "$(entry_value QuietUninstallString)"
check "with nothing in use the quiet uninstall string returns 0 and leaves no folder" \
    eval '[ "$status" = 0 ] && no_entry && folder_goes'

# --- an update that cannot be installed, then a folder of one's own ------------------------

# The update's package lacks a driver binary: the installation stays whole, files, entry and
# drivers, since nothing is removed before the package is known to be complete.
demo boards
run "$(winepath -w "$installer") /S"
installed=$(inventory)
run "$(winepath -w "$work/no-binary-setup.exe") /S"
out=$(inventory)
check "an update missing a driver binary: 1603, the installation and its drivers kept" eval '
    [ "$status" = 1603 ] && [ "$out" = "$installed" ] &&
    count_is ", provider \"Kavexa Systems Inc\"" 4 && [ -f "$folder_unix/uninstall.exe" ] &&
    [ "$(entry_value InstallLocation)" = "$folder" ]'
run "\"$folder\\uninstall.exe\" /S _?=$folder"

# Installed into a folder given with /D=, protected like the default one, and uninstalled
# from there.
custom='C:\Kvx Custom'
demo boards
run "$(winepath -w "$installer") /S /D=$custom"
install_status=$status
out=$(log_of KvxDriversSetup.log)
check "/D=$custom: installed (0), the folder's ACL set before any file is copied" eval '
    [ "$install_status" = 0 ] && [ "$(entry_value InstallLocation)" = "$custom" ] &&
    has "install folder $custom: ACL set: Administrators and SYSTEM full control, Users read and execute" &&
    out=$(inventory) && count_is ", provider \"Kavexa Systems Inc\"" 4'

# A newer host (the same program with bytes after its end) while someone runs the installed
# one: it waits beside it and replaces it at the restart; the run says so and exits 3010.
width=x86
if [ "$arch" = win64 ]; then width=x64; fi
for w in x86 x64; do
    mkdir -p "$work/newer/$w"
    preset=mingw-i686
    if [ "$w" = x64 ]; then preset=mingw-x64; fi
    cp "$root/build/$preset/KVXSETUPW2K.dll" "$root/build/$preset/kvxsetup.exe" "$work/newer/$w/"
    printf 'a newer build' >>"$work/newer/$w/kvxsetup.exe"
done
bash "$root/scripts/build-installer" --binaries "$work/newer" --output "$work/newer-setup.exe" \
    >/dev/null 2>&1
start_holder holding "$bin/host_test_machine.exe" hold-open "$custom\\kvxsetup.exe" 60
run "$(winepath -w "$work/newer-setup.exe") /S"
update_status=$status
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null
out=$(log_of KvxDriversSetup.log)
check "an update with the folder's host in use: 3010, the new host waits for the restart" eval '
    [ "$update_status" = 3010 ] &&
    has "$custom\\kvxsetup.exe is in use: the new one replaces it at the next restart" &&
    lacks "Boards found: unknown"'
wineboot -r >/dev/null 2>&1
check "after the restart the install folder's host is the new one" \
    cmp -s "$drive_c/Kvx Custom/kvxsetup.exe" "$work/newer/$width/kvxsetup.exe"

run "\"$custom\\uninstall.exe\" /S _?=$custom"
out=$(inventory)
check "/D=$custom: uninstalled (0), drivers, entry and folder gone" eval '
    [ "$status" = 0 ] && lacks "provider \"Kavexa Systems Inc\"" && no_entry &&
    folder_goes "$drive_c/Kvx Custom"'

if [ "$arch" = win32 ]; then
    demo boards
    run "$(winepath -w "$work/branded-setup.exe") /S"
    out=$(log_of KvxDriversSetup.log)
    check "another publisher: the entry names it, and the finish page still counts the boards" eval '
        [ "$status" = 0 ] && [ "$(entry_value Publisher)" = "Northwind Boards Ltd" ] &&
        has "Boards found: 4; running the new driver: 4"'
fi

echo "installer test on $arch: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
