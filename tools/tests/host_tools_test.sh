#!/usr/bin/env bash
# End-to-end checks of kvxsetup.exe and demo_machine.exe under Wine, on the real DLL:
# what an installer engineer relies on when driving the module from a console.
#
#   host_tools_test.sh [--arch win32|win64] [--objdump PATH] [--wow64-host DIR] BIN_DIR
#
# BIN_DIR holds kvxsetup.exe, demo_machine.exe, host_test_machine.exe,
# kvx_wine_fake_service.exe and KVXSETUPW2K.dll. With --objdump, the
# host's imports are checked too. With --wow64-host (a win64 prefix only), the 32-bit
# build's kvxsetup.exe and DLL in DIR are tried under WOW64, when they are there.
set -uo pipefail

arch=win32
objdump=
wow64_dir=
while [ $# -gt 1 ]; do
    case "$1" in
        --arch) arch=$2; shift 2 ;;
        --objdump) objdump=$2; shift 2 ;;
        --wow64-host) wow64_dir=$2; shift 2 ;;
        *) break ;;
    esac
done
bin=$(cd "${1:?usage: host_tools_test.sh [options] BIN_DIR}" && pwd)

source "$(dirname "$0")/../../tests/lib/wine_work_folder.sh"
wine_work_folder "$arch" kvx-host-test

# Services the tests start, and runs that follow each other quickly, need a server that
# stays between programs.
boot_wine_work_folder

source "$(dirname "$0")/../../tests/lib/checks.sh"

# Runs a Windows program; its stdout and stderr (CR LF turned into LF) land in $out and
# $err, its exit code in $status (Wine passes on its low 8 bits).
run() {
    out=$(wine "$@" 2>"$work/stderr" | tr -d '\r')
    status=${PIPESTATUS[0]}
    err=$(tr -d '\r' <"$work/stderr")
}

exit_is() { [ "$status" -eq $(($1 & 255)) ]; }
out_is() { [ "$out" = "$1" ]; }
err_has() { [[ "$err" == *"$1"* ]]; }
err_lacks() { ! err_has "$1"; }
err_is() { [ "$err" = "$1" ]; }
err_count_is() { [ "$(grep -cF -- "$1" <<<"$err")" -eq "$2" ]; }

host=$bin/kvxsetup.exe
tests=$(cd "$(dirname "$0")" && pwd)
machine=$bin/demo_machine.exe
helper=$bin/host_test_machine.exe
fake_service=$(winepath -w "$bin/kvx_wine_fake_service.exe" 2>/dev/null)
entry="TLX W2K Install DLLMain called"
windows=$WINEPREFIX/drive_c/windows

# --- what Windows 2000 needs to load the host ----------------------------------------------

if [ -n "$objdump" ]; then
    imports=$("$objdump" -p "$host")
    dlls=$(grep -o 'DLL Name: .*' <<<"$imports" | cut -d' ' -f3 | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
    only_windows_2000_dlls() {
        local dll
        for dll in $dlls; do
            case $dll in kernel32.dll | advapi32.dll | setupapi.dll | newdev.dll | msvcrt.dll) ;;
                *) return 1 ;; esac
        done
    }
    check "the host imports only from KERNEL32, ADVAPI32, SETUPAPI, NEWDEV and msvcrt" \
        only_windows_2000_dlls
    # Bound at the start, they would be searched for beside the host before the system
    # folder: the host loads them itself, from there, first.
    check "the host binds setupapi.dll and newdev.dll late, not at its start" \
        eval '[[ "$dlls" != *setupapi.dll* && "$dlls" != *newdev.dll* ]]'

    # Functions later Windows versions added that a static runtime or a debug listener
    # might pull in.
    newer=$(grep -owE 'AddVectoredExceptionHandler|IsWow64Process|GetTickCount64|FlsAlloc|InitializeSRWLock|InitializeConditionVariable|InitializeCriticalSectionEx|GetModuleHandleEx[AW]|Create(Event|Mutex|Semaphore)Ex[AW]|GetNativeSystemInfo' <<<"$imports")
    check "the host imports nothing Windows 2000 lacks" [ -z "$newer" ]
fi

# --- usage errors and what cannot be called --------------------------------------------------

run "$host"
check "no command: usage on stderr, exit 1" \
    eval 'exit_is 1 && err_has "kvxsetup: no command given" && err_has "usage: kvxsetup"'
run "$host" frobnicate
check "an unknown command is a usage error" eval 'exit_is 1 && err_has "unknown command \"frobnicate\""'
run "$host" --verbose remove
check "an unknown option is a usage error" eval 'exit_is 1 && err_has "unknown option \"--verbose\""'
run "$host" stop-service
check "a missing argument names the command's arguments" \
    eval 'exit_is 1 && err_has "missing arguments for stop-service; usage: kvxsetup stop-service NAME"'
run "$host" stop-service Dz4x Hx
check "a surplus argument is a usage error" eval 'exit_is 1 && err_has "too many arguments for stop-service"'
run "$host" copy-inf 'C:\none.inf' 12z
check "a malformed number is refused before the module is loaded" \
    eval 'exit_is 1 && err_has "not a number: \"12z\"" && err_lacks "$entry" && [ -z "$out" ]'
run "$host" install-device 'C:\none.inf' 'PCI\VEN_0E7C&DEV_0001' --force
check "install-device takes --no-force and no other option" \
    eval 'exit_is 1 && err_has "unknown option \"--force\" for install-device"'

# An option after the command word is never taken as a path, a name or a number, and never
# runs anything: the module is not even loaded.
misplaced_options_refused() {
    local command option
    while IFS='|' read -r -a command; do
        for option in --what-if --log; do
            run "$host" "${command[0]}" "$option" "${command[@]:1}"
            exit_is 1 && [ -z "$out" ] && err_has "kvxsetup: $option goes before the command" &&
                err_lacks "$entry" || return 1
        done
        run "$host" "${command[@]}" --finish-at-restart
        exit_is 1 && err_has "--finish-at-restart goes before the command" || return 1
    done <<'COMMANDS'
install|C:\kvxdemo\kvxdz4x.inf|C:\kvxdemo\kvxhxhw.inf
remove
copy-inf|C:\kvxdemo\kvxdz4x.inf
install-device|C:\kvxdemo\kvxdz4x.inf|PCI\VEN_0E7C&DEV_0001
remove-devices|dz4x|PCI\VEN_1011|Kavexa Systems Inc
stop-service|Dz4x
COMMANDS
}
check "each command with --what-if, --log or --finish-at-restart after it: exit 1, nothing called" \
    misplaced_options_refused
