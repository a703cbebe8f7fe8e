"""What the launcher shows, and checks shared by its end-to-end tests."""

import re

import harness

# Default message texts the packer writes (messages 20016, 20013, 1000).
CORRUPTED = "The installation file is corrupted. If it is a download please try it again."
WIZARD_CAPTION = "tovrix Wizard"
ERROR_CAPTION = "Error"

# A payload file two directory levels deep cannot be created (extraction
# creates only the first level), which ends the run with internal error 11:
# the tests' fatal error after the configuration was loaded and checked.
BLOCKED_FILES = {**harness.DEFAULT_FILES, "sub\\deeper\\blocked.txt": b"blocked"}
EXTRACTION_ERROR = "An internal error occurred (error code: 11)"

# A quiet run that finds no Java runtime (the test installers name no search
# sequence) ends normally with exit code 83 after this line on stdout.
NO_JRE_EXIT = 83
NO_JRE_OUTPUT = b"No JRE found. Aborting.\r\n"


def failing_installer(tmp_path, target, manifest=None, name="installer.exe"):
    """An installer whose run ends with EXTRACTION_ERROR."""
    return harness.build_installer(tmp_path, target, manifest=manifest, files=BLOCKED_FILES, name=name)


def split_log_reference(text: str) -> tuple[str, str]:
    """Splits an error text into the message and the log path after "\\n\\nLog: "."""
    match = re.fullmatch(r"(?s)(.*)\n\nLog: ([^\n]+)", text)
    assert match, f"no log reference at the end of {text!r}"
    return match.group(1), match.group(2)


def referenced_log(log_path: str, exe, temp: harness.TempDir) -> harness.LaunchLog:
    """The launch log of `exe` in `temp`, which must be the file `log_path` names."""
    log = temp.for_executable(exe)
    assert log is not None, f"no launch log of {exe} in {temp.path}"
    assert log_path.lower() == temp.windows_path_of(log).lower()
    return log


def single_window(result: harness.RunResult) -> harness.Window:
    assert len(result.windows) == 1, result.describe()
    return result.windows[0]


def error_box(result: harness.RunResult, exe, caption: str = ERROR_CAPTION) -> tuple[str, harness.LaunchLog]:
    """Checks the one error message box of a run that ended with exit code 1
    and returns its message (without the log reference) and the log."""
    assert result.returncode == 1, result.describe()
    window = single_window(result)
    assert window.caption == caption, result.describe()
    assert window.icon == "error"
    assert window.buttons == [(1, "OK")]
    message, log_path = split_log_reference(window.text)
    return message, referenced_log(log_path, exe, result.temp)


def corrupted_box(result: harness.RunResult, text: str = CORRUPTED, caption: str = WIZARD_CAPTION) -> None:
    """Checks the corrupted-installer box: its own caption, no log reference."""
    assert result.returncode == 1, result.describe()
    window = single_window(result)
    assert (window.caption, window.text) == (caption, text), result.describe()
    assert window.icon == "error"
    assert window.buttons == [(1, "OK")]


def console_error(result: harness.RunResult, exe) -> tuple[str, harness.LaunchLog]:
    """Checks an error written in console mode with standard output
    redirected: nothing on stdout, the text on stderr as code page 1252 text
    with the log reference and a final line feed (CR LF from the C runtime)."""
    assert result.returncode == 1, result.describe()
    assert result.stdout == b"", result.describe()
    text = result.stderr.decode("cp1252").replace("\r\n", "\n")
    assert text.endswith("\n"), result.describe()
    message, log_path = split_log_reference(text[:-1])
    return message, referenced_log(log_path, exe, result.temp)
