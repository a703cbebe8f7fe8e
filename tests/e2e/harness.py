"""Helpers of the end-to-end tests.

Installers are built with the packer (build/host/tvxpack) from a manifest and
run under Wine in the session's prefix (``WINEPREFIX``: the project's prefix
build/wineprefix, or under pytest-xdist a copy of it for each worker; see
wine_prefix.py):

* ``run`` runs a program with pipes or files;
* ``run_with_watcher`` runs it through dialog_watcher.exe, which records and
  answers every message box;
* ``run_in_pty`` runs it on a pseudo-terminal, the way a user's terminal does.

Every run of the session uses one Xvfb display (each xdist worker starts its own). Wine's desktop process is
started by the first program of a wineserver session and keeps the graphics
driver it found: after a program without DISPLAY started it, MessageBoxW fails
at once (returns 0) in every later program of that session, DISPLAY or not.
So the session first waits for (or ends) a running wineserver of the prefix,
then keeps one idle program with the display running until the end (so that
the wineserver session, and its desktop, outlive the gaps between tests and
another program without DISPLAY cannot start a new one), and never runs a
program without the display. A message box a test does not expect therefore
waits for the run's timeout unless the run goes through the watcher;
console-mode tests use the watcher or a short timeout.

``BlockLayout`` (block_layout.py) reads the appended block of a built
installer independently of the packer, so tests can cut or change it at exact
offsets.

The launch log lives in the Windows temporary directory: the prefix's
(``LogDir``, ``prefix_temp``) or, for runs through the watcher, a private one
of the test (``TempDir.private``), which keeps tests apart from each other.
"""

from __future__ import annotations

import contextlib
import dataclasses
import fcntl
import json
import os
import pty
import re
import select
import shutil
import signal
import struct
import subprocess
import tempfile
import termios
import time
from pathlib import Path
from typing import Iterable, Iterator, Mapping, Sequence

import wine_prefix
from block_layout import BlockLayout, BlockRecord, LocaleLayout, changed_copy, truncated_copy  # noqa: F401
from launch_log import LaunchLog, TempDir, windows_path  # noqa: F401
from wine_prefix import BASE_PREFIX, BUILD_DIR, REPO_ROOT  # noqa: F401

# The prefix every Wine program of this session runs in (``wine_env``).
WINEPREFIX = wine_prefix.session_prefix()
TARGETS = ("win32", "win64")

# Exit codes of dialog_watcher.exe itself.
WATCHER_NO_WINDOW = 250
WATCHER_NOT_CLOSED = 251

# Control id of the text of a message box.
MESSAGE_TEXT_ID = 65535

DEFAULT_TIMEOUT = 120


# --------------------------------------------------------------------------
# Paths


def target_dir(target: str) -> Path:
    return BUILD_DIR / target


def stub_path(target: str) -> Path:
    return target_dir(target) / "launcher.exe"


def tools_dir(target: str) -> Path:
    """Directory of dialog_watcher.exe and wine_probe.exe.

    TVX_E2E_TOOLS_ROOT (a directory holding win32/ and win64/) points at a
    separate build of tests/tools, for when the main build is not available.
    """
    override = os.environ.get("TVX_E2E_TOOLS_ROOT")
    return Path(override) / target if override else target_dir(target)


def watcher_path(target: str) -> Path:
    return tools_dir(target) / "dialog_watcher.exe"


def probe_path(target: str) -> Path:
    return tools_dir(target) / "wine_probe.exe"


def tvxpack_path() -> Path:
    override = os.environ.get("TVX_E2E_TVXPACK")
    return Path(override) if override else BUILD_DIR / "host" / "tvxpack"


# --------------------------------------------------------------------------
# Session: Wine prefix, Xvfb


class Xvfb:
    """One Xvfb server on a display number it picks itself (-displayfd)."""

    def __init__(self) -> None:
        self.process: subprocess.Popen | None = None
        self.display: str | None = None

    def start(self) -> str:
        if self.display is not None:
            return self.display
        if shutil.which("Xvfb") is None:
            raise RuntimeError("Xvfb is not installed")
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 30
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read_end], [], [], 1)
            if ready:
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                number += chunk
        os.close(read_end)
        if not number.strip().isdigit():
            self.stop()
            raise RuntimeError("Xvfb did not report its display number")
        self.display = ":" + number.decode().strip()
        return self.display

    def stop(self) -> None:
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None
        self.display = None


_xvfb = Xvfb()


