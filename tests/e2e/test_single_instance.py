"""One copy at a time: the instance semaphore named after the executable's
path, end to end under Wine with real processes side by side.

* Single-instance mode (entry 10005): a first copy, the project's Java
  runtime on the real Java 11 runtime, stays alive with its window
  minimised; a second start of the same program names the first copy's pid,
  restores its window and brings it to the front (entry 10007), and exits 0.
  The same file under another path is another program; letter case and
  doubled backslashes do not make another program.
* Multi-instance mode: three copies side by side each take the lowest free
  numbered name, and their Java sides receive it as kelpa.semaphoreName.
* Entry 158 moves the semaphore into the "Global\\" namespace (32-bit, with
  the starting jvm.dll double as the running copy).
"""

from __future__ import annotations

import re
import shutil
import time
from pathlib import Path

import pytest

import graphical_fixtures as gf
import harness
import instance_fixtures as inst
import java_runtime as jr
from instance_fixtures import wait_until

pytestmark = [pytest.mark.dialogs,
              pytest.mark.skipif(shutil.which("wine") is None,
                                 reason="Wine is not installed (scripts/setup.sh installs it)")]

JAVA_FRAME = "SunAwtFrame"
HOLD_MS = 150000  # a held copy ends by itself after this, should a test fail


def java_installer(directory: Path, config: dict, params: bytes, name: str = "setup.exe") -> Path:
    directory.mkdir(parents=True, exist_ok=True)
    return gf.graphical_installer(directory, "win64", config, params_bytes=params, name=name)


def after(messages: list, prefix: str) -> list:
    return [line[len(prefix):] for line in messages if line.startswith(prefix)]


# --------------------------------------------------------------------------
# Single-instance mode, 64-bit, the real Java runtime as the running copy


class FirstCopy:
    def __init__(self, exe: Path, reports: Path, program: inst.FollowedProgram, temp: harness.TempDir):
        self.exe, self.reports, self.program, self.temp = exe, reports, program, temp

    def report_of(self, pid: int) -> Path:
        return self.reports / f"report-{pid}.txt"


@pytest.fixture(scope="module")
def first_copy(tmp_path_factory):
    """A single-instance installer (entries 10005 and 10007) in a directory
    with a blank in its name, its first copy held alive with its Java window
    minimised by the watcher."""
    home = inst.real_java()
    work = tmp_path_factory.mktemp("single")
    reports = work / "reports"
    reports.mkdir()
    exe = java_installer(work / "dir y", {"10005": "1", "10007": "1"},
                         inst.installer_params(report_dir=harness.windows_path(reports), hold=HOLD_MS),
                         name="setup x.exe")
    temp = harness.TempDir.private(work / "temp1")
    program = inst.follow_states("win64", exe, ["-q"], JAVA_FRAME, work / "follow.txt", temp=temp,
                                 env=inst.java_env(home), minimise=True)
    copy = FirstCopy(exe, reports, program, temp)
    other = None
    try:
        wait_until(lambda: program.pid and copy.report_of(program.pid).exists() or not program.running(), 180,
                   what="the first copy's report")
        assert program.running(), program.text()
        wait_until(lambda: program.last("state") == "minimised", 30, what="the minimised window")
        # Another program's window takes the front, as the user's work does.
        other = inst.start(harness.probe_path("win64"), ["msgbox", "ok", "other program", "in front"])
        wait_until(lambda: program.last("foreground") == "no", 30, what="another window in front")
        yield copy
    finally:
        if other is not None:
            other.stop()
        for report in reports.glob("report-*.txt"):
            inst.release(report)
        try:
            program.wait(60)
        finally:
            program.stop()


def second_start(exe: Path | str, logs_dir) -> tuple[harness.RunResult, list]:
    """Another start of the installer, quiet, its log in the prefix's temporary directory."""
    logs_dir.clear()
    result = harness.run("win64", exe, ["-q"], env=inst.java_env(inst.REAL_JAVA), timeout=120)
    log = logs_dir.newest()
    assert log is not None, result.describe()
    return result, log.messages()


