"""The project's own Java runtime (build/host/tvxruntime.jar) as the tests see it.

Its launcher classes read "tvxparams.conf" from the current directory, make
the calls it lists, write a report of what the Java side was given and end as
asked. ``params_text`` writes that file, ``call`` formats one entry of its call
list, ``read_report``/``parse_report`` read the report back.

Report lines are ``key=value``, or a bare ``key`` when the value is null (an
unset property, an unset WinDel path); in values a backslash is doubled and
line feed and carriage return are written as ``\\n`` and ``\\r``.
"""

from __future__ import annotations

import dataclasses
from pathlib import Path
from typing import Iterable, Optional, Union

REPO_ROOT = Path(__file__).resolve().parents[2]
JAR = REPO_ROOT / "build" / "host" / "tvxruntime.jar"
BUILD_SCRIPT = REPO_ROOT / "java" / "build.sh"
PARAMS_FILE = "tvxparams.conf"

TOVRIX_LAUNCHER = "com.tovrix.runtime.launcher.WinLauncher"  # program kind "i"
KELPA_LAUNCHER = "com.kelpa.runtime.WinLauncher"  # every other kind


# --------------------------------------------------------------------------
# The parameter file


class Long(int):
    """An int written as a Java long literal (``5L``) in a call."""


class Expand(str):
    """A string written as a WinRegistry.ExpandString (``expand("...")``)."""


class ByteArray(bytes):
    """Bytes written as one byte[] (``bytes("00ff")``), which, unlike a plain
    bytes value's array literal, stays a byte[] for an Object parameter."""


class Var(str):
    """A variable of the call list as an argument (``$name``): the result or
    value an earlier ``assign`` kept."""


@dataclasses.dataclass(frozen=True)
class Pattern:
    """``pattern(length, seed)``: a byte[] of pattern bytes the Java side makes
    itself (see ``pattern_bytes``), for blocks too large for the call list."""
    length: int
    seed: int


def java_literal(value) -> str:
    """A Python value in the call syntax: None, bool, int, Long, str, Expand,
    ByteArray, and lists or tuples of those (array literals)."""
    if value is None:
        return "null"
    if isinstance(value, Var):
        return "$" + value
    if isinstance(value, Pattern):
        return "pattern(%d,%d)" % (value.length, value.seed)
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, Long):
        return "%dL" % value
    if isinstance(value, int):
        return str(value)
    if isinstance(value, Expand):
        return "expand(%s)" % java_literal(str(value))
    if isinstance(value, ByteArray):
        return 'bytes("%s")' % value.hex()
    if isinstance(value, str):
        escapes = {'"': '\\"', "\\": "\\\\", "\n": "\\n", "\r": "\\r", "\t": "\\t"}
        return '"' + "".join(escapes.get(c, c) for c in value) + '"'
    if isinstance(value, (list, tuple, bytes)):
        return "{" + ",".join(java_literal(v) for v in value) + "}"
    raise TypeError(f"no call literal for {value!r}")


def call(target: str, *args) -> str:
    """One call text, e.g. call("Registry.keyExists0", 1, "SOFTWARE", 0)."""
    return "%s(%s)" % (target, ",".join(java_literal(a) for a in args))


def assign(name: str, call_text: str) -> str:
    """An entry that makes a call (a text made by ``call``) and keeps its
    result in the variable ``name``."""
    return "$%s = %s" % (name, call_text)


def assign_value(name: str, value) -> str:
    """An entry that keeps a value (anything ``java_literal`` writes: an array
    for a native to fill in, a Pattern) in the variable ``name``."""
    return "$%s = %s" % (name, java_literal(value))


def show(name: str) -> str:
    """An entry whose result is the variable's current value."""
    return "$" + name


def pattern_bytes(length: int, seed: int) -> bytes:
    """The bytes of ``Pattern(length, seed)``: x = seed, then per byte
    x = x * 1664525 + 1013904223 (mod 2**32) and the byte is x >> 24."""
    out = bytearray(length)
    x = seed & 0xFFFFFFFF
    for i in range(length):
        x = (x * 1664525 + 1013904223) & 0xFFFFFFFF
        out[i] = x >> 24
    return bytes(out)


def byte_summary(data: bytes) -> str:
    """How the report shows a byte[] variable: ``byte[N] crc32=xxxxxxxx``, with
    the bytes in hexadecimal when there are 1 to 64."""
    import zlib
    text = "byte[%d] crc32=%08x" % (len(data), zlib.crc32(data))
    return text + (" " + data.hex() if 0 < len(data) <= 64 else "")


