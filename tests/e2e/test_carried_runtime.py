"""The Java runtime an installer carries ("jre.tar.gz" in its payload), end to
end: unpacked into "jre" of the extraction directory while the progress bar
moves through 100..200, its pack-compressed jars restored, loaded and started.

* 64-bit: the real Windows Java 11 runtime (build/java/11), packed here with
  Python's tarfile in the GNU and the POSIX format, starts the project's Java
  runtime, which shows a window or writes the start-up marker; no other Java
  runtime is reachable.
* 32-bit: no 32-bit Windows JVM exists here; the archive holds the doubles
  (java.exe, the starting jvm.dll, unpack200.exe; tests/doubles).
"""

from __future__ import annotations

import os
import re
import shutil
import tarfile
from pathlib import Path

import pytest

import graphical_fixtures as gf
import harness
import java_runtime as jr
import progress_watch as pw

pytestmark = [pytest.mark.dialogs,
              pytest.mark.skipif(shutil.which("wine") is None,
                                 reason="Wine is not installed (scripts/setup.sh installs it)")]

CORRUPTED = pw.CORRUPTED_RUNTIME
NOT_USABLE = "Could not use bundled JRE. Please send this log file to your software vendor:"
FILLER = os.urandom(12 * 1024 * 1024)  # incompressible: the unpack takes long enough to watch the bar


def real_home() -> Path:
    home = harness.BUILD_DIR / "java" / "11"
    if not (home / "bin" / "server" / "jvm.dll").exists():
        pytest.skip(f"no real Java 11 runtime in {home} (scripts/fetch_java.sh fetches it)")
    return home


@pytest.fixture(scope="module")
def real_archives(tmp_path_factory):
    """The real runtime as "jre.tar.gz", GNU and POSIX, with a long-named file
    besides: {format: (archive, uncompressed size)}."""
    home = real_home()
    made = {}
    for name in ("gnu", "posix"):
        archive = tmp_path_factory.mktemp(name) / "jre.tar.gz"
        size = pw.runtime_archive(home, archive, posix=name == "posix", extra={pw.LONG_ENTRY: b"long name"})
        made[name] = (archive, size)
    return made


def stderr_text(run: gf.GraphicalRun) -> str:
    """What the launcher wrote to standard error in a quiet run."""
    return run.following.result.stderr.decode("cp1252").replace("\r\n", "\n")


def rising_through_unpack(bar: list) -> list:
    return [position for position in bar if 100 < position < 200]


def check_dialog(run: gf.GraphicalRun) -> None:
    following = run.following
    dialog = following.dialog
    assert dialog is not None, run.describe()
    assert dialog.caption == "tovrix Wizard"  # message 20013
    assert dialog.control_text(pw.MESSAGE_TEXT) == pw.MESSAGES["20007"]
    assert dialog.control_text(pw.CANCEL) == "Cancel"  # message 20012
    assert max(following.bar) <= pw.BAR_LIMIT, following.bar
    assert following.bar == sorted(following.bar), following.bar


# --------------------------------------------------------------------------
# Graphical starts with a carried runtime


@pytest.mark.parametrize("fmt, start", [("gnu", "window"), ("posix", "marker")])
def test_the_real_runtime_carried_in_the_installer_starts(real_archives, tmp_path, temp, fmt, start):
    archive, size = real_archives[fmt]
    report = tmp_path / "report.txt"
    # The Java side shows its window, or writes 2 and runs on for a while.
    params = gf.params(report, window=1500, marker="skip") if start == "window" else gf.params(report, wait=1500)
    exe = gf.graphical_installer(tmp_path, "win64", {"151": str(size)}, archive=archive, params_bytes=params)
    run = gf.launch("win64", exe, temp)

    assert run.following.result.returncode == 0, run.describe()
    check_dialog(run)
    assert len(rising_through_unpack(run.following.bar)) >= 3, run.following.bar
    assert run.following.hidden and run.has("Java window visible"), run.describe()
    if start == "window":
        frames = [ms for ms, cls, caption in run.following.others if caption == "tvxruntime window"]
        assert frames and frames[0] <= run.following.hidden[0], run.describe()
    facts = jr.read_report(report)
    directory = run.extraction_directory
    assert facts.properties["java.home"].lower() == (harness.windows_path(directory) + "\\jre").lower()
    assert facts["startup.marker"] == ("skipped" if start == "window" else "written")
    assert run.has("untaring JRE was successful")
    assert not (directory / "jre.tar.gz").exists()
    assert (directory / "jre" / pw.LONG_ENTRY).read_bytes() == b"long name"


