// Reading the tar stream of a carried Java runtime ("jre.tar.gz"): the header
// fields the launcher uses, the octal sizes, the entry names, and the walk
// over the entries with its end conditions.  Portable: the stream and the
// files are reached through the two interfaces below, which the Windows layer
// (carried_jre_win.cpp) fills with zlib's gz-file reader and the files under
// "jre", and the tests with bytes in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tar {

constexpr std::size_t kBlockSize = 512;
// A header is read as 500 bytes and the rest of its block skipped.
constexpr std::size_t kHeaderReadSize = 500;
// A name (short, long or from an extended header) must be shorter than this.
constexpr std::size_t kNameLimit = 6000;
// Entry data is copied in chunks of this size.
constexpr std::size_t kChunkSize = 32768;
// Progress reports while one file is written: at most one per interval.
constexpr std::uint32_t kProgressIntervalMs = 200;

// Header fields: offset and length.
constexpr std::size_t kNameOffset = 0, kNameLength = 100;
constexpr std::size_t kSizeOffset = 124, kSizeLength = 12;
constexpr std::size_t kTypeOffset = 156;
constexpr std::size_t kMagicOffset = 257, kMagicLength = 5;
constexpr std::size_t kPrefixOffset = 345, kPrefixLength = 155;

// Type flags the reader acts on; every other value is skipped with its data.
constexpr char kTypeFile = '0';
constexpr char kTypeDirectory = '5';
constexpr char kTypeLongName = 'L';  // GNU: the data is the next entry's name
constexpr char kTypeExtended = 'x';  // POSIX: "<length> <key>=<value>\n" records for the next entry

// The size field: leading blanks and zeros are skipped; after the first other
// character a blank ends the number; a NUL ends it anywhere; every other
// character adds (its code - '0') to the value times 8, unchecked.  May be
// negative for characters below '0'.
std::int64_t parseOctalSize(const char* field, std::size_t length);

// Does a header block (at least kHeaderReadSize bytes) carry the "ustar" magic?
bool hasMagic(const char* header);

// The name of a header block: the 100-byte name field (NUL-terminated or
// full) with every "/" turned into "\".  A POSIX header ("ustar" followed by
// NUL) with a non-empty prefix field names "<prefix>\<name>".
std::string headerName(const char* header);

// The "path" record of a POSIX extended header's data, if it has one.  The
// records are "<decimal length> <key>=<value>\n"; a malformed record ends the
// scan.
std::optional<std::string> extendedHeaderPath(const std::string& records);

// The progress bar position while the archive is unpacked: 100 + position *
// 100 / total, kept within 100..200.  Nothing when the total is not known
// (0 or less): the bar then stays where it is.
std::optional<int> unpackBarPosition(std::int64_t position, std::int64_t total);

}  // namespace tar

// The decompressed tar stream, read forward only.
class TarSource {
public:
    virtual ~TarSource() = default;
    // Has a read already run into the end of the stream?
    virtual bool atEnd() = 0;
    // Reads up to `size` bytes: the count, 0 when the stream is exhausted,
    // -1 on a read error.
    virtual long read(char* buffer, std::size_t size) = 0;
    // Skips `bytes` (never negative) forward; false on failure.
    virtual bool skip(std::int64_t bytes) = 0;
    // The position in the uncompressed stream.
    virtual std::int64_t position() = 0;
};

// Where the entries go.  Names are relative to the target directory.
class TarTarget {
public:
    virtual ~TarTarget() = default;
    // Creates one directory level; an existing directory is no error, and
    // failures are ignored (a file inside it then cannot be created).
    virtual void makeDirectory(const std::string& name) = 0;
    // Creates (or replaces) the file and keeps it open for writeFile.
    virtual bool createFile(const std::string& name) = 0;
    // Appends to the open file; false when fewer bytes were written or the
    // file reports an error.
    virtual bool writeFile(const char* data, std::size_t size) = 0;
    // Closes the open file; false when closing reported an error.
    virtual bool closeFile() = 0;
    // The uncompressed position reached, for the progress bar.
    virtual void progress(std::int64_t position) = 0;
    // A millisecond clock for spacing the progress reports.
    virtual std::uint32_t milliseconds() = 0;
};

enum class UntarStatus {
    Complete,        // read to its end with at least one file written
    Failed,          // a read, skip or write failed, a name was refused, or no file was written
    FileNotCreated,  // a file could not be created: the caller ends the start-up
};

struct UntarResult {
    UntarStatus status = UntarStatus::Failed;
    std::string failedName;  // the file that could not be created
};

// Walks the entries: directories are created, files written, every other
// type skipped with its data; GNU long names and the "path" of POSIX extended
// headers name the entry after them.  Names that are absolute, carry a drive
// or a colon, or climb out with ".." are refused (the untar fails); so are
// names of kNameLimit bytes or more and negative sizes.  Every step is logged.
UntarResult untar(TarSource& source, TarTarget& target);
