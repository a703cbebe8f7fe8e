// Fault injection into the download of a runtime archive under Wine: Wine's
// own wininet.dll against a local HTTP server of the test, the archive saved
// as "jre.tar.gz" in an extraction directory of the test, while each internet
// and file call of a passing run fails in turn with every kind that applies,
// once (the next attempt or query recovers) and from then on (every attempt
// fails).  Each case checks the message, the exit code, the open handles and
// the target: complete after a recovery, absent when the failure message is
// shown, and gone with the extraction directory at the end.
#include <gtest/gtest.h>
#include <winsock2.h>

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "frontend/jre_dialogs.h"
#include "launcher/config_store.h"
#include "launcher/launcher_state.h"
#include "tests/unit/fault_injection.h"
#include "tests/unit/log_capture.h"

namespace {

using namespace faults;

const wchar_t kDownloadFailed[] =
    L"Error downloading the Java(TM) Runtime Environment.\nPlease check your internet connection and start setup "
    L"again.";
const wchar_t kNoInternetLibrary[] = L"Cannot initialize wininet.dll. Please install\nInternet Explorer 3.0 or higher.";
constexpr DWORD kContentLengthQuery = 5;  // HTTP_QUERY_CONTENT_LENGTH

// Answers every GET with the same body and its length, one connection at a
// time, until it ends.
class HttpServer {
public:
    explicit HttpServer(std::string body) : body_(std::move(body)) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), length) == 0 && listen(listener_, 16) == 0 &&
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~HttpServer() {
        stop_ = true;
        thread_.join();
        closesocket(listener_);
        WSACleanup();
    }
    bool up() const { return port_ != 0; }
    std::wstring url() const { return L"http://127.0.0.1:" + std::to_wstring(port_) + L"/jre.tar.gz"; }

private:
    void serve() {
        while (!stop_) {
            fd_set ready;
            FD_ZERO(&ready);
            FD_SET(listener_, &ready);
            timeval wait{0, 50000};
            if (select(0, &ready, nullptr, nullptr, &wait) <= 0) continue;
            const SOCKET client = accept(listener_, nullptr, nullptr);
            if (client == INVALID_SOCKET) continue;
            answer(client);
            closesocket(client);
        }
    }
    void answer(SOCKET client) {
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const int got = recv(client, buffer, sizeof buffer, 0);
            if (got <= 0) return;
            request.append(buffer, static_cast<std::size_t>(got));
        }
        const std::string response = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body_.size()) +
                                     "\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n\r\n" + body_;
        for (std::size_t sent = 0; sent < response.size();) {
            const int n = send(client, response.data() + sent, static_cast<int>(response.size() - sent), 0);
            if (n <= 0) return;
            sent += static_cast<std::size_t>(n);
        }
        shutdown(client, SD_SEND);
    }

    std::string body_;
    SOCKET listener_ = INVALID_SOCKET;
    unsigned short port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::string archiveBody() {
    std::string body(40000, '\0');  // chunks of 16,384, 16,384 and 7,232 bytes
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 13 + 5) & 0xFF);
    return body;
}

// What the user must see when `fault` first hits the call `hit`.
Expected downloadOutcome(const Fault& fault, const CallRecord& hit) {
    const std::string& function = fault.function;
    // A failed attempt is retried, a failed length query asked again: one
    // failure costs a pause, not the download.
    if (fault.mode == Mode::once) return success();
    // Only logged, or nothing is lost with it.
    if (function == "InternetAttemptConnect" || function == "InternetCloseHandle") return success();
    // A status that cannot be read lets the download go on.
    if (function == "HttpQueryInfoW" && hit.subject != L"query " + std::to_wstring(kContentLengthQuery))
        return success();
    return fatal(kErrorCaption, kDownloadFailed);
}

class DownloadFaults : public ::testing::Test {
protected:
    DownloadFaults() : body_(archiveBody()), server_(body_) {}

    std::wstring directory() const { return scratch_.path() + L"\\extracted"; }
    std::wstring target() const { return directory() + L"\\jre.tar.gz"; }

