#!/usr/bin/env bash
# Runs each fuzz target for a bounded time from its seed corpus and prints one figure line
# per target. New inputs go to a scratch corpus, never into the repository; crashing inputs
# are kept in the build directory for a unit test to be made of them.
#
#   fuzz/run.sh [BUILD_DIR [TARGET...]]     (KVX_FUZZ_SECONDS: seconds per target, default 60)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build/linux-fuzz/fuzz}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then targets=(device_tree inf_store trace); fi
seconds=${KVX_FUZZ_SECONDS:-60}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kvx-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
artifacts=$build/artifacts
mkdir -p "$artifacts"

status=0
for target in "${targets[@]}"; do
    program=$build/fuzz_$target
    [ -x "$program" ] || { echo "run.sh: $program is not built" >&2; exit 2; }
    corpus=$scratch/$target
    mkdir -p "$corpus"
    touch "$scratch/$target.start"
    log=$build/fuzz_$target.log
    rc=0
    # -timeout: an input that runs for seconds is a hang worth keeping.
    "$program" "$corpus" "$here/corpus/$target" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/$target-" \
        >"$log" 2>&1 || rc=$?
    executions=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$log" | tail -n 1)
    crashes=$(find "$artifacts" -maxdepth 1 -name "$target-*" -newer "$scratch/$target.start" | wc -l)
    if [ "$rc" -ne 0 ] && [ "$crashes" -eq 0 ]; then crashes=1; fi
    echo "figure: fuzz $target executions ${executions:-0} crashes $crashes"
    if [ "$crashes" -ne 0 ] || [ -z "$executions" ]; then
        status=1
        tail -n 40 "$log" >&2
    fi
done
exit $status
