#include "natives/process_calls_win.h"

#include "launcher/privilege.h"

ProcessCalls& processCalls() {
    static ProcessCalls calls;
    return calls;
}

bool switchPrivilege(const wchar_t* name, bool enable) {
    const ProcessCalls& calls = processCalls();
    return calls.setPrivilege ? calls.setPrivilege(name, enable) : setPrivilege(name, enable);
}

UniqueModule loadSystemLibrary(const char* name) {
    HMODULE module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Windows without the search flags refuses it as an invalid parameter.
    if (!module && GetLastError() == ERROR_INVALID_PARAMETER) module = LoadLibraryA(name);
    return UniqueModule(module);
}
