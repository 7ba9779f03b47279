# Shared by the checks' tests, sourced after setting `script` to the check under test:
# a temporary tree removed on exit, and expect(), which counts its failures.
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
failures=0

expect() { # expect STATUS PATTERN ARGS...: the status and a line of output matching PATTERN
    status=$1 pattern=$2
    shift 2
    output=$("$script" "$@" 2>&1)
    actual=$?
    if [ "$actual" -ne "$status" ] || ! printf '%s\n' "$output" | grep -q -- "$pattern"; then
        echo "FAIL: $script $* gave status $actual (wanted $status), output:"
        printf '%s\n' "$output"
        failures=$((failures + 1))
    fi
}
