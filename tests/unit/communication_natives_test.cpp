// The natives of Win32CommunicationBackend through the JNI test double, over
// real named pipes under Wine.  The other end of each pipe is a thread of
// this test that speaks the block format with its own plain Win32 code, so a
// fault in the natives' framing cannot cancel out on both ends.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "launcher/win_handles.h"
#include "natives/native_prototypes.h"
#include "natives/pipe_channel_win.h"
#include "tests/jni_double/jni_double.h"
#include "tests/unit/stdout_capture.h"

#define PIPE_NATIVE(name) NATIVE_FUNCTION(Win32CommunicationBackend, name)

namespace {

using Bytes = std::vector<unsigned char>;

Bytes pattern(std::size_t size, std::uint32_t seed) {
    Bytes bytes(size);
    for (auto& b : bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<unsigned char>(seed >> 24);
    }
    return bytes;
}

std::vector<jbyte> signedBytes(const Bytes& bytes) { return std::vector<jbyte>(bytes.begin(), bytes.end()); }

// ---- The peer's own block code

bool writeRaw(HANDLE pipe, const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD n = 0;
        if (!WriteFile(pipe, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n, nullptr) || n == 0)
            return false;
        done += n;
    }
    return true;
}

bool readRaw(HANDLE pipe, Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD n = 0;
        if (!ReadFile(pipe, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n, nullptr) || n == 0)
            return false;
        done += n;
    }
    return true;
}

Bytes header(std::uint32_t length) {
    return {static_cast<unsigned char>(length), static_cast<unsigned char>(length >> 8),
            static_cast<unsigned char>(length >> 16), static_cast<unsigned char>(length >> 24)};
}

std::optional<Bytes> readPeerBlock(HANDLE pipe, Bytes* rawHeader = nullptr) {
    Bytes length(4);
    if (!readRaw(pipe, length)) return std::nullopt;
    if (rawHeader) *rawHeader = length;
    Bytes payload(length[0] | length[1] << 8 | length[2] << 16 | static_cast<std::size_t>(length[3]) << 24);
    if (!readRaw(pipe, payload)) return std::nullopt;
    return payload;
}

Bytes concat(const Bytes& first, const Bytes& second) {
    Bytes all(first.size() + second.size());
    std::copy(first.begin(), first.end(), all.begin());
    std::copy(second.begin(), second.end(), all.begin() + static_cast<std::ptrdiff_t>(first.size()));
    return all;
}

bool writePeerBlock(HANDLE pipe, const Bytes& payload) {
    return writeRaw(pipe, concat(header(static_cast<std::uint32_t>(payload.size())), payload));
}

HANDLE openPeerClient(const std::wstring& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        HANDLE pipe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) return pipe;
        Sleep(50);
    }
    return INVALID_HANDLE_VALUE;
}

class CommunicationNatives : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(e_.problems(), std::vector<std::string>{});
        EXPECT_EQ(e_.pendingException(), nullptr);
        EXPECT_EQ(e_.unreleasedBuffers(), 0);
    }

    JNIEnv* env() { return e_.env(); }
    std::wstring uniqueName() {
        static int counter = 0;
        return L"\\\\.\\pipe\\tovrix-unit-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
               std::to_wstring(++counter);
    }
    jbyteArray javaBytes(const Bytes& bytes) { return e_.newByteArray(signedBytes(bytes)); }
    Bytes bytesOf(jbyteArray array) {
        const std::vector<jbyte> values = e_.byteArrayValue(array);
        return Bytes(values.begin(), values.end());
    }

    jni_double::Environment e_;
};

TEST_F(CommunicationNatives, InvalidHandleIsMinusOneAndEveryHandleNativeIgnoresIt) {
    EXPECT_EQ(PIPE_NATIVE(getInvalidHandle0)(env(), nullptr), -1);
    EXPECT_EQ(PIPE_NATIVE(readDataBlock0)(env(), nullptr, -1), nullptr);
    EXPECT_FALSE(PIPE_NATIVE(writeDataBlock0)(env(), nullptr, -1, javaBytes({1, 2})));
    EXPECT_FALSE(PIPE_NATIVE(connectNamedPipe0)(env(), nullptr, -1));
    PIPE_NATIVE(disconnectNamedPipe0)(env(), nullptr, -1);
    PIPE_NATIVE(closeHandle0)(env(), nullptr, -1);
}

