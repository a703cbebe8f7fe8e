"""The communication natives called by real Java code: the 64-bit stub runs
the project's Java runtime on a real Windows JVM under Wine, and the runtime
talks over real named pipes to pipe_peer.exe (tests/tools), a Windows program
of this project that speaks the block format with its own code and records
what it received and sent.

One Java run makes every call.  On pipe A the Java side listens and the peer
connects as a client; blocks of 0 bytes, 5 bytes and several megabytes cross
in both directions, then the peer leaves.  On pipe B the peer listens, the
Java side connects, a 4 MB block goes there and back, and then the peer
sends a block that announces 2 GB but carries 10 bytes and hangs up.  Process
ids: the launcher's own, a child that has ended (kept referenced by the Java
side, so its id cannot be reused meanwhile) and one that still runs.

Each block is checked from outside: the peer's record shows the length, the
CRC-32 and (up to 64 bytes) the bytes of what it got, the report shows the
same of what the Java side got.
"""

from __future__ import annotations

import re
import subprocess
import uuid
from pathlib import Path

import pytest

import harness
import java_runtime as jr
import native_run
from java_runtime import ByteArray, Pattern, Var, assign, assign_value, call

JAVA_HOME = harness.BUILD_DIR / "java" / "11"
TARGET = "win64"
TAG = uuid.uuid4().hex[:8]
PIPE_A = r"\\.\pipe\tovrix-e2e-%s-a" % TAG
PIPE_B = r"\\.\pipe\tovrix-e2e-%s-b" % TAG
BACKEND = "Win32CommunicationBackend."
PROCESSES = "com.tovrix.runtime.launcher.ChildProcesses."

BIG = Pattern(4 * 1024 * 1024 + 3, 7)          # the Java side's several megabytes
PEER_BLOCKS = [(0, 1), (5, 2), (3 * 1024 * 1024 + 1, 9)]  # what peer A writes: (length, seed)
LIE = bytes.fromhex("ffffff7f") + bytes(range(10))   # 2 GB announced, 10 bytes sent


def peer_exe() -> Path:
    return harness.target_dir(TARGET) / "pipe_peer.exe"


