"""The question a start asks when no Java runtime is found (dialog 104), and
locating a java.exe through the common file dialog, end to end under Wine
and Xvfb.  The dialog watcher reads the question's texts and which buttons
are visible, presses them, and types the path of a java.exe into Wine's file
dialog.

* 64-bit: the real Windows Java 11 runtime is located and started; the
  located-JVM list in the registry names it afterwards.
* 32-bit: the 64-bit runtime is of the wrong width (its jvm.dll does not
  load), so the bit-width message is shown and the question stays open; the
  doubles' runtime (tests/doubles) is one the 32-bit stub can start.
"""

from __future__ import annotations

import shutil
import subprocess
from pathlib import Path

import pytest

import download_server as ds
import graphical_fixtures as gf
import harness
import java_runtime as jr
import progress_watch as pw
from progress_watch import Markers

pytestmark = [pytest.mark.dialogs,
              pytest.mark.skipif(shutil.which("wine") is None,
                                 reason="Wine is not installed (scripts/setup.sh installs it)")]

WIZARD = "tovrix Wizard"  # message 20013
LOCATE_TITLE = "Locate java.exe"  # message 20004
ERROR_CAPTION = "Error"  # message 1000
MESSAGES = {"20004": LOCATE_TITLE, "20006": "No Java runtime found. Please locate a %S-bit JRE."}
DOWNLOAD_OFFERED = ("The tovrix wizard could not find a Java(TM) Runtime Environment on your system. You can "
                    "locate or download a suitable {bits}-bit JRE.")  # message 20005 as the packer writes it
LOCATED_KEY = r"HKLM\SOFTWARE\quillmoor\kelpa\locatedjvms"
MESSAGE_TEXT = 1003
DOWNLOAD, LOCATE, CANCEL = 1004, 1005, 2


def question_run(tmp_path: Path, temp: harness.TempDir, target: str, config: dict, press, expect=None,
                 args=(), env: dict | None = None, real_jar: bool = False):
    """A graphical start without a reachable runtime, through the watcher."""
    report = tmp_path / "report.txt"
    exe = gf.graphical_installer(tmp_path, target, config, real_jar=real_jar,
                                 params_bytes=gf.params(report) if real_jar else None, messages=MESSAGES)
    Markers.clear()
    result = harness.run_with_watcher(target, exe, list(args), env=gf.quiet_env({**ds.PROXY_FREE_ENV, **(env or {})}),
                                      press=press, expect=expect, temp=temp, wait_ms=60000, timeout=300)
    log = temp.for_executable(exe)
    assert log is not None, result.describe()
    return result, log, report


def located_keys(view: str) -> list:
    done = subprocess.run(["wine", "reg", "query", LOCATED_KEY, f"/reg:{view}"],
                          env=harness.wine_env(None, harness.session_display()), stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=harness.DEFAULT_TIMEOUT, check=False)
    prefix = "HKEY_LOCAL_MACHINE" + LOCATED_KEY[4:] + "\\"
    return [line.strip()[len(prefix):] for line in done.stdout.decode("utf-8", errors="replace").splitlines()
            if line.strip().startswith(prefix)]


def forget_located(path: str) -> None:
    for view in ("32", "64"):
        subprocess.run(["wine", "reg", "delete", LOCATED_KEY + "\\" + path.replace("\\", "/"), f"/reg:{view}", "/f"],
                       env=harness.wine_env(None, harness.session_display()), stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=harness.DEFAULT_TIMEOUT, check=False)


def real_java() -> Path:
    java = harness.BUILD_DIR / "java" / "11" / "bin" / "java.exe"
    if not java.exists():
        pytest.skip(f"no real Java 11 runtime in {java.parent.parent} (scripts/fetch_java.sh fetches it)")
    return java


# --------------------------------------------------------------------------
# The question


