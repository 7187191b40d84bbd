#!/usr/bin/env bash
# The command line of platenhawk-demo, run as a script would run it: --help and --version, every
# mistake with its message and exit status 2, --list, unattended --scan (each exit status, the
# plain progress lines, the summary, one-sector and short-ended ranges, a report that cannot be
# finished, Ctrl+C and SIGTERM writing a "stopped" report), --smart (NVMe counters past 64 bits),
# outputs that close or fill up, and reports in a folder where others plant links or write too.
set -u
demo=$1
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

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
for option in --list --scan --smart --history --reports --first-lba --last-lba --no-recheck --json --version; do
    [[ $out == *"$option"* ]] || fail "--help does not mention $option"
done
# Every form of the demo takes a scenario file, and its usage lines say so.
for form in "\[--reports" --list --scan --smart; do
    grep -qE "^(usage:| +) platenhawk-demo $form .*\[SCENARIO-FILE\]\$" <<<"$out" ||
        fail "--help: the usage line of \"$form\" lacks [SCENARIO-FILE]"
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
expect_mistake "--list, --scan, --smart, --metrics and --history go one at a time" --list --smart 1
expect_mistake "--list, --scan, --smart, --metrics and --history go one at a time" --list --history d
expect_mistake "--first-lba, --last-lba and --no-recheck go with --scan" --smart 1 --no-recheck
expect_mistake "--json goes with --list, --smart or --history" --scan 1 --json
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
attribute = 1 100 100 150632 6
attribute = 3 20 20 281474976710655 21

[drive 3]
model = DAMAGED FOUR
serial = D4
sectors = 2550
unreadable = 300
partial = 2000
attribute = 5 100 100 0 36
attribute_change = 5 1785 12

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
cp "$work/out" "$work/drive-list.json"  # checked against its schema at the end
python3 - "$work/out" <<'EOF' || fail "--list --json: $out"
import json, sys
drives = json.load(open(sys.argv[1]))
assert [d["number"] for d in drives] == [1, 3, 4, 6, 7], drives
assert drives[3] == {"number": 6, "device": "sim:5", "model": "BIG SIX", "serial": "B6", "size_mb": 3,
                     "sectors": 1000, "sector_size": 4096}, drives[3]