// The client side against a listening peer that answers every block with a
// block of its own: empty, a few bytes, more than the pipe's 65536-byte
// buffers, several megabytes.
TEST_F(CommunicationNatives, ClientExchangesBlocksOfEverySizeBothWays) {
    const std::vector<std::size_t> sizes = {0, 5, 100000, 3 * 1024 * 1024 + 1};
    const std::wstring name = uniqueName();
    UniqueFile listener(
        CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr));
    ASSERT_TRUE(listener.valid());
    std::vector<std::optional<Bytes>> received;
    Bytes emptyHeader;
    std::thread peer([&] {
        if (!ConnectNamedPipe(listener.get(), nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) return;
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            received.push_back(readPeerBlock(listener.get(), sizes[i] == 0 ? &emptyHeader : nullptr));
            if (!writePeerBlock(listener.get(), pattern(sizes[i], 100 + static_cast<std::uint32_t>(i)))) break;
        }
    });

    const jlong client = PIPE_NATIVE(connectClient0)(env(), nullptr, e_.newString(name));
    ASSERT_NE(client, 0);
    ASSERT_NE(client, -1);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        EXPECT_TRUE(PIPE_NATIVE(writeDataBlock0)(env(), nullptr, client,
                                                 javaBytes(pattern(sizes[i], static_cast<std::uint32_t>(i)))))
            << sizes[i];
        jbyteArray answer = PIPE_NATIVE(readDataBlock0)(env(), nullptr, client);
        ASSERT_NE(answer, nullptr) << sizes[i];
        EXPECT_TRUE(bytesOf(answer) == pattern(sizes[i], 100 + static_cast<std::uint32_t>(i))) << sizes[i];
    }
    PIPE_NATIVE(closeHandle0)(env(), nullptr, client);
    peer.join();

    ASSERT_EQ(received.size(), sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        ASSERT_TRUE(received[i].has_value()) << sizes[i];
        EXPECT_TRUE(*received[i] == pattern(sizes[i], static_cast<std::uint32_t>(i))) << sizes[i];
    }
    EXPECT_EQ(emptyHeader, (Bytes{0, 0, 0, 0}));
}

// The listening side: a client that connects after connectNamedPipe0 began
// waiting, writes two blocks, reads one and closes; the next read sees the
// closed pipe.
TEST_F(CommunicationNatives, ListenerAcceptsAClientReadsItsBlocksAndSeesItLeave) {
    const std::wstring name = uniqueName();
    const jlong listener = PIPE_NATIVE(createListener0)(env(), nullptr, e_.newString(name));
    ASSERT_NE(listener, -1);
    std::optional<Bytes> answer;
    std::thread peer([&] {
        Sleep(200);
        UniqueFile client(openPeerClient(name));
        if (!client) return;
        writePeerBlock(client.get(), {7, 8, 9});
        writePeerBlock(client.get(), pattern(70000, 3));
        answer = readPeerBlock(client.get());
    });
    EXPECT_TRUE(PIPE_NATIVE(connectNamedPipe0)(env(), nullptr, listener));
    jbyteArray first = PIPE_NATIVE(readDataBlock0)(env(), nullptr, listener);
    jbyteArray second = PIPE_NATIVE(readDataBlock0)(env(), nullptr, listener);
    EXPECT_TRUE(PIPE_NATIVE(writeDataBlock0)(env(), nullptr, listener, javaBytes({4, 2})));
    peer.join();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(bytesOf(first), (Bytes{7, 8, 9}));
    EXPECT_TRUE(bytesOf(second) == pattern(70000, 3));
    EXPECT_EQ(answer, (Bytes{4, 2}));

    EXPECT_EQ(PIPE_NATIVE(readDataBlock0)(env(), nullptr, listener), nullptr);
    EXPECT_FALSE(PIPE_NATIVE(writeDataBlock0)(env(), nullptr, listener, javaBytes({1})));
    PIPE_NATIVE(disconnectNamedPipe0)(env(), nullptr, listener);
    PIPE_NATIVE(closeHandle0)(env(), nullptr, listener);
}

// A peer that stops in the middle of a block or announces a length the Java
// side cannot hold, then closes: the read gives null instead of a short or
// made-up block.
TEST_F(CommunicationNatives, DamagedOrUnfinishedBlocksGiveNull) {
    struct Case {
        const char* what;
        Bytes sent;
    };
    const std::vector<Case> cases = {
        {"closed before anything", {}},
        {"half a length", {5, 0}},
        {"2 GB announced, 10 bytes sent", concat(header(0x7FFFFFFF), Bytes(10, 0xAB))},
        {"negative length", concat(header(0x80000000u), Bytes(10, 0xCD))},
        {"5 announced, 4 sent", concat(header(5), {1, 2, 3, 4})},
    };
    for (const Case& c : cases) {
        const std::wstring name = uniqueName();
        const jlong listener = PIPE_NATIVE(createListener0)(env(), nullptr, e_.newString(name));
        ASSERT_NE(listener, -1) << c.what;
        std::thread peer([&] {
            Sleep(200);  // connectNamedPipe0 waits by then; a client gone before it starts is never seen
            UniqueFile client(openPeerClient(name));
            if (client) writeRaw(client.get(), c.sent);
        });
        EXPECT_TRUE(PIPE_NATIVE(connectNamedPipe0)(env(), nullptr, listener)) << c.what;
        peer.join();
        EXPECT_EQ(PIPE_NATIVE(readDataBlock0)(env(), nullptr, listener), nullptr) << c.what;
        PIPE_NATIVE(closeHandle0)(env(), nullptr, listener);
    }
}

