#include "launcher/temp_dir.h"

#include <windows.h>

#include "launcher/log.h"
#include "launcher/win_handles.h"

wstring getTempDirectoryWide() {
    wchar_t buffer[kTextLimit];
    DWORD n = GetTempPathW(kTextLimit, buffer);
    if (n == 0 || n >= kTextLimit) return {};
    return wstring(buffer, n);
}

void emptyDirectory(const std::string& directory, bool recurse) {
    if (directory.empty() || directory[0] == '.') return;
    logMessage(L"emptying %S", directory.c_str());
    std::string prefix = directory;
    if (prefix.back() != '\\') prefix += '\\';
    WIN32_FIND_DATAA entry;
    UniqueFind find(FindFirstFileA((prefix + "*.*").c_str(), &entry));
    if (!find) return;
    do {
        const std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = prefix + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            logMessage(L"attempting to remove %S (%d)", path.c_str(), recurse ? 1 : 0);
            if (recurse) emptyDirectory(path, false);
            RemoveDirectoryA(path.c_str());
        } else {
            logMessage(L"attempting to delete %S", path.c_str());
            DeleteFileA(path.c_str());
        }
    } while (FindNextFileA(find.get(), &entry));
}
