#!/usr/bin/env bash
# The product installer's pages as a customer walks them, under Xvfb on a 32-bit Wine
# prefix: the install wizard page by page, the directory page of a second run, a cancel of
# the uninstaller, then the uninstall wizard with a driver binary in use, which ends on the
# restart page. Each page is
# saved as a PNG under build/installer/pages/ for a reviewer to read.
#
#   installer_pages.sh INSTALLER BIN_DIR
#
# Needs Xvfb, xdotool and ImageMagick's import (scripts/install-deps.sh); says so in one
# line and passes when no X server can start.
set -uo pipefail

installer=$(realpath "${1:?usage: installer_pages.sh INSTALLER BIN_DIR}")
bin=$(cd "${2:?usage: installer_pages.sh INSTALLER BIN_DIR}" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
pages=$root/build/installer/pages

source "$root/tests/lib/wine_work_folder.sh"
wine_work_folder win32 kvx-installer-pages
source "$root/tests/lib/checks.sh"

skip() {
    echo "installer pages: SKIPPED, $1"
    exit 0
}
command -v Xvfb >/dev/null && command -v xdotool >/dev/null && command -v import >/dev/null ||
    skip "Xvfb, xdotool or import is missing (scripts/install-deps.sh installs them)"
# A display number of our own: -displayfd has the server pick a free one.
exec {display_fd}<> <(:)
Xvfb -displayfd "$display_fd" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
display=
for _ in $(seq 50); do
    read -r -t 0.2 display <&"$display_fd" && break
done
[ -n "$display" ] || { kill "$xvfb" 2>/dev/null; skip "no X server could start ($(head -n 1 "$work/xvfb.log"))"; }
export DISPLAY=:$display
end_pages() {
    end_wine_work_folder
    kill "$xvfb" 2>/dev/null
}
trap end_pages EXIT

echo "installer pages: Xvfb on $DISPLAY, booting a fresh 32-bit prefix"
boot_wine_work_folder
demo_machine() {
    wine "$bin/demo_machine.exe" boards >/dev/null && wine "$bin/demo_machine.exe" earlier >/dev/null
}
demo_machine
rm -rf "$pages"
mkdir -p "$pages"

drive_c=$WINEPREFIX/drive_c
folder="C:\\Program Files\\Kavexa KVX Board Drivers"
entry='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KvxBoardDrivers'
log_of() {
    local path
    path=$(find "$drive_c/users" -name "$1" -print -quit)
    [ -n "$path" ] && tr -d '\r' <"$path"
}

# The wizard's window, once it is shown; its title names the product and the version.
window=
find_window() {
    window=
    for _ in $(seq 150); do
        window=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -n 1)
        [ -n "$window" ] && return 0
        sleep 0.2
    done
    return 1
}
# Saves the wizard's window as NAME.png once the page has drawn; the whole screen with
# "screen", for a message box over the wizard.
shot() {
    sleep 1.5
    if [ "${2:-}" = screen ]; then
        import -window root "$pages/$1.png" 2>/dev/null
    else
        import -window "$window" "$pages/$1.png" 2>/dev/null
    fi
}
# A key to the wizard; Return is the default button, Next, Install, Finish.
press() {
    xdotool windowfocus "$window" 2>/dev/null
    sleep 0.3
    xdotool key "$1"
}
wait_for_log() {
    for _ in $(seq 300); do
        [[ "$(log_of "$1")" == *"$2"* ]] && return 0
        sleep 0.2
    done
    return 1
}
# Runs a command line from a batch file: the uninstaller wants _?= unquoted, which only such
# a line keeps, and cmd in a batch file waits for a GUI program and passes its exit code on.
# Started so, a wizard's message boxes also take the keys sent to them under Xvfb.
through_cmd() {
    printf '@%s\r\n@exit /b %%ERRORLEVEL%%\r\n' "$1" >"$drive_c/kvx-run.cmd"
    wine cmd /c 'C:\kvx-run.cmd'
}
setup_exe=$(winepath -w "$installer")
uninstaller="\"$folder\\uninstall.exe\" _?=$folder"
# A Windows program's exit code, written by the shell that waited for it: Wine hands the
# shell its low 8 bits only (1602 arrives as 66).
started() {
    ("$@" >/dev/null 2>&1; echo $? >"$work/status") &
}
ended() {
    for _ in $(seq 150); do
        [ -s "$work/status" ] && status=$(cat "$work/status") && rm -f "$work/status" && return 0
        sleep 0.2
    done
    status=timeout
}

# --- the install wizard --------------------------------------------------------------------

started through_cmd "$setup_exe"
find_window "Kavexa KVX Board Drivers 1.0.0.0 Setup"
shot 01-welcome
press Return
shot 02-readme
press Return
shot 03-directory
press Return
wait_for_log KvxDriversSetup.log "exit code"
shot 04-progress
press Return
shot 05-finish
press Return
ended
out=$(wine reg query "$entry" 2>&1 | tr -d '\r')
check "the install wizard, page by page: exit code 0 and the entry written" \
    eval '[ "$status" = 0 ] && has "InstallLocation" && has "DisplayIcon"'

# A second run finds the installation: its folder, locked, on the directory page.
started through_cmd "$setup_exe"
find_window "Kavexa KVX Board Drivers 1.0.0.0 Setup"
press Return
press Return
shot 06-second-run-directory
press Escape
shot 07-second-run-cancel-asks screen
press Return
ended
out=$(log_of KvxDriversSetup.log)
check "a second run shows the installation's folder; its cancel asks, exits with 1602, is logged" \
    eval '[ "$status" = $((1602 & 0xFF)) ] && has "cancelled by the user; exit code 1602"'

# --- a cancelled uninstall, then the uninstall wizard --------------------------------------

started through_cmd "$uninstaller"
find_window "Kavexa KVX Board Drivers 1.0.0.0 Uninstall"
shot 11-uninstall-confirm
press Escape
shot 12-uninstall-cancel-asks screen
press Return
ended
out=$(log_of KvxDriversUninstall.log)
check "cancelling the uninstaller asks first, is logged, and leaves the installation" \
    eval 'has "cancelled by the user" && wine reg query "$entry" >/dev/null 2>&1'

# A driver binary in use: the finish page asks about the restart, below its reason and the
# log's path; "I will restart later" is the default, so Return finishes without one.
start_holder "held open" "$bin/demo_machine.exe" hold 'C:\windows\system32\drivers\dz4xwin2k.sys' 60
started through_cmd "$uninstaller"
find_window "Kavexa KVX Board Drivers 1.0.0.0 Uninstall"
press Return
wait_for_log KvxDriversUninstall.log "; exit code 3010"
shot 13-uninstall-progress
press Return
shot 14-uninstall-finish-restart
press Return
ended
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null
out=$(wine reg query "$entry" 2>&1 | tr -d '\r')
check "the uninstall wizard with a driver in use: exit code 3010 and the entry gone" \
    eval '[ "$status" = $((3010 & 0xFF)) ] && ! wine reg query "$entry" >/dev/null 2>&1'

echo "installer pages: $passed passed, $failed failed; the pages are in $pages"
[ "$failed" -eq 0 ]
