"""Java runtimes for the end-to-end tests of the JVM search.

* ``FakeHome``: a runtime home made of the test doubles of the target's build
  (``<home>\\bin\\java.exe`` with its ``java.cfg``, optionally
  ``<home>\\bin\\<variant>\\jvm.dll``); the double counts its runs in a file.
* ``real_runtime``: a real 64-bit Windows runtime fetched by
  scripts/fetch_java.sh into build/java/<major>.
* ``Registry``: the located-JVM cache read and changed from outside with
  ``wine reg``.
* ``run_search``: runs an installer quietly with its log kept and returns the
  result and the launch log.
"""

from __future__ import annotations

import dataclasses
import re
import shutil
import subprocess
from pathlib import Path
from typing import Mapping, Sequence

import pytest

import harness

# Seconds between 1601-01-01 (FILETIME) and 1970-01-01, in 100 ns units.
_FILETIME_EPOCH = 116444736000000000

CACHE_KEY = r"HKCU\SOFTWARE\quillmoor\kelpa\jvms"


def doubles_dir(target: str) -> Path:
    return harness.target_dir(target) / "doubles"


@dataclasses.dataclass
class FakeHome:
    path: Path

    @property
    def windows(self) -> str:
        return harness.windows_path(self.path)

    @property
    def java_exe(self) -> Path:
        return self.path / "bin" / "java.exe"

    @property
    def checked_exe(self) -> str:
        """The executable as the probe names it: absolute and lower-case."""
        return harness.windows_path(self.java_exe).lower()

    @property
    def count_file(self) -> Path:
        return self.path / "runs.txt"

    def behave(self, lines: Sequence[str], exit_code: int = 0) -> None:
        cfg = "".join(f"line={line}\r\n" for line in lines)
        cfg += f"exit={exit_code}\r\ncount={harness.windows_path(self.count_file)}\r\n"
        (self.path / "bin" / "java.cfg").write_text(cfg, encoding="latin-1", newline="")

    @property
    def runs(self) -> int:
        return self.count_file.read_text(encoding="latin-1").count("\n") if self.count_file.exists() else 0


def fake_home(target: str, path: Path, version_line: str, variant: str | None = "client",
              exit_code: int = 0) -> FakeHome:
    """A fake runtime home with the doubles of `target`'s build."""
    java, jvm = doubles_dir(target) / "java.exe", doubles_dir(target) / "jvm.dll"
    if not java.exists() or not jvm.exists():
        pytest.skip(f"the Java runtime doubles are not built in {doubles_dir(target)}")
    (path / "bin").mkdir(parents=True, exist_ok=True)
    shutil.copyfile(java, path / "bin" / "java.exe")
    if variant:
        (path / "bin" / variant).mkdir(parents=True, exist_ok=True)
        shutil.copyfile(jvm, path / "bin" / variant / "jvm.dll")
    home = FakeHome(path)
    home.behave([version_line] if version_line else [], exit_code)
    return home


def real_runtime(major: int) -> Path:
    home = harness.BUILD_DIR / "java" / str(major)
    if not (home / "bin" / "java.exe").exists() or not (home / "bin" / "server" / "jvm.dll").exists():
        pytest.skip(f"no real Java {major} runtime in {home} (scripts/fetch_java.sh fetches it)")
    return home


def filetime_of(path: Path) -> int:
    """The file's last-write time as Wine reports it (from the Unix mtime)."""
    return path.stat().st_mtime_ns // 100 + _FILETIME_EPOCH


