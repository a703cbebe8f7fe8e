// Captures what the process writes to standard output (file descriptor 1)
// while it lives, for tests of the natives' diagnostic lines.
#pragma once

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

class StdoutCapture {
public:
    StdoutCapture() {
        wchar_t directory[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, directory);
        path_ = std::wstring(directory) + L"tovrix-stdout-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
        std::fflush(stdout);
        saved_ = _dup(1);
        const int file = _wopen(path_.c_str(), _O_CREAT | _O_TRUNC | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
        _dup2(file, 1);
        _close(file);
    }
    ~StdoutCapture() { finish(); }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Ends the capture (once) and returns everything written meanwhile.
    std::string finish() {
        if (saved_ >= 0) {
            std::fflush(stdout);
            _dup2(saved_, 1);
            _close(saved_);
            saved_ = -1;
            if (std::FILE* in = _wfopen(path_.c_str(), L"rb")) {
                char buffer[4096];
                std::size_t n = 0;
                while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) text_.append(buffer, n);
                std::fclose(in);
            }
            DeleteFileW(path_.c_str());
        }
        return text_;
    }

private:
    std::wstring path_;
    std::string text_;
    int saved_ = -1;
};
