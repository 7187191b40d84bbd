"""The cases of check-terminal at the edges: the clock and the ticker of row 24 over a minute of a
scan; terminals that cannot show the screen (79 x 25, 80 x 24, TERM=dumb); and the real program
without rights, where no drive opens.
"""

import re

import terminal_check
from screen import wait_for
from terminal_check import (TITLE, end_with_f10, exited, expect_clean_exit, expect_colours, fail, last_word, row,
                            row0_is_title, row_of, send_when, shows, start)


# ---------------------------------------------------------------- the clock and the ticker


def check_clock_and_ticker(demo):
    """The clock ticks every second; row 24 changes every 20 s: the banner, the forum line, then,
    while a scan runs, the ESC hint. The worn drive of the built-in scenario scans for about a
    minute, so a scan started at once is running when the hint is due."""
    terminal_check.case_name = "clock and ticker"
    start([demo])
    if not wait_for(row0_is_title, 10):
        fail(f'row 0 does not start with " {TITLE}"')
    send_when("Введите номер", "2")
    send_when("Введите номер", "Enter")
    send_when("Проверка поверхности", "Enter")
    send_when("Начальный LBA", "F4")
    first_clock = last_word(row(0))
    if not wait_for(lambda: last_word(row(0)) != first_clock, 3):
        fail(f"the clock stays at {first_clock}")
    if not row(24).startswith(" Platenhawk (c)"):
        fail(f'row 24 does not show the banner at first: "{row(24)}"')
    if not wait_for(lambda: row(24).startswith(" Посетите форум Quilvex Software: "), 25):
        fail("no forum line on row 24 within 20 s")
    expect_colours(24, "Посетите форум", "97 44", "bright white on blue")
    if not wait_for(lambda: row(24).startswith(" Нажмите [ESC], чтобы прервать проверку поверхности"), 25):
        fail("no ESC hint on row 24 20 s after the forum line, while the scan runs")
    expect_colours(24, "[ESC]", "93 44", "yellow on blue")
    if not wait_for(lambda: row(24).startswith(" Platenhawk (c)"), 25):
        fail("the banner did not follow the ESC hint")
    if not row(24).endswith("[F10] Выход"):
        fail(f'the ticker touched the status bar: "{row(24)}"')
    if not wait_for(lambda: shows("Проверка поверхности завершена!"), 90):
        fail("the scan of the worn drive did not end within 90 s")
    end_with_f10()


# ---------------------------------------------------------------- terminals that cannot show it


def check_too_small(demo):
    """79x25 and 80x24: the failure box, then what to do, on the normal screen."""
    for columns, rows in ((79, 25), (80, 24)):
        terminal_check.case_name = f"{columns}x{rows}"
        start([demo], columns, rows)
        if not wait_for(exited, 10):
            fail("the program did not end")
        expect_clean_exit()
        if not wait_for(lambda: shows("Unable to set 80x25 mode!"), 2):
            fail('no "Unable to set 80x25 mode!" on the screen')
        expect_colours(row_of("Unable to set"), "Unable to set 80x25 mode!", "91 40", "light red on black")
        if not shows("╔═══════════════════════════╗"):
            fail("no frame above the message")
        if not shows("╚═══════════════════════════╝"):
            fail("no frame below the message")
        # The line is longer than the pane is wide: its wrapped rows joined.
        said = terminal_check.pane.text(joined=True).split("\n")
        if f"platenhawk-demo: the terminal is {columns} x {rows}; the screen needs 80 x 25 (columns x rows)" not in said:
            fail("no line saying the terminal's size after the box")
        if "platenhawk-demo: make the window at least 80 x 25; in tmux: tmux set status off" not in said:
            fail("no line saying how to make the terminal 80 x 25")


def check_dumb_terminal(demo):
    terminal_check.case_name = "TERM=dumb"
    start(["env", "TERM=dumb", demo])
    if not wait_for(exited, 10):
        fail("the program did not end")
    if terminal_check.pane.exit_code() != 1:
        fail(f"exit status {terminal_check.pane.exit_code()}, expected 1")
    if not shows("platenhawk-demo: the terminal (TERM=dumb) cannot show the screen"):
        fail("no message")
    if terminal_check.pane.flag("alternate_on") != "0":
        fail("the alternate screen is on")
    if terminal_check.pane.modes("after") is None or terminal_check.pane.modes("before") != terminal_check.pane.modes("after"):
        fail("terminal modes changed")


# ---------------------------------------------------------------- the real program without rights


def check_without_rights(platenhawk):
    terminal_check.case_name = "platenhawk as nobody"
    start(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", platenhawk])
    if not wait_for(lambda: shows("Жесткие диски не определены!"), 10):
        fail('no "Жесткие диски не определены!" without rights')
    expect_colours(3, "Жесткие диски не определены!", "91 40", "light red on black")
    expect_colours(4, "Возможно, отсутствуют права администратора.", "31 40", "red on black")
    if not row(5).startswith("Нажмите [ENTER], чтобы повторить поиск..."):
        fail(f'row 5 is "{row(5)}"')
    end_with_f10()
    # why no drive answered, once the terminal is back
    if not wait_for(lambda: any(re.match("platenhawk: (/dev/|no disk)", line) for line in terminal_check.pane.text().split("\n")), 2):
        fail("no reason why no drive answered after the end")
    if "platenhawk: NO DRIVE ANSWERED. The reason, device by device:" not in terminal_check.pane.text(joined=True).split("\n"):
        fail("no heading over the reasons after the end")
