# Sourced by the shell test scripts that run Windows programs: a work folder holding a Wine
# prefix of its own, which nothing of the run outlives.
#
#   wine_work_folder ARCH NAME   sets $work (a new folder named after NAME) and WINEPREFIX
#                                ($work/prefix, not booted yet); all goes when the script ends
wine_work_folder() {
    # No display: Wine must not try to open windows.
    unset DISPLAY WAYLAND_DISPLAY
    export WINEARCH=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    work=$(mktemp -d "${TMPDIR:-/tmp}/$2.XXXXXX")
    export WINEPREFIX=$work/prefix
    trap end_wine_work_folder EXIT
}

end_wine_work_folder() {
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    rm -rf "$work"
}
