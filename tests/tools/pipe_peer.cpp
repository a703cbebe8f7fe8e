// pipe_peer: the other end of a named pipe for the end-to-end tests of the
// communication natives.  It speaks the block format (a 32-bit little-endian
// length, then the payload) with its own code, independent of the
// launcher's, and records what it did and received.
//
//   pipe_peer RECORD.txt server NAME ACTION...   creates the pipe NAME and waits for a client
//   pipe_peer RECORD.txt client NAME ACTION...   opens NAME, waiting up to 300 s for it to exist
//   pipe_peer RECORD.txt none ACTION...          no pipe (only sleep makes sense)
//
// ACTIONs, in order:
//   read                 read one block
//   echo                 read one block and write it back
//   write:LEN:SEED       write a block of LEN pattern bytes (see below)
//   raw:HEX              write these bytes as they are (a damaged block)
//   sleep:MS             wait
//   close                close the pipe (a server disconnects first)
//
// The pattern of LEN bytes for SEED: x = SEED, then for each byte
// x = x * 1664525 + 1013904223 (mod 2^32) and the byte is x >> 24.
//
// RECORD.txt, UTF-8, one line per event, each appended as it happens:
//   pid <process id>
//   listening                         (a server, once its pipe exists)
//   connected | connect failed <error>
//   read <len> <crc32> [<hex, for 1 to 64 bytes>] | read failed <error>
//   wrote <len> <crc32> | write failed <error>
//   echoed <len> <crc32> | raw <count> | slept <ms> | closed
//   end
// Exit code 0 when every action worked, 1 when one failed (the rest are
// skipped), 2 for bad usage.

#include <windows.h>

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

class Record {
public:
    explicit Record(std::string path) : path_(std::move(path)) {
        if (std::FILE* f = std::fopen(path_.c_str(), "wb")) std::fclose(f);
    }
    void line(const std::string& text) {
        if (std::FILE* f = std::fopen(path_.c_str(), "ab")) {
            std::fprintf(f, "%s\n", text.c_str());
            std::fclose(f);
        }
    }

private:
    std::string path_;
};

Bytes pattern(std::size_t size, std::uint32_t seed) {
    Bytes bytes(size);
    for (auto& b : bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<unsigned char>(seed >> 24);
    }
    return bytes;
}

std::string describe(const Bytes& bytes) {
    char text[64];
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), bytes.data(), static_cast<uInt>(bytes.size()));
    std::snprintf(text, sizeof text, "%zu %08lx", bytes.size(), static_cast<unsigned long>(crc));
    std::string out = text;
    if (!bytes.empty() && bytes.size() <= 64) {
        out += " ";
        for (unsigned char b : bytes) {
            std::snprintf(text, sizeof text, "%02x", b);
            out += text;
        }
    }
    return out;
}

bool readExactly(HANDLE pipe, unsigned char* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        DWORD n = 0;
        if (!ReadFile(pipe, buffer + done, static_cast<DWORD>(size - done), &n, nullptr)) return false;
        if (n == 0) {
            SetLastError(ERROR_HANDLE_EOF);
            return false;
        }
        done += n;
    }
    return true;
}

bool writeExactly(HANDLE pipe, const unsigned char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        DWORD n = 0;
        if (!WriteFile(pipe, data + done, static_cast<DWORD>(size - done), &n, nullptr)) return false;
        done += n;
    }
    return true;
}

std::optional<Bytes> readBlock(HANDLE pipe) {
    unsigned char header[4];
    if (!readExactly(pipe, header, 4)) return std::nullopt;
    const std::uint32_t length =
        header[0] | header[1] << 8 | header[2] << 16 | static_cast<std::uint32_t>(header[3]) << 24;
    if (length > 256u * 1024 * 1024) {  // more than any test sends
        SetLastError(ERROR_INVALID_DATA);
        return std::nullopt;
    }
    Bytes payload(length);
    if (!readExactly(pipe, payload.data(), payload.size())) return std::nullopt;
    return payload;
}

bool writeBlock(HANDLE pipe, const Bytes& payload) {
    const std::uint32_t n = static_cast<std::uint32_t>(payload.size());
    const unsigned char header[4] = {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                                     static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 24)};
    if (!writeExactly(pipe, header, 4) || !writeExactly(pipe, payload.data(), payload.size())) return false;
    FlushFileBuffers(pipe);
    return true;
}

