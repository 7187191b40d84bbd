"""The demo's walk-through in check-wine: platenhawk-demo.exe under Wine and the Linux
platenhawk-demo, each in an 80 x 25 pane with the same scenario and keys, their screens compared
cell by cell, text and colour, their reports compared but for their times, the latency classes of
the simulated drive checked on each side; then the exe's walk in a C.UTF-8 locale against its
Russian one. What is not compared is listed in check-wine.
"""

import json
import re
import shutil
import subprocess

from screen import Pane, both, console_screen, lacks, screen_text, shows
from wine_setup import LINUX_BUILD, LOCALE, WIN_BUILD, WINE, WORK, fail, log, wine_env

COLUMNS, ROWS = 80, 25

SCENARIO = """\
# The scenario of the Wine check: one drive with every kind of block, one read from an image.
[drive 0]
model      = WINE CHECK 15
serial     = WC0001
firmware   = 2.10
sectors    = 30000
cache_kb   = 2048
latency    = 3
slow       = 6000-8000 12
slow       = 4000-4010 400 11
slow       = 9000 700
slow       = 12000 38
slow       = 15000 220
slow       = 18000 100
unreadable = 22000-22005
partial    = 25000
attribute  = 1 100 100 0 6
attribute  = 3 97 97 0 0
attribute  = 5 90 90 12 36
attribute  = 9 91 91 8114 0
attribute  = 5 80 80 0 36
attribute  = 150 100 100 1 0
attribute  = 194 36 45 36 0
attribute  = 197 100 100 2 0

[drive 1]
model      = WINE IMAGE 2
serial     = WI0002
image      = {image}
"""
IMAGE_BYTES = 2 * 1024 * 1024
# The walk scans drive 0 up to LBA 29900: 118 blocks of 255 sectors. Blocks 23-31 touch the 12 ms
# zone; 102 blocks touch no zone, no unreadable and no partial sector and are read in 3 ms.
EXACT_CLASSES = {"scan": {"<5ms": 102, "<30ms": 9}}
# A busy machine may hold up a read for a few milliseconds: up to this many 3 ms blocks may be
# counted in "<30ms" instead. A coarse timer (a Sleep that lasts a scheduler tick) moves them all.
LATE_BLOCKS = 2

TICKER_PREFIXES = ("Platenhawk", "Посетите форум", "Нажмите [ESC]")


def write_inputs():
    WORK.mkdir(parents=True, exist_ok=True)
    image = WORK / "disk.img"
    if not image.exists() or image.stat().st_size != IMAGE_BYTES:
        image.write_bytes(bytes(i % 251 for i in range(IMAGE_BYTES)))
    wine_path = "Z:" + str(image).replace("/", "\\")
    (WORK / "linux.ini").write_text(SCENARIO.format(image=image))
    (WORK / "wine.ini").write_text(SCENARIO.format(image=wine_path))


def settle(pane, until, timeout, what):
    """The screen once `until(screen)` holds and it has settled, in console colours; None after
    failing."""
    screen = pane.wait(until, timeout)
    if screen is None:
        fail(f"{pane.name}: timed out waiting for {what}")
        log(screen_text(pane.capture()))
        return None
    return console_screen(screen)


def ticker_text(screen):
    return "".join(c.ch for c in screen[24][1:57]).strip()


def ticker_phase(screen):
    """Which of the ticker's messages row 24 shows: an index into TICKER_PREFIXES, or None."""
    text = ticker_text(screen)
    return next((i for i, prefix in enumerate(TICKER_PREFIXES) if text.startswith(prefix)), None)


# ---------------------------------------------------------------- the demo walk-through