def doubles_archive(tmp_path: Path, target: str, start: str = "window", record: Path | None = None,
                    unpack200: bool = False, more=None, delay_ms: int = 0) -> tuple[Path, int]:
    home = gf.doubles_runtime(target, tmp_path / "runtime", start=start, wait_ms=1500, record=record,
                              unpack200=unpack200, delay_ms=delay_ms)
    archive = tmp_path / "archive" / "jre.tar.gz"
    archive.parent.mkdir()
    return archive, pw.runtime_archive(home, archive, extra={"lib/filler.bin": FILLER}, more=more)


def variety(tar: tarfile.TarFile) -> None:
    """An entry of exactly one block, links, a long name and extended headers."""
    pw.add_bytes(tar, "lib/block.bin", b"b" * 512)
    pw.add_bytes(tar, "lib/symbolic", b"", tarfile.SYMTYPE, "block.bin")
    pw.add_bytes(tar, "lib/hard", b"", tarfile.LNKTYPE, "lib/block.bin")
    pw.add_bytes(tar, "legal", b"", tarfile.DIRTYPE)
    pw.add_bytes(tar, "legal/" + "x" * 120, b"", tarfile.DIRTYPE)
    pw.add_bytes(tar, "legal/" + "x" * 120 + "/NOTICE", b"notice")
    pw.add_bytes(tar, "lib/after.txt", b"after")


@pytest.mark.parametrize("start", ["window", "marker"])
def test_the_doubles_runtime_carried_by_a_32_bit_installer_starts(tmp_path, temp, start):
    record = tmp_path / "jvm_record.txt"
    archive, size = doubles_archive(tmp_path, "win32", start, record, more=variety)
    exe = gf.graphical_installer(tmp_path, "win32", {"151": str(size)}, archive=archive, real_jar=False)
    run = gf.launch("win32", exe, temp)

    assert run.following.result.returncode == 0, run.describe()
    check_dialog(run)
    assert rising_through_unpack(run.following.bar), run.following.bar
    assert run.following.hidden and run.has("Java window visible"), run.describe()
    directory = run.extraction_directory
    assert run.after("JRE dir: ") == [harness.windows_path(directory) + "\\jre"]
    assert "starting double: main returns" in record.read_text(encoding="utf-8")
    assert not (directory / "jre.tar.gz").exists()
    lib = directory / "jre" / "lib"
    assert (lib / "block.bin").read_bytes() == b"b" * 512
    assert (lib / "after.txt").read_bytes() == b"after"  # right after the 512 bytes, no padding
    assert not (lib / "symbolic").exists() and not (lib / "hard").exists()  # links are never made
    assert (directory / "jre" / "legal" / ("x" * 120) / "NOTICE").read_bytes() == b"notice"


def test_an_unknown_archive_size_keeps_the_bar_still(tmp_path, temp):
    archive, _ = doubles_archive(tmp_path, "win32", "window", delay_ms=1000)
    exe = gf.graphical_installer(tmp_path, "win32", {"151": "0"}, archive=archive, real_jar=False)
    run = gf.launch("win32", exe, temp)

    assert run.following.result.returncode == 0, run.describe()
    assert run.has("untaring JRE was successful")
    assert not rising_through_unpack(run.following.bar), run.following.bar
    assert 250 in run.following.bar  # the watch still starts from the progress base 200


# --------------------------------------------------------------------------
# Archives that cannot be used


