"""Helpers of the end-to-end tests.

Installers are built with the packer (build/host/tvxpack) from a manifest and
run under Wine in the project's prefix (build/wineprefix):

* ``run`` runs a program with pipes or files;
* ``run_with_watcher`` runs it through dialog_watcher.exe, which records and
  answers every message box;
* ``run_in_pty`` runs it on a pseudo-terminal, the way a user's terminal does.

Every run of the session uses one Xvfb display. Wine's desktop process is
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

The launch log lives in the Windows temporary directory: the prefix's
(``LogDir``, ``prefix_temp``) or, for runs through the watcher, a private one
of the test (``TempDir.private``), which keeps tests apart from each other. ``BlockLayout`` reads the appended configuration block of
a built installer independently of the packer, so tests can cut or change it
at exact offsets.
"""

from __future__ import annotations

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
import zlib
from pathlib import Path
from typing import Iterable, Mapping, Sequence

REPO_ROOT = Path(__file__).resolve().parents[2]
BUILD_DIR = REPO_ROOT / "build"
WINEPREFIX = BUILD_DIR / "wineprefix"
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


def windows_path(path: os.PathLike | str) -> str:
    """The Wine path of a Linux path, through the Z: drive."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


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
    # Let it create the session before the first test's program starts.
    subprocess.run(["wine", str(probe), "exit", "0"], env=wine_env(None, display), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=DEFAULT_TIMEOUT, check=False)


def ensure_prefix() -> None:
    """Initialises the project's Wine prefix once (as scripts/setup.sh does)."""
    if (WINEPREFIX / "system.reg").exists():
        return
    WINEPREFIX.mkdir(parents=True, exist_ok=True)
    subprocess.run(["wineboot", "-i"], env=wine_env(), stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=300, check=False)
    subprocess.run(["wineserver", "-w"], env=wine_env(), timeout=300, check=False)


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
    and without an X display. LC_ALL=C.UTF-8 gives an English UI (0x0409) and
    UTF-8 for the Unix side (command-line arguments, file names); a locale
    that is not generated on this machine, such as de_DE.UTF-8, still sets the
    UI language, but Wine then converts arguments as ASCII, so tests keep
    their arguments ASCII when they change LC_ALL. A value of None in `extra`
    removes that variable.
    """
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "TOVRIX_LOG", "KELPA_LOG", "LANGUAGE", "LC_MESSAGES"):
        env.pop(name, None)
    env.update(WINEPREFIX=str(WINEPREFIX), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
               LC_ALL="C.UTF-8")
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
        elif line == "end":
            windows.append(current)
            current = None
    return windows, no_window


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
                     timeout: float = DEFAULT_TIMEOUT) -> RunResult:
    """Runs a program through dialog_watcher.exe on the session's Xvfb display.

    `press` is one button (id, IDxx name or text) or one per window; `temp`
    a private temporary directory for the program (default: the prefix's).
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


@dataclasses.dataclass
class LaunchLog:
    path: Path
    raw: bytes

    @property
    def has_bom(self) -> bool:
        return self.raw.startswith(b"\xef\xbb\xbf")

    @property
    def text(self) -> str:
        return self.raw.decode("utf-8-sig").replace("\r\n", "\n")

    @property
    def lines(self) -> list:
        return self.text.split("\n")

    @property
    def number(self) -> int:
        return int(re.fullmatch(r"tvx_nlog_(\d+)\.log", self.path.name).group(1))

    def messages(self) -> list:
        """The text of every "[s:ms] " line, without the prefix."""
        return [m.group(1) for m in (re.fullmatch(r"\[\d+:\d+\] (.*)", line) for line in self.lines) if m]

    def find(self, pattern: str) -> list:
        """re.search matches of `pattern` over the prefixed lines, in order."""
        return [m for m in (re.search(pattern, line) for line in self.messages()) if m]


class TempDir:
    """A Windows temporary directory (what GetTempPath answers), where the
    launch log is written: `path` on Linux, `windows` as Windows sees it
    (without a trailing backslash)."""

    def __init__(self, path: Path, windows: str) -> None:
        self.path = path
        self.windows = windows

    @classmethod
    def private(cls, directory: Path) -> "TempDir":
        """A new, empty directory; runs through the watcher with `temp=` use it
        as their TEMP and TMP, so their logs are apart from other tests'."""
        directory.mkdir(parents=True, exist_ok=True)
        return cls(directory.resolve(), windows_path(directory))

    def env(self) -> dict:
        return {"TEMP": self.windows, "TMP": self.windows}

    def logs(self) -> list:
        """The log files, by number."""
        files = [p for p in self.path.glob("tvx_nlog_*.log") if re.fullmatch(r"tvx_nlog_\d+\.log", p.name)]
        return sorted(files, key=lambda p: int(p.stem.rsplit("_", 1)[1]))

    def clear(self) -> None:
        for path in self.logs():
            path.unlink(missing_ok=True)

    def newest(self) -> LaunchLog | None:
        files = self.logs()
        if not files:
            return None
        path = max(files, key=lambda p: (p.stat().st_mtime_ns, int(p.stem.rsplit("_", 1)[1])))
        return LaunchLog(path, path.read_bytes())

    def for_executable(self, exe: os.PathLike | str) -> LaunchLog | None:
        """The newest log whose first line names `exe` (other programs may
        write logs into the same directory at the same time)."""
        wanted = f"Started executable {windows_path(exe)} at ".lower()
        found = []
        for path in self.logs():
            try:
                raw = path.read_bytes()
            except FileNotFoundError:  # removed by another test session meanwhile
                continue
            first = raw.decode("utf-8-sig", errors="replace").split("\n", 1)[0]
            if first.lower().startswith(wanted):
                found.append(LaunchLog(path, raw))
        return max(found, key=lambda log: (log.path.stat().st_mtime_ns, log.number), default=None)

    def windows_path_of(self, log: LaunchLog) -> str:
        return self.windows + "\\" + log.path.name


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
    spec = default_manifest()
    for key, value in (manifest or {}).items():
        if key == "config":
            spec["config"] = {**spec["config"], **value}
        else:
            spec[key] = value
    work = tmp_path / (Path(name).stem + "_src")
    work.mkdir(parents=True, exist_ok=True)
    if "payload" not in spec:
        spec["payload"] = []
        for file_name, content in (DEFAULT_FILES if files is None else files).items():
            (work / file_name).write_bytes(content)
            spec["payload"].append({"name": file_name, "source": file_name})
    manifest_path = work / "manifest.json"
    manifest_path.write_text(json.dumps(spec, indent=2, ensure_ascii=False), encoding="utf-8")
    output = tmp_path / name
    done = subprocess.run([str(packer), "--stub", str(stub or stub_path(target)), "--manifest", str(manifest_path),
                           "--output", str(output)], capture_output=True, timeout=DEFAULT_TIMEOUT, check=False)
    if done.returncode != 0:
        raise RuntimeError(f"tvxpack failed ({done.returncode}): {done.stderr.decode(errors='replace')}")
    return output


# --------------------------------------------------------------------------
# The appended block, read independently of the packer


@dataclasses.dataclass
class BlockRecord:
    """One record: `start` is the offset of its int32 id (or of the locale
    name's length), `text` the offset of its text bytes, `end` the offset after it."""
    key: int | str
    start: int
    text: int
    end: int
    value: bytes


@dataclasses.dataclass
class LocaleLayout:
    name: str
    name_record: BlockRecord
    count_at: int
    messages: list


@dataclasses.dataclass
class BlockLayout:
    size: int
    sections: int
    optional_header_size: int
    raw_data_size: int
    raw_data_offset: int
    start: int  # offset of the magic
    magic: int
    integrity_flag: int
    crc: int
    covered_length: int
    config_count_at: int
    config: list
    messages_count_at: int
    messages: list
    locales_count_at: int
    locales: list
    payload_offset: int
    payload_files: list  # (size field offset, data offset, size)

    @property
    def covered_start(self) -> int:
        return self.start + 20

    @property
    def covered_end(self) -> int:
        return self.covered_start + self.covered_length

    def config_record(self, key: int) -> BlockRecord:
        return next(r for r in self.config if r.key == key)

    def message_record(self, key: int) -> BlockRecord:
        return next(r for r in self.messages if r.key == key)

    def covered_crc(self, data: bytes) -> int:
        return zlib.crc32(data[self.covered_start:self.covered_end]) & 0xFFFFFFFF

    @classmethod
    def read(cls, path: os.PathLike | str) -> "BlockLayout":
        data = Path(path).read_bytes()

        def i32(at: int) -> int:
            return struct.unpack_from("<i", data, at)[0]

        header = i32(60)
        sections = struct.unpack_from("<H", data, header + 6)[0]
        optional = struct.unpack_from("<H", data, header + 20)[0]
        last = header + optional + 40 * sections  # 16 bytes into the last section header
        raw_size, raw_offset = struct.unpack_from("<II", data, last)
        start = raw_size + raw_offset
        magic, flag, crc, covered = struct.unpack_from("<IiIq", data, start)
        at = start + 20

        def records(count: int) -> tuple[list, int]:
            nonlocal at
            result = []
            for _ in range(count):
                begin = at
                key, length = struct.unpack_from("<ii", data, at)
                result.append(BlockRecord(key, begin, at + 8, at + 8 + length, data[at + 8:at + 8 + length]))
                at += 8 + length
            return result, at

        config_count_at = at
        config_count = i32(at)
        at += 4
        config, _ = records(config_count)
        messages_count_at = at
        message_count = i32(at)
        at += 4
        messages, _ = records(message_count)
        locales_count_at = at
        locale_count = i32(at)
        at += 4
        locales = []
        for _ in range(locale_count):
            length = i32(at)
            name_bytes = data[at + 4:at + 4 + length]
            name_record = BlockRecord(name_bytes.decode("latin-1"), at, at + 4, at + 4 + length, name_bytes)
            at += 4 + length
            count_at = at
            count = i32(at)
            at += 4
            locale_messages, _ = records(count)
            locales.append(LocaleLayout(name_record.key, name_record, count_at, locale_messages))
        payload_offset = at
        files = []
        names = next((r.value for r in config if r.key == 2002), b"0")
        for _ in range(int(names or b"0")):
            size = struct.unpack_from("<q", data, at)[0]
            files.append((at, at + 8, size))
            at += 8 + size
        return cls(len(data), sections, optional, raw_size, raw_offset, start, magic, flag, crc, covered,
                   config_count_at, config, messages_count_at, messages, locales_count_at, locales,
                   payload_offset, files)


def truncated_copy(source: Path, length: int, destination: Path) -> Path:
    destination.write_bytes(source.read_bytes()[:length])
    return destination


def changed_copy(source: Path, offset: int, destination: Path, xor: int = 0x01) -> Path:
    data = bytearray(source.read_bytes())
    data[offset] ^= xor
    destination.write_bytes(bytes(data))
    return destination


def ordered_lines_present(haystack: str, lines: Iterable[str]) -> bool:
    """True when every line occurs in `haystack`, each after the previous one."""
    position = 0
    for line in lines:
        found = haystack.find(line, position)
        if found < 0:
            return False
        position = found + len(line)
    return True
