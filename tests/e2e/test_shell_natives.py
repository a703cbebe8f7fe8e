"""The ShellLink and VistaTaskDialog natives called by real Java code: the
64-bit stub runs the project's Java runtime on a real Windows Java 11 under
Wine, which makes the calls and reports what they returned.

Links are written through Wine's shell link object and read back by
LnkParse3 (PyPI), a parser of the .lnk format that shares nothing with the
shell.  Task dialogs are shown under Xvfb and answered by the dialog watcher,
whose record of each dialog (texts, buttons, check box, icon) is compared
with the arguments, and whose answer is compared with what the Java side got.
"""

from __future__ import annotations

import re
import shutil
import subprocess
import sys

import pytest

import harness
import java_runtime as jr
import native_run
from java_runtime import ByteArray, Long, call

JAVA_HOME = harness.BUILD_DIR / "java" / "11"
TARGET = "win64"
sys.path.insert(0, str(harness.BUILD_DIR / "python-packages"))  # LnkParse3, installed by scripts/setup.sh


def require_java_run():
    native_run.require()


def java_installer(work, calls):
    params = jr.params_text(harness.windows_path(work / "report.txt"), end="exit:0", natives=calls)
    return harness.build_installer(
        work, TARGET, {"config": {"107": "0", "2001": "i", "122": "x", "128": "EJAVA_HOME;", "126": "1.8"}},
        files={"tvxruntime.jar": jr.JAR.read_bytes(), jr.PARAMS_FILE: params.encode("utf-8")})


def results(report, names):
    outcomes = dict(zip(names, report.calls))
    assert [c for c in report.calls if c.thrown or c.error] == []
    return {name: outcome.result for name, outcome in outcomes.items()}


# --------------------------------------------------------------------------
# Shell links


def wide_path_bytes(path: str) -> ByteArray:
    return ByteArray((path + "\0").encode("utf-16-le"))


@pytest.fixture(scope="module")
def links(tmp_path_factory):
    require_java_run()
    lnk = pytest.importorskip("LnkParse3", reason="LnkParse3 is not installed (scripts/setup.sh installs it)")
    work = tmp_path_factory.mktemp("links")
    # Wine writes a link's target in the ANSI code page only (its link info
    # and shell items), so the target stays within code page 1252; the
    # strings of the link (folder, icon, arguments, description) are UTF-16.
    app, data = work / "Pr\u00fcfung", work / "Daten \u4e2d"
    app.mkdir()
    data.mkdir()
    (app / "tool.exe").write_bytes(b"MZ")
    (data / "tool.ico").write_bytes(b"\0\0\1\0")
    win = harness.windows_path
    target, icon = win(app / "tool.exe"), win(data / "tool.ico")
    calls = {
        "init": call("ShellLink.initialize0"),
        "plain": call("ShellLink.createWide0", win(work / "plain.lnk"), target, win(data), icon,
                      '--mode "a b" \u00e9', False, "Beschreibung \u4e2d", 7),
        "runas": call("ShellLink.createWide0", win(work / "runas.lnk"), target, None, None, None, True, None, 3),
        "no_folder": call("ShellLink.createWide0", win(work / "missing" / "x.lnk"), target, None, None, None,
                          False, None, 1),
        "notify": call("ShellLink.changeNotify0", wide_path_bytes(win(work / "plain.lnk")), wide_path_bytes(win(work))),
        "notify_null": call("ShellLink.changeNotify0", None, None),
        "uninit": call("ShellLink.uninitialize"),
    }
    installer = java_installer(work, list(calls.values()))
    done = harness.run(TARGET, installer, ["-q"], env={"JAVA_HOME": win(JAVA_HOME)})
    assert done.returncode == 0, done.describe()
    parsed = {}
    for name in ("plain", "runas"):
        path = work / (name + ".lnk")
        if path.exists():
            with open(path, "rb") as f:
                parsed[name] = lnk.lnk_file(f).get_json()
    return results(jr.read_report(work / "report.txt"), list(calls)), parsed, {"target": target, "icon": icon,
                                                                                 "dir": win(data), "work": work}


