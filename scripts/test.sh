#!/usr/bin/env bash
# Every test: unit tests on the stand-in platform (g++, then clang++ with sanitizers), the
# concurrency tests under ThreadSanitizer, a minute of fuzzing per fuzz target, both Windows
# builds, and the Wine suites on the real DLLs.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

for preset in linux linux-sanitize linux-tsan linux-fuzz mingw-i686 mingw-x64; do
    echo "=== $preset ==="
    cmake --workflow --preset "$preset"
done
