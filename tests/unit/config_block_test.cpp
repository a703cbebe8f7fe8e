#include "launcher/config_block.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "launcher/config_store.h"
#include "launcher/format.h"
#include "tests/unit/block_builder.h"
#include "tests/unit/log_capture.h"

namespace {

// A complete block: two settings, two messages, the given locale blocks.
BlockBuilder sampleInstaller(const std::vector<std::pair<std::string, wstring>>& locales = {}) {
    BlockBuilder b;
    b.peImage();
    b.header(1);
    b.i32(3);
    b.i32(107), b.text("5");
    b.i32(2001), b.text("i");
    b.i32(107), b.text("1");  // a later record replaces an earlier one
    b.i32(2);
    b.i32(1000), b.wide(W("Error"));
    b.i32(20016), b.wide(W("corrupted"));
    b.i32(static_cast<std::int64_t>(locales.size()));
    for (const auto& locale : locales) {
        b.text(locale.first);
        b.i32(1);
        b.i32(20016), b.wide(locale.second);
    }
    b.finish();
    return b;
}

struct Loaded {
    LoadResult result;
    ConfigStore store;
    std::int64_t end = 0;
};

Loaded load(const std::vector<unsigned char>& bytes, const std::string& locale = "en_US") {
    MemorySource source(bytes);
    BlockReader reader(source);
    Loaded loaded;
    loaded.result = readConfigurationBlock(reader, loaded.store, [&] { return locale; });
    return loaded;
}

TEST(ConfigBlock, ReadsSettingsMessagesAndPayloadOffset) {
    BlockBuilder b = sampleInstaller();
    Loaded loaded = load(b.out);
    ASSERT_EQ(loaded.result.failure, ReadFailure::None);
    ASSERT_FALSE(loaded.result.badMagic);
    EXPECT_EQ(loaded.store.values.at(107), "1");
    EXPECT_EQ(loaded.store.values.at(2001), "i");
    EXPECT_EQ(loaded.store.messages.at(20016), W("corrupted"));
    EXPECT_EQ(loaded.store.payloadOffset, static_cast<std::int64_t>(b.out.size()));
    EXPECT_EQ(loaded.store.language, "en");
    EXPECT_EQ(loaded.store.country, "US");
}

TEST(ConfigBlock, BlockIsFoundThroughTheLastSectionInTableOrder) {
    log_capture::clear();
    BlockBuilder b = sampleInstaller();
    ASSERT_EQ(load(b.out).result.failure, ReadFailure::None);
    EXPECT_TRUE(log_capture::contains(W("number of sections: 2")));
    EXPECT_TRUE(log_capture::contains(W("rawDataSize: 512, rawDataOffset: 512")));
}

TEST(ConfigBlock, LocaleBlocksApplyByPrefixInFileOrder) {
    const std::vector<std::pair<std::string, wstring>> locales = {
        {"pt", W("pt text")}, {"pt_BR", W("pt_BR text")}, {"de", W("de text")}};
    EXPECT_EQ(load(sampleInstaller(locales).out, "pt_BR").store.messages.at(20016), W("pt_BR text"));
    EXPECT_EQ(load(sampleInstaller(locales).out, "pt").store.messages.at(20016), W("pt text"));
    EXPECT_EQ(load(sampleInstaller(locales).out, "de_AT").store.messages.at(20016), W("de text"));
    EXPECT_EQ(load(sampleInstaller(locales).out, "fr_FR").store.messages.at(20016), W("corrupted"));
    EXPECT_EQ(load(sampleInstaller({{"", W("for all")}}).out, "ja_JP").store.messages.at(20016), W("for all"));
}

TEST(ConfigBlock, LocaleCodeSplit) {
    Loaded plain = load(sampleInstaller().out, "de");
    EXPECT_EQ(plain.store.language, "de");
    EXPECT_EQ(plain.store.country, "");
    Loaded three = load(sampleInstaller().out, "no_NO_NY");
    EXPECT_EQ(three.store.language, "no");
    EXPECT_EQ(three.store.country, "");
}

TEST(ConfigBlock, MissingMagic) {
    BlockBuilder b;
    b.peImage();
    b.i32(0x12345678);
    Loaded loaded = load(b.out);
    EXPECT_TRUE(loaded.result.badMagic);
    BlockBuilder bare;
    bare.peImage();  // nothing appended at all
    Loaded none = load(bare.out);
    EXPECT_TRUE(none.result.badMagic);
    EXPECT_EQ(none.result.failure, ReadFailure::None);
}

// Cutting the block inside each kind of field fails with that field's reader.
TEST(ConfigBlock, TruncationNamesTheReaderOfTheCutField) {
    BlockBuilder b = sampleInstaller({{"de", W("de text")}});
    const std::size_t start = b.blockStart;
    const std::size_t firstValue = start + 20 + 4 + 4 + 4;  // N, id, length
    const std::size_t firstMessageText = firstValue + 1 + (4 + 4 + 1) * 2 + 4 + 4 + 4;
    struct Cut {
        std::size_t at;
        ReadFailure expected;
        const char* where;
    } cuts[] = {
        {start + 14, ReadFailure::Long, "covered length"},
        {start + 22, ReadFailure::Int, "record count"},
        {firstValue - 2, ReadFailure::Int, "string length"},
        {firstValue, ReadFailure::String, "string bytes"},
        {firstMessageText + 3, ReadFailure::WString, "message text"},
        {b.out.size() - 1, ReadFailure::WString, "locale message text"},
    };
    for (const Cut& cut : cuts) {
        std::vector<unsigned char> cutBytes(b.out.begin(), b.out.begin() + cut.at);
        EXPECT_EQ(load(cutBytes).result.failure, cut.expected) << cut.where;
    }
    EXPECT_EQ(wstring(readFailureText(ReadFailure::String)), W("Internal Error: readString"));
    EXPECT_EQ(wstring(readFailureText(ReadFailure::WString)), W("Internal Error: readWString"));
}

TEST(ConfigBlock, AbsurdLengthFailsWithoutAllocatingIt) {
    BlockBuilder b;
    b.peImage();
    b.header(0);
    b.i32(1);
    b.i32(5), b.i32(0x7FFFFFF0);  // claims ~2 GB of text
    b.out.push_back('x');
    EXPECT_EQ(load(b.out).result.failure, ReadFailure::String);
    BlockBuilder negative;
    negative.peImage();
    negative.header(0);
    negative.i32(1);
    negative.i32(5), negative.i32(-4);
    EXPECT_EQ(load(negative.out).result.failure, ReadFailure::String);
}

// Ids of the accessor tests' own values.
enum TestId : std::int32_t {
    kNineBytes = 1,
    kEmpty,
    kWord,
    kNegative,
    kPlusSeven,
    kTooLarge,
    kLatin1,
    kMissing = 404,
};

class Accessors : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigStore& store = configStore();
        store = ConfigStore();
        store.values[kNineBytes] = std::string(9, 'a');
        store.values[kEmpty] = "";
        store.values[kWord] = "abc";
        store.values[kNegative] = "  -42xyz";
        store.values[kPlusSeven] = "+7";
        store.values[kTooLarge] = "99999999999";
        store.values[1000] = "config caption";
        store.messages[20013] = W("tovrix Wizard");
        store.messages[1000] = W("");
        log_capture::clear();
    }
};

