// The deletion list the Java side writes for the post-exit deletion helper:
// UTF-16LE text without byte-order mark, lines ended by LF or CR LF.  The
// reader works on the file's bytes, so it runs on Linux under the sanitizers
// and never sees a file handle.
#pragma once

#include <cstddef>
#include <vector>

#include "launcher/text.h"

namespace deletion {

// A line holds at most this many characters; a longer one is split into
// pieces of this length (the last piece holds the rest).
constexpr std::size_t kLineLimit = 8191;

// The lines of the list, in order, each without its trailing CR and LF
// characters.  An empty line of the file is an empty line here; a line end
// that directly follows a full piece of a long line ends that line and adds
// no empty line.  A last line without line end counts; an odd last byte (half
// a character) does not.  NUL characters stay in the line they belong to.
std::vector<wstring> readListLines(const unsigned char* bytes, std::size_t size);

}  // namespace deletion
