#!/usr/bin/env bash
# Runs one Windows program under Wine in a prefix of its own and removes the prefix
# afterwards, so that no state and no wineserver outlives the run.
#
#   run-in-fresh-prefix.sh [--arch win32|win64] [--template DIR] [--each-test] -- PROGRAM [ARGS...]
#   run-in-fresh-prefix.sh [--arch win32|win64] --make-template DIR
#
# With --template, the prefix is a copy of DIR (booted once by --make-template); booting
# a prefix takes 10 to 30 s, copying one about 2 s. Without it, the prefix is booted here.
# With --each-test, PROGRAM is a GoogleTest program and every one of its tests runs alone
# in a prefix of its own: for tests that change the whole machine.
# The exit status is the program's (with --each-test: 1 when any test failed).
set -euo pipefail

arch=win32
template=
make_template=
each_test=
while [ $# -gt 0 ]; do
    case "$1" in
        --arch) arch=$2; shift 2 ;;
        --template) template=$2; shift 2 ;;
        --make-template) make_template=$2; shift 2 ;;
        --each-test) each_test=1; shift ;;
        --) shift; break ;;
        *) echo "run-in-fresh-prefix.sh: unknown option $1" >&2; exit 2 ;;
    esac
done

# No display: Wine must not try to open windows, and a stray DISPLAY would make it try.
unset DISPLAY WAYLAND_DISPLAY
export WINEARCH=$arch WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="

boot_prefix() {
    WINEPREFIX=$1 wineboot --init >/dev/null 2>&1
    # Services started right after an unfinished boot fail (1053/1055): let it settle.
    WINEPREFIX=$1 wineserver -w
}

stop_prefix() {
    WINEPREFIX=$1 wineserver -k 2>/dev/null || true
    WINEPREFIX=$1 wineserver -w 2>/dev/null || true
}

if [ -n "$make_template" ]; then
    rm -rf "$make_template"
    mkdir -p "$(dirname "$make_template")"
    staging=$(mktemp -d "$make_template.XXXXXX")
    trap 'if [ -d "$staging/prefix" ]; then stop_prefix "$staging/prefix"; fi; rm -rf "$staging"' EXIT
    boot_prefix "$staging/prefix"
    stop_prefix "$staging/prefix"
    mv "$staging/prefix" "$make_template"
    exit 0
fi

[ $# -gt 0 ] || { echo "run-in-fresh-prefix.sh: no program given" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kvx-wine.XXXXXX")
prefix=$work/prefix
cleanup() {
    if [ -d "$prefix" ]; then stop_prefix "$prefix"; fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Runs the program once in a new prefix, which is gone again afterwards.
run_in_new_prefix() {
    if [ -n "$template" ] && [ -d "$template" ]; then
        cp -a "$template" "$prefix"
    else
        boot_prefix "$prefix"
    fi
    local status=0
    WINEPREFIX=$prefix wine "$@" || status=$?
    stop_prefix "$prefix"
    rm -rf "$prefix"
    return $status
}

if [ -z "$each_test" ]; then
    status=0
    run_in_new_prefix "$@" || status=$?
    exit $status
fi

program=$1
shift
# "Suite." lines, then "  Test" lines (a type or parameter comment may follow).
tests=$(run_in_new_prefix "$program" --gtest_list_tests "$@" | tr -d '\r' | awk '
    /^[^ ]/ { suite = $1; next }
    /^  [^ ]/ { print suite $1 }')
[ -n "$tests" ] || { echo "run-in-fresh-prefix.sh: $program lists no tests" >&2; exit 1; }
failed=()
for test in $tests; do
    run_in_new_prefix "$program" --gtest_filter="$test" "$@" || failed+=("$test")
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "run-in-fresh-prefix.sh: failed: ${failed[*]}" >&2
    exit 1
fi
