#!/usr/bin/env bash
# The command line of platenhawk-demo, run as a script would run it: --help and --version, every
# mistake with its message and exit status 2, --list, unattended --scan (each exit status, the
# plain progress lines, the summary, Ctrl+C and SIGTERM writing a "stopped" report) and --smart.
set -u
demo=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# run ARGS...: the demo with stdout, stderr and status in $out, $err, $status; never hangs.
run() {
    timeout 120 "$demo" "$@" >"$work/out" 2>"$work/err"
    status=$?
    out=$(cat "$work/out")
    err=$(cat "$work/err")
}

expect_mistake() {  # MESSAGE ARGS...: status 2, MESSAGE and "(try --help)" on stderr, nothing on stdout
    local message=$1
    shift
    run "$@"
    [[ $status == 2 ]] || fail "$*: status $status, expected 2"
    [[ $err == "platenhawk-demo: $message (try --help)" ]] || fail "$*: stderr \"$err\""
    [[ -z $out ]] || fail "$*: wrote to stdout: $out"
}

# ---------------------------------------------------------------- conventions

run --help
[[ $status == 0 && $out == "usage: platenhawk-demo "* && -z $err ]] || fail "--help: status $status, \"${out:0:60}\""
for option in --list --scan --smart --reports --first-lba --last-lba --no-recheck --json --version; do
    [[ $out == *"$option"* ]] || fail "--help does not mention $option"
