// Building an installer: stub image, configuration block, payload, data for
// the Java side and optional trailing zero bytes, with the CRC-32 of the
// covered range in the block header.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "tools/packer/manifest.h"
#include "tools/packer/pe_image.h"

namespace packer {

// The block from the field N to the end of the locale blocks: configuration
// records, message records and locale blocks, little-endian.  Throws
// PackError when a count or length does not fit its int32 field.
std::string encodeRecords(const InstallerPlan& plan);

// What a build did beyond the manifest's word: the certificate table of a
// signed stub that was left out.
struct BuildNotes {
    std::optional<CertificateTable> removedSignature;
};

// Writes the installer to output.  The stub must end with its last section
// (a stub with other appended bytes is refused).  A signed stub is taken
// without its signature: its certificate table and the padding before it are
// left out, the security directory entry is zeroed and the checksum is
// computed again over the image, so the installer starts with the stub
// exactly as the linker wrote it.  (A stub's signature could never carry
// over: it covers every byte of the file, the appended block included.)
// Every source is checked before the output is created; on any failure the
// output path is left as it was.
BuildNotes buildInstaller(const std::filesystem::path& stub, const InstallerPlan& plan,
                          const std::filesystem::path& output);

}  // namespace packer
