"""Payload extraction, end to end under Wine.

Every run happens in a private copy-on-write view of the prefix, points the
Windows temporary directory at a directory of the test and gives the
launcher a test-double Java runtime (see extraction_helpers):
a normal run then extracts, finds the double, fails to create its VM and
ends with the fatal error 1005, which removes the extraction directory; an
extract-and-exit run ("__tvx_extract_and_exit") extracts into the
executable's path plus ".test", writes "unextracted.txt" there and ends with
exit code 0. Output goes to the console (id 107 "0"), that is to standard
error, unless a test asks for message boxes.

A full disk is a 64 KiB tmpfs mapped as drive T: for the test.
"""

import random
import re
import shlex
from pathlib import Path

import pytest

import extraction_helpers as xh
import harness
from extraction_helpers import isolated, java_homes, runner  # noqa: F401  (fixtures)


def _random_bytes(size: int, seed: int) -> bytes:
    return random.Random(seed).randbytes(size)


# In file order. The first file spans three reads of the launcher's 6,000-byte
# buffer; the second file of "sub" finds its directory already there and has
# a name in the 8-bit code page; the last holds every byte value (the
# scrambling key among them).
PAYLOAD = {
    "tvxruntime.jar": _random_bytes(13_001, 1),
    "tvxparams.conf": b"# installer parameters\r\nmode=test\r\n",
    "sub\\a.txt": b"one directory level",
    "empty.txt": b"",
    "sub\\caf\u00e9.txt": b"a second file in sub",
    "last.bin": bytes(range(256)) * 3,
}
JAVA_DATA = b"data for the Java side " * 10


def expected_tree(names) -> dict:
    """The files (and the one subdirectory) extracting `names` creates."""
    tree = {}
    for name in names:
        if "\\" in name:
            tree[name.split("\\")[0]] = None
        if PAYLOAD[name]:
            tree[name] = PAYLOAD[name]
    return tree


def extracting_lines(log, directory: str) -> list:
    """(name, size) of every "extracting <directory>\\name (size: n)" line."""
    prefix = re.escape(directory + "\\")
    return [(m.group(1), int(m.group(2))) for m in log.find(rf"^extracting {prefix}(.*) \(size: (-?\d+)\)$")]


def assert_error_text(result, message: str) -> None:
    """The console form of a fatal error: the text, an empty line, the log."""
    assert result.returncode == 1, result.describe()
    assert result.stdout == b"", result.describe()
    assert re.fullmatch(re.escape(message) + r"\r\n\r\nLog: .+\.log\r\n", result.stderr.decode("cp1252")), \
        result.describe()


def assert_box(result, caption: str, text: str) -> None:
    assert result.returncode == 1, result.describe()
    assert len(result.windows) == 1, result.describe()
    window = result.windows[0]
    assert (window.caption, window.text, window.icon, window.buttons) == (caption, text, "error", [(1, "OK")])


# --------------------------------------------------------------------------
# Extract and exit: byte for byte, and where the Java side's data begins

COUNTS = [
    # (case, ids 2002/2003 set apart from the packer's, count logged, how many names are extracted)
    ("count of the list", {}, 6, 6),
    ("count above the names", {"2002": "9"}, 9, 6),
    ("count below the names", {"2002": "2"}, 2, 2),
    ("count zero", {"2002": "0"}, 0, 0),
    ("an empty name ends the list", {"2003": ";".join(list(PAYLOAD)[:3]) + ";;" + ";".join(list(PAYLOAD)[3:]) + ";"},
     6, 3),
]


@pytest.mark.parametrize("case, config, count, extracted", COUNTS, ids=[c[0] for c in COUNTS])
def test_extract_and_exit_writes_the_payload_and_its_end_position(runner, tmp_path, case, config, count,
                                                                   extracted):
    exe = xh.installer(tmp_path, runner.target, PAYLOAD, config=config, java_data=JAVA_DATA)
    packed = xh.dump(exe)
    result = runner.run(exe, ["__tvx_extract_and_exit"])

    assert (result.returncode, result.stdout, result.stderr) == (0, b"", b""), result.describe()
    names = list(PAYLOAD)[:extracted]
    # With nothing to extract the position stays 0; otherwise it is where the
    # packer says the last handled file ends, before the Java side's data.
    position = packed.unextracted_position if extracted else 0
    if extracted == len(PAYLOAD):
        assert position == packed.file_length - len(JAVA_DATA)
    test_dir = exe.parent / (exe.name + ".test")
    assert xh.tree(test_dir) == {**expected_tree(names), "unextracted.txt": str(position).encode()}

    log = runner.log(exe)
    assert xh.first(log, r"^Included files: (-?\d+)$") == str(count)
    windows_dir = harness.windows_path(test_dir)
    assert extracting_lines(log, windows_dir) == [(name, len(PAYLOAD[name])) for name in names]