# Test sessions that use the prefix register here (one file per process id),
# so that one session neither ends another's wineserver session at its start
# nor kills its programs at its end.
_SESSIONS = WINEPREFIX / ".e2e-sessions"


def _other_live_sessions() -> list:
    others = []
    for entry in _SESSIONS.glob("*") if _SESSIONS.is_dir() else []:
        pid = int(entry.name) if entry.name.isdigit() else 0
        if pid == os.getpid():
            continue
        try:
            os.kill(pid, 0)
            others.append(pid)
        except (ProcessLookupError, ValueError):
            entry.unlink(missing_ok=True)
        except PermissionError:
            others.append(pid)
    return others


def session_display() -> str:
    """The session's X display; the first call starts Xvfb after the prefix's
    previous wineserver session has ended (see the module comment)."""
    if _xvfb.display is None:
        ensure_prefix()
        env = wine_env()
        if not _other_live_sessions():
            # A session left by other programs (for example unit tests run
            # without a display) ends within seconds; one that does not is ended.
            try:
                subprocess.run(["wineserver", "-w"], env=env, timeout=30, check=False)
            except subprocess.TimeoutExpired:
                subprocess.run(["wineserver", "-k"], env=env, timeout=60, check=False)
                subprocess.run(["wineserver", "-w"], env=env, timeout=60, check=False)
        _SESSIONS.mkdir(exist_ok=True)
        (_SESSIONS / str(os.getpid())).touch()
        _xvfb.start()
        _start_keepalive(_xvfb.display)
    return _xvfb.display


_keepalive: subprocess.Popen | None = None


def _start_keepalive(display: str) -> None:
    """Starts the idle program that holds the wineserver session (see above)."""
    global _keepalive
    probe = next((probe_path(t) for t in TARGETS if probe_path(t).exists()), None)
    if probe is None:
        return
    _keepalive = subprocess.Popen(["wine", str(probe), "sleep", str(24 * 3600 * 1000)],
                                  env=wine_env(None, display), stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # Let it create the session before the first test's program starts, and
    # have the session's desktop process (explorer.exe /desktop) started now,
    # by a program without pipes: Wine starts it for the first program that
    # needs the desktop (the watcher's EnumWindows does), and it keeps that
    # program's Unix standard error open until the session ends, so a test
    # reading the output of that program would wait for it until its timeout.
    with session_warm_up() as warm_up:
        subprocess.run(["wine", *warm_up], env=wine_env(None, display), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=DEFAULT_TIMEOUT, check=False)


@contextlib.contextmanager
def session_warm_up() -> Iterator[list]:
    """The arguments of `wine` for a program that starts a Wine session's
    system processes and its desktop: the probe through the dialog watcher
    (whose EnumWindows needs the desktop), or the probe alone."""
    probe = next(probe_path(t) for t in TARGETS if probe_path(t).exists())
    watcher = watcher_path(next(t for t in TARGETS if probe_path(t) == probe))
    if not watcher.exists():
        yield [str(probe), "exit", "0"]
        return
    record = Path(tempfile.mkdtemp(prefix="tvx_warm_up_")) / "record.txt"
    try:
        yield [str(watcher), "--out", windows_path(record), "--no-window-ok", "--", windows_path(probe), "exit", "0"]
    finally:
        shutil.rmtree(record.parent, ignore_errors=True)


_prefix_ready = False


def ensure_prefix() -> None:
    """Makes the session's prefix ready once per process: the project's
    prefix initialised (as scripts/setup.sh does), and for an xdist worker
    its own fresh copy (wine_prefix.py)."""
    global _prefix_ready
    if not _prefix_ready:
        wine_prefix.prepare_session_prefix()
        _prefix_ready = True


def shutdown() -> None:
    """Ends the session: stops the prefix's wineserver (unless another test
    session still uses it), then Xvfb."""
    global _keepalive
    if _keepalive is not None:
        _keepalive.kill()
        _keepalive.wait(timeout=30)
        _keepalive = None
    (_SESSIONS / str(os.getpid())).unlink(missing_ok=True)
    if shutil.which("wineserver") and not _other_live_sessions():
        subprocess.run(["wineserver", "-k"], env=wine_env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60, check=False)
    _xvfb.stop()


def wine_env(extra: Mapping[str, str | None] | None = None, display: str | None = None) -> dict:
    """Environment of one Wine run.

    Starts from the caller's environment without the launcher's log variables
    and without an X display, in the session's prefix; WINEDEBUG is "-all"
    unless TVX_E2E_WINEDEBUG gives channels (for looking into a failure).
    LC_ALL=C.UTF-8 gives an English UI (0x0409) and
    UTF-8 for the Unix side (command-line arguments, file names); a locale
    that is not generated on this machine, such as de_DE.UTF-8, still sets the
    UI language, but Wine then converts arguments as ASCII, so tests keep
    their arguments ASCII when they change LC_ALL. A value of None in `extra`
    removes that variable.
    """
    ensure_prefix()  # before any program runs in it: a worker's first one would create the prefix anew
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "TOVRIX_LOG", "KELPA_LOG", "LANGUAGE", "LC_MESSAGES"):
        env.pop(name, None)
    env.update(WINEPREFIX=str(WINEPREFIX), WINEDEBUG=os.environ.get("TVX_E2E_WINEDEBUG", "-all"),
               WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL="C.UTF-8")
    if display is not None:
        env["DISPLAY"] = display
    for name, value in (extra or {}).items():
        if value is None:
            env.pop(name, None)
        else:
            env[name] = value
    return env