def corrupted_cases():
    F, D = tarfile.REGTYPE, tarfile.DIRTYPE
    big = bytes(range(256)) * 800
    return {
        # Two headers, then 100,000 of the file's 204,800 bytes.
        "truncated": (pw.gzip_tar([("bin", b"", D, ""), ("bin/big.bin", big, F, "")], cut=1024 + 100_000),
                      ["sizes don't match: 100000, 204800"], CORRUPTED),
        "only directories": (pw.gzip_tar([("bin", b"", D, ""), ("lib", b"", D, "")]), ["no magic number"],
                             CORRUPTED),
        "parent step": (pw.gzip_tar([("bin", b"", D, ""), ("../evil.txt", b"evil", F, "")]),
                        ["ERROR: unsafe entry name ..\\evil.txt"], CORRUPTED),
        "parent step with backslashes": (pw.gzip_tar([("bin\\..\\..\\evil.txt", b"evil", F, "")]),
                                         ["ERROR: unsafe entry name bin\\..\\..\\evil.txt"], CORRUPTED),
        "absolute": (pw.gzip_tar([("/evil.txt", b"evil", F, "")]), ["ERROR: unsafe entry name \\evil.txt"],
                     CORRUPTED),
        "drive": (pw.gzip_tar([("C:\\evil.txt", b"evil", F, "")]), ["ERROR: unsafe entry name C:\\evil.txt"],
                  CORRUPTED),
        # No directory entry before it: its directory does not exist.
        "file cannot be created": (pw.gzip_tar([("missing/file.txt", b"x", F, "")]),
                                   ["ERROR: Could not open file missing\\file.txt"],
                                   "Could not open file missing\\file.txt\n"),
        "not gzip data": (b"PK\x03\x04 this is no archive", ["no magic number"], CORRUPTED),
    }


@pytest.mark.parametrize("case", list(corrupted_cases()))
def test_an_archive_that_cannot_be_used_ends_the_start(tmp_path, temp, case):
    data, lines, message = corrupted_cases()[case]
    archive = tmp_path / "jre.tar.gz"
    archive.write_bytes(data)
    exe = gf.graphical_installer(tmp_path, "win32", {"151": "1000"}, archive=archive, real_jar=False)
    run = gf.launch("win32", exe, temp, ["-q"], no_window_ok=True)

    assert run.following.result.returncode == 1, run.describe()
    assert stderr_text(run).startswith(message + "\n\nLog: "), stderr_text(run)
    for line in lines:
        assert line in run.messages, run.log.text
    if message == CORRUPTED:
        assert run.has("ERROR: Could not untar JRE")
    directory = run.extraction_directory
    assert not directory.exists()
    # Nothing landed outside "jre": not in the temporary base, not at a root.
    assert not list(temp.path.rglob("evil.txt"))
    assert not Path("/evil.txt").exists() and not (harness.WINEPREFIX / "drive_c" / "evil.txt").exists()


# --------------------------------------------------------------------------
# Pack-compressed jars


def packed(tar: tarfile.TarFile) -> None:
    pw.add_bytes(tar, "lib/packed.jar.pack", b"PK packed jar")
    pw.add_bytes(tar, "lib/ext", b"", tarfile.DIRTYPE)
    pw.add_bytes(tar, "lib/ext/ext.jar.pack", b"PK ext jar")
    pw.add_bytes(tar, "lib/present.jar", b"PK present jar")
    pw.add_bytes(tar, "lib/present.jar.pack", b"PK never restored")


def test_packed_jars_are_restored_with_the_runtimes_unpack200(tmp_path, temp):
    archive, size = doubles_archive(tmp_path, "win32", "window", unpack200=True, more=packed, delay_ms=1200)
    exe = gf.graphical_installer(tmp_path, "win32", {"151": str(size), "153": "1"}, archive=archive,
                                 real_jar=False, extra_files={"payload.jar.pack": b"PK payload jar"})
    calls = tmp_path / "unpack200.txt"
    run = gf.launch("win32", exe, temp, env={"UNPACK200_DOUBLE_RECORD": harness.windows_path(calls)})

    assert run.following.result.returncode == 0, run.describe()
    directory = run.extraction_directory
    win, lib = harness.windows_path(directory), directory / "jre" / "lib"
    # The program path is not repeated: the command line starts with "-r".
    assert calls.read_text(encoding="utf-8").splitlines() == [
        f'-r "{win}\\jre\\lib\\packed.jar.pack" "{win}\\jre\\lib\\packed.jar"',
        f'-r "{win}\\jre\\lib\\ext\\ext.jar.pack" "{win}\\jre\\lib\\ext\\ext.jar"',
        f'-r "{win}\\payload.jar.pack" "{win}\\payload.jar"',
    ]
    assert (lib / "packed.jar").read_bytes() == b"PK packed jar" and not (lib / "packed.jar.pack").exists()
    assert (lib / "ext" / "ext.jar").read_bytes() == b"PK ext jar"
    assert (lib / "present.jar").read_bytes() == b"PK present jar"  # already there: not restored,
    assert (lib / "present.jar.pack").exists()  # and its pack file left alone
    assert (directory / "payload.jar").read_bytes() == b"PK payload jar"
    for line in ("JRE is packed", "Unpacking JRE", "Unpacking JRE done", "unpacking payload.jar.pack"):
        assert run.has(line), run.log.text
    assert not run.after("could not delete packed file")  # the tool removed the pack files itself
    assert b"Preparing JRE ...\n" in run.following.result.stdout.replace(b"\r\n", b"\n")
    # The watch starts from the progress base 300 of a packed runtime (the
    # base 100 would show 175 first, the base 200 never 325).
    assert 325 in run.following.bar and 175 not in run.following.bar, run.following.bar


