#!/usr/bin/env python3
"""Integrity-check throughput and launcher peak memory.

Packs installers with payloads of 20 MB and 200 MB, runs each under Wine with
the integrity check on, and reports:
  - the check's throughput, taken from the launch log's own elapsed-time
    prefixes ("verifying integrity length" to "checksums:"), next to `cat` of
    the same file (both with the file in the page cache);
  - the launcher process's peak resident memory for both sizes, which must not
    grow with the payload.
Run after scripts/build.sh:  python3 bench/integrity.py [--target win32|win64]
"""
import argparse
import glob
import json
import os
import re
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PREFIX_LINE = re.compile(r"^\[(\d+):(\d+)\] (.*)$")


def wine_env():
    env = dict(os.environ)
    env.update(WINEPREFIX=os.path.join(ROOT, "build", "wineprefix"), WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=", TOVRIX_LOG="yes")
    return env


def temp_dir():
    out = subprocess.run(["wine", "cmd", "/c", "echo", "%TEMP%"], env=wine_env(),
                         capture_output=True, text=True).stdout.strip()
    return subprocess.run(["winepath", "-u", out], env=wine_env(), capture_output=True,
                          text=True).stdout.strip()


def make_payload(path, size):
    block = os.urandom(1 << 20)
    with open(path, "wb") as f:
        for _ in range(size >> 20):
            f.write(block)


def pack(work, target, payload):
    manifest = {"config": {"107": "0", "2001": "i"},
                "payload": [{"name": "tvxruntime.jar", "source": payload}]}
    mpath = os.path.join(work, "m.json")
    with open(mpath, "w") as f:
        json.dump(manifest, f)
    out = os.path.join(work, "setup-%s.exe" % target)
    subprocess.run([os.path.join(ROOT, "build", "host", "tvxpack"), "--stub",
                    os.path.join(ROOT, "build", target, "launcher.exe"), "--manifest", mpath,
                    "--output", out], check=True)
    return out


def run_launcher(installer, logdir):
    for old in glob.glob(os.path.join(logdir, "tvx_nlog_*.log")):
        os.remove(old)
    subprocess.run(["wine", installer], env=wine_env(), capture_output=True)
    log = max(glob.glob(os.path.join(logdir, "tvx_nlog_*.log")), key=os.path.getmtime)
    times = {}
    with open(log, encoding="utf-8-sig") as f:
        for line in f:
            m = PREFIX_LINE.match(line.rstrip("\r\n"))
            if not m:
                continue
            ms = int(m.group(1)) * 1000 + int(m.group(2))
            text = m.group(3)
            if text.startswith("verifying integrity length"):
                times["start"] = ms
                times["length"] = int(text.split()[-1])
            elif text.startswith("checksums:"):
                times["end"] = ms
                a, b = text.split()[1:3]
                times["ok"] = a == b
    return times


def cat_seconds(path):
    start = time.perf_counter()
    subprocess.run(["cat", path], stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--target", default="win32", choices=["win32", "win64"])
    args = parser.parse_args()
    logdir = temp_dir()
    with tempfile.TemporaryDirectory(dir=os.path.join(ROOT, "build")) as work:
        rows = []
        for mb in (20, 200):
            payload = os.path.join(work, "payload-%d.bin" % mb)
            make_payload(payload, mb << 20)
            installer = pack(work, args.target, payload)
            os.remove(payload)
            cat_seconds(installer)  # page cache warm for both readers
            cat_s = min(cat_seconds(installer) for _ in range(3))
            # Peak memory per run: run each size in a fresh Python child so
            # RUSAGE_CHILDREN reflects that run alone.
            code = ("import sys,resource,subprocess,os;"
                    "subprocess.run(['wine', sys.argv[1]], env=os.environ, capture_output=True);"
                    "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
            peak = int(subprocess.run([sys.executable, "-c", code, installer], env=wine_env(),
                                      capture_output=True, text=True).stdout.strip())
            times = run_launcher(installer, logdir)
            seconds = max(times["end"] - times["start"], 1) / 1000.0
            size = os.path.getsize(installer)
            rows.append((mb, size, times["length"] / seconds / 1e6, size / cat_s / 1e6, peak / 1024.0,
                         times["ok"]))
            os.remove(installer)
    print("target %s" % args.target)
    print("%8s %12s %18s %14s %16s %6s" % ("payload", "file bytes", "check MB/s", "cat MB/s",
                                           "peak RSS MiB", "crc ok"))
    for mb, size, check, cat, peak, ok in rows:
        print("%6dMB %12d %18.0f %14.0f %16.1f %6s" % (mb, size, check, cat, peak, ok))


if __name__ == "__main__":
    main()
