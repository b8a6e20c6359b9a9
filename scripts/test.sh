#!/usr/bin/env bash
# Every test: unit tests on the stand-in platform (g++, then clang++ with sanitizers), the
# concurrency tests under ThreadSanitizer, a minute of fuzzing per fuzz target, both Windows
# builds, the Wine suites on the real DLLs, and a signed release made twice and checked.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

for preset in linux linux-sanitize linux-tsan linux-fuzz mingw-i686 mingw-x64; do
    echo "=== $preset ==="
    cmake --workflow --preset "$preset"
done

# A signed release made twice from this commit, byte for byte the same, then checked as a
# customer would (about two minutes).
echo "=== release ==="
bash tests/release/release_test.sh
