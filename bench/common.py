"""Helpers shared by the benchmarks: packing installers, running them under
Wine, reading the launch log's elapsed-time prefixes and peak memory."""
import glob
import json
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PREFIX_LINE = re.compile(r"^\[(\d+):(\d+)\] (.*)$")


def wine_env():
    env = dict(os.environ)
    env.update(WINEPREFIX=os.path.join(ROOT, "build", "wineprefix"), WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=", TOVRIX_LOG="yes")
    return env


def wine_temp_dir():
    out = subprocess.run(["wine", "cmd", "/c", "echo", "%TEMP%"], env=wine_env(),
                         capture_output=True, text=True).stdout.strip()
    return subprocess.run(["winepath", "-u", out], env=wine_env(), capture_output=True,
                          text=True).stdout.strip()


def make_payload(path, size):
    block = os.urandom(1 << 20)
    with open(path, "wb") as f:
        for _ in range(size >> 20):
            f.write(block)


def pack_manifest(work, target, manifest, name):
    """Writes the manifest into `work` and packs it onto the target's stub."""
    mpath = os.path.join(work, "m.json")
    with open(mpath, "w") as f:
        json.dump(manifest, f)
    out = os.path.join(work, name)
    subprocess.run([os.path.join(ROOT, "build", "host", "tvxpack"), "--stub",
                    os.path.join(ROOT, "build", target, "launcher.exe"), "--manifest", mpath,
                    "--output", out], check=True)
    return out


def pack(work, target, payload, name="tvxruntime.jar"):
    manifest = {"config": {"107": "0", "2001": "i"}, "payload": [{"name": name, "source": payload}]}
    return pack_manifest(work, target, manifest, "setup-%s.exe" % target)


def run_and_read_log(installer, args=()):
    """Runs the installer with its log kept; returns the log as (ms, text) lines."""
    logdir = wine_temp_dir()
    for old in glob.glob(os.path.join(logdir, "tvx_nlog_*.log")):
        os.remove(old)
    subprocess.run(["wine", installer] + list(args), env=wine_env(), capture_output=True)
    log = max(glob.glob(os.path.join(logdir, "tvx_nlog_*.log")), key=os.path.getmtime)
    lines = []
    with open(log, encoding="utf-8-sig") as f:
        for line in f:
            m = PREFIX_LINE.match(line.rstrip("\r\n"))
            if m:
                lines.append((int(m.group(1)) * 1000 + int(m.group(2)), m.group(3)))
    return lines


def first(lines, prefix):
    for ms, text in lines:
        if text.startswith(prefix):
            return ms, text
    raise SystemExit("log line %r not found" % prefix)


def peak_rss_mib(installer, args=()):
    """Peak resident memory of the launcher process, run in a fresh child so
    RUSAGE_CHILDREN reflects that run alone."""
    code = ("import sys,resource,subprocess,os;"
            "subprocess.run(['wine'] + sys.argv[1:], env=os.environ, capture_output=True);"
            "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
    out = subprocess.run([sys.executable, "-c", code, installer] + list(args), env=wine_env(),
                         capture_output=True, text=True).stdout.strip()
    return int(out) / 1024.0
