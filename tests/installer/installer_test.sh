#!/usr/bin/env bash
# The product installer under Wine as a deployment tool runs it, on the demo machine: a
# failing install, a silent install, a second folder refused, a stale uninstaller refused,
# and a silent uninstall with a driver binary in use, each judged by its exit code, the
# product's inventory, the Add/Remove Programs entry, the install folder and the log.
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

# Runs one command line through cmd, exactly as written (NSIS wants _?= unquoted), and
# takes the full 32-bit exit code from cmd's ERRORLEVEL: Wine hands the shell only its low
# 8 bits. cmd in a batch file waits for a GUI program to end.
run() {
    printf '@%s\r\n@echo exit code %%ERRORLEVEL%%\r\n' "$1" >"$drive_c/kvx-run.cmd"
    out=$(wine cmd /c 'C:\kvx-run.cmd' 2>&1 | tr -d '\r')
    status=$(sed -n 's/^exit code //p' <<<"$out" | tail -n 1)
}
inventory() { wine "$bin/kvxsetup.exe" inventory 2>&1 | tr -d '\r'; }
entry_value() { wine reg query "$entry" /v "$1" "${view[@]}" 2>/dev/null | tr -d '\r' | awk -v n="$1" '$1 == n { $1 = $2 = ""; sub(/^ +/, ""); print }'; }
log_of() {
    local path
    path=$(find "$drive_c/users" -name "$1" -print -quit)
    [ -n "$path" ] && tr -d '\r' <"$path"
}

no_entry() { ! wine reg query "$entry" "${view[@]}" >/dev/null 2>&1; }

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

# The failure's removal took the boards off, and Wine brings removed root devices back never.
demo boards && demo earlier
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
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;newdev=n,b" run "$(winepath -w "$work/download/$(basename "$installer")") /S"
install_status=$status
# The release test verifies the signature of the uninstaller the install wrote.
if [ -n "${KVX_KEEP_UNINSTALLER:-}" ]; then cp "$folder_unix/uninstall.exe" "$KVX_KEEP_UNINSTALLER"; fi
check "the silent install exits with 0" [ "$status" = 0 ]
check "a newdev.dll planted beside the setup program is never loaded" eval '
    [ -f "$work/download/newdev.dll" ] && [ ! -e "$drive_c/planted-newdev-loaded.txt" ]'
check "the log's path prepared as a hard link: a log of its own, the other file untouched" eval '
    [ "$(cat "$drive_c/elsewhere.txt")" = "a file elsewhere" ] && [ "$(stat -c %h "$setup_log")" = 1 ] &&
    grep -q "^==== " "$setup_log"'
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
    [ "$(entry_value QuietUninstallString)" = "\"$folder\\uninstall.exe\" /S" ] &&
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
    path_line="in-process: $folder\\KVXSETUPW2K.dll, KVXSetup_PnPInstallKVX("
fi
out=$(log_of KvxDriversSetup.log)
check "the log: this run's dated header only, the path, the result, the finish page's summary" eval '
    [ "$(grep -c "^==== [0-9-]* [0-9:]* Kavexa KVX Board Drivers 1.0.0.0, silent" <<<"$out")" = 1 ] &&
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
wine "$bin/demo_machine.exe" hold "$drivers_folder\\dz4xwin2k.sys" 60 >"$work/hold.out" 2>&1 &
holder=$!
for _ in $(seq 100); do
    grep -q "held open" "$work/hold.out" 2>/dev/null && break
    sleep 0.1
done
pending() {
    wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' \
        /v PendingFileRenameOperations "${view[@]}" 2>&1 | tr -d '\r'
}
if [ "$arch" = win32 ]; then
    # _?= runs the uninstaller in place, so the caller waits for it and gets its exit code;
    # a running program cannot delete itself, so the uninstaller file is left to the caller.
    run "\"$folder\\uninstall.exe\" /S _?=$folder"
    check "only the uninstaller itself is left in the install folder" \
        eval '[ "$(ls -A "$folder_unix")" = uninstall.exe ]'
else
    # What a deployment tool runs: the uninstaller copies itself to the temporary folder and
    # returns at once; the copy's log says when it has finished.
    run "$(entry_value QuietUninstallString)"
    for _ in $(seq 120); do
        [[ "$(log_of KvxDriversUninstall.log)" == *"exit code"* ]] && break
        sleep 0.5
    done
    sleep 1
    status=$(sed -n 's/.*; exit code \([0-9]*\)$/\1/p' <<<"$(log_of KvxDriversUninstall.log)" | tail -n 1)
    check "the quiet uninstall string removes the install folder entirely" [ ! -e "$folder_unix" ]
fi
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
wine "$bin/host_test_machine.exe" hold-open "$custom\\kvxsetup.exe" 60 >"$work/host-hold.out" 2>&1 &
holder=$!
for _ in $(seq 100); do grep -q holding "$work/host-hold.out" 2>/dev/null && break; sleep 0.1; done
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
check "/D=$custom: uninstalled (0), drivers and entry gone, only the running uninstaller left" eval '
    [ "$status" = 0 ] && lacks "provider \"Kavexa Systems Inc\"" && no_entry &&
    [ "$(ls -A "$drive_c/Kvx Custom")" = uninstall.exe ]'

echo "installer test on $arch: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
