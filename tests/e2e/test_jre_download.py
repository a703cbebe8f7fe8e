"""Downloading a Java runtime when none is found, end to end under Wine:
Wine's own wininet.dll fetches "jre.tar.gz" from a real HTTP server on
localhost (download_server.py), the launcher unpacks it like a carried
runtime and starts it.

* 64-bit: the real Windows Java 11 runtime, packed here, is served and
  started; the Java side's report names the "jre" of the extraction directory
  as its java.home.
* 32-bit: no 32-bit Windows JVM exists here; the archive holds the doubles
  (java.exe and the starting jvm.dll of tests/doubles).
* The server misbehaves in the ways a real one does: closing a connection
  unanswered, no Content-Length, nothing at all, a body cut short, a page
  that is not the archive.
"""

from __future__ import annotations

import re
import shutil
from pathlib import Path

import pytest

import download_server as ds
import graphical_fixtures as gf
import harness
import java_runtime as jr
import progress_watch as pw
from progress_watch import Markers

pytestmark = [pytest.mark.dialogs,
              pytest.mark.skipif(shutil.which("wine") is None,
                                 reason="Wine is not installed (scripts/setup.sh installs it)")]

MESSAGES = {"20001": "Downloading the Java runtime ...", "20004": "Locate java.exe",
            "20006": "No Java runtime found. Please locate a %S-bit JRE."}
DOWNLOAD_FAILED = ("Error downloading the Java(TM) Runtime Environment.\nPlease check your internet connection "
                   "and start setup again.")  # message 20003 as the packer writes it
STATUS = re.compile(r"(\d+\.\d\d) MB of (\d+\.\d\d) MB \((\d+\.\d)%\) at (\d+\.\d) kb/s")  # message 20008


# Session-scoped (once per worker), so that the tests spread over the workers.
@pytest.fixture(scope="session", autouse=True)
def proxy_free_prefix():
    ds.no_proxy()


def real_home() -> Path:
    home = harness.BUILD_DIR / "java" / "11"
    if not (home / "bin" / "server" / "jvm.dll").exists():
        pytest.skip(f"no real Java 11 runtime in {home} (scripts/fetch_java.sh fetches it)")
    return home


@pytest.fixture(scope="session")
def real_archive(tmp_path_factory) -> bytes:
    """The real 64-bit runtime as "jre.tar.gz"."""
    archive = tmp_path_factory.mktemp("real") / "jre.tar.gz"
    pw.runtime_archive(real_home(), archive)
    return archive.read_bytes()


def doubles_archive(tmp_path: Path, target: str, record: Path) -> bytes:
    """A runtime of the target's doubles whose main writes `record` and returns."""
    home = gf.doubles_runtime(target, tmp_path / "runtime", start="marker", wait_ms=500, record=record)
    archive = tmp_path / "archive" / "jre.tar.gz"
    archive.parent.mkdir()
    pw.runtime_archive(home, archive)
    return archive.read_bytes()


def installer(tmp_path: Path, target: str, url: str, config: dict | None = None) -> Path:
    report = tmp_path / "report.txt"
    real = target == "win64"
    return gf.graphical_installer(tmp_path, target, {"150": url, **(config or {})}, real_jar=real,
                                  params_bytes=gf.params(report) if real else None, messages=MESSAGES)


def env() -> dict:
    return gf.quiet_env(ds.PROXY_FREE_ENV)


def quiet_run(target: str, exe: Path, temp: harness.TempDir) -> tuple[harness.RunResult, harness.LaunchLog]:
    """A quiet run (-q) through the watcher: no window may appear."""
    result = harness.run_with_watcher(target, exe, ["-q"], env=env(), temp=temp, no_window_ok=True, timeout=300)
    log = temp.for_executable(exe)
    assert log is not None, result.describe()
    return result, log


def stderr_text(result: harness.RunResult) -> str:
    return result.stderr.decode("cp1252").replace("\r\n", "\n")