def test_a_packed_jar_without_unpack200_ends_with_internal_error_20(tmp_path, temp):
    archive, size = doubles_archive(tmp_path, "win32", "marker", more=packed)
    exe = gf.graphical_installer(tmp_path, "win32", {"151": str(size), "153": "1"}, archive=archive,
                                 real_jar=False)
    run = gf.launch("win32", exe, temp, ["-q"], no_window_ok=True)

    assert run.following.result.returncode == 1, run.describe()
    assert stderr_text(run).startswith("An internal error occurred (error code: 20)\n\nLog: ")
    assert run.has("could not create unpack process"), run.log.text


# --------------------------------------------------------------------------
# A runtime that cannot be loaded


@pytest.mark.parametrize("other_runtime", [True, False])
def test_an_unusable_carried_runtime_falls_back_to_the_search(tmp_path, temp, other_runtime):
    broken = gf.doubles_runtime("win32", tmp_path / "broken")
    shutil.rmtree(broken / "bin" / "client")  # a java.exe without jvm.dll
    archive = tmp_path / "jre.tar.gz"
    size = pw.runtime_archive(broken, archive)
    exe = gf.graphical_installer(tmp_path, "win32", {"151": str(size)}, archive=archive, real_jar=False)
    env = {}
    if other_runtime:
        env["JAVA_HOME"] = harness.windows_path(gf.doubles_runtime("win32", tmp_path / "other"))
    run = gf.launch("win32", exe, temp, ["-q"], env=env, no_window_ok=True)

    assert run.has("ERROR: Could not load bundled JRE. Trying to find another JRE."), run.log.text
    if other_runtime:
        assert run.following.result.returncode == 0, run.describe()
        assert run.has("JVM source 3 (JAVA_HOME)")
    else:
        assert run.following.result.returncode == 1, run.describe()
        assert run.has("ERROR: Could not find another JRE.")
        assert stderr_text(run).startswith(NOT_USABLE + "\n\nLog: ")


def test_a_language_restart_uses_the_runtime_the_earlier_run_unpacked(tmp_path, temp, monkeypatch):
    record = tmp_path / "jvm_record.txt"
    archive, size = doubles_archive(tmp_path, "win32", "marker", record)
    exe = gf.graphical_installer(tmp_path, "win32", {"151": str(size)}, archive=archive, real_jar=False)
    first = gf.launch("win32", exe, temp, ["-q"], no_window_ok=True)
    assert first.following.result.returncode == 0, first.describe()
    earlier = first.extraction_directory
    assert (earlier / "jre" / "bin" / "java.exe").exists() and not (earlier / "jre.tar.gz").exists()

    monkeypatch.chdir(earlier)
    restart = gf.launch("win32", exe, temp, ["__tvx_lang_restart"], no_window_ok=True)

    assert restart.following.result.returncode == 0, restart.describe()
    assert restart.has(f"Checking extracted JRE: {harness.windows_path(earlier)}\\jre"), restart.log.text
    assert restart.has("JRE included") and not restart.has("extracting JRE")
    assert restart.after("JRE dir: ") == [harness.windows_path(earlier) + "\\jre"]
    assert record.read_text(encoding="utf-8").count("starting double: main returns") == 2