def test_extract_and_exit_reuses_an_existing_test_directory(runner, tmp_path):
    exe = xh.installer(tmp_path, runner.target, {"a.txt": b"new content"})
    test_dir = exe.parent / (exe.name + ".test")
    test_dir.mkdir()
    (test_dir / "a.txt").write_bytes(b"an older and longer content")
    (test_dir / "other.txt").write_bytes(b"kept")
    result = runner.run(exe, ["__tvx_extract_and_exit"])
    assert result.returncode == 0, result.describe()
    assert xh.tree(test_dir) == {"a.txt": b"new content", "other.txt": b"kept",
                                 "unextracted.txt": str(xh.dump(exe).unextracted_position).encode()}


def short_windows_path(runner, path: Path) -> str:
    """The 8.3 form Wine gives an existing directory."""
    _, output = runner.isolated.shell(f"timeout 60 winepath -s {shlex.quote(str(path))}", check=True)
    return "Z:" + output.strip().splitlines()[-1].strip().replace("/", "\\")


def test_an_installer_in_a_folder_the_code_page_cannot_hold_uses_its_short_path(runner, tmp_path):
    # Every 8-bit path the launcher derives from its own (here: the ".test"
    # directory) goes through the 8.3 form, which still ends in ".exe".
    folder = tmp_path / "\u0416\u0443\u043a"
    folder.mkdir()
    exe = xh.installer(folder, runner.target, {"a.txt": b"content"})
    result = runner.run(exe, ["__tvx_extract_and_exit"])

    assert result.returncode == 0, result.describe()
    extracted = xh.first(runner.log(exe), r"^Extracted dir: (.*)$")
    assert extracted is not None and "~" in extracted, extracted
    assert extracted.lower().endswith(".exe.test"), extracted
    assert "\u0416" not in extracted and "?" not in extracted, extracted
    # The directory is named after the 8.3 form of the file name too.
    (test_dir,) = [p for p in exe.parent.iterdir() if p.name.endswith(".test")]
    assert test_dir.name.lower().endswith(".exe.test") and "~" in test_dir.name, test_dir.name
    assert extracted.endswith("\\" + test_dir.name), extracted
    assert xh.tree(test_dir) == {
        "a.txt": b"content", "unextracted.txt": str(xh.dump(exe).unextracted_position).encode()}


def test_an_internal_error_names_the_long_log_path_when_temp_is_an_8_3_path(runner, tmp_path):
    long_temp = tmp_path / "a temporary directory with a long name"
    long_temp.mkdir()
    short = short_windows_path(runner, long_temp)
    assert "~" in short, short
    exe = xh.installer(tmp_path, runner.target, {"ok.txt": b"x", "..\\x.txt": b"refused"})
    result = runner.run(exe, windows_env={"TMP": short, "TEMP": short})

    assert_error_text(result, xh.internal_error("11"))
    logged = re.search(r"\r\nLog: (.+)\r\n$", result.stderr.decode("cp1252")).group(1)
    assert logged.lower().startswith(harness.windows_path(long_temp).lower() + "\\"), logged
    assert runner.log(exe, long_temp) is not None


# --------------------------------------------------------------------------
# A normal run: a new directory in the temporary base, removed again by the
# fatal error that ends the run