EOF
# No drive answers: the reason at once, and status 2, as for any task that found no drive.
printf '[drive 0]\nsectors = 100\nanswers = no\n' >"$work/silent.ini"
run "$work/silent.ini" --list --json
[[ $status == 2 && $out == "[]" && $err == "platenhawk-demo: sim:0: does not answer the version request (answers = no)" ]] ||
    fail "--list without drives: status $status, \"$out\" \"$err\""

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
[[ $reports == 5 && $out == *"-D4-scan.map"* ]] || fail "damaged scan: $reports report lines: $out"
json=$(ls "$work"/reports/*-D4-scan.json)
python3 - "$json" <<'EOF' || fail "damaged scan report: $(cat "$json")"
import json, sys
r = json.load(open(sys.argv[1]))
assert r["outcome"] == "completed" and r["verdict"] == "damaged", r
assert r["range"] == {"first_lba": 255, "last_lba": 2299}, r["range"]
assert [b["lba"] for b in r["damaged"]] == [255, 1785], r["damaged"]
assert r["drive"]["number"] == 4 and r["recheck"] is True, r
# The drive reallocated sectors while the scan read its damaged block at 1785.
assert [a["raw"] for a in r["smart_before"]] == [0] and [a["raw"] for a in r["smart_after"]] == [12], r
assert r["smart_changes"] == [{"id": 5, "name": "Reallocated Sector Count", "before": {"value": 100, "raw": 0},
                               "after": {"value": 100, "raw": 12}}], r["smart_changes"]
EOF
[[ $(grep '^smart: ' <<<"$out") == "smart: during the scan: Reallocated Sector Count 0 -> 12" ]] ||
    fail "damaged scan: no smart: line for the reallocated sectors: $out"

# The GNU ddrescue mapfile of a scan with an unreadable block, two short ones side by side that
# delivered different amounts (two runs of the damaged list), slow ones, a refused block of one
# sector and a range that leaves out the drive's head and tail: ddrescuelog lists the damaged
# sectors the report names, and ddrescue copies exactly the sectors the scan read.
command -v ddrescuelog >/dev/null || fail "mapfile: ddrescuelog is missing (Debian gddrescue)"
cat >"$work/map.ini" <<'EOF'
[drive 0]
serial = MAP1
sectors = 2550
unreadable = 300
unreadable = 2295
partial = 2000
partial = 2041
slow = 1000-1010 120
EOF
run "$work/map.ini" --scan 1 --first-lba 255 --last-lba 2295 --no-recheck --reports "$work/map"
map=$(ls "$work"/map/*-MAP1-scan.map)
[[ $status == 3 && $out == *"report: $map"* ]] || fail "mapfile: status $status, $out"
head -c $((2550 * 512)) /dev/urandom >"$work/map.drive"
python3 - "$work/map" "$work/map.drive" <<'EOF' || fail "mapfile: $(cat "$map")"
import glob, json, subprocess, sys
folder, drive = sys.argv[1], sys.argv[2]
report = json.load(open(glob.glob(folder + "/*-scan.json")[0]))
mapfile = glob.glob(folder + "/*-scan.map")[0]
def listed(types, path):
    out = subprocess.run(["ddrescuelog", "-b512", "-l" + types, path], capture_output=True, text=True, check=True)
    return [int(n) for n in out.stdout.split()]
damaged = []
for run in report["damaged"]:
    for lba in range(run["lba"], run["lba"] + run["sectors"], 255):
        end = min(lba + 255, run["lba"] + run["sectors"])
        damaged += range(lba + run["bytes"] // 512, end)
assert [(r["lba"], r["bytes"]) for r in report["damaged"]] == [(255, 0), (1785, 215 * 512), (2040, 512), (2295, 0)]
assert report["slow"], report
assert listed("*-/", mapfile) == damaged, (listed("*-/", mapfile), damaged)
assert listed("-", mapfile) == [2295]
assert listed("?", mapfile) == list(range(0, 255)) + list(range(2296, 2550))
read = sorted(set(range(255, 2296)) - set(damaged))
assert listed("+", mapfile) == read
subprocess.run(["ddrescue", "-q", "--domain-mapfile=" + mapfile, drive, folder + "/copy", folder + "/copy.map"],
               check=True)
assert listed("+", folder + "/copy.map") == read
original, copy = open(drive, "rb").read(), open(folder + "/copy", "rb").read().ljust(2550 * 512, b"\0")
for s in range(2550):
    expected = original[s * 512:(s + 1) * 512] if s in read else bytes(512)
    assert copy[s * 512:(s + 1) * 512] == expected, s
EOF

# A range of one sector is one block; a range that ends in a short block gives it a cell of the
# picture too.
run "$work/drives.ini" --scan 1 --first-lba 300 --last-lba 300
[[ $status == 0 && $(summary_line range) == "300-300" && $(summary_line blocks) == 1 ]] || fail "one sector: $out"
run "$work/drives.ini" --scan 1 --first-lba 0 --last-lba 299 --reports "$work/short"
python3 -c 'import json, sys; r = json.load(open(sys.argv[1])); assert r["picture"]["cells"] == r["blocks"] == 2, r' \
    "$work"/short/*-H1-scan.json || fail "a short last block: $out"

# A report whose file cannot be finished (here, the close fails: no file may grow past 0 bytes)
# is not announced and leaves nothing under its name.
full=$(ulimit -f 0 && trap '' XFSZ && timeout 120 "$demo" "$work/drives.ini" --scan 1 --reports "$work/full" 2>&1
    echo "status $?")
[[ $full == *"verdict: healthy"*"status 0" && $full != *"report:"* ]] || fail "a full disk: $full"
[[ $full == *"-H1-scan.json not written: File too large"* ]] || fail "a full disk: $full"
[[ -z $(ls -A "$work/full") ]] || fail "a full disk left files: $(ls -A "$work/full")"

# A drive with thousands of damaged blocks: the summary names the first thousand and counts the
# rest, which the damaged list holds.
printf '[drive 0]\nserial = MANY\nsectors = 1000000\nunreadable = 0-254 every 510\n' >"$work/many.ini"
run "$work/many.ini" --scan 1
line=$(summary_line damaged)
[[ $status == 3 && $(wc -w <<<"$line") == 1003 && $line == "0 510 "*" 509490 (and 961 more)" ]] ||
    fail "many damaged blocks: $(head -c 200 <<<"$line")"

run "$work/drives.ini" --scan 6
[[ $status == 0 && $(summary_line range) == "0-999" && $(summary_line blocks) == 4 ]] || fail "4096-byte scan: $out"

run "$work/drives.ini" --scan 5
[[ $status == 2 && $err == "platenhawk-demo: drive 5 (sim:4) does not answer"* && -z $out ]] ||
    fail "silent drive: status $status, \"$err\""
[[ $err == *"sim:4: does not answer the version request"* ]] || fail "no reason for the silent drive: $err"
run "$work/drives.ini" --scan 2
[[ $status == 2 && $err == "platenhawk-demo: there is no drive 2; 5 drives answer: 1, 3, 4, 6, 7 (see --list)" ]] ||
    fail "gap: status $status, \"$err\""
run "$work/drives.ini" --scan sim:9
[[ $status == 2 && $err == "platenhawk-demo: no drive sim:9"* ]] || fail "no such device: status $status, \"$err\""
run "$work/drives.ini" --scan 1 --last-lba 2550
[[ $status == 2 && $err == *"lies outside drive 1, whose sectors are 0-2549" ]] ||
    fail "range outside: status $status, \"$err\""

# Ctrl+C and SIGTERM stop the scan after the block being read; the report says "stopped". The
# signal goes once the first progress line (1 %) is out, with 99 % of the scan, some 50 s of
# reads, still to come; how long the reads take on a loaded machine changes nothing. No recheck:
# it would wait three seconds for each block such a machine makes slow.
cat >"$work/long.ini" <<'EOF'
[drive 0]
serial = LONG
sectors = 2550000
latency = 5
EOF
for signal in INT TERM; do
    rm -rf "$work/stopped" "$work/err"
    "$demo" "$work/long.ini" --scan 1 --no-recheck --reports "$work/stopped" >"$work/out" 2>"$work/err" &
    pid=$!
    # A program that never writes its progress or ignores the signal must not hang the test.
    for ((i = 0; i < 2400; ++i)); do
        grep -qs '%' "$work/err" && break
        sleep 0.05
    done
    grep -qs '%' "$work/err" || fail "SIG$signal: no progress line in two minutes"
    kill -"$signal" $pid
    for ((i = 0; i < 1200; ++i)); do
        kill -0 $pid 2>/dev/null || break
        sleep 0.05
    done
    kill -KILL $pid 2>/dev/null
    wait $pid
    status=$?
    out=$(cat "$work/out")
    [[ $status == 130 ]] || fail "SIG$signal: status $status"
    [[ $(summary_line outcome) == stopped ]] || fail "SIG$signal: $out"
    # Nothing damaged was read (a loaded machine may make a block slow), but a stopped scan proves
    # no health.
    [[ $(summary_line verdict) =~ ^stopped\ after\ [0-9]+\ %\ -\ nothing\ damaged(,\ [0-9]+\ blocks?\ slow)?\ so\ far$ ]] ||
        fail "SIG$signal: verdict $(summary_line verdict)"
    json=$(ls "$work"/stopped/*-LONG-scan.json 2>/dev/null)
    python3 - "$json" <<'EOF' || fail "SIG$signal: report $json"
import json, sys
r = json.load(open(sys.argv[1]))
assert r["outcome"] == "stopped" and 0 < r["blocks"] < 10000, r
assert r["verdict"] == ("slow" if r["slow"] else "incomplete"), r["verdict"]
# The mapfile leaves what the stopped scan did not reach untried, up to the drive's end.
last = open(sys.argv[1][:-len(".json")] + ".map").read().split("\n")[-2].split()
assert [int(last[0], 16), int(last[0], 16) + int(last[1], 16), last[2]] == [
    r["blocks"] * 255 * 512, 2550000 * 512, "?"], last
EOF
done

# ---------------------------------------------------------------- SMART

# Every raw value whole (the screen shows 70000 as 4464) in a column as wide as 2^48 - 1, each row that is not ok marked; the exit
# status is the drive's health: 0 ok, 1 warning (reallocated sectors), 3 failing (a value at its
# threshold).
run "$work/drives.ini" --smart 6
expected="drive: 6 sim:5 BIG SIX (serial B6)
 AID   Name                                Value   Worst   Raw              Threshold
--------------------------------------------------------------------------------
 5     Reallocated Sector Count            100     100     70000            36            warning
 9     Power-On Hours Count                91      91      8114             0
--------------------------------------------------------------------------------"
[[ $status == 1 && $out == "$expected" && -z $err ]] || fail "--smart: status $status, \"$out\" \"$err\""
run "$work/drives.ini" --smart 3
expected="drive: 3 sim:2 SLOW THREE (serial S3)
 AID   Name                                Value   Worst   Raw              Threshold
--------------------------------------------------------------------------------
 1     Raw Read Error Rate                 100     100     150632           6
 3     Spin Up Time                        20      20      281474976710655  21            failing
--------------------------------------------------------------------------------"
[[ $status == 3 && $out == "$expected" && -z $err ]] || fail "failing --smart: status $status, \"$out\" \"$err\""
run "$work/drives.ini" --smart 1 --json
[[ $status == 0 && $(python3 -c 'import json, sys; print(json.load(sys.stdin)["status"])' <<<"$out") == ok ]] ||
    fail "healthy --smart: status $status, $out"
run "$work/drives.ini" --smart 6 --json --reports "$work/smart"
python3 - "$work/out" <<'EOF' || fail "--smart --json: $out"
import json, sys
text = open(sys.argv[1]).read()
r = json.loads(text[:text.rindex("}") + 1])
assert r["ok"] is True and r["status"] == "warning", r
assert [(a["id"], a["raw"], a["threshold"], a["status"]) for a in r["attributes"]] == [
    (5, 70000, 36, "warning"), (190, 31, 50, "ok"), (9, 8114, 0, "ok")]
assert r["attributes"][1]["name"] is None
EOF
[[ $(ls "$work"/smart/*-B6-smart.json | wc -l) == 1 ]] || fail "--smart --reports wrote no report"
# A value at its limit is failing: an attribute equal to its threshold, an NVMe drive 100 % used.
cat >"$work/limits.ini" <<'EOF'
[drive 0]
serial = NV100
sectors = 1000
kind = nvme
percentage_used = 100

[drive 1]
serial = AT1
sectors = 1000
attribute = 1 51 51 0 51
EOF
run "$work/limits.ini" --smart 2
[[ $status == 3 && $(grep '^ 1 ' <<<"$out") == *" 51 "*"  failing" ]] || fail "at the threshold: status $status, $out"
run "$work/limits.ini" --smart 1
[[ $status == 3 && $(grep ' Percentage Used ' <<<"$out") == *" 100 "*"  failing" ]] ||
    fail "100 % used: status $status, $out"
# NVMe counters past 64 bits are written whole, as decimal strings.
printf '[drive 0]\nserial = NV1\nsectors = 1000\nkind = nvme\ndata_units_read = 18446744073709551621\n' >"$work/nvme.ini"
run "$work/nvme.ini" --smart 1 --json --reports "$work/nvme"
python3 -c 'import json, sys; t = sys.stdin.read(); r = json.loads(t[:t.rindex("}") + 1])
assert r["nvme"]["data_units_read"] == "18446744073709551621", r' <"$work/out" || fail "an NVMe counter of 2^64 + 5: $out"

run "$work/drives.ini" --smart 7 --reports "$work/refused"
[[ $status == 2 && $err == "platenhawk-demo: drive 7 refused a SMART request" && $out == "report: $work/refused/"*-smart.json ]] ||
    fail "SMART refused: status $status, \"$err\""

# ---------------------------------------------------------------- Prometheus metrics

# Every drive's metrics, read back by a real parser: a model holding double quotes, a backslash and
# a byte that is not UTF-8 comes back whole (that byte as U+FFFD).
cat >"$work/metrics.ini" <<'EOF'
[drive 0]
model = SAY "HI"\\NOW\xFF
serial = M\x22Q
sectors = 2550
attribute = 5 100 100 70000 36
attribute = 190 69 69 31 50

[drive 1]
serial = NV2
sectors = 1000
sector_size = 4096
kind = nvme
data_units_read = 18446744073709551621

[drive 3]
serial = QUIET
sectors = 1000
smart = no
EOF
python=/usr/bin/python3  # Debian's, which Debian's python3-prometheus-client is for
[[ -x $python ]] || python=python3
"$python" -c 'import prometheus_client' 2>/dev/null || fail "metrics: python3-prometheus-client is missing"
run "$work/metrics.ini" --metrics -
[[ $status == 0 && -z $err ]] || fail "--metrics -: status $status, $err"
"$python" - "$work/out" <<'EOF' || fail "--metrics -: $out"
import sys
from prometheus_client.parser import text_string_to_metric_families
families = {f.name: f for f in text_string_to_metric_families(open(sys.argv[1]).read())}
def samples(name):
    return {(s.labels.get("drive"), s.labels.get("id")): s for s in families[name].samples}
assert families["platenhawk_drives"].samples[0].value == 3
info = samples("platenhawk_drive_info")
assert info[("1", None)].labels == {"drive": "1", "serial": 'M"Q', "device": "sim:0", "model": 'SAY "HI"\\NOW\ufffd',
                                    "firmware": "1.0", "bus": "ata"}, info
assert [info[(d, None)].labels["bus"] for d in ("2", "4")] == ["nvme", "unknown"], info
assert {d: s.value for (d, _), s in samples("platenhawk_drive_capacity_bytes").items()} == {
    "1": 2550 * 512, "2": 1000 * 4096, "4": 1000 * 512}
assert {d: s.value for (d, _), s in samples("platenhawk_smart_health_status").items()} == {"1": 1, "2": 0}
assert {d: s.value for (d, _), s in samples("platenhawk_smart_readable").items()} == {"1": 1, "2": 1, "4": 0}
assert samples("platenhawk_smart_attribute_raw")[("1", "5")].value == 70000
assert samples("platenhawk_smart_attribute_raw")[("1", "5")].labels["name"] == "Reallocated Sector Count"
assert samples("platenhawk_smart_attribute_threshold")[("1", "190")].value == 50
assert families["platenhawk_nvme_read_bytes"].type == "counter"
assert samples("platenhawk_nvme_read_bytes")[("2", None)].value == float(18446744073709551621 * 512000)
assert families["platenhawk_nvme_temperature_celsius"].type == "gauge"
EOF
# The file form: a link planted at its name is replaced, not followed; one 0644 file whatever
# the umask, and nothing else left in the folder, also when it replaces an earlier one.
mkdir "$work/prom"
printf 'secret\n' >"$work/prom-victim"
ln -s "$work/prom-victim" "$work/prom/drives.prom"
for round in 1 2; do
    (umask 077 && exec timeout 120 "$demo" "$work/metrics.ini" --metrics "$work/prom/drives.prom") >"$work/out" 2>&1
    status=$?
    [[ $status == 0 && ! -s $work/out && $(ls -A "$work/prom") == drives.prom && ! -L $work/prom/drives.prom &&
        $(stat -c %a "$work/prom/drives.prom") == 644 ]] ||
        fail "--metrics FILE, round $round: status $status, $(cat "$work/out"), $(ls -lA "$work/prom")"
done
grep -q '^platenhawk_drives 3$' "$work/prom/drives.prom" || fail "--metrics FILE: $(head -5 "$work/prom/drives.prom")"
[[ $(cat "$work/prom-victim") == secret ]] || fail "--metrics FILE wrote through a link"
run "$work/metrics.ini" --metrics "$work/prom-victim/drives.prom"
[[ $status == 2 && $err == "platenhawk-demo: the metrics were not written to $work/prom-victim/drives.prom: not a folder" ]] ||
    fail "--metrics below a file: status $status, \"$err\""
# With the reports written above: each drive's latest scan there, and its status as --history
# gives it; the folder is only read.
before=$(ls -A "$work/reports")
run "$work/drives.ini" --metrics "$work/with-reports.prom" --reports "$work/reports"
[[ $status == 0 ]] || fail "--metrics --reports: status $status, $err"
run --history "$work/reports" --json
"$python" - "$work/out" "$work/with-reports.prom" <<'EOF' || fail "--metrics --reports: $(cat "$work/with-reports.prom")"
import json, sys
from prometheus_client.parser import text_string_to_metric_families
samples = {(s.name, s.labels["serial"]): s.value for f in text_string_to_metric_families(open(sys.argv[2]).read())
           for s in f.samples if "serial" in s.labels}
statuses = {"ok": 0, "warning": 1, "failing": 3}
[d4] = [d for d in json.load(open(sys.argv[1]))["drives"] if d["serial"] == "D4"]
assert samples[("platenhawk_last_scan_damaged_blocks", "D4")] == 2, samples
assert samples[("platenhawk_last_scan_blocks", "D4")] == 9, samples
assert samples[("platenhawk_history_status", "D4")] == statuses[d4["status"]], (d4["status"], samples)
assert ("platenhawk_history_status", "B6") not in samples, samples
EOF
[[ $(ls -A "$work/reports") == "$before" ]] || fail "--metrics --reports wrote into the folder"

# ---------------------------------------------------------------- closed outputs

# A reader that went away or a full disk: a scan goes on to its reports and ends with its
# verdict's status; --list, --smart and --help say so in one line and end with status 2.
cat >"$work/second.ini" <<'EOF'
[drive 0]
serial = PIPE
sectors = 25500        # 100 blocks of 10 ms: progress lines for a second after the reader left
latency = 10
unreadable = 300
EOF
"$demo" "$work/second.ini" --scan 1 --reports "$work/piped" 2>&1 | head -1 >/dev/null
status=${PIPESTATUS[0]}
[[ $status == 3 && $(ls "$work/piped" | wc -l) == 5 ]] ||
    fail "--scan | head -1: status $status, reports: $(ls -A "$work/piped" 2>&1)"
"$demo" "$work/drives.ini" --scan 1 | true
status=${PIPESTATUS[0]}
[[ $status == 0 ]] || fail "--scan | true: status $status"
for args in "--list" "--list --json" "--smart 6" "--smart 6 --json" "--help"; do
    # shellcheck disable=SC2086
    "$demo" "$work/drives.ini" $args >/dev/full 2>"$work/err"
    status=$?
    [[ $status == 2 && $(cat "$work/err") == "platenhawk-demo: the output could not be written: No space left on device" ]] ||
        fail "$args >/dev/full: status $status, \"$(cat "$work/err")\""
done
{
    sleep 0.3
    "$demo" "$work/drives.ini" --list 2>"$work/err"
} | true
status=${PIPESTATUS[0]}
[[ $status == 2 && $(cat "$work/err") == "platenhawk-demo: the output could not be written: Broken pipe" ]] ||
    fail "--list into a closed pipe: status $status, \"$(cat "$work/err")\""

# ---------------------------------------------------------------- a reports folder others write to

touch "$work/a-file"
run "$work/drives.ini" --scan 1 --reports "$work/a-file"
[[ $status == 2 && -z $out && $err == "platenhawk-demo: the reports folder $work/a-file cannot be used: not a folder" ]] ||
    fail "a file as the folder: status $status, \"$err\""
run "$work/drives.ini" --scan 1 --reports "$work/new/reports"
[[ $status == 0 && $(stat -c %a "$work/new/reports") == 755 && $(ls "$work/new/reports" | wc -l) == 4 ]] ||
    fail "a missing folder: status $status, mode $(stat -c %a "$work/new/reports")"

# Links planted where the reports of the next seconds would stand, and where their temporary files
# stood, lead to a file of root's: it stays as it was, and the reports go to names of their own.
mkdir "$work/shared"
printf 'secret\n' >"$work/victim"
chmod 600 "$work/victim"
now=$(date +%s)
for ((s = 0; s < 6; ++s)); do
    t=$(date -d "@$((now + s))" +%Y%m%d-%H%M%S)
    for name in "$t-H1-scan.json" "$t-H1-scan.png" ".$t-H1-scan.json.part" ".$t-H1-scan.png.part"; do
        ln -sf "$work/victim" "$work/shared/$name"
    done
done
run "$work/drives.ini" --scan 1 --reports "$work/shared"
[[ $(cat "$work/victim") == secret && $(stat -c %a "$work/victim") == 600 ]] ||
    fail "a planted link: the file it leads to was changed"
said=$(grep '^report: ' <<<"$out")
[[ $status == 0 && $err != *platenhawk-demo:* && $(wc -l <<<"$said") == 4 ]] ||
    fail "a planted link: status $status, \"$err\", $out"
while read -r _ path; do
    [[ -f $path && ! -L $path && $path == "$work/shared/"*-H1-scan-2[.-]* ]] || fail "a planted link: $path"
done <<<"$said"
find "$work/shared" -type l -delete  # planted, not reports

# Forty runs at once for drives without a serial (the demo makes one up): forty files, each holding its own run's data,
# each named by its own run, and no temporary file left.
for ((i = 1; i <= 40; ++i)); do
    printf '[drive 0]\nsectors = 1000\nattribute = 9 91 91 %d 0\n' "$i" >"$work/run$i.ini"
    "$demo" "$work/run$i.ini" --smart 1 --reports "$work/crowd" >"$work/run$i.out" 2>&1 &
done
wait
[[ $(ls -A "$work/crowd" | wc -l) == 40 && -z $(ls -A "$work/crowd" | grep -v -- '-SIM0-smart\(-[0-9]*\)\?\.json$') ]] ||
    fail "forty runs at once left: $(ls -A "$work/crowd")"
for ((i = 1; i <= 40; ++i)); do
    path=$(sed -n 's/^report: //p' "$work/run$i.out")
    python3 - "$path" "$i" <<'EOF' || fail "run $i: $(cat "$work/run$i.out")"
import json, sys
assert json.load(open(sys.argv[1]))["attributes"][0]["raw"] == int(sys.argv[2])
EOF
done

# Every report written above (scans completed, stopped and damaged, SMART readings of ATA and NVMe
# drives and a refused one) and the drive list match their JSON Schemas, each loaded alone.
python3 "$(dirname "$0")/validate_reports.py" "$(dirname "$0")/../docs/schemas" "$work" >"$work/valid" ||
    fail "reports that do not match their schemas: $(cat "$work/valid")"

((failures == 0)) && echo "command line: ok"
exit $((failures > 0))
