"""The screen driver of the tmux suites (check-terminal, check-wine): a program in a tmux pane of a
given size, the keys sent to it, its screen read back as a grid of cells with their colours, and
waits for a condition or a settled screen.

Each pane has a tmux server of its own (a new one on a socket just closed can fail). The pane's
shell waits for the driver to read the title from before the program, records the terminal modes
(stty -g) before and after the program and its exit status in files, then stays, so that the
screen can still be read after the end. The status comes from that file rather than from tmux's
dead pane, whose status can come late.
"""

import os
import re
import shlex
import subprocess
import time
from itertools import count
from pathlib import Path

_panes = count(1)


def wait_for(condition, seconds):
    """Tries `condition()` every 0.1 s, seconds x 10 times; whether it held. Tries rather than a
    deadline: on a loaded machine the slow tries lengthen the wait instead of cutting it short."""
    for _ in range(round(seconds * 10)):
        if condition():
            return True
        time.sleep(0.1)
    return False


# ---------------------------------------------------------------- cells and colours


class Cell:
    """A character and its colours: a palette number (0-7 normal, 8-15 bright, up to 255) or None
    for the terminal's default."""

    __slots__ = ("ch", "fg", "bg")

    def __init__(self, ch, fg, bg):
        self.ch, self.fg, self.bg = ch, fg, bg

    def __eq__(self, other):
        return (self.ch, self.fg, self.bg) == (other.ch, other.fg, other.bg)

    def __repr__(self):
        return f"{self.ch!r} SGR {self.sgr()}"

    def sgr(self):
        """The colours as SGR numbers, "FG BG": "97 44" for bright white on blue, 39 and 49 for the
        defaults."""
        return f"{_sgr(self.fg, 30, 39)} {_sgr(self.bg, 40, 49)}"


def _sgr(colour, base, default):
    if colour is None:
        return str(default)
    if colour < 8:
        return str(base + colour)
    if colour < 16:
        return str(base + 60 + colour - 8)
    return f"{base + 8};5;{colour}"


_SGR = re.compile(r"\x1b\[([0-9;]*)m")
_OTHER_CSI = re.compile(r"\x1b\[[0-9;?]*[A-Za-z]")


def _apply_sgr(params, fg, bg):
    codes = [int(p) if p else 0 for p in params.split(";")] if params else [0]
    i = 0
    while i < len(codes):
        c = codes[i]
        if c == 0:
            fg, bg = None, None
        elif c == 39:
            fg = None
        elif c == 49:
            bg = None
        elif 30 <= c <= 37:
            fg = c - 30
        elif 90 <= c <= 97:
            fg = c - 90 + 8
        elif 40 <= c <= 47:
            bg = c - 40
        elif 100 <= c <= 107:
            bg = c - 100 + 8
        elif c in (38, 48) and i + 2 < len(codes) and codes[i + 1] == 5:
            if c == 38:
                fg = codes[i + 2]
            else:
                bg = codes[i + 2]
            i += 2
        i += 1
    return fg, bg


def parse_screen(text, size):
    """capture-pane -p -e -N output as rows of cells, `size` (columns, rows), blanks in the
    default colours where the text ends."""
    columns, height = size
    fg, bg = None, None
    rows = []
    for line in text.split("\n")[:height]:
        cells = []
        pos = 0
        while pos < len(line):
            m = _SGR.match(line, pos)
            if m:
                fg, bg = _apply_sgr(m.group(1), fg, bg)
                pos = m.end()
                continue
            if line[pos] == "\x1b":  # another escape sequence; no cell
                end = _OTHER_CSI.match(line, pos)
                pos = end.end() if end else pos + 1
                continue
            cells.append(Cell(line[pos], fg, bg))
            pos += 1
        cells += [Cell(" ", None, None) for _ in range(columns - len(cells))]
        rows.append(cells[:columns])
    while len(rows) < height:
        rows.append([Cell(" ", None, None) for _ in range(columns)])
    return rows


def screen_text(screen):
    return "\n".join("".join(c.ch for c in row) for row in screen)


