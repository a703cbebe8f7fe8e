// The Windows side of the communication channel: the named pipe a listener
// creates and waits on, the client's connection with its retries, the blocks
// over a pipe handle (natives/pipe_blocks.h), and whether a process id still
// names a running process.  The natives of Win32CommunicationBackend are thin
// JNI wrappers around these.
#pragma once

#include <windows.h>

#include <optional>
#include <vector>

#include "natives/pipe_blocks.h"

namespace pipe_channel {

// How long the connecting calls keep trying.  The natives use the defaults
// (about five minutes on each side); tests pass shorter ones.
struct RetryPolicy {
    int connectRetries = 600;    // ConnectNamedPipe failures retried (601 calls)
    DWORD connectPauseMs = 500;  // before each retry
    DWORD firstWaitMs = 300000;  // WaitNamedPipeW before the first open
    int openRetries = 200;       // CreateFileW failures retried (201 attempts)
    DWORD openPauseMs = 500;     // before each retry
    DWORD retryWaitMs = 1000;    // WaitNamedPipeW after each pause
};

// A duplex byte-mode pipe with one instance, 65536-byte buffers both ways,
// remote clients refused; INVALID_HANDLE_VALUE when it cannot be created
// (a null or malformed name, or a name that is already in use).
HANDLE createListener(const wchar_t* name);

// Waits for a client on the listener: true once one is connected (also when
// it connected before the call).  Other failures are retried; after the last
// one prints "could not connect named pipe %d\n" and returns false.
bool connectServer(HANDLE pipe, const RetryPolicy& policy = {});

// Opens the named pipe as a client for reading and writing, waiting for it to
// exist and retrying; after the last failed attempt prints "could not open
// file %d %S\n" and returns null (not INVALID_HANDLE_VALUE).
HANDLE openClient(const wchar_t* name, const RetryPolicy& policy = {});

// Synchronous reads and writes on a pipe (or any file) handle.
class HandleStream : public pipe_blocks::ByteStream {
public:
    explicit HandleStream(HANDLE handle) : handle_(handle) {}
    std::optional<std::size_t> read(unsigned char* buffer, std::size_t size) override;
    std::optional<std::size_t> write(const unsigned char* data, std::size_t size) override;

private:
    HANDLE handle_;
};

// One block from the handle; none when the stream ends, fails or announces a
// length that is refused (see pipe_blocks::readBlock).
std::optional<std::vector<unsigned char>> readBlock(HANDLE handle);
// One block to the handle, then FlushFileBuffers, which waits until the
// reader has taken the data; false when a write failed.
bool writeBlock(HANDLE handle, const unsigned char* data, std::size_t size);

// True when the process runs: its exit code is STILL_ACTIVE, or it exists but
// may not be opened (ERROR_ACCESS_DENIED, a process of another user).
bool isProcessAlive(DWORD processId);

}  // namespace pipe_channel
