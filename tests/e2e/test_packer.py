"""End-to-end tests of tvxpack, the installer packer.

They need no Wine: the stub is a minimal PE file built here, and every
installer is checked twice, by an independent reader of the byte layout below
and through `tvxpack --dump`.
"""
import json
import os
import re
import struct
import subprocess
import zlib
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
TVXPACK = Path(os.environ.get("TVXPACK", REPO / "build" / "host" / "tvxpack"))
MAGIC = 0xE8E413D5
KEY = 0x88

pytestmark = pytest.mark.skipif(
    not TVXPACK.is_file(), reason=f"tvxpack is not built ({TVXPACK}); build the host target or set TVXPACK")


def make_pe(sections=((0x200, 0x200),), optional_size=224, machine=0x14C):
    """A PE file whose sections are (raw offset, raw size) pairs in table order."""
    header = 0x40
    pe = bytearray(b"MZ" + bytes(58) + struct.pack("<I", header))
    pe += b"PE\0\0" + struct.pack("<HHIIIHH", machine, len(sections), 0, 0, 0, optional_size, 0x102)
    pe += bytes(optional_size)
    for i, (offset, size) in enumerate(sections):
        pe += struct.pack("<8sIIIIIIHHI", b".s%d" % i, size, 0x1000 * (i + 1), size, offset, 0, 0, 0, 0, 0)
    pe += bytes(max(o + s for o, s in sections) - len(pe))
    for i, (offset, size) in enumerate(sections):
        pe[offset:offset + size] = bytes([0x41 + i]) * size
    return bytes(pe)


def run(*args):
    return subprocess.run([str(TVXPACK), *map(str, args)], capture_output=True, text=True, timeout=60)


def pack(tmp_path, manifest, stub=None):
    """Writes stub and manifest (a dict, or raw text) into tmp_path and packs out.exe."""
    (tmp_path / "stub.exe").write_bytes(stub if stub is not None else make_pe())
    text = manifest if isinstance(manifest, str) else json.dumps(manifest, ensure_ascii=False)
    (tmp_path / "m.json").write_text(text, encoding="utf-8")
    out = tmp_path / "out.exe"
    return run("--stub", tmp_path / "stub.exe", "--manifest", tmp_path / "m.json", "--output", out), out


def read_installer(data, image_end):
    """Independent reader of the appended data; payload sizes are walked for every listed file."""
    magic, flag, crc, covered = struct.unpack_from("<IiIq", data, image_end)
    pos = image_end + 20

    def take(fmt):
        nonlocal pos
        values = struct.unpack_from(fmt, data, pos)
        pos += struct.calcsize(fmt)
        return values[0] if len(values) == 1 else values

    def text():
        nonlocal pos
        n = take("<i")
        pos += n
        return data[pos - n:pos]

    def messages():
        return [(take("<i"), text().decode("utf-16-le")) for _ in range(take("<i"))]

    config = [(take("<i"), text()) for _ in range(take("<i"))]
    msgs = messages()
    locales = [(text().decode("latin-1"), messages()) for _ in range(take("<i"))]
    payload_offset = pos
    files = []
    for name in dict(config)[2003].decode("latin-1").split(";")[:-1]:
        size = take("<q")
        files.append((name, bytes(b ^ KEY for b in data[pos:pos + size])))
        pos += size
    return dict(magic=magic, flag=flag, crc=crc, covered=covered, config=config, messages=msgs,
                locales=locales, payload_offset=payload_offset, files=files, after_payload=pos)


def dump(path):
    result = run("--dump", path)
    assert result.returncode == 0, result.stderr
    return result.stdout.splitlines()


def dump_fields(lines):
    return dict(line.split(": ", 1) for line in lines if re.match(r"^[a-z_A-Z]+: ", line))


NON_BMP = "Kaputt: äöü € 😀\n\t\"q\""  # BMP, non-Latin-1 and a surrogate pair


