"""The in-process JVM start, end to end: installers carrying the project's
Java runtime (build/host/tvxruntime.jar) and its parameter file run under Wine
with JAVA_HOME naming the runtime home (search sequence "EJAVA_HOME;").

* 64-bit: the real Windows Java 11 runtime (build/java/11). The report the
  Java side writes shows what main, the system properties and the natives got.
* 32-bit: no 32-bit Windows JVM exists here, so the home holds the test
  doubles: java.exe (tests/doubles) and the recording jvm.dll built from the
  JNI test double (tests/jni_double), configured by jvm_double.cfg beside it.
  Its record lists the VM options and every JNI call the launcher made.
"""

from __future__ import annotations

import json
import re
import shutil
from pathlib import Path

import pytest

import harness
import java_runtime as jr

NATIVE_PACKAGE = "com/tovrix/runtime/installer/platform/win32"
TOVRIX_LAUNCHER = "com/tovrix/runtime/launcher/WinLauncher"
MAIN_SIGNATURE = "([Ljava/lang/String;)V"
MESSAGE_1005 = ("The JVM could not be started. The maximum heap size (-Xmx) might be too large or an antivirus "
                "or firewall tool could block the execution.")
SEARCH_VARIABLES = ("JAVA_HOME", "JDK_HOME", "KELPA_JAVA_HOME", "TOVRIX_JAVA_HOME", "_JAVA_OPTIONS")
OPENJDK_11 = 'openjdk version "11.0.2" 2019-01-15'

pytestmark = pytest.mark.skipif(shutil.which("wine") is None,
                                reason="Wine is not installed (scripts/setup.sh installs it)")


def native_classes() -> list:
    """The native classes in registration order, from the one list of natives."""
    text = (harness.REPO_ROOT / "natives" / "native_methods.inc").read_text()
    return [NATIVE_PACKAGE + "/" + name for name in re.findall(r"^NATIVE_CLASS\((\w+)\)", text, re.M)]


def native_count() -> int:
    text = (harness.REPO_ROOT / "natives" / "native_methods.inc").read_text()
    return len(re.findall(r"^NATIVE_METHOD\(", text, re.M))


# --------------------------------------------------------------------------
# Runtime homes and runs


def real_home() -> Path:
    home = harness.BUILD_DIR / "java" / "11"
    if not (home / "bin" / "server" / "jvm.dll").exists():
        pytest.skip(f"no real Java 11 runtime in {home} (scripts/fetch_java.sh fetches it)")
    return home


def double_home(path: Path, config: str = "") -> Path:
    """A 32-bit runtime home of test doubles; the jvm.dll double records into
    <home>/record.txt and reads `config` lines besides."""
    doubles = harness.target_dir("win32") / "doubles"
    java, jvm = doubles / "java.exe", doubles / "jvm_double" / "jvm.dll"
    if not java.exists() or not jvm.exists():
        pytest.skip(f"the Java runtime doubles are not built in {doubles}")
    (path / "bin" / "client").mkdir(parents=True)
    shutil.copyfile(java, path / "bin" / "java.exe")
    (path / "bin" / "java.cfg").write_text(f"line={OPENJDK_11}\r\nexit=0\r\n", encoding="latin-1")
    shutil.copyfile(jvm, path / "bin" / "client" / "jvm.dll")
    (path / "bin" / "client" / "jvm_double.cfg").write_text("record=..\\..\\record.txt\n" + config, encoding="utf-8")
    return path


def installer(tmp_path: Path, target: str, config: dict | None = None, end: str = "return",
              natives=None, jar: bytes | None = None) -> Path:
    if not harness.stub_path(target).exists():
        pytest.skip(f"the launcher stub is not built: {harness.stub_path(target)}")
    if jar is None:
        if not jr.JAR.exists():
            pytest.skip(f"the Java runtime is not built ({jr.JAR}; java/build.sh builds it)")
        jar = jr.JAR.read_bytes()
    params = jr.params_text(harness.windows_path(tmp_path / "report.txt"), end=end, natives=natives)
    values = {"126": "1.8", "128": "EJAVA_HOME;", **(config or {})}
    return harness.build_installer(tmp_path, target, {"config": values},
                                   files={"tvxruntime.jar": jar, "tvxparams.conf": params.encode()})


