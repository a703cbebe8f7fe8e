"""Helpers of the extraction and temporary-base tests.

Every run of these tests happens in ``IsolatedPrefix``: a bash in a private
mount namespace (``unshare -m``) holding a copy-on-write view (overlayfs) of
the project's prefix (build/wineprefix, which no Wine session uses while the
xdist workers run in their own copies) with its own wineserver. So the runs
neither write into any prefix nor depend on another session's wineserver;
and the namespace can make directories of drive C read-only or map a tiny
tmpfs as a drive for a while. One namespace serves the whole session of a
process (``isolated``; each xdist worker has its own), with its own Xvfb; the
mounts, the overlay and the wineserver end with it.

* ``Runner`` runs the installers of one test: with the Windows temporary
  directory (TMP, TEMP) pointed at a directory of the test, so the launch log
  and the extraction directory lie where the test can read them; with a
  chosen current directory; and with a test-double Java runtime
  (``fake_java_home``): after extraction the flow looks for a Java runtime,
  and with the double it finds one whose jvm.dll refuses to create a VM,
  which ends every run that gets that far with the fatal error 1005 (exit
  code 1) and lets extract-and-exit write "unextracted.txt".
* Wine rebuilds TMP, TEMP, USERPROFILE, HOMEDRIVE and HOMEPATH from the
  prefix's registry when a program starts from Linux, so such values are set
  by a Windows parent (``cmd /c "set NAME=value&& program ..."``), whose
  environment the program inherits.
* ``dump`` reads the packer's ``--dump`` of an installer; ``candidates`` and
  friends read what the launch log says about the temporary base and the
  extraction directory.
"""

from __future__ import annotations

import contextlib
import dataclasses
import os
import re
import select
import shlex
import shutil
import subprocess
import tempfile
import time
from pathlib import Path, PureWindowsPath
from typing import Iterator, Mapping, Sequence

import pytest

import harness

# Texts the packer writes by default.
NO_DISK_SPACE = "Not Enough Disk Space"
CORRUPTED = "The installation file is corrupted. If it is a download please try it again."
WIZARD_CAPTION = "tovrix Wizard"
ERROR_CAPTION = "Error"
POWERUSER = "You must be at least Poweruser to run this program."
JVM_NOT_STARTED = ("The JVM could not be started. The maximum heap size (-Xmx) might be too large or an antivirus "
                   "or firewall tool could block the execution.")


def internal_error(code: str) -> str:
    return f"An internal error occurred (error code: {code})"


# A Windows path no candidate can use: drive Q: is not mapped in any prefix.
UNUSABLE = "Q:\\nope"


# --------------------------------------------------------------------------
# Installers and the packer's view of them


@dataclasses.dataclass
class Dump:
    payload: list  # of (name, offset of the size field, size)
    unextracted_position: int
    file_length: int


def dump(exe: Path) -> Dump:
    done = subprocess.run([str(harness.tvxpack_path()), "--dump", str(exe)], capture_output=True, text=True,
                          timeout=60, check=True)
    payload = [(m.group(1).replace("\\\\", "\\"), int(m.group(2)), int(m.group(3)))
               for m in re.finditer(r'^payload\[\d+\] "(.*)": offset (\d+) size (-?\d+)$', done.stdout, re.M)]
    position = int(re.search(r"^unextractedPosition: (\d+)$", done.stdout, re.M).group(1))
    length = int(re.search(r"^file_length: (\d+)$", done.stdout, re.M).group(1))
    return Dump(payload, position, length)


def installer(tmp_path: Path, target: str, files: Mapping[str, bytes], config: Mapping[str, str] | None = None,
              java_data: bytes | None = None, name: str = "installer.exe") -> Path:
    """An installer with the payload `files` (in order) and console output
    (id 107 "0") unless `config` says otherwise. The payload names are taken
    as they are: the files are packed from neutral source names, so names the
    file system cannot hold ("..\\x", "C:\\x") are possible."""
    source_dir = tmp_path / (Path(name).stem + "_payload")
    source_dir.mkdir(parents=True, exist_ok=True)
    payload = []
    for index, (payload_name, content) in enumerate(files.items()):
        source = source_dir / f"file{index}"
        source.write_bytes(content)
        payload.append({"name": payload_name, "source": str(source)})
    manifest = {"payload": payload, "config": {"107": "0", **(config or {})}}
    if java_data is not None:
        (source_dir / "java_data").write_bytes(java_data)
        manifest["java_data"] = str(source_dir / "java_data")
    return harness.build_installer(tmp_path, target, manifest=manifest, name=name)