@pytest.fixture
def full_build(tmp_path):
    """An installer using every manifest feature, with a payload larger than the copy buffer."""
    big = bytes((i * 7 + i // 251) & 0xFF for i in range(300_000))
    (tmp_path / "files").mkdir()
    (tmp_path / "files" / "tvxruntime.jar").write_bytes(big)
    (tmp_path / "files" / "data.bin").write_bytes(b"JAVA-SIDE-DATA")
    manifest = {
        "config": {"107": 5, "2001": "i", "128": "Y;EJAVA_HOME;", "124": "café"},
        "messages": {"20016": NON_BMP, "1000": "Fehler"},
        "locales": [{"name": "de", "messages": {"20016": "Die Installationsdatei ist beschädigt."}},
                    {"name": "pt_BR", "messages": {"1013": "Está bem", "1012": "Erro"}}],
        "payload": [{"name": "tvxruntime.jar", "source": "files/tvxruntime.jar"},
                    {"name": "sub\\a.txt", "content": "hello"},
                    {"name": "empty.txt", "content": ""}],
        "java_data": "files/data.bin",
        "trailing_zeros": 100,
    }
    result, out = pack(tmp_path, manifest)
    assert result.returncode == 0, result.stderr
    return out, big


def test_round_trip_layout(tmp_path, full_build):
    out, big = full_build
    stub = (tmp_path / "stub.exe").read_bytes()
    data = out.read_bytes()
    assert data[:len(stub)] == stub
    block = read_installer(data, len(stub))

    assert (block["magic"], block["flag"]) == (MAGIC, 1)
    assert dict(block["config"]) == {107: b"5", 2001: b"i", 128: b"Y;EJAVA_HOME;", 124: "café".encode("latin-1"),
                                     2002: b"3", 2003: b"tvxruntime.jar;sub\\a.txt;empty.txt;"}
    messages = dict(block["messages"])
    assert messages[20016] == NON_BMP and messages[1000] == "Fehler"
    assert messages[1017] == "The {0} environment variable does not\npoint to a working 32-bit JDK or JRE."
    assert messages[20008] == "%.2f MB of %.2f MB (%.1f%%) at %.1f kb/s"
    assert len(messages) == 27
    # The surrogate pair is stored as two UTF-16 code units.
    assert "😀".encode("utf-16-le") == b"\x3d\xd8\x00\xde" and b"\x3d\xd8\x00\xde" in data
    assert block["locales"] == [("de", [(20016, "Die Installationsdatei ist beschädigt.")]),
                                ("pt_BR", [(1012, "Erro"), (1013, "Está bem")])]
    assert block["files"] == [("tvxruntime.jar", big), ("sub\\a.txt", b"hello"), ("empty.txt", b"")]

    # Covered range: from the field N to the end of the Java data; the zeros follow it.
    covered_start = len(stub) + 20
    assert data[block["after_payload"]:block["after_payload"] + 14] == b"JAVA-SIDE-DATA"
    assert block["covered"] == block["after_payload"] + 14 - covered_start
    assert data[covered_start + block["covered"]:] == bytes(100)
    assert block["crc"] == zlib.crc32(data[covered_start:covered_start + block["covered"]])


def test_round_trip_dump(tmp_path, full_build):
    out, big = full_build
    data = out.read_bytes()
    block = read_installer(data, len(make_pe()))
    lines = dump(out)
    fields = dump_fields(lines)
    assert fields["image_end"] == str(len(make_pe()))
    assert fields["magic"] == "0xe8e413d5"
    assert fields["integrity_flag"] == "1"
    assert fields["crc"] == "0x%08x (ok)" % block["crc"]
    assert fields["covered_length"] == str(block["covered"])
    assert fields["payload_offset"] == str(block["payload_offset"])
    assert fields["unextractedPosition"] == str(block["after_payload"])
    assert fields["java_data_length"] == "14"
    assert fields["file_length"] == str(len(data))

    assert 'config[124] = "caf\\xe9"' in lines
    assert 'config[2003] = "tvxruntime.jar;sub\\\\a.txt;empty.txt;"' in lines
    assert 'message[20016] = "Kaputt: äöü € 😀\\n\\t\\"q\\""' in lines
    locale_lines = [line for line in lines if line.startswith("locale ")]
    assert locale_lines == ['locale "de": message[20016] = "Die Installationsdatei ist beschädigt."',
                            'locale "pt_BR": message[1012] = "Erro"',
                            'locale "pt_BR": message[1013] = "Está bem"']
    offset = block["payload_offset"]
    assert [line for line in lines if line.startswith("payload[")] == [
        f'payload[0] "tvxruntime.jar": offset {offset} size {len(big)}',
        f'payload[1] "sub\\\\a.txt": offset {offset + 8 + len(big)} size 5',
        f'payload[2] "empty.txt": offset {offset + 8 + len(big) + 8 + 5} size 0']


def test_crc_covers_exactly_the_covered_range(tmp_path, full_build):
    out, _ = full_build
    data = bytearray(out.read_bytes())
    block = read_installer(bytes(data), len(make_pe()))
    covered_end = len(make_pe()) + 20 + block["covered"]

    data[covered_end + 50] = 0x5A  # inside the trailing zeros: not covered
    out.write_bytes(bytes(data))
    assert dump_fields(dump(out))["crc"].endswith("(ok)")

    data[covered_end - 1] ^= 0xFF  # last byte of the Java data: covered
    out.write_bytes(bytes(data))
    computed = zlib.crc32(bytes(data[len(make_pe()) + 20:covered_end]))
    assert dump_fields(dump(out))["crc"] == "0x%08x (MISMATCH, computed 0x%08x)" % (block["crc"], computed)


@pytest.mark.parametrize("flag, stored", [(False, 0), (True, 1), (7, 7)])
def test_integrity_flag_and_crc_always_written(tmp_path, flag, stored):
    result, out = pack(tmp_path, {"integrity_check": flag, "payload": [{"name": "a", "content": "abc"}]})
    assert result.returncode == 0, result.stderr
    data = out.read_bytes()
    block = read_installer(data, len(make_pe()))
    assert block["flag"] == stored
    assert block["crc"] == zlib.crc32(data[len(make_pe()) + 20:]) and block["covered"] == len(data) - len(make_pe()) - 20


def test_without_default_messages(tmp_path):
    result, out = pack(tmp_path, {"default_messages": False, "messages": {"1000": "Only"}})
    assert result.returncode == 0, result.stderr
    block = read_installer(out.read_bytes(), len(make_pe()))
    assert block["messages"] == [(1000, "Only")]
    assert dict(block["config"]) == {2002: b"0", 2003: b""}


# Explicit 2002/2003 are written as given; the dump walks the payload the way
# the launcher extracts it.  Payload: a (3 bytes), b (4 bytes), c (5 bytes).
@pytest.mark.parametrize("config, walked", [
    ({}, ["a", "b", "c"]),
    ({"2002": "2"}, ["a", "b"]),
    ({"2002": "9"}, ["a", "b", "c"]),
    ({"2002": "x"}, []),
    ({"2002": " +2junk"}, ["a", "b"]),
    ({"2003": "a;;b;c;"}, ["a"]),
    ({"2003": "a;b"}, ["a", "b"]),
])
def test_payload_count_and_names(tmp_path, config, walked):
    manifest = {"config": config, "java_data": "j.bin",
                "payload": [{"name": n, "content": n * k} for n, k in (("a", 3), ("b", 4), ("c", 5))]}
    (tmp_path / "j.bin").write_bytes(b"JD")
    result, out = pack(tmp_path, manifest)
    assert result.returncode == 0, result.stderr
    lines = dump(out)
    fields = dump_fields(lines)
    for key, value in config.items():
        assert f'config[{key}] = "{value}"' in lines
    walked_lines = [line for line in lines if line.startswith("payload[")]
    assert [re.match(r'payload\[\d+\] "(.*)"', line).group(1) for line in walked_lines] == walked
    sizes = {"a": 3, "b": 4, "c": 5}
    after = int(fields["payload_offset"]) + sum(8 + sizes[n] for n in walked)
    assert fields["unextractedPosition"] == str(after)
    # Whatever the walk skipped counts as Java-side data.
    all_files = 3 * 8 + 12
    assert int(fields["java_data_length"]) == 2 + all_files - (after - int(fields["payload_offset"]))


BAD_MANIFESTS = [
    ("malformed JSON", '{"config": {"1": "a",}', "malformed JSON"),
    ("unknown top-level key", {"configs": {}}, 'unknown key "configs"'),
    ("unknown payload key", {"payload": [{"name": "a", "content": "x", "size": 3}]}, 'unknown key "size"'),
    ("missing source", {"payload": [{"name": "a", "source": "nope.bin"}]}, "nope.bin"),
    ("missing java data", {"java_data": "nope.dat"}, "nope.dat"),
    ("non-Latin-1 config value", {"config": {"128": "Y;€;"}}, "U+20AC"),
    ("non-integer config id", {"config": {"12a": "x"}}, '"12a"'),
    ("non-integer message id", {"messages": {"1.5": "x"}}, '"1.5"'),
    ("config value of wrong type", {"config": {"1": True}}, 'config["1"]'),
    ("message value of wrong type", {"messages": {"1": 5}}, 'messages["1"]'),
    ("source and content", {"payload": [{"name": "a", "content": "x", "source": "m.json"}]}, "payload[0]"),
    ("name with separator", {"payload": [{"name": "a;b", "content": "x"}]}, "payload[0].name"),
    ("negative trailing zeros", {"trailing_zeros": -1}, "trailing_zeros"),
    ("manifest not an object", "[]", "JSON object"),
]


@pytest.mark.parametrize("manifest, expected", [c[1:] for c in BAD_MANIFESTS], ids=[c[0] for c in BAD_MANIFESTS])
@pytest.mark.parametrize("existing", [None, b"previous installer"])
def test_bad_manifest_leaves_no_output(tmp_path, manifest, expected, existing):
    if existing is not None:
        (tmp_path / "out.exe").write_bytes(existing)
    result, out = pack(tmp_path, manifest)
    assert result.returncode == 1
    assert result.stderr.startswith("tvxpack: error: ") and expected in result.stderr, result.stderr
    assert result.stderr.count("\n") == 1
    assert (out.read_bytes() if out.exists() else None) == existing
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted(["m.json", "stub.exe"] + (["out.exe"] if existing else []))


BAD_STUBS = [
    ("trailing bytes", make_pe() + b"12345", "stub has 5 bytes after its last section; a stripped stub is needed"),
    # The last entry in table order decides, not the section with the highest offset.
    ("last table entry is not last in file", make_pe(((0x400, 0x200), (0x200, 0x200))), "stub has 512 bytes after"),
    ("no MZ", b"XY" + make_pe()[2:], "MZ"),
    ("no PE signature", make_pe()[:0x40] + b"NE\0\0" + make_pe()[0x44:], "PE"),
    ("section beyond the file", make_pe()[:0x200], "past the end of the file"),
]


@pytest.mark.parametrize("stub, expected", [c[1:] for c in BAD_STUBS], ids=[c[0] for c in BAD_STUBS])
def test_bad_stub_refused(tmp_path, stub, expected):
    result, out = pack(tmp_path, {}, stub=stub)
    assert result.returncode == 1 and result.stderr.startswith("tvxpack: error: ")
    assert expected in result.stderr, result.stderr
    assert not out.exists()


def test_image_end_honours_optional_header_size(tmp_path):
    stub = make_pe(((0x200, 0x100), (0x300, 0x300)), optional_size=240)
    result, out = pack(tmp_path, {}, stub=stub)
    assert result.returncode == 0, result.stderr
    assert dump_fields(dump(out))["image_end"] == "1536"


@pytest.mark.parametrize("args", [[], ["--bogus"], ["--stub", "a.exe", "--manifest", "m.json"],
                                  ["--dump", "a.exe", "--output", "b.exe"], ["--dump"]])
def test_usage_errors(args):
    result = run(*args)
    assert result.returncode == 2 and result.stderr.startswith("tvxpack: error: "), result.stderr


def test_dump_of_damaged_installers(tmp_path, full_build):
    out, _ = full_build
    data = out.read_bytes()
    block = read_installer(data, len(make_pe()))

    cut = tmp_path / "cut.exe"
    cut.write_bytes(data[:block["payload_offset"] + 1000])
    result = run("--dump", cut)
    assert result.returncode == 1
    assert result.stdout.splitlines()[-1].startswith('payload[0] "tvxruntime.jar"')
    assert result.stderr.startswith("tvxpack: error: ") and "truncated" in result.stderr

    foreign = tmp_path / "foreign.exe"
    foreign.write_bytes(make_pe() + b"\x01\x02\x03\x04more")
    result = run("--dump", foreign)
    assert result.returncode == 1
    assert result.stdout.splitlines()[-1] == "magic: 0x04030201 (not an installer block)"


def test_failure_after_writing_removes_temporary_file(tmp_path):
    # The output path is a directory: everything is written, then the final rename fails.
    (tmp_path / "out.exe").mkdir()
    result, out = pack(tmp_path, {"payload": [{"name": "a", "content": "abc"}]})
    assert result.returncode == 1 and result.stderr.startswith("tvxpack: error: "), result.stderr
    assert sorted(p.name for p in tmp_path.iterdir()) == ["m.json", "out.exe", "stub.exe"]
    assert out.is_dir() and not any(out.iterdir())


# --------------------------------------------------------------------------
# Signed stubs: a certificate table named by the security directory entry


CERTIFICATE = struct.pack("<IHH", 24, 0x0200, 2) + b"pkcs7 bytes of a signer"[:16]  # one 24-byte entry


def pe_checksum(data):
    """The PE checksum as linkers write it: 16-bit word sum with carries folded, plus the length."""
    data = bytearray(data)
    struct.pack_into("<I", data, 0x40 + 24 + 64, 0)
    total = 0
    for (word,) in struct.iter_unpack("<H", data + bytes(len(data) % 2)):
        total = (total & 0xFFFF) + (total >> 16) + word
    return ((total & 0xFFFF) + (total >> 16) + len(data)) & 0xFFFFFFFF


def pe_with_directories(magic=0x10B):
    """make_pe with a PE32 (0x10B) or PE32+ (0x20B) optional header of 16
    data directories and the checksum a linker writes."""
    pe = bytearray(make_pe(optional_size=224 if magic == 0x10B else 240))
    optional = 0x40 + 24
    struct.pack_into("<H", pe, optional, magic)
    struct.pack_into("<I", pe, optional + (92 if magic == 0x10B else 108), 16)
    struct.pack_into("<I", pe, optional + 64, pe_checksum(pe))
    return bytes(pe)


def security_entry(magic):
    return 0x40 + 24 + (96 if magic == 0x10B else 112) + 8 * 4


def signed(stub, magic=0x10B, padding=bytes(4), table=CERTIFICATE, entry=None, after=b""):
    """stub the way signing tools leave it: a checksum, zero padding, the
    certificate table at the end and the security entry naming it."""
    data = bytearray(stub)
    struct.pack_into("<I", data, 0x40 + 24 + 64, 0x0C0FFEE)
    struct.pack_into("<II", data, security_entry(magic), *(entry or (len(stub) + len(padding), len(table))))
    return bytes(data) + padding + table + after


@pytest.mark.parametrize("magic", [0x10B, 0x20B], ids=["PE32", "PE32+"])
def test_signed_stub_is_packed_without_its_signature(tmp_path, magic):
    stub = pe_with_directories(magic)
    result, out = pack(tmp_path, {"payload": [{"name": "a", "content": "abc"}]}, stub=signed(stub, magic))
    assert result.returncode == 0, result.stderr
    assert result.stderr == (f"tvxpack: note: {tmp_path / 'stub.exe'} is signed; its signature (certificate table "
                             f"of 24 bytes at offset {len(stub) + 4}) is not part of the installer: sign the "
                             "installer after packing\n")
    data = out.read_bytes()
    # The linker's checksum is back, the security entry zero again, padding and table gone.
    assert data[:len(stub)] == stub and pe_checksum(stub) != 0
    assert read_installer(data, len(stub))["files"] == [("a", b"abc")]
    assert "certificate_table" not in "\n".join(dump(out))


BAD_SIGNED_STUBS = [
    ("appended after signing", signed(pe_with_directories(), after=b"xyz"), "does not end where the file does"),
    ("data before the table", signed(pe_with_directories(), padding=b"\0\1\0\0"),
     "is preceded by data after the last section (non-zero byte at offset 1025)"),
    ("table inside the image", signed(pe_with_directories(), padding=b"", entry=(0x300, 0x100 + 24)),
     "starts inside the image, which ends at 1024"),
    ("entry past the end of the file", signed(pe_with_directories(), table=b"", entry=(4096, 8)),
     "does not end where the file does (1028 bytes)"),
    ("unknown revision", signed(pe_with_directories(), table=struct.pack("<IHH", 8, 0x0300, 2)),
     "holds no certificate entry (first entry: length 8, revision 0x0300)"),
    ("entry longer than the table", signed(pe_with_directories(), table=struct.pack("<IHH", 64, 0x0200, 2)),
     "holds no certificate entry (first entry: length 64, revision 0x0200)"),
    ("table shorter than an entry header", signed(pe_with_directories(), table=b"\x04\0\0\0"),
     "holds no certificate entry (first entry: length 0, revision 0x0000)"),
    ("unsigned, bytes appended", pe_with_directories() + b"12345",
     "stub has 5 bytes after its last section; a stripped stub is needed"),
]


@pytest.mark.parametrize("stub, expected", [c[1:] for c in BAD_SIGNED_STUBS], ids=[c[0] for c in BAD_SIGNED_STUBS])
def test_signed_stub_that_cannot_lose_its_signature_cleanly_is_refused(tmp_path, stub, expected):
    result, out = pack(tmp_path, {}, stub=stub)
    assert result.returncode == 1 and result.stderr.startswith("tvxpack: error: "), result.stderr
    assert expected in result.stderr, result.stderr
    assert not out.exists()


def test_dump_of_a_signed_installer(tmp_path):
    stub = pe_with_directories()
    result, out = pack(tmp_path, {"payload": [{"name": "a", "content": "abc"}], "trailing_zeros": 3}, stub=stub)
    assert result.returncode == 0, result.stderr
    unsigned = out.read_bytes()
    padding = bytes(-len(unsigned) % 8)
    table_at = len(unsigned) + len(padding)
    installer = tmp_path / "signed.exe"
    installer.write_bytes(signed(unsigned, padding=padding))
    fields = dump_fields(dump(installer))
    assert fields["crc"].endswith("(ok)") and fields["file_length"] == str(table_at + len(CERTIFICATE))
    assert fields["certificate_table"] == f"offset {table_at} size {len(CERTIFICATE)}"

    # A covered length that runs into the table is a damaged installer.
    block = read_installer(unsigned, len(stub))
    data = bytearray(installer.read_bytes())
    struct.pack_into("<q", data, len(stub) + 12, block["covered"] + 3 + len(padding) + 1)  # zeros, padding, 1
    installer.write_bytes(bytes(data))
    result = run("--dump", installer)
    assert result.returncode == 1 and "past the start of the certificate table" in result.stderr, result.stderr