class ConsoleCell(Cell):
    """A character and its colours as Windows console attribute numbers (bit 0 blue, 1 green,
    2 red, 3 bright), the terminal's defaults counting as 7 on 0."""

    __slots__ = ()

    def __repr__(self):
        return f"{self.ch!r} colour {self.bg:x}{self.fg:x}"


def console_screen(screen):
    """The screen in ConsoleCells."""
    return [[ConsoleCell(c.ch, _console(c.fg, 7), _console(c.bg, 0)) for c in row] for row in screen]


def _console(colour, default):
    if colour is None:
        return default
    return (colour & 0b1010) | ((colour & 1) << 2) | ((colour & 4) >> 2) if colour < 16 else colour


def settled_key(screen):
    """What must stay still for an 80 x 25 screen to count as settled: all but the clock (row 0,
    columns 70-78) and the ticker (row 24, columns 1-56)."""
    return tuple((r, x, c.ch, c.fg, c.bg) for r, row in enumerate(screen) for x, c in enumerate(row)
                 if not (r == 0 and 70 <= x <= 78) and not (r == 24 and 1 <= x <= 56))


def shows(*texts):
    return lambda screen: all(t in screen_text(screen) for t in texts)


def lacks(*texts):
    return lambda screen: not any(t in screen_text(screen) for t in texts)


def both(a, b):
    return lambda screen: a(screen) and b(screen)


# ---------------------------------------------------------------- the pane


