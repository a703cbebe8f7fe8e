"""Error reporting and the integrity check.

The corrupted-installer box (message 20016 captioned with message 20013, error
icon, no log reference) is shown in every output mode. Other fatal errors go
to a message box captioned with message 1000 in graphical mode (id 107 is 1 or
5 and neither "-q" nor "-c" given) and to the console otherwise; either way
the text ends with "\\n\\nLog: " and the log's long path, and the exit code is 1.

As a fatal error after the configuration was loaded and checked, the tests
use a payload file that cannot be created: internal error 11 (message 1009).

Console capture under Wine (see test_harness.py): with standard output
redirected the text arrives on stderr as code page 1252 with CR LF line ends.
"-c" attaches to the parent's console: run through the watcher (a Windows
console program, like cmd.exe) the redirected handles stay; run straight from
a Unix pipe, a 32-bit program gets no parent console, AllocConsole replaces
the handles with a hidden console and the text cannot be captured.
"""

import copy
import re
import struct

import pytest

import expect
import harness
from harness import run, run_in_pty, run_with_watcher


def _installer(tmp_path, target, **manifest):
    """An installer whose run, once checked, ends with the extraction error."""
    manifest = copy.deepcopy(manifest)
    manifest.setdefault("config", {})
    manifest["config"].setdefault("999", "abcdef")
    manifest.setdefault("locales", [{"name": "de", "messages": {"20016": "kaputt"}}])
    manifest.setdefault("trailing_zeros", 16)
    return expect.failing_installer(tmp_path, target, manifest)


# Bytes inside the range the CRC covers (from the configuration count on),
# and the stored CRC itself.
COVERED = [
    ("configuration text", lambda b: b.config_record(999).text),
    ("message text", lambda b: b.message_record(20019).text + 1),
    ("unused locale block", lambda b: b.locales[0].messages[0].text),
    ("first payload byte", lambda b: b.payload_files[0][1]),
    ("payload size", lambda b: b.payload_files[1][0]),
    ("last covered byte", lambda b: b.covered_end - 1),
    ("stored CRC", lambda b: b.start + 8),
]


@pytest.mark.parametrize("where, offset", COVERED, ids=[c[0] for c in COVERED])
def test_a_changed_covered_byte_shows_the_corrupted_box(target, temp, tmp_path, where, offset):
    installer = _installer(tmp_path, target)
    layout = harness.BlockLayout.read(installer)
    exe = harness.changed_copy(installer, offset(layout), tmp_path / "changed.exe")
    result = run_with_watcher(target, exe, temp=temp)
    expect.corrupted_box(result)


@pytest.mark.parametrize("config_107, args", [
    ("5", []), ("1", []), ("0", []), ("5", ["-q"]), ("5", ["-c"]),
])
def test_the_corrupted_box_appears_in_every_output_mode(target, temp, tmp_path, config_107, args):
    installer = _installer(tmp_path, target, config={"107": config_107})
    layout = harness.BlockLayout.read(installer)
    exe = harness.changed_copy(installer, layout.payload_files[0][1], tmp_path / "changed.exe")
    result = run_with_watcher(target, exe, args, temp=temp)
    expect.corrupted_box(result)
    assert result.stdout == b"" and result.stderr == b""


def test_the_corrupted_box_uses_the_installers_texts(target, temp, tmp_path):
    installer = _installer(tmp_path, target, messages={"20016": "Setup file damaged.", "20013": "Acme Setup"})
    layout = harness.BlockLayout.read(installer)
    exe = harness.changed_copy(installer, layout.covered_end - 1, tmp_path / "changed.exe")
    result = run_with_watcher(target, exe, temp=temp)
    expect.corrupted_box(result, text="Setup file damaged.", caption="Acme Setup")


def test_covered_range_beyond_the_end_of_the_file_is_a_read_error(target, temp, tmp_path):
    installer = _installer(tmp_path, target)
    layout = harness.BlockLayout.read(installer)
    data = bytearray(installer.read_bytes())
    data[layout.start + 12:layout.start + 20] = struct.pack("<q", layout.covered_length + 50000)
    exe = tmp_path / "long.exe"
    exe.write_bytes(bytes(data))
    result = run_with_watcher(target, exe, temp=temp)
    message, log = expect.error_box(result, exe)
    assert message == "An internal error occurred (error code: 34)"
    # The read at the end of the file gives no bytes after all the file's bytes from the covered start on.
    assert log.find(rf"^check ReadFile failed 0 \d+ {layout.size - layout.covered_start}$"), log.text


# (case, manifest changes, offset of a changed byte or None, arguments, check runs)
PASSING = [
    ("intact", {}, None, [], True),
    ("changed trailing zero", {}, lambda b: b.covered_end + 7, [], True),
    ("flag off, changed payload", {"integrity_check": False}, lambda b: b.payload_files[0][1], [], False),
    ("-nocheck, changed payload", {}, lambda b: b.payload_files[0][1], ["-nocheck"], False),
]


