"""The proxy natives called by real Java code: the 64-bit stub runs the
project's Java runtime on a real Windows JVM under Wine, and the runtime asks
Wine's WinHTTP for the proxy settings this test put in place beforehand.

* The current user's browser settings: "DefaultConnectionSettings" under
  HKCU\\...\\Internet Settings\\Connections, written with `wine reg` (proxy,
  bypass list, configuration script URL, automatic detection on).
* The machine default: WinHTTP's own "WinHttpSettings" under HKLM.
* Automatic configuration: a proxy configuration script served by a local
  HTTP server of this test (Python's standard library); the server's request
  log shows that WinHTTP fetched it, the Java side's result shows what the
  script answered for each URL.

Values that existed before are put back afterwards, new ones removed.
"""

from __future__ import annotations

import http.server
import struct
import subprocess
import threading

import pytest

import harness
import java_runtime as jr
import native_run
from java_runtime import Var, assign, assign_value, call, show

JAVA_HOME = harness.BUILD_DIR / "java" / "11"
TARGET = "win64"
PROXY = "Win32Proxy."
CONNECTIONS = r"Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"
USER_KEY = "HKCU\\" + CONNECTIONS
MACHINE_KEY = "HKLM\\" + CONNECTIONS

IE_PROXY = "ie-proxy.example:3128"
IE_BYPASS = "<local>;*.internal.example"
IE_SCRIPT = "http://127.0.0.1:9/ie.pac"
MACHINE_PROXY = "machine-proxy.example:8080"
MACHINE_BYPASS = "*.machine.example"
PAC = """function FindProxyForURL(url, host) {
    if (shExpMatch(host, "*.internal.example")) return "DIRECT";
    return "PROXY pac-proxy.example:8080; DIRECT";
}
"""
ERROR_INVALID_PARAMETER = 87
ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT = 12167
ERROR_WINHTTP_AUTODETECTION_FAILED = 12180


def browser_settings() -> bytes:
    """Magic 0x46, a counter, flags (2 a proxy, 4 a script, 8 automatic
    detection), then the proxy, bypass and script texts with their lengths."""
    out = struct.pack("<III", 0x46, 0, 2 | 4 | 8)
    for text in (IE_PROXY, IE_BYPASS, IE_SCRIPT):
        out += struct.pack("<I", len(text)) + text.encode("ascii")
    return out


def winhttp_settings() -> bytes:
    """Magic 0x18, 0, flags (2 a named proxy), the proxy and bypass texts."""
    out = struct.pack("<III", 0x18, 0, 2)
    for text in (MACHINE_PROXY, MACHINE_BYPASS):
        out += struct.pack("<I", len(text)) + text.encode("ascii")
    return out


def reg(*args) -> subprocess.CompletedProcess:
    return subprocess.run(["wine", "reg", *args, "/reg:64"], env=harness.wine_env(None, harness.session_display()),
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=120, check=False)


def reg_binary(key: str, name: str) -> bytes | None:
    done = reg("query", key, "/v", name)
    for line in done.stdout.decode("utf-8", "replace").splitlines():
        parts = line.split()
        if len(parts) >= 2 and parts[0] == name and parts[1] == "REG_BINARY":
            return bytes.fromhex(parts[2] if len(parts) > 2 else "")
    return None


def set_binary(key: str, name: str, data: bytes) -> None:
    done = reg("add", key, "/v", name, "/t", "REG_BINARY", "/d", data.hex(), "/f")
    assert done.returncode == 0, done
    assert reg_binary(key, name) == data


def restore(key: str, name: str, old: bytes | None) -> None:
    if old is None:
        reg("delete", key, "/v", name, "/f")
    else:
        reg("add", key, "/v", name, "/t", "REG_BINARY", "/d", old.hex(), "/f")


class ScriptServer:
    """Serves the configuration script at /proxy.pac on 127.0.0.1 and logs
    every request's path and user agent; other paths give 404."""

    def __init__(self):
        requests = self.requests = []

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):  # noqa: N802 (the standard library's name)
                requests.append((self.path, self.headers.get("User-Agent")))
                if self.path != "/proxy.pac":
                    self.send_error(404)
                    return
                body = PAC.encode("ascii")
                self.send_response(200)
                self.send_header("Content-Type", "application/x-ns-proxy-autoconfig")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def url(self, path: str) -> str:
        return "http://127.0.0.1:%d%s" % (self.server.server_address[1], path)

    def stop(self) -> None:
        self.server.shutdown()
        self.server.server_close()


def build_calls(server: ScriptServer) -> dict:
    script = server.url("/proxy.pac")
    calls = {"load": call(PROXY + "loadFunctions0")}
    names = ("ie", "machine", "auto", "direct", "discover", "detect", "nourl", "missing")
    for name, size in zip(names, (4, 3, 3, 3, 3, 3, 3, 3)):
        calls[name + ".array"] = assign_value(name, ["untouched"] * size)
    calls["ie"] = call(PROXY + "getIEConfig0", Var("ie"))
    calls["machine"] = call(PROXY + "getDefaultConfig0", Var("machine"))
    # Flags 2: the script at the given URL; 1: automatic discovery alone
    # (DHCP and DNS, detection flags 1 | 2), which finds no server here;
    # 1 | 2: discovery first, then the script.
    calls["auto"] = call(PROXY + "getAutoProxyConfig0", Var("auto"), "http://www.example.com/index.html", script,
                         2, 0, False)
    calls["direct"] = call(PROXY + "getAutoProxyConfig0", Var("direct"), "http://host.internal.example/", script,
                           2, 0, False)
    calls["discover"] = call(PROXY + "getAutoProxyConfig0", Var("discover"), "http://www.example.org/", None,
                             1, 1 | 2, False)
    calls["detect"] = call(PROXY + "getAutoProxyConfig0", Var("detect"), "http://www.example.org/", script,
                           1 | 2, 1 | 2, True)
    calls["nourl"] = call(PROXY + "getAutoProxyConfig0", Var("nourl"), None, script, 2, 0, False)
    calls["missing"] = call(PROXY + "getAutoProxyConfig0", Var("missing"), "http://www.example.com/",
                            server.url("/missing.pac"), 2, 0, False)
    for name in names:
        calls[name + ".after"] = show(name)
    return calls


