"""The launch log: "tvx_nlog_<n>.log" in the Windows temporary directory,
UTF-8 with byte-order mark and CR LF line ends, a header line naming the
executable, then one "[<s>:<ms>] " line per step; the log switch prompt.
"""

import re

import pytest

import expect
import harness
from harness import run_with_watcher

HEADER = re.compile(r"Started executable (.+) at (\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4})")


def test_log_format_and_start_up_lines(target, temp, tmp_path):
    exe = harness.build_installer(tmp_path, target)
    layout = harness.BlockLayout.read(exe)
    result = run_with_watcher(target, exe, ["-q"], env={"TOVRIX_LOG": "yes"}, no_window_ok=True, temp=temp)
    assert (result.returncode, result.stdout) == (expect.NO_JRE_EXIT, expect.NO_JRE_OUTPUT), result.describe()
    log = temp.for_executable(exe)
    assert log is not None

    assert log.has_bom
    body = log.raw[3:]
    assert body.endswith(b"\r\n") and b"\n" not in body.replace(b"\r\n", b"")
    header = HEADER.fullmatch(log.lines[0])
    assert header, log.lines[0]
    assert header.group(1).lower() == harness.windows_path(exe).lower()
    assert log.lines[1] == ""
    lines = [line for line in log.lines[2:] if line]
    stamps = [re.match(r"\[(\d+):(\d+)\] ", line) for line in lines]
    assert all(stamps), log.text
    assert all(int(m.group(2)) < 1000 and not re.match(r"0\d", m.group(2)) for m in stamps)
    elapsed = [int(m.group(1)) * 1000 + int(m.group(2)) for m in stamps]
    assert elapsed == sorted(elapsed)

    # The last section header is found 16 bytes before the position the
    # block's offset is computed from.
    table_start = _pe_header_offset(exe) + layout.optional_header_size + 40 * layout.sections - 16
    expected_in_order = [
        "restrict DLL directories",
        f"number of sections: {layout.sections}",
        f"size of optional headers: {layout.optional_header_size}",
        f"resSectionTableStart: {table_start}",
        f"rawDataSize: {layout.raw_data_size}, rawDataOffset: {layout.raw_data_offset}",
        "language/country is en_US",
        "Init done",
        "Quiet installer.",
        "Starting work",
        f"starting at {layout.start}",
        f"verifying integrity length {layout.covered_length}",
        "ERROR: No JRE found",
    ]
    messages = log.messages()
    assert messages[0] == "restrict DLL directories"
    assert harness.ordered_lines_present("\n".join(messages), expected_in_order), log.text


def test_graphical_run_is_not_logged_as_quiet(target, temp, tmp_path):
    exe = expect.failing_installer(tmp_path, target)
    result = run_with_watcher(target, exe, temp=temp)
    _, log = expect.error_box(result, exe)
    messages = "\n".join(log.messages())
    assert harness.ordered_lines_present(messages, ["Init done", "Starting work"]), log.text
    assert "Quiet installer." not in messages


def _pe_header_offset(exe):
    return int.from_bytes(exe.read_bytes()[60:64], "little")


@pytest.mark.parametrize("existing, expected", [({1, 2}, 3), ({2}, 1), ({1, 3}, 2), (set(), 1)],
                         ids=["after 1 and 2", "gap at 1", "gap at 2", "empty"])
def test_a_new_log_takes_the_first_free_number(target, temp, tmp_path, existing, expected):
    directory = temp.path
    for number in existing:
        (directory / f"tvx_nlog_{number}.log").write_bytes(b"earlier log %d\r\n" % number)
    exe = expect.failing_installer(tmp_path, target)
    result = run_with_watcher(target, exe, temp=temp)
    _, log = expect.error_box(result, exe)
    assert log.number == expected
    for number in existing:
        assert (directory / f"tvx_nlog_{number}.log").read_bytes() == b"earlier log %d\r\n" % number


@pytest.mark.parametrize("switch", ["-create-tvx-log", "-create-klp-log", "/create-tvx-log", "/create-klp-log"])
@pytest.mark.parametrize("product, name", [("i", "tovrix"), ("e", "kelpa")])
def test_log_switch_as_first_argument_prompts_with_the_log_path(target, temp, tmp_path, switch, product, name):
    exe = expect.failing_installer(tmp_path, target, manifest={"config": {"2001": product}})
    result = run_with_watcher(target, exe, [switch], press=["IDNO", "IDOK"], temp=temp)
    assert result.returncode == 1, result.describe()
    assert len(result.windows) == 2, result.describe()
    prompt, error = result.windows
    assert prompt.caption == name
    assert sorted(prompt.buttons) == [(6, "&Yes"), (7, "&No")]
    match = re.fullmatch(r"The following log file will be created:\n\n(.+)\n\n"
                         r"Do you want to open an Explorer window\?", prompt.text or "")
    assert match, prompt.text
    log = expect.referenced_log(match.group(1), exe, temp)
    assert error.caption == expect.ERROR_CAPTION
    _, error_log_path = expect.split_log_reference(error.text)
    assert error_log_path.lower() == temp.windows_path_of(log).lower()


def test_log_switch_prompt_appears_in_console_mode(target, temp, tmp_path):
    exe = expect.failing_installer(tmp_path, target)
    result = run_with_watcher(target, exe, ["-create-tvx-log", "-q"], press="IDNO", temp=temp)
    assert [w.caption for w in result.windows] == ["tovrix"], result.describe()
    expect.console_error(result, exe)


@pytest.mark.parametrize("args", [["-x", "-create-tvx-log"], ["-create-tvx-log2"], ["-CREATE-TVX-LOG"]])
def test_log_switch_only_as_exact_first_argument(target, temp, tmp_path, args):
    exe = expect.failing_installer(tmp_path, target)
    result = run_with_watcher(target, exe, args, temp=temp)
    expect.error_box(result, exe)


@pytest.mark.parametrize("env, args, kept", [
    ({"TOVRIX_LOG": "yes"}, [], True),
    ({"KELPA_LOG": "yes"}, [], True),
    ({"TOVRIX_LOG": "YES"}, [], False),
    ({"KELPA_LOG": "no"}, [], False),
    ({}, [], False),
    ({}, ["-create-tvx-log"], True),
], ids=["TOVRIX_LOG=yes", "KELPA_LOG=yes", "TOVRIX_LOG=YES", "KELPA_LOG=no", "nothing", "log switch"])
def test_log_kept_at_a_normal_end_only_on_request(target, temp, tmp_path, env, args, kept):
    exe = harness.build_installer(tmp_path, target)
    result = run_with_watcher(target, exe, [*args, "-q"], env=env, press="IDNO", no_window_ok=True,
                              temp=temp)
    assert (result.returncode, result.stdout) == (expect.NO_JRE_EXIT, expect.NO_JRE_OUTPUT), result.describe()
    assert (temp.for_executable(exe) is not None) == kept