# --------------------------------------------------------------------------
# Running programs


@dataclasses.dataclass
class Window:
    """One window recorded by the dialog watcher."""
    caption: str
    controls: list  # of (id, class name, text)
    icon: str | None = None
    pressed: int | None = None
    invisible: set = dataclasses.field(default_factory=set)  # ids of hidden child controls
    typed: str | None = None  # the path typed into a file dialog

    def control_text(self, control_id: int) -> str | None:
        for cid, _cls, text in self.controls:
            if cid == control_id:
                return text
        return None

    @property
    def text(self) -> str | None:
        """The message text of a message box."""
        return self.control_text(MESSAGE_TEXT_ID)

    @property
    def buttons(self) -> list:
        return [(cid, text) for cid, cls, text in self.controls if cls == "Button"]


@dataclasses.dataclass
class RunResult:
    returncode: int
    stdout: bytes = b""
    stderr: bytes = b""
    windows: list = dataclasses.field(default_factory=list)
    no_window: bool = False
    record: str = ""
    temp: "TempDir | None" = None  # the run's Windows temporary directory

    def describe(self) -> str:
        return (f"exit code {self.returncode}\nstdout: {self.stdout!r}\nstderr: {self.stderr!r}\n"
                f"record:\n{self.record}")


def _unescape(text: str) -> str:
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r", "t": "\t"}.get(m.group(1), m.group(1)), text)


def parse_record(text: str) -> tuple[list, bool]:
    """Parses a watcher record into (windows, no_window)."""
    windows: list = []
    no_window = False
    current: Window | None = None
    for line in text.splitlines():
        if line == "no window":
            no_window = True
        elif re.fullmatch(r"window \d+", line):
            current = Window(caption="", controls=[])
        elif current is None:
            continue
        elif line.startswith("caption: "):
            current.caption = _unescape(line[len("caption: "):])
        elif line.startswith("control "):
            match = re.fullmatch(r"control (-?\d+) (\S*): ?(.*)", line)
            if match:
                current.controls.append((int(match.group(1)), match.group(2), _unescape(match.group(3))))
        elif line.startswith("icon: "):
            current.icon = line[len("icon: "):]
        elif line.startswith("pressed "):
            current.pressed = int(line[len("pressed "):])
        elif line.startswith("invisible "):
            current.invisible.add(int(line[len("invisible "):]))
        elif line.startswith("typed "):
            current.typed = line[len("typed "):]
        elif line == "end":
            windows.append(current)
            current = None
    return windows, no_window


# Program starts the dialog watcher had to try again (Wine ended the new
# process before it had started; see startProgram in
# tests/tools/dialog_watcher.cpp), as "<program>: <record line>". conftest.py
# moves them to the report of the test that ran the program and lists them at
# the end of the run.
start_retries: list = []


def note_start_retries(exe: os.PathLike | str, record: str) -> None:
    start_retries.extend(f"{windows_path(exe)}: {line}" for line in record.splitlines()
                         if line.startswith("start failed: "))


def _command(exe: os.PathLike | str, args: Sequence[str]) -> list:
    return ["wine", str(exe), *args]


