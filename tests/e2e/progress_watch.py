"""The graphical start as the user sees it, and what it leaves behind.

* ``run_following`` runs an installer through dialog_watcher.exe in its
  follow mode: the progress dialog (class "MyDialogClass") is recorded once
  and then watched until the program ends: its bar positions over time, when
  it was hidden or closed, and which other windows of the program appeared.
  Message boxes that appear meanwhile are recorded and answered.
* ``Markers`` reads and sets the start-up markers with ``wine reg``.
* ``runtime_archive`` packs a directory into a "jre.tar.gz" with Python's
  tarfile, in the GNU or the POSIX format.
"""

from __future__ import annotations

import dataclasses
import gzip
import io
import os
import re
import subprocess
import tarfile
import tempfile
from pathlib import Path
from typing import Mapping, Sequence

import harness

DIALOG_CLASS = "MyDialogClass"
MARKER_KEY = r"HKCU\SOFTWARE\quillmoor\kelpa"
BAR_LIMIT = 390

# Control ids of dialog 103.
MESSAGE_TEXT = 1003
STATUS_LINE = 1002
PROGRESS_BAR = 1001
CANCEL = 2

# Messages a test installer gives the dialog (20012 and 20013 have defaults).
MESSAGES = {"20007": "Preparing the test installer ...", "20014": "The test installer did not start in time."}
CORRUPTED_RUNTIME = "The bundled JRE is corrupted. If you downloaded the setup file please download it again."


@dataclasses.dataclass
class Following:
    """A run through the watcher's follow mode."""
    result: harness.RunResult
    positions: list  # (ms, position) in order
    hidden: list  # ms
    closed: list  # ms
    others: list  # (ms, class, caption)
    invisible: set  # control ids of the followed dialog that were hidden when it appeared

    @property
    def dialog(self) -> harness.Window | None:
        """The progress dialog as first recorded (the first window with a bar)."""
        return next((w for w in self.result.windows if w.control_text(PROGRESS_BAR) is not None), None)

    @property
    def bar(self) -> list:
        return [position for _, position in self.positions]

    def describe(self) -> str:
        return self.result.describe()

    @property
    def statuses(self) -> list:
        """(ms, text) of every change of the followed dialog's status line."""
        return [(int(m.group(1)), harness._unescape(m.group(2)))
                for m in re.finditer(r"^status (\d+) ?(.*)$", self.result.record, re.M)]

    @property
    def texts(self) -> list:
        """(ms, text) of every change of the followed dialog's message text."""
        return [(int(m.group(1)), harness._unescape(m.group(2)))
                for m in re.finditer(r"^text (\d+) ?(.*)$", self.result.record, re.M)]

    @property
    def control_changes(self) -> list:
        """(ms, "shown" or "hidden", control id) of the followed dialog's controls."""
        return [(int(m.group(2)), m.group(1), int(m.group(3)))
                for m in re.finditer(r"^control-(shown|hidden) (\d+) (-?\d+)$", self.result.record, re.M)]


def parse_following(text: str) -> tuple[list, list, list, list, set]:
    positions, hidden, closed, others, invisible = [], [], [], [], set()
    for line in text.splitlines():
        if m := re.fullmatch(r"position (\d+) (-?\d+)", line):
            positions.append((int(m.group(1)), int(m.group(2))))
        elif m := re.fullmatch(r"hidden (\d+)", line):
            hidden.append(int(m.group(1)))
        elif m := re.fullmatch(r"closed (\d+)", line):
            closed.append(int(m.group(1)))
        elif m := re.fullmatch(r"other (\d+) (\S+): ?(.*)", line):
            others.append((int(m.group(1)), m.group(2), m.group(3)))
        elif m := re.fullmatch(r"invisible (-?\d+)", line):
            invisible.add(int(m.group(1)))
    return positions, hidden, closed, others, invisible


def run_following(target: str, exe: os.PathLike | str, args: Sequence[str] = (), env: Mapping | None = None,
                  temp: harness.TempDir | None = None, wait_ms: int = 60000, no_window_ok: bool = False,
                  press: str | None = None, press_delay_ms: int | None = None, new_console: bool = False,
                  timeout: float = 300) -> Following:
    """Runs the installer through the watcher on the session's display: in
    follow mode, or, with `press`, answering the progress dialog (a button,
    "key:RETURN", "key:ESCAPE" or "close") `press_delay_ms` after it appeared.
    `new_console` gives the installer a console window of its own."""
    display = harness.session_display()
    fd, name = tempfile.mkstemp(prefix="follow_", suffix=".txt")
    os.close(fd)
    record = Path(name)
    try:
        command = [str(harness.watcher_path(target)), "--out", harness.windows_path(record), "--timeout",
                   str(wait_ms), "--class", DIALOG_CLASS]
        command += ["--follow"] if press is None else ["--press", press]
        if press_delay_ms is not None:
            command += ["--press-delay", str(press_delay_ms)]
        if no_window_ok:
            command.append("--no-window-ok")
        if new_console:
            command.append("--new-console")
        for key, value in (temp.env() if temp is not None else {}).items():
            command += ["--env", f"{key}={value}"]
        command += ["--", harness.windows_path(exe), *args]
        try:
            done = subprocess.run(["wine", *command], env=harness.wine_env(env, display), stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout, check=False)
        except subprocess.TimeoutExpired:
            # What the watcher saw and the launcher logged up to here say
            # where the start stood.
            seen = record.read_bytes().decode("utf-8", errors="replace") if record.exists() else ""
            logs = [p.read_text(encoding="utf-8-sig", errors="replace") for p in temp.logs()] if temp else []
            raise AssertionError(f"no end within {timeout} s; watcher record:\n{seen}\nlaunch logs:\n" +
                                 "\n".join(logs)) from None
        text = record.read_bytes().decode("utf-8") if record.exists() else ""
    finally:
        record.unlink(missing_ok=True)
    windows, no_window = harness.parse_record(text)
    stdout = re.sub(rb"exit code: -?\d+[^\n]*\r?\n?\Z", b"", done.stdout)
    result = harness.RunResult(done.returncode, stdout, done.stderr, windows, no_window, text,
                               temp if temp is not None else harness.prefix_temp())
    return Following(result, *parse_following(text))