@pytest.mark.parametrize("own_temp", [True, False], ids=["test's TEMP", "prefix's TEMP"])
def test_a_normal_run_extracts_into_a_new_directory_that_a_fatal_error_removes(runner, tmp_path, own_temp):
    exe = xh.installer(tmp_path, runner.target, PAYLOAD, java_data=JAVA_DATA)
    result = runner.run(exe, own_temp=own_temp)
    base_windows = runner.temp_windows if own_temp else runner.isolated.windows_temp()
    log = runner.log(exe, runner.isolated.host_path(base_windows))
    assert_error_text(result, xh.JVM_NOT_STARTED)
    directory = xh.extraction_directory(log)
    temp_file = xh.first(log, r"^tempFile is (.*)$")
    assert re.fullmatch(re.escape(base_windows) + r"\\klp[0-9A-F]{1,4}\.tmp", temp_file, re.I), temp_file
    assert re.fullmatch(re.escape(temp_file) + r"_dir\d+", directory), directory
    # The second file of "sub" finds the directory there: no error.
    assert [m.group(1) for m in log.find(r"^creating directory (.*)$")] == [directory + "\\sub"] * 2
    assert not log.find(r"^ERROR: failed to create directory")
    assert extracting_lines(log, directory) == [(name, len(content)) for name, content in PAYLOAD.items()]
    assert log.find(r"^extracting files done$")
    assert not runner.isolated.host_path(directory).exists()
    assert runner.extraction_leftovers(runner.isolated.host_path(base_windows)) == []


# --------------------------------------------------------------------------
# Language restart: runs in the earlier extraction directory

RESTARTS = [
    # (case, files of the earlier directory, log line when it is incomplete)
    ("earlier files complete", ("tvxruntime.jar", "tvxparams.conf"), None),
    ("tvxparams.conf missing", ("tvxruntime.jar",), "could not find tvxparams.conf"),
    ("tvxruntime.jar missing", ("tvxparams.conf", "sub"), "could not find tvxruntime.jar"),
]


@pytest.mark.parametrize("case, present, missing_line", RESTARTS, ids=[c[0] for c in RESTARTS])
def test_a_language_restart_keeps_the_earlier_directory(runner, tmp_path, case, present, missing_line):
    exe = xh.installer(tmp_path, runner.target, PAYLOAD)
    earlier = tmp_path / "earlier"
    earlier.mkdir()
    for name in present:
        if name == "sub":
            (earlier / "sub").mkdir()
            (earlier / "sub" / "a.txt").write_bytes(b"earlier")
        else:
            (earlier / name).write_bytes(b"from the earlier run: " + name.encode())
    before = xh.tree(earlier)

    result = runner.run(exe, ["__tvx_lang_restart"], cwd=earlier)

    # The run ends with a fatal error, which never touches the earlier run's
    # directory.
    assert_error_text(result, xh.JVM_NOT_STARTED)
    assert xh.tree(earlier) == before
    log = runner.log(exe)
    if missing_line is None:
        assert not log.find(r"^could not find ")
        assert not log.find(r"^Temp dir3: |^extracting files$")
        assert xh.first(log, r"^Current working dir: (.*)$") == harness.windows_path(earlier)
        assert runner.extraction_leftovers() == []
    else:
        assert log.find("^" + re.escape(missing_line) + "$")
        directory = xh.extraction_directory(log)
        assert directory.startswith(runner.temp_windows + "\\")
        assert xh.first(log, r"^Current working dir: (.*)$") == directory
        assert extracting_lines(log, directory) == [(name, len(content)) for name, content in PAYLOAD.items()]
        # The directory this restart extracted into is its own: the fatal end
        # removes it like any other run's.
        assert not runner.isolated.host_path(directory).exists()
        assert runner.extraction_leftovers() == []


# --------------------------------------------------------------------------
# Payload names: nothing is written outside the extraction directory

# Windows drops trailing blanks and dots of a path component: ".. " is "..".
UNSAFE_NAMES = ["C:\\x.txt", "C:x.txt", "\\x.txt", "..\\x.txt", "sub\\..\\..\\x.txt", "sub/../../x.txt",
                "sub\\..\\x.txt", ".. \\x.txt"]