done
run --version
[[ $status == 0 && $out =~ ^platenhawk-demo\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "--version: $status \"$out\""

expect_mistake "unknown option --frob" --frob
expect_mistake "unknown option -x" -x
expect_mistake "option --scan needs a value" --scan
expect_mistake "option --reports needs a value" --reports=
expect_mistake "option --list takes no value" --list=yes
expect_mistake "bad value 'ten' for --first-lba: a sector number, 0 or more" --scan 1 --first-lba ten
expect_mistake "bad value '-5' for --last-lba: a sector number, 0 or more" --scan 1 --last-lba -5
expect_mistake "option --first-lba given twice" --scan 1 --first-lba 1 --first-lba 2
expect_mistake "--list, --scan and --smart go one at a time" --list --smart 1
expect_mistake "--first-lba, --last-lba and --no-recheck go with --scan" --smart 1 --no-recheck
expect_mistake "--json goes with --list or --smart" --scan 1 --json
expect_mistake "--reports does not go with --list" --list --reports "$work/r"
expect_mistake "--first-lba is above --last-lba" --scan 1 --first-lba 9 --last-lba 8
expect_mistake "unexpected argument b" a b

# ---------------------------------------------------------------- the drive list

cat >"$work/drives.ini" <<'EOF'
[drive 0]
model = HEALTHY ONE
serial = H1
sectors = 2550
latency = 0

[drive 2]
model = SLOW THREE
serial = S3
sectors = 2550
slow = 1000-1010 120

[drive 3]
model = DAMAGED FOUR
serial = D4
sectors = 2550
unreadable = 300
partial = 2000

[drive 4]
model = SILENT
sectors = 100
answers = no

[drive 5]
model = BIG SIX
serial = B6
sectors = 1000
sector_size = 4096
attribute = 5 100 100 70000 36
attribute = 190 69 69 31 50
attribute = 9 91 91 8114 0

[drive 6]
model = NO SMART
sectors = 1000
smart = no
EOF
run "$work/drives.ini" --list
expected="1  sim:0  HEALTHY ONE  H1  1 MB
3  sim:2  SLOW THREE  S3  1 MB
4  sim:3  DAMAGED FOUR  D4  1 MB
6  sim:5  BIG SIX  B6  3 MB
7  sim:6  NO SMART  SIM6  0 MB"
[[ $status == 0 && $out == "$expected" && -z $err ]] || fail "--list: $status \"$out\" \"$err\""
run --list --json "$work/drives.ini"
python3 - "$work/out" <<'EOF' || fail "--list --json: $out"
import json, sys
drives = json.load(open(sys.argv[1]))
assert [d["number"] for d in drives] == [1, 3, 4, 6, 7], drives
assert drives[3] == {"number": 6, "device": "sim:5", "model": "BIG SIX", "serial": "B6", "size_mb": 3,
                     "sectors": 1000, "sector_size": 4096}, drives[3]
EOF

# ---------------------------------------------------------------- unattended scans

summary_line() { grep "^$1: " <<<"$out" | head -1 | cut -d' ' -f2-; }

run "$work/drives.ini" --scan 1
[[ $status == 0 ]] || fail "healthy scan: status $status"
[[ $(summary_line drive) == "1 sim:0 HEALTHY ONE (serial H1)" ]] || fail "summary drive: $out"
[[ $(summary_line range) == "0-2549" && $(summary_line blocks) == 10 && $(summary_line outcome) == completed ]] ||
    fail "summary: $out"
[[ $(summary_line classes) == "<5ms 10 <30ms 0 <50ms 0 <150ms 0 <300ms 0 >300ms 0 PUNRB 0 UNRB 0" ]] ||
    fail "summary classes: $out"
[[ $(summary_line damaged) == none && $(summary_line verdict) == healthy ]] || fail "summary verdict: $out"
# Not a terminal: one plain line a whole percent, ending at 100 %.
progress=$(cat "$work/err")
[[ $(wc -l <<<"$progress") == 10 ]] || fail "progress lines: $progress"
[[ $(head -1 <<<"$progress") =~ ^\ 10%\ LBA\ 510\ [0-9.]+\ MB/s\ [0-9]+:[0-9]{2}:[0-9]{2}\ left\ 2/0/0/0/0/0\ PUNRB\ 0\ UNRB\ 0$ ]] ||
    fail "first progress line: $(head -1 <<<"$progress")"
[[ $(tail -1 <<<"$progress") == "100% LBA 2550 "*" left 10/0/0/0/0/0 PUNRB 0 UNRB 0" ]] ||
    fail "last progress line: $(tail -1 <<<"$progress")"
[[ $progress != *$'\r'* && $progress != *$'\e'* ]] || fail "terminal controls in the plain progress"

run "$work/drives.ini" --scan sim:2 --no-recheck
[[ $status == 1 && $(summary_line verdict) == slow ]] || fail "slow scan: status $status, $out"
[[ $(summary_line classes) == "<5ms 9 <30ms 0 <50ms 0 <150ms 1 <300ms 0 >300ms 0 PUNRB 0 UNRB 0" ]] ||
    fail "slow scan classes: $out"

run "$work/drives.ini" --scan 4 --first-lba 255 --last-lba 2299 --reports "$work/reports"
[[ $status == 3 && $(summary_line verdict) == damaged ]] || fail "damaged scan: status $status, $out"
[[ $(summary_line range) == "255-2299" && $(summary_line damaged) == "255 1785" ]] || fail "damaged scan: $out"
reports=$(grep -c '^report: ' <<<"$out")
[[ $reports == 4 ]] || fail "damaged scan: $reports report lines: $out"
json=$(ls "$work"/reports/*-D4-scan.json)
python3 - "$json" <<'EOF' || fail "damaged scan report: $(cat "$json")"
import json, sys
r = json.load(open(sys.argv[1]))
assert r["outcome"] == "completed" and r["verdict"] == "damaged", r
assert r["range"] == {"first_lba": 255, "last_lba": 2299}, r["range"]
assert [b["lba"] for b in r["damaged"]] == [255, 1785], r["damaged"]
assert r["drive"]["number"] == 4 and r["recheck"] is True, r
EOF

run "$work/drives.ini" --scan 6
[[ $status == 0 && $(summary_line range) == "0-999" && $(summary_line blocks) == 4 ]] || fail "4096-byte scan: $out"

run "$work/drives.ini" --scan 5
[[ $status == 2 && $err == "platenhawk-demo: drive 5 (sim:4) does not answer"* && -z $out ]] ||
    fail "silent drive: status $status, \"$err\""
[[ $err == *"sim:4: does not answer the version request"* ]] || fail "no reason for the silent drive: $err"
run "$work/drives.ini" --scan 2
[[ $status == 2 && $err == "platenhawk-demo: drive 2 does not answer" ]] || fail "gap: status $status, \"$err\""
run "$work/drives.ini" --scan sim:9
[[ $status == 2 && $err == "platenhawk-demo: no drive sim:9"* ]] || fail "no such device: status $status, \"$err\""
run "$work/drives.ini" --scan 1 --last-lba 2550
[[ $status == 2 && $err == *"lies outside drive 1, whose sectors are 0-2549" ]] ||
    fail "range outside: status $status, \"$err\""

# Ctrl+C and SIGTERM stop the scan after the block being read; the report says "stopped".
for signal in INT TERM; do
    rm -rf "$work/stopped" "$work/err"
    cat >"$work/long.ini" <<'EOF'
[drive 0]
serial = LONG
sectors = 2550000
latency = 20
EOF
    "$demo" "$work/long.ini" --scan 1 --reports "$work/stopped" >"$work/out" 2>"$work/err" &
    pid=$!
    for ((i = 0; i < 100; ++i)); do
        grep -qs '%' "$work/err" && break
        sleep 0.1
    done
    kill -"$signal" $pid
    # A program that ignored the signal must not hang the test.
    for ((i = 0; i < 600; ++i)); do
        kill -0 $pid 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL $pid 2>/dev/null
    wait $pid
    status=$?
    out=$(cat "$work/out")
    [[ $status == 130 ]] || fail "SIG$signal: status $status"
    [[ $(summary_line outcome) == stopped ]] || fail "SIG$signal: $out"
    json=$(ls "$work"/stopped/*-LONG-scan.json 2>/dev/null)
    python3 - "$json" <<'EOF' || fail "SIG$signal: report $json"
import json, sys
r = json.load(open(sys.argv[1]))
assert r["outcome"] == "stopped" and 0 < r["blocks"] < 10000, r
EOF
done

# ---------------------------------------------------------------- SMART

run "$work/drives.ini" --smart 6
expected="drive: 6 sim:5 BIG SIX (serial B6)
 AID   Name                                Value   Worst   Raw      Threshold
--------------------------------------------------------------------------------
 5     Reallocated Sector Count            100     100     4464     36
 9     Power-On Hours Count                91      91      8114     0
--------------------------------------------------------------------------------"
[[ $status == 0 && $out == "$expected" && -z $err ]] || fail "--smart: status $status, \"$out\" \"$err\""
run "$work/drives.ini" --smart 6 --json --reports "$work/smart"
python3 - "$work/out" <<'EOF' || fail "--smart --json: $out"
import json, sys
text = open(sys.argv[1]).read()
r = json.loads(text[:text.rindex("}") + 1])
assert r["ok"] is True, r
assert [(a["id"], a["raw"], a["threshold"]) for a in r["attributes"]] == [(5, 70000, 36), (190, 31, 50), (9, 8114, 0)]
assert r["attributes"][1]["name"] is None
EOF
[[ $(ls "$work"/smart/*-B6-smart.json | wc -l) == 1 ]] || fail "--smart --reports wrote no report"
run "$work/drives.ini" --smart 7
[[ $status == 2 && $err == "platenhawk-demo: drive 7 refused a SMART request" && -z $out ]] ||
    fail "SMART refused: status $status, \"$err\""

((failures == 0)) && echo "command line: ok"
exit $((failures > 0))
