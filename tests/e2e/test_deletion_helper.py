"""The post-exit deletion helper ("__tvx_windel <list>") end to end under
Wine, against real sharing violations: tests/tools/file_holder.exe holds a
file or directory open without sharing for a chosen time.

* Started by the real Java side (64-bit, the Java 11 runtime) through
  WinDel.externalExecutable the way an installer does at its end: the
  helper waits for the installer's semaphore, then removes the files and
  directories.
* Started directly (both targets, the bare stub: nothing of the installer is
  read in this mode): retries, the extraction-directory rule, deletion at
  reboot as Wine records it ("PendingFileRenameOperations", read back with
  `wine reg`), the reboot question answered No with the marker file and
  "RebootCheckFile" in both hives, a short question, an empty mode line, a
  missing list.
* Restart requests ("force_reboot", Yes to the question, "__tvx_reboot") in
  a throwaway copy of the prefix: Wine's restart ends that copy's session
  and carries out the deletions recorded for the reboot, which shows that
  the request reached it.
"""

from __future__ import annotations

import shutil
import time
from pathlib import Path

import pytest

import graphical_fixtures as gf
import harness
import instance_fixtures as inst
import java_runtime as jr
from instance_fixtures import PendingDeletions, deletion_list, wait_until

pytestmark = [pytest.mark.dialogs,
              pytest.mark.skipif(shutil.which("wine") is None,
                                 reason="Wine is not installed (scripts/setup.sh installs it)")]

NOBODY = "Local\\tvx_e2e_semaphore_nobody_holds"
REBOOT_CHECK_KEY = r"SOFTWARE\quillmoor\tovrix"
QUESTION = ["Some files are still in use.", "Restart the computer now?"]
WARNING = ["The restart failed."]
PASSES_SECONDS = 60 * 0.5  # the helper's 60 passes, 500 ms apart


def windows(path: Path) -> str:
    return harness.windows_path(path)


def write_list(path: Path, data: bytes) -> Path:
    path.write_bytes(data)
    return path


def helper_args(listing: Path) -> list:
    return ["__tvx_windel", windows(listing)]


@pytest.fixture
def pending():
    """Deletions at reboot the test leaves in the session's prefix are
    cleared again (the next restart of the prefix would carry them out)."""
    before = PendingDeletions.entries()
    yield
    if not before:
        PendingDeletions.clear()


@pytest.fixture
def reboot_check():
    """The "RebootCheckFile" values the test writes are removed again."""
    yield
    for key in ("HKCU\\" + REBOOT_CHECK_KEY, "HKLM\\" + REBOOT_CHECK_KEY):
        for view in ("/reg:32", "/reg:64"):
            inst.reg(["delete", key, "/v", "RebootCheckFile", "/f", view])


def view_of(target: str) -> str:
    return "/reg:32" if target == "win32" else "/reg:64"


# --------------------------------------------------------------------------
# Started by the Java side at the installer's end


def test_java_side_starts_the_helper_which_deletes_after_the_installer_has_gone(tmp_path):
    home = inst.real_java()
    doomed = tmp_path / "doomed"
    (doomed / "sub").mkdir(parents=True)
    files = [doomed / "a.txt", doomed / "sub" / "b.txt"]
    for path in files:
        path.write_text("in use by the installer")
    listing = tmp_path / "deletion list.txt"
    lines = deletion_list("", "none", files=[windows(p) for p in files],
                          directories=[windows(doomed / "sub"), windows(doomed)]).decode("utf-16-le")
    report = tmp_path / "report.txt"
    exe = gf.graphical_installer(tmp_path, "win64", params_bytes=inst.installer_params(
        report, end="exit:0", windel=windows(listing), windel_lines=lines.split("\r\n", 1)[1],
        windel_linger=2000, windel_check=windows(files[0])))

    with open(tmp_path / "stdout", "wb") as out, open(tmp_path / "stderr", "wb") as err:
        result = harness.run("win64", exe, ["-q"], env=inst.java_env(home), stdout=out, stderr=err)
    assert result.returncode == 0
    facts = jr.read_report(report)
    semaphore = facts.properties["kelpa.semaphoreName"]
    assert semaphore == inst.semaphore_base(exe) + "0"
    assert facts["windel"] == "started"
    # Two seconds after the start the installer still ran, and the helper
    # still waited for its semaphore.
    assert facts["windel.check"] == "present"

    wait_until(lambda: not listing.exists(), 60, what="the helper to end (it deletes its list)")
    assert not doomed.exists()


# --------------------------------------------------------------------------
# Started directly


