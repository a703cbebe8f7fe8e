"""Programs that run beside each other: copies of one installer held alive by
the project's Java runtime, the dialog watcher following a window's state,
a file held open without sharing, and Wine's record of deletions at reboot.

* ``start`` runs a Windows program in the background on the session's
  display (``Background``); ``follow_states`` runs it through the dialog
  watcher's follow mode with ``--states`` (``FollowedProgram``), which
  records the followed window's minimised state and whether it is the
  foreground window.
* ``hold_file`` holds a path open without sharing (tests/tools/file_holder).
* ``PendingDeletions`` reads and clears "PendingFileRenameOperations".
* ``throwaway_prefix`` is a copy of the project's prefix for what would end
  the session's Wine (a restart request): its own wineserver, ended and
  removed afterwards.
"""

from __future__ import annotations

import contextlib
import os
import re
import shutil
import subprocess
import tempfile
import time
from pathlib import Path
from typing import Callable, Mapping, Sequence

import pytest

import graphical_fixtures as gf
import harness
import java_runtime as jr
import wine_prefix

SESSION_MANAGER = r"HKLM\System\CurrentControlSet\Control\Session Manager"
PENDING = "PendingFileRenameOperations"


def wait_until(condition: Callable[[], object], timeout: float, step: float = 0.05, what: str = "condition"):
    """Polls until `condition()` is true; its value, or AssertionError after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(step)


class Background:
    """A Windows program running under `wine` in the background."""

    def __init__(self, command: Sequence[str], env: Mapping[str, str]) -> None:
        self.process = subprocess.Popen(["wine", *command], env=dict(env), stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def running(self) -> bool:
        return self.process.poll() is None

    def wait(self, timeout: float = harness.DEFAULT_TIMEOUT) -> int:
        return self.process.wait(timeout=timeout)

    def stop(self) -> None:
        """Ends the program if it still runs (a failed test's leftover)."""
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=30)


def start(exe: os.PathLike | str, args: Sequence[str] = (), env: Mapping | None = None,
          prefix: Path | None = None) -> Background:
    """Starts a Windows program in the session's prefix (or `prefix`) on the session's display."""
    extra = dict(env or {})
    if prefix is not None:
        extra["WINEPREFIX"] = str(prefix)
    return Background([str(exe), *args], harness.wine_env(extra, harness.session_display()))


class FollowedProgram(Background):
    """A program started through the dialog watcher's follow mode with --states."""

    def __init__(self, command: Sequence[str], env: Mapping[str, str], record: Path) -> None:
        super().__init__(command, env)
        self.record = record

    def text(self) -> str:
        try:
            return self.record.read_bytes().decode("utf-8")
        except FileNotFoundError:
            return ""

    @property
    def pid(self) -> int | None:
        """The Windows process id of the program the watcher started."""
        match = re.search(r"^process (\d+)$", self.text(), re.M)
        return int(match.group(1)) if match else None

    def states(self) -> list:
        """(ms, "state" | "foreground", value) in the order recorded."""
        return [(int(m.group(2)), m.group(1), m.group(3))
                for m in re.finditer(r"^(state|foreground) (\d+) (\w+)$", self.text(), re.M)]

    def last(self, kind: str) -> str | None:
        values = [value for _, k, value in self.states() if k == kind]
        return values[-1] if values else None


def follow_states(target: str, exe: os.PathLike | str, args: Sequence[str], window_class: str, record: Path,
                  temp: harness.TempDir | None = None, env: Mapping | None = None, minimise: bool = False,
                  wait_ms: int = 120000) -> FollowedProgram:
    """Starts the program through the watcher, following its windows of
    `window_class` and their states; `minimise` minimises each once seen."""
    command = [str(harness.watcher_path(target)), "--out", harness.windows_path(record), "--timeout", str(wait_ms),
               "--class", window_class, "--follow", "--states", "--no-window-ok"]
    if minimise:
        command.append("--minimise")
    for name, value in (temp.env() if temp is not None else {}).items():
        command += ["--env", f"{name}={value}"]
    command += ["--", harness.windows_path(exe), *args]
    return FollowedProgram(command, harness.wine_env(env, harness.session_display()), record)


def file_holder_path(target: str) -> Path:
    return harness.tools_dir(target) / "file_holder.exe"


def hold_file(target: str, path: Path, milliseconds: int, prefix: Path | None = None) -> Background:
    """Holds `path` (a file, created when missing, or a directory) open
    without sharing for `milliseconds`; returns once it is held."""
    ready = path.parent / (path.name + ".held")
    ready.unlink(missing_ok=True)
    holder = start(file_holder_path(target), [harness.windows_path(path), str(milliseconds),
                                              harness.windows_path(ready)], prefix=prefix)
    wait_until(lambda: ready.exists() or not holder.running(), 60, what=f"{path} to be held")
    assert ready.exists(), f"file_holder could not open {path} (exit code {holder.wait()})"
    ready.unlink()
    return holder


def deletion_list(wait: str, mode: str | None, question: Sequence[str] = (), warning: Sequence[str] = (),
                  files: Sequence[str] = (), directories: Sequence[str] = (), line_end: str = "\r\n") -> bytes:
    """A deletion list as the Java side writes it (UTF-16LE, no byte-order
    mark). `mode` None writes an empty mode line and neither text."""
    lines = [wait]
    if mode is None:
        lines.append("")
    else:
        lines += [mode, *question, "EOSMARKER", *warning, "EOSMARKER"]
    lines += [*files, "", *directories]
    return "".join(line + line_end for line in lines).encode("utf-16-le")


