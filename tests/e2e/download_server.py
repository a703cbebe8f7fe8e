"""A real HTTP server on localhost for the runtime download, started by the
tests with Python's standard library; Wine's own wininet.dll talks to it.

``RuntimeServer`` serves one archive at "/jre.tar.gz" and can be told to
misbehave (``mode``):

* "normal": the archive with its Content-Length;
* "close once": the first connection is closed after the request was read,
  without an answer; later requests are answered normally;
* "no length": the archive without a Content-Length (the connection's end
  ends the body);
* "zero": "Content-Length: 0" and no body;
* "short": the full Content-Length, half the body, then the connection closes;
* "not found": status 404 with a small page and its length;
* "slow": the answer after a pause of a second, then the archive in pieces
  with pauses, so that the whole transfer takes about ``slow_seconds``
  (several status-line updates).

Every request is recorded with the time it arrived and, when ``watch_dir``
is given, the "jre.tar.gz" files that existed anywhere below it at that
moment (what an earlier failed attempt left behind).

``no_proxy`` makes sure the session's prefix has no proxy configured (the
launcher opens its connection with INTERNET_OPEN_TYPE_PRECONFIG, which reads
the prefix's Internet Settings, and Wine also reads http_proxy from the
environment): ``PROXY_FREE_ENV`` removes the variables for a run.
"""

from __future__ import annotations

import dataclasses
import http.server
import subprocess
import threading
import time
from pathlib import Path

import harness

MODES = ("normal", "close once", "no length", "zero", "short", "not found", "slow")

INTERNET_SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
PROXY_VARIABLES = ("http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY")
PROXY_FREE_ENV = {name: None for name in PROXY_VARIABLES}


@dataclasses.dataclass
class Request:
    path: str
    at: float  # time.monotonic()
    user_agent: str
    leftovers: list  # "jre.tar.gz" files below watch_dir when the request came


class RuntimeServer:
    def __init__(self, data: bytes, mode: str = "normal", watch_dir: Path | None = None,
                 slow_seconds: float = 4.0) -> None:
        assert mode in MODES, mode
        self.data = data
        self.mode = mode
        self.watch_dir = watch_dir
        self.slow_seconds = slow_seconds
        self.requests: list[Request] = []
        self._lock = threading.Lock()
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.0"

            def log_message(self, *args) -> None:  # quiet
                pass

            def do_GET(self) -> None:  # noqa: N802 (the standard library's name)
                server._serve(self)

        self._httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self._httpd.daemon_threads = True
        self._thread = threading.Thread(target=self._httpd.serve_forever, daemon=True)

    @property
    def url(self) -> str:
        return f"http://127.0.0.1:{self._httpd.server_address[1]}/jre.tar.gz"

    def __enter__(self) -> "RuntimeServer":
        self._thread.start()
        return self

    def __exit__(self, *exc) -> None:
        self._httpd.shutdown()
        self._httpd.server_close()
        self._thread.join(timeout=10)

    def _serve(self, handler: http.server.BaseHTTPRequestHandler) -> None:
        leftovers = sorted(str(p) for p in self.watch_dir.rglob("jre.tar.gz")) if self.watch_dir else []
        with self._lock:
            first = not self.requests
            self.requests.append(Request(handler.path, time.monotonic(), handler.headers.get("User-Agent", ""),
                                         leftovers))
        if handler.path != "/jre.tar.gz":
            handler.send_error(404)
            return
        mode = self.mode
        if mode == "close once" and first:
            handler.close_connection = True
            return  # the request was read; the connection closes unanswered
        if mode == "not found":
            page = b"<html>no runtime here</html>"
            handler.send_response(404)
            handler.send_header("Content-Length", str(len(page)))
            handler.end_headers()
            handler.wfile.write(page)
            return
        body = b"" if mode == "zero" else self.data
        if mode == "slow":
            time.sleep(1.0)  # long enough to see the connecting text
        handler.send_response(200)
        handler.send_header("Content-Type", "application/gzip")
        if mode != "no length":
            handler.send_header("Content-Length", str(len(body)))
        handler.end_headers()
        try:
            if mode == "short":
                handler.wfile.write(body[:len(body) // 2])
            elif mode == "slow":
                pieces = 40
                step = max(1, -(-len(body) // pieces))
                for start in range(0, len(body), step):
                    handler.wfile.write(body[start:start + step])
                    handler.wfile.flush()
                    time.sleep(self.slow_seconds / pieces)
            else:
                handler.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError):
            pass
        handler.close_connection = True


def no_proxy() -> None:
    """Turns any proxy of the session's prefix off (per user, where wininet's
    INTERNET_OPEN_TYPE_PRECONFIG reads it)."""
    env = harness.wine_env(PROXY_FREE_ENV, harness.session_display())

    def reg(*args: str) -> subprocess.CompletedProcess:
        return subprocess.run(["wine", "reg", *args], env=env, stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=harness.DEFAULT_TIMEOUT, check=False)

    done = reg("add", INTERNET_SETTINGS, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "0", "/f")
    assert done.returncode == 0, done.stderr
    for name in ("ProxyServer", "AutoConfigURL"):
        reg("delete", INTERNET_SETTINGS, "/v", name, "/f")
