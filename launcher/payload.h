// The payload's file list: which names extraction walks, and which names are
// safe to write inside the extraction directory.
#pragma once

#include <string>
#include <vector>

// The names handled for a ";"-separated list and a count: names are taken in
// order while one remains, it is non-empty and fewer than `count` were taken.
std::vector<std::string> payloadNamesToExtract(const std::string& list, int count);

// A payload name stays inside the extraction directory: it is relative (no
// drive letter, no leading separator, no colon anywhere) and has no ".."
// component, with either "\" or "/" as separator.
bool isSafePayloadName(const std::string& name);

// The part of the name before its first backslash ("" when it has none): the
// one directory level extraction creates.
std::string payloadDirectoryPart(const std::string& name);

// Does the name end in ".pack"?
bool isPackName(const std::string& name);
