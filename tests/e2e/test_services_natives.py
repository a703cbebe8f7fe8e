"""The Win32Services natives called by real Java code on a real service.

The test service (build/win64/test_service.exe) goes through its whole life
under Wine's own service control manager, in three Java runs so that each
stage is checked from outside in between with `wine sc query`, the service's
key in the registry (Wine's `sc qc` prints nothing) and the service's own log:

1. installed, installed again (refused), configured (display name, binary
   path, automatic start, dependencies, the local system account under its
   "NT AUTHORITY" name, a description), restart actions and delayed
   automatic start set;
2. dependencies removed, started with arguments, found running; a second,
   slow service that shows no progress while stopping is started too;
3. stopped (a time-out of 0 still waits while the service shows progress),
   stopped again (refused), removed; the slow service's stop gives up after
   its time-out (50001) and is removed once it has stopped.
"""

from __future__ import annotations

import re
import time
import uuid

import pytest

import harness
import native_run
from java_runtime import Long, call
from native_run import wine

NAME = "tovrix-e2e-svc-" + uuid.uuid4().hex[:8]
SLOW = NAME + "-slow"
SERVICE_KEY = "HKLM\\System\\CurrentControlSet\\Services\\"
OWN_PROCESS, AUTO_START = 0x10, 2


def sleep(ms: int) -> str:
    return call("java.lang.Thread.sleep", Long(ms))


def sc_state(name: str) -> str | None:
    """The state word `wine sc query` shows (RUNNING, STOPPED, ...), None
    when the service does not exist."""
    done = wine(["sc", "query", name], check=False)
    match = re.search(r"STATE\s*:\s*\d+\s+(\w+)", done.stdout.decode("utf-8", "replace"))
    return match.group(1) if done.returncode == 0 and match else None


def service_values(name: str) -> dict | None:
    """The values of the service's registry key as `wine reg query` shows
    them (name -> (type, data text)); None when the key is missing."""
    done = wine(["reg", "query", SERVICE_KEY + name, "/reg:64"], check=False)
    if done.returncode != 0:
        return None
    values = {}
    for line in done.stdout.decode("utf-8", "replace").splitlines():
        parts = re.split(r"\s{4}", line.strip())
        if len(parts) >= 2 and parts[1].startswith("REG_"):
            values[parts[0]] = (parts[1], parts[2] if len(parts) > 2 else "")
    return values


class Service:
    """The test service's binary path with a log of its own."""

    def __init__(self, work, tag: str, *options: str):
        self.log = work / (tag + ".log")
        self.binary = '"%s" --log "%s" --tag %s%s' % (harness.windows_path(native_run.tool("test_service.exe")),
                                                       harness.windows_path(self.log), tag,
                                                       "".join(" " + o for o in options))

    def lines(self) -> list:
        return self.log.read_text(encoding="utf-8").splitlines() if self.log.exists() else []


@pytest.fixture(scope="module")
def life(tmp_path_factory):
    native_run.require("test_service.exe")
    work = tmp_path_factory.mktemp("services")
    first, second = Service(work, "first"), Service(work, "second", "--stop-ms", "1500")
    slow = Service(work, "slow", "--stop-ms", "4000", "--no-progress")
    stages, runs = {}, []
    try:
        runs.append(native_run.run_calls(work / "install", {
            "install": call("Win32Services.installService0", NAME, "Tovrix e2e service", first.binary),
            "install.again": call("Win32Services.installService0", NAME, "Tovrix e2e service", first.binary),
            "startType.installed": call("Win32Services.getStartType0", NAME),
            "binary.installed": call("Win32Services.getServiceBinary0", NAME),
            "status.installed": call("Win32Services.queryStatus0", NAME),
            "change": call("Win32Services.changeServiceConfig0", NAME, "Tovrix e2e service (changed)",
                           second.binary, OWN_PROCESS, AUTO_START, "RpcSs,,PlugPlay",
                           "NT AUTHORITY\\LocalSystem", None, "Started by the tovrix tests"),
            "startType.changed": call("Win32Services.getStartType0", NAME),
            "binary.changed": call("Win32Services.getServiceBinary0", NAME),
            "restart": call("Win32Services.setRestartServiceConfig0", NAME, True, 60000, 3, 86400),
            "delayed": call("Win32Services.setDelayedAutoStart0", NAME, True),
        }))
        stages["installed"] = (sc_state(NAME), service_values(NAME))
        runs.append(native_run.run_calls(work / "start", {
            "undepend": call("Win32Services.changeServiceConfig0", NAME, None, None, -1, -1, None, None, None,
                             None),
            "start": call("Win32Services.startService0", NAME, ["alpha", "b\u00e9ta gamma"]),
            "slow.install": call("Win32Services.installService0", SLOW, "Tovrix e2e slow service", slow.binary),
            "slow.start": call("Win32Services.startService0", SLOW, None),
            "wait": sleep(3000),
            "status.started": call("Win32Services.queryStatus0", NAME),
            "slow.status.started": call("Win32Services.queryStatus0", SLOW),
        }))
        stages["started"] = (sc_state(NAME), service_values(NAME), first.lines() + second.lines())
        started = time.monotonic()
        runs.append(native_run.run_calls(work / "stop", {
            "stop": call("Win32Services.stopService0", NAME, 0),
            "status.stopped": call("Win32Services.queryStatus0", NAME),
            "stop.again": call("Win32Services.stopService0", NAME, 10000),
            "uninstall": call("Win32Services.uninstallService0", NAME),
            "status.removed": call("Win32Services.queryStatus0", NAME),
            "binary.removed": call("Win32Services.getServiceBinary0", NAME),
            "uninstall.again": call("Win32Services.uninstallService0", NAME),
            "slow.stop": call("Win32Services.stopService0", SLOW, 500),
            "slow.status.stopping": call("Win32Services.queryStatus0", SLOW),
            "slow.wait": sleep(6000),
            "slow.status.stopped": call("Win32Services.queryStatus0", SLOW),
            "slow.uninstall": call("Win32Services.uninstallService0", SLOW),
        }))
        stages["removed"] = (sc_state(NAME), service_values(NAME), sc_state(SLOW), time.monotonic() - started)
        yield {"runs": runs, "stages": stages, "first": first, "second": second, "slow": slow}
    finally:
        for name in (NAME, SLOW):
            if sc_state(name) is not None:
                wine(["sc", "stop", name], check=False)
                wine(["sc", "delete", name], check=False)
        for run in runs:
            native_run.remove_start_up_marker(run)