# (step name, keys sent one at a time, each followed by a settled screen, condition, timeout)
MENU = shows("Продолжить", "[ESC]")
STEPS = [
    ("detection", [], shows("Введите номер жесткого диска"), 60),
    ("menu", ["1", "Enter"], both(MENU, shows("WINE CHECK 15")), 20),
    ("ctrl-c", ["C-c"], MENU, 20),
    ("settings", ["Enter"], shows("Начать", "29999"), 20),
    ("end-field", ["Down"], shows("Начать"), 20),
    ("editor", ["Enter"], shows("Применить"), 20),
    ("editor-backspace", ["BSpace", "BSpace"], lacks("29999"), 20),
    ("editor-typed", ["0", "0"], shows("29900"), 20),
    ("settings-edited", ["Enter"], shows("Начать", "29900"), 20),
    ("scan", ["F4"], shows("Проверка поверхности завершена!", "Нажмите [ENTER] для продолжения"), 120),
    ("menu-again", ["Enter"], both(MENU, lacks("завершена")), 20),
    ("menu-smart", ["Down"], MENU, 20),
    ("smart", ["Enter"], shows("Threshold", "Нажмите [ENTER] для продолжения"), 30),
    ("menu-after-smart", ["Enter"], both(MENU, lacks("Threshold")), 20),
    ("menu-stop", ["Down"], MENU, 20),
    ("spindle-stop", ["Enter"], both(MENU, lacks("Пожалуйста, подождите")), 30),
    ("menu-spin-up", ["Down"], MENU, 20),
    ("spindle-spin-up", ["Enter"], both(MENU, lacks("Пожалуйста, подождите")), 30),
    ("reselect", ["Escape"], shows("Введите номер жесткого диска"), 30),
    ("image-menu", ["2", "Enter"], both(MENU, shows("WINE IMAGE 2")), 20),
    ("image-settings", ["Enter"], shows("Начать", "4095"), 20),
    ("image-scan", ["F4"], shows("Проверка поверхности завершена!", "Нажмите [ENTER] для продолжения"), 60),
    ("image-menu-again", ["Enter"], both(MENU, lacks("завершена")), 20),
]
# Scans of real files, with the number of latency classes, from the fastest, whose blocks may
# trade places.
LATENCY_CLASSES = 6
TIMED_STEPS = {"image-scan": LATENCY_CLASSES, "scan": 2}


def walk(pane, steps=STEPS):
    screens = {}
    for name, keys, condition, timeout in steps:
        for i, key in enumerate(keys):
            pane.press(key)
            if i + 1 < len(keys):
                settle(pane, lambda s: True, timeout, f"the screen to settle after {key} ({name})")
        screen = settle(pane, condition, timeout, f"step {name}")
        if screen is None:
            return screens
        if pane.exit_code() is not None:
            fail(f"{pane.name}: the program ended during step {name}")
            return screens
        screens[name] = screen
    pane.press("F10")
    code = pane.wait_exit(20)
    if code != 0:
        fail(f"{pane.name}: F10 gave exit code {code}")
    return screens


def save(platform, screens):
    folder = WORK / "screens" / platform
    folder.mkdir(parents=True, exist_ok=True)
    for name, screen in screens.items():
        (folder / f"{name}.txt").write_text(screen_text(screen) + "\n")
        (folder / f"{name}.colours").write_text(
            "\n".join(" ".join(f"{c.bg:x}{c.fg:x}" for c in row) for row in screen) + "\n")


def latency_total(screen, classes):
    """The sum of the first `classes` latency counters, or None when one of them is not a number."""
    texts = ["".join(c.ch for c in screen[y][68:79]).strip() for y in range(3, 3 + classes)]
    return sum(int(t) for t in texts) if all(t.isdigit() for t in texts) else None


def class_cells(screen, classes):
    """The block-map cells of the first `classes` latency classes, as the legend in column 59 shows them."""
    return [screen[y][59] for y in range(3, 3 + classes)]


def compare(name, linux, wine, classes, sides=("linux", "wine"), clock_from=70):
    """`classes`: how many latency classes, from the fastest, may trade blocks (0: none). `sides`
    names the two screens in the messages; the clock is not compared from column `clock_from` on."""
    differences, controls, ticker_note, timing_note = [], 0, "", ""
    if classes:
        totals = (latency_total(linux, classes), latency_total(wine, classes))
        if None in totals or totals[0] != totals[1]:
            differences.append(f"latency counters add up to {totals[0]} on {sides[0]}, {totals[1]} on {sides[1]}")
        traded = class_cells(linux, classes)
        timing_note = f" but for {classes} latency classes ({totals[0]} blocks in them on each side)"
    phases_differ = ticker_phase(linux) != ticker_phase(wine)
    if phases_differ:
        for platform, screen in zip(sides, (linux, wine)):
            if ticker_phase(screen) is None:
                differences.append(f"row 24: {platform} shows no ticker message: {ticker_text(screen)!r}")
        ticker_note = " (ticker in different phases)"
    for y in range(ROWS):
        for x in range(COLUMNS):
            if y == 0 and clock_from <= x <= 78:
                continue
            if phases_differ and y == 24 and 1 <= x <= 56:
                continue
            if 3 <= y < 3 + classes and 68 <= x <= 78:
                continue
            a, b = linux[y][x], wine[y][x]
            if a == b:
                continue
            if classes and 2 <= y <= 23 and x < 57 and a in traded and b in traded:
                continue
            if b.ch == "?" and a.ch == " " and (a.fg, a.bg) == (b.fg, b.bg):
                controls += 1
                continue
            differences.append(f"({x},{y}): {sides[0]} {a}, {sides[1]} {b}")
    if differences:
        fail(f"screen {name}: {len(differences)} cells differ{ticker_note}; first: " + "; ".join(differences[:6]))
    else:
        log(f"ok   screen {name}: identical{timing_note}{ticker_note}; {controls} control-character cells shown as ?")


