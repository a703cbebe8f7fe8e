"""The project's Java runtime on the host JVM: the report of both launcher
classes, the ways main ends, the call list (on the host no natives are
registered, so the launcher's natives throw UnsatisfiedLinkError), and the
compiled declarations the launcher relies on, checked with javap against
natives/native_methods.inc."""

from __future__ import annotations

import os
import re
import shutil
import struct
import subprocess
import zipfile

import pytest

import java_runtime as jr
from java_runtime import Long, call

pytestmark = pytest.mark.skipif(shutil.which("java") is None, reason="no host Java runtime (java) installed")

# A UTF-8 locale, so the host JVM passes non-ASCII arguments unchanged.
HOST_ENV = {**os.environ, "LC_ALL": "C.UTF-8"}


@pytest.fixture(scope="module", autouse=True)
def built_jar():
    """Brings the jar up to date with the sources (a no-op when it is)."""
    if shutil.which("javac") is None:
        pytest.skip("no host JDK (javac) to build the Java runtime")
    build = subprocess.run(["bash", str(jr.BUILD_SCRIPT)], capture_output=True, text=True)
    assert build.returncode == 0, build.stdout + build.stderr


def run_host(workdir, args=(), launcher=jr.TOVRIX_LAUNCHER, jvm_options=(), report="report.txt", **params):
    (workdir / jr.PARAMS_FILE).write_text(jr.params_text(report, **params))
    return run_jvm(workdir, args, launcher, jvm_options)


def run_jvm(workdir, args=(), launcher=jr.TOVRIX_LAUNCHER, jvm_options=()):
    return subprocess.run(["java", *jvm_options, "-cp", str(jr.JAR), launcher, *args], cwd=workdir,
                          capture_output=True, text=True, encoding="utf-8", env=HOST_ENV, timeout=60)


@pytest.mark.parametrize("launcher", [jr.TOVRIX_LAUNCHER, jr.KELPA_LAUNCHER])
def test_report_shows_arguments_properties_and_start_facts(tmp_path, launcher):
    args = ["plain", "with space", "", "key=value", "C:\\dir\\file", "two\nlines\r", "tab\tand \u00e9 \u4e2d"]
    proc = run_host(tmp_path, args, launcher, jvm_options=["-Dkelpa.tempDir=C:\\Temp\\e1", "-Dkelpa.isTovrix=true"])
    assert proc.returncode == 0, proc.stderr
    report = jr.read_report(tmp_path / "report.txt")
    assert report.args == args
    assert report["launcher.class"] == launcher
    assert report["params"] == "found"
    assert report.properties["kelpa.tempDir"] == "C:\\Temp\\e1"
    assert report.properties["kelpa.isTovrix"] == "true"
    assert report.properties["kelpa.manualJre"] is None
    assert report.properties["java.class.path"] == str(jr.JAR)
    assert set(report.properties) >= {"kelpa.unextractedPosition", "kelpa.moduleName", "sun.java.command",
                                      "java.library.path", "kelpa.semaphoreName", "kelpa.consoleCodepage",
                                      "user.language", "user.country", "java.version"}
    assert report["cwd"] == os.path.realpath(tmp_path)
    assert report.init_from_launcher == []
    assert report["WinDel.externalExecutable"] is None
    assert report.splash is None
    assert report.calls == []
    assert report["natives.registered"] == "unknown"
    assert report["end"] == "return"
    assert list(report.facts)[-1] == "end"


@pytest.mark.parametrize("end, exit_code, reported", [
    ("return", 0, "return"),
    ("exit:7", 7, "exit:7"),
    ("exit:0", 0, "exit:0"),
    ("throw", 1, "throw"),
    ("exit:seven", 0, "return"),
])
def test_end_modes_write_the_whole_report_first(tmp_path, end, exit_code, reported):
    proc = run_host(tmp_path, ["x"], end=end)
    assert proc.returncode == exit_code, proc.stderr
    report = jr.read_report(tmp_path / "report.txt")
    assert report["end"] == reported
    assert report.args == ["x"]
    # The temporary file of the atomic write is gone.
    assert sorted(os.listdir(tmp_path)) == ["report.txt", jr.PARAMS_FILE]
    if end == "throw":
        assert "java.lang.RuntimeException: requested by test" in proc.stderr
        assert "at com.tovrix.runtime.launcher.WinLauncher.main" in proc.stderr
    if reported != end:
        assert report["params.error"] == 'unknown end value "%s"' % end
    else:
        assert "params.error" not in report


def ule(signature):
    return "java.lang.UnsatisfiedLinkError: '%s'" % signature


def unlinked(value):
    return value.startswith("java.lang.UnsatisfiedLinkError: '") and "win32." in value


TRICKY_TEXT = 'q"b\\c;d,e)\n\u00e9\u4e2d\U0001F600 '