def reg(args: Sequence[str], prefix: Path | None = None) -> subprocess.CompletedProcess:
    extra = {"WINEPREFIX": str(prefix)} if prefix is not None else None
    return subprocess.run(["wine", "reg", *args], env=harness.wine_env(extra, harness.session_display()),
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=harness.DEFAULT_TIMEOUT, check=False)


def reg_value(key: str, name: str, view: str | None = None, prefix: Path | None = None) -> tuple[str, str] | None:
    """(type, data as `reg query` prints it) of a value, or None."""
    args = ["query", key, "/v", name] + ([view] if view else [])
    done = reg(args, prefix)
    if done.returncode != 0:
        return None
    for line in done.stdout.decode("utf-8", errors="replace").splitlines():
        match = re.match(r"^\s+(.+?)\s+(REG_\w+)\s*(.*)$", line)
        if match and match.group(1).lower() == name.lower():
            return match.group(2), match.group(3)
    return None


class PendingDeletions:
    """The deletions at reboot Wine records as Windows does: pairs of source
    and target in "PendingFileRenameOperations", an empty target for a
    deletion."""

    @staticmethod
    def entries(prefix: Path | None = None) -> list:
        """The (source, target) pairs, as stored ("\\??\\" paths), read
        from a `reg export` (whose hex(7) form keeps every string apart)."""
        export = Path(tempfile.mkdtemp(prefix="pending_")) / "export.reg"
        try:
            if reg(["export", SESSION_MANAGER, harness.windows_path(export), "/y"], prefix).returncode != 0:
                return []
            text = export.read_bytes().decode("utf-16")
        finally:
            shutil.rmtree(export.parent, ignore_errors=True)
        text = re.sub(r"\\\r?\n\s*", "", text)  # hex lines continue after a backslash
        match = re.search(r'^"%s"=hex\(7\):([0-9a-fA-F,]*)' % PENDING, text, re.M)
        if match is None:
            return []
        data = bytes(int(h, 16) for h in match.group(1).split(",") if h)
        strings = data.decode("utf-16-le").split("\0")
        while strings and strings[-1] == "":
            strings.pop()
        if len(strings) % 2:
            strings.append("")
        return [(strings[i], strings[i + 1]) for i in range(0, len(strings), 2)]

    @classmethod
    def sources(cls, prefix: Path | None = None) -> list:
        """The Windows paths scheduled for deletion (without "\\??\\")."""
        return [source[4:] if source.startswith("\\??\\") else source
                for source, target in cls.entries(prefix) if not target]

    @staticmethod
    def clear(prefix: Path | None = None) -> None:
        reg(["delete", SESSION_MANAGER, "/v", PENDING, "/f"], prefix)


@contextlib.contextmanager
def throwaway_prefix(directory: Path):
    """A copy of the project's prefix at `directory`, for a program that
    ends its Wine session; its wineserver is ended and the copy removed."""
    harness.ensure_prefix()
    wine_prefix._copy(wine_prefix.BASE_PREFIX, directory)
    env = wine_prefix.base_env(directory)
    try:
        yield directory
    finally:
        subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60, check=False)
        subprocess.run(["wineserver", "-w"], env=env, timeout=60, check=False)
        shutil.rmtree(directory, ignore_errors=True)


# --------------------------------------------------------------------------
# Installers of the project's Java runtime


REAL_JAVA = harness.BUILD_DIR / "java" / "11"


def installer_params(report: Path | None = None, **entries: str | int) -> bytes:
    """tvxparams.conf: the report path (or none, with report.dir among the
    entries) and further entries, dots written as underscores (report_dir)."""
    text = jr.params_text(harness.windows_path(report)) if report is not None else "end=return\n"
    for key, value in entries.items():
        text += "%s=%s\n" % (key.replace("_", "."), jr._properties_value(str(value)))
    return text.encode()


def java_env(home: Path | None = None) -> dict:
    """No Java runtime variable but JAVA_HOME naming `home`, and the log kept."""
    return gf.quiet_env({"JAVA_HOME": harness.windows_path(home)} if home is not None else None)


def real_java() -> Path:
    if not (REAL_JAVA / "bin" / "server" / "jvm.dll").exists():
        pytest.skip(f"no real Java 11 runtime in {REAL_JAVA} (scripts/fetch_java.sh fetches it)")
    return REAL_JAVA


def release(report: Path) -> None:
    """Tells the held copy that wrote `report` to end."""
    (report.parent / (report.name + ".end")).write_text("")


def semaphore_base(exe: os.PathLike | str, global_namespace: bool = False) -> str:
    """The instance semaphore's name without counter for an executable under
    its Z: path: the path lower-cased, backslashes and blanks as underscores."""
    path = harness.windows_path(exe).lower()
    return ("Global\\" if global_namespace else "Local\\") + path.replace("\\", "_").replace(" ", "_")


PIDS_KEY = r"HKCU\SOFTWARE\quillmoor\kelpa\pids"


def stored_pid(exe: os.PathLike | str) -> int | None:
    """The pids value of an executable (named by its lower-case path)."""
    value = reg_value(PIDS_KEY, harness.windows_path(exe).lower())
    return int(value[1], 16) if value and value[0] == "REG_DWORD" else None