def latency_counts(screen):
    """The latency counters of a scan screen by the labels of the statistics panel."""
    counts = {}
    for y in range(3, 9):
        found = re.search(r"([<>]\d+ms)\s*:\s*(\d+)", "".join(c.ch for c in screen[y][57:]))
        if found:
            counts[found.group(1)] = int(found.group(2))
    return counts


def check_exact_classes(platform, screens):
    for name, expected in EXACT_CLASSES.items():
        if name not in screens:
            continue
        counts = latency_counts(screens[name])
        fastest = next(iter(expected))
        late = expected[fastest] - counts.get(fastest, -1)
        if 0 <= late <= LATE_BLOCKS and sum(counts.get(label, -1) for label in expected) == sum(expected.values()):
            log(f"ok   {platform} screen {name}: " + ", ".join(f"{counts[label]} blocks {label}" for label in expected) +
                (f" ({late} of the {fastest} blocks read late)" if late else ""))
        else:
            fail(f"{platform} screen {name}: latency counters {counts}, expected {expected} "
                 f"(at most {LATE_BLOCKS} blocks late)")


def realtime():
    """The command prefix that runs a program of the walk on the real-time scheduler, where the
    system allows it. The simulated drive's reads are timed to the millisecond: a program that
    waits for a processor after its 3 ms delay puts the block in "<30ms". Both programs ask for a
    high priority themselves, but Wine passes HIGH_PRIORITY_CLASS on to nothing, and niceness
    alone leaves delays of several milliseconds on a busy machine."""
    if subprocess.run(["chrt", "--fifo", "1", "true"], capture_output=True).returncode == 0:
        return ["chrt", "--fifo", "1"]
    log("note: chrt --fifo is not allowed here: the walk runs at normal priority, and other work on the "
        "machine may delay reads into slower latency classes")
    return []


# The image's drive is read for real: its latency classes are the two machines' own.
IMAGE_SERIAL = "WI0002"
# The simulated drive of the walk, whose 3 ms blocks a busy machine may hold up (LATE_BLOCKS).
DEMO_SERIAL = "WC0001"
TIMED_MEMBERS = ("started", "finished", "time")


def report_documents(folder):
    """The JSON reports of a folder by drive serial and kind, with the picture's size added."""
    documents = {}
    for path in sorted(folder.glob("*.json")):
        document = json.loads(path.read_text())
        kind = "smart" if "time" in document else "scan"
        stem = path.name[:-len(".json")]
        damaged = folder / f"{stem}-damaged.txt"
        document["damaged.txt"] = damaged.read_text() if damaged.exists() else None
        picture = folder / f"{stem}.png"
        document["png size"] = list(png_size(picture.read_bytes())) if picture.exists() else None
        surface = folder / f"{stem}-surface.csv"
        document["surface.csv"] = surface_rows(surface.read_text()) if surface.exists() else None
        documents[(document["drive"]["serial"], kind)] = document
    return documents


def png_size(png):
    return int.from_bytes(png[16:20], "big"), int.from_bytes(png[20:24], "big")


def surface_rows(csv):
    """The header and the rows of a surface CSV, each time and speed only as there or not."""
    lines = csv.splitlines()
    rows = [lines[0]] if lines else []
    for line in lines[1:]:
        first, last, blocks, read, worst, mean_ms, max_ms, mb_s = line.split(",")
        rows.append([first, last, blocks, read, worst, mean_ms != "", max_ms != "", mb_s != ""])
    return rows


def comparable(document):
    document = {key: value for key, value in document.items() if key not in TIMED_MEMBERS}
    if "speed" in document:
        document["speed"] = [[lba, mb_s is not None] for lba, mb_s in document["speed"]["points"]]
    if document["drive"]["serial"] == DEMO_SERIAL and "classes" in document:
        classes = document["classes"]
        classes["lt30ms or faster"] = classes.pop("lt5ms", 0) + classes.pop("lt30ms", 0)
        for row in document["surface.csv"][1:]:
            if row[4] in ("lt5ms", "lt30ms"):
                row[4] = "lt30ms or faster"
    if document["drive"]["serial"] == IMAGE_SERIAL and "classes" in document:
        document["classes"] = {key: value for key, value in document["classes"].items() if not key.startswith(("lt", "gt"))}
        for key in ("slow", "verdict"):
            document.pop(key, None)
        for row in document["surface.csv"][1:]:
            if row[4].startswith(("lt", "gt")):
                row[4] = "read whole"
    return document


