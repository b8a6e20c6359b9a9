#!/usr/bin/env bash
# The MSI package under Wine's msiexec as a deployment engine runs it, on the demo machine:
# a failing install, an install while another run holds the run lock, a silent install, the
# rollback action on its own, a major upgrade, a refused downgrade and a silent uninstall,
# each judged by the exit code, the product's inventory, the Add/Remove Programs entry, the
# install folder, the verbose log and the LastRun record.
#
#   msi_test.sh --arch win32|win64 MSI_DIR BIN_DIR
#
# MSI_DIR holds KvxDrivers-x86.msi and KvxDrivers-x64.msi (build/msi); BIN_DIR is the
# Windows build of the prefix's own width, with demo_machine.exe, kvxsetup.exe and
# call_msi_action.exe. The upgrade and the failing package are built here by
# scripts/build-msi: a later version, and one whose second INF is not an INF.
set -uo pipefail

arch=win32
if [ "${1:-}" = --arch ]; then
    arch=$2
    shift 2
fi
usage="usage: msi_test.sh [--arch win32|win64] MSI_DIR BIN_DIR"
msi_dir=$(cd "${1:?$usage}" && pwd)
bin=$(cd "${2:?$usage}" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
width=x86
if [ "$arch" = win64 ]; then width=x64; fi
package=$msi_dir/KvxDrivers-$width.msi

source "$root/tests/lib/wine_work_folder.sh"
wine_work_folder "$arch" kvx-msi-test

echo "msi test on $arch: booting a fresh prefix, building the later and the failing package"
boot_wine_work_folder
failing_packages "$work/bad"
mkdir -p "$work/no-binary"
cp "$root/tools/demo_machine/packages/"* "$work/no-binary/"
rm "$work/no-binary/dz4xwin2k.sys"
for built in "--version 1.0.1.0 --output $work/later" "--packages $work/bad --output $work/failing" \
    "--packages $work/no-binary --output $work/no-binary"; do
    # shellcheck disable=SC2086 # two options each, no spaces inside
    bash "$root/scripts/build-msi" --arch "$width" $built >"$work/build.log" 2>&1 ||
        { cat "$work/build.log"; echo "FAIL building a test package"; exit 1; }
done

drive_c=$WINEPREFIX/drive_c
folder_unix="$drive_c/Program Files/Kavexa KVX Board Drivers"
view=()
if [ "$arch" = win64 ]; then view=(/reg:64); fi

source "$root/tests/lib/checks.sh"

product_code() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }'; }
entry_of() { echo "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$(product_code "$1")"; }
entry_value() {
    wine reg query "$(entry_of "$1")" /v "$2" "${view[@]}" 2>/dev/null | tr -d '\r' |
        awk -v n="$2" '$1 == n { $1 = $2 = ""; sub(/^ +/, ""); print }'
}
no_entry() { ! wine reg query "$(entry_of "$1")" "${view[@]}" >/dev/null 2>&1; }
# The LastRun record as "Name=value " pairs, sorted, Time left out.
last_run() {
    wine reg query 'HKLM\Software\Kavexa Systems Inc\KVX Board Drivers\LastRun' "${view[@]}" 2>/dev/null |
        tr -d '\r' | awk '$2 ~ /^REG_/ && $1 != "Time" { v = $0; sub(/^ *[^ ]+ +[^ ]+ +/, "", v); print $1 "=" v }' |
        LC_ALL=C sort | tr '\n' ' '
}

# Runs msiexec from a batch file, which gives the full exit code (Wine hands the shell only
# its low 8 bits) and waits for it; $out is then the verbose log, $seconds the time taken.
msiexec_run() {
    local operation=$1 msi=$2 options=${3:-}
    cp "$msi" "$drive_c/kvx.msi"
    rm -f "$drive_c/kvx-msi.log"
    local start
    start=$(date +%s%N)
    run_line "msiexec $operation C:\\kvx.msi /qn $options /l*v C:\\kvx-msi.log"
    local tenths=$((($(date +%s%N) - start) / 100000000))
    seconds=$((tenths / 10)).$((tenths % 10))
    out=$(tr -d '\r' <"$drive_c/kvx-msi.log" 2>/dev/null)
}
inventory() { out=$(wine "$bin/kvxsetup.exe" inventory 2>&1 | tr -d '\r'); }
drivers_installed() {
    inventory
    count_is ", service dz4x, provider \"Kavexa Systems Inc\"" 2 &&
        count_is ", service hxhw, provider \"Kavexa Systems Inc\"" 2 &&
        has "dz4xwin2k.sys: present" && has "hxhwwin2k.sys: present"
}
# Boards whose driver install was taken back may be gone from the list (see boards below).
no_drivers() {
    inventory
    lacks 'provider "Kavexa Systems Inc"' && has "inf: none of the product's" &&
        count_is ": missing" 3
}
# Wine removes a root device for good; real boards come back on the next scan.
boards() { wine "$bin/demo_machine.exe" boards >/dev/null; }

