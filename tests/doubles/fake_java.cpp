// Test double of a runtime's java.exe.  It reads "java.cfg" beside itself and
// behaves as that file says, so a test chooses what "java -version" prints by
// writing a file, without rebuilding:
//
//   line=openjdk version "11.0.2" 2019-01-15   one line for standard error
//                                              (repeatable, printed in order)
//   exit=0                                     the exit code
//   delay_ms=0                                 a pause before printing
//   count=C:\path\runs.txt                     appends one line per run: the
//                                              command line and _JAVA_OPTIONS
//
// Without java.cfg it prints "fake java: no java.cfg" and exits with 2.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Behaviour {
    std::vector<std::string> lines;
    int exitCode = 0;
    unsigned long delayMs = 0;
    std::string countFile;
};

std::string ownDirectory() {
    char path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) return {};
    std::string text(path, n);
    const std::size_t slash = text.find_last_of('\\');
    return slash == std::string::npos ? std::string() : text.substr(0, slash + 1);
}

bool readFile(const std::string& path, std::string& content) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
    CloseHandle(file);
    return true;
}

Behaviour parse(const std::string& content) {
    Behaviour b;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        std::string line = content.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        start = end + 1;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "line")
            b.lines.push_back(value);
        else if (key == "exit")
            b.exitCode = std::atoi(value.c_str());
        else if (key == "delay_ms")
            b.delayMs = std::strtoul(value.c_str(), nullptr, 10);
        else if (key == "count")
            b.countFile = value;
    }
    return b;
}

void write(HANDLE out, const std::string& text) {
    DWORD written = 0;
    if (out && out != INVALID_HANDLE_VALUE)
        WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void countRun(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    char options[4096];
    const DWORD n = GetEnvironmentVariableA("_JAVA_OPTIONS", options, sizeof options);
    const std::string seen = n == 0 ? "(unset)" : (n < sizeof options ? std::string(options, n) : "(long)");
    write(file, std::string(GetCommandLineA()) + " | _JAVA_OPTIONS=" + seen + "\r\n");
    CloseHandle(file);
}

}  // namespace

int main() {
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    std::string content;
    if (!readFile(ownDirectory() + "java.cfg", content)) {
        write(err, "fake java: no java.cfg\r\n");
        return 2;
    }
    const Behaviour b = parse(content);
    if (!b.countFile.empty()) countRun(b.countFile);
    if (b.delayMs) Sleep(b.delayMs);
    for (const std::string& line : b.lines) write(err, line + "\r\n");
    return b.exitCode;
}
