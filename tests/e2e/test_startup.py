"""Start-up: the launcher finds the configuration block after the last section
of its own file and reads it record by record.

A missing block ends with "Internal Error: magic"; a block that ends inside a
record ends with the text of the reader of that field. Reading happens before
the output mode is known, so these errors are always message boxes, captioned
with message 1000 as far as the messages have been read (empty before), and
always name the launch log. Exit code 1.
"""

import pytest

import expect
import harness
from harness import run_with_watcher


@pytest.mark.parametrize("appended", [b"", bytes(64), b"MZ not a configuration block"],
                         ids=["bare stub", "zero bytes", "foreign data"])
def test_stub_without_a_block_reports_the_missing_magic(target, temp, tmp_path, appended):
    exe = tmp_path / "stub.exe"
    exe.write_bytes(harness.stub_path(target).read_bytes() + appended)
    result = run_with_watcher(target, exe, temp=temp)
    message, _ = expect.error_box(result, exe, caption="")
    assert message == "Internal Error: magic"


def _installer_with_every_record_kind(tmp_path, target):
    return harness.build_installer(tmp_path, target, manifest={
        "config": {"999": "abcdef"},
        "locales": [{"name": "de", "messages": {"20016": "kaputt", "20013": "Assistent"}},
                    {"name": "fr", "messages": {"20016": "corrompu"}}],
    })


# (field the file ends in, offset of the cut in the block layout, reader text)
CUTS = [
    ("integrity flag", lambda b: b.start + 6, "readInt"),
    ("expected CRC", lambda b: b.start + 9, "readInt"),
    ("covered length", lambda b: b.start + 16, "readLong"),
    ("configuration count", lambda b: b.config_count_at + 2, "readInt"),
    ("configuration id", lambda b: b.config_record(999).start + 1, "readInt"),
    ("configuration text length", lambda b: b.config_record(999).start + 6, "readInt"),
    ("configuration text", lambda b: b.config_record(999).text + 3, "readString"),
    ("message count", lambda b: b.messages_count_at + 3, "readInt"),
    ("message id", lambda b: b.message_record(20016).start + 2, "readInt"),
    ("message text length", lambda b: b.message_record(20016).start + 5, "readInt"),
    ("message text", lambda b: b.message_record(20016).text + 5, "readWString"),
    ("locale count", lambda b: b.locales_count_at + 1, "readInt"),
    ("locale name length", lambda b: b.locales[0].name_record.start + 2, "readInt"),
    ("locale name", lambda b: b.locales[0].name_record.text + 1, "readString"),
    ("locale message count", lambda b: b.locales[0].count_at + 3, "readInt"),
    ("locale message text", lambda b: b.locales[0].messages[0].text + 2, "readWString"),
    ("second locale name", lambda b: b.locales[1].name_record.text + 1, "readString"),
    ("second locale message", lambda b: b.locales[1].messages[0].end - 1, "readWString"),
]


@pytest.mark.parametrize("field, cut, reader", CUTS, ids=[c[0] for c in CUTS])
def test_block_cut_inside_a_record_names_the_reader(target, temp, tmp_path, field, cut, reader):
    installer = _installer_with_every_record_kind(tmp_path, target)
    layout = harness.BlockLayout.read(installer)
    offset = cut(layout)
    exe = harness.truncated_copy(installer, offset, tmp_path / "cut.exe")
    caption = expect.ERROR_CAPTION if offset >= layout.message_record(1000).end else ""
    result = run_with_watcher(target, exe, temp=temp)
    message, _ = expect.error_box(result, exe, caption=caption)
    assert message == f"Internal Error: {reader}", field


@pytest.mark.parametrize("config_107, args", [("0", []), ("5", ["-q"]), ("5", ["-c"])])
def test_read_errors_are_message_boxes_in_console_mode_too(target, temp, tmp_path, config_107, args):
    installer = harness.build_installer(tmp_path, target, manifest={
        "config": {"107": config_107},
        "locales": [{"name": "de", "messages": {"20016": "kaputt"}}]})
    layout = harness.BlockLayout.read(installer)
    exe = harness.truncated_copy(installer, layout.locales[0].messages[0].text + 1, tmp_path / "cut.exe")
    result = run_with_watcher(target, exe, args, temp=temp)
    message, _ = expect.error_box(result, exe)
    assert message == "Internal Error: readWString"
    assert result.stderr == b""


# The reboot request needs the whole argument text to be "__tvx_reboot"; the
# language restart only its beginning.  (The exact reboot request itself is
# not run here: it would restart the Wine session the tests share.)
@pytest.mark.parametrize("first, restart", [("__tvx_rebootX", False), ("__tvx_reboot_later", False),
                                            ("__tvx_lang_restartX", True), ("__tvx_lang_restart", True)])
def test_special_first_arguments(target, temp, tmp_path, monkeypatch, first, restart):
    exe = harness.build_installer(tmp_path, target)
    monkeypatch.chdir(tmp_path)  # a language restart looks for the earlier run's files here
    result = run_with_watcher(target, exe, [first, "-q"], env={"TOVRIX_LOG": "yes"}, no_window_ok=True,
                              temp=temp, timeout=60)
    assert (result.returncode, result.stdout) == (expect.NO_JRE_EXIT, expect.NO_JRE_OUTPUT), result.describe()
    messages = temp.for_executable(exe).messages()
    assert ("language restart" in messages) == restart, messages
    assert "Init done" in messages
    if restart:
        # The earlier run's files are missing here, so the restart extracted
        # into a directory of its own, which goes again at the end.
        assert "could not find tvxruntime.jar" in messages
        assert [p.name for p in temp.path.iterdir() if p.name.endswith(".tmp_dir") or "tmp_dir" in p.name] == []
