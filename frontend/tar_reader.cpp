#include "frontend/tar_reader.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "launcher/log.h"
#include "launcher/payload.h"

namespace tar {

std::int64_t parseOctalSize(const char* field, std::size_t length) {
    std::size_t i = 0;
    while (i < length && (field[i] == ' ' || field[i] == '0')) ++i;
    std::int64_t value = 0;
    for (; i < length; ++i) {
        const char c = field[i];
        if (c == '\0' || c == ' ') break;
        value = value * 8 + (static_cast<unsigned char>(c) - '0');
    }
    return value;
}

bool hasMagic(const char* header) { return std::memcmp(header + kMagicOffset, "ustar", kMagicLength) == 0; }

namespace {

// A NUL-terminated field, or all of it when it has no NUL.
std::string fieldText(const char* field, std::size_t length) {
    std::size_t n = 0;
    while (n < length && field[n] != '\0') ++n;
    return std::string(field, n);
}

}  // namespace

std::string headerName(const char* header) {
    std::string name = fieldText(header + kNameOffset, kNameLength);
    // Only a POSIX header uses the prefix field; GNU headers ("ustar" and a
    // blank) keep other data there.
    if (header[kMagicOffset + kMagicLength] == '\0') {
        const std::string prefix = fieldText(header + kPrefixOffset, kPrefixLength);
        if (!prefix.empty()) name = prefix + "/" + name;
    }
    for (char& c : name)
        if (c == '/') c = '\\';
    return name;
}

std::optional<std::string> extendedHeaderPath(const std::string& records) {
    std::optional<std::string> path;
    std::size_t at = 0;
    while (at < records.size()) {
        // "<length> <key>=<value>\n", the length counting the whole record.
        std::size_t length = 0, p = at;
        while (p < records.size() && records[p] >= '0' && records[p] <= '9' && length <= records.size())
            length = length * 10 + static_cast<std::size_t>(records[p++] - '0');
        if (p == at || p >= records.size() || records[p] != ' ') break;
        if (length > records.size() - at || length < p - at + 2) break;
        const std::size_t end = at + length;
        if (records[end - 1] != '\n') break;
        const std::string record = records.substr(p + 1, end - 1 - (p + 1));
        const std::size_t equals = record.find('=');
        if (equals != std::string::npos && record.compare(0, equals, "path") == 0) path = record.substr(equals + 1);
        at = end;
    }
    return path;
}

std::optional<int> unpackBarPosition(std::int64_t position, std::int64_t total) {
    if (total <= 0) return std::nullopt;
    if (position < 0) position = 0;
    if (position > total) position = total;
    // position * 100 must fit 64 bits: a larger pair is scaled down alike,
    // which keeps the ratio the bar shows.
    while (position > INT64_MAX / 100) {
        position /= 128;
        total /= 128;
    }
    return 100 + static_cast<int>(position * 100 / total);
}

}  // namespace tar

namespace {

using namespace tar;

// Extended header data beyond this is refused (a path record alone may use
// almost kNameLimit bytes).
constexpr std::int64_t kExtendedHeaderLimit = 4 * kNameLimit;

enum class Step { Next, Stop, Fail, FileNotCreated };

class Untar {
public:
    Untar(TarSource& source, TarTarget& target) : source_(source), target_(target), chunk_(kChunkSize) {}

    UntarResult run() {
        UntarResult result;
        Step step = Step::Next;
        while (step == Step::Next) step = entry(result);
        if (step == Step::FileNotCreated) {
            result.status = UntarStatus::FileNotCreated;
            return result;
        }
        const bool complete = step == Step::Stop && written_;
        if (complete)
            logMessage(W("untaring JRE was successful"));
        else
            logError(W("untaring JRE was unsuccessful"));
        result.status = complete ? UntarStatus::Complete : UntarStatus::Failed;
        return result;
    }

private:
    // Reads the next header into header_.  Next: a header was read; Stop: the
    // archive ended (its result is whether a file was written); Fail.
    Step readHeader() {
        if (source_.atEnd()) return endOfArchive();
        std::memset(header_, 0, sizeof header_);
        const long got = source_.read(header_, kHeaderReadSize);
        if (got < 0) {
            logMessage(W("gzread failed"));
            return Step::Fail;
        }
        // A read that delivers nothing is the end of the data, as at eof.
        if (got == 0) return endOfArchive();
        if (!hasMagic(header_)) {
            if (!written_) logMessage(W("no magic number"));
            return Step::Stop;
        }
        if (!source_.skip(kBlockSize - kHeaderReadSize)) {
            logMessage(W("gzseek 1 failed"));
            return Step::Fail;
        }
        return Step::Next;
    }

    Step endOfArchive() {
        if (!written_) logError(W("unexpected eof"));
        return Step::Stop;
    }

    bool skipPadding(std::int64_t size, const wchar* failure) {
        const std::int64_t rest = size % static_cast<std::int64_t>(kBlockSize);
        if (rest == 0) return true;
        if (source_.skip(static_cast<std::int64_t>(kBlockSize) - rest)) return true;
        logMessage(W("%s"), failure);
        return false;
    }

