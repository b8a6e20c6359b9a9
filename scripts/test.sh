#!/usr/bin/env bash
# Every test: unit tests on the stand-in platform (g++, then clang++ with sanitizers), the
# concurrency tests under ThreadSanitizer, a minute of fuzzing per fuzz target, both Windows
# builds, the Wine suites on the real DLLs, the product installer (its binary checks and its
# install and uninstall under 32- and 64-bit Wine), the MSI packages under 32- and 64-bit
# Wine, and a signed release made twice and checked.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

# First, as it takes a second: the pages name no file that is gone.
echo "=== documentation ==="
python3 -B tests/docs/check_docs_test.py
python3 -B tests/docs/check_docs.py --links-only

for preset in linux linux-sanitize linux-tsan linux-fuzz mingw-i686 mingw-x64; do
    echo "=== $preset ==="
    cmake --workflow --preset "$preset"
done

# Every host command line the pages show, given to the host's own parser (nothing runs).
echo "=== documented host command lines ==="
python3 -B tests/docs/check_docs.py --commands-only

echo "=== product installer ==="
bash scripts/build-installer
python3 tests/contract/check_installer_binary.py --objdump i686-w64-mingw32-objdump \
    --version "$(cat build/mingw-i686/generated/version.txt)" build/installer/KvxDriversSetup.exe
bash tests/installer/installer_test.sh --arch win32 build/installer/KvxDriversSetup.exe build/mingw-i686
bash tests/installer/installer_test.sh --arch win64 build/installer/KvxDriversSetup.exe build/mingw-x64
bash tests/installer/installer_pages.sh build/installer/KvxDriversSetup.exe build/mingw-i686

# The MSI packages under Wine's msiexec, each on its own width (about 35 seconds each).
echo "=== MSI packages ==="
bash scripts/build-msi
bash tests/msi/msi_test.sh --arch win32 build/msi build/mingw-i686
bash tests/msi/msi_test.sh --arch win64 build/msi build/mingw-x64

# A signed release made twice from this commit, byte for byte the same, then checked as a
# customer would (about two minutes).
echo "=== release ==="
bash tests/release/release_test.sh