def run(target: str, exe: os.PathLike | str, args: Sequence[str] = (), env: Mapping | None = None,
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout: float = DEFAULT_TIMEOUT) -> RunResult:
    """Runs a Windows program; `env` extends the Wine environment.

    `stdout`/`stderr` take PIPE or an open file. Exit codes pass through
    `wine` unchanged for console and graphical programs alike.
    """
    del target  # one `wine` runs both 32- and 64-bit programs
    display = session_display()
    done = subprocess.run(_command(exe, args), env=wine_env(env, display), stdin=subprocess.DEVNULL,
                          stdout=stdout, stderr=stderr, timeout=timeout, check=False)
    return RunResult(done.returncode, done.stdout or b"", done.stderr or b"", temp=prefix_temp())


def run_with_watcher(target: str, exe: os.PathLike | str, args: Sequence[str] = (),
                     env: Mapping | None = None, press: str | Sequence[str] | None = None,
                     wait_ms: int = 20000, no_window_ok: bool = False, window_class: str | None = None,
                     record_path: os.PathLike | str | None = None, temp: TempDir | None = None,
                     timeout: float = DEFAULT_TIMEOUT, expect: Sequence[str] | None = None) -> RunResult:
    """Runs a program through dialog_watcher.exe on the session's Xvfb display.

    `press` is one button (id, IDxx name or text) or one per window; `temp`
    a private temporary directory for the program (default: the prefix's);
    `expect` the caption of each window in turn ("" for any; the watcher's
    --expect).
    The result holds the program's exit code (or the watcher's 250/251), its
    stdout without the watcher's "exit code" line, its stderr and the windows.
    """
    display = session_display()
    if record_path is None:
        fd, name = tempfile.mkstemp(prefix="watch_", suffix=".txt")
        os.close(fd)
        record = Path(name)
    else:
        record = Path(record_path)
    try:
        command = [str(watcher_path(target)), "--out", windows_path(record), "--timeout", str(wait_ms)]
        if press is not None:
            command += ["--press", press if isinstance(press, str) else ",".join(press)]
        if no_window_ok:
            command.append("--no-window-ok")
        if window_class is not None:
            command += ["--class", window_class]
        if expect is not None:
            command += ["--expect", ",".join(expect)]
        for name, value in (temp.env() if temp is not None else {}).items():
            command += ["--env", f"{name}={value}"]
        command += ["--", windows_path(exe), *args]
        done = subprocess.run(["wine", *command], env=wine_env(env, display=display),
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=timeout, check=False)
        text = record.read_bytes().decode("utf-8") if record.exists() else ""
    finally:
        if record_path is None:
            record.unlink(missing_ok=True)
    windows, no_window = parse_record(text)
    note_start_retries(exe, text)
    stdout = re.sub(rb"exit code: -?\d+[^\n]*\r?\n?\Z", b"", done.stdout)
    return RunResult(done.returncode, stdout, done.stderr, windows, no_window, text,
                     temp if temp is not None else prefix_temp())


_TERMINAL_COLUMNS = 400


def terminal_text(output: bytes) -> str:
    """The text a terminal shows for Wine console output.

    Wine's console renders through VT sequences: the cursor is hidden and
    shown around each write, and runs of blanks may be sent as "erase line"
    plus "cursor forward n". Those become blanks here, other sequences go.
    """
    text = output.decode("utf-8", errors="replace")
    text = re.sub(r"\x1b\[(\d*)C", lambda m: " " * int(m.group(1) or 1), text)
    text = re.sub(r"\x1b\][^\x07]*\x07", "", text)
    text = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", text)
    return text.replace("\r\n", "\n").replace("\r", "")


def run_in_pty(target: str, exe: os.PathLike | str, args: Sequence[str] = (), env: Mapping | None = None,
               timeout: float = DEFAULT_TIMEOUT) -> RunResult:
    """Runs a program with a pseudo-terminal as stdin, stdout and stderr.

    The result's stdout holds everything written to the terminal.
    """
    del target
    display = session_display()
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 50, _TERMINAL_COLUMNS, 0, 0))
    process = subprocess.Popen(_command(exe, args), env=wine_env(env, display), stdin=slave, stdout=slave,
                               stderr=slave, close_fds=True, start_new_session=True)
    os.close(slave)
    output = b""
    deadline = time.monotonic() + timeout
    try:
        while time.monotonic() < deadline:
            ready, _, _ = select.select([master], [], [], 0.5)
            if ready:
                try:
                    chunk = os.read(master, 65536)
                except OSError:  # EIO: every holder of the terminal closed it
                    break
                if not chunk:
                    break
                output += chunk
            elif process.poll() is not None:
                break
        else:
            os.killpg(process.pid, signal.SIGKILL)
            raise subprocess.TimeoutExpired(_command(exe, args), timeout, output)
        returncode = process.wait(timeout=max(1.0, deadline - time.monotonic()))
    finally:
        os.close(master)
    return RunResult(returncode, output, b"", temp=prefix_temp())