# (call text, outcome kind, expected value or a check of it)
CALLS = [
    # The launcher's natives are declared but unlinked on the host; reaching
    # them proves the arguments were converted to the declared types.
    (call("Registry.keyExists0", 1, "SOFTWARE", 0), "thrown",
     ule("boolean com.tovrix.runtime.installer.platform.win32.Registry.keyExists0(int, java.lang.String, int)")),
    (call("Misc.getPhysicalMemory0"), "thrown", ule("long com.tovrix.runtime.installer.platform.win32.Misc.getPhysicalMemory0()")),
    (call("Misc.terminateProcesses0", [1, 2], True, 5), "thrown", unlinked),
    (call("ShellLink.changeNotify0", bytes([1, 255]), None), "thrown", unlinked),
    (call("Misc.setForegroundWindow0", Long(-1)), "thrown", unlinked),
    (call("Misc.setForegroundWindow0", 5), "thrown", unlinked),
    (call("Misc.getTopLevelWindows0", "com.tovrix.api.windows.WindowInfo", 4), "thrown", unlinked),
    (call("Win32Services.startService0", "svc", ["a", None]), "thrown", unlinked),
    (call("Registry.setValue0", 1, "k", "v", ["a", "b"], 7, 0), "thrown", unlinked),
    # Values made visible through JDK methods.
    ("java.lang.Integer.toHexString(0x80000002)", "result", "80000002"),
    ("java.lang.Integer.toHexString(-0x1)", "result", "ffffffff"),
    ("java.lang.Long.toHexString(0xffffffffffffffffL)", "result", "ffffffffffffffff"),
    ("java.lang.Long.toHexString(-1)", "result", "ffffffffffffffff"),
    (call("java.lang.String.valueOf", TRICKY_TEXT), "result", TRICKY_TEXT),
    ('java.lang.String.valueOf("\\u00e9\\t")', "result", "\u00e9\t"),
    (call("java.util.Arrays.asList", ["a", None]), "result", "[a, null]"),
    ("java.util.Arrays.copyOf({1, 2, 3}, 2)", "result", "[1, 2]"),
    (call("java.util.Objects.isNull", None), "result", "true"),
    (call("java.lang.Boolean.logicalXor", True, False), "result", "true"),
    (call("java.lang.System.getProperty", "tvx.no.such.property"), "result", "null"),
    ("java.lang.Thread.yield()", "result", "void"),
    # Calls that cannot be made.
    ('Registry.keyExists0(1,"x")', "error", lambda v: "with 2 parameters" in v),
    ('Registry.keyExists0(1L,"x",0)', "error", lambda v: v.startswith("arguments do not fit")),
    ("java.lang.Integer.toHexString(-1L)", "error", lambda v: v.startswith("arguments do not fit")),
    ("Nowhere.m()", "error", lambda v: v.startswith("no class com.tovrix.runtime.installer.platform.win32.Nowhere")),
    ('Registry.keyExists0(2147483648,"x",0)', "error", lambda v: v.startswith("bad number 2147483648")),
    ("java.lang.Integer.toHexString(0x123456789)", "error", lambda v: v.startswith("bad number")),
    ('Registry.keyExists0(1,"x",0) extra', "error", lambda v: v.startswith("unexpected text")),
    ('Registry.keyExists0(1,"\\q",0)', "error", lambda v: v.startswith("bad escape")),
    ('Registry.keyExists0(1,"\\u12g4",0)', "error", lambda v: v.startswith("bad \\u escape")),
    ("Registry.keyExists0(1,,0)", "error", lambda v: v.startswith("unexpected ','")),
    ("keyExists0()", "error", lambda v: v.startswith("expected Class.method")),
    ('Registry.keyExists0(1,"unterminated;0)', "error", lambda v: v.startswith("unterminated string")),
]


def test_call_list_outcomes(tmp_path):
    # Blank entries are skipped; the unterminated string, last, takes the rest.
    proc = run_host(tmp_path, natives=" ;; " + " ; ".join(text for text, _, _ in CALLS))
    assert proc.returncode == 0, proc.stderr
    report = jr.read_report(tmp_path / "report.txt")
    assert [c.text for c in report.calls] == [text for text, _, _ in CALLS]
    for (text, kind, expected), got in zip(CALLS, report.calls):
        value = getattr(got, kind)
        assert value is not None, (text, got)
        if callable(expected):
            assert expected(value), (text, got)
        else:
            assert value == expected, text
    assert report["natives.registered"] == "false"


def test_launcher_calls_before_main_are_reported(tmp_path):
    splash = [True, False, "Loading \u00e9", 10, 20, "", 0, -1, "c\\d", 5, 6, "x=y", 7, 8]
    calls = [call("Common.initFromLauncher", True), call("Common.initFromLauncher", False),
             call("com.kelpa.runtime.WinLauncher.initAwtSplashConfig", *splash)]
    proc = run_host(tmp_path, launcher=jr.KELPA_LAUNCHER, natives=calls)
    assert proc.returncode == 0, proc.stderr
    report = jr.read_report(tmp_path / "report.txt")
    assert [c.result for c in report.calls] == ["void"] * 3
    assert report.init_from_launcher == [True, False]
    assert report.splash == [str(v).lower() if isinstance(v, bool) else str(v) for v in splash]
    assert report["splash.calls"] == "1"
    # No native of the launcher was reached.
    assert report["natives.registered"] == "unknown"


