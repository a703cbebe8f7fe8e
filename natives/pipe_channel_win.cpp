#include "natives/pipe_channel_win.h"

#include <algorithm>

#include "launcher/win_handles.h"
#include "natives/native_bridge.h"

namespace pipe_channel {

namespace {

constexpr DWORD kPipeBufferBytes = 65536;
// One ReadFile or WriteFile moves at most this much; the block loops do the rest.
constexpr std::size_t kMaxTransferBytes = 1u << 30;

DWORD transferSize(std::size_t size) { return static_cast<DWORD>(std::min(size, kMaxTransferBytes)); }

}  // namespace

HANDLE createListener(const wchar_t* name) {
    if (!name) return INVALID_HANDLE_VALUE;
    return CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX,
                            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                            kPipeBufferBytes, kPipeBufferBytes, 0, nullptr);
}

bool connectServer(HANDLE pipe, const RetryPolicy& policy) {
    for (int retry = 0;; ++retry) {
        if (ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) return true;
        const DWORD error = GetLastError();
        if (retry >= policy.connectRetries) {
            printDiagnostic("could not connect named pipe %d\n", static_cast<int>(error));
            return false;
        }
        Sleep(policy.connectPauseMs);
    }
}

// The result of the waits is not looked at: CreateFileW decides.  A name that
// does not exist yet makes WaitNamedPipeW return at once, so the pause between
// attempts is what gives a slow listener its time.
HANDLE openClient(const wchar_t* name, const RetryPolicy& policy) {
    if (!name) return nullptr;
    WaitNamedPipeW(name, policy.firstWaitMs);
    for (int failures = 0;; ++failures) {
        HANDLE pipe = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) return pipe;
        const DWORD error = GetLastError();
        if (failures >= policy.openRetries) {
            printDiagnostic("could not open file %d %S\n", static_cast<int>(error), name);
            return nullptr;
        }
        Sleep(policy.openPauseMs);
        WaitNamedPipeW(name, policy.retryWaitMs);
    }
}

std::optional<std::size_t> HandleStream::read(unsigned char* buffer, std::size_t size) {
    DWORD done = 0;
    if (!ReadFile(handle_, buffer, transferSize(size), &done, nullptr)) return std::nullopt;
    return done;
}

std::optional<std::size_t> HandleStream::write(const unsigned char* data, std::size_t size) {
    DWORD done = 0;
    if (!WriteFile(handle_, data, transferSize(size), &done, nullptr)) return std::nullopt;
    return done;
}

std::optional<std::vector<unsigned char>> readBlock(HANDLE handle) {
    HandleStream stream(handle);
    pipe_blocks::ReadResult result = pipe_blocks::readBlock(stream);
    if (result.status != pipe_blocks::ReadStatus::ok) return std::nullopt;
    return std::move(result.payload);
}

bool writeBlock(HANDLE handle, const unsigned char* data, std::size_t size) {
    HandleStream stream(handle);
    if (!pipe_blocks::writeBlock(stream, data, size)) return false;
    FlushFileBuffers(handle);
    return true;
}

bool isProcessAlive(DWORD processId) {
    UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD exitCode = 0;
    return GetExitCodeProcess(process.get(), &exitCode) && exitCode == STILL_ACTIVE;
}

}  // namespace pipe_channel
