#include "natives/picker_scope.h"

namespace picker {

namespace {

// Scope types.
constexpr std::uint32_t kTargetComputer = 0x00000001;
// Target computer, up-level and down-level joined domain, enterprise domain,
// external up-level and down-level domains, user-entered up-level and
// down-level scopes.
constexpr std::uint32_t kAllButCatalogAndWorkgroups = 0x0000036F;
// Scope flags: users and groups shown by default.
constexpr std::uint32_t kDefaultFilterUsersAndGroups = 0x000000C0;
// Up-level filters: built-in, universal, global and domain-local groups
// (distribution and security), users, well-known principals.
constexpr std::uint32_t kUplevelGroups = 0x000003F4;
constexpr std::uint32_t kUplevelUsers = 0x00000002;
constexpr std::uint32_t kUplevelWellKnownPrincipals = 0x00000008;
// Down-level filters: local and global groups, users, every well-known SID,
// or only System, Local Service and Network Service.
constexpr std::uint32_t kDownlevelGroups = 0x80000006;
constexpr std::uint32_t kDownlevelUsers = 0x80000001;
constexpr std::uint32_t kDownlevelAllWellKnownSids = 0x80020000;
constexpr std::uint32_t kDownlevelServiceAccounts = 0x800C4000;
// Picker options.
constexpr std::uint32_t kMultiSelect = 0x00000001;

}  // namespace

Scope scopeFor(const Choices& choices) {
    Scope scope;
    scope.types = choices.localComputerOnly ? kTargetComputer : kAllButCatalogAndWorkgroups;
    scope.flags = kDefaultFilterUsersAndGroups;
    if (choices.groups) {
        scope.uplevelBothModes |= kUplevelGroups;
        scope.downlevel |= kDownlevelGroups;
    }
    if (choices.users) {
        scope.uplevelBothModes |= kUplevelUsers;
        scope.downlevel |= kDownlevelUsers;
    }
    if (choices.wellKnownPrincipals) {
        scope.uplevelBothModes |= kUplevelWellKnownPrincipals;
        scope.downlevel |= choices.groups ? kDownlevelAllWellKnownSids : kDownlevelServiceAccounts;
    }
    scope.pickerOptions = choices.multiSelect ? kMultiSelect : 0;
    return scope;
}

}  // namespace picker
