#!/usr/bin/env python3
"""Integrity-check throughput and launcher peak memory.

Packs installers with payloads of 20 MB and 200 MB, runs each under Wine with
the integrity check on, and prints the check's throughput, taken from the
launch log's own elapsed-time prefixes ("verifying integrity length" to
"checksums:"), next to `cat` of the same file (both with the file in the page
cache), and the launcher's peak resident memory, which must not grow with the
payload.  Run after scripts/build.sh:
    python3 bench/integrity.py [--target win32|win64]
"""
import argparse
import os
import subprocess
import tempfile
import time

from common import ROOT, first, make_payload, pack, peak_rss_mib, run_and_read_log


def cat_seconds(path):
    start = time.perf_counter()
    subprocess.run(["cat", path], stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


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
            os.remove(payload)
            cat_seconds(installer)  # page cache warm for both readers
            cat_s = min(cat_seconds(installer) for _ in range(3))
            peak = peak_rss_mib(installer)
            lines = run_and_read_log(installer)
            start, text = first(lines, "verifying integrity length")
            end, sums = first(lines, "checksums:")
            length = int(text.split()[-1])
            seconds = max(end - start, 1) / 1000.0
            size = os.path.getsize(installer)
            ok = sums.split()[1] == sums.split()[2]
            rows.append((mb, size, length / seconds / 1e6, size / cat_s / 1e6, peak, ok))
    print("target %s: integrity check" % args.target)
    print("%8s %12s %14s %12s %14s %7s" % ("payload", "file bytes", "check MB/s", "cat MB/s", "peak RSS MiB",
                                          "crc ok"))
    for mb, size, check, cat, peak, ok in rows:
        print("%6dMB %12d %14.0f %12.0f %14.1f %7s" % (mb, size, check, cat, peak, ok))


if __name__ == "__main__":
    main()