run "$host" --log --quiet remove
check "an option's value may not be another option" \
    eval 'exit_is 1 && err_has "kvxsetup: --log needs a FILE" && err_lacks "$entry"'
run "$host" install --check-arguments 'C:\kvxdemo\kvxdz4x.inf' 'C:\kvxdemo\kvxhxhw.inf'
check "--check-arguments, anywhere: accepted, and nothing loaded" eval '
    exit_is 0 && out_is "arguments accepted: install" && [ -z "$err" ]'
run "$host" --check-arguments --log 'C:\checked.log' install --what-if 'C:\a.inf' 'C:\b.inf'
check "--check-arguments refuses what a real run refuses, and opens no log" eval '
    exit_is 1 && err_has "--what-if goes before the command" && [ ! -e "$WINEPREFIX/drive_c/checked.log" ]'
run "$host" --check-arguments --finish-at-restart --what-if remove
check "--finish-at-restart goes with a real run only" \
    eval 'exit_is 1 && err_has "--finish-at-restart goes with a real run, not with --what-if"'
run "$host" --dll
check "--dll without a path is a usage error" eval 'exit_is 1 && err_has "--dll needs a PATH"'

# An unset variable in a fleet script, or an option given twice: refused before anything is
# loaded or written, by a real run and by --check-arguments alike.
doubtful_values_refused() {
    local line problem
    while IFS='|' read -r problem line; do
        for check_only in "" --check-arguments; do
            eval "run \"\$host\" $check_only $line"
            exit_is 1 && [ -z "$out" ] && err_has "kvxsetup: $problem" && err_lacks "$entry" || return 1
        done
    done <<'LINES'
--log needs a FILE, not an empty one|--log "" remove
--report needs a FILE, not an empty one|--report "" remove
--dll needs a PATH, not an empty one|--dll "" stop-service KvxNone
--log given twice|--log 'C:\a.log' --log 'C:\b.log' remove
--report given twice|--report 'C:\a.json' --quiet --report 'C:\b.json' remove
--dll given twice|--dll 'C:\a.dll' --dll 'C:\b.dll' remove
--what-if given twice|--what-if --what-if remove
--quiet given twice|--quiet --quiet remove
--check-arguments given twice|--check-arguments --check-arguments remove
LINES
    [ ! -e "$WINEPREFIX/drive_c/a.log" ] && [ ! -e "$WINEPREFIX/drive_c/b.log" ]
}
check "an empty option value or an option given twice: exit 1, nothing loaded" doubtful_values_refused
for help in -h '/?'; do
    run "$host" "$help"
    check "$help is --help" eval 'exit_is 0 && has "usage: kvxsetup" && has "--help | -h | /? | --version"'
done
long_inf="C:\\$(printf 'k%.0s' $(seq 3000)).inf"
run "$host" --check-arguments copy-inf "$long_inf"
check "--check-arguments: an INF path of 3,000 characters is refused with 206, as the run refuses it" \
    eval 'exit_is 206 && err_has "an INF path of 3007 characters: 206 (0xce): "'
run "$host" copy-inf "$long_inf"
check "copy-inf with a path of 3,000 characters: 206 before the module is loaded" \
    eval 'exit_is 206 && err_lacks "$entry" && [ -z "$out" ]'

run "$host" --help
check "--help lists every subcommand with its export, exit 0" eval 'exit_is 0 &&
    has "install FIRST_INF SECOND_INF" && has "KVXSetup_PnPInstallKVX" &&
    has "remove " && has "KVXSetup_PnPRemoveKVX" && has "copy-inf INF [COPY_STYLE]" &&
    has "KVXSetup_CopyOemInf" && has "install-device INF HARDWARE_ID [--no-force]" &&
    has "KVXSetup_InstallPnpDevice" && has "remove-devices SERVICE PREFIX PROVIDER" &&
    has "KVXSetup_RemoveDevices" && has "stop-service NAME" && has "KVXSetup_StopService" &&
    has "inventory"'
run "$host" --version
check "--version: the host's and the module's file version, without running the module" \
    eval 'exit_is 0 && [ "$(head -n 1 <<<"$out")" = "kvxsetup 1.0.0.0" ] &&
    has "KVXSETUPW2K.dll 1.0.0.0 (" && err_lacks "$entry"'

mkdir -p "$work/alone" && cp "$host" "$work/alone/"
run "$work/alone/kvxsetup.exe" remove
check "without the DLL beside it: one line naming the DLL's path, exit 126" eval 'exit_is 126 &&
    [ "$(grep -c . <<<"$err")" -eq 1 ] && err_has "cannot load " &&
    err_has "\\alone\\KVXSETUPW2K.dll: 126 (0x7e)" && [ -z "$out" ]'
run "$work/alone/kvxsetup.exe" --report "$(winepath -w "$work/alone/report.json")" remove
check "a call that never happened leaves no report file" \
    eval 'exit_is 126 && [ ! -e "$work/alone/report.json" ]'
run "$work/alone/kvxsetup.exe" --version
check "--version without the DLL still gives the host's version" \
    eval 'exit_is 0 && has "kvxsetup 1.0.0.0" && has "KVXSETUPW2K.dll: no version read from"'
run "$work/alone/kvxsetup.exe" --dll "$(winepath -w "$bin/KVXSETUPW2K.dll")" stop-service KvxNone
check "--dll loads the module from elsewhere" \
    eval 'exit_is 1060 && has "KVXSetup_StopService returned 1060" && err_has "$entry"'
run "$host" --dll 'C:\windows\system32\version.dll' stop-service KvxNone
check "a DLL without the export: one line naming it, exit 127" eval 'exit_is 127 &&
    [ "$(grep -c . <<<"$err")" -eq 1 ] && [ -z "$out" ] &&
    err_has "kvxsetup: C:\windows\system32\version.dll has no export KVXSetup_StopService: 127 (0x7f): "'

# --- what an elevated host trusts ------------------------------------------------------------

run "$host" --dll KVXSETUPW2K.dll stop-service KvxNone
check "--dll takes a full path only: a bare name would be searched for" eval '
    exit_is 1 && err_has "--dll takes a full path, such as C:\\setup\\KVXSETUPW2K.dll, not \"KVXSETUPW2K.dll\""'

