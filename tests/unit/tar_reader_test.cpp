#include "frontend/tar_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/unit/log_capture.h"

namespace {

// ---- Building archives ------------------------------------------------------

enum class Format { Gnu, Posix };

std::string octal(std::int64_t value, std::size_t width) {
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + value % 8));
        value /= 8;
    } while (value > 0);
    return std::string(width - 1 - digits.size(), '0') + digits;
}

// One header block; `sizeField` replaces the formatted size when given.
std::string header(const std::string& name, std::int64_t size, char type, Format format = Format::Gnu,
                   const std::string& prefix = "", const char* sizeField = nullptr) {
    std::string block(tar::kBlockSize, '\0');
    block.replace(0, std::min<std::size_t>(name.size(), 100), name.substr(0, 100));
    if (sizeField)
        std::memcpy(&block[tar::kSizeOffset], sizeField, tar::kSizeLength);
    else
        block.replace(tar::kSizeOffset, 11, octal(size, 12));
    block[tar::kTypeOffset] = type;
    const char* magic = format == Format::Gnu ? "ustar  "
                                              : "ustar\0"
                                                "00";
    std::memcpy(&block[tar::kMagicOffset], magic, 8);
    block.replace(tar::kPrefixOffset, prefix.size(), prefix);
    return block;
}

std::string padded(const std::string& data) {
    const std::size_t rest = data.size() % tar::kBlockSize;
    return rest ? data + std::string(tar::kBlockSize - rest, '\0') : data;
}

std::string entry(const std::string& name, const std::string& data, char type = tar::kTypeFile,
                  Format format = Format::Gnu) {
    return header(name, static_cast<std::int64_t>(data.size()), type, format) + padded(data);
}

std::string longName(const std::string& name) { return entry("././@LongLink", name + '\0', tar::kTypeLongName); }

std::string paxRecord(const std::string& key, const std::string& value) {
    const std::string body = " " + key + "=" + value + "\n";
    std::size_t length = body.size() + 1;
    while (std::to_string(length).size() + body.size() != length) ++length;
    return std::to_string(length) + body;
}

const std::string kEnd(2 * tar::kBlockSize, '\0');

// ---- The stream and the target ----------------------------------------------

class MemorySource : public TarSource {
public:
    explicit MemorySource(std::string bytes, long failReadAt = -1) : bytes_(std::move(bytes)), failAt_(failReadAt) {}
    bool atEnd() override { return ranOut_; }
    long read(char* buffer, std::size_t size) override {
        if (failAt_ >= 0 && static_cast<long>(at_) >= failAt_) return -1;
        const std::size_t left = at_ < bytes_.size() ? bytes_.size() - at_ : 0;
        const std::size_t n = std::min(size, left);
        if (n < size) ranOut_ = true;
        std::memcpy(buffer, bytes_.data() + at_, n);
        at_ += n;
        return static_cast<long>(n);
    }
    bool skip(std::int64_t bytes) override {
        EXPECT_GE(bytes, 0) << "the stream is never rewound";
        at_ += static_cast<std::size_t>(bytes);
        return true;
    }
    std::int64_t position() override { return static_cast<std::int64_t>(at_); }

private:
    std::string bytes_;
    long failAt_;
    std::size_t at_ = 0;
    bool ranOut_ = false;
};

class RecordingTarget : public TarTarget {
public:
    std::set<std::string> refuse;  // files that cannot be created
    bool failWrites = false;
    std::uint32_t tick = 0;  // the clock advances by this on every reading
    std::vector<std::string> directories;
    std::map<std::string, std::string> files;
    std::vector<std::int64_t> progress_;

    void makeDirectory(const std::string& name) override { directories.push_back(name); }
    bool createFile(const std::string& name) override {
        if (refuse.count(name)) return false;
        current_ = name;
        files[name].clear();
        return true;
    }
    bool writeFile(const char* data, std::size_t size) override {
        if (failWrites) return false;
        files[current_].append(data, size);
        return true;
    }
    bool closeFile() override { return true; }
    void progress(std::int64_t position) override { progress_.push_back(position); }
    std::uint32_t milliseconds() override { return now_ += tick; }

private:
    std::string current_;
    std::uint32_t now_ = 0;
};

