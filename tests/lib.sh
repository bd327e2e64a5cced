# Sourced by the quillinfo tests: takes QUILLINFO off the arguments, puts
# QUILLINFO_RUNNER (Wine, for a Windows build) before every run, and gives a
# scratch folder $tmp and a tally of checks.
set -u
[ $# -ge 1 ] || { echo "usage: $0 QUILLINFO ${usage:-}" >&2 && exit 2; }
quillinfo=$1
shift
# shellcheck disable=SC2206  # the runner is a command with arguments
runner=(${QUILLINFO_RUNNER:-})
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
passed=0 failed=0
expect() { # expect WHAT COMMAND...: one check; returns its result
    local what=$1
    shift
    if "$@"; then passed=$((passed + 1)); else echo "FAILED: $what" && failed=$((failed + 1)) && return 1; fi
}
# run ARGS...: stdout and stderr (Windows carriage returns dropped) land in
# $tmp/out and $tmp/err, the exit status in $rc, which run returns.
run() {
    "${runner[@]}" "$quillinfo" "$@" >"$tmp/out.raw" 2>"$tmp/err.raw"
    rc=$?
    tr -d '\r' <"$tmp/out.raw" >"$tmp/out"
    tr -d '\r' <"$tmp/err.raw" >"$tmp/err"
    return $rc
}
finish() { echo "$1: $passed passed, $failed failed" && [ "$failed" -eq 0 ]; }