def _properties_value(text: str) -> str:
    """The text escaped for a java.util.Properties value, in plain ASCII."""
    out = []
    for i, c in enumerate(text):
        if c == "\\":
            out.append("\\\\")
        elif c in "\n\r\t\f":
            out.append({"\n": "\\n", "\r": "\\r", "\t": "\\t", "\f": "\\f"}[c])
        elif c == " " and i == 0:
            out.append("\\ ")
        elif " " <= c <= "~":
            out.append(c)
        else:
            units = c.encode("utf-16-be")
            out.extend("\\u%02x%02x" % (units[j], units[j + 1]) for j in range(0, len(units), 2))
    return "".join(out)


def params_text(report_path_windows: str, end: str = "return",
                natives: Union[None, str, Iterable[str]] = None, print_: bool = False) -> str:
    """The content of tvxparams.conf.

    report_path_windows: where the report goes, as the Java side sees it (a
    Windows path under Wine, relative paths against the extraction directory).
    end: "return", "exit:<n>" or "throw".
    natives: calls to make (texts made by ``call``), a list or one
    ";"-separated text.
    print_: also print the report to standard output.
    """
    entries = [("report", report_path_windows), ("end", end)]
    if natives is not None:
        entries.append(("natives", natives if isinstance(natives, str) else ";".join(natives)))
    if print_:
        entries.append(("print", "true"))
    return "".join("%s=%s\n" % (key, _properties_value(value)) for key, value in entries)


# --------------------------------------------------------------------------
# The report


@dataclasses.dataclass
class Call:
    """One requested call: exactly one of result, thrown, error is set."""
    text: str
    result: Optional[str] = None  # the returned value as text, "void" for void
    thrown: Optional[str] = None  # "<exception class>: <message>"
    error: Optional[str] = None  # why the call could not be made

    @property
    def unlinked(self) -> bool:
        return (self.thrown or "").startswith("java.lang.UnsatisfiedLinkError")


@dataclasses.dataclass
class Report:
    facts: dict  # every line's key to its value (None for a bare key), in order
    args: list
    properties: dict  # property name to value, None when unset
    calls: list

    def __getitem__(self, key):
        return self.facts[key]

    def __contains__(self, key):
        return key in self.facts

    def get(self, key, default=None):
        return self.facts.get(key, default)

    @property
    def init_from_launcher(self) -> list:
        """The values Common.initFromLauncher was called with, in order."""
        text = self.facts["initFromLauncher"]
        return [v == "true" for v in text.split(",")] if text else []

    @property
    def splash(self) -> Optional[list]:
        """The arguments of the last initAwtSplashConfig call, as text."""
        if "splash.calls" not in self.facts:
            return None
        return [self.facts["splash[%d]" % i] for i in range(14)]


def _unescape(text: str) -> str:
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\":
            nxt = text[i + 1:i + 2]
            if nxt not in ("\\", "n", "r"):
                raise ValueError(f"bad escape in report value {text!r}")
            out.append({"\\": "\\", "n": "\n", "r": "\r"}[nxt])
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def parse_report(text: str) -> Report:
    facts = {}
    for line in text.split("\n"):
        if not line:
            continue
        if "\r" in line:  # values escape it; a raw one means a broken writer
            raise ValueError(f"raw carriage return in report line {line!r}")
        key, sep, value = line.partition("=")
        if key in facts:
            raise ValueError(f"report repeats {key!r}")
        facts[key] = _unescape(value) if sep else None
    argc = int(facts["argc"])
    args = [facts["arg[%d]" % i] for i in range(argc)]
    properties = {k[len("property "):]: v for k, v in facts.items() if k.startswith("property ")}
    calls, i = [], 0
    while "call[%d]" % i in facts:
        found = {kind: facts.get("%s[%d]" % (kind, i)) for kind in ("result", "thrown", "error")}
        if sum("%s[%d]" % (kind, i) in facts for kind in found) != 1:
            raise ValueError(f"call[{i}] has not exactly one outcome")
        calls.append(Call(facts["call[%d]" % i], **found))
        i += 1
    if "end" not in facts:
        raise ValueError("report has no end line")
    return Report(facts, args, properties, calls)


def read_report(path: Union[str, Path]) -> Report:
    return parse_report(Path(path).read_bytes().decode("utf-8"))