# --------------------------------------------------------------------------
# The start-up markers


class Markers:
    """The per-user start-up markers, through `wine reg` in the session's prefix."""

    @staticmethod
    def _reg(*args: str) -> subprocess.CompletedProcess:
        return subprocess.run(["wine", "reg", *args], env=harness.wine_env(None, harness.session_display()),
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=harness.DEFAULT_TIMEOUT,
                              check=False)

    @classmethod
    def values(cls) -> dict:
        """Every "InstallStarted" value as {name: number}."""
        done = cls._reg("query", MARKER_KEY)
        found = {}
        for line in done.stdout.decode("utf-8", errors="replace").splitlines():
            m = re.match(r"^\s+(InstallStarted\S*)\s+REG_DWORD\s+0x([0-9a-fA-F]+)", line)
            if m:
                found[m.group(1)] = int(m.group(2), 16)
        return found

    @classmethod
    def set(cls, name: str, value: int) -> None:
        done = cls._reg("add", MARKER_KEY, "/v", name, "/t", "REG_DWORD", "/d", str(value), "/f")
        assert done.returncode == 0, done.stderr

    @classmethod
    def clear(cls) -> None:
        for name in cls.values():
            cls._reg("delete", MARKER_KEY, "/v", name, "/f")


# --------------------------------------------------------------------------
# Runtime archives


LONG_ENTRY = "legal/" + "long-directory-name-" * 6 + "/NOTICE"  # over 100 characters: a long name in both formats


def runtime_archive(source: Path, archive: Path, posix: bool = False, extra: Mapping[str, bytes] | None = None,
                    compresslevel: int = 6, more=None) -> int:
    """Packs the contents of `source` (top level at the archive's root) and the
    `extra` files into a gzip-compressed tar; `more(tar)` may add entries of
    its own at the end.  Returns the archive's uncompressed size."""
    fmt = tarfile.PAX_FORMAT if posix else tarfile.GNU_FORMAT
    with tarfile.open(archive, "w:gz", format=fmt, compresslevel=compresslevel) as tar:
        for path in sorted(source.iterdir()):
            if not path.name.startswith("."):
                tar.add(path, arcname=path.name)
        made = set(tar.getnames())
        for name, data in (extra or {}).items():
            # Directory entries first: the launcher creates one level per entry.
            parts = name.split("/")[:-1]
            for depth in range(1, len(parts) + 1):
                directory = "/".join(parts[:depth])
                if directory not in made:
                    add_bytes(tar, directory, b"", tarfile.DIRTYPE)
                    made.add(directory)
            add_bytes(tar, name, data)
        if more is not None:
            more(tar)
    with gzip.open(archive, "rb") as stream:
        size = 0
        while chunk := stream.read(1 << 20):
            size += len(chunk)
    return size


def add_bytes(tar: tarfile.TarFile, name: str, data: bytes, kind: bytes = tarfile.REGTYPE, link: str = "") -> None:
    """One entry: a file with `data`, or a directory or link (no data)."""
    info = tarfile.TarInfo(name)
    info.type = kind
    info.size = len(data) if kind == tarfile.REGTYPE else 0
    info.linkname = link
    info.mode = 0o755 if kind == tarfile.DIRTYPE else 0o644
    tar.addfile(info, io.BytesIO(data) if kind == tarfile.REGTYPE else None)


def gzip_tar(entries, cut: int | None = None) -> bytes:
    """A gzip-compressed tar of (name, data, kind, link) entries, its tar
    stream cut after `cut` bytes when given."""
    raw = io.BytesIO()
    with tarfile.open(fileobj=raw, mode="w", format=tarfile.GNU_FORMAT) as tar:
        for name, data, kind, link in entries:
            add_bytes(tar, name, data, kind, link)
    data = raw.getvalue()
    return gzip.compress(data[:cut] if cut is not None else data)


def unix_path(windows: str) -> Path:
    """The Linux path of a Z: drive path."""
    assert windows[:2].upper() == "Z:", windows
    return Path(windows[2:].replace("\\", "/"))
