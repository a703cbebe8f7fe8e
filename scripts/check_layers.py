#!/usr/bin/env python3
"""Checks that the product's folders include each other in one direction only.

The folders are layers, lowest first; a file may include headers of its own
folder and of lower folders, never of a higher one:

    launcher/   configuration, log, errors, paths, temporary directory, ...
    natives/    the JNI layer and the natives the Java side calls
    jvm/        finding, loading and starting a Java runtime
    frontend/   what the installer shows and does around the start
    startup/    the entry point and the main flow, which use all of them

resources/resource_ids.h may be included from anywhere; the packer (tools/)
shares launcher headers.  Prints the include counts between folders and
every include that points upwards; exits 1 when there is one.

usage: check_layers.py [repository root]"""

import re
import sys
from collections import Counter
from pathlib import Path

LAYERS = ["launcher", "natives", "jvm", "frontend", "startup"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def main(root: Path) -> int:
    edges = Counter()
    upward = []
    for folder in LAYERS:
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in (".h", ".cpp", ".inc"):
                continue
            for target in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
                other = target.split("/")[0]
                if other not in LAYERS or other == folder:
                    continue
                edges[(folder, other)] += 1
                if LAYERS.index(other) > LAYERS.index(folder):
                    upward.append(f"{path.relative_to(root)} includes {target}")
    print("includes between folders (from -> to: count):")
    for (source, target), count in sorted(edges.items(), key=lambda e: (LAYERS.index(e[0][0]),
                                                                         LAYERS.index(e[0][1]))):
        print(f"  {source} -> {target}: {count}")
    if upward:
        print("includes against the layer order:")
        for line in upward:
            print("  " + line)
        return 1
    print("no include against the layer order " + " < ".join(LAYERS))
    return 0


if __name__ == "__main__":
    sys.exit(main(Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parents[1]))
