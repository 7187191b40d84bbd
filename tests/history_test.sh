#!/usr/bin/env bash
# --history through platenhawk-demo: real scans write real reports with --reports, then --history
# reads them back. A drive whose damage grows is failing (status 3) with the new run named; two
# identical scans are ok (0); a slow stretch that appeared is a warning (1); a broken report, a
# foreign, hostile or FIFO file beside them are skipped and named and change nothing else; an
# empty folder gives 2; --reports OUT writes a trend picture; --json matches its schema.
set -u
demo=$1
schemas=$(cd "$(dirname "$0")/../docs/schemas" && pwd)
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

# history ARGS...: --history with stdout, stderr and status in $out, $err, $status; never hangs.
history() {
    timeout 60 "$demo" --history "$@" >"$work/out" 2>"$work/err"
    status=$?
    out=$(cat "$work/out")
    err=$(cat "$work/err")
}

# scans FOLDER SERIAL LINES...: one scan of a 200-block drive per LINES (its scenario's extra lines).
scans() {
    local folder=$1 serial=$2
    shift 2
    for lines in "$@"; do
        printf '[drive 0]\nmodel = SIM HISTORY\nserial = %s\nsectors = 51000\nlatency = 1\n%b\n' "$serial" "$lines" \
            >"$work/drive.ini"
        timeout 60 "$demo" "$work/drive.ini" --scan 1 --reports "$folder" >/dev/null 2>&1
        [[ $? == 0 || $? == 1 || $? == 3 ]] || fail "the scan of $serial with \"$lines\" did not finish"
    done
}

scans "$work/grows" G1 "" "unreadable = 20400-20654" "unreadable = 20400-20654\nunreadable = 40800-41054"
history "$work/grows"
[[ $status == 3 && $out == *"drive G1 SIM HISTORY: failing"* && $out == *"new damaged blocks at LBA "*"40800-41054"* ]] ||
    fail "damage that grows: status $status, $out"
[[ $(grep -c " scan  0-50999 " <<<"$out") == 3 ]] || fail "damage that grows: not three readings: $out"

scans "$work/same" S1 "" ""
history "$work/same"
[[ $status == 0 && $out == *"ok: nothing new since "* ]] || fail "identical scans: status $status, $out"

scans "$work/slow" W1 "" "slow = 30000-30254 120"
history "$work/slow"
[[ $status == 1 && $out == *"warning: 2 new slow blocks at LBA 29835-30344"* ]] || fail "a slow stretch: status $status, $out"

mkdir "$work/empty"
history "$work/empty"
[[ $status == 2 && $err == "platenhawk-demo: no report in $work/empty" ]] || fail "an empty folder: status $status, $err"

# Bad files beside the reports of the drive that grows, one in a subfolder: skipped, named, and
# the drives' readings and trend as they were.
history "$work/grows" --json
before=$out
mkdir "$work/grows/host"
json=$(ls "$work/grows"/*-scan-3.json 2>/dev/null || ls "$work/grows"/*-scan.json | tail -1)
head -c 500 "$(ls "$work/grows"/*.json | head -1)" >"$work/grows/host/cut.json"
echo '{"name": "not ours"}' >"$work/grows/foreign.json"
sed 's/"format": 1/"format": 2/' "$(ls "$work/grows"/*.json | head -1)" >"$work/grows/later.json"
python3 -c 'print("{\"program\": \"platenhawk\", \"format\": 1, \"x\": " + "[" * 100000 + "]" * 100000 + "}")' \
    >"$work/grows/deep.json"
python3 -c 'print("{\"program\": \"platenhawk\", \"format\": 1, \"x\": \"" + "a" * 3000000 + "\"}")' >"$work/grows/long.json"
mkfifo "$work/grows/fifo.json"
ln -s "$json" "$work/grows/link.json"
history "$work/grows" --json
python3 - "$before" "$out" "$err" "$work/grows" <<'PY' || fail "bad files: $err"
import json, sys
before, after, err, folder = json.loads(sys.argv[1]), json.loads(sys.argv[2]), sys.argv[3], sys.argv[4]
assert before["drives"] == after["drives"], "the drives changed"
why = {s["file"][len(folder) + 1:]: s["why"] for s in after["skipped"]}
expected = {"host/cut.json": "cut short or not JSON", "foreign.json": "not a Platenhawk report",
            "later.json": "a report of format 2", "deep.json": "nested deeper than 16",
            "long.json": "a text or number longer than 1 MiB", "fifo.json": "not a regular file", "link.json": "a link"}
for name, start in expected.items():
    assert why.get(name, "").startswith(start), f"{name}: {why.get(name)}"
    assert f"platenhawk-demo: skipped {folder}/{name}: {start}" in err, f"{name} not named on stderr"
assert len(why) == len(expected), why
PY
[[ $status == 3 ]] || fail "bad files: status $status"

# The JSON against its schema, and a trend picture per drive.
if python3 -c 'import jsonschema' 2>/dev/null; then
    python3 - "$schemas/history.schema.json" "$out" <<'PY' || fail "--json does not match its schema"
import json, sys, jsonschema
schema = json.load(open(sys.argv[1]))
jsonschema.Draft202012Validator.check_schema(schema)
errors = list(jsonschema.Draft202012Validator(schema).iter_errors(json.loads(sys.argv[2])))
for e in errors:
    print(list(e.absolute_path), e.message[:200])
sys.exit(1 if errors else 0)
PY
fi
history "$work/slow" --reports "$work/pictures"
png=$(ls "$work/pictures"/*-W1-history.png 2>/dev/null)
[[ $status == 1 && -n $png && $(head -c 4 "$png" | tail -c 3) == PNG &&
    $out == *"report: $png"* ]] || fail "--reports: status $status, $(ls "$work/pictures"), $out"

((failures == 0)) || exit 1
echo "history: all checks passed"
