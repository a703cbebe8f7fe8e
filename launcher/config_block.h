// Reading the configuration block appended to the launcher's own file, and the
// CRC-32 integrity check over it.  Plain functions over a byte source, so they
// run on Windows against the executable and natively against memory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "launcher/config_store.h"
#include "launcher/text.h"

// A positioned byte stream: the executable's file on Windows, memory in tests.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to `size` bytes at the current position.  Returns false on a read
    // error; `got` tells how many bytes arrived, `error` the system error code.
    virtual bool read(void* buffer, std::uint32_t size, std::uint32_t& got, std::uint32_t& error) = 0;
    virtual bool seek(std::int64_t position) = 0;
    virtual std::int64_t position() const = 0;
};

// Which field reader failed; each has its own internal-error text.
enum class ReadFailure { None, Int, Short, Long, String, WString };
const wchar* readFailureText(ReadFailure failure);

// Field readers at the current position; on failure they log as the launcher
// always has and record the failure in `failure` (the caller ends the process).
class BlockReader {
public:
    explicit BlockReader(ByteSource& source) : source_(source) {}
    bool readInt(std::int32_t& value);
    bool readShort(std::int16_t& value);
    bool readLong(std::int64_t& value);
    bool readString(std::string& value);
    bool readWString(wstring& value);
    ByteSource& source() { return source_; }
    ReadFailure failure() const { return failure_; }

private:
    bool readExact(void* buffer, std::uint32_t size, std::uint32_t& got, std::uint32_t& error);
    ByteSource& source_;
    ReadFailure failure_ = ReadFailure::None;
};

// Positions the source at the first byte after the raw data of the last section
// in the PE section table, where the configuration block starts.
bool locateOverlay(BlockReader& reader);

// Does a locale block named `name` apply to the locale code?  (The name is a
// prefix of the code: "de" applies to "de" and "de_AT", "" to every locale.)
bool localeBlockApplies(const std::string& name, const std::string& localeCode);

// Reads the whole block into `store`.  `localeCode` is asked once, after the
// default messages and before the locale blocks.  Returns the failed reader, or
// ReadFailure::None with a magic mismatch reported through `badMagic`.
struct LoadResult {
    ReadFailure failure = ReadFailure::None;
    bool badMagic = false;
};
LoadResult readConfigurationBlock(BlockReader& reader, ConfigStore& store,
                                  const std::function<std::string()>& localeCode);

// The integrity check: verifies the CRC-32 over the covered range.
struct IntegrityResult {
    bool readFailed = false;                  // a read failed or came back empty (internal error "34")
    ReadFailure failure = ReadFailure::None;  // a header field could not be read
    std::uint32_t expected = 1;
    std::uint32_t computed = 0;
    bool magicMatched = false;
    bool checked = false;  // the CRC was computed (magic ok, checking on, flag set)
};
// `progress` is called with percentages (0..100) as they grow, when given.
IntegrityResult checkIntegrity(BlockReader& reader, bool checkEnabled, const std::function<void(int)>& progress);

// Chunk sizes fixed by the launcher's streaming contract.
constexpr std::uint32_t kIntegrityChunk = 12000;
