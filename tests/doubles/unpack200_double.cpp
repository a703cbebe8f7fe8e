// Test double of a runtime's bin\unpack200.exe (named as such).  The real tool
// left the JDK after version 13 and the runtimes fetched here are trimmed
// images without it, so the tests prepare each ".pack" file as a plain copy of
// the jar it stands for, and this double "restores" it by copying.
//
// The launcher starts it with the command line `-r "<pack>" "<jar>"` (no
// program name first).  It appends that command line as one line to the file
// the environment variable UNPACK200_DOUBLE_RECORD names (when set), copies
// <pack> to <jar> and, as "-r" asks, removes <pack>.  Exit code 0, or 2 when
// the command line or the copy fails.
#include <windows.h>

#include <string>
#include <vector>

namespace {

// The words of the command line: runs of non-blanks or double-quoted texts.
std::vector<std::wstring> words(const std::wstring& line) {
    std::vector<std::wstring> found;
    std::size_t at = 0;
    while (at < line.size()) {
        if (line[at] == L' ') {
            ++at;
            continue;
        }
        if (line[at] == L'"') {
            const std::size_t close = line.find(L'"', at + 1);
            found.push_back(line.substr(at + 1, close == std::wstring::npos ? std::wstring::npos : close - at - 1));
            at = close == std::wstring::npos ? line.size() : close + 1;
        } else {
            const std::size_t blank = line.find(L' ', at);
            found.push_back(line.substr(at, blank == std::wstring::npos ? std::wstring::npos : blank - at));
            at = blank == std::wstring::npos ? line.size() : blank;
        }
    }
    return found;
}

void record(const std::wstring& line) {
    wchar_t path[4096];
    const DWORD n = GetEnvironmentVariableW(L"UNPACK200_DOUBLE_RECORD", path, 4096);
    if (n == 0 || n >= 4096) return;
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::wstring text = line + L"\r\n";
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? size : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

int main() {
    const std::wstring line = GetCommandLineW();
    record(line);
    const std::vector<std::wstring> given = words(line);
    if (given.size() != 3 || given[0] != L"-r") return 2;
    if (!CopyFileW(given[1].c_str(), given[2].c_str(), FALSE)) return 2;
    DeleteFileW(given[1].c_str());
    return 0;
}