class Registry:
    """The located-JVM cache, through `wine reg` in the session's prefix."""

    @staticmethod
    def _reg(*args: str) -> subprocess.CompletedProcess:
        return subprocess.run(["wine", "reg", *args], env=harness.wine_env(None, harness.session_display()),
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=harness.DEFAULT_TIMEOUT,
                              check=False)

    @staticmethod
    def cache_key(checked_exe: str) -> str:
        return CACHE_KEY + "\\" + checked_exe.replace("\\", "/")

    @classmethod
    def query(cls, key: str) -> dict | None:
        """The values of a key as {name: (type, data)}, or None when it is missing."""
        done = cls._reg("query", key)
        if done.returncode != 0:
            return None
        values = {}
        for line in done.stdout.decode("utf-8", errors="replace").splitlines():
            match = re.match(r"^\s+(\S.*?)\s+(REG_\w+)\s*(.*)$", line)
            if match:
                values[match.group(1)] = (match.group(2), match.group(3).strip())
        return values

    @classmethod
    def cached(cls, checked_exe: str) -> tuple[str | None, int | None] | None:
        """(version, last-write time) of a cache entry, or None."""
        values = cls.query(cls.cache_key(checked_exe))
        if values is None:
            return None
        version = values.get("Version", (None, None))[1]
        raw = values.get("LastWriteTime", (None, None))[1]
        written = int.from_bytes(bytes.fromhex(raw), "little") if raw else None
        return version, written

    @classmethod
    def set_cached(cls, checked_exe: str, version: str | None = None, written: int | None = None) -> None:
        key = cls.cache_key(checked_exe)
        if version is not None:
            assert cls._reg("add", key, "/v", "Version", "/t", "REG_SZ", "/d", version, "/f").returncode == 0
        if written is not None:
            data = written.to_bytes(8, "little").hex()
            assert cls._reg("add", key, "/v", "LastWriteTime", "/t", "REG_BINARY", "/d", data, "/f").returncode == 0

    @classmethod
    def delete(cls, key: str) -> None:
        cls._reg("delete", key, "/f")

    @classmethod
    def forget_cached_under(cls, directory: Path) -> None:
        """Deletes the cache entries of executables below a directory."""
        done = cls._reg("query", CACHE_KEY)
        prefix = ("HKEY_CURRENT_USER" + CACHE_KEY[4:] + "\\" +
                  harness.windows_path(directory).lower().replace("\\", "/") + "/")
        for line in done.stdout.decode("utf-8", errors="replace").splitlines():
            if line.strip().lower().startswith(prefix.lower()):
                cls.delete(line.strip())


@dataclasses.dataclass
class SearchRun:
    result: harness.RunResult
    log: harness.LaunchLog

    @property
    def messages(self) -> list:
        return self.log.messages()

    def has(self, line: str) -> bool:
        return line in self.messages

    def count(self, prefix: str) -> int:
        return sum(1 for line in self.messages if line.startswith(prefix))

    def search_part(self) -> str:
        """The log from "Searching for a JVM" on, one line each."""
        lines = self.messages
        start = next((i for i, line in enumerate(lines) if line == "Searching for a JVM"), 0)
        return "\n".join(lines[start:])


def search_installer(tmp_path: Path, target: str, sequence: str = "Y;EJAVA_HOME;EJDK_HOME;",
                     config: Mapping[str, str] | None = None, name: str = "installer.exe") -> Path:
    """An installer whose run searches for a JVM: minimum 1.8, no maximum,
    the given search sequence and the installer's directory as application
    directory."""
    values = {"126": "1.8", "128": sequence, "10003": "."}
    values.update(config or {})
    return harness.build_installer(tmp_path, target, {"config": values}, name=name)


# Variables the search reads; every run starts without them unless a test sets them.
SEARCH_VARIABLES = ("JAVA_HOME", "JDK_HOME", "KELPA_JAVA_HOME", "TOVRIX_JAVA_HOME", "_JAVA_OPTIONS")


def run_search(target: str, exe: Path, env: Mapping[str, str] | None = None,
               args: Sequence[str] = ("-q",), timeout: float = harness.DEFAULT_TIMEOUT) -> SearchRun:
    """Runs the installer quietly with its log kept; the log must exist."""
    full_env = {name: None for name in SEARCH_VARIABLES}
    full_env.update(env or {})
    full_env["TOVRIX_LOG"] = "yes"
    result = harness.run(target, exe, list(args), env=full_env, timeout=timeout)
    log = harness.LogDir.for_executable(exe)
    assert log is not None, f"no launch log of {exe}\n{result.describe()}"
    return SearchRun(result, log)
