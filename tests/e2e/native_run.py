"""One batch of native calls made by real Java code, for the end-to-end tests
of the natives: the 64-bit stub runs the project's Java runtime on the real
Windows Java 11 runtime under Wine, the runtime makes the calls in order and
writes a report, and the test reads each call's result from it.  The checks
from outside use ``wine`` (sc, reg, cmd) and the test programs of tests/tools.
"""

from __future__ import annotations

import shutil
import subprocess
from pathlib import Path

import pytest

import harness
import java_runtime as jr

JAVA_HOME = harness.BUILD_DIR / "java" / "11"
TARGET = "win64"


def require(*tools: str, also: tuple = ()) -> None:
    """Skips the module when Wine, the stub, the jar, the Java runtime, one of
    the named programs of build/win64 or one of the (path, what) pairs of
    `also` is missing."""
    if shutil.which("wine") is None:
        pytest.skip("Wine is not installed (scripts/setup.sh installs it)")
    needed = [(harness.stub_path(TARGET), "the 64-bit stub"), (jr.JAR, "the Java runtime jar"),
              (JAVA_HOME / "bin" / "server" / "jvm.dll", "the Windows Java 11 runtime")]
    needed += [(harness.target_dir(TARGET) / tool, tool) for tool in tools]
    needed += list(also)
    for path, what in needed:
        if not path.exists():
            pytest.skip(f"{what} is missing: {path}")


def tool(name: str) -> Path:
    return harness.target_dir(TARGET) / name


def wine(args, check: bool = True, timeout: float = 60) -> subprocess.CompletedProcess:
    """A Wine program of the session (its display, its wineserver)."""
    done = subprocess.run(["wine", *map(str, args)], env=harness.wine_env(None, harness.session_display()),
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
    if check:
        assert done.returncode == 0, (args, done.stdout, done.stderr)
    return done


class NativeRun:
    """The outcome of one Java run: results by call name, and the stub's
    standard output (where natives print their diagnostics)."""

    def __init__(self, report: jr.Report, names: list, stdout: bytes):
        self.report = report
        self.calls = dict(zip(names, report.calls))
        self.stdout = stdout.decode("utf-8", "replace")

    def result(self, name: str) -> str:
        outcome = self.calls[name]
        assert outcome.thrown is None and outcome.error is None, (outcome.text[:200], outcome.thrown, outcome.error)
        return outcome.result


def run_calls(work: Path, calls: dict, timeout: float = 180) -> NativeRun:
    """Makes the calls (name -> text made by java_runtime.call) in order in
    one run of the 64-bit stub and returns what each gave."""
    work.mkdir(parents=True, exist_ok=True)
    report_path = work / "report.txt"
    params = jr.params_text(harness.windows_path(report_path), end="exit:0", natives=list(calls.values()))
    installer = harness.build_installer(
        work, TARGET, {"integrity_check": True,
                       "config": {"107": "0", "2001": "i", "122": "x", "128": "EJAVA_HOME;", "126": "1.8"}},
        files={"tvxruntime.jar": jr.JAR.read_bytes(), jr.PARAMS_FILE: params.encode("utf-8")})
    done = harness.run(TARGET, installer, ["-q"], env={"JAVA_HOME": harness.windows_path(JAVA_HOME)},
                       timeout=timeout)
    assert done.returncode == 0, done.describe()
    report = jr.read_report(report_path)
    assert report["natives.registered"] == "true"
    return NativeRun(report, list(calls), done.stdout)


def remove_start_up_marker(run: NativeRun | None) -> None:
    """Removes the per-process start-up marker the Java side wrote."""
    if run is not None and "startup.marker.name" in run.report:
        wine(["reg", "delete", "HKCU\\SOFTWARE\\quillmoor\\kelpa", "/v", run.report["startup.marker.name"], "/f"],
             check=False)