def link_target(parsed: dict) -> str | None:
    info = parsed.get("link_info", {})
    return info.get("local_base_path_unicode") or info.get("local_base_path")


def test_link_read_back_by_an_independent_parser(links):
    result, parsed, paths = links
    assert (result["init"], result["plain"], result["uninit"]) == ("true", "true", "true")
    plain = parsed["plain"]
    assert link_target(plain) == paths["target"]
    assert plain["data"]["working_directory"] == paths["dir"]
    assert plain["data"]["command_line_arguments"] == '--mode "a b" \u00e9'
    assert plain["data"]["description"] == "Beschreibung \u4e2d"
    assert plain["data"]["icon_location"] == paths["icon"]
    assert plain["header"]["icon_index"] == 0
    assert plain["header"]["windowstyle"] == "SW_SHOWMINNOACTIVE"
    assert "RunAsUser" not in plain["header"]["link_flags"]


def test_run_as_administrator_link_carries_the_flag_and_nothing_unset(links):
    result, parsed, paths = links
    assert result["runas"] == "true"
    runas = parsed["runas"]
    assert link_target(runas) == paths["target"]
    assert runas["header"]["windowstyle"] == "SW_SHOWMAXIMIZED"
    for unset in ("working_directory", "command_line_arguments", "description", "icon_location"):
        assert unset not in runas["data"], unset
    if "RunAsUser" not in runas["header"]["link_flags"]:
        pytest.skip("Wine's shell link object takes the run-as flag through IShellLinkDataList::SetFlags but does "
                    "not write it to the file (link flags %s)" % runas["header"]["link_flags"])


def test_link_that_cannot_be_saved_is_false_and_no_file(links):
    result, _, paths = links
    assert result["no_folder"] == "false"
    assert not (paths["work"] / "missing").exists()


def test_change_notices_return_true(links):
    # The shell's notices leave nothing to see from outside; both calls
    # return (the second notice waits for the shell) with true.
    result, _, _ = links
    assert (result["notify"], result["notify_null"]) == ("true", "true")


def test_unregistered_narrow_variant_is_exported():
    objdump = shutil.which("x86_64-w64-mingw32-objdump")
    if objdump is None or not harness.stub_path(TARGET).exists():
        pytest.skip("x86_64-w64-mingw32-objdump or the 64-bit stub is missing")
    exports = subprocess.run([objdump, "-p", str(harness.stub_path(TARGET))], capture_output=True, text=True,
                             check=True).stdout
    assert re.search(r"\] Java_com_tovrix_runtime_installer_platform_win32_ShellLink_create0$", exports, re.M)


# --------------------------------------------------------------------------
# Task dialogs


def run_dialogs(work, calls, press, check, wait_ms=120000, close_ms=None):
    """Runs the Java calls through dialog_watcher.exe with --check, which the
    harness's runner has no parameter for; `close_ms` bounds how long a
    pressed dialog may take to close."""
    installer = java_installer(work, calls)
    record = work / "record.txt"
    command = [str(harness.watcher_path(TARGET)), "--out", harness.windows_path(record), "--timeout", str(wait_ms),
               "--press", ",".join(press), "--check", ",".join(check)]
    if close_ms is not None:
        command += ["--close-timeout", str(close_ms)]
    command += ["--", harness.windows_path(installer), "-q"]
    done = subprocess.run(["wine", *command], env=harness.wine_env({"JAVA_HOME": harness.windows_path(JAVA_HOME)},
                                                                   display=harness.session_display()),
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=300, check=False)
    text = record.read_bytes().decode("utf-8") if record.exists() else ""
    return done, text


