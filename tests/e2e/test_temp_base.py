"""The temporary base: the "-temp" switch, the candidate search and the
extraction directory created in the base, end to end under Wine.

The candidate search is logged by the 8-bit search that places the
extraction directory ("temp dir candidate <directory> (<source>): usable" or
"not usable", one line per probed candidate); the launch log itself is placed
earlier by the UTF-16 search, before the log exists, so where the log lies
shows that search's result. Every run happens in a private copy-on-write
view of the prefix; Windows variables are set through cmd (see
extraction_helpers); TMP and TEMP point at a directory of the test unless a
case says otherwise, and a test-double Java runtime ends every run that gets
past extraction with the fatal error 1005.

Making every candidate unusable needs the Windows directory, c:\\temp and
c:\\tmp read-only, which the private view does for the test; there, too, a
profile directory the code page cannot hold is created as C:\\users\\Жук.
"""

import contextlib
import re
import shlex
from pathlib import Path

import pytest

import extraction_helpers as xh
import harness
from extraction_helpers import isolated, java_homes, runner  # noqa: F401  (fixtures)

FILES = {"tvxruntime.jar": b"PK\x05\x06" + bytes(18), "tvxparams.conf": b"mode=test\r\n"}


def long_directory(parent: Path, length: int) -> tuple[Path, str]:
    """A new directory under `parent` whose Windows path has `length` characters."""
    path, windows = parent, harness.windows_path(parent)
    assert len(windows) + 2 <= length
    while len(windows) < length:
        part = "d" * min(50, length - len(windows) - 1)
        path, windows = path / part, windows + "\\" + part
    path.mkdir(parents=True)
    return path, windows


def assert_extracted_under(runner, log, base_windows: str) -> str:
    """The run extracted into a new directory directly in the base, which
    the fatal error at its end removed again; returns that directory."""
    directory = xh.extraction_directory(log)
    assert re.fullmatch(re.escape(base_windows.rstrip("\\")) + r"\\klp[0-9A-F]{1,4}\.tmp_dir\d+", directory,
                        re.I), directory
    assert log.find(r"^extracting files done$"), log.text
    assert not runner.isolated.host_path(directory).exists()
    return directory


def assert_ended_after_extraction(result) -> None:
    assert result.returncode == 1, result.describe()
    assert result.stderr.decode("cp1252").startswith(xh.JVM_NOT_STARTED + "\r\n\r\nLog: "), result.describe()


# --------------------------------------------------------------------------
# The "-temp" switch

MANUAL = [
    # (case, arguments from {base, missing, file}, first log line about it or None, where extraction goes)
    ("-temp usable", ["-temp", "{base}"], "Using manual temp dir {base} ({base})", "base"),
    ("/temp usable", ["/temp", "{base}"], "Using manual temp dir {base} ({base})", "base"),
    ("-temp missing", ["-temp", "{missing}"], "Manual temp dir not usable {missing} (", "temp"),
    ("-temp names a file", ["-temp", "{file}"], "Manual temp dir not usable {file} (", "temp"),
    ("-temp as last word", ["-temp"], None, "temp"),
    ("only the first -temp counts", ["-temp", "{missing}", "-temp", "{base}"],
     "Manual temp dir not usable {missing} (", "temp"),
]


@pytest.mark.parametrize("case, args, line, where", MANUAL, ids=[c[0] for c in MANUAL])
def test_the_temp_switch_chooses_the_base(runner, tmp_path, case, args, line, where):
    base = tmp_path / "base"
    base.mkdir()
    (tmp_path / "a_file").write_bytes(b"not a directory")
    names = {"base": harness.windows_path(base), "missing": harness.windows_path(tmp_path / "missing"),
             "file": harness.windows_path(tmp_path / "a_file")}
    exe = xh.installer(tmp_path, runner.target, FILES)
    result = runner.run(exe, [arg.format(**names) for arg in args])

    assert_ended_after_extraction(result)
    log = runner.log(exe)
    manual = [m for m in log.messages() if m.startswith(("Using manual temp dir", "Manual temp dir not usable"))]
    if line is None:
        assert manual == []
    else:
        assert len(manual) == 1 and manual[0].startswith(line.format(**names)), manual
    if where == "base":
        assert_extracted_under(runner, log, names["base"])
        # A manual base replaces the search.
        assert xh.candidates(log) == []
        assert runner.extraction_leftovers(base) == []
    else:
        assert_extracted_under(runner, log, runner.temp_windows)
        assert xh.candidates(log) == [(runner.temp_windows + "\\", "TEMP", True)]
        assert [p.name for p in base.iterdir()] == []


