#!/usr/bin/env python3
"""Unpacking a carried Java runtime: the launcher against `tar xzf`.

Packs the real 64-bit Windows Java 11 runtime (build/java/11) into a
"jre.tar.gz" with Python's tarfile, carries it in an installer and runs that
under Wine several times; the launcher's unpack time is taken from its launch
log ("extracting JRE" to "untaring JRE was successful").  The same archive is
unpacked with `tar xzf` on the same machine into the same file system.  Prints
both medians and their ratio (goal: at most 1.3).

The runtime sits one directory level down in the benchmark's archives, so the
launcher finds no java.exe in "jre" and ends with its "Could not use bundled
JRE" message right after the unpack instead of starting a Java VM: the peak
resident memory of the run is then the unpack's.  It is measured for the
runtime archive and for one three times its size, and must not grow with it.

Run after scripts/build.sh:
    python3 bench/untar.py [--runs 5]
"""
import argparse
import gzip
import os
import shutil
import statistics
import subprocess
import sys
import tarfile
import tempfile
import time

from common import ROOT, first, pack_manifest, run_and_read_log, wine_env

RUNTIME = os.path.join(ROOT, "build", "java", "11")


def make_archive(path, copies):
    """The runtime `copies` times, each below a directory of its own."""
    def visible(info):  # the fetch script's marker file stays out
        return None if os.path.basename(info.name).startswith(".") else info

    with tarfile.open(path, "w:gz", format=tarfile.GNU_FORMAT) as tar:
        for n in range(copies):
            tar.add(RUNTIME, arcname="runtime%d" % n, filter=visible)
    with gzip.open(path, "rb") as stream:
        size = 0
        while True:
            chunk = stream.read(1 << 20)
            if not chunk:
                return size
            size += len(chunk)


def installer(work, archive, size, name):
    jar = os.path.join(work, "empty.jar")
    with open(jar, "wb") as f:
        f.write(b"PK\x05\x06" + bytes(18))
    manifest = {"config": {"107": "0", "2001": "i", "126": "1.8", "128": "EJAVA_HOME;", "151": str(size)},
                "payload": [{"name": "tvxruntime.jar", "source": jar},
                            {"name": "jre.tar.gz", "source": archive}]}
    return pack_manifest(work, "win64", manifest, name)


def launcher_seconds(exe):
    lines = run_and_read_log(exe, ["-q", "-nocheck"])
    start, _ = first(lines, "extracting JRE")
    end, _ = first(lines, "untaring JRE was successful")
    return (end - start) / 1000.0


def peak_resident_mib(exe, args):
    """The launcher's peak resident memory (VmHWM), sampled from /proc while it
    runs.  `wine` hands the program to a process of its own that is not a
    child of this one, so the rusage of children would only show the starter;
    the sample taken last before the program ends holds its peak, as VmHWM
    never goes down."""
    process = subprocess.Popen(["wine", exe] + list(args), env=wine_env(), stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    wanted = os.path.basename(exe).encode()
    peak = 0
    while process.poll() is None:
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    command = f.read().split(b"\0")[0]
                if not command.endswith(b"\\" + wanted):
                    continue
                with open("/proc/%s/status" % pid) as f:
                    for line in f:
                        if line.startswith("VmHWM:"):
                            peak = max(peak, int(line.split()[1]))
            except OSError:
                continue
        time.sleep(0.01)
    if peak == 0:
        sys.exit("the launcher process of %s was not found" % exe)
    return peak / 1024.0


def tar_seconds(archive, work):
    target = os.path.join(work, "tar_out")
    os.mkdir(target)
    start = time.perf_counter()
    subprocess.run(["tar", "xzf", archive, "-C", target], check=True)
    seconds = time.perf_counter() - start
    shutil.rmtree(target)
    return seconds


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    if not os.path.exists(os.path.join(RUNTIME, "bin", "server", "jvm.dll")):
        sys.exit("no Java runtime in %s (scripts/fetch_java.sh fetches it)" % RUNTIME)
    for name in ("JAVA_HOME", "JDK_HOME", "KELPA_JAVA_HOME", "TOVRIX_JAVA_HOME"):
        os.environ.pop(name, None)  # no other runtime: the run ends after the unpack
    with tempfile.TemporaryDirectory(dir=os.path.join(ROOT, "build")) as work:
        rows = []
        for copies in (1, 3):
            archive = os.path.join(work, "jre%d.tar.gz" % copies)
            size = make_archive(archive, copies)
            exe = installer(work, archive, size, "setup%d.exe" % copies)
            rows.append((copies, archive, size, exe))

        _, archive, size, exe = rows[0]
        launcher = [launcher_seconds(exe) for _ in range(args.runs)]
        tar = [tar_seconds(archive, work) for _ in range(args.runs)]
        peaks = [(copies, size, peak_resident_mib(exe, ["-q", "-nocheck"])) for copies, _, size, exe in rows]
        compressed = os.path.getsize(archive)

    files = sum(len(names) for _, _, names in os.walk(RUNTIME))
    print("unpacking the Java 11 runtime archive (%d files, %.1f MB uncompressed, %.1f MB compressed), "
          "median of %d runs" % (files, rows[0][2] / 1e6, compressed / 1e6, args.runs))
    lm, tm = statistics.median(launcher), statistics.median(tar)
    print("%-28s %8.3f s   (runs: %s)" % ("launcher (64-bit, Wine)", lm, " ".join("%.3f" % s for s in launcher)))
    print("%-28s %8.3f s   (runs: %s)" % ("tar xzf", tm, " ".join("%.3f" % s for s in tar)))
    print("%-28s %8.2f x   (goal: at most 1.3)" % ("ratio launcher / tar", lm / tm))
    print("peak resident memory of the launcher run:")
    for copies, size, peak in peaks:
        print("  archive of %5.1f MB uncompressed: %6.1f MiB" % (size / 1e6, peak))


if __name__ == "__main__":
    main()