# A newdev.dll of no one's beside the host, as on a stick, with Wine told to prefer such a
# copy: it must never load, not at the start and not with the module.
planted=$bin/planted/newdev.dll
if [ -f "$planted" ]; then
    mkdir -p "$work/stick" && cp "$host" "$bin/KVXSETUPW2K.dll" "$planted" "$work/stick/"
    rm -f "$WINEPREFIX/drive_c/planted-newdev-loaded.txt"
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES;newdev=n,b" run "$work/stick/kvxsetup.exe" --what-if remove
    check "a newdev.dll planted beside the host is never loaded" eval '
        exit_is 0 && has "KVXSetup_PnPRemoveKVX returned 0" &&
        [ ! -e "$WINEPREFIX/drive_c/planted-newdev-loaded.txt" ]'
fi

# The package check install makes before it removes anything, and on its own.
root=$(cd "$(dirname "$0")/../.." && pwd)
packages=$WINEPREFIX/drive_c/kvxcheck
mkdir -p "$packages/whole" "$packages/no-binary" "$packages/not-an-inf"
for folder in whole no-binary not-an-inf; do
    cp "$root/tools/demo_machine/packages/"* "$packages/$folder/"
done
rm "$packages/no-binary/dz4xwin2k.sys"
printf 'This is not an INF file.\r\n' >"$packages/not-an-inf/kvxhxhw.inf"
package_checks() {
    local folder expected
    while IFS='|' read -r folder expected; do
        run "$host" check-package "C:\\kvxcheck\\$folder\\kvxdz4x.inf" \
            "C:\\kvxcheck\\$folder\\kvxhxhw.inf"
        { has "$expected" || err_has "$expected"; } || return 1
        if [ "$folder" = whole ]; then exit_is 0 || return 1; else ! exit_is 0 || return 1; fi
    done <<'CASES'
whole|the driver packages can be installed: C:\kvxcheck\whole\kvxdz4x.inf
no-binary|kvxdz4x.inf copies dz4xwin2k.sys, which is missing: C:\kvxcheck\no-binary\dz4xwin2k.sys: 2 (0x2)
not-an-inf|the INF C:\kvxcheck\not-an-inf\kvxhxhw.inf cannot be opened as an INF
CASES
}
check "check-package: a whole package passes; a missing binary or a non-INF is named" package_checks
run "$host" install 'C:\kvxcheck\no-binary\kvxdz4x.inf' 'C:\kvxcheck\no-binary\kvxhxhw.inf'
check "install with a binary missing: exit 2 before the module is called, nothing changed" eval '
    exit_is 2 && err_has "dz4xwin2k.sys, which is missing" && err_has "nothing was changed" &&
    [ -z "$out" ]'

# Log and report files at a path someone else prepared: a file is replaced (the report) or
# written on (the log), a second name of another file is refused and left alone.
prepared=$work/prepared
mkdir -p "$prepared"
echo "someone's own text" >"$prepared/report.json"
echo "a file elsewhere" >"$prepared/elsewhere.txt"
ln "$prepared/elsewhere.txt" "$prepared/linked.report"
ln "$prepared/elsewhere.txt" "$prepared/linked.log"
run "$host" --report "$(winepath -w "$prepared/report.json")" stop-service KvxNone
check "a report path prepared as a file: the file is replaced by the report" eval '
    exit_is 1060 && ! grep -q "someone" "$prepared/report.json" &&
    grep -q "\"export\": \"KVXSetup_StopService\"" "$prepared/report.json"'
