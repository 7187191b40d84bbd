#!/usr/bin/env bash
# fleet_test.sh BUILD: the fleet playbook as the package installs it (cmake --install BUILD into a
# prefix: share/doc/platenhawk/examples/fleet, bin/platenhawk-demo), run from a folder of the
# user's against its two demo hosts on this machine, with the local connection and the installed
# platenhawk-demo, found on the PATH, standing in for platenhawk: every listed disk of every host
# is scanned once, the hosts in parallel and the disks of a host one after another; the reports
# are fetched to reports/HOST/ in the current folder and nothing is written into the installed
# tree; the table is printed and kept; disks that are slow, damaged or fail do not fail the run.
# The fetched reports of all runs so far give each disk's trend. A second run has a host without the program, one without disks and a scan that is stopped:
# the table is printed all the same and the hosts without a result fail.
# Exits 77 (skipped) when ansible-playbook is not installed.
set -u
build=$(realpath "${1:-}")
if [[ ! -f $build/CMakeCache.txt ]]; then
    echo "usage: fleet_test.sh BUILD-FOLDER" >&2
    exit 2
fi
tests=$(cd "$(dirname "$0")" && pwd) || exit 1
if ! command -v ansible-playbook >/dev/null; then
    echo "ansible-playbook is not installed (Debian package ansible-core): the fleet test is skipped"
    exit 77
fi
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

cmake --install "$build" --prefix "$work/usr" >"$work/install.log" 2>&1 || {
    echo "FAIL: cmake --install: $(cat "$work/install.log")" >&2
    exit 1
}
fleet=$work/usr/share/doc/platenhawk/examples/fleet
demo=$work/usr/bin/platenhawk-demo
touch "$work/installed"

# Ansible keeps to $work: no configuration but this one, no files under ~/.ansible, no host keys,
# no retry files.
for variable in ${!ANSIBLE_@}; do unset "$variable"; done
touch "$work/ansible.cfg" "$work/started"
export ANSIBLE_CONFIG=$work/ansible.cfg ANSIBLE_HOME=$work/ansible ANSIBLE_LOCAL_TEMP=$work/ansible/tmp \
    ANSIBLE_REMOTE_TEMP=$work/ansible/remote-tmp ANSIBLE_ASYNC_DIR=$work/ansible/async \
    ANSIBLE_COLLECTIONS_PATH=$work/ansible/collections ANSIBLE_SSH_CONTROL_PATH_DIR=$work/ansible/cp \
    ANSIBLE_HOST_KEY_CHECKING=False ANSIBLE_RETRY_FILES_ENABLED=False ANSIBLE_NOCOLOR=1

# The program the playbook runs: the installed demo, with each start and end noted in $work/calls,
# first on the PATH under the installed demo's name.
mkdir "$work/bin" "$work/run"
cat >"$work/bin/platenhawk-demo" <<EOF
#!/usr/bin/env bash
echo "start \$(date +%s.%N) \$*" >>"$work/calls"
"$demo" "\$@"
status=\$?
echo "end \$(date +%s.%N) \$status \$*" >>"$work/calls"
exit \$status
EOF
chmod +x "$work/bin/platenhawk-demo"

# ---------------------------------------------------------------- two hosts, seven disks

# An earlier run's report of host-b's disk 2 from before its block went bad, under reports/: its
# trend is failing; that of the disks with one scan is their SMART status after it.
sed '/^unreadable = 1000-1001/d' "$fleet/demo/host-b.ini" >"$work/earlier.ini"
"$demo" "$work/earlier.ini" --scan 2 --reports "$work/run/reports/earlier/host-b" >/dev/null 2>&1 ||
    fail "the earlier scan of host-b's disk 2 failed"
# The history is read by the installed demo itself, not the wrapper that notes the hosts' calls.
(cd "$work/run" && PATH=$work/bin:$PATH ansible-playbook -i "$fleet/demo/inventory.yml" "$fleet/scan.yml" \
    -e "history_program=$demo") >"$work/log" 2>&1
status=$?
written=$(find "$work/usr" -newer "$work/installed")
[[ -z $written ]] || fail "wrote into the installed tree: $written"
[[ $status == 0 ]] || fail "ansible-playbook ended with status $status: $(cat "$work/log")"