std::string errorText(DWORD error) { return std::to_string(static_cast<unsigned long>(error)); }

HANDLE connect(const std::string& mode, const std::string& name, Record& record) {
    const std::wstring wide(name.begin(), name.end());
    if (mode == "server") {
        HANDLE pipe = CreateNamedPipeW(wide.c_str(), PIPE_ACCESS_DUPLEX,
                                       PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr);
        if (pipe == INVALID_HANDLE_VALUE) {
            record.line("connect failed " + errorText(GetLastError()));
            return INVALID_HANDLE_VALUE;
        }
        record.line("listening");
        if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
            record.line("connect failed " + errorText(GetLastError()));
            CloseHandle(pipe);
            return INVALID_HANDLE_VALUE;
        }
        record.line("connected");
        return pipe;
    }
    const DWORD start = GetTickCount();
    for (;;) {
        HANDLE pipe = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            record.line("connected");
            return pipe;
        }
        if (GetTickCount() - start > 300000) {
            record.line("connect failed " + errorText(GetLastError()));
            return INVALID_HANDLE_VALUE;
        }
        WaitNamedPipeW(wide.c_str(), 100);
        Sleep(50);
    }
}

bool hexBytes(const std::string& hex, Bytes& out) {
    if (hex.size() % 2) return false;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        char* end = nullptr;
        const std::string digits = hex.substr(i, 2);
        const long value = std::strtol(digits.c_str(), &end, 16);
        if (*end) return false;
        out.push_back(static_cast<unsigned char>(value));
    }
    return true;
}

bool act(const std::string& action, HANDLE& pipe, bool server, Record& record) {
    if (action == "read" || action == "echo") {
        const std::optional<Bytes> block = readBlock(pipe);
        if (!block) {
            record.line("read failed " + errorText(GetLastError()));
            return false;
        }
        if (action == "read") {
            record.line("read " + describe(*block));
            return true;
        }
        if (!writeBlock(pipe, *block)) {
            record.line("write failed " + errorText(GetLastError()));
            return false;
        }
        record.line("echoed " + describe(*block));
        return true;
    }
    if (action.rfind("write:", 0) == 0) {
        const std::size_t colon = action.find(':', 6);
        if (colon == std::string::npos) return false;
        const Bytes block =
            pattern(std::strtoul(action.substr(6, colon - 6).c_str(), nullptr, 10),
                    static_cast<std::uint32_t>(std::strtoul(action.substr(colon + 1).c_str(), nullptr, 10)));
        if (!writeBlock(pipe, block)) {
            record.line("write failed " + errorText(GetLastError()));
            return false;
        }
        record.line("wrote " + describe(block));
        return true;
    }
    if (action.rfind("raw:", 0) == 0) {
        Bytes bytes;
        if (!hexBytes(action.substr(4), bytes)) return false;
        if (!writeExactly(pipe, bytes.data(), bytes.size())) {
            record.line("write failed " + errorText(GetLastError()));
            return false;
        }
        FlushFileBuffers(pipe);
        record.line("raw " + std::to_string(bytes.size()));
        return true;
    }
    if (action.rfind("sleep:", 0) == 0) {
        const unsigned long ms = std::strtoul(action.substr(6).c_str(), nullptr, 10);
        Sleep(ms);
        record.line("slept " + std::to_string(ms));
        return true;
    }
    if (action == "close") {
        if (pipe != INVALID_HANDLE_VALUE) {
            if (server) DisconnectNamedPipe(pipe);
            CloseHandle(pipe);
            pipe = INVALID_HANDLE_VALUE;
        }
        record.line("closed");
        return true;
    }
    record.line("unknown action " + action);
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: pipe_peer RECORD (server NAME | client NAME | none) ACTION...\n");
        return 2;
    }
    Record record(argv[1]);
    record.line("pid " + std::to_string(static_cast<unsigned long>(GetCurrentProcessId())));
    const std::string mode = argv[2];
    int next = 3;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    if (mode == "server" || mode == "client") {
        if (argc < 4) return 2;
        pipe = connect(mode, argv[3], record);
        if (pipe == INVALID_HANDLE_VALUE) return 1;
        next = 4;
    } else if (mode != "none") {
        return 2;
    }
    int code = 0;
    for (int i = next; i < argc; ++i) {
        if (!act(argv[i], pipe, mode == "server", record)) {
            code = 1;
            break;
        }
    }
    if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
    record.line("end");
    return code;
}