links_refused() {
    local option
    for option in --report --log; do
        run "$host" "$option" "$(winepath -w "$prepared/linked.${option#--}")" stop-service KvxNone
        exit_is 5 && err_has "(refused: it has more than one name (a hard link))" &&
            err_lacks "$entry" || return 1
    done
    [ "$(cat "$prepared/elsewhere.txt")" = "a file elsewhere" ]
}
check "--report and --log at a hard link: refused (5), the module not called, the file untouched" \
    links_refused

# --- result and trace -------------------------------------------------------------------------

run "$host" stop-service KvxNoSuchService
check "result on stdout: decimal, hexadecimal, system message; exit code is the result" \
    eval 'exit_is 1060 && [[ "$out" =~ ^"KVXSetup_StopService returned 1060 (0x424): ".+$ ]]'
check "trace on stderr, in order: load line, the export's line, unload line" err_is \
    "$entry
StopService: failed to open service KvxNoSuchService, err=1060 (424)
$entry"
saved_out=$out
run "$host" --quiet stop-service KvxNoSuchService
check "--quiet: the same result, no trace, no change report" \
    eval 'exit_is 1060 && [ -z "$err" ] && out_is "$(head -n 1 <<<"$saved_out")"'

run "$host" install "" 'C:\second.inf'
check "the install export's -1 reads as bad arguments" eval 'exit_is 255 &&
    out_is "KVXSetup_PnPInstallKVX returned 0xffffffff: bad arguments
0 changes, 0 refused"'

# The export writes its name, the path, the ID and their line ends as separate pieces.
run "$host" install-device 'C:\none.inf' 'PCI\VEN_0E7C&DEV_0009'
check "trace written in pieces is shown as whole lines" err_has "$entry
KVXSetup_InstallPnpDevice
C:\\none.inf
PCI\\VEN_0E7C&DEV_0009
"

# While another viewer owns the debug output, the trace is its; the call still happens.
wine "$helper" other-viewer 20 >"$work/viewer" 2>&1 &
viewer=$!
for _ in $(seq 100); do grep -q viewing "$work/viewer" && break; sleep 0.1; done
run "$host" stop-service KvxNoSuchService
check "with another debug viewer running: one line saying so, no trace, the result" eval '
    exit_is 1060 && out_is "$saved_out" &&
    err_is "kvxsetup: another debug-output viewer is running; the trace shows there, not here"'
kill "$viewer" 2>/dev/null
wait "$viewer" 2>/dev/null
run "$host" stop-service KvxNoSuchService
check "once the other viewer is gone, the trace shows again" err_has "$entry"

# --- the debug-output viewer -------------------------------------------------------------------

wine "$host" watch --seconds 5 >"$work/watch" 2>"$work/watch-err" &
watcher=$!
for _ in $(seq 100); do grep -q watching "$work/watch-err" && break; sleep 0.1; done
run "$helper" debug-lines
writer=$out
wait "$watcher"
status=$?
out=$(tr -d '\r' <"$work/watch")
check "watch shows another process's lines in order, each after its process ID" eval '
    exit_is 0 && out_is "[$writer] watched line 1
[$writer] watched line 2
[$writer] watched line 3"'

# --- the log file -----------------------------------------------------------------------------

# A watch logs the trace of three runs while each run logs its own lines to the same file:
# two writers at once, and every line must come out whole, none lost.
log_file=$work/shared.log
log_path=$(winepath -w "$log_file")
wine "$host" --log "$log_path" watch --seconds 8 >/dev/null 2>"$work/log-watch-err" &
watcher=$!
for _ in $(seq 100); do grep -q watching "$work/log-watch-err" && break; sleep 0.1; done
for _ in 1 2 3; do run "$host" --log "$log_path" stop-service KvxNoSuchService; done
wait "$watcher"
stamp='^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} \[[0-9]+\] '
logged=$(tr -d '\r' <"$log_file")
expected_texts=$(sort -u <<<"kvxsetup --log $log_path watch --seconds 8
kvxsetup --log $log_path stop-service KvxNoSuchService
kvxsetup: another debug-output viewer is running; the trace shows there, not here
$entry
StopService: failed to open service KvxNoSuchService, err=1060 (424)
$out")
whole_lines() {
    [ "$(grep -cE "$stamp" <<<"$logged")" -eq 22 ] && [ "$(wc -l <<<"$logged")" -eq 22 ] &&
        [ "$(sed -E "s/$stamp//" <<<"$logged" | sort -u)" = "$expected_texts" ] &&
        [ "$(grep -oE '^.{23} \[[0-9]+\]' <<<"$logged" | cut -d' ' -f3 | sort | uniq -c |
            awk '$1 == 7' | wc -l)" -eq 3 ]
}
out=$logged
check "two processes logging at once: every line whole and stamped, seven per run's process ID" \
    whole_lines

# Three writers in bursts at the same moment: none may overwrite another's line.
burst_log=$work/burst.log
burst_path=$(winepath -w "$burst_log")
writers=()
for _ in 1 2 3; do
    wine "$helper" log-lines "$burst_path" 2000 &
    writers+=($!)
done
wait "${writers[@]}"
# How many texts were logged how many times: "2000 3".
out=$(tr -d '\r' <"$burst_log" | sed -E "s/$stamp//" | sort | uniq -c | awk '{print $1}' |
    sort | uniq -c | awk '{print $1, $2}')
check "three runs logging bursts at once: 6,000 lines, each of the 2,000 texts three times" \
    eval '[ "$(wc -l <"$burst_log")" -eq 6000 ] && out_is "2000 3"'
run "$host" --quiet --log "$log_path" stop-service KvxNoSuchService
last_four=$(tr -d '\r' <"$log_file" | tail -n 4 | sed -E "s/$stamp//")
check "--quiet --log: no trace shown; the trace, the result and the report logged with the process ID" eval '
    [ -z "$err" ] && [ "$last_four" = "StopService: failed to open service KvxNoSuchService, err=1060 (424)
$entry
$out
0 changes, 0 refused" ] && [ "$(tail -n 4 "$log_file" | grep -oE "\[[0-9]+\]" | sort -u | wc -l)" -eq 1 ]'

# --- inventory --------------------------------------------------------------------------------

nothing_of_the_product="device: none of the product's
service Dz4x: not installed
service Hx: not installed
service Hxhw: not installed
service tlxdaemon: not installed
image path of HKLM\\SYSTEM\\CurrentControlSet\\Services\\dz4x: none
image path of HKLM\\SYSTEM\\CurrentControlSet\\Services\\hxhw: none
inf: none of the product's in C:\\windows\\inf\\
driver C:\\windows\\system32\\drivers\\dz4xwin2k.sys: missing
driver C:\\windows\\system32\\drivers\\hxhwwin2k.sys: missing
driver C:\\windows\\system32\\drivers\\hxwin2k.sys: missing"
run "$host" inventory
check "inventory of a fresh machine: every item absent, one line each" \
    eval 'exit_is 0 && out_is "$nothing_of_the_product" && [ -z "$err" ]'

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

run "$host" inventory
check "before: four boards without a service, no service of the product" \
    eval 'count_is ", service none, no driver" 4 && count_is ": not installed" 4 && lacks ": begins"'

run "$host" install 'C:\kvxdemo\kvxdz4x.inf' 'C:\kvxdemo\kvxhxhw.inf'
check "install returns 0" eval '[ "$status" -eq 0 ] && has "KVXSetup_PnPInstallKVX returned 0 (0x0)"'
run "$host" inventory
check "after install: every board runs its family's driver" eval '
    count_is ", service dz4x, provider" 2 && count_is ", service hxhw, provider" 2 &&
    has "service Dz4x: stopped" && has "service Hxhw: stopped" && count_is ": begins" 2'

# The three texts must reach the export in their order: only the first family's board of
# vendor 1011 goes, its sibling of vendor 8086 stays.
run "$host" remove-devices dz4x 'PCI\VEN_1011' 'Kavexa Systems Inc'
check "remove-devices passes service, prefix and provider through" \
    eval 'exit_is 0 && err_count_is "RemoveDevices: Match found" 1'
run "$host" inventory
check "after remove-devices: only the matching board is gone" \
    eval 'lacks "ROOT\KVXDZ4XA" && has "ROOT\KVXDZ4XB" && count_is ", service hxhw," 2'

run "$host" remove
check "remove returns 0 and shows the matches it found" \
    eval 'exit_is 0 && err_has "RemoveDevices: Match found"'
run "$host" inventory
check "after remove: no board, no service, no product INF left" eval '
    has "device: none of the product'"'"'s" && count_is ": not installed" 4 && lacks ": begins"'

run "$host" copy-inf 'C:\kvxdemo\missing.inf'
check "copy-inf of a missing INF fails with the staging line in the trace" \
    eval '! exit_is 0 && has "KVXSetup_CopyOemInf returned " && lacks "returned 0 " &&
    err_has "Return from SetupCopyOEMInf: 0,"'
run "$host" copy-inf 'C:\kvxdemo\kvxhxhw.inf' 0x0
check "copy-inf stages the INF into the INF store" \
    eval 'exit_is 0 && err_has "Return from SetupCopyOEMInf: 1," &&
    [ -f "$WINEPREFIX/drive_c/windows/inf/kvxhxhw.inf" ]'

# The texts go to the export in their order, and --no-force may stand anywhere after the
# subcommand: the board gets the second family's driver from the INF given first.
run "$helper" device KVXHX3 - 'PCI\VEN_0E7C&DEV_0002&SUBSYS_05070E7C'
run "$host" install-device --no-force 'C:\kvxdemo\kvxhxhw.inf' 'PCI\VEN_0E7C&DEV_0002&SUBSYS_05070E7C'
check "install-device --no-force installs INF's driver on the device of the hardware ID" \
    eval 'exit_is 0 && err_has "KVXSetup_InstallPnpDevice
C:\\kvxdemo\\kvxhxhw.inf
PCI\\VEN_0E7C&DEV_0002&SUBSYS_05070E7C
"'
run "$host" inventory
check "after install-device: the board runs the driver service of that INF" \
    has 'device ROOT\KVXHX3\0000: present, service hxhw, provider "Kavexa Systems Inc"'
run "$host" --quiet remove-devices hxhw 'pci\ven_0e7c&dev_0002&subsys_0507' 'Kavexa Systems Inc'
run "$host" inventory
check "remove-devices matches the prefix with letter case ignored" \
    eval 'exit_is 0 && lacks "KVXHX3"'

# --- what-if: the preview against the real run, on the demo machine with an earlier release --

run "$machine" setup 'C:\kvxdemo'
run "$machine" earlier
inventory_to() { wine "$host" inventory 2>/dev/null | tr -d '\r' >"$work/$1"; }
inventory_to before-removal
run "$host" --what-if remove
printf '%s\n' "$out" >"$work/removal-preview"
inventory_to after-removal-preview
check "--what-if remove: the trace, the changes, the result, then nothing was changed" eval '
    exit_is 0 && err_has "$entry" && has "would delete service Dz4x" &&
    [[ "$(tail -n 2 <<<"$out" | head -n 1)" == "KVXSetup_PnPRemoveKVX returned 0 (0x0): "* ]] &&
    [ "$(tail -n 1 <<<"$out")" = "nothing was changed" ]'
check "--what-if remove changes nothing: the inventory is the same, byte for byte" \
    cmp -s "$work/before-removal" "$work/after-removal-preview"
run "$host" --quiet remove
inventory_to after-removal
out=$(python3 "$tests/inventory_check.py" removal "$work/before-removal" "$work/removal-preview" \
    "$work/after-removal")
status=$?
check "the real remove changes what the preview listed, and nothing else" exit_is 0
files_gone() {
    local file
    while read -r file; do
        [ ! -e "$WINEPREFIX/drive_c/$(sed 's/^C://; s/\\/\//g' <<<"$file")" ] || return 1
    done < <(sed -n 's/^would delete file //p' "$work/removal-preview")
}
check "every file the preview would delete is gone after the real remove" files_gone

inventory_to before-install
wine "$host" --what-if install 'C:\kvxdemo\kvxdz4x.inf' 'C:\kvxdemo\kvxhxhw.inf' 2>/dev/null |
    tr -d '\r' >"$work/install-preview"
inventory_to after-install-preview
check "--what-if install stages nothing and changes no driver" \
    cmp -s "$work/before-install" "$work/after-install-preview"
run "$host" --quiet install 'C:\kvxdemo\kvxdz4x.inf' 'C:\kvxdemo\kvxhxhw.inf'
inventory_to after-install
out=$(python3 "$tests/inventory_check.py" install "$work/before-install" "$work/install-preview" \
    "$work/after-install")
status=$?
check "the real install stages the INFs and updates the devices the preview named" exit_is 0
# With the product installed the removal takes devices too; the real removal also leaves
# the machine as the next scene expects, without the product.
inventory_to before-second-removal
wine "$host" --what-if remove 2>/dev/null | tr -d '\r' >"$work/second-removal-preview"
run "$host" --quiet remove
inventory_to after-second-removal
out=$(python3 "$tests/inventory_check.py" removal "$work/before-second-removal" \
    "$work/second-removal-preview" "$work/after-second-removal")
status=$?
check "the preview of removing the installed product names the devices the removal takes" \
    eval 'exit_is 0 && grep -q "^would remove device ROOT.KVXHX1.0000, matching " "$work/second-removal-preview"'

# --- inventory of a machine with the product and another product's things ----------------

run "$machine" setup 'C:\kvxdemo'
run "$host" --quiet install 'C:\kvxdemo\kvxdz4x.inf' 'C:\kvxdemo\kvxhxhw.inf'
check "install on the boards registered again returns 0" exit_is 0
# Near misses: a catalogue ID inside another ID, a device ID one off, another vendor's
# service and INF header. A lower-case ID and header still count, as the module folds them.
run "$helper" \
    device OTHERNEAR otherdrv 'PCI\VEN_1011&DEV_0047&SUBSYS_60000E7C' \
    device OTHERINSIDE - 'XPCI\VEN_0E7C&DEV_0001,ACPI\PCI\VEN_0E7C&DEV_0002' \
    device KVXLOWER - 'pci\ven_0e7c&dev_0002&subsys_12340e7c&rev_01' \
    driver-service otherdrv 'C:\windows\system32\drivers\otherdrv.sys' \
    running-service tlxdaemon "$fake_service" \
    running-service OtherDaemon "$fake_service" \
    dependent-service KvxWatch "$fake_service" OtherDaemon
check "the scene's devices and services are in place" exit_is 0
# Windows NT refuses to stop a service while one depending on it runs; Wine's service
# manager stops it all the same, so only the preview can show NT's answer here.
run "$host" --what-if stop-service OtherDaemon
check "--what-if stop-service of a service with a running dependent: 1051, as Windows NT answers" eval '
    exit_is 1051 && has "would fail to stop service OtherDaemon: 1051 (0x41b): " && has "nothing was changed"'

printf '; Copyright 2004, Other Vendor Corp\r\n[Version]\r\n' >"$windows/inf/otherdrv.inf"
printf '; Copyright 2001, Kavexa Systems Inc\r\n[Version]\r\n' >"$windows/inf/oem7.inf"
printf '; COPYRIGHT 2003, KAVEXA SYSTEMS INC\r\n[Version]\r\n' >"$windows/inf/oem8.inf"
printf '; Copyright 2002, Kavexa Systems Inc' >"$windows/inf/oem9.inf"
printf '[Version]\r\n' >"$windows/inf/kvx.inf"
printf '; Copyright 2004, Kavexa Systems Inc\r\n' >"$windows/inf/kvxnotes.txt"
printf 'MZ' >"$windows/system32/drivers/dz4xwin2k.sys"
printf 'MZ' >"$windows/system32/drivers/otherdrv.sys"

header_2004='; Copyright 2004, Kavexa Systems Inc'
product_installed="device ROOT\\KVXDZ4XA\\0000: present, service dz4x, provider \"Kavexa Systems Inc\", matches PCI\\VEN_1011&DEV_0046&SUBSYS_60000E7C
device ROOT\\KVXDZ4XB\\0000: present, service dz4x, provider \"Kavexa Systems Inc\", matches PCI\\VEN_8086&DEV_B555&SUBSYS_65000E7C
device ROOT\\KVXHX1\\0000: present, service hxhw, provider \"Kavexa Systems Inc\", matches PCI\\VEN_0E7C&DEV_0001
device ROOT\\KVXHX2\\0000: present, service hxhw, provider \"Kavexa Systems Inc\", matches PCI\\VEN_0E7C&DEV_0002
device ROOT\\KVXLOWER\\0000: present, service none, no driver, matches PCI\\VEN_0E7C&DEV_0002
service Dz4x: stopped
service Hx: not installed
service Hxhw: stopped
service tlxdaemon: running
image path of HKLM\\SYSTEM\\CurrentControlSet\\Services\\dz4x: C:\\windows\\system32\\drivers\\dz4xwin2k.sys
image path of HKLM\\SYSTEM\\CurrentControlSet\\Services\\hxhw: C:\\windows\\system32\\drivers\\hxhwwin2k.sys
inf C:\\windows\\inf\\kvx.inf: the product's own INF
inf C:\\windows\\inf\\kvxdz4x.inf: begins \"$header_2004\"
inf C:\\windows\\inf\\kvxhxhw.inf: begins \"$header_2004\"
inf C:\\windows\\inf\\oem7.inf: begins \"; Copyright 2001, Kavexa Systems Inc\"
inf C:\\windows\\inf\\oem8.inf: begins \"; Copyright 2003, Kavexa Systems Inc\"
driver C:\\windows\\system32\\drivers\\dz4xwin2k.sys: present
driver C:\\windows\\system32\\drivers\\hxhwwin2k.sys: missing
driver C:\\windows\\system32\\drivers\\hxwin2k.sys: missing"
run "$host" inventory
check "inventory lists exactly the product's devices, services, image paths, INFs, binaries" \
    eval 'exit_is 0 && out_is "$product_installed"'
run "$host" inventory
check "inventory changes nothing: a second run gives the same list" out_is "$product_installed"

run "$host" stop-service Dz4x
check "stop-service passes the name: a stopped driver is not active (1062)" eval 'exit_is 1062 &&
    [[ "$out" == "KVXSetup_StopService returned 1062 (0x426): "* ]]'
run "$host" stop-service tlxdaemon
check "stop-service stops a running service, and reports it" eval 'exit_is 0 &&
    [[ "$(head -n 1 <<<"$out")" == "KVXSetup_StopService returned 0 (0x0): "* ]] &&
    [ "$(tail -n 2 <<<"$out")" = "stopped service tlxdaemon
1 change, 0 refused" ]'

# The lower-case board has no service, so the removal, which matches service and ID, keeps it.
after_removal="device ROOT\\KVXLOWER\\0000: present, service none, no driver, matches PCI\\VEN_0E7C&DEV_0002
service Dz4x: not installed
service Hx: not installed
service Hxhw: not installed
service tlxdaemon: stopped
$(sed -n '6,$p' <<<"$nothing_of_the_product")"
run "$host" --quiet remove
run "$host" inventory
check "after remove: inventory shows only what the removal leaves" \
    eval 'exit_is 0 && out_is "$after_removal"'
check "the other product's files are left alone" \
    eval '[ -f "$windows/inf/otherdrv.inf" ] && [ -f "$windows/system32/drivers/otherdrv.sys" ]'

# --- the remains of an earlier release, as the demo leaves them ------------------------------

run "$machine" earlier
check "earlier leaves an earlier release's staged INFs, services and binaries" exit_is 0
run "$host" inventory
check "inventory sees them all" eval '
    has "service Dz4x: stopped" && has "service Hx: stopped" && has "service Hxhw: stopped" &&
    count_is "Copyright 2002, Kavexa" 3 && has "kvx.inf: begins" && count_is "sys: present" 3'
run "$host" --quiet remove
run "$host" inventory
check "remove takes the earlier release's remains away" eval '
    exit_is 0 && lacks ": begins" && lacks "kvx.inf" && lacks "sys: present" &&
    count_is ": not installed" 3'

wine reg add 'HKLM\System\CurrentControlSet\Services\dz4x' /v ImagePath /t REG_DWORD /d 1094795585 /f >/dev/null 2>&1
run "$host" inventory
check "an image path that is not text shows its type, not its bytes" \
    has 'image path of HKLM\SYSTEM\CurrentControlSet\Services\dz4x: (a REG_DWORD value, not text)'
wine reg delete 'HKLM\System\CurrentControlSet\Services\dz4x' /f >/dev/null 2>&1

# --- machine-readable inventories -------------------------------------------------------------

# A device service and an INF name with a byte outside ASCII (0xE9 in the prefix's code page).
LC_ALL=C.UTF-8 run "$helper" device KVXACCENT 'kvxsvcé' 'PCI\VEN_0E7C&DEV_0001'
printf '; Copyright 2004, Kavexa Systems Inc\r\n[Version]\r\n' >"$windows/inf/kvxé.inf"
for format in text csv json; do
    LC_ALL=C.UTF-8 wine "$host" inventory --format $format >"$work/inventory.$format" 2>/dev/null
done
out=$(python3 "$tests/inventory_check.py" formats "$work/inventory.text" "$work/inventory.csv" \
    "$work/inventory.json")
status=$?
check "csv and json inventories parse and hold the text's items, non-ASCII names included" eval '
    exit_is 0 && grep -q "kvxsvcé" "$work/inventory.json" && grep -q "kvxé.inf" "$work/inventory.csv"'
run "$helper" device KVXLINES $'kvx\nlines' 'PCI\VEN_0E7C&DEV_0001'
run "$host" inventory
check "text inventory: a line feed in a name shows escaped, the item stays on one line" \
    eval 'grep -qF "service kvx\\nlines, " <<<"$out" && lacks "service kvx
lines"'
wine "$host" inventory --format csv >"$work/lines.csv" 2>/dev/null
check "csv: records end in CR LF, a line feed inside a field stays a line feed" python3 -c '
import sys
data = open(sys.argv[1], "rb").read()
assert b"\"kvx\nlines\"" in data and data.endswith(b"\r\n"), data
assert data.count(b"\n") == data.count(b"\r\n") + 1, data
' "$work/lines.csv"

# --- a machine prepared differently: what a real run changed and refused -------------------

# The preview's lines in the real report's words, so that the two compare line for line.
as_done() {
    sed -e 's/^would fail to /could not /' -e 's/^would \(stop\|delete\|remove\|stage\|update\|re-enumerate\|mark\) /\1ed /' \
        -e 's/^stoped /stopped /; s/^deleteed /deleted /; s/^removeed /removed /; s/^stageed /staged /' \
        -e 's/^updateed /updated /; s/^re-enumerateed /re-enumerated /' \
        -e 's/^would make \([0-9]*\) changes\{0,1\}, \([0-9]*\) would be refused/\1 changes, \2 refused/' \
        -e '/^nothing was changed$/d; /^KVXSetup_/d'
}
# The lines after the result line of a real run.
after_result() { sed -n '/^KVXSetup_/,$p' | tail -n +2; }

# A full export of the registry and a listing of the Windows folder: what a preview must
# leave exactly as it found it.
machine_state() {
    wine regedit /E 'C:\state.reg' >/dev/null 2>&1
    iconv -f UTF-16 -t UTF-8 "$WINEPREFIX/drive_c/state.reg" >"$work/$1.reg"
    rm -f "$WINEPREFIX/drive_c/state.reg"
    (cd "$windows" && find . -printf '%p %s %T@ %m\n' | sort) >"$work/$1.files"
}
unchanged_by_preview() { cmp -s "$work/$1.reg" "$work/$2.reg" && cmp -s "$work/$1.files" "$work/$2.files"; }

# The states a support engineer meets: a service stuck stopping, one marked for deletion, a
# driver held open, a folder where a driver should be, a read-only INF and a read-only
# driver, a held precompiled INF, an INF held with delete sharing (it goes once the holder
# lets go), one held without (the module cannot read it, and leaves it), a service key
# without ImagePath, an event-log source with a subkey.
drivers='C:\windows\system32\drivers'
run "$machine" setup 'C:\kvxdemo'
run "$host" --quiet install 'C:\kvxdemo\kvxdz4x.inf' 'C:\kvxdemo\kvxhxhw.inf'
run "$machine" earlier
printf '; Copyright 2004, Other Vendor Corp\r\n[Version]\r\n' >"$windows/inf/otherdrv.inf"
rm -f "$windows/system32/drivers/hxhwwin2k.sys" && mkdir "$windows/system32/drivers/hxhwwin2k.sys"
wine reg delete 'HKLM\System\CurrentControlSet\Services\hxhw' /v ImagePath /f >/dev/null 2>&1
run "$helper" stopping-service tlxdaemon "$fake_service" \
    subkey 'SYSTEM\CurrentControlSet\Services\EventLog\System\Hxhw' read-only "$drivers\\hxwin2k.sys" \
    read-only 'C:\windows\inf\kvx.inf'
holders=()
for hold in "marked-service Hx" "hold-open $drivers\\dz4xwin2k.sys" 'hold-deletable C:\windows\inf\oem7.inf' \
    'hold-open C:\windows\inf\oem8.inf' 'hold-open C:\windows\inf\kvxdz4x.pnf'; do
    wine "$helper" $hold 240 >"$work/holder${#holders[@]}" 2>&1 &
    holders+=($!)
done
for _ in $(seq 100); do [ "$(cat "$work"/holder* | grep -c holding)" -eq 5 ] && break; sleep 0.1; done
check "the prepared machine: a service stuck stopping, one marked for deletion, files held open" \
    eval 'exit_is 0 && [ "$(cat "$work"/holder* | grep -c holding)" -eq 5 ]'

machine_state before-preview
wine "$host" --what-if remove 2>/dev/null | tr -d '\r' >"$work/prepared-preview-lines"
machine_state after-preview
as_done <"$work/prepared-preview-lines" >"$work/prepared-preview"
check "--what-if remove on the prepared machine: the registry and the Windows folder unchanged" \
    unchanged_by_preview before-preview after-preview
report_file=$work/prepared.json
run "$host" --report "$(winepath -w "$report_file")" remove
after_result <<<"$out" >"$work/prepared-report"
refusals='could not stop service tlxdaemon: 1061 (0x425): 
could not delete service Hx: 1072 (0x430): 
could not delete file C:\windows\inf\kvx.inf: 5 (0x5): 
could not delete file C:\windows\inf\kvxdz4x.pnf: 32 (0x20): 
could not delete file C:\windows\system32\drivers\dz4xwin2k.sys: 32 (0x20): 
could not delete file C:\windows\system32\drivers\hxhwwin2k.sys: 5 (0x5): 
could not delete file C:\windows\system32\drivers\hxwin2k.sys: 5 (0x5): 
could not delete registry key HKLM\System\CurrentControlSet\Services\EventLog\System\Hxhw: 5 (0x5): '
check "remove on the prepared machine: the module's 0, each refusal with its error, what was skipped" eval '
    exit_is 0 && [ "$(grep "^could not" "$work/prepared-report" | sed "s/\(: [0-9]* (0x[0-9a-f]*): \).*/\1/")" = "$refusals" ] &&
    grep -qxF "skipped C:\\windows\\inf\\oem8.inf: in use by another process (32)" "$work/prepared-report" &&
    grep -qxF "marked file C:\\windows\\inf\\oem7.inf for deletion once its other handles close" "$work/prepared-report" &&
    [[ "$(tail -n 1 "$work/prepared-report")" == *" changes, 8 refused, 2 skipped" ]]'
check "the preview of that removal, made on the same machine just before, is its report, line for line" \
    cmp -s "$work/prepared-preview" "$work/prepared-report"
check "--report: the JSON lists what was skipped and the delete left pending" python3 -c '
import json, sys
r = json.load(open(sys.argv[1]))
assert {"object": "C:\\windows\\inf\\oem8.inf", "error": 32, "message": r["skipped"][1]["message"]} in r["skipped"], r
assert {"action": "mark file", "object": "C:\\windows\\inf\\oem7.inf"} in r["changes"], r
' "$report_file"
no_orphaned_pnf() {
    local pnf
    for pnf in "$windows"/inf/*.pnf; do
        [ -e "${pnf%.pnf}.inf" ] ||
            grep -qF "could not delete file C:\\windows\\inf\\$(basename "$pnf"): " "$work/prepared-report" ||
            return 1
    done
}
check "no precompiled INF outlives its INF, but one held open, which the report names" no_orphaned_pnf

# Boards registered anew for an install whose INFs are swapped: each board's ID is offered
# the other family's INF, which lists no driver for it.
run "$machine" setup 'C:\kvxdemo'
swapped=('C:\kvxdemo\kvxhxhw.inf' 'C:\kvxdemo\kvxdz4x.inf')
wine "$host" --what-if install "${swapped[@]}" 2>/dev/null | tr -d '\r' | as_done >"$work/swapped-preview"
run "$host" install "${swapped[@]}"
after_result <<<"$out" >"$work/swapped-report"
check "install with swapped INFs: the preview is the report, line for line, no update done" eval '
    cmp -s "$work/swapped-preview" "$work/swapped-report" &&
    ! grep -q "^updated" "$work/swapped-report" &&
    [ "$(grep -c "^could not update the driver of PCI.VEN_0E7C&DEV_0001 from C:.kvxdemo.kvxdz4x.inf: " "$work/swapped-report")" -eq 1 ]'
# Relative INF paths, from C:\: the module, the preview and the report see the full paths.
machine_state before-install-preview
(cd "$WINEPREFIX/drive_c" && wine "$host" --what-if install 'kvxdemo\kvxdz4x.inf' 'kvxdemo\kvxhxhw.inf' 2>/dev/null) |
    tr -d '\r' | as_done >"$work/install-preview"
machine_state after-install-preview
check "--what-if install: the registry and the Windows folder unchanged" \
    unchanged_by_preview before-install-preview after-install-preview
cd "$WINEPREFIX/drive_c" && run "$host" install 'kvxdemo\kvxdz4x.inf' 'kvxdemo\kvxhxhw.inf'
cd - >/dev/null
after_result <<<"$out" >"$work/install-report"
check "install with relative INF paths: the preview is the report, line for line, full paths and updates" eval '
    exit_is 0 && cmp -s "$work/install-preview" "$work/install-report" &&
    grep -qxF "staged INF C:\kvxdemo\kvxhxhw.inf" "$work/install-report" &&
    grep -q "^updated the driver of " "$work/install-report"'
# A file that is no INF, and a folder: the package check refuses them before the module runs,
# in the preview as in the real run.
for pair in 'C:\windows\win.ini|C:\kvxdemo\kvxhxhw.inf' 'C:\kvxdemo\kvxdz4x.inf|C:\kvxdemo'; do
    run "$host" --what-if install "${pair%|*}" "${pair#*|}"
    preview_err=$err
    run "$host" install "${pair%|*}" "${pair#*|}"
    check "install of ${pair#*|} after ${pair%|*}: refused before any change, as in the preview" eval '
        ! exit_is 0 && [ -z "$out" ] && err_has "cannot be opened as an INF; nothing was changed" &&
        [ "$err" = "$preview_err" ]'
done

# The binary still held open: scheduled for deletion at restart, and the run says so; the
# staged INF held with delete sharing goes when its holder lets go, at the latest then. The
# boards the last install drove go first, so that the install drives fresh ones.
run "$host" --quiet remove
run "$machine" setup 'C:\kvxdemo'
run "$host" --quiet install 'C:\kvxdemo\kvxdz4x.inf' 'C:\kvxdemo\kvxhxhw.inf'
wine "$helper" hold-deletable 'C:\windows\inf\kvxhxhw.inf' 240 >"$work/holder-staged" 2>&1 &
holders+=($!)
for _ in $(seq 100); do grep -q holding "$work/holder-staged" && break; sleep 0.1; done
report_file=$work/finish.json
run "$host" --quiet --finish-at-restart --report "$(winepath -w "$report_file")" remove
pending=$(wine "$helper" pending-deletions 2>/dev/null | tr -d '\r')
check "--quiet --finish-at-restart: the held binary is scheduled, exit code 3010, only the result shown" eval '
    exit_is 3010 && out_is "KVXSetup_PnPRemoveKVX returned 0 (0x0): Success." &&
    grep -qxF "\\??\\C:\\windows\\system32\\drivers\\dz4xwin2k.sys" <<<"$pending"'
check "--report: the JSON names the schedule, the refusals and the restart" python3 -c '
import json, sys
r = json.load(open(sys.argv[1]))
assert r["exit_code"] == 3010 and r["result"] == 0 and r["restart_needed"], r
assert {"action": "schedule file", "object": "C:\\windows\\system32\\drivers\\dz4xwin2k.sys"} in r["changes"], r
assert "service Hx is marked for deletion" in r["restart_reasons"], r
assert "file C:\\windows\\inf\\kvxhxhw.inf goes once the handles still open on it close" in r["restart_reasons"], r
assert any(x["action"] == "delete file" and x["error"] == 5 for x in r["refusals"]), r
' "$report_file"
kill "${holders[@]}" 2>/dev/null
wait "${holders[@]}" 2>/dev/null

# --- a 32-bit host on 64-bit Windows ----------------------------------------------------------

wow64_note='runs on 64-bit Windows'
run "$host" remove-devices KvxNone 'PCI\VEN_0E7C' 'Kavexa Systems Inc'
check "this build calls the device exports without the WOW64 refusal" \
    eval 'exit_is 0 && err_has "$entry" && err_lacks "$wow64_note"'
if [ "$arch" = win64 ] && [ -f "$wow64_dir/kvxsetup.exe" ] && [ -f "$wow64_dir/KVXSETUPW2K.dll" ]; then
    refused_under_wow64() {
        local args
        for args in "remove-devices KvxNone PCI\\VEN_0E7C Kavexa" "inventory" "--what-if remove" \
            "copy-inf C:\\kvxdemo\\kvxdz4x.inf" "--check-arguments inventory"; do
            run "$wow64_dir/kvxsetup.exe" $args
            exit_is 0xE0000235 && [ -z "$out" ] && [ "$(grep -c . <<<"$err")" -eq 1 ] &&
                err_has "$wow64_note" && err_has "run the 64-bit build of kvxsetup.exe" &&
                err_lacks "$entry" || return 1
        done
    }
    check "32-bit host under WOW64: every device command refused in one line, nothing called" \
        refused_under_wow64
    run "$wow64_dir/kvxsetup.exe" stop-service KvxNoSuchService
    check "32-bit host under WOW64: stopping a service still runs" \
        eval 'exit_is 1060 && err_has "$entry" && err_lacks "$wow64_note"'
elif [ "$arch" = win64 ]; then
    echo "skip 32-bit host under WOW64: no i686 build in ${wow64_dir:-(not given)}"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