def test_locked_file_goes_on_a_later_pass_and_is_not_tried_again(target, tmp_path):
    early, late = tmp_path / "early.dll", tmp_path / "late.dll"
    early_holder = inst.hold_file(target, early, 3000)
    late_holder = inst.hold_file(target, late, 6000)
    listing = write_list(tmp_path / "list.txt",
                         deletion_list(NOBODY, "none", files=[windows(early), windows(late)], line_end="\n"))
    helper = inst.start(harness.stub_path(target), helper_args(listing))
    try:
        wait_until(lambda: not early.exists(), 30, what="the first file to go")
        assert late.exists() and helper.running()
        # Made again: a later pass would remove it again if it still tried.
        early.write_text("new")
        assert helper.wait(60) == 0
        assert not late.exists()
        assert early.read_text() == "new"
        assert not listing.exists()
    finally:
        helper.stop()
        early_holder.stop()
        late_holder.stop()


def test_extraction_directory_goes_to_reboot_deletion_after_one_attempt(target, tmp_path, pending):
    extraction = tmp_path / "klp4711.tmp_dir"
    extraction.mkdir()
    held = extraction / "jvm.dll"
    holder = inst.hold_file(target, held, 20000)
    try:
        listing = write_list(tmp_path / "list.txt",
                             deletion_list("", "reboot_deletion", QUESTION, WARNING, files=[windows(held)],
                                           directories=[windows(extraction)]))
        started = time.monotonic()
        result = harness.run_with_watcher(target, harness.stub_path(target), helper_args(listing), no_window_ok=True,
                                          wait_ms=5000)
        assert result.returncode == 0, result.describe()
        assert time.monotonic() - started < 15, "no retries"
        assert result.no_window, "nothing was scheduled in the 60th pass: no question"
        assert held.exists()
        assert windows(held) in PendingDeletions.sources()
        assert windows(extraction) in PendingDeletions.sources()
    finally:
        holder.stop()


def test_reboot_deletion_asks_and_no_leaves_the_marker(target, tmp_path, temp, pending, reboot_check):
    locked = tmp_path / "locked.dll"
    holder = inst.hold_file(target, locked, int((PASSES_SECONDS + 20) * 1000))
    try:
        listing = write_list(tmp_path / "list.txt",
                             deletion_list("", "reboot_deletion", QUESTION, WARNING, files=[windows(locked)]))
        result = harness.run_with_watcher(target, harness.stub_path(target), helper_args(listing), press="IDNO",
                                          wait_ms=int((PASSES_SECONDS + 30) * 1000), temp=temp, timeout=180)
        assert result.returncode == 0, result.describe()
        assert len(result.windows) == 1, result.describe()
        box = result.windows[0]
        assert box.caption == "tovrix"
        assert box.text == "\n".join(QUESTION)
        assert box.icon == "question"
        assert [text for _, text in box.buttons] == ["&Yes", "&No"]
        assert box.pressed == 7

        scheduled = PendingDeletions.sources()
        assert windows(locked) in scheduled
        markers = list(temp.path.glob("ide*.tmp"))
        assert len(markers) == 1, list(temp.path.iterdir())
        marker = temp.windows + "\\" + markers[0].name
        assert marker in scheduled
        assert markers[0].stat().st_size == 0
        for key, view in (("HKCU\\" + REBOOT_CHECK_KEY, None), ("HKLM\\" + REBOOT_CHECK_KEY, view_of(target))):
            assert inst.reg_value(key, "RebootCheckFile", view) == ("REG_SZ", marker), key
    finally:
        holder.stop()


def test_short_question_writes_the_marker_without_asking(tmp_path, temp, pending, reboot_check):
    target = "win32"
    locked = tmp_path / "locked.dll"
    holder = inst.hold_file(target, locked, int((PASSES_SECONDS + 20) * 1000))
    try:
        listing = write_list(tmp_path / "list.txt",
                             deletion_list("", "reboot_deletion", ["Sure?"], WARNING, files=[windows(locked)]))
        result = harness.run_with_watcher(target, harness.stub_path(target), helper_args(listing), no_window_ok=True,
                                          wait_ms=5000, temp=temp, timeout=180)
        assert result.returncode == 0, result.describe()
        assert result.no_window
        markers = list(temp.path.glob("ide*.tmp"))
        assert len(markers) == 1
        marker = temp.windows + "\\" + markers[0].name
        assert marker in PendingDeletions.sources()
        assert inst.reg_value("HKCU\\" + REBOOT_CHECK_KEY, "RebootCheckFile") == ("REG_SZ", marker)
    finally:
        holder.stop()


