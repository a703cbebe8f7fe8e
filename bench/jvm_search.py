#!/usr/bin/env python3
"""JVM search time with a cold and a warm located-JVM cache.

Packs an installer whose search sequence names JAVA_HOME, points JAVA_HOME at
a runtime and runs it quietly under Wine: first with the runtime's cache entry
deleted (the search runs "java -version"), then again with the entry the first
run wrote (no child process).  The search time is taken from the launch log,
from "Searching for a JVM" to "Loading of JVM-DLL successful", "No JVM
found" or, when the library does not load (a 64-bit runtime in the 32-bit
launcher), "Could not get DLL-Handle.".  Runtimes: a fake home made of the
java.exe and jvm.dll test doubles of the target's build, and the real Java 11
runtime of scripts/fetch_java.sh when it is there.  Run after scripts/build.sh:
    python3 bench/jvm_search.py [--target win32|win64] [--runs N]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import tempfile

from common import ROOT, pack_manifest, run_and_read_log, wine_env

END_LINES = ("Loading of JVM-DLL successful", "Could not get DLL-Handle.", "No JVM found")


def windows_path(path):
    return "Z:" + os.path.realpath(path).replace("/", "\\")


def pack_search_installer(work, target):
    for name, data in (("tvxruntime.jar", b"PK\x05\x06" + bytes(18)), ("tvxparams.conf", b"mode=bench\r\n")):
        with open(os.path.join(work, name), "wb") as f:
            f.write(data)
    manifest = {"config": {"107": "0", "2001": "i", "126": "1.8", "128": "EJAVA_HOME"},
                "payload": [{"name": n, "source": n} for n in ("tvxruntime.jar", "tvxparams.conf")]}
    return pack_manifest(work, target, manifest, "search-%s.exe" % target)


def fake_home(work, target):
    doubles = os.path.join(ROOT, "build", target, "doubles")
    home = os.path.join(work, "fake_jre")
    os.makedirs(os.path.join(home, "bin", "client"))
    shutil.copyfile(os.path.join(doubles, "java.exe"), os.path.join(home, "bin", "java.exe"))
    shutil.copyfile(os.path.join(doubles, "jvm.dll"), os.path.join(home, "bin", "client", "jvm.dll"))
    with open(os.path.join(home, "bin", "java.cfg"), "w") as f:
        f.write('line=openjdk version "11.0.2" 2019-01-15\nexit=0\n')
    return home


def delete_cache_entry(home):
    exe = windows_path(os.path.join(home, "bin", "java.exe")).lower().replace("\\", "/")
    subprocess.run(["wine", "reg", "delete", "HKCU\\SOFTWARE\\quillmoor\\kelpa\\jvms\\" + exe, "/f"],
                   env=wine_env(), capture_output=True)


def search_ms(installer, home):
    os.environ["JAVA_HOME"] = windows_path(home)
    lines = run_and_read_log(installer, ["-q"])
    start = next(ms for ms, text in lines if text == "Searching for a JVM")
    end_ms, end_text = next((ms, text) for ms, text in lines if text in END_LINES)
    executed = any(text.startswith("got version from execution") for _, text in lines)
    return end_ms - start, end_text, executed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--target", default="win32", choices=["win32", "win64"])
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    for name in ("JDK_HOME", "KELPA_JAVA_HOME", "TOVRIX_JAVA_HOME", "_JAVA_OPTIONS"):
        os.environ.pop(name, None)
    rows = []
    with tempfile.TemporaryDirectory(dir=os.path.join(ROOT, "build")) as work:
        installer = pack_search_installer(work, args.target)
        homes = [("test double", fake_home(work, args.target))]
        real = os.path.join(ROOT, "build", "java", "11")
        if os.path.exists(os.path.join(real, "bin", "java.exe")):
            homes.append(("real Java 11", real))
        for label, home in homes:
            cold, warm = [], []
            for _ in range(args.runs):
                delete_cache_entry(home)
                cold.append(search_ms(installer, home))
                warm.append(search_ms(installer, home))
            rows.append((label, cold, warm))
    print("target %s: JVM search (ms from 'Searching for a JVM' to its outcome), median of %d"
          % (args.target, args.runs))
    print("%-14s %10s %10s  %s" % ("runtime", "cold", "warm", "outcome / child process cold, warm"))
    for label, cold, warm in rows:
        print("%-14s %10.0f %10.0f  %s / %s, %s" % (
            label, statistics.median(ms for ms, _, _ in cold), statistics.median(ms for ms, _, _ in warm),
            cold[-1][1], "yes" if all(e for _, _, e in cold) else "no",
            "yes" if any(e for _, _, e in warm) else "no"))


if __name__ == "__main__":
    main()
