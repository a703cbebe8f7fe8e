#include "natives/account_win.h"

#include "launcher/system_calls.h"

namespace account {

namespace {

// A token's information is a few kilobytes; an answer beyond this is refused
// rather than allocated.
constexpr DWORD kTokenInformationLimit = 1024 * 1024;

}  // namespace

HMODULE advapi() { return system_calls::loadedModule(L"advapi32.dll"); }

std::optional<TokenFunctions> tokenFunctions() {
    HMODULE module = advapi();
    TokenFunctions functions{
        system_calls::function<AllocateAndInitializeSidFn>(module, "AllocateAndInitializeSid"),
        system_calls::function<EqualSidFn>(module, "EqualSid"),
        system_calls::function<GetTokenInformationFn>(module, "GetTokenInformation"),
        system_calls::function<OpenProcessTokenFn>(module, "OpenProcessToken"),
        system_calls::function<OpenThreadTokenFn>(module, "OpenThreadToken"),
    };
    if (!functions.allocateSid || !functions.equalSid || !functions.information || !functions.openProcessToken ||
        !functions.openThreadToken)
        return std::nullopt;
    return functions;
}

UniqueKernelHandle processToken(const TokenFunctions& functions) {
    HANDLE token = nullptr;
    if (!functions.openProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return UniqueKernelHandle();
    return UniqueKernelHandle(token);
}

UniqueKernelHandle queryToken(const TokenFunctions& functions) {
    HANDLE token = nullptr;
    if (functions.openThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) return UniqueKernelHandle(token);
    return processToken(functions);
}

TokenInformation readTokenInformation(const TokenFunctions& functions, HANDLE token, TOKEN_INFORMATION_CLASS kind) {
    TokenInformation information;
    DWORD needed = 0;
    if (!functions.information(token, kind, nullptr, 0, &needed) && GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        information.sizeQueryFailed = true;
        return information;
    }
    if (needed == 0 || needed > kTokenInformationLimit) return information;
    information.storage.resize((needed + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
    information.read = functions.information(token, kind, information.storage.data(), needed, &needed) != FALSE;
    return information;
}

std::optional<std::wstring> sidText(PSID sid) {
    auto convert = system_calls::function<ConvertSidToStringSidWFn>(advapi(), "ConvertSidToStringSidW");
    UniqueLocalMemory<wchar_t> text;
    if (!convert || !convert(sid, text.put()) || !text) return std::nullopt;
    return std::wstring(text.get());
}

std::optional<AccountName> lookUpSid(PSID sid) {
    auto lookUp = system_calls::resolve<LookupAccountSidWFn>("LookupAccountSidW", &LookupAccountSidW);
    std::vector<wchar_t> name(kNameChars), domain(kNameChars);
    DWORD nameChars = kNameChars, domainChars = kNameChars;
    SID_NAME_USE use;
    if (!lookUp(nullptr, sid, name.data(), &nameChars, domain.data(), &domainChars, &use)) return std::nullopt;
    // Both buffers end in a NUL whatever the function wrote.
    name.back() = L'\0';
    domain.back() = L'\0';
    return AccountName{name.data(), domain.data()};
}

std::optional<std::vector<unsigned char>> lookUpName(const wchar_t* name) {
    auto lookUp = system_calls::resolve<LookupAccountNameWFn>("LookupAccountNameW", &LookupAccountNameW);
    std::vector<unsigned char> sid(kSidBytes, 0);
    std::vector<wchar_t> domain(kNameChars);
    DWORD sidBytes = kSidBytes, domainChars = kNameChars;
    SID_NAME_USE use;
    if (!lookUp(nullptr, name, sid.data(), &sidBytes, domain.data(), &domainChars, &use)) return std::nullopt;
    return sid;
}

}  // namespace account
