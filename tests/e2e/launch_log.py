"""The launch log and the Windows temporary directory it is written to."""

from __future__ import annotations

import dataclasses
import os
import re
from pathlib import Path


def windows_path(path: os.PathLike | str) -> str:
    """The Wine path of a Linux path, through the Z: drive."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


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
