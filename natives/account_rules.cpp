#include "natives/account_rules.h"

#include "launcher/format.h"

namespace account {

namespace {

int asSigned(std::uint32_t value) { return static_cast<int>(static_cast<std::int32_t>(value)); }

}  // namespace

std::optional<wstring> serviceAccountName(const wstring& sid) {
    if (sid == W("S-1-5-18")) return wstring(W("NT AUTHORITY\\System"));
    if (sid == W("S-1-5-19")) return wstring(W("NT AUTHORITY\\LocalService"));
    if (sid == W("S-1-5-20")) return wstring(W("NT AUTHORITY\\NetworkService"));
    return std::nullopt;
}

bool isBuiltinSid(const wstring& sid) { return sid.compare(0, 9, W("S-1-5-32-")) == 0; }

wstring accountNameText(const wstring& name, const wstring& domain, bool builtin, bool nameOnly) {
    if (nameOnly) return name;
    if (builtin || domain.empty()) return W(".\\") + name;
    return domain + W("\\") + name;
}

wstring logonDomain(const wstring& domain, bool builtin) { return builtin || domain.empty() ? W(".") : domain; }

wstring errorText(std::uint32_t error) { return formatWide(W(" %d"), asSigned(error)); }

wstring profileFailureText(ProfileFailure step, std::uint32_t error) {
    const int code = asSigned(error);
    switch (step) {
        case ProfileFailure::loadLibrary: return formatWide(W(" could not load library %d"), code);
        case ProfileFailure::functions: return formatWide(W(" could not get functions %d"), code);
        case ProfileFailure::convertSid: return formatWide(W(" could not convert sid %d"), code);
        case ProfileFailure::lookUp: return formatWide(W(" could not look up account name %d"), code);
        case ProfileFailure::logon: return formatWide(W(" could not get token %d"), code);
        case ProfileFailure::profile: return formatWide(W(" could not get user profile dir %d"), code);
    }
    return errorText(error);
}

wstring noUserAccountText() { return W(" no user account"); }

wstring addUserFailureText(AddUserFailure step, std::uint32_t status, std::uint32_t parameterIndex) {
    const int number = static_cast<int>(step);
    switch (step) {
        case AddUserFailure::userSidText: return formatWide(W("%d"), number);
        case AddUserFailure::createUser:
            return formatWide(W("%d %d %d"), number, asSigned(status), asSigned(parameterIndex));
        default: return formatWide(W("%d %d"), number, asSigned(status));
    }
}

wstring addUserSuccessText(const wstring& userSid, const std::optional<wstring>& groupSid, bool groupCreated) {
    if (!groupSid) return userSid;
    return userSid + W(" ") + *groupSid + (groupCreated ? W(" true") : W(" false"));
}

GroupAdded groupAddOutcome(std::uint32_t status, bool failIfGroupExists) {
    if (status == 0) return GroupAdded::created;
    if ((status == kStatusAliasExists || status == kStatusGroupExists) && !failIfGroupExists)
        return GroupAdded::existed;
    return GroupAdded::failed;
}

bool memberAdded(std::uint32_t status) { return status == 0 || status == kStatusMemberInAlias; }

bool countsForMembership(std::uint32_t attributes) {
    return (attributes & (kGroupEnabled | kGroupDenyOnly)) == kGroupEnabled;
}

std::optional<CountedLength> countedLength(std::size_t characters) {
    constexpr std::size_t kMaxBytes = 0xFFFF;
    if (characters > (kMaxBytes - 2) / 2) return std::nullopt;
    const auto length = static_cast<std::uint16_t>(characters * 2);
    return CountedLength{length, static_cast<std::uint16_t>(length + 2)};
}

}  // namespace account
