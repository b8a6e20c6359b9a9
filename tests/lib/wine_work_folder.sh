# Sourced by the shell test scripts that run Windows programs: a work folder holding a Wine
# prefix of its own, which nothing of the run outlives.
#
#   wine_work_folder ARCH NAME   sets $work (a new folder named after NAME) and WINEPREFIX
#                                ($work/prefix, not made yet); all goes when the script ends
#   boot_wine_work_folder        makes $WINEPREFIX a fresh booted machine (tests/lib/wine-prefix)
wine_work_folder() {
    # No display: Wine must not try to open windows.
    unset DISPLAY WAYLAND_DISPLAY
    export WINEARCH=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    work=$(mktemp -d "${TMPDIR:-/tmp}/$2.XXXXXX")
    export WINEPREFIX=$work/prefix
    trap end_wine_work_folder EXIT
}

wine_prefix_tool=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine-prefix

end_wine_work_folder() {
    "$wine_prefix_tool" discard "$WINEPREFIX"
    rm -rf "$work"
}

# Makes the work folder's prefix a fresh machine, a copy of the run's booted template. Wine's
# own services inherit the standard error of the program that starts them, and would hold a
# pipe read by the test open for as long as they run: they start now, without one, and the
# server keeps them until the end.
boot_wine_work_folder() {
    "$wine_prefix_tool" fresh "$WINEARCH" "$WINEPREFIX"
    wineserver -p >/dev/null 2>&1
    wine cmd /c exit >/dev/null 2>&1
}

# Runs one command line through cmd from a batch file, exactly as written (NSIS wants _?=
# unquoted), and sets $said to what it printed and $status to its full exit code from cmd's
# ERRORLEVEL (Wine hands the shell only the low 8 bits; cmd in a batch file waits for a GUI
# program). A line still running after $KVX_WINE_RUN_LIMIT seconds (default 300) sets $status
# to "hung" and ends every program of the machine: a Wine program that never returns then fails
# a check instead of stopping the whole run.
run_line() {
    printf '@%s\r\n@echo exit code %%ERRORLEVEL%%\r\n' "$1" >"$WINEPREFIX/drive_c/kvx-run.cmd"
    said=$(timeout "${KVX_WINE_RUN_LIMIT:-300}" wine cmd /c 'C:\kvx-run.cmd' 2>&1)
    if [ $? = 124 ]; then
        wineserver -k >/dev/null 2>&1
        said=
        status=hung
        return
    fi
    said=$(tr -d '\r' <<<"$said")
    status=$(sed -n 's/^exit code //p' <<<"$said" | tail -n 1)
}

# start_holder TEXT PROGRAM ARGS...: starts a Windows program that holds something (a file,
# the run lock) in the background, sets $holder to it, and returns once the program has
# printed TEXT, which it does when it holds (10 s at the most).
start_holder() {
    local text=$1 said
    shift
    said=$(mktemp "$work/holder.XXXXXX")
    wine "$@" >"$said" 2>&1 &
    holder=$!
    for _ in $(seq 100); do
        grep -q "$text" "$said" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# The demo's driver packages with a second INF that is no INF, in FOLDER: the module's
# install stages the first family, then fails on the second.
failing_packages() {
    mkdir -p "$1"
    cp "$(dirname "${BASH_SOURCE[0]}")"/../../tools/demo_machine/packages/* "$1/"
    printf 'This is not an INF file.\r\n' >"$1/kvxhxhw.inf"
}