def java_home(tmp_path: Path) -> str:
    return jr.read_report(tmp_path / "report.txt").properties["java.home"]


def extraction_directory(log: harness.LaunchLog) -> str:
    return next(line[len("Current working dir: "):] for line in log.messages()
                if line.startswith("Current working dir: "))


# --------------------------------------------------------------------------
# Downloads that work


def test_a_quiet_run_with_entry_157_downloads_and_starts_the_runtime(real_archive, tmp_path, temp):
    with ds.RuntimeServer(real_archive) as server:
        exe = installer(tmp_path, "win64", server.url, {"157": "1"})
        result, log = quiet_run("win64", exe, temp)

    assert result.returncode == 0, result.describe() + log.text
    assert result.no_window and not result.windows, result.record
    assert result.stdout.replace(b"\r\n", b"\n") == b"No JRE found. Trying to download.\n", result.describe()
    messages = log.messages()
    assert harness.ordered_lines_present("\n".join(messages), [
        f"Download location: {server.url}", "Downloading JRE", "download successful", "Done", "extracting JRE",
        "untaring JRE was successful"]), log.text
    assert [r.user_agent for r in server.requests] == ["tovrix download agent"]
    assert java_home(tmp_path).lower() == (extraction_directory(log) + "\\jre").lower()


def check_status_line(following: pw.Following, size: int) -> list:
    """The status line while downloading: message 20009, then message 20008
    with rising values that end at the archive's size; returns the progress
    texts."""
    statuses = [text for _, text in following.statuses]
    assert statuses and statuses[0] == "Initializing connection ...", statuses  # message 20009
    progress = [STATUS.fullmatch(text) for text in statuses[1:] if text]
    assert progress and all(progress), statuses
    received = [float(m.group(1)) for m in progress]
    assert received == sorted(received), statuses
    assert {m.group(2) for m in progress} == {f"{size / 1048576:.2f}"}, statuses
    return statuses


def test_the_question_answered_with_download_shows_the_transfer_and_starts_the_runtime(real_archive, tmp_path,
                                                                                        temp):
    with ds.RuntimeServer(real_archive, "slow", slow_seconds=4) as server:
        exe = installer(tmp_path, "win64", server.url)
        run = gf.launch("win64", exe, temp, env=ds.PROXY_FREE_ENV)

    following = run.following
    assert following.result.returncode == 0, run.describe()
    question = next(w for w in following.result.windows if w.control_text(pw.PROGRESS_BAR) is None)
    assert question.caption == "tovrix Wizard" and question.pressed == 1004, run.describe()  # the default: Download
    dialog = following.dialog
    assert pw.STATUS_LINE in dialog.invisible, run.describe()
    assert (following.control_changes[0][1:]) == ("shown", pw.STATUS_LINE), following.control_changes
    statuses = check_status_line(following, len(real_archive))
    # Several updates, at most one every 500 ms (the watcher's clock is not
    # the launcher's: allow it a little).
    assert len(statuses) >= 4, statuses
    times = [ms for ms, text in following.statuses[1:]]
    assert all(b - a >= 400 for a, b in zip(times, times[1:])), following.statuses
    assert run.has("Downloading JRE") and run.has("download successful"), run.log.text
    assert ("hidden", pw.STATUS_LINE) in [(kind, cid) for _, kind, cid in following.control_changes]
    assert dialog.control_text(pw.MESSAGE_TEXT) == pw.MESSAGES["20007"]
    assert [text for _, text in following.texts][:1] == [MESSAGES["20001"]], following.texts
    assert java_home(tmp_path).lower() == (harness.windows_path(run.extraction_directory) + "\\jre").lower()


