// The Java runtime an installer carries as "jre.tar.gz" (or that a download
// saved there): unpacked into "jre" of the extraction directory, its
// pack-compressed jars restored, and loaded.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Unpacks "jre.tar.gz" of the current directory (the extraction directory)
// into "jre" with the bar of the progress window moving from 100 to 200,
// deletes the archive, restores the packed jars (entry 153) and loads the
// runtime from "jre", falling back to the JVM search.  Returns only when a
// runtime was loaded: a corrupted archive or no usable runtime ends the
// start-up through the fatal path.
void unpackAndUseCarriedJre(HWND progressWindow);

// The above without loading the runtime: unpacks, deletes the archive and
// restores the packed jars, or ends the start-up through the fatal path.
void unpackCarriedJre(HWND progressWindow);

// The last step of the above alone: loads the runtime of "jre" (a language
// restart finds it unpacked by the earlier run), else the JVM search; ends
// the start-up when neither gives a runtime.
void useUnpackedJre();

// Unpacks a gzip-compressed tar archive into a directory.  `total` is the
// archive's uncompressed size for the progress bar (0: unknown, the bar stays
// where it is).  True when the archive was read to its end and at least one
// file written; a file that cannot be created ends the start-up.
bool untarArchive(const std::string& archive, const std::string& targetDirectory, HWND progressWindow,
                  std::int64_t total);
