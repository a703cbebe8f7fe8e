#!/usr/bin/env python3
"""Downloading a Java runtime archive: the launcher against `curl`.

Packs the real 64-bit Windows Java 11 runtime (build/java/11) into a
"jre.tar.gz" and serves it from an HTTP server on localhost (Python's
standard library).  A quiet 64-bit installer whose entry 150 names that URL
and whose entry 157 asks for the download without a question runs under Wine
several times; the launcher's download time is taken from its launch log
("Downloading JRE" to "download successful": loading wininet.dll,
connecting, the length query and the transfer into the extraction
directory).  `curl` fetches the same URL into a file on the same file system
(its own "time_total").  Prints both medians and their ratio.

After the download the launcher unpacks the archive and starts the runtime;
the installer carries no Java side, so the run then ends with its error.
No proxy is used by either: the prefix's Internet Settings are switched to
a direct connection and the proxy variables removed.

Run after scripts/build.sh:
    python3 bench/download.py [--runs 5]
"""
import argparse
import http.server
import os
import statistics
import subprocess
import sys
import tarfile
import tempfile
import threading

from common import ROOT, first, pack_manifest, run_and_read_log, wine_env

RUNTIME = os.path.join(ROOT, "build", "java", "11")
PROXY_VARIABLES = ("http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY")


def make_archive(path):
    def visible(info):  # the fetch script's marker file stays out
        return None if os.path.basename(info.name).startswith(".") else info

    with tarfile.open(path, "w:gz", format=tarfile.GNU_FORMAT) as tar:
        for name in sorted(os.listdir(RUNTIME)):
            tar.add(os.path.join(RUNTIME, name), arcname=name, filter=visible)


def serve(directory):
    """An HTTP server for `directory` on a free port of 127.0.0.1."""
    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *args, **kwargs):
            super().__init__(*args, directory=directory, **kwargs)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def installer(work, url):
    jar = os.path.join(work, "empty.jar")
    with open(jar, "wb") as f:
        f.write(b"PK\x05\x06" + bytes(18))
    manifest = {"config": {"107": "0", "2001": "i", "126": "1.8", "128": "EJAVA_HOME;", "150": url, "157": "1"},
                "payload": [{"name": "tvxruntime.jar", "source": jar}]}
    return pack_manifest(work, "win64", manifest, "setup.exe")


def direct_connection():
    subprocess.run(["wine", "reg", "add", r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings",
                    "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "0", "/f"], env=wine_env(), capture_output=True,
                   check=True)


def launcher_seconds(exe):
    lines = run_and_read_log(exe, ["-q", "-nocheck"])
    start, _ = first(lines, "Downloading JRE")
    end, _ = first(lines, "download successful")
    return (end - start) / 1000.0


def curl_seconds(url, target):
    done = subprocess.run(["curl", "--silent", "--show-error", "--fail", "--noproxy", "*", "-o", target,
                           "-w", "%{time_total}", url], capture_output=True, text=True, check=True)
    os.remove(target)
    return float(done.stdout)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    if not os.path.exists(os.path.join(RUNTIME, "bin", "server", "jvm.dll")):
        sys.exit("no Java runtime in %s (scripts/fetch_java.sh fetches it)" % RUNTIME)
    for name in ("JAVA_HOME", "JDK_HOME", "KELPA_JAVA_HOME", "TOVRIX_JAVA_HOME") + PROXY_VARIABLES:
        os.environ.pop(name, None)  # no runtime to find, no proxy to use
    direct_connection()
    with tempfile.TemporaryDirectory(dir=os.path.join(ROOT, "build")) as work:
        served = os.path.join(work, "served")
        os.mkdir(served)
        archive = os.path.join(served, "jre.tar.gz")
        make_archive(archive)
        server = serve(served)
        try:
            url = "http://127.0.0.1:%d/jre.tar.gz" % server.server_address[1]
            exe = installer(work, url)
            launcher = [launcher_seconds(exe) for _ in range(args.runs)]
            curl = [curl_seconds(url, os.path.join(work, "curl.tar.gz")) for _ in range(args.runs)]
        finally:
            server.shutdown()
        size = os.path.getsize(archive)

    print("downloading the Java 11 runtime archive (%.1f MB) from a server on localhost, median of %d runs"
          % (size / 1e6, args.runs))
    lm, cm = statistics.median(launcher), statistics.median(curl)
    print("%-28s %8.3f s   (runs: %s)" % ("launcher (64-bit, Wine)", lm, " ".join("%.3f" % s for s in launcher)))
    print("%-28s %8.3f s   (runs: %s)" % ("curl", cm, " ".join("%.3f" % s for s in curl)))
    print("%-28s %8.2f x" % ("ratio launcher / curl", lm / cm))


if __name__ == "__main__":
    main()