TEST_F(Accessors, ConfigStringTruncatesAtCapacityMinusOne) {
    char buffer[10];
    getConfigString(kNineBytes, buffer, sizeof buffer);  // exactly capacity-1 bytes
    EXPECT_EQ(std::string(buffer), std::string(9, 'a'));
    EXPECT_TRUE(log_capture::lines().empty());

    char small[9];
    getConfigString(kNineBytes, small, sizeof small);  // one byte more than fits
    EXPECT_EQ(std::string(small), std::string(8, 'a'));
    EXPECT_TRUE(log_capture::contains(W("ERROR: config string 1 truncated (9 9)")));

    getConfigString(kMissing, buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer), "");
}

TEST_F(Accessors, ConfigIntOfMissingEmptyAndNonNumericIsZero) {
    EXPECT_EQ(getConfigInt(kMissing), 0);
    EXPECT_EQ(getConfigInt(kEmpty), 0);
    EXPECT_EQ(getConfigInt(kWord), 0);
    EXPECT_EQ(getConfigInt(kNegative), -42);
    EXPECT_EQ(getConfigInt(kPlusSeven), 7);
    EXPECT_EQ(getConfigInt(kTooLarge), 2147483647);  // saturates instead of overflowing
}

TEST_F(Accessors, WideAndMessageTexts) {
    configStore().values[kLatin1] = "\xC4rger";  // one 8-bit byte becomes the code unit of the same value
    EXPECT_EQ(getConfigWideString(kLatin1), W("\u00C4rger"));
    EXPECT_EQ(getConfigWideString(kNineBytes, 4), W("aaa"));
    EXPECT_EQ(getMessageText(20013), W("tovrix Wizard"));
    wstring text = W("stale");
    EXPECT_FALSE(getMessageText(kMissing, text));
    EXPECT_EQ(text, W(""));
    // An empty message falls back to the configuration value of the same id.
    EXPECT_EQ(getMessageOrConfigText(1000), W("config caption"));
    EXPECT_EQ(getMessageOrConfigText(20013), W("tovrix Wizard"));
}

// The program kind is read by one rule: only "i..." is the installer
// launcher, only "e..." names the product kelpa.
TEST_F(Accessors, ProgramKindRule) {
    struct Case {
        const char* value;
        bool installer;
        bool kelpaProduct;
    };
    for (const Case& c : {Case{"i", true, false}, Case{"ix", true, false}, Case{"e", false, true},
                          Case{"", false, false}, Case{"x", false, false}, Case{"I", false, false}}) {
        const ProgramKind kind = programKindOf(c.value);
        EXPECT_EQ(kind.installer, c.installer) << c.value;
        EXPECT_EQ(kind.kelpaProduct, c.kelpaProduct) << c.value;
    }
    configStore().values[config::kProgramKind] = "e";
    EXPECT_TRUE(programKind().kelpaProduct);
    configStore().values.erase(config::kProgramKind);
    EXPECT_FALSE(programKind().installer);
}

