#!/usr/bin/env bash
# Every test: unit tests on the stand-in platform (g++, then clang++ with sanitizers), the
# concurrency tests under ThreadSanitizer, a minute of fuzzing per fuzz target, both Windows
# builds, the Wine suites on the real DLLs, the product installer (its binary checks and its
# install and uninstall under 32- and 64-bit Wine), the MSI packages under 32- and 64-bit
# Wine, the product's life on a machine through both, the pages' links, commands and outputs,
# and a signed release made twice and checked.
#
#   scripts/test.sh [--quick] [--jobs N]
#
# Independent steps run side by side while they keep at most N cores busy (default: the
# machine's cores; scripts/run-steps.py), each on fresh Wine machines copied from one booted
# prefix per width (tests/lib/wine-prefix). Each step's output is shown whole when it ends,
# and in build/test-logs/STEP.log; a table of the steps' wall times closes the run. A step
# still running after 30 minutes is stopped and fails, so that a hung program never holds
# the run.
# --quick: the edit-test loop: the Linux unit tests, the binary-contract checks and one Wine
# end-to-end path on the i686 DLL; it says what it leaves out.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=
jobs=$(nproc)
while [ $# -gt 0 ]; do
    case "$1" in
        --quick) quick=1; shift ;;
        --jobs) jobs=$2; shift 2 ;;
        *) echo "test.sh: unknown argument $1 (see the comment at the top)" >&2; exit 2 ;;
    esac
done

bash scripts/install-deps.sh

# One booted prefix per width for this run: every Wine test copies these.
export KVX_WINE_TEMPLATES=$PWD/build/wine-templates
rm -rf "$KVX_WINE_TEMPLATES" build/test-logs
# The Windows builds are made once, by their own steps; the installer, MSI, docs,
# lifecycle and release steps take them as they are instead of configuring and building them
# again (the release builds the commit once more from nothing, in a clone: that is its check).
export KVX_USE_BUILDS=1

windows_build() { echo "cmake --preset $1 >/dev/null && cmake --build --preset $1"; }

if [ -n "$quick" ]; then
    echo "test.sh --quick: the Linux unit tests, the binary-contract checks and the Wine end-to-end suite"
    echo "on the i686 DLL. Left out: the sanitizer, ThreadSanitizer and fuzzing runs, the other Wine suites,"
    echo "the host's Wine test, the x64 build, the documentation checks, the installer, the MSI packages, the"
    echo "lifecycle rows and the release. The full run is bash scripts/test.sh."
    python3 -B scripts/run-steps.py --jobs "$jobs" --logs build/test-logs <<EOF
prefix-win32 cpu 0.4: tests/lib/wine-prefix template win32
build-i686: $(windows_build mingw-i686)
linux: cmake --workflow --preset linux
contract-i686 after build-i686 cpu 0.4: ctest --preset mingw-i686 -R '^contract\.'
wine-end-to-end-i686 after build-i686,prefix-win32 cpu 0.4: ctest --preset mingw-i686 -R '^wine\.(prefix_template|end_to_end_test)$'
EOF
    exit
fi

# Ready steps start in this order, longest first, while the cores have room: a build or a
# Linux suite keeps a core busy, a Wine suite 0.4 of one (cpu 0.4; it mostly waits for
# its wineserver; measured: two Wine suites kept 0.5 to 0.8 of the 2 cores busy).
python3 -B scripts/run-steps.py --jobs "$jobs" --logs build/test-logs <<EOF
build-x64: $(windows_build mingw-x64)
build-i686: $(windows_build mingw-i686)
prefix-win64 cpu 0.4: tests/lib/wine-prefix template win64
prefix-win32 cpu 0.4: tests/lib/wine-prefix template win32
# The pages name no file that is gone (a second, and nothing else depends on the builds).
docs-links cpu 0.4: python3 -B tests/docs/check_docs_test.py && python3 -B tests/docs/check_docs.py --links-only
# A signed release made twice, here from the builds above and in a clone from nothing,
# byte for byte the same, then checked as a customer would: among its checks the installer
# and MSI suites on 32-bit Wine, run on the signed installer and x86 package that ship
# (the 64-bit runs below take the unsigned ones).
release after build-i686,build-x64,prefix-win32: bash tests/release/release_test.sh
installer after build-i686,build-x64 cpu 0.4: bash scripts/build-installer && python3 tests/contract/check_installer_binary.py --objdump i686-w64-mingw32-objdump --version "\$(cat build/mingw-i686/generated/version.txt)" build/installer/KvxDriversSetup.exe
msi after build-i686,build-x64 cpu 0.4: bash scripts/build-msi
# The product across a machine's life: re-runs, repairs, updates, downgrades, files in use,
# both packages, one fresh machine per row.
lifecycle-win64 after installer,msi,prefix-win64 cpu 0.4: bash tests/lifecycle/lifecycle_test.sh --arch win64 build/mingw-x64
lifecycle-win32 after installer,msi,prefix-win32 cpu 0.4: bash tests/lifecycle/lifecycle_test.sh --arch win32 build/mingw-i686
installer-win64 after installer,prefix-win64 cpu 0.4: bash tests/installer/installer_test.sh --arch win64 build/installer/KvxDriversSetup.exe build/mingw-x64
wine-x64 after build-x64,build-i686,prefix-win64 cpu 0.4: ctest --preset mingw-x64
wine-i686 after build-i686,prefix-win32 cpu 0.4: ctest --preset mingw-i686
msi-win64 after msi,prefix-win64 cpu 0.4: bash tests/msi/msi_test.sh --arch win64 build/msi build/mingw-x64
installer-pages after installer,prefix-win32 cpu 0.4: bash tests/installer/installer_pages.sh build/installer/KvxDriversSetup.exe build/mingw-i686
# Every output the pages show, against a real run on the demo machine; every host command
# line they show, given to the host's own parser (nothing runs).
docs-outputs after installer,msi,build-i686,prefix-win32 cpu 0.4: python3 -B tests/docs/check_docs.py --outputs
docs-commands after build-i686,prefix-win32 cpu 0.4: python3 -B tests/docs/check_docs.py --commands-only
linux-fuzz: cmake --workflow --preset linux-fuzz
linux: cmake --workflow --preset linux
linux-sanitize: cmake --workflow --preset linux-sanitize
linux-tsan: cmake --workflow --preset linux-tsan
# The Ansible playbook the deployment page gives: valid, and clean by ansible-lint.
docs-playbook: ansible-playbook --syntax-check -i localhost, deploy/ansible/kvx_drivers.yml && ansible-lint deploy/ansible/kvx_drivers.yml
EOF
