// --dump: prints what an installer holds, reading it the way the launcher
// does (block location, records, locale blocks, payload walk).
#pragma once

#include <filesystem>
#include <ostream>

namespace packer {

// Prints one line per field to out.  When the file has no block, or the block
// or payload is truncated, the lines read so far are printed and PackError
// is thrown.
void dumpInstaller(const std::filesystem::path& path, std::ostream& out);

}  // namespace packer
