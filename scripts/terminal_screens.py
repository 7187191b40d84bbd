"""The cases of check-terminal on the program's own screen: the 80 x 25 frame, its title and
colours, a stop and a continue, F10's clean end; the signals that end the program with the
terminal put back; and keys typed while the program is busy, whole sequences the key decoder
takes and terminal replies during a scan.
"""

import os
import re
import signal
import subprocess
import time

import terminal_check
from screen import wait_for
from terminal_check import (TITLE, blocks_read, end_with_f10, exited, expect_clean_exit, expect_colours, fail,
                            glob_match, last_word, panel_count, press_until, program_pid, row, row0_is_title,
                            scanning, scenario, send_when, shows, start, terminal_modes)


# ---------------------------------------------------------------- 80x25: the frame, a stop, F10


def check_frame(demo):
    terminal_check.case_name = "80x25"
    start([demo])
    if not wait_for(row0_is_title, 10):
        fail(f'row 0 does not start with " {TITLE}"')
    if terminal_check.pane.flag("alternate_on") != "1":
        fail("the program does not use the alternate screen")
    if terminal_check.pane.flag("pane_title") != TITLE:
        fail(f'title "{terminal_check.pane.flag("pane_title")}"')
    if exited():
        fail(f"the program ended by itself (status {terminal_check.pane.exit_code()})")

    clock = last_word(row(0))
    if not re.search("[0-9]", clock):
        fail(f'no time of day at the end of row 0: "{row(0)}"')
    expect_colours(0, TITLE, "97 44", "bright white on blue")
    expect_colours(0, clock, "93 44", "yellow on blue")

    row1 = row(1)
    if not glob_match(row1, " Всего LBA: [*] Текущий LBA: [*]            Выполнено: [*%]*"):
        fail(f'row 1 is "{row1}"')
    expect_colours(1, "Всего LBA:", "31 100", "red on dark grey")
    expect_colours(1, "[", "30 100", "black on dark grey")
    expect_colours(1, "Выполнено:", "31 100", "red on dark grey")

    row24 = row(24)
    if not row24.endswith("[F10] Выход"):
        fail(f'row 24 does not end with "[F10] Выход": "{row24}"')
    expect_colours(24, "[F10]", "93 44", "yellow on blue")
    expect_colours(24, "Выход", "97 44", "bright white on blue")

    terminal_check.case_name = "stop and continue"
    pid = program_pid(demo)
    tty = terminal_check.pane.flag("pane_tty")
    before = terminal_check.pane.modes("before")
    raw_modes = terminal_modes(tty)
    if raw_modes == before:
        fail("the program did not set terminal modes of its own")

    def state():
        return subprocess.run(["ps", "-o", "stat=", "-p", str(pid)], capture_output=True, text=True).stdout.strip()

    os.kill(pid, signal.SIGTSTP)
    if not wait_for(lambda: state().startswith("T"), 5):
        fail(f"the program did not stop on SIGTSTP (state {state()})")
    if terminal_modes(tty) != before:
        fail(f"terminal modes while stopped: {terminal_modes(tty)}, not {before} as before")
    if terminal_check.pane.flag("alternate_on") != "0":
        fail("the alternate screen is on while the program is stopped")
    if terminal_check.pane.flag("cursor_flag") != "1":
        fail("the cursor is hidden while the program is stopped")
    if terminal_check.pane.flag("pane_title") != terminal_check.pane.title_before:
        fail(f'the title is "{terminal_check.pane.flag("pane_title")}" while stopped')
    os.kill(pid, signal.SIGCONT)
    if not wait_for(lambda: terminal_check.pane.flag("alternate_on") == "1", 5):
        fail("the alternate screen is not back after SIGCONT")
    if terminal_modes(tty) != raw_modes:
        fail(f"the terminal modes after SIGCONT are {terminal_modes(tty)}")

    # Nothing on this screen changes but the clock: only a repaint in full brings the rest back.
    def whole():
        return row0_is_title() and shows("Введите номер жесткого диска:") and row(24).endswith("[F10] Выход")

    if not wait_for(whole, 5):
        fail("the screen was not drawn again in full after SIGCONT")
    if terminal_check.pane.flag("pane_title") != TITLE:
        fail(f'title "{terminal_check.pane.flag("pane_title")}" after SIGCONT')
    end_with_f10()


# ---------------------------------------------------------------- signals that end the program


