# Shared by the shell tests: a work folder removed when the test ends, and failures counted by
# `fail`, which names each one on standard error.
# shellcheck shell=bash
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
