#!/usr/bin/env python3
"""Packs the demo's graphical installer: the sample installer's Java side
with a parameter file that shows a window, and the real Windows Java 11
runtime of build/java/11 carried as "jre.tar.gz" (GNU tar format).

usage: graphical.py OUTPUT_DIR   (writes jre.tar.gz and graphical.json there)"""
import gzip
import json
import os
import sys
import tarfile

root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
out = os.path.abspath(sys.argv[1])
runtime = os.path.join(root, "build", "java", "11")
archive = os.path.join(out, "jre.tar.gz")
with tarfile.open(archive, "w:gz", format=tarfile.GNU_FORMAT) as tar:
    for name in sorted(os.listdir(runtime)):
        if not name.startswith("."):
            tar.add(os.path.join(runtime, name), arcname=name)
size = 0
with gzip.open(archive, "rb") as stream:
    while chunk := stream.read(1 << 20):
        size += len(chunk)
manifest = {
    "integrity_check": True,
    # A graphical installer (107 = 5); 151 is the archive's uncompressed size,
    # which the progress bar divides by while it unpacks.
    "config": {"107": "5", "2001": "i", "126": "1.8", "128": "EJAVA_HOME;", "151": str(size)},
    "messages": {"20007": "Preparing the demo installer ..."},
    "payload": [
        {"name": "tvxruntime.jar", "source": os.path.join(root, "build", "host", "tvxruntime.jar")},
        {"name": "tvxparams.conf", "source": os.path.join(root, "samples", "demo", "files", "graphical.conf")},
        {"name": "jre.tar.gz", "source": archive},
    ],
}
with open(os.path.join(out, "graphical.json"), "w") as f:
    json.dump(manifest, f, indent=2)
print("graphical.py: %s (%.1f MB, %d bytes unpacked)" % (archive, os.path.getsize(archive) / 1e6, size))