@pytest.mark.parametrize("case, manifest, offset, args, checked", PASSING, ids=[p[0] for p in PASSING])
def test_integrity_check_passes(target, temp, tmp_path, case, manifest, offset, args, checked):
    installer = _installer(tmp_path, target, **manifest)
    layout = harness.BlockLayout.read(installer)
    exe = installer if offset is None else harness.changed_copy(installer, offset(layout), tmp_path / "changed.exe")
    result = run_with_watcher(target, exe, args, temp=temp)
    assert all(w.text != expect.CORRUPTED for w in result.windows), result.describe()
    message, log = expect.error_box(result, exe)
    assert message == expect.EXTRACTION_ERROR
    assert [m.group(1) for m in log.find(r"^starting at (\d+)$")] == [str(layout.start)]
    verifying = log.find(r"^verifying integrity length (\d+)$")
    checksums = log.find(r"^checksums: (\d+) (\d+) (-?\d+) (-?\d+)$")
    if checked:
        assert [m.group(1) for m in verifying] == [str(layout.covered_length)]
        assert len(checksums) == 1, log.text
        computed, expected, computed_signed, expected_signed = map(int, checksums[0].groups())
        assert computed == expected == layout.crc
        assert computed_signed == expected_signed == (layout.crc - (1 << 32) if layout.crc >= 1 << 31 else layout.crc)
    else:
        assert verifying == [] and checksums == [], log.text


@pytest.mark.parametrize("manifest, caption", [
    ({}, "Error"),
    ({"config": {"107": "1"}}, "Error"),
    ({"messages": {"1000": "Setup problem"}}, "Setup problem"),
    ({"default_messages": False, "messages": {"1009": "internal {0}"}}, ""),
], ids=["default", "107 is 1", "own caption", "no message 1000"])
def test_graphical_mode_error_box(target, temp, tmp_path, manifest, caption):
    exe = _installer(tmp_path, target, **manifest)
    result = run_with_watcher(target, exe, temp=temp)
    message, _ = expect.error_box(result, exe, caption=caption)
    assert message == (expect.EXTRACTION_ERROR if "1009" not in manifest.get("messages", {}) else "internal 11")


# (case, message 1009, configuration value 1009, shown text)
CONFIGURED_TEXTS = [
    ("placeholder twice", "Error {0}, again {0}", None, "Error 11, again {0}"),
    ("no placeholder", "Something failed", None, "Something failed"),
    ("placeholder first", "{0} failed", None, "11 failed"),
    ("empty message, configuration value", "", "from the configuration: {0}", "from the configuration: 11"),
    ("message wins over configuration value", "message {0}", "configuration {0}", "message 11"),
    ("neither", "", None, ""),
]


@pytest.mark.parametrize("case, message, config_value, shown", CONFIGURED_TEXTS, ids=[c[0] for c in CONFIGURED_TEXTS])
def test_configured_error_text(target, temp, tmp_path, case, message, config_value, shown):
    config = {} if config_value is None else {"1009": config_value}
    exe = _installer(tmp_path, target, messages={"1009": message}, config=config)
    result = run_with_watcher(target, exe, temp=temp)
    text, _ = expect.error_box(result, exe)
    assert text == shown


@pytest.mark.parametrize("config_107, args", [
    ("0", []), ("2", []), ("5", ["-q"]), ("5", ["-c"]), ("1", ["-q"]), ("5", ["-x", "-q", "-y"]),
], ids=["107 is 0", "107 is 2", "-q", "-c", "107 is 1 and -q", "-q among others"])
def test_console_mode_writes_the_error_to_stderr(target, temp, tmp_path, config_107, args):
    exe = _installer(tmp_path, target, config={"107": config_107})
    result = run_with_watcher(target, exe, args, no_window_ok=True, temp=temp)
    assert result.windows == [], result.describe()
    message, _ = expect.console_error(result, exe)
    assert message == expect.EXTRACTION_ERROR


@pytest.mark.parametrize("args", [["-Q"], ["-C"], ["--q"], ["q"]])
def test_switches_are_exact_and_case_sensitive(target, temp, tmp_path, args):
    exe = _installer(tmp_path, target)
    result = run_with_watcher(target, exe, args, temp=temp)
    expect.error_box(result, exe)
    assert result.stderr == b""


@pytest.mark.parametrize("sink", ["pipe", "file"])
@pytest.mark.parametrize("config_107, args", [("0", []), ("5", ["-q"]), ("5", ["-c"])],
                         ids=["107 is 0", "-q", "-c"])
def test_console_mode_started_from_a_unix_pipe(target, tmp_path, config_107, args, sink):
    if args == ["-c"] and target == "win32":
        pytest.skip("Wine: a 32-bit program started from a Unix pipe has no parent console; AllocConsole "
                    "replaces the redirected handles with a hidden console, so the text cannot be captured")
    exe = _installer(tmp_path, target, config={"107": config_107})
    if sink == "file":
        out_path = tmp_path / "stdout.txt"
        with open(out_path, "wb") as out:
            result = run(target, exe, args, stdout=out, timeout=60)
        result.stdout = out_path.read_bytes()
    else:
        result = run(target, exe, args, timeout=60)
    message, _ = expect.console_error(result, exe)
    assert message == expect.EXTRACTION_ERROR


@pytest.mark.parametrize("config_107, args", [("0", []), ("5", ["-q"]), ("5", ["-c"])],
                         ids=["107 is 0", "-q", "-c"])
def test_console_mode_on_a_terminal(target, tmp_path, config_107, args):
    exe = _installer(tmp_path, target, config={"107": config_107})
    result = run_in_pty(target, exe, args, timeout=60)
    assert result.returncode == 1, result.stdout
    shown = harness.terminal_text(result.stdout).strip()
    match = re.fullmatch(r"(?s)(.+)\n\nLog: (\S+)", shown)
    assert match, shown
    assert match.group(1) == expect.EXTRACTION_ERROR
    expect.referenced_log(match.group(2), exe, result.temp)