def compare_reports():
    """The reports of the walk: the same documents on both sides but for times (and, for the image's
    drive, its latency classes), the same damaged lists and pictures of the same size."""
    linux, wine = report_documents(WORK / "reports-linux"), report_documents(WORK / "reports-wine")
    if sorted(linux) != sorted(wine) or len(linux) != 3:
        fail(f"reports: linux wrote {sorted(linux)}, wine {sorted(wine)}")
        return
    for key in sorted(linux):
        a, b = comparable(linux[key]), comparable(wine[key])
        if a != b:
            differing = sorted(k for k in set(a) | set(b) if a.get(k) != b.get(k))
            fail(f"reports {key}: linux and wine differ in {differing}")
        else:
            log(f"ok   reports {key[1]} of {key[0]}: the same on both sides but for times")


def check_demo():
    """The walk on both sides, its screens and reports compared; the Wine side's screens."""
    write_inputs()
    rt = realtime()
    for folder in ("reports-linux", "reports-wine"):
        shutil.rmtree(WORK / folder, ignore_errors=True)
    linux = Pane("linux", [*rt, LINUX_BUILD / "platenhawk-demo", WORK / "linux.ini", "--reports", "reports-linux"],
                 WORK, cwd=WORK, env={"LC_ALL": LOCALE})
    wine = Pane("wine", [*rt, WINE, WIN_BUILD / "platenhawk-demo.exe", "wine.ini", "--reports", "reports-wine"],
                WORK, cwd=WORK, env=wine_env())
    try:
        linux_screens = walk(linux)
        wine_screens = walk(wine)
    finally:
        linux.close()
        wine.close()
    save("linux", linux_screens)
    save("wine", wine_screens)
    for name, *_ in STEPS:
        if name in linux_screens and name in wine_screens:
            compare(name, linux_screens[name], wine_screens[name], TIMED_STEPS.get(name, 0))
    check_exact_classes("linux", linux_screens)
    check_exact_classes("wine", wine_screens)
    compare_reports()
    return wine_screens


# ---------------------------------------------------------------- any system's code pages

# The demo's steps up to the SMART table: Russian texts, frames, the block map and its legend.
ANY_LOCALE_STEPS = [step for step in STEPS if step[0] in (
    "detection", "menu", "settings", "end-field", "editor", "editor-backspace", "editor-typed", "settings-edited",
    "scan", "menu-again", "menu-smart", "smart")]
OTHER_LOCALE = "C.UTF-8"
# The clock keeps the user's own time format, which the locale sets: "13:05:09" or "1:05:09 PM",
# growing to the left from column 78.
CLOCK = re.compile(r"\d{1,2}:\d\d:\d\d( [AP]M)?")


def check_other_locale(russian_screens):
    """The demo exe under Wine in a C.UTF-8 locale, whose code pages are 1252 and 437 as on an
    English Windows, must show the screens it shows in ru_RU.UTF-8 (1251 and 866)."""
    rt = realtime()
    pane = Pane("wine-c-utf8", [*rt, WINE, WIN_BUILD / "platenhawk-demo.exe", "wine.ini"], WORK, cwd=WORK,
                env=dict(wine_env(), LC_ALL=OTHER_LOCALE))
    try:
        screens = walk(pane, ANY_LOCALE_STEPS)
    finally:
        pane.close()
    save("wine-" + OTHER_LOCALE, screens)
    for name, *_ in ANY_LOCALE_STEPS:
        if name not in screens or name not in russian_screens:
            fail(f"{OTHER_LOCALE}: no screen {name} to compare")
            continue
        clocks = ["".join(c.ch for c in screen[0][60:79]).strip(" ?") for screen in (russian_screens[name], screens[name])]
        if not all(CLOCK.fullmatch(clock) for clock in clocks):
            fail(f"screen {name}: the clock shows {clocks[0]!r} in {LOCALE}, {clocks[1]!r} in {OTHER_LOCALE}")
        # The scan's blocks are timed again in this run: they may trade latency classes on a busy
        # machine. Their exact classes are checked on the two runs above; this one checks the texts.
        compare(f"{name} in {OTHER_LOCALE} (clock {clocks[1]!r})", russian_screens[name], screens[name],
                LATENCY_CLASSES if name == "scan" else 0, sides=(LOCALE, OTHER_LOCALE), clock_from=60)