class Pane:
    """`command` (a list of arguments, or a shell command line as a string) in a new tmux pane of
    `size` (columns, rows), started in `cwd` with `env` added; its files (exit status, terminal
    modes) go to `folder` under `name`."""

    def __init__(self, name, command, folder, size=(80, 25), cwd=None, env=None):
        self.name, self.size, self.folder = name, size, Path(folder)
        self.socket = f"platenhawk-check-{os.getpid()}-{name}-{next(_panes)}"
        self.conf = self.folder / "tmux.conf"
        self.conf.write_text("set -g status off\n")
        self.exit_file = self.file("exit")
        go = self.file("go")
        for path in (self.exit_file, go, self.file("stty.before"), self.file("stty.after")):
            path.unlink(missing_ok=True)
        line = command if isinstance(command, str) else shlex.join(str(a) for a in command)
        q = {key: shlex.quote(str(self.file(key))) for key in ("go", "exit", "stty.before", "stty.after")}
        # A Ctrl-C the terminal turns into SIGINT (Wine's console leaves that on) reaches the
        # shell too: it must go on to record the status. A trap, unlike an ignored signal, is not
        # passed on to the program.
        script = ("trap : INT\n"
                  f"while [ ! -e {q['go']} ]; do sleep 0.05; done\n"
                  f"stty -g >{q['stty.before']}\n"
                  + (f"cd {shlex.quote(str(cwd))} && " if cwd else "") + f"{line}\n"
                  f"echo $? >{q['exit']}.tmp; mv {q['exit']}.tmp {q['exit']}\n"
                  f"stty -g >{q['stty.after']}\n"
                  "exec sleep 600")
        env_args = [a for k, v in (env or {}).items() for a in ("-e", f"{k}={v}")]
        self.tmux("new-session", "-d", "-s", "ph", "-x", str(size[0]), "-y", str(size[1]), *env_args,
                  "sh", "-c", script)
        self.socket_path = self.tmux("display", "-p", "#{socket_path}").strip()
        self.title_before = self.flag("pane_title")
        go.touch()

    def file(self, what):
        return self.folder / f"{self.name}.{what}"

    def tmux(self, *args, check=True):
        """A tmux command on this pane's server; its output."""
        run = subprocess.run(["tmux", "-L", self.socket, "-f", str(self.conf), *args], check=check,
                             capture_output=True, encoding="utf-8")
        return run.stdout

    def close(self):
        """Ends the pane's server, and the program if it still runs."""
        self.tmux("kill-server", check=False)
        if self.socket_path:
            Path(self.socket_path).unlink(missing_ok=True)

    # ------------------------------------------------ what the pane shows

    def flag(self, name):
        """A tmux format variable of the pane: pane_title, alternate_on, cursor_flag, pane_pid..."""
        return self.tmux("display", "-p", "-t", "ph", f"#{{{name}}}").strip()

    def text(self, joined=False):
        """The screen as plain text, trailing blanks dropped; `joined`: wrapped lines joined."""
        return self.tmux("capture-pane", "-p", *(["-J"] if joined else []), "-t", "ph")

    def row(self, y):
        """Row `y` as plain text, trailing blanks dropped."""
        return self.tmux("capture-pane", "-p", "-t", "ph", "-S", str(y), "-E", str(y)).rstrip("\n")

    def capture(self):
        """The screen as rows of cells."""
        return parse_screen(self.tmux("capture-pane", "-p", "-e", "-N", "-t", "ph"), self.size)

    def alive(self):
        """Whether the pane's server still runs."""
        return subprocess.run(["tmux", "-L", self.socket, "has-session", "-t", "ph"],
                              capture_output=True).returncode == 0

    # ------------------------------------------------ keys

    def send(self, *keys):
        """tmux key names (F10, Enter, Escape, C-c, or characters), sent at once."""
        self.tmux("send-keys", "-t", "ph", *keys)

    def press(self, key):
        """One key, then a pause for the program to take it alone: a lone ESC must not merge with
        the next key into an Alt combination."""
        self.send(key)
        time.sleep(0.25 if key == "Escape" else 0.05)

    def send_apart(self, first, seconds, second):
        """Two keys `seconds` apart, timed by the tmux server."""
        self.tmux("send-keys", "-t", "ph", first, ";", "run-shell", "-d", str(seconds), ";",
                  "send-keys", "-t", "ph", second)

    def send_bytes(self, data):
        """Bytes as they stand, escape sequences and all."""
        self.tmux("send-keys", "-t", "ph", "-H", *(f"{b:02x}" for b in data))

    def type(self, text):
        """Types `text` and ENTER."""
        self.tmux("send-keys", "-t", "ph", "-l", text)
        self.send("Enter")

    # ------------------------------------------------ the program's end

    def exit_code(self):
        """The program's exit status, None while it runs."""
        return int(self.exit_file.read_text()) if self.exit_file.exists() else None

    def wait_exit(self, seconds):
        """Waits for the program's end; its exit status, or None."""
        wait_for(lambda: self.exit_file.exists(), seconds)
        return self.exit_code()

    def modes(self, when):
        """The terminal modes (stty -g) "before" or "after" the program, None when not recorded."""
        path = self.file("stty." + when)
        return path.read_text().strip() if path.exists() and path.stat().st_size else None

    # ------------------------------------------------ settled screens

    def wait(self, until, timeout):
        """Waits until `until(screen)` holds and the screen but the clock and the ticker has been
        still for 0.8 s; the screen is taken when row 24 is the same 0.3 s later too, so that no
        capture catches a message the ticker writes a cell at a time. The screen, or None."""
        deadline = time.monotonic() + timeout
        stable_since, last = None, None
        while time.monotonic() < deadline:
            screen = self.capture()
            key = settled_key(screen)
            if key != last:
                last, stable_since = key, time.monotonic()
            elif until(screen) and time.monotonic() - stable_since >= 0.8:
                time.sleep(0.3)
                again = self.capture()
                if settled_key(again) == key and again[24] == screen[24]:
                    return again
            time.sleep(0.1)
        return None

    def wait_lines(self, until, timeout):
        """Waits until `until(lines)` holds for the pane's non-blank lines, each as (row, text), and
        the text has been still for 0.5 s; the lines, or None with `self.last_text` the text seen
        last."""
        deadline = time.monotonic() + timeout
        stable_since, self.last_text = time.monotonic(), None
        while time.monotonic() < deadline:
            text = self.text()
            if text != self.last_text:
                self.last_text, stable_since = text, time.monotonic()
            lines = [(y, line.rstrip()) for y, line in enumerate(text.split("\n")) if line.strip()]
            if until(lines) and time.monotonic() - stable_since >= 0.5:
                return lines
            time.sleep(0.1)
        return None