# Each host listed its disks once and scanned each listed disk once (not host-a's disk 4, which
# does not answer), one at a time, while the other host scanned too.
python3 - "$work/calls" "$fleet/demo" <<'EOF' || fail "the calls of the program: $(cat "$work/calls")"
import re, sys
calls, demo = sys.argv[1], sys.argv[2]
starts, spans = {}, {}
for line in open(calls):
    what, time, rest = line.split(" ", 2)
    if what == "end":
        status, rest = rest.split(" ", 1)
    host = re.search(r"host-(\w)\.ini", rest).group(1)
    command = rest.replace(f"{demo}/host-{host}.ini ", "").split(" --reports")[0].strip()
    key = (host, command)
    if what == "start":
        assert key not in starts, f"{key} started twice"
        starts[key] = float(time)
    else:
        spans[key] = (starts[key], float(time), int(status))
expected = {
    ("a", "--list --json"): 0, ("a", "--scan 1"): 1, ("a", "--scan 2"): 2, ("a", "--scan 3"): 0,
    ("a", "--scan 5"): 3, ("b", "--list --json"): 0, ("b", "--scan 1"): 1, ("b", "--scan 2"): 3,
    ("b", "--scan 3"): 0,
    ("a", "--smart 1 --json"): 0, ("a", "--smart 2 --json"): 0, ("a", "--smart 3 --json"): 0,
    ("a", "--smart 5 --json"): 1, ("b", "--smart 1 --json"): 3, ("b", "--smart 2 --json"): 0,
    ("b", "--smart 3 --json"): 0}
assert {key: span[2] for key, span in spans.items()} == expected, spans
for host in "ab":
    scans = sorted(span for key, span in spans.items() if key[0] == host and "--scan" in key[1])
    for earlier, later in zip(scans, scans[1:]):
        assert earlier[1] <= later[0], f"host-{host} scanned two disks at once: {scans}"
a, b = spans[("a", "--scan 1")], spans[("b", "--scan 1")]
assert a[0] < b[1] and b[0] < a[1], f"the hosts took turns: {a} {b}"
EOF

# The reports of every scan that ran, fetched to reports/HOST/ and left in the hosts' folders.
python3 - "$work/run/reports" <<'EOF' || fail "the fetched reports: $(ls -R "$work/run")"
import json, os, re, sys
reports = sys.argv[1]
expected = {
    "host-a": {"DSA001": ("slow", []), "DHA003": ("healthy", []), "DDA005": ("damaged", [255, 1785])},
    "host-b": {"DSB001": ("slow", []), "DHB003": ("healthy", []), "DDB002": ("damaged", [765])},
}
for host, drives in expected.items():
    fetched = sorted(os.listdir(f"{reports}/{host}"))
    names = sorted(re.sub(r"^\d{8}-\d{6}-", "", name) for name in fetched)
    wanted = sorted(f"{serial}-scan{end}" for serial, (verdict, _) in drives.items()
                    for end in [".json", ".map", ".png", "-surface.csv"] + (["-damaged.txt"] if verdict == "damaged" else []))
    assert names == wanted, f"{host}: {fetched}"
    assert sorted(os.listdir(f"{reports}/demo-hosts/{host}")) == fetched, f"{host}: not as on the host"
    for name in fetched:
        copy, original = f"{reports}/{host}/{name}", f"{reports}/demo-hosts/{host}/{name}"
        assert open(copy, "rb").read() == open(original, "rb").read(), f"{host}/{name} differs from the host's"
        if name.endswith(".json"):
            report = json.load(open(copy))
            verdict, damaged = drives[report["drive"]["serial"]]
            assert report["outcome"] == "completed" and report["verdict"] == verdict, f"{host}/{name}: {report}"
            assert [block["lba"] for block in report["damaged"]] == damaged, f"{host}/{name}: {report}"
EOF

# The table, kept as reports/summary.txt and printed once at the end of the run.
expected="host    disk  device  model           serial  verdict  status  damaged  smart    trend    note
host-a  1     sim:0   DEMO SLOW A     DSA001  slow     1       0        ok       ok
host-a  2     sim:1   -               -       failed   2       -        ok       -        platenhawk-demo: drive 2 (sim:1) tells no capacity
host-a  3     sim:2   DEMO HEALTHY A  DHA003  healthy  0       0        ok       ok
host-a  5     sim:4   DEMO DAMAGED A  DDA005  damaged  3       2        warning  warning
host-b  1     sim:0   DEMO SLOW B     DSB001  slow     1       0        failing  failing
host-b  2     sim:1   DEMO DAMAGED B  DDB002  damaged  3       1        ok       failing
host-b  3     sim:2   DEMO HEALTHY B  DHB003  healthy  0       0        ok       ok"
summary=$(cat "$work/run/reports/summary.txt" 2>&1)
[[ $summary == "$expected" ]] || fail "summary.txt: $summary"
printed() {  # the lines of the printed table, from the log of a run
    python3 -c '
import json, re, sys
log = open(sys.argv[1]).read()
tables = re.findall(r"TASK \[Print the table\].*?\n(.*?=> (\{.*?\n\}))", log, re.S)
assert len(tables) == 1, f"printed {len(tables)} times"
print("\n".join(json.loads(tables[0][1])["msg"]))' "$1"
}
[[ $(printed "$work/log") == "$expected" ]] || fail "printed table: $(printed "$work/log" 2>&1)"