@pytest.mark.parametrize("target, config, cancel, text, download_shown", [
    ("win32", {"126": "1.8"}, "IDCANCEL",
     "No Java runtime found. Please locate a 32-bit JRE. (minimum version: 1.8)", False),
    ("win64", {"150": "http://127.0.0.1:9/jre.tar.gz", "126": ""}, "key:ESCAPE",
     DOWNLOAD_OFFERED.format(bits=64), True),
    ("win32", {"150": "http://127.0.0.1:9/jre.tar.gz", "126": "", "127": "17"}, "close",
     DOWNLOAD_OFFERED.format(bits=32) + " (maximum version: 17)", True),
    ("win32", {"126": "1.8", "127": "17"}, "IDCANCEL",
     "No Java runtime found. Please locate a 32-bit JRE. (minimum version: 1.8, maximum version: 17)", False),
], ids=["no location", "no bounds, 64-bit", "only a maximum", "both bounds"])
def test_the_question_and_its_cancel(tmp_path, temp, target, config, cancel, text, download_shown):
    result, log, _ = question_run(tmp_path, temp, target, config, cancel)

    assert result.returncode == 1, result.describe()
    assert len(result.windows) == 1, result.record
    question = result.windows[0]
    assert question.caption == WIZARD
    assert question.control_text(MESSAGE_TEXT) == text
    assert [text for _, text in question.buttons] == ["Download", "Locate", "Cancel"]  # messages 20010..20012
    assert (DOWNLOAD not in question.invisible) == download_shown, result.record
    assert LOCATE not in question.invisible and CANCEL not in question.invisible
    # Cancel, Escape and the close box all end the start and clear both markers.
    assert "Canceled installer" in log.messages(), log.text
    assert Markers.values() == {}, Markers.values()
    cwd = next(line for line in log.messages() if line.startswith("Current working dir: "))
    assert not pw.unix_path(cwd[len("Current working dir: "):]).exists()  # exitWithCleanup removed it


# --------------------------------------------------------------------------
# Locating a java.exe


def test_the_located_runtime_starts_and_is_remembered(tmp_path, temp):
    java = harness.windows_path(real_java())
    forget_located(java)
    try:
        result, log, report = question_run(tmp_path, temp, "win64", {}, ["once:Locate", f"file:{java}"],
                                           expect=[WIZARD, LOCATE_TITLE], real_jar=True)

        assert result.returncode == 0, result.describe() + log.text
        question, chooser = result.windows
        assert question.pressed == LOCATE and chooser.typed == java and chooser.pressed == 1, result.record
        assert f"Located {java}".lower() in [line.lower() for line in log.messages()], log.text
        facts = jr.read_report(report)
        assert facts.properties["java.home"].lower() == harness.windows_path(real_java().parent.parent).lower()
        assert "extracting JRE" not in log.messages()
        located = next(line[len("Located "):] for line in log.messages() if line.startswith("Located "))
        assert located.replace("\\", "/") in located_keys("64"), located_keys("64")
    finally:
        forget_located(java)


def test_a_runtime_of_the_wrong_width_is_refused_and_the_question_stays_open(tmp_path, temp):
    # The 32-bit stub cannot load the 64-bit runtime's jvm.dll.  A cancelled
    # file dialog and a refused runtime both bring the question back.
    java = harness.windows_path(real_java())
    forget_located(java)
    result, log, _ = question_run(
        tmp_path, temp, "win32", {}, ["once:Locate", "IDCANCEL", "once:Locate", f"file:{java}", "IDOK", "IDCANCEL"],
        expect=[WIZARD, LOCATE_TITLE, WIZARD, LOCATE_TITLE, ERROR_CAPTION, WIZARD])

    assert result.returncode == 1, result.describe() + log.text
    captions = [w.caption for w in result.windows]
    assert captions == [WIZARD, LOCATE_TITLE, WIZARD, LOCATE_TITLE, ERROR_CAPTION, WIZARD], result.record
    refused = result.windows[4].text
    assert refused.startswith(f"The JVM found at {java} is damaged.") and "32-bit JDK or JRE" in refused, refused
    assert f"LoadDLL (1, {java}, 1)" in log.messages(), log.text
    assert not [key for key in located_keys("32") + located_keys("64") if key.lower() == java.replace("\\", "/").lower()]
    assert Markers.values() == {}


def test_the_manual_switch_asks_even_when_a_runtime_would_be_found(tmp_path, temp):
    record = tmp_path / "jvm_record.txt"
    home = gf.doubles_runtime("win32", tmp_path / "home", start="marker", wait_ms=500, record=record)
    java = harness.windows_path(home / "bin" / "java.exe")
    forget_located(java)
    try:
        result, log, _ = question_run(tmp_path, temp, "win32", {}, ["once:Locate", f"file:{java}"],
                                      expect=[WIZARD, LOCATE_TITLE], args=["-manual"],
                                      env={"JAVA_HOME": harness.windows_path(home)})

        assert result.returncode == 0, result.describe() + log.text
        assert "LoadDLL (0, (null), 0)" not in log.messages(), log.text  # no search
        assert f"LoadDLL (1, {java}, 1)" in log.messages(), log.text
        assert "starting double: main returns" in record.read_text(encoding="utf-8")
        assert java.replace("\\", "/") in located_keys("32"), located_keys("32")
    finally:
        forget_located(java)
