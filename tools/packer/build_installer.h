// Building an installer: stub image, configuration block, payload, data for
// the Java side and optional trailing zero bytes, with the CRC-32 of the
// covered range in the block header.
#pragma once

#include <filesystem>
#include <string>

#include "tools/packer/manifest.h"

namespace packer {

// The block from the field N to the end of the locale blocks: configuration
// records, message records and locale blocks, little-endian.  Throws
// PackError when a count or length does not fit its int32 field.
std::string encodeRecords(const InstallerPlan& plan);

// Writes the installer to output.  The stub must end with its last section
// (a stub with appended bytes is refused).  Every source is checked before
// the output is created; on any failure the output path is left as it was.
void buildInstaller(const std::filesystem::path& stub, const InstallerPlan& plan, const std::filesystem::path& output);

}  // namespace packer
