"""The harness itself, checked with wine_probe.exe instead of the launcher:
Wine exit codes, the dialog watcher, console capture, the temporary directory
and the block reader the launcher tests cut installers with.

What Wine 8 does, found with the probe (the launcher tests rely on it):

* `wine prog.exe` returns the program's exit code, for graphical programs too.
* Without an X display MessageBoxW returns 0 at once; under Xvfb the box is a
  "#32770" window with the icon as Static 1088, the text as Static 65535 and
  buttons with their ids (1 OK, 2 Cancel, 6 Yes, 7 No). DM_GETDEFID answers
  IDOK even for a Yes/No box, so the watcher takes the BS_DEFPUSHBUTTON button.
  Another process's icon handle cannot be read (ERROR_INVALID_CURSOR_HANDLE),
  so the watcher compares the icon control's screen pixels instead.
* A graphical program started from a pipe or file: its standard handles are
  the pipes (not character devices), so the launcher's console mode writes to
  stderr; the C runtime turns "\\n" into CR LF; 8-bit text is code page 1252.
* Started from a pseudo-terminal, standard output is a console (character
  device) and WriteConsoleW reaches the terminal as UTF-8 wrapped in VT
  sequences (cursor hide/show, blanks as "erase line" + "cursor forward").
* Console set-up ("-c": AttachConsole to the parent, else AllocConsole) from a
  plain Unix pipe: a 64-bit program gets ERROR_ACCESS_DENIED from AttachConsole
  (counted as attached) and keeps the pipes; a 32-bit one gets
  ERROR_INVALID_HANDLE, AllocConsole then replaces the redirected handles with a
  hidden console and the text is lost. Started by a Windows console program
  (the watcher), both get ERROR_ACCESS_DENIED and keep the redirected handles,
  which is what a user running the installer from cmd.exe sees.
* LC_ALL=de_DE.UTF-8 gives GetUserDefaultUILanguage 0x0407 even where the
  Linux locale is not generated.
"""

import subprocess

import pytest

import harness
from harness import run, run_in_pty, run_with_watcher


@pytest.mark.parametrize("code", [0, 1, 83, 255])
def test_wine_returns_the_exit_code_of_a_graphical_program(tools_target, code):
    result = run(tools_target, harness.probe_path(tools_target), ["exit", str(code)])
    assert result.returncode == code, result.describe()


@pytest.mark.dialogs
@pytest.mark.parametrize("style, press, icon, pressed, exit_code", [
    ("ok", None, "error", 1, 3),
    ("okcancel", None, "warning", 1, 3),
    ("okcancel", "IDCANCEL", "warning", 2, 4),
    ("okcancel", "2", "warning", 2, 4),
    ("okcancel", "Cancel", "warning", 2, 4),
    ("yesno", None, "question", 6, 6),
    ("yesno", "IDNO", "question", 7, 7),
    ("yesno", "No", "question", 7, 7),
])
def test_watcher_records_and_answers_a_message_box(tools_target, style, press, icon, pressed, exit_code):
    caption = "Größe – test"
    text = "first line\nC:\\path\\file.log\tend"
    result = run_with_watcher(tools_target, harness.probe_path(tools_target),
                              ["msgbox", style, caption, text], press=press)
    assert result.returncode == exit_code, result.describe()
    assert len(result.windows) == 1, result.describe()
    window = result.windows[0]
    assert window.caption == caption
    assert window.text == text
    assert window.icon == icon
    assert window.pressed == pressed
    expected_buttons = {"ok": [1], "okcancel": [1, 2], "yesno": [6, 7]}[style]
    assert sorted(cid for cid, _ in window.buttons) == expected_buttons


@pytest.mark.dialogs
def test_watcher_records_every_window_in_order(tools_target):
    result = run_with_watcher(tools_target, harness.probe_path(tools_target),
                              ["msgbox", "yesno", "First", "one", "okcancel", "Second", "two",
                               "okcancel", "Third", "three"],
                              press=["IDNO", "IDCANCEL"])
    assert [w.caption for w in result.windows] == ["First", "Second", "Third"], result.describe()
    assert [w.text for w in result.windows] == ["one", "two", "three"]
    # After the end of the list its last entry applies again.
    assert [w.pressed for w in result.windows] == [7, 2, 2]
    assert result.returncode == 4, result.describe()


@pytest.mark.dialogs
@pytest.mark.parametrize("args, no_window_ok, expected", [
    (["exit", "5"], True, 5),
    (["exit", "5"], False, harness.WATCHER_NO_WINDOW),
    (["sleep", "60000"], False, harness.WATCHER_NO_WINDOW),
])
def test_watcher_without_a_window(tools_target, args, no_window_ok, expected):
    result = run_with_watcher(tools_target, harness.probe_path(tools_target), args,
                              no_window_ok=no_window_ok, wait_ms=3000, timeout=60)
    assert result.returncode == expected, result.describe()
    assert result.no_window and result.windows == []


