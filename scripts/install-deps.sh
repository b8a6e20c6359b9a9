#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the installer and the release need.
# Safe to run again: it asks apt only for what is missing. It prints one line saying what
# it installs; apt's and dpkg's own output goes to a log, shown only when they fail.
set -euo pipefail

packages=(
    cmake ninja-build g++ clang clang-format libclang-rt-14-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
    wine wine32:i386 wine64 python3
    nsis osslsigncode openssl wixl msitools faketime
    xvfb xdotool imagemagick librsvg2-bin
    ansible ansible-lint
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

log=${TMPDIR:-/tmp}/kvx-install-deps.log

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ "${#missing[@]}" -eq 0 ] && exit 0

echo "installing Debian packages (about a minute; apt's output in $log): ${missing[*]}"
install_missing() {
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        "${sudo_cmd[@]}" dpkg --add-architecture i386
    fi
    "${sudo_cmd[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends \
        "${missing[@]}"
}
if ! install_missing >"$log" 2>&1; then
    cat "$log" >&2
    echo "install-deps: installing the packages failed; apt's output is above and in $log" >&2
    exit 1
fi