    // One download into a fresh extraction directory, which is current, as
    // the locate/download flow has it; no progress window.
    Record download(const std::optional<Fault>& fault) {
        removeTree(directory());
        CreateDirectoryW(directory().c_str(), nullptr);
        const SavedLauncher saved;
        ConfigStore& config = configStore();
        config.messages[message::kErrorCaption] = kErrorCaption;
        config.messages[message::kDownloadFailed] = kDownloadFailed;
        config.messages[message::kNoInternetLibrary] = kNoInternetLibrary;
        config.messages[message::kDownloadProgress] = L"%.2f MB of %.2f MB (%.1f%%) at %.1f kb/s";
        launcherState().extractionDirectory = narrow(directory());
        SetCurrentDirectoryW(directory().c_str());
        targetAtMessage_.reset();
        injector_.onMessage([this] { targetAtMessage_ = exists(target()); });
        const std::wstring url = server_.url();
        return injector_.run([&url] { downloadJre(nullptr, url); }, fault);
    }

    ScratchDirectory scratch_;
    std::string body_;
    HttpServer server_;
    Injector injector_;
    std::optional<bool> targetAtMessage_;
};

TEST_F(DownloadFaults, EachInternetAndFileCallFailsInTurn) {
    ASSERT_TRUE(server_.up());
    const Record passing = download(std::nullopt);
    ASSERT_FALSE(passing.ended);
    ASSERT_TRUE(passing.shown.empty());
    ASSERT_EQ(filesBelow(directory()), (std::map<std::wstring, std::string>{{L"jre.tar.gz", body_}}));
    ASSERT_TRUE(passing.leaks.empty());
    // One attempt: connect, session, URL, length and status, the target
    // created, three chunks read and written, the target and both internet
    // handles closed.
    EXPECT_EQ(passing.count("InternetAttemptConnect"), 1);
    EXPECT_EQ(passing.count("InternetOpenW"), 1);
    EXPECT_EQ(passing.count("InternetOpenUrlW"), 1);
    EXPECT_EQ(passing.count("HttpQueryInfoW"), 2);
    EXPECT_EQ(passing.count("CreateFileA"), 1);
    EXPECT_EQ(passing.count("InternetReadFile"), 3);
    EXPECT_EQ(passing.count("WriteFile"), 3);
    EXPECT_EQ(passing.count("CloseHandle"), 1);
    EXPECT_EQ(passing.count("InternetCloseHandle"), 2);

    int cases = 0, ends = 0;
    for (const Fault& fault : casesOf(passing)) {
        SCOPED_TRACE(describe(fault));
        const Record run = download(fault);
        ASSERT_FALSE(run.faulted.empty()) << "the fault hit no call";
        const Expected expected = downloadOutcome(fault, run.faulted.front());
        expectOutcome(run, expected);
        if (expected.ends) {
            // Every attempt cleaned up after itself before the user is told.
            EXPECT_EQ(targetAtMessage_, std::optional<bool>(false));
            EXPECT_FALSE(exists(directory())) << "the extraction directory stays";
        } else {
            EXPECT_EQ(filesBelow(directory()), (std::map<std::wstring, std::string>{{L"jre.tar.gz", body_}}));
        }
        ++cases;
        ends += expected.ends ? 1 : 0;
    }
    std::printf("download: %zu calls, %d cases, %d fatal ends\n", passing.calls.size(), cases, ends);
}

// Without the internet library, or without one of its functions, nothing is
// tried: message 20002 and the end.
TEST_F(DownloadFaults, MissingLibraryOrFunctionEndsWithItsMessage) {
    ASSERT_TRUE(server_.up());
    for (const char* missing : {"wininet.dll", "InternetReadFile"}) {
        SCOPED_TRACE(missing);
        std::optional<system_calls::HideModule> library;
        std::optional<system_calls::ReplaceFunction> function;
        if (std::string(missing) == "wininet.dll")
            library.emplace(L"wininet.dll");
        else
            function.emplace(missing, nullptr);
        const Record run = download(std::nullopt);
        EXPECT_TRUE(run.ended);
        EXPECT_EQ(run.exitCode, 1u);
        ASSERT_EQ(run.shown.size(), 1u);
        EXPECT_EQ(run.shown[0].text, kNoInternetLibrary);
        EXPECT_EQ(run.count("InternetOpenW"), 0);
        EXPECT_FALSE(exists(directory()));
    }
}

}  // namespace
