#!/usr/bin/env python3
"""Payload extraction throughput and launcher peak memory.

Packs installers with one payload file of 20 MB and of 200 MB, runs each under
Wine with "-nocheck" (so only extraction is timed), and prints the extraction
throughput taken from the launch log ("extracting files" to "extracting files
done") next to a plain `cp` of the same payload, and the launcher's peak
resident memory, which must not grow with the payload.  Run after
scripts/build.sh:
    python3 bench/extraction.py [--target win32|win64]
"""
import argparse
import os
import subprocess
import tempfile
import time

from common import ROOT, first, make_payload, pack, peak_rss_mib, run_and_read_log


def copy_seconds(source, work):
    target = os.path.join(work, "copy.bin")
    start = time.perf_counter()
    subprocess.run(["cp", source, target], check=True)
    subprocess.run(["sync", target], check=False)
    seconds = time.perf_counter() - start
    os.remove(target)
    return seconds


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--target", default="win32", choices=["win32", "win64"])
    args = parser.parse_args()
    rows = []
    with tempfile.TemporaryDirectory(dir=os.path.join(ROOT, "build")) as work:
        for mb in (20, 200):
            payload = os.path.join(work, "payload.bin")
            make_payload(payload, mb << 20)
            installer = pack(work, args.target, payload)
            copy_s = min(copy_seconds(payload, work) for _ in range(2))
            os.remove(payload)
            peak = peak_rss_mib(installer, ["-nocheck"])
            lines = run_and_read_log(installer, ["-nocheck"])
            start, _ = first(lines, "extracting files")
            end, _ = first(lines, "extracting files done")
            seconds = max(end - start, 1) / 1000.0
            rows.append((mb, (mb << 20) / seconds / 1e6, (mb << 20) / copy_s / 1e6, peak))
    print("target %s: payload extraction" % args.target)
    print("%8s %16s %12s %14s" % ("payload", "extract MB/s", "cp MB/s", "peak RSS MiB"))
    for mb, extract, copy, peak in rows:
        print("%6dMB %16.0f %12.0f %14.1f" % (mb, extract, copy, peak))


if __name__ == "__main__":
    main()