UntarResult run(const std::string& archive, RecordingTarget& target, long failReadAt = -1) {
    log_capture::clear();
    MemorySource source(archive, failReadAt);
    return untar(source, target);
}

bool logged(const std::string& line) { return log_capture::contains(wstring(line.begin(), line.end())); }

// ---- Sizes, names, positions -------------------------------------------------

TEST(TarReader, OctalSizes) {
    const struct {
        const char field[13];
        std::int64_t size;
    } cases[] = {
        {"00000001750 ", 1000},  // the usual form: eleven digits and a blank
        {"            ", 0},     // all blanks
        {"000000000000", 0},     // all zeros
        {"0000000000 1", 1},     // ten zeros, a blank, then 1: leading blanks and zeros are skipped
        {" 0 0 0 0 0 1", 1},     // blanks and zeros in any mix
        {"17 5        ", 15},    // a blank after a digit ends the number
        {"17\0"
         "5       ",
         15},  // so does a NUL
        {"\0"
         "7777777777 ",
         0},
        {"77777777777 ", 8589934591LL},  // the largest eleven-digit size
        {"8           ", 8},             // no validation: '8' counts as 8
    };
    for (const auto& c : cases)
        EXPECT_EQ(tar::parseOctalSize(c.field, tar::kSizeLength), c.size) << std::string(c.field, 12);
}

TEST(TarReader, HeaderNames) {
    // Short names turn "/" into "\"; a POSIX header prepends its prefix, a GNU
    // header's prefix bytes are other data.
    EXPECT_EQ(tar::headerName(header("bin/java.exe", 0, '0').data()), "bin\\java.exe");
    EXPECT_EQ(tar::headerName(header("java.exe", 0, '0', Format::Posix, "lib/deep").data()), "lib\\deep\\java.exe");
    EXPECT_EQ(tar::headerName(header("java.exe", 0, '0', Format::Gnu, "lib/deep").data()), "java.exe");
    const std::string full(100, 'n');
    EXPECT_EQ(tar::headerName(header(full, 0, '0').data()), full);  // no NUL: all 100 bytes
}

TEST(TarReader, ExtendedHeaderPath) {
    EXPECT_EQ(tar::extendedHeaderPath(paxRecord("mtime", "1.5") + paxRecord("path", "a/b c")), "a/b c");
    EXPECT_EQ(tar::extendedHeaderPath(paxRecord("uname", "x")), std::nullopt);
    EXPECT_EQ(tar::extendedHeaderPath("99 path=x\n"), std::nullopt);           // length past the end
    EXPECT_EQ(tar::extendedHeaderPath("3 path=x\n"), std::nullopt);            // length too short
    EXPECT_EQ(tar::extendedHeaderPath("x path=y\n"), std::nullopt);            // no length
    EXPECT_EQ(tar::extendedHeaderPath(paxRecord("path", "ok") + "zz"), "ok");  // the good record before junk counts
}

TEST(TarReader, BarPositions) {
    EXPECT_EQ(tar::unpackBarPosition(0, 1000), 100);
    EXPECT_EQ(tar::unpackBarPosition(499, 1000), 149);
    EXPECT_EQ(tar::unpackBarPosition(1000, 1000), 200);
    EXPECT_EQ(tar::unpackBarPosition(5000, 1000), 200);      // an entry 151 that is too small stays in range
    EXPECT_EQ(tar::unpackBarPosition(10, 0), std::nullopt);  // unknown total: the bar stays
    EXPECT_EQ(tar::unpackBarPosition(10, -1), std::nullopt);
    // Totals where position * 100 leaves 64 bits (a fuzzer's find).
    EXPECT_EQ(tar::unpackBarPosition(INT64_MAX, INT64_MAX), 200);
    EXPECT_EQ(tar::unpackBarPosition(INT64_MAX / 2, INT64_MAX), 149);
    EXPECT_EQ(tar::unpackBarPosition(3617573801609507249, INT64_MAX), 139);
}

// ---- Whole archives ----------------------------------------------------------

