"""The process, window and handle natives (Misc, Win32Exec, Win32Handle)
called by real Java code: the 64-bit stub runs the project's Java runtime on a
real Windows JVM under Wine, the runtime makes one batch of calls, and the
effects are checked from outside the launcher: peer programs
(tests/tools/process_peer) that the test starts before the run report what
they were sent and whether they ended, `wine reg` shows the pending renames,
files show what a started program saw, and memory and disk space are read
from Linux.

`reboot0` runs in a throwaway copy of the Wine prefix with a wineserver of its
own (see ``test_reboot_ends_the_session_of_a_throwaway_prefix``), so the
session the tests run in survives it.
"""

from __future__ import annotations

import os
import re
import shutil
import subprocess
import time
import uuid
from pathlib import Path

import pytest

import harness
import java_runtime as jr
import native_run
from java_runtime import Long, call

JAVA_HOME = harness.BUILD_DIR / "java" / "11"
TARGET = "win64"
TAG = "tvx-proc-" + uuid.uuid4().hex[:8]
WINDOW_INFO = "com.tovrix.api.windows.WindowInfo"
HELD_FILES = "com.tovrix.runtime.launcher.HeldFiles"
SESSION_MANAGER = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager"
ENV_NAME, ENV_VALUE = "TVX_E2E_PROCESSES", "marker \u00e9\u4e2d"
NO_PROCESS = 0x7FFFFFF0
GiB = 1 << 30


def peer_exe(target: str = TARGET) -> Path:
    return harness.tools_dir(target) / "process_peer.exe"


def requirements() -> None:
    native_run.require(also=[(peer_exe(), "the process peer")])


class Peer:
    """A process_peer window started from Linux in a prefix; its Windows id
    and window come from its info file."""

    def __init__(self, work: Path, name: str, title: str, flags=(), env=None):
        self.info = work / f"{name}.info"
        self.log_path = work / f"{name}.log"
        self.process = subprocess.Popen(
            ["wine", str(peer_exe()), "window", harness.windows_path(self.info), harness.windows_path(self.log_path),
             title, *flags],
            env=env or harness.wine_env(None, harness.session_display()), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        values = {}
        deadline = time.monotonic() + 90
        while time.monotonic() < deadline and self.process.poll() is None:
            if self.info.exists():
                values = dict(line.split("=", 1) for line in self.info.read_text().split())
                break
            time.sleep(0.2)
        assert "pid" in values, f"peer {name} did not come up (exit {self.process.poll()})"
        self.pid = int(values["pid"])
        self.hwnd = int(values["hwnd"])

    def log(self) -> list:
        return self.log_path.read_text(encoding="utf-8").splitlines() if self.log_path.exists() else []

    def exit_code(self, timeout: float = 0):
        """The exit code once ended (waiting up to `timeout` seconds), else None."""
        try:
            return self.process.wait(timeout=timeout) if timeout else self.process.poll()
        except subprocess.TimeoutExpired:
            return None

    def stop(self) -> None:
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=30)


