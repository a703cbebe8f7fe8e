// Where the linked image of a PE executable ends, found exactly the way the
// launcher finds the start of its own configuration block, and where a
// signing tool put its certificate table.
#pragma once

#include <cstdint>
#include <optional>

#include "tools/packer/file_io.h"

namespace packer {

struct ImageEnd {
    std::int32_t peHeaderOffset = 0;
    std::int16_t sectionCount = 0;
    std::int16_t optionalHeaderSize = 0;
    std::int32_t lastRawDataSize = 0;
    std::int32_t lastRawDataOffset = 0;
    // lastRawDataOffset + lastRawDataSize: first byte after the image, where
    // the configuration block starts.
    std::int64_t offset = 0;
};

// Reads the headers of file and returns the end of the raw data of the last
// entry in its section table (the last in table order, wherever its data
// lies).  Throws PackError when the file is not a PE executable or its
// headers point outside the file.
ImageEnd locateImageEnd(InputFile& file);

// The Authenticode certificate table named by the security entry (index 4) of
// the optional header's data directories.  Unlike every other directory entry
// its address is a file offset, and signing tools append the table at the end
// of the file, after the image and anything appended to it.
struct CertificateTable {
    std::int64_t entryOffset = 0;     // file offset of the 8-byte directory entry
    std::int64_t checksumOffset = 0;  // file offset of the optional header's CheckSum
    std::uint32_t offset = 0;         // the table's file offset, as the entry gives it
    std::uint32_t size = 0;           // its size in bytes

    std::int64_t end() const { return std::int64_t{offset} + size; }
};

// Reads the security entry of file.  Empty when the file is not signed: the
// entry is zero, the optional header is neither PE32 nor PE32+, or it is too
// short to hold the entry.  Nothing here says the entry is sound.
std::optional<CertificateTable> findCertificateTable(InputFile& file, const ImageEnd& image);

// Checks that a signed stub's certificate table lies where signing tools put
// it: at the end of the file, after the image and nothing but zero padding,
// starting with a certificate entry whose length fits the table.  Only then
// can the table be left out without losing a byte of the stub.  Throws
// PackError naming what is wrong otherwise.
void checkRemovableCertificateTable(InputFile& file, const ImageEnd& image, const CertificateTable& table);

// The PE checksum of the first `length` bytes of file, computed the way
// linkers do, with the checksum field and the security directory entry of
// `table` counted as zero: what the optional header of those bytes holds once
// the signature is gone.
std::uint32_t checksumWithoutSignature(InputFile& file, std::int64_t length, const CertificateTable& table);

}  // namespace packer
