// account_probe: prints what Windows says of the account it runs as, through
// other calls than the user-account natives make, for the end-to-end tests to
// compare with what the natives told the Java side.
//
//   account_probe RID...
//
// One line per built-in group RID given, then the elevation type:
//
//   member <rid> <0|1>      CheckTokenMembership with the built-in group's SID
//   elevation <n>           TokenElevationType of the process token (0 unreadable)
//
// Exit code 0, or 1 when a group's membership could not be checked.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    int exitCode = 0;
    for (int i = 1; i < argc; ++i) {
        const DWORD rid = static_cast<DWORD>(std::strtoul(argv[i], nullptr, 10));
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        PSID group = nullptr;
        BOOL member = FALSE;
        if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, rid, 0, 0, 0, 0, 0, 0, &group) ||
            !CheckTokenMembership(nullptr, group, &member)) {
            exitCode = 1;
        } else {
            std::printf("member %lu %d\n", static_cast<unsigned long>(rid), member ? 1 : 0);
        }
        if (group) FreeSid(group);
    }
    HANDLE token = nullptr;
    TOKEN_ELEVATION_TYPE type{};
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) ||
        !GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size))
        type = TOKEN_ELEVATION_TYPE{};
    if (token) CloseHandle(token);
    std::printf("elevation %d\n", static_cast<int>(type));
    return exitCode;
}
