// The temporary base directory (where the launch log and the extraction
// directory go), the extraction directory itself and its removal.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "launcher/text.h"

// Is the directory usable as temporary base?  With `createFirst` it is created
// first; with `checkLongName` its long name must be representable in the 8-bit
// file code page.  A test directory is created and removed inside it.
bool probeTempBase(const std::string& directory, bool createFirst, bool checkLongName);
bool probeTempBase(const wstring& directory, bool createFirst, bool checkLongName);

// The temporary base: the manual base when set, else the cached result of the
// candidate search.  The 8-bit form ends the launcher with message 1015 when
// no candidate is usable; the UTF-16 form does so only when `fatalWhenNone`,
// otherwise it returns "".
std::string getTempDirectory();
wstring getTempDirectoryWide(bool fatalWhenNone = false);

// The "-temp" directory, used as the base once it has been found usable.
void setManualTempBase(const wstring& wide, const std::string& eightBit);
// Set when the search had to fall back to its second pass.
bool tempSearchRelaxed();

// A unique temporary file name with the prefix "klp" in the 8-bit base.
std::string temporaryFileName();
// Creates the extraction directory (up to 10 attempts); ends the launcher with
// internal error "7" when none could be created.
void createTempDirectory();

// Writes the payload files into the extraction directory.  0 on success,
// 1 when reading the installer failed, 2 when writing a file failed (a
// short write is repeated until the chunk is written; a failed close counts
// as a failed write).
int extractPayload();
// extractPayload, and on a failure the installer's message 20016 (read) or
// 20018 (write) owned by `owner`, none in a quiet run, and the end with exit
// code 1: the files written so far go with the extraction directory.
void extractPayloadOrEnd(HWND owner);
// The file offset after the last extracted file (0 until extraction ran).
std::int64_t unextractedPosition();

// Deletes the files of a directory and removes its subdirectories; with
// `recurse`, each subdirectory is emptied first, at every level (junctions and
// links are removed, not followed).  A path that is empty or begins with "."
// is left alone.
void emptyDirectory(const std::string& directory, bool recurse);
