#!/usr/bin/env bash
# Fails when a C or C++ source of the repository differs from its clang-format layout.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t sources < <(git ls-files --cached --others --exclude-standard '*.c' '*.cpp' '*.h')
clang-format --dry-run -Werror "${sources[@]}"
echo "${#sources[@]} sources formatted"