boards && wine "$bin/demo_machine.exe" earlier >/dev/null
prepared=$?
check "the demo machine is prepared: four boards, an earlier release" [ "$prepared" -eq 0 ]

# --- the package itself ---------------------------------------------------------------------

# Every object the package puts down gets Administrators, SYSTEM and Users, and nothing from
# the parent; the driver actions run in a maintenance run only for an administrator.
locks=$(msiinfo export "$package" LockPermissions | tr -d '\r' | tail -n +4)
objects=$( {
    msiinfo export "$package" CreateFolder | tail -n +4 | cut -f1
    msiinfo export "$package" File | tail -n +4 | cut -f1
} | tr -d '\r' | sort)
out=$locks
locked_objects() {
    local object grant
    grep -qx INSTALLDIR <<<"$objects" && grep -qx DRIVERSDIR <<<"$objects" &&
        [ "$(wc -l <<<"$locks")" -eq $((3 * $(wc -l <<<"$objects"))) ] || return 1
    for object in $objects; do
        for grant in $'Administrators\t268435456' $'SYSTEM\t268435456' $'Users\t-1610612736'; do
            grep -qP "^\\Q$object\\E\t(CreateFolder|File)\t\t$grant\$" <<<"$locks" || return 1
        done
    done
}
check "LockPermissions: the folders and every file, Administrators and SYSTEM full, Users read" \
    locked_objects
out=$(msiinfo export "$package" InstallExecuteSequence | tr -d '\r')
check "the driver install and its rollback run in a maintenance run only for an administrator" eval '
    [ "$(grep -cP "^Kvx(Set)?(InstallDrivers|RollBackDrivers)(Data)?\t\\\$Module=3 AND \(NOT Installed OR \(\(REINSTALL OR ADDLOCAL\) AND AdminUser\)\)\t" <<<"$out")" -eq 4 ]'

# --- packages that cannot be installed ------------------------------------------------------

# A second INF that is no INF, and a package whose first family's binary is missing: the
# install action's check finds them before the module removes anything, so the earlier
# release stays as it was, services and files.
inventory
before=$out
refused_packages() {
    local msi expected
    while IFS='|' read -r msi expected; do
        msiexec_run /i "$msi"
        [ "$status" = 1603 ] && has "KvxMsiActions: the driver packages cannot be installed: " &&
            has "$expected" && has "; nothing was changed" && lacks "KVXSETUPW2K: " || return 1
        inventory
        [ "$out" = "$before" ] && no_entry "$msi" && [ ! -e "$folder_unix" ] || return 1
    done <<CASES
$work/failing/KvxDrivers-$width.msi|kvxhxhw.inf cannot be opened as an INF
$work/no-binary/KvxDrivers-$width.msi|kvxdz4x.inf copies dz4xwin2k.sys, which is missing
CASES
}
check "a non-INF or a missing binary: 1603 before any change, the earlier release kept" \
    refused_packages

# Another run of the drivers' setup holds the run lock: the driver action refuses to start.
boards
start_holder "held for" "$bin/demo_machine.exe" hold-run 15
run_holder=$holder
msiexec_run /i "$package"
kill "$run_holder" 2>/dev/null
wait "$run_holder" 2>/dev/null
record=$(last_run)
check "while another run holds the run lock: 1603, nothing installed, the reason in the log and LastRun" eval '
    [ "$status" = 1603 ] && has "another run of the drivers'"'"' setup is in progress" &&
    lacks "KVXSetup_PnPInstallKVX returned" && no_entry "$package" && [ ! -e "$folder_unix" ] &&
    grep -q "ExitCode=0x643 .*ModuleResult=0x652 " <<<"$record"'

# The setup program's entry, as it writes it: the package must not install beside it.
exe_entry='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KvxBoardDrivers'
wine reg add "$exe_entry" /v DisplayName /d "Kavexa KVX Board Drivers" /f "${view[@]}" >/dev/null 2>&1
msiexec_run /i "$package"
check "where the setup program's installation is, the package refuses with 1603" eval '
    [ "$status" = 1603 ] && no_entry "$package" && [ ! -e "$folder_unix" ]'
wine reg delete "$exe_entry" /f "${view[@]}" >/dev/null 2>&1

# --- the silent install and the rollback action on its own --------------------------------