class Run:
    def __init__(self, report, names, requests):
        self.report = report
        self.calls = dict(zip(names, report.calls))
        self.requests = requests

    def result(self, name):
        outcome = self.calls[name]
        assert outcome.thrown is None and outcome.error is None, (outcome.text[:200], outcome.thrown, outcome.error)
        return outcome.result

    def entries(self, name) -> list:
        text = self.result(name + ".after")
        assert text.startswith("[") and text.endswith("]"), text
        return text[1:-1].split(", ")


@pytest.fixture(scope="module")
def run(tmp_path_factory):
    native_run.require()
    work = tmp_path_factory.mktemp("proxy")
    saved = {(USER_KEY, "DefaultConnectionSettings"): reg_binary(USER_KEY, "DefaultConnectionSettings"),
             (MACHINE_KEY, "WinHttpSettings"): reg_binary(MACHINE_KEY, "WinHttpSettings")}
    server = ScriptServer()
    try:
        set_binary(USER_KEY, "DefaultConnectionSettings", browser_settings())
        set_binary(MACHINE_KEY, "WinHttpSettings", winhttp_settings())
        calls = build_calls(server)
        params = jr.params_text(harness.windows_path(work / "report.txt"), end="exit:0",
                                natives=list(calls.values()))
        installer = harness.build_installer(
            work, TARGET, {"config": {"107": "0", "2001": "i", "122": "x", "128": "EJAVA_HOME;", "126": "1.8"}},
            files={"tvxruntime.jar": jr.JAR.read_bytes(), jr.PARAMS_FILE: params.encode("utf-8")})
        # No proxy from the environment: WinHTTP would take it when the registry names none.
        done = harness.run(TARGET, installer, ["-q"], timeout=300,
                           env={"JAVA_HOME": harness.windows_path(JAVA_HOME), "http_proxy": None,
                                "HTTP_PROXY": None, "https_proxy": None, "no_proxy": None})
        assert done.returncode == 0, done.describe()
        yield Run(jr.read_report(work / "report.txt"), list(calls), list(server.requests))
    finally:
        server.stop()
        for (key, name), old in saved.items():
            restore(key, name, old)


def auto_result(value: str) -> tuple:
    number = int(value)
    return number >> 32, number & 0xFFFFFFFF


def test_every_call_reached_a_registered_native(run):
    assert run.report["natives.registered"] == "true"
    assert [c for c in run.report.calls if c.thrown or c.error] == []
    assert run.result("load") == "true"


def test_browser_settings_of_the_current_user_are_read_back(run):
    assert run.result("ie") == "0"
    assert run.entries("ie") == ["true", IE_SCRIPT, IE_PROXY, IE_BYPASS]


def test_machine_default_names_its_proxy(run):
    assert run.result("machine") == "0"
    assert run.entries("machine") == ["true", MACHINE_PROXY, MACHINE_BYPASS]


def test_without_url_nothing_is_asked(run):
    assert run.result("nourl") == "0"
    assert run.entries("nourl") == ["untouched"] * 3


def test_a_script_that_cannot_be_fetched_fails_in_stage_2(run):
    assert any(path == "/missing.pac" for path, _ in run.requests)
    assert auto_result(run.result("missing")) == (2, ERROR_WINHTTP_UNABLE_TO_DOWNLOAD_SCRIPT)
    assert run.entries("missing") == ["untouched"] * 3


def _script_ran(run, name):
    stage, code = auto_result(run.result(name))
    if (stage, code) != (0, 0) and any(path == "/proxy.pac" for path, _ in run.requests):
        pytest.skip("Wine's WinHTTP fetched the configuration script but could not run it "
                    f"(stage {stage}, error {code})")
    assert (stage, code) == (0, 0)


def test_configuration_script_names_the_proxy_for_a_url(run):
    assert any(path == "/proxy.pac" for path, _ in run.requests)
    _script_ran(run, "auto")
    assert run.entries("auto") == ["true", "pac-proxy.example:8080", "untouched"]


def test_configuration_script_sends_some_hosts_direct(run):
    _script_ran(run, "direct")
    assert run.entries("direct") == ["false", "untouched", "untouched"]


def test_automatic_discovery_without_a_server_fails_in_stage_2(run):
    # Neither DHCP nor DNS names a configuration server in this sandbox.
    assert auto_result(run.result("discover")) == (2, ERROR_WINHTTP_AUTODETECTION_FAILED)
    assert run.entries("discover") == ["untouched"] * 3


def test_automatic_discovery_falls_back_to_the_script(run):
    if auto_result(run.result("detect")) == (2, ERROR_INVALID_PARAMETER):
        pytest.skip("Wine 8's WinHttpGetProxyForUrl refuses automatic discovery combined with a configuration "
                    "script URL (ERROR_INVALID_PARAMETER), a combination Windows accepts")
    _script_ran(run, "detect")
    assert run.entries("detect") == ["true", "pac-proxy.example:8080", "untouched"]