def test_the_download_only_dialog_opens_for_the_download_and_closes_after_it(tmp_path, temp):
    # Entry 155: no dialog while the installer is checked and extracted; it
    # opens when the runtime is missing, runs the locate/download flow and
    # closes when the download is in; the unpack and start go on without it.
    record = tmp_path / "jvm_record.txt"
    archive = doubles_archive(tmp_path, "win32", record)
    with ds.RuntimeServer(archive, "slow", slow_seconds=2) as server:
        exe = installer(tmp_path, "win32", server.url, {"155": "1"})
        run = gf.launch("win32", exe, temp, env=ds.PROXY_FREE_ENV)

    following = run.following
    assert following.result.returncode == 0, run.describe()
    assert following.dialog is not None and following.closed, run.describe()
    check_status_line(following, len(archive))
    assert "starting double: main returns" in record.read_text(encoding="utf-8")
    closed = following.closed[0]
    assert gf.log_time(run.log, "Done") <= gf.log_time(run.log, "extracting JRE"), run.log.text
    assert following.bar and max(following.bar) <= 100, following.bar  # the download's percentage only
    assert not [ms for ms, _ in following.positions if ms > closed]


def test_enter_in_the_question_downloads(tmp_path, temp):
    # Enter acts as Download; every attempt fails here, which ends the start
    # with message 20003 in a message box.
    with ds.RuntimeServer(b"", "not found") as server:
        exe = installer(tmp_path, "win32", server.url)
        result = harness.run_with_watcher("win32", exe, env=env(), press=["key:RETURN", "IDOK"],
                                          expect=["tovrix Wizard", "Error"], temp=temp, timeout=300)
    log = temp.for_executable(exe)

    assert result.returncode == 1, result.describe()
    question, failure = result.windows
    assert question.control_text(1003).endswith("a suitable 32-bit JRE. (minimum version: 1.8)"), result.record
    assert failure.text.startswith(DOWNLOAD_FAILED + "\n\nLog: "), failure.text
    assert "Downloading JRE" in log.messages() and len(server.requests) == 3, log.text


def test_cancel_in_the_download_only_dialog_ends_the_start(tmp_path, temp):
    # Entries 155 and 157: the dialog opens for the download at once.  Its
    # Cancel leaves no runtime to start, and the download it interrupts must
    # not run on beside the main flow: the start ends.
    record = tmp_path / "jvm_record.txt"
    archive = doubles_archive(tmp_path, "win32", record)
    Markers.clear()
    with ds.RuntimeServer(archive, "slow", slow_seconds=8) as server:
        exe = installer(tmp_path, "win32", server.url, {"155": "1", "157": "1"})
        run = gf.launch("win32", exe, temp, env=ds.PROXY_FREE_ENV, press="IDCANCEL", press_delay_ms=2500)

    assert run.following.result.returncode == 1, run.describe()
    messages = run.messages
    assert "Downloading JRE" in messages and "Canceled installer" in messages, run.log.text
    assert "Done" not in messages and "extracting JRE" not in messages, run.log.text
    # Nothing ran on after it but the stop of the download and the removal
    # of the extraction directory, which goes with its partial archive.
    after = messages[messages.index("Canceled installer") + 1:]
    assert after[0].startswith("download stopped after "), run.log.text
    assert all(line.startswith(("emptying ", "attempting to delete ")) for line in after[1:]), run.log.text
    assert not run.extraction_directory.exists(), run.log.text
    assert not record.exists()
    assert Markers.values() == {}


# --------------------------------------------------------------------------
# A server that misbehaves


def misbehaving_run(tmp_path: Path, temp: harness.TempDir, mode: str):
    """A quiet 32-bit run with entry 157 against a server in `mode`, which
    notes the archives left in the run's temporary directory at each request."""
    record = tmp_path / "jvm_record.txt"
    archive = doubles_archive(tmp_path, "win32", record)
    with ds.RuntimeServer(archive, mode, watch_dir=temp.path) as server:
        exe = installer(tmp_path, "win32", server.url, {"157": "1"})
        result, log = quiet_run("win32", exe, temp)
    return result, log, server, record