class Run:
    def __init__(self, exe: Path, home: Path, result: harness.RunResult):
        self.exe = exe
        self.home = home
        self.result = result
        self.log = harness.LogDir.for_executable(exe)
        assert self.log is not None, f"no launch log of {exe}\n{result.describe()}"
        self.messages = self.log.messages()

    def has(self, line: str) -> bool:
        return line in self.messages

    def after(self, prefix: str) -> list:
        """The rest of every log line that starts with `prefix`, in order."""
        return [line[len(prefix):] for line in self.messages if line.startswith(prefix)]

    def numbered(self, word: str) -> list:
        """The texts of the log lines "<word> <i>: <text>", which must count up from 0."""
        found = [m for m in (re.fullmatch(word + r" (\d+): (.*)", line) for line in self.messages) if m]
        assert [int(m.group(1)) for m in found] == list(range(len(found))), self.log.text
        return [m.group(2) for m in found]

    @property
    def report(self) -> jr.Report:
        path = self.exe.parent / "report.txt"
        assert path.exists(), f"main wrote no report\n{self.result.describe()}\n{self.log.text}"
        return jr.read_report(path)

    @property
    def record(self) -> list:
        return (self.home / "record.txt").read_text(encoding="utf-8").splitlines()

    def console_message(self) -> str:
        """The error text on standard error, before its "Log: " reference (the
        VM may write its own lines before and after it)."""
        text = self.result.stderr.decode("cp1252").replace("\r\n", "\n")
        match = re.search(r"([^\n]*)\n\nLog: ([^\n]+)\n", text)
        assert match, self.result.describe()
        assert match.group(2).lower() == harness.LogDir.windows_path_of(self.log).lower()
        return match.group(1)


def launch(target: str, exe: Path, home: Path, args=("-q",)) -> Run:
    env = {name: None for name in SEARCH_VARIABLES}
    env.update(JAVA_HOME=harness.windows_path(home), TOVRIX_LOG="yes")
    return Run(exe, home, harness.run(target, exe, list(args), env=env, timeout=90))


def texts(line: str) -> list:
    """The quoted texts of a record line, unescaped."""
    return [json.loads(text) for text in re.findall(r'"(?:[^"\\]|\\.)*"', line)]


CALL = re.compile(r'^CallStatic\w+ ("(?:[^"\\]|\\.)*") ("(?:[^"\\]|\\.)*") "(?:[^"\\]|\\.)*" (\(.*\))(?: -> .*)?$')


def calls(record: list, method: str) -> list:
    """The record's static calls of `method`: (class, argument text) each."""
    matches = (CALL.match(line) for line in record)
    return [(json.loads(m.group(1)), m.group(3)) for m in matches if m and json.loads(m.group(2)) == method]


# --------------------------------------------------------------------------
# 64-bit, real runtime


def test_real_runtime_main_gets_the_words_properties_and_natives(logs, tmp_path):
    home = real_home()
    exe = installer(tmp_path, "win64", {"122": "com.example.Main", "124": '"configured arg" second', "125": "1"},
                    natives=[jr.call("Registry.keyExists0", 1, "SOFTWARE", 0)])
    args = ["-q", "-J-Xmx80m", "plain", "-Dsun.locale.formatasdefault=true", "with space", "-switch", "x=\u00e9"]
    run = launch("win64", exe, home, args)

    assert run.result.returncode == 0, run.result.describe() + run.log.text
    report = run.report
    word0 = report.args[5]
    assert word0.lower().endswith("\\installer.exe"), word0
    assert report.args == ["false", "com.example.Main", "", "", "false", word0, "configured arg", "second",
                           "-q", "plain", "with space", "-switch", "x=\u00e9"]
    assert report.args == run.numbered("param")
    assert "-Xmx80m" in run.numbered("vmoption")

    props = report.properties
    assert props["kelpa.tempDir"] == report["cwd"]
    layout = harness.BlockLayout.read(exe)
    _, data_at, size = layout.payload_files[-1]
    assert props["kelpa.unextractedPosition"] == str(data_at + size)
    assert props["kelpa.moduleName"] == harness.windows_path(exe)
    assert props["sun.java.command"] == harness.windows_path(exe)
    assert harness.windows_path(home / "bin").lower() in props["java.library.path"].lower().split(";")
    assert props["kelpa.isTovrix"] == "true"
    assert props["java.class.path"] == report["cwd"] + "\\tvxruntime.jar"

    assert report.init_from_launcher == [True]
    assert report["WinDel.externalExecutable"] == harness.windows_path(exe)
    assert report.calls[0].thrown is None and report.calls[0].error is None, report.calls
    assert report["natives.registered"] == "true"
    assert harness.ordered_lines_present("\n".join(run.messages), ["calling main", "main returned", "dest JVM",
                                                                   "launch done"]), run.log.text