boards
msiexec_run /i "$package"
install_seconds=$seconds
check "the silent install exits with 0; the log has the module's trace and result" eval '
    [ "$status" = 0 ] && has "KVXSETUPW2K: " && lacks "rolling back the drivers" &&
    has "KvxMsiActions: KVXSetup_PnPInstallKVX returned 0 (0x0)"'
check "inventory: both families' boards run the product's driver" drivers_installed
out=$(last_run)
check "LastRun: the MSI's install, exit code 0, the module's result and its count of changes" \
    grep -q "^Action=install Changes=0x[1-9a-f][0-9a-f]* ExitCode=0x0 Log= ModuleResult=0x0 Package=msi Refusals=0x0 RestartPending=0x0 Version=1.0.0.0 $" <<<"$out"
check "the Add/Remove Programs entry names the product, its version and its folder" eval '
    [ "$(entry_value "$package" DisplayName)" = "Kavexa KVX Board Drivers" ] &&
    [ "$(entry_value "$package" DisplayVersion)" = 1.0.0.0 ] &&
    [ "$(entry_value "$package" Publisher)" = "Kavexa Systems Inc" ] &&
    [ "$(entry_value "$package" InstallLocation)" = "C:\\Program Files\\Kavexa KVX Board Drivers\\" ] &&
    [ "$(entry_value "$package" NoModify)" = 0x1 ] && [ "$(entry_value "$package" NoRepair)" = 0x1 ]'

# msiexec sets AdminUser after the command line, so the condition is evaluated in the
# installed package's session, as an administrator and with the property cleared. Without
# costing the component has no action state: the part after it is what a maintenance run
# decides on.
condition=$(msiinfo export "$package" InstallExecuteSequence | tr -d '\r' |
    awk -F'\t' '$1 == "KvxInstallDrivers" { sub(/^\$Module=3 AND /, "", $2); print $2 }')
evaluate() { wine "$bin/call_msi_action.exe" 'C:\kvx.msi' --condition "$condition" "$@" 2>&1 | tr -d '\r'; }
check "installed: a repair runs the driver install for an administrator only, a second /i never" \
    eval '[ "$(evaluate REINSTALL=ALL)" = "condition: true" ] &&
    [ "$(evaluate REINSTALL=ALL AdminUser=)" = "condition: false" ] && [ "$(evaluate)" = "condition: false" ]'

# What a failure after the install action would run; Wine's msiexec runs it only after the
# module's file is gone, so it is called here directly, with the data the package gives it.
installed='C:\Program Files\Kavexa KVX Board Drivers'
out=$(wine "$bin/call_msi_action.exe" 'C:\kvx.msi' KvxRollBackDrivers \
    "$installed\\KVXSETUPW2K.dll|$installed\\drivers\\kvxdz4x.inf|$installed\\drivers\\kvxhxhw.inf" 2>&1 |
    tr -d '\r')
check "the rollback action takes the drivers off, with the module's trace in the log" eval '
    has "KvxRollBackDrivers returned 0" && has "log: KVXSETUPW2K: " &&
    has "log: KvxMsiActions: KVXSetup_PnPRemoveKVX returned 0 (0x0)" && no_drivers'
# The removal's twin, which a failed upgrade's rollback runs once the earlier version's
# files are back: the drivers go on again from them.
boards
out=$(wine "$bin/call_msi_action.exe" 'C:\kvx.msi' KvxRestoreDrivers \
    "$installed\\KVXSETUPW2K.dll|$installed\\drivers\\kvxdz4x.inf|$installed\\drivers\\kvxhxhw.inf" 2>&1 |
    tr -d '\r')
check "the removal's rollback twin installs the drivers again from the installed files" eval '
    has "KvxRestoreDrivers returned 0" &&
    has "log: KvxMsiActions: KVXSetup_PnPInstallKVX returned 0 (0x0)" && drivers_installed'
# Off again, boards and all, as the upgrade below expects the machine.
wine "$bin/call_msi_action.exe" 'C:\kvx.msi' KvxRollBackDrivers \
    "$installed\\KVXSETUPW2K.dll|$installed\\drivers\\kvxdz4x.inf|$installed\\drivers\\kvxhxhw.inf" >/dev/null 2>&1
out=$(wine "$bin/call_msi_action.exe" 'C:\kvx.msi' KvxInstallDrivers 'C:\x.dll|C:\a.inf' 2>&1 | tr -d '\r')
check "CustomActionData without three paths: 1603, and the module is not called" eval '
    has "KvxInstallDrivers returned 1603" && has "the module is not called" && lacks "KVXSETUPW2K: "'

# --- upgrade and downgrade -----------------------------------------------------------------

