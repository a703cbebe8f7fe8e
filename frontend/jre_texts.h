// The texts of the locate/download flow, composed from the configured
// messages: the question of dialog 104 and the download's status line.  Plain
// functions over strings; configured messages are never used as printf
// formats unchecked.
#pragma once

#include <cstdint>
#include <string>

#include "launcher/text.h"

// The question of dialog 104: `question` (message 20005 or 20006) with its
// first "%S" replaced by the bit width ("32" or "64"), then the configured
// version bounds: " (" minimum label " " minimum, ", " (or " (" when no
// minimum was given) maximum label " " maximum, and ")" when either was
// given.  Only "%S" and "%%" are read in the message; any other "%" stays as
// written.  Bounded to 6,000 code units.
wstring questionText(const wstring& question, int bits, const std::string& minimumVersion,
                     const std::string& maximumVersion, const wstring& minimumLabel, const wstring& maximumLabel);

// The status line's format when message 20008 cannot take the four values.
extern const wchar* const kDefaultDownloadStatusFormat;

// True when `format` (message 20008) may be given the status line's four
// floating-point values: "%%" and at most four conversions f, e, g, E or G
// with flags, a width and a precision of at most two digits each and no size
// prefix or "*".  Anything else (a "%s" reading a pointer that is not there,
// a fifth value) would read arguments that do not exist.
bool downloadStatusFormatUsable(const wstring& format);

// The status line: `format` (usable, see above) with the megabytes received,
// the megabytes announced, the percentage and the rate in bytes per
// millisecond since the transfer began.  An update within the first
// millisecond shows the rate 0; an announced length of 0 shows 100 percent.
wstring downloadStatusText(const wstring& format, std::uint64_t received, std::uint64_t length,
                           std::uint32_t elapsedMilliseconds);

// The bar during a download: the integer part of received / length x 100
// (100 for a length of 0).
int downloadBarPosition(std::uint64_t received, std::uint64_t length);
