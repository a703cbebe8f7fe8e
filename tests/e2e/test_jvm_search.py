"""Finding a Java runtime, end to end: installers built with the packer run
quietly under Wine against fake runtime homes (the java.exe and jvm.dll
doubles) and the real 64-bit runtimes of scripts/fetch_java.sh; the launch
log and the located-JVM cache in the registry show what the search did.

A run whose jvm.dll double loads goes on to create the VM, which the double
refuses: the run then ends with exit code 1 ("could not initialize JVM"). A
quiet run without any usable runtime ends with exit code 83.
"""

import pytest

import harness

from java_fixtures import Registry, fake_home, filetime_of, real_runtime, run_search, search_installer

OPENJDK_11 = 'openjdk version "11.0.2" 2019-01-15'


@pytest.fixture(autouse=True)
def forget_cached_homes(tmp_path):
    """The fake homes' cache entries go with their directories."""
    yield
    Registry.forget_cached_under(tmp_path)

NO_RUNTIME_EXIT = 83
VM_REFUSED_EXIT = 1


def test_sample_sequence_finds_the_runtime_named_by_java_home(target, logs, tmp_path):
    home = fake_home(target, tmp_path / "jre", OPENJDK_11)
    exe = search_installer(tmp_path, target)
    run = run_search(target, exe, {"JAVA_HOME": home.windows})

    assert run.result.returncode == VM_REFUSED_EXIT, run.result.describe()
    assert harness.ordered_lines_present(run.search_part(), [
        "Searching for a JVM",
        "MinVersion: 1.8, MaxVersion: ",
        "Testing location  (type Y)",
        "Testing location JAVA_HOME (type E)",
        f"checkJavaExe ({home.windows}\\bin\\java.exe, [out], 2, 0, 0)",
        "got version from execution 11.0.2",
        "checkJavaExe returning 1",
        f"Trying to load JVM-DLL from {home.checked_exe}",
        f"Trying {home.windows.lower()}\\bin\\client\\jvm.dll (exists 1)",
        "JVM source 3 (JAVA_HOME)",
        "Loading of JVM-DLL successful",
        "could not initialize JVM",
    ]), run.log.text
    assert run.count("Testing location JDK_HOME") == 0
    assert Registry.cached(home.checked_exe) == ("11.0.2", filetime_of(home.java_exe))


def test_warm_cache_starts_no_child_process(target, logs, tmp_path):
    home = fake_home(target, tmp_path / "jre", OPENJDK_11)
    exe = search_installer(tmp_path, target)
    cold = run_search(target, exe, {"JAVA_HOME": home.windows})
    assert cold.count("got version from execution 11.0.2") == 1, cold.log.text
    assert home.runs == 1

    logs.clear()
    warm = run_search(target, exe, {"JAVA_HOME": home.windows})
    assert warm.has("got version from registry 11.0.2"), warm.log.text
    assert warm.count("got version from execution") == 0
    assert warm.count("Exit Code") == 0
    assert warm.has("Loading of JVM-DLL successful")
    assert home.runs == 1


@pytest.mark.parametrize("what", ["stale last-write time", "cached 1.7."])
def test_untrusted_cache_entry_runs_the_executable_again(target, logs, tmp_path, what):
    home = fake_home(target, tmp_path / "jre", OPENJDK_11)
    exe = search_installer(tmp_path, target, "EJAVA_HOME")
    actual = filetime_of(home.java_exe)
    if what == "stale last-write time":
        Registry.set_cached(home.checked_exe, "11.0.2", actual - 10_000_000)
    else:
        Registry.set_cached(home.checked_exe, "1.7.", actual)
    assert Registry.cached(home.checked_exe) is not None

    run = run_search(target, exe, {"JAVA_HOME": home.windows})
    assert run.has("got version from execution 11.0.2"), run.log.text
    assert run.count("got version from registry") == 0
    assert home.runs == 1
    assert Registry.cached(home.checked_exe) == ("11.0.2", actual)


def test_preferred_runtime_outside_the_range_is_skipped(target, logs, tmp_path):
    old = fake_home(target, tmp_path / "old", 'java version "1.7.0_80"')
    good = fake_home(target, tmp_path / "good", OPENJDK_11)
    (tmp_path / ".tovrix").mkdir()
    (tmp_path / ".tovrix" / "pref_jre.cfg").write_bytes(old.windows.encode() + b"\r\n")
    exe = search_installer(tmp_path, target)
    run = run_search(target, exe, {"JAVA_HOME": good.windows})

    assert harness.ordered_lines_present(run.search_part(), [
        f"Has preferred location {old.windows}",
        "Using preferred location",
        "got version from execution 1.7.0_80",
        "checkJavaExe returning 0",
        "Testing location JAVA_HOME (type E)",
        f"Trying to load JVM-DLL from {good.checked_exe}",
        "Loading of JVM-DLL successful",
    ]), run.log.text
    assert run.count(f"Trying to load JVM-DLL from {old.checked_exe}") == 0