def results(life, stage: int, *names: str) -> list:
    return [life["runs"][stage].result(name) for name in names]


def test_installed_and_configured(life):
    assert results(life, 0, "install", "install.again") == ["0", "1073"]  # ERROR_SERVICE_EXISTS
    assert results(life, 0, "startType.installed", "binary.installed", "status.installed") == [
        "-3", life["first"].binary, "-1"]
    assert results(life, 0, "change", "startType.changed", "binary.changed") == ["0", "-2", life["second"].binary]
    state, values = life["stages"]["installed"]
    assert state == "STOPPED"
    assert values["ImagePath"][1] == life["second"].binary
    assert values["Start"] == ("REG_DWORD", "0x2")
    assert values["Type"] == ("REG_DWORD", "0x10")
    assert values["DisplayName"][1] == "Tovrix e2e service (changed)"
    assert values["ObjectName"][1] == "LocalSystem"  # "NT AUTHORITY\LocalSystem" is configured under this name
    assert values["DependOnService"][0] == "REG_MULTI_SZ"
    assert values["DependOnService"][1] in ("RpcSs\\0PlugPlay", "RpcSs\\0PlugPlay\\0\\0")
    assert values["Description"][1] == "Started by the tovrix tests"


def test_restart_actions(life):
    assert life["runs"][0].result("restart") == "0"
    _, values = life["stages"]["installed"]
    if "FailureActions" not in values:
        pytest.skip("Wine's service control manager accepts failure actions without keeping them")
    raw = bytes.fromhex(values["FailureActions"][1])
    assert int.from_bytes(raw[12:16], "little") == 4  # three restarts and a final none


def test_delayed_automatic_start(life):
    result = life["runs"][0].result("delayed")
    if result == "124":
        pytest.skip("Wine's service control manager has no SERVICE_CONFIG_DELAYED_AUTO_START_INFO "
                    "(ERROR_INVALID_LEVEL)")
    assert result == "0"
    _, values = life["stages"]["installed"]
    assert values["DelayedAutostart"] == ("REG_DWORD", "0x1")


def test_started_with_its_arguments_and_running(life):
    assert results(life, 1, "undepend", "start", "status.started") == ["0", "0", "-4"]
    state, values, log = life["stages"]["started"]
    assert state == "RUNNING"
    assert "DependOnService" not in values or values["DependOnService"][1] in ("", "\\0")
    # The changed binary path is the one that runs, with the start request's arguments.
    assert log[:3] == ["main second", "args 2 alpha|b\u00e9ta gamma", "running"]
    assert life["first"].lines() == []


def test_stopped_and_removed(life):
    run = life["runs"][2]
    assert run.result("stop") == "0"  # time-out 0: the wait follows the service's check point
    assert run.result("status.stopped") == "-1"
    assert run.result("stop.again") == "1062"  # ERROR_SERVICE_NOT_ACTIVE, without waiting
    assert results(life, 2, "uninstall", "status.removed", "binary.removed") == ["0", "1060", " 1060"]
    assert run.result("uninstall.again") == "1060"
    state, values, _, _ = life["stages"]["removed"]
    assert state is None and values is None
    assert life["second"].lines()[-2:] == ["stop", "stopped"]


def test_stop_gives_up_on_a_service_without_progress(life):
    assert results(life, 1, "slow.install", "slow.start", "slow.status.started") == ["0", "0", "-4"]
    run = life["runs"][2]
    assert run.result("slow.stop") == "50001"
    assert run.result("slow.status.stopping") == "-3"  # still SERVICE_STOP_PENDING
    assert run.result("slow.status.stopped") == "-1"
    assert run.result("slow.uninstall") == "0"
    assert life["stages"]["removed"][2] is None
    assert life["slow"].lines()[-2:] == ["stop", "stopped"]
