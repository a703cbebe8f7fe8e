// wine_probe: a small graphical-subsystem program that checks the end-to-end
// harness itself (dialog watcher, exit codes, console capture, temporary
// directory) without the launcher.
//
//   wine_probe exit N
//       ends with exit code N.
//   wine_probe sleep MS
//       waits MS milliseconds without showing a window; exit 0.
//   wine_probe msgbox STYLE CAPTION TEXT [STYLE CAPTION TEXT ...]
//       shows one message box per triple, in order (STYLE: ok, okcancel,
//       yesno). Exit code of the last box: 3 for OK, 4 for Cancel, 6 for Yes,
//       7 for No, 9 when MessageBoxW failed (returned 0).
//   wine_probe console [attach] TEXT
//       writes TEXT the way the launcher reports errors in console mode: when
//       standard output is not a character device, "TEXT\n" to standard error
//       as 8-bit text (exit 10); otherwise with WriteConsoleW to standard
//       output (exit 11, or 12 when WriteConsoleW failed). With "attach" it
//       first sets up a console like the launcher's "-c": attach to the
//       parent's console, else allocate one (exit code + 20 when both failed).
//   wine_probe uilanguage
//       prints GetUserDefaultUILanguage() as "0x%04x" on standard error; exit 0.
//   wine_probe tempfile NAME TEXT
//       writes TEXT (UTF-8 with byte-order mark) to NAME in GetTempPathW's
//       directory and prints the full path on standard error; exit 0.

#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int runMessageBoxes(int argc, wchar_t** argv) {
    if (argc < 5 || (argc - 2) % 3 != 0) return 2;
    int result = 9;
    for (int i = 2; i + 2 < argc; i += 3) {
        std::wstring style = argv[i];
        UINT flags = MB_OK | MB_ICONERROR;
        if (style == L"okcancel") flags = MB_OKCANCEL | MB_ICONWARNING;
        if (style == L"yesno") flags = MB_YESNO | MB_ICONQUESTION;
        switch (MessageBoxW(nullptr, argv[i + 2], argv[i + 1], flags)) {
            case IDOK: result = 3; break;
            case IDCANCEL: result = 4; break;
            case IDYES: result = 6; break;
            case IDNO: result = 7; break;
            default: result = 9; break;
        }
    }
    return result;
}

int writeConsoleText(int argc, wchar_t** argv) {
    int index = 2;
    int penalty = 0;
    if (argc > 3 && std::wstring(argv[2]) == L"attach") {
        index = 3;
        if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED && !AllocConsole()) {
            penalty = 20;
        }
    }
    if (index >= argc) return 2;
    std::wstring text = argv[index];
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE || GetFileType(out) != FILE_TYPE_CHAR) {
        std::fprintf(stderr, "%ls\n", text.c_str());
        std::fflush(stderr);
        return 10 + penalty;
    }
    DWORD written = 0;
    bool ok = WriteConsoleW(out, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr) != 0;
    return (ok ? 11 : 12) + penalty;
}

int writeTempFile(int argc, wchar_t** argv) {
    if (argc != 4) return 2;
    wchar_t directory[MAX_PATH + 1] = {};
    if (GetTempPathW(MAX_PATH + 1, directory) == 0) return 1;
    std::wstring path = std::wstring(directory) + argv[2];
    FILE* file = _wfopen(path.c_str(), L"w,ccs=UTF-8");
    if (file == nullptr) return 1;
    std::fwprintf(file, L"%ls\n", argv[3]);
    std::fclose(file);
    std::fprintf(stderr, "%ls\n", path.c_str());
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 2) return 2;
    std::wstring mode = argv[1];
    int code = 2;
    if (mode == L"exit" && argc == 3) {
        code = std::wcstol(argv[2], nullptr, 10);
    } else if (mode == L"sleep" && argc == 3) {
        Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
        code = 0;
    } else if (mode == L"msgbox") {
        code = runMessageBoxes(argc, argv);
    } else if (mode == L"console") {
        code = writeConsoleText(argc, argv);
    } else if (mode == L"uilanguage") {
        std::fprintf(stderr, "0x%04x\n", static_cast<unsigned>(GetUserDefaultUILanguage()));
        code = 0;
    } else if (mode == L"tempfile") {
        code = writeTempFile(argc, argv);
    }
    LocalFree(argv);
    return code;
}
