#!/usr/bin/env bash
# platenhawk-demo refuses a faulty scenario file before it touches the terminal: the message as
# FILE:LINE: text (FILE: text, and what to do, for a file that cannot be read) on standard error,
# nothing on standard output, exit status 2.
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
hint=" (name a scenario file, or none for the built-in scenario)"
[[ $(cat "$work/err") == "$work/missing.ini: cannot read the scenario file: No such file or directory$hint" ]] ||
    fail "message: $(cat "$work/err")"

# refused FILE MESSAGE WHAT: the demo on FILE ends at once with status 2 and MESSAGE on standard
# error; a demo that still runs after 5 s (blocked in open(), reading an endless file) fails.
refused() {
    local status
    timeout -k 2 5 "$demo" "$1" </dev/null >"$work/out" 2>"$work/err"
    status=$?
    [[ $status != 124 && $status != 137 ]] || fail "$3: still running after 5 s"
    [[ $status == 2 ]] || fail "$3: status $status"
    [[ $(cat "$work/err") == "$2" ]] || fail "$3: message $(cat -v "$work/err")"
    [[ ! -s $work/out ]] || fail "$3: wrote to standard output: $(od -c "$work/out" | head -3)"
}

refused /dev/zero "/dev/zero: cannot read the scenario file: not a regular file$hint" "/dev/zero"
mkfifo "$work/fifo"
refused "$work/fifo" "$work/fifo: cannot read the scenario file: not a regular file$hint" "a FIFO"
refused "$work" "$work: cannot read the scenario file: it is a directory$hint" "a directory"
truncate -s $((16 * 1024 * 1024 + 1)) "$work/big.ini"
refused "$work/big.ini" "$work/big.ini: cannot read the scenario file: larger than 16 MiB$hint" "a file over 16 MiB"
printf '[drive 0]\nimage = %s\n' "$work/fifo" >"$work/fifo-image.ini"
refused "$work/fifo-image.ini" "$work/fifo-image.ini:2: image $work/fifo is neither a file nor a block device" \
    "a FIFO as image"
printf '[drive 0]\nsectors = 5\n\033]2;owned\007 = 1\n' >"$work/title.ini"
refused "$work/title.ini" "$work/title.ini:3: unknown key \\x1b]2;owned\\x07" "control bytes in a message"

# A block device as image: its logical sector size is the drive's.
head -c $((4096 * 64)) /dev/zero >"$work/disk4k.img"
if loop=$(losetup --sector-size 4096 -f --show "$work/disk4k.img" 2>"$work/losetup.err"); then
    trap 'losetup -d "$loop"; rm -rf "$work"' EXIT
    printf '[drive 0]\nimage = %s\nsector_size = 512\n' "$loop" >"$work/loop.ini"
    refused "$work/loop.ini" "$work/loop.ini:3: sector_size 512 contradicts image $loop, whose sectors are 4096 bytes" \
        "a 512-byte sector_size on a 4096-byte device"
    printf '[drive 0]\nimage = %s\nsectors = 65\n' "$loop" >"$work/loop.ini"
    refused "$work/loop.ini" "$work/loop.ini:2: image $loop is 262144 bytes, shorter than 65 sectors of 4096 bytes" \
        "more sectors than the device holds"
else
    echo "SKIP: block device as image: losetup not permitted here: $(cat "$work/losetup.err")"
fi

"$demo" a b >/dev/null 2>"$work/err"
status=$?
[[ $status == 2 ]] || fail "status $status for two arguments"
[[ $(cat "$work/err") == "platenhawk-demo: unexpected argument b (try --help)" ]] || fail "message: $(cat "$work/err")"
echo "demo command line: ok"
