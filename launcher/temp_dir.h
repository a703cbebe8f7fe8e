// The temporary base directory (where the launch log and the extraction
// directory go) and the removal of the extraction directory.
#pragma once

#include <string>

#include "launcher/text.h"

// The UTF-16 temporary base: the manual base when one is set, else the Windows
// temporary path.  Empty when none can be had; never fails its caller.
wstring getTempDirectoryWide();

// Deletes the files of a directory and removes its subdirectories; with
// `recurse`, the files of each direct subdirectory are deleted first.  A path
// that is empty or begins with "." is left alone.
void emptyDirectory(const std::string& directory, bool recurse);
