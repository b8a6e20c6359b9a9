#!/usr/bin/env bash
# Runs one Windows program under Wine on a fresh machine of its own (tests/lib/wine-prefix)
# and removes that machine afterwards, so that no state and no wineserver outlives the run.
#
#   run-in-fresh-prefix.sh [--arch win32|win64] [--each-test] -- PROGRAM [ARGS...]
#
# With --each-test, PROGRAM is a GoogleTest program and every one of its tests runs alone
# on a fresh machine: for tests that change the whole machine.
# The exit status is the program's (with --each-test: 1 when any test failed).
set -euo pipefail

arch=win32
each_test=
while [ $# -gt 0 ]; do
    case "$1" in
        --arch) arch=$2; shift 2 ;;
        --each-test) each_test=1; shift ;;
        --) shift; break ;;
        *) echo "run-in-fresh-prefix.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
[ $# -gt 0 ] || { echo "run-in-fresh-prefix.sh: no program given" >&2; exit 2; }

wine_prefix=$(cd "$(dirname "$0")/../lib" && pwd)/wine-prefix
unset DISPLAY WAYLAND_DISPLAY
export WINEARCH=$arch WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="

work=$(mktemp -d "${TMPDIR:-/tmp}/kvx-wine.XXXXXX")
prefix=$work/prefix
cleanup() {
    "$wine_prefix" discard "$prefix"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Runs the program once on a new machine, which is gone again afterwards.
run_in_new_prefix() {
    "$wine_prefix" fresh "$arch" "$prefix"
    local status=0
    WINEPREFIX=$prefix wine "$@" || status=$?
    "$wine_prefix" discard "$prefix"
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
