"""The cases of check-terminal on what scans leave: with --reports, the files of a scan and a
SMART table and the lines naming them at F10; SIGHUP mid-scan and the pane closed mid-scan, which
still write the stopped scan's report; and --scan on a terminal, its progress one line redrawn in
place.
"""

import glob
import json
import os
import re
import signal
import struct
import subprocess
import sys
import time
import zlib

import terminal_check
from screen import wait_for
from terminal_check import (ROOT, end_with_f10, exited, expect_clean_exit, fail, program_pid, scanning, scenario,
                            send_when, shows, start, steady_drive, until_menu)


# ---------------------------------------------------------------- reports


def start_scan(command):
    """The program started, drive 1 chosen and its scan started with the settings as they are."""
    start(command)
    send_when("Введите номер жесткого диска:", "1")
    send_when("Введите номер жесткого диска: 1", "Enter")
    send_when("[ENTER] Продолжить", "Enter")
    send_when("[F4] Начать", "F4")


def check_report_files(folder):
    """The reports of the scan and the SMART table: JSON, the damaged blocks, the surface CSV and
    a picture of the size the JSON states."""
    scan = json.load(open(glob.glob(folder + "/*-RC_0001-scan.json")[0]))
    assert scan["outcome"] == "completed" and scan["verdict"] == "damaged", scan
    assert [b["lba"] for b in scan["damaged"]] == [765, 29835], scan["damaged"]
    assert open(glob.glob(folder + "/*-RC_0001-scan-damaged.txt")[0]).read() == "765\n29835\n"
    surface = open(glob.glob(folder + "/*-RC_0001-scan-surface.csv")[0]).read().splitlines()
    assert surface[0] == "first_lba,last_lba,blocks,read,worst_class,mean_ms,max_ms,mb_s", surface[0]
    worst = [line.split(",")[4] for line in surface[1:] if line.split(",")[4] in ("punrb", "unrb")]
    assert worst == ["unrb", "punrb"], surface
    smart = json.load(open(glob.glob(folder + "/*-RC_0001-smart.json")[0]))
    assert smart["ok"] and [a["id"] for a in smart["attributes"]] == [5, 9], smart
    png = open(glob.glob(folder + "/*-RC_0001-scan.png")[0], "rb").read()
    assert png[:8] == b"\x89PNG\r\n\x1a\n"
    at, data, size = 8, b"", None
    while at < len(png):
        length, kind = struct.unpack(">I4s", png[at:at + 8])
        body = png[at + 8:at + 8 + length]
        assert struct.unpack(">I", png[at + 8 + length:at + 12 + length])[0] == zlib.crc32(kind + body), kind
        if kind == b"IHDR":
            size = struct.unpack(">II", body[:8])
            assert body[8:10] == b"\x08\x02", "8-bit RGB"
        elif kind == b"IDAT":
            data += body
        at += 12 + length
    assert size == (scan["picture"]["width"], scan["picture"]["height"]), (size, scan["picture"])
    assert len(zlib.decompress(data)) == size[1] * (1 + 3 * size[0]), "the pixels do not fill the picture"


def check_stopped_scan_report(folder):
    """The report of the scan of hangup.ini stopped part of the way, and no temporary file."""
    names = sorted(os.listdir(folder))
    assert [n[n.index("-HANGUP-"):] for n in names] == [
        "-HANGUP-scan-surface.csv", "-HANGUP-scan.json", "-HANGUP-scan.map", "-HANGUP-scan.png"], names
    scan = json.load(open(os.path.join(folder, names[1])))
    assert scan["outcome"] == "stopped" and 0 < scan["blocks"] < 1000, scan


def holds(check, folder):
    """Whether `check(folder)` passes; why not on the standard error."""
    try:
        check(str(folder))
        return True
    except Exception as problem:  # an assertion, a missing file, a JSON error: all say the same
        print(f"check-terminal: {check.__name__}: {problem!r}", file=sys.stderr)
        return False


