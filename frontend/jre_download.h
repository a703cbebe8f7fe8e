// Downloading a Java runtime archive: the attempts, the length queries with
// the URL reopened, and the transfer into the target file with the status
// line and the bar.  The decisions live here as plain code over an injected
// connection, target file, clock and window (`DownloadServices`); the Windows
// layer (jre_download_win.cpp) supplies them with the internet library, a
// file and the progress dialog, so every failure path also runs in a unit
// test.
#pragma once

#include <cstdint>
#include <string>

#include "launcher/text.h"

constexpr int kDownloadAttempts = 3;
constexpr int kDownloadLengthQueries = 20;
constexpr std::uint32_t kDownloadRetryPauseMilliseconds = 1000;
constexpr std::uint32_t kDownloadReopenPauseMilliseconds = 300;
constexpr std::uint32_t kDownloadStatusIntervalMilliseconds = 500;
constexpr std::uint32_t kDownloadChunkBytes = 16384;

// What one download needs from the system.  Calls that can fail return false
// and leave their error code for `lastError`.
class DownloadServices {
public:
    virtual ~DownloadServices() = default;

    // The connection: InternetAttemptConnect's answer; the internet session;
    // the URL opened (again) within the session; the announced length as a
    // 32-bit number; the HTTP status (false when it cannot be read).
    virtual unsigned long attemptConnect() = 0;
    virtual bool openSession() = 0;
    virtual bool openUrl() = 0;
    virtual void closeUrl() = 0;
    virtual void closeSession() = 0;
    virtual bool queryLength(std::uint32_t& length) = 0;
    virtual bool queryStatus(std::uint32_t& status) = 0;
    // Up to `capacity` bytes of the body; `received` 0 at its end.
    virtual bool read(unsigned char* buffer, std::uint32_t capacity, std::uint32_t& received) = 0;
    // The open URL's handle, for the log.
    virtual const void* urlHandle() const = 0;

    // The target file: created empty (replacing one that exists), written,
    // closed (false when the data could not be stored), deleted.
    virtual bool createTarget(const std::string& name) = 0;
    virtual bool writeTarget(const unsigned char* data, std::uint32_t size) = 0;
    virtual bool closeTarget() = 0;
    virtual void deleteTarget(const std::string& name) = 0;

    virtual unsigned long lastError() const = 0;

    // A millisecond tick that may wrap, and a pause.
    virtual std::uint32_t tickCount() = 0;
    virtual void sleep(std::uint32_t milliseconds) = 0;

    // The progress window: nothing is shown without one.
    virtual bool hasWindow() const = 0;
    virtual void showStatus(const wstring& text) = 0;
    virtual void setBar(int position) = 0;

    // Whether the start was canceled while downloading: the transfer stops
    // before its next chunk and no further attempt follows.
    virtual bool stopRequested() const = 0;
};

// The status line's texts: message 20009 while connecting, message 20008
// with the four values during the transfer (its default replaces a format
// that cannot take them).
struct DownloadTexts {
    wstring connecting;
    wstring progressFormat;
};

// One attempt: connect, learn the length (up to 20 queries, the URL reopened
// after 300 ms between them), then read the body in chunks of 16,384 bytes
// into `target`.  True when all announced bytes were stored.  A failed or
// stopped attempt leaves no target file behind and every handle closed.
bool downloadOnce(DownloadServices& services, const DownloadTexts& texts, const std::string& target);

// Up to three attempts, each failure followed by a pause of 1000 ms and the
// error line "Retry JRE download".  False when none succeeded or the
// download was stopped.
bool downloadWithRetries(DownloadServices& services, const DownloadTexts& texts, const std::string& target);