TEST(TarReader, FilesAndDirectoriesAreWritten) {
    const std::string block(512, 'b');
    RecordingTarget target;
    const UntarResult result =
        run(entry("bin/", "", tar::kTypeDirectory) + entry("bin/block", block) + entry("bin/small", "hello") + kEnd,
            target);
    EXPECT_EQ(result.status, UntarStatus::Complete);
    EXPECT_EQ(target.directories, std::vector<std::string>{"bin\\"});
    // A 512-byte entry is followed directly by the next header.
    EXPECT_EQ(target.files["bin\\block"], block);
    EXPECT_EQ(target.files["bin\\small"], "hello");
    EXPECT_TRUE(logged("extracting bin\\block (size 512)"));
    EXPECT_TRUE(logged("untaring JRE was successful"));
    EXPECT_FALSE(logged("no magic number"));  // files were written: the end is not reported
}

TEST(TarReader, RawSizeFieldsDecideTheData) {
    RecordingTarget target;
    EXPECT_EQ(
        run(header("f", 0, '0', Format::Gnu, "", "17 5        ") + padded(std::string(15, 'x')) + kEnd, target).status,
        UntarStatus::Complete);
    EXPECT_EQ(target.files["f"], std::string(15, 'x'));
}

TEST(TarReader, LongNamesFromEveryFormat) {
    const std::string gnu = "legal/java.base/" + std::string(120, 'g') + "/LICENSE";
    const std::string posix = "legal/java.desktop/" + std::string(120, 'p') + "/LICENSE";
    const std::string pax = paxRecord("path", posix) + paxRecord("mtime", "1700000000.5");
    RecordingTarget target;
    const UntarResult result = run(longName(gnu) + entry("ignored-short-name", "gnu") +
                                       header("ignored", static_cast<std::int64_t>(pax.size()), 'x', Format::Posix) +
                                       padded(pax) + entry("cut-by-the-writer", "pax", tar::kTypeFile, Format::Posix) +
                                       header("LICENSE", 5, '0', Format::Posix, "legal/x") + padded("ustar") + kEnd,
                                   target);
    EXPECT_EQ(result.status, UntarStatus::Complete);
    // A long name is used as stored; names from the header turn "/" into "".
    EXPECT_EQ(target.files,
              (std::map<std::string, std::string>{{gnu, "gnu"}, {posix, "pax"}, {"legal\\x\\LICENSE", "ustar"}}));
}

TEST(TarReader, LinksAndOtherTypesAreSkippedWithTheirData) {
    const std::string pax = paxRecord("uname", "someone");
    RecordingTarget target;
    const UntarResult result = run(entry("link", std::string(700, 'l'), '2') + entry("hard", "", '1') +
                                       header("g", static_cast<std::int64_t>(pax.size()), 'g') + padded(pax) +
                                       header("x", static_cast<std::int64_t>(pax.size()), 'x') + padded(pax) +
                                       entry("old-style", "data", '\0') + entry("real", "kept") + kEnd,
                                   target);
    EXPECT_EQ(result.status, UntarStatus::Complete);
    EXPECT_EQ(target.files.size(), 1u);
    EXPECT_EQ(target.files["real"], "kept");
}

