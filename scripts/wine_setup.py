"""The set-up stage of check-wine: the packages it needs (wine64, tmux, locales, util-linux for
chrt) and the ru_RU.UTF-8 locale, then the Wine prefix in build/wine-check/prefix with its server
running until the checks end. Also what every stage shares: the folders, the Wine environment and
the record of the checks (log, fail).
"""

import contextlib
import os
import re
import shutil
import subprocess
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
WORK = ROOT / "build" / "wine-check"
WIN_BUILD = Path(os.environ.get("PH_WIN_BUILD", ROOT / "build" / "win"))
LINUX_BUILD = Path(os.environ.get("PH_LINUX_BUILD", ROOT / "build"))
WINE = Path("/usr/lib/wine/wine64")
WINESERVER = Path("/usr/lib/wine/wineserver")
PREFIX = WORK / "prefix"
LOCALE = "ru_RU.UTF-8"

failures = []


def log(text):
    print(text, flush=True)


def fail(text):
    failures.append(text)
    log("FAIL: " + text)


def wine_env():
    return {"WINEPREFIX": str(PREFIX), "LC_ALL": LOCALE, "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml="}


def apt_install(packages):
    log("check-wine: installing " + " ".join(packages))
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(["apt-get", "update", "-qq"], check=True, env=env)
    subprocess.run(["apt-get", "install", "-y", "-qq", "--no-install-recommends", *packages], check=True, env=env,
                   stdout=subprocess.DEVNULL)


def has_russian_locale():
    listed = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.split()
    return any(name.lower().replace("-", "") == "ru_ru.utf8" for name in listed)


def install():
    """The packages that are missing, and the Russian locale when it is not generated."""
    missing = [package for package, present in (
        ("wine64", WINE.exists()),
        ("tmux", shutil.which("tmux")),
        ("locales", shutil.which("locale-gen")),
        ("util-linux", shutil.which("chrt")),
    ) if not present]
    if missing:
        apt_install(missing)
    if not has_russian_locale():
        gen = Path("/etc/locale.gen")
        gen.write_text(re.sub(r"(?m)^# *ru_RU\.UTF-8 UTF-8", "ru_RU.UTF-8 UTF-8", gen.read_text()))
        if "ru_RU.UTF-8 UTF-8" not in gen.read_text().splitlines():
            with gen.open("a") as f:
                f.write("ru_RU.UTF-8 UTF-8\n")
        subprocess.run(["locale-gen"], check=True, stdout=subprocess.DEVNULL)


@contextlib.contextmanager
def prefix():
    """The Wine prefix, its server running until the end of the block. Started apart, the server
    does not inherit the real-time scheduling of the walk. A crash report goes to the console, not
    to a debugger. The first program of the prefix starts Wine's services, which keep its standard
    output and error: not pipes, whose end would never come."""
    PREFIX.mkdir(parents=True, exist_ok=True)
    server_env = dict(os.environ, WINEPREFIX=str(PREFIX))
    subprocess.run([WINESERVER, "-p"], env=server_env, check=True)
    try:
        subprocess.run([WINE, "reg", "add", r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug", "/v",
                        "Debugger", "/d", "", "/f"], env=dict(os.environ, **wine_env()), check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        yield
    finally:
        subprocess.run([WINESERVER, "-k"], env=server_env, capture_output=True)
