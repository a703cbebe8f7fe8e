// Byte layout of the data an installer builder appends to the launcher stub.
// Shared by the stub (which reads it) and the packer (which writes it), so the
// two can never disagree about a constant.
//
//   stub image | configuration block | payload | data for the Java side
//
// Configuration block (little-endian):
//   int32 magic | int32 integrity flag | uint32 CRC-32 | int64 covered length
//   int32 N, N x (int32 id, int32 n, n bytes 8-bit text)
//   int32 M, M x (int32 id, int32 n, n bytes UTF-16LE)
//   int32 L, L x (int32 k, k bytes locale name, int32 P, P x message record)
// The covered range of the CRC starts at the field N and runs for the covered
// length.  Payload: per file int64 size and size bytes, each XOR kPayloadKey.
#pragma once

#include <cstdint>

namespace block {

constexpr std::uint32_t kMagic = 0xE8E413D5u;

// PE header fields used to find the end of the linked image.
constexpr std::int64_t kPeHeaderOffsetField = 60;      // int32: offset of "PE\0\0"
constexpr std::int64_t kSectionCountField = 6;         // int16, relative to the PE header
constexpr std::int64_t kOptionalHeaderSizeField = 20;  // int16, relative to the PE header
constexpr std::int64_t kSectionHeaderSize = 40;
// Offset 16 of a section header holds SizeOfRawData, offset 20 PointerToRawData.
// Header + optional header size + 40 * sections lands 16 bytes into the last
// section header (the 24-byte file header minus the 8 bytes of the name field).
constexpr std::int64_t kLastSectionHeaderBias = 16;

// Offsets inside the block header.
constexpr std::int64_t kHeaderSize = 20;          // magic, flag, CRC, covered length
constexpr std::int64_t kCrcField = 8;             // uint32 expected CRC-32
constexpr std::int64_t kCoveredLengthField = 12;  // int64 covered length
constexpr std::int64_t kCoveredStart = 20;        // the CRC covers from the field N on

// One-byte key the payload bytes are combined with by exclusive-or.
constexpr std::uint8_t kPayloadKey = 0x88;

}  // namespace block