def dialog_blocks(record: str) -> list:
    """The record's windows, each as {caption, controls, states, ticked, icon, pressed}."""
    windows, current = [], None
    for line in record.splitlines():
        if re.fullmatch(r"window \d+", line):
            current = {"controls": [], "states": [], "ticked": None, "icon": None, "pressed": None}
        elif current is None:
            continue
        elif line.startswith("caption: "):
            current["caption"] = line[len("caption: "):]
        elif m := re.fullmatch(r"control (-?\d+) (\S*): ?(.*)", line):
            current["controls"].append((int(m[1]), m[2], m[3]))
        elif m := re.fullmatch(r"state (-?\d+) (\w+) (\w+): (.*)", line):
            current["states"].append((m[2], m[3], m[4]))
        elif m := re.fullmatch(r"ticked (-?\d+) (\w+): (.*)", line):
            current["ticked"] = (m[2], m[3])
        elif line.startswith("icon: "):
            current["icon"] = line[len("icon: "):]
        elif line.startswith("pressed "):
            current["pressed"] = int(line[len("pressed "):])
        elif line == "end":
            windows.append(current)
            current = None
    return windows


BUTTONS = ["&Weiter", "Abbrechen", "Sp\u00e4ter \u4e2d"]


def show_dialog(title, verification, default):
    allow_cancel, warning_icon = 0x8, 32515
    return call("VistaTaskDialog.show0", Long(0), title, "Anweisung", "Inhalt\nzweite Zeile", allow_cancel,
                warning_icon, 0, verification, BUTTONS, default)


@pytest.mark.dialogs
def test_task_dialogs_answered_by_the_watcher(tmp_path):
    require_java_run()
    calls = [show_dialog("Erster", None, 1), show_dialog("Zweiter", "Nicht mehr fragen", 0)]
    # The second button by its text; the third with the verification box ticked.
    done, record = run_dialogs(tmp_path, calls, press=["Abbrechen", "103"], check=["", "Nicht mehr fragen"])
    assert done.returncode == 0, (done.stdout, done.stderr, record)
    report = jr.read_report(tmp_path / "report.txt")
    assert [c.result for c in report.calls] == ["2", "-3"]

    windows = dialog_blocks(record)
    assert [w["caption"] for w in windows] == ["Erster", "Zweiter"]
    for window, pressed in zip(windows, (102, 103)):
        texts = [text for _, cls, text in window["controls"] if cls == "Static"]
        assert "Anweisung" in texts and "Inhalt\\nzweite Zeile" in texts
        custom = [(cid, text) for cid, cls, text in window["controls"] if cls == "Button" and cid > 100]
        assert custom == [(101, "&Weiter"), (102, "Abbrechen"), (103, "Sp\u00e4ter \u4e2d")]
        assert window["icon"] == "warning"
        assert window["pressed"] == pressed
    assert windows[0]["states"] == []  # no verification text: no check box
    assert windows[1]["states"] == [("checkbox", "unchecked", "Nicht mehr fragen")]
    assert windows[1]["ticked"] == ("checked", "Nicht mehr fragen")


@pytest.mark.dialogs
def test_task_dialog_closed_without_a_custom_button(tmp_path):
    require_java_run()
    # IDCANCEL is what the close box and Escape send.
    # A dialog that closes does so at once; 10 s tell one that stays open.
    done, record = run_dialogs(tmp_path, [show_dialog("Schliessen", "Nicht mehr fragen", 0)], press=["2"],
                               check=["Nicht mehr fragen"], wait_ms=60000, close_ms=10000)
    if done.returncode == harness.WATCHER_NOT_CLOSED:
        pytest.skip("Wine's task dialog stays open on IDCANCEL when it has no cancel button (its button handler "
                    "takes the missing control for its absent expando button); the result 1000 of a dialog closed "
                    "without a custom button is unit-tested")
    assert done.returncode == 0, (done.stdout, done.stderr, record)
    assert [c.result for c in jr.read_report(tmp_path / "report.txt").calls] == ["-1000"]