// --- Integrity check -------------------------------------------------------

BlockBuilder installerWithPayload(std::int32_t flag, std::size_t payloadBytes, std::size_t trailingZeros = 0) {
    BlockBuilder b;
    b.peImage();
    b.header(flag);
    b.i32(0), b.i32(0), b.i32(0);  // no settings, messages or locales
    for (std::size_t i = 0; i < payloadBytes; ++i) b.u8(static_cast<unsigned>(i * 7 + 3));
    b.finish();
    b.out.insert(b.out.end(), trailingZeros, 0);
    return b;
}

IntegrityResult check(const std::vector<unsigned char>& bytes, bool enabled, std::vector<int>* progress = nullptr) {
    MemorySource source(bytes);
    BlockReader reader(source);
    std::function<void(int)> report;
    if (progress) report = [progress](int p) { progress->push_back(p); };
    return checkIntegrity(reader, enabled, report);
}

TEST(Integrity, CrcIsZlibsIsoHdlcCrc) {
    const char* digits = "123456789";
    EXPECT_EQ(crc32(0L, reinterpret_cast<const Bytef*>(digits), 9), 0xCBF43926u);
    BlockBuilder b = installerWithPayload(1, 50000);
    IntegrityResult r = check(b.out, true);
    EXPECT_TRUE(r.checked);
    EXPECT_EQ(r.computed, r.expected);
    const uLong whole = crc32(0L, b.out.data() + b.coveredStart, static_cast<uInt>(b.out.size() - b.coveredStart));
    EXPECT_EQ(r.computed, static_cast<std::uint32_t>(whole));
}

TEST(Integrity, AnyChangedByteInTheCoveredRangeIsDetected) {
    BlockBuilder b = installerWithPayload(1, 30000);
    for (std::size_t at : {b.coveredStart, b.coveredStart + 12000, b.out.size() - 1}) {
        std::vector<unsigned char> damaged = b.out;
        damaged[at] ^= 0x01;
        IntegrityResult r = check(damaged, true);
        EXPECT_NE(r.computed, r.expected) << at;
    }
}

TEST(Integrity, UncheckedCases) {
    BlockBuilder off = installerWithPayload(0, 100);
    off.out[off.out.size() - 1] ^= 0xFF;
    IntegrityResult flagOff = check(off.out, true);
    EXPECT_FALSE(flagOff.checked);
    EXPECT_EQ(flagOff.computed, flagOff.expected);

    BlockBuilder on = installerWithPayload(1, 100);
    on.out[on.out.size() - 1] ^= 0xFF;
    IntegrityResult disabled = check(on.out, false);
    EXPECT_FALSE(disabled.checked);
    EXPECT_EQ(disabled.computed, disabled.expected);

    BlockBuilder padded = installerWithPayload(1, 100, 16);
    padded.out[padded.out.size() - 3] = 0x55;  // outside the covered range
    IntegrityResult r = check(padded.out, true);
    EXPECT_EQ(r.computed, r.expected);
}

TEST(Integrity, WrongMagicFailsTheCheck) {
    BlockBuilder b;
    b.peImage();
    b.i32(0);
    IntegrityResult r = check(b.out, true);
    EXPECT_FALSE(r.magicMatched);
    EXPECT_NE(r.computed, r.expected);
}

TEST(Integrity, ShortFileIsAReadFailure) {
    BlockBuilder b = installerWithPayload(1, 30000);
    b.out.resize(b.out.size() - 10);
    log_capture::clear();
    IntegrityResult r = check(b.out, true);
    EXPECT_TRUE(r.readFailed);
    ASSERT_FALSE(log_capture::lines().empty());
    EXPECT_EQ(log_capture::lines().back().rfind(W("check ReadFile failed 0 0 "), 0), 0u);
}

TEST(Integrity, ProgressRisesToOneHundred) {
    BlockBuilder b = installerWithPayload(1, 120000);
    std::vector<int> progress;
    check(b.out, true, &progress);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100);
    for (std::size_t i = 1; i < progress.size(); ++i) EXPECT_GT(progress[i], progress[i - 1]);
}

TEST(Integrity, LogsTheChecksumsLine) {
    BlockBuilder b = installerWithPayload(1, 10);
    log_capture::clear();
    IntegrityResult r = check(b.out, true);
    const wstring expected = formatWide(W("checksums: %u %u %d %d"), r.computed, r.expected,
                                        static_cast<int>(r.computed), static_cast<int>(r.expected));
    EXPECT_TRUE(log_capture::contains(expected));
    EXPECT_TRUE(log_capture::contains(W("verifying integrity length 22")));
}

}  // namespace
