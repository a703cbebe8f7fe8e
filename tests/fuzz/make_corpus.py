#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora, tests/fuzz/corpus/<harness>/, from real
inputs: installers packed by the packer from the demo's manifest (their
headers, configuration block and payload, the stub's sections left out),
runtime archives made by the end-to-end tests' own helper (decompressed to
the tar stream the reader sees), and deletion lists, pipe blocks, options
files, command lines and "-version" outputs as the launcher meets them.

Needs build/host/tvxpack and build/win32/launcher.exe (scripts/build.sh).
Seeds are named seed-*; the fuzzers' own finds and regression-* inputs in
the same folders are left alone.

    python3 tests/fuzz/make_corpus.py
"""
from __future__ import annotations

import gzip
import io
import json
import struct
import subprocess
import sys
import tarfile
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
CORPUS = ROOT / "tests" / "fuzz" / "corpus"
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import progress_watch as pw  # noqa: E402  (the tests' archive helper)


def write(harness: str, name: str, data: bytes) -> None:
    folder = CORPUS / harness
    folder.mkdir(parents=True, exist_ok=True)
    (folder / f"seed-{name}").write_bytes(data)


def utf16(text: str) -> bytes:
    return text.encode("utf-16-le")


# --------------------------------------------------------------------------
# Installers

def shrink(installer: bytes) -> bytes:
    """The installer without the stub's sections: its headers up to the end of
    the section table, the last section's raw data moved to end there, then
    the block, payload and data exactly as packed (the CRC still matches)."""
    header = struct.unpack_from("<i", installer, 60)[0]
    sections = struct.unpack_from("<h", installer, header + 6)[0]
    optional = struct.unpack_from("<h", installer, header + 20)[0]
    table = header + 24 + optional
    last = table + 40 * (sections - 1)
    raw_size, raw_offset = struct.unpack_from("<ii", installer, last + 16)
    image_end = raw_size + raw_offset
    headers = bytearray(installer[:table + 40 * sections])
    struct.pack_into("<ii", headers, last + 16, 0, len(headers))
    return bytes(headers) + installer[image_end:]


def manifests(work: Path) -> dict[str, dict]:
    demo = json.loads((ROOT / "samples/demo/manifest.json").read_text(encoding="utf-8"))
    params = str(ROOT / "samples/demo/files/tvxparams.conf")
    small = [{"name": "tvxparams.conf", "source": params},
             {"name": "lib\\app.pack", "content": "packed jar"},
             {"name": "user\\extra.jar", "content": "PK\u0003\u0004"}]
    demo_small = dict(demo, payload=small)
    return {
        "demo": demo_small,
        "demo-unchecked": dict(demo_small, integrity_check=False, default_messages=False),
        "locales": dict(demo_small, default_messages=False, locales=demo["locales"] + [
            {"name": "", "messages": {"1009": "any locale {0}"}},
            {"name": "pt_BR", "messages": {"1009": "erro interno ({0})"}}]),
        "disagreeing-count": dict(demo_small, default_messages=False, config=dict(demo["config"], **{"2002": "7"})),
        "java-data": dict(demo_small, default_messages=False, payload=small[:1], java_data=params, trailing_zeros=16),
    }


def installers(work: Path) -> None:
    tvxpack = ROOT / "build/host/tvxpack"
    stub = ROOT / "build/win32/launcher.exe"
    for name, manifest in manifests(work).items():
        manifest_path = work / f"{name}.json"
        manifest_path.write_text(json.dumps(manifest, ensure_ascii=False), encoding="utf-8")
        output = work / f"{name}.exe"
        subprocess.run([str(tvxpack), "--stub", str(stub), "--manifest", str(manifest_path), "--output", str(output)],
                       check=True)
        image = shrink(output.read_bytes())
        # The packer's own reader must still read the shrunk installer whole.
        (work / "check.exe").write_bytes(image)
        subprocess.run([str(tvxpack), "--dump", str(work / "check.exe")], check=True, capture_output=True)
        # Block reader: bit 0 checking on, bits 1-3 the locale (1: de_DE).
        write("config_block", name, bytes([0x03]) + image)
        write("packer", f"dump-{name}", b"\x01" + image)
        write("packer", f"manifest-{name}", b"\x00" + json.dumps(manifest, indent=1, ensure_ascii=False).encode())
        names = ";".join(entry["name"] for entry in manifest["payload"]) + ";"
        write("payload_names", name, struct.pack("<i", len(manifest["payload"])) + names.encode("latin-1"))
    image = (CORPUS / "config_block" / "seed-demo").read_bytes()[1:]
    write("config_block", "demo-unchecked-de-AT", bytes([0x04]) + image)
    write("config_block", "demo-truncated", bytes([0x01]) + image[:len(image) - 40])
    write("packer", "dump-truncated", b"\x01" + image[:len(image) // 2])
    write("packer", "manifest-sample", b"\x00" + (ROOT / "samples/demo/manifest.json").read_bytes())
    for index, name in enumerate(["..\\evil.txt", "bin\\..\\..\\evil.txt", "C:\\x", "/abs;a/../b;...\\x;. .\\y",
                                  "a;;b", "jre.tar.gz;lib\\rt.pack;"]):
        write("payload_names", f"names-{index}", struct.pack("<i", 5) + name.encode("latin-1"))


# --------------------------------------------------------------------------
# Runtime archives

def tar_stream(data: bytes) -> bytes:
    """A tar stream without the zero padding past its two end blocks."""
    end = len(data.rstrip(b"\0"))
    return data[:end + (-end % 512) + 1024]


def archives(work: Path) -> None:
    home = work / "runtime"
    (home / "bin").mkdir(parents=True)
    (home / "bin/java.exe").write_bytes(b"MZ" + b"\0" * 700)
    (home / "lib").mkdir()
    (home / "lib/modules").write_bytes(bytes(range(256)) * 3)
    (home / "release").write_text('JAVA_VERSION="11.0.2"\n')

    def variety(tar: tarfile.TarFile) -> None:
        pw.add_bytes(tar, "lib/block.bin", b"b" * 512)
        pw.add_bytes(tar, "lib/symbolic", b"", tarfile.SYMTYPE, "block.bin")
        pw.add_bytes(tar, "lib/hard", b"", tarfile.LNKTYPE, "lib/block.bin")
        pw.add_bytes(tar, "legal/" + "x" * 120, b"", tarfile.DIRTYPE)
        pw.add_bytes(tar, "legal/" + "x" * 120 + "/NOTICE", b"notice")

    for posix in (False, True):
        archive = work / f"jre-{posix}.tar.gz"
        pw.runtime_archive(home, archive, posix=posix, extra={pw.LONG_ENTRY: b"long name"}, more=variety)
        stream = tar_stream(gzip.decompress(archive.read_bytes()))
        fmt = "posix" if posix else "gnu"
        write("tar", fmt, b"\x05" + stream)   # reads of 512 bytes
        write("tar", f"{fmt}-small-reads", b"\x01" + stream)
    F, D = tarfile.REGTYPE, tarfile.DIRTYPE
    for name, entries in {
        "parent-step": [("bin", b"", D, ""), ("../evil.txt", b"evil", F, "")],
        "backslashes": [("bin\\..\\..\\evil.txt", b"evil", F, "")],
        "drive": [("C:/evil.txt", b"evil", F, "")],
        "only-directories": [("bin", b"", D, ""), ("lib", b"", D, "")],
    }.items():
        write("tar", name, b"\x06" + tar_stream(gzip.decompress(pw.gzip_tar(entries))))
    ustar = tarfile.TarInfo("p" * 120 + "/file.txt")
    ustar.size = 3
    raw = io.BytesIO()
    with tarfile.open(fileobj=raw, mode="w", format=tarfile.USTAR_FORMAT) as tar:
        tar.addfile(ustar, io.BytesIO(b"abc"))
    write("tar", "ustar-prefix", b"\x04" + tar_stream(raw.getvalue()))


# --------------------------------------------------------------------------
# Lists, blocks, options files, texts

def small_inputs() -> None:
    listing = ["C:\\Users\\Public\\tovrix\\app\\lib\\rt.jar", "C:\\Users\\Public\\tovrix\\app\\lib", "",
               "\\??\\C:\\Temp\\held.dll", "D:\\long\\" + "n" * 8200]
    write("deletion_pipe", "list-crlf", b"\x00" + utf16("\r\n".join(listing) + "\r\n"))
    write("deletion_pipe", "list-lf-odd", b"\x00" + utf16("\n".join(listing[:3])) + b"\x41")
    blocks = b"".join(struct.pack("<I", len(p)) + p for p in [b"", b"hello", b"\x00" * 300, "ä".encode() * 50])
    for choices in (0, 1, 5, 14):
        write("deletion_pipe", f"pipe-{choices}", bytes([1 | choices << 1]) + blocks)
    write("deletion_pipe", "pipe-huge-length", b"\x07" + struct.pack("<I", 0x7FFFFFF0) + b"x" * 100)

    config = "\n".join(["-Xmx512m -include-options b -Dapp=%TOVRIX_EXEDIR% -classpath/a ${APPDATA}\\x.jar",
                        "A1${launcher:sys.launcherDirectory}lib\\app.jar;EJAVA_LIB;S0lib;D0C:\\app\\a",
                        "S1C:\\app;ECLASSPATH", "com.example/com.example.demo.Installer",
                        "setup.exe -q -J-Xss2m -Dsun.locale.formatasdefault=false -J-include-options\\ c"])
    environment = "APPDATA=C:\\Users\\u\\AppData\nJAVA_LIB=\"C:\\lib;\"\nclasspath=C:\\cp\nNested=${APPDATA}"
    files = ["# default options\r\n-Xms64m\r\n  -Dspaced=yes  \r\n-include-options c\r\n\x1aafter ctrl-z",
             "-classpath C:\\replaced.jar\n-classpath/p ${TOVRIX_TEMPDIR}\\first.jar\n-include-options b\n",
             "--add-opens\njava.base/java.lang=ALL-UNNAMED\n-include-options ${launcher:sys.launcherDirectory}d",
             "-Dd=" + "x" * 300 + "\n-include-options %KELPA_EXEDIR%a"]
    for step in (0x00, 0x05, 0x3F):
        write("options_file", f"options-{step}", bytes([step | 0x40]) + "\0".join(
            [config, environment] + files).encode("latin-1"))

    command = 'setup.exe -q -varfile "C:\\my dir\\v.txt" \'single quoted\' a"b c"d -J-Xmx1g -Dsun.locale.formatasdefault=true'
    write("command_line_format", "command-line", b"\x00" + utf16(command))
    write("command_line_format", "command-unclosed", b"\x00" + utf16('a "b c'))
    write("command_line_format", "format", b"\x01" + bytes(range(1, 200)))
    write("command_line_format", "message", b"\x02" + utf16("Error {0} in {0}") + b"\0" + utf16("C:\\x"))

    outputs = {"openjdk17": subprocess.run(["java", "-version"], capture_output=True).stderr,
               "java8": b'java version "1.8.0_191"\r\nJava(TM) SE Runtime Environment (build 1.8.0_191-b12)\r\n',
               "notices": b"Picked up JAVA_TOOL_OPTIONS: -Xmx1g\nNOTE: Picked up JDK_JAVA_OPTIONS: -Da\n"
                          b"OpenJDK 64-Bit Server VM warning: Options -Xverify:none are deprecated\n"
                          b'openjdk version "21.0.2" 2024-01-16 LTS\n',
               "range": b"1.8\n11.0.99\n9.0.4\n11\n1.8.0_100\n17-ea\n1.7.0_80\n1.0.0\n21.0.2+13-LTS\n"}
    for name, text in outputs.items():
        write("version", name, text)

    write("search_registry", "sequence",
          b"\x00EJAVA_HOME;Y;S;R..\\jre;BC:\\Program Files\\Java\\jre1.8.0_191;A%TOVRIX_EXEDIR%jre;;\n"
          b"c:\\program files\\java\\jdk-11\\bin\\java.exe\n\\\\server\\share\\java.exe\r\n")
    write("search_registry", "multi-string", b"\x01" + utf16("first\0second\0\0third\0\0"))
    write("search_registry", "string", b"\x01" + utf16("SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.8\\\0"))
    write("search_registry", "dword", b"\x01\x2a\x00\x00\x00")

    signatures = set()
    for line in (ROOT / "natives/native_methods.inc").read_text().splitlines():
        if line.startswith("NATIVE_METHOD("):
            signatures.add(line.rsplit('"', 2)[1])
    signatures.add("(ZZLjava/lang/String;IILjava/lang/String;IILjava/lang/String;IILjava/lang/String;II)V")
    signatures.add("([Ljava/lang/String;)V")
    for index, signature in enumerate(sorted(signatures)):
        write("jni_signature", f"{index:02d}", signature.encode())
    write("jni_signature", "modified-utf8", "(Lä;)V\u20ac".encode() + b"\xc0\x80\xed\xa0\x80")


def main() -> None:
    with tempfile.TemporaryDirectory() as temp:
        work = Path(temp)
        installers(work)
        archives(work)
        small_inputs()
    for folder in sorted(CORPUS.iterdir()):
        seeds = list(folder.glob("seed-*"))
        print(f"{folder.name:22} {len(seeds):3} seeds {sum(p.stat().st_size for p in seeds):8} bytes")


if __name__ == "__main__":
    main()