def test_first_copy_names_its_semaphore_after_its_path_and_stores_its_pid(first_copy):
    report = jr.read_report(first_copy.report_of(first_copy.program.pid))
    base = inst.semaphore_base(first_copy.exe)
    assert " " not in base and base.count("\\") == 1, base
    assert report.properties["kelpa.semaphoreName"] == base
    log = first_copy.temp.for_executable(first_copy.exe).messages()
    assert "single instance mode" in log
    assert any(re.fullmatch(re.escape(f"semaphore name {base}, code 0, value ") + r"[0-9A-Fa-fx]+", line)
               for line in log), log
    # The pids value is named by the path as it is, blanks and backslashes kept.
    assert inst.stored_pid(first_copy.exe) == first_copy.program.pid


def test_second_start_restores_the_first_copy_in_front_and_exits(first_copy, logs):
    assert first_copy.program.last("state") == "minimised"
    assert first_copy.program.last("foreground") == "no"
    result, log = second_start(first_copy.exe, logs)

    assert result.returncode == 0, result.describe()
    base = inst.semaphore_base(first_copy.exe)
    assert after(log, f"semaphore name {base}, code 183, value ")  # ERROR_ALREADY_EXISTS
    assert f"other pid {first_copy.program.pid}" in log
    tail = log[log.index(f"other pid {first_copy.program.pid}"):]
    assert re.fullmatch(r"found window [0-9A-Fa-fx]+", tail[1]), tail
    assert tail[2:7] == ["restore", "foreground", "popup", "done", "exiting"], tail
    assert "Init done" not in log
    wait_until(lambda: first_copy.program.last("state") == "normal", 20, what="the restored window")
    wait_until(lambda: first_copy.program.last("foreground") == "yes", 20, what="the window in front")
    assert first_copy.program.running()


@pytest.mark.parametrize("spelling", ["upper case", "doubled backslashes"])
def test_same_program_under_another_spelling_of_its_path(first_copy, logs, spelling):
    path = harness.windows_path(first_copy.exe)
    spelled = path.upper() if spelling == "upper case" else path.replace("\\", "\\\\")
    result, log = second_start(spelled, logs)
    assert result.returncode == 0, result.describe()
    assert after(log, f"semaphore name {inst.semaphore_base(first_copy.exe)}, code 183, value "), log
    assert f"other pid {first_copy.program.pid}" in log
    assert log[-1] == "exiting"


def test_same_file_under_another_path_is_another_program(first_copy, tmp_path):
    other = tmp_path / "elsewhere" / "setup x.exe"
    other.parent.mkdir()
    shutil.copyfile(first_copy.exe, other)
    copy = inst.start(other, ["-q"], env=inst.java_env(inst.REAL_JAVA))
    try:
        pid = wait_until(lambda: inst.stored_pid(other) or (not copy.running() and -1), 120,
                         what="the other program's pid")
        assert pid > 0 and pid != first_copy.program.pid
        report = wait_until(lambda: first_copy.report_of(pid).exists() and first_copy.report_of(pid), 120,
                            what="the other program's report")
        assert jr.read_report(report).properties["kelpa.semaphoreName"] == inst.semaphore_base(other)
        assert inst.stored_pid(first_copy.exe) == first_copy.program.pid
        inst.release(report)
        assert copy.wait(60) == 0
    finally:
        copy.stop()


def test_without_a_stored_pid_the_second_start_waits_then_exits(first_copy, logs):
    name = harness.windows_path(first_copy.exe).lower()
    assert inst.reg(["delete", inst.PIDS_KEY, "/v", name, "/f"]).returncode == 0
    try:
        started = time.monotonic()
        result, log = second_start(first_copy.exe, logs)
        waited = time.monotonic() - started
    finally:
        inst.reg(["add", inst.PIDS_KEY, "/v", name, "/t", "REG_DWORD", "/d", str(first_copy.program.pid), "/f"])
    assert result.returncode == 0, result.describe()
    # 50 more reads 100 ms apart before it gives up; nothing is brought to the front.
    assert waited >= 5, waited
    assert log[log.index("other pid 0") + 1:] == ["exiting"], log


