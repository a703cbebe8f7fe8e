#include "launcher/console.h"

#include <windows.h>

#include <cstdio>

#include "launcher/launcher_state.h"
#include "launcher/win_handles.h"

bool setupConsole() {
    launcherState().consoleInUse = true;
    using AttachConsoleFn = BOOL(WINAPI*)(DWORD);
    auto attach = system_calls::systemFunction<AttachConsoleFn>(L"kernel32.dll", "AttachConsole");
    if (attach) {
        if (attach(ATTACH_PARENT_PROCESS)) return true;
        // Access denied means a console is already attached.
        if (GetLastError() == ERROR_ACCESS_DENIED) return true;
    }
    return AllocConsole() != FALSE;
}

void writeStandardOutput(const std::string& text) {
    if (launcherState().consoleInUse) {
        HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
        if (out != INVALID_HANDLE_VALUE && out != nullptr) {
            DWORD written = 0;
            WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
            FlushFileBuffers(out);
        }
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}