def tree(directory: Path) -> dict:
    """{relative name with backslashes: bytes, or None for a directory}."""
    result = {}
    for path in sorted(directory.rglob("*")):
        name = str(path.relative_to(directory)).replace("/", "\\")
        result[name] = None if path.is_dir() else path.read_bytes()
    return result


# --------------------------------------------------------------------------
# The launch log


def log_in(directory: Path, exe: Path) -> harness.LaunchLog | None:
    """The newest launch log of `exe` in a directory."""
    wanted = f"Started executable {harness.windows_path(exe)} at ".lower()
    found = []
    for path in directory.glob("tvx_nlog_*.log"):
        raw = path.read_bytes()
        if raw.decode("utf-8-sig", errors="replace").split("\n", 1)[0].lower().startswith(wanted):
            found.append(harness.LaunchLog(path, raw))
    return max(found, key=lambda log: (log.path.stat().st_mtime_ns, log.number), default=None)


def first(log: harness.LaunchLog, pattern: str) -> str | None:
    """Group 1 of the first log line matching `pattern`, or None."""
    found = log.find(pattern)
    return found[0].group(1) if found else None


def extraction_directory(log: harness.LaunchLog) -> str:
    """The extraction directory the run created ("Temp dir3: ...")."""
    found = log.find(r"^Temp dir3: (.*)$")
    assert len(found) == 1, log.text
    return found[0].group(1)


def candidates(log: harness.LaunchLog) -> list:
    """(directory, source, usable) for each probed temporary base candidate."""
    return [(m.group(1), m.group(2), m.group(3) == "usable")
            for m in log.find(r"^temp dir candidate (.*?) \((.*)\): (usable|not usable)$")]


# --------------------------------------------------------------------------
# A private mount namespace with its own view of the prefix


def _windows_word(word: str) -> str:
    # Wine quotes cmd's command text as one argument, escaping quotes and a
    # final backslash with a backslash, and cmd passes both on unchanged:
    # words that need quotes or end with a backslash cannot go through it.
    if word == "" or word.endswith("\\") or any(c in word for c in ' "&|<>^()'):
        raise ValueError(f"{word!r} cannot be passed through cmd /c")
    return word


def _command(target: str, exe: Path, args: Sequence[str], windows_env: Mapping[str, str] | None,
             record: Path | None) -> list:
    program = [harness.windows_path(exe), *args]
    if record is not None:
        program = [harness.windows_path(harness.watcher_path(target)), "--out", harness.windows_path(record),
                   "--timeout", "20000", "--no-window-ok", "--", *program]
    if not windows_env:
        return program
    sets = "".join(f"set {name}={value}&& " for name, value in windows_env.items())
    return ["cmd", "/c", sets + " ".join(_windows_word(word) for word in program)]