def check_reports(demo):
    """With --reports, a scan and a SMART table leave their files, and F10 names them once the
    terminal is back: JSON that matches its schema, the damaged blocks, and a picture of the size
    the JSON states."""
    terminal_check.case_name = "reports"
    ini = scenario("reports.ini", """\
[drive 0]
model      = REPORT CHECK
serial     = RC/0001
sectors    = 51000     # 200 blocks
unreadable = 1000
partial    = 30001
attribute  = 5 100 100 3 36
attribute  = 9 91 91 8114 0
""")
    reports = terminal_check.work / "reports"
    start_scan([demo, ini, "--reports", reports])
    if not wait_for(lambda: shows("Проверка поверхности завершена!"), 20):
        fail("the scan did not end")
    until_menu()
    send_when("[ENTER] Продолжить", "Down")
    send_when("[ENTER] Продолжить", "Enter")
    if not wait_for(lambda: shows("Threshold"), 10):
        fail("no SMART table")
    until_menu()
    end_with_f10()
    said = [line for line in terminal_check.pane.text(joined=True).split("\n") if line.startswith("report: ")]
    expected = sorted(f"report: {reports}/{name}" for name in os.listdir(reports) if not name.startswith("."))
    if sorted(said) != expected or len(said) != 6:
        fail(f'the report lines "{chr(10).join(said)}" do not name the files "{chr(10).join(expected)}"')
    if not holds(check_report_files, reports):
        fail("the report files are not what they should be")
    valid = subprocess.run([sys.executable, ROOT / "tests" / "validate_reports.py", ROOT / "docs" / "schemas", reports],
                           stdout=subprocess.PIPE, text=True)
    if valid.returncode != 0:
        fail(f"the reports do not match their schemas: {valid.stdout.strip()}")


def check_hangups(demo):
    """SIGHUP mid-scan: the scan stops, its report says so, the terminal is put back and the signal
    ends the program; no temporary file is left in the folder. Then the pane closed mid-scan: the
    terminal hangs up and SIGHUP comes too; the report is written all the same before the program
    ends."""
    terminal_check.case_name = "SIGHUP mid-scan with reports"
    ini = steady_drive("hangup.ini", "HANGUP", 1000, 10)  # 10 s of reads
    reports = terminal_check.work / "hangup-reports"
    start_scan([demo, ini, "--reports", reports])
    if not wait_for(scanning, 10):
        fail("the scan did not start")
    time.sleep(1)
    os.kill(program_pid(demo), signal.SIGHUP)
    expect_clean_exit(129)
    if not holds(check_stopped_scan_report, reports):
        fail(f"no report of the stopped scan, or a temporary file left: {' '.join(sorted(os.listdir(reports)))}")

    reports = terminal_check.work / "closed-reports"
    start_scan([demo, ini, "--reports", reports])
    if not wait_for(scanning, 10):
        fail("the scan did not start")
    time.sleep(1)
    pid = program_pid(demo)
    terminal_check.pane.tmux("kill-server")

    def gone():
        try:
            os.kill(pid, 0)
            return False
        except ProcessLookupError:
            return True

    if not wait_for(gone, 10):
        fail("the program did not end when its pane was closed")
    if not holds(check_stopped_scan_report, reports):
        fail(f"no report of the scan stopped by closing the pane: {' '.join(sorted(os.listdir(reports)))}")


# ---------------------------------------------------------------- an unattended scan on a terminal


def check_unattended_scan(demo):
    """On a terminal the progress of --scan is one line redrawn in place, the summary follows it."""
    terminal_check.case_name = "--scan on a terminal"
    ini = steady_drive("long.ini", "PROGRESS", 300, 10)  # 3 s of reads
    start([demo, ini, "--scan", "1"])
    if not wait_for(exited, 20):
        fail("the scan did not end")
    if terminal_check.pane.exit_code() != 0:
        fail(f"exit status {terminal_check.pane.exit_code()}, expected 0")
    text = terminal_check.pane.text().rstrip("\n")
    progress = [line for line in text.split("\n") if "% LBA " in line]
    if len(progress) != 1:
        fail(f"the progress is not one line redrawn in place: {text}")
    whole_scan = r"100% LBA 76500 [0-9.]+ MB/s 0:00:00 left [0-9]+(/[0-9]+){5} PUNRB 0 UNRB 0"
    if not any(re.fullmatch(whole_scan, line) for line in text.split("\n")):
        fail(f"the last progress line is not the whole scan's: {chr(10).join(progress)}")
    if "verdict: healthy" not in text.split("\n"):
        fail("no summary after the progress line")
