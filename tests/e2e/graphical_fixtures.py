"""Installers for the graphical start and the carried runtime.

* ``doubles_runtime`` lays out a Java runtime home made of the target's test
  doubles: the java.exe double (its "-version" line from java.cfg), the
  starting jvm.dll double (tests/doubles/starting_jvm_dll.cpp: its main shows
  a window or writes the start-up marker, then waits) and, when asked, the
  unpack200.exe double.
* ``graphical_installer`` builds an installer whose payload is the project's
  Java runtime (or a stand-in jar), its parameter file and, optionally, a
  "jre.tar.gz".
* ``launch`` runs it with every Java runtime variable removed and the log kept.
"""

from __future__ import annotations

import dataclasses
import re
import shutil
from pathlib import Path
from typing import Mapping, Sequence

import pytest

import harness
import java_runtime as jr
import progress_watch as pw

OPENJDK_11 = 'openjdk version "11.0.2" 2019-01-15'
SEARCH_VARIABLES = ("JAVA_HOME", "JDK_HOME", "KELPA_JAVA_HOME", "TOVRIX_JAVA_HOME", "_JAVA_OPTIONS")
EMPTY_JAR = b"PK\x05\x06" + bytes(18)


def doubles(target: str) -> Path:
    return harness.target_dir(target) / "doubles"


def doubles_runtime(target: str, home: Path, start: str = "marker", wait_ms: int = 0, record: Path | None = None,
                    unpack200: bool = False, delay_ms: int = 0) -> Path:
    """A runtime home of test doubles at `home` (created)."""
    java, jvm = doubles(target) / "java.exe", doubles(target) / "starting_jvm" / "jvm.dll"
    if not java.exists() or not jvm.exists():
        pytest.skip(f"the Java runtime doubles are not built in {doubles(target)}")
    (home / "bin" / "client").mkdir(parents=True, exist_ok=True)
    shutil.copyfile(java, home / "bin" / "java.exe")
    (home / "bin" / "java.cfg").write_text(f"line={OPENJDK_11}\r\nexit=0\r\n", encoding="latin-1", newline="")
    shutil.copyfile(jvm, home / "bin" / "client" / "jvm.dll")
    settings = f"start={start}\r\nwait={wait_ms}\r\ndelay={delay_ms}\r\n"
    if record is not None:
        settings += f"record={harness.windows_path(record)}\r\n"
    (home / "bin" / "client" / "starting_jvm.cfg").write_text(settings, encoding="utf-8", newline="")
    if unpack200:
        shutil.copyfile(doubles(target) / "unpack200.exe", home / "bin" / "unpack200.exe")
    return home


def params(report: Path, end: str = "return", **extra: str | int) -> bytes:
    """tvxparams.conf for the project's Java runtime; `extra` keys (dots as
    underscores: window_delay) are added as they are."""
    text = jr.params_text(harness.windows_path(report), end=end)
    text += "".join(f"{key.replace('_', '.')}={value}\n" for key, value in extra.items())
    return text.encode()


def graphical_installer(tmp_path: Path, target: str, config: Mapping[str, str] | None = None,
                        archive: Path | None = None, params_bytes: bytes | None = None, real_jar: bool = True,
                        extra_files: Mapping[str, bytes] | None = None, name: str = "setup.exe",
                        messages: Mapping[str, str] | None = None) -> Path:
    """An installer with the dialog messages of the tests (and `messages`),
    the project's Java runtime (or an empty jar), its parameters and the
    optional archive."""
    if not harness.stub_path(target).exists():
        pytest.skip(f"the launcher stub is not built: {harness.stub_path(target)}")
    if real_jar and not jr.JAR.exists():
        pytest.skip(f"the Java runtime is not built ({jr.JAR}; java/build.sh builds it)")
    files = {"tvxruntime.jar": jr.JAR.read_bytes() if real_jar else EMPTY_JAR,
             "tvxparams.conf": params_bytes if params_bytes is not None else params(tmp_path / "report.txt")}
    files.update(extra_files or {})
    if archive is not None:
        files["jre.tar.gz"] = archive.read_bytes()
    values = {"126": "1.8", "128": "EJAVA_HOME;", **(config or {})}
    all_messages = {**pw.MESSAGES, **(messages or {})}
    return harness.build_installer(tmp_path, target, {"config": values, "messages": all_messages}, files=files,
                                   name=name)


def quiet_env(extra: Mapping[str, str] | None = None) -> dict:
    env = {name: None for name in SEARCH_VARIABLES}
    env["TOVRIX_LOG"] = "yes"
    env.update(extra or {})
    return env


@dataclasses.dataclass
class GraphicalRun:
    exe: Path
    following: pw.Following
    log: harness.LaunchLog

    @property
    def messages(self) -> list:
        return self.log.messages()

    def has(self, line: str) -> bool:
        return line in self.messages

    def after(self, prefix: str) -> list:
        return [line[len(prefix):] for line in self.messages if line.startswith(prefix)]

    def describe(self) -> str:
        return self.following.describe() + "\nlog:\n" + self.log.text

    @property
    def extraction_directory(self) -> Path:
        return pw.unix_path(self.after("Current working dir: ")[0])


def log_time(log: harness.LaunchLog, line: str) -> int:
    """Milliseconds since the log started of the first line `line`."""
    for text in log.lines:
        m = re.fullmatch(r"\[(\d+):(\d+)\] (.*)", text)
        if m and m.group(3) == line:
            return int(m.group(1)) * 1000 + int(m.group(2))
    raise AssertionError(f"no log line {line!r}:\n{log.text}")


def launch(target: str, exe: Path, temp: harness.TempDir, args: Sequence[str] = (),
           env: Mapping[str, str] | None = None, wait_ms: int = 60000, no_window_ok: bool = False,
           press: str | None = None, press_delay_ms: int | None = None, new_console: bool = False) -> GraphicalRun:
    """Runs the installer through the watcher (see progress_watch.run_following)
    without any Java runtime variable, its log kept in `temp`."""
    following = pw.run_following(target, exe, args, env=quiet_env(env), temp=temp, wait_ms=wait_ms,
                                 no_window_ok=no_window_ok, press=press, press_delay_ms=press_delay_ms,
                                 new_console=new_console)
    log = temp.for_executable(exe)
    assert log is not None, f"no launch log of {exe}\n{following.describe()}"
    return GraphicalRun(exe, following, log)
