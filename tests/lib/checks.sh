# Sourced by the shell test scripts. A check names a situation and runs a condition over
# what the last command left in $out, $err and $status; it counts the outcome, and on a
# failure shows what that command printed.
passed=0
failed=0
out=
err=
status=0

check() {
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "ok   $name"
    else
        failed=$((failed + 1))
        echo "FAIL $name"
        echo "     exit code: $status"
        sed 's/^/     | /' <<<"$out"
        if [ -n "$err" ]; then sed 's/^/     stderr| /' <<<"$err"; fi
    fi
}

has() { [[ "$out" == *"$1"* ]]; }
lacks() { ! has "$1"; }
count_is() { [ "$(grep -cF -- "$1" <<<"$out")" -eq "$2" ]; }
