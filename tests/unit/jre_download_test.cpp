#include "frontend/jre_download.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/unit/log_capture.h"

namespace {

constexpr unsigned long kHeaderNotFound = 12150;  // ERROR_HTTP_HEADER_NOT_FOUND
constexpr unsigned long kAccessDenied = 5;

// A server, a target file, a clock and a window in memory.  Every handle it
// hands out is counted, so a test can see that nothing stays open.
class FakeDownload : public DownloadServices {
public:
    // The server.
    std::vector<unsigned char> body;
    std::optional<std::uint32_t> announced;  // the length header; none: the queries fail
    std::uint32_t status = 200;
    unsigned long connectResult = 0;
    bool sessionFails = false;
    std::function<bool(int opening)> urlOpens = [](int) { return true; };
    std::function<bool(int query)> lengthAnswers = [](int) { return true; };
    std::optional<std::size_t> readFailsAt;  // bytes delivered before the read fails
    std::optional<std::size_t> endsAt;       // bytes delivered before the body ends early
    std::optional<int> stopAfterReads;       // the start is canceled after this many reads

    // The target.
    bool createFails = false;
    std::optional<std::size_t> writeFailsAt;
    bool closeFails = false;
    bool targetExists = false;
    bool targetOpen = false;
    std::vector<unsigned char> stored;

    // The clock and the window.
    bool window = true;
    std::uint32_t tick = 1000;
    std::uint32_t tickStep = 0;
    std::vector<std::uint32_t> sleeps;
    std::vector<wstring> statuses;
    std::vector<int> bars;

    // What happened.
    int sessions = 0, urls = 0, openings = 0, queries = 0, reads = 0;
    std::vector<std::uint32_t> readSizes;
    std::size_t delivered = 0;

    unsigned long attemptConnect() override { return connectResult; }
    bool openSession() override {
        if (sessionFails) return fail(kAccessDenied);
        ++sessions;
        return true;
    }
    bool openUrl() override {
        EXPECT_EQ(sessions, 1);
        ++openings;
        if (!urlOpens(openings)) return fail(12029);  // ERROR_INTERNET_CANNOT_CONNECT
        ++urls;
        delivered = 0;
        return true;
    }
    void closeUrl() override { urls = std::max(urls - 1, 0); }
    void closeSession() override {
        EXPECT_EQ(urls, 0) << "the URL is closed before its session";
        sessions = std::max(sessions - 1, 0);
    }
    bool queryLength(std::uint32_t& length) override {
        EXPECT_EQ(urls, 1);
        ++queries;
        if (!announced || !lengthAnswers(queries)) return fail(kHeaderNotFound);
        length = *announced;
        return true;
    }
    bool queryStatus(std::uint32_t& value) override {
        value = status;
        return true;
    }
    bool read(unsigned char* buffer, std::uint32_t capacity, std::uint32_t& received) override {
        EXPECT_EQ(urls, 1);
        ++reads;
        readSizes.push_back(capacity);
        if (readFailsAt && delivered >= *readFailsAt) return fail(12030);  // ERROR_INTERNET_CONNECTION_ABORTED
        std::size_t available = (endsAt ? std::min(*endsAt, body.size()) : body.size()) - delivered;
        received = static_cast<std::uint32_t>(std::min<std::size_t>(available, capacity));
        std::copy_n(body.begin() + static_cast<std::ptrdiff_t>(delivered), received, buffer);
        delivered += received;
        return true;
    }
    const void* urlHandle() const override { return this; }

    bool createTarget(const std::string& name) override {
        EXPECT_EQ(name, "jre.tar.gz");
        if (createFails) return fail(kAccessDenied);
        targetExists = targetOpen = true;
        stored.clear();
        return true;
    }
    bool writeTarget(const unsigned char* data, std::uint32_t size) override {
        EXPECT_TRUE(targetOpen);
        if (writeFailsAt && stored.size() + size > *writeFailsAt) return fail(112);  // ERROR_DISK_FULL
        stored.insert(stored.end(), data, data + size);
        return true;
    }
    bool closeTarget() override {
        targetOpen = false;
        return !closeFails || fail(112);
    }
    void deleteTarget(const std::string& name) override {
        EXPECT_EQ(name, "jre.tar.gz");
        EXPECT_FALSE(targetOpen) << "the target is closed before it is deleted";
        targetExists = false;
        stored.clear();
    }
    unsigned long lastError() const override { return error_; }