def wine(args, env=None, check=True) -> subprocess.CompletedProcess:
    done = subprocess.run(["wine", *args], env=env or harness.wine_env(None, harness.session_display()),
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    if check:
        assert done.returncode == 0, (args, done.stdout, done.stderr)
    return done


def pending_renames() -> list | None:
    """The strings of PendingFileRenameOperations as `wine reg query` shows
    them, or None when there is no such value."""
    done = wine(["reg", "query", SESSION_MANAGER, "/v", "PendingFileRenameOperations", "/reg:64"], check=False)
    if done.returncode != 0:
        return None
    for line in done.stdout.decode("utf-8", "replace").splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[0] == "PendingFileRenameOperations" and parts[1] == "REG_MULTI_SZ":
            return parts[2].split("\\0") if len(parts) == 3 else []
    return None


def drop_pending_renames(paths: list) -> None:
    """Removes the pairs whose source is one of `paths` from the pending
    renames; deletes the value when nothing else is left."""
    strings = pending_renames()
    if strings is None:
        return
    kept = []
    for i in range(0, len(strings) - 1, 2):
        if not any(strings[i].lower().endswith(p.lower()[2:]) for p in paths):
            kept += strings[i:i + 2]
    if kept:
        wine(["reg", "add", SESSION_MANAGER, "/v", "PendingFileRenameOperations", "/t", "REG_MULTI_SZ", "/d",
              "\\0".join(kept), "/f", "/reg:64"], check=False)
    else:
        wine(["reg", "delete", SESSION_MANAGER, "/v", "PendingFileRenameOperations", "/f", "/reg:64"], check=False)


def missing_drive() -> str:
    mapped = {p.name[0].upper() for p in (harness.WINEPREFIX / "dosdevices").iterdir() if len(p.name) == 2}
    return next(letter for letter in "QRSTUVWXY" if letter not in mapped) + ":\\"


def run_installer(work: Path, calls: dict, env: dict) -> jr.Report:
    params = jr.params_text(harness.windows_path(work / "report.txt"), end="exit:0", natives=list(calls.values()))
    installer = harness.build_installer(
        work, TARGET, {"integrity_check": True,
                       "config": {"107": "0", "2001": "i", "122": "x", "128": "EJAVA_HOME;", "126": "1.8"}},
        files={"tvxruntime.jar": jr.JAR.read_bytes(), jr.PARAMS_FILE: params.encode("utf-8")})
    done = harness.run(TARGET, installer, ["-q"], env={"JAVA_HOME": harness.windows_path(JAVA_HOME), **env},
                       timeout=300)
    assert done.returncode == 0, done.describe()
    return jr.read_report(work / "report.txt")


class Run:
    def __init__(self, report, names, work, peers, files, disk_before, disk_after):
        self.report = report
        self.calls = dict(zip(names, report.calls))
        self.work = work
        self.peers = peers
        self.files = files
        self.disk = (disk_before, disk_after)

    def result(self, name):
        outcome = self.calls[name]
        assert outcome.thrown is None and outcome.error is None, (outcome.text[:200], outcome.thrown, outcome.error)
        return outcome.result


def free_bytes(path: Path) -> int:
    stat = os.statvfs(path)
    return stat.f_bavail * stat.f_frsize


@pytest.fixture(scope="module")
def run(tmp_path_factory):
    requirements()
    work = tmp_path_factory.mktemp("processes")
    peers = {}
    files = {name: work / f"{TAG}-{name}.txt" for name in ("source", "target", "doomed", "held", "renamed")}
    files["record"] = work / "launched.txt"
    for name in ("source", "doomed", "held"):
        files[name].write_text(name)
    win = {name: harness.windows_path(path) for name, path in files.items()}
    try:
        peers["raised"] = Peer(work, "raised", "Raised peer \u4e2d", ["minimized"])
        peers["graceful"] = Peer(work, "graceful", "Graceful peer")
        peers["forced"] = Peer(work, "forced", "Forced peer")
        peers["hidden"] = Peer(work, "hidden", "Hidden peer", ["hidden"])
        raised, hidden = peers["raised"], peers["hidden"]
        launch_line = '"%s" record "%s" first "two words"' % (harness.windows_path(peer_exe()), win["record"])
        calls = {
            "modules": call("Misc.getRunningModules0", False),
            "modules.nodebug": call("Misc.getRunningModules0", True),
            "title.raised": call("Misc.getWindowTitle0", raised.pid),
            "title.hidden": call("Misc.getWindowTitle0", hidden.pid),
            "title.none": call("Misc.getWindowTitle0", NO_PROCESS),
            "windows.raised": call("Misc.getTopLevelWindows0", WINDOW_INFO, raised.pid),
            "windows.hidden": call("Misc.getTopLevelWindows0", WINDOW_INFO, hidden.pid),
            "raise": call("Misc.setForegroundWindow0", Long(raised.hwnd)),
            "toFront": call("Misc.toFront0"),
            "env": call("Misc.getEnvVarPairs0"),
            "broadcast": call("Misc.broadcastSettingChange0"),
            "memory": call("Misc.getPhysicalMemory0"),
            "disk": call("Misc.getFreeDiskSpace0", "C:\\"),
            "disk.missing": call("Misc.getFreeDiskSpace0", missing_drive()),
            "move": call("Misc.moveWithDelayUntilReboot0", win["source"], win["target"]),
            "move.delete": call("Misc.moveWithDelayUntilReboot0", win["doomed"], None),
            "pid.self": call("Misc.getPidFromHandle0", Long(-1)),
            "pid.none": call("Misc.getPidFromHandle0", Long(0)),
            "terminate.hidden": call("Misc.terminateProcesses0", [hidden.pid], False, 5000),
            "terminate.graceful": call("Misc.terminateProcesses0", [peers["graceful"].pid], False, 30000),
            "terminate.forced": call("Misc.terminateProcesses0", [peers["forced"].pid], True, 0),
            "terminate.none": call("Misc.terminateProcesses0", [NO_PROCESS], True, 0),
            "launch": call("Win32Exec.launch0", None, launch_line),
            "launch.missing": call("Win32Exec.launch0", None, "C:\\no\\such\\program.exe"),
            "hold": call(HELD_FILES + ".open", win["held"]),
            "rename.held": call(HELD_FILES + ".rename", win["held"], win["renamed"]),
            "handles": call("Win32Handle.list0"),
            "close.held": call(HELD_FILES + ".closeListed", win["held"]),
            "rename.closed": call(HELD_FILES + ".rename", win["held"], win["renamed"]),
            "close.pseudo": call("Win32Handle.close0", -1),
            "device": call("Win32Handle.getDeviceName0", "\\??\\C:"),
            "device.missing": call("Win32Handle.getDeviceName0", "\\??\\" + TAG),
        }
        disk_before = free_bytes(harness.WINEPREFIX / "drive_c")
        report = run_installer(work, calls, {ENV_NAME: ENV_VALUE})
        disk_after = free_bytes(harness.WINEPREFIX / "drive_c")
        yield Run(report, list(calls), work, peers, files, disk_before, disk_after)
    finally:
        for peer in peers.values():
            peer.stop()
        drop_pending_renames([win["source"], win["doomed"]])


# --------------------------------------------------------------------------
# The tests


def test_every_call_reached_a_registered_native(run):
    assert run.report["natives.registered"] == "true"
    assert [c for c in run.report.calls if c.thrown or c.error] == []


def entries(text: str) -> dict:
    """A rendered String[] of "<pid> <path>" entries as {pid: path}."""
    found = {}
    for match in re.finditer(r"(?:^\[|, )(-?\d+) ([A-Za-z]:\\[^,\]]*)", text):
        found[int(match.group(1))] = match.group(2)
    return found


def test_running_modules_list_the_peers_and_the_launcher(run):
    peer_path = harness.windows_path(peer_exe()).lower()
    for name in ("modules", "modules.nodebug"):
        listed = entries(run.result(name))
        for peer in ("raised", "hidden"):
            assert listed.get(run.peers[peer].pid, "").lower() == peer_path, (name, peer)
        own_pid = int(run.result("pid.self"))
        assert listed.get(own_pid, "").lower().endswith("\\installer.exe"), (name, own_pid)


def test_window_title_found_by_process(run):
    assert run.result("title.raised") == "Raised peer \u4e2d"
    # No visible window: the title of a hidden one, the peer's own or the
    # input method window that every thread with windows has.
    assert run.result("title.hidden") in ("Hidden peer", "Default IME")
    assert run.result("title.none") == ""               # the empty string, not null


def test_top_level_windows_of_a_process(run):
    raised = run.peers["raised"]
    shown = run.result("windows.raised")
    match = re.fullmatch(r"\[WindowInfo\[handle=(-?\d+), style=(-?\d+), class=TovrixPeerWindow, "
                         r"title=Raised peer \u4e2d\]\]", shown)
    assert match, shown
    assert int(match.group(1)) == raised.hwnd
    assert int(match.group(2)) & 0x00CF0000 == 0x00CF0000  # WS_OVERLAPPEDWINDOW
    assert run.result("windows.hidden") == "null"


def window_state(hwnd: int) -> dict:
    done = wine([str(peer_exe()), "state", str(hwnd)])
    return dict(item.split("=") for item in done.stdout.decode().split())


def test_a_minimised_window_is_raised(run):
    raised = run.peers["raised"]
    assert run.result("raise") == "void"
    assert "restored" in raised.log(), raised.log()
    state = window_state(raised.hwnd)
    assert state["iconic"] == "0" and state["visible"] == "1", state
    if "activated" not in raised.log():
        pytest.skip("Wine did not activate the window of another process (no window manager on Xvfb)")
    assert "activated" in raised.log()


def test_to_front_without_windows_of_its_own_does_nothing(run):
    assert run.result("toFront") == "void"
    assert run.peers["raised"].exit_code() is None


def test_environment_pairs_hold_the_launchers_environment(run):
    pairs = run.result("env")
    assert "%s=%s" % (ENV_NAME, ENV_VALUE) in pairs
    assert re.search(r"(^\[|, )PATH=", pairs, re.IGNORECASE)


def test_setting_change_reaches_another_process(run):
    assert run.result("broadcast") == "void"
    assert "settingchange Environment" in run.peers["raised"].log()


def test_physical_memory_is_the_machines(run):
    linux = os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE")
    assert abs(int(run.result("memory")) - linux) <= 16 << 20, (run.result("memory"), linux)


def test_free_disk_space_of_c_and_of_a_missing_drive(run):
    # Other programs write to the same disk while the run goes on.
    low, high = min(run.disk) - GiB // 2, max(run.disk) + GiB // 2
    assert low <= int(run.result("disk")) <= high, (run.result("disk"), run.disk)
    assert run.result("disk.missing") == "-1"


def test_moves_at_reboot_are_pending_in_the_registry(run):
    assert run.result("move") == "true" and run.result("move.delete") == "true"
    strings = pending_renames()
    assert strings is not None
    below = {name: harness.windows_path(run.files[name])[2:].lower() for name in ("source", "target", "doomed")}
    pairs = [(strings[i].lower(), strings[i + 1].lower()) for i in range(0, len(strings) - 1, 2)]
    assert any(s.endswith(below["source"]) and t.endswith(below["target"]) for s, t in pairs), strings
    assert any(s.endswith(below["doomed"]) and t == "" for s, t in pairs), strings
    assert run.files["source"].exists() and run.files["doomed"].exists()  # nothing moves before the restart


def test_processes_ended_gracefully_and_by_force(run):
    assert run.result("terminate.graceful") == "1"
    graceful = run.peers["graceful"]
    assert graceful.exit_code(timeout=30) == 0     # it closed its window and ended by itself
    assert "close" in graceful.log()
    assert run.result("terminate.forced") == "1"
    forced = run.peers["forced"]
    assert forced.exit_code(timeout=30) == 0       # TerminateProcess with exit code 0
    assert "close" not in forced.log()
    assert run.result("terminate.none") == "0"


def test_a_process_without_a_visible_window_is_not_ended(run):
    assert run.result("terminate.hidden") == "0"
    hidden = run.peers["hidden"]
    assert hidden.exit_code() is None
    assert "close" not in hidden.log()


def test_pid_from_handle(run):
    assert int(run.result("pid.self")) > 0
    assert run.result("pid.none") == "0"


def test_launch_starts_a_program_with_its_arguments_in_the_launchers_directory(run):
    assert run.result("launch") == "0"
    record = run.files["record"]
    deadline = time.monotonic() + 60
    while not record.exists() and time.monotonic() < deadline:
        time.sleep(0.2)
    lines = dict(line.split("=", 1) for line in record.read_text(encoding="utf-8").splitlines())
    assert (lines["argc"], lines["arg[0]"], lines["arg[1]"]) == ("2", "first", "two words")
    assert lines["cwd"].rstrip("\\").lower() == run.report["cwd"].rstrip("\\").lower()
    assert run.result("launch.missing") == "2"  # ERROR_FILE_NOT_FOUND


def test_a_held_file_is_listed_and_closed(run):
    assert run.result("hold") == "open"
    handles = run.result("handles")
    if handles == "null":
        pytest.skip("Wine did not give the system handle table (NtQuerySystemInformation class 16)")
    held = harness.windows_path(run.files["held"])[2:].lower()
    assert held in handles.lower(), handles
    closed = run.result("close.held")
    assert re.fullmatch(r"\d+ true", closed), closed
    assert closed.split()[0] in re.findall(r"-?\d+", handles)
    # Held without delete sharing, the file cannot be renamed; once its
    # handle is closed it can, and the rename shows on disk.
    if run.result("rename.held") == "true":
        pytest.skip("Wine renamed a file held open without delete sharing, so no rename can show the close")
    assert run.result("rename.closed") == "true"
    assert run.files["renamed"].exists() and not run.files["held"].exists()


def test_close_refuses_a_pseudo_handle(run):
    assert run.result("close.pseudo") == "false"


def test_device_name_of_drive_c_is_its_dos_device(run):
    expected = wine([str(peer_exe()), "devicename", "C:"]).stdout.decode("utf-8").strip()
    assert expected
    assert run.result("device") == expected
    assert run.result("device.missing") == "null"


# --------------------------------------------------------------------------
# reboot0, in a throwaway prefix

# Files of a prefix that nothing in it writes to: the copy links them instead
# of copying 1.3 GB; registry files, settings and everything else are copied.
BINARY_SUFFIXES = {".dll", ".exe", ".drv", ".sys", ".ocx", ".acm", ".cpl", ".tlb", ".ax", ".ds", ".nls", ".ttf",
                   ".fon", ".com", ".mui", ".msstyles", ".vxd", ".tsp"}


def copy_prefix(source: Path, target: Path) -> None:
    def link_or_copy(src, dst):
        if Path(src).suffix.lower() in BINARY_SUFFIXES:
            os.link(src, dst)
        else:
            shutil.copy2(src, dst)
    shutil.copytree(source, target, symlinks=True, copy_function=link_or_copy)


def test_reboot_ends_the_session_of_a_throwaway_prefix(tmp_path):
    """reboot0 enables the shutdown privilege and asks Windows to restart:
    under Wine that ends the session of the prefix (windows get
    WM_QUERYENDSESSION and WM_ENDSESSION) and runs its start-up again, which
    carries out the renames pending for the restart.  The prefix is a copy
    with a wineserver of its own, so the tests' session is untouched."""
    requirements()
    prefix = tmp_path / "prefix"
    copy_prefix(harness.WINEPREFIX, prefix)
    env = harness.wine_env({"WINEPREFIX": str(prefix)}, harness.session_display())
    peer = None
    try:
        peer = Peer(tmp_path, "session", "Session peer", env=env)
        source, target = tmp_path / "reboot-source.txt", tmp_path / "reboot-target.txt"
        source.write_text("moved at the restart")
        calls = [call("Misc.moveWithDelayUntilReboot0", harness.windows_path(source), harness.windows_path(target)),
                 call("Misc.reboot0")]
        params = jr.params_text(harness.windows_path(tmp_path / "report.txt"), end="exit:0", natives=calls)
        installer = harness.build_installer(
            tmp_path, TARGET, {"integrity_check": True,
                               "config": {"107": "0", "2001": "i", "122": "x", "128": "EJAVA_HOME;", "126": "1.8"}},
            files={"tvxruntime.jar": jr.JAR.read_bytes(), jr.PARAMS_FILE: params.encode("utf-8")})
        subprocess.run(["wine", str(installer), "-q"], env={**env, "JAVA_HOME": harness.windows_path(JAVA_HOME)},
                       stdin=subprocess.DEVNULL, capture_output=True, timeout=300, check=False)
        # The launcher may itself be ended with the session before it reports.
        if (tmp_path / "report.txt").exists():
            report = jr.read_report(tmp_path / "report.txt")
            assert [c.result for c in report.calls] == ["true", "void"], report.calls
        deadline = time.monotonic() + 60
        while "endsession 1" not in peer.log() and time.monotonic() < deadline:
            time.sleep(0.5)
        assert "queryendsession" in peer.log() and "endsession 1" in peer.log(), peer.log()
        deadline = time.monotonic() + 60
        while source.exists() and time.monotonic() < deadline:
            time.sleep(0.5)
        assert target.read_text() == "moved at the restart" and not source.exists()
    finally:
        if peer is not None:
            peer.stop()
        subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60, check=False)
        shutil.rmtree(prefix, ignore_errors=True)