TEST(TarReader, ArchivesThatFail) {
    const std::string longest(tar::kNameLimit - 2, 'n');  // with its NUL the entry is 5,999 bytes
    const struct {
        const char* what;
        std::string archive;
        std::vector<std::string> lines;
    } cases[] = {
        {"only directories, end blocks", entry("a/", "", '5') + kEnd, {"no magic number"}},
        {"only directories, no end blocks", entry("a/", "", '5'), {"ERROR: unexpected eof"}},
        {"empty", "", {"ERROR: unexpected eof"}},
        {"truncated data", header("big", 2000, '0') + std::string(100, 'x'), {"sizes don't match: 100, 2000"}},
        {"long name of 6,000 bytes",
         longName(std::string(tar::kNameLimit - 1, 'n')) + entry("x", "1") + kEnd,
         {"ERROR: name entry too long (6000 bytes)"}},
        {"negative size", header("f", 0, '0', Format::Gnu, "", "-           ") + kEnd, {"ERROR: bad entry size -3"}},
        {"truncated long name", header("././@LongLink", 50, 'L') + "short", {"gzread failed for long file name"}},
        {"parent step", entry("../evil", "x") + kEnd, {"ERROR: unsafe entry name ..\\evil"}},
        {"parent step, backslash",
         entry("jre\\..\\..\\evil", "x") + kEnd,
         {"ERROR: unsafe entry name jre\\..\\..\\evil"}},
        {"parent step in a long name",
         longName("a/../../evil") + entry("x", "1") + kEnd,
         {"ERROR: unsafe entry name a/../../evil"}},
        {"absolute", entry("/etc/evil", "x") + kEnd, {"ERROR: unsafe entry name \\etc\\evil"}},
        {"drive", entry("C:\\evil", "x") + kEnd, {"ERROR: unsafe entry name C:\\evil"}},
        {"colon", entry("file:stream", "x") + kEnd, {"ERROR: unsafe entry name file:stream"}},
        {"unsafe directory", entry("../up/", "", '5') + kEnd, {"ERROR: unsafe entry name ..\\up\\"}},
    };
    for (const auto& c : cases) {
        RecordingTarget target;
        EXPECT_EQ(run(c.archive, target).status, UntarStatus::Failed) << c.what;
        for (const std::string& line : c.lines) EXPECT_TRUE(logged(line)) << c.what << ": " << line;
        EXPECT_TRUE(logged("ERROR: untaring JRE was unsuccessful")) << c.what;
        // Nothing is made for a refused or oversized name.
        const std::string what = c.what;
        if (what.find("only directories") == std::string::npos) {
            EXPECT_TRUE(target.directories.empty()) << c.what;
        }
        if (what != "truncated data") {
            EXPECT_TRUE(target.files.empty()) << c.what;
        }
    }
    // The longest name that fits is taken.
    RecordingTarget target;
    EXPECT_EQ(run(longName(longest) + entry("x", "1") + kEnd, target).status, UntarStatus::Complete);
    EXPECT_EQ(target.files.count(longest), 1u);
}

TEST(TarReader, FailuresAfterWrittenFilesStillFail) {
    RecordingTarget target;
    EXPECT_EQ(run(entry("good", "1") + entry("../evil", "2") + kEnd, target).status, UntarStatus::Failed);
    EXPECT_EQ(target.files.size(), 1u);
}

TEST(TarReader, ReadAndWriteErrors) {
    RecordingTarget target;
    EXPECT_EQ(run(entry("a", "1") + kEnd, target, 0).status, UntarStatus::Failed);
    EXPECT_TRUE(logged("gzread failed"));

    RecordingTarget failing;
    failing.failWrites = true;
    EXPECT_EQ(run(entry("a", "1") + kEnd, failing).status, UntarStatus::Failed);
    EXPECT_TRUE(logged("stream error"));
    EXPECT_TRUE(logged("extract file failed"));
}

TEST(TarReader, AFileThatCannotBeCreatedEndsTheUntar) {
    RecordingTarget target;
    target.refuse = {"bin\\locked"};
    const UntarResult result = run(entry("bin/locked", "x") + entry("later", "y") + kEnd, target);
    EXPECT_EQ(result.status, UntarStatus::FileNotCreated);
    EXPECT_EQ(result.failedName, "bin\\locked");
    EXPECT_TRUE(logged("ERROR: Could not open file bin\\locked\n"));
    EXPECT_EQ(target.files.count("later"), 0u);
    EXPECT_FALSE(logged("ERROR: untaring JRE was unsuccessful"));  // the caller ends the start-up
}

TEST(TarReader, ProgressAtEachFileAndAtMostEvery200Milliseconds) {
    const std::string big(5 * tar::kChunkSize, 'z');
    RecordingTarget target;
    target.tick = 100;  // each chunk takes 100 ms
    ASSERT_EQ(run(entry("big", big) + kEnd, target).status, UntarStatus::Complete);
    // At the file's start (after its header), after the first chunk, then
    // after every second chunk.
    const std::int64_t data = tar::kBlockSize, chunk = tar::kChunkSize;
    EXPECT_EQ(target.progress_, (std::vector<std::int64_t>{data, data + chunk, data + 3 * chunk, data + 5 * chunk}));
}

}  // namespace