    std::uint32_t tickCount() override { return tick += tickStep; }
    void sleep(std::uint32_t milliseconds) override {
        sleeps.push_back(milliseconds);
        tick += milliseconds;
    }
    bool hasWindow() const override { return window; }
    void showStatus(const wstring& text) override { statuses.push_back(text); }
    void setBar(int position) override { bars.push_back(position); }
    bool stopRequested() const override { return stopAfterReads && reads >= *stopAfterReads; }

    bool allClosed() const { return sessions == 0 && urls == 0 && !targetOpen; }

private:
    bool fail(unsigned long error) {
        error_ = error;
        return false;
    }
    unsigned long error_ = 0;
};

const DownloadTexts kTexts{W("Connecting ..."), W("%.2f MB of %.2f MB (%.1f%%) at %.1f kb/s")};

std::vector<unsigned char> bytes(std::size_t n) {
    std::vector<unsigned char> data(n);
    for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<unsigned char>(i * 7 + i / 251);
    return data;
}

FakeDownload serving(std::size_t size) {
    FakeDownload fake;
    fake.body = bytes(size);
    fake.announced = static_cast<std::uint32_t>(size);
    return fake;
}

std::size_t countLines(const wstring& prefix) {
    const auto& lines = log_capture::lines();
    return static_cast<std::size_t>(std::count_if(
        lines.begin(), lines.end(), [&](const wstring& line) { return line.compare(0, prefix.size(), prefix) == 0; }));
}

class JreDownload : public ::testing::Test {
protected:
    void SetUp() override { log_capture::clear(); }
};

TEST_F(JreDownload, StoresTheAnnouncedBytesInChunksOf16384) {
    FakeDownload fake = serving(40000);
    fake.connectResult = 87;
    ASSERT_TRUE(downloadOnce(fake, kTexts, "jre.tar.gz"));
    EXPECT_EQ(fake.stored, fake.body);
    EXPECT_EQ(fake.readSizes, (std::vector<std::uint32_t>{16384, 16384, 7232}));
    EXPECT_TRUE(fake.allClosed());
    EXPECT_TRUE(log_capture::contains(W("InternetAttemptConnect returned 87")));
    EXPECT_TRUE(log_capture::contains(W("download successful")));
    EXPECT_EQ(fake.statuses.front(), W("Connecting ..."));
}

// Every way an attempt can fail: the error line, no target left behind,
// every handle closed, and no endless loop.
TEST_F(JreDownload, FailedAttempts) {
    const struct {
        const char* name;
        std::function<void(FakeDownload&)> arrange;
        const wchar* line;
    } cases[] = {
        {"session", [](FakeDownload& f) { f.sessionFails = true; }, W("ERROR: InternetOpen failed with error code 5")},
        {"url", [](FakeDownload& f) { f.urlOpens = [](int) { return false; }; },
         W("ERROR: InternetOpenUrl failed with error code 12029")},
        {"reopen",
         [](FakeDownload& f) {
             f.lengthAnswers = [](int) { return false; };
             f.urlOpens = [](int opening) { return opening < 3; };
         },
         W("ERROR: InternetOpenUrl 2 failed with error code 12029")},
        {"create", [](FakeDownload& f) { f.createFails = true; },
         W("ERROR: opening the destination file jre.tar.gz failed with error code 5")},
        {"read", [](FakeDownload& f) { f.readFailsAt = 20000; },
         W("ERROR: InternetReadFile failed with error code 12030")},
        {"body ends early", [](FakeDownload& f) { f.endsAt = 30000; },
         W("ERROR: InternetReadFile returned 0 bytes after 30000 of 40000 bytes")},
        {"body ends at once", [](FakeDownload& f) { f.endsAt = 0; },
         W("ERROR: InternetReadFile returned 0 bytes after 0 of 40000 bytes")},
        {"write", [](FakeDownload& f) { f.writeFailsAt = 20000; },
         W("ERROR: writing the destination file jre.tar.gz failed with error code 112")},
        {"close", [](FakeDownload& f) { f.closeFails = true; },
         W("ERROR: writing the destination file jre.tar.gz failed with error code 112")},
        {"not found", [](FakeDownload& f) { f.status = 404; }, W("ERROR: the server answered with status 404")},
    };
    for (const auto& c : cases) {
        log_capture::clear();
        FakeDownload fake = serving(40000);
        c.arrange(fake);
        EXPECT_FALSE(downloadOnce(fake, kTexts, "jre.tar.gz")) << c.name;
        EXPECT_TRUE(log_capture::contains(c.line)) << c.name;
        EXPECT_FALSE(log_capture::contains(W("download successful"))) << c.name;
        EXPECT_FALSE(fake.targetExists) << c.name;
        EXPECT_TRUE(fake.allClosed()) << c.name;
        EXPECT_LE(fake.reads, 4) << c.name;
    }
}

// The status line and the bar: the first chunk always, then only when more
// than 500 ms passed since the last update.
TEST_F(JreDownload, StatusLineAtMostEvery500Milliseconds) {
    FakeDownload fake = serving(10 * 16384);
    fake.tickStep = 200;  // every look at the clock is 200 ms later
    ASSERT_TRUE(downloadOnce(fake, kTexts, "jre.tar.gz"));
    EXPECT_EQ(fake.statuses, (std::vector<wstring>{
                                 W("Connecting ..."),
                                 W("0.02 MB of 0.16 MB (10.0%) at 81.9 kb/s"),
                                 W("0.06 MB of 0.16 MB (40.0%) at 81.9 kb/s"),
                                 W("0.11 MB of 0.16 MB (70.0%) at 81.9 kb/s"),
                                 W("0.16 MB of 0.16 MB (100.0%) at 81.9 kb/s"),
                             }));
    EXPECT_EQ(fake.bars, (std::vector<int>{10, 40, 70, 100}));
}

TEST_F(JreDownload, RateInTheFirstMillisecondIsZero) {
    FakeDownload fake = serving(16384);  // the clock stands still
    ASSERT_TRUE(downloadOnce(fake, kTexts, "jre.tar.gz"));
    EXPECT_EQ(fake.statuses.back(), W("0.02 MB of 0.02 MB (100.0%) at 0.0 kb/s"));
}

TEST_F(JreDownload, ThreeAttemptsEachFollowedByAPause) {
    FakeDownload fake = serving(100);
    fake.urlOpens = [](int) { return false; };
    EXPECT_FALSE(downloadWithRetries(fake, kTexts, "jre.tar.gz"));
    EXPECT_EQ(fake.openings, 3);
    EXPECT_EQ(fake.sleeps, std::vector<std::uint32_t>(3, 1000));
    EXPECT_EQ(countLines(W("ERROR: Retry JRE download")), 3u);
    EXPECT_EQ(log_capture::lines().back(), W("ERROR: Retry JRE download"));
}

TEST_F(JreDownload, AStatusFormatThatCannotTakeTheValuesIsReplaced) {
    FakeDownload fake = serving(16384);
    ASSERT_TRUE(downloadWithRetries(fake, DownloadTexts{W(""), W("%s received")}, "jre.tar.gz"));
    EXPECT_TRUE(log_capture::contains(W("ERROR: the download status format cannot show its values: %s received")));
    EXPECT_EQ(fake.statuses.back(), W("0.02 MB of 0.02 MB (100.0%) at 0.0 kb/s"));
}

// A cancel while downloading: the transfer stops before its next chunk, the
// partial target goes, every handle is closed and no further attempt
// follows.
TEST_F(JreDownload, AStoppedDownloadLeavesNothingAndIsNotRetried) {
    FakeDownload fake = serving(5 * 16384);
    fake.stopAfterReads = 2;
    EXPECT_FALSE(downloadWithRetries(fake, kTexts, "jre.tar.gz"));
    EXPECT_EQ(fake.reads, 2);
    EXPECT_EQ(fake.openings, 1);
    EXPECT_TRUE(fake.sleeps.empty());
    EXPECT_FALSE(fake.targetExists);
    EXPECT_TRUE(fake.allClosed());
    EXPECT_TRUE(log_capture::contains(W("download stopped after 32768 of 81920 bytes")));
    EXPECT_EQ(countLines(W("ERROR: Retry JRE download")), 0u);
}

}  // namespace
