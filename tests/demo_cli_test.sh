#!/usr/bin/env bash
# platenhawk-demo refuses a faulty scenario file before it touches the terminal: the message as
# FILE:LINE: text on standard error, nothing on standard output, exit status 2.
set -u
demo=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

printf '[drive 0]\nsectors = 100\n\n[drive 0]\nsectors = 5\n' >"$work/twice.ini"
"$demo" "$work/twice.ini" >"$work/out" 2>"$work/err"
status=$?
[[ $status == 2 ]] || fail "status $status for a drive described twice"
[[ $(cat "$work/err") == "$work/twice.ini:4: drive 0 is described twice" ]] || fail "message: $(cat "$work/err")"
[[ ! -s $work/out ]] || fail "wrote to standard output: $(od -c "$work/out" | head -3)"

"$demo" "$work/missing.ini" >"$work/out" 2>"$work/err"
status=$?
[[ $status == 2 ]] || fail "status $status for a missing file"
grep -q "missing.ini:0: cannot read the scenario file" "$work/err" || fail "message: $(cat "$work/err")"

"$demo" a b >/dev/null 2>"$work/err"
status=$?
[[ $status == 2 ]] || fail "status $status for two arguments"
[[ $(cat "$work/err") == "platenhawk-demo: unexpected argument b (try --help)" ]] || fail "message: $(cat "$work/err")"
echo "demo command line: ok"
