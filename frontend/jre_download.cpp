#include "frontend/jre_download.h"

#include <vector>

#include "frontend/jre_texts.h"
#include "launcher/log.h"

namespace {

int asInt(unsigned long value) { return static_cast<int>(value); }

// Closes the URL and the session: the end of every attempt that got a URL.
void closeConnection(DownloadServices& services) {
    services.closeUrl();
    services.closeSession();
}

// A transfer that cannot go on: the partial target goes, then the connection.
void abandonTarget(DownloadServices& services, const std::string& target) {
    services.closeTarget();
    services.deleteTarget(target);
    closeConnection(services);
}

// Asks for the length until it is known, reopening the URL between the
// queries.  False (with both handles closed) after the 20th failed query or
// when the URL cannot be opened again.
bool queryLength(DownloadServices& services, std::uint32_t& length) {
    for (int tries = 1;; ++tries) {
        if (services.queryLength(length)) return true;
        logError(W("HttpQueryInfo (try %d) failed with error code %d"), tries, asInt(services.lastError()));
        if (tries == kDownloadLengthQueries) {
            logError(W("Giving up"));
            closeConnection(services);
            return false;
        }
        services.sleep(kDownloadReopenPauseMilliseconds);
        services.closeUrl();
        if (!services.openUrl()) {
            logError(W("InternetOpenUrl 2 failed with error code %d"), asInt(services.lastError()));
            services.closeSession();
            return false;
        }
    }
}

// A response that is no success (a "not found" page, a server error) would
// otherwise be stored as the runtime archive and reported as downloaded.  A
// status that cannot be read lets the download go on.
bool successfulResponse(DownloadServices& services) {
    std::uint32_t status = 0;
    if (!services.queryStatus(status) || (status >= 200 && status < 300)) return true;
    logError(W("the server answered with status %d"), static_cast<int>(status));
    closeConnection(services);
    return false;
}

bool transfer(DownloadServices& services, const DownloadTexts& texts, std::uint32_t length, const std::string& target) {
    logMessage(W("file size: %d, handle %p"), static_cast<int>(length), services.urlHandle());
    if (!services.createTarget(target)) {
        logError(W("opening the destination file %S failed with error code %d"), target.c_str(),
                 asInt(services.lastError()));
        closeConnection(services);
        return false;
    }
    const std::uint32_t start = services.tickCount();
    bool updated = false;
    std::uint32_t lastUpdate = 0;
    std::vector<unsigned char> buffer(kDownloadChunkBytes);
    std::uint32_t received = 0;
    while (received < length) {
        if (services.stopRequested()) {
            abandonTarget(services, target);
            logMessage(W("download stopped after %d of %d bytes"), static_cast<int>(received),
                       static_cast<int>(length));
            return false;
        }
        const std::uint32_t wanted = length - received < kDownloadChunkBytes ? length - received : kDownloadChunkBytes;
        std::uint32_t got = 0;
        if (!services.read(buffer.data(), wanted, got)) {
            const unsigned long error = services.lastError();
            abandonTarget(services, target);
            logError(W("InternetReadFile failed with error code %d"), asInt(error));
            return false;
        }
        // The body ended before the announced length (or the read claims
        // more than was asked): reading on would never finish.
        if (got == 0 || got > wanted) {
            abandonTarget(services, target);
            logError(W("InternetReadFile returned %d bytes after %d of %d bytes"), static_cast<int>(got),
                     static_cast<int>(received), static_cast<int>(length));
            return false;
        }
        received += got;
        if (!services.writeTarget(buffer.data(), got)) {
            const unsigned long error = services.lastError();
            abandonTarget(services, target);
            logError(W("writing the destination file %S failed with error code %d"), target.c_str(), asInt(error));
            return false;
        }
        if (!services.hasWindow()) continue;
        const std::uint32_t now = services.tickCount();
        if (updated && now - lastUpdate <= kDownloadStatusIntervalMilliseconds) continue;
        services.showStatus(downloadStatusText(texts.progressFormat, received, length, now - start));
        services.setBar(downloadBarPosition(received, length));
        lastUpdate = now;
        updated = true;
    }
    const bool stored = services.closeTarget();
    if (!stored) {
        logError(W("writing the destination file %S failed with error code %d"), target.c_str(),
                 asInt(services.lastError()));
        services.deleteTarget(target);
    }
    closeConnection(services);
    if (stored) logMessage(W("download successful"));
    return stored;
}

}  // namespace

bool downloadOnce(DownloadServices& services, const DownloadTexts& texts, const std::string& target) {
    if (services.hasWindow()) services.showStatus(texts.connecting);
    const unsigned long connect = services.attemptConnect();
    if (connect != 0) logMessage(W("InternetAttemptConnect returned %d"), asInt(connect));
    if (!services.openSession()) {
        logError(W("InternetOpen failed with error code %d"), asInt(services.lastError()));
        return false;
    }
    if (!services.openUrl()) {
        logError(W("InternetOpenUrl failed with error code %d"), asInt(services.lastError()));
        services.closeSession();
        return false;
    }
    std::uint32_t length = 0;
    if (!queryLength(services, length) || !successfulResponse(services)) return false;
    return transfer(services, texts, length, target);
}

bool downloadWithRetries(DownloadServices& services, const DownloadTexts& texts, const std::string& target) {
    DownloadTexts usable = texts;
    if (!downloadStatusFormatUsable(usable.progressFormat)) {
        logError(W("the download status format cannot show its values: %s"), usable.progressFormat.c_str());
        usable.progressFormat = kDefaultDownloadStatusFormat;
    }
    for (int attempt = 1; attempt <= kDownloadAttempts; ++attempt) {
        if (downloadOnce(services, usable, target)) return true;
        if (services.stopRequested()) return false;
        services.sleep(kDownloadRetryPauseMilliseconds);
        logError(W("Retry JRE download"));
    }
    return false;
}