def test_print_writes_the_report_to_standard_output(tmp_path):
    proc = run_host(tmp_path, ["a\\b"], print_=True)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout == (tmp_path / "report.txt").read_text(encoding="utf-8")
    assert "arg[0]=a\\\\b\n" in proc.stdout


def test_without_parameter_file_the_defaults_hold(tmp_path):
    proc = run_jvm(tmp_path, ["only"])
    assert proc.returncode == 0, proc.stderr
    report = jr.read_report(tmp_path / "tvxreport.txt")
    assert report["params"] == "missing"
    assert report.args == ["only"]
    assert report["end"] == "return"


def test_unwritable_report_is_named_on_stderr_and_main_still_ends_as_asked(tmp_path):
    proc = run_host(tmp_path, report=str(tmp_path / "no-such-dir" / "r.txt"), end="exit:3")
    assert proc.returncode == 3
    assert "could not write the report" in proc.stderr


# --------------------------------------------------------------------------
# The compiled declarations


def javap_members(classes):
    """{class: {(name, descriptor): modifiers}} from javap; constructors are "<init>"."""
    proc = subprocess.run(["javap", "-p", "-s", "-cp", str(jr.JAR), *classes],
                          capture_output=True, text=True, check=True)
    members, current, pending = {}, None, None
    for line in proc.stdout.splitlines():
        header = re.match(r"^\S.*\b(?:class|interface) (\S+)", line)
        if header:
            current = members.setdefault(header.group(1), {})
        elif line.startswith("    descriptor: "):
            name, modifiers = pending
            current[(name, line.split(": ", 1)[1])] = modifiers
        elif line.startswith("  ") and line.strip():
            words = re.sub(r"\(.*\)", "", line.strip().rstrip(";")).split()
            name = words[-1]
            pending = ("<init>" if name in members and members[name] is current else name, set(words[:-1]))
    return members


def listed_natives():
    source = (jr.REPO_ROOT / "natives" / "native_methods.inc").read_text()
    natives = {}
    for cls, method, signature in re.findall(r'^NATIVE_METHOD\((\w+), (\w+), "([^"]+)"\)', source, re.M):
        natives.setdefault("com.tovrix.runtime.installer.platform.win32." + cls, set()).add((method, signature))
    return natives


EXTRA_MEMBERS = [
    ("com.tovrix.api.windows.WindowInfo", "<init>", "(JILjava/lang/String;Ljava/lang/String;)V", set()),
    ("com.tovrix.api.windows.WinRegistry$ExpandString", "<init>", "(Ljava/lang/String;)V", set()),
    ("com.tovrix.runtime.installer.platform.win32.ObjectPicker$Result", "<init>",
     "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)V", set()),
    ("com.tovrix.runtime.installer.platform.win32.Common", "initFromLauncher", "(Z)V", {"static"}),
    ("com.kelpa.runtime.util.WinDel", "externalExecutable", "Ljava/lang/String;", {"static"}),
    ("com.kelpa.runtime.WinLauncher", "initAwtSplashConfig",
     "(ZZLjava/lang/String;IILjava/lang/String;IILjava/lang/String;IILjava/lang/String;II)V", {"static"}),
    ("com.kelpa.runtime.WinLauncher", "main", "([Ljava/lang/String;)V", {"public", "static"}),
    ("com.tovrix.runtime.launcher.WinLauncher", "main", "([Ljava/lang/String;)V", {"public", "static"}),
]


def test_declarations_match_the_native_list_and_the_launcher_contract():
    if shutil.which("javap") is None:
        pytest.skip("no javap in the host JDK")
    natives = listed_natives()
    assert len(natives) == 15 and sum(len(m) for m in natives.values()) == 79
    members = javap_members(sorted(natives) + sorted({cls for cls, _, _, _ in EXTRA_MEMBERS}))
    for cls, expected in natives.items():
        declared = {key for key, modifiers in members[cls].items() if "native" in modifiers}
        assert declared == expected, cls
        assert all({"static", "native"} <= members[cls][key] for key in expected), cls
    for cls, name, descriptor, modifiers in EXTRA_MEMBERS:
        assert (name, descriptor) in members[cls], (cls, name)
        assert modifiers <= members[cls][(name, descriptor)], (cls, name)


def test_classes_are_java_8_class_files():
    with zipfile.ZipFile(jr.JAR) as jar:
        classes = [n for n in jar.namelist() if n.endswith(".class")]
        assert len(classes) > 20
        for name in classes:
            magic, _minor, major = struct.unpack(">IHH", jar.read(name)[:8])
            assert (magic, major) == (0xCAFEBABE, 52), name