def test_console_text_goes_to_stderr_when_stdout_is_redirected(tools_target, tmp_path):
    out_file = tmp_path / "out.txt"
    with open(out_file, "wb") as out:
        result = run(tools_target, harness.probe_path(tools_target), ["console", "Größe: C:\\x"], stdout=out)
    assert result.returncode == 10
    assert out_file.read_bytes() == b""
    assert result.stderr == "Größe: C:\\x\r\n".encode("cp1252")


@pytest.mark.dialogs
def test_console_text_through_the_watcher_after_console_setup(tools_target):
    result = run_with_watcher(tools_target, harness.probe_path(tools_target), ["console", "attach", "via watcher"],
                              no_window_ok=True)
    assert result.returncode == 10, result.describe()
    assert result.stdout == b""
    assert result.stderr == b"via watcher\r\n"


def test_console_text_reaches_a_terminal(tools_target):
    result = run_in_pty(tools_target, harness.probe_path(tools_target), ["console", "Größe on a terminal"])
    assert result.returncode == 11, result.stdout
    assert "Größe on a terminal" in harness.terminal_text(result.stdout)


@pytest.mark.parametrize("lc_all, language", [("de_DE.UTF-8", "0x0407"), ("de_AT.UTF-8", "0x0c07"),
                                              ("en_US.UTF-8", "0x0409")])
def test_locale_environment_sets_the_ui_language(tools_target, lc_all, language):
    result = run(tools_target, harness.probe_path(tools_target), ["uilanguage"], env={"LC_ALL": lc_all})
    assert result.stderr.decode().strip() == language


def test_log_directory_is_the_programs_temporary_directory(tools_target, logs):
    result = run(tools_target, harness.probe_path(tools_target), ["tempfile", "tvx_nlog_7.log", "Größe"])
    assert result.returncode == 0
    assert result.stderr.decode("cp1252").strip().lower() == (logs.windows_dir() + "\\tvx_nlog_7.log").lower()
    log = logs.newest()
    assert log is not None and log.number == 7
    assert log.has_bom and log.raw.endswith(b"\r\n")
    assert log.lines[0] == "Größe"
    logs.clear()
    assert logs.logs() == []


def test_watcher_gives_the_program_a_private_temporary_directory(tools_target, temp):
    result = run_with_watcher(tools_target, harness.probe_path(tools_target), ["tempfile", "tvx_nlog_3.log", "x"],
                              no_window_ok=True, temp=temp)
    assert result.returncode == 0, result.describe()
    assert result.stderr.decode("cp1252").strip().lower() == (temp.windows + "\\tvx_nlog_3.log").lower()
    assert [p.name for p in temp.logs()] == ["tvx_nlog_3.log"]
    assert result.temp is temp


def test_block_reader_agrees_with_the_packer(tools_target, tmp_path):
    # The probe serves as stub: any image that ends with its last section does.
    files = {"tvxruntime.jar": b"J" * 100, "tvxparams.conf": b"p=1\n"}
    installer = harness.build_installer(
        tmp_path, tools_target, files=files, stub=harness.probe_path(tools_target),
        manifest={"config": {"999": "abc"}, "messages": {"20016": "kaputt"},
                  "locales": [{"name": "de", "messages": {"20016": "Datei beschädigt"}}],
                  "trailing_zeros": 16})
    layout = harness.BlockLayout.read(installer)
    data = installer.read_bytes()
    assert layout.magic == 0xE8E413D5
    assert layout.start == harness.probe_path(tools_target).stat().st_size
    assert layout.integrity_flag == 1
    assert layout.crc == layout.covered_crc(data)
    assert layout.config_record(999).value == b"abc"
    assert layout.message_record(20016).value == "kaputt".encode("utf-16-le")
    assert [(loc.name, [(r.key, r.value) for r in loc.messages]) for loc in layout.locales] == \
        [("de", [(20016, "Datei beschädigt".encode("utf-16-le"))])]
    assert [size for _, _, size in layout.payload_files] == [100, 4]
    _, first_data, _ = layout.payload_files[0]
    assert data[first_data] == ord("J") ^ 0x88
    assert layout.covered_end == layout.size - 16
    assert data[layout.covered_end:] == bytes(16)
    dump = subprocess.run([str(harness.tvxpack_path()), "--dump", str(installer)], capture_output=True, text=True)
    assert dump.returncode == 0, dump.stderr