def test_an_empty_temp_value_is_ignored(runner, tmp_path):
    # An empty argument cannot pass through cmd: this run uses the prefix's TEMP.
    exe = xh.installer(tmp_path, runner.target, FILES)
    result = runner.run(exe, ["-temp", ""], own_temp=False)
    base = runner.isolated.windows_temp()
    log = runner.log(exe, runner.isolated.host_path(base))
    assert_ended_after_extraction(result)
    assert not log.find(r"^(Using manual temp dir|Manual temp dir not usable)")
    assert_extracted_under(runner, log, base)


def test_a_long_temp_directory_is_used_through_its_short_name(runner, tmp_path):
    # 250 characters: too long for the 8-bit probe's test directory, so the
    # launcher takes the short (8.3) form of the path.
    base, windows = long_directory(tmp_path, 250)
    exe = xh.installer(tmp_path, runner.target, FILES)
    result = runner.run(exe, ["-temp", windows])
    assert_ended_after_extraction(result)
    log = runner.log(exe)
    short = xh.first(log, "^" + re.escape(f"Using manual temp dir {windows} (") + r"(.*)\)$")
    assert short is not None and "~" in short and len(short) < 200, log.text
    assert_extracted_under(runner, log, short)
    assert runner.extraction_leftovers(base) == []


def test_a_relative_temp_directory_is_used_where_it_was_found(runner, tmp_path):
    # "-temp rel" from the directory holding "rel": the probe accepts it, so
    # the extraction directory belongs in it, and extraction must not depend
    # on the launcher changing into that directory afterwards.
    (tmp_path / "rel").mkdir()
    exe = xh.installer(tmp_path, runner.target, FILES)
    result = runner.run(exe, ["-temp", "rel"], cwd=tmp_path)
    log = runner.log(exe)
    # Taken as a full path where it was found, in both forms.
    assert log.find(r"^Using manual temp dir (\S+\\rel) \(\1\)$"), log.text
    assert log.find(r"^Temp dir3: \S+\\rel\\klp"), log.text
    assert_ended_after_extraction(result)
    assert log.find(r"^extracting files done$"), log.text
    assert runner.extraction_leftovers(tmp_path / "rel") == []


def test_no_extraction_directory_after_ten_attempts_is_internal_error_7(runner, tmp_path):
    # 240 characters: the probe's test directory and GetTempFileName fit
    # within MAX_PATH, "<base>\\klpXXXX.tmp_dir<seconds>" does not.
    base, windows = long_directory(tmp_path, 240)
    exe = xh.installer(tmp_path, runner.target, FILES)
    result = runner.run(exe, ["-temp", windows])
    assert result.returncode == 1, result.describe()
    assert result.stderr.decode("cp1252").startswith(xh.internal_error("7") + "\r\n\r\nLog: "), result.describe()
    log = runner.log(exe)
    assert len(log.find(r"^Temp dir3: ")) == 10
    assert len(log.find(r"^Could not create dir \(\d+\)$")) == 10
    assert not log.find(r"^extracting files$")
    assert runner.extraction_leftovers(base) == []


# --------------------------------------------------------------------------
# The candidate search

# In the Windows variables and the base taken, "{profile}", "{home}" and
# "{home_path}" (home without its drive) name directories of the test.
UNUSABLE_TEMP = {"TMP": xh.UNUSABLE, "TEMP": xh.UNUSABLE}
FALL_THROUGH = [
    # (case, profile directory made, Windows variables, (source, usable) expected, base taken)
    ("TEMP unusable: the profile's temp", "profile",
     {"USERPROFILE": "{profile}"}, [("TEMP", False), ("USERPROFILE", True)], "{profile}\\AppData\\Local\\Temp"),
    ("profile has no temp: HOMEDRIVE and HOMEPATH", None,
     {"USERPROFILE": "{profile}", "HOMEDRIVE": "Z:", "HOMEPATH": "{home_path}"},
     [("TEMP", False), ("USERPROFILE", False), ("HOMEDRIVE/HOMEPATH", True)], "{home}"),
    ("profile name outside the code page is skipped", "Жук",
     {"USERPROFILE": "{profile}", "HOMEDRIVE": "Z:", "HOMEPATH": "{home_path}"},
     [("TEMP", False), ("USERPROFILE", False), ("HOMEDRIVE/HOMEPATH", True)], "{home}"),
    ("HOMEPATH unset: the Windows temp directory", None,
     {"USERPROFILE": xh.UNUSABLE, "HOMEDRIVE": "Z:", "HOMEPATH": ""},
     [("TEMP", False), ("USERPROFILE", False), ("windows\\temp", True)], "C:\\windows\\temp"),
]


@pytest.mark.parametrize("case, profile_name, variables, expected, taken", FALL_THROUGH,
                         ids=[c[0] for c in FALL_THROUGH])
