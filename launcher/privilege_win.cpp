#include "launcher/privilege.h"

#include "launcher/system_calls.h"
#include "launcher/win_handles.h"

bool setPrivilege(const wchar_t* name, bool enable) {
    UniqueKernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return false;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    if (!LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) return false;
    // AdjustTokenPrivileges succeeds even when the account lacks the
    // privilege; only the last error (ERROR_NOT_ALL_ASSIGNED) tells.
    system_calls::AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
    return GetLastError() == ERROR_SUCCESS;
}
