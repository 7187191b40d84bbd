#!/usr/bin/env bash
# platenhawk --scan and --smart on block devices that are not whole disks: loop devices of 512- and
# 4096-byte sectors, scanned through the real program as root. Their identity comes from the
# kernel, every block reads, the images stay as they were; a regular file and a character device
# are refused with one line; one whose file is cut short ends its scan where the file ends. Needs root and loop devices: skipped (status 77) where they cannot
# be made. The loop devices are detached whatever happens.
set -u
program=$1
work=$(mktemp -d)
loops=()
cleanup() {
    for loop in "${loops[@]}"; do losetup -d "$loop" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

run() {
    timeout 120 "$program" "$@" >"$work/out" 2>"$work/err"
    status=$?
    out=$(cat "$work/out")
    err=$(cat "$work/err")
}

# ---------------------------------------------------------------- refusals (no loop device needed)

head -c 1048576 /dev/zero >"$work/file.img"
run --scan "$work/file.img"
[[ $status == 2 && $err == "platenhawk: $work/file.img: a regular file, not a block device"* &&
    $(wc -l <"$work/err") == 1 ]] || fail "regular file: status $status, \"$err\""
run --smart /dev/null
[[ $status == 2 && $err == "platenhawk: /dev/null: a character device, not a block device"* &&
    $(wc -l <"$work/err") == 1 ]] || fail "character device: status $status, \"$err\""

# ---------------------------------------------------------------- loop devices

if [[ $(id -u) != 0 ]] || ! command -v losetup >/dev/null; then
    echo "SKIP: loop devices need root and losetup; the loop-device scans were not run"
    [[ $failures == 0 ]] && exit 77 || exit 1
fi

# attach IMAGE SECTOR-SIZE: a read-only loop device of IMAGE in $loop, or nothing when none can be made.
attach() {
    loop=$(losetup --find --show --read-only --sector-size "$2" "$1" 2>"$work/losetup.err") || loop=
    [[ -n $loop ]] && loops+=("$loop")
}

# scan_loop SECTOR-SIZE SECTORS: an image of SECTORS sectors of SECTOR-SIZE bytes on a loop device, scanned.
scan_loop() {
    local size=$1 sectors=$2 image=$work/disk-$1.img
    python3 -c "import sys; sys.stdout.buffer.write(bytes(i % 251 for i in range($size * $sectors)))" >"$image"
    local before
    before=$(sha256sum <"$image")
    attach "$image" "$size"
    if [[ -z $loop ]]; then
        echo "SKIP: no loop device could be made here ($(cat "$work/losetup.err")); the loop-device scans were not run"
        [[ $failures == 0 ]] && exit 77 || exit 1
    fi
    local blocks=$(((sectors + 254) / 255)) reports=$work/reports-$size failed=$failures
    run --scan "$loop" --reports "$reports"
    [[ $status == 0 ]] || fail "$loop ($size-byte sectors): status $status, stderr \"$err\""
    [[ $out == *"drive: "*" $loop /dev/${loop#/dev/} "* ]] || fail "$loop: no drive line naming it: $out"
    [[ $out == *"range: 0-$((sectors - 1))"* ]] || fail "$loop: range is not 0-$((sectors - 1)): $out"
    [[ $out == *"blocks: $blocks"$'\n'* ]] || fail "$loop: not $blocks blocks: $out"
    [[ $out == *"classes: "*" PUNRB 0 UNRB 0"* && $out == *"damaged: none"* && $out == *"verdict: healthy"* ]] ||
        fail "$loop: not every block read: $out"
    local json
    json=$(ls "$reports"/*.json 2>/dev/null | head -1)
    if [[ -z $json ]]; then
        fail "$loop: no report in $reports"
    else
        python3 - "$json" "$sectors" "$size" "$blocks" <<'EOF' || fail "$loop: report $json"
import json, sys
document = json.load(open(sys.argv[1]))
sectors, size, blocks = (int(a) for a in sys.argv[2:])
drive = document["drive"]
assert (drive["sectors"], drive["sector_size"]) == (sectors, size), drive
assert document["blocks"] == blocks, document["blocks"]
assert not document["damaged"], document["damaged"]
EOF
    fi
    run --smart "$loop"
    [[ $status == 2 && $err == *"refused a SMART request"* ]] || fail "$loop --smart: status $status, \"$err\""
    [[ $(sha256sum <"$image") == "$before" ]] || fail "$loop: the image changed"
    [[ $failures == "$failed" ]] && echo "ok   $loop: $sectors sectors of $size bytes, $blocks blocks read"
}

scan_loop 512 20000
scan_loop 4096 3000

# A loop device whose file was cut short after it was attached still says its old size, but reads
# past the new end find nothing: the drive went away there, which is no damage of the blocks after.
truncate -s 8M "$work/cut.img"
attach "$work/cut.img" 512
truncate -s 2M "$work/cut.img"
run --scan "$loop" --reports "$work/cut"
[[ $status == 3 && $out == *"outcome: drive_gone at LBA 4080"* && $out == *"PUNRB 0 UNRB 0"* ]] ||
    fail "$loop cut short: status $status, $out"
python3 -c 'import json, sys; r = json.load(open(sys.argv[1]))
assert (r["outcome"], r["drive_gone_lba"], r["blocks"]) == ("drive_gone", 4080, 16), r' "$work"/cut/*.json ||
    fail "$loop cut short: the report"

[[ $failures == 0 ]] || exit 1
echo "loop_device_test: all checks passed"
