#!/usr/bin/env python3
"""Writes the module-definition file that exports every native of
native_methods.inc under its exact name: decorated stdcall names
("_Java_..._m@N", aliases of the compiler's "Java_..._m@N") for the 32-bit
build, plain JNI names for the 64-bit build.

usage: make_exports_def.py native_methods.inc OUTPUT.def {i686|x86_64}"""
import re
import sys

PACKAGE = "com_tovrix_runtime_installer_platform_win32"


def argument_bytes(signature):
    args = re.match(r"\((.*)\)", signature).group(1)
    total, i = 8, 0
    while i < len(args):
        array = args[i] == "["
        while args[i] == "[":
            i += 1
        kind = args[i]
        i = args.index(";", i) + 1 if kind == "L" else i + 1
        total += 8 if (kind in "JD" and not array) else 4
    return total


def main(source, output, arch):
    methods = re.findall(r'^NATIVE_METHOD\((\w+), (\w+), "([^"]+)"\)', open(source).read(), re.M)
    lines = ["EXPORTS", "    registerNatives"]
    for cls, method, signature in methods:
        symbol = "Java_%s_%s_%s" % (PACKAGE, cls, method)
        if arch == "i686":
            n = argument_bytes(signature)
            lines.append("    _%s@%d = %s@%d" % (symbol, n, symbol, n))
        else:
            lines.append("    " + symbol)
    with open(output, "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main(*sys.argv[1:4])