class IsolatedPrefix:
    """A bash in a private mount namespace with a copy-on-write view of the
    project's prefix at `root`/prefix and its own wineserver.

    The prefix is never copied: an overlay puts `root`/upper over it, so
    whatever Wine writes lands there, and files Wine creates on drive C are
    read from outside through `host_path`. Commands run one at a time; every
    Wine command is bounded by a timeout inside the namespace, so the shell
    never blocks and `close` can always stop the namespace's wineserver
    (after which the namespace, its mounts and the overlay go away)."""

    def __init__(self, root: Path, display: str) -> None:
        if shutil.which("unshare") is None:
            raise RuntimeError("unshare is not installed")
        self.root = root
        self.prefix = root / "prefix"
        self.upper = root / "upper"
        for name in ("prefix", "upper", "work", "out"):
            (root / name).mkdir(parents=True, exist_ok=True)
        env = harness.wine_env(None, display)
        env["WINEPREFIX"] = str(self.prefix)
        self._process = subprocess.Popen(
            ["unshare", "--mount", "--propagation", "private", "bash", "--noprofile", "--norc"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env,
            start_new_session=True)
        self._count = 0
        try:
            self.shell(f"mount -t overlay overlay -o lowerdir={shlex.quote(str(harness.BASE_PREFIX))},"
                       f"upperdir={shlex.quote(str(self.upper))},workdir={shlex.quote(str(root / 'work'))} "
                       f"{shlex.quote(str(self.prefix))}", check=True)
            self._start_session()
        except BaseException:
            self.close()
            raise

    def _start_session(self) -> None:
        """One Wine session for the namespace's lifetime: a persistent
        wineserver, whose system processes (services, the device host, the
        desktop) a first program starts now with its output in a session log.
        Those processes keep the Unix standard error of the program that
        started them; started by a test's run, a later crash of one of them
        printed into that run's captured error output (seen under load:
        winedevice.exe faulting in ntoskrnl.exe), and a session that ended
        between two runs was started again, output and all, by the next."""
        with harness.session_warm_up() as warm_up:
            log = shlex.quote(str(self.root / "session.log"))
            self.shell(f"wineserver -p && timeout 60 wine {' '.join(shlex.quote(word) for word in warm_up)} "
                       f">>{log} 2>&1", check=True, timeout=90)

    def shell(self, command: str, check: bool = False, timeout: float = 120) -> tuple[int, str]:
        """Runs a bash command inside; returns its exit code and output."""
        self._count += 1
        out = self.root / "out" / f"{self._count}.txt"
        marker = f"__done_{self._count}__"
        self._process.stdin.write(f"( {command} ) >{shlex.quote(str(out))} 2>&1 </dev/null; "
                                  f"echo {marker} $?\n".encode())
        self._process.stdin.flush()
        deadline = time.monotonic() + timeout
        buffer = b""
        while True:
            match = re.search(rb"%s (\d+)\n" % marker.encode(), buffer)
            if match:
                break
            left = deadline - time.monotonic()
            if left <= 0:
                raise subprocess.TimeoutExpired(command, timeout)
            ready, _, _ = select.select([self._process.stdout], [], [], left)
            if ready:
                chunk = os.read(self._process.stdout.fileno(), 4096)
                if not chunk:
                    raise RuntimeError(f"the namespace shell ended: {buffer!r}")
                buffer += chunk
        output = out.read_text(errors="replace") if out.exists() else ""
        out.unlink(missing_ok=True)
        code = int(match.group(1))
        if check and code != 0:
            raise RuntimeError(f"{command!r} failed ({code}): {output}")
        return code, output

    def host_path(self, windows: str) -> Path:
        """Where the host sees a Windows path on drive Z, or a file Wine
        created (or changed) on drive C of this prefix."""
        path = PureWindowsPath(windows)
        rest = list(path.parts[1:])
        if path.drive.lower() == "z:":
            return Path("/", *rest)
        if path.drive.lower() == "c:":
            return Path(self.upper, "drive_c", *rest)
        raise ValueError(f"no host path for {windows!r}")

    @contextlib.contextmanager
    def read_only(self, *drive_c_paths: str) -> Iterator[None]:
        """Makes directories of drive C read-only for a while (missing ones
        are created first and removed again)."""
        mounted, created = [], []
        try:
            for name in drive_c_paths:
                path = shlex.quote(str(self.prefix / "drive_c" / name))
                code, _ = self.shell(f"test -d {path}")
                if code != 0:
                    self.shell(f"mkdir {path}", check=True)
                    created.append(path)
                self.shell(f"mount --bind {path} {path} && mount -o remount,bind,ro {path}", check=True)
                mounted.append(path)
            yield
        finally:
            for path in reversed(mounted):
                self.shell(f"umount -l {path}")
            for path in created:
                self.shell(f"rmdir {path}")

    @contextlib.contextmanager
    def tmpfs_drive(self, letter: str, size: str) -> Iterator[Path]:
        """Maps a new tmpfs of `size` bytes ("64k") as drive `letter` for a
        while; yields its mount point."""
        self._count += 1
        mount_point = self.root / f"drive_{letter}_{self._count}"
        mount_point.mkdir()
        link = shlex.quote(str(self.prefix / "dosdevices" / f"{letter.lower()}:"))
        quoted = shlex.quote(str(mount_point))
        self.shell(f"mount -t tmpfs -o size={size} tmpfs {quoted}", check=True)
        try:
            self.shell(f"ln -sfn {quoted} {link}", check=True)
            yield mount_point
        finally:
            self.shell(f"rm -f {link}; umount -l {quoted}")

    def windows_temp(self) -> str:
        """The prefix's own Windows temporary directory (no trailing backslash)."""
        if not hasattr(self, "_windows_temp"):
            _, output = self.shell("timeout 60 wine cmd /c echo %TEMP%", check=True)
            self._windows_temp = output.strip().rstrip("\\")
        return self._windows_temp

    def listing(self, path: Path) -> list:
        """The names in a directory as the namespace sees it."""
        _, output = self.shell(f"ls -A {shlex.quote(str(path))}", check=True)
        return sorted(output.split())

    def launch(self, target: str, exe: Path, args: Sequence[str] = (), env: Mapping | None = None,
               windows_env: Mapping[str, str] | None = None, cwd: Path | None = None, watch: bool = False,
               timeout: float = 60) -> harness.RunResult:
        """Runs `exe` on the session's display. `env` extends the Linux
        environment, `windows_env` sets Windows variables through cmd (an
        empty value removes one), `watch` runs it through the dialog watcher
        (windows are recorded and answered with their default button; a run
        without window is fine)."""
        record = None
        if watch:
            fd, name = tempfile.mkstemp(prefix="watch_", suffix=".txt")
            os.close(fd)
            record = Path(name)
        command = _command(target, exe, args, windows_env, record)
        out, err = self.root / "out" / "stdout", self.root / "out" / "stderr"
        assignments = " ".join(f"{name}={shlex.quote(value)}" for name, value in (env or {}).items())
        directory = f"cd {shlex.quote(str(cwd))} && " if cwd else ""
        code, _ = self.shell(f"{directory}env {assignments} timeout -k 5 {int(timeout)} wine "
                             f"{' '.join(shlex.quote(word) for word in command)} "
                             f">{shlex.quote(str(out))} 2>{shlex.quote(str(err))}", timeout=timeout + 30)
        stdout, stderr = out.read_bytes(), err.read_bytes()
        if record is None:
            return harness.RunResult(code, stdout, stderr)
        text = record.read_bytes().decode("utf-8") if record.exists() else ""
        record.unlink(missing_ok=True)
        windows, no_window = harness.parse_record(text)
        harness.note_start_retries(exe, text)
        stdout = re.sub(rb"exit code: -?\d+[^\n]*\r?\n?\Z", b"", stdout)
        return harness.RunResult(code, stdout, stderr, windows, no_window, text)

    def close(self) -> None:
        """Stops the namespace's wineserver and leaves the namespace."""
        if self._process.poll() is None:
            try:
                self.shell("wineserver -k; wineserver -w", timeout=60)
                self._process.stdin.write(b"exit\n")
                self._process.stdin.flush()
                self._process.wait(timeout=30)
            except (OSError, RuntimeError, subprocess.TimeoutExpired):
                self._process.kill()
                self._process.wait()
        self._process.stdin.close()
        self._process.stdout.close()


_shared: dict = {}


def shared_isolated(config) -> IsolatedPrefix:
    """The session's IsolatedPrefix, or a skip with the reason."""
    if "skip" in _shared:
        pytest.skip(_shared["skip"])
    if "prefix" not in _shared:
        reason = None
        if shutil.which("wine") is None:
            reason = "Wine is not installed (scripts/setup.sh installs it)"
        elif os.geteuid() != 0:
            reason = "a private mount namespace with overlay and tmpfs mounts needs root"
        else:
            try:
                # Its own X server too: the namespace's Wine session must
                # have a display from its first program on.
                harness.ensure_prefix()
                config.add_cleanup(_close_shared)
                _shared["root"] = Path(tempfile.mkdtemp(prefix="tvx_isolated_"))
                _shared["xvfb"] = harness.Xvfb()
                _shared["prefix"] = IsolatedPrefix(_shared["root"], _shared["xvfb"].start())
            except (OSError, RuntimeError, subprocess.TimeoutExpired) as error:
                reason = f"no private mount namespace with an overlay of the prefix: {error}"
        if reason:
            _shared["skip"] = reason
            pytest.skip(reason)
    return _shared["prefix"]


def _close_shared() -> None:
    prefix = _shared.pop("prefix", None)
    if prefix is not None:
        prefix.close()
    xvfb = _shared.pop("xvfb", None)
    if xvfb is not None:
        xvfb.stop()
    root = _shared.pop("root", None)
    if root is not None:
        shutil.rmtree(root, ignore_errors=True)


# --------------------------------------------------------------------------
# A Java runtime for the flow after extraction


def fake_java_home(directory: Path, target: str) -> Path:
    """A runtime home of the target's test doubles: bin\\java.exe answers
    "-version" with a Java 8 line, bin\\server\\jvm.dll loads but refuses to
    create a VM."""
    doubles = harness.target_dir(target) / "doubles"
    home = directory / f"java_{target}"
    (home / "bin" / "server").mkdir(parents=True, exist_ok=True)
    shutil.copy(doubles / "java.exe", home / "bin" / "java.exe")
    shutil.copy(doubles / "jvm.dll", home / "bin" / "server" / "jvm.dll")
    (home / "bin" / "java.cfg").write_text('line=java version "1.8.0_301"\nexit=0\n')
    return home


class Runner:
    """Runs one test's installers in the isolated prefix with its own Windows
    temporary directory (`temp`, empty at first) and the test-double Java
    runtime."""

    def __init__(self, target: str, tmp_path: Path, java_home: Path, isolated: IsolatedPrefix) -> None:
        self.target = target
        self.isolated = isolated
        self.temp = tmp_path / "wintemp"
        self.temp.mkdir(exist_ok=True)
        self.temp_windows = harness.windows_path(self.temp)
        self.java_home = java_home

    def run(self, exe: Path, args: Sequence[str] = (), windows_env: Mapping[str, str] | None = None,
            cwd: Path | None = None, watch: bool = False, own_temp: bool = True) -> harness.RunResult:
        """`windows_env` is added to (or replaces) TMP and TEMP; without
        `own_temp` the prefix's own temporary directory is used."""
        variables = {"TMP": self.temp_windows, "TEMP": self.temp_windows} if own_temp else {}
        variables.update(windows_env or {})
        env = {"TOVRIX_LOG": "yes", "KELPA_JAVA_HOME": harness.windows_path(self.java_home)}
        return self.isolated.launch(self.target, exe, args, env=env, windows_env=variables, cwd=cwd, watch=watch)

    def log(self, exe: Path, directory: Path | None = None) -> harness.LaunchLog:
        """The launch log of `exe` in `directory` (default: the temporary directory)."""
        log = log_in(directory or self.temp, exe)
        assert log is not None, f"no launch log of {exe} in {directory or self.temp}"
        return log

    def extraction_leftovers(self, base: Path | None = None) -> list:
        """Names in the base (default: the temporary directory) other than
        the launch logs and the empty "klp*.tmp" files the launcher leaves."""
        base = base or self.temp
        return sorted(p.name for p in base.iterdir()
                      if not re.fullmatch(r"tvx_nlog_\d+\.log|klp[0-9A-Fa-f]{1,4}\.tmp", p.name))


# --------------------------------------------------------------------------
# Fixtures (imported by the test modules)


@pytest.fixture
def isolated(request):
    return shared_isolated(request.config)


@pytest.fixture(scope="session")
def java_homes(tmp_path_factory):
    """target -> a test-double Java runtime home, made once per session."""
    homes = {}

    def home(target: str) -> Path:
        if target not in homes:
            doubles = harness.target_dir(target) / "doubles"
            if not ((doubles / "java.exe").exists() and (doubles / "jvm.dll").exists()):
                pytest.skip(f"the Java runtime test doubles are not built in {doubles}")
            homes[target] = fake_java_home(tmp_path_factory.mktemp("java"), target)
        return homes[target]
    return home


@pytest.fixture
def runner(target, tmp_path, java_homes, isolated):
    return Runner(target, tmp_path, java_homes(target), isolated)
