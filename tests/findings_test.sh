#!/usr/bin/env bash
# What the reports and the summary say when the run goes wrong, through the real demo: standard
# descriptors closed, two reports wanting one name, a file that cannot reach the disk, a file
# system without renameat2, the reports folder renamed mid-run, a JSON document with reports beside
# it, a drive that goes away mid-scan, a path too long to create.
# The second argument is the fault shim (tests/shim/faults.cpp).
set -u
demo=$1
shim=$2
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"
# A sanitizer runtime would refuse to come after the shim.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0

# waits until FILE exists (30 s at most)
await() {
    for ((i = 0; i < 300; ++i)); do
        [[ -e $1 ]] && return 0
        sleep 0.1
    done
    return 1
}

# ---------------------------------------------------------------- closed standard descriptors

# 20,000 damaged runs spill to a temporary file, which must not become a closed standard error:
# the progress lines would land in it. Under a file-size limit and a timeout of its own.
printf '[drive 0]\nserial = CLOSED\nsectors = 10200000\nunreadable = 0-254 every 510\n' >"$work/closed.ini"
(
    ulimit -f 102400
    timeout -k 5 60 "$demo" "$work/closed.ini" --scan 1 --reports "$work/closed" >&- 2>&-
)
status=$?
[[ $status == 3 ]] || fail "closed stdout and stderr: status $status"
python3 - "$work"/closed/*-CLOSED-scan.json <<'EOF' || fail "closed stdout and stderr: the report"
import json, sys
r = json.load(open(sys.argv[1]))
lbas = [run["lba"] for run in r["damaged"]]
assert lbas == list(range(0, 10200000, 510)), (len(lbas), lbas[:3], lbas[-3:])
assert r["classes"]["unrb"] == 20000 and r["blocks"] == 40000, r["classes"]
EOF

# ---------------------------------------------------------------- one report to a name

# Report B chooses its name and is held before its first rename; meanwhile report A, started in
# the same second with the same serial, fails its JSON (fsync) and writes its other files. Every
# file under a name must still be one report's: B's JSON never joins A's damaged list.
cat >"$work/a.ini" <<'EOF'
[drive 0]
serial = TWIN
sectors = 2550
unreadable = 510
EOF
cat >"$work/b.ini" <<'EOF'
[drive 0]
serial = TWIN
sectors = 2550
unreadable = 1530
EOF
mkdir "$work/twins"
# Both scans start in the second after the one this test starts in.
sleep "0.$(printf '%03d' $((1000 - 10#$(date +%N | cut -c1-3))))"
PH_FAULT_RENAME_PAUSE="$work/paused" LD_PRELOAD=$shim "$demo" "$work/b.ini" --scan 1 --reports "$work/twins" \
    >"$work/b.out" 2>&1 &
b=$!
await "$work/paused" || fail "report B never reached its rename"
PH_FAULT_FSYNC_EIO=1 LD_PRELOAD=$shim "$demo" "$work/a.ini" --scan 1 --reports "$work/twins" >"$work/a.out" 2>&1
rm -f "$work/paused"
wait $b
python3 - "$work/twins" <<'EOF' || fail "one report to a name: $(ls -A "$work/twins"); A: $(cat "$work/a.out")"
import collections, json, pathlib, re, sys
folder = pathlib.Path(sys.argv[1])
stems = collections.defaultdict(dict)
for f in folder.iterdir():
    m = re.fullmatch(r"(.*-TWIN-scan(?:-\d+)?)(\.json|-damaged\.txt|-surface\.csv|\.png|\.map)", f.name)
    assert m, f"not a report file: {f.name}"
    stems[m.group(1)][m.group(2)] = f
assert len(stems) == 2, sorted(stems)
for stem, files in stems.items():
    if ".json" in files and "-damaged.txt" in files:
        damaged = [b["lba"] for b in json.load(open(files[".json"]))["damaged"]]
        listed = [int(n) for n in files["-damaged.txt"].read_text().split()]
        assert damaged == listed, f"{stem}: the JSON names {damaged}, the damaged list {listed}"
EOF
# A's JSON, whose flush failed, is named as not written, and no file of it is left (the check
# above allows no other file, a temporary one neither).
a_stem=$(sed -n 's/^report: \(.*-TWIN-scan\(-[0-9]*\)\?\)-damaged\.txt$/\1/p' "$work/a.out")
[[ -n $a_stem && ! -e $a_stem.json ]] || fail "a JSON whose flush failed was left: $(cat "$work/a.out")"
grep -qx "platenhawk-demo: report $a_stem.json not written: Input/output error" "$work/a.out" ||
    fail "a JSON whose flush failed: $(cat "$work/a.out")"

# ---------------------------------------------------------------- a file system without renameat2

# Some network shares answer renameat2 with EINVAL: each file then gets its name by a link, which
# never replaces either, and loses its temporary name. Every report is published whole, and
# nothing else is left.
printf '[drive 0]\nserial = SHARE\nsectors = 2550\nunreadable = 510\n' >"$work/share.ini"
PH_FAULT_RENAME_EINVAL=1 LD_PRELOAD=$shim timeout 60 "$demo" "$work/share.ini" --scan 1 --reports "$work/share" \
    >"$work/out" 2>"$work/err"
status=$?
said=$(sed -n 's/^report: //p' "$work/out" | sort)
[[ $status == 3 && $(wc -l <<<"$said") == 5 && $(find "$work/share" -mindepth 1 | sort) == "$said" ]] ||
    fail "without renameat2: status $status, $(cat "$work/out" "$work/err"), left: $(ls -A "$work/share")"
! grep -q 'platenhawk-demo:' "$work/err" || fail "without renameat2: $(cat "$work/err")"
python3 - "$work/share" <<'EOF' || fail "without renameat2: a report is not whole"
import glob, json, sys
stem = glob.glob(sys.argv[1] + "/*-SHARE-scan.json")[0][:-len(".json")]
r = json.load(open(stem + ".json"))
assert r["outcome"] == "completed" and [b["lba"] for b in r["damaged"]] == [510], r
assert open(stem + "-damaged.txt").read() == "510\n"
assert len(open(stem + "-surface.csv").read().splitlines()) == 1 + 10
extents = [line.split() for line in open(stem + ".map") if not line.startswith("#")][1:]
assert sum(int(size, 16) for _, size, _ in extents) == 2550 * 512, extents
assert open(stem + ".png", "rb").read(8) == b"\x89PNG\r\n\x1a\n"
EOF

# ---------------------------------------------------------------- the folder renamed mid-run

# The folder is renamed and another made at its old path while the report is being written: the
# report lines name where the files are.
printf '[drive 0]\nserial = MOVED\nsectors = 2550\n' >"$work/moved.ini"
PH_FAULT_RENAME_PAUSE="$work/paused" LD_PRELOAD=$shim "$demo" "$work/moved.ini" --scan 1 --reports "$work/r" \
    >"$work/out" 2>"$work/err" &
pid=$!
await "$work/paused" || fail "the moved folder's report never reached its rename"
mv "$work/r" "$work/r2" && mkdir "$work/r"
rm -f "$work/paused"
wait $pid
said=$(sed -n 's/^report: //p' "$work/out")
[[ $(wc -l <<<"$said") == 4 && -z $(ls -A "$work/r") ]] || fail "moved folder: $(cat "$work/out")"
while read -r path; do
    [[ $path == "$work/r2/"* && -f $path ]] || fail "moved folder: a report line names $path"
done <<<"$said"
grep -q "the folder $work/r has moved to $work/r2" "$work/err" || fail "moved folder: $(cat "$work/err")"

# ---------------------------------------------------------------- JSON alone on the standard output

cat >"$work/drives.ini" <<'EOF'
[drive 0]
serial = JS
sectors = 2550
attribute = 5 100 100 3 36

[drive 1]
model = SILENT
sectors = 100
answers = no

[drive 2]
serial = NOID
sectors = 1000
identify = no
attribute = 9 91 91 8114 0
EOF
timeout 60 "$demo" "$work/drives.ini" --smart 1 --json --reports "$work/js" >"$work/out" 2>"$work/err"
python3 -c 'import json, sys; json.load(open(sys.argv[1]))' "$work/out" || fail "--smart --json --reports: $(cat "$work/out")"
grep -q "^report: $work/js/.*-JS-smart.json$" "$work/err" || fail "--smart --json --reports: stderr $(cat "$work/err")"
# A drive that does not answer still gets a document, which says why.
timeout 60 "$demo" "$work/drives.ini" --smart 2 --json >"$work/out" 2>"$work/err"
status=$?
python3 -c 'import json, sys; r = json.load(open(sys.argv[1])); assert r["ok"] is False and r["error"], r' "$work/out" &&
    [[ $status == 2 ]] || fail "--smart --json of a silent drive: status $status, $(cat "$work/out")"
# A drive that answers SMART but not IDENTIFY is read all the same.
timeout 60 "$demo" "$work/drives.ini" --smart 3 >"$work/out" 2>"$work/err"
status=$?
[[ $status == 0 && $(cat "$work/out") == *"Power-On Hours Count"*8114* ]] ||
    fail "--smart without IDENTIFY: status $status, $(cat "$work/out" "$work/err")"

# ---------------------------------------------------------------- a drive that goes away

# Unplugged at sector 40000: the scan ends at the block holding it, which with everything after
# it is not counted as read; status 3, and the summary, the JSON and the standard error say so.
printf '[drive 0]\nserial = GONE\nsectors = 100000\nunplugged = 40000\n' >"$work/gone.ini"
timeout 60 "$demo" "$work/gone.ini" --scan 1 --reports "$work/gone" >"$work/out" 2>"$work/err"
status=$?
out=$(cat "$work/out")
[[ $status == 3 ]] || fail "drive gone: status $status"
grep -qx 'outcome: drive_gone at LBA 39780' <<<"$out" || fail "drive gone: $out"
grep -qx 'classes: <5ms 156 <30ms 0 <50ms 0 <150ms 0 <300ms 0 >300ms 0 PUNRB 0 UNRB 0' <<<"$out" ||
    fail "drive gone: $out"
grep -qx 'verdict: drive went away at LBA 39780, after 39 % - nothing damaged so far' <<<"$out" ||
    fail "drive gone: $out"
grep -q 'went away at LBA 39780: the scan ends there' "$work/err" || fail "drive gone: stderr $(cat "$work/err")"
python3 - "$work"/gone/*-GONE-scan.json <<'EOF' || fail "drive gone: the report"
import json, sys
r = json.load(open(sys.argv[1]))
assert (r["outcome"], r["drive_gone_lba"], r["verdict"], r["blocks"]) == ("drive_gone", 39780, "incomplete", 156), r
# The ddrescue map: read up to the gone block, untried from there to the drive's end.
lines = [l.split() for l in open(sys.argv[1][:-len(".json")] + ".map") if not l.startswith("#")]
assert lines[0][1:] == ["?", "1"] and lines[-1] == [hex(39780 * 512), hex((100000 - 39780) * 512), "?"], lines
EOF
# Every read failing: the progress line shows no speed of data never read.
printf '[drive 0]\nserial = DEAD\nsectors = 25500\nunreadable = 0-25499\n' >"$work/dead.ini"
timeout 60 "$demo" "$work/dead.ini" --scan 1 >/dev/null 2>"$work/err"
[[ $(grep -c ' 0.0 MB/s ' "$work/err") == $(grep -c '% LBA ' "$work/err") ]] ||
    fail "speed of failing reads: $(tail -1 "$work/err")"

# ---------------------------------------------------------------- folders that cannot be made

long=$work/$(printf 'd/%.0s' {1..2100})x
timeout 60 "$demo" "$work/drives.ini" --scan 1 --reports "$long" >/dev/null 2>"$work/err"
status=$?
[[ $status == 2 && $(cat "$work/err") == *"cannot be used: File name too long" && ! -e $work/d ]] ||
    fail "a path too long: status $status, $(cat "$work/err"), made: $(ls -d "$work/d" 2>&1)"

python3 "$(dirname "$0")/validate_reports.py" "$(dirname "$0")/../docs/schemas" "$work" >"$work/valid" ||
    fail "reports that do not match their schemas: $(cat "$work/valid")"

((failures == 0)) && echo "findings: ok"
exit $((failures > 0))
