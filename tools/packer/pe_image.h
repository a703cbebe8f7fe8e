// Where the linked image of a PE executable ends, found exactly the way the
// launcher finds the start of its own configuration block.
#pragma once

#include <cstdint>

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

}  // namespace packer