def check_fatal_signals(demo):
    """Each ends the program as it would have without a handler (status 128+N from the pane's
    shell), after the terminal is put back."""
    for name, number in (("USR1", signal.SIGUSR1), ("ALRM", signal.SIGALRM), ("RTMIN+3", signal.SIGRTMIN + 3)):
        terminal_check.case_name = "SIG" + name
        start([demo])
        if not wait_for(row0_is_title, 10):
            fail(f'row 0 does not start with " {TITLE}"')
        os.kill(program_pid(demo), number)
        expect_clean_exit(128 + number)


# ---------------------------------------------------------------- keys typed while the program is busy


def check_keys_while_busy(demo):
    """Every key wait and the start of a scan drop the keys typed before them, however they
    arrived; an ESC that arrives while a block is read or re-checked stops the scan before the next
    block."""
    terminal_check.case_name = "keys while busy"
    ini = scenario("input.ini", """\
[drive 0]
model   = INPUT CHECK
sectors = 510000       # 2000 blocks
latency = 1
slow    = 765 1000 11  # block 3: 1000 ms the first time (re-read after a 3 s pause), then 11 ms
""")
    start([demo, ini])
    prompt = "Введите номер жесткого диска:"
    if not wait_for(lambda: shows(prompt), 10):
        fail("no drive number prompt")
    time.sleep(0.3)
    # A control sequence longer than any key's is one key no one answers to: none of its digits is typed.
    terminal_check.pane.send_bytes(b"\x1b[" + b"1" * 40 + b"~1")
    if not wait_for(lambda: shows(prompt + " 1"), 10):
        fail("the drive number was not typed")
    time.sleep(0.3)
    typed = "\n".join(line.rstrip(" ") for line in terminal_check.pane.text().split("\n") if prompt in line)
    if not typed:
        fail("no drive number prompt")
    if typed != prompt + " 1":
        fail(f'the long sequence typed digits: "{typed}"')
    terminal_check.pane.send("Enter")
    if not wait_for(lambda: shows("[ENTER] Продолжить"), 10):
        fail("no main menu")
    time.sleep(0.3)
    # ESC 20 ms after ENTER, in the 70 ms pause before the scan settings are shown: dropped.
    terminal_check.pane.send_apart("Enter", 0.02, "Escape")
    if not wait_for(lambda: shows("[F4] Начать"), 5):
        fail("no scan settings after ENTER")
    time.sleep(0.5)
    if not shows("[F4] Начать"):
        fail("ESC typed in the pause after ENTER in the menu closed the scan settings")

    # ESC during the re-check pause of block 3: the scan stops before block 4.
    terminal_check.pane.send("F4")
    if not wait_for(lambda: scanning() and blocks_read() == 3, 10):
        fail("the first three blocks were not read")
    time.sleep(2)  # block 3 is read for 1 s, then again after 3 s
    terminal_check.pane.send("Escape")
    if not wait_for(lambda: shows("Нажмите [ENTER] для продолжения..."), 10):
        fail("the scan did not end")
    if not shows("Прервано пользователем."):
        fail("ESC typed during the re-check pause did not stop the scan")
    if blocks_read() != 4 or panel_count(8) != "1":
        fail(f"the scan read on after the slow block: {blocks_read()} blocks read, {panel_count(8)} of them >300ms")
    if not row(5).startswith("░░░█ "):
        fail(f'the map does not end after the slow block: "{row(5)}"')

    # ESC during "Пожалуйста, подождите..." (1.2 s before the scan starts): dropped.
    # The closing prompt drops what was typed in the 400 ms before it waits: ENTER until it is taken.
    press_until("Enter", lambda: shows("[ENTER] Продолжить"))
    send_when("[ENTER] Продолжить", "Enter")
    send_when("[F4] Начать", "F4")
    if not wait_for(lambda: shows("Пожалуйста, подождите..."), 10):
        fail('no "Пожалуйста, подождите..." before the scan')
    terminal_check.pane.send("Escape")
    # Replies of the terminal while the scan runs (an OSC and a DCS string) are no keys.
    if not wait_for(scanning, 10):
        fail("the scan did not start")
    terminal_check.pane.send_bytes(b"\x1b]11;rgb:0000/0000/0000\x07\x1bP1$r0m\x1b\\")
    if not wait_for(lambda: shows("Нажмите [ENTER] для продолжения..."), 20):
        fail("the scan did not end")
    if not shows("Проверка поверхности завершена!"):
        fail("the scan was stopped: by the ESC typed before it started or by a terminal reply")
    if blocks_read() != 2000:
        fail(f"{blocks_read()} of 2000 blocks read")
    # F10 right after ESC [ [ ends the program: the ESC of F10 ends the console's prefix.
    end_with_f10(before=b"\x1b[[")
