// file_holder: holds a file or a directory open without sharing for a while,
// so that another program's attempt to delete it meets a real sharing
// violation (the deletion helper's retries and its deletion at reboot).
//
//   file_holder PATH MILLISECONDS [READY]
//
// PATH is opened with no sharing at all: an existing directory as such, else
// a file (created when missing). Once it is held, the empty file READY is
// created, so a test knows when to go on. After MILLISECONDS the handle is
// closed and the program exits 0. Exit 2: PATH could not be opened; 252:
// usage.

#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

// Closes the handle when the holder ends, on every path.
class Held {
public:
    explicit Held(HANDLE h) : h_(h) {}
    ~Held() {
        if (valid()) CloseHandle(h_);
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    bool valid() const { return h_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE h_;
};

HANDLE openWithoutSharing(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: file_holder PATH MILLISECONDS [READY]\n");
        return 252;
    }
    const std::wstring path = argv[1];
    wchar_t* end = nullptr;
    const unsigned long milliseconds = std::wcstoul(argv[2], &end, 10);
    const std::wstring ready = argc == 4 ? argv[3] : L"";
    LocalFree(argv);
    if (end == nullptr || *end != L'\0') return 252;

    Held held(openWithoutSharing(path));
    if (!held.valid()) {
        std::fprintf(stderr, "file_holder: cannot open the path (error %lu)\n",
                     static_cast<unsigned long>(GetLastError()));
        return 2;
    }
    if (!ready.empty()) {
        HANDLE signal =
            CreateFileW(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (signal != INVALID_HANDLE_VALUE) CloseHandle(signal);
    }
    Sleep(static_cast<DWORD>(milliseconds));
    return 0;
}
