"""The build stage of check-wine: the Windows executables and check programs (scripts/build-win)
and the Linux demo whose screens and reports they must match.
"""

import os
import shutil
import subprocess

from wine_setup import LINUX_BUILD, ROOT, WIN_BUILD


def configured(folder):
    """Whether a configure of `folder` finished: it left a build file beside its cache."""
    return any((folder / name).exists() for name in ("build.ninja", "Makefile"))


def build():
    env = dict(os.environ, PH_WIN_BUILD=str(WIN_BUILD))
    subprocess.run([ROOT / "scripts" / "build-win"], check=True, env=env)
    cache = LINUX_BUILD / "CMakeCache.txt"
    if cache.exists() and not configured(LINUX_BUILD):
        # A configure cut short leaves a cache that names no build file: the folder starts anew.
        cache.unlink()
        shutil.rmtree(LINUX_BUILD / "CMakeFiles", ignore_errors=True)
    if not cache.exists():
        subprocess.run(["cmake", "-S", ROOT, "-B", LINUX_BUILD, "-G", "Ninja"], check=True)
    subprocess.run(["cmake", "--build", LINUX_BUILD, "--target", "platenhawk-demo"], check=True)