# --------------------------------------------------------------------------
# Multi-instance mode


def test_copies_take_the_lowest_free_number(tmp_path):
    home = inst.real_java()
    reports = tmp_path / "reports"
    reports.mkdir()
    exe = java_installer(tmp_path, {"10005": "0"},
                         inst.installer_params(report_dir=harness.windows_path(reports), hold=HOLD_MS))
    base = inst.semaphore_base(exe)

    def names() -> dict:
        found = {}
        for path in reports.glob("report-*.txt"):
            found[path] = jr.read_report(path).properties["kelpa.semaphoreName"]
        return found

    copies = [inst.start(exe, ["-q"], env=inst.java_env(home)) for _ in range(3)]
    try:
        seen = wait_until(lambda: len(names()) == 3 and names(), 240, step=0.5, what="three reports")
        assert sorted(seen.values()) == [base + "0", base + "1", base + "2"], seen
        first = next(path for path, name in seen.items() if name == base + "0")
        inst.release(first)
        ended = wait_until(lambda: [c for c in copies if not c.running()], 60, what="copy 0 to end")
        assert len(ended) == 1 and ended[0].wait() == 0

        copies.append(inst.start(exe, ["-q"], env=inst.java_env(home)))
        fourth = wait_until(lambda: [p for p in names() if p not in seen], 120, step=0.5, what="the fourth report")
        assert names()[fourth[0]] == base + "0"
    finally:
        for report in reports.glob("report-*.txt"):
            inst.release(report)
        for copy in copies:
            try:
                copy.wait(60)
            finally:
                copy.stop()
    assert all(copy.process.returncode == 0 for copy in copies)


# --------------------------------------------------------------------------
# 32-bit, the starting jvm.dll double as the running copy (without entry
# 10007 nothing is brought to the front): entry 158 puts the semaphore into
# the global namespace; a path just short of MAX_PATH gives a name longer
# than MAX_PATH, which Windows refuses as an 8-bit object name (that would
# let every copy run as the first), and still names one semaphore.

LONG_PATH = 258  # characters of the installer's path; "Local\" makes the name 264


@pytest.mark.parametrize("case", ["entry 158", "name past MAX_PATH"])
def test_second_start_of_a_32_bit_installer(tmp_path, temp, logs, case):
    home = gf.doubles_runtime("win32", tmp_path / "home", start="window", wait_ms=15000)
    directory = tmp_path
    if case == "name past MAX_PATH":
        directory = tmp_path / ("d" * (LONG_PATH - len(harness.windows_path(tmp_path)) - len("\\setup.exe") - 1))
        directory.mkdir()
    config = {"10005": "1", "158": "1" if case == "entry 158" else "0"}
    exe = gf.graphical_installer(directory, "win32", config, real_jar=False)
    if case == "name past MAX_PATH":
        assert len(harness.windows_path(exe)) == LONG_PATH
    base = inst.semaphore_base(exe, global_namespace=case == "entry 158")
    first = inst.follow_states("win32", exe, ["-q"], "Static", tmp_path / "follow.txt", temp=temp,
                               env=inst.java_env(home))
    try:
        wait_until(lambda: first.pid and inst.stored_pid(exe) == first.pid, 60, what="the first copy's pid")
        first_log = temp.for_executable(exe).messages()
        assert after(first_log, f"semaphore name {base}, code 0, value "), first_log

        result = harness.run("win32", exe, ["-q"], env=inst.java_env(home), timeout=120)
        assert result.returncode == 0, result.describe()
        log = logs.newest().messages()
        assert after(log, f"semaphore name {base}, code 183, value "), log
        assert log[log.index(f"other pid {first.pid}") + 1:] == ["exiting"], log
        assert first.running()
    finally:
        try:
            first.wait(60)
        finally:
            first.stop()
