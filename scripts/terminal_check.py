"""What every case of check-terminal shares: the pane of the case being run (started afresh by
start), the case's name for the FAIL line, the temporary folder of the run, and the helpers that
read the pane (rows, text, colours, the latency counters of the panel), send keys to it when
something shows, and check how the program left the terminal.
"""

import re
import subprocess
import time
from pathlib import Path

import screen
from screen import wait_for

ROOT = Path(__file__).resolve().parent.parent
TITLE = "Quilvex Platenhawk v0.6"


class Failed(Exception):
    pass


case_name = ""
pane = None
work = Path()


def fail(message):
    raise Failed(message)


def start(command, columns=80, rows=25):
    """The program in a fresh pane of the given size; the previous pane's server is ended."""
    global pane
    if pane:
        pane.close()
    pane = screen.Pane("ph", command, work, (columns, rows))
    size = pane.tmux("display", "-p", "-t", "ph", "#{pane_width}x#{pane_height}").strip()
    if size != f"{columns}x{rows}":
        fail(f"the pane is {size}, not {columns}x{rows}")


def row(y):
    return pane.row(y)


def shows(text):
    return text in pane.text()


def exited():
    return pane.exit_code() is not None


def last_word(text):
    words = text.split()
    return words[-1] if words else ""


def row0_is_title():
    return row(0).startswith(" " + TITLE)


def glob_match(text, pattern):
    """Whether `text` matches `pattern`, whose only wildcard is *."""
    return re.fullmatch(".*".join(re.escape(part) for part in pattern.split("*")), text, re.S) is not None


def send_when(text, key):
    if not wait_for(lambda: shows(text), 10):
        fail(f'"{text}" did not appear')
    time.sleep(0.3)
    pane.send(key)


def press_until(key, condition, before=b""):
    """Every key wait flushes what was typed before it: `key` (after the bytes `before`) is pressed
    until `condition` holds, ten times at most."""
    for _ in range(10):
        if before:
            pane.send_bytes(before)
        pane.send(key)
        if wait_for(condition, 1):
            return True
    return False


def until_menu():
    if not press_until("Enter", lambda: shows("[ENTER] Продолжить")):
        fail("no main menu after ENTER")


def colours_at(y, text):
    """The colours ("FG BG" as SGR numbers) where `text` first begins on row `y`; "missing" when
    the row does not hold it."""
    plain = row(y) if y is not None else ""
    if text not in plain:
        return "missing"
    return pane.capture()[y][plain.index(text)].sgr()


def expect_colours(y, text, colours, what):
    got = colours_at(y, text)
    if got != colours:
        fail(f'row {y}, "{text}": {what} expected (SGR {colours}), got {got}')


def row_of(text):
    """The first row holding `text`, or None."""
    return next((y for y, line in enumerate(pane.text().split("\n")) if text in line), None)


def expect_clean_exit(status=0):
    if not wait_for(exited, 10):
        fail("the program did not end")
    if pane.exit_code() != status:
        fail(f"exit status {pane.exit_code()}, expected {status}")
    if not wait_for(lambda: pane.modes("after") is not None, 5):
        fail("the pane did not record the terminal modes")
    if pane.modes("before") != pane.modes("after"):
        fail(f"terminal modes changed: {pane.modes('before')} -> {pane.modes('after')}")
    if pane.flag("alternate_on") != "0":
        fail("the alternate screen is still on")
    if pane.flag("cursor_flag") != "1":
        fail("the cursor is still hidden")
    if pane.flag("pane_title") != pane.title_before:
        fail(f'the title is "{pane.flag("pane_title")}", not "{pane.title_before}" as before')


def end_with_f10(before=b""):
    press_until("F10", exited, before)
    expect_clean_exit()


def program_pid(demo):
    """The program: the child of the pane's shell."""
    found = subprocess.run(["pgrep", "-P", pane.flag("pane_pid"), "-x", demo.name[:15]], capture_output=True,
                           text=True)
    if found.returncode != 0:
        fail("the program's process was not found")
    return int(found.stdout.split()[0])


def terminal_modes(tty):
    return subprocess.run(["stty", "-F", tty, "-g"], capture_output=True, text=True, check=True).stdout.strip()


def scenario(name, text):
    path = work / name
    path.write_text(text)
    return path


def steady_drive(name, serial, blocks, ms):
    """A scenario of one drive of `blocks` blocks of 255 sectors, each read in `ms` milliseconds."""
    return scenario(name, f"[drive 0]\nserial  = {serial}\nsectors = {blocks * 255}\nlatency = {ms}\n")


def panel_count(y):
    return last_word(row(y))


def blocks_read():
    """The counts of the six latency classes added up (a read of 1 ms may take longer here and
    there); None while one of them is no number."""
    counts = [panel_count(y) for y in range(3, 9)]
    return sum(int(c) for c in counts) if all(c.isdigit() for c in counts) else None


def scanning():
    return panel_count(3).isdigit()