def test_an_unusable_windows_temp_falls_through_to_the_next_candidate(runner, tmp_path, case, profile_name,
                                                                      variables, expected, taken):
    profile = tmp_path / (profile_name or "no_profile")
    if profile_name:
        (profile / "AppData" / "Local" / "Temp").mkdir(parents=True)
    home = tmp_path / "home"
    home.mkdir()
    names = {"profile": harness.windows_path(profile), "home": harness.windows_path(home),
             "home_path": harness.windows_path(home)[2:]}
    taken = taken.format(**names)
    exe = xh.installer(tmp_path, runner.target, FILES)
    result = runner.run(exe, windows_env={**UNUSABLE_TEMP, **{k: v.format(**names) for k, v in variables.items()}})
    # The UTF-16 search took the same candidate: the log lies in it.
    log = runner.log(exe, runner.isolated.host_path(taken))
    assert_ended_after_extraction(result)
    found = xh.candidates(log)
    assert [(source, usable) for _directory, source, usable in found] == expected, found
    assert found[0][0] == xh.UNUSABLE + "\\" and found[-1][0] == taken
    assert_extracted_under(runner, log, taken)


# --------------------------------------------------------------------------
# No usable candidate: C:\\windows, c:\\temp and c:\\tmp read-only

ALL_UNUSABLE = {"TMP": xh.UNUSABLE, "TEMP": xh.UNUSABLE, "HOMEDRIVE": "", "HOMEPATH": ""}
PROFILE = "C:\\users\\Жук"

# The 8-bit search's lines when nothing is usable (HOMEDRIVE/HOMEPATH unset is
# not probed): the first pass, then the relaxed second pass.
EVERY_CANDIDATE = [("TEMP", False), ("USERPROFILE", False), ("windows\\temp", False), ("c:\\temp", False),
                   ("c:\\tmp", False), ("windows", False), ("c:\\tmp (created)", False), ("TEMP", False),
                   ("USERPROFILE", False)]


@contextlib.contextmanager
def no_temp_base(isolated):
    """The fixed candidates read-only and the profile PROFILE with its temp
    directory present, for a while."""
    profile = isolated.prefix / "drive_c" / "users" / "Жук"
    isolated.shell(f"mkdir -p {shlex.quote(str(profile / 'AppData' / 'Local' / 'Temp'))}", check=True)
    try:
        with isolated.read_only("windows", "temp", "tmp"):
            yield
    finally:
        isolated.shell(f"rm -rf {shlex.quote(str(profile))}")


def error_box(result) -> tuple[str, str]:
    """The one error box of the run: its message and the log path it names."""
    assert result.returncode == 1, result.describe()
    assert len(result.windows) == 1, result.describe()
    window = result.windows[0]
    assert (window.caption, window.icon, window.buttons) == (xh.ERROR_CAPTION, "error", [(1, "OK")])
    message, _, log_path = window.text.partition("\n\nLog: ")
    return message, log_path


def test_no_usable_candidate_ends_with_message_1015(runner, tmp_path):
    exe = xh.installer(tmp_path, runner.target, FILES, config={"107": "5"})
    with no_temp_base(runner.isolated):
        result = runner.run(exe, windows_env={**ALL_UNUSABLE, "USERPROFILE": xh.UNUSABLE}, watch=True)
    message, log_path = error_box(result)
    assert message == xh.POWERUSER
    # No base for the log either: it went to the root of drive C.
    assert re.fullmatch(r"c:\\tvx_nlog_\d+\.log", log_path, re.I), log_path
    log = runner.log(exe, runner.isolated.host_path("C:\\"))
    assert log.path.name.lower() == log_path[3:].lower()
    assert [(source, usable) for _d, source, usable in xh.candidates(log)] == EVERY_CANDIDATE
    assert not log.find(r"^Temp dir3: ")


def test_a_profile_outside_the_code_page_is_taken_by_the_relaxed_pass(runner, tmp_path):
    exe = xh.installer(tmp_path, runner.target, FILES, config={"107": "5"})
    profile_temp = PROFILE + "\\AppData\\Local\\Temp"
    with no_temp_base(runner.isolated):
        result = runner.run(exe, windows_env={**ALL_UNUSABLE, "USERPROFILE": PROFILE}, watch=True)
        log = runner.log(exe, runner.isolated.host_path(profile_temp))
    message, log_path = error_box(result)
    # The UTF-16 search skipped the profile in its first pass and took it in
    # the relaxed one: the log lies in the profile's temp.
    assert re.fullmatch(re.escape(profile_temp + "\\") + r"tvx_nlog_\d+\.log", log_path), log_path
    assert log.path.name == log_path.rsplit("\\", 1)[1]
    # The 8-bit search sees the name through the code page ("C:\\users\\???"),
    # which no pass can use, so the extraction directory has no base.
    found = xh.candidates(log)
    assert [(source, usable) for _d, source, usable in found] == EVERY_CANDIDATE
    assert found[1][0] == "C:\\users\\???\\AppData\\Local\\Temp"
    assert not log.find(r"^Temp dir3: ")
    assert message == xh.POWERUSER