def test_a_connection_closed_before_the_answer_is_opened_again(tmp_path, temp):
    result, log, server, record = misbehaving_run(tmp_path, temp, "close once")

    assert result.returncode == 0, result.describe() + log.text
    messages = log.messages()
    tries = [line for line in messages if line.startswith("ERROR: HttpQueryInfo (try ")]
    assert len(tries) == 1 and tries[0].startswith("ERROR: HttpQueryInfo (try 1) failed with error code "), log.text
    assert harness.ordered_lines_present("\n".join(messages), [tries[0], "download successful", "Done"]), log.text
    assert "ERROR: Retry JRE download" not in messages
    assert len(server.requests) == 2
    assert server.requests[1].at - server.requests[0].at >= 0.3  # reopened after 300 ms
    assert "starting double: main returns" in record.read_text(encoding="utf-8")


def expect_download_failure(result: harness.RunResult, log: harness.LaunchLog, server: ds.RuntimeServer,
                            requests_per_attempt: int) -> list:
    """Three failed attempts, message 20003, exit code 1, and no archive left
    behind by any attempt."""
    assert result.returncode == 1, result.describe() + log.text
    assert stderr_text(result).startswith(DOWNLOAD_FAILED + "\n\nLog: "), stderr_text(result)
    messages = log.messages()
    assert messages.count("ERROR: Retry JRE download") == 3, log.text
    assert "download successful" not in messages and "extracting JRE" not in messages
    assert len(server.requests) == 3 * requests_per_attempt, [r.path for r in server.requests]
    assert all(not r.leftovers for r in server.requests), [r.leftovers for r in server.requests]
    starts = server.requests[::requests_per_attempt]
    assert all(b.at - a.at >= 1.0 for a, b in zip(starts, starts[1:]))  # a second between the attempts
    return messages


def test_no_content_length_gives_up_after_20_queries_in_each_of_3_attempts(tmp_path, temp):
    result, log, server, record = misbehaving_run(tmp_path, temp, "no length")

    messages = expect_download_failure(result, log, server, 20)
    for attempt in range(3):
        for n in range(1, 21):
            assert f"ERROR: HttpQueryInfo (try {n}) failed with error code 12150" in messages, log.text
    assert messages.count("ERROR: Giving up") == 3
    assert not record.exists()


def test_a_body_shorter_than_announced_fails_each_attempt_and_leaves_no_archive(tmp_path, temp):
    result, log, server, record = misbehaving_run(tmp_path, temp, "short")

    messages = expect_download_failure(result, log, server, 1)
    # The body ends early: a read that succeeds with nothing ends the attempt
    # (it never spins) and the partial archive goes.
    size = len(server.data)
    ended = [line for line in messages if line.startswith("ERROR: InternetReadFile")]
    assert ended == [f"ERROR: InternetReadFile returned 0 bytes after {size // 2} of {size} bytes"] * 3, log.text
    # The watch for left-over archives covers the extraction directory.
    assert pw.unix_path(extraction_directory(log)).is_relative_to(temp.path)
    assert not record.exists()


def test_a_page_that_is_not_the_archive_is_no_download(tmp_path, temp):
    # A 404 answer with its length would otherwise be stored as the archive
    # and reported as downloaded.
    result, log, server, record = misbehaving_run(tmp_path, temp, "not found")

    messages = expect_download_failure(result, log, server, 1)
    assert messages.count("ERROR: the server answered with status 404") == 3, log.text


def test_an_announced_length_of_0_gives_an_empty_archive_that_cannot_be_unpacked(tmp_path, temp):
    result, log, server, record = misbehaving_run(tmp_path, temp, "zero")

    assert result.returncode == 1, result.describe() + log.text
    assert stderr_text(result).startswith(pw.CORRUPTED_RUNTIME + "\n\nLog: "), stderr_text(result)
    assert harness.ordered_lines_present("\n".join(log.messages()), [
        "file size: 0, handle ", "download successful", "Done", "extracting JRE", "ERROR: Could not untar JRE"]), \
        log.text
    assert len(server.requests) == 1