# ---------------------------------------------------------------- hosts and disks without a verdict

# host-c lacks the program, host-d has no disk that answers, and on host-e the scan of disk 1 is
# stopped (as by Ctrl+C on the host) and disk 2 is scanned after it.
printf '[drive 0]\nsectors = 100\nanswers = no\n' >"$work/none.ini"
cat >"$work/stopped.ini" <<'EOF'
[drive 0]
model = LONG ONE
serial = L1
sectors = 255000
latency = 20

[drive 1]
model = SHORT TWO
serial = S2
sectors = 255
EOF
cat >"$work/stopping" <<EOF
#!/usr/bin/env bash
"$demo" "\$@" 2>"$work/stopping.err" &
pid=\$!
if [[ " \$* " == *" --scan 1 "* ]]; then
    for ((i = 0; i < 100; ++i)); do
        grep -qs '%' "$work/stopping.err" && break
        sleep 0.1
    done
    kill -INT \$pid
fi
wait \$pid
status=\$?
cat "$work/stopping.err" >&2
exit \$status
EOF
chmod +x "$work/stopping"
cat >"$work/inventory.yml" <<EOF
all:
  vars:
    ansible_connection: local
    ansible_python_interpreter: "{{ ansible_playbook_python }}"
    platenhawk_become: false
    remote_reports: $work/remote/{{ inventory_hostname }}
    local_reports: $work/reports-2
    history_program: $demo
    scan_poll: 1
  hosts:
    host-c:
      platenhawk_program: $work/not-installed
    host-d:
      platenhawk_program: $demo
      platenhawk_args: [$work/none.ini]
    host-e:
      platenhawk_program: $work/stopping
      platenhawk_args: [$work/stopped.ini]
EOF
ansible-playbook -i "$work/inventory.yml" "$fleet/scan.yml" >"$work/log-2" 2>&1
status=$?
# host-c and host-d failed: Ansible's status 2, and the table all the same.
[[ $status == 2 ]] || fail "a host without the program: status $status, expected 2: $(cat "$work/log-2")"
grep -qE "^host-c +: .* failed=1 " "$work/log-2" && grep -qE "^host-d +: .* failed=1 " "$work/log-2" &&
    grep -qE "^host-e +: .* failed=0 " "$work/log-2" || fail "the hosts that failed: $(tail -5 "$work/log-2")"
expected="host    disk  device  model      serial  verdict  status  damaged  smart  trend  note
host-c  -     -       -          -       -        -       -        -      -      no result: [Errno 2] No such file or directory: b'$work/not-installed'
host-d  -     -       -          -       -        -       -        -      -      no disks found: platenhawk-demo: sim:0: does not answer the version request (answers = no)
host-e  1     sim:0   LONG ONE   L1      stopped  130     0        ok     ok
host-e  2     sim:1   SHORT TWO  S2      healthy  0       0        ok     ok"
[[ $(printed "$work/log-2") == "$expected" ]] || fail "printed table: $(printed "$work/log-2" 2>&1)"
summary=$(cat "$work/reports-2/summary.txt" 2>&1)
[[ $summary == "$expected" ]] || fail "summary.txt: $summary"
python3 - "$work/reports-2/host-e" <<'EOF' || fail "the reports of host-e: $(ls -R "$work/reports-2")"
import glob, json, sys
[stopped] = glob.glob(f"{sys.argv[1]}/*-L1-scan.json")
[healthy] = glob.glob(f"{sys.argv[1]}/*-S2-scan.json")
assert json.load(open(stopped))["outcome"] == "stopped"
assert json.load(open(healthy))["verdict"] == "healthy"
EOF

# Every report fetched in both runs matches its JSON Schema.
python3 "$tests/validate_reports.py" "$work/usr/share/doc/platenhawk/schemas" "$work/run/reports" "$work/reports-2" \
    >"$work/valid" || fail "fetched reports that do not match their schemas: $(cat "$work/valid")"

written=$(find ~/.ansible -newer "$work/started" 2>/dev/null)
[[ -z $written ]] || fail "wrote to ~/.ansible: $written"

((failures == 0)) && echo "fleet playbook: ok"
exit $((failures > 0))
