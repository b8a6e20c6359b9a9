#!/usr/bin/env bash
# A short look at the built DLL on Wine: loads it, stages one test INF and installs one
# board's driver in a fresh prefix, printing the module's trace as it is written.
# Builds nothing: run a mingw build first.
#
#   tests/wine/smoke.sh [BUILD_DIR]     (default: build/mingw-i686)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${1:-$here/../../build/mingw-i686}
program=$build/kvx_wine_smoke.exe
for file in "$build/KVXSETUPW2K.dll" "$program"; do
    if [ ! -f "$file" ]; then
        echo "smoke.sh: $file is missing; build with: cmake --workflow --preset mingw-i686" >&2
        exit 2
    fi
done

# The PE machine field says which kind of prefix the program needs.
pe_offset=$(od -An -tu4 -j60 -N4 "$program" | tr -d ' ')
machine=$(od -An -tx2 -j$((pe_offset + 4)) -N2 "$program" | tr -d ' ')
case "$machine" in
    014c) arch=win32 ;;
    8664) arch=win64 ;;
    *) echo "smoke.sh: unknown PE machine $machine" >&2; exit 2 ;;
esac

echo "== fresh $arch prefix (takes a few seconds)"
cd "$build"
exec "$here/run-in-fresh-prefix.sh" --arch "$arch" -- "$program"