def test_real_runtime_exception_escaping_main_shows_1005_on_the_console(logs, tmp_path):
    home = real_home()
    exe = installer(tmp_path, "win64", {"107": "0"}, end="throw")
    run = launch("win64", exe, home)

    assert run.result.returncode == 1, run.result.describe()
    assert run.console_message() == MESSAGE_1005
    assert "java.lang.RuntimeException: requested by test" in run.result.stderr.decode("cp1252")  # described by the VM
    assert run.report["end"] == "throw"
    assert harness.ordered_lines_present("\n".join(run.messages), [
        "main returned", "ERROR: an exception occurred", "ERROR: java.lang.RuntimeException: requested by test",
        "could not call main", "ERROR: Could not start JVM"]), run.log.text
    assert not run.has("dest JVM")


def test_real_runtime_system_exit_ends_the_process_with_its_code(logs, tmp_path):
    home = real_home()
    exe = installer(tmp_path, "win64", end="exit:7")
    run = launch("win64", exe, home)

    assert run.result.returncode == 7, run.result.describe()
    assert run.report["end"] == "exit:7"
    assert run.has("calling main") and not run.has("main returned"), run.log.text


# Only "i" is the installer launcher; every other program kind, an empty or an
# unknown one included, starts the kelpa class without natives.
@pytest.mark.parametrize("kind", ["e", "", "x"], ids=["application", "empty", "unknown"])
def test_real_runtime_other_kinds_set_the_helper_path_without_registration(logs, tmp_path, kind):
    home = real_home()
    exe = installer(tmp_path, "win64", {"2001": kind})
    run = launch("win64", exe, home)

    assert run.result.returncode == 0, run.result.describe() + run.log.text
    assert run.has("main class: com/kelpa/runtime/WinLauncher"), run.log.text
    assert not run.has("load helper dll")
    report = run.report
    assert report["launcher.class"] == "com.kelpa.runtime.WinLauncher"
    assert report.init_from_launcher == []
    assert report["WinDel.externalExecutable"] == harness.windows_path(exe)
    assert report.properties["kelpa.moduleName"] == harness.windows_path(exe)
    assert report.properties["kelpa.isTovrix"] is None


# A language restart runs in the earlier run's extraction directory (the
# current directory).  When that directory is complete it is reused and the
# Java side learns -1 as the position of its data; when files are missing the
# payload is extracted again and the real position is passed.
@pytest.mark.parametrize("earlier_files, reused", [(("tvxruntime.jar", "tvxparams.conf"), True),
                                                   (("tvxruntime.jar",), False)],
                         ids=["earlier files complete", "tvxparams.conf missing"])
def test_real_runtime_language_restart_passes_the_data_position(logs, tmp_path, monkeypatch, earlier_files, reused):
    home = real_home()
    exe = installer(tmp_path, "win64")
    earlier = tmp_path / "earlier"
    earlier.mkdir()
    params = jr.params_text(harness.windows_path(tmp_path / "report.txt"), end="return", natives=None)
    contents = {"tvxruntime.jar": jr.JAR.read_bytes(), "tvxparams.conf": params.encode()}
    for name in earlier_files:
        (earlier / name).write_bytes(contents[name])
    monkeypatch.chdir(earlier)  # Wine starts the program in the caller's directory
    run = launch("win64", exe, home, ["__tvx_lang_restart"])

    assert run.result.returncode == 0, run.result.describe() + run.log.text
    props = run.report.properties
    if reused:
        assert props["kelpa.unextractedPosition"] == "-1"
        assert props["kelpa.tempDir"] == harness.windows_path(earlier)
    else:
        assert run.has("could not find tvxparams.conf"), run.log.text
        _, data_at, size = harness.BlockLayout.read(exe).payload_files[-1]
        assert props["kelpa.unextractedPosition"] == str(data_at + size)
        assert props["kelpa.tempDir"] != harness.windows_path(earlier)


def test_real_runtime_without_the_launcher_class_shows_1010(logs, tmp_path):
    home = real_home()
    empty_jar = b"PK\x05\x06" + bytes(18)
    exe = installer(tmp_path, "win64", {"107": "0"}, jar=empty_jar)
    run = launch("win64", exe, home)

    assert run.result.returncode == 1, run.result.describe()
    assert run.console_message() == "Couldn't load main class."
    assert run.has(f"main class: {TOVRIX_LAUNCHER}")
    assert run.has("ERROR: could not find main class"), run.log.text
    assert run.has(f"did not find {NATIVE_PACKAGE}/Common")  # nothing to register with either


# --------------------------------------------------------------------------
# 32-bit, the jvm.dll test double


