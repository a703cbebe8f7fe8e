// file_probe: reads what the folder, file version and ACL natives changed or
// compared, with the Windows APIs directly, for the end-to-end tests.
// Output is UTF-8 on standard output; exit 0 on success, 1 when the API
// failed (with "error <code>"), 2 for a bad command line.
//
//   file_probe version FILE
//       "file a.b.c.d product e.f.g.h": the fixed file and product versions.
//   file_probe acl PATH [registry]
//       One line per entry of the DACL of a file or directory (or, with
//       "registry", of a key named like "CURRENT_USER\Software\x"):
//       "ace <type> <flags> <mask> <sid>", type, flags and mask in hex.
//   file_probe longname PATH
//       The long form of the path (GetLongPathNameW).

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

void print(const std::wstring& line) {
    const std::wstring text = line + L"\n";
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), bytes, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

int failed(DWORD code) {
    print(L"error " + std::to_wstring(code));
    return 1;
}

std::wstring hex(DWORD value) {
    wchar_t text[16];
    swprintf(text, 16, L"%lx", static_cast<unsigned long>(value));
    return text;
}

std::wstring quad(DWORD most, DWORD least) {
    return std::to_wstring(HIWORD(most)) + L"." + std::to_wstring(LOWORD(most)) + L"." +
           std::to_wstring(HIWORD(least)) + L"." + std::to_wstring(LOWORD(least));
}

int version(const wchar_t* file) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file, &ignored);
    if (size == 0) return failed(GetLastError());
    std::vector<unsigned char> data(size);
    if (!GetFileVersionInfoW(file, 0, size, data.data())) return failed(GetLastError());
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || length < sizeof *info)
        return failed(ERROR_RESOURCE_TYPE_NOT_FOUND);
    print(L"file " + quad(info->dwFileVersionMS, info->dwFileVersionLS) + L" product " +
          quad(info->dwProductVersionMS, info->dwProductVersionLS));
    return 0;
}

int acl(const wchar_t* path, bool registry) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD status =
        GetNamedSecurityInfoW(path, registry ? SE_REGISTRY_KEY : SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &descriptor);
    if (status != ERROR_SUCCESS) return failed(status);
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry)) continue;
        const auto* header = static_cast<ACE_HEADER*>(entry);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_DENIED_ACE_TYPE) {
            print(L"ace " + hex(header->AceType) + L" " + hex(header->AceFlags) + L" - -");
            continue;
        }
        const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        wchar_t* sid = nullptr;
        std::wstring sidText = L"?";
        if (ConvertSidToStringSidW(const_cast<DWORD*>(&allowed->SidStart), &sid)) {
            sidText = sid;
            LocalFree(sid);
        }
        print(L"ace " + hex(header->AceType) + L" " + hex(header->AceFlags) + L" " + hex(allowed->Mask) + L" " +
              sidText);
    }
    LocalFree(descriptor);
    return 0;
}

int longName(const wchar_t* path) {
    std::vector<wchar_t> buffer(32768);
    const DWORD length = GetLongPathNameW(path, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) return failed(GetLastError());
    print(std::wstring(buffer.data(), length));
    return 0;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 3) return 2;
    const std::wstring command = argv[1];
    if (command == L"version") return version(argv[2]);
    if (command == L"acl") return acl(argv[2], argc > 3 && std::wstring(argv[3]) == L"registry");
    if (command == L"longname") return longName(argv[2]);
    return 2;
}