def test_kelpa_java_home_is_consulted_with_an_empty_sequence(target, logs, tmp_path):
    home = fake_home(target, tmp_path / "jre", OPENJDK_11)
    exe = search_installer(tmp_path, target, "")
    run = run_search(target, exe, {"KELPA_JAVA_HOME": home.windows})
    assert harness.ordered_lines_present(run.search_part(), [
        "Search sequence finished",
        f"Trying to load JVM-DLL from {home.checked_exe}",
        "JVM source 3 (KELPA_JAVA_HOME)",
        "Loading of JVM-DLL successful",
    ]), run.log.text
    assert run.count("Testing location") == 0


def test_without_a_loadable_runtime_the_last_probed_source_is_kept(target, logs, tmp_path):
    located = fake_home(target, tmp_path / "located", OPENJDK_11, variant=None)
    named = fake_home(target, tmp_path / "named", OPENJDK_11, variant=None)
    exe = search_installer(tmp_path, target, f"A{located.windows};EJAVA_HOME;EJDK_HOME")
    run = run_search(target, exe, {"JAVA_HOME": named.windows})

    assert run.result.returncode == NO_RUNTIME_EXIT, run.result.describe()
    assert run.result.stdout.replace(b"\r\n", b"\n") == b"No JRE found. Aborting.\n", run.result.describe()
    assert run.count("Trying to load JVM-DLL from ") == 2
    assert harness.ordered_lines_present(run.search_part(), [
        f"Trying to load JVM-DLL from {located.checked_exe}",
        f"Trying to load JVM-DLL from {named.checked_exe}",
        "Search sequence finished",
        "JVM source 3 (JAVA_HOME)",
        "Could not get DLL-Handle.",
    ]), run.log.text


def test_without_any_runtime_nothing_is_found(target, logs, tmp_path):
    broken = fake_home(target, tmp_path / "broken", OPENJDK_11, exit_code=1)
    exe = search_installer(tmp_path, target, "EJAVA_HOME")
    run = run_search(target, exe, {"JAVA_HOME": broken.windows})
    assert run.result.returncode == NO_RUNTIME_EXIT, run.result.describe()
    assert run.has("No JVM found"), run.log.text
    assert run.count("JVM source") == 0
    # A failed run is cached as "1.0.0" and never trusted.
    assert Registry.cached(broken.checked_exe)[0] == "1.0.0"


def test_real_runtime_version_is_probed(target, logs, tmp_path):
    home = real_runtime(11)
    checked = harness.windows_path(home / "bin" / "java.exe").lower()
    Registry.delete(Registry.cache_key(checked))
    exe = search_installer(tmp_path, target, "EJAVA_HOME")
    run = run_search(target, exe, {"JAVA_HOME": harness.windows_path(home)}, timeout=300)

    assert run.has("Java version: 11.0.13"), run.log.text
    assert run.has("got version from execution 11.0.13")
    assert Registry.cached(checked) == ("11.0.13", filetime_of(home / "bin" / "java.exe"))
    bin_dir = harness.windows_path(home / "bin").lower()
    if target == "win32":
        # A 64-bit jvm.dll cannot load into the 32-bit launcher: error 193
        # (ERROR_BAD_EXE_FORMAT) for each variant, and PATH goes back.
        assert run.has(f"Trying {bin_dir}\\server\\jvm.dll (exists 1)"), run.log.text
        assert run.count("Failed with error code 193") >= 1
        appended = [m for m in run.messages if m.startswith("Setting PATH ") and m.endswith(";" + bin_dir)]
        assert appended, run.log.text
        before = appended[0][len("Setting PATH "):-len(";" + bin_dir)]
        assert run.has(f"Restoring PATH {before}")
        assert run.has("Could not get DLL-Handle.")
        assert run.result.returncode == NO_RUNTIME_EXIT, run.result.describe()
    else:
        assert run.has("Loading of JVM-DLL successful"), run.log.text
        assert run.count("Failed with error code") == 0


def test_real_runtime_warm_cache_loads_without_running_java(target, logs, tmp_path):
    """Java 21 under Wine prints VM warnings before its version line (Wine
    stubs the job-object and processor-group queries); the probe passes over
    such notices and finds the version.  With the version cached, a second
    run starts no child process."""
    home = real_runtime(21)
    java = home / "bin" / "java.exe"
    checked = harness.windows_path(java).lower()
    Registry.delete(Registry.cache_key(checked))
    exe = search_installer(tmp_path, target, "EJAVA_HOME")
    env = {"JAVA_HOME": harness.windows_path(home)}

    cold = run_search(target, exe, env, timeout=300)
    assert cold.has("got version from execution 21.0.8"), cold.log.text
    assert not [m for m in cold.messages if m.startswith("unexpected first line ")]

    Registry.set_cached(checked, "21.0.8", filetime_of(java))
    logs.clear()
    warm = run_search(target, exe, env, timeout=300)
    assert warm.has("got version from registry 21.0.8"), warm.log.text
    assert warm.count("Exit Code") == 0
    if target == "win64":
        assert warm.has("Loading of JVM-DLL successful"), warm.log.text
    else:
        assert warm.count("Failed with error code 193") >= 1, warm.log.text