def test_double_records_what_the_launcher_logs(logs, tmp_path):
    home = double_home(tmp_path / "jre")
    exe = installer(tmp_path, "win32")
    # The log switch after another word is not the switch: it stays a word.
    run = launch("win32", exe, home, ["-q", "-create-tvx-log", "alpha", "with space"])
    record = run.record

    assert run.result.returncode == 0, run.result.describe() + run.log.text
    assert [line for line in record if re.match(r"(error|warning|unexpected) ", line)] == []
    assert record[0].startswith("config ")
    assert record[1].startswith("JNI_CreateJavaVM version=0x00010002 ")
    options = [texts(line)[0] for line in record if line.startswith("option ")]
    assert options == run.numbered("vmoption")

    classes = native_classes()
    registered = [texts(line)[0] for line in record if line.startswith("RegisterNatives ")]
    assert registered == classes
    assert all(line.endswith(" -> 0") for line in record if line.startswith("RegisterNatives "))
    assert len([line for line in record if line.startswith("native ")]) == native_count()

    init = calls(record, "initFromLauncher")
    assert init == [(f"{NATIVE_PACKAGE}/Common", "(true)")]
    assert record.index(next(line for line in record if "initFromLauncher" in line)) < \
        record.index(next(line for line in record if line.startswith("RegisterNatives ")))
    windel = [texts(line) for line in record if line.startswith("SetStaticObjectField ")]
    assert windel == [["com/kelpa/runtime/util/WinDel", "externalExecutable", harness.windows_path(exe)]]
    (module_name,) = run.after("setting kelpa.moduleName to ")
    assert [texts(line)[3:] for line in record if line.startswith("CallStaticObjectMethod ")] == \
        [["kelpa.moduleName", module_name]]

    (main,) = [texts(line) for line in record if '"main"' in line and line.startswith("CallStatic")]
    assert main[:3] == [TOVRIX_LAUNCHER, "main", MAIN_SIGNATURE]
    assert main[3:] == run.numbered("param")
    assert main[-4:] == ["-q", "-create-tvx-log", "alpha", "with space"]
    assert record[-2:] == ["ExceptionOccurred -> null", "DestroyJavaVM"]
    assert harness.ordered_lines_present("\n".join(run.messages), ["dest JVM", "launch done"])


@pytest.fixture(scope="module")
def missing_native_class(tmp_path_factory):
    """One run whose double lacks the native class Registry."""
    tmp_path = tmp_path_factory.mktemp("missing_native_class")
    home = double_home(tmp_path / "jre", f"fail=findclass:{NATIVE_PACKAGE}/Registry\n")
    exe = installer(tmp_path, "win32")
    harness.LogDir.clear()
    return launch("win32", exe, home)


def test_double_missing_native_class_stops_registration(missing_native_class):
    run = missing_native_class
    record = run.record
    classes = native_classes()
    registry = classes.index(f"{NATIVE_PACKAGE}/Registry")

    assert run.has(f"ERROR: could not load class {NATIVE_PACKAGE}/Registry"), run.log.text
    assert run.has("registering helper dll failed")
    assert [texts(line)[0] for line in record if line.startswith("RegisterNatives ")] == classes[:registry]
    assert not [line for line in record if any(f'"{later}"' in line for later in classes[registry + 1:])]
    assert calls(record, "initFromLauncher") == [(f"{NATIVE_PACKAGE}/Common", "(true)"),
                                                 (f"{NATIVE_PACKAGE}/Common", "(false)")]
    assert any('"main"' in line for line in record if line.startswith("CallStatic")), "main is still called"


def test_double_missing_native_class_lets_the_start_continue(missing_native_class):
    run = missing_native_class
    assert run.result.returncode == 0, run.result.describe() + run.log.text
    assert not run.has("ERROR: an exception occurred")


@pytest.mark.parametrize("step, logged, message", [
    ("create", "could not initialize JVM", MESSAGE_1005),
    (f"findclass:{TOVRIX_LAUNCHER}", "ERROR: could not find main class", "Couldn't load main class."),
    ("method:main", "ERROR: could not find main method", "Main method not found."),
], ids=["VM refused", "no launcher class", "no main"])
def test_double_failed_step_ends_with_its_message(logs, tmp_path, step, logged, message):
    home = double_home(tmp_path / "jre", f"fail={step}\n")
    exe = installer(tmp_path, "win32", {"107": "0"})
    run = launch("win32", exe, home)

    assert run.result.returncode == 1, run.result.describe()
    assert run.console_message() == message
    assert run.has(logged), run.log.text
    assert "DestroyJavaVM" not in run.record
    assert not any(line.startswith("CallStatic") and '"main"' in line for line in run.record)


def test_double_missing_export():
    pytest.skip("a stub without one of its natives' exports cannot be built from the real stub; "
                "tests/jni_double/registration_test.cpp covers it with a module that lacks one export")
