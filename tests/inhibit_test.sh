#!/usr/bin/env bash
# A scan keeps the system awake: against a mock logind (python3-dbusmock's logind template) on a
# private system bus this test starts, the demo's unattended scan holds a "sleep:idle" inhibitor
# in "block" mode while it runs and none once it has ended. With logind gone from the bus, and
# with no bus at all, the scan ends as usual, with one note in its summary. Skipped, with a line,
# where python3-dbusmock or dbus-daemon is not installed.
set -u
demo=$1
python=/usr/bin/python3  # Debian's, which Debian's python3-dbusmock is for
[[ -x $python ]] || python=python3
"$python" -c 'import dbusmock' 2>/dev/null && command -v dbus-daemon >/dev/null || {
    echo "skipped: python3-dbusmock and dbus-daemon are needed"
    exit 77
}
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait; rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

dbus-daemon --session --nofork --nopidfile --address="unix:path=$work/bus" 2>"$work/bus.log" &
pids+=($!)
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/bus
"$python" -m dbusmock --system --template logind >"$work/mock.log" 2>&1 &
mock=$!
pids+=($mock)
# inhibitors: logind's inhibitors as "what|who|why|mode" lines; fails while logind is not there.
inhibitors() {
    "$python" -c 'import dbus
m = dbus.SystemBus().get_object("org.freedesktop.login1", "/org/freedesktop/login1")
for i in m.ListInhibitors(dbus_interface="org.freedesktop.login1.Manager"): print("|".join(map(str, i[:4])))' 2>/dev/null
}
for ((i = 0; i < 100; ++i)); do
    inhibitors >/dev/null && break
    sleep 0.1
done
inhibitors >/dev/null || fail "the mock logind did not start: $(cat "$work/mock.log")"

printf '[drive 0]\nserial = AWAKE\nsectors = 51000\nlatency = 20\n' >"$work/slow.ini"  # 200 blocks, 4 s
"$demo" "$work/slow.ini" --scan 1 --no-recheck >"$work/out" 2>/dev/null &
scan=$!
seen=
for ((i = 0; i < 100; ++i)); do
    seen=$(inhibitors)
    [[ -n $seen ]] && break
    sleep 0.05
done
wait $scan
status=$?
[[ $seen == "sleep:idle|platenhawk|surface scan of sim:0|block" ]] || fail "during the scan: \"$seen\""
# A busy machine may make a block slow (status 1); the scan's verdict is not what is tested here.
[[ $status -le 1 && -z $(inhibitors) ]] || fail "after the scan: status $status, \"$(inhibitors)\""
! grep -q '^note: ' "$work/out" || fail "a note with logind there: $(cat "$work/out")"

printf '[drive 0]\nserial = QUICK\nsectors = 510\n' >"$work/quick.ini"
kill "$mock"
wait "$mock" 2>/dev/null
for bus in "unix:path=$work/bus" "unix:path=$work/none"; do
    DBUS_SYSTEM_BUS_ADDRESS=$bus timeout 60 "$demo" "$work/quick.ini" --scan 1 --no-recheck >"$work/out" 2>/dev/null
    status=$?
    notes=$(grep -c '^note: the system was not kept from sleeping: ' "$work/out")
    [[ $status -le 1 && $notes == 1 && $(grep -c '^outcome: completed$' "$work/out") == 1 ]] ||
        fail "no logind on $bus: status $status, $(cat "$work/out")"
done

((failures == 0)) && echo "inhibitor: ok"
exit $((failures > 0))
