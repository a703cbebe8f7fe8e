"""The Wine prefixes of the end-to-end tests.

``BASE_PREFIX`` (build/wineprefix) is the project's prefix: scripts/setup.sh
creates it, the unit tests and the demo run in it. A test session in one
process uses it directly. Under pytest-xdist each worker process gets a prefix
of its own, build/e2e/<worker>/wineprefix, copied from the project's prefix
when the worker's session starts. Wine runs one wineserver per prefix
directory, so each worker has its own server, registry, desktop and
temporary directory: workers neither see each other's registry changes nor
end each other's Wine sessions, and every test finds the prefix as the
project's prefix was when the run began.

Copying a prefix is cheap because only its small files are copied: the
module images under drive_c/windows (about 1.3 GB of DLLs and programs that
Wine installs and only ever reads) are hard links to the project's prefix.
Wine writes such a file only when it updates a prefix to a new Wine version,
which happens in the project's prefix (setup.sh, the unit tests) before any
copy is made.

Every prefix the tests use has Wine's X11 driver set to leave windows
unmanaged (HKCU\\Software\\Wine\\X11 Driver, "Managed"="N"). Xvfb runs no
window manager, and for a managed window Wine waits up to two seconds, after
hiding it, for the window manager to confirm the change (winex11's
wait_for_withdrawn_state), so every closed message box cost its program two
seconds. Unmanaged windows are shown and hidden by Wine itself, which is what
a window manager-less display does anyway.
"""

from __future__ import annotations

import os
import re
import shutil
import subprocess
from pathlib import Path
from typing import Mapping

REPO_ROOT = Path(__file__).resolve().parents[2]
BUILD_DIR = REPO_ROOT / "build"
BASE_PREFIX = BUILD_DIR / "wineprefix"

# The pytest-xdist worker this process is ("gw0", "gw1", ...), or None.
WORKER = os.environ.get("PYTEST_XDIST_WORKER") or None

# Files of a prefix that belong to its running Wine session, never copied:
# the name of the server's socket directory and the harness's session registry.
_SESSION_FILES = {"wineserver", ".e2e-sessions"}

# Module images under drive_c/windows that a copy shares with the project's prefix.
_SHARED_SUFFIXES = {".dll", ".exe", ".drv", ".sys", ".ocx", ".cpl", ".acm", ".ax", ".tlb", ".vxd"}

X11_DRIVER_KEY = r"HKCU\Software\Wine\X11 Driver"


def session_prefix() -> Path:
    """The prefix of this process's test session."""
    return BUILD_DIR / "e2e" / WORKER / "wineprefix" if WORKER else BASE_PREFIX


def base_env(prefix: Path) -> dict:
    env = {name: value for name, value in os.environ.items() if name not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(WINEPREFIX=str(prefix), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    return env


def windows_unmanaged(prefix: Path) -> bool:
    """True when the prefix's user registry leaves windows unmanaged."""
    try:
        text = (prefix / "user.reg").read_text(encoding="utf-8", errors="replace")
    except FileNotFoundError:
        return False
    section = re.search(r"^\[Software\\\\Wine\\\\X11 Driver\][^\n]*\n(.*?)(?:\n\n|\Z)", text, re.M | re.S)
    return section is not None and re.search(r'^"Managed"="N"$', section.group(1), re.M) is not None


def _wait_for_server(env: Mapping[str, str], timeout: float) -> bool:
    """Waits until the prefix's wineserver has ended (and so has written the
    registry files); False when it is still running after `timeout` seconds."""
    try:
        subprocess.run(["wineserver", "-w"], env=env, timeout=timeout, check=False)
        return True
    except subprocess.TimeoutExpired:
        return False


def initialise(prefix: Path) -> None:
    """Creates `prefix` when it does not exist yet (as scripts/setup.sh does)
    and makes its windows unmanaged (see the module comment)."""
    env = base_env(prefix)
    if not (prefix / "system.reg").exists():
        prefix.mkdir(parents=True, exist_ok=True)
        subprocess.run(["wineboot", "-i"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=300, check=False)
        _wait_for_server(env, 300)
    if not windows_unmanaged(prefix):
        subprocess.run(["wine", "reg", "add", X11_DRIVER_KEY, "/v", "Managed", "/t", "REG_SZ", "/d", "N", "/f"],
                       env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=120, check=False)
        _wait_for_server(env, 120)


def _copy(source: Path, target: Path) -> None:
    """Copies a prefix that no Wine session uses (see the module comment)."""
    shared_root = source / "drive_c" / "windows"
    for directory, dirnames, filenames in os.walk(source):
        here = Path(directory)
        there = target / here.relative_to(source)
        there.mkdir(exist_ok=True)
        if here == source:
            dirnames[:] = [name for name in dirnames if name not in _SESSION_FILES]
            filenames = [name for name in filenames if name not in _SESSION_FILES]
        for name in list(dirnames):
            if (here / name).is_symlink():  # os.walk lists links to directories here and does not enter them
                os.symlink(os.readlink(here / name), there / name)
                dirnames.remove(name)
        for name in filenames:
            path = here / name
            if path.is_symlink():
                os.symlink(os.readlink(path), there / name)
            elif path.suffix.lower() in _SHARED_SUFFIXES and shared_root in path.parents:
                os.link(path, there / name)
            else:
                shutil.copy2(path, there / name)
        shutil.copystat(here, there)


def prepare_session_prefix() -> Path:
    """Makes the session's prefix ready and returns it: the project's prefix
    initialised, and for a worker a fresh copy of it."""
    initialise(BASE_PREFIX)
    prefix = session_prefix()
    if prefix == BASE_PREFIX:
        return prefix
    # A wineserver of the project's prefix (the unit tests, or the demo) writes
    # the registry files when it ends; a copy is taken after that when it ends
    # soon, and otherwise from the files it last wrote (Wine replaces them whole).
    _wait_for_server(base_env(BASE_PREFIX), 30)
    if prefix.exists():
        # Left by an earlier run of this worker: end its Wine session first.
        subprocess.run(["wineserver", "-k"], env=base_env(prefix), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60, check=False)
        _wait_for_server(base_env(prefix), 60)
        shutil.rmtree(prefix)
    partial = prefix.with_name(prefix.name + ".partial")
    shutil.rmtree(partial, ignore_errors=True)
    partial.parent.mkdir(parents=True, exist_ok=True)
    _copy(BASE_PREFIX, partial)
    partial.rename(prefix)
    return prefix