class Peer:
    """pipe_peer.exe running in the background in the session's Wine."""

    def __init__(self, record: Path, mode: str, pipe: str, actions: list):
        self.record = record
        self.process = subprocess.Popen(
            ["wine", str(peer_exe()), harness.windows_path(record), mode, pipe, *actions],
            env=harness.wine_env(None, harness.session_display()), stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def finish(self, timeout: float = 60) -> int:
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            return -1

    def lines(self) -> list:
        return self.record.read_text(encoding="utf-8").splitlines() if self.record.exists() else []


def parse_block(text: str) -> tuple:
    """(length, crc32, hex) of a peer line's "<len> <crc> [hex]" or a report's
    "byte[<len>] crc32=<crc> [hex]"."""
    match = re.fullmatch(r"(?:byte\[)?(\d+)\]? (?:crc32=)?([0-9a-f]{8})(?: ([0-9a-f]+))?", text)
    assert match, text
    return int(match.group(1)), match.group(2), match.group(3) or ""


def block_of(data: bytes) -> tuple:
    return parse_block(jr.byte_summary(data))


def build_calls(work: Path) -> dict:
    peer_windows = harness.windows_path(peer_exe())
    ended_record = harness.windows_path(work / "ended.txt")
    running_record = harness.windows_path(work / "running.txt")
    return {
        "invalid": call(BACKEND + "getInvalidHandle0"),
        "me": assign("me", call(BACKEND + "getCurrentProcessId0")),
        "me.alive": call(BACKEND + "isProcessAlive0", Var("me")),
        "ended": assign("ended", call(PROCESSES + "runToEnd", [peer_windows, ended_record, "none"])),
        "ended.alive": call(BACKEND + "isProcessAlive0", Var("ended")),
        "running": assign("running", call(PROCESSES + "runInBackground",
                                          [peer_windows, running_record, "none", "sleep:120000"])),
        "running.alive": call(BACKEND + "isProcessAlive0", Var("running")),
        # Pipe A: the Java side listens.
        "a": assign("a", call(BACKEND + "createListener0", PIPE_A)),
        "a.connect": call(BACKEND + "connectNamedPipe0", Var("a")),
        "big": assign_value("big", BIG),
        "a.write0": call(BACKEND + "writeDataBlock0", Var("a"), ByteArray(b"")),
        "a.write5": call(BACKEND + "writeDataBlock0", Var("a"), ByteArray(bytes([1, 2, 3, 4, 5]))),
        "a.writeBig": call(BACKEND + "writeDataBlock0", Var("a"), Var("big")),
        "a.read0": assign("r0", call(BACKEND + "readDataBlock0", Var("a"))),
        "a.read5": assign("r5", call(BACKEND + "readDataBlock0", Var("a"))),
        "a.readBig": assign("rbig", call(BACKEND + "readDataBlock0", Var("a"))),
        "a.readAfterLeave": call(BACKEND + "readDataBlock0", Var("a")),
        "a.writeAfterLeave": call(BACKEND + "writeDataBlock0", Var("a"), ByteArray(b"\x01")),
        "a.disconnect": call(BACKEND + "disconnectNamedPipe0", Var("a")),
        "a.close": call(BACKEND + "closeHandle0", Var("a")),
        # Pipe B: the peer listens.
        "b": assign("b", call(BACKEND + "connectClient0", PIPE_B)),
        "b.write": call(BACKEND + "writeDataBlock0", Var("b"), Var("big")),
        "b.echo": assign("echo", call(BACKEND + "readDataBlock0", Var("b"))),
        "b.lie": call(BACKEND + "readDataBlock0", Var("b")),
        "b.close": call(BACKEND + "closeHandle0", Var("b")),
        "invalid.read": call(BACKEND + "readDataBlock0", -1),
        "invalid.write": call(BACKEND + "writeDataBlock0", -1, ByteArray(b"\x01")),
        "invalid.connect": call(BACKEND + "connectNamedPipe0", -1),
        "endAll": call(PROCESSES + "endAll"),
        "running.ended": call(BACKEND + "isProcessAlive0", Var("running")),
    }


class Run:
    def __init__(self, report, names, peer_a, peer_b, work):
        self.report = report
        self.calls = dict(zip(names, report.calls))
        self.peer_a = peer_a
        self.peer_b = peer_b
        self.work = work

    def result(self, name):
        outcome = self.calls[name]
        assert outcome.thrown is None and outcome.error is None, (outcome.text[:200], outcome.thrown, outcome.error)
        return outcome.result


@pytest.fixture(scope="module")
def run(tmp_path_factory):
    native_run.require(also=[(peer_exe(), "the pipe peer program")])
    work = tmp_path_factory.mktemp("pipes")
    calls = build_calls(work)
    params = jr.params_text(harness.windows_path(work / "report.txt"), end="exit:0", natives=list(calls.values()))
    installer = harness.build_installer(
        work, TARGET, {"config": {"107": "0", "2001": "i", "122": "x", "128": "EJAVA_HOME;", "126": "1.8"}},
        files={"tvxruntime.jar": jr.JAR.read_bytes(), jr.PARAMS_FILE: params.encode("utf-8")})
    actions_a = ["read", "read", "read"] + ["write:%d:%d" % block for block in PEER_BLOCKS] + ["close"]
    peer_a = Peer(work / "peer_a.txt", "client", PIPE_A, actions_a)
    peer_b = Peer(work / "peer_b.txt", "server", PIPE_B, ["echo", "raw:" + LIE.hex(), "close"])
    try:
        done = harness.run(TARGET, installer, ["-q"], env={"JAVA_HOME": harness.windows_path(JAVA_HOME)},
                           timeout=600)
        assert done.returncode == 0, done.describe()
        peer_a.finish()
        peer_b.finish()
        yield Run(jr.read_report(work / "report.txt"), list(calls), peer_a.lines(), peer_b.lines(), work)
    finally:
        for peer in (peer_a, peer_b):
            if peer.process.poll() is None:
                peer.process.kill()
                peer.process.wait()


def peer_events(lines: list, kind: str) -> list:
    return [parse_block(line[len(kind) + 1:]) for line in lines if line.startswith(kind + " ")]


def test_every_call_reached_a_registered_native(run):
    assert run.report["natives.registered"] == "true"
    assert [c for c in run.report.calls if c.thrown or c.error] == []


def test_invalid_handle_is_minus_one_and_ignored(run):
    assert run.result("invalid") == "-1"
    assert run.result("invalid.read") == "null"
    assert run.result("invalid.write") == "false"
    assert run.result("invalid.connect") == "false"


def test_blocks_of_every_size_cross_from_the_listener_to_the_peer(run):
    assert run.result("a") != "-1"
    assert run.result("a.connect") == "true"
    assert [run.result(name) for name in ("a.write0", "a.write5", "a.writeBig")] == ["true"] * 3
    big = jr.pattern_bytes(BIG.length, BIG.seed)
    assert parse_block(run.result("big")) == block_of(big)
    assert run.peer_a[:2] == ["pid " + run.peer_a[0].split()[1], "connected"]
    assert peer_events(run.peer_a, "read") == [block_of(b""), block_of(bytes([1, 2, 3, 4, 5])), block_of(big)]


def test_blocks_of_every_size_cross_from_the_peer_to_the_listener(run):
    written = peer_events(run.peer_a, "wrote")
    assert written == [block_of(jr.pattern_bytes(length, seed)) for length, seed in PEER_BLOCKS]
    assert [parse_block(run.result(name)) for name in ("a.read0", "a.read5", "a.readBig")] == written


def test_a_peer_that_left_gives_null_and_false(run):
    assert run.peer_a[-2:] == ["closed", "end"]
    assert run.result("a.readAfterLeave") == "null"
    assert run.result("a.writeAfterLeave") == "false"


def test_client_side_exchanges_a_multi_megabyte_block(run):
    assert run.peer_b[:3] == ["pid " + run.peer_b[0].split()[1], "listening", "connected"]
    assert run.result("b") not in ("0", "-1")
    assert run.result("b.write") == "true"
    big = block_of(jr.pattern_bytes(BIG.length, BIG.seed))
    assert peer_events(run.peer_b, "echoed") == [big]
    assert parse_block(run.result("b.echo")) == big


def test_a_lying_length_then_a_hang_up_gives_null(run):
    # The peer's flush returned only once the Java side had taken all 14 bytes.
    assert "raw %d" % len(LIE) in run.peer_b
    assert run.result("b.lie") == "null"


def test_process_ids_running_and_ended(run):
    me = run.result("me")
    assert run.report["startup.marker.name"] == "InstallStarted_" + me
    assert run.result("me.alive") == "true"
    ended = (run.work / "ended.txt").read_text(encoding="utf-8").splitlines()
    assert ended == ["pid " + run.result("ended"), "end"]
    assert run.result("ended.alive") == "false"
    assert (run.work / "running.txt").read_text(encoding="utf-8").splitlines()[0] == "pid " + run.result("running")
    assert run.result("running.alive") == "true"
    assert run.result("endAll") == "1"
    assert run.result("running.ended") == "false"