@pytest.mark.parametrize("name", UNSAFE_NAMES)
def test_a_name_that_leaves_the_extraction_directory_is_refused_with_error_11(runner, tmp_path, name):
    exe = xh.installer(tmp_path, runner.target, {"ok.txt": b"written first", name: b"must not appear"})
    test_dir = exe.parent / (exe.name + ".test")
    # Where the name would land if taken: beside or above the ".test"
    # directory, on drive C (its root is its current directory) or the root of Z:.
    outside = [tmp_path / "x.txt", tmp_path.parent / "x.txt", runner.isolated.host_path("C:\\x.txt"),
               Path("/x.txt")]
    existing = [path for path in outside if path.exists()]
    assert not existing, f"remove these before running: {existing}"
    try:
        result = runner.run(exe, ["__tvx_extract_and_exit"])
        assert_error_text(result, xh.internal_error("11"))
        assert [path for path in outside if path.exists()] == []
        assert not test_dir.exists(), xh.tree(test_dir)
    finally:
        for path in outside:
            path.unlink(missing_ok=True)


def test_a_name_with_two_directory_levels_creates_only_the_first_and_fails(runner, tmp_path):
    exe = xh.installer(tmp_path, runner.target, {"ok.txt": b"written first", "a\\b\\c.txt": b"never written"})
    result = runner.run(exe)
    assert_error_text(result, xh.internal_error("11"))
    log = runner.log(exe)
    directory = xh.extraction_directory(log)
    assert [m.group(1) for m in log.find(r"^creating directory (.*)$")] == [directory + "\\a"]
    # The cleanup found the first level and removed it with the directory.
    assert log.find("^" + re.escape(f"attempting to remove {directory}\\a (1)") + "$")
    assert not runner.isolated.host_path(directory).exists()
    assert runner.extraction_leftovers() == []


# --------------------------------------------------------------------------
# Read failures: an installer cut inside a payload file's content

@pytest.mark.parametrize("args, box", [(["-nocheck"], True), (["-nocheck", "-q"], False)],
                         ids=["box", "quiet"])
def test_a_truncated_payload_shows_the_corrupted_box_unless_quiet(runner, tmp_path, args, box):
    exe = xh.installer(tmp_path, runner.target, PAYLOAD, config={"107": "5"})
    _name, size_at, _size = xh.dump(exe).payload[0]
    cut = harness.truncated_copy(exe, size_at + 8 + 6_500, tmp_path / "cut.exe")  # in the second read
    result = runner.run(cut, args, watch=True)
    if box:
        assert_box(result, xh.WIZARD_CAPTION, xh.CORRUPTED)
    else:
        assert (result.returncode, result.windows, result.stdout, result.stderr) == (1, [], b"", b""), \
            result.describe()
    log = runner.log(cut)
    directory = xh.extraction_directory(log)
    assert log.find(r"^ERROR: Failed to extract " + re.escape(directory + "\\tvxruntime.jar") + "$")
    assert not runner.isolated.host_path(directory).exists()
    assert runner.extraction_leftovers() == []


# --------------------------------------------------------------------------
# Write failures: a full disk

@pytest.mark.parametrize("args, box", [([], True), (["-q"], False)], ids=["box", "quiet"])
def test_a_full_disk_shows_not_enough_disk_space_unless_quiet(runner, tmp_path, args, box):
    files = {"tvxruntime.jar": _random_bytes(200_000, 2), "tvxparams.conf": b"mode=test\r\n"}
    exe = xh.installer(tmp_path, runner.target, files, config={"107": "5"})
    with runner.isolated.tmpfs_drive("t", "64k") as drive:
        # "T:\\" cannot pass through cmd: this run keeps the prefix's TEMP.
        result = runner.run(exe, ["-temp", "T:\\", *args], watch=True, own_temp=False)
        left = runner.isolated.listing(drive)
    if box:
        assert_box(result, xh.WIZARD_CAPTION, xh.NO_DISK_SPACE)
    else:
        assert (result.returncode, result.windows, result.stdout, result.stderr) == (1, [], b"", b""), \
            result.describe()
    log = runner.log(exe, runner.isolated.host_path(runner.isolated.windows_temp()))
    assert log.find(r"^Using manual temp dir T:\\ \(T:\\\)$")
    directory = xh.extraction_directory(log)
    assert re.fullmatch(r"T:\\klp[0-9A-F]{1,4}\.tmp_dir\d+", directory, re.I), directory
    assert log.find(r"^ERROR: WriteFile failed ")
    # Only the empty "klp*.tmp" file of GetTempFileName stays on the drive.
    assert len(left) == 1 and re.fullmatch(r"klp[0-9A-Fa-f]{1,4}\.tmp", left[0]), left
