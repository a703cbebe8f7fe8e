"""The data appended to a built installer, read independently of the packer:
the offsets of every header field and record, so tests can cut the file or
change a byte at an exact place.

Layout (little-endian): after the raw data of the last section in the section
table, the block header (magic, integrity flag, CRC-32, covered length), the
configuration records, the message records and the locale blocks; then the
payload files (int64 size and the scrambled bytes each). The CRC covers the
covered length of bytes from the configuration count on.
"""

from __future__ import annotations

import dataclasses
import os
import struct
import zlib
from pathlib import Path

@dataclasses.dataclass
class BlockRecord:
    """One record: `start` is the offset of its int32 id (or of the locale
    name's length), `text` the offset of its text bytes, `end` the offset after it."""
    key: int | str
    start: int
    text: int
    end: int
    value: bytes


@dataclasses.dataclass
class LocaleLayout:
    name: str
    name_record: BlockRecord
    count_at: int
    messages: list


@dataclasses.dataclass
class BlockLayout:
    size: int
    sections: int
    optional_header_size: int
    raw_data_size: int
    raw_data_offset: int
    start: int  # offset of the magic
    magic: int
    integrity_flag: int
    crc: int
    covered_length: int
    config_count_at: int
    config: list
    messages_count_at: int
    messages: list
    locales_count_at: int
    locales: list
    payload_offset: int
    payload_files: list  # (size field offset, data offset, size)

    @property
    def covered_start(self) -> int:
        return self.start + 20

    @property
    def covered_end(self) -> int:
        return self.covered_start + self.covered_length

    def config_record(self, key: int) -> BlockRecord:
        return next(r for r in self.config if r.key == key)

    def message_record(self, key: int) -> BlockRecord:
        return next(r for r in self.messages if r.key == key)

    def covered_crc(self, data: bytes) -> int:
        return zlib.crc32(data[self.covered_start:self.covered_end]) & 0xFFFFFFFF

    @classmethod
    def read(cls, path: os.PathLike | str) -> "BlockLayout":
        data = Path(path).read_bytes()

        def i32(at: int) -> int:
            return struct.unpack_from("<i", data, at)[0]

        header = i32(60)
        sections = struct.unpack_from("<H", data, header + 6)[0]
        optional = struct.unpack_from("<H", data, header + 20)[0]
        last = header + optional + 40 * sections  # 16 bytes into the last section header
        raw_size, raw_offset = struct.unpack_from("<II", data, last)
        start = raw_size + raw_offset
        magic, flag, crc, covered = struct.unpack_from("<IiIq", data, start)
        at = start + 20

        def records(count: int) -> tuple[list, int]:
            nonlocal at
            result = []
            for _ in range(count):
                begin = at
                key, length = struct.unpack_from("<ii", data, at)
                result.append(BlockRecord(key, begin, at + 8, at + 8 + length, data[at + 8:at + 8 + length]))
                at += 8 + length
            return result, at

        config_count_at = at
        config_count = i32(at)
        at += 4
        config, _ = records(config_count)
        messages_count_at = at
        message_count = i32(at)
        at += 4
        messages, _ = records(message_count)
        locales_count_at = at
        locale_count = i32(at)
        at += 4
        locales = []
        for _ in range(locale_count):
            length = i32(at)
            name_bytes = data[at + 4:at + 4 + length]
            name_record = BlockRecord(name_bytes.decode("latin-1"), at, at + 4, at + 4 + length, name_bytes)
            at += 4 + length
            count_at = at
            count = i32(at)
            at += 4
            locale_messages, _ = records(count)
            locales.append(LocaleLayout(name_record.key, name_record, count_at, locale_messages))
        payload_offset = at
        files = []
        names = next((r.value for r in config if r.key == 2002), b"0")
        for _ in range(int(names or b"0")):
            size = struct.unpack_from("<q", data, at)[0]
            files.append((at, at + 8, size))
            at += 8 + size
        return cls(len(data), sections, optional, raw_size, raw_offset, start, magic, flag, crc, covered,
                   config_count_at, config, messages_count_at, messages, locales_count_at, locales,
                   payload_offset, files)


def truncated_copy(source: Path, length: int, destination: Path) -> Path:
    destination.write_bytes(source.read_bytes()[:length])
    return destination


def changed_copy(source: Path, offset: int, destination: Path, xor: int = 0x01) -> Path:
    data = bytearray(source.read_bytes())
    data[offset] ^= xor
    destination.write_bytes(bytes(data))
    return destination