    // The data of a long-name or extended header, at most `limit` bytes.
    bool readMetaData(std::int64_t size, std::int64_t limit, std::string& data, const wchar* failure) {
        if (size >= limit) {
            logError(W("name entry too long (%I64d bytes)"), static_cast<long long>(size));
            return false;
        }
        data.assign(static_cast<std::size_t>(size), '\0');
        std::size_t done = 0;
        while (done < data.size()) {
            const long got = source_.read(&data[done], data.size() - done);
            if (got <= 0) {
                logMessage(W("%s"), failure);
                return false;
            }
            done += static_cast<std::size_t>(got);
        }
        return true;
    }

    // One entry, with the long-name and extended headers before it.
    Step entry(UntarResult& result) {
        std::optional<std::string> givenName;
        for (;;) {
            const Step read = readHeader();
            if (read != Step::Next) return read;
            const std::int64_t size = parseOctalSize(header_ + kSizeOffset, kSizeLength);
            if (size < 0) {
                logError(W("bad entry size %I64d"), static_cast<long long>(size));
                return Step::Fail;
            }
            const char type = header_[kTypeOffset];
            if (type == kTypeLongName) {
                std::string name;
                if (!readMetaData(size, static_cast<std::int64_t>(kNameLimit), name,
                                  W("gzread failed for long file name")))
                    return Step::Fail;
                name.resize(std::strlen(name.c_str()));
                givenName = name;
                if (!skipPadding(size, W("gzseek 4 failed"))) return Step::Fail;
                continue;
            }
            if (type == kTypeExtended) {
                std::string records;
                if (!readMetaData(size, kExtendedHeaderLimit, records, W("gzread failed for extended header")))
                    return Step::Fail;
                if (std::optional<std::string> path = extendedHeaderPath(records)) {
                    if (path->size() >= kNameLimit) {
                        logError(W("name entry too long (%I64d bytes)"), static_cast<long long>(path->size()));
                        return Step::Fail;
                    }
                    givenName = std::move(*path);
                }
                if (!skipPadding(size, W("gzseek 4 failed"))) return Step::Fail;
                continue;
            }
            const std::string name = givenName ? *givenName : headerName(header_);
            const Step done = content(type, name, size, result);
            if (done != Step::Next) return done;
            return skipPadding(size, W("gzseek 3 failed")) ? Step::Next : Step::Fail;
        }
    }

    Step content(char type, const std::string& name, std::int64_t size, UntarResult& result) {
        if (type != kTypeFile && type != kTypeDirectory) {
            // Links, devices, old-style files, extended and global headers of
            // other kinds: nothing is created, their data is skipped.
            if (!source_.skip(size)) {
                logMessage(W("gzseek 2 failed"));
                return Step::Fail;
            }
            return Step::Next;
        }
        if (!isSafePayloadName(name)) {
            logError(W("unsafe entry name %S"), name.c_str());
            return Step::Fail;
        }
        if (type == kTypeDirectory) {
            target_.makeDirectory(name);
            return Step::Next;
        }
        target_.progress(source_.position());
        const Step file = writeFile(name, size);
        if (file == Step::FileNotCreated) result.failedName = name;
        if (file == Step::Fail) logMessage(W("extract file failed"));
        if (file == Step::Next) written_ = true;
        return file;
    }

    Step writeFile(const std::string& name, std::int64_t size) {
        logMessage(W("extracting %S (size %d)"), name.c_str(), static_cast<int>(size));
        if (!target_.createFile(name)) {
            logError(W("Could not open file %S\n"), name.c_str());
            return Step::FileNotCreated;
        }
        std::int64_t done = 0;
        bool fileError = false, first = true;
        std::uint32_t lastReport = 0;
        while (done < size) {
            const std::int64_t left = size - done;
            const std::size_t want =
                left < static_cast<std::int64_t>(kChunkSize) ? static_cast<std::size_t>(left) : kChunkSize;
            const long got = source_.read(chunk_.data(), want);
            if (got <= 0) break;
            done += got;
            if (!target_.writeFile(chunk_.data(), static_cast<std::size_t>(got))) {
                fileError = true;
                break;
            }
            const std::uint32_t now = target_.milliseconds();
            if (first || now - lastReport >= kProgressIntervalMs) {
                target_.progress(source_.position());
                lastReport = now;
                first = false;
            }
        }
        if (!target_.closeFile()) fileError = true;
        if (fileError) {
            logMessage(W("stream error"));
            return Step::Fail;
        }
        if (done < size) {
            logMessage(W("sizes don't match: %d, %d"), static_cast<int>(done), static_cast<int>(size));
            return Step::Fail;
        }
        return Step::Next;
    }

    TarSource& source_;
    TarTarget& target_;
    std::vector<char> chunk_;
    char header_[kHeaderReadSize];
    bool written_ = false;
};

}  // namespace

UntarResult untar(TarSource& source, TarTarget& target) { return Untar(source, target).run(); }