TEST_F(CommunicationNatives, NullArgumentsAndTakenNamesAreRefused) {
    EXPECT_EQ(PIPE_NATIVE(createListener0)(env(), nullptr, nullptr), -1);
    EXPECT_EQ(PIPE_NATIVE(connectClient0)(env(), nullptr, nullptr), 0);
    const std::wstring name = uniqueName();
    const jlong listener = PIPE_NATIVE(createListener0)(env(), nullptr, e_.newString(name));
    ASSERT_NE(listener, -1);
    // One instance only: the name is taken while the first listener lives.
    EXPECT_EQ(PIPE_NATIVE(createListener0)(env(), nullptr, e_.newString(name)), -1);
    EXPECT_FALSE(PIPE_NATIVE(writeDataBlock0)(env(), nullptr, listener, nullptr));
    PIPE_NATIVE(closeHandle0)(env(), nullptr, listener);
    EXPECT_EQ(PIPE_NATIVE(createListener0)(env(), nullptr, e_.newString(L"not-a-pipe-name")), -1);
}

// The retry loops with short pauses: a client that is early finds a late
// listener; one for a pipe that never appears gives up with null (not
// INVALID_HANDLE_VALUE) after its diagnostic line, and so does a listener
// handle that can never be connected.
TEST_F(CommunicationNatives, ConnectingRetriesThenGivesUpWithItsDiagnostic) {
    pipe_channel::RetryPolicy quick;
    quick.connectRetries = 2;
    quick.connectPauseMs = 10;
    quick.firstWaitMs = 10;
    quick.openRetries = 20;
    quick.openPauseMs = 50;
    quick.retryWaitMs = 10;

    const std::wstring late = uniqueName();
    UniqueFile lateListener;
    std::thread creator([&] {
        Sleep(300);
        lateListener.reset(CreateNamedPipeW(late.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 65536,
                                            65536, 0, nullptr));
    });
    HANDLE early = pipe_channel::openClient(late.c_str(), quick);
    creator.join();
    EXPECT_NE(early, nullptr);
    EXPECT_NE(early, INVALID_HANDLE_VALUE);
    if (early && early != INVALID_HANDLE_VALUE) CloseHandle(early);

    const std::wstring never = uniqueName();
    quick.openRetries = 3;
    StdoutCapture openOutput;
    EXPECT_EQ(pipe_channel::openClient(never.c_str(), quick), nullptr);
    const std::string opened = openOutput.finish();
    EXPECT_EQ(opened.rfind("could not open file ", 0), 0u) << opened;
    EXPECT_NE(opened.find("tovrix-unit-"), std::string::npos) << opened;

    wchar_t directory[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, directory);
    const std::wstring path = std::wstring(directory) + L"tovrix-not-a-pipe.tmp";
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    ASSERT_TRUE(file.valid());
    StdoutCapture connectOutput;
    EXPECT_FALSE(pipe_channel::connectServer(file.get(), quick));
    const std::string connected = connectOutput.finish();
    EXPECT_EQ(connected.rfind("could not connect named pipe ", 0), 0u) << connected;
}

TEST_F(CommunicationNatives, ProcessIdsOfRunningAndEndedProcesses) {
    EXPECT_EQ(PIPE_NATIVE(getCurrentProcessId0)(env(), nullptr), static_cast<jint>(GetCurrentProcessId()));
    EXPECT_TRUE(PIPE_NATIVE(isProcessAlive0)(env(), nullptr, static_cast<jint>(GetCurrentProcessId())));

    // A child held by its handle keeps its id while the test looks at it.
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(system) + L"\\cmd.exe\" /c exit 7";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED | CREATE_NO_WINDOW,
                               nullptr, nullptr, &startup, &info));
    UniqueKernelHandle process(info.hProcess), thread(info.hThread);
    EXPECT_TRUE(PIPE_NATIVE(isProcessAlive0)(env(), nullptr, static_cast<jint>(info.dwProcessId)));
    ResumeThread(thread.get());
    ASSERT_EQ(WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
    EXPECT_FALSE(PIPE_NATIVE(isProcessAlive0)(env(), nullptr, static_cast<jint>(info.dwProcessId)));
    EXPECT_FALSE(PIPE_NATIVE(isProcessAlive0)(env(), nullptr, 0));
}

}  // namespace