boards
msiexec_run /i "$work/later/KvxDrivers-$width.msi"
upgrade_seconds=$seconds
check "1.0.1.0 over 1.0.0.0: exit 0, the earlier entry replaced, the drivers installed" eval '
    [ "$status" = 0 ] && no_entry "$package" &&
    has "Kavexa KVX Board Drivers exists and belongs to an administrator, SYSTEM or this account" &&
    [ "$(entry_value "$work/later/KvxDrivers-$width.msi" DisplayVersion)" = 1.0.1.0 ] &&
    drivers_installed'
msiexec_run /i "$package"
# Wine's log does not carry a launch condition's message.
check "1.0.0.0 over 1.0.1.0 is refused with 1603 and leaves 1.0.1.0 as it was" eval '
    [ "$status" = 1603 ] && no_entry "$package" && [ "$(entry_value "$work/later/KvxDrivers-$width.msi" DisplayVersion)" = 1.0.1.0 ] &&
    drivers_installed'

# --- the silent uninstall ------------------------------------------------------------------

# A driver binary and a driver package's INF in use cannot go now: they are scheduled for
# the next restart, the INF with its precompiled INF, and the package asks for that
# restart, which /norestart turns into exit code 3010.
driver='C:\windows\system32\drivers\dz4xwin2k.sys'
inventory
staged_inf=$(sed -n 's/^inf \(.*\.inf\): begins .*/\1/p' <<<"$out" | head -n 1)
holders=()
for held in "$driver" "$staged_inf"; do
    wine "$bin/host_test_machine.exe" hold-open "$held" 15 >"$work/holder${#holders[@]}" 2>&1 &
    holders+=($!)
done
for _ in $(seq 100); do [ "$(cat "$work"/holder* | grep -c holding)" -eq 2 ] && break; sleep 0.1; done
msiexec_run /x "$work/later/KvxDrivers-$width.msi" /norestart
uninstall_seconds=$seconds
kill "${holders[@]}" 2>/dev/null
wait "${holders[@]}" 2>/dev/null
pending=$(wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' \
    /v PendingFileRenameOperations 2>/dev/null | tr -d '\r')
check "a driver binary and an INF in use: exit 3010, they and the INF's .pnf wait for the restart" eval '
    [ "$status" = 3010 ] && has "KvxMsiActions: KVXSetup_PnPRemoveKVX returned 0 (0x0)" &&
    has "scheduled file $driver for deletion at restart" && has "finishes at the next restart: " &&
    grep -qi "dz4xwin2k.sys" <<<"$pending" && [ -n "$staged_inf" ] &&
    grep -qiF "$staged_inf" <<<"$pending" && grep -qiF "${staged_inf%.*}.pnf" <<<"$pending"'
check "after the uninstall: no entry, no install folder, only the scheduled files left" eval '
    inventory && lacks "provider \"Kavexa Systems Inc\"" && count_is ": missing" 2 &&
    no_entry "$work/later/KvxDrivers-$width.msi" && [ ! -e "$folder_unix" ]'
out=$(last_run)
check "LastRun: the MSI's uninstall, exit code 3010, restart pending" \
    grep -q "^Action=uninstall .*ExitCode=0xbc2 .*Package=msi .*RestartPending=0x1 " <<<"$out"

# --- a folder of one's own ------------------------------------------------------------------

boards
msiexec_run /i "$package" 'INSTALLDIR=C:\KvxM\'
check "INSTALLDIR=C:\KvxM\: installed there (0), the drivers on" eval '
    [ "$status" = 0 ] && [ -f "$drive_c/KvxM/KVXSETUPW2K.dll" ] &&
    has "from C:\\KvxM\\KVXSETUPW2K.dll" && drivers_installed'
msiexec_run /x "$package"
check "INSTALLDIR=C:\KvxM\: uninstalled (0) with the module found there, nothing left" eval '
    [ "$status" = 0 ] && has "KVXSetup_PnPRemoveKVX() from C:\\KvxM\\KVXSETUPW2K.dll" &&
    [ ! -e "$drive_c/KvxM" ] && no_entry "$package" && inventory &&
    lacks "provider \"Kavexa Systems Inc\""'

if [ "$arch" = win64 ]; then
    msiexec_run /i "$msi_dir/KvxDrivers-x86.msi"
    check "the 32-bit package is refused on 64-bit Windows" eval '
        [ "$status" = 1603 ] && no_entry "$msi_dir/KvxDrivers-x86.msi"'
fi

echo "msi test on $arch: install ${install_seconds}s, upgrade ${upgrade_seconds}s, uninstall ${uninstall_seconds}s"
echo "msi test on $arch: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
