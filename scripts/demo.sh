#!/usr/bin/env bash
# The main job, end to end: builds KVXSETUPW2K.dll and its console host, turns a fresh
# 32-bit Wine prefix into a customer's machine with the product's boards and no drivers,
# then installs and removes both board families through the DLL, showing the module's
# trace and the machine after each step. Needs no display; the prefix is deleted at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

preset=mingw-i686
bin=build/$preset
demo_folder='C:\kvxdemo'

banner() {
    printf '\n==== %s\n\n' "$*"
}

bash scripts/install-deps.sh

banner "Building KVXSETUPW2K.dll, kvxsetup.exe and demo_machine.exe ($preset)"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j 2 --target KVXSETUPW2K kvxsetup demo_machine

work=$(mktemp -d "${TMPDIR:-/tmp}/kvx-demo.XXXXXX")
unset DISPLAY WAYLAND_DISPLAY
export WINEARCH=win32 WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Windows programs write CR LF; the log reads better without the CR.
win() {
    wine "$@" | tr -d '\r'
}

banner "Booting a fresh 32-bit Wine prefix (about 10 s)"
wineboot --init >/dev/null 2>&1
# Services started before the boot has settled fail to start.
wineserver -w
echo "prefix: $WINEPREFIX"

banner "Preparing the demo machine: boards without drivers, the two driver packages"
win "$bin/demo_machine.exe" setup "$demo_folder"

banner "The machine before the install"
win "$bin/demo_machine.exe" list

banner "kvxsetup install $demo_folder\\kvxdz4x.inf $demo_folder\\kvxhxhw.inf"
echo "(removes any earlier installation, stages both INFs, updates the driver of each"
echo " catalogue hardware ID; lines marked trace| are the module's debugger output)"
echo
win "$bin/kvxsetup.exe" install "$demo_folder\\kvxdz4x.inf" "$demo_folder\\kvxhxhw.inf"

banner "The machine after the install"
win "$bin/demo_machine.exe" list

banner "kvxsetup remove"
echo "(stops the services, removes the boards and their driver packages, clears the INF"
echo " store and deletes the driver binaries)"
echo
win "$bin/kvxsetup.exe" remove

banner "The machine after the removal"
win "$bin/demo_machine.exe" list

banner "Done: the prefix is shut down and deleted"