def test_empty_mode_line_turns_the_texts_into_files(target, tmp_path):
    # The stub in a directory of its own: relative lines name files there.
    stub = tmp_path / "bin" / "launcher.exe"
    stub.parent.mkdir()
    shutil.copyfile(harness.stub_path(target), stub)
    meant_as_texts = [tmp_path / "question.txt", stub.parent / "EOSMARKER", tmp_path / "warning.txt"]
    for path in meant_as_texts:
        path.write_text("x")
    listing = write_list(tmp_path / "list.txt", deletion_list(
        "", None, files=[windows(meant_as_texts[0]), "EOSMARKER", windows(meant_as_texts[2]), "EOSMARKER"]))
    result = harness.run_with_watcher(target, stub, helper_args(listing), no_window_ok=True, wait_ms=5000)
    assert result.returncode == 0, result.describe()
    assert result.no_window
    assert [p for p in meant_as_texts if p.exists()] == []


def test_missing_list_ends_with_0(target, tmp_path):
    started = time.monotonic()
    result = harness.run(target, harness.stub_path(target), helper_args(tmp_path / "missing.txt"), timeout=60)
    assert result.returncode == 0, result.describe()
    assert time.monotonic() - started < 20


# --------------------------------------------------------------------------
# Restart requests, in a throwaway copy of the prefix


def sentinel_reg_file(path: Path, sentinel_windows: str) -> Path:
    """A .reg file that records the sentinel for deletion at the next reboot."""
    data = ("\\??\\" + sentinel_windows + "\0\0\0").encode("utf-16-le")
    value = ",".join("%02x" % b for b in data)
    path.write_text("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\"
                    "Control\\Session Manager]\r\n\"PendingFileRenameOperations\"=hex(7):" + value + "\r\n",
                    encoding="utf-16")
    return path


@pytest.fixture
def restartable(tmp_path):
    """A throwaway prefix with a sentinel file recorded for deletion at its
    next restart: (prefix, sentinel). Wine's restart (wineboot, which
    ExitWindowsEx starts) carries out such deletions."""
    with inst.throwaway_prefix(tmp_path / "throwaway") as prefix:
        sentinel = tmp_path / "sentinel.txt"
        sentinel.write_text("deleted by the restart")
        reg_file = sentinel_reg_file(tmp_path / "sentinel.reg", windows(sentinel))
        done = inst.start("regedit", ["/S", windows(reg_file)], prefix=prefix)
        assert done.wait(120) == 0
        assert PendingDeletions.sources(prefix) == [windows(sentinel)]
        yield prefix, sentinel


def restarted(sentinel: Path) -> bool:
    """Whether Wine restarted: its restart deleted the sentinel."""
    wait_until(lambda: not sentinel.exists(), 60, what="the restart's deletions")
    return True


def test_force_reboot_restarts_without_asking(target, tmp_path, restartable):
    prefix, sentinel = restartable
    gone = tmp_path / "gone.txt"
    gone.write_text("x")
    listing = write_list(tmp_path / "list.txt",
                         deletion_list("", "force_reboot", QUESTION, WARNING, files=[windows(gone)]))
    result = harness.run_with_watcher(target, harness.stub_path(target), helper_args(listing), no_window_ok=True,
                                      wait_ms=5000, env={"WINEPREFIX": str(prefix)})
    assert result.returncode == 0, result.describe()
    assert result.no_window, "neither the question nor the warning"
    assert not gone.exists()
    assert restarted(sentinel)


def test_yes_to_the_question_restarts(tmp_path, restartable, temp):
    target = "win64"
    prefix, sentinel = restartable
    locked = tmp_path / "locked.dll"
    holder = inst.hold_file(target, locked, int((PASSES_SECONDS + 15) * 1000), prefix=prefix)
    try:
        listing = write_list(tmp_path / "list.txt",
                             deletion_list("", "reboot_deletion", QUESTION, WARNING, files=[windows(locked)]))
        result = harness.run_with_watcher(target, harness.stub_path(target), helper_args(listing), press="IDYES",
                                          wait_ms=int((PASSES_SECONDS + 30) * 1000), temp=temp, timeout=180,
                                          env={"WINEPREFIX": str(prefix)})
        assert result.returncode == 0, result.describe()
        assert [w.pressed for w in result.windows] == [6], result.describe()
        assert restarted(sentinel)
        assert list(temp.path.glob("ide*.tmp")) == [], "Yes leaves no reboot check marker"
    finally:
        holder.stop()


def test_reboot_request_of_the_entry(target, restartable):
    prefix, sentinel = restartable
    result = harness.run(target, harness.stub_path(target), ["__tvx_reboot"], env={"WINEPREFIX": str(prefix)},
                         timeout=90)
    assert result.returncode == 0, result.describe()
    assert restarted(sentinel)
