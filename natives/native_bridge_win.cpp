#include "natives/native_bridge.h"

#include <cstdarg>
#include <cstdio>

void printDiagnostic(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

bool loadShellFunctions(ShellFunctions& functions) {
    static ShellFunctions known;
    static bool companionsLoaded = false;
    if (!known.changeNotify || !known.shellExecute) {
        if (!companionsLoaded) {
            companionsLoaded = true;
            LoadLibraryW(L"davhlpr.dll");
            LoadLibraryW(L"fwbase.dll");
        }
        HMODULE shell = LoadLibraryW(L"shell32.dll");
        known.changeNotify = libraryFunction<ShChangeNotifyFn>(shell, "SHChangeNotify");
        known.shellExecute = libraryFunction<ShellExecuteWFn>(shell, "ShellExecuteW");
    }
    functions = known;
    return known.changeNotify && known.shellExecute;
}