# --------------------------------------------------------------------------
# The launch log


_prefix_temp: TempDir | None = None


def prefix_temp() -> TempDir:
    """The Windows temporary directory of the prefix (C:\\users\\<user>\\Temp),
    which programs started from Linux get; found once through cmd and winepath."""
    global _prefix_temp
    if _prefix_temp is None:
        env = wine_env(None, session_display())
        done = subprocess.run(["wine", "cmd", "/c", "echo", "%TEMP%"], env=env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=DEFAULT_TIMEOUT, check=True)
        windows = done.stdout.decode("utf-8", errors="replace").strip().rstrip("\\")
        done = subprocess.run(["winepath", "-u", windows], env=env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=DEFAULT_TIMEOUT, check=True)
        _prefix_temp = TempDir(Path(done.stdout.decode().strip()).resolve(), windows)
    return _prefix_temp


class LogDir:
    """The prefix's temporary directory (see `prefix_temp`) as class methods."""

    @classmethod
    def windows_dir(cls) -> str:
        """The directory as Windows programs see it, e.g. C:\\users\\root\\Temp."""
        return prefix_temp().windows

    @classmethod
    def path(cls) -> Path:
        """The directory as a Linux path."""
        return prefix_temp().path

    @classmethod
    def logs(cls) -> list:
        return prefix_temp().logs()

    @classmethod
    def clear(cls) -> None:
        prefix_temp().clear()
        (WINEPREFIX / "drive_c" / "tvx_nlog").unlink(missing_ok=True)

    @classmethod
    def newest(cls) -> LaunchLog | None:
        return prefix_temp().newest()

    @classmethod
    def for_executable(cls, exe: os.PathLike | str) -> LaunchLog | None:
        return prefix_temp().for_executable(exe)

    @classmethod
    def windows_path_of(cls, log: LaunchLog) -> str:
        return prefix_temp().windows_path_of(log)


# --------------------------------------------------------------------------
# Building installers

DEFAULT_FILES = {
    "tvxruntime.jar": b"PK\x05\x06" + bytes(18),  # an empty zip archive
    "tvxparams.conf": b"# installer parameters\r\nmode=test\r\n",
}


def default_manifest() -> dict:
    return {"integrity_check": True, "config": {"107": "5", "2001": "i"}}


def build_installer(tmp_path: Path, target: str, manifest: Mapping | None = None,
                    files: Mapping[str, bytes] | None = None, name: str = "installer.exe",
                    stub: Path | None = None) -> Path:
    """Builds an installer from the target's stub (or `stub`) with the packer.

    `manifest` is merged over the default manifest (its "config" over the
    default config); `files` are the payload files in order (default: a small
    tvxruntime.jar and tvxparams.conf), written beside the manifest.
    """
    packer = tvxpack_path()
    if not packer.exists():
        import pytest
        pytest.skip(f"the packer is not built ({packer})")
    combined = default_manifest()
    for key, value in (manifest or {}).items():
        if key == "config":
            combined["config"] = {**combined["config"], **value}
        else:
            combined[key] = value
    work = tmp_path / (Path(name).stem + "_src")
    work.mkdir(parents=True, exist_ok=True)
    if "payload" not in combined:
        combined["payload"] = []
        for file_name, content in (DEFAULT_FILES if files is None else files).items():
            (work / file_name).write_bytes(content)
            combined["payload"].append({"name": file_name, "source": file_name})
    manifest_path = work / "manifest.json"
    manifest_path.write_text(json.dumps(combined, indent=2, ensure_ascii=False), encoding="utf-8")
    output = tmp_path / name
    done = subprocess.run([str(packer), "--stub", str(stub or stub_path(target)), "--manifest", str(manifest_path),
                           "--output", str(output)], capture_output=True, timeout=DEFAULT_TIMEOUT, check=False)
    if done.returncode != 0:
        raise RuntimeError(f"tvxpack failed ({done.returncode}): {done.stderr.decode(errors='replace')}")
    return output


def ordered_lines_present(haystack: str, lines: Iterable[str]) -> bool:
    """True when every line occurs in `haystack`, each after the previous one."""
    position = 0
    for line in lines:
        found = haystack.find(line, position)
        if found < 0:
            return False
        position = found + len(line)
    return True
